#!/usr/bin/env python3
"""Whole-process benchmark under Wine: the launcher (A) against the floor
program (B), interleaved A B A B in one warm wineserver.

Usage: bench_wine.py BUILD_DIR WORK_DIR [START_PAIRS (25)] [SESSION_PAIRS (7)] [SESSION_SECONDS (10)]

Start-up is measured over many pairs with a browser that exits at once;
the resident cost over fewer pairs of full browser sessions. Per run: time
from process start to the stand-in browser's first
instruction; CPU while resident (the process's own user+system time from
wait4, plus the wineserver's CPU over the run from /proc/PID/schedstat);
peak RSS (VmHWM) sampled from /proc while the process runs. Prints medians and the medians of pairwise ratios A/B.
"""
import os
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
from winelab import USER_CHOICE, Lab, read_events, reg_quote  # noqa: E402

BROWSER = r"C:\Bench\benchbrowser.exe"


def wineserver_pid(prefix):
    st = os.stat(prefix)
    server_dir = f"/server-{st.st_dev:x}-{st.st_ino:x}"  # the server works in a folder named after the prefix
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if os.readlink(f"/proc/{pid}/cwd").endswith(server_dir):
                return int(pid)
        except OSError:
            pass
    raise RuntimeError("no wineserver for the prefix")


def server_cpu_s(pid):
    return int(Path(f"/proc/{pid}/schedstat").read_text().split()[0]) / 1e9


def vm_hwm_kib(pid):
    try:
        for line in Path(f"/proc/{pid}/status").read_text().splitlines():
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    except OSError:
        pass
    return 0


def run_once(lab, exe, folder, log):
    log.unlink(missing_ok=True)
    server = wineserver_pid(lab.prefix)
    server_before = server_cpu_s(server)
    env = lab.env_for(log)
    with open(lab.log_file, "ab") as out:
        start = time.time()
        p = subprocess.Popen(["wine", exe], env=env, cwd=folder, stdout=out, stderr=out)
        peak_kib = 0
        while True:  # sample the peak while it runs: wait4's figure is the loader's, not the exe's
            pid, status, usage = os.wait4(p.pid, os.WNOHANG)
            if pid:
                break
            peak_kib = max(peak_kib, vm_hwm_kib(p.pid))
            time.sleep(0.2)
        end = time.time()
    p.returncode = status
    server_after = server_cpu_s(server)
    browser = [e for e in read_events(log) if e.event == "start" and e.image.endswith("benchbrowser.exe")]
    if not browser or status != 0:
        raise RuntimeError(f"{exe}: status {status}, browser started {len(browser)} times")
    return {
        "to_browser_ms": browser[0].ms - start * 1000,
        "resident_cpu_ms": (usage.ru_utime + usage.ru_stime + server_after - server_before) * 1000,
        "process_cpu_ms": (usage.ru_utime + usage.ru_stime) * 1000,
        "peak_rss_kib": peak_kib,
        "wall_s": end - start,
    }


def interleaved(lab, folder, log, pairs, label):
    """Runs launcher and floor alternately; returns their runs."""
    runs = {"A": [], "B": []}
    for i in range(pairs):
        for side, exe in (("A", lab.launcher_path), ("B", r"C:\app\floor.exe")):
            time.sleep(1)  # let the last run's browser and the server's work die down
            r = run_once(lab, exe, folder, log)
            runs[side].append(r)
            print(f"{label} {i + 1} {side}: " + ", ".join(f"{k} {v:.1f}" for k, v in r.items()), flush=True)
    return runs


def report(title, runs, keys):
    print(f"\n{title} (A = launcher, B = floor)")
    print(f"{'measure':18} {'A':>10} {'B':>10} {'A/B (median of pairs)':>24}")
    for key in keys:
        a = [r[key] for r in runs["A"]]
        b = [r[key] for r in runs["B"]]
        ratio = statistics.median(x / y for x, y in zip(a, b))
        print(f"{key:18} {statistics.median(a):10.1f} {statistics.median(b):10.1f} {ratio:24.3f}")


def main():
    build, work = Path(sys.argv[1]).resolve(), Path(sys.argv[2]).resolve()
    start_pairs = int(sys.argv[3]) if len(sys.argv) > 3 else 25
    session_pairs = int(sys.argv[4]) if len(sys.argv) > 4 else 7
    seconds = int(sys.argv[5]) if len(sys.argv) > 5 else 10
    lab = Lab(work, build)
    lab.start()
    try:
        shutil.copyfile(build / "floor.exe", lab.c(r"C:\app\floor.exe"))
        lab.regedit([f"[{USER_CHOICE}]", '"Progid"="BenchHTML"', r"[HKEY_CLASSES_ROOT\BenchHTML\shell\open\command]",
                     "@=" + reg_quote(f'"{BROWSER}" -url "%1"')])
        folder = work / "run"
        folder.mkdir(exist_ok=True)
        log = folder / "events.log"
        # Start-up: a browser that exits at once, many pairs (start-up is noisy).
        lab.install("browser_standin.exe", BROWSER, linger_ms=0)
        run_once(lab, lab.launcher_path, folder, log)  # warm-up: page cache, wineserver
        starts = interleaved(lab, folder, log, start_pairs, "start")
        # Resident cost: a browser session of the given length.
        lab.install("browser_standin.exe", BROWSER, linger_ms=seconds * 1000)
        sessions = interleaved(lab, folder, log, session_pairs, "session")
    finally:
        lab.stop()

    report(f"start-up, medians over {start_pairs} pairs", starts, ("to_browser_ms", "process_cpu_ms"))
    report(f"resident, medians over {session_pairs} pairs of {seconds} s browser sessions", sessions,
           ("to_browser_ms", "resident_cpu_ms", "process_cpu_ms", "peak_rss_kib", "wall_s"))
    sizes = {side: (build / exe).stat().st_size for side, exe in (("A", lab.launcher), ("B", "floor.exe"))}
    print(f"{'exe_bytes':18} {sizes['A']:10d} {sizes['B']:10d} {sizes['A'] / sizes['B']:24.3f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
