"""The setup's own icon, drawn here: a blue game CD with a gold helm in front of it, at the seven
sizes of the game's icon (16 to 256 pixels, 32-bit with alpha). Written as an .ico file for the
resource compiler: the sizes below 256 as bitmaps, 256 as PNG (as Windows keeps its large icons).

  make_setup_icon.py OUT.ico

The drawing is made of signed distances to circles and boxes, in units of the icon's side, and every
pixel takes the share of each shape that covers it (an outline at least one pixel wide at every
size). Only +, -, *, / and square roots, which IEEE arithmetic rounds the same everywhere, and
zlib at a fixed level for the PNG: the same bytes on every build with the same zlib (Debian 12's,
as the compiler is Debian 12's), for a release that any build of a commit reproduces byte for byte."""
import math
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 64, 128, 256)


def circle(u, v, cx, cy, r):
    return math.sqrt((u - cx) ** 2 + (v - cy) ** 2) - r


def box(u, v, x0, y0, x1, y1, r=0.0):
    """A box from (x0, y0) to (x1, y1) with corners rounded by r."""
    qx = abs(u - (x0 + x1) / 2) - ((x1 - x0) / 2 - r)
    qy = abs(v - (y0 + y1) / 2) - ((y1 - y0) / 2 - r)
    outside = math.sqrt(max(qx, 0.0) ** 2 + max(qy, 0.0) ** 2)
    return outside + min(max(qx, qy), 0.0) - r


def mix(a, b, t):
    t = min(max(t, 0.0), 1.0)
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def hexcolour(text):
    return tuple(int(text[i:i + 2], 16) / 255 for i in (0, 2, 4))


NAVY, BLUE_LIGHT, BLUE_DARK = hexcolour("14285c"), hexcolour("6a9ce6"), hexcolour("1f3d84")
LABEL, HOLE_RIM = hexcolour("dfe7f4"), hexcolour("8fa3c8")
BROWN, GOLD_LIGHT, GOLD_DARK, SLIT = hexcolour("3f2606"), hexcolour("f7d766"), hexcolour("a56c18"), hexcolour("24170a")
WHITE = (1.0, 1.0, 1.0)

DISC = (0.42, 0.42, 0.40)  # centre and radius
HELM_X0, HELM_X1, HELM_TOP, HELM_BOTTOM = 0.42, 0.94, 0.36, 0.95
HELM_CX = (HELM_X0 + HELM_X1) / 2
DOME_CY = HELM_TOP + (HELM_X1 - HELM_X0) / 2


def helm(u, v, px):
    """A rounded dome over straight sides, open at the bottom between the cheek guards."""
    dome = max(circle(u, v, HELM_CX, DOME_CY, (HELM_X1 - HELM_X0) / 2), v - DOME_CY)
    body = box(u, v, HELM_X0, DOME_CY - 0.02, HELM_X1, HELM_BOTTOM, 0.07)
    opening = box(u, v, HELM_CX - max(px, 0.075), 0.80, HELM_CX + max(px, 0.075), 1.5, 0.03)
    return max(min(dome, body), -opening)


def layers(u, v, px):
    """(distance, colour, opacity) from the back to the front for the point (u, v); px is one pixel."""
    line = max(px, 0.028)  # an outline at least a pixel wide
    cx, cy, r = DISC
    ring = max(circle(u, v, cx, cy, r), -circle(u, v, cx, cy, 0.06))
    yield ring, NAVY, 1.0
    yield ring + line, mix(BLUE_LIGHT, BLUE_DARK, (u + v - 0.1) / 1.2), 1.0
    # the shine of a disc: a light band across it
    yield max(ring + line, abs(u - v) - 0.07), WHITE, 0.35
    yield max(circle(u, v, cx, cy, 0.16), -circle(u, v, cx, cy, 0.06)), HOLE_RIM, 1.0
    yield max(circle(u, v, cx, cy, 0.16) + line, -circle(u, v, cx, cy, 0.06 + line)), LABEL, 1.0
    h = helm(u, v, px)
    yield h, BROWN, 1.0
    yield h + line, mix(GOLD_LIGHT, GOLD_DARK, (v - HELM_TOP) / (HELM_BOTTOM - HELM_TOP)), 1.0
    # the crest along the dome, then the eye slit and the gap down the face
    yield box(u, v, HELM_CX - 0.018, HELM_TOP + line, HELM_CX + 0.018, DOME_CY - 0.04), GOLD_LIGHT, 0.9
    eyes = box(u, v, HELM_X0 + 0.07, 0.66, HELM_X1 - 0.07, 0.66 + max(px, 0.06), 0.01)
    face = box(u, v, HELM_CX - max(px, 0.03), 0.66, HELM_CX + max(px, 0.03), 0.88, 0.01)
    yield min(eyes, face), SLIT, 1.0


def pixels(S):
    """S rows of S (r, g, b, a) bytes, the top row first."""
    px = 1.0 / S
    rows = []
    for y in range(S):
        row = []
        for x in range(S):
            u, v = (x + 0.5) * px, (y + 0.5) * px
            acc = [0.0, 0.0, 0.0, 0.0]  # premultiplied
            for d, colour, opacity in layers(u, v, px):
                k = min(max(0.5 - d / px, 0.0), 1.0) * opacity
                if k > 0:
                    for i in range(3):
                        acc[i] = colour[i] * k + acc[i] * (1 - k)
                    acc[3] = k + acc[3] * (1 - k)
            a = acc[3]
            rgb = [c / a if a > 0 else 0.0 for c in acc[:3]]
            row.append(tuple(int(min(c, 1.0) * 255 + 0.5) for c in rgb) + (int(a * 255 + 0.5),))
        rows.append(row)
    return rows


def dib(S, rows):
    """BITMAPINFOHEADER (height 2S: colour and mask), BGRA rows bottom first, then the AND mask (1 where
    the pixel is transparent), rows padded to 4 bytes."""
    out = struct.pack("<IiiHHIIiiII", 40, S, 2 * S, 1, 32, 0, 0, 0, 0, 0, 0)
    for row in reversed(rows):
        out += b"".join(bytes((b, g, r, a)) for r, g, b, a in row)
    stride = (S + 31) // 32 * 4
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, p in enumerate(row):
            if p[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        out += bytes(bits)
    return out


def png(S, rows):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    raw = b"".join(b"\0" + b"".join(bytes(p) for p in row) for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", S, S, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def ico():
    images = [png(S, pixels(S)) if S == 256 else dib(S, pixels(S)) for S in SIZES]
    out = struct.pack("<HHH", 0, 1, len(SIZES))
    at = 6 + 16 * len(SIZES)
    for S, image in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", S % 256, S % 256, 0, 0, 1, 32, len(image), at)
        at += len(image)
    return out + b"".join(images)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    data = ico()
    with open(sys.argv[1], "wb") as f:
        f.write(data)
