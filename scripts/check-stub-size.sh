#!/usr/bin/env bash
# Fails when the release setup program, as built (before the builder adds a
# project's resources and package), is larger than its limit.
#
#   scripts/check-stub-size.sh [STUB] [LIMIT_BYTES]
set -euo pipefail
stub=${1:-build/win32/bin/pakwiz-stub.exe}
limit=${2:-65536}
if [ ! -f "$stub" ]; then
  echo "stub size: $stub is missing (build the win32 preset)" >&2
  exit 1
fi
size=$(stat -c %s "$stub")
if [ "$size" -gt "$limit" ]; then
  echo "stub size: $stub is $size bytes, over the limit of $limit" >&2
  exit 1
fi
echo "stub size: $size bytes (limit $limit)"
