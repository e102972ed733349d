#!/usr/bin/env python3
"""Points a linked 32-bit image's load-configuration directory at its
_load_config_used record, which GNU ld 2.40 leaves unpointed, and fixes the
header checksum. Deterministic, so builds stay byte-identical and a signed
exe still gives back the unsigned one.

Usage: load_config.py EXE MAP   (MAP: the link map, from -Wl,-Map)
"""
import re
import struct
import sys

import pefile

RECORD = "_load_config_used"  # as the map names it; i386 adds one more underscore for the linker
SIZE = 64


def main(exe, link_map):
    found = re.search(r"^\s+0x([0-9a-f]+)\s+_?" + RECORD + r"\s*$", open(link_map).read(), re.M)
    if not found:
        sys.exit(f"load_config.py: {RECORD} is not in {link_map}")
    pe = pefile.PE(exe)
    rva = int(found.group(1), 16) - pe.OPTIONAL_HEADER.ImageBase
    size, = struct.unpack("<I", pe.get_data(rva, 4))
    if size != SIZE:
        sys.exit(f"load_config.py: the record at {rva:#x} gives its size as {size}, not {SIZE}")
    directory = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG"]]
    directory.VirtualAddress, directory.Size = rva, SIZE
    patched = pefile.PE(data=bytes(pe.write()))
    pe.close()
    patched.OPTIONAL_HEADER.CheckSum = patched.generate_checksum()  # over the header as changed
    open(exe, "wb").write(patched.write())


if __name__ == "__main__":
    main(*sys.argv[1:])
