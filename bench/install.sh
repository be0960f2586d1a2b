#!/usr/bin/env bash
# Install benchmark: the wizard under Wine, driven by the e2e driver, installs
# 2,000 small files (600 bytes each) and 100 MB in 5 files, and the small
# files once more unattended (/Q); in the same run Wine's xcopy copies the
# same files into the same prefix (the floor a Windows program can reach
# here). The ratios to xcopy are the figures that count. Uses the x86_64 test
# build (Wine runs 64-bit programs only).
#
#   bench_install CORPUS        (run by scripts/run-bench.sh; the corpus is not used)
set -euo pipefail
release=${PAKWIZ_RELEASE_DIR:-build/release}
root=$(cd "$(dirname "$(readlink -f "$0")")/../../.." 2>/dev/null && pwd)
[ -f "$root/scripts/wine-env.sh" ] || root=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
win64=${PAKWIZ_WIN64_DIR:-$root/build/win64}
pakwiz=$release/bin/pakwiz
stub=$win64/bin/pakwiz-stub.exe
driver=$win64/bin/pakwiz-e2e-driver.exe
for tool in "$pakwiz" "$stub" "$driver"; do
  if [ ! -f "$tool" ]; then
    echo "bench_install: $tool is missing (build the release and win64 presets)" >&2
    exit 1
  fi
done

work=$(mktemp -d /tmp/pakwiz-bench-install.XXXXXX)
prefix=$work/prefix
display=${PAKWIZ_BENCH_DISPLAY:-93}
cleanup() {
  "$root/scripts/wine-env.sh" stop "$prefix" "$display" || true
  rm -rf "$work"
}
trap cleanup EXIT
winpath() { echo "Z:${1//\//\\}"; }

echo "bench_install: making the files and the setup programs" >&2
mkdir -p "$work/small" "$work/large"
head -c $((2000 * 600)) /dev/urandom | split -a 4 -d -b 600 --additional-suffix=.bin - "$work/small/f"
for i in 1 2 3 4 5; do head -c 20971520 /dev/urandom >"$work/large/l$i.bin"; done
for kind in small large; do
  {
    printf 'product = "Bench"\n\n[[languages]]\nlanguage = "en"\nfolder = "C:\\\\Bench\\\\%s"\nfiles = [\n' "$kind"
    for f in "$work/$kind"/*; do printf '  { source = "%s" },\n' "$f"; done
    echo "]"
  } >"$work/$kind.toml"
  "$pakwiz" build "$work/$kind.toml" -o "$work/$kind-setup.exe" --stub "$stub" >&2
done

echo "bench_install: starting Wine in $prefix" >&2
"$root/scripts/wine-env.sh" start "$prefix" "$display"
export WINEPREFIX=$prefix WINEDEBUG=-all DISPLAY=:$display
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=d"

# One scenario per kind: the wizard from the Next of the ready page until the
# last file is in place, then xcopy of the same files; for the small files
# also an unattended run (/Q) into the emptied folder, from its start to its
# end.
for kind in small large; do
  last=$(basename "$(ls "$work/$kind" | tail -1)")
  quiet=""
  if [ "$kind" = small ]; then
    quiet="remove-folder C:\\Bench\\$kind
stopwatch
run /Q
report-seconds install_quiet_$kind
expect-run-exit 0
expect-file C:\\Bench\\$kind\\$last"
  fi
  cat >"$work/$kind.steps" <<STEPS
remove-folder C:\\Bench\\$kind
remove-folder C:\\BenchCopy\\$kind
make-folder C:\\Bench\\$kind
timeout 600
start
expect-page welcome
click next
expect-page destination
click next
expect-page ready
stopwatch
click next
wait-file C:\\Bench\\$kind\\$last
report-seconds install_$kind
walk
stopwatch
run-command xcopy $(winpath "$work/$kind") C:\\BenchCopy\\$kind\\ /E /I /Q /Y
report-seconds xcopy_$kind
$quiet
STEPS
  mkdir -p "$work/shots-$kind"
  /usr/lib/wine/wine64 "$driver" --setup "$(winpath "$work/$kind-setup.exe")" \
    --work "$(winpath "$work")" --shots "$(winpath "$work/shots-$kind")" \
    "$(winpath "$work/$kind.steps")" </dev/null >"$work/$kind.out" || status=$?
  sed 's/^/  /' "$work/$kind.out" >&2
  if [ "${status:-0}" != 0 ]; then
    echo "bench_install: the $kind scenario failed" >&2
    exit 1
  fi
done

# The driver's lines end in CR LF (a Windows program's output).
figure() { awk -v n="$1" -F': ' '{ sub(/\r$/, "") } $1 == n { print $2 }' "$work/$2.out"; }
small=$(figure install_small small) small_copy=$(figure xcopy_small small)
large=$(figure install_large large) large_copy=$(figure xcopy_large large)
small_quiet=$(figure install_quiet_small small)
echo "install_2000_small_s: $small"
echo "install_2000_small_quiet_s: $small_quiet"
echo "xcopy_2000_small_s: $small_copy"
echo "install_2000_small_vs_xcopy: $(python3 -c "print(f'{$small / $small_copy:.2f}')")"
echo "install_2000_small_quiet_vs_xcopy: $(python3 -c "print(f'{$small_quiet / $small_copy:.2f}')")"
echo "install_100mb_s: $large"
echo "xcopy_100mb_s: $large_copy"
echo "install_100mb_vs_xcopy: $(python3 -c "print(f'{$large / $large_copy:.2f}')")"
