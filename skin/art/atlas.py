"""Where every piece of art lives: image ids, file names and the source
rectangles inside each sheet. Shared by draw_skin.py (which draws the sheets)
and make_skin_json.py (which writes the description), so the two never
disagree about a coordinate.

Image ids are 1..99; font ids are 101..199; the 2x images 201..299 (one id
space in the package).
"""

# image id -> file name under skin/images/
IMAGES = {
    1: "hero.png",      # header band of the 610-wide windows (frame "Top")
    2: "topbar.png",    # title bar of the 656-wide windows (frame "Top")
    3: "frame.png",     # shadow, border, footer and client pieces (nine-grid)
    4: "controls.png",  # buttons, check boxes, close, edit, progress, scroll bar
    5: "icons.png",     # product logo and its success / error variants, heart
    6: "qrcode.png",    # the official-account QR code card (replace with the real one)
    7: "panels.png",    # uninstall panels with their captions drawn in
}

HERO, TOPBAR, FRAME, CONTROLS, ICONS, QRCODE, PANELS = 1, 2, 3, 4, 5, 6, 7

# The same sheets drawn at twice the size, for displays from 150 %: file name
# under skin/images2x/ and asset id (the image's id + 200). The program draws
# the nearest of the two and scales from it; rectangles stay at 1x.
IMAGES_2X = {image: name for image, name in IMAGES.items()}
IMAGE_2X_ID_OFFSET = 200

# Geometry shared by all windows.
SHADOW = 7            # transparent shadow margin around the card
RADIUS = 10           # card corner radius
HERO_H = 167          # frame "Top" height of the 610-wide windows (shadow + 160)
TOPBAR_H = 55         # frame "Top" height of the 656-wide windows (shadow + 48)
SIDE_W = 8            # frame "Left"/"Right" width (shadow + 1 px border)
PLAIN_BOTTOM_H = 18   # frame "Bottom" height without a footer
FOOTER_BOTTOM_H = 59  # frame "Bottom" height with the 52 px grey footer
CORNER_W = 20         # kept columns left and right of a bottom piece

# name -> (image id, x, y, w, h)
SPRITES = {}


def _add(name, image, x, y, w, h):
    SPRITES[name] = (image, x, y, w, h)


_add("hero", HERO, 0, 0, 610, HERO_H)
_add("topbar", TOPBAR, 0, 0, 656, TOPBAR_H)

# frame.png
_add("side_left", FRAME, 0, 0, SIDE_W, 4)
_add("side_right", FRAME, 10, 0, SIDE_W, 4)
_add("client", FRAME, 20, 0, 4, 4)
_add("float_border", FRAME, 26, 0, 1, 4)
_add("bottom_plain", FRAME, 0, 6, 2 * CORNER_W + 1, PLAIN_BOTTOM_H)
_add("bottom_footer", FRAME, 2 * CORNER_W + 3, 6, 2 * CORNER_W + 1, FOOTER_BOTTOM_H)
FRAME_SIZE = (4 * CORNER_W + 4, 6 + FOOTER_BOTTOM_H)

# controls.png: one column per control family, states stacked in the order
# normal, lighted, pressed, grayed.
STATES = ("normal", "lighted", "pressed", "grayed")
BIG_W, BIG_H = 180, 48        # primary call-to-action (pill + soft shadow)
SMALL_H = 36                  # footer / form buttons (pill, nine-grid)
PILL_SRC_W = SMALL_H + 1      # nine-grid source: two half circles and one column
OK_W, CANCEL_W = 120, 96      # uninstall buttons with their captions drawn in
for i, s in enumerate(STATES):
    _add("big_" + s, CONTROLS, 0, i * (BIG_H + 2), BIG_W, BIG_H)
    _add("ok_" + s, CONTROLS, 182, i * (SMALL_H + 2), OK_W, SMALL_H)
    _add("cancel_" + s, CONTROLS, 304, i * (SMALL_H + 2), CANCEL_W, SMALL_H)
    _add("primary_" + s, CONTROLS, 402, i * (SMALL_H + 2), PILL_SRC_W, SMALL_H)
    _add("secondary_" + s, CONTROLS, 441, i * (SMALL_H + 2), PILL_SRC_W, SMALL_H)
    _add("close_" + s, CONTROLS, 480, i * 30, 28, 28)
    _add("check_" + s, CONTROLS, 510, i * 18, 16, 16)
_add("edit", CONTROLS, 510, 76, 13, 13)
_add("scroll_track", CONTROLS, 480, 122, 8, 9)
_add("scroll_thumb", CONTROLS, 490, 122, 8, 17)
_add("progress_track", CONTROLS, 510, 92, 9, 8)
PROGRESS_W = 516
_add("progress_fill", CONTROLS, 0, 4 * (BIG_H + 2), PROGRESS_W, 8)
CONTROLS_SIZE = (528, 4 * (BIG_H + 2) + 8)

# icons.png
LOGO = 72
_add("logo", ICONS, 0, 0, LOGO, LOGO)
_add("logo_ok", ICONS, LOGO + 2, 0, LOGO, LOGO)
_add("logo_error", ICONS, 2 * (LOGO + 2), 0, LOGO, LOGO)
_add("heart", ICONS, 3 * (LOGO + 2), 0, 20, 20)
ICONS_SIZE = (3 * (LOGO + 2) + 20, LOGO)

# qrcode.png
QR = 91
_add("qrcode", QRCODE, 0, 0, QR, QR)

# panels.png: uninstall screen captions on white
PANEL_W, PANEL_H = 562, 72
_add("panel_confirm", PANELS, 0, 0, PANEL_W, PANEL_H)
_add("panel_removing", PANELS, 0, PANEL_H + 2, PANEL_W, PANEL_H)
_add("panel_removed", PANELS, 0, 2 * (PANEL_H + 2), PANEL_W, PANEL_H)
PANELS_SIZE = (PANEL_W, 3 * PANEL_H + 4)

SHEET_SIZES = {
    HERO: (610, HERO_H),
    TOPBAR: (656, TOPBAR_H),
    FRAME: FRAME_SIZE,
    CONTROLS: CONTROLS_SIZE,
    ICONS: ICONS_SIZE,
    QRCODE: (QR, QR),
    PANELS: PANELS_SIZE,
}


def rect(name):
    """[x, y, w, h] of a sprite, as the description's "bg" wants it."""
    _, x, y, w, h = SPRITES[name]
    return [x, y, w, h]


def image_of(name):
    return SPRITES[name][0]
