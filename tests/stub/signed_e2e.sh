#!/bin/bash
# End-to-end test of a self-extracting executable signed after packing, under Wine.
#
#   tests/stub/signed_e2e.sh BUILD_DIR SOURCE_DIR   (BUILD_DIR: the windows-x64 build)
#
# vekpack.exe packs SOURCE_DIR/examples/tarnovista behind vekstub.exe, and the result
# is signed with a throw-away certificate (openssl, osslsigncode) as a publisher signs
# it: the signature goes behind the archive and its place into the PE header. Then:
#
#   verify   osslsigncode verifies the signature
#   vek      vek.exe list shows every entry of the archive, vek.exe test finds it sound
#   silent   the signed executable with /S installs into C:\Tarnovista_3_99 the tree
#            of the source (bytes, and times to the 2 seconds of an MS-DOS time stamp),
#            sends nothing to the recording "progman" server that answers (a shell
#            would open the group's window), writes the group's shortcut itself into
#            the prefix's Start menu and ends with 0
#
# The dialog runs on the executable as packed (e2e.sh): signing changes only the
# header and what follows the archive, and the run reads neither.
#
# Exit 0 on success, 1 on failure, 77 (skip) when Xvfb, Wine, osslsigncode or openssl
# is missing.
set -u

if [ $# -ne 2 ] || [ ! -d "$1" ] || [ ! -d "$2" ]; then
  echo "usage: $0 BUILD_DIR SOURCE_DIR" >&2
  exit 2
fi
BUILD_DIR=$(cd "$1" && pwd)
SOURCE_DIR=$(cd "$2" && pwd)
STUB=$BUILD_DIR/src/stub/vekstub.exe
VEKPACK=$BUILD_DIR/tools/vekpack.exe
VEK=$BUILD_DIR/tools/vek.exe
SERVER=$BUILD_DIR/tests/startmenu/dde_recording_server.exe
EXAMPLES=$SOURCE_DIR/examples/tarnovista
WORK=$BUILD_DIR/tests/stub/signed-e2e

. "$(dirname "$0")/../support/wine-e2e.sh"
find_wine_tools
command -v osslsigncode >/dev/null || { echo "SKIP: osslsigncode not found"; exit 77; }
command -v openssl >/dev/null || { echo "SKIP: openssl not found"; exit 77; }
for f in "$STUB" "$VEKPACK" "$VEK" "$SERVER"; do
  [ -f "$f" ] || { echo "FAIL: $f not built"; exit 1; }
done

rm -rf "$WORK"
mkdir -p "$WORK/exe" "$WORK/keys"
export WINEPREFIX=$BUILD_DIR/tests/stub/wineprefix-signed
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
DEST=$WINEPREFIX/drive_c/Tarnovista_3_99
trap cleanup EXIT
start_xvfb 110
ensure_wine_prefix
keep_wine_server

# --- verify: packed, then signed ------------------------------------------------------------
EXE=$WORK/exe/TARNOVISTA.Setup.exe
timeout 120 "$WINE" "$VEKPACK" --stub "$(win "$STUB")" "$(win "$EXAMPLES")" "$(win "$EXE.unsigned")" \
  >"$WORK/vekpack.txt" 2>&1 || fail "vekpack"
KEYS=$WORK/keys
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=VEK test publisher" \
  -addext "extendedKeyUsage=codeSigning" \
  -keyout "$KEYS/key.pem" -out "$KEYS/cert.pem" >"$WORK/openssl.txt" 2>&1 || fail "openssl"
osslsigncode sign -certs "$KEYS/cert.pem" -key "$KEYS/key.pem" -n "Tarnovista 3/99" -h sha256 \
  -in "$EXE.unsigned" -out "$EXE" >"$WORK/sign.txt" 2>&1 || fail "osslsigncode sign"
osslsigncode verify -CAfile "$KEYS/cert.pem" "$EXE" >"$WORK/verify.txt" 2>&1 ||
  fail "the signature does not verify"
grep -q "Signature verification: ok" "$WORK/verify.txt" || fail "the signature does not verify"
[ "$(stat -c %s "$EXE")" -gt "$(stat -c %s "$EXE.unsigned")" ] || fail "the signature added nothing"
echo "verify: $(stat -c %s "$EXE.unsigned") bytes packed, $(stat -c %s "$EXE") signed; the signature verifies"

# --- vek: list and test read the signed executable ------------------------------------------
timeout 60 "$WINE" "$VEK" list "$(win "$EXE")" >"$WORK/list.txt" 2>&1 || fail "vek: vek list"
tr -d '\r' <"$WORK/list.txt" | sed -n 's/^ *[0-9]* file [^\\]*\(\\.*\)$/\1/p' | sort >"$WORK/listed.txt"
(cd "$EXAMPLES" && find . -type f | sed 's|^\.||; s|/|\\|g' | sort) >"$WORK/files.txt"
cmp -s "$WORK/files.txt" "$WORK/listed.txt" ||
  fail "vek: vek list shows other files: $(diff "$WORK/files.txt" "$WORK/listed.txt" | head -n 5)"
timeout 60 "$WINE" "$VEK" test "$(win "$EXE")" >"$WORK/test.txt" 2>&1 || fail "vek: vek test: exit $?"
tr -d '\r' <"$WORK/test.txt" | tail -n 1 | grep -q ': OK, ' || fail "vek: vek test did not find it sound"
echo "vek: list shows every file, test finds the signed executable sound"

# --- silent: /S installs the tree and registers it ----------------------------------------
PROGRAMS=$(find "$WINEPREFIX/drive_c/users" -type d -path '*/Start Menu/Programs' | head -n 1)
[ -n "$PROGRAMS" ] || fail "no Start Menu/Programs folder in the prefix"
LNK="$PROGRAMS/NWM Tarnovista/Tarnovista 3_99.lnk"
rm -rf "$DEST" "$PROGRAMS/NWM Tarnovista"
RECEIVED=$WORK/received.bin
"$WINE" "$SERVER" "$(win "$RECEIVED")" >"$WORK/server.log" 2>&1 &
SERVER_PID=$!
wait_for_file "$RECEIVED.ready" 120 || fail "recording server did not get ready"
timeout 180 "$WINE" "$EXE" /S >"$WORK/silent.log" 2>&1
rc=$?
[ "$rc" = 0 ] || fail "silent: exit code $rc, expected 0"
diff -r "$EXAMPLES" "$DEST" >"$WORK/diff.txt" 2>&1 || fail "silent: the installed tree differs"
while IFS= read -r -d '' f; do
  rel=${f#"$EXAMPLES"/}
  src=$(stat -c %Y "$f")
  got=$(stat -c %Y "$DEST/$rel")
  [ "$got" -eq $((src - src % 2)) ] || fail "silent: $rel modified $got, source $src"
done < <(find "$EXAMPLES" -type f -print0)
stop_recording_server "$RECEIVED" || fail "recording server did not stop"
[ -s "$RECEIVED" ] && fail "silent: the server received $(od -c "$RECEIVED" | head -n 8)"
[ -f "$LNK" ] || fail "silent: no ${LNK#"$PROGRAMS"/}"
python3 - "$LNK" <<'PY' || fail "silent: the shortcut does not point at C:\Tarnovista_3_99\INDEX.HTM"
import sys
data = open(sys.argv[1], "rb").read()
sys.exit(0 if all(t.encode("utf-16-le") in data for t in ("C:\\Tarnovista_3_99", "INDEX.HTM")) else 1)
PY
echo "silent: /S installed $(find "$DEST" -type f | wc -l) files with their times, nothing over DDE," \
  "the shortcut written, exit 0"

echo "PASS"
exit 0
