#!/usr/bin/env bash
# Runs one end-to-end scenario:
#   run-scenario.sh SCENARIO.steps BUILD_DIR HOST_BIN WINEPREFIX DISPLAY_NUMBER
# Builds the scenario's project (its `project` line) with the native builder
# and the tree's stub, runs the driver under Wine, and turns the screenshots into PNG files under
# BUILD_DIR/e2e-shots/<scenario>/. Exit 77 (skipped) when the builder or the
# stub is missing.
set -u
scenario=$1 build=$2 host_bin=$3 prefix=$4 display=$5
name=$(basename "$scenario" .steps)
here=$(cd "$(dirname "$0")" && pwd)
work=$build/e2e-work/$name
shots=$build/e2e-shots/$name
builder=$host_bin/pakwiz
stub=$build/bin/pakwiz-stub.exe
driver=$build/bin/pakwiz-e2e-driver.exe

export WINEPREFIX=$prefix WINEDEBUG=-all DISPLAY=:$display
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=d"
WINE=/usr/lib/wine/wine64

for tool in "$builder" "$stub" "$driver"; do
  if [ ! -x "$tool" ] && [ ! -f "$tool" ]; then
    echo "e2e: $tool is missing; scenario $name skipped"
    exit 77
  fi
done

winpath() { echo "Z:${1//\//\\}"; }

rm -rf "$work" "$shots"
mkdir -p "$work" "$shots"

project=$(awk '$1 == "project" { print $2; exit }' "$scenario")
# Generated sources: the project is built from a copy of projects/ that holds them.
project_dir=$here/projects
generated=$(awk '$1 == "generate" { print $2, $3 }' "$scenario")
many=$(awk '$1 == "generate-files" { print $2, $3, $4, $5 }' "$scenario")
if [ -n "$generated" ] || [ -n "$many" ]; then
  cp -r "$here/projects" "$work/projects"
  project_dir=$work/projects
  while read -r path size; do
    [ -n "$path" ] || continue
    mkdir -p "$(dirname "$project_dir/$path")"
    head -c "$size" /dev/urandom >"$project_dir/$path"
  done <<<"$generated"
  # generate-files TOML FOLDER COUNT SIZE: COUNT files FOLDER/f0000.bin ... of
  # SIZE random bytes, listed as the `files` of TOML's last table.
  while read -r toml folder count size; do
    [ -n "$toml" ] || continue
    mkdir -p "$project_dir/$folder"
    head -c $((count * size)) /dev/urandom | split -a 4 -d -b "$size" --additional-suffix=.bin - "$project_dir/$folder/f"
    {
      echo "files = ["
      for ((i = 0; i < count; i++)); do printf '  { source = "%s/f%04d.bin" },\n' "$folder" "$i"; done
      echo "]"
    } >>"$project_dir/$toml"
  done <<<"$many"
fi
if [ -z "$project" ]; then
  echo "e2e: $scenario has no project line" >&2
  exit 1
fi
# shellcheck disable=SC2207 # the options are words of the scenario line
options=($(awk '$1 == "build-options" { $1 = ""; print; exit }' "$scenario"))
# For [uninstaller] without `program`: this tree's uninstaller (the x86_64
# build, which is what Wine runs here).
uninstaller=()
[ -f "$build/bin/pakwiz-uninstall.exe" ] && uninstaller=(--uninstaller "$build/bin/pakwiz-uninstall.exe")
# `sign`: signed with a throw-away certificate made here, and the signature
# checked as a user would before the scenario runs.
sign=$(awk '$1 == "sign" { print "yes"; exit }' "$scenario")
if [ -n "$sign" ]; then
  if ! openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" \
    -days 2 -subj "/CN=Pakwiz e2e signer" >"$work/openssl.log" 2>&1; then
    echo "e2e: openssl could not make a certificate:" >&2
    cat "$work/openssl.log" >&2
    exit 1
  fi
  options+=(--sign "$work/cert.pem" --sign-key "$work/key.pem")
fi
if ! "$builder" build "$project_dir/$project" -o "$work/setup.exe" --stub "$stub" \
  "${uninstaller[@]}" "${options[@]}" >"$work/build.log" 2>&1; then
  echo "e2e: building $project failed:" >&2
  cat "$work/build.log" >&2
  exit 1
fi

# `project2`: a second product, built the same way into ${SETUP2}.
project2=$(awk '$1 == "project2" { print $2; exit }' "$scenario")
if [ -n "$project2" ]; then
  if ! "$builder" build "$project_dir/$project2" -o "$work/setup2.exe" --stub "$stub" \
    "${uninstaller[@]}" >"$work/build2.log" 2>&1; then
    echo "e2e: building $project2 failed:" >&2
    cat "$work/build2.log" >&2
    exit 1
  fi
  export SETUP2=$(winpath "$work/setup2.exe")
fi

if [ -n "$sign" ] && ! osslsigncode verify -in "$work/setup.exe" -CAfile "$work/cert.pem" \
  >"$work/verify.log" 2>&1; then
  echo "e2e: osslsigncode verify failed on the signed setup.exe:" >&2
  cat "$work/verify.log" >&2
  exit 1
fi


# A small drive: `small-drive LETTER SIZE` mounts a tmpfs of SIZE (as mount
# takes it: 4m) in a temporary folder and makes it drive LETTER: of the Wine
# prefix for the scenario. Skipped (77) where tmpfs cannot be mounted.
read -r drive_letter drive_size <<<"$(awk '$1 == "small-drive" { print tolower($2), $3; exit }' "$scenario")"
if [ -n "${drive_letter:-}" ]; then
  drive_dir=$(mktemp -d /tmp/pakwiz-e2e-drive.XXXXXX)
  drive_link=$prefix/dosdevices/$drive_letter:
  cleanup_drive() {
    rm -f "$drive_link"
    umount "$drive_dir" 2>/dev/null
    rmdir "$drive_dir"
  }
  trap cleanup_drive EXIT
  if ! mount -t tmpfs -o "size=$drive_size" pakwiz-e2e "$drive_dir" 2>"$work/mount.log"; then
    echo "e2e: cannot mount a tmpfs ($(cat "$work/mount.log")); scenario $name skipped"
    exit 77
  fi
  rm -f "$drive_link"
  ln -s "$drive_dir" "$drive_link"
fi

# The setup program as built into setup.exe (the builder adds the project's
# resources to the stub), from its length field.
export E2E_STUB_SIZE=$("$builder" list "$work/setup.exe" |
  awk '$1 == "stub:" { gsub(",", "", $2); print $2; exit }')
export E2E_PROJECTS=$(winpath "$here/projects")
# One run of the driver; its output is kept in $work/run.log as well.
run_driver() {
  "$WINE" "$driver" --setup "$(winpath "$work/setup.exe")" --work "$(winpath "$work")" \
    --shots "$(winpath "$shots")" "$(winpath "$scenario")" </dev/null 2>&1 | tee "$work/run.log"
  local status=${PIPESTATUS[0]}
  for bmp in "$shots"/*.bmp; do
    [ -e "$bmp" ] || continue
    convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
  done
  return "$status"
}

# A failed scenario runs once more, so that one stall of Wine or the X
# server on a loaded machine does not fail the tier; the first run's output
# stays in $work/first-run.log and its screenshots in $shots/first-run/, and
# scripts/report-reruns.sh (make test-wine) prints every scenario that
# passed only on its second run. A fault of the setup fails both runs.
run_driver
status=$?
if [ $status -ne 0 ] && [ $status -ne 77 ]; then
  mv "$work/run.log" "$work/first-run.log"
  echo "$status" >"$work/first-run.status"
  mkdir -p "$shots/first-run"
  find "$shots" -maxdepth 1 -name '*.png' -exec mv -t "$shots/first-run" {} +
  echo "e2e: $name failed (exit $status); running it once more"
  run_driver
  status=$?
  # What scripts/report-reruns.sh lists (a scenario that failed twice is a
  # failed test and needs no listing).
  [ $status -eq 0 ] && touch "$work/passed-on-second-run"
fi
[ $status -eq 0 ] && echo "e2e: screenshots in $shots"
exit $status
