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
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
  echo "(creating the Wine prefix)"
  timeout 300 wine64 wineboot -i >"$PWD/build/windows-x64/wineboot.log" 2>&1 || true
  timeout 60 wineserver -w || true
fi
status=0
ctest --preset windows-x64 --timeout 600 || status=$?
timeout 30 wineserver -k || true

echo "== Windows x86 build (compile only)"
cmake --preset windows-x86 >/dev/null
cmake --build --preset windows-x86
exit $status
