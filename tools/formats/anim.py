#!/usr/bin/env python3
"""Writes FLI/FLC animations and IFF "PBM " pictures from palette-index pictures, for the tests of
the title picture decoders and for the sample CD's title (tools/sample-cd): a small encoder of our
own, written to the format as other players read it (every file here is well formed).

FLI/FLC (little-endian): 128-byte header (0 file size, 4 magic 0xAF11 FLI or 0xAF12 FLC, 6 frames,
8 width, 10 height, 12 depth 8, 80 offset of frame 1 (FLC)), then frames: 0 size, 4 type 0xF1FA,
6 sub-chunk count, 16 sub-chunks (0 size with header, 4 type, 6 data). An FLC may start with a
prefix chunk (type 0xF100) in front of its first frame.

PBM (big-endian): "FORM", length, "PBM ", then chunks BMHD (20 bytes), CMAP (3 bytes per colour),
BODY (rows of the width rounded up to even, stored or ByteRun1-packed row by row).

Usage: anim.py OUTDIR           writes every picture of cases() into OUTDIR.
       anim.py --title OUT.FLI  writes the title animation of the tests' game CD.
"""
import os
import struct
import sys

FLI_MAGIC, FLC_MAGIC = 0xAF11, 0xAF12
COLOR_256, COLOR_64, BRUN, COPY = 4, 11, 15, 16
FRAME, PREFIX = 0xF1FA, 0xF100


# --- pictures ---------------------------------------------------------------------------------
class Picture:
    """width x height palette indices (rows top to bottom) and 256 (r, g, b) entries."""

    def __init__(self, width, height, pixels, palette):
        assert len(pixels) == width * height and len(palette) == 256
        self.width, self.height, self.pixels, self.palette = width, height, bytes(pixels), palette

    def row(self, y):
        return self.pixels[y * self.width:(y + 1) * self.width]


def ramp_palette(bits):
    """Entry 0 black, 1-15 dark (component sums below 60 once widened to 8 bits, entry 15 right
    below), 16 right at 60, the rest bright; components of `bits` bits."""
    top = (1 << bits) - 1
    pal = [(0, 0, 0)]
    for i in range(1, 15):
        pal.append((i % 5, i % 3, 0) if bits == 6 else (i, 2 * i, 0))
    pal += [(5, 5, 4), (5, 5, 5)] if bits == 6 else [(10, 20, 29), (10, 20, 30)]
    for i in range(17, 256):
        pal.append((i * 7 % (top + 1), max((255 - i) * top // 255, top // 2), (i * 13 + 40) % (top + 1)))
    return pal


def banded(width, height, bands, seed=1):
    """Rows inside the (first, end) bands hold bright indices, with a dark pixel here and there;
    every other row only dark ones."""
    px = bytearray()
    s = seed
    for y in range(height):
        lit = any(a <= y < b for a, b in bands)
        for x in range(width):
            s = (s * 1103515245 + 12345) & 0x7FFFFFFF
            if lit and (s >> 16) % 5:
                px.append(16 + (x // 3 + y + (s >> 20) % 3) % 240)   # runs and literals
            else:
                px.append((s >> 16) % 16)
    return px


# --- FLI/FLC ----------------------------------------------------------------------------------
def chunk(ctype, data):
    return struct.pack("<IH", 6 + len(data), ctype) + data


def color_chunk(ctype, palette, packets):
    """packets: (skip, count) pairs, count 1 to 256; the colours come from palette in order."""
    out = struct.pack("<H", len(packets))
    i = 0
    for skip, count in packets:
        i += skip
        out += bytes([skip, count & 0xFF])
        for k in range(count):
            out += bytes(palette[i + k])
        i += count
    return chunk(ctype, out)


def brun_line(row):
    packets, i, n = [], 0, len(row)
    while i < n:
        run = 1
        while i + run < n and run < 127 and row[i + run] == row[i]:
            run += 1
        if run >= 3:
            packets.append(bytes([run, row[i]]))
            i += run
            continue
        j = i
        while j < n and j - i < 128:
            if j + 2 < n and row[j] == row[j + 1] == row[j + 2]:
                break
            j += 1
        packets.append(bytes([(-(j - i)) & 0xFF]) + row[i:j])
        i = j
    return bytes([min(len(packets), 255)]) + b"".join(packets)


def brun_chunk(pic):
    return chunk(BRUN, b"".join(brun_line(pic.row(y)) for y in range(pic.height)))


def copy_chunk(pic):
    return chunk(COPY, pic.pixels)


def frame(chunks):
    body = b"".join(chunks)
    return struct.pack("<IHH8x", 16 + len(body), FRAME, len(chunks)) + body


def prefix_chunk():
    return struct.pack("<IHH8x", 16, PREFIX, 0)


def fli(magic, width, height, frames, prefix=b""):
    body = prefix + b"".join(frames)
    head = bytearray(128)
    struct.pack_into("<IHHHHHH", head, 0, 128 + len(body), magic, len(frames), width, height, 8, 3)
    if magic == FLC_MAGIC:
        struct.pack_into("<I", head, 80, 128 + len(prefix))
    return bytes(head) + body


# --- PBM --------------------------------------------------------------------------------------
def ichunk(cid, data):
    return cid + struct.pack(">I", len(data)) + data + (b"\0" if len(data) & 1 else b"")


def bmhd(width, height, compression):
    # w, h, x, y, planes 8, masking 0, compression, pad, transparent colour, aspect 1:1, page size
    return ichunk(b"BMHD", struct.pack(">HHhhBBBxHBBhh", width, height, 0, 0, 8, 0, compression, 0,
                                       1, 1, width, height))


def byterun1(row):
    out, i, n = bytearray(), 0, len(row)
    while i < n:
        run = 1
        while i + run < n and run < 128 and row[i + run] == row[i]:
            run += 1
        if run >= 2:
            out += bytes([257 - run, row[i]])
            i += run
            continue
        j = i
        while j < n and j - i < 128 and not (j + 1 < n and row[j] == row[j + 1]):
            j += 1
        out += bytes([j - i - 1]) + row[i:j]
        i = j
    return bytes(out)


def pbm(pic, compression, extra_bmhd=None, cmap_entries=256):
    # The fill byte of an odd-width row: 0xEE when stored; when packed, the row's last pixel, so
    # that it joins the last run (ffmpeg unpacks only `width` bytes of each row, leaving a packet
    # that holds the fill byte alone unread).
    stride = pic.width + (pic.width & 1)
    rows = [pic.row(y) + (pic.row(y)[-1:] if compression == 1 else b"\xee") * (stride - pic.width)
            for y in range(pic.height)]
    body = b"".join(byterun1(r) for r in rows) if compression == 1 else b"".join(rows)
    chunks = b""
    if extra_bmhd:
        chunks += bmhd(*extra_bmhd)
    chunks += bmhd(pic.width, pic.height, compression)
    chunks += ichunk(b"CMAP", b"".join(bytes(c) for c in pic.palette[:cmap_entries]))
    chunks += ichunk(b"BODY", body)
    return b"FORM" + struct.pack(">I", 4 + len(chunks)) + b"PBM " + chunks


# --- the test set -----------------------------------------------------------------------------
def cases():
    """(file name, bytes, colour chunk type or None for PBM) of every picture of the test set."""
    out = []
    p6, p8 = ramp_palette(6), ramp_palette(8)
    title = Picture(320, 200, banded(320, 200, [(20, 180)]), p6)
    out.append(("title_color64_brun.fli", fli(FLI_MAGIC, 320, 200, [
        frame([color_chunk(COLOR_64, p6, [(0, 256)]), brun_chunk(title)]),
        frame([]), frame([chunk(7, b"\0\0")])]), COLOR_64))
    two = Picture(64, 48, banded(64, 48, [(10, 20), (30, 40)], 2), p8)
    out.append(("two_bands_color256_copy.flc", fli(FLC_MAGIC, 64, 48, [
        frame([color_chunk(COLOR_256, p8, [(0, 256)]), copy_chunk(two)]),
        frame([copy_chunk(Picture(64, 48, bytes(64 * 48), p8))])]), COLOR_256))
    # Unknown sub-chunk types (a postage stamp, a made-up type) are skipped around the real ones.
    odd = Picture(333, 17, banded(333, 17, [(3, 15)], 3), p8)
    out.append(("odd_width_unknown_chunks.flc", fli(FLC_MAGIC, 333, 17, [
        frame([chunk(18, bytes(40)), color_chunk(COLOR_256, p8, [(0, 16), (0, 240)]),
               chunk(0x99, b"\1\2\3"), brun_chunk(odd)])]), COLOR_256))
    # Partial palette packets with skips: the entries never set stay black.
    sparse = Picture(5, 3, bytes([20, 21, 22, 200, 201, 3, 20, 20, 20, 20, 250, 251, 252, 253, 254]), p6)
    out.append(("tiny_5x3_skips.fli", fli(FLI_MAGIC, 5, 3, [
        frame([color_chunk(COLOR_64, p6, [(20, 3), (177, 2), (48, 5)]), brun_chunk(sparse)])]), COLOR_64))
    one = Picture(1, 1, bytes([77]), p8)
    out.append(("one_pixel.flc", fli(FLC_MAGIC, 1, 1, [
        frame([color_chunk(COLOR_256, p8, [(0, 256)]), brun_chunk(one)])] * 3), COLOR_256))
    short = Picture(7, 2, bytes([16, 16, 16, 16, 17, 18, 19, 1, 2, 3, 200, 200, 200, 200]), p8)
    out.append(("short_7x2.fli", fli(FLI_MAGIC, 7, 2, [
        frame([color_chunk(COLOR_256, p8, [(0, 256)]), brun_chunk(short)])]), COLOR_256))
    # Other players take COPY data only for widths that are a multiple of 4.
    copy2 = Picture(8, 2, bytes([16, 16, 16, 16, 17, 18, 19, 1, 2, 3, 200, 200, 200, 200, 9, 30]), p8)
    out.append(("short_8x2_copy.fli", fli(FLI_MAGIC, 8, 2, [
        frame([color_chunk(COLOR_256, p8, [(0, 256)]), copy_chunk(copy2)])]), COLOR_256))
    # The frame after a prefix chunk is the first frame.
    pre = Picture(40, 30, banded(40, 30, [(5, 25)], 4), p8)
    out.append(("prefix_chunk.flc", fli(FLC_MAGIC, 40, 30, [
        frame([color_chunk(COLOR_256, p8, [(0, 256)]), brun_chunk(pre)])], prefix=prefix_chunk()), COLOR_256))

    art = Picture(320, 200, banded(320, 200, [(0, 200)], 5), p8)
    out.append(("stored.pbm", pbm(art, 0), None))
    out.append(("byterun1.pbm", pbm(art, 1), None))
    w5 = Picture(5, 4, bytes([16, 17, 18, 19, 20, 3, 3, 3, 3, 3, 200, 201, 202, 203, 204, 90, 90, 90, 90, 90]), p8)
    out.append(("width5_byterun1.pbm", pbm(w5, 1), None))
    out.append(("width5_stored.pbm", pbm(w5, 0), None))
    w77 = Picture(77, 33, banded(77, 33, [(4, 30)], 6), p8)
    out.append(("two_bmhd_odd.pbm", pbm(w77, 1, extra_bmhd=(20, 10, 0)), None))
    small = Picture(17, 9, bytes((16 + i) % 32 for i in range(17 * 9)), p8)
    out.append(("cmap32_odd.pbm", pbm(small, 1, cmap_entries=32), None))
    return out


# --- the game CD's title animation -----------------------------------------------------------
TITLE_BAND = (40, 160)     # the visible rows; every other row is dark
TITLE_COLUMNS = (60, 260)  # the visible columns inside the band


def title_picture():
    """320 x 200: a picture that shows which way up it is, framed by dark rows and columns. Sky
    (blue) over ground (green), a yellow sun in the top left corner, a red mast standing on the
    ground right of the middle, one dark pixel inside (a hole in the sun)."""
    pal = [(0, 0, 0)] * 256
    pal[1] = (12, 10, 8)            # dark: sums below 60
    pal[2] = (40, 90, 220)          # sky
    pal[3] = (40, 160, 50)          # ground
    pal[4] = (250, 220, 40)         # sun
    pal[5] = (200, 30, 30)          # mast
    w, h = 320, 200
    (top, end), (left, right) = TITLE_BAND, TITLE_COLUMNS
    px = bytearray()
    for y in range(h):
        for x in range(w):
            if not (top <= y < end and left <= x < right):
                px.append(1 if (x + y) % 7 == 0 else 0)
            elif y < top + 12 and x < left + 12:
                px.append(1 if (y, x) == (top + 5, left + 5) else 4)
            elif 200 <= x < 206 and top + 30 <= y < top + 90:
                px.append(5)
            else:
                px.append(2 if y < top + 90 else 3)
    pic = Picture(w, h, px, pal)
    return fli(FLI_MAGIC, w, h, [frame([color_chunk(COLOR_256, pal, [(0, 256)]), brun_chunk(pic)]), frame([])])


def main():
    if sys.argv[1] == "--title":
        with open(sys.argv[2], "wb") as f:
            f.write(title_picture())
        return
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for name, data, _ in cases():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
