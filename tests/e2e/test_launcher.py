# The shipped launcher under Wine, against stand-in browsers: what it starts,
# how long it waits, and what it opens after; and how its PE file is made.
import json
import shutil

import pe_check
import pytest
from trial import AFTER_EXIT_S, BUILD, Launch, check_launch

BROWSER = r"C:\Browser\browser.exe"
OPERA = r"C:\Program Files\Opera"
ADDRESS = ' "{a}"'

LAUNCHES = {
    "vista_lookup_waits_for_the_browser": Launch(
        browsers={BROWSER: 2500}, legacy=rf'"{BROWSER}" -osint -url "%1" --again=%1',
        started=r"\Browser\browser.exe", command=rf'"{BROWSER}" -osint -url "{{a}}" --again={{a}}'),
    # As Windows 11 24H2 leaves the two choices: the legacy one stale.
    "newer_choice_wins_over_a_stale_legacy_one": Launch(
        browsers={r"C:\Old\oldbrowser.exe": 0, r"C:\New\newbrowser.exe": 2000},
        legacy=r'"C:\Old\oldbrowser.exe" "%1"', newer=r'"C:\New\newbrowser.exe" "%1"',
        started=r"\newbrowser.exe", command=r'"C:\New\newbrowser.exe"' + ADDRESS, never=(r"\oldbrowser.exe",)),
    "no_placeholder_and_opera_launcher": Launch(
        stubs=(OPERA + r"\Launcher.exe",), browsers={OPERA + r"\opera.exe": 2500},
        legacy=rf'"{OPERA}\Launcher.exe" --new-window',
        started=r"\Launcher.exe", command=rf'"{OPERA}\Launcher.exe" {{a}}', waited=r"\opera.exe"),
    # Wine's shell runs the http class's command: here the legacy record's, so the shell honours that one.
    "shell_honours_the_legacy_choice_over_a_newer_one": Launch(
        browsers={r"C:\Old\oldbrowser.exe": 1500, r"C:\New\newbrowser.exe": 0},
        legacy=r'"C:\Old\oldbrowser.exe" "%1"', newer=r'"C:\New\newbrowser.exe" "%1"',
        http=r'"C:\Old\oldbrowser.exe" "%1"',
        started=r"\oldbrowser.exe", command=r'"C:\Old\oldbrowser.exe"' + ADDRESS, never=(r"\newbrowser.exe",)),
    "xp_lookup_reads_the_http_class": Launch(
        browsers={r"C:\XP\xpbrowse.exe": 1500, BROWSER: 0}, xp=True, http=r'"C:\XP\xpbrowse.exe" "%1"',
        legacy=rf'"{BROWSER}" "%1"',  # not consulted before Vista
        started=r"\xpbrowse.exe", command=r'"C:\XP\xpbrowse.exe"' + ADDRESS, never=(r"\Browser\browser.exe",)),
    "xp_command_spelled_EXE_is_not_a_browser": Launch(
        browsers={r"C:\XP\XPBROWSE.EXE": 1500}, xp=True, http=r'"C:\XP\XPBROWSE.EXE" "%1"', never=(r"\XPBROWSE.EXE",)),
    # ReadString raises here, so this proves the shipped exe's unwinding.
    "progid_of_a_non_text_type_is_no_browser": Launch(
        browsers={BROWSER: 0}, legacy=rf'"{BROWSER}" "%1"', progid="dword:00000001", never=(r"\Browser\browser.exe",)),
    "nothing_registered_no_wait": Launch(play_url="directory", never=("shell-open.exe",)),
    "read_only_keys_still_find_the_browser": Launch(
        browsers={BROWSER: 1200}, legacy=rf'"{BROWSER}" "%1"', read_only=True, wgame=False,
        started=r"\Browser\browser.exe", command=rf'"{BROWSER}"' + ADDRESS),
}


# Rows that need no choice of their own, only the command the chosen class
# opens, which a native lab can set: they run on a real Windows too.
NATIVE = {"vista_lookup_waits_for_the_browser", "no_placeholder_and_opera_launcher"}


@pytest.mark.parametrize("row", [pytest.param(row, id=name, marks=[pytest.mark.native] if name in NATIVE else [])
                                 for name, row in LAUNCHES.items()])
def test_launch(t, row):
    try:
        check_launch(t, row)
    finally:
        if row.http:  # http links go to the recording stand-in again
            t.lab.guard_shell()


@pytest.mark.native
@pytest.mark.parametrize("role, console", [("launcher", False), ("doctor", True)])
def test_pe(role, console):
    exe = BUILD / json.loads((BUILD / "branding.json").read_text(encoding="utf-8"))[role]
    assert not [f"{name}: {detail}" for name, ok, detail in pe_check.checks(exe, console) if not ok]


@pytest.mark.native
def test_quit_message_ends_the_wait(t):
    t.lab.install("browser_standin.exe", r"C:\Slow\lingerer.exe", linger_ms=30000)
    t.user_choice(r'"C:\Slow\lingerer.exe" "%1"')
    t.follow_ups()
    t.apply()
    poster = t.lab.spawn(r"C:\standins\quit_poster.exe", [t.lab.launcher], cwd=t.dir, log=t.log)
    run = t.lab.run(t.lab.launcher_path, cwd=t.dir, log=t.log, timeout=25)
    poster.wait(timeout=20)
    t.settle(still_running=(r"\lingerer.exe",))
    t.check_exit(run)
    posted = t.one("posted", r"\quit_poster.exe")
    t.expect(not t.events("exit", r"\lingerer.exe"), "the browser had exited: the wait did not end by the message")
    if posted:
        lag = run.end - posted.ms / 1000
        t.expect(0 <= lag <= AFTER_EXIT_S[1], f"launcher ended {lag:.2f} s after WM_QUIT was posted", timing=True)
        t.check_follow_ups_after(posted.ms)
    t.lab.run("taskkill", ["/F", "/IM", "lingerer.exe"], timeout=20)


@pytest.mark.native
def test_stack_guard_is_seeded_and_stops_an_overrun(t):
    probe = r"C:\standins\guard_probe.exe"
    guards = []
    for i in range(2):
        printed = t.dir / f"guard-{i}.txt"
        run = t.lab.run(probe, cwd=t.dir, timeout=30, stdout=printed)
        t.expect(run.status == 0, f"the probe ended with status {run.status}")
        guards.append(printed.read_text().strip().lower())
    t.expect(guards[0] != guards[1] and "bb40e64e" not in guards, f"the guard was not seeded anew: {guards}")
    overrun = t.lab.run(probe, ["x" * 64], cwd=t.dir, timeout=30)
    t.expect(overrun.status == t.lab.status(0xC0000409),  # STATUS_STACK_BUFFER_OVERRUN
             f"an overrun ended with status {overrun.status}, not as a stack-guard failure")


@pytest.mark.native
def test_planted_dlls_are_not_loaded(t):
    # What a web page can drop into a Downloads folder: a DLL beside the exe,
    # and one in the current folder.
    standins = t.lab.build / "standins"
    for probe in ("dll_probe.exe", "dll_probe_bare.exe"):
        t.lab.place(standins / probe, rf"C:\probe\{probe}")
    t.lab.place(standins / "planted.dll", r"C:\probe\planted_beside.dll")
    t.lab.place(standins / "planted.dll", r"C:\probe\version.dll")  # what the doctor asks version.dll for
    shutil.copyfile(standins / "planted.dll", t.dir / "planted_cwd.dll")
    seen = {}
    for probe in ("dll_probe.exe", "dll_probe_bare.exe"):
        printed = t.dir / (probe + ".txt")
        run = t.lab.run(rf"C:\probe\{probe}", cwd=t.dir, timeout=30, stdout=printed)
        t.expect(run.status == 0, f"{probe} ended with status {run.status}")
        seen[probe] = dict(line.split(": ", 1) for line in printed.read_text().splitlines() if ": " in line)
    for dll in ("planted_beside.dll", "planted_cwd.dll"):
        t.expect(seen["dll_probe_bare.exe"].get(dll) == "loaded", f"without the start-up code {dll} was not loaded: "
                 "the probe proves nothing")
        t.expect(seen["dll_probe.exe"].get(dll) == "refused", f"with the start-up code {dll} was loaded")
    t.expect(seen["dll_probe_bare.exe"].get("version.dll by name") == "planted",
             "without the start-up code the planted version.dll was not loaded by name: the probe proves nothing")
    for probe in ("dll_probe.exe", "dll_probe_bare.exe"):
        for how in ("from the system folder", "by its full path"):
            t.expect(seen[probe].get("version.dll " + how) == "system", f"{probe}: version.dll {how}: {seen[probe]}")
    t.expect(seen["dll_probe.exe"].get("version.dll by name") == "system", "with the start-up code the planted "
             f"version.dll was loaded by name: {seen['dll_probe.exe']}")
    # Neither probe carries the DEP mark: only the start-up code turns DEP on.
    t.expect(seen["dll_probe_bare.exe"].get("dep") == "0", "DEP on without the start-up code: the probe proves nothing")
    t.expect(seen["dll_probe.exe"].get("dep") in ("1", "3"), f"DEP policy after start-up: {seen['dll_probe.exe']}")
