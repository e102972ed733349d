# A private Wine prefix for running the launcher against stand-in programs.
#
# Safety first: the prefix lives under the build tree, no display is used,
# Wine's menu builder and browser bridge are disabled, and the shell's http and
# Internet-shortcut commands point at a recording stand-in before any program
# of ours runs, so nothing can reach the host's browser or the network.
#
# Lab is the only code of the suite that knows it drives Wine (prefixes, wine,
# wineserver, the host's process list). Tests ask it to set registry values,
# start a program, count running ones and read files, so a Lab over a real
# Windows could run the same tests.
import fcntl
import json
import os
import shutil
import subprocess
import time
from dataclasses import dataclass
from pathlib import Path

USER_CHOICE = r"HKEY_CURRENT_USER\Software\Microsoft\Windows\Shell\Associations\UrlAssociations\http\UserChoice"
# Where Windows 11 24H2 and later record the choice: this key, value "ProgId".
USER_CHOICE_LATEST = USER_CHOICE + r"Latest\ProgId"
SHELL_OPEN = r"C:\standins\shell-open.exe"
# Wine's HKCR is HKLM\Software\Classes; these are the classes the shell could
# use to reach a real browser.
GUARDED_CLASSES = ["http", "https", "InternetShortcut"]


class WineError(RuntimeError):
    pass


def win_path(host_path):
    """The Windows path of a host path, through Wine's Z: drive."""
    return "Z:" + str(Path(host_path).resolve()).replace("/", "\\")


def reg_quote(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


@dataclass
class Event:
    event: str
    ms: int
    pid: int
    image: str
    text: str


@dataclass
class Run:
    status: int
    start: float  # host clock, seconds
    end: float
    timed_out: bool


def wine_env(prefix):
    """The environment every Wine program of a prefix runs in: no display, no
    menu builder, no browser bridge."""
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env.update(WINEPREFIX=str(prefix), WINEDEBUG="-all", WINEDLLOVERRIDES="winemenubuilder.exe=d;winebrowser.exe=d")
    return env


def wine_tool(argv, env, log_file, timeout):
    with open(log_file, "ab") as out:  # Wine's services inherit these: a file, never a pipe
        try:
            subprocess.run(argv, env=env, stdout=out, stderr=out, timeout=timeout, check=True)
        except subprocess.TimeoutExpired:
            raise WineError(f"{argv[0]} did not finish in {timeout} s")
        except subprocess.CalledProcessError as e:
            raise WineError(f"{' '.join(argv)} failed with {e.returncode}")


def ready_template(folder):
    """A prefix booted once, its home folders its own and the shell's http
    commands guarded, that new prefixes are copied from: booting one from
    nothing costs far more than copying it. Made under a lock by whichever
    run needs it first, and never changed after."""
    folder = Path(folder).resolve()
    prefix = folder / "prefix"
    folder.mkdir(parents=True, exist_ok=True)
    with open(folder / "lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not (folder / "ready").exists():
            shutil.rmtree(prefix, ignore_errors=True)
            env, log_file = wine_env(prefix), folder / "wine-output.log"
            wine_tool(["wineboot", "-i"], env, log_file, timeout=300)
            unlink_home(prefix / "drive_c")
            regedit(guard_lines(), env, log_file, folder)
            wine_tool(["wineserver", "-w"], env, log_file, timeout=120)
            (folder / "ready").touch()
    return prefix


def unlink_home(drive_c):
    """A new prefix links Desktop, Documents and the like to the host's home
    folder: folders of the prefix's own instead, before anything writes there."""
    for link in (drive_c / "users").glob("*/*"):
        if link.is_symlink():
            link.unlink()
            link.mkdir()


def guard_lines():
    lines = []
    for cls in GUARDED_CLASSES:
        lines += [rf"[HKEY_CLASSES_ROOT\{cls}\shell\open\command]", "@=" + reg_quote(f'"{SHELL_OPEN}" "%1"'), ""]
    return lines


def regedit(lines, env, log_file, work):
    """Applies .reg lines ([-KEY] deletes a key) in one regedit run."""
    reg = Path(work) / "apply.reg"
    reg.write_text("Windows Registry Editor Version 5.00\r\n\r\n" + "\r\n".join(lines) + "\r\n", encoding="utf-16")
    wine_tool(["wine", "regedit", "/S", win_path(reg)], env, log_file, timeout=60)


class LabCommon:
    """What both Labs do alike, over their own c(), run() and shell_open."""

    def place(self, source, windows_path):
        target = self.c(windows_path)
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(source, target)

    def install(self, standin, windows_path, linger_ms=None, window_ms=None):
        """window_ms: (shown, closed) after its start, for a stand-in browser
        that shows a window (only where the prefix has a graphics driver)."""
        self.place(self.build / "standins" / standin, windows_path)
        self.set_linger(windows_path, linger_ms)
        window = self.c(windows_path + ".window")
        if window_ms is None:
            window.unlink(missing_ok=True)
        else:
            window.write_text("%d %d" % window_ms)

    def set_linger(self, windows_path, linger_ms):
        linger = self.c(windows_path + ".linger")
        if linger_ms is None:
            linger.unlink(missing_ok=True)
        else:
            linger.write_text(str(linger_ms))

    def startup_beside(self, run, probe):
        """How long the stand-in started beside run took to its first
        instruction; the lab's start-up when it recorded nothing."""
        starts = [e for e in read_events(probe) if e.event == "start"]
        return starts[0].ms / 1000 - run.start if starts else self.startup_s

    def settle(self, log, still_running=(), limit_s=8.0):
        """Waits until every stand-in that started has recorded its exit (but
        those named in still_running): the shell starts the follow-ups
        without waiting, so they may record after the launcher has gone."""
        deadline = time.time() + limit_s
        while time.time() < deadline:
            events = read_events(log)
            started = {e.pid for e in events if e.event == "start" and not e.image.lower().endswith(still_running)}
            if started <= {e.pid for e in events if e.event == "exit"}:
                # and nothing new starts right after: a program the shell has
                # just created needs a start-up before it records anything
                time.sleep(0.2 + 2 * self.startup_s)
                if len(read_events(log)) == len(events):
                    return
            time.sleep(0.1)

    def measure_startup(self, tries=3):
        """Seconds from starting a program to its first instruction, the
        slowest of a few: much more where i386 code runs emulated."""
        log = self.work / "startup.log"
        slowest = 0.0
        for _ in range(tries):
            log.unlink(missing_ok=True)
            run = self.run(self.shell_open, log=log, timeout=60)
            starts = [e for e in read_events(log) if e.event == "start"]
            if starts:
                slowest = max(slowest, starts[0].ms / 1000 - run.start)
        return slowest


class Lab(LabCommon):
    def __init__(self, work, build, windows=False, template=None):
        self.work = Path(work).resolve()
        self.build = Path(build).resolve()
        # The programs as this build named them.
        self.branding = json.loads((self.build / "branding.json").read_text(encoding="utf-8"))
        self.launcher, self.doctor = self.branding["launcher"], self.branding["doctor"]
        self.launcher_path = "C:\\app\\" + self.launcher
        self.doctor_path = "C:\\app\\" + self.doctor
        self.shell_open = SHELL_OPEN
        # Per-program Wine settings, such as the Windows version it is told.
        self.app_defaults = r"HKEY_CURRENT_USER\Software\Wine\AppDefaults" + "\\" + self.launcher
        self.prefix = self.work / "prefix"
        self.drive_c = self.prefix / "drive_c"
        self.env = wine_env(self.prefix)
        self.template = template  # a folder whose prefix new ones are copied from (ready_template)
        self.log_file = self.work / "wine-output.log"
        self.background = []
        self.startup_s = 0.0  # how long a program takes to start here; measured by start()
        # Wine's null graphics driver: real windows with no display. A shell
        # error box would then block, so such a prefix only runs launches that succeed.
        self.windows = windows

    # --- prefix and server -------------------------------------------------
    def start(self):
        self.work.mkdir(parents=True, exist_ok=True)
        if not (self.prefix / "system.reg").exists():
            shutil.rmtree(self.prefix, ignore_errors=True)
            if self.template:
                # cp keeps the prefix's links (its drives) as links
                subprocess.run(["cp", "-a", ready_template(self.template), self.prefix], check=True)
            else:
                self._wine_tool(["wineboot", "-i"], timeout=300)
                self._wine_tool(["wineserver", "-w"], timeout=120)
        unlink_home(self.drive_c)
        # One persistent server keeps every later start fast, and keeps key
        # security set during a run in force.
        self._wine_tool(["wineserver", "-p"], timeout=30)
        self.guard_shell()
        if self.windows:
            self.regedit([r"[HKEY_CURRENT_USER\Software\Wine\Drivers]", '"Graphics"="null"'])
        self.install_standins()
        self.startup_s = self.measure_startup()

    def stop(self):
        for p in self.background:
            if p.poll() is None:
                p.kill()
        subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=60)

    def user_folder(self, name=""):
        """Host path of the prefix's user's folder (its Desktop, say)."""
        users = [u for u in (self.drive_c / "users").iterdir() if u.name.lower() != "public"]
        return users[0] / name if name else users[0]

    def _wine_tool(self, argv, timeout):
        wine_tool(argv, self.env, self.log_file, timeout)

    # --- registry ----------------------------------------------------------
    def regedit(self, lines):
        """Applies .reg lines ([-KEY] deletes a key) in one regedit run."""
        regedit(lines, self.env, self.log_file, self.work)

    def guard_shell(self):
        self.regedit(guard_lines())

    def clear_choice_lines(self):
        """.reg lines that leave no browser choice."""
        return [f"[-{USER_CHOICE}]", f"[-{USER_CHOICE}Latest]"]

    def choice_lines(self, command, prog_id):
        """.reg lines that make prog_id the choice, its class opening command."""
        return [f"[{USER_CHOICE}]", '"Progid"=' + reg_quote(prog_id),
                rf"[HKEY_CLASSES_ROOT\{prog_id}\shell\open\command]", "@=" + reg_quote(command)]

    def status(self, code):
        return code & 0xFF  # Wine hands on the low byte of an NTSTATUS exit code

    # --- files -------------------------------------------------------------
    def path(self, text):
        """text with the tests' C:\\... paths as they are here: as written."""
        return text

    def c(self, windows_path):
        """Host path of a path inside the prefix: on C:, or on a drive its dosdevices map."""
        assert windows_path[1:3] == ":\\"
        drive = windows_path[:2].lower()
        root = self.drive_c if drive == "c:" else self.prefix / "dosdevices" / drive
        return root.joinpath(*windows_path[3:].split("\\"))

    def install_standins(self):
        self.install("browser_standin.exe", SHELL_OPEN)
        self.install("quit_poster.exe", r"C:\standins\quit_poster.exe")
        self.install("key_guard.exe", r"C:\standins\key_guard.exe")
        self.install("guard_probe.exe", r"C:\standins\guard_probe.exe")
        self.place(self.build / self.launcher, self.launcher_path)
        self.place(self.build / self.doctor, self.doctor_path)

    # --- running -----------------------------------------------------------
    def env_for(self, log, lang=None):
        """The environment for a program whose stand-ins record to log; lang
        (a host locale such as ru_RU.UTF-8) sets its Windows UI language."""
        env = dict(self.env, STANDIN_LOG=win_path(log)) if log is not None else dict(self.env)
        if lang:
            env.update(LANG=lang, LC_ALL=lang)
        return env

    def run(self, windows_exe, args=(), cwd=None, log=None, timeout=60, stdout=None, lang=None, probe=None):
        """Runs a program to its end; its output goes to Wine's log, or to
        the file stdout names. With probe (a log file), a stand-in starts at
        the same moment and records there, so that the start-up beside the
        run can be told (startup_beside)."""
        env = self.env_for(log, lang)
        start = time.time()
        with open(self.log_file, "ab") as log_out, open(stdout or os.devnull, "wb") as own_out:
            out = own_out if stdout else log_out
            p = subprocess.Popen(["wine", windows_exe, *args], env=env, cwd=cwd, stdout=out, stderr=log_out)
            beside = None
            if probe:
                Path(probe).unlink(missing_ok=True)
                beside = subprocess.Popen(["wine", SHELL_OPEN], env=self.env_for(probe), cwd=cwd, stdout=log_out,
                                          stderr=log_out)
            try:
                status = p.wait(timeout=timeout)
                timed_out = False
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
                status, timed_out = -1, True
            end = time.time()
            if beside:
                beside.wait(timeout=60)
        return Run(status, start, end, timed_out)

    def run_command_line(self, command_line, cwd, timeout=60, lang=None):
        """Runs a Windows command line as it stands: wine would quote an
        argument such as "_?=C:\\My Games", which NSIS reads only unquoted, as
        a caller's CreateProcess passes it."""
        batch = Path(cwd) / "command.bat"
        batch.write_text(f"@{command_line}\r\n@exit /b %errorlevel%\r\n", encoding="utf-8")
        return self.run("cmd", ["/c", win_path(batch)], cwd=cwd, timeout=timeout, lang=lang)

    def query_key(self, key):
        """What reg query prints of key and its subkeys, or "" when it is absent."""
        out = subprocess.run(["wine", "reg", "query", key, "/s"], env=self.env, capture_output=True, text=True)
        return out.stdout if out.returncode == 0 else ""

    def processes(self, *parts):
        """How many programs of this prefix run with a command line holding
        every one of parts, in any case: host processes, as tasklist lists
        none under Wine, told apart from other prefixes' by their WINEPREFIX."""
        wanted = [part.lower().encode() for part in parts]
        ours = b"\0WINEPREFIX=" + str(self.prefix).encode() + b"\0"
        found = 0
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                command = Path(f"/proc/{pid}/cmdline").read_bytes().lower()
                environment = b"\0" + Path(f"/proc/{pid}/environ").read_bytes()
            except OSError:
                continue
            found += ours in environment and all(part in command for part in wanted)
        return found

    def spawn(self, windows_exe, args=(), cwd=None, log=None):
        env = self.env_for(log)
        out = open(self.log_file, "ab")
        p = subprocess.Popen(["wine", windows_exe, *args], env=env, cwd=cwd, stdout=out, stderr=out)
        out.close()
        self.background.append(p)
        return p


def read_events(log):
    events = []
    if Path(log).exists():
        for line in Path(log).read_text(encoding="utf-8").splitlines():
            parts = line.split("\t", 4)
            if len(parts) == 5:
                events.append(Event(parts[0], int(parts[1]), int(parts[2]), parts[3], parts[4]))
    return events
