#!/usr/bin/env python3
"""Wraps a 2048-byte-sector ISO image into raw 2352-byte CD sectors.

  iso2raw.py [--ecc] mode1|mode2 ISO RAW

mode1:  sync (12) + header (4: BCD minute, second, frame of LBA+150, mode 1) + 2048 user data + 288 EDC/ECC
mode2:  sync (12) + header (mode 2) + subheader (8) + 2048 user data (Form 1) + 280 EDC/ECC
EDC/ECC are left zero: a reader of user data never looks at them. With --ecc a Mode 1 sector gets
them as a recorder writes them: the EDC (CRC-32 of sync, header and data, polynomial 0x8001801B
reflected) at 0x810, 8 zero bytes, and the Reed-Solomon P and Q parity at 0x81C and 0x8C8.
"""
import sys

SYNC = b"\x00" + b"\xff" * 10 + b"\x00"


def bcd(n):
    return ((n // 10) << 4) | (n % 10)


def header(lba, mode):
    a = lba + 150
    return bytes([bcd(a // 4500), bcd(a // 75 % 60), bcd(a % 75), mode])


def _edc_table():
    table = []
    for i in range(256):
        v = i
        for _ in range(8):
            v = (v >> 1) ^ 0xD8018001 if v & 1 else v >> 1
        table.append(v)
    return table


EDC = _edc_table()
# GF(2^8) with x^8 + x^4 + x^3 + x^2 + 1: doubling, and the inverse of multiplying by 3.
MUL2 = [((i << 1) ^ (0x11D if i & 0x80 else 0)) & 0xFF for i in range(256)]
DIV3 = [0] * 256
for _i in range(256):
    DIV3[_i ^ MUL2[_i]] = _i


def edc(data):
    v = 0
    for b in data:
        v = EDC[(v ^ b) & 0xFF] ^ (v >> 8)
    return v


def parity(sector, majors, minors, major_step, minor_step, dest):
    src = sector[12:]
    size = majors * minors
    for major in range(majors):
        at = (major >> 1) * major_step + (major & 1)
        a = b = 0
        for _ in range(minors):
            v = src[at]
            at += minor_step
            if at >= size:
                at -= size
            a = MUL2[a ^ v]
            b ^= v
        a = DIV3[MUL2[a] ^ b]
        sector[dest + major] = a
        sector[dest + major + majors] = a ^ b


def with_ecc(sector):
    s = bytearray(sector)
    s[0x810:0x814] = edc(s[:0x810]).to_bytes(4, "little")
    parity(s, 86, 24, 2, 86, 0x81C)
    parity(s, 52, 43, 86, 88, 0x8C8)
    return bytes(s)


def main():
    args = sys.argv[1:]
    ecc = "--ecc" in args
    if ecc:
        args.remove("--ecc")
    mode, src, dst = args
    with open(src, "rb") as f, open(dst, "wb") as out:
        lba = 0
        while True:
            data = f.read(2048)
            if not data:
                break
            data = data.ljust(2048, b"\0")
            if mode == "mode1":
                sector = SYNC + header(lba, 1) + data + bytes(288)
                out.write(with_ecc(sector) if ecc else sector)
            else:
                sub = bytes([0, 0, 0x08, 0]) * 2  # form 1 data subheader, written twice
                out.write(SYNC + header(lba, 2) + sub + data + bytes(280))
            lba += 1


if __name__ == "__main__":
    main()
