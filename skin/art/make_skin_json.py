#!/usr/bin/env python3
"""Writes skin/skin.json (the description of the nine window skins) and the
font records skin/fonts/*.json.

    python3 skin/art/make_skin_json.py

Coordinates of the art come from atlas.py, the same table draw_skin.py draws
with. Element "size" is [x, y, w, h] relative to the window; a negative x or y
counts from the window's right or bottom edge. The output is deterministic.
"""

import json
import os
import sys

sys.dont_write_bytecode = True  # keep the source folder clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import atlas  # noqa: E402

SKIN = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


# ---------------------------------------------------------------- fonts

FACE = "微软雅黑"
# id -> (file, height in pixels (negative), weight, underline)
FONTS = {
    101: ("title.json", -30, 700, 0),        # product title in the header band
    102: ("heading.json", -20, 700, 0),      # screen statements, percent
    103: ("subheading.json", -16, 700, 0),   # window titles of the uninstaller, failure line
    104: ("body.json", -14, 400, 0),         # error text
    105: ("small.json", -13, 400, 0),        # check boxes, labels, links, status
    106: ("caption.json", -12, 400, 0),      # QR caption, agreement text
    107: ("button.json", -18, 700, 0),       # the big primary button
    108: ("button_small.json", -14, 400, 0), # footer and form buttons
    109: ("link_hover.json", -13, 400, 1),   # link under the pointer
}
F_TITLE, F_HEADING, F_SUB, F_BODY, F_SMALL, F_CAPTION, F_BUTTON, F_BUTTON_SMALL, F_LINK_HOVER = sorted(FONTS)


def font_record(height, weight, underline):
    rec = {"Height": height, "Weight": weight}
    if underline:
        rec["Underline"] = 1
    rec.update({"CharSet": 134, "OutPrecision": 3, "ClipPrecision": 2, "Quality": 4,
                "PitchAndFamily": 34, "FaceName": FACE})
    return json.dumps(rec, ensure_ascii=False, separators=(",", ":")) + "\n"


# ---------------------------------------------------------------- styles

def cr(rgb):
    """COLORREF 0x00BBGGRR as a decimal integer."""
    r, g, b = rgb
    return r + 256 * g + 65536 * b


WHITE = cr((255, 255, 255))
ON_BRAND = cr((224, 242, 254))   # soft white for small text on the header band
INK = cr((31, 41, 55))
INK_2 = cr((75, 85, 99))
MUTED = cr((107, 114, 128))
FAINT = cr((156, 163, 175))
BLUE = cr((37, 99, 235))
BLUE_DARK = cr((29, 78, 216))
ERROR = cr((220, 38, 38))
DISABLED_TEXT = cr((148, 163, 184))  # on the light face of a disabled primary button

# DrawText flags
LEFT_MID = 0x24                  # 36: left, vertically centred, single line
CENTER_MID = 0x25                # 37: centred both ways, single line
RIGHT_MID = 0x26                 # 38: right, vertically centred, single line
LEFT_MID_ELLIPSIS = 0x40024      # 262180
CENTER_MID_ELLIPSIS = 0x40025    # 262181
LEFT_TOP_WRAP = 0                # top left, word wrap

# foreground placement of DrawImageStyle
AL_LEFT_MID = 8


def img(name, margins=None):
    s = {"bi": atlas.image_of(name), "bg": atlas.rect(name)}
    if margins:
        s["mg"] = list(margins)
    return s


def fore(name, align=0):
    return {"fi": atlas.image_of(name), "fg": atlas.rect(name), "al": align}


def txt(font, align, color):
    s = {}
    if font:
        s["ft"] = font
    s["al"] = align
    s["cr"] = color
    return s


PILL = (atlas.SMALL_H // 2, 0, atlas.SMALL_H // 2, 0)  # nine-grid of the pill sources
EDIT = (6, 6, 6, 6)
BAR = (4, 0, 4, 0)
SCROLL = (0, 4, 0, 4)


def states(prefix, margins=None, kind=img):
    d = {s: kind(prefix + s, margins) if kind is img else kind(prefix + s) for s in atlas.STATES}
    # the keyboard's focus looks like the pointer over the element
    d["focused"] = d["lighted"]
    return d


def text_states(font, align, normal, lighted=None, pressed=None, grayed=FAINT, margin=(0, 0, 0, 0),
                font_lighted=None, font_focused=None):
    lighted = normal if lighted is None else lighted
    pressed = lighted if pressed is None else pressed
    return {
        "margin": list(margin),
        "normal": txt(font, align, normal),
        "grayed": txt(font, align, grayed),
        "lighted": txt(font_lighted or font, align, lighted),
        "pressed": txt(font_lighted or font, align, pressed),
        "focused": txt(font_focused or font_lighted or font, align, lighted),
    }


def element(size=None, id=None, **keys):
    e = {}
    if id is not None:
        e["id"] = id
    if size is not None:
        e["size"] = list(size)
    e.update(keys)
    return e


def label(size, font, align, color):
    return element(size, text=txt(font, align, color))


def pane(size, name):
    return element(size, bkgnd=img(name))


def big_button(size, id):
    e = element(size, id, **states("big_"))
    # the face is 44 px high above a 4 px shadow: centre the caption on the face
    e["Text"] = text_states(F_BUTTON, CENTER_MID, WHITE, grayed=DISABLED_TEXT, margin=(0, 0, 0, 4))
    return e


def primary_button(size, id):
    e = element(size, id, **states("primary_", PILL))
    e["Text"] = text_states(F_BUTTON_SMALL, CENTER_MID, WHITE, grayed=DISABLED_TEXT)
    return e


def secondary_button(size, id):
    e = element(size, id, **states("secondary_", PILL))
    e["Text"] = text_states(F_BUTTON_SMALL, CENTER_MID, INK_2, BLUE, BLUE_DARK)
    return e


def link_button(size, id, align, normal, lighted, underline_on_hover):
    e = element(size, id)
    e["Text"] = text_states(F_SMALL, align, normal, lighted, BLUE_DARK,
                            font_lighted=F_LINK_HOVER if underline_on_hover else None)
    return e


def check_box(size, id, color=INK_2, align=LEFT_MID):
    e = element(size, id)
    for s in atlas.STATES:
        e[s] = fore("check_" + s, AL_LEFT_MID)
    e["focused"] = e["lighted"]
    # a focused box underlines its text, ticked or not
    e["Text"] = text_states(F_SMALL, align, color, margin=(24, 0, 0, 0), font_focused=F_LINK_HOVER)
    return e


def edit_box(size, multiline=False):
    e = element(size, bkgnd=img("edit", EDIT))
    if multiline:
        e["Text"] = {"margin": [8, 6, 8, 6], "normal": txt(None, LEFT_TOP_WRAP, INK),
                     "grayed": txt(None, LEFT_TOP_WRAP, FAINT)}
        e["ScrollBar"] = {"thumb": img("scroll_thumb", SCROLL), "trackbar": img("scroll_track", SCROLL)}
    else:
        # no font: the caret and hit test measure with the toolkit's default font
        e["Text"] = {"margin": [10, 0, 10, 0], "normal": txt(None, LEFT_MID, INK),
                     "grayed": txt(None, LEFT_MID, FAINT)}
    return e


def progress(size):
    return element(size, bkgnd=img("progress_track", BAR), frgnd=img("progress_fill", BAR))


def close_button(size, id):
    return element(size, id, **states("close_"))


def frame(w, h, top, bottom, close_id=None):
    """Frame pieces, client background and the close button of a top-level window."""
    S = atlas.SHADOW
    top_style = img(top)
    bottom_style = img(bottom, (atlas.CORNER_W, 0, atlas.CORNER_W, 0))
    left, right = img("side_left"), img("side_right")
    win = {
        "size": [0, 0, w, h],
        "Frames": {
            "Top": {"normal": top_style, "grayed": top_style},
            "Left": {"normal": left, "grayed": left},
            "Right": {"normal": right, "grayed": right},
            "Bottom": {"normal": bottom_style, "grayed": bottom_style},
        },
        "Client": {"bkgnd": img("client")},
    }
    if close_id is not None:
        bar_h = (atlas.HERO_H if top == "hero" else atlas.TOPBAR_H) - S
        y = S + 12 if top == "hero" else S + (bar_h - 28) // 2
        win["SysBtns"] = {"Close": close_button((-(S + 12 + 28), y, 28, 28), close_id)}
    return win


# ---------------------------------------------------------------- windows
# Grid of the 610-wide windows: card 7..603, content 47..563 (40 px padding),
# header band to y 167, footer (options window only) from y = bottom - 59.

LOGO_AT = (47, 51, 72, 72)
TITLE_AT = (135, 62, 320, 40)
INSTALL_AT = (215, 247, 180, 48)


def main_window():
    w = frame(610, 430, "hero", "bottom_footer", close_id=1000)
    w.update({
        "title": label(TITLE_AT, F_TITLE, LEFT_MID, WHITE),
        "logo": pane(LOGO_AT, "logo"),
        "InStall": big_button(INSTALL_AT, 1001),
        "InstallButton": big_button(INSTALL_AT, 1001),
        # footer row (bottom-anchored: it follows the window when it unfolds)
        "CheckBoxAgree": check_box((47, -45, 124, 24), 1002),
        "LisenceButton": link_button((169, -45, 90, 24), 1010, LEFT_MID, BLUE, BLUE_DARK, True),
        "ButtonOption": link_button((-167, -45, 120, 24), 1009, RIGHT_MID, INK_2, BLUE, False),
        # custom-install area, shown in the unfolded 610 x 630 layout
        "LabelPath": label((47, 355, 78, 36), F_SMALL, LEFT_MID, INK_2),
        "EditBoxPath": edit_box((125, 355, 322, 36)),
        "ButtonBrowser": secondary_button((457, 355, 106, 36), 1005),
        "LabelCheck": label((47, 411, 78, 24), F_SMALL, LEFT_MID, INK_2),
        "CheckBoxDesktop": check_box((125, 411, 240, 24), 1003),
        "CheckBoxTaskbar": check_box((125, 441, 240, 24), 1004),
        "CheckBoxStartMenu": check_box((125, 471, 240, 24), 1003),
        # a scrolling agreement text (described, not created by the screens)
        "EditBoxReadMe": dict(edit_box((47, 183, 516, 170), multiline=True),
                              Text={"margin": [12, 10, 12, 10], "normal": txt(F_CAPTION, LEFT_TOP_WRAP, INK_2),
                                    "grayed": txt(F_CAPTION, LEFT_TOP_WRAP, FAINT)}),
    })
    return w


def install_process_wnd():
    w = frame(610, 430, "hero", "bottom_plain", close_id=1000)
    w.update({
        "hot": pane(LOGO_AT, "logo"),
        "tip": label((47, 258, 416, 24), F_SMALL, LEFT_MID_ELLIPSIS, INK_2),
        "tipprocesswnd": label((463, 255, 100, 28), F_HEADING, RIGHT_MID, BLUE),
        "setupprocess": progress((47, 292, atlas.PROGRESS_W, 8)),
    })
    return w


def success_elements(w):
    w.update({
        "logo": pane(LOGO_AT, "logo_ok"),
        "qrcode": pane((455, 28, atlas.QR, atlas.QR), "qrcode"),
        "L_qr": label((400, 123, 201, 20), F_CAPTION, CENTER_MID, ON_BRAND),
        "L_logo": label((47, 185, 516, 32), F_HEADING, CENTER_MID, INK),
        "L_softtitle": label((30, 246, 550, 22), F_SMALL, LEFT_MID, MUTED),
        # one per recommendation; the screen places them (250 x 22 at x 30 / -300,
        # y -150 / -120); later ones keep this place
        "check": check_box((30, -150, 250, 22), 2010, align=LEFT_MID_ELLIPSIS),
    })
    return w


def install_success_wnd():
    return success_elements(frame(610, 430, "hero", "bottom_plain", close_id=1000))


def success_window():
    # not used by the screens; kept in step with InstallSuccessWnd
    w = success_elements(frame(610, 430, "hero", "bottom_plain", close_id=1000))
    w["InStall"] = big_button(INSTALL_AT, 2001)
    return w


def install_fail_wnd():
    w = frame(610, 430, "hero", "bottom_plain", close_id=4563)
    w.update({
        "errorlogo": pane(LOGO_AT, "logo_error"),
        "L_error": label((135, 102, 320, 24), F_SUB, LEFT_MID, WHITE),
        "L_errorinfo": label((47, 193, 516, 30), F_BODY, CENTER_MID_ELLIPSIS, ERROR),
    })
    return w


# Grid of the 656-wide windows: card 7..649, title bar to y 55, content 47..609.
WINDOW_TITLE_AT = (59, 7, 300, 48)


def uninstall_window():
    w = frame(656, 320, "topbar", "bottom_footer", close_id=1000)
    w.update({
        "Label2": label(WINDOW_TITLE_AT, F_SUB, LEFT_MID, WHITE),
        "Panel1": pane((47, 122, atlas.PANEL_W, atlas.PANEL_H), "panel_confirm"),
        "ButtonOK": element((-167, -51, atlas.OK_W, atlas.SMALL_H), 1001, **states("ok_")),
        # zero size: not shown (no "size" key); the art is ready if it is placed
        "ButtonCancel": element(None, 1002, **states("cancel_")),
    })
    return w


def process_window():
    w = frame(656, 320, "topbar", "bottom_plain")
    w.update({
        "Label2": label(WINDOW_TITLE_AT, F_SUB, LEFT_MID, WHITE),
        "Panel1": pane((47, 106, atlas.PANEL_W, atlas.PANEL_H), "panel_removing"),
        "Label1": label((47, 204, 562, 22), F_SMALL, LEFT_MID_ELLIPSIS, INK_2),
        "Progress1": progress((47, 234, 562, 8)),
        "ButtonCancel": secondary_button((-153, -59, 106, 36), 2002),
    })
    return w


# Feedback form, 642 x 240, placed at (7, 160) inside the closing screen.
FORM_CHECKS = [
    ("Check1", (40, 10, 220, 24), 20101),
    ("Check2", (270, 10, 110, 24), 20102),
    ("Check3", (390, 10, 110, 24), 20103),
    ("Check4", (510, 10, 100, 24), 20104),
    ("Check5", (40, 40, 440, 24), 20105),
]
FORM_TAGS = [
    ("Labeltag1", (40, 72, 214, 28)),
    ("Labeltag2", (40, 106, 214, 28)),
    ("Labeltag3", (40, 140, 214, 28)),
    ("Labeltag4", (40, 176, 214, 24)),
]
FORM_EDITS = [
    ("EditBox1", (258, 72, 344, 28), False),
    ("EditBox2", (258, 106, 344, 28), False),
    ("EditBox3", (258, 140, 344, 28), False),
    ("EditBox4", (258, 176, 344, 56), True),
]
FORM_AT = (7, 160)


def form_elements(offset):
    dx, dy = offset
    els = {}
    for name, (x, y, cw, ch), id in FORM_CHECKS:
        els[name] = check_box((x + dx, y + dy, cw, ch), id)
    for name, (x, y, cw, ch) in FORM_TAGS:
        els[name] = label((x + dx, y + dy, cw, ch), F_SMALL, LEFT_MID, INK_2)
    for name, (x, y, cw, ch), multi in FORM_EDITS:
        els[name] = edit_box((x + dx, y + dy, cw, ch), multiline=multi)
    return els


def float_wnd():
    border = img("float_border")
    w = {
        "size": [0, 0, 642, 240],
        # no top piece: the form is not dragged on its own; the side pieces
        # continue the closing screen's hair-line border
        "Frames": {
            "Left": {"normal": border, "grayed": border},
            "Right": {"normal": border, "grayed": border},
        },
        "Client": {"bkgnd": img("client")},
    }
    w.update(form_elements((0, 0)))
    return w


def uninstalled_window():
    w = frame(656, 460, "topbar", "bottom_footer", close_id=1000)
    w.update({
        "Label2": label(WINDOW_TITLE_AT, F_SUB, LEFT_MID, WHITE),
        "Panel1": pane((47, 72, atlas.PANEL_W, atlas.PANEL_H), "panel_removed"),
        "Panel2": pane((47, -43, 20, 20), "heart"),
        "LabelTKS": label((75, -51, 300, 36), F_SMALL, LEFT_MID, MUTED),
        "ButtonOK": primary_button((-153, -51, 106, 36), 1002),
    })
    # the same questions as the feedback form, at the form's place (described,
    # not created: the screen shows the form window instead)
    w.update(form_elements(FORM_AT))
    return w


def description():
    cfg = {
        "MainWindow": main_window(),
        "SuccessWindow": success_window(),
        "UninstallWindow": uninstall_window(),
        "ProcessWindow": process_window(),
        "UninstalledWindow": uninstalled_window(),
        "FloatWnd": float_wnd(),
        "InstallProcessWnd": install_process_wnd(),
        "InstallSuccessWnd": install_success_wnd(),
        "InstallFailWnd": install_fail_wnd(),
    }
    res = {
        "fonts": [{"id": i, "name": FONTS[i][0]} for i in sorted(FONTS)],
        "images": [{"id": i, "name": atlas.IMAGES[i]} for i in sorted(atlas.IMAGES)],
        "images2x": [{"id": atlas.IMAGE_2X_ID_OFFSET + i, "image": i, "name": atlas.IMAGES_2X[i]}
                     for i in sorted(atlas.IMAGES_2X)],
    }
    return {"cfg": cfg, "res": res}


def dump(value, depth=0):
    """JSON with objects broken into lines down to the element level; styles
    stay on one line each."""
    pad = " " * depth
    if isinstance(value, dict) and depth < 4 and value:
        items = [pad + " " + json.dumps(k, ensure_ascii=False) + ": " + dump(v, depth + 1).lstrip()
                 for k, v in value.items()]
        return pad + "{\n" + ",\n".join(items) + "\n" + pad + "}"
    if isinstance(value, list) and depth < 3 and value and isinstance(value[0], dict):
        items = [pad + " " + dump(v, depth + 1).lstrip() for v in value]
        return pad + "[\n" + ",\n".join(items) + "\n" + pad + "]"
    return pad + json.dumps(value, ensure_ascii=False, separators=(", ", ": "))


def main():
    os.makedirs(os.path.join(SKIN, "fonts"), exist_ok=True)
    for i, (name, height, weight, underline) in sorted(FONTS.items()):
        with open(os.path.join(SKIN, "fonts", name), "w", encoding="utf-8", newline="\n") as f:
            f.write(font_record(height, weight, underline))
    with open(os.path.join(SKIN, "skin.json"), "w", encoding="utf-8", newline="\n") as f:
        f.write(dump(description()) + "\n")


if __name__ == "__main__":
    main()
