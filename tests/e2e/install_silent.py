"""A silent install from every form of the game CD: the installed tree, the registry entry, the
shortcuts and the log; then the failures that must stop an install and what they leave behind."""
import os
import re
import shutil
import struct
import subprocess
import sys

sys.path.insert(0, os.environ["TOOLS"])
from wine_tools import *  # noqa: E402,F403

check = Checks()
gamecd = os.path.join(TESTDATA, "gamecd")
tree = os.path.join(gamecd, "tree")
setup_exe = os.path.join(BIN, "drovenhelm_setup.exe")
game_exe = os.path.join(BIN, "drovenhelm.exe")
base = os.path.join(DRIVE_C, "dvinst")
shutil.rmtree(base, ignore_errors=True)


def silent(*args):
    rc, out, err = run_exe("drovenhelm_setup.exe", "/silent", *args, timeout=300)
    return rc



def hd_expected():
    out = {}
    for name in os.listdir(tree):
        p = os.path.join(tree, name)
        if os.path.isfile(p) and not name.lower().endswith(".avi"):
            out[name.lower()] = tree_digest_file(p)
    return out


def tree_digest_file(p):
    import hashlib
    return hashlib.sha1(read(p)).hexdigest()


cd_bytes = sum(os.path.getsize(os.path.join(h, f)) for h, _, fs in os.walk(tree) for f in fs)
forms = {
    "folder": (winpath(tree), 0),
    "iso": (winpath(os.path.join(gamecd, "gamecd.iso")), 0),
    "raw-bin": (winpath(os.path.join(gamecd, "gamecd-raw.bin")), 0),
    "cdrom-drive": ("D:", 0),
    "nero-image": (winpath(os.path.join(gamecd, "gamecd.nrg")), 2),
    "cue-sheet": (winpath(os.path.join(gamecd, "gamecd.cue")), 2),
}
# The two audio tracks of the cue sheet and of the Nero image, with their WAV headers.
audio_bytes = (150 + 114) * 2352 + 2 * 44
for form, (cd, audio_tracks) in forms.items():
    target = os.path.join(base, form)
    win_target = "C:\\dvinst\\" + form
    reg_delete(UNINSTALL_KEY)
    for link in shortcut_files():
        if os.path.exists(link):
            os.remove(link)
    rc = silent("/cd", cd, "/dir", win_target)
    check(rc == 0, f"{form}: exit code 0")
    check(tree_digest(os.path.join(target, "game", "cd")) == tree_digest(tree), f"{form}: game\\cd is the CD's tree")
    hd = tree_digest(os.path.join(target, "game", "hd"))
    want = hd_expected()
    want["cd.dat"] = tree_digest_file(os.path.join(target, "game", "hd", "CD.DAT")) if os.path.exists(
        os.path.join(target, "game", "hd", "CD.DAT")) else "missing"
    check(hd == want, f"{form}: game\\hd holds the root files less the videos, and CD.DAT\n{diff(want, hd)}")
    check(read(os.path.join(target, "game", "hd", "CD.DAT")) == b"D:\\\r\n", f"{form}: CD.DAT is D:\\ CR LF")
    check(read(os.path.join(target, "uninstall.exe")) == read(setup_exe), f"{form}: uninstall.exe is the setup")
    check(os.path.getsize(os.path.join(target, "drovenhelm.exe")) >= os.path.getsize(game_exe),
          f"{form}: drovenhelm.exe written")
    icon = wrestool_list(os.path.join(target, "drovenhelm.exe"))
    check(set(icon) == ICON_RESOURCES | {VERSION_RESOURCE},
          f"{form}: drovenhelm.exe carries the icon made from TITLE.FLI beside its version: {sorted(icon)}")
    audio = os.path.join(target, "game", "cdaudio")
    if audio_tracks:
        names = sorted(os.listdir(audio)) if os.path.isdir(audio) else []
        check(names == ["toc.txt", "track02.wav", "track03.wav"], f"{form}: game\\cdaudio holds the WAVs and toc.txt")
        check(sum(os.path.getsize(os.path.join(audio, n)) for n in names if n.endswith(".wav")) == audio_bytes,
              f"{form}: the WAV files hold every audio sector")
    else:
        check(not os.path.exists(audio), f"{form}: no audio folder without tracks")

    values = reg_query(UNINSTALL_KEY) or {}
    want_values = {
        "DisplayName": ("REG_SZ", "Drovenhelm (Vessik)"),
        "UninstallString": ("REG_SZ", f'"{win_target}\\uninstall.exe" /uninstall'),
        "DisplayIcon": ("REG_SZ", f"{win_target}\\drovenhelm.exe,0"),
        "InstallLocation": ("REG_SZ", win_target),
        "Publisher": ("REG_SZ", "Vessik port (fan project)"),
        "DisplayVersion": ("REG_SZ", "1.0.0.0"),
        "EstimatedSize": ("REG_DWORD", "0x%x" % ((cd_bytes + (audio_bytes if audio_tracks else 0) + 20971520) >> 10)),
        "NoModify": ("REG_DWORD", "0x1"),
        "NoRepair": ("REG_DWORD", "0x1"),
    }
    check(values == want_values, f"{form}: registry entry\n{diff(want_values, values, 'want', 'got')}")
    links = shortcut_files()
    check(all(os.path.exists(l) for l in links), f"{form}: both shortcuts exist")

    log = setup_log() or []
    want_log = [f"Install to {win_target}", None,
                "CD music: 2 tracks" if audio_tracks else
                "No CD audio tracks in this source - the game's music needs a form of the CD that keeps them: a "
                "CD in a CD-ROM drive, a cue sheet (.cue), a Nero image (.nrg), a CloneCD image (.ccd), an "
                "Alcohol image (.mds) or a CHD image (.chd).",
                "Setting up the game files ...", "Done."]
    body = log[log.index(f"Install to {win_target}"):] if f"Install to {win_target}" in log else []
    ok = len(body) == 5 and body[1].startswith("Copying ") and [b for i, b in enumerate(body) if i != 1] == [w for w in want_log if w]
    check(ok, f"{form}: log lines in order: {body}")
    if form == "cdrom-drive":
        # Wine opens the device of a CD-ROM drive mapped on a folder but answers no table of
        # contents: the drive is read as the folder it is, as before it had one.
        check(body[1:2] == ["Copying folder D:\\ ..."], f"{form}: copied as a folder: {body[1:2]}")

check(game_runs(os.path.join(base, list(forms)[-1], "drovenhelm.exe")), "the installed game runs with its icon")

# The version information of what was installed, as Windows reads it: the uninstaller is the setup,
# and the game keeps its own beside the icon the install wrote.
last = os.path.join(base, list(forms)[-1])
for exe, want in (("uninstall.exe", expected_version_fields("Drovenhelm - Vessik Setup", "drovenhelm_setup.exe")),
                  ("drovenhelm.exe", expected_version_fields("Drovenhelm", "drovenhelm.exe"))):
    got = version_fields(os.path.join(last, exe))
    check(got == want, f"the installed {exe}'s version information\n{diff(want, got, 'want', 'got')}")

# The icons as wrestool takes them out: the installed uninstaller shows the setup's own, the game the
# one made from the CD's title animation.
icons = {exe: wrestool_raw(exe, 14, 1) for exe in (setup_exe, os.path.join(last, "uninstall.exe"),
                                                   os.path.join(last, "drovenhelm.exe"))}
mine, uninstaller, game = icons.values()
check(len(mine) == 104 and uninstaller == mine and game not in (b"", mine),
      "uninstall.exe carries the setup's icon group, the game its own")

# The shortcuts as another reader sees them.
for link in shortcut_files():
    info = subprocess.run(["lnkinfo", link], capture_output=True, text=True, errors="replace").stdout
    fields = dict(re.findall(r"^\t(Local path|Description|Working directory|Icon location|Icon index)\s*: (.*)$", info, re.M))
    last = "C:\\dvinst\\" + list(forms)[-1]  # the links of the last install
    want = {"Local path": last + "\\drovenhelm.exe", "Description": "Drovenhelm", "Working directory": last,
            "Icon location": last + "\\drovenhelm.exe", "Icon index": "0"}
    check(fields == want, f"lnkinfo {os.path.basename(os.path.dirname(link))}: {fields}")

# No shortcut where its flag is 0; the registry is rewritten by the next install.
for flag, gone in (("/nodesktop", 1), ("/nostartmenu", 0)):
    for link in shortcut_files():
        if os.path.exists(link):
            os.remove(link)
    rc = silent("/cd", forms["iso"][0], "/dir", "C:\\dvinst\\flags", flag)
    links = shortcut_files()
    check(rc == 0 and not os.path.exists(links[gone]) and os.path.exists(links[1 - gone]),
          f"{flag}: only the other shortcut is written")
check((reg_query(UNINSTALL_KEY) or {}).get("InstallLocation") == ("REG_SZ", "C:\\dvinst\\flags"),
      "a second install rewrites the registry entry")

# Failures: the exact line, and what each may leave. A source refused before the copy leaves no
# install folder; a copy that fails leaves the folders and files copied so far and nothing else:
# no game executable, no uninstaller, no registry entry, no shortcuts.
def forget_install():
    reg_delete(UNINSTALL_KEY)
    for link in shortcut_files():
        if os.path.exists(link):
            os.remove(link)


def nothing_registered(name):
    check(reg_query(UNINSTALL_KEY) is None, f"{name}: no registry entry")
    check(not any(os.path.exists(l) for l in shortcut_files()), f"{name}: no shortcuts")


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)
    return path


with open(os.path.join(base, "a-file"), "w") as f:
    f.write("x")
iso = read(os.path.join(gamecd, "gamecd.iso"))
# Damaged images. A cue sheet whose BIN holds random bytes where the data track should be.
write(os.path.join(base, "garbage.bin"), os.urandom(300 * 2352))
garbage_cue = write(os.path.join(base, "garbage.cue"),
                    b'FILE "GARBAGE.BIN" BINARY\r\n  TRACK 01 MODE1/2352\r\n    INDEX 01 00:00:00\r\n'
                    b'  TRACK 02 AUDIO\r\n    INDEX 01 00:02:00\r\n')
# The game CD as a Nero image whose chunk list opens with a chunk of length 0xFFFFFFF8: a walk
# that steps by 8 + length in 32 bits would stand on it for ever.
nrg = bytearray(read(os.path.join(gamecd, "gamecd.nrg")))
area = struct.unpack(">Q", nrg[-8:])[0]
looping = write(os.path.join(base, "looping.nrg"), bytes(nrg[:area]) + b"CUEX" + struct.pack(">I", 0xFFFFFFF8) +
                bytes(nrg[area:-12]) + b"NER5" + struct.pack(">Q", area))
failures = [
    ("not readable", ["/cd", winpath(os.path.join(TESTDATA, "volume.iso")) + ".missing"],
     "ERROR: the CD is not a readable disc, image or folder", "early"),
    ("not the game CD", ["/cd", winpath(os.path.join(TESTDATA, "tree"))], "ERROR: this is not the Drovenhelm CD", "early"),
    ("image cut before its volume descriptor", ["/cd", winpath(write(os.path.join(base, "head.iso"), iso[:16 * 2048 + 100]))],
     "ERROR: the CD is not a readable disc, image or folder", "early"),
    ("cue sheet pointing at garbage", ["/cd", winpath(garbage_cue)],
     "ERROR: the CD is not a readable disc, image or folder", "early"),
    ("Nero chunk list that loops", ["/cd", winpath(looping)], "ERROR: the CD is not a readable disc, image or folder",
     "early"),
    ("empty install folder", ["/cd", forms["iso"][0], "/dir", ""], "ERROR: cannot create the install folder", None),
    ("folder under a file", ["/cd", forms["iso"][0], "/dir", "C:\\dvinst\\a-file\\x"],
     "ERROR: cannot create the install folder", None),
]
for name, args, line, leaves in failures:
    target = "C:\\dvinst\\fail-" + name.replace(" ", "-")
    if "/dir" not in args:
        args = args + ["/dir", target]
    forget_install()
    rc = silent(*args)
    log = setup_log() or []
    check(rc == 1 and log and log[-1] == line, f"{name}: exit 1 with {line!r} (got {log[-1:]})")
    if leaves == "early":
        check(not os.path.exists(os.path.join(DRIVE_C, target[3:])), f"{name}: no install folder")
    nothing_registered(name)

# A CD that breaks while it is copied: the copy's line, then the install's.
cut = write(os.path.join(base, "cut.iso"), iso[: len(iso) * 2 // 3])
forget_install()
rc = silent("/cd", winpath(cut), "/dir", "C:\\dvinst\\fail-copy")
log = setup_log() or []
check(rc == 1 and len(log) >= 2 and log[-2].startswith("read error in ") and log[-1] == "ERROR: copying the CD failed",
      f"broken image: the copy's line, then 'ERROR: copying the CD failed' ({log[-2:]})")
left = os.path.join(base, "fail-copy")


def files_under(root):
    """{lower-case relative path: bytes} of every file below root."""
    return {os.path.relpath(os.path.join(h, f), root).lower(): read(os.path.join(h, f))
            for h, _, fs in os.walk(root) for f in fs}


on_cd, copied = files_under(tree), files_under(os.path.join(left, "game", "cd"))
whole = [p for p in copied if copied[p] == on_cd.get(p)]
# The file whose copy broke off keeps what was written of it.
started = [p for p in copied if p in on_cd and copied[p] != on_cd[p] and on_cd[p].startswith(copied[p])]
check(copied and len(whole) + len(started) == len(copied) and len(started) <= 1 and len(whole) < len(on_cd),
      f"broken image: the files copied so far and the one cut short, nothing else: {sorted(copied)}")
check(sorted(os.listdir(left)) == ["game"], f"broken image: nothing beside the copy: {sorted(os.listdir(left))}")
nothing_registered("broken image")

# A folder standing where the game executable goes: write_file's line names it, an ERROR line ends
# the install, and the folder stays.
blocked = os.path.join(base, "blocked")
os.makedirs(os.path.join(blocked, "drovenhelm.exe"))
rc = silent("/cd", forms["iso"][0], "/dir", "C:\\dvinst\\blocked")
log = setup_log() or []
check(rc == 1 and log[-3].startswith("cannot write C:\\dvinst\\blocked\\drovenhelm.exe (error ")
      and log[-2:] == [REASON_ACCESS_DENIED, "ERROR: cannot write C:\\dvinst\\blocked\\drovenhelm.exe"]
      and os.path.isdir(os.path.join(blocked, "drovenhelm.exe")), f"executable cannot be written: {log[-3:]}")
check(not os.path.exists(os.path.join(blocked, "uninstall.exe")), "a failed install writes no uninstaller")

# The audio stage fails: the sheet's audio BIN is missing. Its own line ends the install.
nobin = os.path.join(base, "nobin")
os.makedirs(nobin)
with open(os.path.join(nobin, "nobin.cue"), "w") as f:
    f.write(f'FILE "{winpath(os.path.join(gamecd, "gamecd-raw.bin"))}" BINARY\n  TRACK 01 MODE1/2352\n'
            '    INDEX 01 00:00:00\nFILE "gone.bin" BINARY\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n')
rc = silent("/cd", winpath(os.path.join(nobin, "nobin.cue")), "/dir", "C:\\dvinst\\fail-audio")
log = setup_log() or []
check(rc == 1 and log[-1:] == ["ERROR: reading audio track 2 failed"], f"audio stage fails: {log[-1:]}")
check(not os.path.exists(os.path.join(base, "fail-audio", "drovenhelm.exe")), "no game executable after it")

# The hard-disk files fail: a folder stands where a root file goes.
os.makedirs(os.path.join(base, "fail-hd", "game", "hd", "README"))
rc = silent("/cd", forms["iso"][0], "/dir", "C:\\dvinst\\fail-hd")
log = setup_log() or []
want = ["cannot write C:\\dvinst\\fail-hd\\game\\hd\\README", REASON_ACCESS_DENIED,
        "ERROR: cannot write C:\\dvinst\\fail-hd\\game\\hd\\README"]
check(rc == 1 and log[-3:] == want, f"hard-disk files fail: {log[-3:]}")

# The setup's own resources: the game executable in US English, and the manifest.
res = wrestool_list(setup_exe)
check(res.get((10, "GAMEEXE", 1033)) == os.path.getsize(game_exe), f"GAMEEXE (RCDATA, 1033) is the game: {res}")
check(wrestool_raw(setup_exe, 10, "GAMEEXE") == read(game_exe), "GAMEEXE holds build/bin/drovenhelm.exe byte for byte")
manifest = wrestool_raw(setup_exe, 24, 1).decode("utf-8", "replace")
check((24, "1", 1033) in res and 'name="DrovenhelmVessik.Setup"' in manifest and 'version="1.0.0.0"' in manifest
      and "<description>Drovenhelm - Vessik Setup</description>" in manifest
      and 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' in manifest
      and 'publicKeyToken="6595b64144ccf1df"' in manifest and ">true</dpiAware>" in manifest,
      "the manifest (24/1, 1033): identity, description, common controls 6, DPI-aware")
check(set(res) == {(10, "GAMEEXE", 1033), (24, "1", 1033), VERSION_RESOURCE} | SETUP_ICON_RESOURCES,
      f"and the version information and the setup's icon, its first icon group: {sorted(res)}")
ico = os.path.join(base, "setup.ico")
subprocess.run(["wrestool", "-x", "--type=14", "--name=1", "-o", ico, setup_exe], check=True)
listing = [line.split() for line in subprocess.run(["icotool", "-l", ico], capture_output=True, text=True).stdout.splitlines()]
want = [["--icon", f"--index={i + 1}", f"--width={s}", f"--height={s}", "--bit-depth=32", "--palette-size=0"]
        for i, s in enumerate(ICON_SIZES)]
check(listing == want, f"the setup's icon: icotool -l lists 16 to 256 at 32 bits: {listing}")
got = version_fields(setup_exe)
want = expected_version_fields("Drovenhelm - Vessik Setup", "drovenhelm_setup.exe")
check(got == want, f"the setup's version information\n{diff(want, got, 'want', 'got')}")

shutil.rmtree(base, ignore_errors=True)
check.finish()
