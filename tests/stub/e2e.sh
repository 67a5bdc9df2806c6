#!/bin/bash
# End-to-end test of the Windows stub under Wine in Xvfb.
#
#   tests/stub/e2e.sh BUILD_DIR SOURCE_DIR      (BUILD_DIR: the windows-x64 build)
#
# vekpack.exe packs SOURCE_DIR/examples/tarnovista behind vekstub.exe into
# TARNOVISTA.Setup.exe; every run below starts it in a Wine prefix of its own whose
# programs all run in an 800x600 virtual desktop (so that screenshots show title bars)
# and drives it with xdotool, reading what the windows show with stub_probe.exe:
#
#   main       the dialog as started (screenshot), Enter, the tree equals the source
#              in bytes and times, the recording "progman" server got the three
#              commands, the closing message is up (screenshot), OK: exit code 0
#   quit       Alt+K (Quit), the close box, Alt+F4 after Esc: exit 0, nothing written
#   dpichange  stub_dpichange.exe, told that its monitor went to 144 pixels per inch
#              (Wine never says so): its controls are laid out again for 144
#   empty      an empty destination, then "\", "\\\" and "/" typed into the same
#              window: the sub-folder message each time, nothing written anywhere
#   blocked    a folder where index.htm goes: "File access denied." (screenshot);
#              after it is removed a second Extract completes
#   readonly   a read-only index.htm: "File access denied." when Wine refuses it as
#              Windows does (as root it may not: then reported and passed over)
#   truncated  the executable cut inside its entry table: the report of a damaged
#              installer (its checksums), nothing written
#   cutdata    the executable cut inside its last file's data: the damaged
#              installer's report naming that file, no closing message, the window
#              stays open, nothing written, and a second Extract gives the same report
#   shortcut   stub_noshell.exe, whose DDE connects are all refused, packed the same
#              way: the stub itself writes Start Menu\Programs\NWM Tarnovista\
#              Tarnovista 3_99.lnk to C:\Tarnovista_3_99\INDEX.HTM, starting in
#              C:\Tarnovista_3_99; the closing message (screenshot), exit code 0
#   nogroup    stub_noshell.exe with "nolinks", whose shortcuts also fail: the group
#              message (screenshot) instead of the closing one, the window stays open
#   wineshell  no server of ours, only Wine's own shell: it takes the group on its
#              documented topic and writes that shortcut itself; the closing message
#              (screenshot), exit code 0 (last: the shell leaves a folder window open)
#
# The same executable signed after packing: signed_e2e.sh.
#
# Screenshots stay in BUILD_DIR/tests/stub/e2e/screenshots. Exit 0 on success, 1 on
# failure, 77 (skip) when Xvfb, Wine or xdotool is missing.
set -u

if [ $# -ne 2 ] || [ ! -d "$1" ] || [ ! -d "$2" ]; then
  echo "usage: $0 BUILD_DIR SOURCE_DIR" >&2
  exit 2
fi
BUILD_DIR=$(cd "$1" && pwd)
SOURCE_DIR=$(cd "$2" && pwd)
STUB=$BUILD_DIR/src/stub/vekstub.exe
VEKPACK=$BUILD_DIR/tools/vekpack.exe
SERVER=$BUILD_DIR/tests/startmenu/dde_recording_server.exe
PROBE=$BUILD_DIR/tests/stub/stub_probe.exe
NOSHELL_STUB=$BUILD_DIR/tests/stub/stub_noshell.exe
DPI_STUB=$BUILD_DIR/tests/stub/stub_dpichange.exe
EXAMPLES=$SOURCE_DIR/examples/tarnovista

. "$(dirname "$0")/../support/wine-e2e.sh"
find_wine_tools
XDOTOOL=$(command -v xdotool) || { echo "SKIP: xdotool not found"; exit 77; }
for f in "$STUB" "$VEKPACK" "$SERVER" "$PROBE" "$NOSHELL_STUB" "$DPI_STUB"; do
  [ -f "$f" ] || { echo "FAIL: $f not built"; exit 1; }
done

WORK=$BUILD_DIR/tests/stub/e2e
SHOTS=$WORK/screenshots
rm -rf "$WORK"
mkdir -p "$SHOTS"
# A prefix of our own: it is set to run every program in a virtual desktop.
export WINEPREFIX=$BUILD_DIR/tests/stub/wineprefix
export WINEDEBUG=-all
# winemenubuilder would copy Start-menu shortcuts into the desktop's own menus.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
DEST=$WINEPREFIX/drive_c/Tarnovista_3_99

trap cleanup EXIT

# --- Display and prefix --------------------------------------------------------------
start_xvfb 70
ensure_wine_prefix
keep_wine_server
timeout 60 "$WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d vek /f >"$WORK/reg.log" 2>&1 &&
  timeout 60 "$WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v vek /d 800x600 /f >>"$WORK/reg.log" 2>&1 ||
  fail "could not set up the virtual desktop"

# --- The self-extracting executable -----------------------------------------------------
EXE_DIR=$WORK/exe
mkdir -p "$EXE_DIR"
EXE=$EXE_DIR/TARNOVISTA.Setup.exe
timeout 120 "$WINE" "$VEKPACK" --stub "$(win "$STUB")" "$(win "$EXAMPLES")" "$(win "$EXE")" \
  >"$WORK/vekpack.txt" 2>&1 || fail "vekpack"
[ -f "$EXE" ] || fail "vekpack wrote nothing"
STUB_SIZE=$(stat -c %s "$STUB")
PACKED_SIZE=$(stat -c %s "$EXE")
echo "stub: $STUB_SIZE bytes; $(tail -n 1 "$WORK/vekpack.txt" | tr -d '\r')"

# --- Helpers to run and drive it -----------------------------------------------------------

# Starts an executable (default: EXE) with the arguments after it in the background;
# its exit code goes to $WORK/$1.rc.
start_stub() {
  local name=$1 exe=${2:-$EXE}
  shift
  [ $# -gt 0 ] && shift
  rm -f "$WORK/$name.rc"
  (timeout 180 "$WINE" "$exe" "$@" >"$WORK/$name.log" 2>&1; echo $? >"$WORK/$name.rc") &
  STUB_PID=$!
}

# Waits for the stub to end and checks its exit code.
expect_exit() {
  local name=$1 code=$2
  wait_for_file "$WORK/$name.rc" 60 || fail "$name: the program did not end"
  wait "$STUB_PID" 2>/dev/null
  STUB_PID=
  local rc
  rc=$(cat "$WORK/$name.rc")
  [ "$rc" = "$code" ] || fail "$name: exit code $rc, expected $code"
}

MAIN_NAME='archiwum VEK'
CAPTION='Samorozpakowujące się archiwum VEK.'
CLOSING='Aby rozpocząć czytanie off-line NWM Tarnovista 3/99, wybierz Start/Programy/NWM Tarnovista/Tarnovista 3_99'
# Control identifiers of the main window.
ID_PB=102 ID_DE=103

# --- main: the whole installation ----------------------------------------------------------
rm -rf "$DEST"
RECEIVED=$WORK/received.bin
"$WINE" "$SERVER" "$(win "$RECEIVED")" >"$WORK/server.log" 2>&1 &
SERVER_PID=$!
wait_for_file "$RECEIVED.ready" 120 || fail "recording server did not get ready"

start_stub main
MAIN=$(find_window "$MAIN_NAME" 120) || fail "main: no window"
sleep 1
probe dialog class:TForm1
has dialog "title=$CAPTION enabled=1"
has dialog "text=Podaj katalog docelowy dla NWM Tarnovista 3/99:"
has dialog "text=C:\\Tarnovista_3_99"
has dialog "selection $ID_DE 0 18"
has dialog "focus $ID_DE"
has dialog "text=0%"
has dialog "text=&Rozpakuj"
has dialog "text=&Koniec"
shot dialog

keys "$MAIN" Return
find_window '^Information$' 60 >/dev/null || fail "main: no closing message"
sleep 0.5
probe closing title:Information
has closing "text=$CLOSING"
probe during class:TForm1
has during "enabled=0"
has during "text=100%"
shot closing

# The tree: the same files and folders with the same bytes; each file's time is its
# source's, to the 2 seconds of an MS-DOS time stamp.
diff -r "$EXAMPLES" "$DEST" >"$WORK/diff.txt" 2>&1 || fail "main: extracted tree differs"
while IFS= read -r -d '' f; do
  rel=${f#"$EXAMPLES"/}
  src=$(stat -c %Y "$f")
  got=$(stat -c %Y "$DEST/$rel")
  [ "$got" -eq $((src - src % 2)) ] || fail "main: $rel modified $got, source $src"
done < <(find "$EXAMPLES" -type f -print0)

BOX=$(find_window '^Information$' 5) || fail "main: closing message gone"
keys "$BOX" Return
expect_exit main 0
window_gone "$MAIN_NAME" 10 || fail "main: window still there"

stop_recording_server "$RECEIVED" || fail "recording server did not stop"
printf '[CreateGroup(NWM Tarnovista)]\r\n\0[ShowGroup(NWM Tarnovista,1)]\r\n\0[AddItem(C:\\Tarnovista_3_99\\INDEX.HTM,Tarnovista 3_99)]\r\n\0' \
  >"$WORK/expected.bin"
cmp "$WORK/expected.bin" "$RECEIVED" >"$WORK/cmp.txt" 2>&1 ||
  fail "main: the server received other bytes: $(od -c "$RECEIVED" 2>/dev/null | head -n 8)"
echo "main: extracted $(find "$DEST" -type f | wc -l) files, times kept, three DDE commands, exit 0"

# The runs up to the Start-menu ones register with a recording server too: Wine's own
# shell, which answers ShowGroup with a folder window of its own, stays out of them.
RECEIVED_REST=$WORK/received-rest.bin
"$WINE" "$SERVER" "$(win "$RECEIVED_REST")" >"$WORK/server-rest.log" 2>&1 &
SERVER_PID=$!
wait_for_file "$RECEIVED_REST.ready" 120 || fail "second recording server did not get ready"

# --- quit: Alt+K, the close box, Esc then Alt+F4 ---------------------------------------------
rm -rf "$DEST"
start_stub quit
W=$(find_window "$MAIN_NAME" 60) || fail "quit: no window"
keys "$W" alt+k
expect_exit quit 0

start_stub closebox
W=$(find_window "$MAIN_NAME" 60) || fail "closebox: no window"
sleep 1
probe closebox class:TForm1
read -r X Y < <(sed -n 's/^closebox \([0-9-]*\) \([0-9-]*\)$/\1 \2/p' "$WORK/closebox.txt")
[ -n "${X:-}" ] || fail "closebox: no close box position"
"$XDOTOOL" mousemove --sync "$X" "$Y" click 1
expect_exit closebox 0

start_stub altf4
W=$(find_window "$MAIN_NAME" 60) || fail "altf4: no window"
keys "$W" Escape
sleep 1
probe afteresc class:TForm1  # Esc does nothing: the window is still there
keys "$W" alt+F4
expect_exit altf4 0
[ -e "$DEST" ] && fail "quit: something was written"
echo "quit: Alt+K, close box and Alt+F4 end with 0 and write nothing; Esc does nothing"

# --- dpichange: told that its monitor went to 144 pixels per inch, it is laid out again ----
DPI_EXE=$EXE_DIR/dpichange/TARNOVISTA.Setup.exe
mkdir -p "$EXE_DIR/dpichange"
timeout 120 "$WINE" "$VEKPACK" --stub "$(win "$DPI_STUB")" "$(win "$EXAMPLES")" "$(win "$DPI_EXE")" \
  >"$WORK/vekpack-dpichange.txt" 2>&1 || fail "vekpack with stub_dpichange.exe"
VEK_DPI_CHANGE="144 40 30 700 300" start_stub dpichange "$DPI_EXE"
W=$(find_window "$MAIN_NAME" 60) || fail "dpichange: no window"
sleep 3
probe dpichange class:TForm1
shot dpi-change-144
# At 144: DE 470 x 36 and the buttons 113 x 38.
for size in "$ID_DE Edit [0-9]+ [0-9]+ 470 36" "104 Button [0-9]+ [0-9]+ 113 38"; do
  grep -qE "^child $size " "$WORK/dpichange.txt" || fail "dpichange: no child $size in $(cat "$WORK/dpichange.txt")"
done
keys "$W" alt+F4
expect_exit dpichange 0
echo "dpichange: the controls laid out again for 144 pixels per inch"

# --- empty: the sub-folder message ---------------------------------------------------------------
start_stub empty
W=$(find_window "$MAIN_NAME" 60) || fail "empty: no window"
keys "$W" BackSpace Return
find_window '^Information$' 30 >/dev/null || fail "empty: no message"
sleep 0.5
probe empty title:Information
has empty "text=Błąd podczas tworzenia podkatalogu..."
shot subfolder-message
keys "$(find_window '^Information$' 5)" Return
window_gone '^Information$' 10 || fail "empty: message still up"
probe emptyafter class:TForm1
# Only separators name no folder: not the root of the current drive (Z:, this
# system's root, for a program started from a Linux folder), not a network path.
# The first message is read; then an Information box with the window still there
# and nothing written is the same message (the closing one ends the window).
for typed in backslash "backslash backslash backslash" slash; do
  keys "$W" BackSpace BackSpace BackSpace $typed Return
  find_window '^Information$' 30 >/dev/null || fail "separators ($typed): no message"
  if [ "$typed" = backslash ]; then
    probe separators title:Information
    has separators "text=Błąd podczas tworzenia podkatalogu..."
  fi
  keys "$(find_window '^Information$' 5)" Return
  window_gone '^Information$' 10 || fail "separators ($typed): message still up"
  find_window "$MAIN_NAME" 1 >/dev/null || fail "separators ($typed): the window closed"
done
keys "$W" alt+F4
expect_exit empty 0
for written in "$DEST" /index.htm "$WINEPREFIX/drive_c/index.htm"; do
  [ -e "$written" ] && fail "empty: $written was written"
done
echo "empty: \"Błąd podczas tworzenia podkatalogu...\" for an empty text, \\, \\\\\\ and /; nothing written, window stayed"

# --- blocked: a folder where a file goes ---------------------------------------------------------
TITLE=Tarnovista  # TARNOVISTA.Setup.exe
mkdir -p "$DEST/index.htm"
start_stub blocked
W=$(find_window "$MAIN_NAME" 60) || fail "blocked: no window"
keys "$W" Return
find_window "^$TITLE\$" 30 >/dev/null || fail "blocked: no error report"
sleep 0.5
probe blocked "title:$TITLE"
has blocked "text=File access denied."
shot error-report
rmdir "$DEST/index.htm"
keys "$(find_window "^$TITLE\$" 5)" Return
window_gone "^$TITLE\$" 10 || fail "blocked: error report still up"
probe blockedafter class:TForm1
keys "$W" Return
BOX=$(find_window '^Information$' 60) || fail "blocked: the second run did not complete"
keys "$BOX" Return
expect_exit blocked 0
diff -r "$EXAMPLES" "$DEST" >"$WORK/diff2.txt" 2>&1 || fail "blocked: tree differs after the second run"
echo "blocked: \"File access denied.\", window stayed, the second Extract completed"

# --- readonly: a read-only file in the way -------------------------------------------------------
rm -rf "$DEST"
mkdir -p "$DEST"
echo old >"$DEST/index.htm"
chmod a-w "$DEST/index.htm"
start_stub readonly
W=$(find_window "$MAIN_NAME" 60) || fail "readonly: no window"
keys "$W" Return
outcome=
for ((i = 0; i < 150; i++)); do
  if "$XDOTOOL" search --name "^$TITLE\$" >/dev/null 2>&1; then outcome=refused; break; fi
  if "$XDOTOOL" search --name '^Information$' >/dev/null 2>&1; then outcome=written; break; fi
  sleep 0.2
done
case $outcome in
  refused)
    sleep 0.5
    probe readonly "title:$TITLE"
    has readonly "text=File access denied."
    keys "$(find_window "^$TITLE\$" 5)" Return
    window_gone "^$TITLE\$" 10 || fail "readonly: error report still up"
    keys "$W" alt+F4
    echo "readonly: \"File access denied.\"" ;;
  written)
    keys "$(find_window '^Information$' 5)" Return
    echo "readonly: passed over: Wine let $(id -un) replace a read-only file" ;;
  *) fail "readonly: neither an error report nor the closing message" ;;
esac
expect_exit readonly 0
chmod -R u+w "$DEST"

# --- truncated: cut inside the entry table -------------------------------------------------------
rm -rf "$DEST"
CUT_DIR=$WORK/cut
mkdir -p "$CUT_DIR"
head -c $((STUB_SIZE + 56 + 256 * 3 + 100)) "$EXE" >"$CUT_DIR/TARNOVISTA.Setup.exe"
start_stub truncated "$CUT_DIR/TARNOVISTA.Setup.exe"
W=$(find_window "$MAIN_NAME" 60) || fail "truncated: no window"
keys "$W" Return
find_window "^$TITLE\$" 30 >/dev/null || fail "truncated: no error report"
sleep 0.5
probe truncated "title:$TITLE"
has truncated "text=Instalator jest uszkodzony i trzeba go pobra"
[ -e "$DEST" ] && fail "truncated: the destination was made"
keys "$(find_window "^$TITLE\$" 5)" Return
window_gone "^$TITLE\$" 10 || fail "truncated: error report still up"
keys "$W" alt+F4
expect_exit truncated 0
echo "truncated: the damaged installer's report, nothing written"

# --- cutdata: cut one byte short of the archive's end, inside its last file's data ---------
rm -rf "$DEST"
mkdir -p "$CUT_DIR/data"
head -c $((PACKED_SIZE - 1)) "$EXE" >"$CUT_DIR/data/TARNOVISTA.Setup.exe"
start_stub cutdata "$CUT_DIR/data/TARNOVISTA.Setup.exe"
W=$(find_window "$MAIN_NAME" 60) || fail "cutdata: no window"
for run in 1 2; do
  keys "$W" Return
  find_window "^$TITLE\$" 60 >/dev/null || fail "cutdata: no error report after Extract $run"
  sleep 0.5
  probe cutdata$run "title:$TITLE"
  has cutdata$run "text=Instalator jest uszkodzony i trzeba go pobra"
  has cutdata$run "mapa-regionu.gif"
  [ -e "$DEST" ] && fail "cutdata: the destination was made"
  "$XDOTOOL" search --name '^Information$' >/dev/null 2>&1 && fail "cutdata: a closing message after Extract $run"
  [ "$run" = 1 ] && shot cut-short-report
  keys "$(find_window "^$TITLE\$" 5)" Return
  window_gone "^$TITLE\$" 10 || fail "cutdata: error report still up"
  probe cutdataafter$run class:TForm1  # the window stays open
  has cutdataafter$run "title=$CAPTION enabled=1"
done
"$XDOTOOL" search --name '^Information$' >/dev/null 2>&1 && fail "cutdata: a closing message"
keys "$W" alt+F4
expect_exit cutdata 0
echo "cutdata: the damaged installer's report twice, no closing message, the window stayed open, nothing written"
# --- The Start menu: shortcuts written by Wine's shell or by the stub --------------------------
stop_recording_server "$RECEIVED_REST" || fail "second recording server did not stop"

PROGRAMS=$(find "$WINEPREFIX/drive_c/users" -type d -path '*/Start Menu/Programs' | head -n 1)
[ -n "$PROGRAMS" ] || fail "no Start Menu/Programs folder in the prefix"
GROUP_DIR="$PROGRAMS/NWM Tarnovista"
LNK="$GROUP_DIR/Tarnovista 3_99.lnk"
ITEM='C:\Tarnovista_3_99\INDEX.HTM'

# Whether the shortcut file $1 holds text $2 (as ANSI or as UTF-16; with a third
# argument "utf16", as UTF-16 only, the form of the working folder's string).
lnk_mentions() {
  python3 - "$1" "$2" "${3:-any}" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
text = sys.argv[2]
found = text.encode("utf-16-le") in data
if sys.argv[3] != "utf16":
    found = found or text.encode("latin-1") in data
sys.exit(0 if found else 1)
PY
}

# Wine's shell answers ShowGroup by opening a folder window; closed, so that it takes
# no keys meant for the stub.
# $1: how many seconds to wait for one to appear (default 10). $2: "message" while the
# closing message holds the keys: then only the group's own window is closed, asked
# through a message (never anything named Desktop: that may be the desktop itself).
close_shell_windows() {
  local i id seen=0 quiet=0 wait=$((${1:-10} * 2)) names='^(Desktop|NWM Tarnovista)$'
  [ "${2:-}" = message ] && names='^NWM Tarnovista$'
  for ((i = 0; i < wait + 40; i++)); do
    id=$("$XDOTOOL" search --onlyvisible --name "$names" 2>/dev/null | head -n 1)
    if [ -n "$id" ]; then
      [ $seen = 1 ] || { sleep 1; shot shell-group-window; }
      seen=1 quiet=0
      if [ "${2:-}" = message ]; then
        timeout 30 "$WINE" "$PROBE" "$(win "$WORK/shell-window.txt")" "title:NWM Tarnovista" 2 close \
          >/dev/null 2>&1
      else
        keys "$id" alt+F4
      fi
    elif [ $seen = 1 ]; then
      # The shell may open one more (a window for the group, then for its display).
      ((++quiet >= 6)) && return 0
    elif [ $i -ge $wait ]; then
      return 0
    fi
    sleep 0.5
  done
}

# Runs the executable $3 (arguments after it) to its closing message and checks that
# the shortcut is there and points at the item. $2: how many seconds Wine's shell may
# take to open the group's folder window (0 when the group never reaches the shell).
install_to_start_menu() {
  local name=$1 shell_wait=$2
  shift 2
  rm -rf "$DEST" "$GROUP_DIR"
  start_stub "$name" "$@"
  local w
  w=$(find_window "$MAIN_NAME" 60) || fail "$name: no window"
  keys "$w" Return
  find_window '^Information$' 60 >/dev/null || fail "$name: no closing message"
  sleep 0.5
  probe "$name-box" title:Information
  has "$name-box" "text=$CLOSING"
  wait_for_file "$LNK" 20 || fail "$name: no $LNK"
  lnk_mentions "$LNK" "$ITEM" || fail "$name: the shortcut does not point at $ITEM"
  # Wine's shell opens the group's folder window over the message at its own pace and
  # takes the keys, so OK is pressed through a message; the shell's window is closed
  # only after that: under load, closing it has taken Wine's desktop process down with
  # the message on it, leaving nothing to press.
  shot "closing-$name"
  # A probe started while the sanitizer build runs beside it can take long to start.
  timeout 90 "$WINE" "$PROBE" "$(win "$WORK/$name-ok.txt")" title:Information 40 ok \
    >"$WORK/$name-ok.probe.log" 2>&1 || fail "$name: could not press OK"
  window_gone '^Information$' 20 || fail "$name: the closing message stayed"
  expect_exit "$name" 0
  close_shell_windows "$shell_wait" message
  window_gone "$MAIN_NAME" 10 || fail "$name: window still there"
}

# --- shortcut: no DDE server answers, the stub writes the shortcut itself ---------------------
NOSHELL_EXE=$EXE_DIR/noshell/TARNOVISTA.Setup.exe
mkdir -p "$EXE_DIR/noshell"
timeout 120 "$WINE" "$VEKPACK" --stub "$(win "$NOSHELL_STUB")" "$(win "$EXAMPLES")" "$(win "$NOSHELL_EXE")" \
  >"$WORK/vekpack-noshell.txt" 2>&1 || fail "vekpack with stub_noshell.exe"
install_to_start_menu shortcut 0 "$NOSHELL_EXE"
lnk_mentions "$LNK" 'C:\Tarnovista_3_99' utf16 || fail "shortcut: no working folder"
echo "shortcut: with every DDE connect refused the stub wrote the shortcut itself, exit 0"

# --- nogroup: neither DDE nor a shortcut: the group message, the window stays -----------------
rm -rf "$DEST" "$GROUP_DIR"
start_stub nogroup "$NOSHELL_EXE" nolinks
W=$(find_window "$MAIN_NAME" 60) || fail "nogroup: no window"
keys "$W" Return
find_window '^Information$' 60 >/dev/null || fail "nogroup: no message"
sleep 0.5
probe nogroup title:Information
has nogroup "text=Błąd podczas tworzenia grupy..."
shot group-message
keys "$(find_window '^Information$' 5)" Return
window_gone '^Information$' 10 || fail "nogroup: message still up"
probe nogroupafter class:TForm1
has nogroupafter "enabled=1"
[ -e "$GROUP_DIR" ] && fail "nogroup: a group folder was made"
[ -f "$DEST/index.htm" ] || fail "nogroup: nothing extracted"
keys "$W" alt+F4
expect_exit nogroup 0
echo "nogroup: \"Błąd podczas tworzenia grupy...\", window stayed open, no shortcut"

# --- wineshell: only Wine's own shell takes the group -----------------------------------------
install_to_start_menu wineshell 10
echo "wineshell: Wine's shell wrote ${LNK#"$WINEPREFIX"/} -> $ITEM, closing message, exit 0"


echo "PASS: screenshots in $SHOTS"
exit 0
