"""libcdio's iso-info listing of an ISO 9660 volume, read as data (the plain ISO 9660 tree: no Joliet,
no Rock Ridge)."""
import re
import subprocess


def iso_info_listing(image, check=False):
    """(kind, relative path, first sector, size) of every entry below the root in iso-info's order:
    kind "d" for a folder, "-" for a file (each part of a multi-extent file is an entry of its own);
    names without their version and trailing dot."""
    text = subprocess.run(["iso-info", "--no-joliet", "--no-rock-ridge", "-l", image], capture_output=True,
                          text=True, errors="replace", check=check).stdout
    out, folder = [], None
    for line in text.splitlines():
        m = re.match(r"^(/.*):$", line)
        if m:
            folder = m.group(1).strip("/")
            continue
        m = re.match(r"^\s+([d-]) \[LSN\s+(\d+)\]\s+(\d+) \S+ \d+ \d+ [\d:]+\s+(.*)$", line)
        if not m or folder is None or m.group(4) in (".", ".."):
            continue
        name = re.sub(r";\d*$", "", m.group(4)).rstrip(".")
        out.append((m.group(1), folder + "/" + name if folder else name, int(m.group(2)), int(m.group(3))))
    return out
