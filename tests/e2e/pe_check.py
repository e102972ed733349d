"""Checks of the shipped PE files, read with pefile (Debian's python3-pefile)."""
import json
import re
import struct
from pathlib import Path

import pefile

MAX_SIZE = 128 * 1024
ALLOWED_DLLS = {"kernel32.dll", "advapi32.dll", "shell32.dll", "user32.dll", "msvcrt.dll"}
RT = pefile.RESOURCE_TYPE
DLL = pefile.DLL_CHARACTERISTICS
GUI, CONSOLE = 2, 3


def resource_types(pe):
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return set()
    return {entry.id for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries}


def imported_dlls(pe):
    return [entry.dll.decode("ascii").lower() for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]


# Calls the programs make where Windows has them, found at run time: Windows
# 2000's kernel32 has none of them, so an import of one would stop the
# program from starting there.
LATER_THAN_2000 = {b"IsWow64Process2", b"IsWow64Process", b"GetNativeSystemInfo", b"SetDefaultDllDirectories",
                   b"AddDllDirectory", b"SetDllDirectoryW", b"HeapSetInformation", b"SetProcessDEPPolicy",
                   b"GetProcessDEPPolicy"}


def imported_later_calls(pe):
    return sorted(i.name.decode("ascii") for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])
                  for i in entry.imports if i.name in LATER_THAN_2000)


# An x86 image registers an SEH handler by reading or writing the head of
# the handler chain at fs:[0]: mov eax/moffs, mov r32/r/m32 with a bare
# displacement of 0, or push fs:[0].
FS0_ACCESS = re.compile(rb"\x64(?:[\xA1\xA3]|[\x89\x8B][\x05\x0D\x15\x1D\x25\x2D\x35\x3D]|\xFF\x35)\x00\x00\x00\x00")


def executable(section):
    return bool(section.Characteristics & pefile.SECTION_CHARACTERISTICS["IMAGE_SCN_MEM_EXECUTE"])


def seh_chain_accesses(pe):
    return sum(len(FS0_ACCESS.findall(s.get_data())) for s in pe.sections if executable(s))


# The stack guard's value before it is seeded (startup/win32_stack_guard.cpp).
GUARD_INITIAL = struct.pack("<I", 0xBB40E64E)


def stack_guard_references(pe):
    """How many times code names the stack guard's address. The seeding
    writes it once; every protected function reads it on entry and exit."""
    code = [s.get_data() for s in pe.sections if executable(s)]
    most = 0
    for section in (s for s in pe.sections if not executable(s)):
        data = section.get_data()
        at = data.find(GUARD_INITIAL)
        while at >= 0:
            address = struct.pack("<I", pe.OPTIONAL_HEADER.ImageBase + section.VirtualAddress + at)
            most = max(most, sum(c.count(address) for c in code))
            at = data.find(GUARD_INITIAL, at + 1)
    return most


LOAD_CONFIG_SIZE = 64  # up to the security cookie; what Windows XP requires of a 32-bit image
LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x800


def dependent_load_flags(pe):
    """The load configuration's DependentLoadFlags, or None when the image
    has no load configuration or one too short to hold them."""
    entry = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG"]]
    if entry.VirtualAddress == 0 or entry.Size != LOAD_CONFIG_SIZE:
        return None
    record = pe.get_data(entry.VirtualAddress, LOAD_CONFIG_SIZE)
    size, = struct.unpack_from("<I", record, 0)
    return struct.unpack_from("<H", record, 54)[0] if size == LOAD_CONFIG_SIZE else None


def version_strings(pe):
    strings = {}
    for info in getattr(pe, "FileInfo", []):
        for entry in info:
            for table in getattr(entry, "StringTable", []):
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    return strings


def branding_checks(pe, exe, branding):
    """The version resource and the name read back, against what the build configured."""
    fixed = pe.VS_FIXEDFILEINFO[0]
    numbers = [fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF, fixed.FileVersionLS >> 16,
               fixed.FileVersionLS & 0xFFFF]
    strings = version_strings(pe)
    stamp = branding.get("source_date_epoch") or "0"
    return [
        ("file name as configured", Path(exe).name == branding["launcher"], f"{Path(exe).name}"),
        ("version strings as configured", strings == branding["strings"], f"{strings} != {branding['strings']}"),
        ("version numbers as configured", ".".join(map(str, numbers)) == branding["version"], f"{numbers}"),
        ("time stamp from the source, not the clock", pe.FILE_HEADER.TimeDateStamp == int(stamp),
         f"{pe.FILE_HEADER.TimeDateStamp} != {stamp}"),
    ]


def checks(exe, console=False):
    """(name, passed, detail) for each property of a shipped exe: the
    launcher, or with console=True the doctor."""
    data = Path(exe).read_bytes()
    pe = pefile.PE(data=data)
    opt, head = pe.OPTIONAL_HEADER, pe.FILE_HEADER
    dlls, resources = imported_dlls(pe), resource_types(pe)
    dll_chars = opt.DllCharacteristics
    subsystem = CONSOLE if console else GUI
    seh_accesses, guard_references = seh_chain_accesses(pe), stack_guard_references(pe)
    delay = opt.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT"]]
    reloc = opt.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
    result = [
        ("PE32 for i386", opt.Magic == 0x10B and head.Machine == 0x14C, f"magic {opt.Magic:#x}, machine {head.Machine:#x}"),
        (("console" if console else "GUI") + " subsystem", opt.Subsystem == subsystem, f"subsystem {opt.Subsystem}"),
        ("subsystem version 5.0", (opt.MajorSubsystemVersion, opt.MinorSubsystemVersion) == (5, 0),
         f"{opt.MajorSubsystemVersion}.{opt.MinorSubsystemVersion}"),
        ("OS version 5.0", (opt.MajorOperatingSystemVersion, opt.MinorOperatingSystemVersion) == (5, 0),
         f"{opt.MajorOperatingSystemVersion}.{opt.MinorOperatingSystemVersion}"),
        ("no manifest", RT["RT_MANIFEST"] not in resources, f"types {sorted(resources)}"),
        ("imports only the five system DLLs", bool(dlls) and set(dlls) <= ALLOWED_DLLS, f"{dlls}"),
        ("no delay-loaded imports", delay.VirtualAddress == 0, f"{delay.VirtualAddress:#x}"),
        ("imports no call Windows 2000 lacks", not imported_later_calls(pe), f"{imported_later_calls(pe)}"),
        ("ASLR mark", bool(dll_chars & DLL["IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE"]), f"{dll_chars:#x}"),
        ("DEP mark", bool(dll_chars & DLL["IMAGE_DLLCHARACTERISTICS_NX_COMPAT"]), f"{dll_chars:#x}"),
        ("relocations kept for ASLR", reloc.VirtualAddress != 0 and not head.Characteristics & 0x1,
         f"reloc dir {reloc.VirtualAddress:#x}, characteristics {head.Characteristics:#x}"),
        ("NO_SEH mark", bool(dll_chars & DLL["IMAGE_DLLCHARACTERISTICS_NO_SEH"]), f"{dll_chars:#x}"),
        ("no SEH handler registered (no fs:[0] access in code)", seh_accesses == 0, f"{seh_accesses} accesses"),
        ("Terminal Server aware", bool(dll_chars & DLL["IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE"]),
         f"{dll_chars:#x}"),
        ("stack protector: protected functions check the guard", guard_references > 1,
         f"the guard is named {guard_references} time(s) in code"),
        ("load configuration: imports resolved from the system folder (DependentLoadFlags 0x800)",
         dependent_load_flags(pe) == LOAD_LIBRARY_SEARCH_SYSTEM32, f"{dependent_load_flags(pe)}"),
        ("header checksum correct", opt.CheckSum == pe.generate_checksum(),
         f"{opt.CheckSum:#x} != {pe.generate_checksum():#x}"),
    ]
    if not console:
        result += [
            ("icon resources", {RT["RT_ICON"], RT["RT_GROUP_ICON"]} <= resources, f"types {sorted(resources)}"),
            ("version resource", RT["RT_VERSION"] in resources, f"types {sorted(resources)}"),
            (f"at most {MAX_SIZE // 1024} KiB", len(data) <= MAX_SIZE, f"{len(data)} bytes"),
        ]
        branding = Path(exe).parent / "branding.json"
        if branding.exists():
            result += branding_checks(pe, exe, json.loads(branding.read_text(encoding="utf-8")))
    return result


if __name__ == "__main__":
    import sys
    for name, ok, detail in checks(sys.argv[1], console="--console" in sys.argv[2:]):
        print(("ok   " if ok else "FAIL ") + name + ("" if ok else f" ({detail})"))
