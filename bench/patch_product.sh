#!/usr/bin/env bash
# Patch benchmark on a product in two languages: the reference corpus's
# programs, icons and documents, and a German variant of them made by
# make-language-variants.py (translated resources and texts). The package is
# built with --patches off and with --patches auto (the default) in the same
# run; the figures are the two package sizes, how much smaller the patched
# one is, the number of files stored as patches and the build times.
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

python3 "$script" "$corpus" "$work/product"
echo "patch_product_file_bytes: $(du -sb --apparent-size "$work/product/en" "$work/product/de" |
  awk '{ s += $1 } END { print s }')"

now() { date +%s.%N; }
for mode in off auto; do
  t0=$(now)
  "$pakwiz" build "$work/product/product.toml" -o "$work/$mode.exe" --stub "$stub" \
    --patches "$mode" >"$work/$mode.log"
  t1=$(now)
  sed 's/^/  /' "$work/$mode.log" >&2
  echo "patch_product_${mode}_bytes: $(stat -c %s "$work/$mode.exe")"
  echo "patch_product_${mode}_build_seconds: $(python3 -c "print(f'{$t1 - $t0:.2f}')")"
  "$pakwiz" verify "$work/$mode.exe" >"$work/verify.log" || {
    cat "$work/verify.log" >&2
    exit 1
  }
done
patched=$(grep -o '[0-9]* files\? as patches' "$work/auto.log" | grep -o '^[0-9]*' || echo 0)
echo "patch_product_patched_files: $patched"
off=$(stat -c %s "$work/off.exe")
auto=$(stat -c %s "$work/auto.exe")
echo "patch_product_smaller_percent: $(python3 -c "print(f'{100 * (1 - $auto / $off):.1f}')")"
