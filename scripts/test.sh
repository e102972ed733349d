#!/usr/bin/env bash
# Sets up the machine as needed and runs every test: host unit tests under
# AddressSanitizer and UBSan, short fuzzing runs, then the shipped exe end
# to end under Wine. Ends with one "total: N passed, M failed" line.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh || exit 1
failed_stage=0

echo "== host tests"
cmake -S . -B build/host -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null && cmake --build build/host || exit 1
ctest --test-dir build/host --output-on-failure -j2 | tee build/host/ctest.log
[ "${PIPESTATUS[0]}" -eq 0 ] || failed_stage=1
host_total=$(grep -oE 'out of [0-9]+' build/host/ctest.log | grep -oE '[0-9]+' || echo 0)
host_failed=$(grep -oE '[0-9]+ tests failed' build/host/ctest.log | grep -oE '^[0-9]+' || echo 0)

echo "== fuzzing (7 s a target)"
scripts/fuzz.sh 7 | tee build/fuzz.log
[ "${PIPESTATUS[0]}" -eq 0 ] || failed_stage=1
fuzz_passed=$(grep -oE '^fuzz: [0-9]+ passed' build/fuzz.log | grep -oE '[0-9]+' || echo 0)
fuzz_failed=$(grep -oE '^fuzz: [0-9]+ passed, [0-9]+ failed' build/fuzz.log | grep -oE '[0-9]+ failed' | grep -oE '^[0-9]+' || echo 1)

echo "== end to end under Wine"
scripts/build.sh || exit 1
timeout 600 /usr/bin/python3 tests/e2e/run_e2e.py build/win build/e2e | tee build/e2e.log
[ "${PIPESTATUS[0]}" -eq 0 ] || failed_stage=1
e2e_passed=$(grep -oE '^[0-9]+ passed' build/e2e.log | grep -oE '^[0-9]+' || echo 0)
e2e_failed=$(grep -oE '^[0-9]+ passed, [0-9]+ failed' build/e2e.log | grep -oE '[0-9]+ failed' | grep -oE '^[0-9]+' || echo 1)

passed=$((host_total - host_failed + fuzz_passed + e2e_passed))
failed=$((host_failed + fuzz_failed + e2e_failed))
[ "$failed_stage" -eq 0 ] || [ "$failed" -gt 0 ] || failed=1
echo "total: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
