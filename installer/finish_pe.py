#!/usr/bin/env python3
"""Gives a file makensis made what signing would give it: its size padded
to a multiple of 8 bytes and the header checksum written. Removing a
signature then gives back these very bytes, so a signed installer can be
compared with a rebuilt unsigned one. An installer's own check covers only
its data, so bytes after it do no harm.

Usage: finish_pe.py FILE
"""
import sys

import pefile


def main(path):
    data = open(path, "rb").read()
    data += bytes(-len(data) % 8)
    pe = pefile.PE(data=data)
    pe.OPTIONAL_HEADER.CheckSum = pe.generate_checksum()
    open(path, "wb").write(pe.write())


if __name__ == "__main__":
    main(*sys.argv[1:])
