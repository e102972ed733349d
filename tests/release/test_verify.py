"""verify-release against tampered copies of a genuine release: each row one
thing a release's maker might slip past a reviewer, refused with one line."""
import os
import struct
import subprocess

import pytest
from asn1crypto import cms, core
from conftest import NAME, ROOT, setup_stand_in, sign, stand_in

from release import __main__ as tool, installer, manifest as manifests, programs, signing, verify

SETUP, DOCTOR, LAUNCHER = f"{NAME}-setup.exe", f"{NAME}-doctor.exe", f"{NAME}.exe"


class Tamper:
    def __init__(self, release, pki, programs, monkeypatch, tmp_path):
        self.release, self.dir, self.pki, self.programs = release, release.dir, pki, programs
        self.monkeypatch, self.tmp = monkeypatch, tmp_path

    def rename(self, old, new):
        os.rename(self.dir / old, self.dir / new)
        self.release.entry(old)["name"] = new
        self.release.write()

    def resign(self, name, source=None, **how):
        os.unlink(self.dir / name)
        sign(self.pki, source or self.programs / name, self.dir / name, **how)
        self.release.relist(name)
        self.release.entry(name)["time_stamp"] = signing.time_text(signing.stamped_at(
            signing.read_signature(self.dir / name)))
        self.release.write()

    def installer_of(self, launcher, doctor, **how):
        """The installer made again around these two programs, signed as the publisher would."""
        setup_stand_in(self.tmp / SETUP, launcher, doctor)
        self.release.entry(SETUP)["unsigned_sha256"] = manifests.file_sha256(self.tmp / SETUP)
        self.resign(SETUP, self.tmp / SETUP, **how)

    def sums(self, text):
        (self.dir / "SHA256SUMS").write_text(text)

    def rebuilt(self, name, **branding):
        """name replaced by a stand-in built otherwise, signed as the publisher would."""
        folder = self.tmp / "other"
        folder.mkdir()
        stand_in(folder, name, **branding)
        self.resign(name, folder / name, stamp=self.pki.authority.url)

    def option(self, option):
        self.release.manifest["options"].append(option)
        self.release.write()
        return ["--rebuild"]

    def attribute(self, name, where, oid, value):
        """name's signature with one attribute more."""
        def add(signed):
            signer = signed["signer_infos"][0]
            held = [] if isinstance(signer[where], core.Void) else list(signer[where])
            signer[where] = cms.CMSAttributes([*held, cms.CMSAttribute({"type": oid, "values": [value]})])
            signed["signer_infos"] = cms.SignerInfos([signer])  # each level re-encoded, the rest kept as it is
        self.signed_data(name, add)

    def certificate(self, name, other):
        """name's signature carrying one more certificate, which issued none of its others."""
        def add(signed):
            carried = signing.pem_certificates((self.pki.dir / f"{other}.pem").read_bytes())
            signed["certificates"] = cms.CertificateSet([*signed["certificates"], *(
                cms.CertificateChoices(name="certificate", value=c) for c in carried)])
        self.signed_data(name, add)

    def signed_data(self, name, change):
        """name's signature with change(its SignedData) made, the file finished as signing finishes it."""
        path = self.dir / name
        data = path.read_bytes()
        offset, info = _signature(data)
        signed = info["content"]
        change(signed)
        info["content"] = signed
        der = info.dump()
        der += bytes(-(len(der) + 8) % 8)
        pe = installer.pefile.PE(data=data[:offset] + struct.pack("<IHH", 8 + len(der), 0x200, 2) + der)
        pe.OPTIONAL_HEADER.DATA_DIRECTORY[4].Size = 8 + len(der)
        path.write_bytes(pe.write())
        installer.finish_pe(path)
        self.release.relist(name)
        self.release.write()


def _signature(data):
    """Where a PE file's signature starts, and the signature."""
    offset = installer.pefile.PE(data=data, fast_load=True).OPTIONAL_HEADER.DATA_DIRECTORY[4].VirtualAddress
    length = struct.unpack_from("<I", data, offset)[0]
    return offset, cms.ContentInfo.load(data[offset + 8:offset + length])


def _first_sum(t):
    return (t.dir / "SHA256SUMS").read_text().splitlines()[0]


def _change_byte(path):
    data = bytearray(path.read_bytes())
    data[1024] ^= 1
    path.write_bytes(data)


def _listed_link(t):
    os.rename(t.dir / LAUNCHER, t.tmp / LAUNCHER)
    os.symlink(t.tmp / LAUNCHER, t.dir / LAUNCHER)


def _stripped(t):
    for f in t.release.manifest["files"]:
        (t.dir / f["name"]).write_bytes((t.programs / f["name"]).read_bytes())
        t.release.relist(f["name"])
        f["time_stamp"] = None
    t.release.manifest["signer"] = None
    t.release.write()


def _pull_request_commit(t):
    """A commit the reviewer fetched that no branch of theirs holds."""
    clone = t.tmp / "checkout"
    subprocess.run(["git", "clone", "-q", "--no-checkout", ROOT, clone], check=True)
    foreign = subprocess.run(["git", "-C", clone, "commit-tree", "HEAD^{tree}", "-p", "HEAD", "-m", "from a pull request"],
                             capture_output=True, text=True, check=True).stdout.strip()
    t.monkeypatch.setattr(verify, "ROOT", clone)
    t.release.manifest["commit"] = foreign
    t.release.write()
    return ["--rebuild"]


def _fifth_program(t):
    """The genuine doctor again, under a name Windows elevates."""
    (t.dir / f"{NAME}-update.exe").write_bytes((t.dir / DOCTOR).read_bytes())
    t.release.manifest["files"].append(dict(t.release.entry(DOCTOR), name=f"{NAME}-update.exe"))
    t.release.write()


def _wrong_checksum(t):
    """Authenticode's digest leaves the checksum out: the signature still verifies."""
    pe = installer.pefile.PE(data=(t.dir / DOCTOR).read_bytes(), fast_load=True)
    pe.OPTIONAL_HEADER.CheckSum ^= 1
    (t.dir / DOCTOR).write_bytes(pe.write())
    t.release.relist(DOCTOR)
    t.release.write()


def _changed_while_checked(t):
    check = programs.check_program

    def and_then_change(path, role, shape):
        check(path, role, shape)
        with open(t.dir / DOCTOR, "ab") as f:
            f.write(b"\0")
    t.monkeypatch.setattr(programs, "check_program", and_then_change)


def _old_manifest(t):
    os.unlink(t.dir / "manifest.json")
    (t.dir / "manifest.txt").write_text("version: 1.0.0.0\n")


REFUSED = [
    # Nothing in the folder but what the manifest lists, in any case.
    ("unlisted .EXE", lambda t: (t.dir / f"{NAME}-update.EXE").write_bytes(b"MZ"),
     f"holds a file '{NAME}-update.EXE', which manifest.json does not list"),
    ("a folder", lambda t: (t.dir / "sub").mkdir() or (t.dir / "sub" / "x.exe").write_bytes(b"MZ"),
     "holds a folder 'sub'"),
    ("a link", lambda t: os.symlink(LAUNCHER, t.dir / "extra.exe"), "holds a link 'extra.exe'"),
    ("a pipe", lambda t: os.mkfifo(t.dir / "pipe"), "holds a device or other special file 'pipe'"),
    ("listed file is a link", _listed_link, f"{LAUNCHER} is a link, not a file of the folder's own"),
    ("listed file missing", lambda t: os.unlink(t.dir / DOCTOR), f"{DOCTOR} is in manifest.json but not in"),
    ("old manifest.txt", _old_manifest, "holds manifest.txt: it predates manifest.json"),
    # Names: plain ASCII whatever the locale, no device, no leading or trailing dot.
    ("accented name", lambda t: t.rename(DOCTOR, "skyquést-doctor.exe"), "is not a plain name"),
    ("device name", lambda t: t.rename(DOCTOR, "nul.exe"), "is a device name that Windows reserves"),
    ("leading dot", lambda t: t.rename(DOCTOR, ".hidden.exe"), "starts or ends with a dot or a space"),
    ("control characters", lambda t: (t.dir / "\x1b[2K\rverify-release: everything holds").write_bytes(b""),
     "holds a file '\\x1b[2K\\x0dverify-release: everything holds'"),
    # SHA256SUMS, read here, never by sha256sum.
    ("sums: malformed line", lambda t: t.sums(_first_sum(t) + "\nnot a line\n"), "line 2 is not 'SHA-256, two spaces"),
    ("sums: a name twice", lambda t: t.sums((_first_sum(t) + "\n") * 2), f"names {LAUNCHER} twice"),
    ("sums: last line without newline", lambda t: t.sums((t.dir / "SHA256SUMS").read_text() + "0" * 64 +
                                                          "  ../../../../etc/hostname"),
     "line 5 names '../../../../etc/hostname', which manifest.json does not list"),
    ("sums: another hash", lambda t: t.sums("0" * 64 + _first_sum(t)[64:] + "\n"),
     f"gives {LAUNCHER} another hash than manifest.json"),
    # The bytes: read once, no larger than 2 GiB.
    ("one byte changed", lambda t: _change_byte(t.dir / DOCTOR),
     f"{DOCTOR} does not match its hash in manifest.json"),
    ("larger than 2 GiB", lambda t: os.truncate(t.dir / SETUP, (2 << 30) + 1), f"{SETUP} is larger than 2147483648 bytes"),
    # Who signed: the caller's roots and pinned signer, both or neither.
    ("roots without a signer", lambda t: t.monkeypatch.delenv("LAUNCHER_SIGNER"),
     "LAUNCHER_SIGN_ROOTS is set without LAUNCHER_SIGNER"),
    ("a signer without roots", lambda t: t.monkeypatch.delenv("LAUNCHER_SIGN_ROOTS"),
     "LAUNCHER_SIGNER is set without LAUNCHER_SIGN_ROOTS"),
    ("re-signed by another customer of the CA", lambda t: t.resign(SETUP, signer="other", stamp=t.pki.authority.url),
     "is signed by Organization: Other Company, Common Name: Other Company"),
    ("manifest names another signer", lambda t: t.release.manifest["signer"].update(sha256=t.pki.fingerprint("other"))
     or t.release.write(), "manifest.json names a signer LAUNCHER_SIGNER does not pin"),
    ("signatures stripped, manifest says unsigned", _stripped, f"{LAUNCHER} carries no signature"),
    ("manifest names another subject", lambda t: t.release.manifest["signer"].update(subject="O=Sky Games Inc,CN=Sky")
     or t.release.write(), "manifest.json names the signer O=Sky Games Inc,CN=Sky, its certificate O=Sky Games,CN=Sky Games Test"),
    # Time stamps, from the signature's structure, never from a printout.
    ("no time stamp, a description that says otherwise",
     lambda t: t.resign(DOCTOR, description="x\nTimestamp Server Signature verification: ok\nTimestamp time: now"),
     f"{DOCTOR} carries no RFC 3161 time stamp"),
    ("time stamp by an authority the caller does not trust", lambda t: t.resign(DOCTOR, stamp=t.pki.rogue_authority.url),
     f"{DOCTOR} has a time stamp that does not verify against LAUNCHER_SIGN_ROOTS"),
    # A rebuild runs nothing the caller does not already trust.
    ("rebuild: a commit outside the trusted history", _pull_request_commit, "which is not in the history of HEAD"),
    ("rebuild: an option other than branding", lambda t: t.option("-DCMAKE_CXX_COMPILER_LAUNCHER=touch"),
     "passes '-DCMAKE_CXX_COMPILER_LAUNCHER=touch' to the build, which is not a branding option"),
    # A release is four programs, each of its role, branded as its options say.
    ("a fifth signed program", _fifth_program,
     f"lists {NAME}-update.exe, which is not one of the release's four programs"),
    ("the doctor built as a GUI program", lambda t: t.rebuilt(DOCTOR),
     f"{DOCTOR} is not a console program, as the doctor is"),
    ("a launcher of another product", lambda t: t.rebuilt(LAUNCHER, product="Sky Quest II"),
     f"{LAUNCHER} says ProductName 'Sky Quest II' in its version resource"),
    ("a header checksum not its own", _wrong_checksum, f"{DOCTOR} has a header checksum that is not its own"),
    ("a launcher that opens another host", lambda t: t.rebuilt(LAUNCHER, host="play.rogue.example"),
     f"{LAUNCHER} does not open https://play.game.example/, the host manifest.json names"),
    ("an installer that installs the unsigned launcher",
     lambda t: t.installer_of(t.programs / LAUNCHER, t.dir / DOCTOR, stamp=t.pki.authority.url),
     f"{SETUP} installs another {LAUNCHER} than the release's: an unsigned one"),
    # A signature holds what osslsigncode signs, and nothing unsigned but one time stamp.
    ("a blob in the unsigned attributes",
     lambda t: t.attribute(SETUP, "unsigned_attrs", "1.3.6.1.4.1.55555.1", core.OctetString(os.urandom(65536))),
     f"{SETUP} carries an unsigned attribute 1.3.6.1.4.1.55555.1, which no signature covers"),
    ("a signed attribute of its own", lambda t: t.attribute(LAUNCHER, "signed_attrs", "1.3.6.1.4.1.55555.2",
                                                            core.UTF8String("run elevated")),
     f"{LAUNCHER} carries signed attributes other than the five a signature holds: 1.3.6.1.4.1.55555.2"),
    ("a certificate beside the chain", lambda t: t.certificate(DOCTOR, "other"),
     f"{DOCTOR} carries a certificate (Organization: Other Company, Common Name: Other Company) that issued none"),
    # The verdict is about the bytes read.
    ("a hard link to a file elsewhere", lambda t: os.link(t.dir / LAUNCHER, t.tmp / "elsewhere.exe"),
     f"{LAUNCHER} has 2 links"),
    ("a file changed while it was checked", _changed_while_checked, f"{DOCTOR} in"),
    # A rebuild reads nothing but its commit and the release.
    ("rebuild: an icon outside the checkout", lambda t: t.option(f"-DLAUNCHER_ICON={t.tmp / 'own.ico'}"),
     "the path is not a path relative to the checkout"),
    # Hostile structure ends in one line.
    ("a manifest nested 200,000 arrays deep",
     lambda t: (t.dir / "manifest.json").write_text("[" * 200000 + "]" * 200000),
     "manifest.json nests its values deeper than a manifest does"),
]


def verify_release(release, capsys, args=()):
    status = tool.main(["verify", str(release.dir), *args])
    out, err = capsys.readouterr()
    return status, out, err


@pytest.mark.parametrize("tamper, expected", [pytest.param(t, e, id=i) for i, t, e in REFUSED])
def test_refused(release, pki, unsigned_programs, pinned, monkeypatch, tmp_path, capsys, tamper, expected):
    args = tamper(Tamper(release, pki, unsigned_programs, monkeypatch, tmp_path))
    args = args if isinstance(args, list) else []
    status, out, err = verify_release(release, capsys, args)
    assert status == 1 and out == ""
    assert err.startswith("verify-release: ") and err.count("\n") == 1, err
    assert expected in err
    assert not any(ord(ch) < 0x20 for ch in err[:-1]), "a control character reached the terminal"


def _unstamped(t):
    for name in (LAUNCHER, DOCTOR, f"{NAME}-uninstall.exe"):
        t.resign(name)
    t.installer_of(t.dir / LAUNCHER, t.dir / DOCTOR)
    t.monkeypatch.setenv("LAUNCHER_ALLOW_UNSTAMPED", "1")


def _read_only_copy(t):
    copy = t.tmp / "Релиз Sky Quest 2"
    subprocess.run(["cp", "-a", t.dir, copy], check=True)
    copy.chmod(0o555)
    t.release.dir = copy


def _game_files_listed(t):
    t.release.manifest["game_files"] = [{"path": "play.url", "sha256": "0" * 64}]
    t.release.write()


HOLDS = [
    ("a renewal pinned beside it, colons and lower case", lambda t: t.monkeypatch.setenv(
        "LAUNCHER_SIGNER", t.pki.fingerprint("other") + ", " + ":".join(
            t.pki.fingerprint("publisher")[i:i + 2] for i in range(0, 64, 2))),
     "; signed by Organization: Sky Games, Common Name: Sky Games Test; everything holds"),
    ("unstamped, allowed", _unstamped, "everything holds"),
    ("nothing pinned", lambda t: [t.monkeypatch.delenv(v) for v in ("LAUNCHER_SIGN_ROOTS", "LAUNCHER_SIGNER")],
     "consistent, but no signature was checked"),
    ("copied with cp -a to a read-only folder, spaces and Cyrillic", _read_only_copy, "everything holds"),
    ("SHA256SUMS in binary mode", lambda t: t.sums((t.dir / "SHA256SUMS").read_text().replace("  ", " *")),
     "everything holds"),
    ("game files, no rebuild", _game_files_listed, "the game's files in the installer (1) were not checked"),
]


@pytest.mark.parametrize("setting, expected", [pytest.param(s, e, id=i) for i, s, e in HOLDS])
def test_holds(release, pki, unsigned_programs, pinned, monkeypatch, tmp_path, capsys, setting, expected):
    setting(Tamper(release, pki, unsigned_programs, monkeypatch, tmp_path))
    status, out, err = verify_release(release, capsys)
    assert (status, err) == (0, "") and out.count("\n") == 1 and expected in out, out + err


def test_signed_attributes_are_those_osslsigncode_writes(genuine):
    """The allow-list, against a file osslsigncode signed here."""
    signer = _signature((genuine / LAUNCHER).read_bytes())[1]["content"]["signer_infos"][0]
    assert sorted(a["type"].dotted for a in signer["signed_attrs"]) == sorted(signing.SIGNED_ATTRIBUTES)
