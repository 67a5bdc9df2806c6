#!/usr/bin/env bash
# The main job on the bundled sample:
#  1. builds the tools, packs examples/tarnovista into a VEK archive, lists and checks
#     it, and extracts it again;
#  2. builds the Windows stub, packs the sample into the self-extracting
#     TARNOVISTA.Setup.exe, runs it under Wine in a virtual display with a recording
#     Program Manager ("progman") DDE server, presses Extract, and prints the tree it
#     wrote and the DDE commands the server received. Screenshots of the dialog and
#     of the closing message stay in build/demo/screenshots.
#
# Build folders: build/native and build/windows-x64 (VEK_NATIVE_BUILD and
# VEK_WINDOWS_BUILD choose others).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
native=${VEK_NATIVE_BUILD:-build/native}
windows=${VEK_WINDOWS_BUILD:-build/windows-x64}
cmake --preset native -B "$native" >/dev/null
cmake --build "$native" --target vek vekpack -j2 >/dev/null
bin=$native/tools
out=build/demo
rm -rf "$out"
mkdir -p "$out"
"$bin/vekpack" examples/tarnovista "$out/tarnovista.vek"
"$bin/vek" list "$out/tarnovista.vek"
"$bin/vek" test "$out/tarnovista.vek"
"$bin/vek" extract "$out/tarnovista.vek" -C "$out/extracted"
diff -r examples/tarnovista "$out/extracted" && echo "extracted tree: identical to examples/tarnovista"

echo
echo "== The Windows stub under Wine"
cmake --preset windows-x64 -B "$windows" >/dev/null
cmake --build "$windows" --target vekstub dde_recording_server -j2 >"$out/build-windows.log" ||
  { tail -n 30 "$out/build-windows.log"; exit 1; }
echo "stub: $(stat -c %s "$windows/src/stub/vekstub.exe") bytes"
exe=$out/TARNOVISTA.Setup.exe
"$bin/vekpack" --stub "$windows/src/stub/vekstub.exe" examples/tarnovista "$exe"

abs() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
win() { local p; p=$(abs "$1"); echo "Z:${p//\//\\}"; }
wait_for() { # wait_for SECONDS COMMAND...: until the command succeeds
  local i seconds=$1
  shift
  for ((i = 0; i < seconds * 5; i++)); do "$@" >/dev/null 2>&1 && return 0; sleep 0.2; done
  return 1
}
window() { xdotool search --name "$1" 2>/dev/null | head -n 1; }
press() { # press WINDOW-NAME KEY
  local id
  id=$(window "$1")
  timeout 10 xdotool windowfocus --sync "$id" || true
  sleep 0.3
  xdotool key --clearmodifiers "$2"
}

. scripts/wine-tools.sh
find_wine || exit 1
wine=$WINE wineserver=$WINESERVER
# A prefix of the demo's own, kept between runs.
export WINEPREFIX=$PWD/build/demo-wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
end_wine_server   # nothing left over from an earlier run, which had another display
xvfb_pid=
server_pid=
cleanup() {
  [[ -n $server_pid ]] && kill "$server_pid" 2>/dev/null
  timeout 30 "$wineserver" -k >/dev/null 2>&1 || true
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null || true
}
trap cleanup EXIT
for ((n = 60; n < 160; n++)); do
  [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
  Xvfb ":$n" -screen 0 800x600x24 -nolisten tcp >"$out/xvfb.log" 2>&1 &
  xvfb_pid=$!
  if wait_for 10 test -e /tmp/.X11-unix/X$n; then export DISPLAY=:$n; break; fi
  kill "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=
done
[[ -n $xvfb_pid ]] || { echo "demo: no free display for Xvfb" >&2; exit 1; }

if [[ ! -f $WINEPREFIX/system.reg ]]; then
  echo "(creating the Wine prefix $WINEPREFIX)"
  make_wine_prefix "$out/wine.log" || { echo "demo: wineboot failed (see $out/wine.log)" >&2; exit 1; }
fi
# Every program of the prefix runs in an 800x600 virtual desktop, with title bars.
timeout 60 "$wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d vek /f >>"$out/wine.log" 2>&1
timeout 60 "$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v vek /d 800x600 /f >>"$out/wine.log" 2>&1
dest=$WINEPREFIX/drive_c/Tarnovista_3_99
rm -rf "$dest"
shots=$out/screenshots
mkdir -p "$shots"

received=$out/progman-received.bin
"$wine" "$windows/tests/startmenu/dde_recording_server.exe" "$(win "$received")" >>"$out/wine.log" 2>&1 &
server_pid=$!
wait_for 60 test -e "$received.ready" || { echo "demo: the DDE server did not start" >&2; exit 1; }

(timeout 180 "$wine" "$exe" >>"$out/wine.log" 2>&1; echo $? >"$out/exit-code") &
wait_for 60 window 'archiwum VEK' || { echo "demo: the stub's window did not appear" >&2; exit 1; }
sleep 1
import -window root "$shots/1-dialog.png"
echo "dialog up (screenshot $shots/1-dialog.png); pressing Enter (Extract)"
press 'archiwum VEK' Return
wait_for 60 window '^Information$' || { echo "demo: no closing message" >&2; exit 1; }
sleep 0.5
import -window root "$shots/2-closing-message.png"
echo "closing message up (screenshot $shots/2-closing-message.png); pressing Enter (OK)"
press '^Information$' Return
wait_for 60 test -s "$out/exit-code"
echo "stub exit code: $(cat "$out/exit-code")"

echo
echo "Written below C:\\Tarnovista_3_99:"
(cd "$dest" && find . -mindepth 1 | sort | while read -r f; do
  if [[ -d $f ]]; then printf '  %29s  %s\\\n' "" "${f#./}"; else
    printf '  %8d  %s  %s\n' "$(stat -c %s "$f")" "$(date -r "$f" '+%Y-%m-%d %H:%M:%S')" "${f#./}"; fi
done) | tr '/' '\\'
diff -r examples/tarnovista "$dest" >/dev/null && echo "(identical to examples/tarnovista)"

wait_for 5 grep -q '^disconnect' "$received.log" || true
touch "$received.stop"
wait "$server_pid" 2>/dev/null || true
server_pid=
echo
echo "DDE execute commands received by \"progman\":"
tr -d '\r' <"$received" | tr '\0' '\n' | sed '/^$/d; s/^/  /'
