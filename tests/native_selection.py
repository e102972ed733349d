#!/usr/bin/env python3
"""Usage: native_selection.py REPORT.xml...: the end-to-end tests marked
native (the ones .github/workflows/ci.yml runs on Windows), as this checkout
collects them, must be there, and each must have run and passed in the
reports given, this run's Wine stages. Prints what does not hold, then the
check's one "N passed, M failed" line."""
import subprocess
import sys
import xml.etree.ElementTree as ET
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent


def main(reports):
    collected = subprocess.run([sys.executable, "-m", "pytest", "--collect-only", "-q", "-p", "no:cacheprovider", "-m",
                                "native", "tests/e2e"], capture_output=True, text=True, cwd=ROOT)
    selected = [line for line in collected.stdout.splitlines() if "::" in line]
    passed = {}
    for report in reports:
        for case in ET.parse(report).getroot().iter("testcase"):
            nodeid = case.get("classname").replace(".", "/") + ".py::" + case.get("name")
            passed[nodeid] = not any(case.find(kind) is not None for kind in ("failure", "error", "skipped"))
    problems = [] if selected else [f"no test is marked native: {collected.stdout.strip()[-300:]}"]
    problems += [f"{nodeid}: did not run in this run's Wine stages" for nodeid in selected if nodeid not in passed]
    problems += [f"{nodeid}: failed in this run's Wine stages" for nodeid in selected if passed.get(nodeid) is False]
    for problem in problems:
        print(problem)
    # One check, however many tests: they are counted in their own stages' reports.
    print(f"native selection ({len(selected)} tests): {0 if problems else 1} passed, {1 if problems else 0} failed")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
