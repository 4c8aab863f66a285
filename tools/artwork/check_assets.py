#!/usr/bin/python3
"""Check the editor's asset files: check_assets.py [RESOURCES]  (default: resources/)

JPEGs: baseline, JFIF 1.01 with a 1:1 aspect, 8-bit YCbCr 4:2:0, no colour profile, the right
pixel size; knob frames, LED and switch pictures blend into the background at their edges; the
knob's pointer turns clockwise in even steps from lower left (frame 0) through straight up
(frame 64) to lower right (frame 127). Logo: SVG 1.1, CRLF, 256px, seven paths and one polygon,
all white. Font: TrueType outlines covering the editor's texts, with its licence beside it.
Prints one line per file and exits with 1 if anything is wrong.
"""
import math
import os
import struct
import sys
import xml.etree.ElementTree as ET

import numpy as np
from PIL import Image

JPEGS = {"background.jpg": (704, 768), "knob_sprite.jpg": (1280, 2560), "led.jpg": (64, 64),
         "footswitch_up.jpg": (112, 112), "footswitch_down.jpg": (112, 112)}
# tiles the panel draws over the background, in background pixels (x, y, size)
TILES = {"knob": (272, 168, 160), "led.jpg": (320, 456, 64),
         "footswitch_up.jpg": (296, 520, 112), "footswitch_down.jpg": (296, 520, 112)}
FRAME, COLUMNS, ROWS = 160, 8, 16
FRAME_STEP = 270.0 / 127.0
EDITOR_TEXTS = ["KELVOR 58", "Get more plug-ins!", "In", "Out", "Mix", "Sync",
                "New update available on quorvanta.example!"]
DEBIAN_FONT = "/usr/share/fonts/truetype/play/Play-Bold.ttf"

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
    return ok


def jpeg_segments(data):
    """(marker, payload) pairs up to the start of scan"""
    assert data[:2] == b"\xff\xd8", "no SOI"
    pos, out = 2, []
    while pos < len(data):
        if data[pos] != 0xFF:
            raise ValueError(f"bad marker at {pos}")
        marker = data[pos + 1]
        length = struct.unpack(">H", data[pos + 2:pos + 4])[0]
        out.append((marker, data[pos + 4:pos + 2 + length]))
        if marker == 0xDA:
            break
        pos += 2 + length
    return out


def check_jpeg(path, size):
    name = os.path.basename(path)
    data = open(path, "rb").read()
    segs = jpeg_segments(data)
    markers = [m for m, _ in segs]
    app0 = segs[0][1] if segs and segs[0][0] == 0xE0 else b""
    check(app0[:5] == b"JFIF\0", f"{name}: first segment is not a JFIF APP0")
    if app0[:5] == b"JFIF\0":
        ver, units, xd, yd = app0[5:7], app0[7], *struct.unpack(">HH", app0[8:12])
        check(ver == b"\x01\x01", f"{name}: JFIF version {ver[0]}.{ver[1]:02d}, want 1.01")
        check(units == 0 and xd == yd, f"{name}: JFIF density units {units}, {xd}:{yd}, want an aspect of 1:1")
    check(not any(m == 0xE2 and p.startswith(b"ICC_PROFILE") for m, p in segs), f"{name}: has an ICC profile")
    sofs = [m for m in markers if 0xC0 <= m <= 0xCF and m not in (0xC4, 0xC8, 0xCC)]
    check(sofs == [0xC0], f"{name}: frame markers {[hex(m) for m in sofs]}, want baseline SOF0 only")
    sof = dict(segs).get(0xC0)
    if sof:
        prec, h, w, n = sof[0], *struct.unpack(">HH", sof[1:5]), sof[5]
        comps = [(sof[6 + 3 * i], sof[7 + 3 * i]) for i in range(n)]
        check(prec == 8, f"{name}: {prec}-bit samples")
        check((w, h) == size, f"{name}: {w}x{h}, want {size[0]}x{size[1]}")
        check(comps == [(1, 0x22), (2, 0x11), (3, 0x11)], f"{name}: components {comps}, want YCbCr 4:2:0")
    im = Image.open(path)
    im.load()                              # decodes the whole scan
    check(im.mode == "RGB", f"{name}: decodes to {im.mode}")
    return np.asarray(im.convert("RGB"), np.float32)


def ring_difference(tile, ref, width=4):
    """mean absolute difference over the outer ring of a tile"""
    m = np.ones(tile.shape[:2], bool)
    m[width:-width, width:-width] = False
    return float(np.abs(tile[m] - ref[m]).mean())


def pointer_angle(frame):
    """direction of the white line on the knob's top, degrees clockwise from straight up: the
    principal axis of its pixels (the knob's top sits a few pixels off the tile's centre in
    perspective, so the line's own direction is measured, not its bearing from the centre)"""
    c = (frame.shape[0] - 1) / 2
    yy, xx = np.mgrid[0:frame.shape[0], 0:frame.shape[1]]
    sel = (frame.min(axis=2) > 190) & (np.hypot(xx - c, yy - c) < 46)
    if sel.sum() < 10:
        return None
    x, y = xx[sel] - c, c - yy[sel]           # y up
    mx, my = x.mean(), y.mean()
    w, v = np.linalg.eigh(np.cov(np.vstack([x - mx, y - my])))
    dx, dy = v[:, np.argmax(w)]
    if dx * mx + dy * my < 0:                # point the axis away from the centre
        dx, dy = -dx, -dy
    return math.degrees(math.atan2(dx, dy))


def check_pictures(res):
    imgs = {n: check_jpeg(os.path.join(res, n), s) for n, s in JPEGS.items()}
    bg = imgs["background.jpg"]
    crop = lambda t: bg[t[1]:t[1] + t[2], t[0]:t[0] + t[2]]
    for n in ("led.jpg", "footswitch_up.jpg", "footswitch_down.jpg"):
        d = ring_difference(imgs[n], crop(TILES[n]))
        check(d < 6, f"{n}: edge differs from the background by {d:.1f} levels")
    up, down = imgs["footswitch_up.jpg"], imgs["footswitch_down.jpg"]
    check(np.abs(up - down).mean() > 2, "footswitch_down.jpg: hardly differs from the up picture")
    sheet = imgs["knob_sprite.jpg"]
    check(sheet.shape[0] == ROWS * FRAME and sheet.shape[1] == COLUMNS * FRAME, "knob_sprite.jpg: not an 8 x 16 grid")
    angles, worst_edge = [], 0.0
    for i in range(ROWS * COLUMNS):
        r, c = divmod(i, COLUMNS)
        f = sheet[r * FRAME:(r + 1) * FRAME, c * FRAME:(c + 1) * FRAME]
        worst_edge = max(worst_edge, ring_difference(f, crop(TILES["knob"])))
        angles.append(pointer_angle(f))
    check(worst_edge < 6, f"knob_sprite.jpg: a frame's edge differs from the background by {worst_edge:.1f} levels")
    if check(None not in angles, "knob_sprite.jpg: a frame without a visible pointer"):
        want = [(i - 64) * FRAME_STEP for i in range(len(angles))]
        err = max(abs(a - w) for a, w in zip(angles, want))
        check(err < 2.5, f"knob_sprite.jpg: pointer off its angle by up to {err:.1f} degrees")
        check(abs(angles[64]) < 1.5, f"knob_sprite.jpg: frame 64 points at {angles[64]:.1f} degrees, not up")
        check(all(b > a for a, b in zip(angles, angles[1:])), "knob_sprite.jpg: pointer does not turn clockwise")
        print(f"pictures: knob edges within {worst_edge:.1f} levels of the background, frame 0 / 64 / 127 "
              f"at {angles[0]:.1f} / {angles[64]:.1f} / {angles[127]:.1f} degrees, worst {err:.2f} off")


def check_logo(path):
    raw = open(path, "rb").read()
    text = raw.decode("utf-8")
    check(raw.count(b"\n") == raw.count(b"\r\n") and b"\r\n" in raw, "logo.svg: line ends are not all CRLF")
    root = ET.fromstring(text)
    ns = "{http://www.w3.org/2000/svg}"
    check(root.tag == ns + "svg" and root.get("version") == "1.1", "logo.svg: not an SVG 1.1 root")
    check(root.get("width") == "256px" and root.get("height") == "256px", "logo.svg: size is not 256px")
    check(root.get("viewBox") == "0 0 256 256", "logo.svg: viewBox is not 0 0 256 256")
    shapes = [e for e in root.iter() if e.tag[len(ns):] in
              ("path", "polygon", "circle", "ellipse", "rect", "line", "polyline")]
    kinds = sorted(e.tag[len(ns):] for e in shapes)
    check(kinds == ["path"] * 7 + ["polygon"], f"logo.svg: shapes {kinds}, want seven paths and one polygon")
    check(all(e.get("fill") == "#FFFFFF" for e in shapes), "logo.svg: a shape not filled #FFFFFF")
    print(f"logo.svg: {len(shapes)} shapes, {len(raw)} bytes")


def cmap_codepoints(font):
    """code points mapped by the font's Unicode cmap subtables (formats 4 and 12)"""
    num = struct.unpack(">H", font[4:6])[0]
    tables = {font[12 + 16 * i:16 + 16 * i]: struct.unpack(">II", font[20 + 16 * i:28 + 16 * i])
              for i in range(num)}
    off = tables[b"cmap"][0]
    cps = set()
    for k in range(struct.unpack(">H", font[off + 2:off + 4])[0]):
        pid, eid, sub = struct.unpack(">HHI", font[off + 4 + 8 * k:off + 12 + 8 * k])
        if (pid, eid) not in ((3, 1), (3, 10), (0, 3), (0, 4)):
            continue
        s = off + sub
        fmt = struct.unpack(">H", font[s:s + 2])[0]
        if fmt == 4:
            segx2 = struct.unpack(">H", font[s + 6:s + 8])[0]
            ends = struct.unpack(f">{segx2 // 2}H", font[s + 14:s + 14 + segx2])
            starts = struct.unpack(f">{segx2 // 2}H", font[s + 16 + segx2:s + 16 + 2 * segx2])
            for a, b in zip(starts, ends):
                if a != 0xFFFF:
                    cps.update(range(a, b + 1))
        elif fmt == 12:
            n = struct.unpack(">I", font[s + 12:s + 16])[0]
            for g in range(n):
                a, b, _ = struct.unpack(">III", font[s + 16 + 12 * g:s + 28 + 12 * g])
                cps.update(range(a, b + 1))
    return tables, cps


def check_font(res):
    path = os.path.join(res, "bold_font.ttf")
    font = open(path, "rb").read()
    check(font[:4] == b"\x00\x01\x00\x00", "bold_font.ttf: not a TrueType (sfnt 1.0) font")
    tables, cps = cmap_codepoints(font)
    check(b"glyf" in tables and b"loca" in tables, "bold_font.ttf: no glyf outlines")
    missing = sorted({ch for t in EDITOR_TEXTS for ch in t if ord(ch) not in cps})
    check(not missing, f"bold_font.ttf: no glyphs for {''.join(missing)!r}")
    if os.path.exists(DEBIAN_FONT):
        check(open(DEBIAN_FONT, "rb").read() == font, "bold_font.ttf: differs from Debian's Play-Bold.ttf")
    lic = os.path.join(res, "bold_font_LICENSE.txt")
    check(os.path.exists(lic) and "SIL OPEN FONT LICENSE" in open(lic, encoding="utf-8").read(),
          "bold_font_LICENSE.txt: missing or not the OFL text")
    print(f"bold_font.ttf: {len(font)} bytes, {len(cps)} characters mapped, editor texts covered: {not missing}")


def main():
    res = sys.argv[1] if len(sys.argv) > 1 else "resources"
    check_pictures(res)
    check_logo(os.path.join(res, "logo.svg"))
    check_font(res)
    for f in failures:
        print("FAIL", f)
    print("all assets OK" if not failures else f"{len(failures)} problem(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
