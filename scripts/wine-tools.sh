# Finds the Wine programs that the scripts use, wherever the distribution keeps them:
# Debian's wine64 package puts wine64 and wineserver in /usr/lib/wine/, outside PATH.
# Source it, then call find_wine: it sets WINE and WINESERVER to full paths and returns
# 1 (after saying which is missing) when either cannot be found. Safe under set -e.

find_wine() {
  local dir name
  WINE=$(command -v wine64 || command -v wine) || WINE=
  WINESERVER=$(command -v wineserver) || WINESERVER=
  for dir in ${WINE:+"$(dirname "$(readlink -f "$WINE")")"} /usr/lib/wine /usr/lib/x86_64-linux-gnu/wine \
             /usr/lib64/wine /opt/wine-stable/bin; do
    for name in wine64 wine; do
      if [ -z "$WINE" ] && [ -x "$dir/$name" ]; then WINE=$dir/$name; fi
    done
    for name in wineserver wineserver64; do
      if [ -z "$WINESERVER" ] && [ -x "$dir/$name" ]; then WINESERVER=$dir/$name; fi
    done
  done
  [ -n "$WINE" ] || { echo "wine64 not found" >&2; return 1; }
  [ -n "$WINESERVER" ] || { echo "wineserver not found" >&2; return 1; }
}

# Ends whatever Wine server (and its programs) still runs for WINEPREFIX and waits
# until it is gone, so that what starts next gets a server of its own, with the
# caller's display and environment.
end_wine_server() {
  timeout 30 "$WINESERVER" -k >/dev/null 2>&1 || true
  timeout 60 "$WINESERVER" -w >/dev/null 2>&1 || true
}

# Creates WINEPREFIX when it does not exist yet and waits until the new prefix has
# settled (wineboot's own programs ended and its server gone). $1: the log file.
make_wine_prefix() {
  [ -f "$WINEPREFIX/system.reg" ] && return 0
  local rc=0
  timeout 300 "$WINE" wineboot -i >"$1" 2>&1 || rc=$?
  timeout 120 "$WINESERVER" -w >/dev/null 2>&1 || true
  [ $rc -eq 0 ] && [ -f "$WINEPREFIX/system.reg" ]
}
