"""A disk that fills during the install: a small tmpfs, mounted as drive T: of the prefix without a
CD-ROM drive, with less and less room for a silent install of the game CD image. Every run ends
either with "Done." and whole programs, with an ERROR line after a line that names the file that
could not be written, or, when the CD's data and music cannot fit, with the free-space ERROR before
anything is written; a cut program is never left behind. Mounting needs root: exits 77 without it."""
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.environ["TOOLS"])
from wine_tools import *  # noqa: E402,F403

check = Checks()
SPARE = os.path.join(os.path.dirname(PREFIX), "wineprefix-nocd")
env = dict(os.environ, WINEPREFIX=SPARE)
mnt = os.path.join(os.path.dirname(PREFIX), "full-disk")
drive = os.path.join(SPARE, "dosdevices", "t:")
setup_exe = os.path.join(BIN, "drovenhelm_setup.exe")
carried_game = read(os.path.join(BIN, "drovenhelm.exe"))
iso = winpath(os.path.join(TESTDATA, "gamecd", "gamecd.iso"))
target = os.path.join(mnt, "dv")
KIB = 1024


def mount(size):
    if os.path.ismount(mnt):
        subprocess.run(["umount", mnt], check=True)
    os.makedirs(mnt, exist_ok=True)
    return subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size}", "tmpfs", mnt],
                          capture_output=True).returncode == 0


def used():
    st = os.statvfs(mnt)
    return (st.f_blocks - st.f_bfree) * st.f_frsize


def install():
    """A silent install into T:\\dv; (exit code, the log's lines), or (None, []) when it ran over 30 s."""
    try:
        rc, _, _ = run_exe(setup_exe, "/silent", "/cd", iso, "/dir", "T:\\dv", env=env, timeout=30)
    except subprocess.TimeoutExpired:
        subprocess.run(["wineserver", "-k"], env=env)
        return None, []
    return rc, setup_log(SPARE) or []


def file_or_none(name):
    p = os.path.join(target, name)
    return read(p) if os.path.exists(p) else None


if os.geteuid() != 0 or not mount(64 << 20):
    print("no tmpfs can be mounted here (it needs root)")
    raise SystemExit(77)
try:
    subprocess.run([WINE_RUN, "cmd", "/c", "exit"], stdin=subprocess.DEVNULL, capture_output=True, env=env,
                   timeout=300)
    if os.path.lexists(drive):
        os.remove(drive)
    os.symlink(mnt, drive)

    rc, log = install()
    need = used()
    with_icon = file_or_none("drovenhelm.exe")
    check(rc == 0 and log[-1:] == ["Done."] and with_icon not in (None, carried_game)
          and file_or_none("uninstall.exe") == read(setup_exe), f"with room to spare: installed ({need} bytes)")

    # The CD's data and music are weighed before anything is written: 1 MiB too little is refused.
    _, report, _ = discinfo(iso)
    data = int(report_value(report, "total") or 0)
    if mount(data - 1024 * KIB):
        rc, log = install()
        check(rc == 1 and log[-1:] and log[-1].startswith("ERROR: not enough free space on T:\\dv: the game needs ")
              and not os.path.exists(target), f"1 MiB less than the CD's {data} bytes: refused before writing ({log[-1:]})")

    # From a little more than the install needs down to half of it, in 64 KiB steps at the end,
    # where the game executable's icon and the uninstaller are written, then in larger ones.
    sizes = [need + 64 * KIB] + [need - k * 64 * KIB for k in range(1, 40)] + [need * 3 // 4, need // 2, need // 8]
    # CD.DAT (one page of tmpfs) is written just before the two programs: 4 KiB steps where the room
    # runs out at the last files of game\hd, at CD.DAT and at the game executable.
    pages = lambda b: -(-len(b) // (4 * KIB)) * 4 * KIB
    before_programs = need - pages(with_icon) - pages(read(setup_exe))
    sizes += [before_programs + k * 4 * KIB for k in range(-3, 3)]
    outcomes = {}
    for size in sizes:
        if not mount(size):
            check(False, f"a tmpfs of {size} bytes is mounted")
            continue
        rc, log = install()
        game, uninstaller = file_or_none("drovenhelm.exe"), file_or_none("uninstall.exe")
        what = f"{size // KIB} KiB: exit {rc}, log ends {log[-2:]}"
        if rc is None:
            check(False, f"{what}: ended within 30 s")
            continue
        whole_programs = game in (None, carried_game, with_icon) and uninstaller in (None, read(setup_exe))
        sizes_seen = ", ".join(f"{n} {'absent' if b is None else len(b)}" for n, b in
                               (("game", game), ("uninstaller", uninstaller)))
        check(whole_programs, f"{what}: no cut program ({sizes_seen})")
        if rc == 0:
            ok = log[-1:] == ["Done."] and game is not None
            kind = "Done." + (" without the icon" if game == carried_game else "") + \
                   (" without the uninstaller" if uninstaller is None else "")
        elif log[-1:] and log[-1].startswith("ERROR: not enough free space on T:\\dv: "):
            ok = rc == 1 and not os.path.exists(target)  # refused before anything was written
            kind = "ERROR: not enough free space"
        else:
            # An ERROR line comes last, after a line that names the file that could not be written and
            # just after the system's reason.
            named = [l for l in log if l.startswith(("cannot write T:", "write failed: T:", "ERROR: cannot write T:"))]
            ok = rc == 1 and named != [] and log[-2:-1] == [REASON_DISK_FULL] and log[-1].startswith("ERROR: ")
            kind = log[-1].replace("T:\\dv\\", "") if log else "no log"
        check(ok, f"{what}: {kind}")
        outcomes[kind] = outcomes.get(kind, 0) + 1
    print("outcomes:", outcomes)
    # The room at the end must have run out at each late stage at least once, or the sizes miss them.
    for kind in ("Done.", "without the icon", "without the uninstaller", "ERROR: not enough free space",
                 "ERROR: cannot write game\\hd\\CD.DAT", "ERROR: cannot write drovenhelm.exe"):
        check(any(kind in k for k in outcomes), f"some run ended: {kind}")
finally:
    if os.path.lexists(drive):
        os.remove(drive)
    if os.path.ismount(mnt):
        subprocess.run(["umount", mnt])
    shutil.rmtree(mnt, ignore_errors=True)
check.finish()
