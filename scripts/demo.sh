#!/usr/bin/env bash
# The demo: builds the sample installer examples/hello with the x86_64 setup
# program, starts it under Wine on a fresh Xvfb display in a fresh Wine prefix
# (build/win64/demo/wineprefix), walks its wizard like a user (Next on every
# page, Yes to questions, Enter on the last page), then prints the pages it
# saw, the files it installed, the registry values it wrote, the readme's line
# that the file patch completed and the INI file; then removes the
# installation again as Add/Remove Programs would (the uninstaller named by
# its UninstallString, confirmed) and prints what is left of it (nothing),
# and where the screenshots are.
#
# Uses the trees that `make demo` builds: build/native (the pakwiz builder)
# and build/win64 (the setup program and the e2e driver).
# PAKWIZ_NATIVE_TREE and PAKWIZ_WIN64_TREE point elsewhere.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
native=${PAKWIZ_NATIVE_TREE:-$root/build/native}
win64=${PAKWIZ_WIN64_TREE:-$root/build/win64}
builder=$native/bin/pakwiz
stub=$win64/bin/pakwiz-stub.exe
driver=$win64/bin/pakwiz-e2e-driver.exe
out=$win64/demo
prefix=$out/wineprefix
shots=$out/screenshots
WINE=/usr/lib/wine/wine64

for f in "$builder" "$stub" "$win64/bin/pakwiz-uninstall.exe" "$driver"; do
  [ -f "$f" ] || { echo "demo: $f is missing (run make demo, which builds it)" >&2; exit 1; }
done
project=$(ls "$root"/examples/hello/*.toml 2>/dev/null | head -n 1 || true)
[ -n "$project" ] || { echo "demo: no project file in examples/hello" >&2; exit 1; }

rm -rf "$out"
mkdir -p "$out" "$shots"
echo "demo: building $(basename "$project") with the x86_64 setup program"
"$builder" build "$project" -o "$out/hello-setup.exe" --stub "$stub" \
  --uninstaller "$win64/bin/pakwiz-uninstall.exe"

# A display of our own, and the win64 tree's prefix with a server of its own.
display=
for n in $(seq 150 199); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=$n; break; fi
done
[ -n "$display" ] || { echo "demo: no free X display number" >&2; exit 1; }
export WINEPREFIX=$prefix WINEDEBUG=-all DISPLAY=:$display
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=d"
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
xvfb=$!
cleanup() {
  wineserver -k </dev/null >/dev/null 2>&1 || true
  kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
mkdir -p "$prefix"
wineserver -p </dev/null >/dev/null 2>&1
"$WINE" wineboot </dev/null >/dev/null 2>&1
# The Wine user's shell folders stay inside the prefix (Wine links them to
# $HOME): the installer puts a shortcut on the desktop.
for link in "$prefix"/drive_c/users/*/*; do
  if [ -L "$link" ]; then rm -f "$link" && mkdir -p "$link"; fi
done
"$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f \
  </dev/null >/dev/null 2>&1

# The registry as Wine keeps it on disk (the server writes it out when it
# stops), one "key value" line per value, to compare before and after.
registry_values() {
  wineserver -k </dev/null >/dev/null 2>&1 || true
  python3 - "$prefix" <<'PY'
import sys
for hive in ("system.reg", "user.reg"):
    key = None
    for line in open(f"{sys.argv[1]}/{hive}", encoding="utf-8", errors="replace"):
        line = line.rstrip("\n")
        if line.startswith("["):
            key = line.split("]")[0][1:]
        elif key and (line.startswith('"') or line.startswith("@=")):
            print(f"{hive[:-4]}\\{key}  {line}")
PY
  wineserver -p </dev/null >/dev/null 2>&1
}
registry_values | sort >"$out/registry-before.txt"
find "$prefix/drive_c" -type f | sort >"$out/files-before.txt"

cat >"$out/walk.steps" <<'STEPS'
# Walk the wizard from its first page to its end.
start
walk 20
expect-exit 0
STEPS

winpath() { echo "Z:${1//\//\\}"; }
echo "demo: walking the wizard on display :$display"
status=0
"$WINE" "$driver" --setup "$(winpath "$out/hello-setup.exe")" --work "$(winpath "$out")" \
  --shots "$(winpath "$shots")" "$(winpath "$out/walk.steps")" </dev/null | tee "$out/walk.log" \
  || status=$?

for bmp in "$shots"/*.bmp; do
  [ -e "$bmp" ] || continue
  convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
registry_values | sort >"$out/registry-after.txt"
find "$prefix/drive_c" -type f | sort >"$out/files-after.txt"

echo
echo "Pages seen:"
grep -o 'walk: page [0-9]*: .*' "$out/walk.log" | sed 's/^walk: /  /' || true
echo
echo "Files installed (under $prefix/drive_c):"
comm -13 "$out/files-before.txt" "$out/files-after.txt" |
  grep -v -i -E '/drive_c/windows/|/temp/|\.reg$' |
  while read -r f; do printf '  %8d  %s\n' "$(stat -c %s "$f")" "${f#"$prefix/drive_c/"}"; done
echo
echo "Registry values written:"
comm -13 "$out/registry-before.txt" "$out/registry-after.txt" |
  grep -v -i -E 'Wine|Control\\\\Class\\\\|\\Explorer\\|MountMgr|\\Volatile|Session Manager\\Environment' |
  sed 's/^/  /' || echo "  (none)"
echo
echo "The readme's last line, with the install folder patched in behind it:"
tail -n 1 "$prefix/drive_c/Program Files/Hello/readme.txt" | sed 's/^/  /' || true
echo
echo "hello.ini, written by the INI entry:"
sed 's/\r$//; s/^/  /' "$prefix/drive_c/Program Files/Hello/hello.ini" || true
echo
cat >"$out/uninstall.steps" <<'STEPS'
# Remove the installation as Add/Remove Programs does, and confirm.
start-registered "HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Hello" UninstallString
answer-message yes
answer-message ok
expect-exit 0
wait-gone "C:\Program Files\Hello"
STEPS
echo
echo "demo: uninstalling"
"$WINE" "$driver" --setup "$(winpath "$out/hello-setup.exe")" --work "$(winpath "$out")" \
  --shots "$(winpath "$shots")" "$(winpath "$out/uninstall.steps")" </dev/null |
  tee "$out/uninstall.log" || status=$?
for bmp in "$shots"/*.bmp; do
  [ -e "$bmp" ] || continue
  convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
registry_values | sort >"$out/registry-uninstalled.txt"
find "$prefix/drive_c" -type f | sort >"$out/files-uninstalled.txt"
echo
echo "Left after uninstalling (files and registry values that were not there before):"
{
  comm -13 "$out/files-before.txt" "$out/files-uninstalled.txt" |
    grep -v -i -E '/drive_c/windows/|/temp/|\.reg$' | sed "s|^$prefix/drive_c/|  file |"
  comm -13 "$out/registry-before.txt" "$out/registry-uninstalled.txt" |
    grep -v -i -E 'Wine|Control\\\\Class\\\\|\\Explorer\\|MountMgr|\\Volatile|Session Manager\\Environment|SharedDLLs' |
    sed 's/^/  /'
} | grep . || echo "  (nothing)"
echo
echo "Screenshots ($shots):"
ls "$shots" | sed 's/^/  /'
exit $status
