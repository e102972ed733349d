"""Verifies a release that came from someone else. Every name, hash, option
and commit in it is its maker's choice: the folder is listed and compared with
the manifest before any tool sees a file, each file is read once into a
private folder, and who signed it is what the caller pins, never what the
release says."""
import hashlib
import os
import re
import stat
import tempfile
from dataclasses import dataclass
from pathlib import Path

from . import installer, manifest as manifests, nsis, programs, signing
from .build import setup
from .common import ROOT, ReleaseError, committed_file, module_command, run, shown
from .manifest import MANIFEST, OLD_MANIFEST, SUMS
from .names import PATH_OPTIONS, commit_path_refusal, is_branding_option, option_name

LIMIT = 2 << 30  # 2 GiB: no installer NSIS makes is larger
HOW_TO_PIN = ("set both: LAUNCHER_SIGN_ROOTS, a PEM file of the roots to trust, and LAUNCHER_SIGNER, the SHA-256 "
              "fingerprint of the publisher's signing certificate (openssl x509 -noout -fingerprint -sha256 -in "
              "CERTIFICATE.pem)")


@dataclass(frozen=True)
class Trust:
    """What the caller trusts: roots (a PEM file) and the signing certificates'
    fingerprints, both or neither."""
    roots: str = None
    signers: frozenset = frozenset()
    allow_unstamped: bool = False

    @property
    def roots_name(self):
        return f"LAUNCHER_SIGN_ROOTS ({shown(self.roots)})"


def trust_from_environment(env):
    roots, signer = env.get("LAUNCHER_SIGN_ROOTS", ""), env.get("LAUNCHER_SIGNER", "")
    if bool(roots) != bool(signer):
        given, missing = ("LAUNCHER_SIGN_ROOTS", "LAUNCHER_SIGNER") if roots else ("LAUNCHER_SIGNER", "LAUNCHER_SIGN_ROOTS")
        raise ReleaseError(f"{given} is set without {missing}: roots alone admit anyone the CA serves, a pinned "
                           f"signer alone proves nothing; {HOW_TO_PIN}")
    allow_unstamped = env.get("LAUNCHER_ALLOW_UNSTAMPED") == "1"
    if not roots:
        return Trust(allow_unstamped=allow_unstamped)
    signers = set()
    for given in re.split(r"[\s,]+", signer.strip()):
        hex_digits = given.replace(":", "").lower()
        if not re.fullmatch(r"[0-9a-f]{64}", hex_digits, re.ASCII):
            raise ReleaseError(f"LAUNCHER_SIGNER holds '{shown(given)}', which is not a SHA-256 fingerprint; "
                               + HOW_TO_PIN)
        signers.add(hex_digits)
    signing.read_roots(roots)
    return Trust(roots=roots, signers=frozenset(signers), allow_unstamped=allow_unstamped)


def verify(folder, trust, rebuild=False, trust_ref=None, game_files=None):
    """Refuses, with what is wrong, or answers the closing line, which is about
    the copies read. A rebuild trusts the history of this checkout."""
    where = shown(folder)
    if not os.path.isdir(folder):
        raise ReleaseError(f"no folder '{where}'")
    entries = {e.name: e for e in os.scandir(folder)}
    if MANIFEST not in entries:
        if OLD_MANIFEST in entries:
            raise ReleaseError(f"{where} holds {OLD_MANIFEST}: it predates {MANIFEST}, which this tool reads; "
                               "verify it with the scripts of the commit that made it")
        raise ReleaseError(f"{where} holds no {MANIFEST}: not a release")
    read = {}  # name: what the folder's entry was when it was read
    manifest = manifests.loads(_read_small(Path(folder, MANIFEST), MANIFEST, read))
    names = [f.name for f in manifest.listed]
    allowed = {MANIFEST, SUMS, *names}
    for name in sorted(entries):
        if name not in allowed:
            raise ReleaseError(f"{where} holds {_kind(entries[name])} '{shown(name)}', which {MANIFEST} does not list")
    shape = programs.shape_of(manifest)
    for name in [SUMS, *names]:
        if name not in entries:
            raise ReleaseError(f"{name} is in {MANIFEST} but not in {where}" if name != SUMS else f"{where} holds no {SUMS}")
        if _kind(entries[name]) != "a file":
            raise ReleaseError(f"{name} is {_kind(entries[name])}, not a file of the folder's own")
    manifests.check_sums(_read_small(Path(folder, SUMS), SUMS, read), manifest)

    with tempfile.TemporaryDirectory(prefix="verify-release-") as work:
        work = Path(work)
        copies = work / "files"
        copies.mkdir()
        for f in manifest.listed:
            digest = _copy_once(Path(folder, f.name), copies / f.name, f.size, read)
            if digest != f.sha256:
                raise ReleaseError(f"{f.name} does not match its hash in {MANIFEST}")
        for name, role in shape.programs().items():
            _named(name, programs.check_program, copies / name, role, shape)
        signatures = {f.name: _named(f.name, signing.read_signature, copies / f.name) for f in manifest.files}
        _check_stamps(manifest, signatures, trust)
        signer = _check_signatures(manifest, copies, signatures, trust, work) if trust.roots else None
        _check_unsigned(manifest, copies, signatures, work)
        _check_installed_programs(manifest, shape, copies, work)
        if rebuild:
            _rebuild(manifest, shape, copies, trust_ref, game_files, ROOT, work)
        _check_unchanged(folder, read)
    done = ", rebuilt from its commit" if rebuild else ""
    if manifest.game_files and not rebuild:
        done += (f"; the game's files in the installer ({len(manifest.game_files)}) were not checked (--rebuild "
                 "with LAUNCHER_GAME_FILES checks them)")
    if signer:
        return f"verify-release: {where} holds {', '.join(names)}; signed by {signer}{done}; everything holds"
    return (f"verify-release: {where} holds {', '.join(names)}; consistent{done}, but no signature was checked: "
            "set LAUNCHER_SIGN_ROOTS and LAUNCHER_SIGNER to check who signed it")


def _kind(entry):
    if entry.is_symlink():
        return "a link"
    if entry.is_dir(follow_symlinks=False):
        return "a folder"
    if entry.is_file(follow_symlinks=False):
        return "a file"
    return "a device or other special file"


def _identity(info):
    """What tells that a folder's entry is still the file that was read."""
    return info.st_ino, info.st_size, info.st_mtime_ns, info.st_ctime_ns


def _open_regular(path, name, limit, read, size=None):
    """A descriptor of path, which must be a regular file of its own (no other
    link to it), no larger than limit and, when given, of that size; never
    follows a link, never waits on a pipe. Notes what it opened in read."""
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NOFOLLOW | os.O_NONBLOCK)
    except OSError as e:
        raise ReleaseError(f"cannot open {shown(name)}: {e.strerror}")
    info = os.fstat(fd)
    refusal = None
    if not stat.S_ISREG(info.st_mode):
        refusal = f"{shown(name)} is not a regular file"
    elif info.st_nlink > 1:
        refusal = (f"{shown(name)} has {info.st_nlink} links: a file linked elsewhere can change after it is "
                   "checked; copy the release")
    elif info.st_size > limit:
        refusal = f"{shown(name)} is larger than {limit} bytes"
    elif size is not None and info.st_size != size:
        refusal = f"{shown(name)} is {info.st_size} bytes, and {MANIFEST} says {size}"
    if refusal:
        os.close(fd)
        raise ReleaseError(refusal)
    read[name] = _identity(info)
    return fd


def _read_small(path, name, read):
    with os.fdopen(_open_regular(path, name, manifests.MAX_BYTES, read), "rb") as f:
        data = f.read(manifests.MAX_BYTES + 1)
    if len(data) > manifests.MAX_BYTES:
        raise ReleaseError(f"{name} is larger than {manifests.MAX_BYTES} bytes")
    return data


def _copy_once(path, copy, size, read):
    """Copies path into the private folder, reading it once: every later check
    looks at these bytes. Answers their SHA-256."""
    digest, copied = hashlib.sha256(), 0
    with os.fdopen(_open_regular(path, path.name, LIMIT, read, size), "rb") as source, open(copy, "wb") as out:
        for block in iter(lambda: source.read(1 << 20), b""):
            copied += len(block)
            if copied > size:
                raise ReleaseError(f"{path.name} grew while it was read")
            digest.update(block)
            out.write(block)
    if copied != size:
        raise ReleaseError(f"{path.name} shrank while it was read")
    return digest.hexdigest()


def _check_unchanged(folder, read):
    """The folder still holds, under each name, the very file that was read,
    and nothing beside: else the verdict would be about files it no longer has."""
    for name in sorted(os.listdir(folder)):
        if name not in read:
            raise ReleaseError(f"{shown(name)} appeared in {shown(folder)} while it was checked: verify it again")
    for name, identity in read.items():
        try:
            now = _identity(os.lstat(Path(folder, name)))
        except OSError:
            now = None
        if now != identity:
            raise ReleaseError(f"{name} in {shown(folder)} changed while it was checked: the checks hold for the "
                               "copy read before, not for what is there now; verify it again")


def _named(name, step, *args):
    """step(*args), its refusal prefixed with the file's name."""
    try:
        return step(*args)
    except ReleaseError as e:
        raise ReleaseError(f"{name} {e}")


def _check_stamps(manifest, signatures, trust):
    """What the manifest says of each time stamp is what the signature carries,
    and a signature without one is accepted only when the caller allows it."""
    for f in manifest.files:
        signature = signatures[f.name]
        if signature is None:
            continue
        stamped = _named(f.name, signing.stamped_at, signature)
        if stamped is None and not trust.allow_unstamped:
            raise ReleaseError(f"{f.name} carries no RFC 3161 time stamp: without one its signature stops verifying "
                               "when the certificate expires (LAUNCHER_ALLOW_UNSTAMPED=1 accepts that)")
        if signing.time_text(stamped) != f.time_stamp:
            raise ReleaseError(f"{MANIFEST} says {f.name} was time-stamped at {shown(f.time_stamp)}, its signature "
                               f"says {signing.time_text(stamped)}")


def _check_signatures(manifest, copies, signatures, trust, work):
    """Every file signed by a pinned signer, its chain and its time stamp
    reaching the roots. Answers who signed."""
    subject = None
    for f in manifest.files:
        signature = signatures[f.name]
        _named(f.name, signing.check, copies / f.name, signature, trust.roots, trust.roots_name, work)
        if signature.certificate_sha256 not in trust.signers:
            raise ReleaseError(f"{f.name} is signed by {signature.subject} (certificate SHA-256 "
                               f"{signature.certificate_sha256}), a signer LAUNCHER_SIGNER does not pin")
        subject = signature.subject
    if manifest.signer is None or manifest.signer.sha256 not in trust.signers:
        raise ReleaseError(f"{MANIFEST} names a signer LAUNCHER_SIGNER does not pin")
    return subject


def _check_unsigned(manifest, copies, signatures, work):
    """Each file, its signature removed, is the unsigned file the manifest
    names: what a rebuild gives. An unsigned release carries no signature."""
    for f in manifest.files:
        signature = signatures[f.name]
        if manifest.signer is None:
            if signature is not None:
                raise ReleaseError(f"{f.name} carries a signature, but {MANIFEST} says the release is unsigned")
            if f.unsigned_sha256 != f.sha256:
                raise ReleaseError(f"{MANIFEST} gives the unsigned {f.name} another hash than the file")
            continue
        if signature is None:
            raise ReleaseError(f"{f.name} carries no signature, but {MANIFEST} names a signer")
        if signature.certificate_sha256 != manifest.signer.sha256:
            raise ReleaseError(f"{f.name} is signed by another certificate than the one {MANIFEST} names")
        subject = signing.rfc2253_subject(signature.certificate, work) if f is manifest.files[0] else None
        if subject is not None and subject != manifest.signer.subject:
            raise ReleaseError(f"{MANIFEST} names the signer {shown(manifest.signer.subject)}, its certificate "
                               f"{shown(subject)}")
        stripped = work / (f.name + ".unsigned")
        _named(f.name, signing.remove_signature, copies / f.name, stripped, work)
        if manifests.file_sha256(stripped) != f.unsigned_sha256:
            raise ReleaseError(f"{f.name} with its signature removed does not match its unsigned hash in {MANIFEST}")


def _check_installed_programs(manifest, shape, copies, work):
    """The installer puts into the install folder the very launcher and
    doctor the release carries, signed as they are: what players run is what
    was verified above."""
    setup = shape.name + programs.ROLES[3].suffix
    carried = _named(setup, nsis.extracted_files, (copies / setup).read_bytes())
    for role in programs.ROLES[:2]:
        name = shape.name + role.suffix
        own = (copies / name).read_bytes()
        # Extracted in place, or staged there first to be put in place by renames.
        places = {"$instdir\\" + name.lower(), "$instdir\\.setup-new\\" + name.lower()}
        installed = [data for path, data in carried if path.lower() in places]
        if not installed:
            raise ReleaseError(f"{setup} does not install {name}, {role.what}")
        for data in installed:
            if data != own:
                raise ReleaseError(f"{setup} installs another {name} than the release's: "
                                   + _what_it_is(data, manifest, work / "installed.exe"))


def _what_it_is(data, manifest, path):
    """What a program the installer carries is, beside the release's own."""
    path.write_bytes(data)
    try:
        signature = signing.read_signature(path)
    except ReleaseError:
        return "not a program of the release's kind"
    if signature is None:
        return "an unsigned one"
    if manifest.signer is None or signature.certificate_sha256 != manifest.signer.sha256:
        return f"one signed by {signature.subject}"
    return "other bytes, signed by the release's signer"


def _git(repo, *args, log=None):
    return run(["git", "-C", repo, *args], log=log, check=False)


def _rebuild(manifest, shape, copies, trust_ref, game_files, repo, work):
    """Builds the manifest's commit, once it is known to be one the caller
    trusts, and compares what it makes with the unsigned files. The build
    reads nothing but that commit and the release's copies."""
    commit = manifest.commit
    if commit is None:
        raise ReleaseError(f"{MANIFEST} names no commit to rebuild")
    if manifest.uncommitted_changes:
        raise ReleaseError("the release was built from uncommitted changes, which cannot be rebuilt")
    paths = []
    for option in manifest.options:
        if not is_branding_option(option):
            raise ReleaseError(f"{MANIFEST} passes '{shown(option)}' to the build, which is not a branding option")
        if option_name(option) in PATH_OPTIONS:
            if manifest.icon:
                raise ReleaseError(f"{MANIFEST} passes '{shown(option)}' beside the icon it lists: one of them is "
                                   "what the build used")
            path = option.split("=", 1)[1]
            why = commit_path_refusal(path)
            if why:
                raise ReleaseError(f"{MANIFEST} passes '{shown(option)}' to the build: the path {why}")
            paths.append((option, path))
    options = [*manifest.options, *([f"-DLAUNCHER_ICON={copies / manifest.icon.name}"] if manifest.icon else [])]
    trusted = trust_ref or "HEAD"
    if not _git(repo, "rev-parse", "--verify", "--quiet", f"{trusted}^{{commit}}"):
        raise ReleaseError(f"'{shown(trusted)}' is not a commit of {repo}")
    if not _git(repo, "cat-file", "-e", f"{commit}^{{commit}}"):
        raise ReleaseError(f"{MANIFEST} names commit {commit}, which {repo} does not hold")
    # Only a commit in the history the caller trusts is checked out and run.
    if not _git(repo, "merge-base", "--is-ancestor", commit, trusted):
        raise ReleaseError(f"{MANIFEST} names commit {commit}, which is not in the history of {shown(trusted)} in "
                           f"{repo}: its code is not run (--trust REF names another history to trust)")
    for option, path in paths:
        if not committed_file(repo, commit, path):
            raise ReleaseError(f"{MANIFEST} passes '{shown(option)}' to the build, a path commit {commit} does not "
                               "hold as a file (or holds as a link)")
    game = None
    if manifest.game_files:
        if not game_files or not os.path.isdir(game_files):
            raise ReleaseError("the installer carries the game's files: set LAUNCHER_GAME_FILES to the folder they "
                               "came from")
        game = os.path.abspath(game_files)
        if installer.game_files_listing(game) != manifest.game_files:
            raise ReleaseError(f"LAUNCHER_GAME_FILES ({shown(game_files)}) does not hold the files {MANIFEST} lists")
    here = installer.makensis_version()
    if here != manifest.makensis:
        raise ReleaseError(f"the installer was built with makensis {shown(manifest.makensis)}, this machine has "
                           f"{here}: another version builds other bytes")
    setup(repo)
    # An empty repository that fetches that one commit: nothing else of the
    # caller's object store is reachable from the build.
    source = work / "src"
    if not (run(["git", "init", "-q", source], check=False)
            and _git(source, "fetch", "-q", "--no-tags", "--depth", "1", Path(repo).resolve().as_uri(), commit,
                     log=work / "fetch.log")
            and _git(source, "checkout", "-q", "--detach", "FETCH_HEAD")):
        raise ReleaseError(f"cannot fetch commit {commit} from {repo}")
    epoch = ["--source-date-epoch", str(manifest.source_date_epoch)] if manifest.source_date_epoch is not None else []
    # A signed release's installer carries its signed launcher and doctor: the
    # rebuild puts them in, once each is known to be the program it builds.
    signed = ["--embed-programs", copies] if manifest.signer else []
    argv, env = module_command(source, "rebuild", "--out", work / "rebuilt", "--embed-uninstaller",
                               copies / shape.uninstaller, *signed, *epoch, *(["--game-files", game] if game else []),
                               "--", *options)
    built = run(argv, cwd=source, env=env, log=work / "rebuild.log", check=False)
    # What it built before it stopped is compared first: a program the release's does not strip to stops it.
    for f in manifest.files:
        rebuilt = work / "rebuilt" / f.name
        if (built or rebuilt.exists()) and (not rebuilt.exists()
                                            or manifests.file_sha256(rebuilt) != f.unsigned_sha256):
            raise ReleaseError(f"{f.name} rebuilt from {commit} differs from the release")
    if not built:
        raise ReleaseError(f"the rebuild of {commit} failed: {_said(work / 'rebuild.log')}")


def _said(log):
    lines = Path(log).read_text(errors="replace").splitlines()
    said = [line for line in lines if line.startswith("release: ")]
    return shown((said or lines or ["(no output)"])[-1])
