#!/bin/bash
# Tests of the pakwiz command line: cli_test.sh CASE PAKWIZ WORKDIR SOURCE_DIR FIXTURES
# Each case builds small projects with a stand-in stub (any file holding the
# stub marker with a zero length field) and checks what the commands write,
# print and return.
set -u
shopt -s lastpipe # a function at the end of a pipe runs in this shell and can count failures
case_name=$1
pakwiz=$2
work=$3
source_dir=$4
fixtures=${5:-}

rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 1

# Every language block carries the built-in uninstaller by default: a
# stand-in beside a link of pakwiz keeps these cases independent of whether
# the Windows programs have been built.
mkdir -p .tool
ln -f "$pakwiz" .tool/pakwiz 2> /dev/null || cp "$pakwiz" .tool/pakwiz
printf 'MZ stand-in uninstaller' > .tool/pakwiz-uninstall.exe
pakwiz=$PWD/.tool/pakwiz

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# The marker bytes 77 77 67 54 29 48 and a zero length field, inside some bytes.
make_stub() { printf 'MZ stand-in stub \x77\x77\x67\x54\x29\x48\0\0\0\0 end of stub' > "$1"; }

# run EXPECTED_RC DESCRIPTION COMMAND...: runs, keeps stdout/stderr in out.txt/err.txt
# (a command that hangs is stopped after a minute and fails)
run() {
  local expected=$1 what=$2
  shift 2
  timeout 60 "$@" > out.txt 2> err.txt
  local rc=$?
  if [ "$rc" != "$expected" ]; then
    fail "$what: exit code $rc, expected $expected"
    sed 's/^/    stdout: /' out.txt >&2
    sed 's/^/    stderr: /' err.txt >&2
  fi
}

contains() {  # contains FILE TEXT DESCRIPTION
  grep -qF -- "$2" "$1" || { fail "$3: '$2' not in $1:"; sed 's/^/    /' "$1" >&2; }
}

flip_byte() {  # flip_byte FILE OFFSET
  local b
  b=$(od -An -tu1 -j"$2" -N1 "$1" | tr -d ' ')
  printf "$(printf '\\%03o' $((b ^ 0xFF)))" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

write_sample() {
  make_stub stub.bin
  mkdir -p src/docs
  printf 'Read me first.\n' > src/readme.txt
  printf 'Lies mich zuerst.\n' > src/liesmich.txt
  head -c 70000 /dev/urandom > src/data.bin
  printf 'key=value\nPATH=unset\n' > src/docs/config.cfg
  printf 'UNINSTALLER PROGRAM' > src/uninst.exe
  cat > sample.toml <<'TOML'
product = "Sample"
remove_previous = true

[uninstaller]
program = "src/uninst.exe"
menu = { name = "Uninstall {product}" }

[[files]]
source = "src/data.bin"
target = "bin/data.bin"

[[files]]
source = "src/docs/config.cfg"
target = "config.cfg"

[[patches]]
file = "config.cfg"
pattern = "PATH="
text = "#InstallDir#"

[[languages]]
language = "en"
[[languages.files]]
source = "src/readme.txt"
end_action = "open"
menu = { folder = "Sample Apps", name = "Read Me", args = "/fast", icon = 2 }
desktop = { name = "Sample Readme", args = "-x" }
[[languages.ini]]
file = "#InstallDir#\\sample.ini"
section = "Main"
key = "Dir"
value = "#InstallDir#"
[[languages.registry]]
root = "HKLM"
key = "Software\\Sample"
value = "#InstallDir#"
only_if_absent = true

[[languages]]
language = "de"
[[languages.files]]
source = "src/liesmich.txt"
desktop = "Liesmich"
TOML
}

case "$case_name" in

roundtrip)
  write_sample
  run 0 "build" "$pakwiz" build sample.toml --stub stub.bin -o setup.exe
  contains out.txt "wrote setup.exe" "build summary"
  [ -f setup.exe ] || fail "no setup.exe"
  run 0 "build into a new folder" "$pakwiz" build sample.toml --stub stub.bin -o new/dir/setup.exe
  cmp -s setup.exe new/dir/setup.exe || fail "the build into a new folder differs"
  run 0 "list" "$pakwiz" list setup.exe
  for text in 'setup flags: 0x00000010' 'language block 1: "Deutsch"' '[0] Uninstall.exe' \
      'flags: uninstaller' 'bin\data.bin' 'Start menu: "Sample Apps\Read Me" "/fast", icon 2' \
      'desktop: "Sample Readme" "-x"' 'end action open' 'uninstall key: "Sample"' \
      'INI entries: 1' 'HKLM\Software\Sample (default) = "#InstallDir#" (only if absent)' \
      'behind a 5-byte pattern: "#InstallDir#"' 'uninstaller prefix block: 19 bytes'; do
    contains out.txt "$text" "list"
  done
  run 0 "verify" "$pakwiz" verify setup.exe
  contains out.txt "8 entries checked, all good" "verify"
  run 0 "extract en" "$pakwiz" extract setup.exe -d en
  cmp -s en/bin/data.bin src/data.bin || fail "extracted data.bin differs"
  cmp -s en/config.cfg src/docs/config.cfg || fail "extracted config.cfg differs"
  cmp -s en/readme.txt src/readme.txt || fail "extracted readme.txt differs"
  # The uninstaller: the prefix, its data record (tag 0x1240, flags 0, the
  # length of the texts behind it), then the 8 reserved bytes.
  prefix_size=$(stat -c %s src/uninst.exe)
  cmp -s -n "$prefix_size" en/Uninstall.exe src/uninst.exe || fail "the uninstaller does not begin with its prefix"
  [ "$(od -An -tx1 -j "$prefix_size" -N4 en/Uninstall.exe | tr -d ' ')" = 40120000 ] ||
    fail "no uninstaller data record behind the prefix"
  texts=$(od -An -tu4 -j $((prefix_size + 4)) -N4 en/Uninstall.exe | tr -d ' ')
  [ "$(stat -c %s en/Uninstall.exe)" = $((prefix_size + 8 + texts + 8)) ] ||
    fail "the uninstaller is not prefix + data record + 8 bytes"
  [ "$(tail -c 8 en/Uninstall.exe | od -An -tx1 | tr -d ' \n')" = 0000000000000000 ] ||
    fail "the uninstaller does not end with the 8 reserved bytes"
  [ -e en/liesmich.txt ] && fail "block 0 extract wrote block 1's file"
  run 0 "extract de" "$pakwiz" extract setup.exe -d de --language 1
  cmp -s de/liesmich.txt src/liesmich.txt || fail "extracted liesmich.txt differs"
  run 1 "extract block 2" "$pakwiz" extract setup.exe -d none --language 2
  contains err.txt "there is no language block 2" "extract of a missing block"
  ;;

volumes)
  write_sample
  run 0 "build with volumes" "$pakwiz" build sample.toml --stub stub.bin -o setup.exe --volume-size 20K
  for f in setup.exe setup.D01 setup.D02 setup.D03; do
    [ -f "$f" ] || fail "$f missing"
    [ -f "$f" ] && [ "$(stat -c %s "$f")" -le 20480 ] || fail "$f is larger than the volume size"
  done
  # Each volume begins with the count of archive bytes it holds.
  size_word=$(od -An -tu4 -N4 setup.D01 | tr -d ' ')
  [ "$size_word" = $(( $(stat -c %s setup.D01) - 4 )) ] || fail "setup.D01 size word $size_word"
  run 0 "verify volumes" "$pakwiz" verify setup.exe
  contains out.txt "integrity record matches" "verify of the integrity record"
  run 0 "list volumes" "$pakwiz" list setup.exe
  contains out.txt "volume 3: " "list of the integrity record's volumes"
  # One changed byte inside a volume file is found by its CRC-32, though
  # every size still matches.
  cp setup.D01 saved.D01
  flip_byte setup.D01 100
  run 1 "verify a changed volume" "$pakwiz" verify setup.exe
  contains out.txt "setup.D01: CRC-32" "changed volume named"
  mv saved.D01 setup.D01
  run 0 "extract volumes" "$pakwiz" extract setup.exe -d en
  cmp -s en/bin/data.bin src/data.bin || fail "data.bin read across volumes differs"
  cp setup.D02 saved.D02
  truncate -s -100 setup.D02
  run 1 "verify a truncated volume" "$pakwiz" verify setup.exe
  contains out.txt "setup.D02" "truncated volume named"
  contains out.txt "(truncated)" "truncated volume"
  mv saved.D02 setup.D02
  rm setup.D01
  run 1 "verify a missing volume" "$pakwiz" verify setup.exe
  contains out.txt "setup.D01: volume 1 is missing" "missing volume"
  ;;

damaged)
  write_sample
  run 0 "build" "$pakwiz" build sample.toml --stub stub.bin -o setup.exe --level 0
  size=$(stat -c %s setup.exe)
  cp setup.exe good.exe
  # Stored data: the last archive bytes are the German readme's text.
  flip_byte setup.exe $((size - 3))
  run 1 "verify a flipped byte" "$pakwiz" verify setup.exe
  contains out.txt "damaged: block 1 entry 3 (liesmich.txt)" "damaged entry named"
  run 1 "extract the damaged block" "$pakwiz" extract setup.exe -d de --language 1
  contains err.txt "liesmich.txt" "extract names the damaged entry"
  cp good.exe setup.exe
  truncate -s -1 setup.exe
  run 1 "verify a truncated package" "$pakwiz" verify setup.exe
  contains out.txt "shorter than its archive size word says" "truncated package"
  cp good.exe setup.exe
  printf 'x' >> setup.exe
  run 1 "verify a package with extra bytes" "$pakwiz" verify setup.exe
  ;;

hostile)
  # Lengths and sizes that the file cannot back fail at once and in little
  # memory: a record length past the end of the file, a compressed record
  # claiming 1 GiB, a file entry claiming 4 GiB from its few packed bytes
  # (the uninstaller: 4 GiB less its 19-byte prefix).
  write_sample
  run 0 "build stored" "$pakwiz" build sample.toml --stub stub.bin -o stored.exe --level 0
  run 0 "build packed" "$pakwiz" build sample.toml --stub stub.bin -o packed.exe
  python3 - <<'PY'
import struct
def records(data):
    at = struct.unpack_from("<I", data, 23)[0]  # the stand-in stub's length field
    while True:
        tag, flags, length = struct.unpack_from("<HHI", data, at)
        yield at, tag, flags, length
        if tag == 0x7F7F:
            return
        at += 8 + length
def put(source, name, offset, value):
    d = bytearray(open(source, "rb").read())
    struct.pack_into("<I", d, offset, value)
    open(name, "wb").write(d)
stored = open("stored.exe", "rb").read()
packed = open("packed.exe", "rb").read()
first = next(records(stored))
put("stored.exe", "long-record.exe", first[0] + 4, 0x40000000)
compressed = next(r for r in records(packed) if r[2] & 1)
put("packed.exe", "huge-record.exe", compressed[0] + 8, 0x40000000)
files = next(r for r in records(stored) if r[1] == 0x1234 + 6)
assert files[2] == 0  # stored as is: the entry's size field lies at +14
put("stored.exe", "huge-entry.exe", files[0] + 8 + 4 + 14, 0xFFFFFFFF)
PY
  # bounded EXPECTED_RC FILE TEXT COMMAND...: at most 100 MB and 10 seconds.
  bounded() {
    local rc=$1 file=$2 text=$3
    shift 3
    run "$rc" "$* on $file" /usr/bin/time -f '%e %M' -o cost.txt "$pakwiz" "$@" "$file"
    cat out.txt err.txt > both.txt
    contains both.txt "$text" "$* on $file"
    local seconds kb
    read -r seconds kb < <(tail -1 cost.txt)
    seconds=${seconds:-999} kb=${kb:-999999999} # unless GNU time saw the command end
    [ "$kb" -lt 100000 ] || fail "$* on $file took $kb KB"
    [ "${seconds%.*}" -lt 10 ] || fail "$* on $file took $seconds s"
  }
  for c in list verify; do
    bounded 1 long-record.exe "runs past the end of the file" $c
    bounded 1 huge-record.exe "does not decode to its stated 1,073,741,824 bytes" $c
  done
  bounded 0 huge-entry.exe "size 4,294,967,295" list
  bounded 1 huge-entry.exe "cannot decode to its 4,294,967,276 bytes" verify
  # Block 1's uninstaller entry shares the stored copy but not the damage.
  grep -q "damaged: block 1 entry 0" both.txt && fail "block 1's entry judged by block 0's"
  bounded 1 huge-entry.exe "cannot decode to its 4,294,967,276 bytes" extract -d out
  # A patched entry whose command blob claims 3.7 GB (stored) or 4 GB from a
  # few packed bytes: refused before the blob is allocated.
  mkdir -p twin
  head -c 60000 /dev/urandom > twin/en.bin
  cp twin/en.bin twin/de.bin
  printf 'changed' | dd of=twin/de.bin bs=1 seek=30000 conv=notrunc 2>/dev/null
  cat > twin.toml <<'TOML'
product = "Twin"
uninstaller = false
[[languages]]
language = "en"
[[languages.files]]
source = "twin/en.bin"
target = "app.bin"
[[languages]]
language = "de"
[[languages.files]]
source = "twin/de.bin"
target = "app.bin"
TOML
  run 0 "build with a patch" "$pakwiz" build twin.toml --stub stub.bin -o twin.exe
  run 0 "list the patch" "$pakwiz" list twin.exe
  python3 - <<'PY'
import os, re
listing = open("out.txt").read()
archive = int(re.search(r"archive: ([\d,]+) bytes in this file", listing)[1].replace(",", ""))
entry = listing[: listing.index("patch of block")]
at = int(re.findall(r"packed [\d,]+ at ([\d,]+)", entry)[-1].replace(",", ""))
# The archive is the end of the file; the command blob's header starts the patch.
offset = os.path.getsize("twin.exe") - (archive - at)
for name, header in (("blob-stored.exe", b"\x02\x4a\x2b\x11\xdd"),
                     ("blob-packed.exe", b"\x03\x00\x00\x00\xf0\x10\x00")):
    d = bytearray(open("twin.exe", "rb").read())
    d[offset : offset + len(header)] = header
    open(name, "wb").write(d)
PY
  for f in blob-stored.exe blob-packed.exe; do
    for c in verify "extract --language 1 -d out-$f"; do
      # shellcheck disable=SC2086
      bounded 1 $f "the command blob is damaged" $c
    done
  done
  ;;

bad_inputs)
  write_sample
  # bad_project NAME EXPECTED-MESSAGE: the project text on stdin must fail to
  # build with that message and leave nothing behind.
  bad_project() {
    cat > bad.toml
    run 1 "$1" "$pakwiz" build bad.toml --stub stub.bin -o bad.exe
    contains err.txt "$2" "$1"
    ls bad.exe bad.D01 ./*.pakwiz-tmp 2> /dev/null && fail "$1 left output behind"
  }
  printf 'product = "X"\n[[files]]\nsource = "src/readme.txt"\ntarget = "a\n' |
    bad_project "syntax error" "bad.toml:4:"
  printf 'product = "X"\n[[files]]\nsorce = "src/readme.txt"\n' |
    bad_project "unknown key" "bad.toml:3:1: unknown key 'sorce' in [[files]]; the nearest valid key is 'source'"
  printf 'product = "X"\n[[files]]\nsource = "src/missing.txt"\n' |
    bad_project "missing source" "bad.toml:3:10: cannot read src/missing.txt"
  { echo 'product = "X"'; for i in 1 2 3 4 5 6 7; do echo '[[languages]]'; done; } |
    bad_project "seven languages" "more than six languages (7 given)"
  printf 'product = "X"\n[[files]]\nsource = "src/readme.txt"\ntarget = "C:\\\\x.txt"\n' |
    bad_project "absolute target" "is absolute"
  printf 'product = "X"\n[[files]]\nsource = "src/readme.txt"\ntarget = "a/../../x.txt"\n' |
    bad_project "dot-dot target" "leaves its destination folder"
  { printf 'product = "X"\n[[files]]\nsource = "src/readme.txt"\ntarget = "'; head -c 300 /dev/zero | tr '\0' a; printf '"\n'; } |
    bad_project "long target" "300 characters long; the setup program holds at most 259"
  mkfifo src/pipe # a source that is no file is refused, not read (which would wait forever)
  printf 'product = "X"\n[[files]]\nsource = "src/pipe"\n' |
    bad_project "FIFO source" "bad.toml:3:10: cannot read src/pipe: it is not a file"
  printf 'product = "X"\n[[files]]\nsource = "src/readme.txt"\ntarget = "logs/aux.log"\n' |
    bad_project "device name" "bad.toml:4:10: target 'logs\\aux.log' holds 'aux.log', a name that Windows reserves for a device"
  printf 'product = "X"\n[[files]]\nsource = "src/readme.txt"\ntarget = "a"\n[[files]]\nsource = "src/readme.txt"\ntarget = "A/b"\n' |
    bad_project "file and folder" "bad.toml:5:1: language block 0 installs 'A\\b', which needs a folder 'A'"
  printf 'product = "X"\nuninstaller = 1\n' |
    bad_project "uninstaller neither on/off nor a table" "bad.toml:2:15: 'uninstaller' must be true, false or a table"
  printf 'product = "X"\n[[languages]]\n[languages.texts]\n6.28 = "Insert disk %%s"\n' |
    bad_project "wrong conversion" "string 28 of table 6: the program formats it with a number (%d)"
  # A failure found after the files were compressed leaves nothing either.
  printf 'product = "X"\n[[files]]\nsource = "src/data.bin"\nversion_test = true\n' |
    bad_project "version test without version" "has no version resource"
  ;;

usage)
  for c in build list verify extract try; do
    run 0 "$c --help" "$pakwiz" "$c" --help
    contains out.txt "usage: pakwiz $c" "$c --help"
  done
  run 0 "--help" "$pakwiz" --help
  contains out.txt "commands:" "--help"
  run 2 "no command" "$pakwiz"
  run 2 "unknown command" "$pakwiz" frobnicate
  contains err.txt "unknown command 'frobnicate'" "unknown command"
  run 2 "build without project" "$pakwiz" build
  run 2 "try without setup" "$pakwiz" try
  contains err.txt "try needs a setup file" "try without setup"
  run 2 "try with a language block out of range" "$pakwiz" try x.exe --language 6
  run 3 "try with a missing setup file" "$pakwiz" try "$work/none.exe"
  contains err.txt "no setup file" "try with a missing setup file"
  # Without Wine, or without a display and Xvfb: the Debian packages to install.
  mkdir -p only-wine && ln -sf "$(command -v wineserver || echo /usr/bin/wineserver)" only-wine/wineserver
  run 3 "try without Wine" env PATH="$work/none" "$pakwiz" try out.txt
  contains err.txt "apt-get install wine wine64" "try without Wine"
  run 3 "try without a display and Xvfb" env -u DISPLAY PATH="$work/only-wine" "$pakwiz" try out.txt
  contains err.txt "apt-get install xvfb" "try without a display and Xvfb"
  run 2 "unknown option" "$pakwiz" build x.toml --fast
  contains err.txt "unknown option '--fast'" "unknown option"
  run 2 "bad volume size" "$pakwiz" build x.toml --volume-size lots
  run 2 "bad patches mode" "$pakwiz" build x.toml --patches on
  contains err.txt "--patches needs 'auto' or 'off', not 'on'" "bad patches mode"
  run 2 "extract without folder" "$pakwiz" extract setup.exe
  run 1 "list of a file that is not a package" "$pakwiz" list "$source_dir/README.md"
  contains err.txt "not a setup program" "list of a non-package"
  ;;

determinism)
  write_sample
  run 0 "build 1" "$pakwiz" build sample.toml --stub stub.bin -o one.exe -j 1
  run 0 "build 2" "$pakwiz" build sample.toml --stub stub.bin -o two.exe -j 4
  cmp -s one.exe two.exe || fail "two builds of the same input differ"
  ;;

stub)
  write_sample
  printf 'no marker here' > nomarker.bin
  run 1 "stub without marker" "$pakwiz" build sample.toml --stub nomarker.bin -o out.exe
  contains err.txt "marker bytes 77 77 67 54 29 48 are missing" "stub without marker"
  { cat stub.bin; cat stub.bin; } > twice.bin
  run 1 "stub with two markers" "$pakwiz" build sample.toml --stub twice.bin -o out.exe
  contains err.txt "occurs 2 times" "stub with two markers"
  run 0 "build" "$pakwiz" build sample.toml --stub stub.bin -o setup.exe
  run 1 "a setup program as the stub" "$pakwiz" build sample.toml --stub setup.exe -o out.exe
  contains err.txt "already carries a package" "used stub"
  [ -e out.exe ] && fail "a stub error left out.exe"
  # The length field holds the stub's size.
  field=$(od -An -tu4 -j23 -N4 setup.exe | tr -d ' ')
  [ "$field" = "$(stat -c %s stub.bin)" ] || fail "stub length field $field"
  ;;

sign)
  # A stub that is a Windows program, and a throw-away certificate.
  write_sample
  stub=$fixtures/stub64.exe
  openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 \
    -subj "/CN=Pakwiz Test Signer" 2> openssl.log || fail "openssl req: $(cat openssl.log)"
  printf 'secret\n' > pass.txt
  openssl pkcs12 -export -inkey key.pem -in cert.pem -out cert.p12 -passout pass:secret \
    2> openssl.log || fail "openssl pkcs12: $(cat openssl.log)"
  run 0 "build unsigned" "$pakwiz" build sample.toml --stub "$stub" -o plain.exe --volume-size 40K
  run 0 "verify unsigned" "$pakwiz" verify plain.exe
  contains out.txt "plain.exe: not signed" "verify of an unsigned file"
  # A key and certificate pair.
  run 0 "build signed with a key pair" "$pakwiz" build sample.toml --stub "$stub" -o pair.exe \
    --sign cert.pem --sign-key key.pem
  contains out.txt "signed pair.exe" "build summary"
  run 0 "osslsigncode verify (key pair)" osslsigncode verify -in pair.exe -CAfile cert.pem
  contains out.txt "Signature verification: ok" "osslsigncode verify"
  # A PKCS#12 file with a password, and volumes: only the setup file is signed.
  run 0 "build signed with PKCS#12" "$pakwiz" build sample.toml --stub "$stub" -o p12.exe \
    --sign cert.p12 --sign-password-file pass.txt --volume-size 40K
  run 0 "osslsigncode verify (PKCS#12)" osslsigncode verify -in p12.exe -CAfile cert.pem
  contains out.txt "Signer's certificate:" "osslsigncode verify"
  contains out.txt "Pakwiz Test Signer" "signer named"
  contains out.txt "Text description: Sample Setup" "the signature names the program"
  for v in D01 D02; do
    cmp -s "plain.$v" "p12.$v" || fail "volume $v differs from the unsigned build's"
  done
  run 0 "pakwiz verify signed" "$pakwiz" verify p12.exe
  contains out.txt "p12.exe: signed (a certificate table of" "verify of a signed file"
  contains out.txt "all good" "verify of a signed file"
  run 0 "list signed" "$pakwiz" list p12.exe
  contains out.txt "signature: signed" "list of a signed file"
  contains out.txt "manifest: execution level requireAdministrator, common controls 6" "list"
  contains out.txt 'FileDescription: "Sample Setup"' "list"
  # One flipped archive byte breaks the signature (and the entry holding it).
  cp p12.exe flipped.exe
  flip_byte flipped.exe $(( $(stat -c %s plain.exe) - 3 ))
  run 1 "osslsigncode verify of a changed file" osslsigncode verify -in flipped.exe -CAfile cert.pem
  contains out.txt "MISMATCH" "osslsigncode names the changed digest"
  run 1 "pakwiz verify of a changed file" "$pakwiz" verify flipped.exe
  contains out.txt "damaged: block" "changed entry named"
  # Bytes behind the certificate table: not what a signing tool leaves.
  cp p12.exe appended.exe
  printf 'tail' >> appended.exe
  run 1 "pakwiz verify of a signed file with extra bytes" "$pakwiz" verify appended.exe
  contains out.txt "not what a signing tool leaves behind the package" "extra bytes"
  # Failures leave nothing behind: a wrong password, a missing key, an
  # unreachable time-stamping server (the option reaches osslsigncode).
  printf 'wrong\n' > wrong.txt
  run 1 "wrong password" "$pakwiz" build sample.toml --stub "$stub" -o bad.exe --sign cert.p12 \
    --sign-password-file wrong.txt
  contains err.txt "signing failed: osslsigncode exited with" "wrong password"
  run 1 "missing key" "$pakwiz" build sample.toml --stub "$stub" -o bad.exe --sign cert.pem \
    --sign-key nokey.pem
  contains err.txt "cannot sign: the key nokey.pem does not exist" "missing key"
  run 1 "unreachable time-stamping server" "$pakwiz" build sample.toml --stub "$stub" -o bad.exe \
    --sign cert.pem --sign-key key.pem --timestamp http://127.0.0.1:9/
  contains err.txt "signing failed" "time stamp"
  run 2 "--sign-key without --sign" "$pakwiz" build sample.toml --sign-key key.pem
  contains err.txt "need --sign" "usage"
  ls bad.exe bad.exe.* 2> /dev/null && fail "a failed signing left output behind"
  ;;

example)
  make_stub stub.bin
  printf "MZ a stand-in uninstaller" > uninst.bin
  run 0 "build hello" "$pakwiz" build "$source_dir/examples/hello/hello.toml" --stub stub.bin --uninstaller uninst.bin -o hello-setup.exe
  run 0 "verify hello" "$pakwiz" verify hello-setup.exe
  run 0 "extract hello de" "$pakwiz" extract hello-setup.exe -d de --language 1
  cmp -s de/liesmich.txt "$source_dir/examples/hello/liesmich.txt" || fail "hello: liesmich.txt"
  cmp -s de/hello.bmp "$source_dir/examples/hello/hello.bmp" || fail "hello: hello.bmp"
  ;;

output_safety)
  write_sample
  cp -r src src.orig
  cp sample.toml sample.orig
  cp stub.bin stub.orig
  mkdir folder
  mkfifo fifo
  ln src/readme.txt hardlink.txt
  # A device node of our own in this folder (the same numbers as /dev/null):
  # the builder must refuse to replace it without ever opening it.
  mknod chardev c 1 3 2> err-mknod.txt || echo "note: mknod not permitted here, device row skipped"
  # -o NAME: what it names must stay as it is, and the message says what it is.
  while IFS='|' read -r name what; do
    [ -e "$name" ] || [ -p "$name" ] || continue
    run 1 "-o $name" "$pakwiz" build sample.toml --stub stub.bin -o "$name"
    contains err.txt "cannot write the output to $name: it is $what" "-o $name"
  done <<'ROWS'
sample.toml|the project file
src/readme.txt|a source file (sample.toml:
hardlink.txt|a source file (sample.toml:
stub.bin|the setup program (--stub)
folder|a folder
fifo|a FIFO (named pipe)
chardev|a device
ROWS
  diff -r src src.orig > /dev/null || fail "a source file changed"
  cmp -s sample.toml sample.orig || fail "the project file changed"
  cmp -s stub.bin stub.orig || fail "the stub changed"
  [ -d folder ] && [ -p fifo ] || fail "the folder or the FIFO was replaced"
  [ -e chardev ] && { [ -c chardev ] || fail "the device node was replaced"; }
  # A volume file may not be an input either.
  cp src/readme.txt vol.D01
  sed 's|src/readme.txt|vol.D01|' sample.toml > vol.toml
  run 1 "volume over an input" "$pakwiz" build vol.toml --stub stub.bin -o vol.exe --volume-size 20K
  contains err.txt "cannot write volume file 1 to vol.D01: it is a source file" "volume over an input"
  [ -e vol.exe ] && fail "a refused build left vol.exe"

  # A link at the output is replaced, not followed; one planted at a
  # temporary name is never written through.
  printf 'precious\n' > victim.txt
  cp victim.txt victim.orig
  ln -s victim.txt link.exe
  ln -s victim.txt setup.exe.pakwiz-tmp
  run 0 "build over a link" "$pakwiz" build sample.toml --stub stub.bin -o link.exe
  [ -L link.exe ] && fail "link.exe is still a link"
  run 0 "build beside a planted link" "$pakwiz" build sample.toml --stub stub.bin -o setup.exe
  cmp -s victim.txt victim.orig || fail "a build wrote through a link"
  cmp -s link.exe setup.exe || fail "the build over a link differs"
  [ "$(ls ./*.pakwiz-tmp | wc -l)" = 1 ] || fail "temporary files left: $(ls ./*.pakwiz-tmp)"

  # A rebuild with fewer volumes removes the earlier build's extra volume
  # files, and only those (a file that is no volume stays).
  run 0 "build 3 volumes" "$pakwiz" build sample.toml --stub stub.bin -o vols.exe --volume-size 20K
  [ -f vols.D03 ] || fail "vols.D03 missing"
  printf 'not a volume' > vols.D04
  run 0 "build 1 volume" "$pakwiz" build sample.toml --stub stub.bin -o vols.exe --volume-size 40K
  [ -f vols.D01 ] || fail "vols.D01 missing"
  ls vols.D02 vols.D03 2> /dev/null && fail "volume files of the earlier build left behind"
  [ -f vols.D04 ] || fail "a file that is no volume was removed"
  run 0 "build without volumes" "$pakwiz" build sample.toml --stub stub.bin -o vols.exe
  [ -e vols.D01 ] && fail "vols.D01 left behind"
  run 0 "verify" "$pakwiz" verify vols.exe

  # Messages give the system's reason.
  run 1 "-o below a file" "$pakwiz" build sample.toml --stub stub.bin -o stub.bin/x.exe
  contains err.txt "stub.bin: Not a directory" "reason of a failed output"
  ;;

large_sources)
  make_stub stub.bin
  # More than one compression piece (about 4 MiB): text, then random bytes
  # (stored), then text again; a second copy is stored once.
  python3 - <<'PY'
import random
random.seed(7)
words = [b"alpha", b"beta", b"gamma", b"setup", b"folder", b"window"]
def text(n):
    out = bytearray()
    while len(out) < n:
        out += b" ".join(random.choice(words) + str(random.randint(0, 999)).encode() for _ in range(10)) + b"\n"
    return bytes(out[:n])
data = text(3_000_000) + random.randbytes(3_000_000) + text(3_500_001)
open("big.bin", "wb").write(data)
open("copy.bin", "wb").write(data)
PY
  printf 'product = "Big"\nuninstaller = false\n[[files]]\nsource = "big.bin"\n[[files]]\nsource = "copy.bin"\n' > big.toml
  run 0 "build" "$pakwiz" build big.toml --stub stub.bin -o big.exe --level 1
  contains out.txt "in 1 copies" "equal large files stored once"
  run 0 "verify" "$pakwiz" verify big.exe
  run 0 "extract" "$pakwiz" extract big.exe -d out
  cmp -s out/big.bin big.bin || fail "big.bin extracted differs"
  cmp -s out/copy.bin big.bin || fail "copy.bin extracted differs"
  # Memory stays bounded: a 512 MiB source (a sparse file) is built in far
  # less memory than its size (peak resident set, in KB).
  truncate -s 512M zeros.bin
  printf 'product = "Zeros"\n[[files]]\nsource = "zeros.bin"\n' > zeros.toml
  run 0 "build 512 MiB" /usr/bin/time -f '%M' -o rss.txt "$pakwiz" build zeros.toml --stub stub.bin -o zeros.exe --level 1 -j 1
  rss=$(tail -1 rss.txt)
  [ "$rss" -lt 200000 ] || fail "building a 512 MiB source took $rss KB of memory"
  # ... and verified and extracted likewise: entries are decoded as a stream.
  run 0 "verify 512 MiB" /usr/bin/time -f '%M' -o rss.txt "$pakwiz" verify zeros.exe
  rss=$(tail -1 rss.txt)
  [ "$rss" -lt 200000 ] || fail "verifying a 512 MiB entry took $rss KB of memory"
  run 0 "extract 512 MiB" /usr/bin/time -f '%M' -o rss.txt "$pakwiz" extract zeros.exe -d zeros
  rss=$(tail -1 rss.txt)
  [ "$rss" -lt 200000 ] || fail "extracting a 512 MiB entry took $rss KB of memory"
  cmp -s zeros/zeros.bin zeros.bin || fail "the extracted 512 MiB file differs"
  rm -rf zeros
  # A source the format cannot hold is refused from its size alone (a sparse
  # file: nothing is read).
  truncate -s 4294967296 huge.bin
  printf 'product = "Huge"\n[[files]]\nsource = "huge.bin"\n' > huge.toml
  run 1 "a 4 GiB source" "$pakwiz" build huge.toml --stub stub.bin -o huge.exe
  contains err.txt "huge.toml:3:10: huge.bin is 4,294,967,296 bytes; a package holds files of at most 4,294,967,295 bytes" "a 4 GiB source"
  ;;

progress)
  make_stub stub.bin
  python3 - <<'PY'
import random
random.seed(3)
words = [b"alpha", b"beta", b"gamma", b"setup", b"folder", b"window", b"program"]
out = bytearray()
while len(out) < 12_000_000:
    out += b" ".join(random.choice(words) + str(random.randint(0, 999)).encode() for _ in range(12)) + b"\n"
open("one.txt", "wb").write(out)
PY
  printf 'product = "One"\n[[files]]\nsource = "one.txt"\n' > one.toml
  # The bar draws on a terminal only: `script` gives the build one, and keeps
  # what was drawn in typescript.txt.
  script -qfec "'$pakwiz' build one.toml --stub stub.bin -o one.exe -j 1" typescript.txt > script-out.txt
  [ -f one.exe ] || fail "the build under script failed: $(cat script-out.txt)"
  percents=$(tr '\r' '\n' < typescript.txt | grep -o 'compressing 1 files \[[#.]*\] *[0-9]*%' | grep -o '[0-9]*%$' | sort -u | tr '\n' ' ')
  moving=$(echo "$percents" | tr ' ' '\n' | grep -cE '^([1-9]|[1-9][0-9])%$')
  [ "$moving" -ge 1 ] || fail "the bar did not move within the one file (drawn: $percents)"
  ;;

extract_links)
  write_sample
  run 0 "build" "$pakwiz" build sample.toml --stub stub.bin -o setup.exe
  mkdir outside
  printf 'precious\n' > outside/victim.txt
  cp outside/victim.txt victim.orig
  # dir|link name below it|where the link points|what extract must say
  while IFS='|' read -r dir link points; do
    mkdir "$dir"
    ln -s "$points" "$dir/$link"
    run 1 "extract with $dir/$link a link" "$pakwiz" extract setup.exe -d "$dir"
    contains err.txt "$dir/$link is a link; extract does not write through links" "link $dir/$link"
  done <<'ROWS'
d1|bin|../outside
d2|readme.txt|../outside/victim.txt
d3|config.cfg|../outside/new.txt
ROWS
  cmp -s outside/victim.txt victim.orig || fail "extract wrote through a link"
  [ "$(ls outside)" = victim.txt ] || fail "extract wrote outside its folder: $(ls outside)"
  # A hard link to a file outside is replaced by the extracted file, not written into.
  mkdir d4
  ln outside/victim.txt d4/readme.txt
  run 0 "extract over a hard link" "$pakwiz" extract setup.exe -d d4
  cmp -s outside/victim.txt victim.orig || fail "extract wrote into a hard link's file"
  cmp -s d4/readme.txt src/readme.txt || fail "d4/readme.txt is not the extracted file"
  # -d itself may be a link: the user named it.
  mkdir real
  ln -s real d5
  run 0 "extract into a linked folder" "$pakwiz" extract setup.exe -d d5
  cmp -s real/bin/data.bin src/data.bin || fail "extract through -d's link"
  ;;

escaping)
  make_stub stub.bin
  printf 'text\n' > a.txt
  # Texts that the project may hold and a listing shows, with control
  # characters and escape sequences.
  cat > esc.toml <<'TOML'
product = "Esc"
[[files]]
source = "a.txt"
menu = { name = "Menu", args = "\u001b[2J" }
[[languages]]
[languages.texts]
6.0 = "Title\u001b]0;owned\u0007\nforged: line"
[[languages.registry]]
root = "HKCU"
key = "Software\\Esc"
value = "one\r\ntwo"
TOML
  out_name=$'set\nup.exe'
  run 0 "build" "$pakwiz" build esc.toml --stub stub.bin -o "$out_name"
  contains out.txt 'wrote set\x0Aup.exe: ' "output name escaped"
  cat out.txt err.txt > all.txt # everything printed, checked at the end
  run 0 "list" "$pakwiz" list "$out_name"
  contains out.txt 'frame title: "Title\x1B]0;owned\x07\x0Aforged: line"' "escaped title"
  contains out.txt '= "one\x0D\x0Atwo"' "escaped registry value"
  contains out.txt '"Esc\Menu" "\x1B[2J"' "escaped shortcut arguments"
  cat out.txt err.txt >> all.txt
  run 0 "verify" "$pakwiz" verify "$out_name"
  # (the file and the built-in uninstaller)
  contains out.txt 'set\x0Aup.exe: 2 entries checked' "verify names the package escaped"
  cat out.txt err.txt >> all.txt
  run 0 "extract" "$pakwiz" extract "$out_name" -d $'out\e[1m'
  contains out.txt 'extracted out\x1B[1m/a.txt' "extract path escaped"
  cat out.txt err.txt >> all.txt
  "$pakwiz" build missing.toml -o $'x\e[2J.exe' >> all.txt 2>&1
  if grep -q $'[\x01-\x08\x0b-\x1f\x7f]' all.txt; then
    fail "a control character reached the output"
  fi
  grep -q '^forged' all.txt && fail "a name forged a line"
  ;;

*)
  echo "unknown case $case_name" >&2
  exit 2
  ;;
esac

if [ "$failures" -ne 0 ]; then
  echo "$case_name: $failures failures" >&2
  exit 1
fi
echo "$case_name: passed"
