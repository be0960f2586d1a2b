#!/usr/bin/env bash
# Builder benchmark: the release stub, the sample installer, and a package of
# the whole reference corpus (one file entry per corpus file), against the
# corpus itself, against per-file zlib level 9 streams, and, when Debian's
# makensis is installed, against installers of the same files made by it
# (zlib, and solid zlib) in the same run.
#
#   bench_builder CORPUS        (run by scripts/run-bench.sh)
set -euo pipefail
corpus=$1
release=${PAKWIZ_RELEASE_DIR:-build/release}
win32=${PAKWIZ_WIN32_DIR:-build/win32}
root=$(cd "$(dirname "$0")/../../.." 2>/dev/null && pwd)
[ -f "$root/examples/hello/hello.toml" ] || root=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
pakwiz=$release/bin/pakwiz
stub=$win32/bin/pakwiz-stub.exe
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

now() { date +%s.%N; }
seconds() { python3 -c "print(f'{$2 - $1:.2f}')"; }

# The sample installer with the release stub.
"$pakwiz" build "$root/examples/hello/hello.toml" -o "$work/hello-setup.exe" --stub "$stub" >&2
echo "hello_setup_bytes: $(stat -c %s "$work/hello-setup.exe")"

# A project over the corpus.
python3 - "$corpus" "$work/corpus.toml" <<'PY'
import os, sys
corpus, out = sys.argv[1], sys.argv[2]
with open(out, "w") as f:
    f.write('product = "Corpus"\n\n[[languages]]\nlanguage = "en"\n\n')
    for d, dirs, files in os.walk(corpus):
        dirs.sort()
        for name in sorted(files):
            path = os.path.join(d, name)
            rel = os.path.relpath(path, corpus)
            for c in ':*?"<>|':  # characters Windows does not allow in file names
                rel = rel.replace(c, "_")
            rel = rel.replace(os.sep, "\\\\")
            f.write('[[languages.files]]\nsource = "%s"\ntarget = "%s"\nversion_test = false\n\n'
                    % (path.replace("\\", "\\\\"), rel))
PY
files_bytes=$(find "$corpus" -type f -printf '%s\n' | awk '{s += $1} END {print s}')
file_count=$(find "$corpus" -type f | wc -l)
echo "corpus: $file_count files, $files_bytes bytes" >&2

zlib9=$(python3 - "$corpus" <<'PY'
import os, sys, zlib
total = 0
for d, _, files in os.walk(sys.argv[1]):
    for name in files:
        data = open(os.path.join(d, name), "rb").read()
        c = zlib.compressobj(9, zlib.DEFLATED, -15)
        total += len(c.compress(data) + c.flush())
print(total)
PY
)

t0=$(now)
"$pakwiz" build "$work/corpus.toml" -o "$work/corpus-setup.exe" --stub "$stub" >&2
t1=$(now)
package=$(stat -c %s "$work/corpus-setup.exe")
build_s=$(seconds "$t0" "$t1")
echo "corpus_package_bytes: $package"
echo "corpus_package_vs_files: $(python3 -c "print(f'{$package / $files_bytes:.4f}')")"
echo "corpus_package_vs_zlib9_streams: $(python3 -c "print(f'{$package / $zlib9:.4f}')")"
echo "corpus_zlib9_streams_bytes: $zlib9"
echo "corpus_build_seconds: $build_s"

if command -v makensis >/dev/null; then
  for mode in zlib solid; do
    compressor="SetCompressor /FINAL zlib"
    [ "$mode" = solid ] && compressor="SetCompressor /SOLID /FINAL zlib"
    cat >"$work/corpus-$mode.nsi" <<NSI
Unicode true
$compressor
OutFile "$work/nsis-$mode.exe"
InstallDir "\$PROGRAMFILES\\Corpus"
RequestExecutionLevel user
Page directory
Page instfiles
Section
  SetOutPath "\$INSTDIR"
  File /r "$corpus/*.*"
SectionEnd
NSI
    t0=$(now)
    makensis -V1 "$work/corpus-$mode.nsi" >&2
    t1=$(now)
    echo "nsis_${mode}_bytes: $(stat -c %s "$work/nsis-$mode.exe")"
    echo "nsis_${mode}_seconds: $(seconds "$t0" "$t1")"
    [ "$mode" = zlib ] && nsis_zlib_s=$(seconds "$t0" "$t1")
  done
  nsis_zlib=$(stat -c %s "$work/nsis-zlib.exe") nsis_solid=$(stat -c %s "$work/nsis-solid.exe")
  echo "corpus_package_vs_nsis_zlib: $(python3 -c "print(f'{$package / $nsis_zlib:.4f}')")"
  echo "corpus_package_vs_nsis_solid_zlib: $(python3 -c "print(f'{$package / $nsis_solid:.4f}')")"
  echo "corpus_build_time_vs_nsis_zlib: $(python3 -c "print(f'{$build_s / $nsis_zlib_s:.3f}')")"
else
  echo "bench_builder: makensis not installed; no comparison with it" >&2
fi
