#!/usr/bin/env bash
# check-seed.sh PYTHON MAKE-SEED-TREE VEKPACK VEK SCRATCH
#
# Packs the seeded 376-entry tree twice and checks the archive: its exact size
# (56 bytes of signature and header, 376 records of 256 bytes, 5,745,418 bytes of
# file data), its listing, its self-test, and that both packs are byte-identical.
set -euo pipefail

if [[ $# -ne 5 ]]; then
  echo "usage: check-seed.sh PYTHON MAKE-SEED-TREE VEKPACK VEK SCRATCH" >&2
  exit 2
fi
python=$1 maketree=$2 vekpack=$3 vek=$4 scratch=$5

readonly expected_entries=376
# The archive itself (5841730 bytes), then its checksum block (28 + 12 per entry)
# and the block's 12-byte footer.
readonly expected_size=$((5841730 + 28 + 12 * expected_entries + 12))

fail() { echo "check-seed: FAIL: $*" >&2; exit 1; }

rm -rf -- "$scratch"
mkdir -p -- "$scratch"

"$python" "$maketree" "$scratch/tree" || fail "make-seed-tree.py failed"

"$vekpack" "$scratch/tree" "$scratch/first.vek" || fail "vekpack exited with $?"
[[ -f $scratch/first.vek ]] || fail "vekpack wrote no $scratch/first.vek"

size=$(stat -c %s -- "$scratch/first.vek")
[[ $size -eq $expected_size ]] ||
  fail "archive is $size bytes, expected $expected_size"

"$vek" list "$scratch/first.vek" >"$scratch/list.txt" || fail "vek list exited with $?"
grep -q "$expected_entries entries" "$scratch/list.txt" ||
  fail "vek list does not report '$expected_entries entries':$(printf '\n'; tail -n 3 "$scratch/list.txt")"
lines=$(grep -vc "$expected_entries entries" "$scratch/list.txt" || true)
[[ $lines -ge $expected_entries ]] ||
  fail "vek list printed $lines lines besides its summary, expected one per entry ($expected_entries)"

"$vek" test "$scratch/first.vek" >"$scratch/test.txt" 2>&1 ||
  fail "vek test exited with $?:$(printf '\n'; tail -n 5 "$scratch/test.txt")"

# The same command on a fresh tree must give the same archive, byte for byte.
"$python" "$maketree" "$scratch/tree2" >/dev/null || fail "make-seed-tree.py failed the second time"
"$vekpack" "$scratch/tree2" "$scratch/second.vek" || fail "second vekpack exited with $?"
cmp -- "$scratch/first.vek" "$scratch/second.vek" ||
  fail "packing the same tree twice gave different archives"

echo "check-seed: OK: $expected_entries entries, $size bytes, listed, tested, reproducible"
