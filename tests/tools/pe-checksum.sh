#!/usr/bin/env bash
# The executables vekpack writes parse without pefile's warnings and carry the PE
# checksum that pefile computes for them
# (unconfigured, configured with an icon, compressed, x64 and x86); signed, they
# verify. A signed stub given to --stub loses its signature with a warning, and the
# installer made of it signs and verifies.
# Usage: pe-checksum.sh VEKPACK VEK SOURCE-DIR SCRATCH STUB-X64 STUB-X86
# (exit 77, skipped, when neither stub is built)
set -euo pipefail
vek=$2 src=$3 scratch=$4
python=/usr/bin/python3
rm -rf "$scratch"
mkdir -p "$scratch/cfg" "$scratch/bin"
# vekpack with the built stubs beside it, where --sfx looks.
cp "$1" "$scratch/bin/vekpack"
vekpack=$scratch/bin/vekpack
archs=()
[[ -f $5 ]] && cp "$5" "$scratch/bin/vekstub-x86_64.exe" && archs+=(x64)
[[ -f $6 ]] && cp "$6" "$scratch/bin/vekstub-i686.exe" && archs+=(x86)
(( ${#archs[@]} )) || { echo "no built stub"; exit 77; }
cp -r "$src/examples/tarnovista" "$scratch/sample"

# check_checksum FILE: pefile parses every table without a warning, the checksum field
# is what its generate_checksum() gives, and no certificate is named.
check_checksum() {
  "$python" - "$1" <<'PY'
import sys, pefile
pe = pefile.PE(sys.argv[1])
if pe.get_warnings():
    sys.exit(f"{sys.argv[1]}: pefile warns: " + "; ".join(pe.get_warnings()))
stored, computed = pe.OPTIONAL_HEADER.CheckSum, pe.generate_checksum()
security = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
if stored != computed:
    sys.exit(f"{sys.argv[1]}: checksum {stored:#x}, pefile computes {computed:#x}")
if security.VirtualAddress or security.Size:
    sys.exit(f"{sys.argv[1]}: a certificate is named at {security.VirtualAddress:#x}")
PY
}

# A throwaway self-signed key for signing.
openssl req -x509 -newkey rsa:2048 -nodes -subj "/CN=vek test" -days 2 \
  -keyout "$scratch/key.pem" -out "$scratch/cert.pem" 2>/dev/null
sign() { # sign IN OUT: OUT verifies, and pefile parses it without a warning
  osslsigncode sign -certs "$scratch/cert.pem" -key "$scratch/key.pem" -in "$1" -out "$2" >/dev/null
  osslsigncode verify -CAfile "$scratch/cert.pem" -in "$2" >"$2.verify" 2>&1 ||
    { cat "$2.verify"; echo "$2: does not verify"; exit 1; }
  "$python" -c 'import sys, pefile; w = pefile.PE(sys.argv[1]).get_warnings(); sys.exit("; ".join(w) if w else 0)' "$2" ||
    { echo "$2: pefile warns"; exit 1; }
}

printf 'caption = Sample\npublisher = Acme Ltd.\nversion = 2.1\nicon = acme.ico\n' >"$scratch/cfg/setup.cfg"
"$python" - "$scratch/cfg/acme.ico" <<'PY'
import struct, sys
size = 16
bitmap = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
bitmap += b"\x10\x80\xff\xff" * size * size + b"\0" * (4 * size)
entry = struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(bitmap), 6 + 16)
open(sys.argv[1], "wb").write(struct.pack("<HHH", 0, 1, 1) + entry + bitmap)
PY

for arch in "${archs[@]}"; do
  "$vekpack" -q --sfx=$arch "$scratch/sample" "$scratch/plain-$arch.exe"
  "$vekpack" -q --sfx=$arch --config "$scratch/cfg/setup.cfg" "$scratch/sample" "$scratch/icon-$arch.exe"
  "$vekpack" -q --sfx=$arch --compress "$scratch/sample" "$scratch/compressed-$arch.exe"
  for exe in plain icon compressed; do
    check_checksum "$scratch/$exe-$arch.exe"
    sign "$scratch/$exe-$arch.exe" "$scratch/$exe-$arch-signed.exe"
    "$vek" test "$scratch/$exe-$arch-signed.exe" >/dev/null
  done
done
echo "checksums: as pefile computes them; signed: verified"

# A signed stub.
stub=$(ls "$scratch"/bin/vekstub-*.exe | head -n 1)
osslsigncode sign -certs "$scratch/cert.pem" -key "$scratch/key.pem" -in "$stub" -out "$scratch/signed-stub.exe" >/dev/null
"$vekpack" --stub "$scratch/signed-stub.exe" --config "$scratch/cfg/setup.cfg" "$scratch/sample" \
  "$scratch/from-signed.exe" 2>"$scratch/from-signed.err" >/dev/null
grep -qF "warning: $scratch/signed-stub.exe is signed; its signature is dropped: sign the finished installer" \
  "$scratch/from-signed.err" || { cat "$scratch/from-signed.err"; echo "no warning of the dropped signature"; exit 1; }
check_checksum "$scratch/from-signed.exe"
"$vek" list "$scratch/from-signed.exe" | grep -q "CompanyName *Acme Ltd." || { echo "no version information"; exit 1; }
sign "$scratch/from-signed.exe" "$scratch/from-signed-signed.exe"
"$vek" test "$scratch/from-signed-signed.exe" >/dev/null
echo "signed stub: its signature dropped; the installer signs and verifies"

# Certificates that are not at the stub's end cannot be cut off: refused.
cat "$scratch/signed-stub.exe" <(head -c 4096 /dev/zero) >"$scratch/signed-stub-more.exe"
if "$vekpack" -q --stub "$scratch/signed-stub-more.exe" "$scratch/sample" "$scratch/refused.exe" 2>"$scratch/refused.err"; then
  echo "a stub with bytes after its certificates was taken"; exit 1
fi
grep -qF "signed-stub-more.exe: this stub is signed, its certificates not at its end: sign the finished installer, not the stub" \
  "$scratch/refused.err" || { cat "$scratch/refused.err"; exit 1; }
[[ ! -e $scratch/refused.exe ]]
echo "signed stub with bytes after its certificates: refused"
