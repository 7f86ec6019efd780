"""Names that must never become files: crafted ISO names that Windows would take for devices, given
to the real setup under Wine with the prefix's COM1 device mapped to a file, so that a byte written
to the device shows. Every run must end within 30 s; nothing reaches the device."""
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.environ["TOOLS"])
from wine_tools import *  # noqa: E402,F403

check = Checks()
work = tempfile.mkdtemp(prefix="hostile-names-", dir=TESTDATA)
base = os.path.join(DRIVE_C, "dvhostile")
shutil.rmtree(base, ignore_errors=True)
gamecd = os.path.join(TESTDATA, "gamecd", "tree")
device_file = os.path.join(work, "com1-device")
open(device_file, "wb").close()
com1 = os.path.join(PREFIX, "dosdevices", "com1")
saved = os.readlink(com1) if os.path.islink(com1) else None


def silent(source, folder):
    try:
        rc, _, _ = run_exe("drovenhelm_setup.exe", "/silent", "/cd", winpath(source), "/dir", "C:\\dvhostile\\" + folder,
                           "/nodesktop", "/nostartmenu", timeout=30)
    except subprocess.TimeoutExpired:
        return None, []
    return rc, setup_log() or []


def crafted_iso(names):
    """The game CD as an ISO with extra files whose names are then overwritten, byte for byte, with
    the crafted ones (same length): genisoimage itself would refuse them."""
    tree = os.path.join(work, "tree")
    shutil.rmtree(tree, ignore_errors=True)
    shutil.copytree(gamecd, tree)
    stand_ins = {}
    for i, name in enumerate(names):
        stand = ("Q%d" % i).ljust(len(name), "Q")
        stand_ins[stand] = name
        with open(os.path.join(tree, stand), "wb") as f:
            f.write(b"must not reach a device\r\n")
    iso = os.path.join(work, "crafted.iso")
    subprocess.run(["genisoimage", "-quiet", "-l", "-iso-level", "4", "-o", iso, tree], check=True,
                   capture_output=True)
    data = bytearray(read(iso))
    for stand, name in stand_ins.items():
        at = data.find(stand.encode())
        assert at > 0, stand
        data[at:at + len(name)] = name.encode()
    with open(iso, "wb") as f:
        f.write(data)
    return iso


try:
    os.path.lexists(com1) and os.remove(com1)
    os.symlink(device_file, com1)
    # Device names with trailing blanks and dots, which the platform drops before it looks: one
    # crafted CD each, so that no name hides what another does.
    for k, name in enumerate(["COM1      ", "NUL       ", "com1.txt  ", "CONOUT$"]):
        iso = crafted_iso([name])
        _, listing, _ = discinfo(winpath(iso))
        listed = [l.split(" ", 2)[2] for l in listing.splitlines() if l.startswith("file ")]
        check(name not in listed, f"{name!r}: discinfo does not list it")
        rc, log = silent(iso, f"devices{k}")
        check(rc == 0 and log[-1:] == ["Done."], f"{name!r}: the install finishes ({rc}, {log[-1:]})")
        check(os.path.getsize(device_file) == 0, f"{name!r}: nothing reached COM1 ({os.path.getsize(device_file)} bytes)")
        folder = os.path.join(base, f"devices{k}", "game", "cd")
        copied = sorted(os.listdir(folder)) if os.path.isdir(folder) else []
        check(sorted(os.listdir(gamecd)) == copied, f"{name!r}: game\\cd holds the CD's own files only: {copied}")

    # A CD folder (as the drive R:) holding Unix names that Windows names could never be: one that
    # climbs out of the install folder, a device and a device with trailing blanks.
    folder = os.path.join(work, "cdfolder")
    shutil.copytree(gamecd, folder)
    planted = {"..\\..\\..\\..\\windows\\pwned.txt": b"escaped", "COM1": b"to the device", "NUL  ": b"lost",
               os.path.join("DATA", "..\\..\\up.txt"): b"escaped too"}
    for name, data in planted.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    drive = os.path.join(PREFIX, "dosdevices", "r:")
    os.path.lexists(drive) and os.remove(drive)
    os.symlink(folder, drive)
    try:
        rc, log = silent(folder, "folder")
        check(rc == 0 and log[-1:] == ["Done."], f"a folder with planted names installs within 30 s ({rc}, {log[-1:]})")
        check(not os.path.exists(os.path.join(DRIVE_C, "windows", "pwned.txt")), "nothing was written to C:\\windows")
        check(not any(n.endswith("up.txt") for n in os.listdir(base)) and not os.path.exists(os.path.join(base, "up.txt")),
              "nothing was written beside the install folder")
        check(os.path.getsize(device_file) == 0, f"nothing reached COM1 ({os.path.getsize(device_file)} bytes)")
        copied = sorted(os.listdir(os.path.join(base, "folder", "game", "cd")))
        check(copied == sorted(os.listdir(gamecd)), f"game\\cd holds the CD's own files only: {copied}")
        _, listing, _ = discinfo("R:\\")
        check(not any(x in listing for x in ("pwned", "COM1", "up.txt")), "discinfo lists none of the planted names")
    finally:
        os.remove(drive)
finally:
    if os.path.lexists(com1):
        os.remove(com1)
    if saved:
        os.symlink(saved, com1)
    shutil.rmtree(work, ignore_errors=True)
    shutil.rmtree(base, ignore_errors=True)
check.finish()
