#!/usr/bin/python3
"""Build the editor's pictures, logo and display font into OUTDIR.

Usage (from the repository root): /usr/bin/python3 tools/artwork/build.py resources/ [--jobs 8]

Renders pedal.pov with POV-Ray 3.7 and writes background.jpg, knob_sprite.jpg, led.jpg,
footswitch_up.jpg, footswitch_down.jpg, logo.svg, bold_font.ttf and bold_font_LICENSE.txt.
Every random choice is seeded, so a rerun gives the same pictures.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor

import numpy as np
from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True      # keep the tool folder clean
sys.path.insert(0, HERE)
import logo  # noqa: E402
import maps  # noqa: E402

W, H = 704, 768
# where the panel draws its own pictures over the photograph (x, y, size in picture pixels:
# the panel's base-size rectangles times 1.6)
KNOB = (272, 168, 160)
LED = (320, 456, 64)
SWITCH = (296, 520, 112)
FRAMES, COLUMNS = 128, 8
FRAME_STEP = 270.0 / 127.0
AA = ["+A0.1", "+AM2", "+R3", "+J0"]
FONT_SRC = "/usr/share/fonts/truetype/play/Play-Bold.ttf"
FONT_COPYRIGHT = "/usr/share/doc/fonts-play/copyright"
JPEG_QUALITY = {"background.jpg": 90, "knob_sprite.jpg": 90, "led.jpg": 92,
                "footswitch_up.jpg": 92, "footswitch_down.jpg": 92}


def knob_angle(i):
    """pointer angle of sprite frame i, degrees clockwise from straight up: even steps of
    270/127 degrees (the whole 270 degree sweep over the 127 steps of the control), anchored so
    that frame 64, the one shown for the default value 0.5, points exactly up"""
    return (i - 64) * FRAME_STEP


def render(workdir, name, decl, box=None, threads=8):
    """render the whole picture, or only the square box = (x, y, size); returns float RGB"""
    out = os.path.join(workdir, name)
    cmd = ["povray", "-D", "-GA", "+FN", f"+W{W}", f"+H{H}", *AA, f"+WT{threads}", f"+O{out}",
           f"+L{workdir}", f"+L{HERE}"]
    cmd += [f"Declare={k}={v}" for k, v in decl.items()]
    if box:
        x, y, s = box
        cmd += [f"+SC{x}", f"+EC{x + s + 1}", f"+SR{y}", f"+ER{y + s + 1}"]
    cmd.append(os.path.join(HERE, "pedal.pov"))
    env = dict(os.environ, HOME=workdir)   # keeps POV-Ray away from the user's own settings
    subprocess.run(cmd, check=True, cwd=workdir, env=env,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    im = np.asarray(Image.open(out).convert("RGB"), np.float32)
    if box:
        x, y, s = box
        im = im[y:y + s, x:x + s]
    return im


# photographic finish: light fall-off towards the corners and a fixed film grain, applied the
# same way to every crop so the drawn-over pictures meet the background without a seam
_yy, _xx = np.mgrid[0:H, 0:W].astype(np.float32)
_r = np.hypot((_xx - W / 2) / (W / 2), (_yy - H * 0.52) / (H / 2))
VIGNETTE = (1 - 0.30 * np.clip(_r, 0, 1.6) ** 2.2)[..., None]
GRAIN = np.random.default_rng(1958).normal(0, 1.6, (H, W, 1)).astype(np.float32)
TONE = np.array([1.02, 1.0, 0.96], np.float32)     # slightly warm, like tungsten-lit film


def grade(im, x=0, y=0):
    h, w = im.shape[:2]
    return np.clip(im * TONE * VIGNETTE[y:y + h, x:x + w] + GRAIN[y:y + h, x:x + w], 0, 255)


def feather(size, r_in, r_out):
    """1 inside r_in, 0 outside r_out, around the tile's centre"""
    c = (size - 1) / 2
    yy, xx = np.mgrid[0:size, 0:size]
    r = np.hypot(xx - c, yy - c)
    return np.clip((r_out - r) / (r_out - r_in), 0, 1)[..., None].astype(np.float32)


def save_jpeg(arr, path):
    # baseline, 4:2:0, JFIF 1.01 with a 1:1 aspect and no colour profile (Pillow's defaults
    # when no dpi and no icc_profile are passed)
    Image.fromarray(np.clip(arr + 0.5, 0, 255).astype(np.uint8), "RGB").save(
        path, "JPEG", quality=JPEG_QUALITY[os.path.basename(path)], subsampling=2,
        progressive=False, optimize=False)


def font_licence():
    """the OFL stanza of the Debian copyright file for the Play fonts, as plain text"""
    text = open(FONT_COPYRIGHT, encoding="utf-8").read()
    stanza = re.search(r"^Files: Play-\*\.ttf\n(.*?)(?=\n\n|\Z)", text, re.S | re.M).group(1)
    lines = stanza.split("\n")
    head = [ln for ln in lines if ln.startswith(("Copyright:", "License:"))]
    body = [ln[1:] for ln in lines if ln.startswith(" ")]
    body = ["" if ln == "." else ln for ln in body]
    return ("Play Bold (Play-Bold.ttf), unmodified, from the Debian package fonts-play.\n"
            + "\n".join(head) + "\n\n" + "\n".join(body).rstrip() + "\n")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("out", help="output folder, e.g. resources/")
    ap.add_argument("--jobs", type=int, default=8, help="parallel POV-Ray renders of knob frames")
    ap.add_argument("--frames", type=int, default=FRAMES,
                    help="render only this many evenly spread knob frames (quick look; the rest stay "
                         "background)")
    ap.add_argument("--keep", action="store_true", help="keep the work folder with maps and renders")
    a = ap.parse_args()
    os.makedirs(a.out, exist_ok=True)
    work = tempfile.mkdtemp(prefix="kelvor-artwork-")
    t0 = time.time()
    try:
        maps.make_all(work)
        t1 = time.time()
        print(f"maps {t1 - t0:.1f}s")

        bg = grade(render(work, "bg.png", {"KnobAngle": 0, "LedOn": 0, "SwitchDown": 0}))
        save_jpeg(bg, os.path.join(a.out, "background.jpg"))
        t2 = time.time()
        print(f"background {t2 - t1:.1f}s")

        def crop(b):
            x, y, s = b
            return bg[y:y + s, x:x + s]

        def part(name, decl, box, threads=8):
            return grade(render(work, name, decl, box, threads), box[0], box[1])

        # foot switch: at rest it is the background itself; pressed, re-rendered and blended in
        # well outside the nut so the surrounding paint stays the background's
        down = part("sw.png", {"KnobAngle": 0, "LedOn": 0, "SwitchDown": 1}, SWITCH)
        m = feather(SWITCH[2], 48, 54)
        save_jpeg(crop(SWITCH), os.path.join(a.out, "footswitch_up.jpg"))
        save_jpeg(down * m + crop(SWITCH) * (1 - m), os.path.join(a.out, "footswitch_down.jpg"))

        # lit LED plus a soft red glow on the paint that fades out before the tile's edge
        led = part("led.png", {"KnobAngle": 0, "LedOn": 1, "SwitchDown": 0}, LED)
        c = (LED[2] - 1) / 2
        yy, xx = np.mgrid[0:LED[2], 0:LED[2]]
        r = np.hypot(xx - c, yy - c)
        glow = (np.exp(-(r / 11.0) ** 2) * np.clip((30 - r) / 8, 0, 1))[..., None] \
            * np.array([150, 25, 10], np.float32)
        m = feather(LED[2], 27, 31)
        save_jpeg(np.clip(led + glow, 0, 255) * m + crop(LED) * (1 - m), os.path.join(a.out, "led.jpg"))
        t3 = time.time()
        print(f"switch and LED {t3 - t2:.1f}s")

        if a.frames >= FRAMES:
            idx = list(range(FRAMES))
        else:
            idx = sorted({round(k * (FRAMES - 1) / max(1, a.frames - 1)) for k in range(a.frames)})
        m = feather(KNOB[2], 64, 72)
        threads = max(1, 8 // a.jobs)

        def frame(i):
            f = part(f"k{i:03d}.png", {"KnobAngle": f"{knob_angle(i):.6f}", "LedOn": 0, "SwitchDown": 0},
                     KNOB, threads)
            return i, f * m + crop(KNOB) * (1 - m)

        s = KNOB[2]
        sheet = np.tile(crop(KNOB), (FRAMES // COLUMNS, COLUMNS, 1))
        with ThreadPoolExecutor(a.jobs) as ex:
            for i, f in ex.map(frame, idx):
                row, col = divmod(i, COLUMNS)
                sheet[row * s:(row + 1) * s, col * s:(col + 1) * s] = f
        save_jpeg(sheet, os.path.join(a.out, "knob_sprite.jpg"))
        t4 = time.time()
        print(f"{len(idx)} knob frames {t4 - t3:.1f}s")

        with open(os.path.join(a.out, "logo.svg"), "w", encoding="utf-8", newline="") as f:
            f.write(logo.svg_text())
        shutil.copyfile(FONT_SRC, os.path.join(a.out, "bold_font.ttf"))
        with open(os.path.join(a.out, "bold_font_LICENSE.txt"), "w", encoding="utf-8", newline="\n") as f:
            f.write(font_licence())
        print(f"total {time.time() - t0:.1f}s")
    finally:
        if a.keep:
            print("work folder:", work)
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
