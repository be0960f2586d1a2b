#!/usr/bin/env bash
# Runs every benchmark and ends with one "name: value" line per figure.
#
#   scripts/run-bench.sh [RELEASE_BUILD_DIR] [WIN32_BUILD_DIR]
#
# A benchmark is an executable RELEASE_BUILD_DIR/bin/bench_<name> (see
# bench/CMakeLists.txt). It is run with the corpus folder as its argument and
# PAKWIZ_RELEASE_DIR / PAKWIZ_WIN32_DIR in its environment; it prints its
# figures as "name: value" lines on stdout and anything else on stderr. The
# corpus is the reference corpus of bench/make-corpus.sh, in $PAKWIZ_CORPUS
# (default /tmp/corpus), built when missing. Benchmarks never fail on
# timing; a benchmark that crashes or reports wrong output fails the run
# (after the others have run).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
release=${1:-build/release}
win32=${2:-build/win32}
corpus=${PAKWIZ_CORPUS:-/tmp/corpus}

if [ ! -d "$corpus" ] || [ -z "$(ls -A "$corpus" 2>/dev/null)" ]; then
  echo "run-bench: building the reference corpus in $corpus" >&2
  "$root/bench/make-corpus.sh" "$corpus" >&2
fi

figures=$(mktemp)
trap 'rm -f "$figures"' EXIT
failed=()
shopt -s nullglob
for bench in "$release"/bin/bench_*; do
  [ -x "$bench" ] || continue
  name=$(basename "$bench")
  echo "run-bench: $name" >&2
  out=$(mktemp)
  if PAKWIZ_RELEASE_DIR="$release" PAKWIZ_WIN32_DIR="$win32" "$bench" "$corpus" >"$out"; then
    grep -E '^[A-Za-z0-9_]+: ' "$out" >>"$figures" || true
  else
    failed+=("$name")
  fi
  sed 's/^/  /' "$out" >&2
  rm -f "$out"
done

stub="$win32/bin/pakwiz-stub.exe"
if [ -f "$stub" ]; then
  echo "stub_bytes: $(stat -c %s "$stub")" >>"$figures"
else
  echo "run-bench: no $stub (build the win32 preset first)" >&2
fi

echo "---- figures" >&2
cat "$figures"
if [ ${#failed[@]} -gt 0 ]; then
  echo "run-bench: failed: ${failed[*]}" >&2
  exit 1
fi
