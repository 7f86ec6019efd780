"""The setup's start-up under Wine: where it finds the game CD by itself, and a temporary folder
too long for the log file's name."""
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.environ["TOOLS"])
from wine_tools import *  # noqa: E402,F403

check = Checks()
gamecd = os.path.join(TESTDATA, "gamecd")
setup_exe = os.path.join(BIN, "drovenhelm_setup.exe")
work = os.path.join(DRIVE_C, "dvmodes")
shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)


def setup_beside(folder, images):
    """A copy of the setup in a folder with the given files (name: source path) beside it."""
    os.makedirs(folder, exist_ok=True)
    shutil.copy(setup_exe, os.path.join(folder, "drovenhelm_setup.exe"))
    for name, src in images.items():
        shutil.copy(src, os.path.join(folder, name))
    return os.path.join(folder, "drovenhelm_setup.exe")


def defaults_line(exe, env=None):
    """Runs a silent install that fails at once (its CD is missing) and returns the defaults line."""
    p = subprocess.run([WINE_RUN, exe, "/silent", "/cd", "C:\\missing.iso", "/dir", "C:\\dvmodes\\x"],
                       stdin=subprocess.DEVNULL, capture_output=True, env=env, timeout=120)
    log = setup_log(env["WINEPREFIX"] if env else PREFIX) or []
    lines = [l for l in log if l.startswith("defaults: ")]
    return p.returncode, lines[0] if lines else None


iso = os.path.join(gamecd, "gamecd.iso")
not_game = os.path.join(TESTDATA, "volume.iso")

# In the test prefix, D: is a CD-ROM drive holding the game CD: it wins over an image beside the setup.
exe = setup_beside(os.path.join(work, "with-drive"), {"a.iso": iso})
rc, line = defaults_line(exe)
check(rc == 1 and line == "defaults: cd 'D:\\' dir 'C:\\Games\\Drovenhelm PC'", f"a game CD in D: wins: {line}")

# The setup in a drive root beside a game image: there no "." entry comes first in the listing, and
# the image, listed first, must still not replace the CD found in D:.
root = os.path.join(work, "root-drive")
os.makedirs(root)
shutil.copy(iso, os.path.join(root, "a.iso"))  # made first: listed first in a small folder
shutil.copy(setup_exe, os.path.join(root, "drovenhelm_setup.exe"))
drive = os.path.join(PREFIX, "dosdevices", "r:")
os.symlink(root, drive)
try:
    _, listing, _ = discinfo("R:\\")
    files = [l.split(" ", 2)[2] for l in listing.splitlines() if l.startswith("file ")]
    check(files[:1] == ["a.iso"], f"R:\\ lists the image first: {files}")
    p = subprocess.run([WINE_RUN, "R:\\drovenhelm_setup.exe", "/silent", "/cd", "C:\\missing.iso", "/dir",
                        "C:\\dvmodes\\x"], stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    line = next((l for l in setup_log() or [] if l.startswith("defaults: ")), None)
    check(line == "defaults: cd 'D:\\' dir 'C:\\Games\\Drovenhelm PC'", f"in a drive root a game CD in D: still wins: {line}")

    # "/cd D:" from a command prompt whose current folder on D: is D:\DATA: the drive's root, as given.
    p = subprocess.run([WINE_RUN, "cmd", "/c", "cd /d D:\\DATA&& R:\\drovenhelm_setup.exe /silent /cd D: /dir "
                        "C:\\dvmodes\\bare&& echo exit=%errorlevel%"],
                       stdin=subprocess.DEVNULL, capture_output=True, timeout=300)
    out = p.stdout.decode("latin-1")
    log = setup_log() or []
    check("exit=0" in out and os.path.exists(os.path.join(work, "bare", "game", "hd", "CD.DAT")),
          f"/cd D: installs from the root of D: ({out.strip()}; {log[-1:] })")
finally:
    os.remove(drive)

# A prefix without a CD-ROM drive for the rest.
env = dict(os.environ, WINEPREFIX=os.path.join(os.path.dirname(PREFIX), "wineprefix-nocd"))
nocd_c = os.path.join(env["WINEPREFIX"], "drive_c")
subprocess.run([WINE_RUN, "cmd", "/c", "exit"], stdin=subprocess.DEVNULL, capture_output=True, env=env, timeout=300)
try:
    folder = os.path.join(nocd_c, "dvmodes", "images")
    shutil.rmtree(folder, ignore_errors=True)
    exe = setup_beside(folder, {"a.iso": iso, "B.CUE": os.path.join(gamecd, "gamecd.cue"),
                                "GAMECD.BIN": os.path.join(gamecd, "gamecd.bin"), "x.iso": not_game})
    # Which of the game images the folder listing returns first: discinfo lists in that order.
    _, listing, _ = discinfo(winpath(folder))
    order = [l.split(" ", 2)[2] for l in listing.splitlines()
             if l.startswith("file ") and l.lower().endswith((".iso", ".cue"))]
    first_game = next(n for n in order if n in ("a.iso", "B.CUE"))
    rc, line = defaults_line(exe, env)
    check(line == f"defaults: cd 'C:\\dvmodes\\images\\{first_game}' dir 'C:\\Games\\Drovenhelm PC'",
          f"the first game image of the listing wins ({order}): {line}")

    # Each image form the search tries, alone beside the setup with its data file, is found; a lone
    # .bin (a cue sheet's data file, which would install without the sheet's music) is not tried.
    alone = (
        ("Nero", {"g.nrg": "gamecd.nrg"}, "g.nrg"),
        ("CloneCD", {"g.ccd": "gamecd.ccd", "g.img": "gamecd.img"}, "g.ccd"),
        ("Alcohol", {"g.mds": "gamecd-mds.mds", "g.mdf": "gamecd-mds.mdf"}, "g.mds"),
        ("lone .bin", {"g.bin": "gamecd.iso"}, None),
        ("only others", {"c.iso.bak": "gamecd.iso", "e.nrg": "gamecd.iso", "f.iso": not_game}, None),
    )
    for what, files, found in alone:
        folder = os.path.join(nocd_c, "dvmodes", what.replace(" ", "-").replace(".", ""))
        exe = setup_beside(folder, {name: os.path.join(gamecd, src) for name, src in files.items()})
        rc, line = defaults_line(exe, env)
        cd = f"C:\\dvmodes\\{os.path.basename(folder)}\\{found}" if found else ""
        check(line == f"defaults: cd '{cd}' dir 'C:\\Games\\Drovenhelm PC'", f"{what} beside the setup: {line}")

    # A temporary folder whose path leaves no room for the log's name: no log, the install still runs.
    # The same run with a shorter folder shows that the log would have gone there.
    def install_with_temp(name, target):
        os.makedirs(os.path.join(nocd_c, name), exist_ok=True)
        p = subprocess.run([WINE_RUN, "cmd", "/c", f"set TMP=C:\\{name}&& set TEMP=C:\\{name}&& start /wait "
                            f"{winpath(exe)} /silent /cd {winpath(iso)} /dir {target}&& echo exit=%errorlevel%"],
                           stdin=subprocess.DEVNULL, capture_output=True, env=env, timeout=300)
        return p.stdout.decode("latin-1"), sorted(os.listdir(os.path.join(nocd_c, name)))

    out, left = install_with_temp("t" * 200, "C:\\dvmodes\\t200")
    check("exit=0" in out and left == ["drovenhelm_setup.log"], f"a 200-character temporary folder gets the log: {left}")
    out, left = install_with_temp("t" * 240, "C:\\dvmodes\\t240")
    check("exit=0" in out and os.path.exists(os.path.join(nocd_c, "dvmodes", "t240", "game", "hd", "CD.DAT")),
          f"a 240-character one: the install runs without a log file ({out.strip()})")
    check(left == [], f"nothing was written under a cut name in the temporary folder: {left}")
finally:
    subprocess.run(["wineserver", "-k"], env=env, capture_output=True)
    shutil.rmtree(work, ignore_errors=True)
check.finish()
