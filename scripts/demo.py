#!/usr/bin/env python3
"""Runs the launcher once under Wine, with a stand-in browser registered as
the user's default, and tells what happened."""
import shutil
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
from winelab import USER_CHOICE, Lab, read_events, reg_quote  # noqa: E402

BROWSER = r"C:\Demo Browser\demobrowser.exe"
BROWSER_SECONDS = 3


def main():
    build, work = ROOT / "build" / "win", ROOT / "build" / "demo"
    lab = Lab(work, build)
    print("Preparing a private Wine prefix (the first time takes a little while)...")
    lab.start()
    try:
        lab.install("browser_standin.exe", BROWSER, linger_ms=BROWSER_SECONDS * 1000)
        lab.regedit([f"[{USER_CHOICE}]", '"Progid"="DemoBrowserHTML"',
                     r"[HKEY_CLASSES_ROOT\DemoBrowserHTML\shell\open\command]",
                     "@=" + reg_quote(f'"{BROWSER}" --new-tab "%1"')])
        game = work / "game folder"
        shutil.rmtree(game, ignore_errors=True)
        (game / "fscommand").mkdir(parents=True)
        (game / "play.url").write_text("[InternetShortcut]\r\nURL=https://play.game.example/\r\n")
        shutil.copyfile(build / "standins" / "browser_standin.exe", game / "fscommand" / "wgame.exe")
        log = game / "events.log"

        print(f"Default browser: {BROWSER}, registered to open http links as: \"{BROWSER}\" --new-tab \"%1\"")
        print(f"The stand-in browser stays open {BROWSER_SECONDS} s. Running {lab.launcher} from {game} ...\n")
        run = lab.run(lab.launcher_path, cwd=game, log=log, timeout=60)
        lab.settle(log)
        events = read_events(log)
    finally:
        lab.stop()

    def at(ms):
        return f"{ms / 1000 - run.start:5.2f} s"

    for e in events:
        name = e.image.split("\\")[-1]
        if e.event == "start" and name == "demobrowser.exe":
            print(f"{at(e.ms)}  the browser started with the command line:\n          {e.text}")
        elif e.event == "exit" and name == "demobrowser.exe":
            print(f"{at(e.ms)}  the browser closed")
        elif e.event == "start" and name == "shell-open.exe":
            print(f"{at(e.ms)}  the shell opened the Internet shortcut: {e.text.split(' ', 1)[-1]}")
        elif e.event == "start" and name == "wgame.exe":
            print(f"{at(e.ms)}  the shell started {e.image}")
    verdict = "timed out and was stopped" if run.timed_out else f"exited with status {run.status}"
    print(f"{run.end - run.start:5.2f} s  the launcher {verdict}, "
          f"having stayed {run.end - run.start:.1f} s in all.")
    return 0 if run.status == 0 and not run.timed_out else 1


if __name__ == "__main__":
    sys.exit(main())
