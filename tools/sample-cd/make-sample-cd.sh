#!/bin/bash
# Makes the project's sample game CD: the files the setup looks for, some game data, the title
# animation, and three music tracks. Written as a cue sheet with one BIN (a raw Mode 1 data track and
# the audio tracks), plus the data track alone as an ISO.
# Usage: make-sample-cd.sh OUTDIR
set -euo pipefail
out=$1
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$out"
mkdir -p "$out/tree/DATA" "$out/tree/MOVIES"
cd "$out"
printf 'MZ sample game launcher\r\n' > tree/SKIPIT.EXE
head -c 300000 /dev/urandom > tree/BDROV1DK.AVI
head -c 120000 /dev/urandom > tree/MOVIES/INTRO.AVI
head -c 2500000 /dev/urandom > tree/DATA/LEVELS.DAT
printf 'Drovenhelm sample CD\r\n' > tree/README.TXT
python3 "$here/make_title.py" tree/TITLE.FLI
genisoimage -quiet -l -V DROVENHELM -o drovenhelm.iso tree 2>/dev/null
python3 "$here/../formats/iso2raw.py" mode1 drovenhelm.iso data.raw

# Music: three short chords, 16-bit stereo at 44.1 kHz, each a whole number of 2352-byte sectors.
sox -q -n -r 44100 -c 2 -b 16 -e signed-integer -L -t raw m2.raw synth 3 pluck C3 pluck E3 pluck G3 fade 0 3 1
sox -q -n -r 44100 -c 2 -b 16 -e signed-integer -L -t raw m3.raw synth 2 pluck A2 pluck C3 pluck E3 fade 0 2 1
sox -q -n -r 44100 -c 2 -b 16 -e signed-integer -L -t raw m4.raw synth 4 pluck F2 pluck A2 pluck C3 fade 0 4 1
cat data.raw m2.raw m3.raw m4.raw > drovenhelm.bin
msf() { printf '%02d:%02d:%02d' $(($1 / 4500)) $(($1 / 75 % 60)) $(($1 % 75)); }
s1=$(( $(stat -c %s data.raw) / 2352 ))
s2=$(( s1 + $(stat -c %s m2.raw) / 2352 ))
s3=$(( s2 + $(stat -c %s m3.raw) / 2352 ))
cat > drovenhelm.cue <<CUE
FILE "drovenhelm.bin" BINARY
  TRACK 01 MODE1/2352
    INDEX 01 00:00:00
  TRACK 02 AUDIO
    INDEX 01 $(msf $s1)
  TRACK 03 AUDIO
    INDEX 01 $(msf $s2)
  TRACK 04 AUDIO
    INDEX 01 $(msf $s3)
CUE
rm -f data.raw m2.raw m3.raw m4.raw
