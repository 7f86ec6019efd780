#!/usr/bin/env python3
"""emblem.exe against ffmpeg's FLI/FLC and IFF decoders.

For every generated picture (tools/formats/anim.py) and every real animation, the palette indices of
the first frame must equal ffmpeg's (-pix_fmt pal8), and the PNG must hold exactly those indices
through the colour rule: components summing below 60 transparent, the rest opaque; animation
frames cut to their first band of visible rows and stretched by 1.2 (rounded), PBM pictures as
they are. ffmpeg widens 6-bit palettes as v << 2; ours is (v << 2) | (v >> 4), so COLOR_64
entries are compared through that.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.environ["TOOLS"])
from wine_tools import *  # noqa: E402,F403
import anim  # noqa: E402

check = Checks()


def fail(name, what):
    check(False, f"{name}: {what}")


def colour_kinds(data):
    """The colour sub-chunk types of an animation's first frame (after a prefix chunk, if any)."""
    at = 128
    if struct.unpack_from("<H", data, at + 4)[0] == anim.PREFIX:
        at += struct.unpack_from("<I", data, at)[0]
    count, kinds, sub = struct.unpack_from("<H", data, at + 6)[0], set(), at + 16
    for _ in range(count):
        size, kind = struct.unpack_from("<IH", data, sub)
        if kind in (anim.COLOR_64, anim.COLOR_256):
            kinds.add(kind)
        sub += size
    return kinds


def compare(name, path, kind, ffmpeg_input, work):
    png, idx, raw = (os.path.join(work, name + ext) for ext in (".png", ".idx", ".raw"))
    rc, out, err = emblem("--png", winpath(png), "--indices", winpath(idx), winpath(path))
    if rc != 0:
        return fail(name, f"emblem.exe exit {rc}: {err.strip()}")
    d = read(idx)
    w, h = struct.unpack_from("<II", d)
    ours, pal = d[8:8 + w * h], d[8 + w * h:]
    subprocess.run(["ffmpeg", "-v", "error", "-i", ffmpeg_input, "-frames:v", "1", "-f", "rawvideo",
                    "-pix_fmt", "pal8", "-y", raw], check=True, stdin=subprocess.DEVNULL)
    r = read(raw)
    if len(r) != w * h + 1024:  # pal8 rawvideo: the indices, then 256 palette entries B, G, R, A
        return fail(name, f"ffmpeg gave {len(r)} bytes for {w}x{h}")
    theirs = r[:w * h]
    if ours != theirs:
        at = next(i for i in range(w * h) if ours[i] != theirs[i])
        return fail(name, f"index at x={at % w} y={at // w}: ours {ours[at]}, ffmpeg {theirs[at]}")

    expected = []
    for i in range(256):
        b, g, rr, _ = r[w * h + 4 * i:w * h + 4 * i + 4]
        rgb = (rr, g, b)
        if kind == anim.COLOR_64:
            rgb = tuple(((v >> 2) << 2) | (v >> 6) for v in rgb)
        expected.append(rgb)
    # Animations start from an all-black palette, as ffmpeg does; a PBM palette is the CMAP read
    # in place, so only the entries in use are ffmpeg's.
    used = range(256) if kind else sorted(set(theirs))
    for i in used:
        if tuple(pal[3 * i:3 * i + 3]) != expected[i]:
            return fail(name, f"palette entry {i}: ours {tuple(pal[3 * i:3 * i + 3])}, want {expected[i]}")

    def pixel(i):
        rgb = expected[i]
        return (*rgb, 255) if sum(rgb) >= 60 else (0, 0, 0, 0)

    rows = [[pixel(theirs[y * w + x]) for x in range(w)] for y in range(h)]
    if kind:
        visible = [any(p[3] for p in row) for row in rows]
        if True not in visible:
            return fail(name, "no visible row, yet decoded")
        f = visible.index(True)
        e = visible.index(False, f) if False in visible[f:] else h
        height = int((e - f) * 1.2 + 0.5)
        rows = [rows[min(f + int(j / 1.2), e - 1)] for j in range(height)]
    pw, ph, got = read_png(png)
    if out != f"emblem {pw}x{ph}\n":
        fail(name, f"printed {out!r} for a {pw}x{ph} PNG")
    if (pw, ph) != (w, len(rows)):
        return fail(name, f"PNG {pw}x{ph}, want {w}x{len(rows)}")
    if got != rows:
        y = next(y for y in range(ph) if got[y] != rows[y])
        return fail(name, f"PNG row {y} differs")
    check(True, f"{name}: {w}x{h} -> {pw}x{ph}")


def main():
    work = tempfile.mkdtemp(prefix="emblem-e2e-")
    for name, data, kind in anim.cases():
        path = os.path.join(work, name)
        open(path, "wb").write(data)
        if kind:
            assert colour_kinds(data) == {kind}
        compare(name, path, kind, path, work)

    real = os.path.join(FIXTURES, "anim", "pillow")
    for name in ("a.fli", "hopper.fli", "hopper_palette_chunk_second.fli"):
        path = os.path.join(real, name)
        data = read(path)
        kinds = colour_kinds(data)
        assert len(kinds) == 1, kinds
        # ffmpeg drops a frame cut short by the file's end (the hopper files lack their last
        # byte); it gets a copy padded to the size the header states, we decode the file as it is.
        stated = struct.unpack_from("<I", data)[0]
        given = path
        if stated > len(data):
            given = os.path.join(work, "padded-" + name)
            open(given, "wb").write(data + bytes(stated - len(data)))
        compare(name, path, kinds.pop(), given, work)

    # The tool's own contract: refusal on stderr with exit 1, usage errors, help.
    rc, out, err = emblem(winpath(os.path.join(real, "fli_overflow.fli")))
    if (rc, out, err) != (1, "", "ERROR: game emblem picture not understood\n"):
        fail("refusal", f"exit {rc}, stdout {out!r}, stderr {err!r}")
    for args in ((), ("--png",), ("--bogus", "x.fli"), ("a.fli", "b.fli")):
        rc, out, err = emblem(*args)
        if rc != 1 or not err.startswith("usage: emblem"):
            fail(f"usage {args}", f"exit {rc}, stderr {err[:40]!r}")
    rc, out, err = emblem(winpath(os.path.join(work, "missing.fli")))
    if rc != 1 or "cannot read" not in err:
        fail("missing file", f"exit {rc}, stderr {err!r}")
    rc, out, err = emblem("--help")
    if rc != 0 or "--indices" not in out:
        fail("help", f"exit {rc}")

    if check.failures:
        print(f"files kept in {work}")
    else:
        shutil.rmtree(work)
    check.finish()


if __name__ == "__main__":
    main()
