"""One volume as a folder, a 2048-byte image and raw 2352-byte images (user data at 16 and 24) must
read the same, agree with libcdio's iso-info, and copy to the tree xorriso extracts."""
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.environ["TOOLS"])
from wine_tools import *  # noqa: E402,F403

check = Checks()


def xorriso_tree(image, out):
    subprocess.run(["xorriso", "-osirrox", "on", "-indev", image, "-extract", "/", out],
                   capture_output=True, check=True)
    return tree_digest(out, MAX_DEPTH)


work = tempfile.mkdtemp(prefix="discinfo-")
td = TESTDATA
reference = xorriso_tree(os.path.join(td, "volume.iso"), os.path.join(work, "xorriso"))

forms = {
    "folder": (os.path.join(td, "tree"), None),
    "iso": (os.path.join(td, "volume.iso"), (2048, 0)),
    "iso-without-versions": (os.path.join(td, "volume-nover.iso"), (2048, 0)),
    "raw-mode1": (os.path.join(td, "volume-m1.bin"), (2352, 16)),
    "raw-mode2": (os.path.join(td, "volume-m2.bin"), (2352, 24)),
}
listings = {}
for name, (path, layout) in forms.items():
    rc, out, err = discinfo(winpath(path))
    check(rc == 0, f"{name}: discinfo exit 0 ({err.strip()[:200]})")
    listings[name] = report_entries(out)
    if layout:
        lay = report_value(out, "layout") or ""
        check(lay.startswith(f"sector_size={layout[0]} data_offset={layout[1]} "), f"{name}: layout {lay}")
    files = {k: v for k, v in listings[name].items() if v is not None}
    check(str(sum(files.values())) == report_value(out, "total"), f"{name}: total is the sum of the files")
    d = diff(listings["folder"], listings[name], "folder", name)
    check(not d, f"{name}: same files and sizes as the folder\n{d}")

    dest = os.path.join(work, "copy-" + name)
    rc, _, err = discinfo("--copy", winpath(dest), winpath(path))
    check(rc == 0 and "copy 100%" in err, f"{name}: --copy exit 0 with progress ({err.strip()[-200:]})")
    d = diff(reference, tree_digest(dest), "xorriso", name)
    check(not d, f"{name}: copy equals xorriso's extraction down to depth {MAX_DEPTH}\n{d}")

for name in ("iso", "raw-mode1"):
    path = forms[name][0]
    iso = forms["iso"][0]  # iso-info reads the 2048-byte form of the same volume
    d = diff(iso_info_entries(iso), listings[name], "iso-info", name)
    check(not d, f"{name}: agrees with iso-info -l\n{d}")

# Real images made by other tools.
lib = os.path.join(FIXTURES, "disc", "libcdio")
for image in ("copying.iso", "joliet.iso", "copying-rr.iso", "deep-directory.iso", "multi_extent_8k.iso"):
    path = os.path.join(lib, image)
    rc, out, err = discinfo(winpath(path))
    mine = report_entries(out)
    if image == "deep-directory.iso":
        # Rock Ridge moved its deep folders into rr_moved, which iso-info fails to list; the plain
        # ISO 9660 tree that we read has them there (xorriso puts them back, so it is no reference).
        mine = {k: v for k, v in mine.items() if not k.startswith("rr_moved/")}
    d = diff(iso_info_entries(path), mine, "iso-info", "discinfo")
    check(rc == 0 and not d, f"{image}: agrees with iso-info -l (exit {rc}, {err.strip()[-200:]!r})\n{d}")
    if image in ("copying.iso", "multi_extent_8k.iso"):  # no Rock Ridge
        dest = os.path.join(work, "copy-" + image)
        rc, _, err = discinfo("--copy", winpath(dest), winpath(path))
        d = diff(xorriso_tree(path, os.path.join(work, "x-" + image)), tree_digest(dest), "xorriso", "ours")
        check(rc == 0 and not d, f"{image}: copy equals xorriso's extraction\n{d}")

rc, out, _ = discinfo(winpath(os.path.join(lib, "isofs-m1.bin")))
check(rc == 0 and report_value(out, "layout").startswith("sector_size=2352 data_offset=16"),
      "isofs-m1.bin opens as raw 2352/16")

# A copy into a folder inside the CD folder: everything but the destination is copied, and the
# progress reaches its end because the sum leaves the destination out too.
cd = os.path.join(work, "cd-holding-copy")
os.makedirs(os.path.join(cd, "SUB"))
with open(os.path.join(cd, "SUB", "A.TXT"), "wb") as f:
    f.write(b"cd content")
with open(os.path.join(cd, "TOP.TXT"), "wb") as f:
    f.write(b"top")
inside = os.path.join(cd, "SUB", "inst")
rc, _, err = discinfo("--copy", winpath(inside), winpath(cd))
check(rc == 0 and "copy 100%" in err, f"copy into the CD folder: exit {rc}, {err.strip()[-80:]!r}")
got = {k: v for k, v in tree_digest(inside).items() if v is not None}
check(sorted(got) == ["sub/a.txt", "top.txt"], f"the copy holds the CD's files and not itself: {sorted(got)}")

# The Wine CD-ROM drive, with and without its backslash.
for drive in ("D:", "D:\\"):
    rc, out, _ = discinfo(drive)
    check(rc == 0 and report_value(out, "source") == "folder D:\\", f"{drive} gives 'folder D:\\'")
    rc, tree_report, _ = discinfo(winpath(os.path.join(td, "gamecd", "tree")))
    check(report_entries(out) == report_entries(tree_report), f"{drive} lists the CD-ROM folder")

# Damaged input ends cleanly, within seconds: a report or a refusal, never a crash or a hang.
truncated = os.path.join(work, "truncated.iso")
with open(forms["iso"][0], "rb") as f:
    data = f.read()
with open(truncated, "wb") as f:
    f.write(data[: len(data) // 2])  # directories intact, the big files cut off
damaged = {
    "truncated.iso": (truncated, 0, 1, "read error in "),
    "malformed.iso": (os.path.join(lib, "malformed.iso"), 1, 1, "read error in the root directory"),
    "malformed2.iso": (os.path.join(lib, "malformed2.iso"), 0, 0, ""),
    "bad-dir.iso": (os.path.join(lib, "bad-dir.iso"), 0, 0, ""),
    "test-udf1.iso": (os.path.join(lib, "test-udf1.iso"), 0, 0, ""),
    "videocd.nrg": (os.path.join(lib, "videocd.nrg"), 1, 1, ""),
}
for name, (path, want_list, want_copy, message) in damaged.items():
    try:
        rc, out, err = discinfo(winpath(path), timeout=30)
        check(rc == want_list, f"{name}: discinfo exit {rc}")
        rc, _, err = discinfo("--copy", winpath(os.path.join(work, "d-" + name)), winpath(path), timeout=30)
        check(rc == want_copy and message in err, f"{name}: --copy exit {rc}, says {err.strip()[-120:]!r}")
    except subprocess.TimeoutExpired:
        check(False, f"{name}: ended within 30 s")

shutil.rmtree(work, ignore_errors=True)
check.finish()
