#!/usr/bin/env python3
"""Writes three benchmark archives, shrink.zip, reduce.zip and implode.zip,
each holding copies of every plain (not enciphered) entry of that method
group found in the given fixture archives, until the plain bytes reach the
target size; a group without such entries gets no archive. No tool here writes those methods, so the compressed data is
copied as it is, under new names.

usage: make_legacy_corpus.py OUT_FOLDER MEGABYTES FIXTURE.zip...
"""

import os
import struct
import sys
import zipfile

GROUPS = {"shrink": {1}, "reduce": {2, 3, 4, 5}, "implode": {6}}


def raw_entries(path):
    """(info, compressed bytes) of every legacy entry of an archive."""
    with open(path, "rb") as f:
        data = f.read()
    with zipfile.ZipFile(path) as z:
        for info in z.infolist():
            if info.compress_type not in range(1, 7) or info.flag_bits & 1:
                continue
            offset = info.header_offset
            name_len, extra_len = struct.unpack_from("<HH", data, offset + 26)
            start = offset + 30 + name_len + extra_len
            yield info, data[start:start + info.compress_size]


def write_archive(path, entries, target):
    central = b""
    count = 0
    plain = 0
    with open(path, "wb") as out:
        # An end record without Zip64 counts at most 65,535 entries.
        while plain < target and entries and count < 65535:
            for info, packed in entries[:65535 - count]:
                name = f"{count:06d}/{info.filename}".encode()
                fields = struct.pack("<HHHIIIIHH", 10, info.flag_bits, info.compress_type, 0x00210000,
                                     info.CRC, len(packed), info.file_size, len(name), 0)
                offset = out.tell()
                out.write(b"PK\x03\x04" + fields + name + packed)
                central += (b"PK\x01\x02" + struct.pack("<H", 10) + fields +
                            struct.pack("<HHHII", 0, 0, 0, 0x20, offset) + name)
                count += 1
                plain += info.file_size
        directory = out.tell()
        out.write(central)
        out.write(b"PK\x05\x06" + struct.pack("<HHHHIIH", 0, 0, count, count, len(central), directory, 0))
    return plain


def main():
    folder, megabytes, fixtures = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
    os.makedirs(folder, exist_ok=True)
    found = [entry for path in fixtures for entry in raw_entries(path)]
    for group, methods in GROUPS.items():
        entries = [(info, packed) for info, packed in found if info.compress_type in methods]
        if not entries:
            continue
        write_archive(os.path.join(folder, group + ".zip"), entries, megabytes * 1000000)


if __name__ == "__main__":
    main()
