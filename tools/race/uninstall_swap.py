"""How often a folder swapped for a link while the uninstaller works costs files outside the
installation. Run by hand; it prints figures and checks nothing:

  python3 tools/race/uninstall_swap.py [--setup EXE] [--rounds 10] [--files 3000]

Each round lays out an installation (drovenhelm.exe, game\\hd\\CD.DAT and game\\hd\\saves with FILES
files) and a victim folder with as many files beside it, in a Wine prefix of its own (build/race).
While stage 2 removes the installation (/uninstall2 ... /quiet), a Linux thread swaps game\\hd\\saves
with a link to the victim folder over and over (renameat2 RENAME_EXCHANGE), and the round counts the
victim's files that are gone. The uninstaller checks every object through the handle it deletes
it with; on Windows that handle is the object, but Wine unlinks by the name the handle was opened
with when it closes, so a swap between the open and the close can still cost a file there."""
import argparse
import ctypes
import os
import shutil
import subprocess
import threading

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
RENAME_EXCHANGE, AT_FDCWD, SYS_RENAMEAT2 = 2, -100, 316  # x86_64
libc = ctypes.CDLL(None, use_errno=True)


def exchange(a, b):
    return libc.syscall(SYS_RENAMEAT2, AT_FDCWD, a.encode(), AT_FDCWD, b.encode(), RENAME_EXCHANGE) == 0


def fill(folder, count, tag):
    os.makedirs(folder, exist_ok=True)
    for i in range(count):
        with open(os.path.join(folder, f"{tag}{i:05}.sav"), "wb") as f:
            f.write(b"x")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--setup", default=os.path.join(TOP, "build", "bin", "drovenhelm_setup.exe"))
    ap.add_argument("--rounds", type=int, default=10)
    ap.add_argument("--files", type=int, default=3000)
    a = ap.parse_args()
    prefix = os.path.join(TOP, "build", "race", "wineprefix")
    env = dict(os.environ, WINEPREFIX=prefix)
    run = os.path.join(TOP, "cmake", "wine-run.sh")
    subprocess.run([run, "cmd", "/c", "exit"], env=env, capture_output=True)
    work = os.path.join(prefix, "drive_c", "race")
    exe = os.path.join(prefix, "drive_c", "race-setup.exe")
    shutil.copy(a.setup, exe)
    lost = []
    for r in range(a.rounds):
        shutil.rmtree(work, ignore_errors=True)
        hd = os.path.join(work, "DH", "game", "hd")
        fill(os.path.join(hd, "saves"), a.files, "s")
        with open(os.path.join(hd, "CD.DAT"), "wb") as f:
            f.write(b"D:\\\r\n")
        shutil.copy(a.setup, os.path.join(work, "DH", "drovenhelm.exe"))
        victim = os.path.join(work, "victim")
        fill(victim, a.files, "s")  # the same names as the saved games: the worst case
        os.symlink(victim, os.path.join(hd, "saves-swap"))
        stop = threading.Event()

        def swap():
            while not stop.is_set():
                exchange(os.path.join(hd, "saves"), os.path.join(hd, "saves-swap"))

        t = threading.Thread(target=swap)
        t.start()
        rc = subprocess.run([run, exe, "/uninstall2", "C:\\race\\DH", "/quiet"], env=env, capture_output=True,
                            timeout=600).returncode
        stop.set()
        t.join()
        subprocess.run(["wineserver", "-w"], env=env)
        gone = a.files - len(os.listdir(victim))
        lost.append(gone)
        print(f"round {r + 1}: exit code {rc}, {gone} of the victim's {a.files} files gone", flush=True)
    print(f"{sum(1 for g in lost if g)} of {a.rounds} rounds lost files; {sum(lost)} files in all, "
          f"at most {max(lost)} in one round")
    shutil.rmtree(work, ignore_errors=True)


main()
