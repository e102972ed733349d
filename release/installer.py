"""The players' installer (installer/installer.nsi), built the same way by a
release and by a rebuild, so that the two can be compared byte for byte."""
import json
import os
import shlex
import shutil
import stat
import subprocess
from dataclasses import asdict, dataclass, field
from pathlib import Path

import pefile

from . import signing
from .common import ROOT, ReleaseError, module_command, run, shown
from .manifest import GameFile, file_sha256
from .names import is_device_name

SCRIPT = ROOT / "installer" / "installer.nsi"
_FORBIDDEN = set('\\:*?"<>|')


# --- the game's files -----------------------------------------------------------
def game_files(folder):
    """The files under folder, as relative paths with "/", in the same order on
    every machine (by their bytes)."""
    found = []
    for parent, folders, files in os.walk(folder):
        folders.sort()
        found += [os.path.relpath(os.path.join(parent, f), folder).replace(os.sep, "/") for f in files]
    return sorted(found, key=os.fsencode)


def game_files_listing(folder):
    return [GameFile(path, file_sha256(Path(folder, path))) for path in game_files(folder)]


def game_files_refusal(folder, name):
    """Why the files under folder cannot be installed beside NAME.exe; None
    when they can."""
    if not os.path.isdir(folder):
        return f"LAUNCHER_GAME_FILES names '{shown(folder)}', which is not a folder"
    entries = []
    for parent, folders, files in os.walk(folder):
        folders.sort()
        entries += [os.path.relpath(os.path.join(parent, e), folder) for e in sorted(folders + files)]
    for path in entries:
        mode = os.lstat(os.path.join(folder, path)).st_mode
        if not (stat.S_ISREG(mode) or stat.S_ISDIR(mode)):
            return f"LAUNCHER_GAME_FILES holds '{shown(path)}', which is not a plain file or folder: put the file itself there"
    own = {f"{name}.exe".lower(), f"{name}-doctor.exe".lower(), f"{name}-uninstall.exe".lower()}
    for path in entries:
        if path.lower() in own:
            return (f"LAUNCHER_GAME_FILES holds '{shown(path)}', which the installer writes itself (the launcher, "
                    "its doctor or its uninstaller)")
        parts = path.split(os.sep)
        if any(ch in _FORBIDDEN or ord(ch) < 0x20 for ch in path) or any(p[-1] in ". " for p in parts) \
                or any(is_device_name(p) for p in parts):
            return f"LAUNCHER_GAME_FILES holds '{shown(path)}', a name Windows cannot give a file"
    return None


# --- makensis -------------------------------------------------------------------
def nsis_text(text):
    """text as it goes inside an NSIS string."""
    return text.replace("$", "$$").replace('"', '$\\"')


def installer_folder(product, name):
    """The product name made fit for a folder and a shortcut's file name."""
    folder = "".join("-" if ch in '\\/:*?"<>|' else ch for ch in product).rstrip(". ")
    return folder or name


def installer_identity(company, product):
    """Company and product, made fit for a registry key's name: what the
    install's keys are named after, so that two games built from one
    launcher, even under one exe name, never share them."""
    fit = ["".join("-" if ch == "\\" else ch for ch in part).strip() for part in (company, product)]
    return " - ".join(part for part in fit if part)


def makensis_version():
    """The NSIS that builds the installer; another one builds other bytes."""
    return subprocess.run(["makensis", "-VERSION"], capture_output=True, text=True, check=True).stdout.strip()


def build_installer(branding, programs, game, out, hook, work, engine, script=SCRIPT):
    """Makes out from the launcher and doctor in programs, the files under
    game (none when None) and the engine in the build folder engine. hook is
    given the uninstaller's file before it goes inside; work gets the list of
    game files and makensis' log."""
    work = Path(work)
    include, links = work / "game-files.nsh", work / "game"
    shutil.rmtree(links, ignore_errors=True)
    links.mkdir()
    lines = []
    shipped = game_files(game) if game else []
    # makensis reads each file through a link of a plain name: a "$" in a
    # source path cannot be escaped.
    for n, path in enumerate(shipped, 1):
        (links / str(n)).symlink_to(Path(game, path))
        lines.append(f'!insertmacro InstallFile "{links / str(n)}" "{nsis_text(path.replace("/", chr(92)))}"\n')
    include.write_text("\ufeff" + "".join(lines), encoding="utf-8")
    # Room for the new files beside the old ones: the programs, the game, and
    # a mebibyte for the uninstaller and the folders' own entries.
    carried = [Path(programs, branding.launcher), Path(programs, branding.doctor)]
    carried += [Path(game, path) for path in shipped]
    needed = sum(path.stat().st_size for path in carried) + (1 << 20)
    log = work / "installer.log"
    done = run(["makensis", "-V2", "-INPUTCHARSET", "UTF8", f"-DNAME={branding.name}",
                f"-DPRODUCT={nsis_text(branding.product)}",
                f"-DFOLDER={nsis_text(installer_folder(branding.product, branding.name))}",
                f"-DIDENTITY={nsis_text(installer_identity(branding.company, branding.product))}",
                f"-DVERSION={branding.version}", f"-DCOMPANY={nsis_text(branding.company)}",
                f"-DCOPYRIGHT={nsis_text(branding.copyright)}", f"-DICON={branding.icon}", f"-DPROGRAMS={programs}",
                f"-DENGINE={engine}", f"-DNEEDED={needed}", f"-DGAME_FILES={include}", f"-DOUTFILE={out}", f"-DFINISH_UNINSTALLER={hook}", script],
               log=log, check=False)
    if not done:
        text = log.read_text(errors="replace").splitlines()
        said = [line[len("release: "):] for line in text if line.startswith("release: ")]
        errors = [line for line in text if "error" in line.lower()]
        raise ReleaseError("building the installer failed: " + shown((said or errors or text or ["(no output)"])[0]))
    finish_pe(out)


def finish_pe(path):
    """Pads the file to a multiple of 8 bytes and writes its checksum, as
    signing would, so that a signature removed gives these very bytes back.
    An installer's own check covers only its data: bytes after it do no harm."""
    data = Path(path).read_bytes()
    data += bytes(-len(data) % 8)
    pe = pefile.PE(data=data)
    pe.OPTIONAL_HEADER.CheckSum = pe.generate_checksum()
    Path(path).write_bytes(pe.write())


# --- the uninstaller, before it goes inside ---------------------------------------
@dataclass
class Hook:
    """What the hook makensis runs on the uninstaller does, in a process of its
    own: keeps the finished uninstaller (unsigned) at keep; then signs it
    (signer: a saved Signer) and copies it to staged, or puts the release's
    own uninstaller embed in its place (a rebuild)."""
    name: str
    keep: str
    private: str
    signer: str = None
    staged: str = None
    embed: str = None
    stamped: str = None  # where the time of its stamp goes
    cwd: str = field(default_factory=os.getcwd)  # the caller's folder, which relative paths it gave (SOFTHSM2_CONF, say) start from

    def write(self, folder):
        """The hook's program, a file in folder: makensis runs it with the
        uninstaller's path."""
        state = Path(folder) / "hook.json"
        state.write_text(json.dumps(asdict(self)))
        argv, env = module_command(ROOT, "finish-uninstaller", state)
        program = Path(folder) / "finish-uninstaller"
        program.write_text(f"#!/bin/sh\ncd {shlex.quote(self.cwd)} || exit 1\n"
                           f"PYTHONPATH={shlex.quote(env['PYTHONPATH'])} exec "
                           + " ".join(shlex.quote(a) for a in argv) + ' "$1"\n')
        program.chmod(0o700)
        return program


def finish_uninstaller(state, uninstaller):
    hook = Hook(**json.loads(Path(state).read_text()))
    finish_pe(uninstaller)
    shutil.copyfile(uninstaller, hook.keep)
    if hook.embed:
        shutil.copyfile(hook.embed, uninstaller)
    elif hook.signer:
        when = signing.sign(signing.Signer.load(hook.signer), uninstaller, hook.name, hook.private)
        Path(hook.stamped).write_text(json.dumps(when))
    if hook.staged:
        shutil.copyfile(uninstaller, hook.staged)
