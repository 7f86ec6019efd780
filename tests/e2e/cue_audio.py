"""Cue sheets whose audio tracks are WAV, FLAC, Ogg Vorbis, MP3 or Opus files, made by the real
encoders from the game CD's audio (tests/make-testdata.sh, build/testdata/cueaudio), installed
silently:

1. WAV and FLAC tracks (one file per track, and both tracks in one FLAC with INDEX 00/01 inside it)
   are the encoded PCM byte for byte; Vorbis, MP3 and Opus tracks agree with ffmpeg's own decode of
   the same file to at least 40 dB once aligned, and are within 2 sectors of its length (Opus,
   always 48 kHz, is brought to 44.1 kHz by ffmpeg's soxr resampler). toc.txt lists the tracks.
2. The sample layouts and rates: 8-bit, 24-bit, 32-bit, float and double WAVs, a 24-bit mono FLAC
   are within one step of sox's conversion of the same file to 16-bit stereo (mono doubled); a
   48 kHz WAV and a 22.05 kHz mono MP3 agree with ffmpeg's decode at 44.1 kHz as above.
3. discinfo names each track's kind by content, whatever the sheet's type word says.
4. A FLAC cut short, an Ogg file with a damaged page and random bytes called MP3 end the install
   with exit code 1, the file named ("cannot decode ...") and the audio stage's ERROR line, and no
   "Done."; a data track in a FLAC file is refused as no readable CD.
"""
import array
import math
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.environ["TOOLS"])
from wine_tools import *  # noqa: E402,F403

check = Checks()
cueaudio = os.path.join(TESTDATA, "cueaudio")
base = os.path.join(DRIVE_C, "dvcueaudio")
shutil.rmtree(base, ignore_errors=True)
SECTOR_FRAMES = 588
WAV_HEADER = 44


def install(sheet):
    name = sheet[:-4]
    rc, _, _ = run_exe("drovenhelm_setup.exe", "/silent", "/cd", winpath(os.path.join(cueaudio, sheet)),
                       "/dir", "C:\\dvcueaudio\\" + name, "/nodesktop", "/nostartmenu", timeout=300)
    return rc, setup_log() or [], os.path.join(base, name, "game", "cdaudio")


def samples(data):
    a = array.array("h")
    a.frombytes(data[:len(data) // 2 * 2])
    return a


def wav_samples(path):
    """The samples of one of our WAVs, after checking its header: 44,100 Hz, 16-bit stereo PCM."""
    data = read(path)
    head = data[:WAV_HEADER]
    ok = (head[:4] == b"RIFF" and head[8:16] == b"WAVEfmt " and head[20:24] == b"\x01\x00\x02\x00"
          and int.from_bytes(head[24:28], "little") == 44100 and head[34:36] == b"\x10\x00"
          and head[36:40] == b"data" and int.from_bytes(head[40:44], "little") == len(data) - WAV_HEADER)
    check(ok, f"{os.path.relpath(path, base)}: a 44.1 kHz 16-bit stereo WAV header that counts its data")
    return data[WAV_HEADER:]


def ffmpeg_pcm(path, mono=False):
    """ffmpeg's own decode of a file at 44.1 kHz, 16-bit stereo (soxr for another rate); a mono file
    is decoded as mono and doubled, as the setup does (ffmpeg's own mix would lower it by 3 dB)."""
    r = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-af", "aresample=44100:resampler=soxr", "-ac",
                        "1" if mono else "2", "-f", "s16le", "-"], capture_output=True, check=True)
    if not mono:
        return samples(r.stdout)
    one, two = samples(r.stdout), array.array("h")
    for v in one:
        two.append(v)
        two.append(v)
    return two


def sox_pcm(path):
    """sox's conversion of a file to 16-bit stereo, without dither."""
    r = subprocess.run(["sox", "-D", path, "-t", "raw", "-e", "signed-integer", "-b", "16", "-L", "-c", "2", "-"],
                       capture_output=True, check=True)
    return samples(r.stdout)


def best_offset(ref, got, span=2 * SECTOR_FRAMES):
    """The shift of got against ref (in frames, within span) with the least difference, over every
    8th frame of 4096 frames of the middle of ref."""
    n = len(ref) // 2
    start = max(span, n // 2 - 2048)
    frames = range(start, min(n - span, start + 4096), 8)
    best, best_err = 0, None
    for off in range(-span, span + 1):
        err = 0
        for i in frames:
            j = i + off
            d = got[2 * j] - ref[2 * i] if 0 <= j < len(got) // 2 else 65536
            err += d * d
        if best_err is None or err < best_err:
            best, best_err = off, err
    return best


def snr_db(ref, got, off):
    sig = err = 0
    for i in range(len(ref)):
        j = i + 2 * off
        if 0 <= j < len(got):
            d = got[j] - ref[i]
            sig += ref[i] * ref[i]
            err += d * d
    return 200.0 if err == 0 else 10 * math.log10(sig / err)


def agrees_with_ffmpeg(label, wav, source, mono=False):
    ref, got = ffmpeg_pcm(source, mono), samples(wav)
    off = best_offset(ref, got)
    snr = snr_db(ref, got, off)
    sectors = (len(got) - len(ref)) / 2 / SECTOR_FRAMES
    check(snr >= 40 and abs(sectors) <= 2,
          f"{label}: {snr:.1f} dB against ffmpeg's decode, shifted {off} frames; {len(got) // 2} frames, ffmpeg "
          f"{len(ref) // 2} ({sectors:+.2f} sectors)")


def within_one_step(label, wav, source):
    ref, got = sox_pcm(source), samples(wav)
    worst = max((abs(a - b) for a, b in zip(ref, got)), default=0)
    # The last sector is filled with silence: the data is sox's frames, then zeros.
    pad = len(got) - len(ref)
    check(0 <= pad < 2 * SECTOR_FRAMES and worst <= 1 and not any(got[len(ref):]),
          f"{label}: within {worst} of sox's conversion, {len(ref) // 2} frames and {pad // 2} of silence")


def toc_of(track_sectors):
    data = os.path.getsize(os.path.join(cueaudio, "data.bin")) // 2352
    lines = ["# track start_lba sectors (track 1 = data)", f"1 0 {data}"]
    start = data
    for number, sectors in track_sectors:
        lines.append(f"{number} {start} {sectors}")
        start += sectors
    lines.append(f"leadout {start}")
    return ("\r\n".join(lines) + "\r\n").encode()


def kinds(sheet):
    rc, out, _ = discinfo(winpath(os.path.join(cueaudio, sheet)))
    return [line.split(" kind=")[1].split(" ")[0] for line in out.splitlines()
            if line.startswith("track ") and " audio " in line]


raw = {t: read(os.path.join(cueaudio, f"track{t:02d}.raw")) for t in (2, 3)}

# --- 1. one file per track, and one FLAC for both -------------------------------------------------
for sheet, ext, lossless in (("wav.cue", "wav", True), ("flac.cue", "flac", True), ("ogg.cue", "ogg", False),
                             ("mp3.cue", "mp3", False), ("opus.cue", "opus", False), ("oneflac.cue", "", True)):
    rc, log, audio = install(sheet)
    check(rc == 0 and log[-1:] == ["Done."] and "CD music: 2 tracks" in log, f"{sheet}: installs ({log[-2:]})")
    sectors = []
    for t in (2, 3):
        path = os.path.join(audio, f"track{t:02d}.wav")
        if not os.path.exists(path):
            check(False, f"{sheet}: track{t:02d}.wav is missing")
            continue
        wav = wav_samples(path)
        sectors.append((t, len(wav) // 2352))
        if lossless:
            check(wav == raw[t], f"{sheet}: track{t:02d}.wav is the encoded PCM byte for byte ({len(wav)} bytes)")
        else:
            agrees_with_ffmpeg(f"{sheet}: track{t:02d}.wav", wav, os.path.join(cueaudio, f"track{t:02d}.{ext}"))
    toc = os.path.join(audio, "toc.txt")
    got_toc = read(toc) if os.path.exists(toc) else b""
    check(got_toc == toc_of(sectors), f"{sheet}: toc.txt lists the tracks ({got_toc!r})")
    kind = {"wav": "wav", "flac": "flac", "ogg": "vorbis", "mp3": "mp3", "opus": "opus", "": "flac"}[ext]
    check(kinds(sheet) == [kind] * 2, f"{sheet}: discinfo names the kind {kind}: {kinds(sheet)}")

# --- 2. sample layouts and rates ------------------------------------------------------------------
rc, log, audio = install("formats.cue")
check(rc == 0 and log[-1:] == ["Done."], f"formats.cue: installs ({log[-2:]})")
formats = [("u8-mono.wav", "sox"), ("s24.wav", "sox"), ("s32.wav", "sox"), ("f32.wav", "sox"),
           ("f64-mono.wav", "sox"), ("s24-mono.flac", "sox"), ("r48k.wav", "ffmpeg"), ("m22k.mp3", "ffmpeg mono")]
for number, (name, ref) in enumerate(formats, 2):
    path = os.path.join(audio, f"track{number:02d}.wav")
    if not os.path.exists(path):
        check(False, f"formats.cue: track{number:02d}.wav ({name}) is missing")
        continue
    label = f"formats.cue: track{number:02d}.wav from {name}"
    if ref == "sox":
        within_one_step(label, wav_samples(path), os.path.join(cueaudio, name))
    else:
        agrees_with_ffmpeg(label, wav_samples(path), os.path.join(cueaudio, name), mono=ref.endswith("mono"))
want = ["wav", "wav", "wav", "wav", "wav", "flac", "wav", "mp3"]
check(kinds("formats.cue") == want, f"formats.cue: discinfo names the kinds {kinds('formats.cue')}")

# --- 4. damaged files, and a data track in a FLAC file ---------------------------------------------
for sheet, bad in (("damaged-flac.cue", "cut.flac"), ("damaged-ogg.cue", "broken.ogg"),
                   ("damaged-mp3.cue", "noise.mp3")):
    rc, log, audio = install(sheet)
    named = f"cannot decode {winpath(os.path.join(cueaudio, bad))}"
    check(rc == 1 and named in log and log[-1:] == ["ERROR: reading audio track 3 failed"] and "Done." not in log,
          f"{sheet}: exit {rc}, the file named, the stage's ERROR line, no Done. ({log[-3:]})")
rc, log, _ = install("data-flac.cue")
check(rc == 1 and log[-1:] == ["ERROR: the CD is not a readable disc, image or folder"]
      and f"cannot read data track 1: {winpath(os.path.join(cueaudio, 'data.flac'))} is an audio file" in log,
      f"data-flac.cue: a data track in a FLAC file is refused ({log[-2:]})")

shutil.rmtree(base, ignore_errors=True)
check.finish()
