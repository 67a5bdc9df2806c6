#!/usr/bin/env bash
# The main job on the bundled sample: builds the tools, packs examples/tarnovista into
# a VEK archive, lists and checks it, and extracts it again.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset native >/dev/null
cmake --build --preset native --target vek vekpack >/dev/null
bin=build/native/tools
out=build/demo
rm -rf "$out"
mkdir -p "$out"
"$bin/vekpack" examples/tarnovista "$out/tarnovista.vek"
"$bin/vek" list "$out/tarnovista.vek"
"$bin/vek" test "$out/tarnovista.vek"
"$bin/vek" extract "$out/tarnovista.vek" -C "$out/extracted"
diff -r examples/tarnovista "$out/extracted" && echo "extracted tree: identical to examples/tarnovista"
