#!/usr/bin/env bash
# Sets up the machine as needed and runs every test: host unit tests under
# AddressSanitizer and UBSan, the style checks (shellcheck among them), short
# fuzzing runs, the release tool's own tests, the shipped exes end to end under
# Wine, then the release checks (branding, reproducible builds, signing). Ends
# with one "total: N passed, M failed" line.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
scripts/setup.sh || exit 1
python=/usr/bin/python3  # Debian's, which has python3-pefile
failed_stage=0
passed=0
failed=0

# count LOG: adds the "N passed, M failed" closing line of LOG to the totals.
count() {
  local line
  line=$(grep -oE '[0-9]+ passed, [0-9]+ failed' "$1" | tail -1)
  if [ -z "$line" ]; then
    failed=$((failed + 1))
    return
  fi
  passed=$((passed + $(echo "$line" | grep -oE '^[0-9]+')))
  failed=$((failed + $(echo "$line" | grep -oE '[0-9]+ failed' | grep -oE '^[0-9]+')))
}

echo "== host tests"
cmake --preset host >/dev/null && cmake --build --preset host || exit 1
ctest --preset host | tee build/host/ctest.log
[ "${PIPESTATUS[0]}" -eq 0 ] || failed_stage=1
host_total=$(grep -oE 'out of [0-9]+' build/host/ctest.log | grep -oE '[0-9]+' || echo 0)
host_failed=$(grep -oE '[0-9]+ tests failed' build/host/ctest.log | grep -oE '^[0-9]+' || echo 1)
passed=$((passed + host_total - host_failed))
failed=$((failed + host_failed))

echo "== style: clang-format, clang-tidy and shellcheck"
program=(app/launch.cpp browser/*.cpp watch/watch.cpp text/text.cpp doctor/doctor.cpp doctor/report.cpp doctor/cli.cpp doctor/messages.cpp text/utf8.cpp
         doctor/journal.cpp)
{
  style_passed=0 style_failed=0
  mapfile -t sources < <(git ls-files '*.cpp' '*.h' | grep -v '^tests/e2e/')
  if clang-format --dry-run --Werror "${sources[@]}"; then
    echo "ok   clang-format"; style_passed=$((style_passed + 1))
  else
    echo "FAIL clang-format (clang-format -i the files above)"; style_failed=$((style_failed + 1))
  fi
  if clang-tidy --quiet -p build/host "${program[@]}" >build/clang-tidy.log 2>&1; then
    echo "ok   clang-tidy"; style_passed=$((style_passed + 1))
  else
    grep -A3 -E 'warning:|error:' build/clang-tidy.log; echo "FAIL clang-tidy"; style_failed=$((style_failed + 1))
  fi
  mapfile -t scripts < <(git ls-files '*.sh')
  if shellcheck "${scripts[@]}" .ci/run; then
    echo "ok   shellcheck"; style_passed=$((style_passed + 1))
  else
    echo "FAIL shellcheck"; style_failed=$((style_failed + 1))
  fi
  echo "style: $style_passed passed, $style_failed failed"
} 2>&1 | tee build/style.log
count build/style.log

echo "== fuzzing (7 s a target)"
scripts/fuzz.sh 7 | tee build/fuzz.log
[ "${PIPESTATUS[0]}" -eq 0 ] || failed_stage=1
count build/fuzz.log

echo "== the release tool (pytest)"
"$python" -m pytest -q -p no:cacheprovider tests/release | tee build/release-tool.log
[ "${PIPESTATUS[0]}" -eq 0 ] || failed_stage=1
# pytest's closing line, such as "1 failed, 31 passed in 29.15s", as this script counts.
summary=$(tail -1 build/release-tool.log)
awk '{ for (i = 1; i < NF; i++) { if ($(i + 1) ~ /^passed/) p += $i; if ($(i + 1) ~ /^(failed|error)/) f += $i } }
     END { printf "release tool: %d passed, %d failed\n", p, f }' <<<"$summary" | tee -a build/release-tool.log
count build/release-tool.log

echo "== end to end under Wine"
scripts/build.sh || exit 1
timeout 600 "$python" tests/e2e/run_e2e.py build/win build/e2e | tee build/e2e.log
[ "${PIPESTATUS[0]}" -eq 0 ] || failed_stage=1
count build/e2e.log

echo "== release: branding, reproducible builds, signing"
timeout 900 tests/release_checks.sh | tee build/release.log
[ "${PIPESTATUS[0]}" -eq 0 ] || failed_stage=1
count build/release.log

[ "$failed_stage" -eq 0 ] || [ "$failed" -gt 0 ] || failed=1
echo "total: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
