#!/usr/bin/env python3
"""Prints the byte offset of the first payload block of an FFU file, its
block size and the number of payload bytes, as the store's table gives them."""
import struct
import sys


def round_up(value, unit):
    return value if unit == 0 else (value + unit - 1) // unit * unit


def main(path):
    with open(path, "rb") as f:
        data = f.read(32)
        f.seek(0, 2)
        size = f.tell()
        _, _, chunk_kb, _, catalog, hashes = struct.unpack_from("<I12sIIII", data, 0)
        image = round_up(32 + catalog + hashes, chunk_kb * 1024)
        _, _, manifest, image_chunk_kb = struct.unpack_from("<I12sII", read_at(f, image, 24), 0)
        store = round_up(image + 24 + manifest, image_chunk_kb * 1024)
        header = read_at(f, store, 248)
        block_size, entry_count = struct.unpack_from("<II", header, 204)
        validation = struct.unpack_from("<I", header, 220)[0]
        position = store + 248 + validation
        for _ in range(entry_count):
            locations = struct.unpack("<I", read_at(f, position, 4))[0]
            position += 8 + 8 * locations
        payload = round_up(position, block_size)
        print(payload, block_size, size - payload)


def read_at(f, offset, length):
    f.seek(offset)
    return f.read(length)


if __name__ == "__main__":
    main(sys.argv[1])
