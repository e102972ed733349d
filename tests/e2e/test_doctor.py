# The doctor under Wine: what it reports, in the player's language, agrees
# with what the launcher then does.
import dataclasses
import json
import re

import pytest
from test_launcher import LAUNCHES
from trial import check_launched, set_up
from winelab import USER_CHOICE, USER_CHOICE_LATEST

# The doctor's console line for --out, and the heading of its advice, by the player's language.
DOCTOR_SAYS = {None: ("The report is in ", "What to do"),
               "ru_RU.UTF-8": ("Отчёт записан в файл ", "What to do / Что делать")}


@pytest.mark.parametrize("lang", DOCTOR_SAYS, ids=["english", "russian"])
def test_doctor_agrees_with_the_launcher(t, lang):
    # The shell runs the newer record's command, so it settles which record wins.
    row = dataclasses.replace(LAUNCHES["newer_choice_wins_over_a_stale_legacy_one"],
                              http=r'"C:\New\newbrowser.exe" "%1"')
    set_up(t, row)
    report_file = t.dir / "doctor.json"
    doc = t.lab.run(t.lab.doctor_path, ["--json"], cwd=t.dir, log=t.log, timeout=30, stdout=report_file, lang=lang)
    t.expect(doc.status == 0, f"doctor exit status {doc.status}")
    t.expect(not t.events(), f"the doctor started something: {t.events()}")
    usage = t.lab.run(t.lab.doctor_path, ["--bogus"], cwd=t.dir, timeout=30)
    t.expect(usage.status == 2, f"an unknown argument gave exit status {usage.status}, not 2")
    report = json.loads(report_file.read_text(encoding="utf-8"))
    # The file a support script asks for: UTF-8 with a byte-order mark and CR LF, headed with the run.
    said = t.dir / "doctor-said.txt"
    t.lab.c(r"C:\reports").mkdir(exist_ok=True)
    saved = t.lab.run(t.lab.doctor_path, ["--out", r"C:\reports\doctor report.txt"], cwd=t.dir, log=t.log,
                      timeout=30, stdout=said, lang=lang)
    t.expect(saved.status == 0, f"doctor --out exit status {saved.status}")
    report_in, what_to_do = DOCTOR_SAYS[lang]
    t.expect(said.read_text(encoding="utf-8").strip() == report_in + r"C:\reports\doctor report.txt",
             f"doctor --out said: {said.read_text(encoding='utf-8')!r}")
    text = t.lab.c(r"C:\reports\doctor report.txt").read_bytes()
    t.expect(text.startswith(b"\xef\xbb\xbf" + f"{t.lab.doctor[:-4]} {t.lab.branding['version']}, run ".encode()),
             f"report heading: {text[:80]!r}")
    t.expect(text.count(b"\n") == text.count(b"\r\n") > 10, "report lines do not all end in CR LF")
    t.expect(b"\r\nCurrent folder: Z:\\" in text and b"\r\nVerdict: The launcher would start" in text,
             f"report: {text[:300]!r}")
    # The advice is the player's to read, each line followed by the English one; the rest is for support.
    before, _, advice = text.decode("utf-8").partition(f"\r\n{what_to_do}\r\n")
    t.expect(advice.startswith("  [nothing_to_change] ") and not any("\u0400" <= ch < "\u0500" for ch in before),
             f"report's advice: {advice[:200]!r}")
    t.expect(any("\u0400" <= ch < "\u0500" for ch in advice.split("\r\n")[0]) == (lang is not None),
             f"the advice is not in the player's language: {advice[:200]!r}")
    t.expect(report["doctor"]["version"] == t.lab.branding["version"], f"JSON heading: {report['doctor']}")
    # Windows as it names itself, and the machine: the prefix is a 64-bit one, the doctor a 32-bit program.
    t.expect(report["windows"]["current_build"] and report["windows"]["name"], f"JSON windows: {report['windows']}")
    t.expect(report["machine"] == {"architecture": "x64", "process_architecture": "x86", "wow64": True,
                                   "emulated": False}, f"JSON machine: {report['machine']}")
    t.expect(not t.events(), f"the doctor started something: {t.events()}")

    start = check_launched(t, row)
    t.expect(report["prog_id_source"] == "newer key", f"doctor: ProgId from {report['prog_id_source']}")
    t.expect(report["browser_found"] and report["watched_name"] == "newbrowser.exe",
             f"doctor: watched name {report['watched_name']}")
    launch = report["launch"]
    t.expect(start is not None and start.text == launch["file"] + " " + launch["parameters"],
             f"doctor said {launch}, the browser got {start and start.text}")
    opened = [f["path"] for f in report["follow_ups"] if f["present"]]
    t.expect(opened == ["play.url", r"fscommand\wgame.exe"], f"doctor: follow-ups {report['follow_ups']}")


    t.lab.guard_shell()  # http links go to the recording stand-in again


@pytest.mark.native
def test_doctor_names_the_choice_reg_query_shows(t):
    """The report parses, and its ProgId is the one reg query shows in the record it names: on a real Windows, the
    machine's own choice."""
    t.user_choice(r'"C:\Browser\browser.exe" "%1"')
    t.apply()
    out = t.dir / "doctor.json"
    run = t.lab.run(t.lab.doctor_path, ["--json", "--out", out.name], cwd=t.dir, timeout=30)
    t.expect(run.status == 0, f"doctor exit status {run.status}")
    report = json.loads(out.read_text(encoding="utf-8"))
    record = {"newer key": (USER_CHOICE_LATEST, "ProgId"), "legacy key": (USER_CHOICE, "Progid")}
    if t.expect(report["prog_id_source"] in record, f"the doctor decided by {report['prog_id_source']}"):
        key, name = record[report["prog_id_source"]]
        shown = re.search(rf"^\s*{name}\s+REG_SZ\s+(\S+)\s*$", t.lab.query_key(key), re.MULTILINE | re.IGNORECASE)
        t.expect(shown and shown[1] == report["prog_id"], f"reg query shows {shown and shown[1]}, the doctor "
                 f"{report['prog_id']}")
