#!/bin/bash
# An installer that runs a program of its files, under Wine in Xvfb.
#
#   tests/stub/run_e2e.sh BUILD_DIR SOURCE_DIR   (BUILD_DIR: the windows-x64 build)
#
# vekpack.exe packs a folder holding stub_runprobe.exe as setup.exe (it writes its
# working folder and arguments into the file VEK_RUN_PROBE names and exits 7), a
# read-only file and a folder, with folder = {temp} and run = setup.exe and two
# arguments. With /S and arguments after "--", with the window that extracts at once,
# and with confirm = yes (the window asks first, its folder read-only): the program
# starts in a new folder vek<16 hex digits> of %TEMP% with every argument, the
# installer exits 7, and the folder is gone afterwards. A program that cannot start
# (a file that is no program) exits 10, with the run-error message in the window. An
# install into C:\runinst with run starts the program there and keeps the files.
#
# Screenshots stay in BUILD_DIR/tests/stub/run-e2e/screenshots. Exit 0 on success,
# 1 on failure, 77 (skip) when Xvfb, Wine or xdotool is missing.
set -u

BUILD_DIR=$(cd "$1" && pwd)
SOURCE_DIR=$(cd "$2" && pwd)
STUB=$BUILD_DIR/src/stub/vekstub.exe
VEKPACK=$BUILD_DIR/tools/vekpack.exe
PROBE=$BUILD_DIR/tests/stub/stub_probe.exe
RUNPROBE=$BUILD_DIR/tests/stub/stub_runprobe.exe
WORK=$BUILD_DIR/tests/stub/run-e2e

. "$(dirname "$0")/../support/wine-e2e.sh"
find_wine_tools
XDOTOOL=$(command -v xdotool) || { echo "SKIP: xdotool not found"; exit 77; }
SHOTS=$WORK/screenshots
rm -rf "$WORK"
mkdir -p "$SHOTS" "$WORK/tree/data/sub"
export WINEPREFIX=$BUILD_DIR/tests/stub/wineprefix-run
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
DRIVE_C=$WINEPREFIX/drive_c
trap 'chmod -R u+w "$WORK/tree" 2>/dev/null; cleanup' EXIT
start_xvfb 170
ensure_wine_prefix
keep_wine_server

cp "$RUNPROBE" "$WORK/tree/setup.exe"
echo "notes" >"$WORK/tree/data/notes.txt"
chmod a-w "$WORK/tree/data/notes.txt"  # read-only under Wine
echo "deep" >"$WORK/tree/data/sub/deep.txt"
echo "not a program" >"$WORK/tree/broken.exe"
export VEK_RUN_PROBE
VEK_RUN_PROBE=$(win "$WORK/probe.txt")

# pack NAME CONFIG-LINES...: $WORK/NAME.exe from the tree.
pack() {
  local name=$1
  shift
  printf '%s\n' "caption = Acme Runner" "footer = Acme (c) 2026" "$@" >"$WORK/$name.cfg"
  timeout 120 "$WINE" "$VEKPACK" --stub "$(win "$STUB")" --config "$(win "$WORK/$name.cfg")" \
    "$(win "$WORK/tree")" "$(win "$WORK/$name.exe")" >"$WORK/$name-vekpack.txt" 2>&1 ||
    fail "vekpack $name: $(tr -d '\r' <"$WORK/$name-vekpack.txt")"
}
pack temp 'folder = {temp}' 'run = setup.exe --from-config "two words"'
pack confirm 'folder = {temp}' 'confirm = yes' 'run = setup.exe' 'prompt = Extracting to:'
pack broken 'folder = {temp}' 'run = broken.exe' 'run-error = Acme could not start its setup.'
pack installed 'folder = C:\runinst' 'group = Acme Run' 'item = setup.exe,Acme Run' 'run = setup.exe /installed'

# The user's temporary folders of ours, one a line.
temp_folders() { find "$DRIVE_C/users" -maxdepth 6 -type d -name 'vek????????????????' 2>/dev/null | sort; }
before=$(temp_folders)

# start NAME ARGS...: runs $WORK/NAME.exe in the background (exit code in NAME.rc).
start() {
  local name=$1
  shift
  rm -f "$WORK/probe.txt" "$WORK/$name.rc"
  (timeout 180 "$WINE" "$WORK/$name.exe" "$@" >"$WORK/$name.out" 2>&1; echo $? >"$WORK/$name.rc") &
  STUB_PID=$!
}
# finish NAME CODE: waits for it and checks its exit code.
finish() {
  wait_for_file "$WORK/$1.rc" 120 || fail "$1: the installer did not end"
  wait "$STUB_PID" 2>/dev/null
  STUB_PID=
  [ "$(cat "$WORK/$1.rc")" = "$2" ] || fail "$1: exit code $(cat "$WORK/$1.rc"), expected $2"
}
# ran NAME ARGS...: the program wrote the probe with these arguments, in a new
# temporary folder of ours that is gone now (FOLDER: its Unix path).
ran() {
  local name=$1 folder
  shift
  [ -f "$WORK/probe.txt" ] || fail "$name: the program did not run"
  tr -d '\r' <"$WORK/probe.txt" >"$WORK/$name-probe.txt"
  folder=$(sed -n 's/^folder=//p' "$WORK/$name-probe.txt")
  [[ $folder =~ \\Temp\\vek[0-9A-F]{16}$ ]] || fail "$name: the program ran in $folder"
  FOLDER=$DRIVE_C/$(sed 's/^[Cc]:\\//; s/\\/\//g' <<<"$folder")
  [ ! -e "$FOLDER" ] || fail "$name: $folder is still there: $(find "$FOLDER")"
  local expected=$'folder='"$folder"
  local a
  for a in "$@"; do expected+=$'\n'"arg=$a"; done
  expected+=$'\nnotes=1'
  [ "$(cat "$WORK/$name-probe.txt")" = "$expected" ] ||
    fail "$name: the program got $(cat "$WORK/$name-probe.txt"), expected $expected"
  echo "$name: the program ran in ${folder##*\\} with ${*@Q}; the folder is gone"
}

# /S, with arguments after "--" and a log.
start temp /S "/LOG=$(win "$WORK/temp.log")" -- /extra "x y"
finish temp 7
ran temp --from-config "two words" /extra "x y"
tr -d '\r' <"$WORK/temp.log" >"$WORK/temp-log.txt"
for line in 'run "C:\\.*\\setup\.exe" --from-config "two words" /extra "x y": ok' \
            'removed C:\\.*\\vek[0-9A-F]{16}: ok' 'exit code 7'; do
  grep -qE "^$line\$" "$WORK/temp-log.txt" || fail "temp: no log line $line"
done

# The window, which extracts as it opens and closes for the program.
start temp
finish temp 7
ran temp --from-config "two words"

# confirm = yes: the window first, its folder a new one it does not let the user change.
start confirm
window=$(find_window '^Acme Runner$' 60) || fail "confirm: no window"
sleep 1
probe confirm class:TForm1
grep -qE '^child 103 Edit .*text=C:\\.*\\Temp\\vek[0-9A-F]{16}' "$WORK/confirm.txt" || fail "confirm: the folder"
has confirm "readonly 103"
has confirm "text=Extracting to:"
shot confirm-dialog
keys "$window" Return
finish confirm 7
ran confirm

# A program that cannot be started: the message, exit 10, the folder gone.
start broken /S
finish broken 10
start broken
find_window '^Error$' 60 >/dev/null || fail "broken: no message"
sleep 0.5
probe broken-message title:Error
has broken-message "text=Acme could not start its setup."
shot broken-message
timeout 60 "$WINE" "$PROBE" "$(win "$WORK/broken-ok.txt")" title:Error 20 ok >"$WORK/broken-ok.log" 2>&1 ||
  fail "broken: the message's OK"
finish broken 10
echo "broken: exit 10 with /S and after the message"

[ "$(temp_folders)" = "$before" ] || fail "temporary folders left: $(temp_folders)"

# After an install into a folder of the user's choice: the files stay.
rm -rf "$DRIVE_C/runinst"
start installed /S
finish installed 7
tr -d '\r' <"$WORK/probe.txt" | grep -qxF 'folder=C:\runinst' || fail "installed: $(cat "$WORK/probe.txt")"
grep -qxF 'arg=/installed' "$WORK/probe.txt" || fail "installed: $(cat "$WORK/probe.txt")"
[ -f "$DRIVE_C/runinst/data/sub/deep.txt" ] || fail "installed: the files are gone"
echo "installed: the program ran in C:\\runinst after the install, exit 7"
echo "PASS"
