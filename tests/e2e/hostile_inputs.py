"""Input the readers were never meant to see, through the real programs under Wine: every file of
the third-party test inputs, and the fuzz targets' seeds and corpora (build/fuzz), each written as the file
the setup would be given. discinfo lists each disc source and copies each disc image; emblem
decodes each picture and builds its icon; each audio input is the audio file of a cue sheet, which
discinfo lists and rips with the real decoders; each CHD input is listed, copied and ripped. Each run must end with exit code 0 or 1: never a
crash, never a hang.

A corpus can hold thousands of inputs: HOSTILE_SAMPLE (default 40) of each target's, spread over
its files by name, are run; HOSTILE_SAMPLE=0 runs them all."""
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.environ["TOOLS"])
from wine_tools import *  # noqa: E402,F403

check = Checks()
SAMPLE = int(os.environ.get("HOSTILE_SAMPLE", "40"))
FUZZ = os.path.join(os.path.dirname(BIN), "fuzz")
SECTOR = 2048
work = tempfile.mkdtemp(prefix="hostile-")


def spread(paths):
    paths = sorted(paths)
    if SAMPLE <= 0 or len(paths) <= SAMPLE:
        return paths
    return [paths[i * len(paths) // SAMPLE] for i in range(SAMPLE)]


def corpus(target):
    """Seeds and corpus of one fuzz target, as far as they exist."""
    out = []
    for kind in ("seeds", "corpus"):
        folder = os.path.join(FUZZ, kind, target)
        if os.path.isdir(folder):
            out += [os.path.join(folder, n) for n in os.listdir(folder)]
    return spread(out)


def as_file(path, suffix):
    """A corpus input as the file the setup would open. An ISO input that begins with its volume
    descriptor gets back the 16 zero sectors in front of it that the fuzz target leaves out."""
    data = read(path)
    if suffix == ".iso" and data.startswith(b"\x01CD001"):
        data = bytes(16 * SECTOR) + data
    out = os.path.join(work, os.path.basename(path) + suffix)
    with open(out, "wb") as f:
        f.write(data)
    return out


slowest = (0.0, "")
runs = 0


def run(name, exe, *args):
    global slowest, runs
    start = time.monotonic()
    try:
        rc, _, err = run_exe(exe, *args, timeout=30)
    except subprocess.TimeoutExpired:
        check(False, f"{name}: {exe} still running after 30 s")
        return
    took = time.monotonic() - start
    runs += 1
    slowest = max(slowest, (took, f"{exe} {name}"))
    if rc not in (0, 1):
        check(False, f"{name}: {exe} exit {rc} ({err.strip()[-200:]!r})")


def disc(name, path, copy):
    run(name, "discinfo.exe", winpath(path))
    if copy:
        dest = os.path.join(work, "copy")
        run(name + " (copy)", "discinfo.exe", "--copy", winpath(dest), winpath(path))
        shutil.rmtree(dest, ignore_errors=True)


def picture(name, path):
    run(name, "emblem.exe", "--ico", winpath(os.path.join(work, "out.ico")), winpath(path))


def files_in(folder):
    return sorted(os.path.join(here, n) for here, _, names in os.walk(folder) for n in names)


discs, pictures = files_in(os.path.join(FIXTURES, "disc")), files_in(os.path.join(FIXTURES, "anim"))
check(discs and pictures, f"the third-party inputs are there: {len(discs)} discs, {len(pictures)} pictures")
for path in discs:
    n = os.path.basename(path)
    disc(n, path, n.lower().endswith((".iso", ".bin", ".nrg")))
for path in pictures:
    picture(os.path.basename(path), path)
fixture_runs = runs

for target, suffix in (("iso", ".iso"), ("cue", ".cue"), ("nrg", ".nrg"), ("copier", ".ccd"), ("copier", ".mds"),
                       ("chd", ".chd")):
    for path in corpus(target):
        disc(f"{target} {os.path.basename(path)}", as_file(path, suffix), target in ("iso", "chd"))
# A CHD's audio tracks ripped too: their hunks are read only then.
for path in corpus("chd"):
    game = os.path.join(work, "game")
    run(f"chd {os.path.basename(path)} (rip)", "discinfo.exe", "--audio", winpath(game), winpath(as_file(path, ".chd")))
    shutil.rmtree(game, ignore_errors=True)
for path in corpus("emblem"):
    picture(f"emblem {os.path.basename(path)}", path)
data_bin = os.path.join(TESTDATA, "gamecd", "gamecd-raw.bin")
for path in corpus("audio"):
    name = os.path.basename(path)
    sheet = os.path.join(work, name + ".cue")
    with open(sheet, "w") as f:
        f.write(f'FILE "{winpath(data_bin)}" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n'
                f'FILE "{os.path.basename(as_file(path, ".audio"))}" WAVE\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n')
    run(f"audio {name}", "discinfo.exe", winpath(sheet))
    game = os.path.join(work, "game")
    run(f"audio {name} (rip)", "discinfo.exe", "--audio", winpath(game), winpath(sheet))
    shutil.rmtree(game, ignore_errors=True)

check(runs > fixture_runs, f"fuzz inputs were run: {runs - fixture_runs} runs besides {fixture_runs} on the third-party inputs")
print(f"{runs} runs, the slowest {slowest[0]:.1f} s: {slowest[1]}")
shutil.rmtree(work, ignore_errors=True)
check.finish()
