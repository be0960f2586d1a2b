#!/usr/bin/env bash
# The packages of make dist, as a user installs them:
#   dist-test.sh PACKAGES_DIR WORK_DIR
# - the Debian package unpacked into a scratch root (dpkg -x) builds
#   examples/hello with the stub and uninstaller it carries, found relative
#   to its pakwiz (the dist build has no fallback into the source tree), and
#   `pakwiz try --quiet` of that copy finds its driver the same way;
# - the tarball, unpacked and then moved elsewhere, builds the same package;
# - the Windows zip holds pakwiz.exe and the same files.
set -u
packages=$(cd "$1" && pwd)
mkdir -p "$2"
work=$(cd "$2" && pwd)
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
rm -rf "$work"/*
failed=0
check() { # check DESCRIPTION COMMAND...
  if "${@:2}"; then echo "ok: $1"; else echo "FAILED: $1"; failed=1; fi
}
deb=$(ls "$packages"/pakwiz_*.deb)
tarball=$(ls "$packages"/pakwiz-*-linux-*.tar.gz)
zip=$(ls "$packages"/pakwiz-*-windows-*.zip)

# The Debian package in a scratch root.
dpkg -x "$deb" "$work/root"
check "the Debian package's control file names pakwiz and its libraries" \
  bash -c "dpkg-deb -f '$deb' Package Depends | grep -q '^Package: pakwiz' &&
           dpkg-deb -f '$deb' Depends | grep -q libdeflate"
pakwiz=$work/root/usr/bin/pakwiz
# Started from another folder, with a relative project path, as a user would.
(cd "$source_dir/examples/hello" &&
  "$pakwiz" build hello.toml -o "$work/hello-deb.exe" >"$work/build-deb.log" 2>&1)
check "the installed pakwiz builds examples/hello with its own stub" [ -s "$work/hello-deb.exe" ]
cat "$work/build-deb.log"
# The default stub is the release one (i686); the build makes it its own
# (resources, checksum), so its machine type shows which one was taken.
check "the setup is made of the installed i686 release stub" python3 -c '
import struct, sys
b = open(sys.argv[1], "rb").read()
pe = struct.unpack_from("<I", b, 0x3C)[0]
sys.exit(0 if b[pe:pe + 4] == b"PE\0\0" and struct.unpack_from("<H", b, pe + 4)[0] == 0x14C else 1)
' "$work/hello-deb.exe"
check "pakwiz verify accepts it" "$pakwiz" verify "$work/hello-deb.exe"

check "the installed documents' links to local files resolve" python3 - "$work/root/usr/share/doc/pakwiz" <<'PY'
import os, re, sys
bad = []
for folder, _, files in os.walk(sys.argv[1]):
    for name in files:
        if not name.endswith(".md"):
            continue
        text = open(os.path.join(folder, name), encoding="utf-8").read()
        for target in re.findall(r"\]\(([^)\s]+)\)", text):
            if re.match(r"[a-z]+:|#", target):
                continue
            if not os.path.exists(os.path.join(folder, target.split("#")[0])):
                bad.append(f"{os.path.relpath(os.path.join(folder, name), sys.argv[1])}: {target}")
for b in bad:
    print("  missing:", b)
sys.exit(1 if bad else 0)
PY

# The tarball, unpacked in one place and used from another.
mkdir -p "$work/unpacked" "$work/elsewhere"
tar -C "$work/unpacked" -xzf "$tarball"
mv "$work/unpacked"/pakwiz-* "$work/elsewhere/moved"
"$work/elsewhere/moved/bin/pakwiz" build "$source_dir/examples/hello/hello.toml" \
  -o "$work/hello-tar.exe" >"$work/build-tar.log" 2>&1
check "the unpacked and moved pakwiz builds examples/hello" [ -s "$work/hello-tar.exe" ]
check "the tarball holds what the Debian package holds" diff \
  <(cd "$work/root/usr" && find . -type f | sort) <(cd "$work/elsewhere/moved" && find . -type f | sort)

# The Windows zip: pakwiz.exe (a Windows program) and the same share/ files.
check "the zip holds pakwiz.exe and the same files" python3 - "$zip" "$work/root/usr" <<'PY'
import os, sys, zipfile
names = {n.split("/", 1)[1] for n in zipfile.ZipFile(sys.argv[1]).namelist() if not n.endswith("/")}
tree = {os.path.relpath(os.path.join(d, f), sys.argv[2]) for d, _, fs in os.walk(sys.argv[2]) for f in fs}
want = (tree - {"bin/pakwiz"}) | {"bin/pakwiz.exe"}
if names != want:
    print("  only in the zip:", sorted(names - want), "missing:", sorted(want - names))
head = zipfile.ZipFile(sys.argv[1]).read([n for n in zipfile.ZipFile(sys.argv[1]).namelist() if n.endswith("bin/pakwiz.exe")][0])[:2]
sys.exit(0 if names == want and head == b"MZ" else 1)
PY

# `pakwiz try` of the installed copy finds its driver beside its stubs; the
# x86_64 programs run under a Wine without its 32-bit part.
if command -v wineserver >/dev/null && command -v Xvfb >/dev/null; then
  share=$work/root/usr/share/pakwiz
  "$pakwiz" build "$source_dir/examples/hello/hello.toml" -o "$work/hello-x64.exe" \
    --stub "$share/pakwiz-stub-x86_64.exe" --uninstaller "$share/pakwiz-uninstall-x86_64.exe" \
    >>"$work/build-deb.log" 2>&1
  (unset DISPLAY WINEPREFIX
    "$pakwiz" try "$work/hello-x64.exe" --quiet --json "$work/try.json" >"$work/try.txt" 2>&1)
  status=$?
  cat "$work/try.txt"
  check "pakwiz try --quiet of the installed copy passes" [ "$status" -eq 0 ]
else
  echo "dist: Wine or Xvfb is missing; pakwiz try of the installed copy not run"
fi
exit $failed
