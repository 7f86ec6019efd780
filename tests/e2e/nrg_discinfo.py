"""discinfo on Nero images of the test volume (made by tests/tools/make_nrg.py): the same files and the
same copied tree as the plain volume, the track table the writer laid out, another reader's track
addresses; and the real images of other tools refused."""
import filecmp
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.environ["TOOLS"])
from wine_tools import *  # noqa: E402,F403

check = Checks()
work = tempfile.mkdtemp(prefix="nrg-e2e-")


def files_part(report):
    return [line for line in report.splitlines() if line.startswith(("total ", "dir ", "file "))]


def same_trees(a, b):
    """True when two folders hold the same names and the same bytes, all the way down."""
    c = filecmp.dircmp(a, b)
    if c.left_only or c.right_only or c.funny_files:
        return False
    _, mismatch, errors = filecmp.cmpfiles(a, b, c.common_files, shallow=False)
    return not mismatch and not errors and all(same_trees(os.path.join(a, d), os.path.join(b, d))
                                              for d in c.common_dirs)


volume = os.path.join(TESTDATA, "volume.iso")
rc, out, err = discinfo(winpath(volume))
check(rc == 0, f"discinfo volume.iso exit 0 ({err.strip()[-200:]})")
iso_files = files_part(out)
check(sum(line.startswith("file ") for line in iso_files) > 200, "volume.iso lists more than 200 files")
iso_copy = os.path.join(work, "iso")
rc, _, _ = discinfo("--copy", winpath(iso_copy), winpath(volume))
check(rc == 0, "copy of volume.iso exit 0")

reports = {}
for name in ("nrg-x2048", "nrg-x-m1", "nrg-i-m2"):
    w = winpath(os.path.join(TESTDATA, name + ".nrg"))
    rc, out, err = discinfo(w)
    if not check(rc == 0, f"discinfo {name} exit 0 ({err.strip()[-200:]})"):
        continue
    reports[name] = out
    want_tracks = read(os.path.join(TESTDATA, name + ".tracks")).decode().splitlines()
    n = len(want_tracks)
    lines = out.splitlines()
    check(f"source: Nero image {w} ({n} tracks)" in lines, f"{name}: source line")
    check(f"tracks: {n}" in lines, f"{name}: track count")
    tracks = [line for line in lines if line.startswith("track ")]
    check([t.split(" file=")[0] for t in tracks] == want_tracks, f"{name}: track table")
    check(all(t.endswith(" file=" + w) for t in tracks), f"{name}: track files")
    check(files_part(out) == iso_files, f"{name}: same files as volume.iso")
    dest = os.path.join(work, name)
    rc, _, err = discinfo("--copy", winpath(dest), w)
    check(rc == 0, f"copy of {name} exit 0 ({err.strip()[-200:]})")
    check(rc == 0 and same_trees(iso_copy, dest), f"{name}: copied tree equals the copy of volume.iso")

# Another reader of the format (libcdio's cd-info, which takes the addresses from the CUEX chunk
# rather than from the DAO chunk) agrees on where the tracks start.
text = subprocess.run(["cd-info", "--no-device-info", "--no-cddb", "--nrg-file",
                       os.path.join(TESTDATA, "nrg-x2048.nrg")], capture_output=True, text=True,
                      errors="replace").stdout
theirs = [(int(m[1]), int(m[2])) for m in re.finditer(r"^ +(\d+): [\d:]+ +0*(\d+) ", text, re.M) if m[1] != "170"]
ours = [(int(m[1]), int(m[2])) for m in re.finditer(r"^track (\d+) .* start=(\d+) ", reports.get("nrg-x2048", ""), re.M)]
check(ours and ours == theirs, f"nrg-x2048: track starts {ours} agree with cd-info's {theirs}")

# Real images whose first track is no ISO 9660 data track: refused, with the usual message.
for name in ("p1.nrg", "videocd.nrg"):
    rc, out, err = discinfo(winpath(os.path.join(FIXTURES, "disc", "libcdio", name)))
    check(rc == 1 and "is not a readable disc, image or folder" in err and not out,
          f"{name}: refused with the message and no report (exit {rc})")

shutil.rmtree(work, ignore_errors=True)
check.finish()
