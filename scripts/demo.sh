#!/usr/bin/env bash
# The demo: builds the sample installer examples/hello with the x86_64 setup
# program and tries it with `pakwiz try`: a fresh Wine prefix on a private
# Xvfb display, the wizard walked like a user (Next on every page, Yes to
# questions, Enter on the last page), then removed again as Add/Remove
# Programs would (the uninstaller named by its UninstallString, confirmed).
# It prints the report: the pages, the files installed (each compared with
# the package's), the registry values and INI entries written, the
# shortcuts, the Add/Remove Programs entry and what uninstalling left
# (nothing); the HTML report with the screenshots of every page is
# build/win64/demo/report.html, and report.png a browser's picture of it.
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
uninstaller=$win64/bin/pakwiz-uninstall.exe
driver=$win64/bin/pakwiz-e2e-driver.exe
out=$win64/demo

for f in "$builder" "$stub" "$uninstaller" "$driver"; do
  [ -f "$f" ] || { echo "demo: $f is missing (run make demo, which builds it)" >&2; exit 1; }
done
rm -rf "$out"
mkdir -p "$out"
echo "demo: building hello.toml with the x86_64 setup program"
"$builder" build "$root/examples/hello/hello.toml" -o "$out/hello-setup.exe" --stub "$stub" \
  --uninstaller "$uninstaller"

echo "demo: pakwiz try $out/hello-setup.exe --html $out/report.html"
status=0
(unset DISPLAY WINEPREFIX
  "$builder" try "$out/hello-setup.exe" --driver "$driver" --html "$out/report.html" \
    --json "$out/report.json") || status=$?
if command -v chromium >/dev/null && [ -s "$out/report.html" ]; then
  chromium --headless --no-sandbox --disable-gpu --window-size=1200,2400 \
    --screenshot="$out/report.png" "file://$out/report.html" >"$out/chromium.log" 2>&1 || true
fi
echo
echo "demo: the HTML report with the screenshots of every page: $out/report.html"
[ -s "$out/report.png" ] && echo "demo: a browser's picture of it: $out/report.png"
exit $status
