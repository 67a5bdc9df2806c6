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
#             Enter installs into the Greek folder, the Greek group reaches Wine's
#             shell not over DDE (ASCII only goes there) but as the stub's own folder
#             and UTF-16 shortcuts, named as configured and pointing at the items; the
#             closing message is the configured one (screenshot), exit 0
#   help      /? shows the box listing the switches and installs nothing
#   proposed  with a window, /D=PATH (blanks, Greek) is the proposed destination; Alt+F4
#             ends it with exit 8 and nothing installed
#   quit      Quit (Alt+C, its configured accelerator) ends with exit 8, nothing installed
#   signed    the executable signed after packing: vek.exe lists its configuration and
#             its version information; the publisher's icon (configured-dialog.png
#             shows it in the title bar) is in it, as packed, byte for byte
#   known     folder = {localappdata}\Programs\...: the window shows it resolved and
#             installs there, the shortcut in the user's Start menu, and after the
#             closing message opens index.htm with the prefix's program for .htm (a
#             stand-in that writes down its argument); {programfiles} with /S, which
#             opens nothing, and /LOG=C:\setup.log, which lists every folder and file
#             and the exit code
#   silent    (no virtual desktop, so that every window would be an X window of its
#             own) the executable signed after packing, /S "/D=C:\Some Where\Else":
#             no window appears while it runs, the tree is there, the shortcuts point
#             into that folder, exit 0
#   nofolder  /S with a destination below a file: exit 2, nothing written
#   rights    C:\locked immutable (chattr +i, which refuses root too; skipped where
#             chattr cannot): /S into C:\locked\Acme and into C:\locked\there (which is
#             there, also immutable) exit 9; with a window the message names the folder
#             (screenshot); Quit then exits 8; nothing written
#   cut       /S on the executable cut inside its entry table: a damaged installer,
#             exit 5, nothing written
#   damaged   /S on the executable with one byte of its last file flipped: exit 5,
#             nothing written
#   names     /S with only Wine's own shell, one after the other in the same prefix: a
#             Polish group and item, a Greek group and item, an ASCII group with a
#             Polish item, a group with parentheses and brackets and an item with
#             parentheses and a comma: each exit 0 with the group folder and its shortcut named
#             intact and pointing at the item; /S /? exits 0 showing nothing; no
#             window mapped on the display throughout
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
for f in "$STUB" "$VEKPACK" "$VEK" "$PROBE"; do
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
publisher = Acme Ltd.
version   = 2.0.1
icon      = acme.ico
EOF
python3 "$SOURCE_DIR/src/stub/makeicon.py" "$SOURCE_DIR/tests/stub/acme-icon.txt" "$WORK/acme.ico" ||
  fail "could not make acme.ico"
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
  STARTED=("$name" "$exe" "$@")
  rm -f "$WORK/$name.rc"
  (timeout 180 "$WINE" "$exe" "$@" >"$WORK/$name.log" 2>&1; echo $? >"$WORK/$name.rc") &
  STUB_PID=$!
}
# Sets WINDOW to the id of the first window of the program start_exe started last
# whose title matches $1, within 60 s (not in $(...): it may start the program again).
# Under load Wine's desktop process, ending after the program before, can take the next
# one down as it makes its first window (an X BadWindow error, the program gone without
# a window): such a program is started once more.
started_window() {  # title-regex
  local i again=1
  for ((i = 0; i < 30; i++)); do
    WINDOW=$(find_window "$1" 2) && return 0
    if ((again)) && [ -e "$WORK/${STARTED[0]}.rc" ] && grep -q BadWindow "$WORK/${STARTED[0]}.log"; then
      echo "${STARTED[0]}: Wine's desktop took the program down as it started; once more" >&2
      wait "$STUB_PID" 2>/dev/null
      again=0
      start_exe "${STARTED[@]}"
    fi
  done
  return 1
}
expect_exit() {
  wait_for_file "$WORK/$1.rc" 120 || fail "$1: the program did not end"
  wait "$STUB_PID" 2>/dev/null
  STUB_PID=
  [ "$(cat "$WORK/$1.rc")" = "$2" ] || fail "$1: exit code $(cat "$WORK/$1.rc"), expected $2"
}
PROGRAMS=$(find "$WINEPREFIX/drive_c/users" -type d -path '*/Start Menu/Programs' | head -n 1)
[ -n "$PROGRAMS" ] || fail "no Start Menu/Programs folder in the prefix"
# Whether the shortcut $2 is there and points at target $3: the link keeps the target
# as one UTF-16 name per folder (its ANSI copy is lossy) and the working folder, the
# target's own, whole in UTF-16.
check_shortcut() {  # name LNK target
  [ -f "$2" ] || fail "$1: no ${2#"$PROGRAMS"/}: $(cd "$PROGRAMS" && find . | tr '\n' ' ')"
  python3 - "$2" "$3" <<'PY' || fail "$1: ${2#"$PROGRAMS"/} does not point at $3"
import sys
data, target = open(sys.argv[1], "rb").read(), sys.argv[2]
parts = [target.rsplit("\\", 1)[0]] + target.split("\\")[1:]
sys.exit(0 if all(p.encode("utf-16-le") in data for p in parts) else 1)
PY
}
check_shortcuts() {  # name destination
  check_shortcut "$1" "$PROGRAMS/$GROUP/Acme Reader.lnk" "$2\\index.htm"
  check_shortcut "$1" "$PROGRAMS/$GROUP/About Acme.lnk" "$2\\archiwum\\o-pismie-i-redakcji.htm"
}
same_tree() {  # name folder
  diff -r "$EXAMPLES" "$2" >"$WORK/$1.diff.txt" 2>&1 || fail "$1: the installed tree differs"
}

# --- window: every configured text, Greek folder and group ------------------------------------
timeout 60 "$WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d vek /f >"$WORK/reg.log" 2>&1 &&
  timeout 60 "$WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v vek /d 800x600 /f >>"$WORK/reg.log" 2>&1 ||
  fail "could not set up the virtual desktop"
GREEK_DEST=$DRIVE_C/Εκδόσεις/Acme\ Reader
rm -rf "$DRIVE_C/Εκδόσεις" "$PROGRAMS/$GROUP"
start_exe window "$EXE"
started_window "^$CAPTION\$" || fail "window: no window"
MAIN=$WINDOW
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
check_shortcuts window "$FOLDER"
echo "window: every configured text shown, installed into $FOLDER, the Greek group's shortcuts written, exit 0"

# --- help: /? lists the switches ----------------------------------------------------------------
rm -rf "$DRIVE_C/Εκδόσεις"
start_exe help "$EXE" '/?'
started_window "^$CAPTION\$" || fail "help: no box"
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
started_window "^$CAPTION\$" || fail "proposed: no window"
W=$WINDOW
sleep 1
probe proposed class:TForm1
has proposed 'text=C:\Άλλος Φάκελος\Acme'
keys "$W" alt+F4
expect_exit proposed 8
[ -e "$DRIVE_C/Άλλος Φάκελος" ] && fail "proposed: something was installed"
echo "proposed: /D=PATH fills the destination of the window; Alt+F4 exits 8"

# --- quit: the configured Quit button -----------------------------------------------------------
start_exe quit "$EXE" '/D=C:\Quit Here'
started_window "^$CAPTION\$" || fail "quit: no window"
sleep 1
keys "$WINDOW" alt+c
expect_exit quit 8
[ -e "$DRIVE_C/Quit Here" ] && fail "quit: something was installed"
echo "quit: Quit ends with exit 8, nothing installed"

# --- known: folders by name, resolved in the prefix ----------------------------------------------
USER_DIR=${PROGRAMS%/AppData/*}
LOCAL_WIN="C:\\users\\$(basename "$USER_DIR")\\AppData\\Local"
mkdir -p "$WORK/known"
for place in 'localappdata}\Programs' 'programfiles}'; do
  name=${place%%\}*}
  printf 'caption = Acme Known\nfolder = {%s\\Acme Known\ngroup = Acme Łódź\nitem = index.htm,Acme\nopen = index.htm\n' \
    "$place" >"$WORK/known/$name.cfg"
  timeout 120 "$WINE" "$VEKPACK" --stub "$(win "$STUB")" --config "$(win "$WORK/known/$name.cfg")" \
    "$(win "$EXAMPLES")" "$(win "$WORK/known/$name.exe")" >"$WORK/known/vekpack-$name.txt" 2>&1 ||
    fail "known: vekpack $name"
done
KNOWN_DEST=$USER_DIR/AppData/Local/Programs/Acme\ Known
rm -rf "$KNOWN_DEST" "$PROGRAMS/Acme Łódź" "$DRIVE_C/opened.txt"
# The prefix's program for .htm: a stand-in that writes down what it was given.
timeout 60 "$WINE" reg add 'HKCR\.htm' /ve /d vektest.htm /f >>"$WORK/reg.log" 2>&1 &&
  timeout 60 "$WINE" reg add 'HKCR\vektest.htm\shell\open\command' /ve \
    /d 'C:\windows\system32\cmd.exe /c echo %1>C:\opened.txt' /f >>"$WORK/reg.log" 2>&1 ||
  fail "known: could not register the stand-in for .htm"
start_exe known "$WORK/known/localappdata.exe"
started_window '^Acme Known$' || fail "known: no window"
W=$WINDOW
sleep 1
probe known class:TForm1
has known "text=$LOCAL_WIN\\Programs\\Acme Known"
shot known-folder
keys "$W" Return
find_window '^Information$' 60 >/dev/null || fail "known: no closing message"
same_tree known "$KNOWN_DEST"
sleep 1
[ -e "$DRIVE_C/opened.txt" ] && fail "known: index.htm opened before the closing message was read"
keys "$(find_window '^Information$' 5)" Return
expect_exit known 0
for ((i = 0; i < 150; i++)); do
  grep -qF "$LOCAL_WIN\\Programs\\Acme Known\\index.htm" "$DRIVE_C/opened.txt" 2>/dev/null && break
  sleep 0.2
done
[ $i -lt 150 ] || fail "known: index.htm was not opened ($(cat "$DRIVE_C/opened.txt" 2>&1))"
rm -f "$DRIVE_C/opened.txt"
check_shortcut known "$PROGRAMS/Acme Łódź/Acme.lnk" "$LOCAL_WIN\\Programs\\Acme Known\\index.htm"
rm -rf "$DRIVE_C/Program Files/Acme Known"
rm -f "$DRIVE_C/setup.log"
start_exe knownsilent "$WORK/known/programfiles.exe" /S '/LOG=C:\setup.log'
expect_exit knownsilent 0
same_tree knownsilent "$DRIVE_C/Program Files/Acme Known"
# The log: the destination, every folder and file of the sample, the exit code.
tr -d '\r' <"$DRIVE_C/setup.log" >"$WORK/known/setup.log" || fail "knownsilent: no log"
(echo "destination C:\\Program Files\\Acme Known: ok"
 cd "$EXAMPLES" && find . -mindepth 1 | sed 's|^\.||; s|/|\\|g' | sort | sed 's|^|C:\\Program Files\\Acme Known|'
 echo "exit code 0") >"$WORK/known/expected-log.txt"
{ head -n 1 "$WORK/known/setup.log"
  sed '1d;$d' "$WORK/known/setup.log" | sed 's/^\(file\|folder\) \(.*\): ok$/\2/' | sort
  tail -n 1 "$WORK/known/setup.log"; } >"$WORK/known/got-log.txt"
cmp -s "$WORK/known/expected-log.txt" "$WORK/known/got-log.txt" ||
  fail "knownsilent: the log differs: $(diff "$WORK/known/expected-log.txt" "$WORK/known/got-log.txt" | head -n 5)"
sleep 2
[ -e "$DRIVE_C/opened.txt" ] && fail "knownsilent: /S opened index.htm"
echo "known: {localappdata} shown resolved and installed into $KNOWN_DEST, index.htm opened after the closing" \
  "message; {programfiles} with /S, nothing opened, every file in /LOG=C:\\setup.log; exit 0"

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
timeout 60 "$WINE" "$VEK" list "$(win "$SIGNED")" >"$WORK/list-signed.txt" 2>&1 || fail "signed: vek list"
tr -d '\r' <"$WORK/list-signed.txt" | grep -qxF "  group = $GROUP" || fail "signed: vek list shows no configuration"
# The version information, set in the stub's resource, is still there once signed.
for line in "(file)           2.0.1.0" "CompanyName      Acme Ltd." "ProductName      $CAPTION"; do
  tr -d '\r' <"$WORK/list-signed.txt" | grep -qxF "  $line" || fail "signed: vek list shows no \"$line\""
done

# The publisher's icon too: signing set the header's checksum and certificate table
# and appended the signature, and changed nothing else.
python3 - "$WORK/acme.ico" "$EXE" "$SIGNED" <<'PY' || fail "signed: the icon's images changed or are missing"
import struct, sys
ico, unsigned, signed = (bytearray(open(p, "rb").read()) for p in sys.argv[1:4])
images = [ico[o:o + n] for n, o in (struct.unpack_from("<II", ico, 6 + 16 * i + 8)
                                    for i in range(struct.unpack_from("<H", ico, 4)[0]))]
optional = struct.unpack_from("<I", signed, 0x3C)[0] + 24
head = signed[:len(unsigned)]
for at, size in ((optional + 64, 4), (optional + 112 + 4 * 8, 8)):
    head[at:at + size] = unsigned[at:at + size]
sys.exit(0 if head == unsigned and all(image in unsigned for image in images) else 1)
PY
echo "signed: the configuration, the version information and the icon are there once signed"

# --- silent: no window, /D with blanks -----------------------------------------------------------
# Without the virtual desktop every top-level window the program shows is an X window.
timeout 30 "$WINESERVER" -k >/dev/null 2>&1
timeout 60 "$WINE" reg delete 'HKCU\Software\Wine\Explorer' /v Desktop /f >>"$WORK/reg.log" 2>&1 ||
  fail "could not leave the virtual desktop"
timeout 30 "$WINESERVER" -w >/dev/null 2>&1
keep_wine_server
SILENT_DEST=$DRIVE_C/Some\ Where/Else
rm -rf "$DRIVE_C/Some Where" "$PROGRAMS/$GROUP"
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
check_shortcuts silent 'C:\Some Where\Else'
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

# --- rights: folders the user may not make or write -------------------------------------------------
# Root writes past permission bits; an immutable folder refuses even root, and Wine
# reports that as access denied, as Windows does a folder of the administrators'.
LOCKED=$DRIVE_C/locked
mkdir -p "$LOCKED/there"
if chattr +i "$LOCKED/there" "$LOCKED" 2>/dev/null; then
  trap 'chattr -i "$LOCKED" "$LOCKED/there" 2>/dev/null; cleanup' EXIT
  start_exe rights "$SIGNED" /S '/D=C:\locked\Acme'
  expect_exit rights 9
  start_exe rights-there "$SIGNED" /S '/D=C:\locked\there'
  expect_exit rights-there 9
  start_exe rights-window "$EXE" '/D=C:\locked\Acme'
  started_window "^$CAPTION\$" || fail "rights: no window"
  sleep 1
  keys "$WINDOW" Return
  find_window '^Error$' 60 >/dev/null || fail "rights: no message"
  sleep 0.5
  probe rights title:Error
  has rights "text=You may not write to this folder."
  has rights 'C:\locked\Acme'
  shot rights-message
  keys "$(find_window '^Error$' 5)" Return
  sleep 0.5
  keys "$(find_window "^$CAPTION\$" 5)" alt+c
  expect_exit rights-window 8
  chattr -i "$LOCKED" "$LOCKED/there"
  trap cleanup EXIT
  [ "$(cd "$LOCKED" && find . | tr '\n' ' ')" = ". ./there " ] || fail "rights: written: $(cd "$LOCKED" && find .)"
  echo "rights: a folder that cannot be made and one that cannot be written: exit 9 (/S), the message, nothing written"
else
  echo "rights: SKIP (chattr +i refused: no immutable folder to try)"
fi

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

# --- names: only Wine's own shell, names outside ASCII, one install after the other -----------
mkdir -p "$WORK/names"
"$XEV" -root -event substructure >"$WORK/xev-names.txt" 2>&1 &
XEV_PID=$!
sleep 1
start_exe nameshelp "$EXE" /S '/?'
expect_exit nameshelp 0
n=0
for pair in 'Zażółć gęślą|Jaźń' 'Εκδόσεις|Οδηγός' 'Acme Tools|Łódź' 'Acme (64-bit) [beta]|Reader (HTML), 3.11'; do
  n=$((n + 1))
  group=${pair%%|*} item=${pair#*|}
  printf 'group = %s\nitem = index.htm,%s\n' "$group" "$item" >"$WORK/names/$n.cfg"
  timeout 120 "$WINE" "$VEKPACK" --stub "$(win "$STUB")" --config "$(win "$WORK/names/$n.cfg")" \
    "$(win "$EXAMPLES")" "$(win "$WORK/names/$n.exe")" >"$WORK/names/vekpack-$n.txt" 2>&1 || fail "names: vekpack $n"
  rm -rf "$PROGRAMS/$group" "$DRIVE_C/names$n"
  start_exe "names$n" "$WORK/names/$n.exe" /S "/D=C:\\names$n"
  expect_exit "names$n" 0
  [ -d "$PROGRAMS/$group" ] || fail "names: no group folder $group"
  check_shortcut "names$n" "$PROGRAMS/$group/$item.lnk" "C:\\names$n\\index.htm"
done
sleep 1
kill "$XEV_PID" 2>/dev/null
wait "$XEV_PID" 2>/dev/null
grep -q 'MapNotify' "$WORK/xev-names.txt" &&
  fail "names: a window was mapped: $(grep -A2 'MapNotify' "$WORK/xev-names.txt" | head -n 6)"
# A folder window of one of these groups (other tests' installers, beside this one,
# have shells of their own that open theirs).
ps -eo args | grep -qE '[e]xplorer\.exe C:.*(Zażółć gęślą|Εκδόσεις|Acme Tools|Acme \(64-bit\))' &&
  fail "names: a folder window was opened"
echo "names: /S /? showed nothing; Polish, Greek, ASCII-with-Polish and bracketed groups each installed with exit 0," \
  "their folder and shortcut named intact; no window mapped"

echo "PASS: screenshots in $SHOTS"
exit 0
