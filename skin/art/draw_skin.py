#!/usr/bin/env python3
"""Draws every PNG of the setup program's skin into skin/images/, and the
same art at twice the size into skin/images2x/ (for displays from 150 %).

    python3 skin/art/draw_skin.py            # needs Pillow (Debian: python3-pil)

It also draws the setup program's icon, skin/program/setup.ico (the
product's mark at 16, 24, 32, 48 and 256 px), which the build links into
the program as its icon resource.

The few captions that live inside images (the uninstall panels and buttons)
are set in WenQuanYi Micro Hei (Debian: fonts-wqy-microhei). The output is
deterministic: fixed seeds, no time stamps or other metadata in the PNG files,
so running the script again reproduces the committed files byte for byte.

Everything is drawn at SS times the final size and reduced with a box filter,
which gives exact anti-aliased edges. Coordinates below are at 1x; K is the
scale of the pass being drawn (1, then 2), and every pixel length is
multiplied by it, so that the 2x sheets are the same drawing with twice the
detail (not an enlargement) and the 1x sheets stay what they were. All images are 32-bit RGBA: the screens
are layered windows, and only images with an alpha channel are alpha-blended
there (a 24-bit image would leave the window transparent where it is drawn).
"""

import math
import os
import random
import struct
import sys

try:
    from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont
except ImportError:  # pragma: no cover
    sys.exit("draw_skin.py needs Pillow (Debian package python3-pil)")

sys.dont_write_bytecode = True  # keep the source folder clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import atlas  # noqa: E402
from atlas import SPRITES  # noqa: E402
import pngpack  # noqa: E402

SS = 4  # supersampling factor
K = 1   # scale of the pass being drawn: 1 (skin/images) or 2 (skin/images2x)
SKIN = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(SKIN, "images")
OUT_2X = os.path.join(SKIN, "images2x")
PROGRAM_ICON = os.path.join(SKIN, "program", "setup.ico")
ICON_SIZES = (16, 24, 32, 48, 256)
# Sizes that only Vista and later draw (XP's shell asks for 16, 32 and 48 px):
# stored PNG-compressed, which XP cannot read but which keeps the program small.
ICON_PNG_SIZES = (24, 256)
CJK_FONT = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc"

# Palette (RGB). The README lists the same values.
BRAND_A = (37, 99, 235)      # deep blue, left end of the brand gradient
BRAND_B = (6, 182, 212)      # cyan, right end
INK = (31, 41, 55)           # headings
INK_2 = (75, 85, 99)         # body text
MUTED = (107, 114, 128)      # secondary text
BORDER = (203, 213, 225)     # control borders
CARD_BORDER = (226, 232, 240)
FOOTER = (247, 249, 252)
FOOTER_LINE = (232, 237, 243)
WHITE = (255, 255, 255)
GREEN = (34, 197, 94)
RED = (239, 68, 68)
ROSE = (244, 63, 94)
DISABLED = (226, 232, 240)     # face of a disabled primary button
DISABLED_TEXT = (148, 163, 184)


# ---------------------------------------------------------------- helpers

def k(v):
    """A pixel length or position at 1x, at the scale of the pass."""
    return v * K


def kbox(x0, y0, x1, y1):
    """An inclusive pixel box at 1x (as ImageDraw takes it), at the pass's scale:
    the same pixels, each K x K."""
    return (x0 * K, y0 * K, (x1 + 1) * K - 1, (y1 + 1) * K - 1)


def new(mode, w, h, fill=0):
    """A new image of w x h (at 1x) at the pass's scale."""
    return Image.new(mode, (w * K, h * K), fill)


def mask(w, h, draw_fn):
    """Anti-aliased 'L' mask of w x h: draw_fn(draw, s) paints white at scale s
    (s maps the 1x coordinates onto the supersampled canvas)."""
    m = Image.new("L", (w * K * SS, h * K * SS), 0)
    draw_fn(ImageDraw.Draw(m), SS * K)
    return m.resize((w * K, h * K), Image.BOX)


def rrect_mask(w, h, box, r):
    """Mask of a rounded rectangle box = (x0, y0, x1, y1) (exclusive ends) in pixels."""
    x0, y0, x1, y1 = box
    return mask(w, h, lambda d, s: d.rounded_rectangle(
        (x0 * s, y0 * s, x1 * s - 1, y1 * s - 1), radius=r * s, fill=255))


def solid(w, h, rgb):
    return new("RGBA", w, h, rgb + (255,))


def lerp(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def gradient(w, h, c0, c1, angle_deg=0.0, x_range=None):
    """Linear gradient from c0 to c1 along angle_deg (0 = left to right).

    x_range=(start, length) maps the gradient onto a wider virtual canvas so a
    piece can continue a gradient that spans a whole window."""
    a = math.radians(angle_deg)
    dx, dy = math.cos(a), math.sin(a)
    ox, span_w = (0, w) if x_range is None else x_range
    corners = [(cx * dx + cy * dy) for cx in (0, span_w) for cy in (0, h)]
    lo, hi = min(corners), max(corners)
    img = new("RGBA", w, h)
    px = []
    for y in range(h * K):
        for x in range(w * K):
            # pixel positions in 1x units (the same numbers at 1x)
            xs, ys = (x, y) if K == 1 else (x / K, y / K)
            t = ((xs + ox) * dx + ys * dy - lo) / (hi - lo)
            px.append(lerp(c0, c1, min(1.0, max(0.0, t))) + (255,))
    img.putdata(px)
    return img


def vgradient(w, h, c0, c1):
    w, h = w * K, h * K
    col = Image.new("RGBA", (1, h))
    col.putdata([lerp(c0, c1, y / max(1, h - 1)) + (255,) for y in range(h)])
    return col.resize((w, h), Image.NEAREST)


def with_alpha(img, m, scale=1.0):
    """img (RGBA) with its alpha multiplied by mask m (and by scale)."""
    out = img.copy()
    a = ImageChops.multiply(out.getchannel("A"), m)
    if scale != 1.0:
        a = a.point(lambda v: int(round(v * scale)))
    out.putalpha(a)
    return out


def paint(dst, src, m=None, at=(0, 0), scale=1.0):
    """Composite src (optionally masked) over dst at a position (at 1x)."""
    layer = src if m is None else with_alpha(src, m, scale)
    dst.alpha_composite(layer, (k(at[0]), k(at[1])))


def save(img, name):
    with open(os.path.join(OUT if K == 1 else OUT_2X, name), "wb") as f:
        f.write(png_bytes(img))


def font(size):
    if not os.path.exists(CJK_FONT):
        sys.exit("draw_skin.py needs %s (Debian package fonts-wqy-microhei)" % CJK_FONT)
    return ImageFont.truetype(CJK_FONT, size, index=0)


def text(dst, xy, s, size, rgb, bold=False, anchor="la"):
    """Draws text on an opaque image, at a place and size given at 1x. bold: a
    half-pixel stroke drawn at twice the size and reduced, which reads as a
    semibold weight."""
    xy, size = (k(xy[0]), k(xy[1])), k(size)
    if not bold:
        ImageDraw.Draw(dst).text(xy, s, font=font(size), fill=rgb + (255,), anchor=anchor)
        return
    f2 = font(size * 2)
    d0 = ImageDraw.Draw(dst)
    l, t, r, b = d0.textbbox(xy, s, font=font(size), anchor=anchor)
    pad = k(4)
    w, h = (r - l) + 2 * pad, (b - t) + 2 * pad
    m = Image.new("L", (w * 2, h * 2), 0)
    ImageDraw.Draw(m).text(((xy[0] - l + pad) * 2, (xy[1] - t + pad) * 2), s, font=f2, fill=255,
                           anchor=anchor, stroke_width=k(1), stroke_fill=255)
    m = m.resize((w, h), Image.BOX)
    dst.alpha_composite(with_alpha(Image.new("RGBA", (w, h), rgb + (255,)), m), (l - pad, t - pad))


def text_width(s, size):
    d = ImageDraw.Draw(Image.new("L", (1, 1)))
    l, _, r, _ = d.textbbox((0, 0), s, font=font(size))
    return r - l


def put(sheet, name, img):
    image, x, y, w, h = SPRITES[name]
    assert img.size == (k(w), k(h)), (name, img.size, (w, h))
    sheet.alpha_composite(img, (k(x), k(y)))


def new_sheet(image_id):
    return new("RGBA", *atlas.SHEET_SIZES[image_id], fill=(0, 0, 0, 0))


# ---------------------------------------------------------------- window card

def window(w, h, top_h, footer_h=0):
    """A whole window: soft shadow, white card with a hair-line border, a
    brand-gradient top band of top_h rows (shadow included) and an optional
    grey footer of footer_h rows above the bottom shadow."""
    S, R = atlas.SHADOW, atlas.RADIUS
    img = new("RGBA", w, h, (0, 0, 0, 0))
    # shadow: the card shape a little lower, blurred
    sh = new("L", w, h, 0)
    ImageDraw.Draw(sh).rounded_rectangle(kbox(S, S + 1, w - S - 1, h - S), radius=k(R), fill=255)
    sh = sh.filter(ImageFilter.GaussianBlur(k(2.6)))
    paint(img, solid(w, h, (15, 23, 42)), sh, scale=0.30)
    card = rrect_mask(w, h, (S, S, w - S, h - S), R)
    inner = rrect_mask(w, h, (S + 1, S + 1, w - S - 1, h - S - 1), R - 1)
    paint(img, solid(w, h, CARD_BORDER), card)
    # the inner area replaces the border colour, not blends over it
    body = solid(w, h, WHITE)
    if footer_h:
        ft = h - S - footer_h
        ImageDraw.Draw(body).rectangle(kbox(0, ft, w, h), fill=FOOTER + (255,))
        ImageDraw.Draw(body).rectangle(kbox(0, ft, w, ft), fill=FOOTER_LINE + (255,))
    img = Image.composite(body, img, inner)
    # restore exact card alpha on the border ring (composite keeps img's alpha there)
    img.putalpha(ImageChops.lighter(img.getchannel("A"), card))
    if top_h:
        band = gradient(w, top_h, BRAND_A, BRAND_B, 18)
        band_mask = card.crop((0, 0, k(w), k(top_h)))
        top = img.crop((0, 0, k(w), k(top_h)))
        top = Image.composite(band, top, band_mask)
        top.putalpha(img.getchannel("A").crop((0, 0, k(w), k(top_h))))
        img.paste(top, (0, 0))
    return img


def hero():
    """Header band of the 610-wide windows: gradient, quiet circles."""
    w, h = 610, atlas.HERO_H
    full = window(w, 430, h)
    top = full.crop((0, 0, k(w), k(h)))
    card = rrect_mask(w, 430, (atlas.SHADOW,) * 2 + (w - atlas.SHADOW, 430 - atlas.SHADOW),
                      atlas.RADIUS).crop((0, 0, k(w), k(h)))
    deco = new("RGBA", w, h, (0, 0, 0, 0))

    def circle(cx, cy, r, alpha, ring=0.0):
        m = mask(w, h, lambda d, s: d.ellipse(((cx - r) * s, (cy - r) * s, (cx + r) * s, (cy + r) * s),
                                              fill=255))
        if ring:
            ri = r - ring
            m2 = mask(w, h, lambda d, s: d.ellipse(((cx - ri) * s, (cy - ri) * s, (cx + ri) * s,
                                                    (cy + ri) * s), fill=255))
            m = ImageChops.subtract(m, m2)
        deco.alpha_composite(with_alpha(solid(w, h, WHITE), m, alpha))

    circle(590, 10, 130, 0.07)
    circle(520, 150, 70, 0.06)
    circle(395, -40, 95, 0.05)
    circle(600, 120, 46, 0.10, ring=1.5)
    circle(300, 175, 120, 0.04)
    # a soft light from the upper left
    glow = new("L", w, h, 0)
    ImageDraw.Draw(glow).ellipse(kbox(-120, -160, 260, 120), fill=255)
    glow = glow.filter(ImageFilter.GaussianBlur(k(40)))
    deco.alpha_composite(with_alpha(solid(w, h, WHITE), glow, 0.10))
    clipped = with_alpha(deco, card)
    top.alpha_composite(clipped)
    return top


def q_glyph(size, ring_r, stroke, c0, c1):
    """The product mark: a ring with a tail, filled with the brand gradient."""
    cx = cy = size / 2.0

    def draw(d, s):
        ro, ri = ring_r, ring_r - stroke
        d.ellipse(((cx - ro) * s, (cy - ro - 1) * s, (cx + ro) * s, (cy + ro - 1) * s), fill=255)
        d.ellipse(((cx - ri) * s, (cy - ri - 1) * s, (cx + ri) * s, (cy + ri - 1) * s), fill=0)
        # the tail of the Q: crosses the ring at the lower right, round caps
        rr = stroke / 2.0
        for k0, k1 in ((0.50, 0.88),):
            x0, y0 = cx + ring_r * k0, cy + ring_r * k0 - 1
            x1, y1 = cx + ring_r * k1, cy + ring_r * k1 - 1
            d.line((x0 * s, y0 * s, x1 * s, y1 * s), fill=255, width=int(stroke * s))
            for px, py in ((x0, y0), (x1, y1)):
                d.ellipse(((px - rr) * s, (py - rr) * s, (px + rr) * s, (py + rr) * s), fill=255)

    m = mask(size, size, draw)
    return with_alpha(gradient(size, size, c0, c1, 45), m)


def app_icon(size, radius, shadow=True):
    """White rounded tile with the mark; the tile leaves room for its shadow."""
    img = new("RGBA", size, size, (0, 0, 0, 0))
    pad = 4 if shadow else 0
    tile = size - 2 * pad
    if shadow:
        sh = new("L", size, size, 0)
        ImageDraw.Draw(sh).rounded_rectangle(kbox(pad, pad + 2, pad + tile - 1, pad + tile + 1),
                                             radius=k(radius), fill=255)
        sh = sh.filter(ImageFilter.GaussianBlur(k(2.2)))
        paint(img, solid(size, size, (10, 40, 110)), sh, scale=0.35)
    paint(img, solid(size, size, WHITE), rrect_mask(size, size, (pad, pad, pad + tile, pad + tile), radius))
    glyph = q_glyph(tile, tile * 0.30, tile * 0.105, BRAND_A, BRAND_B)
    img.alpha_composite(glyph, (k(pad), k(pad)))
    return img


def badge(img, rgb, kind):
    """A round status badge at the lower right of a 72 px icon."""
    size = img.size[0] // K
    r = 12.5
    cx, cy = size - 4 - r, size - 4 - r
    ring = mask(size, size, lambda d, s: d.ellipse(((cx - r - 2) * s, (cy - r - 2) * s,
                                                     (cx + r + 2) * s, (cy + r + 2) * s), fill=255))
    dot = mask(size, size, lambda d, s: d.ellipse(((cx - r) * s, (cy - r) * s, (cx + r) * s, (cy + r) * s),
                                                  fill=255))
    out = img.copy()
    paint(out, solid(size, size, WHITE), ring)
    paint(out, solid(size, size, rgb), dot)
    if kind == "ok":
        sym = mask(size, size, lambda d, s: d.line(
            [((cx - 5.5) * s, (cy + 0.2) * s), ((cx - 1.6) * s, (cy + 4.2) * s), ((cx + 5.8) * s, (cy - 4.2) * s)],
            fill=255, width=int(2.6 * s), joint="curve"))
    else:
        def draw(d, s):
            d.rounded_rectangle(((cx - 1.4) * s, (cy - 6.5) * s, (cx + 1.4) * s, (cy + 2) * s), radius=1.4 * s,
                                fill=255)
            d.ellipse(((cx - 1.6) * s, (cy + 3.6) * s, (cx + 1.6) * s, (cy + 6.8) * s), fill=255)
        sym = mask(size, size, draw)
    paint(out, solid(size, size, WHITE), sym)
    return out


# ---------------------------------------------------------------- sheets

def draw_hero():
    save(hero(), atlas.IMAGES[atlas.HERO])


def draw_topbar():
    w, h = 656, atlas.TOPBAR_H
    full = window(w, 320, h)
    top = full.crop((0, 0, k(w), k(h)))
    card = rrect_mask(w, 320, (atlas.SHADOW,) * 2 + (w - atlas.SHADOW, 320 - atlas.SHADOW),
                      atlas.RADIUS).crop((0, 0, k(w), k(h)))
    deco = new("RGBA", w, h, (0, 0, 0, 0))
    m = mask(w, h, lambda d, s: d.ellipse((560 * s, -60 * s, 720 * s, 100 * s), fill=255))
    deco.alpha_composite(with_alpha(solid(w, h, WHITE), m, 0.07))
    m = mask(w, h, lambda d, s: d.ellipse((470 * s, 20 * s, 560 * s, 110 * s), fill=255))
    deco.alpha_composite(with_alpha(solid(w, h, WHITE), m, 0.05))
    top.alpha_composite(with_alpha(deco, card))
    # the small product mark left of the window title
    mark = app_icon(26, 7, shadow=False)
    top.alpha_composite(mark, (k(atlas.SHADOW + 16), k(atlas.SHADOW + 11)))
    save(top, atlas.IMAGES[atlas.TOPBAR])


def draw_frame():
    sheet = new_sheet(atlas.FRAME)
    S, C = atlas.SHADOW, atlas.CORNER_W
    W, H = 656, 460
    plain = window(W, H, atlas.TOPBAR_H)
    footer = window(W, H, atlas.TOPBAR_H, footer_h=atlas.FOOTER_BOTTOM_H - S)
    mid = 200
    put(sheet, "side_left", plain.crop((0, k(mid), k(atlas.SIDE_W), k(mid + 4))))
    put(sheet, "side_right", plain.crop((k(W - atlas.SIDE_W), k(mid), k(W), k(mid + 4))))
    put(sheet, "client", solid(4, 4, WHITE))
    put(sheet, "float_border", solid(1, 4, CARD_BORDER))

    def bottom(img, bh):
        piece = new("RGBA", 2 * C + 1, bh, (0, 0, 0, 0))
        piece.paste(img.crop((0, k(H - bh), k(C), k(H))), (0, 0))
        piece.paste(img.crop((k(W // 2), k(H - bh), k(W // 2 + 1), k(H))), (k(C), 0))
        piece.paste(img.crop((k(W - C), k(H - bh), k(W), k(H))), (k(C + 1), 0))
        return piece

    put(sheet, "bottom_plain", bottom(plain, atlas.PLAIN_BOTTOM_H))
    put(sheet, "bottom_footer", bottom(footer, atlas.FOOTER_BOTTOM_H))
    save(sheet, atlas.IMAGES[atlas.FRAME])


def pill(w, h, fill_img, border=None, inset=0):
    """A pill (radius h/2) of w x h filled with fill_img, with an optional 1 px border."""
    out = new("RGBA", w, h, (0, 0, 0, 0))
    outer = rrect_mask(w, h, (inset, inset, w - inset, h - inset), (h - 2 * inset) / 2.0)
    if border:
        paint(out, solid(w, h, border), outer)
        inner = rrect_mask(w, h, (inset + 1, inset + 1, w - inset - 1, h - inset - 1), (h - 2 * inset) / 2.0 - 1)
        out = Image.composite(fill_img, out, inner)
        out.putalpha(ImageChops.lighter(out.getchannel("A"), outer))
    else:
        paint(out, fill_img, outer)
    return out


def sheen(img, strength):
    """A light from above over the upper half of a button."""
    w, h = img.size
    g = Image.new("L", (1, h))
    g.putdata([int(255 * strength * max(0.0, 1 - y / (h * 0.55))) for y in range(h)])
    g = g.resize((w, h), Image.NEAREST)
    out = img.copy()
    white = Image.new("RGBA", (w, h), WHITE + (255,))  # w, h in pixels of the pass
    white.putalpha(ImageChops.multiply(g, img.getchannel("A")))
    out.alpha_composite(white)
    return out


BIG_LOOKS = {
    # state: (left colour, right colour, shadow strength)
    "normal": ((37, 99, 235), (14, 165, 233), 0.35),
    "lighted": ((59, 130, 246), (56, 189, 248), 0.45),
    "pressed": ((29, 78, 216), (2, 132, 199), 0.15),
    "grayed": (DISABLED, DISABLED, 0.0),
}

SMALL_PRIMARY = {
    "normal": ((59, 125, 246), (37, 99, 235)),
    "lighted": ((96, 156, 250), (59, 130, 246)),
    "pressed": ((37, 99, 235), (29, 78, 216)),
    "grayed": (DISABLED, DISABLED),
}

SECONDARY = {
    # state: (fill, border)
    "normal": (WHITE, BORDER),
    "lighted": ((240, 246, 255), (59, 130, 246)),
    "pressed": ((219, 234, 254), (37, 99, 235)),
    "grayed": ((243, 244, 246), (229, 231, 235)),
}


def big_button(state):
    w, h = atlas.BIG_W, atlas.BIG_H
    c0, c1, shadow = BIG_LOOKS[state]
    body_h = h - 4
    out = new("RGBA", w, h, (0, 0, 0, 0))
    if shadow:
        sh = new("L", w, h, 0)
        ImageDraw.Draw(sh).rounded_rectangle(kbox(8, 6, w - 9, body_h + 1), radius=k(body_h / 2 - 3), fill=255)
        sh = sh.filter(ImageFilter.GaussianBlur(k(2.0)))
        paint(out, solid(w, h, (29, 78, 216)), sh, scale=shadow)
    face = pill(w, body_h, gradient(w, body_h, c0, c1, 0))
    if state != "grayed":
        face = sheen(face, 0.10 if state != "pressed" else 0.04)
    out.alpha_composite(face, (0, 0))
    return out


def small_primary(state, w):
    c0, c1 = SMALL_PRIMARY[state]
    h = atlas.SMALL_H
    return pill(w, h, vgradient(w, h, c0, c1))


def secondary(state, w):
    fill, border = SECONDARY[state]
    h = atlas.SMALL_H
    return pill(w, h, solid(w, h, fill), border=border)


def captioned(img, caption, rgb):
    """Draws a 14 px caption centred on a button face (for the buttons whose
    captions the program does not set)."""
    w, h = img.size[0] // K, img.size[1] // K
    out = img.copy()
    text(out, (w / 2.0, h / 2.0), caption, 14, rgb, anchor="mm")
    return out


def close_button(state):
    n = 28
    out = new("RGBA", n, n, (0, 0, 0, 0))
    back = {"lighted": 0.20, "pressed": 0.32}.get(state)
    if back:
        m = mask(n, n, lambda d, s: d.ellipse((1 * s, 1 * s, 27 * s, 27 * s), fill=255))
        paint(out, solid(n, n, WHITE), m, scale=back)
    a, b = 9.5, 18.5

    def cross(d, s):
        wdt = int(1.7 * s)
        d.line((a * s, a * s, b * s, b * s), fill=255, width=wdt)
        d.line((b * s, a * s, a * s, b * s), fill=255, width=wdt)

    paint(out, solid(n, n, WHITE), mask(n, n, cross), scale=0.45 if state == "grayed" else 1.0)
    return out


def check_box(state):
    n = 16
    out = new("RGBA", n, n, (0, 0, 0, 0))
    box = (0.5, 0.5, 15.5, 15.5)
    outer = mask(n, n, lambda d, s: d.rounded_rectangle(tuple(v * s for v in box), radius=3.5 * s, fill=255))
    inner = mask(n, n, lambda d, s: d.rounded_rectangle((1.5 * s, 1.5 * s, 14.5 * s, 14.5 * s), radius=2.5 * s,
                                                        fill=255))
    if state == "pressed":  # ticked
        paint(out, gradient(n, n, (59, 130, 246), (37, 99, 235), 90), outer)
        tick = mask(n, n, lambda d, s: d.line([(4.0 * s, 8.2 * s), (6.9 * s, 11.0 * s), (12.2 * s, 5.2 * s)],
                                              fill=255, width=int(1.9 * s), joint="curve"))
        paint(out, solid(n, n, WHITE), tick)
        return out
    border, fill = {
        "normal": ((176, 186, 201), WHITE),
        "lighted": ((59, 130, 246), (240, 246, 255)),
        "grayed": ((214, 219, 226), (243, 244, 246)),
    }[state]
    paint(out, solid(n, n, border), outer)
    body = solid(n, n, fill)
    out = Image.composite(body, out, inner)
    out.putalpha(ImageChops.lighter(out.getchannel("A"), outer))
    return out


def draw_controls():
    sheet = new_sheet(atlas.CONTROLS)
    for s in atlas.STATES:
        put(sheet, "big_" + s, big_button(s))
        ok = small_primary(s, atlas.OK_W)
        put(sheet, "ok_" + s, captioned(ok, "确定卸载", DISABLED_TEXT if s == "grayed" else WHITE))
        cancel = secondary(s, atlas.CANCEL_W)
        cap = {"normal": INK_2, "lighted": (37, 99, 235), "pressed": (29, 78, 216), "grayed": (156, 163, 175)}[s]
        put(sheet, "cancel_" + s, captioned(cancel, "取消", cap))
        put(sheet, "primary_" + s, small_primary(s, atlas.PILL_SRC_W))
        put(sheet, "secondary_" + s, secondary(s, atlas.PILL_SRC_W))
        put(sheet, "close_" + s, close_button(s))
        put(sheet, "check_" + s, check_box(s))
    # edit box: white, hair-line border, radius 6 (nine-grid margins 6)
    e = new("RGBA", 13, 13, (0, 0, 0, 0))
    outer = rrect_mask(13, 13, (0, 0, 13, 13), 6)
    inner = rrect_mask(13, 13, (1, 1, 12, 12), 5)
    paint(e, solid(13, 13, BORDER), outer)
    e = Image.composite(solid(13, 13, WHITE), e, inner)
    e.putalpha(ImageChops.lighter(e.getchannel("A"), outer))
    put(sheet, "edit", e)
    # scroll bar: faint track, grey thumb, both 8 px wide pills
    put(sheet, "scroll_track", pill(8, 9, solid(8, 9, (241, 245, 249))))
    thumb = new("RGBA", 8, 17, (0, 0, 0, 0))
    paint(thumb, solid(8, 17, (176, 186, 201)), rrect_mask(8, 17, (1, 0, 7, 17), 3))
    put(sheet, "scroll_thumb", thumb)
    # progress bar: track and the gradient fill (nine-grid margins 4)
    put(sheet, "progress_track", pill(9, 8, solid(9, 8, (229, 234, 241))))
    put(sheet, "progress_fill", pill(atlas.PROGRESS_W, 8, gradient(atlas.PROGRESS_W, 8, BRAND_A, BRAND_B, 0)))
    save(sheet, atlas.IMAGES[atlas.CONTROLS])


def draw_icons():
    sheet = new_sheet(atlas.ICONS)
    logo = app_icon(atlas.LOGO, 16)
    put(sheet, "logo", logo)
    put(sheet, "logo_ok", badge(logo, GREEN, "ok"))
    put(sheet, "logo_error", badge(logo, RED, "error"))

    def heart(d, s):
        # two circles and a triangle
        d.ellipse((2 * s, 3 * s, 10.5 * s, 11.5 * s), fill=255)
        d.ellipse((9.5 * s, 3 * s, 18 * s, 11.5 * s), fill=255)
        d.polygon([(2.6 * s, 9.4 * s), (17.4 * s, 9.4 * s), (10 * s, 17.2 * s)], fill=255)

    put(sheet, "heart", with_alpha(gradient(20, 20, (251, 113, 133), ROSE, 90), mask(20, 20, heart)))
    save(sheet, atlas.IMAGES[atlas.ICONS])


def draw_qrcode():
    """A QR-code-like card: the layout of a version 2 code (finder, timing and
    alignment patterns) with seeded modules. It stands in for the product's
    real official-account code, which replaces this file."""
    n, mod, q = 25, 3, 8
    size = atlas.QR
    rnd = random.Random(20240607)
    grid = [[rnd.random() < 0.5 for _ in range(n)] for _ in range(n)]

    def finder(r0, c0):
        for r in range(-1, 8):
            for c in range(-1, 8):
                rr, cc = r0 + r, c0 + c
                if 0 <= rr < n and 0 <= cc < n:
                    edge = r in (0, 6) or c in (0, 6)
                    core = 2 <= r <= 4 and 2 <= c <= 4
                    grid[rr][cc] = (0 <= r <= 6 and 0 <= c <= 6) and (edge or core)

    finder(0, 0)
    finder(0, n - 7)
    finder(n - 7, 0)
    for i in range(8, n - 8):
        grid[6][i] = grid[i][6] = i % 2 == 0
    for r in range(-2, 3):
        for c in range(-2, 3):
            grid[18 + r][18 + c] = max(abs(r), abs(c)) != 1
    img = new("RGBA", size, size, (0, 0, 0, 0))
    paint(img, solid(size, size, WHITE), rrect_mask(size, size, (0, 0, size, size), 8))
    d = ImageDraw.Draw(img)
    for r in range(n):
        for c in range(n):
            if grid[r][c]:
                x, y = q + c * mod, q + r * mod
                d.rectangle(kbox(x, y, x + mod - 1, y + mod - 1), fill=INK + (255,))
    # the product mark in the middle, on a white tile
    mark = app_icon(21, 5, shadow=False)
    d.rectangle(kbox(34, 34, 56, 56), fill=WHITE + (255,))
    img.alpha_composite(mark, (k(35), k(35)))
    save(img, atlas.IMAGES[atlas.QRCODE])


def panel(icon, heading, sub):
    w, h = atlas.PANEL_W, atlas.PANEL_H
    img = solid(w, h, WHITE)
    img.alpha_composite(icon, (0, k((h - icon.size[1] // K) // 2)))
    x = icon.size[0] // K + 16
    text(img, (x, 31), heading, 20, INK, bold=True, anchor="ls")
    text(img, (x, 56), sub, 13, MUTED, anchor="ls")
    return img


def done_icon():
    n = 72
    img = new("RGBA", n, n, (0, 0, 0, 0))
    c, r = 36, 28
    halo = mask(n, n, lambda d, s: d.ellipse(((c - r - 4) * s, (c - r - 4) * s, (c + r + 4) * s, (c + r + 4) * s),
                                             fill=255))
    paint(img, solid(n, n, (220, 252, 231)), halo)
    disc = mask(n, n, lambda d, s: d.ellipse(((c - r) * s, (c - r) * s, (c + r) * s, (c + r) * s), fill=255))
    paint(img, gradient(n, n, (74, 222, 128), (22, 163, 74), 90), disc)
    tick = mask(n, n, lambda d, s: d.line([((c - 12) * s, (c + 1) * s), ((c - 3.5) * s, (c + 9.5) * s),
                                           ((c + 13) * s, (c - 8) * s)], fill=255, width=int(5 * s),
                                          joint="curve"))
    paint(img, solid(n, n, WHITE), tick)
    return img


def draw_panels():
    sheet = new_sheet(atlas.PANELS)
    logo = app_icon(atlas.LOGO, 16)
    # the logo sits on white here: give it a thin ring so the white tile shows
    ring = Image.new("RGBA", logo.size, (0, 0, 0, 0))  # logo.size is at the pass's scale
    paint(ring, solid(72, 72, CARD_BORDER), rrect_mask(72, 72, (3, 3, 69, 69), 17))
    ring.alpha_composite(logo)
    put(sheet, "panel_confirm", panel(ring, "确定要卸载 Quillo 3 吗？",
                                      "卸载将删除 Quillo 3 的程序文件、快捷方式和注册信息。"))
    put(sheet, "panel_removing", panel(ring, "正在卸载 Quillo 3",
                                       "请稍候，卸载完成前请不要关闭此窗口。"))
    put(sheet, "panel_removed", panel(done_icon(), "Quillo 3 已成功卸载",
                                      "感谢您一直以来的使用！请告诉我们卸载的原因，帮助我们做得更好。"))
    save(sheet, atlas.IMAGES[atlas.PANELS])


# ---------------------------------------------------------------- program icon

def program_icon(size):
    """The product's mark for Explorer: a brand-gradient tile with a white Q.
    Small sizes get a bolder stroke so that the ring stays open."""
    img = Image.new("RGBA", (size, size), (0, 0, 0, 0))
    tile = gradient(size, size, BRAND_A, BRAND_B, 45)
    paint(img, tile, rrect_mask(size, size, (0, 0, size, size), max(3, round(size * 0.22))))
    stroke = size * (0.16 if size <= 24 else 0.13)
    img.alpha_composite(q_glyph(size, size * 0.34, stroke, WHITE, WHITE))
    return img


def png_bytes(img):
    """The smallest RGBA PNG of the image that pngpack finds (same pixels)."""
    assert img.mode == "RGBA"
    return pngpack.encode_rgba(img.size[0], img.size[1], img.tobytes())


def dib_bytes(img):
    """An icon image as Windows XP reads it: a 32-bit bottom-up DIB (height
    doubled for the mask) with its alpha, then the 1-bit AND mask (set where
    the image is fully transparent), rows padded to four bytes."""
    w, h = img.size
    header = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, 32, 0, 0, 0, 0, 0, 0)
    px = img.load()
    colour = bytearray()
    mask_rows = bytearray()
    stride = ((w + 31) // 32) * 4
    for y in range(h - 1, -1, -1):
        row = bytearray(stride)
        for x in range(w):
            r, g, b, a = px[x, y]
            colour += bytes((b, g, r, a))
            if a == 0:
                row[x // 8] |= 0x80 >> (x % 8)
        mask_rows += row
    return header + bytes(colour) + bytes(mask_rows)


def draw_program_icon():
    """setup.ico: DIB images at the sizes XP draws (it reads no other kind),
    PNG-compressed ones at the sizes only Vista and later draw."""
    images = []
    for size in ICON_SIZES:
        img = program_icon(size)
        images.append((size, png_bytes(img) if size in ICON_PNG_SIZES else dib_bytes(img)))
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    for size, data in images:
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    os.makedirs(os.path.dirname(PROGRAM_ICON), exist_ok=True)
    with open(PROGRAM_ICON, "wb") as f:
        f.write(directory + b"".join(data for _, data in images))


SHEETS = {
    atlas.HERO: draw_hero,
    atlas.TOPBAR: draw_topbar,
    atlas.FRAME: draw_frame,
    atlas.CONTROLS: draw_controls,
    atlas.ICONS: draw_icons,
    atlas.QRCODE: draw_qrcode,
    atlas.PANELS: draw_panels,
}


def main():
    global K
    os.makedirs(OUT, exist_ok=True)
    os.makedirs(OUT_2X, exist_ok=True)
    for K, out, names in ((1, OUT, atlas.IMAGES), (2, OUT_2X, atlas.IMAGES_2X)):
        for image in sorted(names):
            SHEETS[image]()
        total = 0
        for name in sorted(names.values()):
            size = os.path.getsize(os.path.join(out, name))
            total += size
            print("%-14s %7d bytes%s" % (name, size, "" if K == 1 else " (2x)"))
        print("%-14s %7d bytes%s" % ("total", total, "" if K == 1 else " (2x)"))
    K = 1
    draw_program_icon()
    print("%-14s %7d bytes" % ("setup.ico", os.path.getsize(PROGRAM_ICON)))


if __name__ == "__main__":
    main()
