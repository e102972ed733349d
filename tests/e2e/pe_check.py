"""Checks of the shipped PE files, read with pefile (Debian's python3-pefile)."""
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


def checks(exe, console=False):
    """(name, passed, detail) for each property of a shipped exe: the
    launcher, or with console=True the doctor."""
    data = Path(exe).read_bytes()
    pe = pefile.PE(data=data)
    opt, head = pe.OPTIONAL_HEADER, pe.FILE_HEADER
    dlls, resources = imported_dlls(pe), resource_types(pe)
    dll_chars = opt.DllCharacteristics
    subsystem = CONSOLE if console else GUI
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
        ("ASLR mark", bool(dll_chars & DLL["IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE"]), f"{dll_chars:#x}"),
        ("DEP mark", bool(dll_chars & DLL["IMAGE_DLLCHARACTERISTICS_NX_COMPAT"]), f"{dll_chars:#x}"),
        ("relocations kept for ASLR", reloc.VirtualAddress != 0 and not head.Characteristics & 0x1,
         f"reloc dir {reloc.VirtualAddress:#x}, characteristics {head.Characteristics:#x}"),
    ]
    if not console:
        result += [
            ("icon resources", {RT["RT_ICON"], RT["RT_GROUP_ICON"]} <= resources, f"types {sorted(resources)}"),
            ("version resource", RT["RT_VERSION"] in resources, f"types {sorted(resources)}"),
            (f"at most {MAX_SIZE // 1024} KiB", len(data) <= MAX_SIZE, f"{len(data)} bytes"),
        ]
    return result


if __name__ == "__main__":
    import sys
    for name, ok, detail in checks(sys.argv[1], console="--console" in sys.argv[2:]):
        print(("ok   " if ok else "FAIL ") + name + ("" if ok else f" ({detail})"))
