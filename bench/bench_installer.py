#!/usr/bin/env python3
"""The players' installer (A) against the floor installer (B,
bench/installer_floor.nsi), both built here around the same launcher,
doctor and game files, under Wine: each installed once, then updated over
itself, A B A B in one warm wineserver, silently, as players meet an update.
Beside them the floor with one call of the installer's engine (what loading
it costs), and the flushes an update makes, timed on this disk.

Usage: bench_installer.py BUILD_DIR WORK_DIR [PAIRS (8)] [GAME_MB (0)]
GAME_MB adds a file of that many megabytes of random bytes to the game, as
a real game's data is: incompressible, so that decompressing it dominates.
Prints each one's median wall time (from `wine setup.exe /S` started to its
exit) and the median of the pairwise ratios to the floor.
"""
import os
import shutil
import statistics
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
sys.path.insert(0, str(ROOT))
from release import installer  # noqa: E402
from release.build import Branding  # noqa: E402
from winelab import Lab  # noqa: E402


def build(build_dir, work, game_mb):
    """Both installers, and the game's files they carry: the two items the
    launcher opens, and game_mb of data."""
    branding = Branding.load(build_dir)
    game = work / "game"
    shutil.rmtree(game, ignore_errors=True)
    (game / "fscommand").mkdir(parents=True, exist_ok=True)
    if game_mb:
        (game / "data.pak").write_bytes(os.urandom(game_mb << 20))
    (game / "play.url").write_text("[InternetShortcut]\r\nURL=https://x.example/\r\n")
    shutil.copyfile(build_dir / "standins" / "browser_standin.exe", game / "fscommand" / "wgame.exe")
    made = {}
    floor = ROOT / "bench" / "installer_floor.nsi"
    engine_call = work / "floor-engine.nsi"
    engine_call.write_text(f'!define ENGINE_CALL\n!include "{floor}"\n')
    for name, script in (("ours", installer.SCRIPT), ("floor", floor), ("engine", engine_call)):
        private = work / f"make-{name}"
        shutil.rmtree(private, ignore_errors=True)
        private.mkdir()
        hook = installer.Hook(name=branding.uninstaller, keep=str(private / "uninstaller.exe"),
                              private=str(private)).write(private)
        made[name] = work / f"{name}-setup.exe"
        installer.build_installer(branding, build_dir, game, made[name], hook, private, build_dir, script=script)
    return made


def flush_cost(build_dir, work):
    """Seconds the flushes of an update of the game in work take here: each
    new file's once it is written, and a journal line's (three a file, and a
    few more), each a host fsync, as Wine's FlushFileBuffers is."""
    branding = Branding.load(build_dir)
    files = [build_dir / branding.launcher, build_dir / branding.doctor]
    files += [p for p in (work / "game").rglob("*") if p.is_file()]
    folder = work / "flushes"
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir()
    spent = 0.0
    with open(folder / "journal", "wb") as journal:
        for n, source in enumerate(files):
            copy = folder / str(n)
            shutil.copyfile(source, copy)
            with open(copy, "rb+") as out:
                start = time.perf_counter()
                os.fsync(out.fileno())
                spent += time.perf_counter() - start
        for _ in range(3 * len(files) + 4):
            journal.write(b"replace\tname\n")
            journal.flush()
            start = time.perf_counter()
            os.fsync(journal.fileno())
            spent += time.perf_counter() - start
    return spent


def main():
    build_dir, work = Path(sys.argv[1]).resolve(), Path(sys.argv[2]).resolve()
    pairs = int(sys.argv[3]) if len(sys.argv) > 3 else 8
    game_mb = int(sys.argv[4]) if len(sys.argv) > 4 else 0
    work.mkdir(parents=True, exist_ok=True)
    made = build(build_dir, work, game_mb)
    lab = Lab(work, build_dir)
    lab.start()
    try:
        for name, setup in made.items():
            lab.place(setup, rf"C:\setup\{name}.exe")
            lab.run(rf"C:\setup\{name}.exe", ["/S"], timeout=120)  # the first install, not timed
        times = {name: [] for name in made}
        for _ in range(pairs):
            for name in made:
                run = lab.run(rf"C:\setup\{name}.exe", ["/S"], timeout=120)
                if run.status != 0:
                    raise SystemExit(f"{name} ended with status {run.status}")
                times[name].append(run.end - run.start)
    finally:
        lab.stop()
    for name, spent in times.items():
        print(f"{name:6} median {statistics.median(spent):.3f} s  ({', '.join(f'{t:.2f}' for t in spent)})")
    for name in ("ours", "engine"):
        ratios = [a / b for a, b in zip(times[name], times["floor"])]
        print(f"{name}/floor: median of {pairs} pairs {statistics.median(ratios):.3f}"
              f" (quartiles {', '.join(f'{q:.2f}' for q in statistics.quantiles(ratios, n=4))})")
    print(f"flushes of an update, on this disk: {flush_cost(build_dir, work):.3f} s")


if __name__ == "__main__":
    main()
