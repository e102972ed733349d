"""What an NSIS installer of ours puts where: the files its File instructions
extract, read from its payload as the structure it is. Only the one kind the
release tool builds is read (Unicode NSIS 3, solid LZMA); anything else, and
anything malformed, is refused."""
import lzma
import struct

from .common import ReleaseError

SIGNATURE = b"\xef\xbe\xad\xdeNullsoftInst"  # firstheader's siginfo and magic, at a 512-byte boundary
FIRST_HEADER = 28
ENTRIES, STRINGS = 2, 3  # blocks of the header
ENTRY = 28  # which, and six parameters
EXTRACT_FILE = 20  # EW_EXTRACTFILE: overwrite flag, name, data offset, time (two), allow skipping
INSTDIR = 21  # the variable $INSTDIR
VAR_CODE = 3  # in a Unicode string: a variable follows, as one coded unit
CODES = (1, 2, 3, 4)  # language string, shell folder, variable, skip: each followed by one unit
LIMIT = 256 << 20  # more than any installer of ours unpacks to


def extracted_files(data):
    """Each file the installer extracts, as (its name, with $INSTDIR for the
    install folder and $? for anything else the script computes; its bytes)."""
    start = _first_header(data)
    header_size, following = struct.unpack_from("<ii", data, start + 20)
    if header_size <= 0 or following <= FIRST_HEADER or start + following > len(data):
        raise ReleaseError("is an installer whose header gives sizes outside the file")
    stream = _unpack(data[start + FIRST_HEADER:start + following])
    if len(stream) < 4 or struct.unpack_from("<I", stream)[0] != header_size or len(stream) < 4 + header_size:
        raise ReleaseError("is an installer whose unpacked header is not the size it says")
    header, datablock = stream[4:4 + header_size], stream[4 + header_size:]
    entries, count = _block(header, ENTRIES)
    strings, _ = _block(header, STRINGS)
    if count < 0 or entries + count * ENTRY > len(header):
        raise ReleaseError("is an installer whose instructions lie outside its header")
    found = []
    for n in range(count):
        which, _, name, offset = struct.unpack_from("<iiii", header, entries + n * ENTRY)
        if which == EXTRACT_FILE:
            found.append((_string(header, strings, name), _data(datablock, offset)))
    return found


def _first_header(data):
    for start in range(0, len(data) - FIRST_HEADER, 512):
        if data[start + 4:start + 20] == SIGNATURE:
            return start
    raise ReleaseError("is not an NSIS installer")


def _unpack(packed):
    """A solid LZMA stream: five bytes of properties, then raw LZMA."""
    if len(packed) < 5 or packed[0] >= 9 * 5 * 5:
        raise ReleaseError("is an installer whose payload is not solid LZMA")
    properties, dictionary = packed[0], struct.unpack_from("<I", packed, 1)[0]
    lc, lp, pb = properties % 9, properties // 9 % 5, properties // 45
    try:
        unpacker = lzma.LZMADecompressor(lzma.FORMAT_RAW, filters=[
            {"id": lzma.FILTER_LZMA1, "dict_size": dictionary, "lc": lc, "lp": lp, "pb": pb}])
        stream = unpacker.decompress(packed[5:], max_length=LIMIT)
    except (lzma.LZMAError, ValueError) as e:
        raise ReleaseError(f"is an installer whose payload does not unpack ({e})")
    if not unpacker.eof and not unpacker.needs_input:
        raise ReleaseError(f"is an installer whose payload unpacks to more than {LIMIT} bytes")
    return stream


def _block(header, index):
    if 4 + 8 * (index + 1) > len(header):
        raise ReleaseError("is an installer whose header is cut short")
    return struct.unpack_from("<ii", header, 4 + 8 * index)


def _string(header, strings, index):
    """The Unicode string at index (in UTF-16 units from the string table)."""
    at = strings + 2 * index
    if index < 0 or strings < 0:
        raise ReleaseError("is an installer whose file names lie outside its header")
    out = []
    while True:
        if at + 2 > len(header):
            raise ReleaseError("is an installer whose file names lie outside its header")
        unit = struct.unpack_from("<H", header, at)[0]
        at += 2
        if unit == 0:
            return "".join(out)
        if unit in CODES:
            if at + 2 > len(header):
                raise ReleaseError("is an installer whose file names lie outside its header")
            coded = struct.unpack_from("<H", header, at)[0]
            at += 2
            variable = (coded & 0x7F) | ((coded >> 1) & 0x3F80)
            out.append("$INSTDIR" if unit == VAR_CODE and variable == INSTDIR else "$?")
        else:
            out.append(chr(unit))


def _data(datablock, offset):
    """The file at offset in the data block: its length, then its bytes."""
    if offset < 0 or offset + 4 > len(datablock):
        raise ReleaseError("is an installer whose files lie outside its payload")
    size = struct.unpack_from("<I", datablock, offset)[0]
    if size & 0x80000000 or offset + 4 + size > len(datablock):
        raise ReleaseError("is an installer whose files lie outside its payload")
    return datablock[offset + 4:offset + 4 + size]
