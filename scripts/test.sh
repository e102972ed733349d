#!/usr/bin/env bash
# Sets up the machine as needed and runs every test: host unit tests under
# AddressSanitizer and UBSan, the style checks (shellcheck among them), short
# fuzzing runs, the release tool's own tests, the shipped exes end to end under
# Wine, then what a publisher does (branding, reproducible builds, signing).
# Ends with one "total: N passed, M failed" line.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
scripts/setup.sh || exit 1
python=/usr/bin/python3  # Debian's, which has python3-pefile
reports=build/reports
rm -rf "$reports" && mkdir -p "$reports"
failed_stage=0

# stage NAME COMMAND...: runs a stage; its failure fails the run.
stage() {
  echo "== $1"
  shift
  "$@" || failed_stage=1
}
# pytest_stage NAME TIMEOUT PATH...: pytest over PATH, its report in build/reports/NAME.xml.
pytest_stage() {
  stage "$1" timeout "$2" "$python" -m pytest -q -p no:cacheprovider --junitxml="$reports/$1.xml" "${@:3}"
}

cmake --preset host >/dev/null && cmake --build --preset host || exit 1
stage "host tests" ctest --preset host --output-junit "$PWD/$reports/host.xml"

program=(app/launch.cpp browser/*.cpp watch/watch.cpp text/text.cpp doctor/doctor.cpp doctor/report.cpp doctor/cli.cpp doctor/messages.cpp text/utf8.cpp
         doctor/journal.cpp)
style() {
  local style_passed=0 style_failed=0
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
}
echo "== style: clang-format, clang-tidy and shellcheck"
style 2>&1 | tee "$reports/style.log"

echo "== fuzzing (7 s a target)"
scripts/fuzz.sh 7 | tee "$reports/fuzz.log"
[ "${PIPESTATUS[0]}" -eq 0 ] || failed_stage=1

pytest_stage "release-tool" 300 tests/release/test_verify.py tests/release/test_manifest.py
scripts/build.sh || exit 1
pytest_stage "e2e" 900 tests/e2e --ignore=tests/e2e/test_installer.py
pytest_stage "installer" 900 -vv tests/e2e/test_installer.py  # -vv outweighs -q: each story by name in the log
pytest_stage "publishing" 900 tests/release/test_publishing.py

"$python" tests/junit_total.py "$reports"/*.xml "$reports/style.log" "$reports/fuzz.log" || failed_stage=1
[ "$failed_stage" -eq 0 ]
