#!/usr/bin/env bash
# Prints the end-to-end scenarios of the last run that failed once and passed
# when run again (tests/e2e/run-scenario.sh marks them with
# e2e-work/<scenario>/passed-on-second-run and keeps the first run's output in
# first-run.log there), with the end of that output: a stall worth a look
# even though the tier passed.
#
#   scripts/report-reruns.sh BUILD_DIR
set -u
build=${1:?usage: report-reruns.sh BUILD_DIR}
shopt -s nullglob
marks=("$build"/e2e-work/*/passed-on-second-run)
[ ${#marks[@]} -eq 0 ] && exit 0
echo "e2e: ${#marks[@]} scenario(s) failed once and passed when run again:"
for mark in "${marks[@]}"; do
  work=$(dirname "$mark")
  echo "--- $(basename "$work"), first run (exit $(cat "$work/first-run.status" 2>/dev/null || echo unknown)):"
  if [ -s "$work/first-run.log" ]; then
    tail -n 12 "$work/first-run.log"
  else
    echo "(the driver printed nothing: it did not start, or Wine ended it first)"
  fi
done
