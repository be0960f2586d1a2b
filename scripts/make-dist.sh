#!/usr/bin/env bash
# make dist: the packages of the builder, in build/packages/:
#   pakwiz_VERSION_ARCH.deb                 a Debian package (/usr/bin/pakwiz, /usr/share/pakwiz/...)
#   pakwiz-VERSION-linux-x86_64.tar.gz      the same tree (bin/, share/) to unpack anywhere
#   pakwiz-VERSION-windows-x86_64.zip       pakwiz.exe with the same files
# from the dist tree (pakwiz without the source tree's fallbacks), the win32
# tree (release stub and uninstaller) and the win64 tree (x86_64 programs,
# the driver of `pakwiz try`, pakwiz.exe). cmake/Install.cmake holds the layout.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/build/packages
version=$(sed -n 's/^project(pakwiz VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
arch=$(dpkg --print-architecture)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
rm -rf "$out"
mkdir -p "$out"

# The Debian package.
cmake --install "$root/build/dist" --prefix "$stage/deb/usr" --strip >/dev/null
mkdir -p "$stage/deb/DEBIAN"
# Its dependencies: the Debian packages of the libraries pakwiz links.
# (A library's path as the loader found it, or as the package installed it:
# /lib is /usr/lib.)
owner() { dpkg -S "$1" 2>/dev/null || dpkg -S "$(realpath "$1")" 2>/dev/null ||
  dpkg -S "/usr$1" 2>/dev/null || dpkg -S "${1#/usr}"; }
depends=$(for lib in $(ldd "$stage/deb/usr/bin/pakwiz" | awk '$3 ~ /^\// {print $3}'); do
  owner "$lib" | cut -d: -f1 | head -n 1
done | sort -u | paste -sd, | sed 's/,/, /g')
cat >"$stage/deb/DEBIAN/control" <<CONTROL
Package: pakwiz
Version: $version
Architecture: $arch
Maintainer: Pakwiz developers <pakwiz@localhost>
Depends: $depends
Recommends: wine, wine64, xvfb
Section: devel
Priority: optional
Installed-Size: $(du -sk "$stage/deb/usr" | cut -f1)
Description: builder of script-driven setup wizards for Windows
 pakwiz turns a project file into a self-extracting setup executable for
 Windows, lists, verifies and extracts such packages, and tries one under
 Wine (pakwiz try) with a report of what installing and uninstalling did.
CONTROL
dpkg-deb --root-owner-group -Zxz --build "$stage/deb" "$out/pakwiz_${version}_${arch}.deb" >/dev/null

# The tarball.
linux=pakwiz-$version-linux-x86_64
cmake --install "$root/build/dist" --prefix "$stage/$linux" --strip >/dev/null
tar -C "$stage" --owner=0 --group=0 -czf "$out/$linux.tar.gz" "$linux"

# The Windows zip.
windows=pakwiz-$version-windows-x86_64
cmake --install "$root/build/win64" --prefix "$stage/$windows" --strip >/dev/null
(cd "$stage" && cmake -E tar cf "$out/$windows.zip" --format=zip "$windows")

ls -l "$out"
