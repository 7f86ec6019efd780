#!/usr/bin/env python3
"""Writes a CD CHD compressed with "cdzs" (Zstandard) from an uncompressed one that chdman made
(createcd -c none): Debian's chdman predates that codec.

  make_chd_cdzs.py PLAIN.chd OUT.chd

Every hunk is compressed as chdman's CD codecs do: a bit a frame for the sectors whose sync and
P/Q parity were valid and are left out (zeroed), the length of the compressed sector data, then
the sector data and the subcode compressed apart, by the zstd program. A hunk that would not get
smaller is stored as it is. The map is written with a Huffman table of 16 codes of 4 bits, which
code each kind as its own number; the metadata is copied.
"""
import binascii
import os
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "formats"))
import iso2raw  # noqa: E402

SYNC = iso2raw.SYNC
FRAME, SECTOR, SUB = 2448, 2352, 96
KIND_CODEC0, KIND_NONE = 0, 4


def crc16(data):
    # CRC-16 with polynomial 0x1021 from 0xFFFF, most significant bit first.
    return binascii.crc_hqx(data, 0xFFFF)


class Bits:
    def __init__(self):
        self.out, self.acc, self.n = bytearray(), 0, 0

    def put(self, value, count):
        for i in range(count - 1, -1, -1):
            self.acc = self.acc << 1 | (value >> i & 1)
            self.n += 1
            if self.n == 8:
                self.out.append(self.acc)
                self.acc, self.n = 0, 0

    def bytes(self):
        return bytes(self.out) + (bytes([self.acc << (8 - self.n)]) if self.n else b"")


def parity_valid(sector):
    if sector[:12] != SYNC:
        return False
    again = bytearray(sector)
    iso2raw.parity(again, 86, 24, 2, 86, 0x81C)
    iso2raw.parity(again, 52, 43, 86, 88, 0x8C8)
    return again[0x81C:0x930] == sector[0x81C:0x930]


def zstd_all(pieces, work):
    names = []
    for i, data in enumerate(pieces):
        name = os.path.join(work, f"{i}")
        with open(name, "wb") as f:
            f.write(data)
        names.append(name)
    subprocess.run(["zstd", "-q", "-19", "-f"] + names, check=True)
    out = []
    for name in names:
        with open(name + ".zst", "rb") as f:
            out.append(f.read())
    return out


def main():
    src, dst = sys.argv[1], sys.argv[2]
    with open(src, "rb") as f:
        chd = f.read()
    if chd[:8] != b"MComprHD" or struct.unpack(">I", chd[12:16])[0] != 5 or chd[16:20] != bytes(4):
        sys.exit(f"{src}: not an uncompressed CHD of version 5")
    logical, map_at, meta_at, hunk_bytes, unit_bytes = struct.unpack(">QQQII", chd[32:64])
    hunks = (logical + hunk_bytes - 1) // hunk_bytes
    frames = hunk_bytes // FRAME

    metadata = []
    at = meta_at
    while at:
        tag, flags_len, nxt = struct.unpack(">IIQ", chd[at:at + 16])
        metadata.append((tag, flags_len, chd[at + 16:at + 16 + (flags_len & 0xFFFFFF)]))
        at = nxt

    raw, heads, pieces = [], [], []
    for h in range(hunks):
        offset = struct.unpack(">I", chd[map_at + 4 * h:map_at + 4 * h + 4])[0] * hunk_bytes
        data = chd[offset:offset + hunk_bytes] if offset else bytes(hunk_bytes)
        raw.append(data)
        ecc = bytearray((frames + 7) // 8)
        sectors, subcode = bytearray(), bytearray()
        for i in range(frames):
            sector = bytearray(data[i * FRAME:i * FRAME + SECTOR])
            if parity_valid(sector):
                ecc[i // 8] |= 1 << (i % 8)
                sector[:12] = bytes(12)
                sector[0x81C:0x930] = bytes(0x930 - 0x81C)
            sectors += sector
            subcode += data[i * FRAME + SECTOR:(i + 1) * FRAME]
        heads.append(bytes(ecc))
        pieces += [bytes(sectors), bytes(subcode)]
    with tempfile.TemporaryDirectory() as work:
        packed = zstd_all(pieces, work)

    # header, metadata, hunks, map
    meta = bytearray()
    meta_start = 124 if metadata else 0
    for i, (tag, flags_len, data) in enumerate(metadata):
        here = meta_start + len(meta)
        nxt = here + 16 + len(data) if i + 1 < len(metadata) else 0
        meta += struct.pack(">IIQ", tag, flags_len, nxt) + data
    first = 124 + len(meta)
    body, entries = bytearray(), []
    size_bytes = 2 if hunk_bytes < 65536 else 3
    for h in range(hunks):
        base, sub = packed[2 * h], packed[2 * h + 1]
        hunk = heads[h] + len(base).to_bytes(size_bytes, "big") + base + sub
        if len(hunk) >= hunk_bytes:
            entries.append((KIND_NONE, hunk_bytes, first + len(body), crc16(raw[h])))
            body += raw[h]
        else:
            entries.append((KIND_CODEC0, len(hunk), first + len(body), crc16(raw[h])))
            body += hunk
    length_bits = max(1, max(e[1] for e in entries).bit_length())
    bits = Bits()
    for _ in range(16):
        bits.put(4, 4)
    for kind, _, _, _ in entries:
        bits.put(kind, 4)
    entry_bytes = bytearray()
    for kind, length, offset, crc in entries:
        if kind == KIND_CODEC0:
            bits.put(length, length_bits)
        bits.put(crc, 16)
        entry_bytes += bytes([kind]) + length.to_bytes(3, "big") + offset.to_bytes(6, "big") + crc.to_bytes(2, "big")
    stream = bits.bytes()
    map_start = first + len(body)
    map_head = (struct.pack(">I", len(stream)) + first.to_bytes(6, "big") + struct.pack(">H", crc16(entry_bytes)) +
                bytes([length_bits, 0, 0, 0]))
    header = bytearray(chd[:124])
    header[16:32] = b"cdzs" + bytes(12)
    header[32:64] = struct.pack(">QQQII", logical, map_start, meta_start, hunk_bytes, unit_bytes)
    with open(dst, "wb") as f:
        f.write(bytes(header) + bytes(meta) + bytes(body) + map_head + stream)


if __name__ == "__main__":
    main()
