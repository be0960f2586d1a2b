#!/usr/bin/env bash
# `pakwiz try` as a user runs it, on packages built here:
#   try-test.sh CASE BUILD_DIR HOST_BIN
#   hello     examples/hello passes; the JSON and the HTML report show what it did
#   leftover  a registry value the uninstaller does not know about fails the run
#   damaged   a damaged package fails the run with the wizard's message
#   choices   --language and --folder: the walk picks a language and types a folder
#   quiet     --quiet: /Q for both, no pages; a refused folder fails with the exit code
# Exit 77 (skipped) when the builder, the stub, the uninstaller or the driver
# has not been built.
set -u
case_name=$1 build=$2 host_bin=$3
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
work=$build/try-work/$case_name
pakwiz=$host_bin/pakwiz
stub=$build/bin/pakwiz-stub.exe
uninstaller=$build/bin/pakwiz-uninstall.exe
for tool in "$pakwiz" "$stub" "$uninstaller" "$build/bin/pakwiz-e2e-driver.exe"; do
  if [ ! -e "$tool" ]; then
    echo "try: $tool is missing; skipped"
    exit 77
  fi
done
rm -rf "$work"
mkdir -p "$work"
# pakwiz try makes its own prefix and, without a display, its own X server.
unset DISPLAY WINEPREFIX

failed=0
check() { # check DESCRIPTION COMMAND...
  if "${@:2}"; then echo "ok: $1"; else echo "FAILED: $1"; failed=1; fi
}

build() { # build PROJECT OUTPUT
  if ! "$pakwiz" build "$1" -o "$2" --stub "$stub" --uninstaller "$uninstaller" \
    >"$work/build.log" 2>&1; then
    cat "$work/build.log"
    exit 1
  fi
}

run_try() { # run_try SETUP ARGS...: the report in $work/report.txt, its status in $status
  local setup=$1
  shift
  local started=$SECONDS
  "$pakwiz" try "$setup" --json "$work/report.json" --html "$work/report.html" "$@" \
    >"$work/report.txt" 2>"$work/try.err"
  status=$?
  elapsed=$((SECONDS - started))
  cat "$work/try.err" "$work/report.txt"
  last_line=$(tail -n 1 "$work/report.txt")
}

json() { # json PYTHON-EXPRESSION over the report r: exit 0 when it is true
  python3 - "$work/report.json" "$1" <<'EOF'
import json, sys
r = json.load(open(sys.argv[1], encoding="utf-8"))
ok = eval("(" + sys.argv[2] + ")")
if not ok:
    print("  the JSON report does not satisfy:", sys.argv[2])
sys.exit(0 if ok else 1)
EOF
}

case $case_name in
hello)
  build "$source_dir/examples/hello/hello.toml" "$work/hello-setup.exe"
  run_try "$work/hello-setup.exe"
  echo "try: pakwiz try on examples/hello took $elapsed s"
  check "exit code 0" [ "$status" -eq 0 ]
  check "the last line says PASS" grep -q '^PASS: ' <<<"$last_line"
  check "the walk reached the finish page" json 'r["install"]["finish"] and r["install"]["exit_code"] == 0'
  check "the pages in order" json 'r["install"]["pages"][0] == "Welcome" and r["install"]["pages"][-1] == "Setup Finished"'
  check "files equal the package's" json '{f["path"]: f["package"] for f in r["files"] if f["package"]} == {
      "C:\\Program Files\\Hello\\hello.bmp": "equal", "C:\\Program Files\\Hello\\readme.txt": "patched",
      "C:\\Program Files\\Hello\\Uninstall.exe": "equal"}'
  check "the INI entry" json '{"file": "C:\\Program Files\\Hello\\hello.ini", "section": "Hello", "key": "Folder",
      "value": "C:\\Program Files\\Hello", "before": None} in r["ini"]'
  check "the registry values" json '[(v["name"], v["value"]) for v in r["registry_values"]
      if v["key"] == "HKCU\\Software\\Pakwiz Examples\\Hello"] == [("Folder", "C:\\Program Files\\Hello"),
      ("Installed", __import__("time").strftime("%Y%m%d", __import__("time").gmtime()))]'
  check "the shortcuts and their targets" json 'sorted((s["path"].split("\\")[-1], s["target"]) for s in r["shortcuts"]) == [
      ("Hello Picture.lnk", "C:\\Program Files\\Hello\\hello.bmp"),
      ("Hello Readme.lnk", "C:\\Program Files\\Hello\\readme.txt"),
      ("Hello Readme.lnk", "C:\\Program Files\\Hello\\readme.txt"),
      ("Uninstall Hello.lnk", "C:\\Program Files\\Hello\\Uninstall.exe")]'
  check "the Add/Remove Programs entry" json 'r["uninstall_entry"]["DisplayName"] == "Hello" and
      r["uninstall_entry"]["UninstallString"] == "\"C:\\Program Files\\Hello\\Uninstall.exe\""'
  check "no restart" json 'r["restart"] is False'
  check "the uninstaller asked and ended" json 'len(r["uninstall"]["messages"]) == 2 and r["uninstall"]["exit_code"] == 0'
  check "nothing left over" json 'r["leftovers"] == []'
  # The HTML page: the verdict first, then one PNG screenshot for each page
  # and message in order, then the tables.
  check "the HTML report" python3 - "$work/report.html" "$work/report.json" <<'EOF'
import base64, json, re, struct, sys
from html.parser import HTMLParser
html = open(sys.argv[1], encoding="utf-8").read()
r = json.load(open(sys.argv[2], encoding="utf-8"))
class Page(HTMLParser):
    def __init__(self):
        super().__init__()
        self.order, self.images, self.captions, self.tables, self.cap = [], [], [], [], None
    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag == "h1": self.order.append(("h1", a.get("class")))
        if tag == "div" and a.get("id") == "screenshots": self.order.append(("shots", None))
        if tag == "table": self.tables.append(a.get("id")); self.order.append(("table", a.get("id")))
        if tag == "img": self.images.append(a["src"])
        if tag == "figcaption": self.cap = ""
    def handle_data(self, data):
        if self.cap is not None: self.cap += data
    def handle_endtag(self, tag):
        if tag == "figcaption": self.captions.append(self.cap); self.cap = None
p = Page(); p.feed(html)
problems = []
if p.order[0] != ("h1", "pass"): problems.append("the verdict is not first: %r" % p.order[:2])
if p.order.index(("shots", None)) > p.order.index(("table", "files")):
    problems.append("the screenshots come after the tables")
for t in ["files", "registry", "ini", "shortcuts", "uninstall-entry", "leftovers"]:
    if t not in p.tables: problems.append("no table " + t)
wanted = [("install", page) for page in r["install"]["pages"]] + \
         [("uninstall", "message: " + m.split('" -> ')[0][1:]) for m in r["uninstall"]["messages"]]
got = [tuple(re.sub(r"^\d+\. ", "", c).split(": ", 1)) for c in p.captions]
got = [(g[0], g[1]) for g in got if not g[1].startswith("message: ") or g[0] == "uninstall"]
if got != wanted: problems.append("captions %r, expected %r" % (got, wanted))
for src in p.images:
    png = base64.b64decode(src.split(",", 1)[1])
    w, h = struct.unpack(">II", png[16:24])
    # Cropped to the wizard or the message box: not larger than the screen.
    if png[:8] != b"\x89PNG\r\n\x1a\n" or not (100 <= w <= 1024 and 60 <= h <= 768):
        problems.append("a screenshot is not a PNG of the wizard: %dx%d" % (w, h))
if len(p.images) != len(p.captions): problems.append("images and captions differ in number")
for m in problems: print("  " + m)
sys.exit(1 if problems else 0)
EOF
  if command -v chromium >/dev/null; then
    chromium --headless --no-sandbox --disable-gpu --window-size=1200,3000 \
      --screenshot="$work/report.png" "file://$work/report.html" >"$work/chromium.log" 2>&1
    # The browser's picture of the page: the green verdict bar near the top,
    # and the wizard's screenshots (coloured, where the page itself is black
    # on white) below it.
    check "Chromium draws the verdict bar on top" grep -qi '#2A7D2A' \
      <(convert "$work/report.png" -crop 1x200+40+0 txt:-)
    saturation=$(convert "$work/report.png" -crop 1200x2000+0+300 -colorspace HSL -channel G \
      -separate +channel -format '%[fx:mean]' info:)
    echo "try: mean saturation below the verdict: $saturation"
    check "Chromium draws the screenshots below it" python3 -c "import sys; sys.exit(0 if float('$saturation') > 0.02 else 1)"
  fi
  ;;
choices)
  # The walk picks the second language and types another folder: the German
  # block's files land there and are compared with that block's files.
  build "$source_dir/examples/hello/hello.toml" "$work/hello-setup.exe"
  run_try "$work/hello-setup.exe" --language 1 --folder 'C:\Anderer Ordner'
  check "exit code 0" [ "$status" -eq 0 ]
  check "the German files in the typed folder" json '{f["path"]: f["package"] for f in r["files"] if f["package"]} == {
      "C:\\Anderer Ordner\\hello.bmp": "equal", "C:\\Anderer Ordner\\liesmich.txt": "patched",
      "C:\\Anderer Ordner\\Uninstall.exe": "equal"}'
  check "nothing left over" json 'r["leftovers"] == []'
  ;;
quiet)
  # Unattended: the German block into another folder, no window; the report
  # is the walk's, without pages, and the exit codes decide.
  build "$source_dir/examples/hello/hello.toml" "$work/hello-setup.exe"
  run_try "$work/hello-setup.exe" --quiet --language 1 --folder 'C:\Anderer Ordner'
  echo "try: pakwiz try --quiet on examples/hello took $elapsed s"
  check "exit code 0" [ "$status" -eq 0 ]
  check "the last line says PASS" grep -q '^PASS: the unattended setup ended with exit code 0' <<<"$last_line"
  check "no pages, no messages, no screenshots; both ended with 0" json 'r["quiet"] and
      r["install"]["pages"] == [] and r["install"]["messages"] == [] and r["screenshots"] == [] and
      r["install"]["exit_code"] == 0 and r["install"]["exit_meaning"] == "done" and
      r["uninstall"]["exit_code"] == 0 and r["uninstall"]["messages"] == []'
  check "the German files in the folder given" json '{f["path"]: f["package"] for f in r["files"] if f["package"]} == {
      "C:\\Anderer Ordner\\hello.bmp": "equal", "C:\\Anderer Ordner\\liesmich.txt": "patched",
      "C:\\Anderer Ordner\\Uninstall.exe": "equal"}'
  check "nothing left over" json 'r["leftovers"] == []'
  # A folder the setup refuses: its exit code, with its meaning, is the verdict.
  run_try "$work/hello-setup.exe" --quiet --folder 'C:\Bad<Folder'
  check "a refused folder: exit code 1" [ "$status" -eq 1 ]
  check "the last line gives the setup's exit code" grep -q \
    '^FAIL: the setup ended with exit code 8 (the install folder is not usable)$' <<<"$last_line"
  ;;
leftover)
  build "$here/projects/try-leftover.toml" "$work/leftover-setup.exe"
  run_try "$work/leftover-setup.exe"
  check "exit code 1" [ "$status" -eq 1 ]
  check "the last line names the leftover" grep -q '^FAIL: .*leftover.*Tab\\x09here' <<<"$last_line"
  check "the JSON lists it" json '{"kind": "registry value", "what": "HKCU\\Software\\Pakwiz Try\\Tab\there Forgotten"} in r["leftovers"]'
  # The value the uninstaller knows about went; its key's parent stays,
  # since the forgotten key lies below it.
  check "only what the uninstaller does not know about" json 'sorted(l["what"] for l in r["leftovers"]) == [
      "HKCU\\Software\\Pakwiz Try", "HKCU\\Software\\Pakwiz Try\\Tab\there",
      "HKCU\\Software\\Pakwiz Try\\Tab\there Forgotten"]'
  check "files were equal" json 'all(f["package"] != "different" for f in r["files"]) and r["install"]["finish"]'
  run_try "$work/leftover-setup.exe" --allow-leftovers
  check "--allow-leftovers passes" [ "$status" -eq 0 ]
  ;;
damaged)
  build "$here/projects/windowed.toml" "$work/setup.exe"
  cp "$work/setup.exe" "$work/damaged.exe"
  printf '\0' >>"$work/damaged.exe"
  run_try "$work/damaged.exe"
  check "exit code 1" [ "$status" -eq 1 ]
  check "the last line says why" grep -Eq '^FAIL: the wizard did not reach its finish page \(exit code -?[1-9][0-9]*\); its last message: "The setup package is damaged."' <<<"$last_line"
  check "the JSON holds the message" json 'r["install"]["messages"] == ["\"The setup package is damaged.\" -> ok"] and not r["install"]["finish"]'
  check "the message box was photographed" json 'r["screenshots"] == [{"phase": "install", "caption": "message: The setup package is damaged."}]'
  ;;
*)
  echo "unknown case $case_name" >&2
  exit 2
  ;;
esac
exit $failed
