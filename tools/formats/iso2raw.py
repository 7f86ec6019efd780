#!/usr/bin/env python3
"""Wraps a 2048-byte-sector ISO image into raw 2352-byte CD sectors.

mode1:  sync (12) + header (4: BCD minute, second, frame of LBA+150, mode 1) + 2048 user data + 288 EDC/ECC
mode2:  sync (12) + header (mode 2) + subheader (8) + 2048 user data (Form 1) + 280 EDC/ECC
EDC/ECC are left zero: a reader of user data never looks at them.
"""
import sys

SYNC = b"\x00" + b"\xff" * 10 + b"\x00"


def bcd(n):
    return ((n // 10) << 4) | (n % 10)


def header(lba, mode):
    a = lba + 150
    return bytes([bcd(a // 4500), bcd(a // 75 % 60), bcd(a % 75), mode])


def main():
    mode, src, dst = sys.argv[1], sys.argv[2], sys.argv[3]
    with open(src, "rb") as f, open(dst, "wb") as out:
        lba = 0
        while True:
            data = f.read(2048)
            if not data:
                break
            data = data.ljust(2048, b"\0")
            if mode == "mode1":
                out.write(SYNC + header(lba, 1) + data + bytes(288))
            else:
                sub = bytes([0, 0, 0x08, 0]) * 2  # form 1 data subheader, written twice
                out.write(SYNC + header(lba, 2) + sub + data + bytes(280))
            lba += 1


if __name__ == "__main__":
    main()
