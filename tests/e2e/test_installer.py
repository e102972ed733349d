# The players' installer under Wine, in a prefix of its own (it installs into
# the user's folders): the release's installer, a newer version's (which no
# longer ships two of the game's files) and another game's built with the
# same exe name, over and beside a running launcher, in every order, and
# after the player moved the game, the Desktop or changed a file.
import contextlib
import json
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

import pytest
import trial
from conftest import lab_for
from releases import ROOT, as_build, game_files, release
from trial import BUILD, WORK
from winelab import reg_quote

sys.path.insert(0, str(ROOT))
from release.installer import installer_identity  # noqa: E402

UNINSTALL_KEY = r"HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Uninstall"
SHELL_FOLDERS = r"HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders"
START_MENU = "AppData/Roaming/Microsoft/Windows/Start Menu/Programs"
SETTINGS, README = "settings.ini", "readme.txt"
DROPPED = [README, "Музыка/трек 1.txt"]  # shipped by this version, not by the next


@pytest.fixture(scope="session")
def installers(tmp_path_factory):
    """A build folder of this release, with the next version's (next/, and its
    installer as setup-next) and another game's (other/). On a real Windows,
    the one the Linux job made, downloaded (LAUNCHER_INSTALLERS)."""
    if trial.LAB == "native":
        return Path(os.environ["LAUNCHER_INSTALLERS"])
    folder, made = WORK / "installers", WORK / "releases"
    shutil.rmtree(folder, ignore_errors=True)
    game = game_files(tmp_path_factory.mktemp("game"), BUILD / "standins")
    (game / SETTINGS).write_text("volume=10\r\n")
    (game / README).write_text("Sky Quest\r\n")
    env = {"LAUNCHER_GAME_FILES": str(game)}
    next_game = tmp_path_factory.mktemp("next") / "game"
    shutil.copytree(game, next_game)
    for dropped in DROPPED:
        (next_game / dropped).unlink()
    release(made / "next", "-DLAUNCHER_VERSION=1.0.1.0", env={"LAUNCHER_GAME_FILES": str(next_game)})
    next_version = as_build(made / "next", folder / "next", BUILD / "standins")
    release(made / "other", "-DLAUNCHER_PRODUCT_NAME=Other Game", env=env)
    as_build(made / "other", folder / "other", BUILD / "standins")
    release(made / "this", env=env)
    as_build(made / "this", folder, BUILD / "standins")
    name = json.loads((folder / "branding.json").read_text(encoding="utf-8"))["launcher"][:-4]
    shutil.copyfile(next_version / f"{name}-setup.exe", folder / f"{name}-setup-next.exe")
    return folder


@pytest.fixture(scope="session")
def installer_lab(installers):
    lab = lab_for(WORK / "installer", installers)
    yield lab
    lab.stop()


@pytest.fixture
def lab(installer_lab):
    return installer_lab


class Installed:
    """A release installed silently, into the default folder or the one
    folder names (with /D=); setup: which installer (a path under the build
    folder), branding: what it was built with (the build folder's own by
    default), lang: the player's locale."""

    def __init__(self, t, setup, branding=None, folder=None, lang=None):
        self.t, self.lab, self.lang = t, t.lab, lang
        self.branding = branding or t.lab.branding
        self.name = self.branding["launcher"][:-4]
        self.product = self.branding["strings"]["ProductName"]
        self.identity = installer_identity(self.branding["strings"].get("CompanyName", ""), self.product)
        self.desktop = self.lab.user_folder("Desktop")
        self.move_to(folder or rf"C:\users\{self.lab.user_folder().name}\AppData\Local\Programs\{self.product}")
        self.install(setup, *([f"/D={folder}"] if folder else []))

    def move_to(self, windows_folder):
        """Where the install is now: the player moved it there, or it was installed there."""
        if hasattr(self, "folder") and self.folder.exists():
            self.lab.c(windows_folder).parent.mkdir(parents=True, exist_ok=True)
            self.folder.rename(self.lab.c(windows_folder))  # as Explorer moves it: times kept
        self.windows_folder, self.folder = self.lab.path(windows_folder), self.lab.c(windows_folder)
        self.uninstaller = self.windows_folder + "\\" + self.name + "-uninstall.exe"

    def install(self, setup, *args, status=0):
        self.lab.place(self.lab.build / setup, r"C:\setup\setup.exe")
        run = self.lab.run(r"C:\setup\setup.exe", ["/S", *args], cwd=self.t.dir, timeout=120, lang=self.lang)
        self.t.expect(run.status == status and not run.timed_out,
                      f"{setup} /S {' '.join(args)} ended with status {run.status}, not {status}")
        return run

    def uninstall(self, in_place=False, status=0):
        """Runs the uninstaller silently. It hands over to a copy of itself in
        the temporary folder and ends, and the work goes on after; in_place,
        with _?= naming its folder, it does the work itself."""
        if in_place:
            run = self.lab.run_command_line(f'"{self.uninstaller}" /S _?={self.windows_folder}', cwd=self.t.dir,
                                            lang=self.lang)
        else:
            run = self.lab.run(self.uninstaller, ["/S"], cwd=self.t.dir, lang=self.lang)
        self.t.expect(run.status == status, f"the uninstaller ended with status {run.status}, not {status}")
        return run

    def files(self):
        return sorted(str(p.relative_to(self.folder)) for p in self.folder.rglob("*") if p.is_file()) \
            if self.folder.exists() else []

    def entry(self):
        return self.lab.query_key(rf"{UNINSTALL_KEY}\{self.identity}")

    def own_key(self):
        return self.lab.query_key(rf"HKEY_CURRENT_USER\Software\{self.identity}")

    def shortcuts(self):
        """Shortcut files of this product: on the Desktop and in its Start-menu folder."""
        desktop = self.desktop / (self.product + ".lnk")
        start_menu = self.lab.user_folder(START_MENU) / self.product
        return sorted(str(p.relative_to(self.lab.user_folder())) for p in [desktop, *start_menu.glob("*.lnk")]
                      if p.exists())

    def whole(self, shipped, desktop=True):
        """Everything an install makes is there: the files shipped (plus the
        uninstaller), the shortcuts and the Apps & features entry."""
        files = [f for f in self.files() if not f.endswith(".old")]
        self.t.expect(set(shipped) | {self.name + "-uninstall.exe"} <= set(files),
                      f"{self.product}: the folder holds {files}")
        self.t.expect(len(self.shortcuts()) == 2 + desktop, f"{self.product}: shortcuts {self.shortcuts()}")
        self.t.expect("InstallLocation" in self.entry(), f"{self.product}: no Apps & features entry")

    def gone(self, player_files=()):
        """Nothing of the install is left but the player's own files."""
        self.poll(lambda: self.files() == sorted(player_files) and not self.entry(), 15)
        self.t.expect(self.files() == sorted(player_files), f"{self.product}: the folder holds {self.files()}")
        self.t.expect(player_files or not self.folder.exists(), f"{self.product}: the folder is left")
        self.t.expect(not self.shortcuts(), f"{self.product}: shortcuts left: {self.shortcuts()}")
        self.t.expect(not self.entry() and not self.own_key(), f"{self.product}: registry keys left")

    def plays(self, since_ms):
        """Started in its folder, the launcher starts the browser and then opens
        the installed play.url and wgame.exe."""
        self.lab.run(self.windows_folder + "\\" + self.name + ".exe", cwd=self.folder, log=self.t.log, timeout=60)
        self.t.settle()
        opened = game_events(self.t, since_ms)
        self.t.expect(len(opened) == 2 and all(self.windows_folder.lower() in (e.text + e.image).lower() for e in opened),
                      f"{self.product} did not open its own play.url and wgame.exe: {opened}")

    def poll(self, condition, limit_s=30.0):
        deadline = time.time() + limit_s + 10 * self.lab.startup_s
        while time.time() < deadline and not condition():
            time.sleep(0.25)
        return condition()


def game_events(t, since_ms=0):
    """play.url opened and wgame.exe started after since_ms, by where they came from."""
    return [e for e in t.events("start") if e.ms >= since_ms and
            (e.text.endswith('play.url"') or e.image.lower().endswith(r"\fscommand\wgame.exe"))]


def uninstallers_running(t):
    """Uninstallers at work out of sight: NSIS runs one as ~nsuN.tmp\\Un.exe, with _?=."""
    return t.lab.processes("\\~nsu", "_?=")


def now_ms():
    return int(time.time() * 1000)


def browser_lingering(t, linger_ms):
    t.lab.install("browser_standin.exe", r"C:\Browser\browser.exe", linger_ms=linger_ms)
    t.user_choice(r'"C:\Browser\browser.exe" "%1"')
    t.apply()


def test_installed_shortcut_starts_in_the_game_folder(t):
    browser_lingering(t, 1500)
    installed = Installed(t, t.lab.launcher[:-4] + "-setup.exe")
    desktop = t.lab.user_folder("Desktop") / (installed.product + ".lnk")
    if not t.expect(desktop.exists(), f"no Desktop shortcut: {list(t.lab.user_folder('Desktop').iterdir())}"):
        return
    printed = subprocess.run(["lnkinfo", str(desktop)], capture_output=True, text=True).stdout
    link = {k.strip(): v.strip() for k, _, v in (line.partition(":") for line in printed.splitlines()) if v}
    launcher = installed.windows_folder + "\\" + t.lab.launcher
    for field, value in (("Local path", launcher), ("Working directory", installed.windows_folder),
                         ("Icon location", launcher)):
        t.expect(link.get(field) == value, f"the shortcut's {field} is {link.get(field)}, not {value}")
    entry = installed.entry()
    for value in ("DisplayName", "DisplayVersion", "DisplayIcon", "InstallLocation", "UninstallString",
                  "QuietUninstallString", "EstimatedSize", "NoModify", "NoRepair"):
        t.expect(value in entry, f"Apps & features entry lacks {value}: {entry}")
    # Started from the shortcut by a program whose own folder is elsewhere.
    t.lab.run("start", [rf"C:\users\{t.lab.user_folder().name}\Desktop\{installed.product}.lnk"], cwd=t.dir,
              log=t.log, timeout=60)
    installed.poll(lambda: len(game_events(t)) == 2)
    t.settle()
    browser = t.one("exit", r"\Browser\browser.exe")
    opened = game_events(t)
    t.expect(len(opened) == 2, f"the installed play.url and wgame.exe were not both opened: {opened}")
    for e in opened:
        where = e.text if e.text.endswith('play.url"') else e.image
        t.expect(installed.windows_folder.lower() in where.lower(), f"not from the installed folder: {where}")
        t.expect(browser is not None and e.ms >= browser.ms, f"{where} opened before the browser exited")
    started = t.one("start", r"\Browser\browser.exe")
    t.expect(started is not None and started.text.endswith(f'"{t.address}"'), f"browser: {started}")
    installed.uninstall()


@pytest.mark.native
def test_update_and_uninstall_while_the_launcher_runs(t):
    browser_lingering(t, 6000)
    name = t.lab.launcher[:-4]
    installed = Installed(t, name + "-setup.exe")
    launcher = installed.folder / t.lab.launcher
    # The player's own choices and files: the Desktop and Start-menu shortcuts deleted, a backup beside the game.
    (t.lab.user_folder("Desktop") / (installed.product + ".lnk")).unlink()
    (t.lab.user_folder(START_MENU) / installed.product / (installed.product + ".lnk")).unlink()
    backup = "fscommand/wgame.exe.backup.old"
    (installed.folder / "fscommand" / "wgame.exe.backup.old").write_text("the player's")

    # A newer version over a running launcher: silent, no reboot, the running one finishes as usual.
    running = t.lab.spawn(installed.windows_folder + "\\" + t.lab.launcher, cwd=installed.folder, log=t.log)
    installed.poll(lambda: t.events("start", r"\Browser\browser.exe"))
    installed.install(name + "-setup-next.exe")
    t.expect(launcher.read_bytes() == (t.lab.build / "next" / t.lab.launcher).read_bytes(),
             "the launcher in the folder is not the newer one")
    t.expect(any(f.endswith(".1.old") for f in installed.files()), f"the running launcher was not renamed: {installed.files()}")
    t.expect(len(installed.shortcuts()) == 2, f"an update put back the Desktop shortcut the player deleted, or not "
             f"the Start-menu one: {installed.shortcuts()}")
    running.wait(timeout=60)
    t.settle()
    exited = t.one("exit", r"\Browser\browser.exe")
    t.expect(exited is not None and len(game_events(t, exited.ms)) == 2,
             f"the running launcher did not open the follow-ups after its wait: {game_events(t)}")

    # An uninstall while the newer one runs: nothing of the install is left once it has exited.
    (installed.folder / "my notes.txt").write_text("the player's")
    report = name + "-doctor-report-2026-12-09-140322.txt"
    (installed.folder / report).write_text("a report")
    since_ms = now_ms()
    running = t.lab.spawn(installed.windows_folder + "\\" + t.lab.launcher, cwd=installed.folder, log=t.log)
    installed.poll(lambda: len(t.events("start", r"\Browser\browser.exe")) == 2)
    installed.uninstall()
    t.expect(installed.poll(lambda: not installed.entry(), 10), "the Apps & features entry is still there")
    running.wait(timeout=60)
    t.settle()
    t.expect(not game_events(t, since_ms), f"the uninstall left a follow-up to open: {game_events(t, since_ms)}")
    player = sorted(["my notes.txt", report, backup])
    t.expect(installed.poll(lambda: installed.files() == player), f"the folder holds {installed.files()}, not just "
             "the player's files (their own .old backup among them)")
    installed.gone(player)

    # Run in place (_?=, as an installer runs the one it replaces), the
    # uninstaller cannot delete its own file: it leaves it and the folder,
    # and does not wait for itself.
    installed.install(name + "-setup.exe")
    run = installed.uninstall(in_place=True)
    t.expect(run.end - run.start < 20, f"the uninstaller run in place took {run.end - run.start:.0f} s")
    t.expect(installed.files() == sorted(player + [name + "-uninstall.exe"]), f"left in place: {installed.files()}")
    t.expect(not installed.entry() and not installed.shortcuts(), "the uninstall in place left its entry or shortcuts")
    shutil.rmtree(installed.folder)  # as the installer that ran it in place would


def test_later_install_wins_and_leftovers_are_waited_for(t):
    browser_lingering(t, 6000)
    name = t.lab.launcher[:-4]
    shipped = [t.lab.launcher, name + "-doctor.exe", "play.url", "fscommand/wgame.exe"]
    installed = Installed(t, name + "-setup.exe")

    # Uninstall, then install again, while the browser is open: the
    # uninstaller waits for the running launcher, and a later install wins.
    running = t.lab.spawn(installed.windows_folder + "\\" + t.lab.launcher, cwd=installed.folder, log=t.log)
    installed.poll(lambda: t.events("start", r"\Browser\browser.exe"))
    installed.uninstall()
    # Waiting once it has taken the entry away: it read which install it removes before that.
    t.expect(installed.poll(lambda: uninstallers_running(t) and not installed.entry(), 10),
             "no uninstaller waits for the running launcher")
    installed.install(name + "-setup.exe")
    t.expect(installed.poll(lambda: not uninstallers_running(t), 15), "the waiting uninstaller went on after a later install")
    running.wait(timeout=60)
    time.sleep(2)  # the uninstaller's next look would have come within a second
    installed.whole(shipped)
    installed.plays(now_ms())

    # Update, then uninstall, while the launcher runs: the file the update
    # moved aside is waited for like the launcher, then nothing is left.
    running = t.lab.spawn(installed.windows_folder + "\\" + t.lab.launcher, cwd=installed.folder, log=t.log)
    installed.poll(lambda: len(t.events("start", r"\Browser\browser.exe")) == 3)
    installed.install(name + "-setup-next.exe")
    installed.uninstall()
    t.expect(installed.poll(lambda: installed.files() == [t.lab.launcher + ".1.old"], 15),
             f"while the launcher runs: {installed.files()}")
    running.wait(timeout=60)
    t.expect(installed.poll(lambda: not installed.folder.exists(), 10), f"left: {installed.files()}")
    installed.gone()


def test_two_games_from_one_launcher_and_a_copied_uninstaller(t):
    browser_lingering(t, 0)
    name = t.lab.launcher[:-4]
    shipped = [t.lab.launcher, name + "-doctor.exe", "play.url", "fscommand/wgame.exe"]
    other_branding = json.loads((t.lab.build / "other" / "branding.json").read_text(encoding="utf-8"))
    first = Installed(t, name + "-setup.exe")
    other = Installed(t, "other/" + name + "-setup.exe", branding=other_branding)
    t.expect(first.folder != other.folder and first.identity != other.identity, "the two games share a folder or keys")
    for game in (first, other):
        game.whole(shipped)
        game.plays(now_ms())
    # The player's own shortcut under a name of ours, which starts the other game: not ours to delete.
    players_link = t.dir / "player.lnk"
    shutil.copyfile(other.desktop / (other.product + ".lnk"), players_link)
    other.uninstall()
    other.gone()
    first.whole(shipped)
    first.plays(now_ms())

    # A copy of the uninstaller, in a Downloads folder that holds a player's play.url.
    downloads = t.lab.c(r"C:\Downloads")
    downloads.mkdir(exist_ok=True)
    (downloads / "play.url").write_text("the player's")
    t.lab.place(first.folder / (name + "-uninstall.exe"), r"C:\Downloads\uninstall.exe")
    t.lab.run(r"C:\Downloads\uninstall.exe", ["/S"], cwd=t.dir, timeout=60)
    t.expect(first.poll(lambda: not uninstallers_running(t), 15), "the copied uninstaller still runs")
    refused = t.lab.run_command_line(r"C:\Downloads\uninstall.exe /S _?=C:\Downloads", cwd=t.dir)
    t.expect(refused.status != 0, "the copy run with _?= ended with status 0")
    t.expect((downloads / "play.url").read_text() == "the player's", "the player's play.url in Downloads is gone")
    first.whole(shipped)
    players_link = shutil.copyfile(players_link, t.lab.user_folder(START_MENU) / first.product /
                                   f"{first.product} - отчёт для поддержки.lnk")
    first.uninstall()
    first.poll(lambda: not first.entry(), 15)
    t.expect(players_link.exists(), "the uninstaller deleted the player's shortcut to another game")
    players_link.unlink(missing_ok=True)
    first.gone()


# --- the install is the game's, wherever it lies ---------------------------------
def _moved_folder(t, installed):
    """The player moved the game, then ran the uninstaller in its new folder."""
    installed.move_to(r"C:\Games\Sky Quest")
    installed.uninstall()
    installed.gone()


def _moved_desktop(t, installed):
    """OneDrive's folder backup moved the Desktop, shortcuts and all, then the player uninstalled."""
    onedrive = t.lab.user_folder("OneDrive/Desktop")
    onedrive.mkdir(parents=True, exist_ok=True)  # a kept prefix may hold it from an earlier run
    for link in installed.desktop.glob("*.lnk"):
        link.rename(onedrive / link.name)
    installed.desktop = onedrive
    t.lab.regedit([f"[{SHELL_FOLDERS}]", '"Desktop"=' + reg_quote(rf"C:\users\{t.lab.user_folder().name}\OneDrive\Desktop")])
    try:
        t.expect(len(installed.shortcuts()) == 3, f"the shortcuts did not move: {installed.shortcuts()}")
        installed.uninstall()
        installed.gone()
    finally:
        t.lab.regedit([f"[{SHELL_FOLDERS}]", '"Desktop"=hex(2):' + ",".join(
            f"{b:02x}" for b in "%USERPROFILE%\\Desktop\0".encode("utf-16-le"))])


def _edited_settings(t, installed):
    """The player turned the volume down, then updated: the change is theirs, kept, and kept on uninstall."""
    (installed.folder / SETTINGS).write_text("volume=3\r\n")
    installed.install(installed.name + "-setup-next.exe")
    t.expect((installed.folder / SETTINGS).read_text() == "volume=3\n", "the update wrote over the player's settings")
    t.expect((installed.folder / t.lab.launcher).read_bytes() ==
             (t.lab.build / "next" / t.lab.launcher).read_bytes(), "the launcher was not updated")
    installed.uninstall()
    installed.gone([SETTINGS])
    shutil.rmtree(installed.folder)


def _dropped_files(t, installed):
    """The next version no longer ships two files: the one the player left alone goes, the one they changed stays,
    and so does their own file beside them."""
    (installed.folder / README).write_text("my notes on the game\r\n")
    (installed.folder / "Музыка" / "мой трек.txt").write_text("the player's")
    installed.install(installed.name + "-setup-next.exe")
    files = installed.files()
    t.expect("Музыка/трек 1.txt" not in files and README in files and "Музыка/мой трек.txt" in files,
             f"after the update the folder holds {files}")
    installed.uninstall()
    installed.gone([README, "Музыка/мой трек.txt"])
    shutil.rmtree(installed.folder)


def _second_folder(t, installed):
    """Told another folder while the game lies whole in its own, setup refuses; once the game is gone from there,
    the other folder is simply the install."""
    installed.install(installed.name + "-setup.exe", r"/D=C:\Games\Second", status=2)
    t.expect(not t.lab.c(r"C:\Games\Second").exists(), "the refused install wrote into the other folder")
    installed.whole([t.lab.launcher, SETTINGS])
    shutil.rmtree(installed.folder)
    installed.move_to(r"C:\Games\Second")
    installed.install(installed.name + "-setup.exe", r"/D=C:\Games\Second")
    installed.whole([t.lab.launcher, SETTINGS])
    installed.uninstall()
    installed.gone()


def _moved_cyrillic_folder(t, installed):
    """A Russian player's game in a Cyrillic folder, moved to another: Wine resolves shortcuts by their ANSI path."""
    installed.move_to(r"C:\Игры\Мой квест")
    installed.uninstall()
    installed.gone()


PLAYERS = [
    ("moved folder", None, None, _moved_folder),
    ("moved Desktop", None, None, _moved_desktop),
    ("edited settings", None, None, _edited_settings),
    ("dropped files", None, None, _dropped_files),
    ("second folder", None, None, _second_folder),
    ("moved Cyrillic folder", r"C:\Игры\Квест", "ru_RU.UTF-8", _moved_cyrillic_folder),  # /D= takes no quotes
]
# Those a real Windows can play too: no locale of their own, no known folder moved.
NATIVE_PLAYERS = {"moved folder", "edited settings", "dropped files"}


@pytest.mark.parametrize("folder, lang, situation", [
    pytest.param(f, la, s, id=i, marks=[pytest.mark.native] if i in NATIVE_PLAYERS else []) for i, f, la, s in PLAYERS])
def test_what_the_player_did_is_kept(t, folder, lang, situation):
    browser_lingering(t, 0)
    situation(t, Installed(t, t.lab.launcher[:-4] + "-setup.exe", folder=folder, lang=lang))


# --- an update that does not finish -----------------------------------------------
# The file the commit puts in place last (files go in by name): a hold on it
# stops the commit with every other file already replaced.
HELD = SETTINGS


def snapshot(installed):
    """The install as support would compare it: every file's bytes (the
    installer's own included), the entry and the records, but the generation,
    which may advance."""
    files = {str(p.relative_to(installed.folder)): p.read_bytes()
             for p in installed.folder.rglob("*") if p.is_file()} if installed.folder.exists() else {}
    records = [line for line in installed.own_key().splitlines() if "Generation" not in line]
    return files, installed.entry(), records


def hold(t, installed, name):
    """A scanner's hold on the game file name, without sharing, until it is killed."""
    t.lab.install("file_holder.exe", r"C:\standins\file_holder.exe")
    mark = t.dir / "held"
    mark.unlink(missing_ok=True)
    holder = t.lab.spawn(r"C:\standins\file_holder.exe", [installed.windows_folder + "\\" + name, str(mark)])
    installed.poll(mark.exists, 30)
    return holder


def let_go(holder):
    holder.kill()
    holder.wait(timeout=30)


def _held_file(t, installed, update):
    """A file held without sharing for the whole update: it fails, changing nothing; let go, it succeeds."""
    before = snapshot(installed)
    holder = hold(t, installed, HELD)
    installed.install(update, status=2)
    let_go(holder)
    t.expect(snapshot(installed) == before, "the failed update changed the install")
    installed.install(update)


def _killed_in_commit(t, installed, update):
    """Killed while it waits for a held file, half the files replaced: each file is one version's, the launcher is
    there, and the update run again ends as one never stopped."""
    before, _, _ = snapshot(installed)
    holder = hold(t, installed, HELD)
    setup = t.lab.spawn(r"C:\setup\setup.exe", ["/S"], cwd=t.dir)
    backups = installed.folder / ".setup-old"
    t.expect(installed.poll(lambda: backups.exists() and any(p.is_file() for p in backups.rglob("*")), 60),
             "the update never began to commit")
    setup.kill()
    setup.wait(timeout=30)
    let_go(holder)
    killed, _, _ = snapshot(installed)
    t.expect((installed.folder / t.lab.launcher).exists(), "the killed update left no launcher")
    installed.install(update)
    after, entry, _ = snapshot(installed)
    for name, data in killed.items():
        if not name.startswith(".setup-"):
            t.expect(data in (before.get(name), after.get(name)), f"the killed update left {name} of no version")
    t.expect("1.0.1.0" in entry, f"the update run again did not finish: {entry}")


def _full_disk(t, installed, update):
    """The drive has less room than the update's files need beside the old ones (with room to spare), though its
    files alone would fit: it fails before it writes."""
    before = snapshot(installed)
    free = os.statvfs(installed.folder).f_bavail * os.statvfs(installed.folder).f_frsize
    filler = installed.folder.parent / "video.mp4"  # the player's, beside the game
    with open(filler, "wb") as out:  # written, not sparse: it takes its room
        for _ in range(max(free - (1 << 20), 0) >> 16):
            out.write(bytes(1 << 16))
    installed.install(update, status=2)
    t.expect(snapshot(installed) == before, "the update refused for room changed the install")
    filler.unlink()
    installed.install(update)


@contextlib.contextmanager
def small_drive(t, letter, megabytes):
    """A tmpfs of its own mapped as the drive letter: a drive that fills up."""
    mount = t.dir / "small-drive"
    mount.mkdir(parents=True, exist_ok=True)
    done = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={megabytes}m", "tmpfs", str(mount)],
                          capture_output=True, text=True)
    if done.returncode != 0:
        pytest.fail(f"a full disk needs a tmpfs, and mount refused ({done.stderr.strip()}): run as root, "
                    "in a container started with --privileged")
    link = t.lab.prefix / "dosdevices" / f"{letter.lower()}:"
    link.unlink(missing_ok=True)
    link.symlink_to(mount)
    try:
        yield f"{letter}:"
    finally:
        link.unlink(missing_ok=True)
        subprocess.run(["umount", "-l", str(mount)], capture_output=True)


UNFINISHED = [
    ("held file", _held_file),
    ("killed while it waits", _killed_in_commit),
    ("full disk", _full_disk),
]


@pytest.mark.parametrize("situation", [pytest.param(s, id=i) for i, s in UNFINISHED])
def test_an_update_that_does_not_finish_leaves_the_game_whole(t, situation):
    browser_lingering(t, 0)
    name = t.lab.launcher[:-4]
    with contextlib.ExitStack() as stack:
        folder = None
        if situation is _full_disk:
            folder = stack.enter_context(small_drive(t, "S", 8)) + r"\SkyQuest"  # /D= takes no quotes
        installed = Installed(t, name + "-setup.exe", folder=folder)
        t.lab.place(t.lab.build / (name + "-setup-next.exe"), r"C:\setup\setup.exe")
        situation(t, installed, name + "-setup-next.exe")
        after = snapshot(installed)[0]
        t.expect(not [f for f in after if f.startswith(".setup-")], f"the installer's own files are left: {list(after)}")
        t.expect(after.get(t.lab.launcher) == (t.lab.build / "next" / t.lab.launcher).read_bytes(),
                 "the launcher is not the update's")
        installed.uninstall()
        installed.gone()
