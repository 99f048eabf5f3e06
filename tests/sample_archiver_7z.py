#!/usr/bin/env python3
"""Writes hostile 7z files for the sample archiver's tests.

usage: sample_archiver_7z.py KIND OUT [N]
  many OUT N        a list of contents declaring N empty entries, stored plainly
  many-packed OUT N the same list, packed with LZMA (a few KB for millions)
  fifo OUT MIB      a FIFO holding MIB MiB of zeros, then a file, packed with bzip2
  encrypted OUT     a list of contents packed with AES
"""
import bz2
import lzma
import struct
import sys
import zlib

SIGNATURE = b"7z\xbc\xaf\x27\x1c\x00\x04"
LZMA_PROPS = bytes([(2 * 5 + 0) * 9 + 3]) + struct.pack("<I", 1 << 20)


def num(v):
    """7z's variable-length number."""
    for n in range(8):
        if v < 1 << (8 * n + 7 - n):
            first = ((0xFF << (8 - n)) & 0xFF) | (v >> (8 * n))
            return bytes([first]) + (v & ((1 << (8 * n)) - 1)).to_bytes(n, "little")
    return b"\xff" + v.to_bytes(8, "little")


def streams_info(pack_pos, pack_size, coder, unpack_size):
    return (b"\x06" + num(pack_pos) + num(1) + b"\x09" + num(pack_size) + b"\x00"
            + b"\x07\x0b" + num(1) + b"\x00" + num(1) + coder
            + b"\x0c" + num(unpack_size) + b"\x00")


def lzma_coder():
    return b"\x23\x03\x01\x01" + num(len(LZMA_PROPS)) + LZMA_PROPS


def write(out, packed, header):
    tail = struct.pack("<QQI", len(packed), len(header), zlib.crc32(header))
    with open(out, "wb") as f:
        f.write(SIGNATURE + struct.pack("<I", zlib.crc32(tail)) + tail + packed + header)


def many_header(n):
    bits = b"\xff" * (n // 8) + (bytes([(0xFF << (8 - n % 8)) & 0xFF]) if n % 8 else b"")
    return b"\x01\x05" + num(n) + b"\x0e" + num(len(bits)) + bits + b"\x00\x00"


def encode_header(header, coder, packed):
    return b"\x17" + streams_info(0, len(packed), coder, len(header)) + b"\x00"


def main():
    kind, out = sys.argv[1], sys.argv[2]
    if kind == "many":
        write(out, b"", many_header(int(sys.argv[3])))
    elif kind == "many-packed":
        header = many_header(int(sys.argv[3]))
        filters = [{"id": lzma.FILTER_LZMA1, "dict_size": 1 << 20, "lc": 3, "lp": 0, "pb": 2}]
        packed = lzma.compress(header, format=lzma.FORMAT_RAW, filters=filters)
        write(out, packed, encode_header(header, lzma_coder(), packed))
    elif kind == "fifo":
        # A FIFO with data, then a file in the same solid stream, so that
        # reaching the file means decoding all of the FIFO's data.
        size = int(sys.argv[3]) << 20
        tail = b"after\n"
        c = bz2.BZ2Compressor(9)
        zeros = bytes(1 << 20)
        packed = b"".join(c.compress(zeros) for _ in range(size >> 20)) + c.compress(tail)
        packed += c.flush()
        names = "pipe\0after\0".encode("utf-16-le")
        attribs = [0x8000 | (0o010644 << 16), 0x8000 | (0o100644 << 16)]
        header = (b"\x01\x04"
                  + streams_info(0, len(packed), b"\x03\x04\x02\x02", size + len(tail))
                  + b"\x08\x0d" + num(2) + b"\x09" + num(size) + b"\x00\x00"
                  + b"\x05" + num(2)
                  + b"\x11" + num(1 + len(names)) + b"\x00" + names
                  + b"\x15" + num(2 + 8) + b"\x01\x00" + struct.pack("<II", *attribs)
                  + b"\x00\x00")
        write(out, packed, header)
    elif kind == "encrypted":
        packed = bytes(64)
        aes = b"\x24\x06\xf1\x07\x01" + num(2) + b"\x00\x00"
        write(out, packed, encode_header(bytes(100), aes, packed))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
