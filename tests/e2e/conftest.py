# The labs the end-to-end tests run in: Wine's by default, one prefix each,
# kept between runs under the work folder (a plain one, one whose programs
# get real windows through a null graphics driver, and one for the players'
# installer, which writes into the user's folders); with --lab native, a
# real Windows machine's (nativelab.py), for the tests marked native.
#
# The build and work folders are trial.py's BUILD and WORK. A test that takes t runs as a Trial, tried once more when it
# failed in timing alone. What is expected to fail where is platforms.py's table.
import re
import shutil

import platforms
import pytest
import trial
from trial import BUILD, WORK, Trial, started_lab, tried_twice


def pytest_addoption(parser):
    parser.addoption("--lab", choices=("wine", "native"), default=trial.LAB,
                     help="where the programs run: under Wine, or on this Windows machine (the tests marked native)")


def pytest_configure(config):
    config.addinivalue_line("markers", "native: runs on a real Windows machine too (pytest -m native --lab native)")
    trial.LAB = config.getoption("--lab")


def pytest_sessionstart(session):
    # Nothing is skipped for want of Wine or a build: the run fails.
    missing = [tool for tool in ("wine", "wineserver") if trial.LAB == "wine" and not shutil.which(tool)]
    missing += [str(BUILD / name) for name in ("branding.json", "standins") if not (BUILD / name).exists()]
    if missing:
        raise pytest.UsageError("the end-to-end tests need " + ", ".join(missing) + " (scripts/setup.sh, scripts/build.sh)")


def pytest_collection_modifyitems(config, items):
    """A test the table expects to fail here is one that may; one that then passes is reported."""
    here = platforms.platform(trial.LAB)
    for item in items:
        why = platforms.why_not(here, item.nodeid.split("tests/e2e/")[-1])
        if why:
            item.add_marker(pytest.mark.xfail(reason=f"{here}: {why}", strict=False))


def lab_for(work, build, windows=False):
    """A started lab; a machine a native lab cannot use ends the run in one line."""
    try:
        return started_lab(work, build, windows=windows)
    except RuntimeError as e:
        if trial.LAB != "native":
            raise
        pytest.exit(f"native lab: {e}", returncode=3)


@pytest.fixture(scope="session")
def plain_lab():
    lab = lab_for(WORK, BUILD)
    yield lab
    lab.stop()


@pytest.fixture(scope="session")
def window_lab():
    lab = lab_for(WORK / "with-windows", BUILD, windows=True)
    yield lab
    lab.stop()


@pytest.fixture
def lab(plain_lab):
    """The lab a module's trials run in; a module overrides it."""
    return plain_lab


@pytest.fixture
def t(lab, request):
    return Trial(lab, re.sub(r"\W+", "-", request.node.name).strip("-"))


@pytest.hookimpl(tryfirst=True)
def pytest_pyfunc_call(pyfuncitem):
    trial = pyfuncitem.funcargs.get("t")
    if not isinstance(trial, Trial):
        return None
    arguments = {name: pyfuncitem.funcargs[name] for name in pyfuncitem._fixtureinfo.argnames}
    tried_twice(trial, lambda: pyfuncitem.obj(**arguments))
    return True
