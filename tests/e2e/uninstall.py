"""The uninstaller under Wine, from a silent install to Wine's next start (its "restart"):
  uninstall.py quiet     both stages with "/quiet", one named scenario after another: what goes, what
                         must stay (the targets of links, links planted at our names, a file of the
                         user's, a folder that holds no installation, another installation's entry and
                         shortcuts), the game running, two uninstalls at once, the command line of
                         stage 2 and the delete-at-restart record of its own file
  uninstall.py prompts   stage 1's question (No, then Yes), stage 2's final message, a second uninstall
                         while one runs, and the game running (Retry), answered with xdotool; exits 77
                         without a display
Everything runs in the throw-away prefix that setup_modes.py uses (no CD-ROM drive; both tests hold the
lock setup_state): the delete-at-restart record can only be read once the session has ended and before
any other program of the prefix starts, which the shared test prefix cannot promise under ctest -j2.
Wine 8 knows no junctions (FSCTL_SET_REPARSE_POINT fails) and CreateSymbolicLinkA creates nothing, so
the folder links here are Unix symbolic links inside drive_c, which Wine shows as folders with the
reparse point attribute. A Unix link to a file looks like a plain file, and Wine's DeleteFileA then
deletes its target: the uninstaller asks, through an opened handle, where each file really lies, and
deletes through that handle (I, K)."""
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.environ["TOOLS"])
from wine_tools import *  # noqa: E402,F403

mode = sys.argv[1]
if mode == "prompts" and not os.environ.get("DISPLAY"):
    print("no DISPLAY: the message boxes cannot be answered")
    raise SystemExit(77)

check = Checks()
SPARE = os.path.join(os.path.dirname(PREFIX), "wineprefix-nocd")
env = dict(os.environ, WINEPREFIX=SPARE)
C = os.path.join(SPARE, "drive_c")
work = os.path.join(C, "dvun")
setup_exe = os.path.join(BIN, "drovenhelm_setup.exe")
iso = winpath(os.path.join(TESTDATA, "gamecd", "gamecd.iso"))
SESSION_MANAGER = r"HKLM\System\CurrentControlSet\Control\Session Manager"
KEY_SECTION = "[" + UNINSTALL_KEY.split("\\", 1)[1].replace("\\", "\\\\") + "]"


def wine(*args, cwd=None, debug=None, timeout=300):
    """A program in the spare prefix, started from the work folder unless said otherwise."""
    return run_exe(*args, env=dict(env, WINEDEBUG=debug) if debug else env, cwd=cwd or work, timeout=timeout)


def end_session():
    """Waits for every program of the prefix, stage 2 included; the session ends and writes its registry."""
    if subprocess.run(["timeout", "120", "wineserver", "-w"], env=env).returncode != 0:
        subprocess.run(["wineserver", "-k"], env=env)
        check(False, "the session ended within 120 s")


def temp_copy():
    user = os.path.basename(user_dir(SPARE))
    return os.path.join(user_dir(SPARE), "Temp", "drovenhelm_uninstall.exe"), \
        f"C:\\users\\{user}\\Temp\\drovenhelm_uninstall.exe"


def write(path, data=b"data"):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def listing(root):
    """{relative path: 'dir', 'link -> target' or the file's sha1}; links are not followed."""
    out = {}
    for here, dirs, files in os.walk(root):
        for n in dirs + files:
            p = os.path.join(here, n)
            rel = os.path.relpath(p, root).replace(os.sep, "/")
            if os.path.islink(p):
                out[rel] = "link -> " + os.readlink(p)
            elif os.path.isdir(p):
                out[rel] = "dir"
            else:
                out[rel] = hashlib.sha1(read(p)).hexdigest()
    return out


def key_in_user_reg():
    """Whether the installation's key is in user.reg; valid once the session has ended."""
    return KEY_SECTION in read(os.path.join(SPARE, "user.reg")).decode("latin-1")


def pending_renames():
    """The (source, destination) pairs of PendingFileRenameOperations in system.reg, or [] without it."""
    text = read(os.path.join(SPARE, "system.reg")).decode("latin-1")
    m = re.search(r'^"PendingFileRenameOperations"=str\(7\):"(.*)"$', text, re.M)
    if not m:
        return []
    value = re.sub(r"\\(.)", lambda g: "\0" if g.group(1) == "0" else g.group(1), m.group(1))
    names = value.split("\0")
    return [(names[i], names[i + 1]) for i in range(0, len(names) - 1, 2) if names[i]]


def stage2_command(trace):
    """Stage 2's command line as Wine's process channel shows it."""
    for line in trace.splitlines():
        m = re.search(r'CreateProcessInternalW app \(null\) cmdline L"(.*)"$', line)
        if m and "drovenhelm_uninstall.exe" in m.group(1):
            return re.sub(r"\\(.)", r"\1", m.group(1))
    return None


def differences(a, b):
    """Nothing when a equals b, else a new line and the differences."""
    return "" if a == b else "\n" + diff(a, b, "before", "after")


def install(name):
    rc, _, _ = wine(setup_exe, "/silent", "/cd", iso, "/dir", "C:\\dvun\\" + name)
    folder = os.path.join(work, name)
    ok = rc == 0 and os.path.exists(os.path.join(folder, "uninstall.exe")) and all(os.path.exists(l) for l in shortcut_files(SPARE))
    check(ok, f"{name}: installed, with both shortcuts")
    return folder


def registration_gone(what):
    check(not key_in_user_reg(), f"{what}: the registry entry is gone")
    check(not any(os.path.exists(l) for l in shortcut_files(SPARE)), f"{what}: both shortcuts are gone")


def new_session_deletes_copy(what):
    """Wine's restart is the start of the next session: the marked copy goes then."""
    copy, _ = temp_copy()
    wine("cmd", "/c", "exit")
    end_session()
    check(not os.path.exists(copy) and pending_renames() == [], f"{what}: the next session deleted the copy")


def whole_installation():
    copy, copy_w = temp_copy()
    # A: the whole installation goes, and the copy in the temporary folder is marked for deletion.
    main = install("main")
    game = os.path.join(main, "game")
    for here, _, files in os.walk(os.path.join(game, "cd")):
        for f in files:
            os.chmod(os.path.join(here, f), 0o444)  # read-only, as files copied from a CD are
    write(os.path.join(game, "..x"))
    write(os.path.join(game, "hd", "..saves", "slot1.sav"))
    write(os.path.join(game, "hd", "rhs.dat"))
    rhs = "C:\\dvun\\main\\game\\hd\\rhs.dat"
    _, out, _ = wine("cmd", "/c", f"attrib +r {rhs} & attrib +h {rhs} & attrib +s {rhs} & attrib {rhs}")
    flags = out.strip().split("C:\\")[0]
    check(set("RHS") <= set(flags), f"A: a read-only, hidden and system file in game\\hd ({out.strip()})")
    rc, _, trace = wine("C:\\dvun\\main\\uninstall.exe", "/uninstall", "/quiet", cwd=main, debug="+process")
    end_session()
    check(rc == 0, "A: stage 1 exits with 0")
    cmd = stage2_command(trace)
    check(cmd == f'"{copy_w}" /uninstall2 "C:\\dvun\\main" /quiet', f"A: stage 2's command line: {cmd}")
    check(not os.path.exists(main), f"A: the install folder is gone: {listing(main) if os.path.exists(main) else ''}")
    registration_gone("A")
    check(os.path.exists(copy) and read(copy) == read(setup_exe), "A: the copy in the temporary folder is the setup")
    pending = pending_renames()
    check(pending == [("\\??\\" + copy_w, "")], f"A: the copy is marked for deletion at restart: {pending}")
    new_session_deletes_copy("A")
    check(reg_query_spare() is None, "A: reg query finds no entry")


def folder_links():
    # B: a folder link inside the game folder is never entered: what it points to stays untouched,
    # an empty folder included. Wine cannot remove such a link (removing it would remove its target
    # when empty), so it stays, and with it its parent folders. A file of the user's keeps the
    # install folder too.
    folder = install("links")
    outside = os.path.join(work, "outside")
    write(os.path.join(outside, "data.txt"), b"user data")
    write(os.path.join(outside, "sub", "more.txt"), b"more")
    os.makedirs(os.path.join(work, "outside-empty"))
    os.symlink(outside, os.path.join(folder, "game", "cd", "linked-folder"))
    os.symlink(os.path.join(work, "outside-empty"), os.path.join(folder, "game", "linked-empty"))
    write(os.path.join(folder, "notes.txt"), b"mine")
    before = listing(work)
    rc, _, _ = wine("C:\\dvun\\links\\uninstall.exe", "/uninstall", "/quiet")
    end_session()
    kept = {k: v for k, v in before.items() if k.startswith("outside")}
    after = {k: v for k, v in listing(work).items() if k.startswith("outside")}
    check(rc == 0 and after == kept,
          f"B: the links' targets are untouched, the empty one included{differences(kept, after)}")
    left = listing(folder)
    want = {"notes.txt": before["links/notes.txt"], "game": "dir", "game/cd": "dir",
            "game/cd/linked-folder": "link -> " + outside,
            "game/linked-empty": "link -> " + os.path.join(work, "outside-empty")}
    check(left == want, f"B: only the user's file and the folder links stay{differences(want, left)}")
    registration_gone("B")


def game_folder_link():
    # C: a game folder that is itself a link is not entered.
    folder = install("gamelink")
    data = os.path.join(work, "gamelink-data")
    os.rename(os.path.join(folder, "game"), data)
    os.symlink(data, os.path.join(folder, "game"))
    before = listing(data)
    rc, _, _ = wine("C:\\dvun\\gamelink\\uninstall.exe", "/uninstall", "/quiet")
    end_session()
    after = listing(data)
    check(rc == 0 and after == before and "hd/CD.DAT" in before,
          f"C: the folder that the game link points to is untouched{differences(before, after)}")
    check(listing(folder) == {"game": "link -> " + data}, f"C: the named files are gone: {listing(folder)}")


def downloads_folder():
    # D: the setup started with "/uninstall" from a Downloads folder: not an installation, so nothing
    # goes, neither there nor the shortcuts and the registry entry of the installation elsewhere.
    downloads = os.path.join(work, "Downloads")
    os.makedirs(downloads)
    shutil.copy(setup_exe, os.path.join(downloads, "drovenhelm_setup.exe"))
    write(os.path.join(downloads, "game", "save1.sav"), b"another game's save")
    write(os.path.join(downloads, "game", "hd", "readme.txt"))
    write(os.path.join(downloads, "setup.log"), b"another program's log")
    register()
    before = listing(downloads)
    rc, _, _ = wine("C:\\dvun\\Downloads\\drovenhelm_setup.exe", "/uninstall", "/quiet", cwd=downloads)
    end_session()
    after = listing(downloads)
    check(rc == 0 and after == before, f"D: nothing in the Downloads folder goes{differences(before, after)}")
    check(key_in_user_reg() and all(os.path.exists(l) for l in shortcut_files(SPARE)),
          "D: the registry entry and both shortcuts stay")


def drive_root():
    _, copy_w = temp_copy()
    # E: an empty folder for stage 2 removes nothing on disk, neither the current folder's nor the
    # current drive's root's installation.
    root_layout = ["game/hd/CD.DAT", "game/save/slot1.sav", "drovenhelm.exe", "setup.log"]
    cwd = os.path.join(work, "cwd")
    for base in (C, cwd):
        for f in root_layout:
            write(os.path.join(base, f))
    shutil.copy(setup_exe, os.path.join(C, "uninstall.exe"))
    root_before = {f: os.path.exists(os.path.join(C, f)) for f in root_layout + ["uninstall.exe"]}
    cwd_before = listing(cwd)
    rc = stage2("", cwd)
    check(rc == 1 and all(os.path.exists(os.path.join(C, f)) for f in root_before) and listing(cwd) == cwd_before,
          f"E: stage 2 with an empty folder removes nothing and exits with 1 ({rc})")

    # F: an installation in a drive root: stage 1 hands on "C:\", not "C:" (drive C's current folder).
    rc, _, trace = wine("C:\\uninstall.exe", "/uninstall", "/quiet", cwd=cwd, debug="+process")
    end_session()
    cmd = stage2_command(trace)
    check(cmd == f'"{copy_w}" /uninstall2 "C:\\\\" /quiet', f"F: stage 2 gets the root with its backslash: {cmd}")
    left = [f for f in root_before if os.path.exists(os.path.join(C, f))]
    check(rc == 0 and left == [] and not os.path.exists(os.path.join(C, "game")),
          f"F: the root's installation is gone (left: {left})")
    check(listing(cwd) == cwd_before, "F: the current folder's look-alike stays")


def stage2_by_hand():
    # G: a relative folder is taken from the folder that stage 2 was started in.
    write(os.path.join(work, "rel", "drovenhelm.exe"))
    write(os.path.join(work, "rel", "game", "hd", "CD.DAT"))
    rc = stage2("rel", work)
    check(rc == 0 and not os.path.exists(os.path.join(work, "rel")), "G: a relative folder is removed")
    # H: stage 2 started by hand, from a file that is not stage 1's temporary copy, leaves that file
    # alone at the next restart.
    marked = [src for src, _ in pending_renames() if src.lower().endswith("\\stage2\\drovenhelm_setup.exe")]
    check(marked == [] and os.path.exists(os.path.join(C, "stage2", "drovenhelm_setup.exe")),
          f"H: the file stage 2 was started from by hand is not marked for deletion: {marked}")


def planted_names():
    # I: names planted in the installed tree that lead out of it: a Unix link to a file outside (Wine
    # shows it as a plain file) and a folder whose Unix name "..\..\..\Victim" reads as a path to
    # C:\dvun\Victim. Neither is followed; both stay, and with them their folders.
    folder = install("planted")
    victim = os.path.join(work, "Victim")
    write(os.path.join(victim, "precious.txt"), b"precious")
    write(os.path.join(work, "linked.txt"), b"linked")
    hd = os.path.join(folder, "game", "hd")
    os.symlink(os.path.join(work, "linked.txt"), os.path.join(hd, "file_link"))
    write(os.path.join(hd, "..\\..\\..\\Victim", "inside.txt"), b"planted")
    outside_before = {k: v for k, v in listing(work).items() if k.startswith(("Victim", "linked.txt"))}
    rc, _, _ = wine("C:\\dvun\\planted\\uninstall.exe", "/uninstall", "/quiet")
    end_session()
    outside_after = {k: v for k, v in listing(work).items() if k.startswith(("Victim", "linked.txt"))}
    check(rc == 0 and outside_after == outside_before and "Victim/precious.txt" in outside_before,
          f"I: nothing outside the installation goes{differences(outside_before, outside_after)}")
    want = {"game": "dir", "game/hd": "dir", "game/hd/file_link": "link -> " + os.path.join(work, "linked.txt"),
            "game/hd/..\\..\\..\\Victim": "dir",
            "game/hd/..\\..\\..\\Victim/inside.txt": hashlib.sha1(b"planted").hexdigest()}
    left = listing(folder)
    check(left == want, f"I: only the planted names and their folders stay{differences(want, left)}")
    registration_gone("I")


def documents_folder():
    # J: an installation put straight into the Documents folder: everything of ours goes, the folder
    # itself stays. (A prefix whose Documents is linked to the home folder is not written into.)
    docs = os.path.join(user_dir(SPARE), "Documents")
    if os.path.islink(docs) or (os.path.isdir(docs) and os.listdir(docs)):
        print("J: skipped: the prefix's Documents folder is a link or not empty")
    else:
        docs_w = "C:\\users\\" + os.path.basename(user_dir(SPARE)) + "\\Documents"
        rc, _, _ = wine(setup_exe, "/silent", "/cd", iso, "/dir", docs_w)
        check(rc == 0 and os.path.exists(os.path.join(docs, "uninstall.exe")), "J: installed into Documents")
        rc, _, _ = wine(docs_w + "\\uninstall.exe", "/uninstall", "/quiet")
        end_session()
        check(rc == 0 and os.path.isdir(docs) and listing(docs) == {},
              f"J: the Documents folder stays, empty ({listing(docs) if os.path.isdir(docs) else 'gone'})")
        registration_gone("J")


def planted_links_at_our_names():
    # K: Unix links planted at the install folder's five names (relative and absolute) and at the
    # desktop shortcut's name, each to a file outside. Wine opens such a link as its target, which
    # then does not lie at our name: every link stays, and no file it points to changes.
    folder = install("plinks")
    outside = os.path.join(work, "plinks-outside")
    names = ["drovenhelm.exe", "uninstall.exe", "drovenhelm_pc.ini", "drovenhelm.log", "setup.log"]
    for i, name in enumerate(names):
        target = os.path.join(outside, name + ".victim")
        write(target, b"victim " + name.encode())
        if os.path.exists(os.path.join(folder, name)):
            os.remove(os.path.join(folder, name))
        os.symlink(os.path.relpath(target, folder) if i % 2 else target, os.path.join(folder, name))
    desktop = shortcut_files(SPARE)[1]
    victim_link = os.path.join(outside, "victim.lnk")  # a shortcut to this installation: it would be ours
    shutil.move(desktop, victim_link)
    os.symlink(victim_link, desktop)
    before = listing(outside)
    rc = stage2("C:\\dvun\\plinks", work)
    after = listing(outside)
    check(rc == 0 and after == before, f"K: no file that a planted link points to changes{differences(before, after)}")
    left = listing(folder)
    check(sorted(left) == sorted(names) and all(v.startswith("link -> ") for v in left.values()),
          f"K: the links stay, the rest goes: {sorted(left)}")
    check(os.path.islink(desktop) and not os.path.exists(shortcut_files(SPARE)[0]) and not key_in_user_reg(),
          "K: the desktop link stays; the Start-menu shortcut and the entry go")
    os.remove(desktop)


def other_installations():
    # L: D144, then U4 installed (the entry and both shortcuts are now U4's), and a backup copy of U4.
    # Uninstalling D144 or the backup leaves U4's entry, every value of it, and both shortcuts.
    d144, u4 = install("D144"), install("U4")
    backup = os.path.join(work, "Backup", "U4")
    shutil.copytree(u4, backup, symlinks=True)
    entry = reg_query_spare()
    links = [read(l) for l in shortcut_files(SPARE)]
    check(entry is not None and "C:\\dvun\\U4" in entry, "L: the entry is U4's")
    for name, folder, exe in (("D144", d144, "C:\\dvun\\D144\\uninstall.exe"),
                              ("the backup", backup, "C:\\dvun\\Backup\\U4\\uninstall.exe")):
        rc, _, _ = wine(exe, "/uninstall", "/quiet")
        end_session()
        check(rc == 0 and not os.path.exists(folder) and reg_query_spare() == entry
              and [read(l) if os.path.exists(l) else None for l in shortcut_files(SPARE)] == links,
              f"L: {name} is removed; U4's entry (all values) and both shortcuts stay")
    rc, _, _ = wine("C:\\dvun\\U4\\uninstall.exe", "/uninstall", "/quiet")
    end_session()
    check(rc == 0 and not os.path.exists(u4), "L: U4 is removed")
    registration_gone("L")


def start_game(folder_w):
    """The installed stand-in game, running with its window shown; None without a display."""
    if not os.environ.get("DISPLAY"):
        return None
    game = subprocess.Popen([WINE_RUN, folder_w + "\\drovenhelm.exe"], env=env, cwd=work, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["timeout", "30", "xdotool", "search", "--sync", "--onlyvisible", "--name", "^Drovenhelm$"],
                   capture_output=True)
    return game


def stop_game(game):
    wine("taskkill", "/f", "/im", "drovenhelm.exe")
    game.wait(timeout=60)


def game_running():
    # M: while the game runs, a quiet uninstall removes nothing and exits with 1; once it has ended,
    # the uninstall goes through.
    folder = install("running")
    game = start_game("C:\\dvun\\running")
    if game is None:
        print("M: skipped: the game needs a display to run")
        return
    before = listing(folder)
    exe = os.path.join(C, "stage2", "drovenhelm_setup.exe")
    os.makedirs(os.path.dirname(exe), exist_ok=True)
    shutil.copy(setup_exe, exe)
    # Not stage2(): its end of the session would wait for the game.
    rc, _, _ = wine("C:\\stage2\\drovenhelm_setup.exe", "/uninstall2", "C:\\dvun\\running", "/quiet")
    check(rc == 1 and listing(folder) == before and reg_query_spare() is not None
          and all(os.path.exists(l) for l in shortcut_files(SPARE)),
          f"M: with the game running nothing goes, exit code {rc}{differences(before, listing(folder))}")
    stop_game(game)
    rc = stage2("C:\\dvun\\running", work)
    check(rc == 0 and not os.path.exists(folder), f"M: once the game has ended it goes ({rc})")
    registration_gone("M")


def two_at_once():
    # N: two uninstalls of one installation started together: one removes it, the other changes
    # nothing (its stage 1 finds the first running, or its stage 2 finds nothing left).
    folder = install("twice")
    exe = "C:\\dvun\\twice\\uninstall.exe"
    both = [subprocess.Popen([WINE_RUN, exe, "/uninstall", "/quiet"], env=env, cwd=work, stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL) for _ in range(2)]
    codes = sorted(p.wait(timeout=120) for p in both)
    end_session()
    check(codes in ([0, 1], [0, 0]) and not os.path.exists(folder),
          f"N: the installation is removed once, no uninstall.exe left (stage 1 exit codes {codes})")
    registration_gone("N")


def quiet_runs():
    copy, _ = temp_copy()
    if os.path.exists(copy):
        os.remove(copy)
    for scenario in (whole_installation, folder_links, game_folder_link, downloads_folder, drive_root, stage2_by_hand,
                     planted_names, documents_folder, planted_links_at_our_names, other_installations, game_running,
                     two_at_once):
        scenario()

def stage2(folder, cwd):
    """Stage 2 started directly, from a copy of the setup outside the temporary folder."""
    exe = os.path.join(C, "stage2", "drovenhelm_setup.exe")
    os.makedirs(os.path.dirname(exe), exist_ok=True)
    shutil.copy(setup_exe, exe)
    rc, _, _ = wine("C:\\stage2\\drovenhelm_setup.exe", "/uninstall2", folder, "/quiet", cwd=cwd)
    end_session()
    return rc


def reg_query_spare():
    rc, out, _ = wine("reg", "query", UNINSTALL_KEY)
    return out if rc == 0 else None


def register():
    """The registry entry and both shortcut files, as an install leaves them."""
    wine("reg", "add", UNINSTALL_KEY, "/v", "DisplayName", "/d", "Drovenhelm (Vessik)", "/f")
    for l in shortcut_files(SPARE):
        write(l, b"link")


def find_box(want=""):
    """The visible message box of the uninstaller whose program's command line holds want, and that
    command line; (None, None) when none shows within 30 s."""
    for _ in range(60):
        ids = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Drovenhelm uninstall$"],
                             capture_output=True, text=True).stdout.split()
        for box in ids:
            pid = subprocess.run(["xdotool", "getwindowpid", box], capture_output=True, text=True).stdout.strip()
            try:
                owner = read(f"/proc/{pid}/cmdline").decode("latin-1").replace("\0", " ").strip()
            except OSError:
                continue
            if want in owner:
                return box, owner
        time.sleep(0.5)
    return None, None


def box_texts():
    """The texts of the message boxes on the screen, read by the window test's driver."""
    rc, out, _ = wine(os.path.join(os.environ["TEST_BIN"], "window_driver.exe"), "boxes")
    return [b["text"] for b in json.loads(out)] if rc == 0 else []


def answer(box, key):
    """Focuses the box, which another test's window may have taken, then types the key. Keys sent to
    the window itself (key --window) sometimes closed the next box too, so the focus is set instead."""
    if box is not None:
        subprocess.run(["xdotool", "windowfocus", box])
        subprocess.run(["xdotool", "key", key])


def start_stage1(exe):
    return subprocess.Popen([WINE_RUN, exe, "/uninstall"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, env=env, cwd=work)


def finish(p):
    """Stage 1's exit code once its box has been answered; None when it had to be ended."""
    try:
        return p.wait(timeout=60)
    except subprocess.TimeoutExpired:
        p.kill()
        p.wait()
        return None


def prompt_runs():
    copy, _ = temp_copy()
    if os.path.exists(copy):
        os.remove(copy)
    folder = install("ask")
    before = listing(folder)

    # An uninstaller still asking (here from the temporary folder) holds the one uninstall of the
    # user's: a second stage 1 starts nothing, though the asking one would remove the installation.
    shutil.copy(setup_exe, copy)
    p = start_stage1(temp_copy()[1])
    box, owner = find_box()
    rc, _, _ = wine("C:\\dvun\\ask\\uninstall.exe", "/uninstall", "/quiet")
    answer(box, "n")
    finish(p)
    end_session()  # a stage 2 started by mistake would have ended too
    check(owner is not None and "drovenhelm_uninstall.exe /uninstall" in owner and rc == 1 and listing(folder) == before
          and key_in_user_reg() and all(os.path.exists(l) for l in shortcut_files(SPARE)),
          f"a second uninstall while one asks starts nothing, exit code {rc} ({owner})")
    os.remove(copy)

    # No: nothing changes.
    p = start_stage1("C:\\dvun\\ask\\uninstall.exe")
    box, owner = find_box()
    check(box is not None and owner is not None and "/uninstall" in owner and "uninstall2" not in owner,
          f"the question is stage 1's: {owner}")
    answer(box, "n")
    rc = finish(p)
    end_session()  # a stage 2 started by mistake would have ended too
    check(rc == 0, f"No: stage 1 exits with 0 ({rc})")
    check(listing(folder) == before and reg_query_spare() is not None and all(os.path.exists(l) for l in shortcut_files(SPARE))
          and not os.path.exists(copy), "No: nothing has changed, and no copy was made")

    # Yes (the default button): stage 2 has removed everything by the time it reports.
    p = start_stage1("C:\\dvun\\ask\\uninstall.exe")
    box, owner = find_box()
    answer(box, "Return")
    rc = finish(p)
    check(rc == 0, f"Yes: stage 1 exits with 0 ({rc})")
    box, owner = find_box()
    check(box is not None and owner is not None and "drovenhelm_uninstall.exe /uninstall2 C:\\dvun\\ask" in owner,
          f"the final message is stage 2's: {owner}")
    check(not os.path.exists(folder) and reg_query_spare() is None and not any(os.path.exists(l) for l in shortcut_files(SPARE)),
          "the final message comes after the removal")
    # The session runs on, so the registry can still be asked without starting Wine's restart.
    rc, _, _ = wine("reg", "query", SESSION_MANAGER, "/v", "PendingFileRenameOperations")
    check(rc != 0, "the copy is not yet marked while the message shows")
    answer(box, "Return")
    end_session()
    check(pending_renames() == [("\\??\\" + temp_copy()[1], "")], "the copy is marked for deletion after the message")
    new_session_deletes_copy("prompts")
    foreign_folder()
    what_remains()
    two_uninstalls()
    game_running_retry()


def uninstall_with_yes(name):
    """Stage 1 of an installation answered Yes; stage 2's final box and its text."""
    p = start_stage1(f"C:\\dvun\\{name}\\uninstall.exe")
    box, _ = find_box(f"{name}\\uninstall.exe /uninstall")
    answer(box, "Return")
    rc = finish(p)
    box, _ = find_box(f"/uninstall2 C:\\dvun\\{name}")
    return rc, box, box_texts()


def foreign_folder():
    """The uninstaller copied into a folder that holds no installation and run there: it says so,
    and the installation elsewhere, its registry entry and its shortcuts all stay."""
    folder = install("real")
    real_before = listing(folder)
    foreign = os.path.join(work, "foreign")
    os.makedirs(foreign)
    shutil.copy(os.path.join(folder, "uninstall.exe"), os.path.join(foreign, "uninstall.exe"))
    write(os.path.join(foreign, "game", "notes.txt"), b"not ours")
    foreign_before = listing(foreign)
    rc, box, texts = uninstall_with_yes("foreign")
    check("No Drovenhelm installation was found in C:\\dvun\\foreign." in texts,
          f"a foreign folder: the final box says no installation was found ({texts})")
    answer(box, "Return")
    end_session()
    check(rc == 0 and listing(foreign) == foreign_before and listing(folder) == real_before and key_in_user_reg()
          and all(os.path.exists(l) for l in shortcut_files(SPARE)),
          "a foreign folder: nothing there goes, and the real installation, its entry and its links stay")


def what_remains():
    """The final box says whether something of ours is left; the user's own files are not ours."""
    folder = install("held")
    tool = os.path.join(folder, "game", "hd", "tool.exe")  # a program of the game's, running
    shutil.copy(setup_exe, tool)
    running = subprocess.Popen([WINE_RUN, "C:\\dvun\\held\\game\\hd\\tool.exe"], env=env, cwd=work,
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["timeout", "30", "xdotool", "search", "--sync", "--onlyvisible", "--name", "Vessik Setup"],
                   capture_output=True)
    rc, box, texts = uninstall_with_yes("held")
    check(rc == 0 and "Drovenhelm could not be removed completely. Some of its files remain in C:\\dvun\\held."
          in texts, f"a file held open: the final box says what remains ({texts})")
    check(os.path.exists(tool) and not os.path.exists(os.path.join(folder, "uninstall.exe"))
          and reg_query_spare() is None and not any(os.path.exists(l) for l in shortcut_files(SPARE)),
          "a file held open: it stays, the rest, the registry entry and the shortcuts go")
    answer(box, "Return")
    wine("taskkill", "/f", "/im", "tool.exe")
    finish(running)
    end_session()

    folder = install("own")
    write(os.path.join(folder, "notes.txt"), b"mine")
    rc, box, texts = uninstall_with_yes("own")
    check(rc == 0 and "Drovenhelm has been removed." in texts and listing(folder) == {"notes.txt": hashlib.sha1(
          b"mine").hexdigest()}, f"the user's own file: removed, and the file stays ({texts})")
    answer(box, "Return")
    end_session()


def two_uninstalls():
    """A second uninstall while the first asks or shows its final box says so and changes nothing."""
    already = "Drovenhelm is already being removed."
    for first, second, at_question in (("ra", "rb", True), ("rc", "rd", False)):
        install(first)
        folder = install(second)
        before = listing(folder)
        if at_question:
            p1 = start_stage1(f"C:\\dvun\\{first}\\uninstall.exe")
            first_box, _ = find_box(f"{first}\\uninstall.exe /uninstall")
        else:
            _, first_box, _ = uninstall_with_yes(first)
        p = start_stage1(f"C:\\dvun\\{second}\\uninstall.exe")
        box, _ = find_box(f"{second}\\uninstall.exe /uninstall")
        texts = box_texts()
        answer(box, "Return")
        rc = finish(p)
        check(rc == 1 and already in texts and listing(folder) == before,
              f"{'the first asking' if at_question else 'the first reporting'}: the second says \"{already}\", "
              f"exit code {rc}, {second} intact ({texts}){differences(before, listing(folder))}")
        answer(first_box, "Return")
        if at_question:
            finish(p1)
            box, _ = find_box(f"/uninstall2 C:\\dvun\\{first}")
            answer(box, "Return")
        end_session()


def game_running_retry():
    """The game running: stage 2 asks to close it; closed, Retry removes the installation."""
    folder = install("retry")
    game = start_game("C:\\dvun\\retry")
    p = start_stage1("C:\\dvun\\retry\\uninstall.exe")
    box, _ = find_box("retry\\uninstall.exe /uninstall")
    answer(box, "Return")
    finish(p)
    box, _ = find_box("/uninstall2 C:\\dvun\\retry")
    texts = box_texts()
    check("Drovenhelm is running. Close the game, then press Retry." in texts and os.path.exists(folder),
          f"the game running: stage 2 asks to close it, nothing gone yet ({texts})")
    stop_game(game)
    answer(box, "Return")  # Retry, the default button
    box, _ = find_box("/uninstall2 C:\\dvun\\retry")
    texts = box_texts()
    check("Drovenhelm has been removed." in texts and not os.path.exists(folder),
          f"the game closed, Retry: removed ({texts})")
    answer(box, "Return")
    end_session()


wine("cmd", "/c", "exit", cwd=os.path.dirname(SPARE))  # makes the prefix on first use
end_session()
shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
try:
    if mode == "quiet":
        quiet_runs()
    else:
        prompt_runs()
finally:
    subprocess.run(["wineserver", "-k"], env=env, capture_output=True)
    shutil.rmtree(work, ignore_errors=True)
    for d in ("game", "stage2"):
        shutil.rmtree(os.path.join(C, d), ignore_errors=True)
    for f in ("drovenhelm.exe", "setup.log", "uninstall.exe"):
        if os.path.exists(os.path.join(C, f)):
            os.remove(os.path.join(C, f))
check.finish()
