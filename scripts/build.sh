#!/usr/bin/env bash
# Sets up the machine as needed and cross-builds the shipped exe into
# build/win/gamestart.exe and its doctor (with the test stand-ins beside them).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows
