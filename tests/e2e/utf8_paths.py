"""Paths in any script under the UTF-8 code page that the setup's manifest asks for, in a prefix of
its own whose user folder is "Łukasz 雷" (Wine names it after $USER when it makes the prefix), so that
the log, the temporary copy of the uninstaller and the shortcuts lie below a name outside code page
1252:
  folder_cd_install   "C:\\Диск" holding "Ü.DAT" into "C:\\Spiele\\Łódź 雷\\Drovenhelm": the tree, the
                      log as UTF-8, the registry entry (from the prefix's user.reg: `wine reg query`
                      prints in the console's code page), both shortcuts (shortcut_fields, which
                      carries the setup's manifest), then the uninstaller removes it all
  long_paths          paths of 200 such characters, more than the setup's 520 bytes: refused with an
                      ERROR line, no log line cut inside a character, nothing written elsewhere
  names_in_code_page_1252
                      an ISO 9660 name and a cue sheet's FILE name holding the byte 0xF1 ("ñ" in code
                      page 1252) install, and give the names that discinfo (the system's code page,
                      as every program had before the manifest) gives
  window_texts        (with a display) the window's fields, a folder typed in that is too long in
                      bytes, and its list of log lines
Every argument reaches Wine as UTF-8 (LC_ALL=C.UTF-8)."""
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys

sys.path.insert(0, os.environ["TOOLS"])
from wine_tools import *  # noqa: E402,F403

check = Checks()
USER_NAME = "Łukasz 雷"
SPARE = os.path.join(os.path.dirname(PREFIX), "wineprefix-utf8")
env = dict(os.environ, WINEPREFIX=SPARE, USER=USER_NAME, LOGNAME=USER_NAME, LC_ALL="C.UTF-8")
C = os.path.join(SPARE, "drive_c")
setup_exe = os.path.join(BIN, "drovenhelm_setup.exe")
gamecd = os.path.join(TESTDATA, "gamecd")
KEY_SECTION = "[" + UNINSTALL_KEY.split("\\", 1)[1].replace("\\", "\\\\") + "]"


def wine(*args, timeout=300):
    """A program in the spare prefix: (exit code, stdout bytes)."""
    ours = os.path.join(BIN, args[0])
    p = subprocess.run([WINE_RUN, ours if os.path.isfile(ours) else args[0], *args[1:]], stdin=subprocess.DEVNULL,
                       capture_output=True, env=env, timeout=timeout)
    return p.returncode, p.stdout.replace(b"\r", b"")


def end_session():
    """Waits for every program of the prefix (stage 2 of an uninstall too); the registry is written."""
    if subprocess.run(["timeout", "120", "wineserver", "-w"], env=env).returncode != 0:
        subprocess.run(["wineserver", "-k"], env=env)
        check(False, "the session ended within 120 s")


def win(path):
    """The Windows name of a path below drive_c."""
    return "C:\\" + os.path.relpath(path, C).replace(os.sep, "\\")


def log_lines():
    """The log's lines, or None when it is missing or is not UTF-8 throughout."""
    path = os.path.join(user_dir(SPARE), "Temp", "drovenhelm_setup.log")
    try:
        return read(path).decode("utf-8").replace("\r", "").splitlines()
    except (OSError, UnicodeDecodeError):
        return None


def silent(*args):
    log = os.path.join(user_dir(SPARE), "Temp", "drovenhelm_setup.log")
    if os.path.exists(log):
        os.remove(log)
    rc, _ = wine(setup_exe, "/silent", *args)
    return rc, log_lines()


def files_below(root):
    """{relative path: sha1 or None for a folder}, names exactly as on disk."""
    out = {}
    for here, dirs, files in os.walk(root):
        for d in dirs:
            out[os.path.relpath(os.path.join(here, d), root)] = None
        for f in files:
            out[os.path.relpath(os.path.join(here, f), root)] = hashlib.sha1(read(os.path.join(here, f))).hexdigest()
    return out


def user_reg_values():
    """The uninstall key's string values in the prefix's user.reg (valid once the session has ended),
    or None without the key. Wine writes the characters past ASCII as \\x and up to 4 hex digits."""
    text = read(os.path.join(SPARE, "user.reg")).decode("ascii", "replace")
    at = text.find(KEY_SECTION)
    if at < 0:
        return None
    body = text[at:].split("\n\n", 1)[0]
    unescape = lambda s: re.sub(r'\\x([0-9a-fA-F]{1,4})|\\(.)',
                                lambda m: chr(int(m.group(1), 16)) if m.group(1) else m.group(2), s)
    return {m.group(1): unescape(m.group(2)) for m in re.finditer(r'^"([^"]+)"="((?:[^"\\]|\\.)*)"$', body, re.M)}


def shortcut_fields(link):
    rc, out = wine(os.path.join(TEST_BIN, "shortcut_fields.exe"), win(link))
    return dict(l.split(": ", 1) for l in out.decode("utf-8", "replace").splitlines() if ": " in l) if rc == 0 else {}


def forget_install():
    wine("reg", "delete", UNINSTALL_KEY, "/f")
    for link in shortcut_files(SPARE):
        if os.path.exists(link):
            os.remove(link)


def folder_cd_install():
    cd = os.path.join(C, "Диск")
    shutil.copytree(os.path.join(gamecd, "tree"), cd)
    with open(os.path.join(cd, "Ü.DAT"), "wb") as f:
        f.write(b"\xdc in code page 1252, C3 9C in UTF-8\r\n")
    target_w = "C:\\Spiele\\Łódź 雷\\Drovenhelm"
    target = os.path.join(C, "Spiele", "Łódź 雷", "Drovenhelm")
    rc, log = silent("/cd", "C:\\Диск", "/dir", target_w)
    check(rc == 0 and log and log[-1] == "Done.", f"exit code 0 and Done. ({rc}, {(log or ['(no UTF-8 log)'])[-1:]})")
    check(log and f"Install to {target_w}" in log and "Copying folder C:\\Диск ..." in log,
          f"the log names both folders in UTF-8: {(log or [])[:6]}")
    check(sorted(os.listdir(target)) == ["drovenhelm.exe", "game", "uninstall.exe"], f"the install folder: {os.listdir(target)}")
    check(files_below(os.path.join(target, "game", "cd")) == files_below(cd), "game\\cd is the CD folder, names as they are")
    hd = files_below(os.path.join(target, "game", "hd"))
    want = {n: h for n, h in files_below(cd).items() if os.sep not in n and h and not n.lower().endswith(".avi")}
    want["CD.DAT"] = hashlib.sha1(b"D:\\\r\n").hexdigest()
    check(hd == want, f"game\\hd holds the root files, Ü.DAT among them, less the videos\n{diff(want, hd)}")
    check(read(os.path.join(target, "uninstall.exe")) == read(setup_exe), "uninstall.exe is the setup")

    end_session()
    values = user_reg_values() or {}
    got = {k: values.get(k) for k in ("InstallLocation", "UninstallString", "DisplayIcon")}
    want = {"InstallLocation": target_w, "UninstallString": f'"{target_w}\\uninstall.exe" /uninstall',
            "DisplayIcon": f"{target_w}\\drovenhelm.exe,0"}
    check(got == want, f"the registry entry in user.reg\n{diff(want, got, 'want', 'got')}")
    links = shortcut_files(SPARE)
    want = {"path": f"{target_w}\\drovenhelm.exe", "working directory": target_w, "description": "Drovenhelm",
            "icon": f"{target_w}\\drovenhelm.exe,0"}
    for link in links:
        got = shortcut_fields(link)
        check(got == want, f"{win(link)}: as IShellLinkA reads it\n{diff(want, got, 'want', 'got')}")

    rc, _ = wine(f"{target_w}\\uninstall.exe", "/uninstall", "/quiet")
    end_session()
    check(rc == 0 and not os.path.exists(target), f"the uninstaller removed the install folder ({rc})")
    check(os.listdir(os.path.join(C, "Spiele", "Łódź 雷")) == [], "the folder that held it stays, empty")
    check(user_reg_values() is None, "the registry entry is gone")
    check(not any(os.path.exists(l) for l in links), "both shortcuts are gone")


def outside(install_folder):
    """What lies outside an install folder that an install may not change: the user's folder, drive
    C's top level, and C:\\Spiele less the install folder and the folders that would hold it."""
    inside = os.path.join("Spiele", *install_folder[len("C:\\Spiele\\"):].split("\\"))
    spiele = {p: h for p, h in files_below(os.path.join(C, "Spiele")).items()
              if not (os.path.join("Spiele", p) + os.sep).startswith(inside + os.sep) and
              not (inside + os.sep).startswith(os.path.join("Spiele", p) + os.sep)}
    user = {p: h for p, h in files_below(user_dir(SPARE)).items() if p != os.path.join("Temp", "drovenhelm_setup.log")}
    return {"top": sorted(os.listdir(C)), "spiele": spiele, "user": user}


def long_paths():
    # 50 characters of 2.75 bytes each on average: a folder name of 138 bytes (Linux allows 255).
    name = ("雷雷雷Ł" * 13)[:50]
    three = "C:\\Spiele\\" + "\\".join([name] * 3)
    cases = [  # (what, install folder, the last log line when it is known beforehand)
        ("213 characters, 565 bytes", three + "\\" + name, "ERROR: cannot create the install folder"),
        ("505 bytes: the program's path would take 520", three + "\\" + "雷" * 26,
         "ERROR: the install folder's path is too long"),
        ("496 bytes: the paths of the CD's deeper files do not fit", three + "\\" + "雷" * 23,
         "ERROR: copying the CD failed"),
    ]
    cd = winpath(os.path.join(gamecd, "gamecd.iso"))
    for what, folder, last in cases:
        forget_install()
        before = outside(folder)
        rc, log = silent("/cd", cd, "/dir", folder)
        check(rc == 1 and log is not None and log[-1:] == [last],
              f"{what}: exit code 1 and {last!r}, every log line UTF-8 ({rc}, {(log or ['(no UTF-8 log)'])[-2:]})")
        if len(folder.encode()) >= 520:
            check(log and f"the path is too long: {folder}" in log, f"{what}: the refused path is named whole")
        after = outside(folder)
        check(after == before, f"{what}: nothing written outside the install folder\n{diff(before['spiele'], after['spiele'])}"
              f"{diff(before['user'], after['user'])} {before['top']} {after['top']}")
        check(not any(os.path.exists(l) for l in shortcut_files(SPARE)), f"{what}: no shortcut")
    shutil.rmtree(os.path.join(C, "Spiele", name), ignore_errors=True)


def names_in_code_page_1252():
    work = os.path.join(C, "Spiele", "enye")
    tree = os.path.join(work, "tree")
    shutil.copytree(os.path.join(gamecd, "tree"), tree)
    # genisoimage takes the name as it is; the one byte 0xF1 then replaces the stand-in's Q.
    with open(os.path.join(tree, "AQO.DAT"), "wb") as f:
        f.write(b"year\r\n")
    iso = os.path.join(work, "enye.iso")
    subprocess.run(["genisoimage", "-quiet", "-l", "-allow-multidot", "-V", "DROVENHELM", "-o", iso, tree], check=True,
                   capture_output=True)
    data = read(iso)
    assert data.count(b"AQO.DAT") == 1
    with open(iso, "wb") as f:
        f.write(data.replace(b"AQO.DAT", b"A\xf1O.DAT"))
    os.remove(os.path.join(tree, "AQO.DAT"))
    with open(os.path.join(tree, "AñO.DAT"), "wb") as f:
        f.write(b"year\r\n")

    sheet = os.path.join(work, "enye.cue")
    shutil.copy(os.path.join(gamecd, "gamecd.bin"), os.path.join(work, "españa.bin"))
    with open(sheet, "wb") as f:
        f.write(read(os.path.join(gamecd, "gamecd.cue")).replace(b'"GAMECD.BIN"', b'"espa\xf1a.bin"'))

    for form, source, audio in (("ISO 9660 name", iso, 0), ("cue FILE name", sheet, 2)):
        forget_install()
        target = os.path.join(work, "as-" + form.split()[0].lower())
        rc, log = silent("/cd", win(source), "/dir", win(target))
        check(rc == 0 and log and log[-1] == "Done.", f"{form} with 0xF1: installed ({rc}, {(log or [])[-2:]})")
        # The volumes hold the tree's names in capitals.
        copied = tree_digest(os.path.join(target, "game", "cd"))
        check(copied == tree_digest(tree if not audio else os.path.join(gamecd, "tree")),
              f"{form}: game\\cd holds the CD's tree{' and AñO.DAT' if not audio else ''}")
        if audio:
            check(log and f"CD music: {audio} tracks" in log, f"{form}: the music from españa.bin")
        else:
            check("AñO.DAT" in os.listdir(os.path.join(target, "game", "cd")), f"{form}: the name on disk is AñO.DAT")
            # The same disc as every program of the system's code page reads it: the same names.
            old = os.path.join(work, "discinfo-copy")
            rc, _ = wine("discinfo.exe", "--copy", win(old), win(source))
            check(rc == 0 and files_below(old) == files_below(os.path.join(target, "game", "cd")),
                  f"{form}: discinfo (code page 1252) copies the same tree")
    rc, out = wine("discinfo.exe", win(sheet))
    check(rc == 0 and f"file={win(work)}\\españa.bin".encode("cp1252") in out,
          f"discinfo (code page 1252) finds españa.bin through the sheet: {out[:300]}")


def window_texts():
    if not os.environ.get("DISPLAY"):
        print("no DISPLAY: the window is not tried")
        return
    driver = os.path.join(TEST_BIN, "window_driver.exe")  # it runs in the UTF-8 code page too

    def drv(*args):
        rc, out = wine(driver, *[str(a) for a in args], timeout=180)
        return rc, out.decode("utf-8", "replace")

    E_CD, E_DIR, STATUS, LIST, INSTALL, CLOSE, IDOK = 2, 6, 11, 12, 13, 14, 1
    target_w = "C:\\Spiele\\Łódź 雷\\Fenster"
    too_long = "C:\\Spiele\\" + "\\".join([("雷雷雷Ł" * 13)[:50]] * 4)
    temp = win(os.path.join(user_dir(SPARE), "Temp"))
    run = subprocess.Popen([WINE_RUN, driver, "run", temp, winpath(setup_exe), "/cd", "C:\\Диск", "/dir", target_w],
                           env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        check(drv("wait-window", 30000)[0] == 0, "the window opens")
        texts = lambda: [c["text"] for c in json.loads(drv("dump")[1])["controls"]]
        t = texts()
        check(t[E_CD] == "C:\\Диск" and t[E_DIR] == target_w, f"the fields show the paths of the command line: {t[E_CD:E_DIR + 1]}")
        # A folder typed in that fits the field in characters but not the setup in bytes: refused whole.
        drv("set", E_DIR, too_long)
        drv("click", INSTALL)
        rc, box = drv("box", 10000)
        check(rc == 0 and json.loads(box)["text"] == "Please choose the CD and the install folder.",
              f"a folder of {len(too_long.encode())} bytes is refused, not cut: {box[:200]}")
        drv("answer", IDOK)
        drv("box-gone", 5000)
        items = json.loads(drv("dump")[1])["controls"][LIST]["items"]
        check(f"the path is too long: {too_long}" in items, f"the list names it whole: {[i[:40] for i in items]}")
        drv("set", E_DIR, target_w)
        drv("click", INSTALL)
        check(drv("wait-text", STATUS, "Drovenhelm is installed.", 120000)[0] == 0, "the window installs")
        items = json.loads(drv("dump")[1])["controls"][LIST]["items"]
        check(f"Install to {target_w}" in items and "Copying folder C:\\Диск ..." in items and items[-1] == "Done.",
              f"the list shows the log lines in UTF-8: {items[-6:]}")
        drv("click", CLOSE)
        run.wait(60)
        check(run.returncode == 0, f"Close ends the setup ({run.returncode})")
    finally:
        if run.poll() is None:
            drv("kill")
            run.wait(30)
        forget_install()
        shutil.rmtree(os.path.join(C, "Spiele", "Łódź 雷", "Fenster"), ignore_errors=True)


subprocess.run([WINE_RUN, "cmd", "/c", "exit"], stdin=subprocess.DEVNULL, capture_output=True, env=env, timeout=300)
try:
    check(os.path.basename(user_dir(SPARE)) == USER_NAME, f"the user folder is {USER_NAME}: {os.listdir(os.path.join(C, 'users'))}")
    check(wine(os.path.join(TEST_BIN, "shortcut_fields.exe"))[0] == 2, "shortcut_fields runs")
    for folder in ("Диск", "Spiele"):
        shutil.rmtree(os.path.join(C, folder), ignore_errors=True)
    forget_install()
    for scenario in (folder_cd_install, long_paths, names_in_code_page_1252, window_texts):
        print(f"--- {scenario.__name__}", flush=True)
        try:
            scenario()
        except (OSError, subprocess.SubprocessError, ValueError, KeyError, IndexError) as e:
            check(False, f"{scenario.__name__}: {e}")
finally:
    forget_install()
    end_session()
    for folder in ("Диск", "Spiele"):
        shutil.rmtree(os.path.join(C, folder), ignore_errors=True)
check.finish()
