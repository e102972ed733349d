# Runs in a prefix whose programs get real windows (Wine's null graphics
# driver): the launcher's wait ends when the browser's windows have closed;
# and the simulated Windows' claims, checked against Wine's answers.
import re
import time
import warnings

import platforms
import pytest
import trial


@pytest.fixture
def lab(window_lab):
    return window_lab


def check_ended_when_the_window_closed(t, run, image, lingers=True):
    """The launcher ended soon after the window of the browser image closed,
    with the browser still running if it lingers, and only then opened the
    follow-ups."""
    t.check_exit(run)
    shown = [e for e in t.events("window", image) if e.text == "shown"]
    closed = [e for e in t.events("window", image) if e.text == "closed"]
    if not t.expect(len(shown) == 1 and len(closed) == 1, f"the browser's window was not shown and closed once: {shown} {closed}"):
        return
    t.check_ended_after(run, closed[0].ms, "the browser's window closed")
    exits = t.events("exit", image)
    if lingers:
        t.expect(not exits or exits[0].ms / 1000 > run.end, "the browser had exited: the wait did not end by its window")
    t.check_follow_ups_after(closed[0].ms)


def lingering_browser(t, image, window_ms, linger_ms=15000):
    t.lab.install("browser_standin.exe", rf"C:\Browser\{image}", linger_ms=linger_ms, window_ms=window_ms)
    t.user_choice(rf'"C:\Browser\{image}" "%1"')
    t.follow_ups()


@pytest.mark.native
def test_window_closed_while_the_browser_lingers(t):
    lingering_browser(t, "lingering.exe", (1000, 3000))
    run = t.launch()
    check_ended_when_the_window_closed(t, run, r"\lingering.exe")
    t.lab.run("taskkill", ["/F", "/IM", "lingering.exe"], timeout=20)


def test_windowless_copy_already_running(t):
    # As Edge's Startup boost leaves one: a copy with the browser's image name, no window, running before the launch.
    t.lab.install("browser_standin.exe", r"C:\Boost\boosted.exe", linger_ms=20000)
    lingering_browser(t, "boosted.exe", (1000, 2500), linger_ms=3000)
    t.apply()
    t.lab.spawn(r"C:\Boost\boosted.exe", cwd=t.dir, log=t.log)
    time.sleep(1 + t.lab.startup_s)
    run = t.lab.run(t.lab.launcher_path, cwd=t.dir, log=t.log, timeout=40)
    t.settle(still_running=(r"\Boost\boosted.exe",))
    check_ended_when_the_window_closed(t, run, r"\Browser\boosted.exe", lingers=False)
    t.expect(not t.events("exit", r"\Boost\boosted.exe"), "the windowless copy had ended before the launcher")
    t.lab.run("taskkill", ["/F", "/IM", "boosted.exe"], timeout=20)


def test_first_window_comes_late(t):
    lingering_browser(t, "slowwindow.exe", (3500, 5500))
    run = t.launch()
    shown = [e for e in t.events("window", r"\slowwindow.exe") if e.text == "shown"]
    t.expect(shown and run.end > shown[0].ms / 1000, "the launcher ended before the browser's first window")
    check_ended_when_the_window_closed(t, run, r"\slowwindow.exe")
    t.lab.run("taskkill", ["/F", "/IM", "slowwindow.exe"], timeout=20)


def test_opera_stub_in_lower_case_hands_over_to_opera(t):
    # As Opera GX's installer registers it: a lower-case launcher.exe that starts opera.exe and exits at once.
    opera = r"C:\users\player\AppData\Local\Programs\Opera GX"
    t.lab.install("launcher_stub.exe", opera + r"\launcher.exe")
    t.lab.install("browser_standin.exe", opera + r"\opera.exe", linger_ms=15000, window_ms=(1000, 3500))
    t.user_choice(f'"{opera}\\launcher.exe" -noautoupdate -- "%1"')
    t.follow_ups()
    run = t.launch()
    stub = t.one("exit", r"\launcher.exe")
    t.expect(stub is not None and stub.ms / 1000 < run.end - 2, "the stub did not exit well before the launcher")
    check_ended_when_the_window_closed(t, run, r"\Opera GX\opera.exe")
    t.lab.run("taskkill", ["/F", "/IM", "opera.exe"], timeout=20)


# The simulated Windows' claims (tests/conformance/), checked against Wine's
# answers by the program that links the real layers, once for each release
# whose version the simulation names; on a real Windows, once, as 8 and
# later. Windows need a graphics driver. A claim platforms.py expects to fail
# here may; one that passes is reported.
WINE_RELEASES = {"xp": "winxp", "vista": "vista", "7": "win7", "8": "win10"}
RELEASES = WINE_RELEASES if trial.LAB == "wine" else {platforms.platform("native"): None}


@pytest.mark.native
@pytest.mark.parametrize("release", RELEASES)
def test_the_simulated_windows_agrees_with_wine(t, release):
    t.lab.install("conformance.exe", r"C:\standins\conformance.exe")
    if RELEASES[release]:
        t.lab.regedit([r"[HKEY_CURRENT_USER\Software\Wine\AppDefaults\conformance.exe]",
                       f'"Version"="{RELEASES[release]}"'])
    printed = t.dir / "claims.txt"
    run = t.lab.run(r"C:\standins\conformance.exe", ["--release", release if RELEASES[release] else "8"], cwd=t.dir,
                    timeout=120, stdout=printed)
    lines = printed.read_text().splitlines() if printed.exists() else []
    expected = platforms.DIFFERENCES.get(release, {})
    failed = [line for line in lines if line.startswith("FAIL")]
    for line in failed:
        t.expect(any(line.startswith(f"FAIL {claim}") for claim in expected), line)
    for claim in expected:
        if f"ok   {claim}" in lines:
            warnings.warn(f"{release}: the claim '{claim}' holds, but platforms.py expects it to fail: drop it")
    closing = re.match(r"(\d+) passed, (\d+) failed", lines[-1]) if lines else None
    t.expect(closing and int(closing[1]) > 0 and int(closing[2]) == len(failed) and run.status == (1 if failed else 0),
             f"status {run.status}, last line {lines[-1:] or 'none'}")
