#!/usr/bin/env bash
# Sets up as needed, builds, and runs the benchmarks: host microbenchmarks,
# then launcher against floor under Wine: 25 start-up pairs, then 7 pairs
# of 10 s browser sessions; then the players' installer against a plain
# NSIS installer of the same files, 8 pairs of silent updates, and 8 more
# with 8 MB of incompressible game data (about 7 minutes in all).
set -euo pipefail
cd "$(dirname "$0")/.." || exit 1
scripts/build.sh >/dev/null
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DLAUNCHER_SANITIZE=OFF >/dev/null
cmake --build build/bench --target micro_bench >/dev/null
build/bench/bench/micro_bench
/usr/bin/python3 bench/bench_wine.py build/win build/bench-wine 25 7 10
/usr/bin/python3 bench/bench_installer.py build/win build/bench-installer 8
/usr/bin/python3 bench/bench_installer.py build/win build/bench-installer-8mb 8 8
