"""The game CD as CHD images made by chdman (createcd from a cue sheet with one BIN and INDEX 00
pregaps, from one with a BIN per track, and from the ISO; cdzl, cdlz, cdfl, chdman's default mix,
uncompressed, the plain zlib, lzma and flac together, huff, and cdzs and zstd by a newer chdman,
tests/tools/fetch-chdman.sh): each installs silently exactly as
the cue sheet and BIN that chdman extractcd gives back from it, game\\cd, the WAVs and toc.txt byte
for byte, and discinfo gives the same track table; damaged CHDs and one that needs its parent fail
within 30 s with a line that says why, never with "Done."."""
import filecmp
import os
import shutil
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.environ["TOOLS"])
from wine_tools import *  # noqa: E402,F403

check = Checks()
chd = os.path.join(TESTDATA, "chd")
base = os.path.join(DRIVE_C, "dvchd")
shutil.rmtree(base, ignore_errors=True)
work = tempfile.mkdtemp(prefix="chd-")
CODECS = ("cdzl", "cdlz", "cdfl", "default", "none", "cdzs", "plain", "huff", "zstd")


def install(name, source, timeout=300):
    rc, _, _ = run_exe("drovenhelm_setup.exe", "/silent", "/cd", winpath(source), "/dir", "C:\\dvchd\\" + name,
                       "/nodesktop", "/nostartmenu", timeout=timeout)
    return rc, os.path.join(base, name), setup_log() or []


def outcome(target):
    folder = os.path.join(target, "game", "cdaudio")
    audio = {n: read(os.path.join(folder, n)) for n in sorted(os.listdir(folder))} if os.path.isdir(folder) else {}
    return tree_digest(os.path.join(target, "game", "cd")), audio


def track_lines(source):
    rc, out, _ = discinfo(winpath(source))
    lines = out.replace("\r", "").splitlines()
    # number, kind of track, start and length: what the install reads; files and offsets differ.
    return rc, lines, [" ".join(l.split()[:5]) for l in lines if l.startswith("track ")]


for cd, music in (("onebin", True), ("pertrack", True), ("iso", False)):
    reference = os.path.join(chd, f"{cd}-cdzl-x.cue")
    # chdman gives the same cue/bin back from every CHD of a CD: its codecs are lossless.
    for codec in CODECS[1:]:
        same = filecmp.cmp(os.path.join(chd, f"{cd}-cdzl-x.bin"), os.path.join(chd, f"{cd}-{codec}-x.bin"), False)
        check(same, f"{cd}: chdman extracts the same BIN from the {codec} CHD as from the cdzl one")
    rc, target, log = install(f"{cd}-cue", reference)
    check(rc == 0 and log[-1:] == ["Done."], f"{cd}: the extracted cue sheet installs ({log[-1:]})")
    want_cd, want_audio = outcome(target)
    if music:
        check(sorted(want_audio) == ["toc.txt", "track02.wav", "track03.wav"],
              f"{cd}: the extracted sheet's music ({sorted(want_audio)})")
    _, _, want_tracks = track_lines(reference)
    for codec in CODECS:
        source = os.path.join(chd, f"{cd}-{codec}.chd")
        rc, target, log = install(f"{cd}-{codec}", source)
        check(rc == 0 and log[-1:] == ["Done."], f"{cd} {codec}: installs ({log[-1:]})")
        got_cd, got_audio = outcome(target)
        d = diff(want_cd, got_cd, "cue/bin", "chd")
        check(not d, f"{cd} {codec}: game\\cd is the extracted cue sheet's\n{d}")
        check(got_audio == want_audio, f"{cd} {codec}: the WAVs and toc.txt are the cue sheet's ({sorted(got_audio)})")
        shutil.rmtree(target, ignore_errors=True)
        rc, lines, tracks = track_lines(source)
        count = len(want_tracks)
        check(rc == 0 and f"source: CHD image {winpath(source)} ({count} tracks)" in lines,
              f"{cd} {codec}: discinfo names the CHD image ({lines[:1]})")
        check(tracks == want_tracks, f"{cd} {codec}: discinfo's track table is the cue sheet's\n{tracks}\n{want_tracks}")

# The extension in any letter case.
upper = os.path.join(work, "DROVEN.CHD")
shutil.copy(os.path.join(chd, "onebin-cdlz.chd"), upper)
rc, lines, _ = track_lines(upper)
check(rc == 0 and f"source: CHD image {winpath(upper)} (3 tracks)" in lines, f".CHD opens ({lines[:1]})")

# Damaged CHDs: refused, or the install stops at the damage; the log says what is wrong.
whole = read(os.path.join(chd, "onebin-cdzl.chd"))
map_at = struct.unpack(">Q", whole[40:48])[0]
first_hunk = int.from_bytes(whole[map_at + 4:map_at + 10], "big")
middle = (first_hunk + map_at) // 2
damaged = {
    "cut.chd": (whole[:len(whole) // 2], "is damaged: its map lies past the end"),
    "flipped.chd": (whole[:middle] + bytes([whole[middle] ^ 0xFF]) + whole[middle + 1:], "CHD hunk "),
    "pastend.chd": (whole[:map_at + 4] + len(whole).to_bytes(6, "big") + whole[map_at + 10:],
                    "is damaged: its map points past the end of the file"),
    "child.chd": (read(os.path.join(chd, "child.chd")), "needs its parent CHD"),
}
for name, (data, says) in damaged.items():
    path = os.path.join(work, name)
    with open(path, "wb") as f:
        f.write(data)
    try:
        rc, _, log = install("damaged", path, timeout=30)
    except subprocess.TimeoutExpired:
        check(False, f"{name}: ended within 30 s")
        continue
    said = [l for l in log if says in l]
    check(rc == 1 and said and "Done." not in log and log[-1:][0].startswith("ERROR:"),
          f"{name}: exit 1 with a line that says why (exit {rc}, {said}, {log[-3:]})")

shutil.rmtree(work, ignore_errors=True)
shutil.rmtree(base, ignore_errors=True)
check.finish()
