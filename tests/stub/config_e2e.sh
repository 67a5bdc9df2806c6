#!/bin/bash
# End-to-end test of a publisher's configured installer under Wine in Xvfb.
#
#   tests/stub/config_e2e.sh BUILD_DIR SOURCE_DIR   (BUILD_DIR: the windows-x64 build)
#
# vekpack.exe packs SOURCE_DIR/examples/tarnovista with an English configuration whose
# folder and group are Greek, then:
#
#   list      vek.exe lists the configuration above the entries
#   window    in a virtual desktop: every configured text is on screen (screenshot),
#             Enter installs into the Greek folder, a Unicode "progman" stand-in
#             (unicode_dde_server.exe) gets the configured group and both items in
#             UTF-16, the closing message is the configured one (screenshot), exit 0
#   help      /? shows the box listing the switches and installs nothing
#   proposed  with a window, /D=PATH (blanks, Greek) is the proposed destination
#   silent    (no virtual desktop, so that every window would be an X window of its
#             own) the executable signed after packing, /S "/D=C:\Some Where\Else":
#             no window appears while it runs, the tree is there, the server got the
#             group and items for that folder, exit 0
#   nofolder  /S with a destination below a file: exit 2, nothing written
#   cut       /S on the executable cut inside its entry table: a damaged installer,
#             exit 5, nothing written
#   damaged   /S on the executable with one byte of its last file flipped: exit 5,
#             nothing written
#
# Screenshots stay in BUILD_DIR/tests/stub/config-e2e/screenshots. Exit 0 on success,
# 1 on failure, 77 (skip) when Xvfb, Wine, xdotool or osslsigncode is missing.
set -u

if [ $# -ne 2 ] || [ ! -d "$1" ] || [ ! -d "$2" ]; then
  echo "usage: $0 BUILD_DIR SOURCE_DIR" >&2
  exit 2
fi
BUILD_DIR=$(cd "$1" && pwd)
SOURCE_DIR=$(cd "$2" && pwd)
STUB=$BUILD_DIR/src/stub/vekstub.exe
VEKPACK=$BUILD_DIR/tools/vekpack.exe
VEK=$BUILD_DIR/tools/vek.exe
SERVER=$BUILD_DIR/tests/stub/unicode_dde_server.exe
PROBE=$BUILD_DIR/tests/stub/stub_probe.exe
EXAMPLES=$SOURCE_DIR/examples/tarnovista
WORK=$BUILD_DIR/tests/stub/config-e2e

. "$(dirname "$0")/../support/wine-e2e.sh"
find_wine_tools
XDOTOOL=$(command -v xdotool) || { echo "SKIP: xdotool not found"; exit 77; }
command -v osslsigncode >/dev/null || { echo "SKIP: osslsigncode not found"; exit 77; }
command -v openssl >/dev/null || { echo "SKIP: openssl not found"; exit 77; }
command -v iconv >/dev/null || { echo "SKIP: iconv not found"; exit 77; }
XEV=$(command -v xev) || { echo "SKIP: xev not found"; exit 77; }
for f in "$STUB" "$VEKPACK" "$VEK" "$SERVER" "$PROBE"; do
  [ -f "$f" ] || { echo "FAIL: $f not built"; exit 1; }
done

SHOTS=$WORK/screenshots
rm -rf "$WORK"
mkdir -p "$SHOTS"
export WINEPREFIX=$BUILD_DIR/tests/stub/wineprefix-config
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
DRIVE_C=$WINEPREFIX/drive_c
trap cleanup EXIT

start_xvfb 140
ensure_wine_prefix
keep_wine_server

# --- The configured executable -----------------------------------------------------------
CAPTION='Acme Reader 2.0 Setup'
PROMPT='Install Acme Reader into:'
FOLDER='C:\Εκδόσεις\Acme Reader'
FOOTER='Acme Reader (c) 2026 Acme Ltd.'
GROUP='Εκδόσεις Acme'
DONE='Acme Reader is installed: open it from Start, Programs, Εκδόσεις Acme.'
CONFIG=$WORK/setup.cfg
cat >"$CONFIG" <<EOF
# An English installer with a Greek folder and group.
caption = $CAPTION
prompt  = $PROMPT
folder  = $FOLDER
footer  = $FOOTER
group   = $GROUP
item    = index.htm,Acme Reader
item    = archiwum/o-pismie-i-redakcji.htm, About Acme
done    = $DONE
folder-error = The folder could not be made.
group-error  = The Start-menu group could not be made.
extract-button = &Install
quit-button    = &Cancel
EOF
EXE=$WORK/exe/AcmeReader.Setup.exe
mkdir -p "$WORK/exe"
timeout 120 "$WINE" "$VEKPACK" --stub "$(win "$STUB")" --config "$(win "$CONFIG")" \
  "$(win "$EXAMPLES")" "$(win "$EXE")" >"$WORK/vekpack.txt" 2>&1 || fail "vekpack"
echo "stub: $(stat -c %s "$STUB") bytes; $(tail -n 1 "$WORK/vekpack.txt" | tr -d '\r')"

# --- list: the configuration above the entries ----------------------------------------------
timeout 60 "$WINE" "$VEK" list "$(win "$EXE")" >"$WORK/list.txt" 2>&1 || fail "list: vek list"
tr -d '\r' <"$WORK/list.txt" >"$WORK/list-lf.txt"
for line in "caption = $CAPTION" "folder = $FOLDER" "group = $GROUP" \
            'item = archiwum\o-pismie-i-redakcji.htm,About Acme'; do
  grep -qxF "  $line" "$WORK/list-lf.txt" || fail "list: no \"$line\""
done
[ "$(grep -n '^Configuration' "$WORK/list-lf.txt" | cut -d: -f1)" -lt \
  "$(grep -n 'Id Kind' "$WORK/list-lf.txt" | cut -d: -f1)" ] || fail "list: configuration not above the entries"
echo "list: the configuration is printed above the entries"

# --- Helpers ---------------------------------------------------------------------------------
start_exe() {  # name exe args...
  local name=$1 exe=$2
  shift 2
  rm -f "$WORK/$name.rc"
  (timeout 180 "$WINE" "$exe" "$@" >"$WORK/$name.log" 2>&1; echo $? >"$WORK/$name.rc") &
  STUB_PID=$!
}
expect_exit() {
  wait_for_file "$WORK/$1.rc" 120 || fail "$1: the program did not end"
  wait "$STUB_PID" 2>/dev/null
  STUB_PID=
  [ "$(cat "$WORK/$1.rc")" = "$2" ] || fail "$1: exit code $(cat "$WORK/$1.rc"), expected $2"
}
start_server() {  # RECEIVED-FILE
  "$WINE" "$SERVER" "$(win "$1")" >"$WORK/server.log" 2>&1 &
  SERVER_PID=$!
  wait_for_file "$1.ready" 120 || fail "recording server did not get ready"
}
stop_server() {  # RECEIVED-FILE
  stop_recording_server "$1" || fail "recording server did not stop"
}
# The commands for a destination, as the server records them from a Unicode client:
# UTF-16LE, each with CR LF and its terminating zero.
expected_commands() {
  printf '[CreateGroup(%s)]\r\n\0[ShowGroup(%s,1)]\r\n\0' "$GROUP" "$GROUP"
  printf '[AddItem(%s\\index.htm,Acme Reader)]\r\n\0' "$1"
  printf '[AddItem(%s\\archiwum\\o-pismie-i-redakcji.htm,About Acme)]\r\n\0' "$1"
}
check_commands() {  # name RECEIVED destination
  expected_commands "$3" | iconv -f UTF-8 -t UTF-16LE >"$WORK/$1.expected.bin"
  cmp "$WORK/$1.expected.bin" "$2" >"$WORK/$1.cmp.txt" 2>&1 ||
    fail "$1: the server received $(iconv -f UTF-16LE -t UTF-8 "$2" 2>/dev/null | tr '\0' '|')"
}
same_tree() {  # name folder
  diff -r "$EXAMPLES" "$2" >"$WORK/$1.diff.txt" 2>&1 || fail "$1: the installed tree differs"
}

# --- window: every configured text, Greek folder and group ------------------------------------
timeout 60 "$WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d vek /f >"$WORK/reg.log" 2>&1 &&
  timeout 60 "$WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v vek /d 800x600 /f >>"$WORK/reg.log" 2>&1 ||
  fail "could not set up the virtual desktop"
GREEK_DEST=$DRIVE_C/Εκδόσεις/Acme\ Reader
rm -rf "$DRIVE_C/Εκδόσεις"
RECEIVED=$WORK/window.bin
start_server "$RECEIVED"
start_exe window "$EXE"
MAIN=$(find_window "^$CAPTION\$" 60) || fail "window: no window"
sleep 1
probe dialog class:TForm1
has dialog "title=$CAPTION enabled=1"
has dialog "text=$PROMPT"
has dialog "text=$FOLDER"
has dialog "text=$FOOTER"
has dialog "text=&Install"
has dialog "text=&Cancel"
shot configured-dialog
keys "$MAIN" Return
find_window '^Information$' 60 >/dev/null || fail "window: no closing message"
sleep 0.5
probe closing title:Information
has closing "text=$DONE"
shot configured-closing
same_tree window "$GREEK_DEST"
keys "$(find_window '^Information$' 5)" Return
expect_exit window 0
stop_server "$RECEIVED"
check_commands window "$RECEIVED" "$FOLDER"
echo "window: every configured text shown, installed into $FOLDER, group and items in UTF-16, exit 0"

# --- help: /? lists the switches ----------------------------------------------------------------
rm -rf "$DRIVE_C/Εκδόσεις"
start_exe help "$EXE" '/?'
find_window "^$CAPTION\$" 60 >/dev/null || fail "help: no box"
sleep 0.5
probe help "title:$CAPTION"
has help "/S"
has help "/D=PATH"
shot switches
keys "$(find_window "^$CAPTION\$" 5)" Return
expect_exit help 0
[ -e "$DRIVE_C/Εκδόσεις" ] && fail "help: something was installed"
echo "help: the box lists the switches, nothing installed"

# --- proposed: /D with a window ----------------------------------------------------------------
start_exe proposed "$EXE" '/D=C:\Άλλος Φάκελος\Acme'
W=$(find_window "^$CAPTION\$" 60) || fail "proposed: no window"
sleep 1
probe proposed class:TForm1
has proposed 'text=C:\Άλλος Φάκελος\Acme'
keys "$W" alt+F4
expect_exit proposed 0
echo "proposed: /D=PATH fills the destination of the window"

# --- The same executable signed after packing ----------------------------------------------------
KEYS=$WORK/keys
mkdir -p "$KEYS"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=VEK test publisher" \
  -addext "extendedKeyUsage=codeSigning" \
  -keyout "$KEYS/key.pem" -out "$KEYS/cert.pem" >"$WORK/openssl.txt" 2>&1 || fail "openssl"
SIGNED=$WORK/exe/AcmeReader.Signed.exe
osslsigncode sign -certs "$KEYS/cert.pem" -key "$KEYS/key.pem" -n "Acme Reader" -h sha256 \
  -in "$EXE" -out "$SIGNED" >"$WORK/sign.txt" 2>&1 || fail "osslsigncode sign"
osslsigncode verify -CAfile "$KEYS/cert.pem" "$SIGNED" >"$WORK/verify.txt" 2>&1 ||
  fail "the signature does not verify"
timeout 60 "$WINE" "$VEK" list "$(win "$SIGNED")" 2>&1 | tr -d '\r' | grep -qxF "  group = $GROUP" ||
  fail "signed: vek list shows no configuration"

# --- silent: no window, /D with blanks -----------------------------------------------------------
# Without the virtual desktop every top-level window the program shows is an X window.
timeout 30 "$WINESERVER" -k >/dev/null 2>&1
timeout 60 "$WINE" reg delete 'HKCU\Software\Wine\Explorer' /v Desktop /f >>"$WORK/reg.log" 2>&1 ||
  fail "could not leave the virtual desktop"
timeout 30 "$WINESERVER" -w >/dev/null 2>&1
keep_wine_server
SILENT_DEST=$DRIVE_C/Some\ Where/Else
rm -rf "$DRIVE_C/Some Where"
RECEIVED=$WORK/silent.bin
start_server "$RECEIVED"
# xev reports every window mapped (shown) on the display while the program runs, however
# briefly; xdotool also looks for visible windows now and then.
"$XEV" -root -event substructure >"$WORK/xev.txt" 2>&1 &
XEV_PID=$!
sleep 1
"$XDOTOOL" search --onlyvisible --name '' 2>/dev/null | sort >"$WORK/windows-before.txt"
start_exe silent "$SIGNED" /S '/D=C:\Some Where\Else'
: >"$WORK/windows-during.txt"
while [ ! -e "$WORK/silent.rc" ]; do
  "$XDOTOOL" search --onlyvisible --name '' 2>/dev/null >>"$WORK/windows-during.txt"
  sleep 0.05
done
sleep 1
kill "$XEV_PID" 2>/dev/null
wait "$XEV_PID" 2>/dev/null
grep -q 'MapNotify' "$WORK/xev.txt" &&
  fail "silent: a window was mapped: $(grep -A2 'MapNotify' "$WORK/xev.txt" | head -n 6)"
sort -u "$WORK/windows-during.txt" | comm -13 "$WORK/windows-before.txt" - >"$WORK/windows-new.txt"
[ -s "$WORK/windows-new.txt" ] && fail "silent: windows appeared: $(cat "$WORK/windows-new.txt")"
expect_exit silent 0
same_tree silent "$SILENT_DEST"
stop_server "$RECEIVED"
check_commands silent "$RECEIVED" 'C:\Some Where\Else'
echo "silent: signed executable, /S /D=C:\\Some Where\\Else installed, exit 0; no window mapped on the display meanwhile"

# --- nofolder: a destination that cannot be made ---------------------------------------------------
echo blocker >"$DRIVE_C/blocker"
touch "$WORK/marker"
sleep 1
start_exe nofolder "$SIGNED" /S '/D=C:\blocker\Acme'
expect_exit nofolder 2
find "$DRIVE_C" -path "$DRIVE_C/windows" -prune -o -path "$DRIVE_C/users" -prune -o \
  -newer "$WORK/marker" -print >"$WORK/nofolder-new.txt"
[ -s "$WORK/nofolder-new.txt" ] && fail "nofolder: written: $(cat "$WORK/nofolder-new.txt")"
[ "$(cat "$DRIVE_C/blocker")" = blocker ] || fail "nofolder: the file in the way changed"
echo "nofolder: exit 2, nothing written"

# --- cut and damaged: the checksums refuse them before anything is written -------------------------
CUT=$WORK/cut/AcmeReader.Setup.exe
mkdir -p "$WORK/cut"
START=$(sed -n 's/^Start: *\([0-9]*\).*/\1/p' "$WORK/list-lf.txt")
head -c $((START + 56 + 256 * 3 + 100)) "$EXE" >"$CUT"
rm -rf "$DRIVE_C/Cut"
start_exe cut "$CUT" /S '/D=C:\Cut'
expect_exit cut 5
[ -e "$DRIVE_C/Cut" ] && fail "cut: C:\\Cut was made"
echo "cut: exit 5, nothing written"

DAMAGED=$WORK/damaged/AcmeReader.Setup.exe
mkdir -p "$WORK/damaged"
python3 - "$EXE" "$DAMAGED" <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
data[-10] ^= 0x20
open(sys.argv[2], "wb").write(data)
PY
rm -rf "$DRIVE_C/Damaged"
start_exe damaged "$DAMAGED" /S '/D=C:\Damaged'
expect_exit damaged 5
[ -e "$DRIVE_C/Damaged" ] && fail "damaged: C:\\Damaged was made"
echo "damaged: exit 5, nothing written"

echo "PASS: screenshots in $SHOTS"
exit 0
