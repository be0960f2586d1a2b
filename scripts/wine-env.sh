#!/usr/bin/env bash
# Starts or stops the environment in which the Windows tests of one build
# tree run: an Xvfb display and one persistent wineserver for the tree's own
# Wine prefix. Used as the ctest fixture of the `wine` and `e2e` labels.
#
#   wine-env.sh start PREFIX DISPLAY_NUMBER
#   wine-env.sh stop  PREFIX DISPLAY_NUMBER
set -u
action=$1 prefix=$2 display=$3
export WINEPREFIX=$prefix WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=d"
export DISPLAY=:$display
WINE=/usr/lib/wine/wine64
pidfile=$prefix.xvfb.pid

case $action in
start)
  mkdir -p "$prefix"
  # A display counts as running only while the server named in its lock file
  # lives: a server that was killed leaves its socket and lock behind.
  lock_pid=$(tr -dc '0-9' <"/tmp/.X$display-lock" 2>/dev/null)
  if ! [ -e "/tmp/.X11-unix/X$display" ] || [ -z "$lock_pid" ] || ! kill -0 "$lock_pid" 2>/dev/null; then
    rm -f "/tmp/.X$display-lock" "/tmp/.X11-unix/X$display"
    Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    echo $! >"$pidfile"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
  fi
  wineserver -p </dev/null >/dev/null 2>&1
  "$WINE" wineboot </dev/null >/dev/null 2>&1
  # Keep the Wine user's shell folders (Desktop, Documents, ...) inside the
  # prefix: Wine links them to $HOME, and tests make shortcuts on the desktop.
  for link in "$prefix"/drive_c/users/*/*; do
    if [ -L "$link" ]; then rm -f "$link" && mkdir -p "$link"; fi
  done
  # Let Wine draw window frames itself: there is no window manager under Xvfb.
  "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f \
    </dev/null >/dev/null 2>&1
  exit 0
  ;;
stop)
  wineserver -k </dev/null >/dev/null 2>&1
  if [ -f "$pidfile" ]; then
    kill "$(cat "$pidfile")" 2>/dev/null
    rm -f "$pidfile"
  fi
  exit 0
  ;;
*)
  echo "usage: $0 start|stop PREFIX DISPLAY_NUMBER" >&2
  exit 2
  ;;
esac
