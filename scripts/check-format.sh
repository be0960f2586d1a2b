#!/usr/bin/env bash
# Fails when a tracked C or C++ file differs from what clang-format 14 makes
# of it with the repository's .clang-format. It changes nothing: run
# `clang-format -i FILE` to format a file it names.
#
#   scripts/check-format.sh [CLANG_FORMAT]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
tool=${1:-}
if [ -z "$tool" ]; then
  tool=$(command -v clang-format-14 || command -v clang-format || true)
fi
if [ -z "$tool" ] || ! "$tool" --version >/dev/null 2>&1; then
  echo "check-format: clang-format 14 is not installed (scripts/bootstrap.sh installs it)" >&2
  exit 1
fi
version=$("$tool" --version)
if [[ "$version" != *"version 14."* ]]; then
  echo "check-format: the tree is formatted with clang-format 14, found: $version" >&2
  exit 1
fi

cd "$root"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -d '' files < <(git ls-files -z -- '*.c' '*.cpp' '*.h')
else
  mapfile -d '' files < <(find . -path ./build -prune -o -type f \
    \( -name '*.c' -o -name '*.cpp' -o -name '*.h' \) -print0)
fi
if [ ${#files[@]} -eq 0 ]; then
  echo "check-format: no source files found under $root" >&2
  exit 1
fi
"$tool" --dry-run -Werror --style=file "${files[@]}"
echo "check-format: ${#files[@]} files formatted"
