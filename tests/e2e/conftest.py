# The Wine labs the end-to-end tests run in, one prefix each, kept between
# runs under the work folder: a plain one, one whose programs get real windows
# (a null graphics driver), and one for the players' installer, which writes
# into the user's folders.
#
# The build and work folders are trial.py's BUILD and WORK. A test that takes t runs as a Trial, tried once more when it
# failed in timing alone.
import re
import shutil

import pytest
from trial import BUILD, WORK, Trial, started_lab, tried_twice


def pytest_sessionstart(session):
    # Nothing is skipped for want of Wine or a build: the run fails.
    missing = [tool for tool in ("wine", "wineserver") if not shutil.which(tool)]
    missing += [str(BUILD / name) for name in ("branding.json", "standins") if not (BUILD / name).exists()]
    if missing:
        raise pytest.UsageError("the end-to-end tests need " + ", ".join(missing) + " (scripts/setup.sh, scripts/build.sh)")


@pytest.fixture(scope="session")
def plain_lab():
    lab = started_lab(WORK, BUILD)
    yield lab
    lab.stop()


@pytest.fixture(scope="session")
def window_lab():
    lab = started_lab(WORK / "with-windows", BUILD, windows=True)
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
