#!/usr/bin/env bash
# Prints the end-to-end scenarios of the last run that failed once and passed
# when run again (tests/e2e/run-scenario.sh keeps the first run's output in
# e2e-work/<scenario>/first-run.log), with the end of that output: a stall
# worth a look even though the tier passed.
#
#   scripts/report-reruns.sh BUILD_DIR
set -u
build=${1:?usage: report-reruns.sh BUILD_DIR}
shopt -s nullglob
logs=("$build"/e2e-work/*/first-run.log)
[ ${#logs[@]} -eq 0 ] && exit 0
echo "e2e: ${#logs[@]} scenario(s) failed once and were run again:"
for log in "${logs[@]}"; do
  name=$(basename "$(dirname "$log")")
  echo "--- $name, first run:"
  tail -n 12 "$log"
done
