#!/usr/bin/env bash
# The Windows stub's own extraction against `vek.exe extract` on the same archive,
# both under Wine: what the dialog, its gauge and the closing steps add to a run.
#
# Usage: bench/stub-wine.sh [--quick] [--check-cost [--silent]] [--runs N] [--dir DIR] WINDOWS-BUILD NATIVE-BUILD
# WINDOWS-BUILD is a windows-x64 build (vekstub.exe, vek.exe, the recording DDE
# server); NATIVE-BUILD a native one (vekpack packs the trees). Trees, executables
# and extracted copies live in DIR (default /dev/shm) and are deleted at the end.
#
# Two trees: 1 GiB in 10,000 files and 20,000 files of 20 bytes (--quick: 100 MiB
# in 1,000 files and 5,000 files). For the stub, the extraction runs from the
# press of Enter in its dialog to the first DDE conversation of its registration
# (the recording server logs when it began), and the whole run to the end of the
# registration, which comes just before its closing message; for vek.exe the time
# is the whole run less the start of a Wine program (timed with `vek.exe --version`).
# The recording DDE server stands in for Program Manager, so registration does not
# wait. Each tool's median, with the fastest and slowest run, and the ratio.
#
# --check-cost compares the stub with itself instead: the executable as packed, whose
# checksum block the stub checks before it writes anything, against a copy whose
# stub constant for the block is 0 (the stub then neither finds nor checks it).
# It then times the check alone, from runs that end after it, against the whole run.
# --silent times those runs unattended (`/S /D=`), without the dialog and the keys
# typed into it, from the start of the program to its end.
set -u

QUICK=0 RUNS=3 DIR=/dev/shm CHECK_COST=0 SILENT=0
while [ $# -gt 2 ]; do
  case $1 in
    --quick) QUICK=1; shift ;;
    --check-cost) CHECK_COST=1; shift ;;
    --silent) SILENT=1; shift ;;
    --runs) RUNS=$2; shift 2 ;;
    --dir) DIR=$2; shift 2 ;;
    *) break ;;
  esac
done
if [ $# -ne 2 ] || [ ! -d "$1" ] || [ ! -d "$2" ]; then
  sed -n '2,23p' "$0" >&2
  exit 2
fi
BUILD_DIR=$(cd "$1" && pwd)
NATIVE_DIR=$(cd "$2" && pwd)
STUB=$BUILD_DIR/src/stub/vekstub.exe
VEK=$BUILD_DIR/tools/vek.exe
SERVER=$BUILD_DIR/tests/startmenu/dde_recording_server.exe
VEKPACK=$NATIVE_DIR/tools/vekpack
for f in "$STUB" "$VEK" "$SERVER" "$VEKPACK"; do
  [ -f "$f" ] || { echo "stub-wine: $f is missing: build it first" >&2; exit 1; }
done

WORK=$(mktemp -d "$DIR/vekstubbench-XXXXXX")
. "$(dirname "$0")/../tests/support/wine-e2e.sh"
find_wine_tools
XDOTOOL=$(command -v xdotool) || { echo "stub-wine: xdotool is missing" >&2; exit 1; }
export WINEPREFIX=$BUILD_DIR/bench-wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap 'cleanup; rm -rf "$WORK"' EXIT
start_xvfb 140
ensure_wine_prefix

now() { echo "$EPOCHREALTIME"; }
mkfifo "$WORK/never" && exec 9<>"$WORK/never"  # read -t on it waits without a process


make_tree() { # make_tree DIR FILES BYTES-EACH
  python3 - "$@" <<'EOF'
import os, sys
root, files, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
block = os.urandom(size) if size > 64 else None
for i in range(files):
    d = os.path.join(root, "g%03d" % (i // 256))
    if i % 256 == 0:
        os.makedirs(d)
    with open(os.path.join(d, "f%05d.bin" % i), "wb") as f:
        f.write(block if block else (b"%019d\n" % i)[:size])
EOF
}

# How many conversations the recording server has seen end, in ENDED, and when the
# first one after the first $1 ended began (the server's clock is the shell's), in
# BEGAN; all in bash alone, so that waiting starts no process while the stub works.
disconnects() {
  local line
  ENDED=0 BEGAN=
  if [ -f "$WORK/received.bin.log" ]; then
    while IFS= read -r line; do
      if [[ $line == disconnect* ]]; then
        ((ENDED++))
      elif [[ $line == *connect*" at="* && -z $BEGAN && $ENDED -ge ${1:-0} ]]; then
        BEGAN=${line##* at=}
      fi
    done <"$WORK/received.bin.log"
  fi
  return 0
}
pause() { read -r -t "$1" -u 9 _ || true; }

# One run of the stub: type the destination, press Enter, wait for the closing box.
# The extraction runs from the press of Enter to the first conversation of the
# registration; the whole run, in WHOLE, to the end of the last.
stub_run() { # stub_run EXE DEST -> seconds of the extraction in RESULT, of the whole run in WHOLE
  local exe=$1 dest=$2 start end main box
  rm -rf "$dest" "$WORK/stub.rc"
  fresh_server
  (timeout 900 "$WINE" "$exe" >"$WORK/stub.log" 2>&1; echo $? >"$WORK/stub.rc") &
  STUB_PID=$!
  main=$(find_window 'archiwum VEK' 60 0.05) || fail "the stub's window did not appear"
  sleep 0.5
  timeout 10 "$XDOTOOL" windowfocus --sync "$main" 2>/dev/null || "$XDOTOOL" windowfocus "$main"
  "$XDOTOOL" type --delay 5 "$(win "$dest")"
  sleep 0.3
  local before
  disconnects
  before=$ENDED
  start=$(now)
  "$XDOTOOL" key --clearmodifiers Return
  [ -n "${VEK_BENCH_DURING:-}" ] && eval "$VEK_BENCH_DURING"
  # The run ends with the registration, which the recording server logs; watching
  # its log costs the machine nothing, unlike asking the X server for windows.
  while disconnects && [ "$ENDED" -le "$before" ]; do
    [ -e "$WORK/stub.rc" ] && fail "the stub ended before registering"
    ((${EPOCHREALTIME%.*} - ${start%.*} > 900)) && fail "no registration within 15 minutes"
    pause 0.05
  done
  end=$(now)
  disconnects "$before"
  [ -n "$BEGAN" ] || fail "the recording server logged no time for the registration"
  box=$(find_window '^Information$' 60 0.05) || fail "no closing message"
  "$XDOTOOL" windowfocus "$box" 2>/dev/null
  "$XDOTOOL" key --clearmodifiers Return
  wait_for_file "$WORK/stub.rc" 60 || fail "the stub did not end"
  wait "$STUB_PID" 2>/dev/null
  STUB_PID=
  local n
  n=$(find "$dest" -type f | wc -l)
  [ "$n" -eq "$FILES" ] || fail "the stub extracted $n files, $FILES expected"
  RESULT=$(echo "$BEGAN - $start" | bc -l)
  WHOLE=$(echo "$end - $start" | bc -l)
}

silent_run() { # silent_run EXE DEST -> seconds of the whole unattended run in WHOLE
  local start n
  rm -rf "$2"
  start=$(now)
  timeout 900 "$WINE" "$1" /S "/D=$(win "$2")" >"$WORK/stub.log" 2>&1 || fail "the stub's unattended run"
  WHOLE=$(echo "$(now) - $start" | bc -l)
  n=$(find "$2" -type f | wc -l)
  [ "$n" -eq "$FILES" ] || fail "the stub extracted $n files, $FILES expected"
}
stub_run_or_silent() {
  if [ "$SILENT" = 1 ]; then silent_run "$@"; else stub_run "$@"; fi
}

vek_run() { # vek_run ARCHIVE DEST -> seconds, less the start of a Wine program, in RESULT
  local start end
  rm -rf "$2"
  start=$(now)
  ${VEK_BENCH_VEK_PREFIX:-} timeout 900 "$WINE" "$VEK" extract -q "$(win "$1")" -C "$(win "$2")" >"$WORK/vek.log" 2>&1 || fail "vek.exe extract"
  end=$(now)
  RESULT=$(echo "$end - $start - $START_COST" | bc -l)
}

stats() { # median, min and max of the arguments
  printf '%s\n' "$@" | sort -g | awk '{v[NR]=$1} END {m = NR % 2 ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2; printf "%.3f %.3f %.3f", m, v[1], v[NR]}'
}

# A recording server of its own for each run of the stub: it ends by itself two
# minutes after it starts, which must not fall inside a run.
fresh_server() {
  local i
  if [ -n "$SERVER_PID" ]; then
    touch "$WORK/received.bin.stop"
    for ((i = 0; i < 100; i++)); do
      kill -0 "$SERVER_PID" 2>/dev/null || break
      sleep 0.1
    done
    kill "$SERVER_PID" 2>/dev/null
    wait "$SERVER_PID" 2>/dev/null
  fi
  rm -f "$WORK/received.bin.ready" "$WORK/received.bin.stop"
  "$WINE" "$SERVER" "$(win "$WORK/received.bin")" >>"$WORK/server.log" 2>&1 &
  SERVER_PID=$!
  wait_for_file "$WORK/received.bin.ready" 120 || fail "recording server did not get ready"
}

# Writes to $2 the executable $1 with the stub's constant for its checksum block set
# to 0, the value of an executable packed without one.
unchecked_copy() {
  python3 - "$1" "$2" <<'EOF'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
pe = struct.unpack_from("<I", data, 0x3C)[0]
count = struct.unpack_from("<H", data, pe + 6)[0]
table = pe + 24 + struct.unpack_from("<H", data, pe + 20)[0]
for i in range(count):
    header = table + 40 * i
    if data[header:header + 8].rstrip(b"\0") == b".vekofs":
        constants = struct.unpack_from("<I", data, header + 20)[0]
        struct.pack_into("<I", data, constants + 8, 0)  # the checksum block's offset
        open(sys.argv[2], "wb").write(data)
        break
else:
    sys.exit("no .vekofs section in " + sys.argv[1])
EOF
}

# The start of a Wine program, which vek.exe pays and the stub's timing leaves out.
starts=()
for ((r = 0; r < 3; r++)); do
  s=$(now)
  "$WINE" "$VEK" --version >/dev/null 2>&1
  starts+=("$(echo "$(now) - $s" | bc -l)")
done
read -r START_COST _ _ <<<"$(stats "${starts[@]}")"
echo "start of a Wine program: $START_COST s (subtracted from vek.exe's runs)"

if [ -n "${VEK_BENCH_TREES:-}" ]; then
  read -r -a TREES <<<"$VEK_BENCH_TREES"
elif [ "$QUICK" = 1 ]; then
  TREES=("100 MiB in 1,000 files:1000:104857" "5,000 files of 20 bytes:5000:20")
else
  TREES=("1 GiB in 10,000 files:10000:107374" "20,000 files of 20 bytes:20000:20")
fi
for tree_line in "${TREES[@]}"; do
  IFS=: read -r title files size <<<"$tree_line"
  FILES=$files
  tree=$WORK/tree exe=$WORK/setup.exe dest=$WORK/out
  rm -rf "$tree"
  make_tree "$tree" "$files" "$size"
  "$VEKPACK" -q --stub "$STUB" "$tree" "$exe" || fail "vekpack"
  rm -rf "$tree"
  if [ "$CHECK_COST" = 1 ]; then
    unchecked_copy "$exe" "$WORK/unchecked.exe" || fail "no unchecked copy"
    checked=() unchecked=() pairs=()
    for ((r = 0; r < RUNS; r++)); do
      if ((r % 2 == 0)); then
        stub_run_or_silent "$exe" "$dest"; checked+=("$WHOLE")
        stub_run_or_silent "$WORK/unchecked.exe" "$dest"; unchecked+=("$WHOLE")
      else
        stub_run_or_silent "$WORK/unchecked.exe" "$dest"; unchecked+=("$WHOLE")
        stub_run_or_silent "$exe" "$dest"; checked+=("$WHOLE")
      fi
      pairs+=("$(echo "${checked[r]} / ${unchecked[r]}" | bc -l)")
    done
    # The check alone: a destination below a file cannot be made, so the checked run
    # ends after the check and the unchecked one at once; they differ by the check.
    touch "$WORK/a-file"
    alone=() quick=()
    for ((r = 0; r < RUNS; r++)); do
      for e in "$exe" "$WORK/unchecked.exe"; do
        start=$(now)
        "$WINE" "$e" /S "/D=$(win "$WORK/a-file")\\sub" >/dev/null 2>&1
        [ $? -eq 2 ] || fail "the run into a folder below a file did not end with exit code 2"
        if [ "$e" = "$exe" ]; then alone+=("$(echo "$(now) - $start" | bc -l)")
        else quick+=("$(echo "$(now) - $start" | bc -l)"); fi
      done
    done
    rm -rf "$dest" "$exe" "$WORK/unchecked.exe"
    read -r am amin amax <<<"$(stats "${alone[@]}")"
    read -r qm qmin qmax <<<"$(stats "${quick[@]}")"
    read -r cm cmin cmax <<<"$(stats "${checked[@]}")"
    read -r um umin umax <<<"$(stats "${unchecked[@]}")"
    read -r pm pmin pmax <<<"$(stats "${pairs[@]}")"
    what="the stub's run from Enter to its registration"
    [ "$SILENT" = 1 ] && what="the stub's whole run with /S"
    echo "$title ($what; median of $RUNS runs, fastest and slowest in brackets):"
    printf '  checked    %7.2f s  [%.2f .. %.2f]  %.3fx unchecked\n' "$cm" "$cmin" "$cmax" "$(echo "$cm / $um" | bc -l)"
    printf '  unchecked  %7.2f s  [%.2f .. %.2f]\n' "$um" "$umin" "$umax"
    # Each checked run against the unchecked run next to it, so that a slow spell of
    # the machine weighs on one ratio rather than on one side.
    printf '  checked / unchecked, run by run  %.3fx  [%.3f .. %.3f]\n' "$pm" "$pmin" "$pmax"
    printf '  ending after the check: checked %.3f s [%.3f .. %.3f], unchecked %.3f s [%.3f .. %.3f]\n' \
      "$am" "$amin" "$amax" "$qm" "$qmin" "$qmax"
    printf '  the check, %.3f s, against the unchecked run: %.1f%% of its median, %.1f%% of its fastest\n' \
      "$(echo "$am - $qm" | bc -l)" "$(echo "100 * ($am - $qm) / $um" | bc -l)" "$(echo "100 * ($am - $qm) / $umin" | bc -l)"
    continue
  fi
  stub_times=() whole_times=() vek_times=()
  for ((r = 0; r < RUNS; r++)); do
    if ((r % 2 == 0)); then
      stub_run "$exe" "$dest"; stub_times+=("$RESULT") whole_times+=("$WHOLE")
      vek_run "$exe" "$dest"; vek_times+=("$RESULT")
    else
      vek_run "$exe" "$dest"; vek_times+=("$RESULT")
      stub_run "$exe" "$dest"; stub_times+=("$RESULT") whole_times+=("$WHOLE")
    fi
    n=$(find "$dest" -type f | wc -l)
    [ "$n" -eq "$files" ] || fail "the last run extracted $n files, $files expected"
  done
  rm -rf "$dest" "$exe"
  read -r sm smin smax <<<"$(stats "${stub_times[@]}")"
  read -r wm wmin wmax <<<"$(stats "${whole_times[@]}")"
  read -r vm vmin vmax <<<"$(stats "${vek_times[@]}")"
  echo "$title (median of $RUNS runs, fastest and slowest in brackets):"
  printf '  vekstub.exe extraction        %7.2f s  [%.2f .. %.2f]  %.3fx vek.exe\n' "$sm" "$smin" "$smax" "$(echo "$sm / $vm" | bc -l)"
  printf '  vek.exe extract               %7.2f s  [%.2f .. %.2f]\n' "$vm" "$vmin" "$vmax"
  printf '  vekstub.exe with registration %7.2f s  [%.2f .. %.2f]  %.3fx vek.exe\n' \
    "$wm" "$wmin" "$wmax" "$(echo "$wm / $vm" | bc -l)"
done
touch "$WORK/received.bin.stop"
