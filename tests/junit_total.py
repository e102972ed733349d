#!/usr/bin/env python3
"""Usage: junit_total.py REPORT... prints a run's closing "total: N passed,
M failed" line. A REPORT is JUnit XML (ctest --output-junit, pytest
--junitxml), or a stage's log whose last "N passed, M failed" line counts. A
test that failed, broke or was skipped counts as failed; so does a missing or
unreadable report, as its stage did not finish."""
import re
import sys
import xml.etree.ElementTree as ET
from pathlib import Path


def counts(report):
    try:
        if report.endswith(".xml"):
            bad = [any(c.find(tag) is not None for tag in ("failure", "error", "skipped"))
                   for c in ET.parse(report).getroot().iter("testcase")]
            return bad.count(False), bad.count(True)
        lines = re.findall(r"(\d+) passed, (\d+) failed", Path(report).read_text(encoding="utf-8", errors="replace"))
        if lines:
            return int(lines[-1][0]), int(lines[-1][1])
    except (OSError, ET.ParseError):
        pass
    print(f"{report}: no report, counted as one failure", file=sys.stderr)
    return 0, 1


totals = [counts(report) for report in sys.argv[1:]]
passed, failed = sum(p for p, _ in totals), sum(f for _, f in totals)
print(f"total: {passed} passed, {failed} failed")
sys.exit(1 if failed else 0)
