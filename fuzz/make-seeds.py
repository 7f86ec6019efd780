#!/usr/bin/env python3
"""Seed corpora of the fuzz targets, from the test data that tests/make-testdata.sh makes with real
tools, from tools/formats/anim.py's pictures and from the third-party test inputs (tests/data/third_party).

Usage: make-seeds.py OUTDIR TESTDATA THIRD_PARTY
Writes OUTDIR/<target>/<name> for the targets iso, cue, nrg, copier, emblem, icon, audio and chd, each seed at
most MAX_LEN bytes for its target; libFuzzer takes its input limit from the largest seed it is given."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

SECTOR = 2048
MAX_LEN = {"iso": 65536, "cue": 8192, "nrg": 16384, "copier": 8192, "emblem": 131072, "icon": 4096,
           "audio": 16384, "chd": 65536}


def files_under(root, suffixes=None):
    for here, _, names in os.walk(root):
        for name in sorted(names):
            if suffixes is None or name.lower().endswith(suffixes):
                yield os.path.join(here, name)


def read(path):
    with open(path, "rb") as f:
        return f.read()


class Seeds:
    def __init__(self, out):
        self.out = out

    def add(self, target, name, data):
        if not data or len(data) > MAX_LEN[target]:
            return
        folder = os.path.join(self.out, target)
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


def directory_end(image, root_lba, root_len):
    """The sector after the last one that a directory of the volume occupies: file data beyond
    it plays no part in a walk."""
    end, todo, seen = 17, [(root_lba, root_len)], set()
    while todo:
        lba, length = todo.pop()
        if lba in seen or (lba + 1) * SECTOR > len(image):
            continue
        seen.add(lba)
        secs = (length + SECTOR - 1) // SECTOR
        end = max(end, lba + secs)
        data, at = image[lba * SECTOR:(lba + secs) * SECTOR], 0
        while at < min(length, len(data)):
            n = data[at]
            if n == 0:
                at = (at // SECTOR + 1) * SECTOR
                continue
            if n < 34 or at + n > len(data):
                break
            rec = data[at:at + n]
            ident = rec[33:33 + rec[32]]
            if rec[25] & 2 and ident not in (b"\x00", b"\x01"):
                todo.append((struct.unpack("<I", rec[2:6])[0], struct.unpack("<I", rec[10:14])[0]))
            at += n
    return end


def iso_seed(image):
    """The image from its primary volume descriptor to the end of its last directory, at most the
    target's largest input: the fuzz target reads the 16 sectors before it as zeros."""
    pvd = image[16 * SECTOR:17 * SECTOR]
    if pvd[:6] != b"\x01CD001":
        return None
    root_lba, root_len = struct.unpack("<I", pvd[158:162])[0], struct.unpack("<I", pvd[166:170])[0]
    return image[16 * SECTOR:directory_end(image, root_lba, root_len) * SECTOR][:MAX_LEN["iso"]]


def iso_record(ident, lba, size, flags=0):
    """One directory record: [0] length, [2..5] extent, [10..13] size, [25] flags, [32] id length, [33..] id."""
    rec = bytearray(34 + len(ident) - len(ident) % 2)
    rec[0], rec[25], rec[32] = len(rec), flags, len(ident)
    struct.pack_into("<I", rec, 2, lba)
    struct.pack_into("<I", rec, 10, size)
    rec[33:33 + len(ident)] = ident
    return bytes(rec)


def iso_volume(sectors, root_lba, root_len):
    """A volume in the iso target's form, from sector 16: the descriptor, then the given sectors
    (a {sector: bytes} map) from sector 17 on."""
    pvd = bytearray(SECTOR)
    pvd[0:6] = b"\x01CD001"
    pvd[156:190] = iso_record(b"\x00", root_lba, root_len, 2)
    out = bytearray(pvd) + bytearray((max(sectors) - 16) * SECTOR)
    for lba, data in sectors.items():
        out[(lba - 16) * SECTOR:(lba - 16) * SECTOR + len(data)] = data
    return bytes(out)


def iso_faults():
    """Volumes of the shapes that faults were found with, built here as a regression case each."""
    # Folders whose extents begin a sector further into the root's: each listed the rest again.
    root = {18 + k: iso_record(b"D%d" % k, 19 + k, (2 - k) * SECTOR, 2) + iso_record(b"F%d;1" % k, 17, 1)
            for k in range(3)}
    root[17] = b"x"
    yield "fault-overlapping-extents", iso_volume(root, 18, 3 * SECTOR)
    # A folder record after a multi-extent part, with the part's name: joined to the file as data.
    sub = iso_record(b"\x00", 19, SECTOR, 2) + iso_record(b"\x01", 18, SECTOR, 2) + iso_record(b"INNER;1", 17, 2)
    root = (iso_record(b"\x00", 18, SECTOR, 2) + iso_record(b"\x01", 18, SECTOR, 2) +
            iso_record(b"PARTS.BIN;1", 17, SECTOR, 0x80) + iso_record(b"PARTS.BIN", 19, SECTOR, 2))
    yield "fault-folder-after-part", iso_volume({17: b"in", 18: root, 19: sub}, 18, SECTOR)


def nrg_seed(image):
    """The chunk area alone, with a footer of the same version that points to offset 0."""
    footer = image[-12:]
    if footer[:4] == b"NER5":
        at, new = struct.unpack(">Q", footer[4:])[0], b"NER5" + bytes(8)
    elif footer[4:8] == b"NERO":
        at, new = struct.unpack(">I", footer[8:])[0], bytes(4) + b"NERO" + bytes(4)
    else:
        return None
    if at >= len(image):
        return None
    return image[at:-12] + new


def icon_seed(width, height, pixels):
    """The icon target's picture: sides - 1, then x, y, r, g, b of each visible pixel."""
    out = struct.pack("<HH", width - 1, height - 1)
    for x, y, rgb in pixels:
        out += struct.pack("<HH", x, y) + bytes(rgb)
    return out


def main():
    out, testdata, third_party = sys.argv[1:4]
    disc, pictures = os.path.join(third_party, "disc"), os.path.join(third_party, "anim")
    for folder in (disc, pictures):
        if not os.path.isdir(folder):
            sys.exit(f"make-seeds: no third-party inputs in {folder}")
    shutil.rmtree(out, ignore_errors=True)
    seeds = Seeds(out)

    images = [os.path.join(testdata, n) for n in ("volume.iso", "volume-nover.iso", "gamecd/gamecd.iso")]
    for path in images + list(files_under(disc, (".iso",))):
        seed = iso_seed(read(path))
        if seed:
            seeds.add("iso", os.path.basename(path), seed)
    for name, seed in iso_faults():
        seeds.add("iso", name, seed)

    cueaudio = os.path.join(testdata, "cueaudio")
    sheets = [os.path.join(testdata, "gamecd/gamecd.cue")] + list(files_under(cueaudio, (".cue",)))
    for path in sheets + list(files_under(disc, (".cue", ".toc"))):
        seeds.add("cue", os.path.basename(path), read(path))

    # The start of every audio file the encoders made: the probe and the header readers look no
    # further, and the rest is samples for the glue.
    for path in list(files_under(cueaudio, (".wav", ".flac", ".ogg", ".opus", ".mp3"))):
        seeds.add("audio", os.path.basename(path), read(path)[:MAX_LEN["audio"]])

    for path in list(files_under(testdata, (".nrg",))) + list(files_under(disc, (".nrg",))):
        seed = nrg_seed(read(path))
        if seed:
            seeds.add("nrg", os.path.basename(path), seed)

    # The smallest game CD's CHDs, one per codec, made by chdman (cdzs by a newer one).
    for path in files_under(os.path.join(testdata, "chd"), (".chd",)):
        if os.path.basename(path).startswith("small-"):
            seeds.add("chd", os.path.basename(path), read(path))

    for path in files_under(os.path.join(testdata, "gamecd"), (".ccd", ".mds")):
        seeds.add("copier", os.path.basename(path), read(path))

    with tempfile.TemporaryDirectory() as tmp:
        anim = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools", "formats", "anim.py")
        subprocess.run([sys.executable, anim, tmp], check=True)
        made = list(files_under(tmp)) + [os.path.join(testdata, "gamecd/tree/TITLE.FLI")]
        for path in made:
            seeds.add("emblem", os.path.basename(path), read(path))
    for path in files_under(pictures):
        if not path.endswith((".png", "notes", "reproducing")):
            seeds.add("emblem", os.path.relpath(path, third_party).replace(os.sep, "_"), read(path))

    red, blue = (255, 0, 0), (0, 0, 255)
    seeds.add("icon", "one_pixel", icon_seed(1, 1, [(0, 0, red)]))
    seeds.add("icon", "box_100x50", icon_seed(320, 200, [(10, 20, red), (109, 69, blue)]))
    seeds.add("icon", "box_16x16", icon_seed(16, 16, [(0, 0, red), (15, 15, blue), (7, 3, red)]))
    seeds.add("icon", "wide", icon_seed(700, 300, [(0, 0, red), (699, 150, blue)]))
    seeds.add("icon", "cell_of_four", icon_seed(64, 2, [(x, y, red if x % 3 else blue) for x in range(0, 64, 2)
                                                          for y in range(2)]))


if __name__ == "__main__":
    main()
