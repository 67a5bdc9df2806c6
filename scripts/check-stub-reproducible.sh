#!/usr/bin/env bash
# Builds the x86_64 stub twice, from two copies of the checked-out commit in folders
# of different names, and compares the two executables byte for byte.
# Usage: scripts/check-stub-reproducible.sh [ARCH]   (ARCH: x86_64, the default, or i686)
set -eu
arch=${1:-x86_64}
root=$(cd "$(dirname "$0")/.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for copy in first-clone second-clone-elsewhere; do
  mkdir -p "$scratch/$copy"
  git -C "$root" archive HEAD | tar -x -C "$scratch/$copy"
  cmake -S "$scratch/$copy" -B "$scratch/$copy/build" -DCMAKE_TOOLCHAIN_FILE="$scratch/$copy/cmake/mingw-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=MinSizeRel -DVEK_BUILD_TESTS=OFF -DVEK_BUILD_TOOLS=OFF -DVEK_PACKAGING=OFF >/dev/null
  cmake --build "$scratch/$copy/build" --target vekstub >/dev/null
done
a="$scratch/first-clone/build/src/stub/vekstub.exe"
b="$scratch/second-clone-elsewhere/build/src/stub/vekstub.exe"
if cmp "$a" "$b"; then
  echo "vekstub.exe ($arch): $(wc -c <"$a") bytes, the same from both copies"
else
  echo "vekstub.exe ($arch): the two builds differ" >&2
  exit 1
fi
