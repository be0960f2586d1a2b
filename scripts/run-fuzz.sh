#!/usr/bin/env bash
# Runs every libFuzzer target found in BUILD_DIR/bin (fuzz_*) for SECONDS
# each, or, with RUNS, until it has made RUNS executions (SECONDS then caps
# each target's time; 0 = no cap). New inputs are kept in
# BUILD_DIR/fuzz-corpus/<target>/ (so later runs start from them), seeds come
# from tests/fuzz/seeds/<target>/ when present, crashing inputs land in
# BUILD_DIR/fuzz-artifacts/<target>/. Prints each target's executions,
# executions per second and coverage. Fails when any target finds a crash, a
# leak, a timeout or a failed check. FUZZ_TARGETS="fuzz_a fuzz_b" limits the
# run to those targets.
#
#   scripts/run-fuzz.sh BUILD_DIR SECONDS [RUNS]
set -euo pipefail

build=${1:?usage: run-fuzz.sh BUILD_DIR SECONDS [RUNS]}
seconds=${2:-30}
runs_wanted=${3:-}
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
  if [ -n "${FUZZ_TARGETS:-}" ] && [[ " $FUZZ_TARGETS " != *" $name "* ]]; then continue; fi
  corpus="$build/fuzz-corpus/$name"
  artifacts="$build/fuzz-artifacts/$name"
  log="$build/fuzz-logs/$name.log"
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
  dirs=("$corpus")
  [ -d "$root/tests/fuzz/seeds/$name" ] && dirs+=("$root/tests/fuzz/seeds/$name")
  limits=(-max_total_time="$seconds")
  if [ -n "$runs_wanted" ]; then
    limits=(-runs="$runs_wanted")
    [ "$seconds" -gt 0 ] && limits+=(-max_total_time="$seconds")
    echo "run-fuzz: $name for $runs_wanted executions$([ "$seconds" -gt 0 ] && echo " (at most ${seconds}s)")"
  else
    echo "run-fuzz: $name for ${seconds}s"
  fi
  began=$(date +%s.%N)
  if "$target" "${limits[@]}" -timeout=20 -rss_limit_mb=2560 -print_final_stats=1 \
      -artifact_prefix="$artifacts/" "${dirs[@]}" >"$log" 2>&1; then
    ended=$(date +%s.%N)
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 || true)
    rate=$(awk -v r="${runs:-0}" -v a="$began" -v b="$ended" 'BEGIN { printf "%.0f", r / (b - a) }')
    echo "run-fuzz: $name ok (${runs:-?} runs in $(awk -v a="$began" -v b="$ended" 'BEGIN { printf "%.0f", b - a }')s, $rate/s, ${cov:-cov: ?}, corpus $(ls "$corpus" | wc -l) files)"
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
