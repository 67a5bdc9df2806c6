#!/usr/bin/env bash
# The executables vekpack writes carry the PE checksum that pefile computes for them
# (unconfigured, configured with an icon, compressed, x64 and x86); signed, they
# verify.
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

# check_checksum FILE: the checksum field is what pefile's generate_checksum() gives,
# and no certificate is named.
check_checksum() {
  "$python" - "$1" <<'PY'
import sys, pefile
pe = pefile.PE(sys.argv[1], fast_load=True)
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
sign() { # sign IN OUT
  osslsigncode sign -certs "$scratch/cert.pem" -key "$scratch/key.pem" -in "$1" -out "$2" >/dev/null
  osslsigncode verify -CAfile "$scratch/cert.pem" -in "$2" >"$2.verify" 2>&1 ||
    { cat "$2.verify"; echo "$2: does not verify"; exit 1; }
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

