#!/usr/bin/env bash
# Installs the Debian packages that building and testing Pakwiz needs.
# Idempotent: packages already present are left alone; `apt-get update`
# runs at most once per call, and only when something is missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build git
  mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  wine wine64 xvfb x11-apps imagemagick
  googletest libgtest-dev
  libdeflate-dev libtomlplusplus-dev zlib1g-dev libz-mingw-w64-dev
  osslsigncode openssl
  clang libclang-rt-dev clang-format
  python3 time
  chromium
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "bootstrap: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "bootstrap: done"
