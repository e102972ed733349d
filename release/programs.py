"""What a release is: four programs, each by role and by the name its branding
gives it, and what each of them must be before anything else is asked of it."""
from dataclasses import dataclass
from pathlib import Path

import pefile

from .common import ReleaseError, shown
from .names import branding_values, plain_name_refusal

I386 = 0x14C  # IMAGE_FILE_MACHINE_I386
PE32 = 0x10B
GUI, CONSOLE = 2, 3  # IMAGE_SUBSYSTEM_WINDOWS_GUI, _CUI
_SUBSYSTEMS = {GUI: "a GUI program", CONSOLE: "a console program"}


@dataclass(frozen=True)
class Role:
    what: str  # as a message names it
    suffix: str  # after the exe name
    subsystem: int


LAUNCHER = Role("the launcher", ".exe", GUI)
ROLES = (LAUNCHER, Role("the doctor", "-doctor.exe", CONSOLE), Role("the uninstaller", "-uninstall.exe", GUI),
         Role("the installer", "-setup.exe", GUI))


@dataclass(frozen=True)
class Shape:
    """The release a manifest's branding makes."""
    name: str
    product: str
    company: str
    version: str
    host: str

    def programs(self):
        """Each program's file name, and its role."""
        return {self.name + role.suffix: role for role in ROLES}

    @property
    def uninstaller(self):
        return self.name + ROLES[2].suffix

    @property
    def address(self):
        """What the launcher opens, up to the path: the host is in it."""
        return f"https://{self.host}/"


def shape_of(manifest, what="manifest.json"):
    """The shape the manifest's options make; refuses a manifest whose own
    claims disagree with them."""
    values = branding_values(manifest.options)
    name = values["LAUNCHER_EXE_NAME"]
    why = plain_name_refusal(name + ".exe")
    if why:
        raise ReleaseError(f"{what} names the launcher '{shown(name)}', which {why}")
    shape = Shape(name=name, product=values["LAUNCHER_PRODUCT_NAME"], company=values["LAUNCHER_COMPANY"],
                  version=values["LAUNCHER_VERSION"], host=values["LAUNCHER_GAME_HOST"])
    for key, claim, built in (("version", manifest.version, shape.version), ("host", manifest.host, shape.host)):
        if claim != built:
            raise ReleaseError(f"{what} says {key} '{shown(claim)}', but its options build '{shown(built)}'")
    listed = [f.name for f in manifest.files]
    for name in listed:
        if name not in shape.programs():
            raise ReleaseError(f"{what} lists {name}, which is not one of the release's four programs ("
                               + ", ".join(shape.programs()) + ")")
    for name, role in shape.programs().items():
        if name not in listed:
            raise ReleaseError(f"{what} does not list {name}, {role.what}")
    return shape


def check_program(path, role, shape):
    """Refuses the file at path unless it is a program of role, branded as
    shape says."""
    try:
        data = Path(path).read_bytes()  # at most 2 GiB, and searched whole for the host
        pe = pefile.PE(data=data, fast_load=True)
    except Exception:  # pefile fails in its own ways on hostile headers
        raise ReleaseError("is not a Windows program")
    try:
        _check_headers(pe, role)
        if role is LAUNCHER and shape.address.encode("utf-16-le") not in data:
            raise ReleaseError(f"does not open {shape.address}, the host manifest.json names")
        pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
        _check_version(pe, shape)
    except ReleaseError:
        raise
    except Exception as e:
        raise ReleaseError(f"has headers or resources that are not well-formed ({shown(type(e).__name__)})")
    finally:
        pe.close()


def _check_headers(pe, role):
    header, optional = pe.FILE_HEADER, pe.OPTIONAL_HEADER
    if header.Machine != I386 or optional.Magic != PE32 or header.Characteristics & 0x2000:  # IMAGE_FILE_DLL
        raise ReleaseError("is not a 32-bit x86 program")
    if optional.Subsystem != role.subsystem:
        raise ReleaseError(f"is not {_SUBSYSTEMS[role.subsystem]}, as {role.what} is")
    if optional.CheckSum != pe.generate_checksum():
        raise ReleaseError("has a header checksum that is not its own")


def _check_version(pe, shape):
    fixed = getattr(pe, "VS_FIXEDFILEINFO", None)
    tables = [table for infos in getattr(pe, "FileInfo", []) for info in infos
              if getattr(info, "Key", b"") == b"StringFileInfo" for table in info.StringTable]
    if not fixed or not tables:
        raise ReleaseError("has no version resource")
    numbers = [int(n) for n in shape.version.split(".")]
    version = (numbers[0] << 16 | numbers[1], numbers[2] << 16 | numbers[3])
    for info in fixed:
        if (info.FileVersionMS, info.FileVersionLS) != version or (info.ProductVersionMS, info.ProductVersionLS) != version:
            raise ReleaseError(f"has another version than {shape.version} in its version resource")
    expected = {b"ProductName": shape.product, b"ProductVersion": shape.version,
                b"CompanyName": shape.company or None}
    for table in tables:
        for key, value in expected.items():
            held = table.entries.get(key)
            held = None if held is None else held.decode("utf-8", "replace")
            if held != value:
                raise ReleaseError(f"says {key.decode()} '{shown(held or '')}' in its version resource, manifest.json's "
                                   f"options '{shown(value or '')}'")
