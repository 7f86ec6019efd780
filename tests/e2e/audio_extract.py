"""CD audio to WAV, checked against bchunk and sox: the sample data of each track, the headers, the
file names, the track list, and a track that runs into the next track's pregap."""
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.environ["TOOLS"])
from wine_tools import *  # noqa: E402,F403

check = Checks()
work = tempfile.mkdtemp(prefix="audio-")
gamecd = os.path.join(TESTDATA, "gamecd")



def soxi(path, flag):
    return subprocess.run(["soxi", flag, path], capture_output=True, text=True).stdout.strip()


def bchunk(bin_path, cue, out):
    os.makedirs(out, exist_ok=True)
    subprocess.run(["bchunk", "-w", bin_path, cue, os.path.join(out, "t")], capture_output=True, check=True)


def rip(cue, name):
    game = os.path.join(work, name)
    rc, out, err = discinfo("--audio", winpath(game), winpath(cue))
    return rc, os.path.join(game, "cdaudio"), err


# The game CD: a data track and two audio tracks without pregaps, in one BIN.
rc, audio, err = rip(os.path.join(gamecd, "gamecd.cue"), "game")
check(rc == 0, f"discinfo --audio exit 0 ({err.strip()[-200:]})")
bchunk(os.path.join(gamecd, "gamecd.bin"), os.path.join(gamecd, "gamecd.cue"), os.path.join(work, "bchunk"))
for ours, theirs, sectors in (("track02.wav", "t02.wav", 150), ("track03.wav", "t03.wav", 114)):
    mine = read(os.path.join(audio, ours))
    ref = read(os.path.join(work, "bchunk", theirs))
    check(mine[44:] == ref[44:], f"{ours}: the same samples as bchunk -w ({len(mine) - 44} bytes)")
    path = os.path.join(audio, ours)
    got = (soxi(path, "-r"), soxi(path, "-c"), soxi(path, "-b"), soxi(path, "-s"))
    check(got == ("44100", "2", "16", str(sectors * 588)), f"{ours}: soxi reads 44100 Hz, 2 channels, 16 bits, {sectors * 588} samples: {got}")
data_sectors = os.path.getsize(os.path.join(gamecd, "gamecd-raw.bin")) // 2352
toc = ("# track start_lba sectors (track 1 = data)\r\n"
       f"1 0 {data_sectors}\r\n2 {data_sectors} 150\r\n3 {data_sectors + 150} 114\r\n"
       f"leadout {data_sectors + 264}\r\n").encode()
check(read(os.path.join(audio, "toc.txt")) == toc, f"toc.txt byte for byte: {read(os.path.join(audio, 'toc.txt'))!r}")
check("audio 100%" in err, "a progress line reaches 100%")

# libcdio's BIN whose tracks are numbered 4 and 5, behind our data track: the names carry the numbers.
lib = os.path.join(FIXTURES, "disc", "libcdio")
numbered = os.path.join(work, "numbered")
os.makedirs(numbered)
with open(os.path.join(numbered, "numbered.cue"), "w") as f:
    f.write(f'FILE "{winpath(os.path.join(gamecd, "gamecd-raw.bin"))}" BINARY\n  TRACK 03 MODE1/2352\n    INDEX 01 00:00:00\n'
            f'FILE "{winpath(os.path.join(lib, "cdda_4_5.bin"))}" BINARY\n'
            '  TRACK 04 AUDIO\n    INDEX 01 00:00:00\n  TRACK 05 AUDIO\n    INDEX 01 00:02:00\n')
rc, audio, err = rip(os.path.join(numbered, "numbered.cue"), "numbered")
names = sorted(os.listdir(audio)) if os.path.isdir(audio) else err
check(rc == 0 and names == ["toc.txt", "track04.wav", "track05.wav"], f"tracks 4 and 5 give track04.wav and track05.wav: {names}")

# Pregaps: track 2 runs to track 3's INDEX 01, its pregap included; bchunk stops at INDEX 00.
pre = os.path.join(work, "pregap")
os.makedirs(pre)
a2 = (bytes(range(256)) * 1400)[: 150 * 2352]
a3 = (bytes(reversed(range(256))) * 1200)[: 120 * 2352]
with open(os.path.join(pre, "pregap.bin"), "wb") as f:
    f.write(read(os.path.join(gamecd, "gamecd-raw.bin")) + a2 + a3)
msf = lambda n: "%02d:%02d:%02d" % (n // 4500, n // 75 % 60, n % 75)
with open(os.path.join(pre, "pregap.cue"), "w") as f:
    f.write(f'FILE "pregap.bin" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n'
            f'  TRACK 02 AUDIO\n    INDEX 01 {msf(data_sectors)}\n'
            f'  TRACK 03 AUDIO\n    INDEX 00 {msf(data_sectors + 120)}\n    INDEX 01 {msf(data_sectors + 150)}\n')
rc, audio, err = rip(os.path.join(pre, "pregap.cue"), "pregap-game")
bchunk(os.path.join(pre, "pregap.bin"), os.path.join(pre, "pregap.cue"), os.path.join(work, "bchunk-pregap"))
mine = read(os.path.join(audio, "track02.wav"))[44:]
ref = read(os.path.join(work, "bchunk-pregap", "t02.wav"))[44:]
check(rc == 0 and len(ref) == 120 * 2352 and mine == a2,
      f"track 2 holds its 150 sectors up to track 3's INDEX 01; bchunk's stops at INDEX 00 after {len(ref) // 2352}")
check(mine[: len(ref)] == ref, "where both have it, the data agree")

# The same CD as a Nero image: its writer fills track t with a tone of 220 * t Hz.
import math
import struct
rc, audio, err = rip(os.path.join(gamecd, "gamecd.nrg"), "nero")
for t, sectors in ((2, 150), (3, 114)):
    frames = sectors * 588
    tone = b"".join(struct.pack("<hh", v, v) for v in
                    (round(8000 * math.sin(2 * math.pi * k * 220 * t / 44100)) for k in range(frames)))
    path = os.path.join(audio, "track%02d.wav" % t)
    check(rc == 0 and os.path.exists(path) and read(path)[44:] == tone,
          f"Nero image: track{t:02d}.wav holds the writer's {220 * t} Hz tone, {sectors} sectors")

shutil.rmtree(work, ignore_errors=True)
check.finish()
