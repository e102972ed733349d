# A Lab on a real Windows machine, for the tests marked native (pytest --lab
# native): the hosted Windows runners of .github/workflows/ci.yml, which are
# disposable. Behind the interface winelab.Lab has, with three differences:
#
# - Paths the tests write as C:\... lie under a folder of the Lab's own in
#   %TEMP% (C:\users\... stays the user's own).
# - The browser choice is never written: Windows protects UserChoice and
#   resets one that lacks its hash. A test's choice sets the open command of
#   the class the machine's current choice names, per user
#   (HKCU\Software\Classes\<ProgId>), which overrides the machine's class in
#   HKEY_CLASSES_ROOT.
# - Every value it changes is first written, as it was, to a file in its
#   folder, and put back when the Lab stops; a run that was stopped before
#   that is put right from the file by the next one.
#
# This code runs nowhere but on Windows: no test here exercises it.
import json
import os
import re
import subprocess
import time
import winreg
from pathlib import Path

from winelab import GUARDED_CLASSES, USER_CHOICE, USER_CHOICE_LATEST, LabCommon, Run

HIVES = {"HKEY_CURRENT_USER": winreg.HKEY_CURRENT_USER, "HKCU": winreg.HKEY_CURRENT_USER,
         "HKEY_LOCAL_MACHINE": winreg.HKEY_LOCAL_MACHINE, "HKLM": winreg.HKEY_LOCAL_MACHINE}
USER_CLASSES = r"HKEY_CURRENT_USER\Software\Classes"
OUR_PATH = re.compile(r"(?<![A-Za-z])C:\\(?!users\\)", re.IGNORECASE)


class NativeError(RuntimeError):
    pass


def split_key(path):
    """(hive, subkey) of a full key path; HKEY_CLASSES_ROOT is written per user."""
    if path.upper().startswith("HKEY_CLASSES_ROOT\\"):
        path = USER_CLASSES + path[len("HKEY_CLASSES_ROOT"):]
    hive, _, sub = path.partition("\\")
    return HIVES[hive.upper()], sub


class NativeLab(LabCommon):
    def __init__(self, work, build, windows=False, template=None):
        self.work = Path(os.environ["TEMP"]) / "gamestart-lab" / Path(work).name
        self.build = Path(build).resolve()
        self.branding = json.loads((self.build / "branding.json").read_text(encoding="utf-8"))
        self.launcher, self.doctor = self.branding["launcher"], self.branding["doctor"]
        self.root = str(self.work / "c")  # where the tests' C:\ lies
        self.launcher_path = self.path("C:\\app\\" + self.launcher)
        self.doctor_path = self.path("C:\\app\\" + self.doctor)
        self.shell_open = self.path(r"C:\standins\shell-open.exe")
        self.app_defaults = r"HKEY_CURRENT_USER\Software\Wine\AppDefaults" + "\\" + self.launcher  # never there
        self.saved = self.work / "registry-before.json"
        self.log_file = self.work / "output.log"
        self.background = []
        self.startup_s = 0.0
        self.windows = windows

    # --- the machine as it was -------------------------------------------------
    def start(self):
        self.work.mkdir(parents=True, exist_ok=True)
        self.restore()  # what an interrupted run left
        self.prog_id = self.current_choice()
        self.guard_shell()
        if not self.overrides_classes():
            self.restore()
            raise NativeError("this machine does not let a per-user class override the machine's "
                              "(HKCU\\Software\\Classes is not in HKEY_CLASSES_ROOT's view)")
        self.install_standins()
        self.startup_s = self.measure_startup()

    def stop(self):
        for p in self.background:
            if p.poll() is None:
                p.kill()
        self.restore()

    def current_choice(self):
        for key, name in ((USER_CHOICE_LATEST, "ProgId"), (USER_CHOICE, "Progid")):
            try:
                hive, sub = split_key(key)
                with winreg.OpenKey(hive, sub) as opened:
                    value, kind = winreg.QueryValueEx(opened, name)
                if kind == winreg.REG_SZ and value:
                    return value
            except OSError:
                continue
        raise NativeError("this machine has no default browser choice for http links (UserChoice): choose one")

    def overrides_classes(self):
        """Whether HKEY_CLASSES_ROOT shows the per-user class this Lab wrote."""
        try:
            with winreg.OpenKey(winreg.HKEY_CLASSES_ROOT, r"InternetShortcut\shell\open\command") as opened:
                return winreg.QueryValueEx(opened, "")[0] == f'"{self.shell_open}" "%1"'
        except OSError:
            return False

    def set_value(self, key, name, kind, value):
        """Sets one value, first writing down what it was."""
        hive, sub = split_key(key)
        saved = json.loads(self.saved.read_text()) if self.saved.exists() else []
        if not any(e["key"] == key and e["name"] == name for e in saved):
            entry = {"key": key, "name": name, "existed": False, "created": []}
            try:
                with winreg.OpenKey(hive, sub) as opened:
                    old, old_kind = winreg.QueryValueEx(opened, name)
                entry.update(existed=True, value=old, kind=old_kind)
            except OSError:
                pass
            parts = sub.split("\\")
            for n in range(1, len(parts) + 1):  # the keys this write will make
                try:
                    winreg.CloseKey(winreg.OpenKey(hive, "\\".join(parts[:n])))
                except OSError:
                    entry["created"].append("\\".join(parts[:n]))
            saved.append(entry)
            with open(self.saved, "w") as f:
                json.dump(saved, f)
                f.flush()
                os.fsync(f.fileno())
        with winreg.CreateKeyEx(hive, sub, 0, winreg.KEY_SET_VALUE) as opened:
            winreg.SetValueEx(opened, name, 0, kind, value)

    def restore(self):
        """Puts back every value as the file says it was, and deletes the keys it made."""
        if not self.saved.exists():
            return
        for entry in reversed(json.loads(self.saved.read_text())):
            hive, sub = split_key(entry["key"])
            if entry["existed"]:
                with winreg.CreateKeyEx(hive, sub, 0, winreg.KEY_SET_VALUE) as opened:
                    winreg.SetValueEx(opened, entry["name"], 0, entry["kind"], entry["value"])
            else:
                try:
                    with winreg.OpenKey(hive, sub, 0, winreg.KEY_SET_VALUE) as opened:
                        winreg.DeleteValue(opened, entry["name"])
                except OSError:
                    pass
            for made in reversed(entry["created"]):
                try:
                    winreg.DeleteKey(hive, made)
                except OSError:
                    pass
        self.saved.unlink()

    # --- registry ----------------------------------------------------------
    def regedit(self, lines):
        """The .reg lines the tests write: values set under a key; a key
        deleted only where it is not there."""
        key = None
        for line in lines:
            if not line:
                continue
            if line.startswith("[-"):
                hive, sub = split_key(line[2:-1])
                try:
                    winreg.CloseKey(winreg.OpenKey(hive, sub))
                except OSError:
                    continue
                raise NativeError(f"the native lab deletes no key it did not make: {line}")
            if line.startswith("["):
                key = line[1:-1]
                continue
            name, _, value = line.partition("=")
            name = "" if name == "@" else json.loads(name)
            if value.startswith('"'):  # as reg_quote writes it, which JSON reads
                self.set_value(key, name, winreg.REG_SZ, self.path(json.loads(value)))
            elif value.startswith("dword:"):
                self.set_value(key, name, winreg.REG_DWORD, int(value[6:], 16))
            elif value.startswith("hex(2):"):
                data = bytes(int(b, 16) for b in value[7:].split(","))
                self.set_value(key, name, winreg.REG_EXPAND_SZ, data.decode("utf-16-le").rstrip("\0"))
            else:
                raise NativeError(f"the native lab writes no value such as {line}")

    def clear_choice_lines(self):
        return []  # the choice stays the machine's

    def choice_lines(self, command, prog_id):
        """The command the choice's class opens: the machine's choice, not prog_id."""
        return [f"[{USER_CLASSES}\\{self.prog_id}\\shell\\open\\command]", "@=" + json.dumps(command)]

    def status(self, code):
        return code  # as Windows reports it

    def guard_shell(self):
        lines = []
        for cls in GUARDED_CLASSES:
            lines += [f"[HKEY_CLASSES_ROOT\\{cls}\\shell\\open\\command]", "@=" + json.dumps(f'"{self.shell_open}" "%1"')]
        self.regedit(lines)

    def query_key(self, key):
        out = subprocess.run(["reg", "query", key, "/s"], capture_output=True, text=True)
        return out.stdout if out.returncode == 0 else ""

    # --- files -------------------------------------------------------------
    def path(self, text):
        """text with the tests' C:\\... paths under the Lab's own folder."""
        return OUR_PATH.sub(lambda m: self.root + "\\", text)

    def c(self, windows_path):
        return Path(self.path(windows_path))

    def user_folder(self, name=""):
        home = Path(os.environ["USERPROFILE"])
        return home / name if name else home

    def install_standins(self):
        self.install("browser_standin.exe", self.shell_open)
        for name in ("quit_poster.exe", "key_guard.exe", "guard_probe.exe"):
            self.install(name, "C:\\standins\\" + name)
        self.place(self.build / self.launcher, self.launcher_path)
        self.place(self.build / self.doctor, self.doctor_path)

    # --- running -----------------------------------------------------------
    def env_for(self, log, lang=None):
        return dict(os.environ, STANDIN_LOG=str(log)) if log is not None else dict(os.environ)

    def run(self, windows_exe, args=(), cwd=None, log=None, timeout=60, stdout=None, lang=None, probe=None):
        start = time.time()
        with open(self.log_file, "ab") as log_out, open(stdout or os.devnull, "wb") as own_out:
            argv = [self.path(windows_exe), *map(self.path, args)]
            if windows_exe == "start":  # cmd's own, as Wine's start.exe is a program
                argv = ["cmd", "/c", "start", '""', *argv[1:]]
            p = subprocess.Popen(argv, env=self.env_for(log), cwd=cwd, stdout=own_out if stdout else log_out,
                                 stderr=log_out)
            beside = subprocess.Popen([self.shell_open], env=self.env_for(probe), stdout=log_out,
                                      stderr=log_out) if probe else None
            try:
                status, timed_out = p.wait(timeout=timeout), False
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
                status, timed_out = -1, True
            end = time.time()
            if beside:
                beside.wait(timeout=60)
        return Run(status, start, end, timed_out)

    def run_command_line(self, command_line, cwd, timeout=60, lang=None):
        batch = Path(cwd) / "command.bat"
        batch.write_text(f"@{self.path(command_line)}\r\n@exit /b %errorlevel%\r\n", encoding="utf-8")
        return self.run("cmd", ["/c", str(batch)], cwd=cwd, timeout=timeout)

    def processes(self, *parts):
        """How many processes run with a command line holding every one of parts, in any case."""
        listed = subprocess.run(["powershell", "-NoProfile", "-Command",
                                 "Get-CimInstance Win32_Process | Select-Object -ExpandProperty CommandLine"],
                                capture_output=True, text=True).stdout
        wanted = [part.lower() for part in parts]
        return sum(all(part in line.lower() for part in wanted) for line in listed.splitlines())

    def spawn(self, windows_exe, args=(), cwd=None, log=None):
        out = open(self.log_file, "ab")
        p = subprocess.Popen([self.path(windows_exe), *map(self.path, args)], env=self.env_for(log), cwd=cwd,
                             stdout=out, stderr=out)
        out.close()
        self.background.append(p)
        return p
