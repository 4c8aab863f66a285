"""Texture maps for pedal.pov, all seeded so every run gives the same pictures.

wear.png   grey, 0 = paint, 255 = bare aluminium (worn edges, chips, scratches)
decal.png  RGBA printing and grime on the enclosure top
badge.png  RGB face of the maker's badge plate; badge_h.png its relief (raised letters)
wood.png   RGB dark wooden table top
The wear, decal and wood maps cover the whole 704 x 768 picture plane at S times its resolution.
"""
import math
import os

import numpy as np
from PIL import Image, ImageDraw, ImageFont, ImageFilter

import logo

W, H = 704, 768
S = 2                                  # map pixels per picture pixel
FONT = "/usr/share/fonts/truetype/play/Play-Bold.ttf"
EX0, EX1, EY0, EY1 = 176, 528, 106, 742   # enclosure outline in picture pixels
R = 12                                 # its corner radius
BADGE = (272, 700, 432, 730)           # badge plate x0, y0, x1, y1
BADGE_S = 5                            # badge map pixels per picture pixel


def noise(w, h, cell, rng, octaves=4):
    """fractal value noise in [0, 1] from bicubic-upscaled random grids"""
    acc = np.zeros((h, w), np.float32)
    amp, tot = 1.0, 0.0
    for o in range(octaves):
        c = max(1, int(cell / (2 ** o)))
        gw, gh = w // c + 3, h // c + 3
        g = rng.random((gh, gw)).astype(np.float32)
        im = Image.fromarray(g, "F").resize((gw * c, gh * c), Image.BICUBIC)
        acc += amp * np.asarray(im, np.float32)[:h, :w]
        tot += amp
        amp *= 0.5
    return acc / tot


def stretched_noise(w, h, cell_x, cell_y, rng):
    """value noise with separate feature sizes along x and y (grain runs along x)"""
    gw, gh = int(w / cell_x) + 3, int(h / cell_y) + 3
    g = rng.random((gh, gw)).astype(np.float32)
    im = Image.fromarray(g, "F").resize((int(gw * cell_x), int(gh * cell_y)), Image.BICUBIC)
    return np.asarray(im, np.float32)[:h, :w]


def enclosure_distance(w, h, s):
    """signed distance in picture pixels to the enclosure outline, positive inside"""
    yy, xx = np.mgrid[0:h, 0:w].astype(np.float32) / s
    cx, cy = (EX0 + EX1) / 2, (EY0 + EY1) / 2
    hx, hy = (EX1 - EX0) / 2 - R, (EY1 - EY0) / 2 - R
    qx, qy = np.abs(xx - cx) - hx, np.abs(yy - cy) - hy
    return -(np.hypot(np.maximum(qx, 0), np.maximum(qy, 0)) + np.minimum(np.maximum(qx, qy), 0) - R)


def make_wear(out):
    rng = np.random.default_rng(58)
    w, h = W * S, H * S
    d = enclosure_distance(w, h, S)
    n1 = noise(w, h, 24 * S, rng, 5)
    n2 = noise(w, h, 6 * S, rng, 3)
    # the edges wear through in patches, ragged at their border
    patch = np.clip((noise(w, h, 90 * S, rng, 2) - 0.40) * 4, 0, 1)
    edge = np.clip((9 - d) / 9 + (n1 - 0.5) * 1.4 + (n2 - 0.5) * 0.7, 0, 1) * patch
    edge = np.where(edge > 0.5, 1.0, edge * 0.2)
    # chips: mostly in the lower half, where boots hit it, and near the edges
    yy = np.mgrid[0:h, 0:w][0].astype(np.float32) / S
    chips = (noise(w, h, 8 * S, rng, 3) > 0.80).astype(np.float32)
    chips *= (noise(w, h, 50 * S, rng, 2) > 0.60)
    chips *= (np.clip((yy - 380) / 300, 0, 1) + np.clip((40 - d) / 40, 0, 1)) > 0.5
    wear = np.maximum(edge, chips)
    img = Image.fromarray((wear * 255).astype(np.uint8))
    dr = ImageDraw.Draw(img)
    for _ in range(55):                   # scratches: thin, slightly bent strokes
        x, y = rng.uniform(EX0, EX1) * S, rng.uniform(EY0, EY1) * S
        a = rng.uniform(0, math.pi) if rng.random() < .5 else rng.normal(0.2, 0.3)
        L = rng.uniform(8, 60) * S
        pts = [(x + math.cos(a) * L * t + math.sin(t * 3) * 2 * S, y + math.sin(a) * L * t)
               for t in np.linspace(0, 1, 8)]
        dr.line(pts, fill=int(rng.uniform(90, 200)), width=int(rng.choice([1, 1, 2])))
    img = img.filter(ImageFilter.GaussianBlur(0.6 * S))
    img.save(os.path.join(out, "wear.png"))
    return np.asarray(img, np.float32) / 255.0


def spaced_text(draw, xy, text, font, fill, spacing=0.0):
    """text centred at xy with extra letter spacing"""
    widths = [font.getlength(c) for c in text]
    x = xy[0] - (sum(widths) + spacing * (len(text) - 1)) / 2
    for c, wd in zip(text, widths):
        draw.text((x, xy[1]), c, font=font, fill=fill, anchor="lm")
        x += wd + spacing


def make_decal(out, wear):
    rng = np.random.default_rng(59)
    w, h = W * S, H * S
    ink = Image.new("L", (w, h), 0)
    di = ImageDraw.Draw(ink)
    f = lambda px: ImageFont.truetype(FONT, int(px * S))
    cx = (EX0 + EX1) / 2 * S
    spaced_text(di, (cx, 348 * S), "SPEED", f(17), 255, 3 * S)           # under the knob
    spaced_text(di, (cx, 128 * S), "DC 9V", f(11), 255, 1 * S)
    # jack labels with arrows: signal enters on the right, leaves on the left
    for label, x0 in (("IN", EX1 - 34), ("OUT", EX0 + 34)):
        spaced_text(di, (x0 * S, 198 * S), label, f(14), 255, 2 * S)
        y, xs = 216 * S, x0 * S
        di.line([(xs - 13 * S, y), (xs + 13 * S, y)], fill=255, width=2 * S)
        tip = xs - 16 * S
        di.polygon([(tip, y), (tip + 7 * S, y - 4 * S), (tip + 7 * S, y + 4 * S)], fill=255)
    spaced_text(di, (cx, 668 * S), "KELVOR 58", f(40), 255, 2 * S)
    # ink flakes off where the paint is worn and in fine specks
    wl = np.asarray(Image.fromarray((wear * 255).astype(np.uint8)).resize((w, h)), np.float32) / 255
    loss = np.clip(1 - wl * 1.5 - (noise(w, h, 3 * S, rng, 2) > 0.80) * 0.7, 0, 1)
    inka = np.asarray(ink, np.float32) / 255 * loss * 0.92
    # grime: faint dark smudges, more near the edges and around the switch
    d = enclosure_distance(w, h, S)
    g, g2 = noise(w, h, 40 * S, rng, 4), noise(w, h, 8 * S, rng, 3)
    yy, xx = np.mgrid[0:h, 0:w].astype(np.float32) / S
    near_sw = np.clip(1 - np.hypot(xx - 352, yy - 576) / 110, 0, 1)
    grime = (np.clip((g - 0.58) * 0.4, 0, 0.09) + np.clip((24 - d) / 24, 0, 1) * 0.12
             + near_sw * 0.10 * g) * g2
    grime *= (d > 1)
    # scuffs: the paint rubbed thin and pale where feet land and along the bottom edge
    lower = np.clip((yy - 430) / 250, 0, 1)
    scuff = np.clip((noise(w, h, 30 * S, rng, 3) - 0.52) * 3.5, 0, 1) * np.maximum(near_sw * 1.4, lower * 0.8)
    scuff *= noise(w, h, 2 * S, rng, 2) * 0.45 * (d > 2)
    a = np.clip(inka + grime * (1 - inka), 0, 1)
    ink_rgb = np.array([13, 10, 8], np.float32)
    pale = np.array([236, 190, 150], np.float32)
    # scuff under the ink and grime: blend its colour in by its share of the total coverage
    share = (np.clip(scuff, 0, 1) * (1 - a))[..., None]
    total = np.clip(a + share[..., 0], 1e-4, 1)[..., None]
    rgb = (ink_rgb * a[..., None] + pale * share) / total
    a = total[..., 0]
    Image.fromarray(np.dstack([rgb, a * 255]).astype(np.uint8), "RGBA").save(os.path.join(out, "decal.png"))


def make_badge(out):
    """badge face: black enamel with silver logo and name; the relief map raises the metal parts"""
    bw, bh = (BADGE[2] - BADGE[0]) * BADGE_S, (BADGE[3] - BADGE[1]) * BADGE_S
    m = Image.new("L", (bw, bh), 0)
    d = ImageDraw.Draw(m)
    inset = 2 * BADGE_S
    d.rounded_rectangle((inset, inset, bw - 1 - inset, bh - 1 - inset), radius=3 * BADGE_S,
                        outline=255, width=int(1.2 * BADGE_S))
    size = bh - 2 * inset - 4 * BADGE_S
    fills, holes, after = logo.raster_polygons(7 * BADGE_S, (bh - size) / 2, size)
    for p in fills:
        d.polygon(p, fill=255)
    for p in holes:
        d.polygon(p, fill=0)
    for p in after:
        d.polygon(p, fill=255)
    font = ImageFont.truetype(FONT, int(14 * BADGE_S))
    spaced_text(d, (bw / 2 + 9 * BADGE_S, bh / 2), "QUORVANTA", font, 255, 2.2 * BADGE_S)
    hmap = m.filter(ImageFilter.GaussianBlur(0.5 * BADGE_S))
    hmap.save(os.path.join(out, "badge_h.png"))
    a = np.asarray(m.filter(ImageFilter.GaussianBlur(0.25 * BADGE_S)), np.float32)[..., None] / 255
    enamel = np.array([18, 17, 16], np.float32)
    silver = np.array([205, 200, 190], np.float32)
    rng = np.random.default_rng(60)
    brushed = stretched_noise(bw, bh, 40, 0.7, rng)[..., None]   # fine horizontal brushing
    metal = silver * (0.92 + 0.08 * brushed)
    Image.fromarray(np.clip(enamel * (1 - a) + metal * a, 0, 255).astype(np.uint8)).save(
        os.path.join(out, "badge.png"))


def make_wood(out):
    """dark walnut planks running across the picture: flat-sawn growth rings, fibres, pores"""
    w, h = W * S, H * S
    yy, xx = np.mgrid[0:h, 0:w].astype(np.float32)
    img = np.zeros((h, w, 3), np.float32)
    rng = np.random.default_rng(61)
    # plank seams at uneven spacing, so the table is not a repeated strip
    seams, y = [], -rng.uniform(40, 120) * S
    while y < h:
        seams.append(y)
        y += rng.uniform(150, 230) * S
    seams.append(y)
    palette = [np.array(c, np.float32) / 255 for c in
               ((66, 38, 20), (56, 32, 17), (74, 44, 24), (50, 29, 17), (62, 36, 21))]
    for p, (y0, y1) in enumerate(zip(seams[:-1], seams[1:])):
        m = (yy >= y0) & (yy < y1)
        if not m.any():
            continue
        r = np.random.default_rng(200 + p)
        base = palette[p % len(palette)] * r.uniform(0.9, 1.08)
        # growth rings: iso-lines of a distance to the heart, seen as nested arches (cathedrals)
        hx = r.uniform(-0.2, 1.2) * w
        hy = (y0 + y1) / 2 + r.uniform(-1, 1) * 60 * S
        warp = (noise(w, h, 220 * S, r, 3) - 0.5) * 34 * S + 5 * S * np.sin(xx / (110 * S) + r.uniform(0, 6))
        dist = np.sqrt(((yy - hy + warp) * 1.0) ** 2 + ((xx - hx) * r.uniform(0.03, 0.07)) ** 2)
        period = r.uniform(6, 11) * S
        ph = (dist / period) % 1.0
        late = np.clip((ph - 0.55) / 0.25, 0, 1) * np.clip((1.0 - ph) / 0.12, 0, 1)  # dark latewood band
        ring_strength = 0.55 + 0.45 * noise(w, h, 60 * S, r, 2)
        # fibres: fine streaks stretched along the grain, a little wavy
        fib = stretched_noise(w, h + 64 * S, 90 * S, 1.3 * S, r)
        shift = (4 * S * np.sin(xx / (150 * S) + r.uniform(0, 6))).astype(np.int32)
        fib = np.take_along_axis(fib, np.clip(yy.astype(np.int32) + shift + 32 * S, 0, h + 64 * S - 1), 0)
        fib2 = stretched_noise(w, h, 300 * S, 7 * S, r)
        # pores: short dark dashes along the grain, denser in the latewood
        pores = (stretched_noise(w, h, 5 * S, 0.8 * S, r) > 0.86 - 0.06 * late).astype(np.float32)
        tone = (0.95 - 0.24 * late * ring_strength + 0.38 * (fib - 0.5) + 0.30 * (fib2 - 0.5)
                - 0.22 * pores)
        # slow colour drift along the plank
        drift = 1 + 0.12 * (noise(w, h, 260 * S, r, 2) - 0.5)
        col = base[None, None, :] * (tone * drift)[..., None]
        # latewood a touch redder, earlywood more golden
        col *= (1 + np.array([0.04, -0.02, -0.06], np.float32) * (late[..., None] - 0.5))
        img[m] = col[m]
        # the seam: a dark groove with a soft lip
        gd = np.abs(yy - y0)
        img *= (1 - 0.75 * np.exp(-(gd / (1.2 * S)) ** 2) - 0.12 * np.exp(-(gd / (5 * S)) ** 2))[..., None]
    # a few butt joints where one board ends and the next begins
    for k, (y0, y1) in enumerate(zip(seams[:-1], seams[1:])):
        if k % 2 == 0:
            continue
        x = np.random.default_rng(300 + k).uniform(0.05, 0.95) * w
        band = (yy >= y0) & (yy < y1)
        img[band & (np.abs(xx - x) < 1.0 * S)] *= 0.5
        img[band & (xx > x)] *= 0.94       # the next board is a shade darker
    # worn finish: soft lighter scuffs and a few fine scratches
    scuff = np.clip((noise(w, h, 120 * S, rng, 3) - 0.55) * 0.5, 0, 0.08)
    img = img * (1 + scuff[..., None])
    pil = Image.fromarray((np.clip(img, 0, 1) * 255).astype(np.uint8))
    dr = ImageDraw.Draw(pil, "RGBA")
    for _ in range(70):
        x, y = rng.uniform(0, w), rng.uniform(0, h)
        a = rng.normal(0, 0.5)
        L = rng.uniform(20, 120) * S
        dr.line([(x, y), (x + math.cos(a) * L, y + math.sin(a) * L)],
                fill=(150, 110, 80, int(rng.uniform(10, 35))), width=1)
    pil.save(os.path.join(out, "wood.png"))


def make_all(out):
    wear = make_wear(out)
    make_decal(out, wear)
    make_badge(out)
    make_wood(out)
