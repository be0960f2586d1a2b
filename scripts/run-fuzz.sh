#!/usr/bin/env bash
# Runs every libFuzzer target found in BUILD_DIR/bin (fuzz_*) for SECONDS
# each. New inputs are kept in BUILD_DIR/fuzz-corpus/<target>/ (so later runs
# start from them), seeds come from tests/fuzz/seeds/<target>/ when present,
# crashing inputs land in BUILD_DIR/fuzz-artifacts/<target>/. Fails when any
# target finds a crash, a leak, a timeout or a failed check.
#
#   scripts/run-fuzz.sh BUILD_DIR SECONDS
set -euo pipefail

build=${1:?usage: run-fuzz.sh BUILD_DIR SECONDS}
seconds=${2:-30}
root=$(cd "$(dirname "$0")/.." && pwd)

shopt -s nullglob
targets=("$build"/bin/fuzz_*)
if [ ${#targets[@]} -eq 0 ]; then
  echo "run-fuzz: no fuzz targets in $build/bin" >&2
  exit 1
fi

failed=()
for target in "${targets[@]}"; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus="$build/fuzz-corpus/$name"
  artifacts="$build/fuzz-artifacts/$name"
  log="$build/fuzz-logs/$name.log"
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
  dirs=("$corpus")
  [ -d "$root/tests/fuzz/seeds/$name" ] && dirs+=("$root/tests/fuzz/seeds/$name")
  echo "run-fuzz: $name for ${seconds}s"
  if "$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2560 -print_final_stats=1 \
      -artifact_prefix="$artifacts/" "${dirs[@]}" >"$log" 2>&1; then
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 || true)
    echo "run-fuzz: $name ok (${runs:-?} runs, ${cov:-cov: ?}, corpus $(ls "$corpus" | wc -l) files)"
  else
    echo "run-fuzz: $name FAILED; log $log, inputs in $artifacts" >&2
    tail -n 40 "$log" >&2
    failed+=("$name")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "run-fuzz: failed: ${failed[*]}" >&2
  exit 1
fi
echo "run-fuzz: all ${#targets[@]} targets passed"
