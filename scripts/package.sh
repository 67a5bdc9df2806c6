#!/usr/bin/env bash
# Builds the native, windows-x86 and windows-x64 presets and makes the packages:
#   build/native/packages/vek_VERSION_amd64.deb          (Debian: tools, both stubs,
#                                                         manual pages, completion)
#   build/windows-x64/packages/vek-VERSION-windows-x64.zip (vek.exe, vekpack.exe,
#                                                         both stubs, README.txt)
# then checks them: lintian on the .deb (when installed) and, under Wine, that the
# zip's vekpack.exe --sfx makes an executable that its vek.exe test accepts.
# --no-check skips the checks.
set -euo pipefail
cd "$(dirname "$0")/.."
check=1
[[ ${1:-} == --no-check ]] && check=0
export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER-$(command -v ccache || true)}
export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER-$(command -v ccache || true)}

echo "== windows-x86 (the i686 stub)"
cmake --preset windows-x86 >/dev/null
cmake --build --preset windows-x86 --target vekstub

echo "== windows-x64 (tools and the x86_64 stub) and its zip"
cmake --preset windows-x64 -DVEK_STUB_i686="$PWD/build/windows-x86/src/stub/vekstub.exe" >/dev/null
cmake --build --preset windows-x64 --target vek vekpack vekstub
(cd build/windows-x64 && cpack -G ZIP >/dev/null)

echo "== native (tools, manual pages, both stubs) and its Debian package"
cmake --preset native >/dev/null
cmake --build --preset native --target vek vekpack vek-packaging-files vekstub-x86_64 vekstub-i686
(cd build/native && cpack -G DEB >/dev/null)

deb=$(ls build/native/packages/vek_*_amd64.deb)
zip=$(ls build/windows-x64/packages/vek-*-windows-x64.zip)
echo "packages:"
ls -l "$deb" "$zip"
((check)) || exit 0

if command -v lintian >/dev/null 2>&1; then
  echo "== lintian $deb"
  lintian --fail-on error --info "$deb"
  echo "lintian: no errors"
else
  echo "== lintian is not installed (Debian: lintian): the .deb is not checked by it"
fi
echo "== the Windows zip under Wine"
WINEPREFIX="$PWD/build/windows-x64/wineprefix" bash tests/package/zip-wine.sh "$zip" "$PWD/examples/tarnovista" "$PWD/build/windows-x64/zip-check"
