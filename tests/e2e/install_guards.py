"""What the install may touch, tried with the real setup under Wine: a game folder that is not ours,
a CD folder that overlaps the install folder, cue sheets naming network paths, devices and streams,
links planted at every name the install writes, and a small image that claims gigabytes."""
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.environ["TOOLS"])
from wine_tools import *  # noqa: E402,F403

check = Checks()
work = tempfile.mkdtemp(prefix="install-guards-", dir=TESTDATA)
base = os.path.join(DRIVE_C, "dvguard")
shutil.rmtree(base, ignore_errors=True)
os.makedirs(base)
gamecd = os.path.join(TESTDATA, "gamecd", "tree")
iso = os.path.join(TESTDATA, "gamecd", "gamecd.iso")
temp = os.path.join(user_dir(), "Temp")


def silent(source_w, folder_w, *extra, debug=None):
    env = dict(os.environ, WINEDEBUG=debug) if debug else None
    rc, _, err = run_exe("drovenhelm_setup.exe", "/silent", "/cd", source_w, "/dir", folder_w, "/nodesktop",
                         "/nostartmenu", *extra, timeout=120, env=env)
    return rc, setup_log() or [], err


def tree(root):
    """{relative path: sha1 or 'dir' or 'link -> target'}, links not followed."""
    out = {}
    for here, dirs, files in os.walk(root):
        for n in dirs + files:
            p = os.path.join(here, n)
            rel = os.path.relpath(p, root)
            out[rel] = ("link -> " + os.readlink(p)) if os.path.islink(p) else "dir" if os.path.isdir(p) else \
                hashlib.sha1(read(p)).hexdigest()
    return out


def game_folder_not_ours():
    docs = os.path.join(base, "Documents")
    os.makedirs(os.path.join(docs, "game"))
    with open(os.path.join(docs, "game", "my-save.txt"), "wb") as f:
        f.write(b"my own save")
    before = tree(docs)
    rc, log, _ = silent(winpath(iso), "C:\\dvguard\\Documents")
    want = ("ERROR: C:\\dvguard\\Documents already holds a folder named game that is not Drovenhelm's. "
            "Choose another install folder.")
    check(rc == 1 and log[-1:] == [want] and tree(docs) == before,
          f"a user's own game folder: refused, nothing written ({log[-1:]})")
    rc, log, _ = silent(winpath(iso), "C:\\dvguard\\Ours")
    rc2, log2, _ = silent(winpath(iso), "C:\\dvguard\\Ours")
    check(rc == 0 and rc2 == 0 and log2[-1:] == ["Done."], "a re-install over an install of ours works")


def overlapping_folders():
    # The CD folder is the install folder; the install folder inside the CD folder; the CD folder in
    # the game folder of the install folder.
    one = os.path.join(base, "one")
    shutil.copytree(gamecd, one)
    rc, log, _ = silent("C:\\dvguard\\one", "C:\\dvguard\\one")
    nested = [p for p in tree(os.path.join(one, "game", "cd")) if "game" in p.lower().split(os.sep)]
    check(rc == 0 and log[-1:] == ["Done."] and nested == [] and os.path.exists(os.path.join(one, "game", "cd", "SKIPIT.EXE")),
          f"CD folder = install folder: copied once, nothing of game\\cd copied again ({log[-1:]}, {nested[:3]})")
    outer = os.path.join(base, "outer")
    shutil.copytree(gamecd, outer)
    rc, log, _ = silent("C:\\dvguard\\outer", "C:\\dvguard\\outer\\inst")
    nested = [p for p in tree(os.path.join(outer, "inst", "game", "cd")) if "inst" in p.lower().split(os.sep)]
    check(rc == 0 and log[-1:] == ["Done."] and nested == [],
          f"install folder inside the CD folder: it is not copied into itself ({log[-1:]}, {nested[:3]})")
    # A copy of the CD kept in the game folder of the install: reading and writing it at once is refused.
    before = tree(os.path.join(one, "game", "cd"))
    rc, log, _ = silent("C:\\dvguard\\one\\game\\cd", "C:\\dvguard\\one")
    check(rc == 1 and log[-1:] == ["ERROR: the CD folder C:\\dvguard\\one\\game\\cd lies in the install folder's "
                                   "game folder. Choose another install folder."]
          and tree(os.path.join(one, "game", "cd")) == before, f"a CD folder in the game folder: refused ({log[-1:]})")


SPARE = os.path.join(os.path.dirname(PREFIX), "wineprefix-nocd")  # no CD-ROM drive to win over a sheet


def cue_names():
    # Names that are no local file: a network share with a stream, a device path, a device, a stream.
    # Given with /cd, and as the only sheet beside the setup in a prefix without a CD-ROM drive,
    # which the setup tries at start-up.
    names = {"unc": "\\\\dvhost\\share\\x.bin::$DATA", "devpath": "\\\\.\\COM1", "device": "COM1",
             "stream": "a.bin:s"}
    spare_env = dict(os.environ, WINEPREFIX=SPARE, WINEDEBUG="+file")
    beside = os.path.join(SPARE, "drive_c", "dvguard-beside")
    subprocess.run([WINE_RUN, "cmd", "/c", "exit"], env=dict(os.environ, WINEPREFIX=SPARE), capture_output=True,
                   stdin=subprocess.DEVNULL, timeout=300)
    shutil.rmtree(beside, ignore_errors=True)
    os.makedirs(beside)
    shutil.copy(os.path.join(BIN, "drovenhelm_setup.exe"), beside)
    try:
        for kind, name in names.items():
            sheet = os.path.join(work, f"{kind}.cue")
            with open(sheet, "w") as f:
                f.write(f'FILE "{name}" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n')
            for old in os.listdir(beside):
                if old.endswith(".cue"):
                    os.remove(os.path.join(beside, old))
            shutil.copy(sheet, beside)
            p = subprocess.run([WINE_RUN, "C:\\dvguard-beside\\drovenhelm_setup.exe", "/silent", "/cd", "C:\\missing.iso",
                                "/dir", "C:\\dvguard-beside\\x"], env=spare_env, capture_output=True,
                               stdin=subprocess.DEVNULL, timeout=120)
            tried = [l for l in p.stderr.decode("latin-1").splitlines() if f"{kind}.cue" in l]
            runs = [("/cd", *silent(winpath(sheet), "C:\\dvguard\\x", debug="+file")[::2]),
                    ("beside", p.returncode, p.stderr.decode("latin-1"))]
            for how, rc, trace in runs:
                # Wine names what it opens in its file channel; the sheet's own name holds none of these.
                opened = [l for l in trace.splitlines() if re.search(r"dvhost|COM1|a\.bin:s", l, re.I)]
                check(rc == 1 and opened == [] and (how == "/cd" or tried),
                      f"cue FILE {name!r} ({how}): never opened, source refused {opened[:2]}")
    finally:
        subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=SPARE), capture_output=True)
        shutil.rmtree(beside, ignore_errors=True)


def planted_links():
    # A link at each name the install writes (and at the folder of the WAVs) leads to a file outside.
    victim_dir = os.path.join(base, "victims")
    os.makedirs(victim_dir)
    cue = winpath(os.path.join(TESTDATA, "gamecd", "gamecd.cue"))
    names = ["drovenhelm.exe", "game/hd/CD.DAT", "game/cd/README", "game/cdaudio", "TEMP/drovenhelm_setup.log",
             "uninstall.exe"]
    for i, name in enumerate(names):
        folder = os.path.join(base, f"links{i}")
        rc, _, _ = silent(cue, f"C:\\dvguard\\links{i}")
        victim = os.path.join(victim_dir, f"victim{i}")
        if name == "game/cdaudio":
            os.makedirs(victim)
            at = os.path.join(folder, "game", "cdaudio")
            shutil.rmtree(at)
        else:
            with open(victim, "wb") as f:
                f.write(b"victim " + name.encode())
            at = os.path.join(temp, name[5:]) if name.startswith("TEMP/") else os.path.join(folder, *name.split("/"))
            os.remove(at)
        os.symlink(victim, at)
        before = tree(victim_dir)
        rc, log, _ = silent(cue, f"C:\\dvguard\\links{i}")
        after = tree(victim_dir)
        last = log[-1:] if log else ["(no log)"]
        wanted = name.startswith("TEMP/") or name == "uninstall.exe"  # these never stop the install
        # A refused write names its file: on the ERROR line, or on the line before the copy's ERROR.
        named = wanted or any(f"cannot write C:\\dvguard\\links{i}\\" + name.replace("/", "\\") in line
                              for line in log)
        check(after == before and named and (rc == 0 if wanted else rc == 1 and last[0].startswith("ERROR: ")),
              f"a link at {name}: nothing outside changes, the file named, exit code {rc}, {last}")
        if name.startswith("TEMP/"):
            os.remove(at)


def link_at_the_uninstallers_copy():
    # Stage 1 copies itself into %TEMP% before it starts stage 2: never through a link planted there.
    rc, _, _ = silent(winpath(iso), "C:\\dvguard\\unlink")
    victim = os.path.join(base, "copy-victim")
    with open(victim, "wb") as f:
        f.write(b"victim of the uninstaller's copy")
    at = os.path.join(temp, "drovenhelm_uninstall.exe")
    if os.path.lexists(at):
        os.remove(at)
    os.symlink(victim, at)
    rc, _, _ = run_exe("C:\\dvguard\\unlink\\uninstall.exe", "/uninstall", "/quiet", timeout=120)
    check(rc == 1 and read(victim) == b"victim of the uninstaller's copy" and os.path.exists(os.path.join(base, "unlink", "game")),
          f"a link at %TEMP%\\drovenhelm_uninstall.exe: not written through, nothing removed, exit code {rc}")
    os.remove(at)


def claims_of_a_small_image():
    # 2,000 names for one 3 MiB file: genisoimage writes hard links as records sharing one extent.
    src = os.path.join(work, "claims")
    shutil.copytree(gamecd, src)
    big = os.path.join(src, "BIG.DAT")
    with open(big, "wb") as f:
        f.write(os.urandom(3 * 1048576))
    os.makedirs(os.path.join(src, "MANY"))
    for i in range(2000):
        os.link(big, os.path.join(src, "MANY", f"F{i:04}.DAT"))
    image = os.path.join(work, "claims.iso")
    subprocess.run(["genisoimage", "-quiet", "-l", "-cache-inodes", "-o", image, src], check=True, capture_output=True)
    _, report, _ = discinfo(winpath(image))
    total = int(report_value(report, "total") or 0)
    rc, log, _ = silent(winpath(image), "C:\\dvguard\\claims")
    check(os.path.getsize(image) < 8 * 1048576 and total > 6_000_000_000, f"the image: {os.path.getsize(image)} bytes "
          f"claiming {total}")
    check(rc == 1 and log[-1:] == ["ERROR: the CD image claims more data than it holds"]
          and not os.path.exists(os.path.join(base, "claims")), f"refused before writing ({log[-1:]})")


try:
    for scenario in (game_folder_not_ours, overlapping_folders, cue_names, planted_links, link_at_the_uninstallers_copy,
                     claims_of_a_small_image):
        scenario()
finally:
    reg_delete(UNINSTALL_KEY)  # the installs here registered themselves; none of them stays
    shutil.rmtree(base, ignore_errors=True)
    shutil.rmtree(work, ignore_errors=True)
check.finish()
