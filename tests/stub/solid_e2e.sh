#!/bin/bash
# Solid installers end to end under Wine in Xvfb.
#
#   tests/stub/solid_e2e.sh BUILD_DIR SOURCE_DIR      (BUILD_DIR: the windows-x64 build)
#
# vekpack.exe --compress packs SOURCE_DIR/examples/tarnovista and the seed-shaped tree
# (scripts/make-seed-tree.py, with a read-only file and in blocks of 1 MiB, so that the
# stub decodes several side by side) behind vekstub.exe:
#
#   sample, seed  /S installs each byte for byte, with its times (to 2 seconds) and
#                 its read-only file read-only: exit 0
#   block, record, dictionary
#                 /S on the seed's executable with a byte of its first block flipped,
#                 of that block's record in the solid index, or with props that ask a
#                 dictionary above the limit under checksums made to match, or a byte
#                 of the stub's own code flipped: exit 5, nothing written
#   checksum      the PE checksum changed (the stub's own check leaves it out): exit 0
#   window        the first of them with the window: Extract shows the damaged
#                 installer's report naming a file of the block (screenshot),
#                 nothing written, the window stays open
#
# Exit 0 on success, 1 on failure, 77 (skip) when Xvfb, Wine or xdotool is missing.
set -u

if [ $# -ne 2 ] || [ ! -d "$1" ] || [ ! -d "$2" ]; then
  echo "usage: $0 BUILD_DIR SOURCE_DIR" >&2
  exit 2
fi
BUILD_DIR=$(cd "$1" && pwd)
SOURCE_DIR=$(cd "$2" && pwd)
STUB=$BUILD_DIR/src/stub/vekstub.exe
VEKPACK=$BUILD_DIR/tools/vekpack.exe
PROBE=$BUILD_DIR/tests/stub/stub_probe.exe

. "$(dirname "$0")/../support/wine-e2e.sh"
find_wine_tools
XDOTOOL=$(command -v xdotool) || { echo "SKIP: xdotool not found"; exit 77; }
for f in "$STUB" "$VEKPACK" "$PROBE"; do
  [ -f "$f" ] || { echo "FAIL: $f not built"; exit 1; }
done

WORK=$BUILD_DIR/tests/stub/solid-e2e
SHOTS=$WORK/screenshots
rm -rf "$WORK"
mkdir -p "$SHOTS"
export WINEPREFIX=$BUILD_DIR/tests/stub/solid-wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
DRIVE_C=$WINEPREFIX/drive_c

trap cleanup EXIT
start_xvfb 170
ensure_wine_prefix
keep_wine_server

start_stub() {  # name exe args...
  local name=$1 exe=$2
  shift 2
  rm -f "$WORK/$name.rc"
  (timeout 180 "$WINE" "$exe" "$@" >"$WORK/$name.log" 2>&1; echo $? >"$WORK/$name.rc") &
  STUB_PID=$!
}
expect_exit() {  # name code
  wait_for_file "$WORK/$1.rc" 120 || fail "$1: the program did not end"
  wait "$STUB_PID" 2>/dev/null
  STUB_PID=
  [ "$(cat "$WORK/$1.rc")" = "$2" ] || fail "$1: exit code $(cat "$WORK/$1.rc"), expected $2"
}
# The trees alike: bytes, times rounded down to 2 seconds, and which files are read-only.
same_tree() {  # name source installed
  diff -r "$2" "$3" >"$WORK/$1-diff.txt" 2>&1 || fail "$1: the trees differ"
  local a b
  a=$(cd "$2" && find . -type f -printf '%p %TY-%Tm-%Td %TH:%TM %TS %m\n' |
      awk '{split($4,s,"."); printf "%s %s %s %02d %s\n",$1,$2,$3,int(s[1]/2)*2,($5 ~ /^[2367]/ ? "rw" : "ro")}' | sort)
  b=$(cd "$3" && find . -type f -printf '%p %TY-%Tm-%Td %TH:%TM %TS %m\n' |
      awk '{split($4,s,"."); printf "%s %s %s %02d %s\n",$1,$2,$3,int(s[1]/2)*2,($5 ~ /^[2367]/ ? "rw" : "ro")}' | sort)
  [ "$a" = "$b" ] || fail "$1: times or read-only differ: $(diff <(echo "$a") <(echo "$b") | head -n 6)"
}

# --- The executables -------------------------------------------------------------------
cp -r "$SOURCE_DIR/examples/tarnovista" "$WORK/sample"
find "$WORK/sample" -exec touch -d '1999-03-15 10:20:30' {} +
python3 "$SOURCE_DIR/scripts/make-seed-tree.py" "$WORK/seed" >"$WORK/seed.txt"
chmod a-w "$(find "$WORK/seed" -type f | sort | head -n 1)"
pack() {  # tree exe options...
  local tree=$1 exe=$2
  shift 2
  timeout 300 "$WINE" "$VEKPACK" -q -z "$@" --stub "$(win "$STUB")" "$(win "$tree")" "$(win "$exe")" \
    >"$WORK/vekpack-$(basename "$exe").txt" 2>&1 || fail "vekpack $exe"
}
pack "$WORK/sample" "$WORK/Sample.exe"
pack "$WORK/seed" "$WORK/Seed.exe" --solid=1M
echo "packed: sample $(stat -c %s "$WORK/Sample.exe") bytes, seed $(stat -c %s "$WORK/Seed.exe") bytes"

# --- sample, seed: /S installs them whole ----------------------------------------------------
for name in Sample Seed; do
  rm -rf "${DRIVE_C:?}/$name"
  start_stub "$name" "$WORK/$name.exe" /S "/D=C:\\$name"
  expect_exit "$name" 0
  same_tree "$name" "$WORK/${name,,}" "$DRIVE_C/$name"
  chmod -R u+w "$DRIVE_C/$name"
done
echo "sample, seed: installed byte for byte with their times and read-only file, exit 0"

# --- block, record, dictionary: refused before anything is written --------------------------
python3 - "$WORK/Seed.exe" "$WORK" <<'PY' || fail "could not make the damaged executables"
import struct, sys, zlib
exe = open(sys.argv[1], "rb").read()
work = sys.argv[2]
start = exe.rfind(b"RN-VEK\x00\x02")  # the archive (the stub's bytes never hold it)
header = start + 8
count = struct.unpack_from("<H", exe, header)[0]
index = start + 56 + struct.unpack_from("<I", exe, header + 10)[0]
record = index + 8  # the first block's
stored = struct.unpack_from("<I", exe, record)[0]
# The extension block lies before the archive, found through the stub's constants:
# its size follows from the count.
block_size = 28 + 12 * count
ext = exe.rfind(b"VEK-EXT1", 0, start)
def write(name, data):
    open(f"{work}/{name}.exe", "wb").write(data)
def sealed(data):
    data = bytearray(data)
    prologue = zlib.crc32(bytes(data[start:start + 56]))
    prologue = zlib.crc32(bytes(data[index:]), prologue)
    struct.pack_into("<I", data, ext + 20, prologue)
    crc = zlib.crc32(bytes(data[ext:ext + 24]))
    crc = zlib.crc32(bytes(data[ext + 28:ext + block_size]), crc)
    struct.pack_into("<I", data, ext + 24, crc)
    return bytes(data)
flipped = bytearray(exe); flipped[start + 56 + stored + 10] ^= 0x20
write("Block", flipped)
flipped = bytearray(exe); flipped[record + 12] ^= 0x01
write("Record", flipped)
huge = bytearray(exe); struct.pack_into("<I", huge, record + 17, 1 << 30)
write("Dictionary", sealed(huge))
# A byte of the stub's own code, and one of its PE checksum, which its own check leaves out.
flipped = bytearray(exe); flipped[5000] ^= 0x01
write("Stub", flipped)
pe = struct.unpack_from("<I", exe, 0x3C)[0]
flipped = bytearray(exe); flipped[pe + 24 + 64] ^= 0x01
write("Checksum", flipped)
PY
for name in Block Record Dictionary Stub; do
  rm -rf "${DRIVE_C:?}/$name"
  start_stub "$name" "$WORK/$name.exe" /S "/D=C:\\$name"
  expect_exit "$name" 5
  [ -e "$DRIVE_C/$name" ] && fail "$name: C:\\$name was made"
done
echo "block, record, dictionary, stub: exit 5, nothing written"
rm -rf "${DRIVE_C:?}/Checksum"
start_stub Checksum "$WORK/Checksum.exe" /S "/D=C:\\Checksum"
expect_exit Checksum 0
same_tree Checksum "$WORK/seed" "$DRIVE_C/Checksum"
chmod -R u+w "$DRIVE_C/Checksum"
echo "checksum: a changed PE checksum (as signing makes) installs, exit 0"

# --- window: the damaged installer's report ---------------------------------------------------
timeout 60 "$WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d vek /f >"$WORK/reg.log" 2>&1 &&
  timeout 60 "$WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v vek /d 800x600 /f >>"$WORK/reg.log" 2>&1 ||
  fail "could not set up the virtual desktop"
DEST=$DRIVE_C/Tarnovista_3_99
rm -rf "$DEST"
start_stub window "$WORK/Block.exe"
W=$(find_window 'archiwum VEK' 60) || fail "window: no window"
keys "$W" Return
find_window '^Block$' 60 >/dev/null || fail "window: no error report"
sleep 0.5
probe window "title:Block"
has window "text=Instalator jest uszkodzony i trzeba go pobra"
grep -q '^\\' "$WORK/window.txt" || fail "window: the report names no file: $(cat "$WORK/window.txt")"
shot damaged-block
[ -e "$DEST" ] && fail "window: the destination was made"
keys "$(find_window '^Block$' 5)" Return
window_gone '^Block$' 10 || fail "window: error report still up"
probe windowafter class:TForm1
has windowafter "enabled=1"
keys "$W" alt+F4
expect_exit window 0
echo "window: the damaged installer's report naming a file of the block, nothing written"

echo "PASS: screenshots in $SHOTS"
exit 0
