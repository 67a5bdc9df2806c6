#!/usr/bin/env bash
# vek.exe under Wine against hostile names: Windows device names and names Windows
# would change are refused with "Invalid filename" before anything is written for
# them, and no device is opened (Wine's file trace names no such open); an entry's
# first names never become a network host and share, and "-C \" or "-C /" is the
# root of the current drive. Nothing appears in the prefix's drive C: outside the
# destination.
# Usage: hostile-e2e.sh VEK.EXE SOURCE-DIR SCRATCH
set -uo pipefail
vek=$(realpath "$1") src=$(realpath "$2") WORK=$(realpath -m "$3")
source "$src/tests/support/wine-e2e.sh"
find_wine_tools
rm -rf "$WORK"
mkdir -p "$WORK"
# A prefix of its own: nothing else may write into its drive C: while it runs.
export WINEPREFIX=$(dirname "$WORK")/wineprefix WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=-all
trap cleanup EXIT
ensure_wine_prefix
keep_wine_server

base=$WINEPREFIX/drive_c/vek-hostile  # C:\vek-hostile, the current folder of each run
rm -rf "$base" "$WINEPREFIX/drive_c/host"
mkdir -p "$base/in"

# archive FILE NAME... : a folder "dir" holding a file for each NAME ("dir/" first:
# a NAME ending in "/" is a folder of its own below "dir").
archive() {
  python3 - "$@" <<'PY'
import struct, sys
out, names = sys.argv[1], sys.argv[2:]
records, data = [], b""
def add(parent, kind, name, body=b""):
    global data
    r = bytearray(256)
    struct.pack_into("<HHB", r, 0, len(records) + 1, parent, kind)
    raw = name.encode("latin-1")
    r[6] = len(raw); r[7:7 + len(raw)] = raw
    if kind == 255:
        struct.pack_into("<IIiI", r, 240, 0x20, 0x26A9636E, len(body), len(data))
        data += body
    records.append(bytes(r))
    return len(records)
parent = 0
for segment in names[0].split("/"):
    parent = add(parent, 0, segment)
for name in names[1:]:
    add(parent, 255, name, b"pwned")
header = bytearray(48); struct.pack_into("<H", header, 0, len(records)); header[4] = 1
open(out, "wb").write(b"RN-VEK\x00\x01" + bytes(header) + b"".join(records) + data)
PY
}

# Every file and folder of drive C: with its time of modification, to the nanosecond
# (not of change: the other tests' copies of the prefix add hard links to its files).
drive_c_times() { (cd "$WINEPREFIX/drive_c" && find . -printf '%T@ %p\n' | sort); }

# run NAME ARGS...: vek.exe in C:\vek-hostile with Wine's file trace, which goes with
# vek's own messages to NAME.trace.log; the exit code in $rc.
run() {
  local name=$1
  shift
  drive_c_times >"$WORK/before.txt"
  (cd "$base" && WINEDEBUG=+file timeout 120 "$WINE" "$vek" "$@" >"$WORK/$name.out.txt" 2>"$WORK/$name.trace.log")
  rc=$?
}

# Nothing new or changed in drive C: since the run began but below the folders given
# (relative to drive_c).
only_below() {
  local stray
  stray=$(drive_c_times | comm -13 "$WORK/before.txt" - | cut -d' ' -f2- |
          grep -v -x -e . -e ./vek-hostile | grep -v -E "^\./($(IFS='|'; echo "$*"))(/|$)" || true)
  [ -z "$stray" ] || fail "$case: written outside the destination: $stray"
}

cases=(
  "NUL|dir|NUL" "CON|dir|con" "AUX|dir|Aux" "PRN|dir|prn" "COM1|dir|COM1" "COM9|dir|com9" "LPT1|dir|LPT1"
  "CONOUT|dir|CONOUT\$" "aux.txt|dir|aux.txt" "CON-blank-ext|dir|CON .txt" "nul-dot|dir|nul." "evil-dot|dir|evil."
  "evil-blank|dir|evil " "star|dir|a*b" "COM-folder|dir/COM2|x.txt"
)
n=0
for entry in "${cases[@]}"; do
  IFS='|' read -r case folders name <<<"$entry"
  n=$((n + 1))
  archive "$base/in/case-$n.vek" "$folders" "$name"
  rm -rf "$base/dest"
  run "$case" extract -q "in\\case-$n.vek" -C 'C:\vek-hostile\dest'
  [ "$rc" = 1 ] || fail "$case: exit $rc, expected 1"
  grep -q "^vek: Invalid filename" "$WORK/$case.trace.log" || fail "$case: no \"Invalid filename\""
  # The trace shows the opens (the archive's own, at least); none names the entry.
  grep -qF "case-$n.vek" "$WORK/$case.trace.log" || fail "$case: Wine's file trace shows no opens"
  leaf=${name%%[. ]*}
  [ "$folders" = dir/COM2 ] && leaf=COM2
  opened=$(grep -i "vek-hostile" "$WORK/$case.trace.log" | grep -iF -e "\\$leaf" -e "/$leaf" | head -3)
  [ -z "$opened" ] || fail "$case: $leaf was opened: $opened"
  [ -z "$(ls -A "$base/dest/dir" 2>/dev/null)" ] || fail "$case: written below the destination: $(ls -A "$base/dest/dir")"
  only_below vek-hostile/dest vek-hostile/in
  echo "$case: refused, nothing opened or written"
done

# Network paths: "host\share\payload.txt" below "\" or "/" lands in C:\host\share.
archive "$base/in/unc.vek" "host/share" "payload.txt"
for dest in '\' '/'; do
  case="unc-$([ "$dest" = / ] && echo slash || echo backslash)"
  rm -rf "$WINEPREFIX/drive_c/host"
  run "$case" extract -q 'in\unc.vek' -C "$dest"
  [ "$rc" = 0 ] || fail "$case: exit $rc: $(grep ^vek: "$WORK/$case.trace.log")"
  [ "$(cat "$WINEPREFIX/drive_c/host/share/payload.txt" 2>/dev/null)" = pwned ] ||
    fail "$case: payload.txt is not in C:\\host\\share"
  grep -qF 'host\\share\\payload.txt' "$WORK/$case.trace.log" || fail "$case: Wine's file trace shows no opens"
  opened=$(grep -iF -e 'UNC\' -e '"\\\\host' -e '"/\\host' -e '"\\/host' "$WORK/$case.trace.log" | head -3)
  [ -z "$opened" ] || fail "$case: a network path was opened: $opened"
  only_below host vek-hostile/in
  echo "$case: extracted to C:\\host\\share, no network path opened"
done
rm -rf "$WINEPREFIX/drive_c/host" "$base"
echo "PASS"
