#!/usr/bin/env bash
# Patch benchmark on a product in two languages: the reference corpus's
# programs, icons and documents, and a German variant of them made by
# make-language-variants.py (translated resources and texts). The package is
# built with --patches off and with --patches auto (the default) in the same
# run; the figures are the two package sizes, how much smaller the patched
# one is, the number of files stored as patches and the build times.
#
# Two German variants are measured: patch_product_* translates the texts of
# the programs' resource sections (as a localised build does), and
# patch_product_whole_file_* every UTF-16 text of each program, code and
# data included (the harsher model, --whole-file). The second changes more
# programs, so more of them differ between the languages and become patches.
#
#   bench_patch_product CORPUS        (run by scripts/run-bench.sh)
set -euo pipefail
corpus=$1
release=${PAKWIZ_RELEASE_DIR:-build/release}
win32=${PAKWIZ_WIN32_DIR:-build/win32}
here=$(cd "$(dirname "$(readlink -f "$0")")" && pwd)
# Beside this script in the source tree, or in the tree of build/<preset>/bin.
script=$here/make-language-variants.py
[ -f "$script" ] || script=$here/../../../bench/make-language-variants.py
pakwiz=$release/bin/pakwiz
stub=$win32/bin/pakwiz-stub.exe
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

measure() { # PREFIX [GENERATOR OPTIONS]
  local prefix=$1
  shift
  rm -rf "$work/product"
  python3 "$script" "$@" "$corpus" "$work/product"
  echo "${prefix}_file_bytes: $(du -sb --apparent-size "$work/product/en" "$work/product/de" |
    awk '{ s += $1 } END { print s }')"
  for mode in off auto; do
    t0=$(now)
    "$pakwiz" build "$work/product/product.toml" -o "$work/$mode.exe" --stub "$stub" \
      --patches "$mode" >"$work/$mode.log"
    t1=$(now)
    sed 's/^/  /' "$work/$mode.log" >&2
    echo "${prefix}_${mode}_bytes: $(stat -c %s "$work/$mode.exe")"
    echo "${prefix}_${mode}_build_seconds: $(python3 -c "print(f'{$t1 - $t0:.2f}')")"
    "$pakwiz" verify "$work/$mode.exe" >"$work/verify.log" || {
      cat "$work/verify.log" >&2
      exit 1
    }
  done
  local patched off auto
  patched=$(grep -o '[0-9]* files\? as patches' "$work/auto.log" | grep -o '^[0-9]*' || echo 0)
  echo "${prefix}_patched_files: $patched"
  off=$(stat -c %s "$work/off.exe")
  auto=$(stat -c %s "$work/auto.exe")
  echo "${prefix}_smaller_percent: $(python3 -c "print(f'{100 * (1 - $auto / $off):.1f}')")"
}

now() { date +%s.%N; }
measure patch_product
measure patch_product_whole_file --whole-file
