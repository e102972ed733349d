#!/usr/bin/env python3
"""Usage: lint.py: checks .github/workflows/*.yml with actionlint (the
WebAssembly build scripts/setup.sh puts in build/tools) and prints "actionlint:
N passed, M failed". That build reads no .github/actionlint.yaml, so its
runner-label errors for the labels that file declares are dropped here, as
actionlint itself would."""
import re
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
CLI = ROOT / "build" / "tools" / "node_modules" / "@tktco" / "node-actionlint" / "build" / "cli.js"
ERROR = re.compile(r"^(\S+):(\d+):(\d+) (.*) \[ ([a-z-]+) \]$")


def declared_labels():
    text = (ROOT / ".github" / "actionlint.yaml").read_text(encoding="utf-8")
    block = text.split("labels:", 1)[1] if "labels:" in text else ""
    return set(re.findall(r"^\s+-\s*([\w.-]+)\s*$", block, re.MULTILINE))


def main():
    if not CLI.exists():
        print(f"actionlint is not installed in {CLI.parent.parent} (scripts/setup.sh)")
        print("actionlint: 0 passed, 1 failed")
        return 1
    done = subprocess.run(["node", str(Path(__file__).with_name("run.js")), str(CLI),
                           str(ROOT / ".github" / "workflows" / "*.yml")],
                          capture_output=True, text=True, cwd=ROOT)
    allowed = declared_labels()
    errors = []
    for line in done.stdout.splitlines():
        found = ERROR.match(line)
        if not found:
            continue
        label = re.match(r'label "([^"]+)" is unknown', found[4])
        if found[5] == "runner-label" and label and label[1] in allowed:
            continue
        errors.append(line)
    if done.returncode != 0 and not errors and "Checking" not in done.stdout:
        errors.append(f"node-actionlint ended with {done.returncode}: {(done.stderr or done.stdout).strip()[-500:]}")
    for error in errors:
        print(error)
    print(f"actionlint: {0 if errors else 1} passed, {1 if errors else 0} failed")
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
