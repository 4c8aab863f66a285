#!/usr/bin/python3
"""Contact sheet of the built pictures, for a quick look: preview.py RESOURCES OUT.png

Left: the background as the panel shows it, with the top strip's area shaded. Middle: the same
with the lit LED, the pressed switch and knob frame 0 pasted where the panel draws them.
Right: knob frames 0, 16, ... 112, 127, the LED, both switch pictures and the logo mark.
"""
import os
import sys

from PIL import Image, ImageDraw

sys.dont_write_bytecode = True      # keep the tool folder clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import logo  # noqa: E402


def main(res, out):
    bg = Image.open(os.path.join(res, "background.jpg")).convert("RGB")
    sheet = Image.open(os.path.join(res, "knob_sprite.jpg")).convert("RGB")
    led = Image.open(os.path.join(res, "led.jpg")).convert("RGB")
    up = Image.open(os.path.join(res, "footswitch_up.jpg")).convert("RGB")
    down = Image.open(os.path.join(res, "footswitch_down.jpg")).convert("RGB")
    frame = lambda i: sheet.crop(((i % 8) * 160, (i // 8) * 160, (i % 8) * 160 + 160, (i // 8) * 160 + 160))

    strip = bg.copy().convert("RGBA")
    shade = Image.new("RGBA", strip.size, (0, 0, 0, 0))
    ImageDraw.Draw(shade).rectangle((0, 0, 703, 95), fill=(10, 10, 12, 170))
    strip = Image.alpha_composite(strip, shade).convert("RGB")
    live = bg.copy()
    live.paste(frame(0), (272, 168))
    live.paste(led, (320, 456))
    live.paste(down, (296, 520))

    W = 704 * 2 + 20 + 4 * 170
    canvas = Image.new("RGB", (W, 768), (40, 40, 40))
    canvas.paste(strip, (0, 0))
    canvas.paste(live, (724, 0))
    x0 = 704 * 2 + 20
    for k, i in enumerate(list(range(0, 128, 16)) + [127, 64]):
        canvas.paste(frame(i), (x0 + (k % 4) * 170, (k // 4) * 170))
    y = 3 * 170
    canvas.paste(led, (x0, y))
    canvas.paste(up, (x0 + 70, y))
    canvas.paste(down, (x0 + 190, y))
    mark = Image.new("L", (512, 512), 0)
    d = ImageDraw.Draw(mark)
    fills, holes, after = logo.raster_polygons(0, 0, 512)
    for group, v in ((fills, 255), (holes, 0), (after, 255)):
        for p in group:
            d.polygon(p, fill=v)
    canvas.paste((255, 255, 255), (x0 + 310, y), mark.resize((128, 128), Image.LANCZOS))
    canvas.save(out)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
