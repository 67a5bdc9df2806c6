#!/usr/bin/env bash
# Unpacks the Windows zip and, under Wine, packs the sample with the zip's own
# vekpack.exe --sfx (the stub beside it) and checks the result with its vek.exe test
# and list, then extracts it with the native-independent vek.exe and compares.
# usage: zip-wine.sh ZIP SAMPLE-FOLDER WORK-DIR
set -euo pipefail
zip=$(readlink -f "$1") sample=$(readlink -f "$2") work=$3
rm -rf "$work"
mkdir -p "$work"
export WINEPREFIX=${WINEPREFIX:-$work/wineprefix} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
. "$(dirname "$0")/../../scripts/wine-tools.sh"
find_wine
wine=$WINE
trap end_wine_server EXIT
if [[ ! -f $WINEPREFIX/system.reg ]]; then
  make_wine_prefix "$work/wineboot.log" || { tail -n 20 "$work/wineboot.log"; exit 1; }
fi

python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$work/unpacked"
top=$(ls -d "$work"/unpacked/*/)
for f in vek.exe vekpack.exe vekstub-x86_64.exe vekstub-i686.exe README.txt; do
  [[ -f $top/$f ]] || { echo "FAIL: the zip lacks $f" >&2; exit 1; }
done
cp -r "$sample" "$work/sample"
cd "$work"
for sfx in --sfx --sfx=x86; do
  rm -rf setup.exe out
  timeout 120 "$wine" "$top/vekpack.exe" -q "$sfx" sample setup.exe
  timeout 120 "$wine" "$top/vek.exe" test setup.exe | tr -d '\r' | tee test.txt
  grep -q "setup.exe: OK, " test.txt || { echo "FAIL: vek.exe test did not accept the $sfx output" >&2; exit 1; }
  timeout 120 "$wine" "$top/vek.exe" extract -q setup.exe -C out
  diff -r sample out || { echo "FAIL: $sfx: the extracted tree differs" >&2; exit 1; }
  echo "ok: vekpack.exe $sfx from the zip; vek.exe test and extract"
done
