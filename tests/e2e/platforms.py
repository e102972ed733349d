# What does not apply where, and why: per platform, the tests (by their id
# under tests/e2e) and the conformance claims (by what they claim) that are
# expected to fail there. Wine's platforms are the releases
# test_windows.py asks Wine to be (the rest of the suite runs as Wine's
# default, 7); the others are the hosted Windows runners of
# .github/workflows/ci.yml. A failure not listed here fails the run; a
# listed one that passes is reported, so that the table shrinks.
import os

LINK_STUB = ("Wine 8 makes no link (its CreateSymbolicLinkW is a stub that answers success), and asks a Unix "
             "link's target for the attributes, so it cannot show what Windows answers")
WINE = {"a link whose target is gone is a reparse point, and opening it fails as file not found": LINK_STUB}

DIFFERENCES = {
    "xp": dict(WINE),
    "vista": dict(WINE),
    "7": dict(WINE),
    "8": dict(WINE, **{
        "from Windows 8, the shell names the class it opens http links with, whose open command it runs (as "
        "Microsoft documents ASSOCSTR_PROGID)": "Wine 8 answers ASSOCSTR_PROGID with E_NOTIMPL"}),
    # Nothing yet: a run on each fills in what it shows.
    "windows-2022": {},
    "windows-2025": {},
    "windows-11-arm": {},
}
WINE_DEFAULT = "7"


def platform(lab_kind):
    """The platform this run is on: the runner's label (LAUNCHER_PLATFORM) natively."""
    return os.environ.get("LAUNCHER_PLATFORM", "windows-2025") if lab_kind == "native" else WINE_DEFAULT


def why_not(platform_name, what):
    """Why the test or claim what is expected to fail on the platform; None when it is not."""
    return DIFFERENCES.get(platform_name, {}).get(what)
