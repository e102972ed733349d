#!/usr/bin/env bash
# Sets up as needed, builds, and runs the benchmarks: host microbenchmarks,
# then launcher against floor under Wine: 25 start-up pairs, then 7 pairs
# of 10 s browser sessions (about 5 minutes in all).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh >/dev/null
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DLAUNCHER_SANITIZE=OFF >/dev/null
cmake --build build/bench --target micro_bench >/dev/null
build/bench/bench/micro_bench
/usr/bin/python3 bench/bench_wine.py build/win build/bench-wine 25 7 10
