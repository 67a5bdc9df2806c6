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

# Starts the prefix's Wine server to stay until the clean-up ends it. Otherwise it ends
# as soon as no program runs, Windows' services with it, and the next program starts
# them all again: a second and a half each time.
keep_wine_server() {
  "$WINESERVER" -p </dev/null >/dev/null 2>&1 || fail "wineserver -p"
}

# --- Windows on the display (XDOTOOL set by the caller) ---------------------------------

# Finds an X window by name (a regular expression) within $2 seconds, looking every
# $3 seconds (default 0.2); prints its id.
find_window() {
  local i id step=${3:-0.2}
  local tries
  tries=$(awk -v s="$2" -v d="$step" 'BEGIN { print int(s / d) }')
  for ((i = 0; i < tries; i++)); do
    id=$("$XDOTOOL" search --name "$1" 2>/dev/null | head -n 1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep "$step"
  done
  return 1
}

# Waits up to $2 seconds until no window is named $1.
window_gone() {
  local i
  for ((i = 0; i < $2 * 5; i++)); do
    "$XDOTOOL" search --name "$1" >/dev/null 2>&1 || return 0
    sleep 0.2
  done
  return 1
}

# Describes a window (class:NAME or title:TEXT) into $WORK/$1.txt with the probe
# program (PROBE).
probe() {
  timeout 60 "$WINE" "$PROBE" "$(win "$WORK/$1.txt")" "$2" 20 >"$WORK/$1.probe.log" 2>&1 ||
    fail "$1: no window $2"
}

# Sends keys to a window after giving it the focus.
keys() {
  local id=$1
  shift
  timeout 10 "$XDOTOOL" windowfocus --sync "$id" 2>/dev/null || "$XDOTOOL" windowfocus "$id"
  sleep 0.3
  "$XDOTOOL" key --clearmodifiers "$@"
}

# A screenshot of the whole display into $SHOTS/$1.png.
shot() { import -window root "$SHOTS/$1.png" 2>"$WORK/import.log" || fail "screenshot $1"; }

# Fails unless probe $1's description holds the text $2.
has() { grep -qF -- "$2" "$WORK/$1.txt" || fail "$1: expected \"$2\" in $(cat "$WORK/$1.txt")"; }

# --- The recording DDE server ---------------------------------------------------------

# Lets the server (SERVER_PID) recording into file $1 take in what is still on its
# way, then asks it to stop and waits for it; returns 1 when it does not stop.
stop_recording_server() {
  local i
  for ((i = 0; i < 50; i++)); do
    grep -q '^disconnect' "$1.log" 2>/dev/null && break
    sleep 0.1
  done
  touch "$1.stop"
  for ((i = 0; i < 100; i++)); do
    kill -0 "$SERVER_PID" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$SERVER_PID" 2>/dev/null && return 1
  SERVER_PID=
}
