#!/bin/bash
# Makes the project's sample game CD: the files the setup checks for, some game data and a
# title animation placeholder, as a 2048-byte ISO and as raw 2352-byte Mode 1 sectors.
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
genisoimage -quiet -l -V DROVENHELM -o drovenhelm.iso tree
python3 "$here/../../tests/tools/iso2raw.py" mode1 drovenhelm.iso drovenhelm.bin
