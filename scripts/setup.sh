#!/usr/bin/env bash
# Installs, on Debian 12, whatever the build and the tests need and is missing.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

need=()
if [[ $(id -u) -ne 0 ]]; then SUDO=sudo; else SUDO=; fi
want() { # want PACKAGE [COMMAND-OR-FILE]
  local pkg=$1 probe=${2:-}
  if [[ -n $probe ]]; then
    if [[ $probe == /* ]]; then [[ -e $probe ]] && return 0
    else command -v "$probe" >/dev/null 2>&1 && return 0; fi
  elif dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'ok installed'; then
    return 0
  fi
  need+=("$pkg")
}

want g++ g++
want make make
want ninja-build ninja
want cmake cmake
want googletest /usr/src/googletest/CMakeLists.txt
want libgtest-dev /usr/include/gtest/gtest.h
want libgmock-dev /usr/include/gmock/gmock.h
want zlib1g-dev /usr/include/zlib.h              # vek: inflating the previous release's deflated archives
want lzma-dev /usr/include/lzma/LzmaDec.c        # the LZMA SDK: the stub's decoder, the Windows tools' encoder
want liblzma-dev /usr/include/lzma.h             # vekpack's LZMA encoder on Linux, the tests' second opinion
want libz-mingw-w64-dev /usr/x86_64-w64-mingw32/lib/libz.a  # the stub's and Windows tools' zlib
want mingw-w64 x86_64-w64-mingw32-g++-posix
want g++-mingw-w64-i686-posix i686-w64-mingw32-g++-posix
want wine64 wine64
want xvfb Xvfb
want xdotool xdotool
want imagemagick /usr/bin/convert
want x11-apps xwd
want x11-utils xev
want tar tar
want xxd xxd
want osslsigncode osslsigncode
want openssl openssl
want python3 python3
want python3-pefile /usr/lib/python3/dist-packages/pefile.py  # the tests' independent PE reader
want strace strace  # bench/bench.py: system calls per file
want zip zip        # bench/bench.py --compressed: the sizes and times compared
want unzip unzip
want bc bc          # bench/stub-wine.sh
want help2man help2man
want locales /usr/bin/localedef  # tests/stub/lang_e2e.sh: the locales it runs Wine in
want fonts-ipafont-gothic /usr/share/fonts/opentype/ipafont-gothic/ipag.ttf  # the Japanese texts drawn

if ((${#need[@]})); then
  echo "setup: installing ${need[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
# Debian's wine64 package keeps its programs in /usr/lib/wine/, outside PATH: the
# scripts find them there (scripts/wine-tools.sh); CTest and people typing wine64
# want the loader on PATH.
. "$(dirname "$0")/wine-tools.sh"
find_wine
if ! command -v wine64 >/dev/null 2>&1; then
  $SUDO ln -sf "$WINE" /usr/local/bin/wine64
fi
echo "setup: ok" >&2
