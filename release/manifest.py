"""manifest.json, what a release says about itself, and SHA256SUMS, the same
hashes for people. A reader treats both as hostile: no key it does not know,
none twice, each value of its type, names, hashes, commits and times of their
form. What the values claim about the files (four programs and their
branding) is checked against the files, in programs.py and verify.py."""
import dataclasses
import hashlib
import json
import re
import typing
from dataclasses import dataclass, field
from typing import Optional

from .common import ReleaseError, shown
from .names import plain_name_refusal

FORMAT = 1
MANIFEST = "manifest.json"
OLD_MANIFEST = "manifest.txt"  # what releases wrote before this format
SUMS = "SHA256SUMS"
MAX_BYTES = 1 << 20  # a manifest is a few kilobytes

_SHA256 = re.compile(r"[0-9a-f]{64}", re.ASCII)
_COMMIT = re.compile(r"[0-9a-f]{40}", re.ASCII)
_TIME = re.compile(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ", re.ASCII)


def _shape(pattern, what):
    def check(value):
        return None if pattern.fullmatch(value) else f"is not {what}"
    return check


def _exe_name(name):
    why = plain_name_refusal(name)
    return why or (None if name.endswith(".exe") else "does not end in .exe")


def _game_path(path):
    # Compared with a listing of the publisher's folder, never opened.
    parts = path.split("/")
    if any(part in ("", ".", "..") for part in parts) or any(ord(ch) < 0x20 for ch in path):
        return "is not a relative path of plain folder names"
    return None


def _icon_name(name):
    why = plain_name_refusal(name)
    return why or (None if name.endswith(".ico") else "does not end in .ico")


def _check(fn, **default):
    return field(metadata={"check": fn}, **default)


_SHA256_CHECK = _shape(_SHA256, "a SHA-256 (64 lower-case hex digits)")


@dataclass(frozen=True)
class GameFile:
    path: str = _check(_game_path)  # relative, "/" between folders
    sha256: str = _check(_SHA256_CHECK)


@dataclass(frozen=True)
class Signer:
    subject: str
    sha256: str = _check(_SHA256_CHECK)  # of the signing certificate (DER)


@dataclass(frozen=True)
class ShippedFile:
    name: str = _check(_exe_name)
    size: int
    sha256: str = _check(_SHA256_CHECK)
    unsigned_sha256: str = _check(_SHA256_CHECK)  # the file with its signature removed
    time_stamp: Optional[str] = _check(_shape(_TIME, "a time as YYYY-MM-DDTHH:MM:SSZ"))  # the token's genTime


@dataclass(frozen=True)
class ListedFile:
    """A file the release carries for a rebuild: the publisher's icon, from
    outside the commit."""
    name: str = _check(_icon_name)
    size: int
    sha256: str = _check(_SHA256_CHECK)


@dataclass(frozen=True)
class Manifest:
    format: int
    version: str
    commit: Optional[str] = _check(_shape(_COMMIT, "a commit (40 lower-case hex digits)"))
    uncommitted_changes: bool
    host: str
    source_date_epoch: Optional[int]
    makensis: str
    options: list[str]
    game_files: list[GameFile]
    signer: Optional[Signer]
    files: list[ShippedFile]
    icon: Optional[ListedFile] = None  # older manifests have no such key

    def file(self, name):
        return next(f for f in self.files if f.name == name)

    @property
    def listed(self):
        """Every file of the release but the manifest and SHA256SUMS."""
        return [*self.files, *([self.icon] if self.icon else [])]

    def dumps(self):
        return json.dumps(dataclasses.asdict(self), indent=2, ensure_ascii=False) + "\n"


def loads(data):
    """The manifest in data (bytes), or ReleaseError saying what is wrong."""
    if len(data) > MAX_BYTES:
        raise ReleaseError(f"{MANIFEST} is larger than {MAX_BYTES} bytes")
    try:
        document = json.loads(data.decode("utf-8"), object_pairs_hook=_no_duplicates, parse_constant=_no_constant)
    except UnicodeDecodeError:
        raise ReleaseError(f"{MANIFEST} is not UTF-8")
    except ValueError as e:
        raise ReleaseError(f"{MANIFEST} is not JSON: {shown(e)}")
    except RecursionError:
        raise ReleaseError(f"{MANIFEST} nests its values deeper than a manifest does")
    except MemoryError:
        raise ReleaseError(f"{MANIFEST} takes more memory to read than a manifest does")
    if not isinstance(document, dict):
        raise ReleaseError(f"{MANIFEST} is not a JSON object")
    if document.get("format") != FORMAT or type(document.get("format")) is not int:
        raise ReleaseError(f"{MANIFEST} is not format {FORMAT}, which this tool reads")
    manifest = _load(Manifest, document, "")
    seen = set()
    for f in manifest.listed:
        if f.name.lower() in seen:
            raise ReleaseError(f"{MANIFEST} lists {f.name} twice (Windows ignores case)")
        seen.add(f.name.lower())
    if not manifest.files:
        raise ReleaseError(f"{MANIFEST} lists no file")
    return manifest


def _no_duplicates(pairs):
    keys = [k for k, _ in pairs]
    for k in keys:
        if keys.count(k) > 1:
            raise ReleaseError(f"{MANIFEST} has the key '{shown(k)}' twice")
    return dict(pairs)


def _no_constant(name):
    raise ReleaseError(f"{MANIFEST} holds {name}, which is not JSON")


def _load(kind, value, where):
    """value, checked against the type kind; where names it in a refusal."""
    if typing.get_origin(kind) is typing.Union:  # Optional[X]
        return None if value is None else _load(typing.get_args(kind)[0], value, where)
    if typing.get_origin(kind) is list:
        if not isinstance(value, list):
            raise ReleaseError(f"{MANIFEST}: {where} is not a list")
        return [_load(typing.get_args(kind)[0], item, f"{where}[{i}]") for i, item in enumerate(value)]
    if dataclasses.is_dataclass(kind):
        if not isinstance(value, dict):
            raise ReleaseError(f"{MANIFEST}: {where or 'the document'} is not an object")
        fields = {f.name: f for f in dataclasses.fields(kind)}
        for key in value:
            if key not in fields:
                raise ReleaseError(f"{MANIFEST}: {where + '.' if where else ''}{shown(key)} is not a key it may have")
        hints = typing.get_type_hints(kind)
        loaded = {}
        for name, f in fields.items():
            at = f"{where}.{name}" if where else name
            if name not in value:
                if f.default is dataclasses.MISSING:
                    raise ReleaseError(f"{MANIFEST}: {at} is missing")
                loaded[name] = f.default
                continue
            loaded[name] = _load(hints[name], value[name], at)
            check = f.metadata.get("check")
            why = check(loaded[name]) if check and loaded[name] is not None else None
            if why:
                raise ReleaseError(f"{MANIFEST}: {at} ('{shown(loaded[name])}') {why}")
        return kind(**loaded)
    if type(value) is not kind:  # bool is an int to isinstance
        raise ReleaseError(f"{MANIFEST}: {where} is not {_TYPE_NAMES[kind]}")
    if kind is int and value < 0:
        raise ReleaseError(f"{MANIFEST}: {where} is negative")
    return value


_TYPE_NAMES = {str: "a string", int: "a whole number", bool: "true or false"}


# --- SHA256SUMS ---------------------------------------------------------------
def sums_text(manifest):
    """SHA256SUMS, as sha256sum writes it."""
    return "".join(f"{f.sha256}  {f.name}\n" for f in manifest.listed)


_SUMS_LINE = re.compile(r"([0-9a-f]{64}) [ *]([^\r\n]*)", re.ASCII)


def check_sums(data, manifest):
    """Refuses a SHA256SUMS that does not say exactly what the manifest says,
    read here line by line: never handed to sha256sum, which would open
    whatever it names."""
    if len(data) > MAX_BYTES:
        raise ReleaseError(f"{SUMS} is larger than {MAX_BYTES} bytes")
    try:
        text = data.decode("ascii")
    except UnicodeDecodeError:
        raise ReleaseError(f"{SUMS} holds a byte that is not ASCII")
    lines = text.split("\n")
    if lines[-1] == "":
        lines.pop()  # the newline that ends the last line
    listed = {f.name: f.sha256 for f in manifest.listed}
    seen = set()
    for number, line in enumerate(lines, 1):
        match = _SUMS_LINE.fullmatch(line)
        if not match:
            raise ReleaseError(f"{SUMS} line {number} is not 'SHA-256, two spaces, name': '{shown(line)}'")
        digest, name = match.groups()
        if name not in listed:
            raise ReleaseError(f"{SUMS} line {number} names '{shown(name)}', which {MANIFEST} does not list")
        if name in seen:
            raise ReleaseError(f"{SUMS} names {name} twice")
        seen.add(name)
        if digest != listed[name]:
            raise ReleaseError(f"{SUMS} gives {name} another hash than {MANIFEST}")
    missing = sorted(set(listed) - seen)
    if missing:
        raise ReleaseError(f"{SUMS} does not name {', '.join(missing)}")


def file_sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()
