"""The game CD as the disc copiers keep it: a CloneCD image (.ccd, .img, .sub) and Alcohol images
(.mds, .mdf; 2352-byte sectors, 2448 with subchannel, 2048 for the data track) install silently with
their music, exactly as the same CD as a cue sheet does; the volume that iat and mdf2iso extract
from the .img and .mdf equals discinfo's copy; damaged descriptors and missing data files are
refused cleanly."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.environ["TOOLS"])
from wine_tools import *  # noqa: E402,F403

check = Checks()
gamecd = os.path.join(TESTDATA, "gamecd")
base = os.path.join(DRIVE_C, "dvcopier")
shutil.rmtree(base, ignore_errors=True)
work = tempfile.mkdtemp(prefix="copier-")


def install(form, source):
    target = os.path.join(base, form)
    rc, _, _ = run_exe("drovenhelm_setup.exe", "/silent", "/cd", winpath(source), "/dir", "C:\\dvcopier\\" + form,
                       "/nodesktop", "/nostartmenu", timeout=300)
    log = setup_log() or []
    return rc, target, log


def audio_of(target):
    folder = os.path.join(target, "game", "cdaudio")
    return {n: read(os.path.join(folder, n)) for n in sorted(os.listdir(folder))} if os.path.isdir(folder) else {}


rc, reference, _ = install("cue", os.path.join(gamecd, "gamecd.cue"))
check(rc == 0, "the cue sheet installs")
want_cd, want_audio = tree_digest(os.path.join(reference, "game", "cd")), audio_of(reference)
check(sorted(want_audio) == ["toc.txt", "track02.wav", "track03.wav"], f"the cue sheet's music: {sorted(want_audio)}")

forms = {
    "ccd": "gamecd.ccd",
    "mds": "gamecd-mds.mds",
    "mds-subchannel": "gamecd-sub.mds",
    "mds-2048": "gamecd-2048.mds",
}
for form, name in forms.items():
    rc, target, log = install(form, os.path.join(gamecd, name))
    check(rc == 0 and log[-1:] == ["Done."], f"{form}: installs ({log[-1:]})")
    check("CD music: 2 tracks" in log, f"{form}: the log names the music")
    d = diff(want_cd, tree_digest(os.path.join(target, "game", "cd")), "cue", form)
    check(not d, f"{form}: game\\cd is the cue sheet's\n{d}")
    got = audio_of(target)
    check(got == want_audio, f"{form}: the WAVs and toc.txt are the cue sheet's byte for byte ({sorted(got)})")

    rc, out, err = discinfo(winpath(os.path.join(gamecd, name)))
    lines = out.splitlines()
    check(rc == 0 and "tracks: 3" in lines and sum(l.startswith("track ") for l in lines) == 3,
          f"{form}: discinfo lists three tracks")

# Other readers of the .img and the .mdf: the volume they extract is the one discinfo copies.
for name, tool in (("gamecd.img", "iat"), ("gamecd-mds.mdf", "iat"), ("gamecd-sub.mdf", "iat"),
                   ("gamecd-2048.mdf", "iat"), ("gamecd-mds.mdf", "mdf2iso")):
    iso = os.path.join(work, f"{tool}-{name}.iso")
    subprocess.run([tool, os.path.join(gamecd, name), iso], capture_output=True)
    if not check(os.path.exists(iso), f"{tool} turns {name} into an ISO"):
        continue
    theirs = os.path.join(work, f"{tool}-{name}-tree")
    subprocess.run(["xorriso", "-osirrox", "on", "-indev", iso, "-extract", "/", theirs], capture_output=True)
    descriptor = name.replace(".img", ".ccd").replace(".mdf", ".mds")
    ours = os.path.join(work, f"ours-{name}-{tool}")
    rc, _, _ = discinfo("--copy", winpath(ours), winpath(os.path.join(gamecd, descriptor)))
    d = diff(tree_digest(theirs), tree_digest(ours), tool, "discinfo")
    check(rc == 0 and not d, f"{tool} {name}: the same tree as discinfo --copy {descriptor}\n{d}")

# Damaged descriptors and missing data files: exit 1 with the usual message, never a crash.
damaged = os.path.join(work, "damaged")
os.makedirs(damaged)
mds = read(os.path.join(gamecd, "gamecd-mds.mds"))
ccd = read(os.path.join(gamecd, "gamecd.ccd"))


def with_u32(data, at, value):
    return data[:at] + struct.pack("<I", value) + data[at + 4:]


cases = {
    "truncated.mds": mds[:200],
    "blocks.mds": mds[:88 + 10] + bytes([255]) + mds[88 + 11:],
    "offset.mds": with_u32(mds, 80, 0xFFFFFF00),
    "nomdf.mds": mds,
    "noimg.ccd": ccd,
    "garbage.ccd": bytes(range(256)) * 4,
}
for name, data in cases.items():
    path = os.path.join(damaged, name)
    with open(path, "wb") as f:
        f.write(data)
    if name in ("truncated.mds", "blocks.mds", "offset.mds"):
        shutil.copy(os.path.join(gamecd, "gamecd-mds.mdf"), path[:-4] + ".mdf")
    if name == "garbage.ccd":
        shutil.copy(os.path.join(gamecd, "gamecd.img"), path[:-4] + ".img")
    try:
        rc, out, err = discinfo(winpath(path), timeout=30)
        check(rc == 1 and "is not a readable disc, image or folder" in err and not out, f"{name}: refused (exit {rc})")
    except subprocess.TimeoutExpired:
        check(False, f"{name}: ended within 30 s")

shutil.rmtree(work, ignore_errors=True)
shutil.rmtree(base, ignore_errors=True)
check.finish()
