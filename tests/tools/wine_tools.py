"""Shared pieces of the end-to-end tests: running our programs under Wine and reading their reports."""
import hashlib
import os
import re
import subprocess

WINE_RUN = os.environ["WINE_RUN"]
BIN = os.environ["BIN"]
TESTDATA = os.environ["TESTDATA"]
FIXTURES = os.environ["FIXTURES"]
MAX_DEPTH = 16


def winpath(path):
    """The path of a Linux file as Wine's Z: drive shows it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run_exe(exe, *args, timeout=120):
    """Runs one of our programs under Wine; returns (exit code, stdout, stderr) with CRs removed."""
    p = subprocess.run([WINE_RUN, os.path.join(BIN, exe), *args], stdin=subprocess.DEVNULL,
                       capture_output=True, timeout=timeout)
    return p.returncode, p.stdout.decode("latin-1").replace("\r", ""), p.stderr.decode("latin-1").replace("\r", "")


def discinfo(*args, timeout=120):
    return run_exe("discinfo.exe", *args, timeout=timeout)


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
    text = subprocess.run(["iso-info", "--no-joliet", "--no-rock-ridge", "-l", image],
                          capture_output=True, text=True, errors="replace").stdout
    out, folder = {}, None
    for line in text.splitlines():
        m = re.match(r"^(/.*):$", line)
        if m:
            folder = m.group(1).strip("/")
            continue
        m = re.match(r"^\s+([d-]) \[LSN\s+\d+\]\s+(\d+) \S+ \d+ \d+ [\d:]+\s+(.*)$", line)
        if not m or folder is None or m.group(3) in (".", ".."):
            continue
        name = m.group(3)
        name = re.sub(r";\d*$", "", name).rstrip(".")
        path = (folder + "/" + name if folder else name).lower()
        depth = path.count("/")  # folders above: a file in a folder at depth 16 has 16
        if m.group(1) == "d":
            if depth + 1 <= MAX_DEPTH:
                out[path] = None
        elif depth <= MAX_DEPTH:
            out[path] = out.get(path, 0) + int(m.group(2))
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


def user_dir():
    """The prefix's folder of the current user (root on our machines, but not assumed)."""
    users = os.path.join(DRIVE_C, "users")
    for name in sorted(os.listdir(users)):
        if name not in ("Public",) and os.path.isdir(os.path.join(users, name, "Temp")):
            return os.path.join(users, name)
    raise RuntimeError("no user folder in the prefix")


def setup_log():
    path = os.path.join(user_dir(), "Temp", "drovenhelm_setup.log")
    if not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        return f.read().decode("latin-1").replace("\r", "").splitlines()


def shortcut_files():
    u = user_dir()
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
