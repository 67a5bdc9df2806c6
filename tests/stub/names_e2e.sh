#!/bin/bash
# Names in many scripts through the installer under Wine, whatever Wine's code page.
#
#   tests/stub/names_e2e.sh BUILD_DIR SOURCE_DIR   (BUILD_DIR: the windows-x64 build)
#
# vekpack.exe packs a tree with Polish, Czech, German, Greek, Russian and Japanese
# names, an emoji, and paths of about 300 and 1,000 characters; a second executable
# holds Polish names only (Windows-1250 names, the plain layout). Each is installed
# with /S (which writes the group itself) with Wine running in pl_PL, en_US
# and ja_JP (ANSI code pages 1250, 1252 and 932), into a destination given with /D=
# in Polish and Japanese: the tree on disk, seen from Linux as UTF-8, must equal the
# source, exit 0. Then, in en_US, the installer started from C:\Łódź\ and C:\日本\
# with /D=C:/fwd/N/ (forward slashes) installs exactly there. In pl_PL also the Polish
# tree with pages, packed with --compress (a solid block; the names still
# Windows-1250), installs with /S byte for byte. The runs of one locale share a
# Wine server.
# Exit 0 on success, 1 on failure, 77 (skip) when Xvfb, Wine or localedef is missing.
set -u

BUILD_DIR=$(cd "$1" && pwd)
SOURCE_DIR=$(cd "$2" && pwd)
STUB=$BUILD_DIR/src/stub/vekstub.exe
VEKPACK=$BUILD_DIR/tools/vekpack.exe
WORK=$BUILD_DIR/tests/stub/names-e2e

. "$(dirname "$0")/../support/wine-e2e.sh"
find_wine_tools
LOCALES="pl_PL.UTF-8 en_US.UTF-8 ja_JP.UTF-8"
command -v localedef >/dev/null || { echo "SKIP: localedef not found"; exit 77; }
rm -rf "$WORK"
mkdir -p "$WORK/locales"
# The locales are made for the test in a folder of its own: the system needs none.
export LOCPATH=$WORK/locales
for l in $LOCALES; do
  localedef -i "${l%%.*}" -f UTF-8 "$LOCPATH/$l" >"$WORK/localedef.log" 2>&1 || {
    echo "SKIP: localedef cannot make $l"
    exit 77
  }
done
export WINEPREFIX=$BUILD_DIR/tests/stub/wineprefix-names
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
DRIVE_C=$WINEPREFIX/drive_c
trap cleanup EXIT
ensure_wine_prefix
start_xvfb 80

# The trees.
MULTI=$WORK/multi POLISH=$WORK/polish
mkdir -p "$MULTI/Łódź/Příliš žluťoučký kůň" "$MULTI/Größe" "$MULTI/Ελληνικά" "$MULTI/Русский" "$MULTI/日本語"
for f in "Zażółć gęślą jaźń.htm" "Łódź/Příliš žluťoučký kůň/úpěl.txt" "Größe/Straße.txt" "Ελληνικά/Καλημέρα.htm" \
         "Русский/Привет.txt" "日本語/テスト.htm" "photos-📷.txt"; do
  echo "$f" >"$MULTI/$f"
done
long=$MULTI/$(printf 'a%.0s' {1..100})/$(printf 'b%.0s' {1..100})/$(printf 'c%.0s' {1..60})
mkdir -p "$long" && echo 300 >"$long/three-hundred.txt"
long=$MULTI
for i in 1 2 3 4; do long=$long/$(printf "$i%.0s" {1..220}); done
mkdir -p "$long" && echo 1000 >"$long/one-thousand.txt"
mkdir -p "$POLISH/Łódź"
echo pl >"$POLISH/Zażółć gęślą jaźń.htm"
echo pl >"$POLISH/Łódź/źdźbło.txt"

pack() { # pack TREE EXE
  timeout 120 "$WINE" "$VEKPACK" --stub "$(win "$STUB")" "$(win "$1")" "$(win "$2")" >"$WORK/vekpack.log" 2>&1 ||
    fail "vekpack.exe $1"
}
pack "$MULTI" "$WORK/multi.exe"
pack "$POLISH" "$WORK/polish.exe"
tail=$(python3 -c 'import sys; d=open(sys.argv[1],"rb").read(); i=d.rfind(b"RN-VEK"); print(d[i+6:i+8].hex())' \
  "$WORK/polish.exe")
[ "$tail" = 0001 ] || fail "the Polish tree is not the plain layout ($tail)"
tail=$(python3 -c 'import sys; d=open(sys.argv[1],"rb").read(); i=d.rfind(b"RN-VEK"); print(d[i+6:i+8].hex())' \
  "$WORK/multi.exe")
[ "$tail" = 0002 ] || fail "the multilingual tree is not marked as UTF-8 names ($tail)"

# install NAME LOCALE EXE DEST-AS-GIVEN DEST-ON-LINUX TREE: /S /D=, exit 0, the tree.
# The runs of one locale share a Wine server; a run in another locale gets a server of
# its own, started in that locale.
server_locale=
install() {
  local name=$1 loc=$2 exe=$3 given=$4 on_disk=$5 tree=$6
  if [ "$loc" != "$server_locale" ]; then
    end_wine_server
    keep_wine_server
    server_locale=$loc
  fi
  rm -rf "$on_disk"
  local rc=0
  LANG=$loc LC_ALL=$loc timeout 180 "$WINE" "$exe" /S "/D=$given" >"$WORK/$name.log" 2>&1 || rc=$?
  [ $rc -eq 0 ] || fail "$name: exit code $rc"
  diff -r "$tree" "$on_disk" >"$WORK/$name.diff" 2>&1 || fail "$name: the tree differs: $(head -5 "$WORK/$name.diff")"
  echo "$name: $(find "$on_disk" -type f | wc -l) files under their names, exit 0"
}

# Compressed: pages and an incompressible file in a solid block, Windows-1250 names
# (installed in pl_PL).
ZPOLISH=$WORK/zpolish
cp -r "$POLISH" "$ZPOLISH"
seq 1 40000 >"$ZPOLISH/Łódź/strona.htm"
head -c 70000 /dev/urandom >"$ZPOLISH/zdjęcie.jpg"
timeout 120 "$WINE" "$VEKPACK" --compress=9 --stub "$(win "$STUB")" "$(win "$ZPOLISH")" "$(win "$WORK/zpolish.exe")" \
  >"$WORK/vekpack-z.log" 2>&1 || fail "vekpack.exe --compress"
grep -q '3 of the files in 1 solid block' "$WORK/vekpack-z.log" || fail "compressed: $(tr -d '\r' <"$WORK/vekpack-z.log")"
(( $(stat -c %s "$WORK/zpolish.exe") < $(stat -c %s "$STUB") + 70000 + 228894 / 2 )) || fail "compressed: not smaller"

for loc in $LOCALES; do
  tag=${loc%%.*}
  install "multi-$tag" "$loc" "$WORK/multi.exe" "C:\\names\\$tag\\Zażółć テスト" "$DRIVE_C/names/$tag/Zażółć テスト" "$MULTI"
  install "polish-$tag" "$loc" "$WORK/polish.exe" "C:\\names\\$tag\\pl" "$DRIVE_C/names/$tag/pl" "$POLISH"
  case $tag in
    pl_PL)
      install "compressed" "$loc" "$WORK/zpolish.exe" "C:\\names\\z" "$DRIVE_C/names/z" "$ZPOLISH" ;;
    en_US)
      # Started from folders named in Polish and Japanese, with "/" in /D=.
      n=0
      for folder in "Łódź" "日本"; do
        n=$((n + 1))
        mkdir -p "$DRIVE_C/$folder"
        cp "$WORK/multi.exe" "$DRIVE_C/$folder/setup.exe"
        install "from-$n" "$loc" "$DRIVE_C/$folder/setup.exe" "C:/fwd/$n/" "$DRIVE_C/fwd/$n" "$MULTI"
        echo "from-$n: started from C:\\$folder\\, /D=C:/fwd/$n/ installed there"
        rm -rf "$DRIVE_C/$folder"
      done ;;
  esac
done
rm -rf "$DRIVE_C/names" "$DRIVE_C/fwd"
echo "names: every name on disk equals the source's in pl_PL, en_US and ja_JP"
