"""The setup window under Xvfb, driven from outside by window_driver: its controls, the flows of an
install (empty field, failure, success, Play), stopping an install, the progress messages of one
install, a worker that cannot be started, the keyboard alone (xdotool), the layout at 150% scaling
with a line wider than the list, and a read-only install folder. Screenshots of each state go to
TEST_BIN/window/shots. Arguments name the flows to run (all but read_only_target without them), and
then the folder is TEST_BIN/window-<names>."""
import glob
import json
import os
import shutil
import subprocess
import sys
import time

if not os.environ.get("DISPLAY"):
    print("no DISPLAY: the window needs Xvfb (./run.sh test)")
    sys.exit(77)

sys.path.insert(0, os.environ["TOOLS"])
from wine_tools import BIN, REASON_ACCESS_DENIED, REASON_NO_MEMORY, WINE_RUN, Checks, read_png, run_exe, \
    setup_log, winpath  # noqa: E402

TEST_BIN = os.environ["TEST_BIN"]
PREFIX = os.environ["WINEPREFIX"]
DRIVER = os.path.join(TEST_BIN, "window_driver.exe")
SETUP = os.path.join(BIN, "drovenhelm_setup.exe")
SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WORK = os.path.join(TEST_BIN, "-".join(["window"] + sys.argv[1:]))
SHOTS = os.path.join(WORK, "shots")

READY = "Ready. About 500 MB of free space is needed."
INSTALLED = "Drovenhelm is installed."
FAILED = "The installation did not finish - see the messages above."
INTRO = ("Install Drovenhelm as a native Windows game.\nYou need your Drovenhelm CD (the disc, an ISO / BIN+CUE "
         "image, or a copied folder).")
BOX_TITLE = "Drovenhelm setup"
CHILD = 0x50000000  # WS_CHILD | WS_VISIBLE
TABSTOP, HSCROLL, VSCROLL = 0x10000, 0x100000, 0x200000
# Child indices in creation order.
E_CD, IMAGE, FOLDER, E_DIR, BROWSE, START, DESK, STATUS, LIST, INSTALL, CLOSE, PROG = \
    2, 3, 4, 6, 7, 8, 9, 11, 12, 13, 14, 10
# What a running install has read already: disabled while it runs.
LOCKED = (E_CD, IMAGE, FOLDER, E_DIR, BROWSE, START, DESK)
IDOK, IDCANCEL, IDYES, IDNO = 1, 2, 6, 7
DESKTOP_KEY = r"HKCU\Control Panel\Desktop"


def table(cd, folder):
    """The controls as built at 96 DPI: class, text, extra style, x, y, width, height, id."""
    return [
        ("STATIC", INTRO, 0, 16, 14, 600, 36, 0),
        ("STATIC", "CD:", 0, 16, 66, 90, 20, 0),
        ("EDIT", cd, 0x80 | TABSTOP, 110, 62, 360, 24, 0),
        ("BUTTON", "Image...", TABSTOP, 478, 62, 66, 24, 101),
        ("BUTTON", "Folder...", TABSTOP, 548, 62, 66, 24, 102),
        ("STATIC", "Install to:", 0, 16, 98, 90, 20, 0),
        ("EDIT", folder, 0x80 | TABSTOP, 110, 94, 360, 24, 0),
        ("BUTTON", "Browse...", TABSTOP, 478, 94, 136, 24, 103),
        ("BUTTON", "Start menu shortcut", 3 | TABSTOP, 16, 134, 200, 22, 0),
        ("BUTTON", "Desktop shortcut", 3 | TABSTOP, 230, 134, 200, 22, 0),
        ("MSCTLS_PROGRESS32", "", 0, 16, 168, 598, 18, 0),
        ("STATIC", READY, 0, 16, 192, 598, 20, 0),
        ("LISTBOX", "", 0x00B00100, 16, 216, 598, 110, 0),
        ("BUTTON", "Install", 1 | TABSTOP, 418, 336, 96, 30, 104),
        ("BUTTON", "Cancel", TABSTOP, 518, 336, 96, 30, 105),
    ]


def scaled(v, dpi):
    """MulDiv(v, dpi, 96) for the table's non-negative values: rounded half up."""
    return (v * dpi + 48) // 96


check = Checks()


class Stop(Exception):
    pass


def drv(*args, expect=0, timeout=60):
    p = subprocess.run([WINE_RUN, DRIVER, *[str(a) for a in args]], stdin=subprocess.DEVNULL,
                       capture_output=True, timeout=timeout)
    out = p.stdout.decode("latin-1").replace("\r", "")
    if expect is not None and p.returncode != expect:
        raise Stop(f"window_driver {' '.join(map(str, args))}: exit {p.returncode}: {out.strip()[:600]}")
    return out


def dump():
    return json.loads(drv("dump"))


def texts(d):
    return [c["text"] for c in d["controls"]]


def enabled(d, indices=LOCKED):
    """IsWindowEnabled of each of the controls."""
    return [d["controls"][i]["enabled"] for i in indices]


def box(title, text, buttons):
    b = json.loads(drv("box", 10000))
    found = sorted((c["id"], c["text"].replace("&", "")) for c in b["controls"] if c["class"].lower() == "button"
                   and c["visible"])
    check(b["title"] == title and b["text"] == text and found == sorted(buttons),
          f"box {text!r}: title {b['title']!r}, text {b['text']!r}, buttons {found}")
    return b


def shoot(name, rect):
    """The window's part of the screen; a screen without the window would be one colour."""
    os.makedirs(SHOTS, exist_ok=True)
    full = os.path.join(SHOTS, name + "-screen.png")
    out = os.path.join(SHOTS, name + ".png")
    subprocess.run(["import", "-window", "root", full], check=True)
    l, t, r, b = rect
    subprocess.run(["/usr/bin/convert", full, "-crop", f"{r - l}x{b - t}+{l}+{t}", "+repage", out], check=True)
    os.remove(full)
    colours = subprocess.run(["/usr/bin/identify", "-format", "%k", out], capture_output=True, text=True).stdout
    check(int(colours or 0) > 8, f"screenshot {name}.png shows the window ({colours} colours)")


def caption_icon():
    """The side of the icon in the window's caption and its pixels as (r, g, b, a) tuples, top row first."""
    w, h, data = (drv("icon").split() + ["", ""])[:3]
    raw = bytes.fromhex(data)
    return int(w), int(h), [(raw[i + 2], raw[i + 1], raw[i], raw[i + 3]) for i in range(0, len(raw), 4)]


def setup_icon(side):
    """The pixels of the setup's own icon of that side, as wrestool and icotool take it from the program."""
    ico, out = os.path.join(WORK, "setup-icon.ico"), os.path.join(WORK, "setup-icon")
    subprocess.run(["wrestool", "-x", "--type=14", "--name=1", "-o", ico, SETUP], check=True)
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    subprocess.run(["icotool", "-x", f"--width={side}", "-o", out, ico], check=True)
    pngs = glob.glob(os.path.join(out, "*.png"))
    return [p for row in read_png(pngs[0])[2] for p in row] if len(pngs) == 1 else []


class Setup:
    """One run of the setup, started through the driver with its own temporary folder (so its log is
    its own), with window_hook attached."""

    def __init__(self, name, *args, env=None, cwd=None):
        self.name = name
        self.temp = os.path.join(WORK, name + "-temp")
        self.record = os.path.join(WORK, name + ".record")
        self.report = os.path.join(WORK, name + ".game")
        for f in (self.record, self.report):
            if os.path.exists(f):
                os.remove(f)
        e = dict(os.environ, DROVENHELM_TEST_RECORD=winpath(self.record), DROVENHELM_GAME_REPORT=winpath(self.report))
        e.update(env or {})
        self.p = subprocess.Popen([WINE_RUN, DRIVER, "run", winpath(self.temp), winpath(SETUP), *args], env=e,
                                  cwd=cwd or WORK, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        drv("wait-window", 30000)
        drv("attach")

    def exit_code(self, timeout=30):
        try:
            return self.p.wait(timeout)
        except subprocess.TimeoutExpired:
            return "still running"

    def end(self):
        """After a failed step: end the setup if it still runs."""
        if self.p.poll() is None:
            drv("kill", expect=None)
            try:
                self.p.wait(20)
            except subprocess.TimeoutExpired:
                self.p.kill()

    def full_log(self):
        """The window's own last line after a failed install."""
        return f"The full log is in {winpath(self.temp)}\\drovenhelm_setup.log."

    def log(self):
        with open(os.path.join(self.temp, "drovenhelm_setup.log"), encoding="latin-1") as f:
            return f.read().replace("\r", "").splitlines()

    def records(self):
        with open(self.record, encoding="latin-1") as f:
            return f.read().replace("\r", "").splitlines()


def flow(fn):
    """Runs one flow; a step that cannot go on ends the flow, not the test."""
    def run():
        print(f"--- {fn.__name__}: {fn.__doc__}")
        s = None
        try:
            s = fn()
        except (Stop, subprocess.TimeoutExpired, ValueError, KeyError, OSError) as e:
            check(False, f"{fn.__name__}: {e}")
        finally:
            if isinstance(s, Setup):
                s.end()
    return run


def make_cds():
    """The sample game CD, and a game CD with more than a thousand small files, so that one install
    reports progress far more often than a thousand times."""
    subprocess.run(["bash", os.path.join(SOURCE, "tools", "sample-cd", "make-sample-cd.sh"),
                    os.path.join(WORK, "cd")], check=True, capture_output=True)
    many = os.path.join(WORK, "many")
    shutil.copytree(os.path.join(WORK, "cd", "tree"), many)
    os.makedirs(os.path.join(many, "MANY"))
    for i in range(1200):
        with open(os.path.join(many, "MANY", f"F{i:04}.TXT"), "w") as f:
            f.write(f"{i}\n" * 20)
    subprocess.run(["genisoimage", "-quiet", "-l", "-V", "DROVENHELM", "-o", os.path.join(WORK, "many.iso"), many],
                   check=True)
    return winpath(os.path.join(WORK, "cd", "drovenhelm.iso")), winpath(os.path.join(WORK, "many.iso"))


shutil.rmtree(WORK, ignore_errors=True)
os.makedirs(WORK)
SMALL_CD, MANY_CD = make_cds()
USERS = [u for u in glob.glob(os.path.join(PREFIX, "drive_c", "users", "*")) if os.path.basename(u) != "Public"]
LINKS = [p for u in USERS for p in (os.path.join(u, "Desktop", "Drovenhelm.lnk"),
         os.path.join(u, "AppData", "Roaming", "Microsoft", "Windows", "Start Menu", "Programs", "Drovenhelm.lnk"))]


class MainRun:
    """What the scenarios of main_flow share: one setup window, its install folder, and what the
    scenarios before found (the failed installs' lines, the relative folder, the listed lines)."""

    def __init__(self):
        self.dir_a = winpath(os.path.join(WORK, "inst-a"))
        self.s = Setup("main", "/cd", SMALL_CD, "/dir", self.dir_a, "/nodesktop")
        self.failed_lines = []
        self.rel = os.path.join(WORK, "rel", "inst")
        self.items = []


def window_as_built(m):
    """The window and every control as built at 96 DPI; both shortcut boxes ticked despite
    /nodesktop; the bar's range."""
    d = dump()
    check(d["title"] == "Drovenhelm - Vessik Setup" and d["class"] == "DrovenhelmSetup", f"title {d['title']!r}")
    check(d["client"] == [630, 420], f"client area {d['client']}")
    # The system adds WS_VISIBLE and WS_CLIPSIBLINGS to the style, and WS_EX_WINDOWEDGE for the caption.
    check(d["style"] & ~0x14000000 == 0x00CA0000 and d["exstyle"] & ~0x100 == 0,
          f"window style {d['style']:#x}, extended {d['exstyle']:#x}")
    want_table = table(SMALL_CD, m.dir_a)
    check(len(d["controls"]) == len(want_table), f"{len(d['controls'])} controls")
    for want, c in zip(want_table, d["controls"]):
        # The list box drops its scroll bars while its lines fit; checked again once they overflow.
        shown = c["style"] | (VSCROLL | HSCROLL if want[0] == "LISTBOX" else 0)
        got = (c["class"].upper(), c["text"], shown & ~CHILD, c["x"], c["y"], c["w"], c["h"], c["id"])
        check(got == want and c["style"] & CHILD == CHILD and c["exstyle"] == (0x200 if want[0] == "EDIT" else 0),
              f"control {want[1][:24]!r}: {got} style {c['style']:#x} ex {c['exstyle']:#x}")
    boxes = d["controls"][8:10]
    check([c["check"] for c in boxes] == [1, 1], "both shortcut boxes ticked despite /nodesktop")
    prog = d["controls"][PROG]
    check((prog["low"], prog["high"], prog["pos"]) == (0, 1000, 0), f"progress range {prog['low']}..{prog['high']}")
    w, h, pixels = caption_icon()
    check(w == h == 16 and pixels == setup_icon(16), f"the caption shows the setup's own 16-pixel icon ({w} x {h})")
    shoot("ready", d["rect"])


def pickers_cancelled_and_picked(m):
    """The file dialog starts with the image's name, or with none for a folder; cancelled, it changes
    nothing. The folder picker starts at the desktop, and OK there puts the desktop's folder into the
    field. The install folder's picker, cancelled, keeps the folder."""
    for field, name in ((SMALL_CD, "drovenhelm.iso"), ("D:\\", "")):
        drv("set", E_CD, field)
        drv("click", IMAGE)
        b = json.loads(drv("box", 10000))
        shown = [c["text"] for c in b["controls"] if c["id"] == 1148]  # the file name box
        types = [c["text"] for c in b["controls"] if c["id"] == 1136]  # the type filter
        check(b["title"] == "Drovenhelm CD" and shown == [name] and types == ["CD images (*.iso;*.cue;*.bin;*.nrg;*.ccd;*.mds;*.chd)"],
              f"Image... on {field!r}: title {b['title']!r}, name {shown}, type {types}")
        drv("answer", IDCANCEL)
        drv("box-gone", 5000)
        check(dump()["controls"][E_CD]["text"] == field, "cancelled file dialog keeps the field")
    drv("click", FOLDER)
    b = json.loads(drv("box", 10000))
    check("Drovenhelm CD (drive or folder)" in [c["text"] for c in b["controls"]], "Folder... shows its title")
    drv("answer", IDOK)
    drv("box-gone", 5000)
    picked = dump()["controls"][E_CD]["text"]
    check(picked.lower().startswith("c:\\users\\") and picked.lower().endswith("\\desktop"), f"Folder... gave {picked!r}")
    drv("click", BROWSE)
    drv("box", 10000)
    drv("answer", IDCANCEL)
    drv("box-gone", 5000)
    check(dump()["controls"][E_DIR]["text"] == m.dir_a, "cancelled folder picker keeps the field")


def empty_fields(m):
    """Install with the CD field or the folder field empty asks for both and stays Ready."""
    for cd, folder in (("", m.dir_a), (SMALL_CD, "")):
        drv("set", E_CD, cd)
        drv("set", E_DIR, folder)
        drv("click", INSTALL)
        box(BOX_TITLE, "Please choose the CD and the install folder.", [(IDOK, "OK")])
        drv("answer", IDOK)
        drv("box-gone", 5000)
        t = texts(dump())
        check(t[STATUS] == READY and t[INSTALL] == "Install" and t[CLOSE] == "Cancel",
              f"empty field {'CD' if not cd else 'folder'}: still Ready")


def failed_installs(m):
    """Two failed installs, the second appending to the first one's lines: a readable volume that is
    not the game's CD, then an image that does not exist. Install is offered again after each."""
    drv("set", E_DIR, m.dir_a)
    for cd, reason in ((winpath(os.path.join(os.environ["TESTDATA"], "volume.iso")), "this is not the Drovenhelm CD"),
                       (winpath(os.path.join(WORK, "missing.iso")), "the CD is not a readable disc, image or folder")):
        drv("set", E_CD, cd)
        drv("click", INSTALL)
        drv("wait-text", CLOSE, "Close", 30000)
        d = dump()
        c = d["controls"]
        check(c[STATUS]["text"] == FAILED and c[INSTALL]["text"] == "Install" and all(enabled(d, LOCKED + (INSTALL,))),
              f"failed install: status {c[STATUS]['text']!r}, {c[INSTALL]['text']!r}, enabled {enabled(d, LOCKED + (INSTALL,))}")
        m.failed_lines += [f"Install to {m.dir_a}", f"ERROR: {reason}", m.s.full_log()]
        check(c[LIST]["items"] == m.failed_lines, f"failed install lists {c[LIST]['items']}")
    shoot("failed", d["rect"])


def held_install_goes_on_after_no(m):
    """A third install into a relative folder, held at its first log line: Install disabled, Cancel
    offered, the old lines kept. The close box, clicked with the real mouse, asks; No lets the
    install go on."""
    for link in LINKS:
        if os.path.exists(link):
            os.remove(link)
    drv("set", E_CD, MANY_CD)
    drv("set", E_DIR, "rel\\inst")
    drv("hold")
    drv("click", INSTALL)
    drv("wait-text", STATUS, "Installing...", 10000)
    d = dump()
    c = d["controls"]
    check(not c[INSTALL]["enabled"] and c[CLOSE]["text"] == "Cancel" and c[LIST]["items"] == m.failed_lines,
          "Installing: Install disabled, Cancel, the old lines kept")
    check(not any(enabled(d)) and c[CLOSE]["enabled"], f"Installing: the fields, pickers and boxes disabled "
          f"({enabled(d)}), Cancel enabled")
    shoot("installing", d["rect"])
    x, y = drv("closebox").split()
    subprocess.run(["xdotool", "mousemove", x, y, "click", "1"], check=True)
    b = box(BOX_TITLE, "Stop the installation?", [(IDYES, "Yes"), (IDNO, "No")])
    shoot("question", [min(d["rect"][0], b["rect"][0]), min(d["rect"][1], b["rect"][1]),
                       max(d["rect"][2], b["rect"][2]), max(d["rect"][3], b["rect"][3])])
    drv("answer", IDNO)
    drv("box-gone", 5000)
    t = texts(dump())
    check(t[STATUS] == "Installing..." and m.s.p.poll() is None, "after No the install goes on")


def installed_with_every_line(m):
    """Released, the install appends, selects and shows every line and ends Installed (Play, Close,
    a full bar, a list that overflows); the list holds the log's lines; the relative folder became
    absolute and holds the game; both shortcuts are made despite /nodesktop."""
    out = drv("follow", 30000, expect=None)
    print(out.rstrip())
    check("FAIL" not in out and out.rstrip().endswith("ended"),
          "every line is appended, selected and shown in the status line")
    drv("release")
    d = dump()
    c = d["controls"]
    check(c[STATUS]["text"] == INSTALLED and c[INSTALL]["text"] == "Play" and c[INSTALL]["enabled"]
          and c[CLOSE]["text"] == "Close" and c[PROG]["pos"] == 1000,
          f"Installed: {c[STATUS]['text']!r}, {c[INSTALL]['text']!r}, {c[CLOSE]['text']!r}, bar {c[PROG]['pos']}")
    check(all(enabled(d)), f"Installed: the fields, pickers and boxes enabled again ({enabled(d)})")
    check(c[LIST]["style"] & ~HSCROLL == 0x50A00100 and len(c[LIST]["items"]) > 7,
          f"{len(c[LIST]['items'])} lines overflow: list box style {c[LIST]['style']:#x}")
    log = m.s.log()
    logged = [i for i in c[LIST]["items"] if i != m.s.full_log()]
    check(log[:2] == ["setup started", f"defaults: cd 'D:\\' dir 'C:\\Games\\Drovenhelm PC'"]
          and logged == log[2:], f"the list holds every line logged since the window exists ({len(log)}), and the "
          f"log's path after each failed install")
    rel = m.rel
    check(f"Install to {winpath(rel)}" in c[LIST]["items"], f"relative folder made absolute: {winpath(rel)}")
    check(os.path.isfile(os.path.join(rel, "drovenhelm.exe")) and os.path.isdir(os.path.join(rel, "game", "cd", "MANY")),
          "installed into the absolute folder")
    check(all(os.path.isfile(p) for p in LINKS) and LINKS, f"both shortcuts made despite /nodesktop: {LINKS}")
    shoot("installed", d["rect"])
    m.items = logged


def progress_of_one_install(m):
    """The last install's progress messages, between the end of the one before and its own: at most
    1001 for more than 1001 blocks written, rising strictly to 1000; every posted line was listed."""
    rec = m.s.records()
    ends = [i for i, r in enumerate(rec) if r.startswith("done ")]
    check([rec[i][:6] for i in ends] == ["done 0", "done 0", "done 1"], f"installs ended: {[rec[i] for i in ends]}")
    posts = [int(r.split()[1]) for r in rec[ends[-2]:ends[-1]] if r.startswith("progress ")]
    writes = int(rec[ends[-1]].split("writes=")[1])
    check(0 < len(posts) <= 1001 and writes > 1001,
          f"one install: {len(posts)} progress messages for {writes} blocks written")
    check(all(a < b for a, b in zip(posts, posts[1:])) and posts[-1] == 1000,
          f"progress rises strictly to 1000 ({posts[:3]} ... {posts[-3:]})")
    check([r[4:] for r in rec if r.startswith("log ")] == m.items, "every posted line reached the list")


def play_runs_the_game(m):
    """Play ends the setup with exit code 0 and runs the game in the install folder."""
    s, rel = m.s, m.rel
    drv("click", INSTALL)
    code = s.exit_code()
    check(code == 0, f"Play: exit code {code}")
    for _ in range(100):
        if os.path.exists(s.report) and os.path.getsize(s.report):
            break
        time.sleep(0.1)
    with open(s.report, encoding="latin-1") as f:
        cwd, cmd = f.read().replace("\r", "").splitlines()[:2]
    check(cwd == winpath(rel) and "drovenhelm.exe" in cmd.lower() and winpath(rel).lower() in cmd.lower(),
          f"the game ran in {cwd!r} as {cmd!r}")


@flow
def main_flow():
    """one window through its states, one named scenario after another"""
    m = MainRun()
    try:
        for scenario in (window_as_built, pickers_cancelled_and_picked, empty_fields, failed_installs,
                         held_install_goes_on_after_no, installed_with_every_line, progress_of_one_install,
                         play_runs_the_game):
            print(f"  {scenario.__name__}")
            scenario(m)
    finally:
        m.s.end()


@flow
def stop_yes():
    """Yes to "Stop the installation?" ends the process with exit code 1"""
    s = Setup("stop", "/cd", SMALL_CD, "/dir", winpath(os.path.join(WORK, "inst-stop")))
    drv("hold")
    drv("click", INSTALL)
    drv("wait-text", STATUS, "Installing...", 10000)
    drv("click", CLOSE)
    box(BOX_TITLE, "Stop the installation?", [(IDYES, "Yes"), (IDNO, "No")])
    drv("answer", IDYES)
    code = s.exit_code()
    check(code == 1, f"exit code {code}")
    check(s.log()[-1] == f"Install to {winpath(os.path.join(WORK, 'inst-stop'))}",
          f"the log is complete up to the stop: {s.log()[-1]!r}")
    return s


@flow
def finished_while_asking():
    """the install ends while the question that Esc asked is open: the question closes itself, the
    window shows the finished state, Close then ends the setup with exit code 0"""
    s = Setup("asking", "/cd", MANY_CD, "/dir", winpath(os.path.join(WORK, "inst-asking")))
    drv("hold")
    drv("click", INSTALL)
    drv("wait-text", STATUS, "Installing...", 10000)
    focus_setup()
    keys("Escape")
    box(BOX_TITLE, "Stop the installation?", [(IDYES, "Yes"), (IDNO, "No")])
    drv("release")
    drv("wait-text", STATUS, INSTALLED, 60000)
    gone = subprocess.run([WINE_RUN, DRIVER, "box-gone", "5000"], stdin=subprocess.DEVNULL,
                          capture_output=True).returncode == 0
    d = dump()
    c = d["controls"]
    check(gone and s.p.poll() is None, "the question closed itself, the setup goes on")
    check((c[INSTALL]["text"], c[INSTALL]["enabled"], c[CLOSE]["text"], c[PROG]["pos"], all(enabled(d))) ==
          ("Play", 1, "Close", 1000, True), f"the finished state: {c[INSTALL]['text']!r}, {c[CLOSE]['text']!r}, "
          f"bar {c[PROG]['pos']}, fields enabled {enabled(d)}")
    drv("click", CLOSE)
    code = s.exit_code()
    check(code == 0, f"exit code {code}")
    return s


@flow
def cancel_before_install():
    """Cancel before any install closes without a question, exit code 0"""
    s = Setup("cancel", "/cd", SMALL_CD)
    drv("click", CLOSE)
    code = s.exit_code(timeout=15)
    check(code == 0, f"exit code {code}")
    return s


@flow
def thread_fails():
    """CreateThread fails: the reason is logged and shown, the window is Ready again"""
    s = Setup("nothread", "/cd", SMALL_CD, "/dir", winpath(os.path.join(WORK, "inst-nothread")),
              env={"DROVENHELM_TEST_FAIL_THREADS": "1"})
    drv("click", INSTALL)
    line = "ERROR: cannot start the install (error 8)"
    drv("wait-text", STATUS, line, 10000)
    d = dump()
    c = d["controls"]
    check(c[INSTALL]["enabled"] and c[INSTALL]["text"] == "Install" and c[CLOSE]["text"] == "Cancel"
          and c[LIST]["items"] == [REASON_NO_MEMORY, line] and c[LIST]["cursel"] == 1,
          f"Ready again, the reason listed: {c[LIST]['items']}")
    check(s.log()[-2:] == [REASON_NO_MEMORY, line], f"the reason is in the log file: {s.log()[-2:]}")
    shoot("thread-failed", d["rect"])
    # Ready for real: the next Install runs, and Close then needs no question.
    drv("click", INSTALL)
    drv("wait-text", STATUS, INSTALLED, 30000)
    drv("click", CLOSE)
    code = s.exit_code(timeout=15)
    check(code == 0, f"exit code {code}")
    check(s.records()[1] == "CreateThread refused", "the first CreateThread was refused")
    return s


def keys(*names):
    """Real key presses, to whichever window has the focus."""
    subprocess.run(["xdotool", "key", "--delay", "150", *names], check=True)


def type_text(text):
    subprocess.run(["xdotool", "type", "--delay", "60", text], check=True)


def focus_setup():
    """Gives the setup window the keyboard focus, the way clicking its caption would. The search is
    asked again until the window shows: one search came back empty in a full run while the windows
    of the flow before were going."""
    deadline = time.time() + 30
    while True:
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Drovenhelm - Vessik Setup$"],
                               capture_output=True, text=True, timeout=30)
        ids = found.stdout.split()
        if ids:
            break
        if time.time() > deadline:
            raise Stop(f"the setup window is not on the X display (xdotool: {found.stderr.strip()[-200:]!r})")
        time.sleep(0.2)
    subprocess.run(["xdotool", "windowfocus", "--sync", ids[0]], check=True, timeout=30)


def focused():
    return int(drv("focus"))


@flow
def keyboard():
    """Tab, typing, Space, Enter and Esc alone: the focus at start and after each picker and message
    box, fields, boxes, Install, the question, Play"""
    for link in LINKS:
        if os.path.exists(link):
            os.remove(link)
    s = Setup("keys")
    focus_setup()
    # The CD field has the focus from the start, its text selected: typing replaces it.
    check(focused() == E_CD, f"at start the focus is on child {focused()}, the CD field is {E_CD}")
    type_text("cd\\drovenhelm.iso")
    check(texts(dump())[E_CD] == "cd\\drovenhelm.iso", f"typed at start, the CD field reads {texts(dump())[E_CD]!r}")
    order = []
    for _ in range(9):
        keys("Tab")
        order.append(focused())
    stops = [E_CD, IMAGE, FOLDER, E_DIR, BROWSE, START, DESK, INSTALL, CLOSE]
    check(order == stops[1:] + stops[:1], f"Tab visits {order}")
    keys("shift+Tab")
    check(focused() == CLOSE, "Shift+Tab goes back")
    # Each picker opened with Space and left with Esc, and the message box of an Install without a
    # folder left with Enter, gives the focus back to the control that opened it: Tab moves on from
    # there and no field changes. Tab into the folder field selects its text: Backspace empties it.
    keys("Tab", "Tab")
    for opener, key, then, after in ((IMAGE, "Escape", FOLDER, ()), (FOLDER, "Escape", E_DIR, ("BackSpace", "Tab")),
                                     (BROWSE, "Escape", START, ("Tab", "Tab")), (INSTALL, "Return", CLOSE, ())):
        fields = texts(dump())[E_CD], texts(dump())[E_DIR]
        check(focused() == opener, f"child {opener} has the focus before Space")
        keys("space")
        drv("box", 10000)
        keys(key)
        drv("box-gone", 5000)
        back = focused()
        keys("Tab")
        now = focused()
        check((back, now) == (opener, then) and (texts(dump())[E_CD], texts(dump())[E_DIR]) == fields,
              f"after the box of child {opener}: the focus is on {back}, Tab moves it to {now}, the fields read "
              f"{texts(dump())[E_CD]!r}, {texts(dump())[E_DIR]!r}")
        if after:
            keys(*after)
    keys("shift+Tab", "shift+Tab", "shift+Tab", "shift+Tab", "shift+Tab")
    check(focused() == E_DIR, "Shift+Tab back to the folder field")
    type_text("keys\\inst")
    keys("Tab", "Tab", "Tab", "space")
    c = dump()["controls"]
    check((c[E_CD]["text"], c[E_DIR]["text"]) == ("cd\\drovenhelm.iso", "keys\\inst"),
          f"typed fields read {c[E_CD]['text']!r}, {c[E_DIR]['text']!r}")
    check(focused() == DESK and (c[START]["check"], c[DESK]["check"]) == (1, 0), "Space unticks the desktop box")
    drv("hold")
    keys("Return")
    drv("wait-text", STATUS, "Installing...", 10000)
    check(focused() == CLOSE, f"installing, the focus left the disabled box for Cancel: {focused()}")
    keys("Return")  # the disabled Install must not start a second install
    keys("Escape")
    box(BOX_TITLE, "Stop the installation?", [(IDYES, "Yes"), (IDNO, "No")])
    keys("n")
    drv("box-gone", 5000)
    check(dump()["controls"][STATUS]["text"] == "Installing..." and s.p.poll() is None and focused() == CLOSE,
          f"Esc, then No: the install goes on, the focus is back on Cancel ({focused()})")
    drv("release")
    drv("wait-text", STATUS, INSTALLED, 60000)
    check(focused() == DESK, f"installed, the focus is back where Enter started the install: {focused()}")
    inst = os.path.join(WORK, "keys", "inst")
    check(os.path.isfile(os.path.join(inst, "drovenhelm.exe")), "Enter installed into the typed folder")
    check([os.path.exists(p) for p in LINKS] == [False, True] * len(USERS),
          f"only the Start-menu shortcut, as the boxes said: {[os.path.exists(p) for p in LINKS]}")
    time.sleep(2)  # a second install, if Enter had started one, ends too
    ends = [r for r in s.records() if r.startswith("done ")]
    check(len(ends) == 1 and ends[0].startswith("done 1"), f"one install ran: {ends}")
    focus_setup()
    keys("Return")
    code = s.exit_code()
    for _ in range(100):
        if os.path.exists(s.report) and os.path.getsize(s.report):
            break
        time.sleep(0.1)
    check(code == 0 and os.path.exists(s.report), f"Enter on Play ran the game and ended the setup: exit code {code}")
    return s


def set_dpi(dpi):
    subprocess.run([WINE_RUN, "reg", "add", DESKTOP_KEY, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f"],
                   stdin=subprocess.DEVNULL, capture_output=True, check=True)


@flow
def scaled_150():
    """at 144 DPI every size is the table's times 1.5 and every text fits; a 248-character folder in
    the list scrolls sideways to its end; an install there, held and finished; the caption's icon is
    the setup's of the system's small icon size"""
    long_dir = winpath(os.path.join(WORK, "long"))
    long_dir += "\\" + "d" * (248 - len(long_dir) - 1)
    set_dpi(144)
    try:
        s = Setup("dpi144", "/cd", winpath(os.path.join(os.environ["TESTDATA"], "volume.iso")), "/dir", long_dir)
        d = dump()
        check(d["client"] == [945, 630], f"client area {d['client']} at 144 DPI")
        for want, c in zip(table(None, None), d["controls"]):
            rect = [scaled(v, 144) for v in want[3:7]]
            check([c["x"], c["y"], c["w"], c["h"]] == rect, f"{want[0]} {want[1] and want[1][:20]!r}: "
                  f"{[c['x'], c['y'], c['w'], c['h']]}, scaled table {rect}")
        for i, c in enumerate(d["controls"]):
            if c["class"].upper() == "STATIC":
                lines = json.loads(drv("widths", i))
                check(lines and max(lines) <= c["w"], f"static {c['text'][:20]!r}: lines {lines} fit in {c['w']}")
        drv("click", INSTALL)
        drv("wait-text", CLOSE, "Close", 30000)
        d = dump()
        lst = d["controls"][LIST]
        widths = json.loads(drv("widths", LIST))
        check(len(long_dir) == 248 and f"Install to {long_dir}" in lst["items"],
              f"the failed install lists its 248-character folder: {lst['items']}")
        check(lst["style"] & HSCROLL and widths and lst["hextent"] >= max(widths) > lst["w"],
              f"the list scrolls sideways: extent {lst['hextent']}, lines {widths}, width {lst['w']}")
        shoot("dpi144-failed", d["rect"])
        drv("set", E_CD, MANY_CD)
        drv("set", E_DIR, winpath(os.path.join(WORK, "inst-144")))
        drv("hold")
        drv("click", INSTALL)
        drv("wait-text", STATUS, "Installing...", 10000)
        d = dump()
        check(not any(enabled(d)), f"installing at 144 DPI: the fields, pickers and boxes disabled ({enabled(d)})")
        shoot("dpi144-installing", d["rect"])
        drv("release")
        drv("wait-text", STATUS, INSTALLED, 60000)
        d = dump()
        check(all(enabled(d)) and texts(d)[INSTALL] == "Play", "installed at 144 DPI: Play, the fields enabled again")
        shoot("dpi144-installed", d["rect"])
        w, h, pixels = caption_icon()
        check(w == h == scaled(16, 144) and pixels == setup_icon(w), f"the caption shows the setup's {w} x {h} icon")
        return s
    finally:
        set_dpi(96)


@flow
def read_only_target():
    """a read-only drive as the install folder, in the window and silently: the system's reason just
    before the ERROR line, in the list and in the log; the window's last line names the log. The tests
    run as root, for whom file modes stop nothing: the drive is a read-only tmpfs (exit 77 without root)"""
    mnt, drive = os.path.join(WORK, "readonly"), os.path.join(PREFIX, "dosdevices", "w:")
    os.makedirs(mnt, exist_ok=True)
    if os.geteuid() != 0 or subprocess.run(["mount", "-t", "tmpfs", "-o", "ro,size=64m", "tmpfs", mnt],
                                           capture_output=True).returncode != 0:
        print("no tmpfs can be mounted here (it needs root)")
        raise SystemExit(77)
    s = None
    try:
        if os.path.lexists(drive):
            os.remove(drive)
        os.symlink(mnt, drive)
        s = Setup("readonly", "/cd", SMALL_CD, "/dir", "W:\\dv")
        drv("click", INSTALL)
        drv("wait-text", CLOSE, "Close", 30000)
        d = dump()
        c = d["controls"]
        want = [REASON_ACCESS_DENIED, "ERROR: cannot create the install folder", s.full_log()]
        check(c[STATUS]["text"] == FAILED and c[LIST]["items"][-3:] == want and c[LIST]["cursel"] == len(c[LIST]["items"]) - 1,
              f"the list ends with the reason, the ERROR line and the log's path: {c[LIST]['items']}")
        check(s.log()[-2:] == want[:2], f"the log ends with the reason and the ERROR line: {s.log()[-2:]}")
        shoot("read-only", d["rect"])
        drv("click", CLOSE)
        check(s.exit_code() == 0, "Close after the failed install: exit code 0")
        rc, _, _ = run_exe(SETUP, "/silent", "/cd", SMALL_CD, "/dir", "W:\\dv")
        log = setup_log() or []
        check(rc == 1 and log[-2:] == want[:2], f"silently: exit code {rc}, the log ends {log[-2:]}")
    finally:
        if s:
            s.end()
        if os.path.lexists(drive):
            os.remove(drive)
        subprocess.run(["umount", mnt])


# The flows named on the command line, or all of them.
for f in [globals()[name] for name in sys.argv[1:]] or (main_flow, stop_yes, finished_while_asking,
                                                          cancel_before_install, thread_fails, keyboard, scaled_150):
    f()

print(f"screenshots in {SHOTS}")
check.finish()
