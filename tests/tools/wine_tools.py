"""Shared pieces of the end-to-end tests: running our programs under Wine and reading their reports."""
import hashlib
import os
import re
import struct
import subprocess
import sys
import zlib

# The format writers and readers that the tools share with the tests: anim, iso2raw, iso_info.
FORMATS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "formats")
sys.path.insert(0, FORMATS)
from iso_info import iso_info_listing  # noqa: E402

WINE_RUN = os.environ["WINE_RUN"]
BIN = os.environ["BIN"]
TEST_BIN = os.environ["TEST_BIN"]
TESTDATA = os.environ["TESTDATA"]
FIXTURES = os.environ["FIXTURES"]
MAX_DEPTH = 16


def read(path):
    """The bytes of a file."""
    with open(path, "rb") as f:
        return f.read()


def winpath(path):
    """The path of a Linux file as Wine's Z: drive shows it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run_exe(exe, *args, timeout=120, env=None, cwd=None):
    """Runs a program under Wine: one of ours by its name in BIN, or any path or command Wine knows
    (a Linux path, "C:\\...", "reg"); returns (exit code, stdout, stderr) with CRs removed."""
    ours = os.path.join(BIN, exe)
    p = subprocess.run([WINE_RUN, ours if os.path.isfile(ours) else exe, *args], stdin=subprocess.DEVNULL,
                       capture_output=True, timeout=timeout, env=env, cwd=cwd)
    return p.returncode, p.stdout.decode("latin-1").replace("\r", ""), p.stderr.decode("latin-1").replace("\r", "")


def read_png(path):
    """width, height and rows of RGBA tuples of an 8-bit RGBA PNG."""
    data = open(path, "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    at, idat = 8, b""
    while at < len(data):
        n, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + n]
        if kind == b"IHDR":
            w, h, depth, ctype = struct.unpack(">IIBB", body[:10])
            assert (depth, ctype) == (8, 6), "not 8-bit RGBA"
        elif kind == b"IDAT":
            idat += body
        at += 12 + n
    raw, stride, prev, rows = zlib.decompress(idat), w * 4, bytes(w * 4), []
    for y in range(h):
        f, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - 4] if i >= 4 else 0
            b = prev[i]
            c = prev[i - 4] if i >= 4 else 0
            if f == 1:
                line[i] = (line[i] + a) & 255
            elif f == 2:
                line[i] = (line[i] + b) & 255
            elif f == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        prev = bytes(line)
        rows.append([tuple(line[4 * x:4 * x + 4]) for x in range(w)])
    return w, h, rows


def wrestool_list(exe):
    """{(type, name, language): size} of an executable's resources, as wrestool -l lists them."""
    text = subprocess.run(["wrestool", "-l", exe], capture_output=True, text=True, errors="replace").stdout
    out = {}
    for m in re.finditer(r"^--type=(\d+) --name=(\S+) --language=(\d+) \[.*size=(\d+)\]$", text, re.M):
        out[(int(m.group(1)), m.group(2).strip("'"), int(m.group(3)))] = int(m.group(4))
    return out


def wrestool_raw(exe, rtype, name, language=None):
    """The bytes of one resource (wrestool -x --raw), of every language or of the one given."""
    chosen = [] if language is None else [f"--language={language}"]
    return subprocess.run(["wrestool", "-x", "--raw", f"--type={rtype}", f"--name={name}", *chosen, exe],
                          capture_output=True).stdout


# The line before a failed step's ERROR line: the system's words (FormatMessageA under Wine 8) for
# the errors the tests cause.
REASON_ACCESS_DENIED = "reason: Access denied."
REASON_NO_MEMORY = "reason: Not enough memory."
REASON_DISK_FULL = "reason: Disk full."

ICON_SIZES = (16, 24, 32, 48, 64, 128, 256)
# What the setup writes into the game executable: RT_ICON 1-7 and RT_GROUP_ICON 1, language 0.
ICON_RESOURCES = {(3, str(k), 0) for k in range(1, 8)} | {(14, "1", 0)}
# The setup's own icon, drawn by tools/setup-icon: RT_ICON 1-7 and its RT_GROUP_ICON 1, US English.
SETUP_ICON_RESOURCES = {(3, str(k), 1033) for k in range(1, 8)} | {(14, "1", 1033)}
# The version information that each of our programs carries: RT_VERSION 1, US English.
VERSION_RESOURCE = (16, "1", 1033)


def version_fields(exe):
    """{name: value} of a program's version information as Windows reads it (tests' version_fields)."""
    rc, out, _ = run_exe(os.path.join(TEST_BIN, "version_fields.exe"), winpath(exe))
    return dict(line.split(": ", 1) for line in out.splitlines() if ": " in line) if rc == 0 else {}


def expected_version_fields(description, filename):
    return {"fixed file version": "1.0.0.0", "fixed product version": "1.0.0.0", "language": "1033 codepage 1200",
            "CompanyName": "Vessik port (fan project)", "FileDescription": description, "FileVersion": "1.0.0.0",
            "LegalCopyright": "Copyright the Drovenhelm PC port contributors, MIT licence",
            "OriginalFilename": filename, "ProductName": "Drovenhelm", "ProductVersion": "1.0.0.0"}


def game_runs(exe):
    """Starts an installed (or copied) stand-in game, which writes a report and exits 0 at once
    when DROVENHELM_GAME_REPORT names a file. True when it did both."""
    report = os.path.join(os.path.dirname(exe), "game-report.txt")
    if os.path.exists(report):
        os.remove(report)
    env = dict(os.environ, DROVENHELM_GAME_REPORT=winpath(report))
    p = subprocess.run([WINE_RUN, exe], stdin=subprocess.DEVNULL, capture_output=True, env=env, timeout=120)
    ok = p.returncode == 0 and os.path.exists(report)
    if os.path.exists(report):
        os.remove(report)
    return ok


def discinfo(*args, timeout=120):
    return run_exe("discinfo.exe", *args, timeout=timeout)


def emblem(*args, timeout=120):
    return run_exe("emblem.exe", *args, timeout=timeout)


def report_entries(report):
    """{lower-case path with '/': size or None for a folder} from discinfo's dir and file lines."""
    out = {}
    for line in report.splitlines():
        if line.startswith("dir "):
            out[line[4:].replace("\\", "/").lower()] = None
        elif line.startswith("file "):
            size, path = line[5:].split(" ", 1)
            out[path.replace("\\", "/").lower()] = int(size)
    return out


def report_value(report, key):
    for line in report.splitlines():
        if line.startswith(key + ": "):
            return line[len(key) + 2:]
    return None


def iso_info_entries(image):
    """The same map from libcdio's iso-info, multi-extent parts summed, cut at the copy's depth limit."""
    out = {}
    for kind, rel, _, size in iso_info_listing(image):
        path = rel.lower()
        depth = path.count("/")  # folders above: a file in a folder at depth 16 has 16
        if kind == "d":
            if depth + 1 <= MAX_DEPTH:
                out[path] = None
        elif depth <= MAX_DEPTH:
            out[path] = out.get(path, 0) + size
    return out


def tree_digest(root, max_depth=None):
    """{lower-case relative path: sha1 of the file, or None for a folder}."""
    out = {}
    for here, dirs, files in os.walk(root):
        rel = os.path.relpath(here, root)
        depth = 0 if rel == "." else rel.count(os.sep) + 1
        if max_depth is not None and depth > max_depth:
            dirs[:] = []
            continue
        for d in dirs:
            if max_depth is None or depth + 1 <= max_depth:
                out[os.path.normpath(os.path.join(rel, d)).replace(os.sep, "/").lower()] = None
        for f in files:
            with open(os.path.join(here, f), "rb") as fh:
                out[os.path.normpath(os.path.join(rel, f)).replace(os.sep, "/").lower()] = hashlib.sha1(fh.read()).hexdigest()
    return out


def diff(a, b, la="a", lb="b"):
    lines = []
    for k in sorted(set(a) | set(b)):
        if a.get(k, "-missing-") != b.get(k, "-missing-"):
            lines.append(f"  {k}: {la}={a.get(k, '-missing-')} {lb}={b.get(k, '-missing-')}")
    return "\n".join(lines[:20])


PREFIX = os.environ["WINEPREFIX"]
DRIVE_C = os.path.join(PREFIX, "drive_c")
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Drovenhelm_Vessik"


def user_dir(prefix=PREFIX):
    """The prefix's folder of the current user (root on our machines, but not assumed)."""
    users = os.path.join(prefix, "drive_c", "users")
    for name in sorted(os.listdir(users)):
        if name not in ("Public",) and os.path.isdir(os.path.join(users, name, "Temp")):
            return os.path.join(users, name)
    raise RuntimeError("no user folder in the prefix")


def setup_log(prefix=PREFIX):
    """The lines of the setup's log in the prefix's temporary folder, or None without one."""
    path = os.path.join(user_dir(prefix), "Temp", "drovenhelm_setup.log")
    if not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        return f.read().decode("latin-1").replace("\r", "").splitlines()


def shortcut_files(prefix=PREFIX):
    """The Start-menu and the desktop shortcut of the prefix's user."""
    u = user_dir(prefix)
    return (os.path.join(u, "AppData", "Roaming", "Microsoft", "Windows", "Start Menu", "Programs", "Drovenhelm.lnk"),
            os.path.join(u, "Desktop", "Drovenhelm.lnk"))


def reg_query(key):
    """{value name: (type, data)} of a registry key, or None when the key does not exist."""
    p = subprocess.run([WINE_RUN, "reg", "query", key], stdin=subprocess.DEVNULL, capture_output=True)
    if p.returncode != 0:
        return None
    out = {}
    for line in p.stdout.decode("latin-1").replace("\r", "").splitlines():
        m = re.match(r"^    (\S+)    (REG_\w+)    (.*)$", line)
        if m:
            out[m.group(1)] = (m.group(2), m.group(3))
    return out


def reg_delete(key):
    subprocess.run([WINE_RUN, "reg", "delete", key, "/f"], stdin=subprocess.DEVNULL, capture_output=True)


class Checks:
    """Collects ok/FAIL lines; the script exits 1 when any failed."""

    def __init__(self):
        self.failures = []

    def __call__(self, ok, what):
        print(("ok   " if ok else "FAIL ") + what, flush=True)
        if not ok:
            self.failures.append(what)
        return ok

    def finish(self):
        print(f"{len(self.failures)} failed")
        raise SystemExit(1 if self.failures else 0)
