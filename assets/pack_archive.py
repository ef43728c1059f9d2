#!/usr/bin/python3
# Packs "quarn.data", the zip the editor reads its fonts from, and checks it the way the
# editor will read it.
# Usage: pack_archive.py OUTPUT NAME=FILE [NAME=FILE ...]
#
# The editor walks only the local headers, from the first octet, and reads the whole file
# into a 5 MiB block; so every size must stand in its local header (no data descriptors),
# and the archive must fit the block. Entries are stored, not deflated: a stored font is
# used in place inside that block, which lives as long as the process. Entries keep the
# order given and carry a fixed date, so the same inputs give the same octets.

import os
import struct
import sys
import zipfile

ARCHIVE_LIMIT = 5 * 1024 * 1024
FIXED_DATE = (1980, 1, 1, 0, 0, 0)
LOCAL_HEADER = struct.Struct("<IHHHHHIIIHH")
LOCAL_HEADER_SIGNATURE = 0x04034B50
FLAG_DATA_DESCRIPTOR = 0x8


def check(path, names):
    data = open(path, "rb").read()
    if len(data) > ARCHIVE_LIMIT:
        sys.exit(f"{path}: {len(data)} octets, more than the {ARCHIVE_LIMIT} the editor reads")
    position, found = 0, []
    while position + 4 <= len(data):
        fields = LOCAL_HEADER.unpack_from(data, position)
        if fields[0] != LOCAL_HEADER_SIGNATURE:
            break  # the central directory
        _, _, flags, method, _, _, _, compressed, uncompressed, name_count, extra_count = fields
        name = data[position + 30:position + 30 + name_count].decode("ascii")
        if flags & FLAG_DATA_DESCRIPTOR:
            sys.exit(f"{path}: entry {name} has its sizes in a data descriptor")
        if method != 0 or compressed != uncompressed:
            sys.exit(f"{path}: entry {name} is not stored")
        found.append(name)
        position += 30 + name_count + extra_count + compressed
    if found != names:
        sys.exit(f"{path}: the local headers list {found}, not {names}")


def main():
    if len(sys.argv) < 3:
        sys.exit("usage: pack_archive.py OUTPUT NAME=FILE [NAME=FILE ...]")
    output = sys.argv[1]
    entries = [argument.split("=", 1) for argument in sys.argv[2:]]
    temporary = output + ".part"
    with zipfile.ZipFile(temporary, "w", zipfile.ZIP_STORED) as archive:
        for name, source in entries:
            info = zipfile.ZipInfo(name, FIXED_DATE)
            info.compress_type = zipfile.ZIP_STORED
            info.create_system = 3
            info.external_attr = 0o100644 << 16
            with open(source, "rb") as f:
                archive.writestr(info, f.read())
    check(temporary, [name for name, _ in entries])
    os.replace(temporary, output)


if __name__ == "__main__":
    main()
