#!/usr/bin/env bash
# Runs every libFuzzer target found in BUILD_DIR/bin (fuzz_*) for SECONDS
# each, or, with RUNS, until it has made RUNS executions (SECONDS then caps
# each target's time; 0 = no cap). New inputs are kept in
# BUILD_DIR/fuzz-corpus/<target>/ (so later runs start from them), seeds come
# from tests/fuzz/seeds/<target>/ when present, crashing inputs land in
# BUILD_DIR/fuzz-artifacts/<target>/. Prints each target's executions,
# executions per second and coverage. Fails when any target finds a crash, a
# leak, a timeout or a failed check. FUZZ_TARGETS="fuzz_a fuzz_b" limits the
# run to those targets. FUZZ_WORKERS=N (with RUNS) runs each target as N
# processes at once on the same corpus, each making RUNS/N executions
# (libFuzzer's -jobs; their logs in BUILD_DIR/fuzz-logs/<target>.jobs/), and
# adds their figures up.
#
#   scripts/run-fuzz.sh BUILD_DIR SECONDS [RUNS]
set -euo pipefail

build=${1:?usage: run-fuzz.sh BUILD_DIR SECONDS [RUNS]}
seconds=${2:-30}
runs_wanted=${3:-}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$build" && pwd)
workers=${FUZZ_WORKERS:-1}
case $workers in '' | *[!0-9]* | 0) echo "run-fuzz: FUZZ_WORKERS must be a number from 1" >&2; exit 2 ;; esac
[ -n "$runs_wanted" ] || workers=1

shopt -s nullglob
targets=("$build"/bin/fuzz_*)
if [ ${#targets[@]} -eq 0 ]; then
  echo "run-fuzz: no fuzz targets in $build/bin" >&2
  exit 1
fi

failed=()
ran=0
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
    per_worker=$(((runs_wanted + workers - 1) / workers))
    limits=(-runs="$per_worker")
    [ "$seconds" -gt 0 ] && limits+=(-max_total_time="$seconds")
    echo "run-fuzz: $name for $runs_wanted executions$([ "$workers" -gt 1 ] && echo " in $workers processes")$([ "$seconds" -gt 0 ] && echo " (at most ${seconds}s each)")"
  else
    echo "run-fuzz: $name for ${seconds}s"
  fi
  logs=("$log")
  run_dir=.
  if [ "$workers" -gt 1 ]; then
    # Each job writes fuzz-<n>.log into the folder it is started from.
    run_dir="$build/fuzz-logs/$name.jobs"
    rm -rf "$run_dir"
    mkdir -p "$run_dir"
    limits+=(-jobs="$workers" -workers="$workers")
    logs=()
    for ((j = 0; j < workers; j++)); do logs+=("$run_dir/fuzz-$j.log"); done
  fi
  began=$(date +%s.%N)
  if (cd "$run_dir" && "$target" "${limits[@]}" -timeout=20 -rss_limit_mb=2560 -print_final_stats=1 \
      -artifact_prefix="$artifacts/" "${dirs[@]}" >"$log" 2>&1); then
    ended=$(date +%s.%N)
    runs=$(cat "${logs[@]}" | grep -o 'stat::number_of_executed_units: *[0-9]*' | grep -o '[0-9]*$' |
      awk '{ n += $1 } END { print n + 0 }')
    cov=$(cat "${logs[@]}" | grep -o 'cov: [0-9]*' | sort -t' ' -k2 -n | tail -1 || true)
    rate=$(awk -v r="${runs:-0}" -v a="$began" -v b="$ended" 'BEGIN { printf "%.0f", r / (b - a) }')
    echo "run-fuzz: $name ok (${runs:-?} runs in $(awk -v a="$began" -v b="$ended" 'BEGIN { printf "%.0f", b - a }')s, $rate/s, ${cov:-cov: ?}, corpus $(ls "$corpus" | wc -l) files)"
  else
    echo "run-fuzz: $name FAILED; log $log, inputs in $artifacts" >&2
    tail -n 40 "${logs[@]}" >&2
    failed+=("$name")
  fi
  ran=$((ran + 1))
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "run-fuzz: failed: ${failed[*]}" >&2
  exit 1
fi
if [ "$ran" -eq 1 ]; then noun=target; else noun=targets; fi
echo "run-fuzz: $ran $noun run, all passed"
