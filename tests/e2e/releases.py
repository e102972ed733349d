# Releases made as a publisher makes them, with scripts/release.sh, for the
# tests that run what a release ships. Each goes to a folder of the test's
# own (--out), built beside it, so that no two runs share one.
import os
import shutil
import subprocess
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]


def game_files(folder, standins):
    """The game's files a publisher ships: the two items the launcher opens, and a Cyrillic name."""
    (folder / "fscommand").mkdir(parents=True, exist_ok=True)
    (folder / "Музыка").mkdir(exist_ok=True)
    (folder / "play.url").write_text("[InternetShortcut]\r\nURL=https://x.example/\r\n")
    shutil.copyfile(Path(standins) / "browser_standin.exe", folder / "fscommand" / "wgame.exe")
    (folder / "Музыка" / "трек 1.txt").write_text("a track\n")
    return folder


def release(out, *options, env=None, tree=ROOT, check=True):
    """Runs scripts/release.sh in tree, into out (the tree's dist/ when None),
    with options and env added to this process's environment; answers the
    finished process."""
    argv = [str(tree / "scripts" / "release.sh"), *(["--out", str(out)] if out else []), *options]
    done = subprocess.run(argv, cwd=tree, env=dict(os.environ, **(env or {})), capture_output=True, text=True)
    if check and done.returncode != 0:
        raise AssertionError(f"release.sh {' '.join(argv[1:])} failed:\n{done.stderr[-2000:]}")
    return done


def built(out):
    """The folder a release into out was built in: its unsigned programs and branding.json."""
    return Path(str(out) + "-build")


def as_build(out, folder, standins):
    """Copies the programs of the release in out, with their branding, into
    folder beside the stand-ins, as a build folder a Lab runs."""
    folder.mkdir(parents=True, exist_ok=True)
    for source in [*Path(out).glob("*.exe"), built(out) / "branding.json"]:
        shutil.copyfile(source, folder / source.name)
    (folder / "standins").symlink_to(standins)
    return folder
