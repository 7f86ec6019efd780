#!/usr/bin/env python3
"""Draws the sample CD's title animation: a golden shield with a dark letter D on black, written as
a two-frame FLI (COLOR_64 palette, BRUN frame) by the encoder in tools/formats. Usage: make_title.py OUT"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "formats"))
import anim  # noqa: E402

W, H = 320, 200


def palette():
    pal = [(0, 0, 0)] * 16  # 0-15: dark, transparent in the icon
    for i in range(240):    # 16-255: gold at the top to deep red at the bottom, 6-bit components
        t = i / 239
        pal.append((63, int(52 - 40 * t), int(12 - 10 * t)))
    return pal


def pixels():
    px = bytearray(W * H)
    cx = W // 2
    for y in range(24, 182):
        # Straight sides, then a rounded point.
        half = 86 if y < 120 else int(86 * max(0.0, 1 - ((y - 120) / 62) ** 2) ** 0.5)
        for x in range(cx - half, cx + half):
            shade = 16 + (y - 24) * 239 // 157
            rim = x < cx - half + 6 or x >= cx + half - 6 or y < 30
            px[y * W + x] = 255 if rim else shade
    # The letter D, cut out in black.
    for y in range(60, 140):
        for x in range(cx - 40, cx + 44):
            dx, dy = x - (cx - 10), (y - 100) / 40
            outer = x < cx - 10 or (dx / 54) ** 2 + dy ** 2 <= 1
            inner = (x >= cx - 22 and x < cx - 10 and 72 <= y < 128) or \
                (x >= cx - 10 and (dx / 36) ** 2 + ((y - 100) / 28) ** 2 <= 1)
            if outer and not inner:
                px[y * W + x] = 0
    return bytes(px)


def main():
    pic = anim.Picture(W, H, pixels(), palette())
    data = anim.fli(anim.FLI_MAGIC, W, H, [
        anim.frame([anim.color_chunk(anim.COLOR_64, pic.palette, [(0, 256)]), anim.brun_chunk(pic)]),
        anim.frame([]),
    ])
    with open(sys.argv[1], "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
