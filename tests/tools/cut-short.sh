#!/usr/bin/env bash
# vek extract on an archive cut at every byte of its data: the entries before the
# cut come out whole, the entry that the cut falls in is named with "Read beyond end
# of file." (after "Error writing file" when the cut is where its data begins), and
# the exit status is 1; only the whole archive extracts with 0.
# Usage: cut-short.sh VEKPACK VEK SCRATCH [RUNNER...]  (RUNNER: wine64 for .exe tools)
# VEK_CUTS="N..." cuts only there (bytes of data kept, 0 to 40) instead of everywhere.
set -u
vekpack=$1 vek=$2 scratch=$3
shift 3
run=("$@")
rm -rf "$scratch"
mkdir -p "$scratch/src/d"
cd "$scratch" || exit 1
fail() { echo "FAIL: $*"; exit 1; }

printf aaaaaaa >src/a.txt
: >src/c.txt
printf eeeeeeeeeeeeeeeeeeee >src/e.txt
printf bbbbbbbbbbbbb >src/d/b.txt
"${run[@]}" "$vekpack" -q src whole.vek || fail "vekpack"
# The entries in archive order (files first, then each folder): identifier, path,
# where the data begins and ends in the data area.
ids=(1 2 3 5) paths=(a.txt c.txt e.txt d/b.txt) starts=(0 7 7 27) ends=(7 7 27 40)
data_start=$(($(stat -c %s whole.vek) - 40))

cuts=${VEK_CUTS:-$(seq 0 40)}
for kept in $cuts; do
  head -c $((data_start + kept)) whole.vek >cut.vek
  rm -rf out
  "${run[@]}" "$vek" extract -q cut.vek -C out >out.txt 2>err.txt
  rc=$?
  if grep -q '^wine client error' err.txt; then
    # Wine lost its server as the program started (not the program's doing): once more.
    rm -rf out
    "${run[@]}" "$vek" extract -q cut.vek -C out >out.txt 2>err.txt
    rc=$?
  fi
  err=$(tr -d '\r' <err.txt)
  cut=-1
  for i in 0 1 2 3; do
    if ((ends[i] > kept)); then cut=$i; break; fi
  done
  if ((cut < 0)); then
    [ "$rc" = 0 ] || fail "whole archive: exit $rc: $err"
    diff -r src out >/dev/null || fail "whole archive: the tree differs"
    continue
  fi
  [ "$rc" = 1 ] || fail "cut at $kept: exit $rc, expected 1"
  label="entry ${ids[cut]}, \\${paths[cut]//\//\\}"
  [[ $err == *"Read beyond end of file. ($label)"* ]] || fail "cut at $kept: expected the cut entry ($label) in: $err"
  if ((kept == starts[cut])); then
    [[ $err == *"Error writing file ($label)"* ]] || fail "cut at $kept: no \"Error writing file\" in: $err"
  else
    [[ $err != *"Error writing file"* ]] || fail "cut at $kept: unexpected \"Error writing file\" in: $err"
  fi
  for ((i = 0; i < cut; i++)); do
    cmp -s "src/${paths[i]}" "out/${paths[i]}" || fail "cut at $kept: ${paths[i]} is not whole"
  done
  [ "$(stat -c %s "out/${paths[cut]}")" = $((kept - starts[cut])) ] || fail "cut at $kept: ${paths[cut]} size"
  for ((i = cut + 1; i < 4; i++)); do
    [ ! -e "out/${paths[i]}" ] || fail "cut at $kept: ${paths[i]} was made after the cut"
  done
done
echo "cut after ${VEK_CUTS:-each} of the 40 bytes of data: the cut entry named, exit 1; whole: exit 0"
cd / && rm -rf "$scratch"
