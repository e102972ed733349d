#!/usr/bin/env bash
# Sets up the machine as needed and cross-builds the shipped exe into
# build/win/gamestart.exe (with the test stand-ins beside it).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/win -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
cmake --build build/win
