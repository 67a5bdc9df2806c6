#!/bin/bash
# One installer, its texts in several languages, under Wine in Xvfb.
#
#   tests/stub/lang_e2e.sh BUILD_DIR SOURCE_DIR   (BUILD_DIR: the windows-x64 build)
#
# vekpack.exe packs SOURCE_DIR/examples/tarnovista with English default texts and
# German, Polish (caption and closing message only) and Japanese ones. The installer
# runs with a window in Wine started in de_DE, pl_PL, ja_JP and fr_FR (which the
# configuration lacks), and in de_DE with /LANG=ja: the window's texts (probe and
# screenshot) and the closing message are the language's, a text it lacks the
# default's; the buttons grow to the Japanese captions; each installs and exits 0. vek.exe lists the texts per language. The
# locales are made for the test in a folder of its own (localedef, LOCPATH), and the
# windows drawn in a virtual desktop.
#
# Screenshots stay in BUILD_DIR/tests/stub/lang-e2e/screenshots. Exit 0 on success,
# 1 on failure, 77 (skip) when Xvfb, Wine, xdotool or localedef is missing.
set -u

BUILD_DIR=$(cd "$1" && pwd)
SOURCE_DIR=$(cd "$2" && pwd)
STUB=$BUILD_DIR/src/stub/vekstub.exe
VEKPACK=$BUILD_DIR/tools/vekpack.exe
VEK=$BUILD_DIR/tools/vek.exe
PROBE=$BUILD_DIR/tests/stub/stub_probe.exe
WORK=$BUILD_DIR/tests/stub/lang-e2e

. "$(dirname "$0")/../support/wine-e2e.sh"
find_wine_tools
XDOTOOL=$(command -v xdotool) || { echo "SKIP: xdotool not found"; exit 77; }
command -v localedef >/dev/null || { echo "SKIP: localedef not found"; exit 77; }
SHOTS=$WORK/screenshots
rm -rf "$WORK"
mkdir -p "$SHOTS" "$WORK/locales"
export LOCPATH=$WORK/locales
for l in de_DE pl_PL ja_JP fr_FR; do
  localedef -i $l -f UTF-8 "$LOCPATH/$l.UTF-8" >"$WORK/localedef.log" 2>&1 || {
    echo "SKIP: localedef cannot make $l.UTF-8"
    exit 77
  }
done
export WINEPREFIX=$BUILD_DIR/tests/stub/wineprefix-lang
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
DRIVE_C=$WINEPREFIX/drive_c
trap cleanup EXIT
start_xvfb 160
ensure_wine_prefix
# A virtual desktop: the windows with their title bars in the screenshots. A reg that
# Wine's desktop takes down as it starts is run again.
reg_add() {
  local i
  for i in 1 2 3; do
    timeout 60 "$WINE" reg add "$@" /f >>"$WORK/reg.log" 2>&1 && return 0
    sleep 1
  done
  return 1
}
reg_add 'HKCU\Software\Wine\Explorer' /v Desktop /d vek &&
  reg_add 'HKCU\Software\Wine\Explorer\Desktops' /v vek /d 800x600 || fail "could not set up the virtual desktop"

# The texts: key, default, German, Polish, Japanese (empty: not given).
TEXTS=(
  'caption|Acme Setup|Acme Installation|Instalator Acme|Acme セットアップ'
  'prompt|Install into:|Installieren nach:||インストール先:'
  'footer|Acme (c) 2026|Acme (c) 2026 Acme GmbH||'
  'done|Acme is installed.|Acme ist installiert.|Acme jest zainstalowany.|Acme のインストールが完了しました。'
  'extract-button|&Install|&Entpacken||インストール(&I)'
  'quit-button|&Cancel|&Abbrechen||キャンセル'
)
CONFIG=$WORK/setup.cfg
{
  echo 'group = Acme Lang'
  echo 'item = index.htm,Acme'
  for t in "${TEXTS[@]}"; do
    IFS='|' read -r key default de pl ja <<<"$t"
    echo "$key = $default"
    [ -n "$de" ] && echo "$key[de] = $de"
    [ -n "$pl" ] && echo "$key[PL] = $pl"
    [ -n "$ja" ] && echo "$key[ja] = $ja"
  done
} >"$CONFIG"
EXE=$WORK/setup.exe
timeout 120 "$WINE" "$VEKPACK" --stub "$(win "$STUB")" --config "$(win "$CONFIG")" \
  "$(win "$SOURCE_DIR/examples/tarnovista")" "$(win "$EXE")" >"$WORK/vekpack.txt" 2>&1 ||
  fail "vekpack: $(tr -d '\r' <"$WORK/vekpack.txt")"

timeout 60 "$WINE" "$VEK" list "$(win "$EXE")" 2>&1 | tr -d '\r' >"$WORK/list.txt"
for line in 'caption = Acme Setup' 'caption[de] = Acme Installation' 'caption[pl] = Instalator Acme' \
            'done[ja] = Acme のインストールが完了しました。'; do
  grep -qxF "  $line" "$WORK/list.txt" || fail "list: no \"$line\""
done
echo "list: the texts per language are listed"

# The text of key $2 for language column $1 (2 German, 3 Polish, 4 Japanese, 0 none):
# the language's, else the default.
text() {
  local t
  for t in "${TEXTS[@]}"; do
    IFS='|' read -r key default de pl ja <<<"$t"
    [ "$key" = "$2" ] || continue
    local own=
    case $1 in 2) own=$de ;; 3) own=$pl ;; 4) own=$ja ;; esac
    echo "${own:-$default}"
  done
}

# run NAME LOCALE COLUMN ARGS...: the window and the closing message in that language.
run() {
  local name=$1 loc=$2 column=$3
  shift 3
  end_wine_server
  export LANG=$loc LC_ALL=$loc
  keep_wine_server
  local caption
  caption=$(text "$column" caption)
  rm -rf "$DRIVE_C/lang/$name" "$WORK/$name.rc"
  (timeout 180 "$WINE" "$EXE" "$@" "/D=C:\\lang\\$name" >"$WORK/$name.log" 2>&1; echo $? >"$WORK/$name.rc") &
  STUB_PID=$!
  local window
  window=$(find_window "^$caption\$" 60) || fail "$name: no window \"$caption\""
  sleep 1
  probe "$name" class:TForm1
  has "$name" "title=$caption enabled=1"
  local key
  for key in prompt footer extract-button quit-button; do has "$name" "text=$(text "$column" $key)"; done
  # The buttons end where the gauge ends, as wide as their longer caption needs (the
  # Japanese one more than the 75 pixels of the others), the folder's box short of them.
  local buttons left width
  buttons=$(sed -n 's/^child 10[45] Button \([0-9]*\) [0-9]* \([0-9]*\) .*/\1 \2/p' "$WORK/$name.txt" | sort -u)
  read -r left width <<<"$buttons"
  [ "$(wc -l <<<"$buttons")" = 1 ] && ((left + width == 610)) || fail "$name: the buttons at $buttons"
  if [ "$name" = japanese ]; then ((width > 75)) || fail "$name: the buttons only $width wide"; fi
  grep -qE "^child 103 Edit 209 [0-9]+ $((313 - (width - 75))) " "$WORK/$name.txt" || fail "$name: the folder's box"
  shot "$name-dialog"
  keys "$window" Return
  find_window '^Information$' 60 >/dev/null || fail "$name: no closing message"
  sleep 0.5
  probe "$name-closing" title:Information
  has "$name-closing" "text=$(text "$column" done)"
  # The group's folder windows, which the shell opens meanwhile (one or two), closed
  # to show the message; then its OK.
  local seconds
  for seconds in 10 3 3; do
    timeout 60 "$WINE" "$PROBE" "$(win "$WORK/$name-group.txt")" 'title:Acme Lang' $seconds close \
      >"$WORK/$name-group.log" 2>&1 || break
    sleep 1
  done
  shot "$name-closing"
  timeout 60 "$WINE" "$PROBE" "$(win "$WORK/$name-ok.txt")" title:Information 20 ok >"$WORK/$name-ok.log" 2>&1 ||
    fail "$name: the closing message's OK"
  wait_for_file "$WORK/$name.rc" 60 || fail "$name: the program did not end"
  wait "$STUB_PID" 2>/dev/null
  STUB_PID=
  [ "$(cat "$WORK/$name.rc")" = 0 ] || fail "$name: exit code $(cat "$WORK/$name.rc")"
  [ -f "$DRIVE_C/lang/$name/index.htm" ] || fail "$name: nothing installed"
  echo "$name: in $loc${*:+ with $*} the window and the closing message say \"$caption\", \"$(text "$column" done)\""
}
run german de_DE.UTF-8 2
run polish pl_PL.UTF-8 3
run japanese ja_JP.UTF-8 4
run french fr_FR.UTF-8 0
run override de_DE.UTF-8 4 /LANG=ja
