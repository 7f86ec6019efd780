#!/usr/bin/env python3
"""Writes a Nero image (.nrg): a data track holding an ISO 9660 volume, then audio tracks.

usage: make_nrg.py [options] ISO OUT

  --v1                 version 1: footer "NERO" with a 32-bit offset and a "DAOI" chunk
                       (default: version 2, footer "NER5" with a 64-bit offset and a "DAOX" chunk)
  --layout L           the data track's sectors: 2048 (user data only, the default), mode1 (2352 bytes,
                       user data at 16) or mode2 (2352 bytes, Form 1 user data at 24)
  --audio N[:P]        an audio track of N sectors after a pregap of P sectors (default 150);
                       repeat for more tracks
  --first N            number of the first track in the DAO chunk (default 1)
  --chunk ID           a chunk of other information before the DAO chunk: CUEX, ETNF, SINF or MTYP;
                       repeat for more
  --blank-entry        an entry of sector size 0 between the data track and the first audio track
  --after-end          bytes after "END!": a DAO chunk whose track would be wrong if it were read
  --print              print the layout: one line "track <number> <data|audio> start=<lba>
                       sectors=<n> sector_size=<n> offset=<byte> kind=raw" per track, as discinfo
                       prints it

The data track gets a pregap of 150 sectors, so it starts at address 0. Audio sectors hold a tone that
differs per track (16-bit stereo, 44.1 kHz): sample k of track t is round(8000 * sin(2 pi k f / 44100))
with f = 220 * t Hz, the same value on both channels. Pregaps are zero bytes.
"""
import argparse
import math
import struct
import sys

RAW = 2352
PREGAP = 150
SYNC = b"\x00" + b"\xff" * 10 + b"\x00"
MODE_AUDIO = 7
# The mode byte of a data track; readers of these images treat every value but 7 as data.
MODE_DATA = {"2048": 0, "mode1": 0, "mode2": 2}


def bcd(n):
    return ((n // 10) << 4) | (n % 10)


def raw_sector(lba, data, layout):
    a = lba + PREGAP
    head = bytes([bcd(a // 4500), bcd(a // 75 % 60), bcd(a % 75)])
    if layout == "mode1":
        return SYNC + head + b"\x01" + data + bytes(288)
    sub = bytes([0, 0, 0x08, 0]) * 2
    return SYNC + head + b"\x02" + sub + data + bytes(280)


def data_track(iso, layout):
    with open(iso, "rb") as f:
        volume = f.read()
    volume += bytes(-len(volume) % 2048)
    sectors = [volume[i:i + 2048] for i in range(0, len(volume), 2048)]
    if layout == "2048":
        return 2048, volume, len(sectors)
    return RAW, b"".join(raw_sector(n, s, layout) for n, s in enumerate(sectors)), len(sectors)


def tone(track, sectors):
    f = 220.0 * track
    out = bytearray()
    for k in range(sectors * RAW // 4):
        v = int(round(8000 * math.sin(2 * math.pi * k * f / 44100)))
        out += struct.pack("<hh", v, v)
    return bytes(out)


def chunk(cid, data):
    return cid + struct.pack(">I", len(data)) + data


def dao_entry(w, size, mode, index0, index1, end):
    pos = ">Q" if w == 8 else ">I"
    return (bytes(12) + struct.pack(">H", size) + bytes([mode, 0, 0, 1])
            + struct.pack(pos, index0) + struct.pack(pos, index1) + struct.pack(pos, end))


def dao_chunk(cid, first, last, entries):
    body = b"".join(entries)
    head = struct.pack(">I", 22 + len(body)) + bytes(16) + bytes([first, last])
    return chunk(cid, head + body)


def other_chunk(cid, tracks):
    """Chunks that the setup skips, shaped like the real ones."""
    if cid == "SINF":
        return chunk(b"SINF", struct.pack(">I", len(tracks)))
    if cid == "MTYP":
        return chunk(b"MTYP", struct.pack(">I", 1))
    if cid == "ETNF":
        return chunk(b"ETNF", b"".join(struct.pack(">IIIII", t["index1"], t["end"] - t["index1"], 0,
                                                   t["start"], 0) for t in tracks))
    if cid == "CUEX":
        body = struct.pack(">BBBBi", 0x01, 0, 0, 0, -PREGAP)
        for t in tracks:
            ctrl = 0x01 if t["audio"] else 0x41
            body += struct.pack(">BBBBi", ctrl, bcd(t["number"]), 0, 0, t["start"] - t["pregap"])
            body += struct.pack(">BBBBi", ctrl, bcd(t["number"]), 1, 0, t["start"])
        last = tracks[-1]
        body += struct.pack(">BBBBi", 0x01, 0xAA, 1, 0, last["start"] + last["sectors"])
        return chunk(b"CUEX", body)
    sys.exit("make_nrg.py: unknown chunk " + cid)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                 epilog=__doc__.split("\n\n", 1)[1], formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("iso")
    ap.add_argument("out")
    ap.add_argument("--v1", action="store_true")
    ap.add_argument("--layout", choices=["2048", "mode1", "mode2"], default="2048")
    ap.add_argument("--audio", action="append", default=[])
    ap.add_argument("--first", type=int, default=1)
    ap.add_argument("--chunk", action="append", default=[])
    ap.add_argument("--blank-entry", action="store_true")
    ap.add_argument("--after-end", action="store_true")
    ap.add_argument("--print", action="store_true")
    a = ap.parse_args()

    w, dao_id = (4, b"DAOI") if a.v1 else (8, b"DAOX")
    size, data, data_sectors = data_track(a.iso, a.layout)
    parts = [(size, MODE_DATA[a.layout], PREGAP, data, data_sectors, False)]
    for n, arg in enumerate(a.audio):
        sectors, _, pregap = arg.partition(":")
        sectors, pregap = int(sectors), int(pregap or PREGAP)
        parts.append((RAW, MODE_AUDIO, pregap, tone(n + 2, sectors), sectors, True))

    body = bytearray()
    tracks, entries = [], []
    total = 0
    for i, (size, mode, pregap, payload, sectors, audio) in enumerate(parts):
        index0 = len(body)
        body += bytes(pregap * size)
        index1 = len(body)
        body += payload
        total += pregap
        t = {"number": a.first + i, "audio": audio, "start": total - PREGAP, "sectors": sectors,
             "pregap": pregap, "size": size, "index1": index1, "end": len(body)}
        total += sectors
        tracks.append(t)
        entries.append(dao_entry(w, size, mode, index0, index1, len(body)))
        if i == 0 and a.blank_entry:
            # An entry without a sector size, whose positions would shift every later track if it
            # were counted.
            entries.append(dao_entry(w, 0, 0, len(body), len(body) + 1000 * RAW, len(body) + 2000 * RAW))

    offset = len(body)
    for cid in a.chunk:
        body += other_chunk(cid, tracks)
    last = a.first + len(tracks) - 1
    body += dao_chunk(dao_id, a.first, last, entries)
    body += chunk(b"END!", b"")
    if a.after_end:
        body += dao_chunk(dao_id, 50, 50, [dao_entry(w, RAW, MODE_AUDIO, 0, 0, 1000 * RAW)])
    if a.v1:
        body += b"NERO" + struct.pack(">I", offset)
    else:
        body += b"NER5" + struct.pack(">Q", offset)
    with open(a.out, "wb") as f:
        f.write(body)

    if a.print:
        for t in tracks:
            print("track %d %s start=%d sectors=%d sector_size=%d offset=%d kind=raw" % (
                t["number"], "audio" if t["audio"] else "data", t["start"], t["sectors"], t["size"],
                t["index1"]))


if __name__ == "__main__":
    main()
