#!/usr/bin/env bash
# Installs what building and testing need, from Debian's packages, when it is
# missing. Safe to run again: it installs nothing that is already there.
set -euo pipefail

packages=(cmake ninja-build g++ git python3 python3-pefile libgtest-dev libgmock-dev libbenchmark-dev clang clang-format
          clang-tidy libclang-rt-14-dev osslsigncode openssl
          g++-mingw-w64-i686-win32 binutils-mingw-w64-i686 wine wine32:i386 wine64)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
# Wine runs the 32-bit exe through its i386 half.
dpkg --print-foreign-architectures | grep -qx i386 || "${as_root[@]}" dpkg --add-architecture i386
"${as_root[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q "${missing[@]}"
