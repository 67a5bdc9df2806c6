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
# With VEK_WINE_TEMPLATE naming a prefix folder, that template is made once (under a
# lock, so that tests started together make it once) and WINEPREFIX becomes a copy
# of it: wineboot takes fifteen seconds, a copy a fraction of one. A prefix holds no
# path of its own, so a copy works wherever it is put. Windows' programs and
# libraries (system32 and syswow64, nine tenths of a prefix) are never written after
# wineboot, so the copy takes hard links to the template's.
make_wine_prefix() {
  [ -f "$WINEPREFIX/system.reg" ] && return 0
  local template=${VEK_WINE_TEMPLATE:-}
  if [ -z "$template" ] || [ "$template" = "$WINEPREFIX" ]; then
    boot_wine_prefix "$1"
    return
  fi
  mkdir -p "$(dirname "$template")" || return 1
  (
    flock 9 || exit 1
    [ -f "$template/system.reg" ] && exit 0
    rm -rf "$template.part"
    WINEPREFIX=$template.part boot_wine_prefix "$1" && mv "$template.part" "$template"
  ) 9>"$template.lock" || return 1
  local part=$WINEPREFIX.part dir
  rm -rf "$part" && mkdir -p "$part" || return 1
  (cd "$template" && tar -cf - --exclude=./drive_c/windows/system32 --exclude=./drive_c/windows/syswow64 .) |
    (cd "$part" && tar -xpf -) || return 1
  for dir in system32 syswow64; do
    [ ! -d "$template/drive_c/windows/$dir" ] || cp -al "$template/drive_c/windows/$dir" "$part/drive_c/windows/" ||
      return 1
  done
  rm -rf "$WINEPREFIX" && mv "$part" "$WINEPREFIX"
}

# wineboot into WINEPREFIX, then waits for its server to end. $1: the log file.
boot_wine_prefix() {
  local rc=0
  timeout 300 "$WINE" wineboot -i >"$1" 2>&1 || rc=$?
  timeout 120 "$WINESERVER" -w >/dev/null 2>&1 || true
  [ $rc -eq 0 ] && [ -f "$WINEPREFIX/system.reg" ]
}
