#!/usr/bin/env python3
"""Cue sheets read by the setup's reader and by libcdio's cd-info; a sheet opened like its BIN.

1. For sheets made here and libcdio's own sheets, the start LBAs of the track table (tests/cue_table)
   must equal the LSNs that cd-info lists. Lengths (cd-info: to the next track or the lead-out) must
   agree too, unless the case names the rule that makes them differ.
2. isofs-m1.cue opens as "image <its BIN>" and lists and copies exactly like isofs-m1.bin opened
   directly (tools/discinfo).

Needs the environment of the end-to-end tests (see tests/tools/wine_tools.py) and cd-info.
"""
import filecmp
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.environ["TOOLS"])
from wine_tools import *  # noqa: E402,F403

RAW = 2352
check = Checks()


TRACK = re.compile(r"track (\d+) (audio|data) start=(\d+) sectors=(\d+) sector_size=(\d+) offset=(\d+) kind=(\w+) "
                   r"file=(.*)")


def our_table(sheet):
    rc, out, _ = run_exe(os.path.join(TEST_BIN, "cue_table.exe"), winpath(sheet))
    tracks = []
    for line in out.splitlines():
        m = TRACK.fullmatch(line)
        if m:
            tracks.append({"number": int(m[1]), "start": int(m[3]), "sectors": int(m[4]),
                           "sector_size": int(m[5]), "offset": int(m[6]), "kind": m[7], "file": m[8]})
    return tracks


CDINFO_TRACK = re.compile(r"\s*(\d+): \d\d:\d\d:\d\d\s+(\d+) (\S+)")


def cdinfo_table(sheet):
    """[(number, lsn, length)] from cd-info's track list, or None when it refuses the sheet."""
    r = subprocess.run(["cd-info", "--no-header", "--no-device-info", "--no-disc-mode", "-A", "-q",
                        "--cue-file", sheet], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
    if r.returncode != 0:
        return None
    rows = []
    for line in r.stdout.decode("latin-1").splitlines():
        m = CDINFO_TRACK.match(line)
        if m:
            rows.append((int(m[1]), int(m[2])))
    leadout = [lsn for n, lsn in rows if n == 170]
    rows = [row for row in rows if row[0] != 170]
    if not leadout:
        return None
    ends = [lsn for _, lsn in rows[1:]] + leadout
    return [(n, lsn, end - lsn) for (n, lsn), end in zip(rows, ends)]


# --- sheets and BINs ------------------------------------------------------------------------
def msf(f):
    return "%02d:%02d:%02d" % (f // 4500, f // 75 % 60, f % 75)


def audio(sectors, seed):
    return bytes((seed * 7 + i) & 255 for i in range(RAW)) * sectors


def make_cases(d):
    """(sheet, rule for starts, rule for lengths); cd-info reads <sheet name>.bin as its image."""
    m1 = read(os.path.join(TESTDATA, "volume-m1.bin"))
    m2 = read(os.path.join(TESTDATA, "volume-m2.bin"))
    iso = read(os.path.join(TESTDATA, "volume.iso"))
    data = len(m1) // RAW  # 1222

    def put(name, content):
        with open(os.path.join(d, name), "wb") as f:
            f.write(content if isinstance(content, bytes) else content.encode())
        return os.path.join(d, name)

    cases = []
    # One BIN: a data track, then audio tracks whose INDEX 00 pregaps end the track before them.
    put("pregaps.bin", m1 + bytes(150 * RAW) + audio(300, 1) + bytes(75 * RAW) + audio(200, 2))
    cases.append((put("pregaps.cue",
                      'FILE "pregaps.bin" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n'
                      '  TRACK 02 AUDIO\n    INDEX 00 %s\n    INDEX 01 %s\n'
                      '  TRACK 03 AUDIO\n    INDEX 00 %s\n    INDEX 01 %s\n'
                      % (msf(data), msf(data + 150), msf(data + 450), msf(data + 525))), "same", "same"))
    # The same sheet with CRLF line ends and tab indents.
    os.link(os.path.join(d, "pregaps.bin"), os.path.join(d, "crlf.bin"))
    crlf = open(os.path.join(d, "pregaps.cue"), newline="").read().replace("pregaps.bin", "crlf.bin")
    cases.append((put("crlf.cue", crlf.replace("    ", "\t\t").replace("  ", "\t").replace("\n", "\r\n")),
                  "same", "same"))
    put("mode2.bin", m2)
    cases.append((put("mode2.cue", 'FILE "mode2.bin" BINARY\n TRACK 01 MODE2/2352\n  INDEX 01 00:00:00\n'),
                  "same", "same"))
    put("cooked.bin", iso)
    cases.append((put("cooked.cue",
                      'FILE "cooked.bin" BINARY\n TRACK 01 MODE1/2048\n  INDEX 01 00:00:00\n'
                      ' TRACK 02 MODE1/2048\n  INDEX 01 %s\n' % msf(600)), "same", "2352"))
    put("form2.bin", bytes(100 * 2336 + 1000))
    cases.append((put("form2.cue", 'FILE "form2.bin" BINARY\n TRACK 01 MODE2/2336\n  INDEX 01 00:00:10\n'),
                  "same", "2352"))
    # One BIN per track: here a file's positions count from the end of the files before it.
    put("files.bin", m1)
    put("files2.bin", audio(450, 3))
    put("files3.bin", audio(200, 4))
    cases.append((put("files.cue",
                      'FILE "files.bin" BINARY\n TRACK 01 MODE1/2352\n  INDEX 01 00:00:00\n'
                      'FILE "files2.bin" BINARY\n TRACK 02 AUDIO\n  INDEX 00 00:00:00\n  INDEX 01 00:02:00\n'
                      'FILE "files3.bin" BINARY\n TRACK 03 AUDIO\n  INDEX 01 00:00:00\n'), "per-file", "own-file"))
    lib = os.path.join(FIXTURES, "disc", "libcdio")
    for name in ("isofs-m1", "cdda", "cdda_4_5"):
        cases.append((os.path.join(lib, name + ".cue"), "same", "same"))
    cases.append((os.path.join(lib, "p1.cue"), "same", "missing"))
    for name in sorted(os.listdir(lib)):
        if name.startswith("bad-") and name.endswith(".cue"):
            cases.append((os.path.join(lib, name), "refused", "refused"))
    return cases


def file_size(wine_file):
    p = wine_file[2:].replace("\\", "/")
    if os.path.exists(p):
        return os.path.getsize(p)
    # Sheets name files in any letter case; Wine finds them regardless.
    folder, name = os.path.split(p)
    for f in os.listdir(folder):
        if f.lower() == name.lower():
            return os.path.getsize(os.path.join(folder, f))
    return None


RULES = {
    "same": "",
    "2352": "cd-info counts a non-2352 file in 2352-byte sectors up to its lead-out",
    "missing": "BOING.BIN is missing: its last track has no sectors here; cd-info reads p1.bin instead",
    "own-file": "cd-info 2.1 takes every FILE's positions as disc addresses (one image); "
                "here each track runs to the end of its own file",
    "per-file": "here a file's positions count after the sectors of the files before it; "
                "cd-info's start + those sectors = ours",
}


def compare(sheet, start_rule, length_rule):
    ours = our_table(sheet)
    theirs = cdinfo_table(sheet)
    name = os.path.basename(sheet)
    if start_rule == "refused":
        if theirs is not None:
            check(False, "%s: cd-info was expected to refuse it" % name)
        if not ours:
            check(False, "%s: no track table" % name)
        for t in ours:
            print("%-14s %3d  start %6d  cd-info refuses the sheet" % (name, t["number"], t["start"]))
        return
    if theirs is None or len(theirs) != len(ours):
        check(False, "%s: cd-info lists %s, ours %d tracks" % (name, theirs, len(ours)))
        return
    base, previous = 0, None  # sectors of the files before the track's own
    for t, (number, lsn, length) in zip(ours, theirs):
        if previous is not None and t["file"] != previous["file"]:
            base += file_size(previous["file"]) // previous["sector_size"]
        previous = t
        size = file_size(t["file"])
        last = t is ours[-1]
        if number != t["number"]:
            check(False, "%s: track number %d, cd-info %d" % (name, t["number"], number))
        if t["start"] != (lsn + base if start_rule == "per-file" else lsn):
            check(False, "%s track %d: start %d, cd-info %d (%s)" % (name, number, t["start"], lsn, start_rule))
        if length_rule == "same" or (length_rule in ("2352", "missing") and not last):
            ok = t["sectors"] == length
        elif length_rule == "2352":
            ok = length == size // RAW - lsn and t["sectors"] == (size - t["offset"]) // t["sector_size"]
        elif length_rule == "missing":
            ok = size is None and t["sectors"] == 0
        else:  # own-file
            ok = t["sectors"] == (size - t["offset"]) // t["sector_size"]
        if not ok:
            check(False, "%s track %d: %d sectors, cd-info %d (%s)" % (name, number, t["sectors"], length, length_rule))
        note = [RULES[start_rule]] if t["start"] != lsn else []
        if t["sectors"] != length:
            note.append(RULES[length_rule])
        print("%-14s %3d  start %6d  cd-info %6d   sectors %6d  cd-info %6d  %s"
              % (name, number, t["start"], lsn, t["sectors"], length, "; ".join(note) or "agree"))


# --- a sheet against its BIN opened directly --------------------------------------------------
def same_as_bin(tmp):
    lib = os.path.join(FIXTURES, "disc", "libcdio")
    sheet, image = os.path.join(lib, "isofs-m1.cue"), os.path.join(lib, "isofs-m1.bin")
    rc1, from_sheet, _ = discinfo(winpath(sheet))
    rc2, from_bin, _ = discinfo(winpath(image))
    from_sheet, from_bin = from_sheet.splitlines(), from_bin.splitlines()
    if rc1 or rc2:
        check(False, "discinfo: sheet %d, BIN %d" % (rc1, rc2))
        return
    bin_named = winpath(os.path.join(lib, "ISOFS-M1.BIN"))  # the name the sheet gives
    want = ["source: image " + bin_named, "tracks: 1",
            "track 1 data start=0 sectors=302 sector_size=2352 offset=0 kind=raw file=" + bin_named]
    got = [line for line in from_sheet if line.startswith(("source:", "tracks:", "track "))]
    if got != want:
        check(False, "isofs-m1.cue reports %s" % got)
    rest = lambda lines: [x for x in lines if not x.startswith(("source:", "tracks:", "track "))]
    if rest(from_sheet) != rest(from_bin) or not any(x.startswith("file ") for x in from_bin):
        check(False, "isofs-m1.cue lists\n%s\nisofs-m1.bin lists\n%s" % (rest(from_sheet), rest(from_bin)))
    dests = []
    for src in (sheet, image):
        dest = os.path.join(tmp, "copy-" + os.path.basename(src))
        rc, _, _ = discinfo("--copy", winpath(dest), winpath(src))
        if rc:
            check(False, "discinfo --copy of %s failed" % src)
        dests.append(dest)
    files = [os.path.relpath(os.path.join(r, f), dests[0]) for r, _, fs in os.walk(dests[0]) for f in fs]
    files2 = [os.path.relpath(os.path.join(r, f), dests[1]) for r, _, fs in os.walk(dests[1]) for f in fs]
    _, mismatch, errors = filecmp.cmpfiles(dests[0], dests[1], files, shallow=False)
    if not files or sorted(files) != sorted(files2) or mismatch or errors:
        check(False, "copies differ: %s / %s, %s %s" % (files, files2, mismatch, errors))
    print("isofs-m1.cue: %s; %d listed lines and %d copied files as isofs-m1.bin"
          % (got[0], len(rest(from_sheet)), len(files)))


def main():
    if not shutil.which("cd-info"):
        check(False, "cd-info (libcdio-utils) is not installed")
        check.finish()
    tmp = tempfile.mkdtemp(prefix="cue-", dir=TESTDATA)
    try:
        print("%-14s %3s  %-30s %-32s" % ("sheet", "trk", "start LBA: ours, cd-info", "length: ours, cd-info"))
        for sheet, start_rule, length_rule in make_cases(tmp):
            compare(sheet, start_rule, length_rule)
        same_as_bin(tmp)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    check.finish()


if __name__ == "__main__":
    main()
