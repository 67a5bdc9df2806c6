#!/bin/bash
# End-to-end test of program group registration under Wine in Xvfb.
#
#   tests/startmenu/e2e.sh BUILD_DIR      (the windows-x64 build directory)
#
# Run 1: the recording DDE server answers as "progman"; dde_e2e_client registers the
# stub's own group and item, and the server's file must hold exactly its three commands,
# each ending in CR LF and arriving with one terminating zero byte.
# Run 2: no server of ours, only Wine's own shell, which refuses the empty topic and
# answers the documented topic "PROGMAN": the client's second connect opens the
# conversation, nothing is started, no event fires, and the shell writes the item's
# shortcut into the prefix's Start menu. A progman.exe planted in the current folder
# and next to the client never runs.
# Run 2b: the same with the stub's Start menu edge and a second item "Spis treści",
# which is not ASCII and so never goes over DDE: Wine's shell makes the group and the
# first shortcut, which are found there, and the client writes only the second.
# Run 3: every connect refused. The prefix keeps its Program Manager in system32, not
# in the Windows directory, so nothing is started at all; OnGroupError fires once,
# OnItemError never (no AddItem goes without its group), and the planted programs
# still never run.
# Run 4: as run 3 with a program planted as C:\windows\progman.exe: that one, by its
# full path, is what is started, and only that one.
#
# Exit 0 on success, 1 on failure, 77 (skip) when Xvfb or Wine is missing.
set -u

if [ $# -ne 1 ] || [ ! -d "$1" ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
BUILD_DIR=$(cd "$1" && pwd)
BIN=$BUILD_DIR/tests/startmenu
SERVER=$BIN/dde_recording_server.exe
CLIENT=$BIN/dde_e2e_client.exe
PLANTED=$BIN/dde_planted.exe

WORK=$BIN/e2e
. "$(dirname "$0")/../support/wine-e2e.sh"
find_wine_tools
for exe in "$SERVER" "$CLIENT" "$PLANTED"; do
  [ -f "$exe" ] || { echo "FAIL: $exe not built"; exit 1; }
done

rm -rf "$WORK"
mkdir -p "$WORK"
# A prefix of its own: the runs below end its server and start Wine's shell in it.
export WINEPREFIX=$BIN/wineprefix
export WINEDEBUG=-all
# winemenubuilder would copy Start-menu shortcuts into the desktop's own menus.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

# Whether the shortcut file $1 holds text $2 (as ANSI or as UTF-16).
lnk_mentions() {
  python3 - "$1" "$2" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
text = sys.argv[2]
sys.exit(0 if text.encode("latin-1") in data or text.encode("utf-16-le") in data else 1)
PY
}

trap cleanup EXIT
start_xvfb 90
ensure_wine_prefix
keep_wine_server

# --- Run 1: the recording server is up ------------------------------------------
OUT=$WORK/received.bin
"$WINE" "$SERVER" "$(win "$OUT")" >"$WORK/server.txt" 2>&1 &
SERVER_PID=$!
wait_for_file "$OUT.ready" 120 || fail "recording server did not get ready"

timeout 120 "$WINE" "$CLIENT" "$(win "$WORK/client1.log")" >"$WORK/client1.txt" 2>&1
rc=$?
[ $rc -eq 0 ] || fail "run 1: client exit code $rc"

stop_recording_server "$OUT" || fail "recording server did not stop"
cp "$OUT.log" "$WORK/server.log" 2>/dev/null

printf '[CreateGroup(NWM Tarnovista)]\r\n\0[ShowGroup(NWM Tarnovista,1)]\r\n\0[AddItem(C:\\Tarnovista_3_99\\INDEX.HTM,Tarnovista 3_99)]\r\n\0' \
  >"$WORK/expected.bin"
cmp "$WORK/expected.bin" "$OUT" >"$WORK/cmp.txt" 2>&1 ||
  fail "run 1: the server received other bytes: $(od -c "$OUT" 2>/dev/null | head -n 8)"
[ "$(grep -c '^execute ' "$OUT.log")" -eq 3 ] || fail "run 1: not three executes"
grep -q '^OnGroupError 0$' "$WORK/client1.log" || fail "run 1: OnGroupError fired"
grep -q '^OnItemError 0$' "$WORK/client1.log" || fail "run 1: OnItemError fired"
grep -q '^WinExec' "$WORK/client1.log" && fail "run 1: server start attempted"
grep -q '^end$' "$WORK/client1.log" || fail "run 1: client did not finish"

# --- Run 2: only Wine's own shell -------------------------------------------------
# Where the current folder and the client's own folder would put a progman.exe first.
CWD=$WORK/cwd
mkdir -p "$CWD"
cp "$PLANTED" "$CWD/progman.exe"
cp "$PLANTED" "$BIN/progman.exe"
planted_ran() { [ -e "$CWD/progman.exe.ran" ] || [ -e "$BIN/progman.exe.ran" ]; }
trap 'rm -f "$BIN/progman.exe" "$BIN/progman.exe.ran"; cleanup' EXIT

PROGRAMS=$(find "$WINEPREFIX/drive_c/users" -type d -path '*/Start Menu/Programs' | head -n 1)
[ -n "$PROGRAMS" ] || fail "no Start Menu/Programs folder in the prefix"
LNK="$PROGRAMS/NWM Tarnovista/Tarnovista 3_99.lnk"
rm -rf "$PROGRAMS/NWM Tarnovista"
# The shell makes a shortcut only to something that is there.
TARGET=$WINEPREFIX/drive_c/Tarnovista_3_99
mkdir -p "$TARGET"
echo '<html></html>' >"$TARGET/index.htm"

(cd "$CWD" && timeout 120 "$WINE" "$CLIENT" "$(win "$WORK/client2.log")" >"$WORK/client2.txt" 2>&1)
rc=$?
[ $rc -eq 124 ] && fail "run 2: client hung"
[ $rc -eq 0 ] || fail "run 2: client exit code $rc"
[ "$(grep -c '^DdeConnect' "$WORK/client2.log")" -eq 2 ] || fail "run 2: not two connects"
grep -q '^DdeConnect(topic 0) = 0$' "$WORK/client2.log" || fail "run 2: the empty topic was answered"
grep -q '^DdeConnect(topic set) = conversation$' "$WORK/client2.log" ||
  fail "run 2: the documented topic was not answered"
grep -q '^WinExec' "$WORK/client2.log" && fail "run 2: a program was started"
[ "$(grep -c '^DdeClientTransaction(format 1) = started$' "$WORK/client2.log")" -eq 3 ] ||
  fail "run 2: not three transactions"
grep -q '^OnGroupError 0$' "$WORK/client2.log" || fail "run 2: OnGroupError fired"
grep -q '^OnItemError 0$' "$WORK/client2.log" || fail "run 2: OnItemError fired"
wait_for_file "$LNK" 20 || fail "run 2: Wine's shell wrote no $LNK"
lnk_mentions "$LNK" 'C:\Tarnovista_3_99\INDEX.HTM' || fail "run 2: the shortcut does not point at the item"
planted_ran && fail "run 2: a planted progman.exe ran"

# --- Run 2b: Wine's shell and the fallback, each for its own item ---------------------------
rm -rf "$PROGRAMS/NWM Tarnovista"
(cd "$CWD" && timeout 120 "$WINE" "$CLIENT" "$(win "$WORK/client2b.log")" fallback >"$WORK/client2b.txt" 2>&1)
rc=$?
[ $rc -eq 0 ] || fail "run 2b: client exit code $rc"
[ "$(grep -c '^DdeClientTransaction(format 1) = started$' "$WORK/client2b.log")" -eq 3 ] ||
  fail "run 2b: not three transactions (the item outside ASCII was sent?)"
grep -q '^OnItemError 1$' "$WORK/client2b.log" || fail "run 2b: OnItemError did not fire once"
[ "$(grep '^shortcut ' "$WORK/client2b.log")" = 'shortcut Spis treści' ] ||
  fail "run 2b: the client wrote other shortcuts than \"Spis treści\""
grep -q '^GroupOutcome 2$' "$WORK/client2b.log" || fail "run 2b: the outcome is not groupShortcuts"
[ -f "$LNK" ] || fail "run 2b: no $LNK"
lnk_mentions "$PROGRAMS/NWM Tarnovista/Spis treści.lnk" 'C:\Tarnovista_3_99' ||
  fail "run 2b: no Spis treści.lnk pointing into C:\Tarnovista_3_99"

# --- Run 3: nobody answers, no Program Manager in the Windows directory -------------------
[ -e "$WINEPREFIX/drive_c/windows/progman.exe" ] && fail "the prefix has C:\\windows\\progman.exe"
(cd "$CWD" && timeout 120 "$WINE" "$CLIENT" "$(win "$WORK/client3.log")" refuse >"$WORK/client3.txt" 2>&1)
rc=$?
[ $rc -eq 0 ] || fail "run 3: client exit code $rc"
[ "$(grep -c '^DdeConnect(.*) = 0$' "$WORK/client3.log")" -eq 2 ] || fail "run 3: not two refused connects"
grep -q '^GetFileAttributesA("C:\\windows\\progman.exe") = none$' "$WORK/client3.log" ||
  fail "run 3: the Windows directory was not looked at"
grep -q '^WinExec' "$WORK/client3.log" && fail "run 3: a program was started"
grep -q '^OnGroupError 1$' "$WORK/client3.log" || fail "run 3: OnGroupError did not fire once"
grep -q '^OnItemError 0$' "$WORK/client3.log" || fail "run 3: OnItemError fired without a group"
planted_ran && fail "run 3: a planted progman.exe ran"

# --- Run 4: a progman.exe in the Windows directory -----------------------------------------
WINDIR_PROGMAN=$WINEPREFIX/drive_c/windows/progman.exe
cp "$PLANTED" "$WINDIR_PROGMAN"
trap 'rm -f "$BIN/progman.exe" "$BIN/progman.exe.ran" "$WINDIR_PROGMAN" "$WINDIR_PROGMAN.ran"; cleanup' EXIT
(cd "$CWD" && timeout 120 "$WINE" "$CLIENT" "$(win "$WORK/client4.log")" refuse >"$WORK/client4.txt" 2>&1)
rc=$?
[ $rc -eq 0 ] || fail "run 4: client exit code $rc"
grep -q '^WinExec(""C:\\windows\\progman.exe"",7) = ' "$WORK/client4.log" ||
  fail "run 4: C:\\windows\\progman.exe was not started by its full path"
[ "$(grep -c '^WinExec' "$WORK/client4.log")" -eq 1 ] || fail "run 4: more than one start"
[ "$(grep -c '^DdeConnect' "$WORK/client4.log")" -eq 3 ] || fail "run 4: not three connects"
wait_for_file "$WINDIR_PROGMAN.ran" 20 || fail "run 4: the Windows directory's progman.exe did not run"
planted_ran && fail "run 4: a planted progman.exe ran"
rm -f "$WINDIR_PROGMAN" "$WINDIR_PROGMAN.ran"

echo "PASS: three commands recorded byte for byte; Wine's shell took them on its" \
  "documented topic and wrote the shortcut, found there; the client wrote the item" \
  "outside ASCII itself; with no server only the Windows" \
  "directory's progman.exe was ever started"
exit 0
