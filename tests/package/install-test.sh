#!/usr/bin/env bash
# Installs the build into a fresh prefix and, with only that prefix's bin on PATH
# (nothing from the build tree), packs the sample with --sfx and --sfx=x86, lists,
# tests and extracts the results with the installed vek and compares the tree.
# usage: install-test.sh CMAKE BUILD-DIR SOURCE-DIR WORK-DIR
set -euo pipefail
cmake=$1 build=$2 source=$3 work=$4
rm -rf "$work"
mkdir -p "$work"
prefix="$work/prefix with space"
"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log"

fail() { echo "FAIL: $*" >&2; exit 1; }
for f in bin/vek bin/vekpack share/man/man1/vek.1.gz share/man/man1/vekpack.1.gz \
         share/doc/vek/README.md share/doc/vek/docs/format.md share/doc/vek/LICENSE \
         share/bash-completion/completions/vek share/bash-completion/completions/vekpack; do
  [[ -f $prefix/$f ]] || fail "not installed: $f"
done
if [[ ! -f $prefix/share/vek/vekstub-x86_64.exe || ! -f $prefix/share/vek/vekstub-i686.exe ]]; then
  echo "SKIP: the build made no Windows stubs (no mingw-w64)"
  exit 77
fi

cd "$work"
# The installed programs alone: a PATH of the prefix and the system, a clean environment.
run() { env -i HOME="$work" TZ=UTC PATH="$prefix/bin:/usr/bin:/bin" "$@"; }
[[ $(run sh -c 'command -v vekpack') == "$prefix/bin/vekpack" ]] || fail "vekpack not taken from the prefix"

for sfx in --sfx --sfx=x86; do
  rm -rf out && mkdir out
  run vekpack -q "$sfx" "$source/examples/tarnovista" setup.exe
  stub=vekstub-x86_64.exe; [[ $sfx == --sfx=x86 ]] && stub=vekstub-i686.exe
  size=$(stat -c %s "$prefix/share/vek/$stub")
  cmp -s -n "$size" setup.exe <(head -c "$size" "$prefix/share/vek/$stub"; true) && fail "$sfx: stub copied unpatched"
  run vek list setup.exe >list.txt
  grep -q "index.htm" list.txt || fail "$sfx: listing lacks index.htm"
  run vek test setup.exe | tail -1 | grep -q ": OK, " || fail "$sfx: vek test did not pass"
  run vek extract -q setup.exe -C out
  diff -r "$source/examples/tarnovista" out || fail "$sfx: extracted tree differs"
  echo "ok: $sfx"
done

# A bare archive without either option; the stub lookup's failure names the places.
run vekpack -q "$source/examples/tarnovista" bare.vek
[[ $(head -c 6 bare.vek) == RN-VEK ]] || fail "bare archive expected"
mv "$prefix/share/vek" "$work/stubs-away"
if run vekpack -q --sfx "$source/examples/tarnovista" none.exe 2>err.txt; then fail "--sfx without a stub succeeded"; fi
grep -q "share/vek/vekstub-x86_64.exe" err.txt || fail "--sfx failure does not say where it looked: $(cat err.txt)"
echo "ok: installed tools"
