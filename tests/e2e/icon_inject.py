"""The game executable's icon seen from outside: emblem.exe --ico and --inject on copies of our own
executables, read back with wrestool and icotool, and every icon pixel compared with a reference
computed here from the decoded picture (emblem --png): crop to the visible pixels, a square canvas
with a margin of a sixteenth, and the alpha-weighted box filter."""
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.environ["TOOLS"])
from wine_tools import *  # noqa: E402,F403
import anim  # noqa: E402

check = Checks()
work = tempfile.mkdtemp(prefix="icon-inject-")
game_exe = os.path.join(BIN, "drovenhelm.exe")
setup_exe = os.path.join(BIN, "drovenhelm_setup.exe")



def reference_icons(w, h, rows):
    """{size: rows of (r, g, b, a)} from the decoded picture's RGBA rows."""
    xs = [x for y in range(h) for x in range(w) if rows[y][x][3]]
    ys = [y for y in range(h) for x in range(w) if rows[y][x][3]]
    x0, y0, wb, hb = min(xs), min(ys), max(xs) - min(xs) + 1, max(ys) - min(ys) + 1
    s0 = max(wb, hb)
    side = s0 + s0 // 16
    clear = (0, 0, 0, 0)
    canvas = [[clear] * side for _ in range(side)]
    cx, cy = (side - wb) // 2, (side - hb) // 2
    for r in range(hb):
        canvas[cy + r][cx:cx + wb] = rows[y0 + r][x0:x0 + wb]
    out = {}
    for S in ICON_SIZES:
        def span(t):
            a, b = t * side // S, (t + 1) * side // S
            return a, max(b, a + 1)
        icon = []
        for ty in range(S):
            ya, yb = span(ty)
            line = []
            for tx in range(S):
                xa, xb = span(tx)
                sa = sr = sg = sb = 0
                for y in range(ya, yb):
                    for r, g, b, a in canvas[y][xa:xb]:
                        sa += a
                        sr += r * a
                        sg += g * a
                        sb += b * a
                cells = (yb - ya) * (xb - xa)
                line.append((sr // sa, sg // sa, sb // sa, sa // cells) if sa else clear)
            icon.append(line)
        out[S] = icon
    return out, side


def icotool_list(ico):
    text = subprocess.run(["icotool", "-l", ico], capture_output=True, text=True).stdout
    return [line.split() for line in text.splitlines()]


def extracted_ico(exe, out):
    """The icon written in language 0 (the setup has its own beside it, in US English)."""
    subprocess.run(["wrestool", "-x", "--type=14", "--name=1", "--language=0", "-o", out, exe], capture_output=True)
    return read(out) if os.path.exists(out) else b""


setup_resources = wrestool_list(setup_exe)
pictures = {
    "a.fli": os.path.join(FIXTURES, "anim", "pillow", "a.fli"),
    "TITLE.FLI": os.path.join(TESTDATA, "gamecd", "tree", "TITLE.FLI"),
}
for name, picture in pictures.items():
    d = os.path.join(work, name.replace(".", "_"))
    os.makedirs(d)
    game, setup = os.path.join(d, "drovenhelm.exe"), os.path.join(d, "setup.exe")
    shutil.copy(game_exe, game)
    shutil.copy(setup_exe, setup)
    png, ico = os.path.join(d, "decoded.png"), os.path.join(d, "emblem.ico")
    rc, out, err = run_exe("emblem.exe", "--png", winpath(png), "--ico", winpath(ico), "--inject", winpath(game),
                           winpath(picture))
    check(rc == 0 and err == "", f"{name}: emblem --png --ico --inject on the game executable ({rc}, {err!r})")
    rc, out, err = run_exe("emblem.exe", "--inject", winpath(setup), winpath(picture))
    check(rc == 0 and err == "", f"{name}: emblem --inject on the setup ({rc}, {err!r})")

    # The resources: the icon in language 0, and the setup's own ones as they were.
    got = wrestool_list(game)
    check(set(got) == ICON_RESOURCES | {VERSION_RESOURCE}, f"{name}: the game executable holds RT_ICON 1-7 and "
          f"RT_GROUP_ICON 1 in language 0 beside its version information, and nothing else: {sorted(got)}")
    got = wrestool_list(setup)
    check(set(got) == set(setup_resources) | ICON_RESOURCES, f"{name}: the setup keeps its resources beside the icon: "
                                                             f"{sorted(got)}")
    for rtype, rname, language in setup_resources:
        check(wrestool_raw(setup, rtype, rname, language) == wrestool_raw(setup_exe, rtype, rname, language),
              f"{name}: resource {rtype}/{rname}/{language} of the setup unchanged")

    # The icon file as wrestool rebuilds it from the group is the one emblem wrote. wrestool 0.32
    # ends its file with 104 zero bytes (also for an icon linked in by windres).
    mine = read(ico)
    for exe in (game, setup):
        theirs = extracted_ico(exe, os.path.join(d, "extracted.ico"))
        check(theirs[:len(mine)] == mine and set(theirs[len(mine):]) <= {0},
              f"{name}: wrestool -x -t14 of {os.path.basename(exe)} gives emblem's icon file")
    listing = icotool_list(ico)
    want = [["--icon", f"--index={i + 1}", f"--width={s}", f"--height={s}", "--bit-depth=32", "--palette-size=0"]
            for i, s in enumerate(ICON_SIZES)]
    check(listing == want, f"{name}: icotool -l lists 16 to 256 at 32 bits: {listing}")

    # Every pixel of every size, as icotool extracts it, against the reference.
    w, h, rows = read_png(png)
    ref, side = reference_icons(w, h, rows)
    subprocess.run(["icotool", "-x", "-o", d, ico], capture_output=True)
    for i, s in enumerate(ICON_SIZES):
        path = os.path.join(d, f"emblem_{i + 1}_{s}x{s}x32.png")
        pw, ph, icon = read_png(path) if os.path.exists(path) else (0, 0, [])
        bad = [(x, y) for y in range(min(ph, s)) for x in range(min(pw, s)) if icon[y][x] != ref[s][y][x]]
        check((pw, ph) == (s, s) and not bad,
              f"{name}: the {s}-pixel icon from a {w}x{h} picture (canvas {side}) matches the reference"
              + (f"; first differences at {bad[:3]}" if bad else ""))
    check(game_runs(game), f"{name}: the game executable with its icon still runs")

# Failures: one line each, the executable untouched.
dark = anim.pbm(anim.Picture(4, 2, bytes([1, 2, 3, 0, 0, 3, 2, 1]), anim.ramp_palette(8)), 0)
dark_path = os.path.join(work, "dark.pbm")
with open(dark_path, "wb") as f:
    f.write(dark)
junk_path = os.path.join(work, "junk.fli")
with open(junk_path, "wb") as f:
    f.write(b"x" * 300)
target = os.path.join(work, "target.exe")
shutil.copy(game_exe, target)
failures = [
    ("every colour dark", dark_path, target, "ERROR: game emblem picture is empty"),
    ("not a picture", junk_path, target, "ERROR: game emblem picture not understood"),
    ("missing executable", pictures["TITLE.FLI"], os.path.join(work, "missing.exe"),
     "ERROR: cannot update the game executable's icon"),
]
for what, picture, exe, line in failures:
    rc, out, err = run_exe("emblem.exe", "--inject", winpath(exe), winpath(picture))
    check(rc == 1 and err.splitlines() == [line], f"{what}: exit 1 with {line!r} ({rc}, {err!r})")
check(read(target) == read(game_exe), "the executable is untouched by the failures")
check(not os.path.exists(os.path.join(work, "missing.exe")), "a missing executable is not created")
rc, out, err = run_exe("emblem.exe", "--ico", winpath(os.path.join(work, "dark.ico")), winpath(dark_path))
check(rc == 1 and not os.path.exists(os.path.join(work, "dark.ico")), "no icon file from a dark picture")

shutil.rmtree(work, ignore_errors=True)
check.finish()
