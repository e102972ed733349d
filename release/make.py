"""A release: built, signed and packed in a staging folder, then put in place
as dist/ (or the folder --out names) by renames alone, so that a run killed
at any moment leaves the old release or the new one whole, and the next run
puts right what it left."""
import json
import os
import shutil
import subprocess
import tempfile
from pathlib import Path

from . import installer, signing
from .build import build_programs, setup
from .common import ROOT, ReleaseError, committed_file, say, shown
from .manifest import FORMAT, MANIFEST, OLD_MANIFEST, SUMS, ListedFile, Manifest, ShippedFile, Signer, file_sha256, sums_text
from .names import BRANDING_OPTIONS, is_branding_option, option_name

DIST = "dist"


class Place:
    """Where a release goes, and the folders beside it that its renames pass
    through, named after it: releases into two folders never meet."""

    def __init__(self, folder):
        self.dist = Path(folder)
        parent, name = self.dist.parent, self.dist.name
        self.new = parent / f".{name}-new"  # a whole new release, about to replace the folder
        self.old = parent / f".{name}-old"  # the release it replaces, until the new one is in place
        self.staging = f".{name}-staging-"  # a release being made: never whole


def output_folder(root, out):
    """The folder a release goes to, and the one it is built in: dist/ and
    build/release/ in the checkout, or --out's folder and one beside it. A
    folder that holds anything but a release is never replaced."""
    if out is None:
        return Path(root, DIST), Path(root, "build", "release")
    dist = Path(os.path.abspath(out))
    if dist == Path(dist.anchor) or Path(root).resolve().is_relative_to(dist.resolve()):
        raise ReleaseError(f"--out names '{shown(out)}', which holds the checkout")
    if dist.is_symlink() or (dist.exists() and not dist.is_dir()):
        raise ReleaseError(f"--out names '{shown(out)}', which is not a folder")
    if dist.is_dir() and any(dist.iterdir()) and not any((dist / m).is_file() for m in (MANIFEST, OLD_MANIFEST)):
        raise ReleaseError(f"--out names '{shown(out)}', a folder that holds no release ({MANIFEST}): it is not "
                           "replaced")
    dist.parent.mkdir(parents=True, exist_ok=True)
    return dist, dist.parent / (dist.name + "-build")


def make(options, env, secrets, root=ROOT, out=None):
    dist, build = output_folder(root, out)
    place = Place(dist)
    for option in options:
        if not is_branding_option(option):
            raise ReleaseError(f"'{shown(option)}' is not a branding option (-D{BRANDING_OPTIONS[0]}=... and the "
                               "others in the README's table)")
    game = env.get("LAUNCHER_GAME_FILES") or None
    if game:
        if not os.path.isdir(game):
            raise ReleaseError(f"LAUNCHER_GAME_FILES names '{shown(game)}', which is not a folder")
        game = os.path.abspath(game)
    put_right(place)
    setup(root)
    with tempfile.TemporaryDirectory(prefix="release-") as private:  # 0700: the secret's file and every log
        private = Path(private)
        signer = signing.signer_from_environment(env, secrets, private)
        if signer:
            signing.try_signing(signer, private)
        branding = build_programs(root, build, options, private)
        if game:
            refusal = installer.game_files_refusal(game, branding.name)
            if refusal:
                raise ReleaseError(refusal)
        staging = Path(tempfile.mkdtemp(prefix=place.staging, dir=dist.parent))
        try:
            stamps = _make_files(branding, build, game, signer, staging, private)
            (private / "secret").unlink(missing_ok=True)  # signing is over: not a moment longer than needed
            options, icon = _icon(root, branding, options, staging)
            manifest = _manifest(root, branding, build, options, game, signer, staging, stamps, icon)
            (staging / MANIFEST).write_text(manifest.dumps(), encoding="utf-8")
            (staging / SUMS).write_text(sums_text(manifest))
            staging.chmod(0o755)
            publish(staging, place)
        finally:
            shutil.rmtree(staging, ignore_errors=True)
    return (f"release: {shown(out) if out else DIST + '/'} holds {branding.setup}, {branding.launcher} and {branding.doctor}"
            + (", signed" if signer else ""))


def rebuild(out, embed_uninstaller, source_date_epoch, game, options, embed_programs=None, root=ROOT):
    """What a verifier runs in a clone of a release's commit: the programs and
    the installer built as the release built them, the four files written to
    out. The installer carries the release's own uninstaller and, from the
    folder embed_programs when given, its own signed launcher and doctor,
    each checked first to be, its signature removed, the program built here."""
    out = os.path.abspath(out)
    os.makedirs(out)
    env = dict(os.environ)
    if source_date_epoch:
        env["SOURCE_DATE_EPOCH"] = source_date_epoch  # the release's, whatever the build would take itself
    build = Path(out, "build")
    branding = build_programs(root, build, options, out, env=env)
    carried = Path(out, "carried")
    carried.mkdir()
    for exe in (branding.launcher, branding.doctor):
        shutil.copyfile(build / exe, Path(out, exe))
        shutil.copyfile(Path(embed_programs, exe) if embed_programs else build / exe, carried / exe)
        if embed_programs:
            stripped = Path(out, exe + ".stripped")
            if signing.read_signature(carried / exe) is None:
                shutil.copyfile(carried / exe, stripped)
            else:
                signing.remove_signature(carried / exe, stripped, out)
            if stripped.read_bytes() != (build / exe).read_bytes():
                raise ReleaseError(f"{exe} in the release, its signature removed, is not the {exe} this commit builds")
    hook = installer.Hook(name=branding.uninstaller, keep=str(Path(out, branding.uninstaller)), private=out,
                          embed=os.path.abspath(embed_uninstaller))
    installer.build_installer(branding, carried, game, Path(out, branding.setup), hook.write(out), out, build)
    return f"release: rebuilt {branding.launcher}, {branding.doctor}, {branding.uninstaller} and {branding.setup}"


def _make_files(branding, build, game, signer, staging, private):
    """The four programs in staging, signed when signing; answers when each
    was time-stamped."""
    stamps = {}
    if signer:
        signer.description = branding.product
        signer.save(private / "signer.json")
    for exe in (branding.launcher, branding.doctor):
        shutil.copyfile(build / exe, staging / exe)
        if signer:
            stamps[exe] = signing.sign(signer, staging / exe, exe, private)
    # The uninstaller is finished, kept unsigned for the manifest, and signed
    # before it goes inside the installer, by the hook makensis runs.
    unsigned = build / "installer"
    unsigned.mkdir(exist_ok=True)
    hook = installer.Hook(name=branding.uninstaller, keep=str(unsigned / branding.uninstaller), private=str(private),
                          signer=str(private / "signer.json") if signer else None,
                          staged=str(staging / branding.uninstaller), stamped=str(private / "uninstaller-stamp.json"))
    # The installer carries the programs as they ship: signed, when signing.
    installer.build_installer(branding, staging, game, unsigned / branding.setup, hook.write(private), private,
                              build)
    shutil.copyfile(unsigned / branding.setup, staging / branding.setup)
    if signer:
        stamps[branding.setup] = signing.sign(signer, staging / branding.setup, branding.setup, private)
        stamps[branding.uninstaller] = json.loads((private / "uninstaller-stamp.json").read_text())
    for exe in (branding.launcher, branding.doctor, branding.uninstaller, branding.setup):
        (staging / exe).chmod(0o755)
    return stamps


def _icon(root, branding, options, staging):
    """The options as a rebuild gives them, and the icon the release carries:
    an icon the commit holds is named by its path in the checkout; any other
    is copied into the release, and a rebuild uses that copy."""
    given = [o for o in options if option_name(o) == "LAUNCHER_ICON"]
    if not given:
        return list(options), None
    others = [o for o in options if option_name(o) != "LAUNCHER_ICON"]
    icon = Path(branding.icon)
    inside = os.path.relpath(icon, Path(root).resolve())
    if not inside.startswith("..") and Path(root).resolve() / inside == icon.resolve() \
            and committed_file(root, "HEAD", inside.replace(os.sep, "/")):
        return [*others, f"-DLAUNCHER_ICON={inside}"], None
    copy = staging / f"{branding.name}.ico"
    shutil.copyfile(icon, copy)
    copy.chmod(0o644)
    return others, ListedFile(name=copy.name, size=copy.stat().st_size, sha256=file_sha256(copy))


def _manifest(root, branding, build, options, game, signer, staging, stamps, icon):
    commit = _git(root, "rev-parse", "HEAD")
    unsigned = {branding.launcher: build / branding.launcher, branding.doctor: build / branding.doctor,
                branding.uninstaller: build / "installer" / branding.uninstaller,
                branding.setup: build / "installer" / branding.setup}
    files = [ShippedFile(name=name, size=(staging / name).stat().st_size, sha256=file_sha256(staging / name),
                         unsigned_sha256=file_sha256(path), time_stamp=stamps.get(name))
             for name, path in unsigned.items()]
    epoch = branding.source_date_epoch
    return Manifest(format=FORMAT, version=branding.version, commit=commit or None,
                    uncommitted_changes=bool(commit) and bool(_git(root, "status", "--porcelain")),
                    host=branding.host, source_date_epoch=int(epoch) if epoch.isdigit() else None,
                    makensis=installer.makensis_version(), options=list(options),
                    game_files=installer.game_files_listing(game) if game else [],
                    signer=Signer(subject=signer.subject, sha256=signer.sha256) if signer else None, files=files,
                    icon=icon)


def _git(root, *args):
    done = subprocess.run(["git", "-C", str(root), *args], capture_output=True, text=True)
    return done.stdout.strip() if done.returncode == 0 else ""


# --- dist/, by renames --------------------------------------------------------------
def publish(staging, place):
    """staging becomes the release's folder; the old one is deleted only once
    it is out of the way. Each step is one rename, and put_right finishes any
    of them."""
    os.rename(staging, place.new)
    _sync(place.new.parent)
    _swap(place)


def _swap(place):
    if place.dist.exists():
        os.rename(place.dist, place.old)
        _sync(place.dist.parent)
    os.rename(place.new, place.dist)
    _sync(place.dist.parent)
    shutil.rmtree(place.old, ignore_errors=True)


def put_right(place):
    """Finishes what a release into this place killed midway left: a whole new
    release goes in place, the one it replaced goes, and a half-made one is
    deleted."""
    for half_made in place.dist.parent.glob(place.staging + "*"):
        shutil.rmtree(half_made, ignore_errors=True)
    new, old, dist = place.new, place.old, place.dist
    if new.exists():
        if old.exists() and dist.exists():
            shutil.rmtree(old)  # cannot arise from a run of ours; the folder is the one to keep aside
        say(f"The last release was stopped while it put {shown(dist.name)}/ in place: its new release is now "
            f"{shown(dist.name)}/.")
        _swap(place)
    elif old.exists():
        if dist.exists():
            shutil.rmtree(old)
        else:
            os.rename(old, dist)


def _sync(folder):
    fd = os.open(folder, os.O_RDONLY | os.O_DIRECTORY)
    try:
        os.fsync(fd)
    finally:
        os.close(fd)
