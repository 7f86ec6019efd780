#!/usr/bin/env python3
"""Makes the benchmark's game CD in every form the setup accepts.

At scale 1 the data track holds about 350 MB in about 300 files of 1 KB to 50 MB (videos, levels,
sounds, maps, pictures in a few folders) and the CD has 10 audio tracks of about 300 MB together.
Other scales keep the same files and tracks and scale their sizes.

Writes into OUTDIR:
  tree/                 the extracted CD
  drovenhelm.iso        the data track, 2048-byte sectors (genisoimage)
  track01.bin           the data track, raw 2352-byte Mode 1 sectors (the plain raw BIN form)
  track02.bin ...       one raw audio file per track (sox)
  drovenhelm.cue        the cue sheet over track01.bin ... track11.bin, one FILE per track
  track02.flac ...      the audio tracks as FLAC (flac) and Ogg Vorbis files (oggenc -q 4)
  track02.ogg ...
  drovenhelm-flac.cue   the cue sheet over track01.bin and the FLAC files ("WAVE", as rippers write it)
  drovenhelm-ogg.cue    the same over the Ogg files ("MP3", as game stores write it)
  drovenhelm.nrg        the whole CD as a Nero image (version 2 footer, DAOX track list)

Usage: make_bench_cd.py OUTDIR [--scale S]
"""
import argparse
import os
import random
import shutil
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.normpath(os.path.join(HERE, "..", ".."))
RAW = 2352
FRAMES = 75  # sectors per second of CD audio
MB = 1000 * 1000

# (folder, file stem, extension, count, smallest, largest) at scale 1; sizes are drawn log-uniform.
GROUPS = [
    ("DATA", "LEVEL", "DAT", 60, 40_000, 4_000_000),
    ("DATA/SAVES", "SLOT", "SAV", 12, 1_000, 8_000),
    ("SOUND", "SFX", "WAV", 90, 4_000, 1_500_000),
    ("MAPS", "MAP", "MAP", 80, 1_000, 300_000),
    ("GFX", "PIC", "LBM", 50, 2_000, 1_200_000),
]
# The videos carry most of the bytes, as on the real CDs of the time.
MOVIES = [50, 44, 37, 31, 26, 21, 17, 13, 9]   # MB, in MOVIES/
INTRO_MB = 6                                    # BDROV1DK.AVI in the root
DATA_TARGET = 350 * MB
# Audio track lengths in seconds and sectors past the last whole second: about 300 MB together.
TRACKS = [(155, 0), (182, 37), (168, 0), (201, 12), (143, 74), (176, 0), (190, 1), (149, 50), (171, 0), (165, 20)]


def file_plan(scale):
    """(relative path, size) of every file of the data track."""
    rng = random.Random(1995)
    small = []
    for folder, stem, ext, count, lo, hi in GROUPS:
        for i in range(count):
            size = int(lo * (hi / lo) ** rng.random())
            small.append([f"{folder}/{stem}{i + 1:03d}.{ext}", size])
    big = [[f"MOVIES/CUT{i + 1:02d}.AVI", mb * MB] for i, mb in enumerate(MOVIES)]
    big.append(["BDROV1DK.AVI", INTRO_MB * MB])
    # The small files fill what the videos leave of the target.
    room = DATA_TARGET - sum(s for _, s in big)
    k = room / sum(s for _, s in small)
    plan = [(p, max(1, int(s * k * scale))) for p, s in small]
    plan += [(p, max(1, int(s * scale))) for p, s in big]
    return plan


def write_random(path, size):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        left = size
        while left:
            n = min(left, 1 << 20)
            f.write(os.urandom(n))
            left -= n


def make_tree(out, scale):
    tree = os.path.join(out, "tree")
    for rel, size in file_plan(scale):
        write_random(os.path.join(tree, rel), size)
    with open(os.path.join(tree, "SKIPIT.EXE"), "wb") as f:
        f.write(b"MZ benchmark game launcher\r\n")
    with open(os.path.join(tree, "README.TXT"), "wb") as f:
        f.write(b"Drovenhelm benchmark CD\r\n")
    subprocess.run([sys.executable, os.path.join(TOP, "tools", "sample-cd", "make_title.py"),
                    os.path.join(tree, "TITLE.FLI")], check=True)
    return tree


def make_audio(out, scale):
    """Raw audio files, one per track; returns their sector counts."""
    sectors = []
    procs = []
    notes = ["C3", "E3", "G3", "A2", "D3", "F3", "B2"]
    for i, (sec, extra) in enumerate(TRACKS):
        n = max(1, int((sec * FRAMES + extra) * scale))
        sectors.append(n)
        path = os.path.join(out, f"track{i + 2:02d}.bin")
        chord = [w for j in range(2) for w in ("pluck", notes[(i + 2 * j) % len(notes)])]
        # 588 stereo samples of 16 bits make one 2352-byte sector. The rate goes before -n too, or
        # sox makes the samples at its default rate and resamples them.
        cmd = ["sox", "-q", "-r", "44100", "-c", "2", "-n", "-b", "16", "-e", "signed-integer", "-L",
               "-t", "raw", path, "synth", f"{n * 588}s"] + chord + ["tremolo", "3", "40", "vol", "0.7"]
        procs.append(subprocess.Popen(cmd))
        if len(procs) >= 2:
            if procs.pop(0).wait() != 0:
                sys.exit("sox failed")
    for p in procs:
        if p.wait() != 0:
            sys.exit("sox failed")
    for i, n in enumerate(sectors):
        if os.path.getsize(os.path.join(out, f"track{i + 2:02d}.bin")) != n * RAW:
            sys.exit(f"track {i + 2}: sox wrote an unexpected size")
    return sectors


def msf(lba):
    return f"{lba // 4500:02d}:{lba // 75 % 60:02d}:{lba % 75:02d}"


def write_cue(out, name="drovenhelm.cue", ext="bin", word="BINARY"):
    lines = ['FILE "track01.bin" BINARY', "  TRACK 01 MODE1/2352", "    INDEX 01 00:00:00"]
    for i in range(len(TRACKS)):
        lines += [f'FILE "track{i + 2:02d}.{ext}" {word}', f"  TRACK {i + 2:02d} AUDIO", "    INDEX 01 00:00:00"]
    with open(os.path.join(out, name), "w") as f:
        f.write("\r\n".join(lines) + "\r\n")


def encode_audio(out):
    """Each raw track as FLAC and as Ogg Vorbis, two encoders at a time."""
    raw = ["--force-raw-format", "--endian=little", "--sign=signed", "--channels=2", "--bps=16", "--sample-rate=44100"]
    cmds = []
    for i in range(len(TRACKS)):
        track = os.path.join(out, f"track{i + 2:02d}")
        cmds.append(["flac", "-s", "-f"] + raw + ["-o", track + ".flac", track + ".bin"])
        cmds.append(["oggenc", "-Q", "-r", "-B", "16", "-C", "2", "-R", "44100", "-q", "4", "-o", track + ".ogg",
                     track + ".bin"])
    procs = []
    for cmd in cmds:
        procs.append(subprocess.Popen(cmd))
        if len(procs) >= 2 and procs.pop(0).wait() != 0:
            sys.exit("an encoder failed")
    for p in procs:
        if p.wait() != 0:
            sys.exit("an encoder failed")


def bcd(n):
    return (n // 10) << 4 | n % 10


def chunk(ident, data):
    return ident + struct.pack(">I", len(data)) + data


def write_nrg(out, data_sectors, audio_sectors):
    """A disc-at-once Nero image: track 1 with its 150-sector pregap stored, the audio tracks right
    after it, then the chunk list (CUEX, DAOX, SINF, MTYP, END!) and the version 2 footer."""
    path = os.path.join(out, "drovenhelm.nrg")
    pregap = 150
    files = ["track01.bin"] + [f"track{i + 2:02d}.bin" for i in range(len(audio_sectors))]
    counts = [data_sectors] + audio_sectors
    entries, cues = [], []
    pos = pregap * RAW
    lba = 0
    cues.append(struct.pack(">BBBBi", 0x41, 0, 0, 0, -pregap))  # lead-in
    cues.append(struct.pack(">BBBBi", 0x41, 1, 0, 0, -pregap))
    with open(path, "wb") as f:
        f.write(bytes(pregap * RAW))
        for n, (name, count) in enumerate(zip(files, counts)):
            index0 = 0 if n == 0 else pos
            with open(os.path.join(out, name), "rb") as src:
                shutil.copyfileobj(src, f, 1 << 20)
            mode = 0x05 if n == 0 else 0x07  # Mode 1 in 2352-byte sectors; audio
            entries.append(bytes(12) + struct.pack(">HB3xQQQ", RAW, mode, index0, pos, pos + count * RAW))
            adr = 0x41 if n == 0 else 0x01
            if n > 0:
                cues.append(struct.pack(">BBBBi", adr, bcd(n + 1), 0, 0, lba))
            cues.append(struct.pack(">BBBBi", adr, bcd(n + 1), 1, 0, lba))
            pos += count * RAW
            lba += count
        cues.append(struct.pack(">BBBBi", 0x01, 0xAA, 1, 0, lba))  # lead-out
        dao_body = bytes(14) + struct.pack(">HBB", 0, 1, len(files)) + b"".join(entries)
        dao = struct.pack(">I", 4 + len(dao_body)) + dao_body
        chunks = (chunk(b"CUEX", b"".join(cues)) + chunk(b"DAOX", dao) + chunk(b"SINF", struct.pack(">I", len(files)))
                  + chunk(b"MTYP", struct.pack(">I", 1)) + chunk(b"END!", b""))
        f.write(chunks)
        f.write(b"NER5" + struct.pack(">Q", pos))
    return path


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("out")
    ap.add_argument("--scale", type=float, default=1.0)
    a = ap.parse_args()
    out = a.out
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    tree = make_tree(out, a.scale)
    audio = make_audio(out, a.scale)
    iso = os.path.join(out, "drovenhelm.iso")
    subprocess.run(["genisoimage", "-quiet", "-l", "-V", "DROVENHELM", "-o", iso, tree], check=True)
    subprocess.run([sys.executable, os.path.join(TOP, "tools", "formats", "iso2raw.py"), "mode1", iso,
                    os.path.join(out, "track01.bin")], check=True)
    write_cue(out)
    encode_audio(out)
    write_cue(out, "drovenhelm-flac.cue", "flac", "WAVE")
    write_cue(out, "drovenhelm-ogg.cue", "ogg", "MP3")
    write_nrg(out, os.path.getsize(iso) // 2048, audio)


if __name__ == "__main__":
    main()
