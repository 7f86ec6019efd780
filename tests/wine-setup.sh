#!/bin/sh
# Readies the test prefix: creates it, maps D: as a CD-ROM drive onto a folder, and ends the
# session, since Wine reads drive types only when a session starts.
# Usage: WINEPREFIX=... wine-setup.sh WINE_RUN CDROM_FOLDER
set -e
run=$1
cdrom=$2
mkdir -p "$cdrom"
"$run" cmd /c exit </dev/null >/dev/null 2>&1
ln -sfn "$(realpath "$cdrom")" "$WINEPREFIX/dosdevices/d:"
"$run" reg add 'HKLM\Software\Wine\Drives' /v 'd:' /d cdrom /f </dev/null >/dev/null 2>&1
timeout 30 /usr/bin/wineserver -w || /usr/bin/wineserver -k
