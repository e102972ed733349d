# What a publisher does, end to end: bad branding stops the configure with
# one line; two clean releases in two folders are byte-identical; a signed,
# branded release carries what was configured and still runs under Wine; the
# release command signs with a PFX or a key on a token, time-stamps, refuses
# bad settings with one line and dist/ as it was; and verify-release.sh holds
# a genuine release, rebuilt from its commit. (The verifier's refusals one by
# one: test_verify.py.)
import hashlib
import json
import os
import re
import shutil
import socket
import subprocess
import time

import pe_check
import pytest
from conftest import ROOT
from releases import as_build, built, game_files, release
from test_launcher import LAUNCHES
from trial import BUILD, WORK, Trial, check_launch, started_lab, tried_twice

PYTHON = "/usr/bin/python3"  # Debian's, which has python3-pefile
PROGRAMS = ["gamestart.exe", "gamestart-doctor.exe", "gamestart-setup.exe", "gamestart-uninstall.exe"]


def sha256(path):
    return hashlib.sha256(path.read_bytes()).hexdigest()


def manifest(folder):
    m = json.loads((folder / "manifest.json").read_text(encoding="utf-8"))
    return m, {f["name"]: f for f in m["files"]}


def osslsigncode_verify(exe, *trust):
    return subprocess.run(["osslsigncode", "verify", *map(str, trust), "-in", str(exe)], capture_output=True,
                          text=True).stdout


@pytest.fixture(scope="session")
def game(tmp_path_factory):
    return str(game_files(tmp_path_factory.mktemp("game"), BUILD / "standins"))


# --- bad branding: the configure stops, and one line says what and why ----------
def icons(folder):
    (folder / "not-an-icon.ico").write_bytes(b"NOTANICON")
    (folder / "no-image.ico").write_bytes(b"\0\0\1\0\0\0")
    (folder / "cut-short.ico").write_bytes((ROOT / "res" / "launcher.ico").read_bytes()[:6])
    # One image of 1000 bytes at offset 22, in a file of 32.
    (folder / "damaged.ico").write_bytes(b"\0\0\1\0\1\0\x10\x10\0\0\1\0\x20\0\xe8\x03\0\0\x16\0\0\0" + b"x" * 10)


CONFIGURE_REFUSED = [
    ("contains 'msedge': the launcher's own process", "-DLAUNCHER_EXE_NAME=MSEdgeGames"),
    ("contains 'launcher'", "-DLAUNCHER_EXE_NAME=GameLauncher"),
    ("contains 'update': Windows would take it for an installer", "-DLAUNCHER_EXE_NAME=AutoUpdater"),
    ("is not a plain file name", "-DLAUNCHER_EXE_NAME=games/start"),
    ("ends in .exe", "-DLAUNCHER_EXE_NAME=play.exe"),
    ("is a device name that Windows reserves", "-DLAUNCHER_EXE_NAME=con"),
    ("does not exist or is not a file", "-DLAUNCHER_ICON={icons}/absent.ico"),
    ("lacks the ICO header", "-DLAUNCHER_ICON={icons}/not-an-icon.ico"),
    ("holds no image", "-DLAUNCHER_ICON={icons}/no-image.ico"),
    ("is cut short", "-DLAUNCHER_ICON={icons}/cut-short.ico"),
    ("image 0 lies outside the file", "-DLAUNCHER_ICON={icons}/damaged.ico"),
    ("is not four numbers", "-DLAUNCHER_VERSION=2.0"),
    ("above 65535", "-DLAUNCHER_VERSION=1.0.65536.0"),
    ("LAUNCHER_PRODUCT_NAME is empty", "-DLAUNCHER_PRODUCT_NAME="),
    ("LAUNCHER_COMPANY holds a control character", "-DLAUNCHER_COMPANY=A\tB"),
]


@pytest.mark.parametrize("expected, argument", CONFIGURE_REFUSED, ids=[a for _, a in CONFIGURE_REFUSED])
def test_configure_refuses(tmp_path, expected, argument):
    icons(tmp_path)
    done = subprocess.run(["cmake", "-S", ROOT, "-B", tmp_path / "configure", "-G", "Ninja",
                           argument.format(icons=tmp_path)], capture_output=True, text=True)
    lines = (done.stdout + done.stderr).splitlines()
    # Each error heading and the line after it: the one line that says why.
    said = [line for i, line in enumerate(lines) for heading in lines[max(i - 1, 0):i + 1] if "CMake Error" in heading]
    assert done.returncode != 0 and sum(expected in line for line in said) == 1, "\n".join(lines)


# --- reproducible: two copies of the tree, two folders, released a second apart --
@pytest.fixture(scope="session")
def two_trees(tmp_path_factory, game):
    trees = []
    for side in "ab":
        tree = tmp_path_factory.mktemp(f"repro-{side}") / "src"
        tree.mkdir()
        # The working tree as it is, with its history for the commit's time.
        subprocess.run("{ git ls-files -z -c -o --exclude-standard; printf '.git\\0'; } | tar --null -T - -cf - |"
                       f" tar -xf - -C '{tree}'", shell=True, cwd=ROOT, check=True)
        release(None, env={"LAUNCHER_GAME_FILES": game}, tree=tree)
        trees.append(tree)
        time.sleep(1)
    return trees


@pytest.mark.parametrize("name", PROGRAMS)
def test_two_clean_releases_in_two_folders_are_byte_identical(two_trees, name):
    a, b = (tree / "dist" / name for tree in two_trees)
    assert a.read_bytes() == b.read_bytes()


def test_release_without_a_certificate_lists_its_files(two_trees):
    dist = two_trees[0] / "dist"
    assert subprocess.run(["sha256sum", "--quiet", "-c", "SHA256SUMS"], cwd=dist).returncode == 0
    assert (dist / "gamestart.exe").read_bytes() == (two_trees[0] / "build" / "release" / "gamestart.exe").read_bytes()
    m, files = manifest(dist)
    assert (m["version"], m["signer"]) == ("1.0.0.0", None)
    assert files["gamestart.exe"]["size"] == (dist / "gamestart.exe").stat().st_size


# --- a signed, branded release, its password never on a command line ----------
BRANDED = "SkyQuest"
# Texts that must reach the version resources, the manifest and a rebuild as they are.
BRANDING = ["-DLAUNCHER_VERSION=2.5.0.17", '-DLAUNCHER_COMPANY=Café "Q" Games', "-DLAUNCHER_PRODUCT_NAME=Sky Quest",
            "-DLAUNCHER_DESCRIPTION=Sky Quest starter", '-DLAUNCHER_COPYRIGHT=© 2026 Café "Q" Games']


@pytest.fixture(scope="session")
def branded(tmp_path_factory, pki, game):
    """The release, the unsigned exes it signed, and a build folder of its exes beside the stand-ins."""
    work = tmp_path_factory.mktemp("branded")
    subprocess.run([PYTHON, ROOT / "res" / "draw_icon.py", work / "branded.ico", "8E1F5A"], check=True)
    password = f"throwaway {time.time_ns()}"
    release(work / "dist", f"-DLAUNCHER_EXE_NAME={BRANDED}", f"-DLAUNCHER_ICON={work / 'branded.ico'}", *BRANDING,
            env={"LAUNCHER_GAME_FILES": game, "LAUNCHER_SIGN_PFX": str(pki.pfx("self-signed", password, chain=False)),
                 "LAUNCHER_SIGN_PASSWORD": password})
    shutil.copytree(built(work / "dist"), work / "unsigned",
                    ignore=lambda folder, names: [n for n in names if not n.endswith(".exe")])
    as_build(work / "dist", work / "build", BUILD / "standins")
    return work


@pytest.mark.parametrize("role", ["", "-doctor"])
def test_signed_release_verifies_and_removing_the_signature_gives_back_the_unsigned_exe(branded, pki, role):
    exe = branded / "dist" / f"{BRANDED}{role}.exe"
    printed = osslsigncode_verify(exe, "-CAfile", pki.dir / "self-signed.pem")
    assert "Signature verification: ok" in printed and re.search(r"Message digest algorithm *: SHA256", printed), printed
    m, files = manifest(branded / "dist")
    assert m["signer"] is not None and files[exe.name]["unsigned_sha256"] == sha256(branded / "unsigned" / exe.name)
    stripped = branded / f"stripped-{exe.name}"
    subprocess.run(["osslsigncode", "remove-signature", "-in", exe, "-out", stripped], check=True, capture_output=True)
    assert stripped.read_bytes() == (branded / "unsigned" / exe.name).read_bytes()


@pytest.mark.parametrize("role, console", [("", False), ("-doctor", True)])
def test_signed_branded_exe_is_made_as_configured(branded, role, console):
    failed = [f"{name}: {detail}" for name, ok, detail in
              pe_check.checks(branded / "build" / f"{BRANDED}{role}.exe", console) if not ok]
    assert not failed


@pytest.fixture(scope="session")
def branded_lab(branded):
    lab = started_lab(WORK / "branded", branded / "build")
    yield lab
    lab.stop()


def test_signed_branded_launcher_runs_under_wine(branded_lab):
    t = Trial(branded_lab, "signed-branded-vista")
    tried_twice(t, lambda: check_launch(t, LAUNCHES["vista_lookup_waits_for_the_browser"]))


def test_the_installer_installs_the_signed_programs(branded, branded_lab, pki):
    """What players run is what the publisher signed: the installed launcher and doctor are the release's bytes,
    and their signatures verify."""
    lab = branded_lab
    lab.place(branded / "dist" / f"{BRANDED}-setup.exe", r"C:\setup\setup.exe")
    run = lab.run(r"C:\setup\setup.exe", ["/S"], cwd=branded, timeout=120)
    assert run.status == 0 and not run.timed_out, f"the installer ended with status {run.status}"
    folder = lab.user_folder("AppData/Local/Programs/Sky Quest")
    for name in (f"{BRANDED}.exe", f"{BRANDED}-doctor.exe"):
        assert (folder / name).read_bytes() == (branded / "dist" / name).read_bytes(), name
        assert "Signature verification: ok" in osslsigncode_verify(folder / name, "-CAfile", pki.dir / "self-signed.pem")


# --- the release command refuses, with one line and dist/ as it was ------------
def unreachable():
    """A port nothing listens on: a server that does not answer."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return f"http://127.0.0.1:{s.getsockname()[1]}"


REFUSED_RELEASES = [
    ("missing certificate", "does not exist", lambda p: {"LAUNCHER_SIGN_PFX": str(p.dir / "absent.pfx"),
                                                          "LAUNCHER_SIGN_PASSWORD": "x"}),
    ("wrong password", "wrong password", lambda p: {"LAUNCHER_SIGN_PFX": str(p.pfx("publisher", "right")),
                                                    "LAUNCHER_SIGN_PASSWORD": "not it"}),
    ("certificate without its key", "signing a trial program failed",
     lambda p: {"LAUNCHER_SIGN_PFX": str(p.pfx("self-signed", "pw", chain=False, key=False)),
                "LAUNCHER_SIGN_PASSWORD": "pw"}),
    ("game files not a folder", "is not a folder", lambda p: {"LAUNCHER_GAME_FILES": str(p.dir / "no-such-folder")}),
    ("wrong PIN", "the token refused LAUNCHER_SIGN_PIN", lambda p: dict(p.token_env, LAUNCHER_SIGN_PIN="not-" + p.pin)),
    ("no time-stamp server answers", "no time-stamp server gave",
     lambda p: dict(p.token_env, LAUNCHER_SIGN_TIMESTAMP_URL=unreachable())),
    ("a PFX and a token together", "are both set",
     lambda p: dict(p.token_env, LAUNCHER_SIGN_PFX=str(p.pfx("publisher", "pw")), LAUNCHER_SIGN_PASSWORD="pw")),
]


def listing(folder):
    return {p.name: sha256(p) for p in folder.iterdir()} if folder.exists() else None


@pytest.mark.parametrize("expected, settings", [pytest.param(e, s, id=i) for i, e, s in REFUSED_RELEASES])
def test_release_refuses(pki, game, two_trees, tmp_path, expected, settings):
    dist = tmp_path / "dist"
    shutil.copytree(two_trees[0] / "dist", dist)  # an earlier release, which must stay as it was
    before = listing(dist)
    done = release(dist, env=dict({"LAUNCHER_GAME_FILES": game}, **settings(pki)), check=False)
    said = [line for line in done.stderr.splitlines() if line.startswith("release: ")]
    assert done.returncode != 0 and len(said) == 1 and expected in said[0], done.stderr
    assert listing(dist) == before and not list(tmp_path.glob(".dist-*"))


# --- a key on a token, a CA's chain, a time stamp --------------------------------
@pytest.fixture(scope="session")
def token_release(tmp_path_factory, pki, game):
    """Signed with the key on the token, time-stamped, branded, with an icon from outside the checkout."""
    work = tmp_path_factory.mktemp("token")
    subprocess.run([PYTHON, ROOT / "res" / "draw_icon.py", work / "outside.ico", "1F5A8E"], check=True)
    release(work / "dist", f"-DLAUNCHER_ICON={work / 'outside.ico'}", *BRANDING,
            env=dict(pki.token_env, LAUNCHER_GAME_FILES=game,
                     LAUNCHER_SIGN_TIMESTAMP_URL=f"{unreachable()} {pki.authority.url}"))
    return work / "dist"


@pytest.mark.parametrize("name", PROGRAMS)
def test_token_release_verifies_against_the_root_alone_after_the_certificate_expires(token_release, pki, name):
    after_expiry = int(time.time()) + 3 * 86400
    printed = osslsigncode_verify(token_release / name, "-CAfile", pki.dir / "root.pem", "-TSA-CAfile",
                                  pki.dir / "tsa-root.pem", "-time", after_expiry)
    assert "\nSignature verification: ok" in printed and "\nTimestamp Server Signature verification: ok" in printed, printed
    _, files = manifest(token_release)
    assert files[name]["time_stamp"].startswith(time.strftime("%Y-%m-%dT", time.gmtime()))


def secrets_kept(secret, dist):
    return subprocess.run(["grep", "-rqF", "--", secret, dist, built(dist)]).returncode == 1


def test_token_release_names_its_signer_and_keeps_the_pin(token_release, pki):
    m, _ = manifest(token_release)
    assert m["signer"] == {"subject": "O=Sky Games,CN=Sky Games Test", "sha256": pki.fingerprint("publisher")}
    assert secrets_kept(pki.pin, token_release)


def test_release_with_a_ca_issued_pfx_carries_its_intermediate(pki, game, tmp_path):
    password = f"ca password {time.time_ns()}"
    dist = tmp_path / "dist"
    release(dist, env={"LAUNCHER_GAME_FILES": game, "LAUNCHER_SIGN_PFX": str(pki.pfx("publisher", password)),
                 "LAUNCHER_SIGN_PASSWORD": password, "LAUNCHER_SIGN_ROOTS": str(pki.dir / "root.pem")})
    _, files = manifest(dist)
    for name in PROGRAMS[:2]:
        assert "\nSignature verification: ok" in osslsigncode_verify(dist / name, "-CAfile", pki.dir / "root.pem")
        assert files[name]["time_stamp"] is None
    assert secrets_kept(password, dist)


# --- a reviewer's verify-release.sh -------------------------------------------------
def verify_release(pki, folder, game, *args):
    # A rebuild puts the game's files into the installer it compares.
    env = {"LAUNCHER_SIGN_ROOTS": str(pki.roots), "LAUNCHER_SIGNER": pki.fingerprint("publisher"),
           "LAUNCHER_GAME_FILES": game}
    return subprocess.run([ROOT / "scripts" / "verify-release.sh", folder, *args], capture_output=True, text=True,
                          env=dict(os.environ, **env))


def test_verify_release_holds_a_token_signed_release_rebuilt_from_its_commit(token_release, pki, game):
    """Its branding reaches the rebuild as it was given, and its icon, from outside the checkout, is the copy the
    release carries."""
    m, _ = manifest(token_release)
    assert m["icon"]["name"] == "gamestart.ico" and not any("LAUNCHER_ICON" in o for o in m["options"])
    assert (token_release / "gamestart.ico").read_bytes() == (token_release.parent / "outside.ico").read_bytes()
    clean = not subprocess.run(["git", "status", "--porcelain"], cwd=ROOT, capture_output=True, text=True).stdout
    # A tree with uncommitted changes has no commit to rebuild from.
    done = verify_release(pki, token_release, game, *(["--rebuild"] if clean else []))
    assert done.returncode == 0 and done.stdout.rstrip().endswith("everything holds"), done.stdout + done.stderr
    assert not clean or "rebuilt from its commit" in done.stdout, done.stdout


def test_verify_release_holds_a_self_signed_branded_release(branded, pki, game):
    """Signed with a certificate that is its own root, not time-stamped; it carries its icon."""
    m, _ = manifest(branded / "dist")
    assert m["icon"]["name"] == f"{BRANDED}.ico" and not any("LAUNCHER_ICON" in o for o in m["options"])
    assert (branded / "dist" / f"{BRANDED}.ico").read_bytes() == (branded / "branded.ico").read_bytes()
    env = {"LAUNCHER_SIGN_ROOTS": str(pki.dir / "self-signed.pem"), "LAUNCHER_SIGNER": pki.fingerprint("self-signed"),
           "LAUNCHER_ALLOW_UNSTAMPED": "1", "LAUNCHER_GAME_FILES": game}
    done = subprocess.run([ROOT / "scripts" / "verify-release.sh", branded / "dist"], capture_output=True, text=True,
                          env=dict(os.environ, **env))
    assert done.returncode == 0 and done.stdout.rstrip().endswith("everything holds"), done.stdout + done.stderr


def test_verify_release_names_one_changed_byte(token_release, pki, game, tmp_path):
    changed = tmp_path / "changed"
    shutil.copytree(token_release, changed)
    data = bytearray((changed / "gamestart.exe").read_bytes())
    data[4096] ^= 1
    (changed / "gamestart.exe").write_bytes(data)
    done = verify_release(pki, changed, game)
    assert done.returncode != 0 and done.stderr == \
        "verify-release: gamestart.exe does not match its hash in manifest.json\n", done.stderr
