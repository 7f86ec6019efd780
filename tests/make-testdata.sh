#!/bin/bash
# Makes the disc test data with real tools: a source tree, ISO 9660 volumes of it (genisoimage),
# the same volume in raw 2352-byte sectors (Mode 1 and Mode 2 Form 1), Nero images of it with audio
# tracks, and the folder that the Wine CD-ROM drive D: shows. Usage: make-testdata.sh OUTDIR
set -euo pipefail
out=$1
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$out"
cd "$out"

# Rebuilt only when this script changes.
stamp=.made-$(sha1sum "$0" "$here/tools/iso2raw.py" "$here/tools/make_nrg.py" | sha1sum | cut -c1-12)
[ -f "$stamp" ] && exit 0
rm -rf tree volume* nrg-* .made-*

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
python3 "$here/tools/iso2raw.py" mode1 volume.iso volume-m1.bin
python3 "$here/tools/iso2raw.py" mode2 volume.iso volume-m2.bin

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

# --- the CD-ROM drive ---------------------------------------------------------------------
rm -rf cdrom && cp -r tree cdrom

touch "$stamp"
