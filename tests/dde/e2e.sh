#!/bin/bash
# End-to-end test of program group registration under Wine in Xvfb.
#
#   tests/dde/e2e.sh BUILD_DIR      (the windows-x64 build directory)
#
# Run 1: the recording DDE server answers as "progman"; dde_e2e_client registers the
# worked example's group, and the server's file must hold exactly its three commands,
# each ending in CR LF and arriving with one terminating zero byte.
# Run 2: no server of ours. Wine's shell answers "progman" only for its own topics and
# refuses the empty topic, and the "progman " that the client then starts is Wine's
# Program Manager, which serves no DDE: so both connects fail, the error events fire
# once each, and the client ends by itself.
#
# Exit 0 on success, 1 on failure, 77 (skip) when Xvfb or Wine is missing.
set -u

if [ $# -ne 1 ] || [ ! -d "$1" ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
BUILD_DIR=$(cd "$1" && pwd)
BIN=$BUILD_DIR/tests/dde
SERVER=$BIN/dde_recording_server.exe
CLIENT=$BIN/dde_e2e_client.exe

WORK=$BIN/e2e
. "$(dirname "$0")/../support/wine-e2e.sh"
find_wine_tools
for exe in "$SERVER" "$CLIENT"; do
  [ -f "$exe" ] || { echo "FAIL: $exe not built"; exit 1; }
done

rm -rf "$WORK"
mkdir -p "$WORK"
export WINEPREFIX=${WINEPREFIX:-$BUILD_DIR/wineprefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

trap cleanup EXIT
start_xvfb 90
ensure_wine_prefix

# --- Run 1: the recording server is up ------------------------------------------
OUT=$WORK/received.bin
"$WINE" "$SERVER" "$(win "$OUT")" >"$WORK/server.txt" 2>&1 &
SERVER_PID=$!
wait_for_file "$OUT.ready" 120 || fail "recording server did not get ready"

timeout 120 "$WINE" "$CLIENT" "$(win "$WORK/client1.log")" >"$WORK/client1.txt" 2>&1
rc=$?
[ $rc -eq 0 ] || fail "run 1: client exit code $rc"

# Let the server record what is still on its way, then stop it.
for ((i = 0; i < 50; i++)); do
  grep -q '^disconnect' "$OUT.log" 2>/dev/null && break
  sleep 0.1
done
touch "$OUT.stop"
for ((i = 0; i < 100; i++)); do
  kill -0 "$SERVER_PID" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$SERVER_PID" 2>/dev/null && fail "recording server did not stop"
SERVER_PID=
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

# --- Run 2: no server of ours -----------------------------------------------------
timeout 120 "$WINE" "$CLIENT" "$(win "$WORK/client2.log")" >"$WORK/client2.txt" 2>&1
rc=$?
[ $rc -eq 124 ] && fail "run 2: client hung"
[ $rc -eq 0 ] || fail "run 2: client exit code $rc"
grep -q '^WinExec("progman ",7) = ' "$WORK/client2.log" || fail "run 2: no start of \"progman \""
winexec=$(sed -n 's/^WinExec("progman ",7) = \([0-9]*\)$/\1/p' "$WORK/client2.log")
connects=$(grep -c '^DdeConnect(topic 0) = 0$' "$WORK/client2.log")
if [ "$winexec" -ge 32 ]; then expected_connects=2; else expected_connects=1; fi
[ "$connects" -eq "$expected_connects" ] ||
  fail "run 2: $connects failed connects after WinExec returned $winexec"
grep -q '= conversation$' "$WORK/client2.log" && fail "run 2: a server answered"
grep -q '^DdeClientTransaction' "$WORK/client2.log" && fail "run 2: a transaction was started"
grep -q '^OnGroupError 1$' "$WORK/client2.log" || fail "run 2: OnGroupError did not fire once"
grep -q '^OnItemError 1$' "$WORK/client2.log" || fail "run 2: OnItemError did not fire once"
grep -q '^end$' "$WORK/client2.log" || fail "run 2: client did not finish"

echo "PASS: three commands recorded byte for byte; without a server the events fired" \
  "and \"progman \" was started (WinExec returned $winexec)"
exit 0
