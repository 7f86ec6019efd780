#!/usr/bin/env python3
"""Writes the images that disc copiers make of a CD held as one raw BIN (2352-byte sectors from
sector 0, as a cue sheet's single BIN holds it): a CloneCD image (.ccd control file, .img, .sub) and
an Alcohol image (.mds descriptor, .mdf).

usage: make_copier_images.py BIN --track KIND:START [--track ...] [--ccd BASE] [--mds BASE]
                             [--mds-sector 2352|2448|2048]

  --track KIND:START   a track (KIND data or audio) starting at sector START of the BIN; in order
  --ccd BASE           write BASE.ccd, BASE.img (the BIN's bytes) and BASE.sub (96 zero bytes a sector)
  --mds BASE           write BASE.mds and BASE.mdf; the descriptor names its data file "*.mdf"
  --mds-sector N       bytes per sector in the .mdf: 2352 (as the BIN), 2448 (each sector followed by
                       96 bytes of subchannel) or 2048 (data tracks as user data only, from byte 16
                       of each raw Mode 1 sector; audio tracks stay 2352)

The .ccd has entries A0, A1, A2 (lead-out) and one per track (ADR 1, Control 4 for data, 0 for
audio, PLBA its start). The .mds has one session with three lead-in blocks and one block per track
(mode 0xAA data or 0xA9 audio), an extra block with each track's length, and one footer.
"""
import argparse
import struct

RAW = 2352
SUB = 96


def msf(lba):
    a = lba + 150
    return a // 4500, a // 75 % 60, a % 75


def write_ccd(base, raw, tracks, total):
    with open(base + ".img", "wb") as f:
        f.write(raw)
    with open(base + ".sub", "wb") as f:
        f.write(bytes(SUB * total))
    entries = []
    first_kind, last_kind = tracks[0][0], tracks[-1][0]
    ctl = lambda kind: 4 if kind == "data" else 0
    entries.append((0xA0, ctl(first_kind), 1, 0, 0, None))        # first track number in PMin
    entries.append((0xA1, ctl(last_kind), len(tracks), 0, 0, None))  # last track number
    entries.append((0xA2, ctl(last_kind), None, None, None, total))  # lead-out
    for n, (kind, start) in enumerate(tracks, 1):
        entries.append((n, ctl(kind), None, None, None, start))
    lines = ["[CloneCD]", "Version=3", "[Disc]", f"TocEntries={len(entries)}", "Sessions=1",
             "DataTracksScrambled=0", "CDTextLength=0", "[Session 1]", "PreGapMode=1", "PreGapSubC=0"]
    for i, (point, control, pmin, psec, pframe, plba) in enumerate(entries):
        if plba is not None:
            pmin, psec, pframe = msf(plba)
        else:
            plba = pmin * 4500 + psec * 75 + pframe - 150
        lines += [f"[Entry {i}]", "Session=1", f"Point=0x{point:02x}", "ADR=0x01", f"Control=0x{control:02x}",
                  "TrackNo=0", "AMin=0", "ASec=0", "AFrame=0", "ALBA=-150", "Zero=0",
                  f"PMin={pmin}", f"PSec={psec}", f"PFrame={pframe}", f"PLBA={plba}"]
    for n, (kind, start) in enumerate(tracks, 1):
        lines += [f"[TRACK {n}]", f"MODE={1 if kind == 'data' else 0}", f"INDEX 1={start}"]
    with open(base + ".ccd", "w", newline="\r\n") as f:
        f.write("\n".join(lines) + "\n")


def write_mds(base, raw, tracks, total, sector):
    ends = [s for _, s in tracks[1:]] + [total]
    mdf, layout = bytearray(), []
    for (kind, start), end in zip(tracks, ends):
        size = RAW if sector == 2048 and kind == "audio" else sector
        layout.append((kind, start, end - start, size, len(mdf)))
        for lba in range(start, end):
            s = raw[lba * RAW:(lba + 1) * RAW]
            if size == 2048:
                mdf += s[16:16 + 2048]
            elif size == 2448:
                mdf += s + bytes(SUB)
            else:
                mdf += s
    with open(base + ".mdf", "wb") as f:
        f.write(mdf)

    header_len, session_len, block_len = 88, 24, 80
    blocks = 3 + len(tracks)
    session_at = header_len
    blocks_at = session_at + session_len
    extras_at = blocks_at + blocks * block_len
    footer_at = extras_at + len(tracks) * 8
    name_at = footer_at + 16
    header = bytearray(header_len)
    header[0:16] = b"MEDIA DESCRIPTOR"
    header[16:18] = bytes([1, 3])
    struct.pack_into("<HH", header, 18, 0, 1)  # CD-ROM, one session
    struct.pack_into("<I", header, 80, session_at)
    session = struct.pack("<iiHBBHHII", -150, total, 1, blocks, 3, 1, len(tracks), 0, blocks_at)
    out = bytearray()
    adr_ctl = lambda kind: 0x14 if kind == "data" else 0x10
    for point, kind in ((0xA0, tracks[0][0]), (0xA1, tracks[-1][0]), (0xA2, tracks[-1][0])):
        b = bytearray(block_len)
        b[2], b[4] = adr_ctl(kind), point
        if point == 0xA0:
            b[9] = 1
        elif point == 0xA1:
            b[9] = len(tracks)
        else:
            b[9], b[10], b[11] = msf(total)
        out += b
    for n, (kind, start, length, size, offset) in enumerate(layout, 1):
        b = bytearray(block_len)
        b[0] = 0xAA if kind == "data" else 0xA9
        b[1] = 0x08 if size == 2448 else 0
        b[2], b[4] = adr_ctl(kind), n
        b[9], b[10], b[11] = msf(start)
        struct.pack_into("<IH", b, 12, extras_at + (n - 1) * 8, size)
        struct.pack_into("<IQII", b, 36, start, offset, 1, footer_at)
        out += b
    extras = b"".join(struct.pack("<II", 150 if n == 1 else 0, length) for n, (_, _, length, _, _) in
                      enumerate(layout, 1))
    footer = struct.pack("<IIII", name_at, 0, 0, 0)
    with open(base + ".mds", "wb") as f:
        f.write(header + session + out + extras + footer + b"*.mdf\0")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("bin")
    ap.add_argument("--track", action="append", required=True)
    ap.add_argument("--ccd")
    ap.add_argument("--mds")
    ap.add_argument("--mds-sector", type=int, default=2352, choices=(2352, 2448, 2048))
    a = ap.parse_args()
    with open(a.bin, "rb") as f:
        raw = f.read()
    total = len(raw) // RAW
    tracks = []
    for t in a.track:
        kind, start = t.split(":")
        tracks.append((kind, int(start)))
    if a.ccd:
        write_ccd(a.ccd, raw, tracks, total)
    if a.mds:
        write_mds(a.mds, raw, tracks, total, a.mds_sector)


if __name__ == "__main__":
    main()
