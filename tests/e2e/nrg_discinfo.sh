#!/bin/bash
# discinfo on Nero images of the test volume (made by tests/tools/make_nrg.py): the same files and the
# same copied tree as the plain volume, the track table the writer laid out, another reader's track
# addresses; and the real images of other tools refused.
set -euo pipefail
: "${WINE_RUN:?}" "${BIN:?}" "${TESTDATA:?}" "${FIXTURES:?}"

work=$(mktemp -d "${TMPDIR:-/tmp}/nrg-e2e.XXXXXX")
trap 'rm -rf "$work"' EXIT
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
winpath() { local p; p=$(realpath "$1"); echo "Z:${p//\//\\}"; }

# discinfo ARGS... > OUT, with line ends made plain; its exit code in rc, its stderr in $work/err.
discinfo() {
  rc=0
  "$WINE_RUN" "$BIN/discinfo.exe" "$@" </dev/null >"$work/raw" 2>"$work/err" || rc=$?
  tr -d '\r' < "$work/raw"
}

discinfo "$(winpath "$TESTDATA/volume.iso")" > "$work/iso.txt"
[ "$rc" -eq 0 ] || fail "discinfo volume.iso exit $rc: $(cat "$work/err")"
grep -E '^(total|dir|file) ' "$work/iso.txt" > "$work/iso.files"
[ "$(grep -c '^file ' "$work/iso.files")" -gt 200 ] || fail "volume.iso lists too few files"
discinfo --copy "$(winpath "$work")\\iso" "$(winpath "$TESTDATA/volume.iso")" > /dev/null
[ "$rc" -eq 0 ] || fail "copy of volume.iso exit $rc"

for name in nrg-x2048 nrg-x-m1 nrg-i-m2; do
  img=$TESTDATA/$name.nrg
  w=$(winpath "$img")
  discinfo "$w" > "$work/$name.txt"
  if [ "$rc" -ne 0 ]; then fail "discinfo $name exit $rc: $(cat "$work/err")"; continue; fi
  n=$(wc -l < "$TESTDATA/$name.tracks")
  grep -qxF "source: Nero image $w ($n tracks)" "$work/$name.txt" || fail "$name: source line"
  grep -qxF "tracks: $n" "$work/$name.txt" || fail "$name: track count"
  grep '^track ' "$work/$name.txt" | sed 's/ file=.*//' | diff - "$TESTDATA/$name.tracks" || fail "$name: track table"
  [ "$(grep '^track ' "$work/$name.txt" | grep -vcF " file=$w")" -eq 0 ] || fail "$name: track files"
  grep -E '^(total|dir|file) ' "$work/$name.txt" | diff -q - "$work/iso.files" >/dev/null ||
    fail "$name: files differ from volume.iso"
  discinfo --copy "$(winpath "$work")\\$name" "$w" > /dev/null
  [ "$rc" -eq 0 ] || fail "copy of $name exit $rc: $(cat "$work/err")"
  diff -r "$work/iso" "$work/$name" || fail "$name: copied tree differs from the copy of volume.iso"
done

# Another reader of the format (libcdio's cd-info, which takes the addresses from the CUEX chunk
# rather than from the DAO chunk) agrees on where the tracks start.
cd-info --no-device-info --no-cddb --nrg-file "$TESTDATA/nrg-x2048.nrg" 2>/dev/null |
  sed -nE 's/^ +([0-9]+): [0-9:]+ +0*([0-9]+) .*/\1 \2/p' | grep -v '^170 ' > "$work/cdinfo.lsn" || true
grep '^track ' "$work/nrg-x2048.txt" | sed -E 's/^track ([0-9]+) .* start=([0-9]+) .*/\1 \2/' |
  diff - "$work/cdinfo.lsn" || fail "nrg-x2048: addresses differ from cd-info's"

# Real images whose first track is no ISO 9660 data track: refused, with the usual message.
for name in p1.nrg videocd.nrg; do
  discinfo "$(winpath "$FIXTURES/disc/libcdio/$name")" > "$work/out"
  [ "$rc" -eq 1 ] || fail "$name: exit $rc, expected 1"
  grep -q "is not a readable disc, image or folder" "$work/err" || fail "$name: message"
  [ ! -s "$work/out" ] || fail "$name: printed a report"
done

[ "$fails" -eq 0 ] && echo "all Nero image checks passed"
exit $((fails > 0))
