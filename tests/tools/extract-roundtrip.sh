#!/usr/bin/env bash
# vek extract reproduces a packed tree byte for byte, with the same modification
# times: the sample periodical and the seed-shaped tree.
# Usage: extract-roundtrip.sh VEKPACK VEK SOURCE-DIR SCRATCH
set -euo pipefail
vekpack=$1 vek=$2 src=$3 scratch=$4
rm -rf "$scratch"
mkdir -p "$scratch"

check_tree() { # check_tree SOURCE EXTRACTED
  diff -r "$1" "$2"
  # DOS times keep 2-second steps: compare times rounded down to even seconds.
  local a b
  a=$(cd "$1" && find . -type f -printf '%p %TY-%Tm-%Td %TH:%TM %TS\n' | awk '{split($4,s,"."); printf "%s %s %s %02d\n",$1,$2,$3,int(s[1]/2)*2}' | sort)
  b=$(cd "$2" && find . -type f -printf '%p %TY-%Tm-%Td %TH:%TM %TS\n' | awk '{split($4,s,"."); printf "%s %s %s %02d\n",$1,$2,$3,int(s[1]/2)*2}' | sort)
  if [[ "$a" != "$b" ]]; then
    echo "modification times differ:"; diff <(echo "$a") <(echo "$b") | head -20
    return 1
  fi
}

# The sample, with its times fixed the way a release would pack it.
cp -r "$src/examples/tarnovista" "$scratch/sample"
find "$scratch/sample" -exec touch -d '1999-03-15 10:20:30' {} +
"$vekpack" -q "$scratch/sample" "$scratch/sample.vek"
"$vek" extract -q "$scratch/sample.vek" -C "$scratch/out-sample/nested"
check_tree "$scratch/sample" "$scratch/out-sample/nested"
echo "sample: identical"

python3 "$src/scripts/make-seed-tree.py" "$scratch/seed" >/dev/null
"$vekpack" -q "$scratch/seed" "$scratch/seed.vek"
(cd "$scratch" && "$vek" extract -q seed.vek -C out-seed)
check_tree "$scratch/seed" "$scratch/out-seed"
echo "seed-shaped tree: identical"

# Compressed, at the lowest, a middle and the highest level, and in blocks of every
# size: the same tree, smaller, and marked so that no reader of the plain layout
# takes it for one.
for options in --compress=1 --compress=5 -z "-z --solid=file" "-z --solid=64K"; do
  name=$(echo "$options" | tr -dc 'a-z0-9')
  # shellcheck disable=SC2086
  "$vekpack" -q $options "$scratch/seed" "$scratch/seed-$name.vek"
  [[ $(od -An -tx1 -j6 -N2 "$scratch/seed-$name.vek" | tr -d ' ') == 0002 ]] || { echo "$options: not marked"; exit 1; }
  # The header's table stream size (its reserved bytes 6 to 9) is 0 and the solid
  # index's place (10 to 13) is not: the table is in the index.
  [[ $(od -An -tx1 -j14 -N4 "$scratch/seed-$name.vek" | tr -d ' ') == 00000000 &&
     $(od -An -tx1 -j18 -N4 "$scratch/seed-$name.vek" | tr -d ' ') != 00000000 ]] || { echo "$options: no solid index"; exit 1; }
  (( $(stat -c %s "$scratch/seed-$name.vek") < $(stat -c %s "$scratch/seed.vek") )) || { echo "$options: not smaller"; exit 1; }
  "$vek" test "$scratch/seed-$name.vek" >/dev/null
  "$vek" extract -q "$scratch/seed-$name.vek" -C "$scratch/out-seed-$name"
  check_tree "$scratch/seed" "$scratch/out-seed-$name"
done
"$vek" list "$scratch/seed-z.vek" >"$scratch/seed-z.txt"
grep -q '^Compression: solid LZMA, 1 block' "$scratch/seed-z.txt" || { echo "vek list does not say it is solid"; exit 1; }
"$vek" list "$scratch/seed-zsolidfile.vek" >"$scratch/seed-zfile.txt"
grep -q "^Compression: solid LZMA, $(grep -c ' lzma ' "$scratch/seed-zfile.txt") blocks" "$scratch/seed-zfile.txt" ||
  { echo "--solid=file: not a block for each file"; exit 1; }
echo "seed-shaped tree compressed: identical"
"$vekpack" -q -z "$scratch/sample" "$scratch/sample-z.vek"
"$vek" extract -q "$scratch/sample-z.vek" -C "$scratch/out-sample-z"
check_tree "$scratch/sample" "$scratch/out-sample-z"
echo "sample compressed: identical"
for options in --compress=0 --compress=10 --compress=012 --compress=1x --compress= "-z --solid=0" "-z --solid=2G" \
               "-z --solid=12X" "-z --solid=" --solid=1M; do
  # shellcheck disable=SC2086
  if "$vekpack" -q $options "$scratch/seed" "$scratch/bad.vek" 2>/dev/null; then
    echo "$options accepted"; exit 1
  fi
done

# A second extraction over the first replaces everything and still matches.
"$vek" extract -q "$scratch/seed.vek" -C "$scratch/out-seed"
check_tree "$scratch/seed" "$scratch/out-seed"
echo "re-extraction: identical"

# Names in any language: packed as UTF-8 (the signature ends 00 02), listed as they
# are, extracted under them into folders named by the user's own bytes (CJK, an
# emoji, a Latin-1 byte that is no UTF-8, a backslash, which is a name's on POSIX).
m="$scratch/multi"
mkdir -p "$m/Łódź" "$m/Ελληνικά" "$m/日本語"
for f in "Łódź/Příliš žluťoučký kůň.txt" "Größe.txt" "Ελληνικά/Καλημέρα.htm" "Русский.txt" \
         "日本語/テスト.htm" "photos-📷.txt"; do
  echo "$f" >"$m/$f"
done
find "$m" -exec touch -d '2001-02-03 04:05:06' {} +
"$vekpack" -q "$m" "$scratch/multi.vek"
[[ $(od -An -tx1 -j6 -N2 "$scratch/multi.vek" | tr -d ' ') == 0002 ]] || { echo "not marked as UTF-8 names"; exit 1; }
"$vek" list "$scratch/multi.vek" >"$scratch/multi.txt"
for name in '\Ελληνικά\Καλημέρα.htm' '\日本語\テスト.htm' '\photos-📷.txt' '\Łódź\Příliš žluťoučký kůň.txt'; do
  grep -qF "$name" "$scratch/multi.txt" || { echo "vek list lacks $name"; cat "$scratch/multi.txt"; exit 1; }
done
for folder in "日本" "photos-📷" $'caf\xe9' 'back\slash'; do
  (cd "$scratch" && "$vek" extract -q multi.vek -C "$folder")
  check_tree "$m" "$scratch/$folder"
done
echo "multilingual names: identical, in folders of any bytes"

# An archive that holds an older copy of itself under its own name (packed, put
# into the folder, packed again): extracting it there fails on that entry and
# leaves the archive as it was.
mkdir -p "$scratch/s"
echo page >"$scratch/s/index.htm"
"$vekpack" -q "$scratch/s" "$scratch/out.vek"
cp "$scratch/out.vek" "$scratch/s/out.vek"
"$vekpack" -q "$scratch/s" "$scratch/out.vek"
cp "$scratch/out.vek" "$scratch/s/out.vek"
cp "$scratch/s/out.vek" "$scratch/before.vek"
if "$vek" extract -q "$scratch/s/out.vek" -C "$scratch/s" 2>"$scratch/own.txt"; then
  echo "extracting an archive over itself succeeded"; exit 1
fi
grep -q "overwrite the archive being read" "$scratch/own.txt" || { cat "$scratch/own.txt"; exit 1; }
cmp "$scratch/before.vek" "$scratch/s/out.vek"
echo "own archive: refused, untouched"
rm -rf "$scratch"
