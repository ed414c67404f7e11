#!/usr/bin/env python3
"""Writes a ZIP archive that claims far more than it holds.

Usage: lying_zip.py OUT COUNT

OUT holds small.txt ("fine") and COUNT entries giantN.bin of 13 bytes each, every one declaring
almost 4 GiB in the central directory and in its local header: with 4096 of them, 16 TiB, more
than any disk of a test machine holds.
"""
import struct
import sys
import zipfile

DECLARED = 0xFFFFFFF0


def main():
    out, count = sys.argv[1], int(sys.argv[2])
    with zipfile.ZipFile(out, "w") as z:
        z.writestr("small.txt", b"fine")
        for n in range(count):
            z.writestr("giant%d.bin" % n, b"tiny in truth")
    data = bytearray(open(out, "rb").read())
    at = struct.unpack_from("<I", data, data.rfind(b"PK\x05\x06") + 16)[0]
    while data[at:at + 4] == b"PK\x01\x02":
        name_length, extra_length, comment_length = struct.unpack_from("<HHH", data, at + 28)
        if data[at + 46:at + 46 + name_length].startswith(b"giant"):
            local = struct.unpack_from("<I", data, at + 42)[0]
            struct.pack_into("<I", data, at + 24, DECLARED)
            struct.pack_into("<I", data, local + 22, DECLARED)
        at += 46 + name_length + extra_length + comment_length
    open(out, "wb").write(data)


if __name__ == "__main__":
    main()
