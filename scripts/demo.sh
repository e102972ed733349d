#!/usr/bin/env bash
# Sets up the machine as needed, builds the exe, and runs it once under Wine
# with a stand-in browser as the default, telling what happened.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
exec /usr/bin/python3 scripts/demo.py
