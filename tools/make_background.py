#!/usr/bin/env python3
"""Writes the plug-in window's background picture: a 1545 x 1118 8-bit RGB PNG.

The window's parts sit on three bands of brushed metal:
  * a dark header (y < 106) with the product wordmark top-left (the about area) and room for the
    model button's white text top-right;
  * a light stage (106 <= y < 773) where the device picture sits (650 high at y 122, centred) under
    a soft spotlight, with the dark help texts at the left and "Visit Website" at the right;
  * a dark console (y >= 773) holding the two gain faders with their scales and names at the left
    and the snapshot table (white text) at the right.
Deterministic (fixed seed). Needs Pillow (Debian's python3-pil) and the fonts in resources/:

    /usr/bin/python3 tools/make_background.py resources/Background.png
"""
import math
import os
import random
import sys

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont

WIDTH, HEIGHT = 1545, 1118
HEADER_BOTTOM = 106      # the about area ends here; the light stage starts
CONSOLE_TOP = 773        # the snapshot table's top edge; the dark console starts
FADER_X = (58, 164)      # gain faders: x of each, 24 wide
FADER_TOP, FADER_HEIGHT = 840, 210
TABLE_X = 262
TRACK_INSET = 11         # the fader's thumb runs between y + 11 and y + height - 11

RESOURCES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources")

COPPER = (201, 128, 72)


def font(name, size):
    return ImageFont.truetype(os.path.join(RESOURCES, name), size)


def mix(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def vertical_bands():
    """One colour per row: the three bands, each a gentle gradient, resized across the width."""
    column = Image.new("RGB", (1, HEIGHT))
    pixels = column.load()
    for y in range(HEIGHT):
        if y < HEADER_BOTTOM:
            colour = mix((44, 46, 51), (30, 31, 35), y / HEADER_BOTTOM)
        elif y < CONSOLE_TOP:
            colour = mix((224, 221, 214), (196, 192, 184), (y - HEADER_BOTTOM) / (CONSOLE_TOP - HEADER_BOTTOM))
        else:
            colour = mix((33, 35, 39), (17, 18, 21), (y - CONSOLE_TOP) / (HEIGHT - CONSOLE_TOP))
        pixels[0, y] = colour
    return column.resize((WIDTH, HEIGHT), Image.NEAREST)


def brushed_grain(rng, strength):
    """Horizontal streaks around 128: coarse noise stretched along the rows."""
    cols = WIDTH // 48
    noise = Image.new("L", (cols, HEIGHT))
    noise.putdata([int(128 + rng.gauss(0.0, 1.0) * strength) for _ in range(cols * HEIGHT)])
    return noise.resize((WIDTH, HEIGHT), Image.BILINEAR)


def add_grain(image, grain):
    return ImageChops.add(image, Image.merge("RGB", (grain, grain, grain)), 1.0, -128)


def elliptic_mask(box, blur, inner=255):
    mask = Image.new("L", (WIDTH, HEIGHT), 0)
    ImageDraw.Draw(mask).ellipse(box, fill=inner)
    return mask.filter(ImageFilter.GaussianBlur(blur))


def stage_lighting(image):
    """A warm spotlight behind the device picture and darker corners on the stage."""
    stage = Image.new("L", (WIDTH, HEIGHT), 0)
    ImageDraw.Draw(stage).rectangle((0, HEADER_BOTTOM, WIDTH, CONSOLE_TOP - 1), fill=255)
    light = ImageChops.multiply(elliptic_mask((240, 40, 1305, 850), 150, 210), stage)
    image = Image.composite(Image.new("RGB", image.size, (250, 247, 240)), image, light)
    shade = ImageChops.multiply(ImageChops.invert(elliptic_mask((-300, -80, WIDTH + 300, CONSOLE_TOP + 260), 160)),
                                stage).point(lambda v: v * 80 // 255)
    return Image.composite(Image.new("RGB", image.size, (150, 146, 138)), image, shade)


def bevels(draw):
    # Header: a copper rule along its lower edge over a dark seam.
    draw.line((0, HEADER_BOTTOM - 3, WIDTH, HEADER_BOTTOM - 3), fill=(14, 14, 16), width=1)
    draw.line((0, HEADER_BOTTOM - 2, WIDTH, HEADER_BOTTOM - 2), fill=COPPER, width=2)
    draw.line((0, HEADER_BOTTOM, WIDTH, HEADER_BOTTOM), fill=(250, 248, 243), width=1)
    # Console: a lit edge over a dark seam.
    draw.line((0, CONSOLE_TOP - 2, WIDTH, CONSOLE_TOP - 2), fill=(160, 156, 149), width=1)
    draw.line((0, CONSOLE_TOP - 1, WIDTH, CONSOLE_TOP - 1), fill=(8, 8, 10), width=1)
    draw.line((0, CONSOLE_TOP, WIDTH, CONSOLE_TOP), fill=(58, 60, 66), width=1)
    # The snapshot table's header row (40 high) and the divider between faders and table.
    draw.rectangle((TABLE_X + 1, CONSOLE_TOP + 1, WIDTH, CONSOLE_TOP + 40), fill=(40, 42, 47))
    draw.line((TABLE_X + 1, CONSOLE_TOP + 41, WIDTH, CONSOLE_TOP + 41), fill=(62, 65, 71), width=1)
    draw.line((TABLE_X - 1, CONSOLE_TOP + 1, TABLE_X - 1, HEIGHT), fill=(8, 8, 10), width=1)
    draw.line((TABLE_X, CONSOLE_TOP + 1, TABLE_X, HEIGHT), fill=(54, 56, 62), width=1)


def screws(draw):
    for cx, cy in ((14, 14), (WIDTH - 15, 14), (14, HEIGHT - 15), (TABLE_X - 16, HEIGHT - 15)):
        draw.ellipse((cx - 6, cy - 6, cx + 6, cy + 6), fill=(70, 72, 78), outline=(12, 12, 14))
        draw.line((cx - 4, cy + 3, cx + 4, cy - 3), fill=(22, 22, 25), width=2)


def tracked_text(draw, xy, text, face, fill, tracking):
    x, y = xy
    for ch in text:
        draw.text((x, y), ch, font=face, fill=fill)
        x += draw.textlength(ch, font=face) + tracking
    return x


def tracked_width(draw, text, face, tracking):
    return sum(draw.textlength(ch, font=face) for ch in text) + tracking * (len(text) - 1)


def wordmark(image):
    """Top-left, inside the about area (x < 400, y < 106): an amp-knob emblem and the name."""
    glow = Image.new("L", image.size, 0)
    gdraw = ImageDraw.Draw(glow)
    gdraw.ellipse((28, 24, 86, 82), fill=120)
    glow = glow.filter(ImageFilter.GaussianBlur(10))
    image = Image.composite(Image.new("RGB", image.size, COPPER), image, glow)

    draw = ImageDraw.Draw(image)
    cx, cy, r = 57, 53, 23
    draw.ellipse((cx - r - 4, cy - r - 4, cx + r + 4, cy + r + 4), outline=COPPER, width=2)
    draw.ellipse((cx - r, cy - r, cx + r, cy + r), fill=(24, 25, 28), outline=(95, 97, 104), width=2)
    # Pointer at "eleven o'clock" plus scale dots around the knob.
    draw.line((cx, cy, cx - 12, cy - 15), fill=(236, 232, 224), width=3)
    for i in range(7):
        a = math.radians(225 - i * 45)
        px, py = cx + (r + 11) * math.cos(a), cy - (r + 11) * math.sin(a)
        draw.ellipse((px - 1.6, py - 1.6, px + 1.6, py + 1.6), fill=(150, 152, 158))

    title = font("OpenSans-Light.ttf", 46)
    tracked_text(draw, (104, 14), "Ferrowick", title, (238, 235, 228), 3)
    sub = font("OpenSans-SemiBold.ttf", 12)
    tracked_text(draw, (108, 74), "AMP & PEDAL CAPTURES", sub, COPPER, 3.2)
    return image


def fader_scales(draw):
    """Tick marks beside each fader's travel (-40 to +20 dB, linear) and the names above."""
    top, bottom = FADER_TOP + TRACK_INSET, FADER_TOP + FADER_HEIGHT - TRACK_INSET
    small = font("OpenSans-Regular.ttf", 11)
    name = font("OpenSans-SemiBold.ttf", 13)
    for index, x in enumerate(FADER_X):
        cx = x + 12
        # Recessed slot behind the track.
        draw.rounded_rectangle((cx - 5, top - 6, cx + 5, bottom + 6), radius=5, fill=(12, 12, 14),
                               outline=(50, 52, 58))
        for db in range(-40, 21, 5):
            y = bottom - (bottom - top) * (db + 40) / 60.0
            major = db % 20 == 0
            length = 9 if major else 5
            colour = (150, 152, 158) if major else (82, 84, 90)
            if db == 0:
                colour = COPPER
            draw.line((cx - 16 - length, y, cx - 16, y), fill=colour, width=1)
            draw.line((cx + 16, y, cx + 16 + length, y), fill=colour, width=1)
            if major and index == 0:
                label = ("+" if db > 0 else "") + str(db)
                w = draw.textlength(label, font=small)
                draw.text((cx - 29 - w, y - 8), label, font=small, fill=(120, 122, 128))
        label = ("INPUT", "OUTPUT")[index]
        w = tracked_width(draw, label, name, 2.5)
        tracked_text(draw, (cx - w / 2, FADER_TOP - 36), label, name, (170, 172, 178), 2.5)
    # The meter's bay under the input fader's value.
    draw.rounded_rectangle((FADER_X[0] - 3, 1077, FADER_X[0] + 27, 1093), radius=4, fill=(10, 10, 12),
                           outline=(56, 58, 64))


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_background.py OUTPUT.png")
    rng = random.Random(1545 * 1118)
    image = vertical_bands()
    image = stage_lighting(image)
    image = add_grain(image, brushed_grain(rng, 3.0))
    draw = ImageDraw.Draw(image)
    bevels(draw)
    screws(draw)
    fader_scales(draw)
    image = wordmark(image)
    image.convert("RGB").save(sys.argv[1], "PNG", optimize=True)


if __name__ == "__main__":
    main()
