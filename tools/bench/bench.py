#!/usr/bin/env python3
"""Install benchmark: silent installs under Wine against native copies of the same bytes.

Makes a game CD of realistic size in every form (make_bench_cd.py beside this script; the cue sheet
also with its audio tracks as FLAC and as Ogg Vorbis files), then runs interleaved rounds: in each
round every install, every stage measurement and every native baseline runs once, so that a slow spell of this shared machine hits all of them alike. Before each timed
command its output is removed, its input read into the page cache and the disk synced. Reports the
medians of the rounds after a warm-up round, ratios taken within this run, and the setup's peak
memory at two CD sizes.

Peak memory is the peak resident set of the process started as `wine setup.exe ...`, as GNU time
reports it (the largest of the wine -> wine64 -> preloader exec chain, which ends as the Windows
process), less the median of the same figure for a trivial Windows program, so that it is the
setup's own use.

Usage: bench.py --top TOP --build BUILD [--rounds N] [--scale S] [--small S]
"""
import argparse
import hashlib
import re
import os
import shutil
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "formats"))
from iso_info import iso_info_listing  # noqa: E402

MB = 1000 * 1000
WAV_HEADER = 44
ISO_SECTOR = 2048
RAW_SECTOR = 2352

TOP = BENCH = WORK = PREFIX = BIN = ""
WINE_ENV = {}


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def tree_bytes(top):
    return sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(top) for f in fs)


def q(path):
    return "'" + path.replace("'", "'\\''") + "'"


def wine_env():
    """The environment that cmake/wine-run.sh gives the tests' programs (cmake/wine-env.sh), in the
    benchmark's prefix: the benchmark starts wine itself, so that GNU time measures wine."""
    script = '. "$1" && env -0'
    out = subprocess.run(["/bin/sh", "-c", script, "sh", os.path.join(TOP, "cmake", "wine-env.sh")],
                         env=dict(os.environ, WINEPREFIX=PREFIX), capture_output=True, check=True).stdout
    return dict(line.split("=", 1) for line in out.decode().split("\0") if line)


def warm(paths):
    """Reads files (and every file of folders) so that they are in the page cache."""
    for path in paths:
        files = [os.path.join(d, f) for d, _, fs in os.walk(path) for f in fs] if os.path.isdir(path) else [path]
        for name in files:
            with open(name, "rb") as f:
                while f.read(1 << 20):
                    pass


class Result:
    def __init__(self, seconds, rc, peak_kb, out, err):
        self.seconds, self.rc, self.peak_kb, self.out, self.err = seconds, rc, peak_kb, out, err


def execute(cmd, wine):
    """Runs one command under GNU time: wall time and the peak resident set of the process.
    GNU time rather than wait4 from here: a child forked from this Python process starts with
    Python's pages resident, and the peak would keep them even after the exec."""
    if wine:
        argv, env = ["/usr/bin/wine"] + cmd, WINE_ENV
    else:
        argv, env = ["/bin/sh", "-c", cmd], None
    peak = os.path.join(WORK, "peak.txt")
    with open(os.path.join(WORK, "stdout.txt"), "w+b") as out, open(os.path.join(WORK, "stderr.txt"), "w+b") as err:
        t0 = time.perf_counter()
        rc = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", peak, "-q"] + argv, env=env,
                            stdin=subprocess.DEVNULL, stdout=out, stderr=err).returncode
        seconds = time.perf_counter() - t0
        out.seek(0)
        err.seek(0)
        with open(peak) as f:
            peak_kb = int(f.read().split()[-1])
        return Result(seconds, rc, peak_kb, out.read().decode(errors="replace"),
                      err.read().decode(errors="replace"))


class Item:
    """One measured command and its rounds: key is how the report finds it, name what it prints. A
    round's time is the wall time, or for the read pattern probe (inner) the time that the program
    measured itself."""

    def __init__(self, key, name, cmd, wine=False, out=None, inputs=(), nbytes=0, check=None, inner=False, rc=0,
                 again=False):
        self.key, self.name, self.cmd, self.wine, self.out, self.inputs = key, name, cmd, wine, out, list(inputs)
        self.nbytes, self.check, self.inner, self.rc, self.again = nbytes, check, inner, rc, again
        self.times, self.peaks = [], []

    def run(self, counted):
        if self.out:
            shutil.rmtree(self.out, ignore_errors=True)
        if self.again:
            # Timed is the second run, into the folder that the first one, untimed, filled.
            r = execute(self.cmd, self.wine)
            if r.rc != self.rc:
                sys.exit(f"{self.name}: the first run's exit code {r.rc}\n{self.cmd}\n{r.err}")
        warm(self.inputs)
        # Whatever the last command left dirty is written out before the clock starts.
        subprocess.run(["sync"], check=True)
        r = execute(self.cmd, self.wine)
        if r.rc != self.rc:
            sys.exit(f"{self.name}: exit code {r.rc}\n{self.cmd}\n{r.err}")
        if self.check:
            self.check(self, r)
        seconds = float(r.out.split()[0]) if self.inner else r.seconds
        if counted:
            self.times.append(seconds)
            self.peaks.append(r.peak_kb)
        if self.out:
            shutil.rmtree(self.out, ignore_errors=True)

    def median(self):
        return statistics.median(self.times)


def stamp_of(scale):
    h = hashlib.sha1(f"{scale}".encode())
    for rel in ("tools/bench/make_bench_cd.py", "tools/formats/iso2raw.py", "tools/sample-cd/make_title.py"):
        with open(os.path.join(TOP, rel), "rb") as f:
            h.update(f.read())
    return h.hexdigest()[:12]


class Cd:
    """One generated CD (made again only when its maker changes): its forms and what a correct
    install of each holds."""

    def __init__(self, folder, scale):
        stamp = os.path.join(folder, ".made-" + stamp_of(scale))
        if not os.path.exists(stamp):
            print(f"making the game CD at scale {scale} in {folder} ...", flush=True)
            subprocess.run([sys.executable, os.path.join(TOP, "tools", "bench", "make_bench_cd.py"), folder,
                            "--scale", str(scale)], check=True)
            open(stamp, "w").close()
        self.folder = folder
        self.tree = os.path.join(folder, "tree")
        self.data_bytes = tree_bytes(self.tree)
        self.files = sum(len(fs) for _, _, fs in os.walk(self.tree))
        self.audio = [os.path.join(folder, n) for n in sorted(os.listdir(folder))
                      if n.startswith("track") and n.endswith(".bin") and n != "track01.bin"]
        self.audio_bytes = sum(os.path.getsize(n) for n in self.audio)
        self.iso = os.path.join(folder, "drovenhelm.iso")
        self.raw = os.path.join(folder, "track01.bin")
        self.cue = os.path.join(folder, "drovenhelm.cue")
        self.nrg = os.path.join(folder, "drovenhelm.nrg")
        self.chd = os.path.join(folder, "drovenhelm.chd")
        # The same tracks as the files of the wild: decoded, not read.
        self.encoded = {ext: [n[:-4] + "." + ext for n in self.audio] for ext in ("flac", "ogg")}
        self.cue_flac = os.path.join(folder, "drovenhelm-flac.cue")
        self.cue_ogg = os.path.join(folder, "drovenhelm-ogg.cue")
        # key, name, source, the files a full read of it takes, carries audio
        self.forms = [
            ("folder", "folder", self.tree, [self.tree], False),
            ("iso", "iso", self.iso, [self.iso], False),
            ("raw", "raw bin", self.raw, [self.raw], False),
            ("cue", "cue/bin", self.cue, [self.cue, self.raw] + self.audio, True),
            ("nrg", "nrg", self.nrg, [self.nrg], True),
            ("flac", "cue/flac", self.cue_flac, [self.cue_flac, self.raw] + self.encoded["flac"], True),
            ("ogg", "cue/ogg", self.cue_ogg, [self.cue_ogg, self.raw] + self.encoded["ogg"], True),
            ("chd", "chd", self.chd, [self.chd], True),
        ]

    def wav_bytes(self):
        return self.audio_bytes + WAV_HEADER * len(self.audio)

    def installed_bytes(self, audio):
        return self.data_bytes + (self.wav_bytes() if audio else 0)


def sum_wavs(folder):
    if not os.path.isdir(folder):
        return 0
    return sum(os.path.getsize(os.path.join(folder, n)) for n in os.listdir(folder) if n.endswith(".wav"))


def install_check(cd, audio):
    """A timed install counts only if it installed the whole CD."""
    def check(item, r):
        problems = []
        got = tree_bytes(os.path.join(item.out, "game", "cd")) if os.path.isdir(item.out) else 0
        if got != cd.data_bytes:
            problems.append(f"game\\cd holds {got} bytes, the CD {cd.data_bytes}")
        have = sum_wavs(os.path.join(item.out, "game", "cdaudio"))
        want = cd.wav_bytes() if audio else 0
        if have != want:
            problems.append(f"game\\cdaudio holds {have} bytes of WAV files, expected {want}")
        if problems:
            sys.exit(f"{item.name}: {'; '.join(problems)}\n{r.err}")
    return check


def output_check(measure, want):
    """A check that a command wrote all it should have into its output folder."""
    def check(item, r):
        got = measure(item.out)
        if got != want:
            sys.exit(f"{item.name}: wrote {got} bytes, expected {want}\n{r.err}")
    return check


def iso_files(iso):
    """(relative path, first sector, size) of every file of the volume and the relative path of every
    folder, as libcdio's iso-info lists them (plain ISO 9660 names, without versions)."""
    entries = iso_info_listing(iso, check=True)
    files = [(rel, lsn, size) for kind, rel, lsn, size in entries if kind == "-"]
    return files, [rel for kind, rel, _, _ in entries if kind == "d"]


def report(source):
    """discinfo's report of a source: its layout line and its track lines."""
    out = execute([os.path.join(BIN, "discinfo.exe"), winpath(source)], True).out.replace("\r", "")
    layout = re.search(r"^layout: sector_size=(\d+) data_offset=(\d+) base_offset=(\d+)", out, re.M)
    tracks = re.findall(r"^track \d+ (audio|data) start=\d+ sectors=(\d+) sector_size=\d+ offset=(\d+) kind=\w+ "
                        r"file=(.*)$",
                        out, re.M)
    return (tuple(int(x) for x in layout.groups()) if layout else None), tracks


def floor_list(cd, form, source, dest):
    """The steps of floorcopy for one form: the same files and WAVs the install writes."""
    w = lambda path: winpath(path)  # noqa: E731
    lines = [f"D\t{w(os.path.dirname(dest))}", f"D\t{w(dest)}", f"D\t{w(os.path.join(dest, 'cd'))}"]
    if form == "folder":
        for here, dirs, names in os.walk(cd.tree):
            rel = os.path.relpath(here, cd.tree)
            for d in sorted(dirs):
                lines.append(f"D\t{w(os.path.join(dest, 'cd', rel, d))}")
            for n in sorted(names):
                lines.append(f"F\t{w(os.path.join(here, n))}\t{w(os.path.join(dest, 'cd', rel, n))}")
        return lines
    files, folders = iso_files(cd.iso)
    layout, tracks = report(source)
    image = cd.raw if form == "cue" else source
    sector, offset, base = (RAW_SECTOR, 16, 0) if form == "cue" else layout
    for rel in folders:
        lines.append(f"D\t{w(os.path.join(dest, 'cd', rel))}")
    for rel, lba, size in files:
        lines.append(f"I\t{w(image)}\t{sector}\t{offset}\t{base}\t{lba}\t{size}\t{w(os.path.join(dest, 'cd', rel))}")
    audio = [t for t in tracks if t[0] == "audio"]
    if audio:
        lines.append(f"D\t{w(os.path.join(dest, 'cdaudio'))}")
    for k, (_, sectors, off, track_file) in enumerate(audio, 2):
        lines.append(f"W\t{track_file}\t{off}\t{sectors}\t{w(os.path.join(dest, 'cdaudio', f'track{k:02d}.wav'))}")
    return lines


# The forms whose audio is decoded: floorcopy reads raw sectors, so they have no floor.
DECODED = ("flac", "ogg")
# The forms that no native program reads straight: their baseline is converting them first.
CONVERTED = ("chd",)


def floor_items(cd, skipped):
    items = []
    for form, name, source, files, audio in cd.forms:
        if form in skipped or form in DECODED or form in CONVERTED:
            continue
        dest = os.path.join(WORK, "floor")
        listing = os.path.join(BENCH, f"floor-{form}.txt")
        with open(listing, "w") as f:
            f.write("\n".join(floor_list(cd, form, source, os.path.join(dest, "game"))) + "\n")
        item = Item(f"floor {form}", f"floor {name}", [os.path.join(BIN, "floorcopy.exe"), winpath(listing)],
                    wine=True, out=dest, inputs=files, nbytes=cd.installed_bytes(audio), check=install_check(cd, audio))
        item.form = form
        items.append(item)
    return items


def install_items(cd, key, label, skipped, again=False):
    items = []
    for form, name, source, files, audio in cd.forms:
        if form in skipped:
            continue
        dest = os.path.join(WORK, "install")
        items.append(Item(f"{key} {form}", f"{label}{name}", [os.path.join(BIN, "drovenhelm_setup.exe"), "/silent",
                                                             "/cd", winpath(source), "/dir", winpath(dest)],
                          wine=True, out=dest, inputs=files, nbytes=cd.installed_bytes(audio),
                          check=install_check(cd, audio), again=again))
        items[-1].form = form
    return items


def stage_items(cd):
    """The install's two bulk stages alone, and the read patterns of its readers alone."""
    out = os.path.join(WORK, "stage")
    discinfo = os.path.join(BIN, "discinfo.exe")
    readpat = os.path.join(BIN, "readpat.exe")
    wav = [winpath(n) for n in cd.audio]
    sectors = -(-os.path.getsize(cd.iso) // ISO_SECTOR)
    copy_ok = output_check(tree_bytes, cd.data_bytes)
    audio_ok = output_check(lambda out: sum_wavs(os.path.join(out, "cdaudio")), cd.wav_bytes())
    items = [
        Item("wine", "wine: trivial program", [discinfo, "--help"], wine=True),
        Item("refusal", "setup refusing a missing CD", [os.path.join(BIN, "drovenhelm_setup.exe"), "/silent", "/cd",
                                                        winpath(os.path.join(WORK, "no-such-cd")), "/dir",
                                                        winpath(os.path.join(WORK, "x"))], wine=True, rc=1),
        Item("copy folder", "copy stage, folder", [discinfo, "--copy", winpath(out), winpath(cd.tree)], wine=True,
             out=out, inputs=[cd.tree], nbytes=cd.data_bytes, check=copy_ok),
        Item("copy iso", "copy stage, iso", [discinfo, "--copy", winpath(out), winpath(cd.iso)], wine=True, out=out,
             inputs=[cd.iso], nbytes=cd.data_bytes, check=copy_ok),
        Item("audio cue", "audio stage, cue/bin", [discinfo, "--audio", winpath(out), winpath(cd.cue)], wine=True,
             out=out, inputs=cd.audio + [cd.raw], nbytes=cd.wav_bytes(), check=audio_ok),
        Item("audio flac", "audio stage, cue/flac", [discinfo, "--audio", winpath(out), winpath(cd.cue_flac)],
             wine=True, out=out, inputs=cd.encoded["flac"] + [cd.raw], nbytes=cd.wav_bytes(), check=audio_ok),
        Item("audio ogg", "audio stage, cue/ogg", [discinfo, "--audio", winpath(out), winpath(cd.cue_ogg)],
             wine=True, out=out, inputs=cd.encoded["ogg"] + [cd.raw], nbytes=cd.wav_bytes(), check=audio_ok),
        Item("iso sectors", "iso: seek + 2048 B read a sector", [readpat, "sectors", "2048", "0", winpath(cd.iso)],
             wine=True, inputs=[cd.iso], nbytes=sectors * ISO_SECTOR, inner=True),
        Item("iso 64k", "iso: 64 KiB reads", [readpat, "blocks", "65536", winpath(cd.iso)],
             wine=True, inputs=[cd.iso], nbytes=os.path.getsize(cd.iso), inner=True),
        Item("iso 1m", "iso: 1 MiB reads", [readpat, "blocks", "1048576", winpath(cd.iso)],
             wine=True, inputs=[cd.iso], nbytes=os.path.getsize(cd.iso), inner=True),
        Item("raw sectors", "raw bin: seek + 2048 B read a sector", [readpat, "sectors", "2352", "16", winpath(cd.raw)],
             wine=True, inputs=[cd.raw], nbytes=sectors * ISO_SECTOR, inner=True),
        Item("audio reopen", "audio: open + seek + 75-sector read", [readpat, "reopen", "176400"] + wav,
             wine=True, inputs=cd.audio, nbytes=cd.audio_bytes, inner=True),
        Item("audio 1m", "audio: 1 MiB reads, one open", [readpat, "blocks", "1048576"] + wav,
             wine=True, inputs=cd.audio, nbytes=cd.audio_bytes, inner=True),
    ]
    return {i.key: i for i in items}


def native_items(cd):
    out = os.path.join(WORK, "native")
    cues = os.path.join(BENCH, "bchunk-cues")
    os.makedirs(cues, exist_ok=True)
    loop = []
    for track in cd.audio:
        name = os.path.basename(track)[:-4]
        sheet = os.path.join(cues, name + ".cue")
        with open(sheet, "w") as f:
            f.write(f'FILE "{os.path.basename(track)}" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n')
        loop.append(f"bchunk -w {q(track)} {q(sheet)} {q(os.path.join(out, name))} >/dev/null")
    # ffmpeg decoding the same FLAC and Ogg files to WAV: the decoded forms' baseline for their audio.
    decode = {}
    for ext, files in cd.encoded.items():
        decode[ext] = " && ".join(f"ffmpeg -v error -nostdin -i {q(n)} -bitexact -y {q(os.path.join(out, os.path.basename(n)[:-len(ext)] + 'wav'))}"
                                  for n in files)
    iso = cd.iso
    tree_ok = output_check(tree_bytes, cd.data_bytes)
    items = [
        Item("cp", "cp -r", f"cp -r {q(cd.tree)} {q(out)}", out=out, inputs=[cd.tree], nbytes=cd.data_bytes,
             check=tree_ok),
        Item("bchunk", "bchunk -w", f"mkdir -p {q(out)} && " + " && ".join(loop), out=out, inputs=cd.audio,
             nbytes=cd.audio_bytes, check=output_check(sum_wavs, cd.wav_bytes())),
        Item("ffmpeg flac", "ffmpeg flac to wav", f"mkdir -p {q(out)} && " + decode["flac"], out=out,
             inputs=cd.encoded["flac"], nbytes=cd.audio_bytes, check=output_check(sum_wavs, cd.wav_bytes())),
        Item("ffmpeg ogg", "ffmpeg ogg to wav", f"mkdir -p {q(out)} && " + decode["ogg"], out=out,
             inputs=cd.encoded["ogg"], nbytes=cd.audio_bytes, check=output_check(sum_wavs, cd.wav_bytes())),
        # What a player without a CHD reader does first: the CHD back to a cue sheet and its BIN.
        Item("chdman", "chdman extractcd", f"mkdir -p {q(out)} && chdman extractcd -i {q(cd.chd)} -o "
             f"{q(os.path.join(out, 'cd.cue'))} -ob {q(os.path.join(out, 'cd.bin'))} >/dev/null", out=out, inputs=[cd.chd],
             nbytes=os.path.getsize(cd.raw) + cd.audio_bytes,
             check=output_check(lambda o: os.path.getsize(os.path.join(o, "cd.bin")), os.path.getsize(cd.raw) + cd.audio_bytes)),
        Item("bsdtar", "bsdtar -xf", f"mkdir -p {q(out)} && bsdtar -xf {q(iso)} -C {q(out)}", out=out, inputs=[iso],
             nbytes=cd.data_bytes, check=tree_ok),
        Item("xorriso", "xorriso -extract", f"xorriso -osirrox on -indev {q(iso)} -extract / {q(out)} 2>/dev/null",
             out=out, inputs=[iso], nbytes=cd.data_bytes, check=tree_ok),
        Item("7z", "7z x", f"7z x -y -bd {q(iso)} -o{q(out)} >/dev/null", out=out, inputs=[iso], nbytes=cd.data_bytes,
             check=tree_ok),
        # What one read call per 2048 bytes costs on this machine without Wine.
        Item("dd 2048", "dd bs=2048 of iso", f"dd if={q(iso)} of=/dev/null bs=2048 status=none", inputs=[iso],
             nbytes=os.path.getsize(iso)),
        Item("dd 64k", "dd bs=64k of iso", f"dd if={q(iso)} of=/dev/null bs=64k status=none", inputs=[iso],
             nbytes=os.path.getsize(iso)),
    ]
    for form, name, _, files, _ in cd.forms:
        paths = [f for f in files if not f.endswith(".cue")]
        if os.path.isdir(paths[0]):
            cmd, nbytes = f"find {q(paths[0])} -type f -exec cat {{}} + >/dev/null", cd.data_bytes
        else:
            cmd, nbytes = "cat " + " ".join(q(f) for f in paths) + " >/dev/null", sum(map(os.path.getsize, paths))
        items.append(Item(f"cat {form}", "cat " + name, cmd, inputs=paths, nbytes=nbytes))
    return {i.key: i for i in items}


def accepted(source):
    """Whether the setup's own reader opens a source (discinfo opens it as the setup does)."""
    return execute([os.path.join(BIN, "discinfo.exe"), winpath(source)], True).rc == 0


def rounds_line(item):
    return " ".join(f"{x:.2f}" for x in item.times)


def main():
    global TOP, BENCH, WORK, PREFIX, BIN, WINE_ENV
    ap = argparse.ArgumentParser()
    ap.add_argument("--top", required=True, help="the source tree")
    ap.add_argument("--build", required=True, help="the build folder, with bin/")
    ap.add_argument("--rounds", type=int, default=5, help="counted rounds, after one warm-up round")
    ap.add_argument("--scale", type=float, default=1.0, help="size of the main CD (1: about 650 MB)")
    ap.add_argument("--small", type=float, default=0.25, help="size of the CD for the second memory figure")
    a = ap.parse_args()
    started = time.perf_counter()
    TOP = os.path.abspath(a.top)
    BIN = os.path.join(os.path.abspath(a.build), "bin")
    BENCH = os.path.join(os.path.abspath(a.build), "bench")
    WORK = os.path.join(BENCH, "run")
    PREFIX = os.path.join(BENCH, "wineprefix")
    for tool in ("bsdtar", "xorriso", "7z", "bchunk", "genisoimage", "sox", "iso-info", "/usr/bin/time", "flac",
                 "oggenc", "ffmpeg", "chdman"):
        if not shutil.which(tool):
            sys.exit(f"{tool} is missing")
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    full = Cd(os.path.join(BENCH, "cd-full"), a.scale)
    small = Cd(os.path.join(BENCH, "cd-small"), a.small)
    tiny = Cd(os.path.join(BENCH, "cd-tiny"), 0.001)

    env = WINE_ENV = wine_env()
    # The prefix is made on first use. A Windows process left waiting keeps one Wine session (its
    # server and services) alive, so every measured start costs what a start in a running session
    # costs, not the start of a new session.
    subprocess.run([os.path.join(TOP, "cmake", "wine-run.sh"), "cmd", "/c", "exit", "0"], env=env,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    keeper = subprocess.Popen(["/usr/bin/wine", "cmd.exe"], env=env, stdin=subprocess.PIPE,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        measure(a, full, small, tiny, started)
    finally:
        keeper.stdin.close()
        try:
            keeper.wait(timeout=20)
        except subprocess.TimeoutExpired:
            keeper.kill()
        subprocess.run(["/usr/bin/wineserver", "-k"], env=env)
        shutil.rmtree(WORK, ignore_errors=True)


def measure(a, cd, sc, tiny, started):
    load = os.getloadavg()[0]
    skipped = {}
    if not (accepted(cd.nrg) and accepted(sc.nrg)):
        skipped["nrg"] = "the setup does not accept the Nero image (discinfo refuses it)"
    installs = install_items(cd, "install", "", skipped)
    # The same installs from a smaller CD: the peak must not follow the CD's size.
    small_installs = install_items(sc, "small", "small CD: ", skipped)
    # And from a CD of almost no bytes: what an install costs whatever the CD's size.
    fixed_installs = [i for i in install_items(tiny, "tiny", "tiny CD: ", skipped) if i.form in ("iso", "cue")]
    # A repair or re-install: every file of an earlier install replaced.
    reinstalls = [i for i in install_items(cd, "again", "again: ", skipped, again=True) if i.form in ("iso", "cue")]
    floors = floor_items(cd, skipped)
    stages = stage_items(cd)
    natives = native_items(cd)
    order = (installs + small_installs + fixed_installs + reinstalls + floors + list(stages.values()) +
             list(natives.values()))
    for r in range(a.rounds + 1):  # round 0 warms up and is not counted
        for item in order:
            item.run(r > 0)
        print(f"round {r}{' (warm-up)' if r == 0 else ''} done at {time.perf_counter() - started:.0f} s",
              flush=True)

    wine_kb = statistics.median(stages["wine"].peaks)
    own = lambda kb: (kb - wine_kb) / 1024  # noqa: E731   MiB of the setup's own
    med = lambda key: (stages.get(key) or natives[key]).median()  # noqa: E731
    form_item = lambda items, form: next(i for i in items if i.form == form)  # noqa: E731
    extractor = min(("bsdtar", "xorriso", "7z"), key=med)

    print()
    print(f"Install benchmark: game CD of {cd.data_bytes / MB:.0f} MB of data in {cd.files} files and "
          f"{len(cd.audio)} audio tracks of {cd.audio_bytes / MB:.0f} MB.")
    print(f"{a.rounds} rounds after a warm-up round, interleaved; medians; warm page cache; MB = 10^6 bytes, "
          f"MiB = 2^20; load average {load:.1f} at the start, {os.getloadavg()[0]:.1f} at the end.")
    print()
    print(f"{'native baseline':<20}{'median s':>9}{'MB/s':>7}   rounds (s)")
    for item in natives.values():
        print(f"{item.name:<20}{item.median():9.2f}{item.nbytes / MB / item.median():7.0f}   {rounds_line(item)}")
    print()
    sizes = f"{sc.data_bytes / MB:.0f}+{sc.audio_bytes / MB:.0f} MB", f"{cd.data_bytes / MB:.0f}+{cd.audio_bytes / MB:.0f} MB"
    print(f"{'form':<8}{'MB':>5}{'install s':>10}{'MB/s':>6}{'÷(cp -r':>9}{'÷fastest':>9}{'÷floor':>7}"
          f"{'own peak MiB at':>18}{'':>8}   rounds (s)")
    print(f"{'':<8}{'':>5}{'':>10}{'':>6}{'+bchunk)':>9}{'native':>9}{'':>7}{sizes[0]:>12}{sizes[1]:>14}")
    ratios, floor_ratio = {}, {}
    largest = 0.0
    for form, name, _, _, audio in cd.forms:
        if form in skipped:
            print(f"{name:<8}  skipped: {skipped[form]}")
            continue
        item = form_item(installs, form)
        t = item.median()
        # The native way to the same WAVs: bchunk for raw tracks, ffmpeg decoding for encoded ones.
        audio_native = (med(f"ffmpeg {form}") if form in DECODED else med("bchunk")) if audio else 0
        limit = med("cp") + audio_native
        native = med("cp" if form == "folder" else extractor) + audio_native
        ratios[form] = t / limit
        floor = f"{'-':>7}"
        if form not in DECODED + CONVERTED:
            floor_ratio[form] = t / form_item(floors, form).median()
            floor = f"{floor_ratio[form]:7.2f}"
        p_full = own(max(item.peaks))
        p_small = own(max(form_item(small_installs, form).peaks))
        largest = max(largest, p_full, p_small)
        print(f"{name:<8}{item.nbytes / MB:5.0f}{t:10.2f}{item.nbytes / MB / t:6.0f}{t / limit:9.2f}{t / native:9.2f}"
              f"{floor}{p_small:12.1f}{p_full:14.1f}   {rounds_line(item)}")
    print()
    print("÷(cp -r +bchunk): install time ÷ (cp -r of the extracted tree, + bchunk -w of the audio tracks for a")
    print("form that has them; for cue/flac and cue/ogg + ffmpeg decoding the same FLAC or Ogg files to WAV).")
    print(f"÷fastest native: ÷ (the fastest of bsdtar, xorriso and 7z on the ISO, here {natives[extractor].name};")
    print("cp -r for the folder; + the audio as above). Own peak: the setup's peak resident set less that of a")
    print(f"trivial Windows program ({wine_kb / 1024:.1f} MiB), the largest of the runs, at the two CD sizes.")
    print("÷floor: ÷ floorcopy, a program that reads the same bytes with the same fixed pattern and writes the same")
    print("files and WAVs with the same block sizes from a list made beforehand (no walk, no log), also under Wine;")
    print("none for the forms whose audio is decoded, nor for the CHD.")
    print()
    print("Where the time goes (medians of the same rounds; 'inside': timed by the program itself, reads only)")
    print(f"{'':<46}{'median s':>9}{'MB/s':>7}   rounds (s)")
    for item in fixed_installs + reinstalls + floors + list(stages.values()):
        rate = f"{item.nbytes / MB / item.median():7.0f}" if item.nbytes > MB else f"{'':>7}"
        label = item.name + (" (inside)" if item.inner else "")
        print(f"{label:<46}{item.median():9.2f}{rate}   {rounds_line(item)}")
    sectors = stages["iso sectors"].nbytes // ISO_SECTOR
    per_sector = med("iso sectors") - med("iso 64k")
    per_sector_raw = med("raw sectors") - med("iso 64k")
    per_open = med("audio reopen") - med("audio 1m")
    print()
    print(f"One seek and one 2048-byte read per sector cost {per_sector:.2f} s more than 64 KiB reads for the ISO "
          f"({per_sector / sectors * 1e6:.1f} µs a sector), {per_sector_raw:.2f} s for the raw data track.")
    print(f"Without Wine one read call per 2048 bytes (dd bs=2048) takes {med('dd 2048'):.2f} s for the ISO, "
          f"at 64 KiB {med('dd 64k'):.2f} s.")
    print(f"Opening the track's file for every 75 sectors of audio costs {per_open:.2f} s more than 1 MiB reads "
          f"from one open file.")
    for form, name, extra in (("iso", "iso", per_sector), ("cue", "cue/bin", per_sector_raw + per_open)):
        t = form_item(installs, form).median()
        fixed = form_item(fixed_installs, form).median()
        limit = med("cp") + (med("bchunk") if form == "cue" else 0)
        print(f"{name} install {t:.2f} s: {fixed:.2f} s of it whatever the CD's size (the tiny CD; Wine starting a "
              f"program takes {med('wine'):.2f} s), {extra:.2f} s the fixed read patterns; without "
              f"them {(t - extra) / limit:.2f}× its native baseline.")
    if skipped:
        print("skipped: " + "; ".join(f"{k}: {v}" for k, v in skipped.items()))
    print(f"total time of the benchmark: {time.perf_counter() - started:.0f} s")
    fixed_s = form_item(fixed_installs, "iso").median() - med("wine")
    # Installing from the CHD against converting it first and installing the cue sheet.
    chd = form_item(installs, "chd").median() / (med("chdman") + form_item(installs, "cue").median())
    print(f"chd: the install from the CHD ÷ (chdman extractcd + the install of the cue/bin) = {chd:.2f}")
    print(f"ratios: iso={ratios['iso']:.2f} cue={ratios['cue']:.2f} peak_mb={largest:.1f} "
          f"iso_floor={floor_ratio['iso']:.2f} cue_floor={floor_ratio['cue']:.2f} folder={ratios['folder']:.2f} "
          f"fixed_s={fixed_s:.2f} flac_dec={ratios['flac']:.2f} ogg_dec={ratios['ogg']:.2f} chd={chd:.2f}")


if __name__ == "__main__":
    main()
