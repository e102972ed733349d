#!/usr/bin/env bash
# Sets up the machine as needed and runs every test: host unit tests under
# AddressSanitizer and UBSan, the style checks (shellcheck among them), short
# fuzzing runs, the release tool's own tests, the shipped exes end to end under
# Wine, the players' installer, then what a publisher does (branding,
# reproducible builds, signing). Ends with one "total: N passed, M failed" line.
#
# The builds come first; then the stages run side by side, up to one a core,
# each in a tree of its own under build/stages/ (its Wine prefixes, releases,
# pytest's temporary files and token), its output kept in build/reports/NAME.log
# and shown whole when it ends.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
python=/usr/bin/python3  # Debian's, which has python3-pefile
reports=$PWD/build/reports
stages=$PWD/build/stages
template=$PWD/build/wine-template

program=(app/launch.cpp browser/*.cpp watch/watch.cpp text/text.cpp doctor/doctor.cpp doctor/report.cpp doctor/cli.cpp doctor/messages.cpp text/utf8.cpp
         doctor/journal.cpp doctor/machine.cpp installer/engine/engine.cpp)
style() {
  local style_passed=0 style_failed=0
  mapfile -t sources < <(git ls-files '*.cpp' '*.h' | grep -v '^tests/e2e/')
  if clang-format --dry-run --Werror "${sources[@]}"; then
    echo "ok   clang-format"; style_passed=$((style_passed + 1))
  else
    echo "FAIL clang-format (clang-format -i the files above)"; style_failed=$((style_failed + 1))
  fi
  if clang-tidy --quiet -p build/host "${program[@]}" >"$LAUNCHER_E2E_WORK/clang-tidy.log" 2>&1; then
    echo "ok   clang-tidy"; style_passed=$((style_passed + 1))
  else
    grep -A3 -E 'warning:|error:' "$LAUNCHER_E2E_WORK/clang-tidy.log"; echo "FAIL clang-tidy"; style_failed=$((style_failed + 1))
  fi
  mapfile -t scripts < <(git ls-files '*.sh')
  if shellcheck "${scripts[@]}" .ci/run; then
    echo "ok   shellcheck"; style_passed=$((style_passed + 1))
  else
    echo "FAIL shellcheck"; style_failed=$((style_failed + 1))
  fi
  if "$python" tests/actionlint/lint.py >"$LAUNCHER_E2E_WORK/actionlint.log" 2>&1; then
    echo "ok   actionlint (.github/workflows)"; style_passed=$((style_passed + 1))
  else
    head -n -1 "$LAUNCHER_E2E_WORK/actionlint.log"; echo "FAIL actionlint"; style_failed=$((style_failed + 1))
  fi
  echo "style: $style_passed passed, $style_failed failed"
  [ "$style_failed" -eq 0 ]
}

# pytest_stage NAME PATH...: pytest over PATH, its report in build/reports/NAME.xml.
pytest_stage() {
  "$python" -m pytest -q -p no:cacheprovider --basetemp="$LAUNCHER_E2E_WORK/pytest" --junitxml="$reports/$1.xml" "${@:2}"
}

# The stages, the longest first, so that the short ones fill in beside the last
# long one: at most one a core at once, as the Wine stages' timing checks
# need a core each. NAME, its time limit in seconds, and its command.
names=(installer publishing e2e host fuzz style release-tool)
declare -A limit=([installer]=1200 [e2e]=1200 [publishing]=1200 [fuzz]=300 [style]=300 [host]=300 [release-tool]=300)
stage_command() {
  case $1 in
    installer) pytest_stage installer -vv tests/e2e/test_installer.py ;;  # -vv outweighs -q: each story by name
    e2e) pytest_stage e2e tests/e2e --ignore=tests/e2e/test_installer.py ;;
    publishing) pytest_stage publishing tests/release/test_publishing.py ;;
    fuzz) echo "fuzzing (7 s a target)"; scripts/fuzz.sh 7 ;;
    style) echo "clang-format, clang-tidy, shellcheck and actionlint"; style ;;
    host) cmake --build --preset host && ctest --preset host --output-junit "$reports/host.xml" ;;
    release-tool) pytest_stage release-tool tests/release/test_verify.py tests/release/test_manifest.py ;;
  esac
}

# One stage, started by the loop below in a session of its own.
if [ "${1:-}" = "--stage" ]; then
  stage_command "$2"
  exit
fi

scripts/setup.sh || exit 1

# wineservers_down FOLDER...: ends every Wine program of the prefixes under them.
wineservers_down() {
  local reg
  while IFS= read -r reg; do
    WINEPREFIX=$(dirname "$reg") wineserver -k >/dev/null 2>&1
  done < <(find "$@" -maxdepth 5 -name system.reg 2>/dev/null)
}

declare -A pid_of=() started_at=()
# Ctrl-C or a kill: every stage's process group goes, then its Wine servers.
stop_everything() {
  trap - INT TERM
  echo "test.sh: stopped; ending ${!pid_of[*]}" >&2
  local name
  [ -z "${booting:-}" ] || kill "$booting" 2>/dev/null
  for name in "${!pid_of[@]}"; do kill -TERM -- "-${pid_of[$name]}" 2>/dev/null; done
  sleep 2
  for name in "${!pid_of[@]}"; do kill -KILL -- "-${pid_of[$name]}" 2>/dev/null; done
  wineservers_down "$stages" "$template"
  exit 130
}
trap stop_everything INT TERM

rm -rf "$reports" "$stages" && mkdir -p "$reports" "$stages"
# What the stages read and none writes: the host configuration (clang-tidy's
# compile commands), the Windows build, and the Wine prefix every stage's
# prefixes are copied from, booted once, beside the build.
cmake --preset host >/dev/null || exit 1
"$python" -c "import sys; sys.path.insert(0, 'tests/e2e'); import winelab; winelab.ready_template(sys.argv[1])" \
  "$template" >"$reports/wine-template.log" 2>&1 &
booting=$!
scripts/build.sh || exit 1
wait "$booting" || { cat "$reports/wine-template.log"; exit 1; }
echo "== built, and the Wine prefix ready, in $((SECONDS / 60)):$(printf %02d $((SECONDS % 60)))"

# start NAME: runs the stage in the background, as a session of its own so
# that it can be ended whole, in its own tree.
start() {
  local tree=$stages/$1
  mkdir -p "$tree"
  (
    # One core a stage: its builds compile one file at a time, so that the
    # Wine stages' timing checks keep a core to themselves. Not TMPDIR: Wine
    # finds a prefix's server through it.
    export LAUNCHER_E2E_WORK=$tree LAUNCHER_WINE_TEMPLATE=$template CMAKE_BUILD_PARALLEL_LEVEL=1
    exec setsid timeout --kill-after=20 "${limit[$1]}" "$0" --stage "$1"
  ) >"$reports/$1.log" 2>&1 </dev/null &
  pid_of[$1]=$!
  started_at[$1]=$SECONDS
}

cores=$(nproc)
failed=()
summary=()
next=0
while [ "$next" -lt "${#names[@]}" ] || [ "${#pid_of[@]}" -gt 0 ]; do
  if [ "$next" -lt "${#names[@]}" ] && [ "${#pid_of[@]}" -lt "$cores" ]; then
    start "${names[$next]}"
    next=$((next + 1))
    continue
  fi
  ended=
  wait -n -p ended
  status=$?
  [ -n "$ended" ] || continue
  for name in "${!pid_of[@]}"; do [ "${pid_of[$name]}" = "$ended" ] && break; done
  # Nothing of it outlives it: its process group, then its Wine servers.
  kill -KILL -- "-$ended" 2>/dev/null
  wineservers_down "$stages/$name"
  took=$((SECONDS - started_at[$name]))
  unset "pid_of[$name]"
  case $status in
    0) result=passed ;;
    124 | 137) result="timed out after ${limit[$name]} s"; failed+=("$name") ;;
    *) result="failed ($status)"; failed+=("$name") ;;
  esac
  summary+=("$(printf '%-13s %3d:%02d  %s' "$name" $((took / 60)) $((took % 60)) "$result")")
  echo "== $name: $result in $((took / 60)):$(printf %02d $((took % 60)))"
  cat "$reports/$name.log"
  [ -z "$(tail -c 1 "$reports/$name.log")" ] || echo  # a stage cut short mid-line
done

# What the Windows runners run: tests marked native, each of which has just passed here.
echo "== the native selection (.github/workflows/ci.yml), against this run's Wine stages"
"$python" tests/native_selection.py "$reports/e2e.xml" "$reports/installer.xml" | tee "$reports/native.log"

echo "== stages, in $((SECONDS / 60)):$(printf %02d $((SECONDS % 60))) in all"
printf '  %s\n' "${summary[@]}"
[ "${#failed[@]}" -eq 0 ] || echo "failed: ${failed[*]}"
"$python" tests/junit_total.py "$reports"/{host,release-tool,e2e,installer,publishing}.xml "$reports"/{style,fuzz,native}.log \
  || failed+=(total)
[ "${#failed[@]}" -eq 0 ]
