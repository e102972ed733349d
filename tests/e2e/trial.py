# One end-to-end run of the shipped programs in a Lab: the registry it
# starts from, the stand-ins it finds, and checks of what they recorded.
#
# A check that fails is collected rather than raised, so one run reports all
# it saw. A run that failed only in timing may be Wine's start-up on a busy
# machine rather than the launcher, and is tried once more (tried_twice).
import os
import re
import shutil
import warnings
from dataclasses import dataclass, field
from pathlib import Path

from winelab import USER_CHOICE, USER_CHOICE_LATEST, Lab, read_events, reg_quote

ROOT = Path(__file__).resolve().parents[2]
# The build whose programs run (its exes, branding.json and standins/); the
# folder that holds all a run makes (its prefixes, releases and scenarios),
# one for each run that goes on at the same time; and the prefix new ones are
# copied from.
BUILD = Path(os.environ.get("LAUNCHER_E2E_BUILD", ROOT / "build" / "win"))
WORK = Path(os.environ.get("LAUNCHER_E2E_WORK", ROOT / "build" / "e2e"))
TEMPLATE = Path(os.environ.get("LAUNCHER_WINE_TEMPLATE", ROOT / "build" / "wine-template"))
# Which Lab the tests run in: Wine's, or a real Windows's (pytest --lab).
LAB = "native" if os.name == "nt" else "wine"

PROG_ID = "TestBrowserHTML"
NEWER_PROG_ID = "NewerBrowserHTML"
CLASS_COMMAND = rf"HKEY_CLASSES_ROOT\{PROG_ID}\shell\open\command"
NEWER_CLASS_COMMAND = rf"HKEY_CLASSES_ROOT\{NEWER_PROG_ID}\shell\open\command"
HTTP_COMMAND = r"HKEY_CLASSES_ROOT\http\shell\open\command"
# After the watched browser exits, the launcher notices at its next look (at
# most a second later) and then exits.
AFTER_EXIT_S = (0.0, 2.5)


# A run that waited slept a whole second after it started, so its follow-ups
# come at least that long after it was launched. One that did not wait spends
# two start-ups on them (the launcher's and the item's): a fraction of a second
# natively, over one where i386 code runs emulated, and more while other runs
# load the machine, so the start-up is measured by a program started at the
# same moment as the launcher.
def no_wait_s(startup_s):
    return max(1.0, 2 * startup_s + 0.75)


def started_lab(work, build, windows=False):
    if LAB == "native":
        from nativelab import NativeLab
        lab = NativeLab(work, build, windows=windows)
    else:
        lab = Lab(work, build, windows=windows, template=TEMPLATE)
    lab.start()
    return lab


class TimingMiss(AssertionError):
    pass


class Trial:
    def __init__(self, lab, name):
        self.lab, self.name = lab, name
        self.address = f"https://{lab.branding['host']}/partner/iframe/10?cid=ru"  # the game's page
        self.dir = lab.work / "scenarios" / name
        self.log = self.dir / "events.log"
        self.probe = self.dir / "startup.log"  # what a program started beside the launcher recorded
        self.begin()

    def begin(self):
        """A fresh folder, no findings, and the registry as no user set it."""
        shutil.rmtree(self.dir, ignore_errors=True)
        self.dir.mkdir(parents=True)
        self.failures, self.timing_failures = [], []
        self.registry = [*self.lab.clear_choice_lines(), f"[-{self.lab.app_defaults}]",
                         f"[-HKEY_CLASSES_ROOT\\{PROG_ID}]", f"[-HKEY_CLASSES_ROOT\\{NEWER_PROG_ID}]",
                         f"[{HTTP_COMMAND}]", "@=" + reg_quote(f'"{self.lab.shell_open}" "%1"')]

    def expect(self, condition, message, timing=False):
        if not condition:
            (self.timing_failures if timing else self.failures).append(message)
        return condition

    # --- setting up ----------------------------------------------------------
    def user_choice(self, command, progid=None):
        """The chosen browser's class opens command. progid: the .reg form of
        the choice's value, where a test sets one of its own."""
        if progid:
            self.registry += [f"[{USER_CHOICE}]", '"Progid"=' + progid, f"[{CLASS_COMMAND}]", "@=" + reg_quote(command)]
        else:
            self.registry += self.lab.choice_lines(command, PROG_ID)

    def newer_choice(self, command):
        self.registry += [f"[{USER_CHOICE_LATEST}]", '"ProgId"=' + reg_quote(NEWER_PROG_ID),
                          f"[{NEWER_CLASS_COMMAND}]", "@=" + reg_quote(command)]

    def http_class(self, command):
        self.registry += [f"[{HTTP_COMMAND}]", "@=" + reg_quote(command)]

    def windows_xp(self):
        self.registry += [f"[{self.lab.app_defaults}]", '"Version"="winxp64"']

    def follow_ups(self, play_url="file", wgame=True):
        if play_url == "file":
            (self.dir / "play.url").write_text("[InternetShortcut]\r\nURL=https://x.example/\r\n")
        elif play_url == "directory":
            (self.dir / "play.url").mkdir()
        if wgame:
            (self.dir / "fscommand").mkdir()
            shutil.copyfile(self.lab.build / "standins" / "browser_standin.exe", self.dir / "fscommand" / "wgame.exe")

    def apply(self):
        self.lab.regedit(self.registry)

    def launch(self, timeout=40):
        self.apply()
        run = self.lab.run(self.lab.launcher_path, cwd=self.dir, log=self.log, timeout=timeout)
        self.settle()
        return run

    def settle(self, still_running=()):
        self.lab.settle(self.log, still_running)

    # --- reading results -----------------------------------------------------
    def events(self, event=None, image_ends=None):
        return [e for e in read_events(self.log)
                if (event is None or e.event == event) and (image_ends is None or e.image.lower().endswith(image_ends.lower()))]

    def one(self, event, image_ends):
        found = self.events(event, image_ends)
        self.expect(len(found) == 1, f"expected one '{event}' of {image_ends}, saw {len(found)}")
        return found[0] if found else None

    def check_exit(self, run):
        self.expect(not run.timed_out, "the launcher did not end before the timeout (killed)")
        self.expect(run.status == 0, f"exit status {run.status}, not 0")

    def check_follow_ups_after(self, not_before_ms, play_url=True, wgame=True):
        play = self.events("start", self.lab.shell_open.split("\\")[-1])
        if play_url:
            self.expect(len(play) == 1 and play[0].text.endswith('play.url"'), f"play.url not opened once: {play}")
        else:
            self.expect(not play, f"play.url was opened: {play}")
        started = self.one("start", r"\fscommand\wgame.exe") if wgame else None
        if started:
            in_cwd = "\\" + self.dir.name + "\\fscommand\\wgame.exe"
            self.expect(started.image.lower().endswith(in_cwd.lower()), f"wgame.exe not from the current directory: {started.image}")
        for e in play[:1] + ([started] if started else []):
            self.expect(e.ms >= not_before_ms, f"{e.image} opened {not_before_ms - e.ms} ms too early")
        if play_url and play and started:
            self.expect(play[0].pid < started.pid, "play.url was not opened before fscommand\\wgame.exe")
        return started

    def check_no_wait(self, run, play_url=True):
        """No browser to wait for: the follow-ups come straight after start-up.
        run: started with the probe self.probe beside it."""
        started = self.check_follow_ups_after(0, play_url)
        if started:
            lag = started.ms / 1000 - run.start
            startup_s = self.lab.startup_beside(run, self.probe)
            self.expect(lag < no_wait_s(startup_s), f"follow-ups came {lag:.2f} s in (the launcher ran {run.end - run.start:.2f} s,"
                        f" a start-up takes {startup_s:.2f} s): the launcher waited", timing=True)

    def check_ended_after(self, run, at_ms, what):
        lag = run.end - at_ms / 1000
        self.expect(AFTER_EXIT_S[0] <= lag <= AFTER_EXIT_S[1], f"launcher ended {lag:.2f} s after {what}",
                    timing=True)


def tried_twice(trial, scenario):
    """Runs scenario() and raises what it found; one off in timing alone runs
    once more, as a launcher that really waits, or ends late, does so every time."""
    first = []
    for _ in range(2):
        try:
            scenario()
        except Exception as e:
            # What the run saw before it broke off tells why.
            raise AssertionError("\n".join(trial.failures + trial.timing_failures + [f"{type(e).__name__}: {e}"])) from e
        if trial.failures:
            raise AssertionError("\n".join(trial.failures + trial.timing_failures))
        if not trial.timing_failures:
            if first:
                warnings.warn(f"{trial.name}: passed on a second try, the first was off in timing only: "
                              + "; ".join(first))
            return
        first = trial.timing_failures
        trial.begin()
    raise TimingMiss("off in timing twice: " + "; ".join(first + trial.timing_failures))


# --- the launcher's runs that differ only in data ---------------------------------
@dataclass
class Launch:
    # Registry state and stand-ins before a run, and what it must start.
    browsers: dict = field(default_factory=dict)  # stand-in browsers by path: how long each lingers (ms)
    stubs: tuple = ()  # stand-ins that start the browser beside them and exit
    legacy: str = None  # the command of the class UserChoice names
    progid: str = None  # UserChoice's value in .reg form, when not that class's name
    newer: str = None  # the command of the class UserChoiceLatest names
    http: str = None  # the http class's command
    xp: bool = False  # the launcher is told Windows XP
    read_only: bool = False  # the choice's keys made read-only first
    play_url: str = "file"
    wgame: bool = True
    # The image started, with its command line ({a} the address, runs of
    # spaces as one), and the one whose exit ends the wait (started's by
    # default). With nothing started, the follow-ups come at once.
    started: str = None
    command: str = None
    waited: str = None
    never: tuple = ()  # images that must not start


def set_up(t, row):
    for path in row.stubs:
        t.lab.install("launcher_stub.exe", path)
    for path, linger_ms in row.browsers.items():
        t.lab.install("browser_standin.exe", path, linger_ms=linger_ms)
    if row.legacy:
        t.user_choice(row.legacy, row.progid)
    if row.newer:
        t.newer_choice(row.newer)
    if row.http:
        t.http_class(row.http)
    if row.xp:
        t.windows_xp()
    t.follow_ups(row.play_url, row.wgame)
    t.apply()
    if row.read_only:
        guard = t.lab.run(r"C:\standins\key_guard.exe",
                          [r"HKCU\Software\Microsoft\Windows\Shell\Associations\UrlAssociations\http\UserChoice",
                           rf"HKCR\{PROG_ID}\shell\open\command"], cwd=t.dir, timeout=30)
        t.expect(guard.status == 0, f"could not make the keys read-only (key_guard exit {guard.status})")


def check_launched(t, row):
    """Runs the launcher and checks it against row; answers the browser's start."""
    run = t.lab.run(t.lab.launcher_path, cwd=t.dir, log=t.log, timeout=40, probe=None if row.started else t.probe)
    t.settle()
    t.check_exit(run)
    for image in row.never:
        t.expect(not t.events("start", image), f"{image} was started")
    if not row.started:
        return t.check_no_wait(run, play_url=row.play_url == "file")
    start, exit_ = t.one("start", row.started), t.one("exit", row.waited or row.started)
    if start and exit_:
        # The shell joins program and parameters with a space of its own.
        expected = t.lab.path(row.command.format(a=t.address))
        t.expect(re.sub(" +", " ", start.text) == expected, f"command line {start.text}, not {expected}")
        t.check_ended_after(run, exit_.ms, f"{row.waited or row.started} exited")
        t.check_follow_ups_after(exit_.ms, row.play_url == "file", row.wgame)
    return start


def check_launch(t, row):
    set_up(t, row)
    if not t.failures:
        check_launched(t, row)
