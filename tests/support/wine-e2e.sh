# Shared pieces of the end-to-end scripts that run Windows programs under Wine in
# Xvfb: finding the tools, reporting a failure, waiting, Windows paths, an X server
# of our own and the clean-up at exit. Source it after setting WORK, the script's
# scratch folder; background programs put their process ids in SERVER_PID and
# STUB_PID so that the clean-up ends them.

XVFB_PID=
SERVER_PID=
STUB_PID=

. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-tools.sh"

# Sets XVFB, WINE and WINESERVER; exits 77 (skipped) when one is missing.
find_wine_tools() {
  XVFB=$(command -v Xvfb) || { echo "SKIP: Xvfb not found"; exit 77; }
  find_wine || { echo "SKIP: Wine not found"; exit 77; }
}

cleanup() {
  [ -n "$STUB_PID" ] && kill "$STUB_PID" 2>/dev/null
  [ -n "$SERVER_PID" ] && kill "$SERVER_PID" 2>/dev/null
  timeout 30 "$WINESERVER" -k >/dev/null 2>&1
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null
  wait 2>/dev/null
}

# Reports the failure with what the test saw: the ends of the scratch folder's logs,
# the windows on the display and the prefix's Wine processes; exits 1.
fail() {
  echo "FAIL: $*"
  for f in "$WORK"/*.txt "$WORK"/*.log; do
    [ -f "$f" ] && { echo "--- $f"; tail -n 20 "$f"; }
  done
  if [ -n "${DISPLAY:-}" ] && command -v xdotool >/dev/null; then
    echo "--- windows on $DISPLAY"
    xdotool search --name . 2>/dev/null | while read -r id; do
      name=$(xdotool getwindowname "$id" 2>/dev/null) && [ -n "$name" ] && echo "  $id $name"
    done
  fi
  echo "--- Wine processes"
  ps -eo pid,etimes,args | grep -iE '[w]ine|\.exe' | head -n 20
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

# Ends any Wine server left over for WINEPREFIX (it would carry another display and
# environment), then creates the prefix when it does not exist yet and waits until it
# has settled.
ensure_wine_prefix() {
  end_wine_server
  make_wine_prefix "$WORK/wineboot.log" || fail "wineboot -i"
}
