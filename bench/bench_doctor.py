#!/usr/bin/env python3
"""The doctor under Wine: one build's against another's, A B A B in one warm
wineserver, each writing its JSON report (--json --out) in a folder with a
registered browser and the follow-up items.

Usage: bench_doctor.py BUILD_DIR WORK_DIR OTHER_DOCTOR_EXE [PAIRS (10)]

BUILD_DIR's doctor is A, OTHER_DOCTOR_EXE (another commit's build, say) B.
Prints the median wall time of each, from `wine` started to its exit, and
the median of the pairwise ratios A/B.
"""
import shutil
import statistics
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
from winelab import USER_CHOICE, Lab, reg_quote  # noqa: E402

BROWSER = r"C:\Bench\benchbrowser.exe"


def main(build, work, other, pairs):
    lab = Lab(Path(work), Path(build))
    lab.start()
    try:
        lab.install("browser_standin.exe", BROWSER)
        lab.regedit([f"[{USER_CHOICE}]", '"Progid"="BenchHTML"', r"[HKEY_CLASSES_ROOT\BenchHTML\shell\open\command]",
                     "@=" + reg_quote(f'"{BROWSER}" "%1"')])
        lab.place(Path(other), r"C:\app\other-doctor.exe")
        folder = lab.work / "game"
        (folder / "fscommand").mkdir(parents=True, exist_ok=True)
        (folder / "play.url").write_text("[InternetShortcut]\r\nURL=https://x.example/\r\n")
        shutil.copyfile(lab.build / "standins" / "browser_standin.exe", folder / "fscommand" / "wgame.exe")
        times = {"A": [], "B": []}
        for _ in range(pairs):
            for side, exe in (("A", lab.doctor_path), ("B", r"C:\app\other-doctor.exe")):
                out = folder / "report.json"
                out.unlink(missing_ok=True)
                start = time.time()
                run = lab.run(exe, ["--json", "--out", "report.json"], cwd=folder, timeout=60)
                times[side].append(time.time() - start)
                if run.status != 0 or not out.exists():
                    raise SystemExit(f"{side}: the doctor ended with {run.status} and no report")
                time.sleep(0.5)
        ratios = [a / b for a, b in zip(times["A"], times["B"])]
        print(f"A {build} doctor: median {statistics.median(times['A']):.3f} s")
        print(f"B {other}: median {statistics.median(times['B']):.3f} s")
        q = statistics.quantiles(ratios, n=4)
        print(f"A/B, median of {pairs} pairs: {statistics.median(ratios):.3f} (quartiles {q[0]:.2f}, {q[1]:.2f}, "
              f"{q[2]:.2f})")
    finally:
        lab.stop()


if __name__ == "__main__":
    if len(sys.argv) < 4:
        raise SystemExit(__doc__)
    main(sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]) if len(sys.argv) > 4 else 10)
