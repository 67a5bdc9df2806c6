#!/usr/bin/env bash
# Builds the stub from a copy of this checkout in a folder of another name and
# compares the executable byte for byte: with another build of it, or with a second
# copy's build.
# Usage: scripts/check-stub-reproducible.sh [ARCH [STUB]]
# ARCH: x86_64 (the default) or i686. STUB: a vekstub.exe already built from this
# checkout with the windows-x64 or windows-x86 preset (scripts/test.sh passes the
# i686 one); without it, the script builds two copies.
set -eu
arch=${1:-x86_64}
case $arch in
  x86_64) preset=windows-x64 ;;
  i686) preset=windows-x86 ;;
  *) echo "check-stub-reproducible: ARCH is x86_64 or i686" >&2; exit 2 ;;
esac
root=$(cd "$(dirname "$0")/.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
build() { # build COPY-NAME: the stub of a fresh copy of the sources, in $scratch/COPY-NAME
  mkdir -p "$scratch/$1"
  tar -C "$root" --exclude=./build --exclude=./.git -cf - . | tar -x -C "$scratch/$1"
  (cd "$scratch/$1" && cmake --preset "$preset" -DVEK_BUILD_TESTS=OFF -DVEK_BUILD_TOOLS=OFF \
    -DVEK_PACKAGING=OFF >/dev/null && cmake --build --preset "$preset" --target vekstub >/dev/null)
}
if [ $# -ge 2 ]; then
  a=$2
else
  build first-copy
  a="$scratch/first-copy/build/$preset/src/stub/vekstub.exe"
fi
build second-copy-elsewhere
b="$scratch/second-copy-elsewhere/build/$preset/src/stub/vekstub.exe"
if cmp "$a" "$b"; then
  echo "vekstub.exe ($arch): $(wc -c <"$a") bytes, the same from both builds"
else
  echo "vekstub.exe ($arch): the two builds differ" >&2
  exit 1
fi
