# Shared pieces of the end-to-end scripts that run Windows programs under Wine in
# Xvfb: finding the tools, reporting a failure, waiting, Windows paths, an X server
# of our own and the clean-up at exit. Source it after setting WORK, the script's
# scratch folder; background programs put their process ids in SERVER_PID and
# STUB_PID so that the clean-up ends them.

XVFB_PID=
SERVER_PID=
STUB_PID=

# Sets XVFB, WINE and WINESERVER; exits 77 (skipped) when one is missing.
find_wine_tools() {
  XVFB=$(command -v Xvfb) || { echo "SKIP: Xvfb not found"; exit 77; }
  WINE=$(command -v wine64 || command -v wine) || { echo "SKIP: wine not found"; exit 77; }
  WINESERVER=$(command -v wineserver || true)
  if [ -z "$WINESERVER" ]; then
    WINESERVER=$(dirname "$(readlink -f "$WINE")")/wineserver
    [ -x "$WINESERVER" ] || { echo "SKIP: wineserver not found"; exit 77; }
  fi
}

cleanup() {
  [ -n "$STUB_PID" ] && kill "$STUB_PID" 2>/dev/null
  [ -n "$SERVER_PID" ] && kill "$SERVER_PID" 2>/dev/null
  timeout 30 "$WINESERVER" -k >/dev/null 2>&1
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null
  wait 2>/dev/null
}

# Reports the failure with the ends of the scratch folder's logs and exits 1.
fail() {
  echo "FAIL: $*"
  for f in "$WORK"/*.txt "$WORK"/*.log; do
    [ -f "$f" ] && { echo "--- $f"; tail -n 20 "$f"; }
  done
  exit 1
}

# Waits up to $2 seconds for file $1 to appear.
wait_for_file() {
  local i
  for ((i = 0; i < $2 * 10; i++)); do
    [ -e "$1" ] && return 0
    sleep 0.1
  done
  return 1
}

# Windows path of a Unix path (drive Z: is the Unix root).
win() { echo "Z:${1//\//\\}"; }

# Starts Xvfb (800x600) on the first free display from $1 on and exports DISPLAY.
start_xvfb() {
  local n
  for ((n = $1; n < $1 + 100; n++)); do
    [ -e /tmp/.X$n-lock ] || [ -e /tmp/.X11-unix/X$n ] && continue
    "$XVFB" ":$n" -screen 0 800x600x24 -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
    XVFB_PID=$!
    if wait_for_file /tmp/.X11-unix/X$n 10 && kill -0 "$XVFB_PID" 2>/dev/null; then
      export DISPLAY=:$n
      return 0
    fi
    kill "$XVFB_PID" 2>/dev/null
    XVFB_PID=
  done
  fail "no free display for Xvfb"
}

# Creates the Wine prefix in WINEPREFIX when it does not exist yet.
ensure_wine_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    timeout 300 "$WINE" wineboot -i >"$WORK/wineboot.log" 2>&1 || fail "wineboot -i"
  fi
}
