#!/usr/bin/env python3
"""Writes data/vrx4.fwp: the firmware image the simulated unit is updated with.

S3 records over 0xF80000..0xFEFFFF. The unit reads its identity from the
image: "T552-VRX4" at image offset 0x60000, the 8-character version text at
0x60020 and the 16-character date text at 0x60030. The rest is a small
deterministic "program" at the start of the image; everything else is blank.
"""
import sys

BASE = 0xF80000
VERSION = b"Ver.1.11"
DATE = b"2012/01/13"


def s3(address, data):
    body = bytes([len(data) + 5]) + address.to_bytes(4, "big") + data
    checksum = (~sum(body)) & 0xFF
    return "S3" + body.hex().upper() + "%02X" % checksum


def main(path):
    image = {}
    seed = 0x1234
    for offset in range(0x4000):
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        image[offset] = (seed >> 16) & 0xFF
    ident = b"T552-VRX4".ljust(0x20, b"\0") + VERSION.ljust(16, b" ") + DATE.ljust(16, b"\0")
    for i, b in enumerate(ident):
        image[0x60000 + i] = b
    lines = ["S0030000FC"]
    offsets = sorted(image)
    i = 0
    while i < len(offsets):
        start = offsets[i]
        chunk = bytearray()
        while i < len(offsets) and offsets[i] == start + len(chunk) and len(chunk) < 32:
            chunk.append(image[offsets[i]])
            i += 1
        lines.append(s3(BASE + start, bytes(chunk)))
    body = bytes([5]) + BASE.to_bytes(4, "big")
    lines.append("S7" + body.hex().upper() + "%02X" % ((~sum(body)) & 0xFF))
    with open(path, "w", newline="\r\n") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "data/vrx4.fwp")
