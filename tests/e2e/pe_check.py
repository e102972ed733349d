"""Checks of the shipped PE file, read straight from its headers."""
import struct
from pathlib import Path

MAX_SIZE = 128 * 1024
ALLOWED_DLLS = {"kernel32.dll", "advapi32.dll", "shell32.dll", "user32.dll", "msvcrt.dll"}
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24


class Pe:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        assert data[pe:pe + 4] == b"PE\0\0", "no PE signature"
        self.machine, self.sections_count = struct.unpack_from("<HH", data, pe + 4)
        opt_size = struct.unpack_from("<H", data, pe + 20)[0]
        self.characteristics = struct.unpack_from("<H", data, pe + 22)[0]
        opt = pe + 24
        self.magic = struct.unpack_from("<H", data, opt)[0]
        (self.os_major, self.os_minor) = struct.unpack_from("<HH", data, opt + 40)
        (self.subsys_major, self.subsys_minor) = struct.unpack_from("<HH", data, opt + 48)
        self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", data, opt + 68)
        count = struct.unpack_from("<I", data, opt + 92)[0]
        self.directories = [struct.unpack_from("<II", data, opt + 96 + 8 * i) for i in range(count)]
        self.sections = []
        for i in range(self.sections_count):
            base = opt + opt_size + 40 * i
            vsize, va, raw_size, raw = struct.unpack_from("<IIII", data, base + 8)
            self.sections.append((va, max(vsize, raw_size), raw))

    def offset(self, rva):
        for va, size, raw in self.sections:
            if va <= rva < va + size:
                return raw + rva - va
        raise ValueError(f"RVA {rva:#x} is in no section")

    def cstring(self, rva):
        off = self.offset(rva)
        return self.data[off:self.data.index(b"\0", off)].decode("ascii")

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def imported_dlls(self):
        rva, _ = self.directory(1)
        names, off = [], self.offset(rva) if rva else None
        while off is not None:
            fields = struct.unpack_from("<IIIII", self.data, off)
            if not any(fields):
                break
            names.append(self.cstring(fields[3]).lower())
            off += 20
        return names

    def resource_types(self):
        rva, _ = self.directory(2)
        if not rva:
            return set()
        off = self.offset(rva)
        named, ids = struct.unpack_from("<HH", self.data, off + 12)
        return {struct.unpack_from("<I", self.data, off + 16 + 8 * i)[0] for i in range(named, named + ids)}


def checks(exe):
    """(name, passed, detail) for each property of the shipped exe."""
    data = Path(exe).read_bytes()
    pe = Pe(data)
    dlls = pe.imported_dlls()
    resources = pe.resource_types()
    return [
        ("PE32 for i386", pe.magic == 0x10B and pe.machine == 0x14C, f"magic {pe.magic:#x}, machine {pe.machine:#x}"),
        ("GUI subsystem", pe.subsystem == 2, f"subsystem {pe.subsystem}"),
        ("subsystem version 5.0", (pe.subsys_major, pe.subsys_minor) == (5, 0), f"{pe.subsys_major}.{pe.subsys_minor}"),
        ("OS version 5.0", (pe.os_major, pe.os_minor) == (5, 0), f"{pe.os_major}.{pe.os_minor}"),
        ("icon resources", {RT_ICON, RT_GROUP_ICON} <= resources, f"types {sorted(resources)}"),
        ("version resource", RT_VERSION in resources, f"types {sorted(resources)}"),
        ("no manifest", RT_MANIFEST not in resources, f"types {sorted(resources)}"),
        ("imports only the five system DLLs", bool(dlls) and set(dlls) <= ALLOWED_DLLS, f"{dlls}"),
        ("no delay-loaded imports", pe.directory(13) == (0, 0), f"{pe.directory(13)}"),
        ("ASLR mark", bool(pe.dll_characteristics & 0x40), f"{pe.dll_characteristics:#x}"),
        ("DEP mark", bool(pe.dll_characteristics & 0x100), f"{pe.dll_characteristics:#x}"),
        (f"at most {MAX_SIZE // 1024} KiB", len(data) <= MAX_SIZE, f"{len(data)} bytes"),
        ("relocations kept for ASLR", pe.directory(5)[0] != 0 and not pe.characteristics & 0x1,
         f"reloc dir {pe.directory(5)}, characteristics {pe.characteristics:#x}"),
    ]


if __name__ == "__main__":
    import sys
    for name, ok, detail in checks(sys.argv[1]):
        print(("ok   " if ok else "FAIL ") + name + ("" if ok else f" ({detail})"))
