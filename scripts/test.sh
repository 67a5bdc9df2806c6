#!/usr/bin/env bash
# Runs every test: the Windows x64 tests under Wine (unit tests and end-to-end runs in
# virtual displays), the Linux tests under AddressSanitizer and
# UndefinedBehaviorSanitizer (unit tests, fuzz replays, scripts, the installed tools),
# and the i686 stub, which compiles the portable code for 32 bits. Installs what
# is missing first; exits non-zero when a build or any test fails.
#
# On two cores the Windows tests, which mostly wait for Wine and its windows, run in
# the background while the sanitizers' build runs beside them at a lower priority, and
# then the sanitizers' tests, also at a lower priority. Builds run three jobs: the third
# fills the gaps that links leave. Each stub the tests use is built once:
# windows-x86 makes the i686 one, windows-x64 the x86_64 one, and the other builds take
# them from there; a second i686 stub, built in the background from a copy of the
# sources in another folder, must be the same bytes (scripts/check-stub-reproducible.sh).
# The Windows tests' output goes to build/windows-x64/ctest.log, that of the tests under
# the sanitizers to build/asan/ctest.log; both are printed when they end.
# `ctest --preset native` runs the same Linux tests on a plain build by hand.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
. scripts/wine-tools.sh
find_wine

root=$PWD
export WINEPREFIX=$root/build/windows-x64/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The end-to-end tests' prefixes are copies of this one (scripts/wine-tools.sh).
export VEK_WINE_TEMPLATE=$root/build/windows-x64/wineprefix-template
stub_x86_64=$root/build/windows-x64/src/stub/vekstub.exe
stub_i686=$root/build/windows-x86/src/stub/vekstub.exe
wine_log=$root/build/windows-x64/ctest.log
asan_log=$root/build/asan/ctest.log
start=$SECONDS
mkdir -p build/windows-x64

# Background jobs (the Wine prefix, the Windows tests), each in a process group of its
# own, end with this script.
running=()
stop_jobs() {
  local pid
  for pid in "${running[@]}"; do
    kill -- "-$pid" 2>/dev/null || true
  done
  end_wine_server
}
trap stop_jobs EXIT
# Starts "$@" in the background; its process id in last_pid.
background() {
  setsid -w "$@" &
  last_pid=$!
  running+=("$last_pid")
}
# Waits for the background job $1 and returns its exit status.
finish() {
  local rc=0 pid kept=()
  wait "$1" || rc=$?
  for pid in "${running[@]}"; do
    [ "$pid" = "$1" ] || kept+=("$pid")
  done
  running=("${kept[@]}")
  return $rc
}
phase() { echo "== $* ($((SECONDS - start)) s)"; }
# The presets build with Ninja; a build folder configured with another generator
# (Makefiles, before) is configured afresh.
for dir in build/windows-x86 build/windows-x64 build/asan; do
  if [ -f "$dir/CMakeCache.txt" ] && ! grep -qx 'CMAKE_GENERATOR:INTERNAL=Ninja' "$dir/CMakeCache.txt"; then
    rm -rf "$dir/CMakeCache.txt" "$dir/CMakeFiles"
  fi
done

phase "Wine prefix (in the background) and the i686 stub"
end_wine_server
background bash -c '. scripts/wine-tools.sh && find_wine && make_wine_prefix "$1"' _ "$root/build/windows-x64/wineboot.log"
prefix_pid=$last_pid
cmake --preset windows-x86 -DVEK_STUB_x86_64="$stub_x86_64" >/dev/null
cmake --build --preset windows-x86 --target vekstub --parallel 3

phase "Windows x64 build, and the i686 stub again from a copy elsewhere (in the background)"
repro_log=$root/build/windows-x86/reproducible.log
background bash -c 'nice bash scripts/check-stub-reproducible.sh i686 "$1" >"$2" 2>&1' _ "$stub_i686" "$repro_log"
repro_pid=$last_pid
cmake --preset windows-x64 -DVEK_STUB_i686="$stub_i686" >/dev/null
cmake --build --preset windows-x64 --parallel 3
if ! finish "$prefix_pid"; then
  echo "wineboot failed:"
  tail -n 20 build/windows-x64/wineboot.log
  exit 1
fi

phase "Windows x64 tests under Wine (in the background; output in $wine_log)"
background bash -c 'ctest --preset windows-x64 -j4 --timeout 600 >"$1" 2>&1' _ "$wine_log"
wine_pid=$last_pid

status=0
phase "build under AddressSanitizer and UndefinedBehaviorSanitizer, with the package files"
nice cmake --preset asan -DVEK_PACKAGING=ON -DVEK_STUB_x86_64="$stub_x86_64" -DVEK_STUB_i686="$stub_i686" >/dev/null
nice cmake --build --preset asan --parallel 3

# Beside the Windows tests when these still run: the sanitizers' tests' time limits
# leave room for a busy machine.
phase "Linux tests under the sanitizers (output in $asan_log)"
nice ctest --preset asan -j2 --timeout 900 >"$asan_log" 2>&1 || status=1

phase "waiting for the Windows x64 tests"
finish "$wine_pid" || status=1
end_wine_server
finish "$repro_pid" || status=1
cat "$wine_log"
cat "$asan_log"
cat "$repro_log"
phase "done"
exit $status
