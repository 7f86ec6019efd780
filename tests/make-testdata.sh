#!/bin/bash
# Makes the disc test data with real tools: a source tree, ISO 9660 volumes of it (genisoimage),
# the same volume in raw 2352-byte sectors (Mode 1 and Mode 2 Form 1), Nero images of it with audio
# tracks, libcdio's listing of the game CD's table of contents, the folder that the Wine CD-ROM
# drive D: shows, and the encoded audio and packed files the library checks decode (deps/).
# Usage: make-testdata.sh OUTDIR
set -euo pipefail
out=$1
here=$(cd "$(dirname "$0")" && pwd)
formats=$(cd "$here/../tools/formats" && pwd)
mkdir -p "$out"
cd "$out"

# Rebuilt only when this script or one of its tools changes.
stamp=.made-$(sha1sum "$here/make-testdata.sh" "$formats/iso2raw.py" "$formats/anim.py" "$here/tools/make_nrg.py" "$here/tools/make_copier_images.py" "$here/tools/fetch-chdman.sh" | sha1sum | cut -c1-12)
[ -f "$stamp" ] && exit 0
chmod -R u+w gamecd sweepcd 2>/dev/null || true
rm -rf tree volume* gamecd sweepcd cueaudio chd nrg-* deps .made-*

# --- the tree ------------------------------------------------------------------------------
mkdir -p tree/DATA/SUB tree/MANY tree/DEEP
printf 'game data\r\n' > tree/README.TXT
: > tree/EMPTY.DAT
head -c 65537 /dev/urandom > tree/DATA/BLOCKS.BIN        # one byte past a 64 KiB copy block
head -c 1572864 /dev/urandom > tree/DATA/BIG.BIN         # past a 1 MiB copy block
printf 'sub' > tree/DATA/SUB/FILE.TXT
printf 'noext' > tree/DATA/NOEXT
for i in $(seq -w 1 200); do printf '%s' "$i" > "tree/MANY/F$i.TXT"; done  # listing grows 64 -> 256
d=tree/DEEP
for i in $(seq -w 1 18); do d=$d/L$i; mkdir "$d"; printf '%s' "$i" > "$d/AT$i.TXT"; done

# --- volumes -------------------------------------------------------------------------------
# -D: deeper than 8 levels without relocation; -N: names without ";1"; -l: 31-character names.
genisoimage -quiet -D -l -V GAMECD -o volume.iso tree
genisoimage -quiet -D -l -N -V GAMECD -o volume-nover.iso tree
python3 "$formats/iso2raw.py" mode1 volume.iso volume-m1.bin
python3 "$formats/iso2raw.py" mode2 volume.iso volume-m2.bin

# --- a game CD -----------------------------------------------------------------------------
# The signature files, videos in several letter cases, root files with and without extensions,
# a hidden and a read-only file, folders two levels deep, the title animation that the game's icon
# is made from; as a folder, an ISO, a raw BIN, and a cue sheet whose one BIN holds the data track
# and two audio tracks made by sox.
g=gamecd/tree
mkdir -p $g/DATA/MAPS $g/MOVIES
printf 'MZ launcher' > $g/SKIPIT.EXE
head -c 200000 /dev/urandom > $g/BDROV1DK.AVI
head -c 1000 /dev/urandom > $g/INTRO.AVI
head -c 1000 /dev/urandom > $g/Outro.Avi
printf 'readme\r\n' > $g/README
printf 'not a video' > $g/MOVIE.AVI.BAK
printf 'hidden' > $g/HIDDEN.DAT
printf 'read-only' > $g/LOCKED.DAT
chmod a-w $g/LOCKED.DAT
head -c 1500000 /dev/urandom > $g/DATA/LEVELS.DAT
head -c 70000 /dev/urandom > $g/DATA/MAPS/MAP01.DAT
head -c 5000 /dev/urandom > $g/MOVIES/CREDITS.AVI
python3 "$formats/anim.py" --title $g/TITLE.FLI
genisoimage -quiet -l -allow-multidot -hidden HIDDEN.DAT -V DROVENHELM -o gamecd/gamecd.iso $g
python3 "$formats/iso2raw.py" mode1 gamecd/gamecd.iso gamecd/gamecd-raw.bin
# Audio: 150 sectors (2 s) of a tone and 114 sectors of noise, 16-bit stereo little-endian at 44.1 kHz.
sox -q -n -r 44100 -c 2 -b 16 -e signed-integer -L -t raw gamecd/a2.raw synth 2 sine 440 vol 0.5
sox -q -n -r 44100 -c 2 -b 16 -e signed-integer -L -t raw gamecd/a3.raw synth 1.52 pinknoise vol 0.3
cat gamecd/gamecd-raw.bin gamecd/a2.raw gamecd/a3.raw > gamecd/gamecd.bin
data=$(( $(stat -c %s gamecd/gamecd-raw.bin) / 2352 ))
msf() { printf '%02d:%02d:%02d' $(($1 / 4500)) $(($1 / 75 % 60)) $(($1 % 75)); }
# A sheet for one BIN: the data track, then two audio tracks at the given sectors.
# cue_sheet BIN_NAME AUDIO2_START AUDIO3_START
cue_sheet() {
  cat <<CUE
FILE "$1" BINARY
  TRACK 01 MODE1/2352
    INDEX 01 00:00:00
  TRACK 02 AUDIO
    INDEX 01 $(msf $2)
  TRACK 03 AUDIO
    INDEX 01 $(msf $3)
CUE
}
cue_sheet GAMECD.BIN $data $((data + 150)) > gamecd/gamecd.cue
mkdir -p cueaudio
mv gamecd/a2.raw cueaudio/track02.raw
mv gamecd/a3.raw cueaudio/track03.raw
# The table of contents a drive holding this CD answers, as libcdio reads it from the sheet: the
# emulated drive of the tests builds its answer from this listing, not from our own reader.
(cd gamecd && cd-info --no-header --no-device-info --no-disc-mode --no-analyze --no-ioctl -q --cue-file gamecd.cue) \
  > gamecd/gamecd.cd-info
# The same CD as the disc copiers keep it: CloneCD (.ccd, .img, .sub) and Alcohol (.mds, .mdf) with
# 2352-byte sectors, and Alcohol with subchannel (2448) and with the data track as user data (2048).
tracks="--track data:0 --track audio:$data --track audio:$((data + 150))"
python3 "$here/tools/make_copier_images.py" gamecd/gamecd.bin $tracks --ccd gamecd/gamecd --mds gamecd/gamecd-mds
python3 "$here/tools/make_copier_images.py" gamecd/gamecd.bin $tracks --mds gamecd/gamecd-sub --mds-sector 2448
python3 "$here/tools/make_copier_images.py" gamecd/gamecd.bin $tracks --mds gamecd/gamecd-2048 --mds-sector 2048
# The same CD as a Nero image: raw Mode 1 data track, audio tracks of the same lengths.
python3 "$here/tools/make_nrg.py" --layout mode1 --audio 150 --audio 114:75 gamecd/gamecd.iso gamecd/gamecd.nrg

# --- the game CD with its audio in the files of the wild (cueaudio) -------------------------------
# Sheets over the CD's raw data BIN and its two audio tracks as WAV, FLAC, Ogg Vorbis, MP3 and Opus
# files, made by the real encoders, with the type words that rippers and stores write (WAVE for
# FLAC and Opus, MP3 for Ogg); both tracks in one FLAC with INDEX 00/01 inside it; the sample
# layouts of WAV and FLAC files and other rates; damaged files; a data track in a FLAC file.
c=cueaudio
ln -f gamecd/gamecd-raw.bin $c/data.bin
raw="-t raw -r 44100 -c 2 -b 16 -e signed-integer -L"
flac_raw="-s --force-raw-format --endian=little --sign=signed --channels=2 --bps=16 --sample-rate=44100"
for t in 02 03; do
  sox -q $raw $c/track$t.raw $c/track$t.wav
  flac $flac_raw -o $c/track$t.flac $c/track$t.raw
  oggenc -Q -r -B 16 -C 2 -R 44100 -q 4 -o $c/track$t.ogg $c/track$t.raw
  lame --silent -r -s 44.1 --bitwidth 16 -b 192 $c/track$t.raw $c/track$t.mp3 2>/dev/null
  opusenc --quiet --raw --raw-rate 44100 --raw-chan 2 --raw-bits 16 --bitrate 128 $c/track$t.raw $c/track$t.opus
done
cat $c/track02.raw $c/track03.raw | flac $flac_raw -o $c/both.flac -
# A sheet of the data BIN and one file per audio track: audio_sheet FILE2 WORD2 FILE3 WORD3 ...
audio_sheet() {
  printf 'FILE "data.bin" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n'
  local n=2
  while [ $# -gt 0 ]; do
    printf 'FILE "%s" %s\n  TRACK %02d AUDIO\n    INDEX 01 00:00:00\n' "$1" "$2" $n
    n=$((n + 1)); shift 2
  done
}
audio_sheet track02.wav WAVE track03.wav WAVE > $c/wav.cue
audio_sheet track02.flac WAVE track03.flac WAVE > $c/flac.cue
audio_sheet track02.ogg MP3 track03.ogg MP3 > $c/ogg.cue
audio_sheet track02.mp3 MP3 track03.mp3 MP3 > $c/mp3.cue
audio_sheet track02.opus WAVE track03.opus WAVE > $c/opus.cue
{ printf 'FILE "data.bin" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\nFILE "both.flac" WAVE\n'
  printf '  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n  TRACK 03 AUDIO\n    INDEX 00 00:01:50\n    INDEX 01 00:02:00\n'
} > $c/oneflac.cue
# Sample layouts and rates, each converted from a track by sox (lame for a mono MPEG-2 file).
sox -q $raw $c/track02.raw -b 8 -e unsigned-integer -c 1 $c/u8-mono.wav
sox -q $raw $c/track03.raw -b 24 $c/s24.wav
sox -q $raw $c/track02.raw -b 32 -e signed-integer $c/s32.wav
sox -q $raw $c/track03.raw -b 32 -e floating-point $c/f32.wav
sox -q $raw $c/track02.raw -b 64 -e floating-point -c 1 $c/f64-mono.wav
sox -q $raw $c/track03.raw -b 24 -c 1 $c/s24-mono.wav
flac -s -o $c/s24-mono.flac $c/s24-mono.wav && rm $c/s24-mono.wav
# Made at 48 kHz: two sweeps, which a resampler must keep in time and in tune.
sox -q -n -r 48000 -c 2 -b 16 $c/r48k.wav synth 1.5 sine 200-8000 sine 300-5000 vol 0.5
lame --silent -r -s 44.1 --bitwidth 16 -a --resample 22.05 -b 64 $c/track02.raw $c/m22k.mp3 2>/dev/null
audio_sheet u8-mono.wav WAVE s24.wav WAVE s32.wav WAVE f32.wav WAVE f64-mono.wav WAVE s24-mono.flac WAVE \
  r48k.wav WAVE m22k.mp3 MP3 > $c/formats.cue
# Damage: a FLAC cut short, an Ogg Vorbis file with a byte of a page in its middle changed, random
# bytes that the sheet calls MP3; each as the second audio track.
head -c 40000 $c/track03.flac > $c/cut.flac
python3 -c 'import sys; b = bytearray(open(sys.argv[1], "rb").read()); b[len(b) // 2] ^= 0x55; open(sys.argv[2], "wb").write(b)' \
  $c/track03.ogg $c/broken.ogg
head -c 30000 /dev/urandom > $c/noise.mp3
audio_sheet track02.flac WAVE cut.flac WAVE > $c/damaged-flac.cue
audio_sheet track02.ogg MP3 broken.ogg MP3 > $c/damaged-ogg.cue
audio_sheet track02.mp3 MP3 noise.mp3 MP3 > $c/damaged-mp3.cue
# The data track's bytes in a FLAC file (as 16-bit stereo samples, which FLAC keeps exactly).
flac $flac_raw -o $c/data.flac gamecd/gamecd-raw.bin
audio_sheet track02.flac WAVE | sed 's/"data.bin" BINARY/"data.flac" BINARY/' > $c/data-flac.cue

# --- the game CD as CHD images, made by chdman (chd) ----------------------------------------------
# Its data track with the EDC and parity a recorder writes (so chdman leaves out what it can make
# again) and its two audio tracks, as cue sheets with INDEX 00 pregaps: one BIN for all tracks, and
# one BIN per track (track 3 with a PREGAP that no file holds); and the ISO alone. Each made into a
# CHD with cdzl, cdlz and cdfl alone and with chdman's default mix, and extracted again by chdman
# into the cue sheet and BIN that the installs are compared with; also with the plain codecs (zlib,
# lzma and flac over whole hunks, "plain") and with huff; with cdzs and the plain zstd by a newer
# chdman (Debian's has no Zstandard codec); and a CHD that needs its parent.
h=chd
mkdir -p $h
chdman_zstd=$(bash "$here/tools/fetch-chdman.sh" "$(cd .. && pwd)/test-tools")
python3 "$formats/iso2raw.py" --ecc mode1 gamecd/gamecd.iso $h/data.bin
cp cueaudio/track02.raw $h/track02.bin
cp cueaudio/track03.raw $h/track03.bin
cat $h/data.bin $h/track02.bin $h/track03.bin > $h/onebin.bin
data=$(( $(stat -c %s $h/data.bin) / 2352 ))
cat > $h/onebin.cue <<CUE
FILE "onebin.bin" BINARY
  TRACK 01 MODE1/2352
    INDEX 01 00:00:00
  TRACK 02 AUDIO
    INDEX 00 $(msf $data)
    INDEX 01 $(msf $((data + 30)))
  TRACK 03 AUDIO
    INDEX 00 $(msf $((data + 130)))
    INDEX 01 $(msf $((data + 150)))
CUE
cat > $h/pertrack.cue <<CUE
FILE "data.bin" BINARY
  TRACK 01 MODE1/2352
    INDEX 01 00:00:00
FILE "track02.bin" BINARY
  TRACK 02 AUDIO
    INDEX 00 00:00:00
    INDEX 01 00:00:30
FILE "track03.bin" BINARY
  TRACK 03 AUDIO
    PREGAP 00:02:00
    INDEX 01 00:00:00
CUE
cp gamecd/gamecd.iso $h/iso.iso
for cd in onebin pertrack iso; do
  input=$h/$cd.cue
  [ $cd = iso ] && input=$h/iso.iso
  for c in cdzl cdlz cdfl default none plain huff cdzs zstd; do
    tool=chdman
    case $c in
      default) opts=() ;;
      plain) opts=(-c zlib,lzma,flac) ;;
      cdzs|zstd) opts=(-c $c) tool=$chdman_zstd ;;
      *) opts=(-c $c) ;;
    esac
    $tool createcd -i $input -o $h/$cd-$c.chd "${opts[@]}" >/dev/null 2>&1
    $tool extractcd -i $h/$cd-$c.chd -o $h/$cd-$c-x.cue -ob $h/$cd-$c-x.bin >/dev/null 2>&1
  done
done
# The same CD once more with the cdzl CHD as its parent: every hunk is the parent's.
chdman createcd -i $h/onebin.cue -o $h/child.chd -op $h/onebin-cdzl.chd -c cdzl >/dev/null 2>&1
rm $h/track02.bin $h/track03.bin $h/data.bin $h/onebin.bin

# --- the smallest game CD, for sweeps that install it once for every platform call ---------------
# The signature files, the title animation, one file two folders down and one read-only file; as a
# folder, an ISO, a cue sheet with one BIN (data track and two audio tracks of 4 and 3 sectors), a
# cue sheet with the audio tracks as FLAC and Ogg Vorbis files, and a Nero image with the same audio
# tracks.
s=sweepcd/tree
mkdir -p $s/DATA/SUB
printf 'MZ launcher' > $s/SKIPIT.EXE
head -c 3000 /dev/urandom > $s/BDROV1DK.AVI
cp $g/TITLE.FLI $s/TITLE.FLI
printf 'sub' > $s/DATA/SUB/A.TXT
printf 'read-only' > $s/LOCKED.DAT
chmod a-w $s/LOCKED.DAT
genisoimage -quiet -l -V DROVENHELM -o sweepcd/sweepcd.iso $s
python3 "$formats/iso2raw.py" mode1 sweepcd/sweepcd.iso sweepcd/raw.bin
sox -q -n -r 44100 -c 2 -b 16 -e signed-integer -L -t raw sweepcd/a2.raw synth 0.0533333 sine 440 vol 0.5
sox -q -n -r 44100 -c 2 -b 16 -e signed-integer -L -t raw sweepcd/a3.raw synth 0.04 pinknoise vol 0.3
cat sweepcd/raw.bin sweepcd/a2.raw sweepcd/a3.raw > sweepcd/sweepcd.bin
data=$(( $(stat -c %s sweepcd/raw.bin) / 2352 ))
cue_sheet sweepcd.bin $data $((data + 4)) > sweepcd/sweepcd.cue
# The same CD with its audio tracks as a FLAC and an Ogg Vorbis file, the data track a BIN of its own.
mv sweepcd/raw.bin sweepcd/data.bin
flac $flac_raw -o sweepcd/track02.flac sweepcd/a2.raw
oggenc -Q -r -B 16 -C 2 -R 44100 -q 4 -o sweepcd/track03.ogg sweepcd/a3.raw
audio_sheet track02.flac WAVE track03.ogg MP3 > sweepcd/sweepcd-audio.cue
rm sweepcd/a2.raw sweepcd/a3.raw
python3 "$here/tools/make_nrg.py" --layout mode1 --audio 4:0 --audio 3:0 sweepcd/sweepcd.iso sweepcd/sweepcd.nrg

# The smallest game CD as CHDs (chd/small-*.chd), small enough to seed the fuzz target.
python3 "$formats/iso2raw.py" --ecc mode1 sweepcd/sweepcd.iso $h/small.bin
head -c $((2352 * 11)) cueaudio/track02.raw >> $h/small.bin
data=$(( $(stat -c %s sweepcd/sweepcd.iso) / 2048 ))
cat > $h/small.cue <<CUE
FILE "small.bin" BINARY
  TRACK 01 MODE1/2352
    INDEX 01 00:00:00
  TRACK 02 AUDIO
    INDEX 00 $(msf $data)
    INDEX 01 $(msf $((data + 3)))
CUE
for c in cdzl cdlz none; do chdman createcd -i $h/small.cue -o $h/small-$c.chd -c $c >/dev/null 2>&1; done
$chdman_zstd createcd -i $h/small.cue -o $h/small-cdzs.chd -c cdzs >/dev/null 2>&1
# FLAC and huff pack the data track's sectors poorly: they get the audio track alone.
head -c $((2352 * 11)) cueaudio/track02.raw > $h/small-audio.bin
printf 'FILE "small-audio.bin" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n' > $h/small-audio.cue
chdman createcd -i $h/small-audio.cue -o $h/small-cdfl.chd -c cdfl >/dev/null 2>&1
chdman createcd -i $h/small-audio.cue -o $h/small-huff.chd -c huff >/dev/null 2>&1
rm $h/small.bin $h/small.cue $h/small-audio.bin $h/small-audio.cue

# --- Nero images of the volume with audio tracks; NAME.tracks holds the table each should give ----
nrg() {
  local name=$1; shift
  python3 "$here/tools/make_nrg.py" --print "$@" volume.iso "$name.nrg" > "$name.tracks"
}
# Version 2 (DAOX), user data only; chunks as a real writer leaves them, so other readers agree.
nrg nrg-x2048 --audio 75 --audio 30:75 --chunk CUEX --chunk SINF --chunk MTYP
# Version 2, raw Mode 1 sectors; an entry of sector size 0, and a DAO chunk after "END!".
nrg nrg-x-m1 --layout mode1 --audio 75 --chunk ETNF --chunk SINF --blank-entry --after-end
# Version 1 (DAOI), raw Mode 2 Form 1 sectors, numbered from 3.
nrg nrg-i-m2 --v1 --layout mode2 --first 3 --audio 40:10 --audio 30 --chunk ETNF --chunk MTYP \
  --blank-entry --after-end

# --- a folder that holds a Unix link back up to itself: Wine shows it as a folder link ---------
rm -rf looped && mkdir -p looped/inner && echo x > looped/inner/f.txt && ln -s .. looped/inner/up

# --- inputs of the library checks (tests/deps): what the real encoders and compressors make ---
# One second of two sweeps (a different one per channel), 16-bit stereo little-endian, at 44.1 and
# 48 kHz; encoded by flac, oggenc, opusenc and lame, and the lossy ones decoded by ffmpeg (its own
# decoders) as the reference. Text and random bytes packed by gzip, xz (raw LZMA1) and zstd.
d=deps
mkdir -p $d
for rate in 44100 48000; do
  sox -q -n -r $rate -c 2 -b 16 -e signed-integer -L -t raw $d/sweep$rate.raw \
    synth 1 sine 200-8000 sine 300-5000 vol 0.5
done
flac -s --force-raw-format --endian=little --sign=signed --channels=2 --bps=16 --sample-rate=44100 \
  -o $d/sweep.flac $d/sweep44100.raw
oggenc -Q -r -B 16 -C 2 -R 44100 -q 4 -o $d/sweep.ogg $d/sweep44100.raw
opusenc --quiet --raw --raw-rate 48000 --raw-chan 2 --raw-bits 16 --bitrate 128 $d/sweep48000.raw $d/sweep.opus
lame --silent -r -s 44.1 --bitwidth 16 -b 192 $d/sweep44100.raw $d/sweep.mp3 2>/dev/null
for f in ogg opus mp3; do ffmpeg -v error -i $d/sweep.$f -f s16le -ac 2 -y $d/sweep.$f.ffmpeg; done
{ seq 1 20000; head -c 65536 /dev/urandom; } > $d/blob
gzip -n -9 -c $d/blob > $d/blob.gz
xz --format=raw --lzma1=preset=6 -c $d/blob > $d/blob.lzma1
zstd -q -19 -c $d/blob > $d/blob.zst

# --- the CD-ROM drive ---------------------------------------------------------------------
rm -rf cdrom && cp -r gamecd/tree cdrom && chmod -R u+w cdrom

touch "$stamp"
