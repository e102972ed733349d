#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for SECONDS (default 7).
# A longer hunt: scripts/fuzz.sh 600. New inputs go to build/fuzz/corpus/;
# the committed seeds in tests/fuzz/corpus/ are only read.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-7}
scripts/setup.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
failed=0
for target in fuzz_text fuzz_command fuzz_read_string; do
  mkdir -p "build/fuzz/corpus/$target"
  if build/fuzz/tests/fuzz/$target -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix=build/fuzz/ \
      "build/fuzz/corpus/$target" "tests/fuzz/corpus/$target" > "build/fuzz/$target.log" 2>&1; then
    runs=$(grep -oE 'stat::number_of_executed_units: *[0-9]+' "build/fuzz/$target.log" | grep -oE '[0-9]+$')
    echo "ok   $target: $runs inputs in ${seconds} s"
  else
    echo "FAIL $target (see build/fuzz/$target.log)"; tail -30 "build/fuzz/$target.log"; failed=$((failed + 1))
  fi
done
echo "fuzz: $((3 - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
