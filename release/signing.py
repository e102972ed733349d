"""Authenticode: signing with a publisher's certificate (a PKCS#12 file, or a
key on a token or in a cloud HSM through its PKCS#11 library), and reading a
signature back as the structure it is, never as a tool's printout."""
import datetime
import hashlib
import json
import os
import struct
from dataclasses import asdict, dataclass
from pathlib import Path

import pefile
from asn1crypto import cms, core, pem, tsp, x509

from .common import ReleaseError, last_line, run, shown

SYSTEM_CA_BUNDLE = "/etc/ssl/certs/ca-certificates.crt"
SECURITY_DIRECTORY = 4  # IMAGE_DIRECTORY_ENTRY_SECURITY
WIN_CERT_REVISION_2_0 = 0x0200
WIN_CERT_TYPE_PKCS_SIGNED_DATA = 0x0002
TST_INFO = "1.2.840.113549.1.9.16.1.4"  # id-ct-TSTInfo: what an RFC 3161 token signs
# What osslsigncode signs with a program's digest: content type, signing
# time, message digest, SpcStatementType and SpcSpOpusInfo, each once.
SIGNED_ATTRIBUTES = ("1.2.840.113549.1.9.3", "1.2.840.113549.1.9.5", "1.2.840.113549.1.9.4",
                     "1.3.6.1.4.1.311.2.1.11", "1.3.6.1.4.1.311.2.1.12")
TIME_STAMP_TOKEN = "1.3.6.1.4.1.311.3.3.1"  # an RFC 3161 token, where Authenticode puts one
NESTED_SIGNATURE = "1.3.6.1.4.1.311.2.4.1"


# --- certificates -------------------------------------------------------------
def pem_certificates(data):
    """The certificates of a PEM file's bytes, as asn1crypto reads them."""
    if not pem.detect(data):
        return []
    return [x509.Certificate.load(der) for kind, _, der in pem.unarmor(data, multiple=True) if kind == "CERTIFICATE"]


def fingerprint(certificate):
    """SHA-256 of a certificate's DER, as LAUNCHER_SIGNER and the manifest name it."""
    return hashlib.sha256(certificate.dump()).hexdigest()


def write_pem(certificates, path):
    Path(path).write_bytes(b"".join(pem.armor("CERTIFICATE", c.dump()) for c in certificates))


def read_roots(path, variable="LAUNCHER_SIGN_ROOTS"):
    """The roots in a PEM file; refused when it holds none."""
    try:
        roots = pem_certificates(Path(path).read_bytes())
    except (OSError, ValueError) as e:
        raise ReleaseError(f"cannot read the roots in {variable} ({shown(path)}): {shown(e)}")
    if not roots:
        raise ReleaseError(f"{variable} ({shown(path)}) holds no PEM certificate")
    return roots


# --- signing ------------------------------------------------------------------
@dataclass
class Signer:
    """How this release signs; written to a file for the installer's hook,
    which signs the uninstaller in a process of its own."""
    sign_with: list  # osslsigncode's arguments naming the key, the certificate and the secret's file
    certificate: str  # PEM: the signing certificate
    roots: str  # PEM: what its signatures and time stamps must reach
    roots_name: str  # what the roots are called in a message
    timestamp_urls: list
    subject: str
    sha256: str
    key_uri: str = ""
    module: str = ""
    description: str = ""  # what Windows shows as the signed program's name

    def save(self, path):
        Path(path).write_text(json.dumps(asdict(self)))

    @classmethod
    def load(cls, path):
        return cls(**json.loads(Path(path).read_text()))


TOKEN_VARIABLES = ("LAUNCHER_SIGN_PKCS11_MODULE", "LAUNCHER_SIGN_KEY", "LAUNCHER_SIGN_CERT")


def signer_from_environment(env, secrets, private):
    """The Signer the environment names, its certificate checked; None when it
    names none. secrets: the password and the PIN, taken out of the
    environment already; they go to a file in private, never a command line."""
    token = any(env.get(v) for v in TOKEN_VARIABLES) or "LAUNCHER_SIGN_PIN" in secrets
    private = Path(private)
    secret = private / "secret"
    if env.get("LAUNCHER_SIGN_PFX") and token:
        raise ReleaseError("LAUNCHER_SIGN_PFX and a token (LAUNCHER_SIGN_PKCS11_MODULE, LAUNCHER_SIGN_KEY, "
                           "LAUNCHER_SIGN_CERT, LAUNCHER_SIGN_PIN) are both set: sign with one of them")
    if env.get("LAUNCHER_SIGN_PFX"):
        certificate, intermediates, sign_with = _pfx(env["LAUNCHER_SIGN_PFX"], secrets.get("LAUNCHER_SIGN_PASSWORD", ""),
                                                     secret, private)
    elif token:
        certificate, intermediates, sign_with = _token(env, secrets.get("LAUNCHER_SIGN_PIN", ""), secret)
    else:
        return None

    subject = rfc2253_subject(certificate, private)
    now = datetime.datetime.now(datetime.timezone.utc)
    validity = certificate["tbs_certificate"]["validity"]
    if validity["not_after"].native < now:
        raise ReleaseError(f"the certificate ({subject}) expired on {validity['not_after'].native:%Y-%m-%d %H:%M:%S UTC}")
    if validity["not_before"].native > now:
        raise ReleaseError(f"the certificate ({subject}) is not valid before "
                           f"{validity['not_before'].native:%Y-%m-%d %H:%M:%S UTC}")
    # No extended key usage at all allows every use; one without code signing was made for something else.
    usage = certificate.extended_key_usage_value
    if usage is not None and not {"code_signing", "any_extended_key_usage"} & set(usage.native):
        raise ReleaseError(f"the certificate ({subject}) does not allow code signing: its extended key usage is "
                           + ", ".join(usage.native))

    roots_file = private / "roots.pem"
    if env.get("LAUNCHER_SIGN_ROOTS"):
        roots = read_roots(env["LAUNCHER_SIGN_ROOTS"])
        roots_name = f"LAUNCHER_SIGN_ROOTS ({env['LAUNCHER_SIGN_ROOTS']})"
    else:
        # A self-signed test certificate counts as its own root.
        roots = pem_certificates(Path(SYSTEM_CA_BUNDLE).read_bytes()) if Path(SYSTEM_CA_BUNDLE).exists() else []
        if certificate.self_signed != "no":
            roots.append(certificate)
        roots_name = ("the system's CA bundle (set LAUNCHER_SIGN_ROOTS to a PEM file of the CA's and the "
                      "time-stamp authority's roots)")
    write_pem(roots, roots_file)
    certificate_file = private / "signer.pem"
    write_pem([certificate], certificate_file)
    chain = ["-untrusted", intermediates] if intermediates.stat().st_size else []
    if not run(["openssl", "verify", "-CAfile", roots_file, *chain, certificate_file], log=private / "chain.log",
               check=False):
        raise ReleaseError(f"the certificate's chain ({subject}) reaches no root in {roots_name}; are the CA's "
                           "intermediates in LAUNCHER_SIGN_CERT or the PFX?")
    return Signer(sign_with=[str(a) for a in sign_with], certificate=str(certificate_file), roots=str(roots_file),
                  roots_name=roots_name, timestamp_urls=env.get("LAUNCHER_SIGN_TIMESTAMP_URL", "").split(),
                  subject=subject, sha256=fingerprint(certificate), key_uri=env.get("LAUNCHER_SIGN_KEY", ""),
                  module=env.get("LAUNCHER_SIGN_PKCS11_MODULE", ""))


def _readable(path, variable):
    if not (os.path.isfile(path) and os.access(path, os.R_OK)):
        raise ReleaseError(f"{variable} names '{shown(path)}', which does not exist or cannot be read")


def _pfx(pfx, password, secret, private):
    _readable(pfx, "LAUNCHER_SIGN_PFX")
    secret.write_text(password + "\n")

    def read(*args):  # files exported by older tools need OpenSSL's legacy ciphers
        base = ["openssl", "pkcs12", "-in", pfx, "-passin", f"file:{secret}", "-nokeys", *args]
        return run(base, check=False) or run(base[:2] + ["-legacy"] + base[2:], check=False)

    everything = private / "all.pem"
    if not read("-out", everything):
        raise ReleaseError(f"cannot open '{shown(pfx)}' with LAUNCHER_SIGN_PASSWORD: wrong password, or not a PKCS#12 file")
    certificates = pem_certificates(everything.read_bytes())
    if not certificates:
        raise ReleaseError(f"'{shown(pfx)}' holds no certificate")
    # The certificate that goes with the key; a file without a key has none, and fails at signing.
    own, others = private / "own.pem", private / "chain.pem"
    read("-clcerts", "-out", own)
    mine = pem_certificates(own.read_bytes()) if own.exists() else []
    read("-cacerts", "-out", others)
    if not others.exists():
        others.write_bytes(b"")
    return (mine or certificates)[0], others, ["-pkcs12", pfx, "-readpass", secret]


def _token(env, pin, secret):
    for v in TOKEN_VARIABLES:
        if not env.get(v):
            raise ReleaseError(f"signing with a token needs {v} too")
    _readable(env["LAUNCHER_SIGN_PKCS11_MODULE"], "LAUNCHER_SIGN_PKCS11_MODULE")
    key = env["LAUNCHER_SIGN_KEY"]
    if not key.startswith("pkcs11:"):
        raise ReleaseError("LAUNCHER_SIGN_KEY is not a pkcs11: URI, such as pkcs11:token=publisher;object=signkey")
    if "pin-value=" in key or "pin-source=" in key:
        raise ReleaseError("LAUNCHER_SIGN_KEY holds a PIN, which would show on a command line: give it in LAUNCHER_SIGN_PIN")
    _readable(env["LAUNCHER_SIGN_CERT"], "LAUNCHER_SIGN_CERT")
    try:
        certificates = pem_certificates(Path(env["LAUNCHER_SIGN_CERT"]).read_bytes())
    except ValueError:
        certificates = []
    if not certificates:
        raise ReleaseError("LAUNCHER_SIGN_CERT holds no PEM certificate")
    intermediates = secret.parent / "chain.pem"
    write_pem(certificates[1:], intermediates)
    secret.write_text(pin + "\n")
    return certificates[0], intermediates, ["-pkcs11module", env["LAUNCHER_SIGN_PKCS11_MODULE"], "-key", key,
                                            "-certs", env["LAUNCHER_SIGN_CERT"], "-readpass", secret]


def rfc2253_subject(certificate, private):
    """The subject as RFC 2253 writes it, which is how CAs and Windows' tools
    quote it; this is the publisher's own certificate, read by openssl."""
    path = private / "subject.pem"
    write_pem([certificate], path)
    run(["openssl", "x509", "-in", path, "-noout", "-subject", "-nameopt", "RFC2253", "-out", private / "subject.txt"])
    return (private / "subject.txt").read_text().strip().removeprefix("subject=")


def sign(signer, path, name, private):
    """Signs path in place, with a verified time stamp when servers are named.
    Answers when it was stamped, as the manifest writes it (None when it was not)."""
    private = Path(private)
    signed, log = private / (name + ".signed"), private / "sign.log"
    if not run(["osslsigncode", "sign", *signer.sign_with, "-h", "sha256", "-n", signer.description, "-in", path,
                "-out", signed], log=log, check=False):
        raise ReleaseError(f"signing {name} failed: {_signing_failure(signer, log)}")
    if signer.timestamp_urls:
        signature, gen_time = _stamp(signer, signed, name, private)
    else:
        signature, gen_time = _verified(signer, signed, private)
    if signature.certificate_sha256 != signer.sha256:
        raise ReleaseError(f"{name} was signed by another certificate than the one named: {signature.subject}")
    os.replace(signed, path)
    return time_text(gen_time)


def try_signing(signer, private):
    """Signs, and time-stamps when servers are named, a small program of no
    use: a wrong PIN, a key the token lacks or no time-stamp server answering
    then fails the release before anything is built."""
    trial = Path(private) / "trial.exe"
    trial.write_bytes(trial_program())
    sign(signer, trial, "a trial program", private)
    trial.unlink()


def trial_program():
    """The smallest PE32 program osslsigncode signs: headers and one section
    holding a ret."""
    dos = b"MZ" + bytes(58) + struct.pack("<I", 64)
    coff = struct.pack("<HHIIIHH", 0x14C, 1, 0, 0, 0, 224, 0x0102)  # i386, one section, an executable image
    optional = struct.pack("<HBBIIIIIIIIIHHHHHHIIIIHHIIIIII", 0x10B, 0, 0, 0x200, 0, 0, 0x1000, 0x1000, 0x2000,
                           0x400000, 0x1000, 0x200, 5, 0, 0, 0, 5, 0, 0, 0x2000, 0x200, 0, 2, 0, 0x100000, 0x1000,
                           0x100000, 0x1000, 0, 16) + bytes(16 * 8)
    section = struct.pack("<8sIIIIIIHHI", b".text", 1, 0x1000, 0x200, 0x200, 0, 0, 0, 0, 0x60000020)
    headers = dos + b"PE\0\0" + coff + optional + section
    return headers + bytes(0x200 - len(headers)) + b"\xc3" + bytes(0x1FF)


def _verified(signer, path, private):
    """The signature of path, and when its verified time stamp says it was made."""
    signature = read_signature(path)
    return signature, check(path, signature, signer.roots, signer.roots_name, private)


def _stamp(signer, signed, name, private):
    """Adds a time stamp from the first server whose stamp verifies."""
    reasons = []
    for url in signer.timestamp_urls:
        attempt, log = private / (name + ".try"), private / "stamp.log"
        if not run(["osslsigncode", "add", "-ts", url, "-h", "sha256", "-in", signed, "-out", attempt], log=log,
                   check=False):
            text = log.read_text(errors="replace")
            reasons.append(f"{url}: unreachable" if "connect" in text or "Failed to get data" in text
                           else f"{url}: refused ({_why_not(log)})")
            continue
        try:
            signature, gen_time = _verified(signer, attempt, private)
        except ReleaseError as e:
            reasons.append(f"{url}: {e}")
            continue
        if gen_time is None:
            reasons.append(f"{url}: its answer carries no time stamp")
            continue
        os.replace(attempt, signed)
        return signature, gen_time
    raise ReleaseError(f"no time-stamp server gave {name} a verified time stamp: " + "; ".join(reasons))


def _signing_failure(signer, log):
    """The token's own words for the ways it refuses, in one line."""
    text = Path(log).read_text(errors="replace")
    if "PIN incorrect" in text or "Login failed" in text:
        return "the token refused LAUNCHER_SIGN_PIN"
    if "object not found" in text or "private key was not found" in text:
        return f"no key on the token matches LAUNCHER_SIGN_KEY ({signer.key_uri}), or LAUNCHER_SIGN_PIN is needed"
    if "Unable to load PKCS#11 module" in text or "Unable to load module" in text:
        return f"LAUNCHER_SIGN_PKCS11_MODULE ({signer.module}) is not a PKCS#11 library that loads here"
    return _why_not(log)


def _why_not(log):
    """The line of an osslsigncode log that says what went wrong, escaped."""
    for line in Path(log).read_text(errors="replace").splitlines():
        if "Verify error: " in line:
            return shown(line.split("Verify error: ", 1)[1].strip())
        if ":error:" in line:
            parts = line.split(":")
            if len(parts) > 5:
                return shown(parts[5] + (f" ({parts[8]})" if len(parts) > 8 and parts[8] else ""))
    return last_line(log)


# --- reading a signature --------------------------------------------------------
@dataclass
class Signature:
    """One Authenticode signature, as the file's own bytes hold it."""
    certificate: x509.Certificate
    digest_algorithm: str
    encrypted_digest: bytes  # what an RFC 3161 token over this signature stamps
    token: bytes = None  # DER of the RFC 3161 time-stamp token, when there is one

    @property
    def certificate_sha256(self):
        return fingerprint(self.certificate)

    @property
    def subject(self):
        return shown(self.certificate.subject.human_friendly)


def read_signature(path):
    """The one signature of the PE file at path; None when it carries none.
    Anything but one well-formed signature by one signer, with the signed
    attributes osslsigncode writes, nothing unsigned but at most one RFC 3161
    time stamp, and only the signer's chain beside it, is refused."""
    try:
        pe = pefile.PE(str(path), fast_load=True)
    except Exception:  # pefile fails in its own ways on hostile headers
        raise ReleaseError("is not a Windows program")
    try:
        directory = pe.OPTIONAL_HEADER.DATA_DIRECTORY[SECURITY_DIRECTORY]
        offset, size = directory.VirtualAddress, directory.Size
        if offset == 0 and size == 0:
            return None
        data = pe.__data__
        if offset + size != len(data) or size < 8:
            raise ReleaseError("has its signature elsewhere than at its end")
        length, revision, kind = struct.unpack_from("<IHH", data, offset)
        if revision != WIN_CERT_REVISION_2_0 or kind != WIN_CERT_TYPE_PKCS_SIGNED_DATA or not 8 < length <= size \
                or (length + 7) // 8 * 8 != size:
            raise ReleaseError("carries something other than one Authenticode signature")
        return _parse(bytes(data[offset + 8:offset + length]))
    finally:
        pe.close()


def _parse(der):
    try:
        info = cms.ContentInfo.load(der)
        length = len(info.dump())
        if any(der[length:]) or len(der) - length > 7:  # signers pad it with zeros to 8 bytes
            raise ReleaseError("carries more than one signature, or something after it")
        if info["content_type"].native != "signed_data":
            raise ReleaseError("carries a signature that is not signed data")
        signed = info["content"]
        if len(signed["signer_infos"]) != 1:
            raise ReleaseError("carries a signature by more than one signer")
        signer = signed["signer_infos"][0]
        if signer["sid"].name != "issuer_and_serial_number":
            raise ReleaseError("carries a signature that does not name its certificate by issuer and serial")
        sid = signer["sid"].chosen
        certificates = [c.chosen for c in signed["certificates"] if c.name == "certificate"]
        own = [c for c in certificates
               if c.issuer == sid["issuer"] and c.serial_number == sid["serial_number"].native]
        if len(own) != 1:
            raise ReleaseError("carries a signature whose certificate is not there once")
        _check_carried(signed, own[0], certificates)
        signed_kinds = sorted(a["type"].dotted for a in _attributes(signer["signed_attrs"]))
        if signed_kinds != sorted(SIGNED_ATTRIBUTES):
            extra = sorted(set(signed_kinds) - set(SIGNED_ATTRIBUTES)) or ["one of them twice"]
            raise ReleaseError("carries signed attributes other than the five a signature holds: "
                               + ", ".join(map(shown, extra)))
        token = None
        for attribute in _attributes(signer["unsigned_attrs"]):
            kind = attribute["type"].dotted
            if kind == NESTED_SIGNATURE:
                raise ReleaseError("carries a second signature nested in the first")
            if kind != TIME_STAMP_TOKEN:
                raise ReleaseError(f"carries an unsigned attribute {shown(kind)}, which no signature covers: "
                                   "only a time stamp may be there")
            if token is not None or len(attribute["values"]) != 1:
                raise ReleaseError("carries more than one time stamp")
            token = attribute["values"][0].dump()
        return Signature(certificate=own[0], digest_algorithm=signer["digest_algorithm"]["algorithm"].native,
                         encrypted_digest=signer["signature"].native, token=token)
    except ReleaseError:
        raise
    except Exception as e:  # asn1crypto parses lazily: any malformed part fails where it is read
        raise ReleaseError(f"carries a signature that is not well-formed ({shown(type(e).__name__)})")


def _attributes(attributes):
    return [] if isinstance(attributes, core.Void) else list(attributes)


def _check_carried(signed, own, certificates):
    """Nothing unsigned rides along: no revocation lists, and no certificate
    but the signer's and those that issued one carried."""
    if not isinstance(signed["crls"], core.Void) and len(signed["crls"]):
        raise ReleaseError("carries revocation lists, which no signature covers")
    if len(certificates) != len(signed["certificates"]):
        raise ReleaseError("carries something other than certificates among its certificates")
    issuers = {c.issuer.dump() for c in certificates if c.self_signed == "no"}
    for c in certificates:
        if c is not own and c.subject.dump() not in issuers:
            raise ReleaseError(f"carries a certificate ({shown(c.subject.human_friendly)}) that issued none of its "
                               "others: only the signer's chain belongs there")


def check(path, signature, roots, roots_name, work):
    """Verifies the signature of the PE file at path (signature: as
    read_signature read it) against the roots in the PEM file roots, and its
    time stamp when it has one; refuses with why. Answers the time stamp's
    genTime, or None when there is none."""
    work = Path(work)
    if signature is None:
        raise ReleaseError("carries no signature")
    if signature.digest_algorithm != "sha256":
        raise ReleaseError(f"is signed with a {shown(signature.digest_algorithm)} digest, not sha256")
    log = work / "verify.log"
    if not run(["osslsigncode", "verify", "-CAfile", roots, "-TSA-CAfile", roots, "-in", path], log=log, check=False):
        raise ReleaseError(f"has a signature that does not verify against {roots_name}: {_why_not(log)}")
    return None if signature.token is None else _check_time_stamp(signature, roots, roots_name, work)


def _check_time_stamp(signature, roots, roots_name, work):
    """The genTime of the signature's RFC 3161 token, once openssl has
    verified the token against the roots over the signature's encrypted
    digest, which is what it stamps."""
    gen_time, carried = _read_token(signature.token)
    (work / "token.der").write_bytes(signature.token)
    (work / "stamped.bin").write_bytes(signature.encrypted_digest)
    write_pem(carried, work / "token-certificates.pem")
    untrusted = ["-untrusted", work / "token-certificates.pem"] if carried else []
    if not run(["openssl", "ts", "-verify", "-data", work / "stamped.bin", "-in", work / "token.der", "-token_in",
                "-CAfile", roots, *untrusted], log=work / "ts.log", check=False):
        raise ReleaseError(f"has a time stamp that does not verify against {roots_name}: {last_line(work / 'ts.log')}")
    validity = signature.certificate["tbs_certificate"]["validity"]
    if not validity["not_before"].native <= gen_time <= validity["not_after"].native:
        raise ReleaseError(f"was time-stamped at {gen_time:%Y-%m-%d %H:%M:%S}, outside its certificate's validity")
    return gen_time


def _read_token(der):
    """The genTime of an RFC 3161 token, and the certificates it carries."""
    try:
        token = cms.ContentInfo.load(der, strict=True)
        content = token["content"]["encap_content_info"]
        if content["content_type"].dotted != TST_INFO:
            raise ValueError("not a time-stamp token")
        gen_time = tsp.TSTInfo.load(content["content"].contents)["gen_time"].native
        carried = [c.chosen for c in token["content"]["certificates"] if c.name == "certificate"]
    except Exception as e:
        raise ReleaseError(f"carries a time stamp that is not well-formed ({shown(type(e).__name__)})")
    return gen_time, carried


def stamped_at(signature):
    """When the signature's time stamp says it was made, unverified: what the
    manifest must say; None when it carries none."""
    return None if signature.token is None else _read_token(signature.token)[0]


def remove_signature(path, out, work):
    """out: path without its signature, as osslsigncode removes it."""
    log = Path(work) / "remove.log"
    if not run(["osslsigncode", "remove-signature", "-in", path, "-out", out], log=log, check=False):
        raise ReleaseError(f"cannot have its signature removed: {_why_not(log)}")


def time_text(when):
    """A time as the manifest writes it."""
    return None if when is None else when.astimezone(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")
