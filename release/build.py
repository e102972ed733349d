"""The build: the launcher and its doctor, configured with the branding
options and nothing else, from a clean folder."""
import json
import shutil
import subprocess
import sys
from dataclasses import dataclass
from pathlib import Path

from .common import ROOT, ReleaseError, run, shown


@dataclass(frozen=True)
class Branding:
    """What a build was configured with (its branding.json)."""
    launcher: str
    doctor: str
    icon: str
    host: str
    version: str
    source_date_epoch: str
    product: str
    company: str
    copyright: str

    @property
    def name(self):
        return self.launcher[:-len(".exe")]

    @property
    def uninstaller(self):
        return f"{self.name}-uninstall.exe"

    @property
    def setup(self):
        return f"{self.name}-setup.exe"

    @classmethod
    def load(cls, build):
        written = json.loads(Path(build, "branding.json").read_text(encoding="utf-8"))
        strings = written["strings"]
        return cls(launcher=written["launcher"], doctor=written["doctor"], icon=written["icon"], host=written["host"],
                   version=written["version"], source_date_epoch=written["source_date_epoch"],
                   product=strings.get("ProductName", ""), company=strings.get("CompanyName", ""),
                   copyright=strings.get("LegalCopyright", ""))


def setup(root=ROOT):
    """Installs what the build needs, saying so on the error stream."""
    if subprocess.run([str(Path(root, "scripts", "setup.sh"))], stdout=sys.stderr, stdin=subprocess.DEVNULL).returncode:
        raise ReleaseError("could not install the build tools")


def build_programs(source, build, options, logs, env=None):
    """Configures build (emptied first) from source with options, and builds
    the launcher, the doctor and the installer's engine. Answers what was configured."""
    shutil.rmtree(build, ignore_errors=True)
    configure = Path(logs, "configure.log")
    if not run(["cmake", "--preset", "windows", "-B", build, *options], cwd=source, env=env, log=configure,
               check=False):
        lines = configure.read_text(errors="replace").splitlines()
        said = [lines[i + 1].strip() for i, line in enumerate(lines[:-1]) if "CMake Error" in line]
        raise ReleaseError("configure failed: " + shown(said[0] if said else lines[-1] if lines else "(no output)"))
    targets = ["launcher", "doctor", "setup_engine"]
    if not run(["cmake", "--build", build, "--target", *targets], cwd=source, env=env,
               log=Path(logs, "build.log"), check=False):
        raise ReleaseError(f"build failed; see the output of: cmake --build {shown(build)} --target {' '.join(targets)}")
    return Branding.load(build)
