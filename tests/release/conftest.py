# The test PKI every release test shares, and a genuine release made once
# per run: four small stand-in programs, signed by a test CA's publisher
# certificate and time-stamped by a local authority, with the manifest and
# SHA256SUMS the release tool writes. Each test gets a copy of its own to
# tamper with.
import json
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT))
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
from release import installer, manifest as manifests, signing  # noqa: E402

NAME = "skyquest"
PROGRAMS = [f"{NAME}.exe", f"{NAME}-doctor.exe", f"{NAME}-uninstall.exe", f"{NAME}-setup.exe"]
EXTENSIONS = """
[ca]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
[intermediate]
basicConstraints = critical, CA:true, pathlen:0
keyUsage = critical, keyCertSign, cRLSign
[codesign]
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
[tsa]
keyUsage = critical, digitalSignature
extendedKeyUsage = critical, timeStamping
"""
SOFTHSM = "/usr/lib/softhsm/libsofthsm2.so"


def tool(*argv, cwd=None, env=None):
    subprocess.run([str(a) for a in argv], cwd=cwd, env=env, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.PIPE)


class Pki:
    """A root and its code-signing intermediate with two customers (our
    publisher and another company), whose certificates last two days, so a
    time stamp is what keeps a signature good after; a self-signed
    publisher; two time-stamp authorities, only the first under a root the
    tests trust; and the publisher's key on a SoftHSM token."""

    def __init__(self, folder):
        self.dir = folder
        (folder / "ext.cnf").write_text(EXTENSIONS)
        self.certificate("root", "/CN=Test Root CA", "ca")
        self.certificate("intermediate", "/CN=Test Code Signing CA", "intermediate", "root")
        for name, subject in (("publisher", "/CN=Sky Games Test/O=Sky Games"),
                              ("other", "/CN=Other Company/O=Other Company")):
            self.certificate(name, subject, "codesign", "intermediate", days=2)
            self.join(f"{name}-chain.pem", f"{name}.pem", "intermediate.pem")
        self.certificate("self-signed", "/CN=Test Publisher", None, days=2)
        for tsa in ("tsa", "rogue-tsa"):
            self.certificate(f"{tsa}-root", f"/CN={tsa} root", "ca")
            self.certificate(tsa, f"/CN={tsa}", "tsa", f"{tsa}-root")
        self.roots = self.join("roots.pem", "root.pem", "tsa-root.pem")
        self.pin = f"pin-{os.getpid()}{time.time_ns() % 100000}"
        self.token_env = self.token()

    def certificate(self, name, subject, extensions, issuer=None, days=30):
        d = self.dir
        tool("openssl", "req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", d / f"{name}.key", "-subj", subject,
             "-out", d / f"{name}.csr")
        by = ["-CA", d / f"{issuer}.pem", "-CAkey", d / f"{issuer}.key", "-CAcreateserial"] if issuer else \
            ["-signkey", d / f"{name}.key"]
        extend = ["-extfile", d / "ext.cnf", "-extensions", extensions] if extensions else []
        tool("openssl", "x509", "-req", "-in", d / f"{name}.csr", *by, "-days", days, *extend, "-out", d / f"{name}.pem")

    def join(self, name, *parts):
        (self.dir / name).write_bytes(b"".join((self.dir / part).read_bytes() for part in parts))
        return self.dir / name

    def pfx(self, name, password, *, chain=True, key=True):
        """A PKCS#12 file of a certificate, with its intermediate if chain and its key if key."""
        d, out = self.dir, self.dir / f"{name}{'' if key else '-no-key'}.pfx"
        tool("openssl", "pkcs12", "-export", *(["-inkey", d / f"{name}.key"] if key else ["-nokeys"]),
             "-in", d / f"{name}.pem", *(["-certfile", d / "intermediate.pem"] if chain else []), "-out", out,
             "-passout", "env:PFX_PASSWORD", env=dict(os.environ, PFX_PASSWORD=password))
        return out

    def token(self):
        """The publisher's key on a software token; answers the environment that signs with it."""
        conf = self.dir / "softhsm2.conf"
        (self.dir / "tokens").mkdir()
        conf.write_text(f"directories.tokendir = {self.dir / 'tokens'}\nobjectstore.backend = file\nlog.level = ERROR\n")
        env = dict(os.environ, SOFTHSM2_CONF=str(conf))
        tool("softhsm2-util", "--init-token", "--free", "--label", "publisher", "--pin", self.pin, "--so-pin",
             "so-" + self.pin, env=env)
        tool("openssl", "pkcs8", "-topk8", "-nocrypt", "-in", self.dir / "publisher.key", "-out", self.dir / "key.p8")
        tool("softhsm2-util", "--import", self.dir / "key.p8", "--token", "publisher", "--label", "signkey", "--id",
             "01", "--pin", self.pin, env=env)
        (self.dir / "key.p8").unlink()
        return {"SOFTHSM2_CONF": str(conf), "LAUNCHER_SIGN_PKCS11_MODULE": SOFTHSM,
                "LAUNCHER_SIGN_KEY": "pkcs11:token=publisher;object=signkey",
                "LAUNCHER_SIGN_CERT": str(self.dir / "publisher-chain.pem"), "LAUNCHER_SIGN_PIN": self.pin,
                "LAUNCHER_SIGN_ROOTS": str(self.roots)}

    def fingerprint(self, name):
        return signing.fingerprint(signing.pem_certificates((self.dir / f"{name}.pem").read_bytes())[0])


class Authority:
    """tests/timestamp_server.py for one TSA, on 127.0.0.1."""

    def __init__(self, pki, name):
        d = pki.dir
        config = d / f"{name}.cnf"
        config.write_text("\n".join([
            "[tsa]", "default_tsa = authority", "[authority]", f"serial = {d / (name + '-serial')}",
            "crypto_device = builtin", f"signer_cert = {d / (name + '.pem')}", f"signer_key = {d / (name + '.key')}",
            "signer_digest = sha256", "default_policy = 1.2.3.4.1", "digests = sha1, sha256, sha384, sha512",
            "accuracy = secs:1", "ess_cert_id_alg = sha256"]) + "\n")
        port = d / f"{name}.port"
        self.server = subprocess.Popen([sys.executable, ROOT / "tests" / "timestamp_server.py", config, port])
        for _ in range(100):
            if port.exists() and port.read_text():
                break
            time.sleep(0.05)
        self.url = f"http://127.0.0.1:{port.read_text()}"


class Release:
    """A release folder and its manifest, as a dict to edit; write() puts both
    back, SHA256SUMS following the manifest."""

    def __init__(self, folder):
        self.dir = folder
        self.manifest = json.loads((folder / manifests.MANIFEST).read_text())

    def entry(self, name):
        return next(f for f in self.manifest["files"] if f["name"] == name)

    def relist(self, name):
        """The manifest and SHA256SUMS say what the file now is, as its maker would."""
        entry = self.entry(name)
        entry["size"] = (self.dir / name).stat().st_size
        entry["sha256"] = manifests.file_sha256(self.dir / name)

    def write(self):
        (self.dir / manifests.MANIFEST).write_text(json.dumps(self.manifest, indent=2))
        (self.dir / manifests.SUMS).write_text("".join(f"{f['sha256']}  {f['name']}\n" for f in self.manifest["files"]))


def sign(pki, program, out, signer="publisher", stamp=None, description="Sky Quest"):
    tool("osslsigncode", "sign", "-certs", pki.dir / f"{signer}-chain.pem", "-key", pki.dir / f"{signer}.key", "-h", "sha256",
         "-n", description, *(["-ts", stamp] if stamp else []), "-in", program, "-out", out)


@pytest.fixture(scope="session")
def pki(tmp_path_factory):
    pki = Pki(tmp_path_factory.mktemp("pki"))
    pki.authority = Authority(pki, "tsa")
    pki.rogue_authority = Authority(pki, "rogue-tsa")
    yield pki
    for authority in (pki.authority, pki.rogue_authority):
        authority.server.kill()


VERSION, PRODUCT, COMPANY, HOST = "2.1.0.0", "Sky Quest", "Sky Games", "play.game.example"
OPTIONS = [f"-DLAUNCHER_EXE_NAME={NAME}", f"-DLAUNCHER_VERSION={VERSION}", f"-DLAUNCHER_PRODUCT_NAME={PRODUCT}",
           f"-DLAUNCHER_COMPANY={COMPANY}"]
STAND_IN = """const char variant[] = VARIANT;
const unsigned short address[] = u"https://" HOST "/partner/iframe/10?cid=ru";
void start(void) { }
"""
VERSION_RESOURCE = """1 VERSIONINFO
FILEVERSION {commas}
PRODUCTVERSION {commas}
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904B0"
    BEGIN
      VALUE "CompanyName", "{company}"
      VALUE "ProductName", "{product}"
      VALUE "ProductVersion", "{version}"
    END
  END
END
"""


def stand_in(folder, name, *, console=False, host=HOST, version=VERSION, product=PRODUCT):
    """A small PE file branded as the release's programs are, finished as the
    release finishes its installer."""
    (folder / "program.c").write_text(STAND_IN)
    (folder / "version.rc").write_text(VERSION_RESOURCE.format(
        commas=version.replace(".", ","), company=COMPANY, product=product, version=version))
    tool("i686-w64-mingw32-windres", folder / "version.rc", "-O", "coff", "-o", folder / "version.o")
    tool("i686-w64-mingw32-gcc", "-O2", "-s", "-nostdlib", "-Wl,-e,_start", "-Wl,--subsystem," +
         ("console" if console else "windows"), f'-DVARIANT="{name}"', f'-DHOST="{host}"', "-o", folder / name,
         folder / "program.c", folder / "version.o")
    installer.finish_pe(folder / name)


SETUP_SCRIPT = """Unicode true
Name "{product}"
OutFile "{out}"
InstallDir "$LOCALAPPDATA\\Programs\\{product}"
RequestExecutionLevel user
SetCompressor /SOLID lzma
VIProductVersion "{version}"
VIFileVersion "{version}"
VIAddVersionKey /LANG=1033 "ProductName" "{product}"
VIAddVersionKey /LANG=1033 "CompanyName" "{company}"
VIAddVersionKey /LANG=1033 "ProductVersion" "{version}"
Section
  File "/oname=$INSTDIR\\{launcher}" "{launcher_path}"
  File "/oname=$INSTDIR\\{doctor}" "{doctor_path}"
SectionEnd
"""


def setup_stand_in(out, launcher, doctor):
    """A small installer of the release's kind (Unicode NSIS, solid LZMA),
    branded as the release's, that installs the launcher and doctor at these
    paths; finished as the release finishes its installer."""
    script = out.parent / (out.name + ".nsi")
    script.write_text(SETUP_SCRIPT.format(product=PRODUCT, company=COMPANY, version=VERSION, out=out,
                                          launcher=f"{NAME}.exe", launcher_path=launcher,
                                          doctor=f"{NAME}-doctor.exe", doctor_path=doctor), encoding="utf-8")
    tool("makensis", "-V1", "-INPUTCHARSET", "UTF8", script)
    installer.finish_pe(out)


@pytest.fixture(scope="session")
def unsigned_programs(tmp_path_factory, pki):
    """The four programs, each of its role: the doctor a console program, the
    others GUI programs, the launcher opening the manifest's host. The
    installer carries the launcher and doctor as the release signs them,
    kept in signed/."""
    folder = tmp_path_factory.mktemp("programs")
    (folder / "signed").mkdir()
    for name in PROGRAMS[:3]:
        stand_in(folder, name, console=name.endswith("-doctor.exe"))
    for name in PROGRAMS[:2]:
        sign(pki, folder / name, folder / "signed" / name, stamp=pki.authority.url)
    setup_stand_in(folder / PROGRAMS[3], *(folder / "signed" / name for name in PROGRAMS[:2]))
    return folder


@pytest.fixture(scope="session")
def genuine(tmp_path_factory, pki, unsigned_programs):
    folder = tmp_path_factory.mktemp("genuine")
    files = []
    for name in PROGRAMS:
        if name in PROGRAMS[:2]:
            shutil.copyfile(unsigned_programs / "signed" / name, folder / name)
        else:
            sign(pki, unsigned_programs / name, folder / name, stamp=pki.authority.url)
        stamp = signing.check(folder / name, signing.read_signature(folder / name), pki.roots, "roots",
                              tmp_path_factory.mktemp("check"))
        files.append(manifests.ShippedFile(name=name, size=(folder / name).stat().st_size,
                                           sha256=manifests.file_sha256(folder / name),
                                           unsigned_sha256=manifests.file_sha256(unsigned_programs / name),
                                           time_stamp=signing.time_text(stamp)))
    head = subprocess.run(["git", "-C", ROOT, "rev-parse", "HEAD"], capture_output=True, text=True).stdout.strip()
    manifest = manifests.Manifest(
        format=manifests.FORMAT, version=VERSION, commit=head, uncommitted_changes=False, host=HOST,
        source_date_epoch=1765000000, makensis=installer.makensis_version(), options=OPTIONS,
        game_files=[], signer=manifests.Signer(subject="O=Sky Games,CN=Sky Games Test", sha256=pki.fingerprint("publisher")),
        files=files)
    (folder / manifests.MANIFEST).write_text(manifest.dumps())
    (folder / manifests.SUMS).write_text(manifests.sums_text(manifest))
    return folder


@pytest.fixture
def release(genuine, tmp_path):
    folder = tmp_path / "dist"
    shutil.copytree(genuine, folder)
    return Release(folder)


@pytest.fixture
def pinned(pki, monkeypatch):
    """The caller trusts the test CA and the time-stamp authority, and pins the publisher."""
    for variable in ("LAUNCHER_SIGN_ROOTS", "LAUNCHER_SIGNER", "LAUNCHER_ALLOW_UNSTAMPED", "LAUNCHER_GAME_FILES"):
        monkeypatch.delenv(variable, raising=False)
    monkeypatch.setenv("LAUNCHER_SIGN_ROOTS", str(pki.roots))
    monkeypatch.setenv("LAUNCHER_SIGNER", pki.fingerprint("publisher").upper())
    return os.environ
