#!/usr/bin/env bash
# Runs every test: the native unit tests (plain and under sanitizers), the Windows x64 tests under Wine (unit tests
# and end-to-end runs in a virtual display), and an i686 build that proves the 32-bit
# code compiles. Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

echo "== native build and tests"
cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native --timeout 600

echo "== native tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan --timeout 900

echo "== Windows x64 build and tests under Wine"
cmake --preset windows-x64 >/dev/null
cmake --build --preset windows-x64
export WINEPREFIX="$PWD/build/windows-x64/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
. scripts/wine-tools.sh
find_wine
end_wine_server
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
  echo "(creating the Wine prefix)"
  make_wine_prefix "$PWD/build/windows-x64/wineboot.log" ||
    { echo "wineboot failed:"; tail -n 20 "$PWD/build/windows-x64/wineboot.log"; exit 1; }
fi
status=0
ctest --preset windows-x64 --timeout 600 || status=$?
end_wine_server

echo "== Windows x86 build (compile only)"
cmake --preset windows-x86 >/dev/null
cmake --build --preset windows-x86
exit $status
