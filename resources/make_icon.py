#!/usr/bin/python3
"""Write the launcher's application icon: 64x64, 24-bit colour, one image.

Usage: make_icon.py OUT.ico

The picture is a white coffee cup with steam on a blue rounded square. It is
drawn with integer arithmetic only (4x4 supersampling on a 1/8-pixel grid), so
the output is byte-identical on every machine and Python version; no floating
point or libm result can nudge a pixel.
"""

import struct
import sys

SIZE = 64
SUB = 4                 # samples per pixel along each axis
UNIT = 2 * SUB          # grid units per pixel; samples sit at odd units

# Colours as (R, G, B).
BG_TOP = (0x2E, 0x7D, 0xC9)
BG_BOTTOM = (0x15, 0x3E, 0x75)
CUP = (0xFA, 0xF7, 0xF2)
COFFEE = (0x6B, 0x3E, 0x21)
STEAM = (0xD8, 0xE6, 0xF5)

CORNER_RADIUS = 12      # of the rounded square, in pixels


def px(v):
    """Pixels (int or a fraction given as (num, den)) to grid units."""
    if isinstance(v, tuple):
        num, den = v
        return num * UNIT // den
    return v * UNIT


def in_rounded_rect(x, y, x0, y0, x1, y1, r):
    """(x, y), x0.. in grid units; the rectangle spans [x0, x1) x [y0, y1)."""
    if x < x0 or x >= x1 or y < y0 or y >= y1:
        return False
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    dx, dy = x - cx, y - cy
    return dx * dx + dy * dy <= r * r


def in_ellipse(x, y, cx, cy, rx, ry):
    dx, dy = x - cx, y - cy
    # dx^2/rx^2 + dy^2/ry^2 <= 1, multiplied out to stay in integers
    return dx * dx * ry * ry + dy * dy * rx * rx <= rx * rx * ry * ry


def in_annulus(x, y, cx, cy, r_in, r_out):
    d2 = (x - cx) ** 2 + (y - cy) ** 2
    return r_in * r_in <= d2 <= r_out * r_out


# Cup geometry, in grid units.
CUP_X0, CUP_X1 = px(14), px(42)
CUP_TOP, CUP_BOTTOM = px(26), px(50)
CUP_RIM_RY = px(3)
HANDLE_CX, HANDLE_CY = px(41), px(36)
HANDLE_R_IN, HANDLE_R_OUT = px((9, 2)), px(9)
SAUCER_CX, SAUCER_CY = px(28), px(51)
SAUCER_RX, SAUCER_RY = px(22), px(3)

# Steam: each wisp is an S made of two half rings stacked vertically.
WISP_R = px(3)
WISP_HALF_W = px((1, 1))
WISP_BASE_Y = px(22)
WISP_XS = (px(20), px(28), px(36))


def in_steam(x, y):
    for wx in WISP_XS:
        lower_cy = WISP_BASE_Y - WISP_R
        upper_cy = lower_cy - 2 * WISP_R
        r_in, r_out = WISP_R - WISP_HALF_W, WISP_R + WISP_HALF_W
        # lower bowl opens left, upper bowl opens right: an S rising from the cup
        if x >= wx and in_annulus(x, y, wx, lower_cy, r_in, r_out):
            return True
        if x <= wx and in_annulus(x, y, wx, upper_cy, r_in, r_out):
            return True
    return False


def in_cup_body(x, y):
    if x < CUP_X0 or x >= CUP_X1 or y < CUP_TOP or y >= CUP_BOTTOM:
        return False
    # Round off the two bottom corners.
    return in_rounded_rect(x, y, CUP_X0, CUP_TOP - px(20), CUP_X1, CUP_BOTTOM,
                           px(8))


def sample_colour(x, y, background):
    """Colour of the glyph at sample (x, y), layered back to front."""
    colour = background
    cup_cx = (CUP_X0 + CUP_X1) // 2
    cup_rx = (CUP_X1 - CUP_X0) // 2
    if in_steam(x, y):
        colour = STEAM
    if in_ellipse(x, y, SAUCER_CX, SAUCER_CY, SAUCER_RX, SAUCER_RY):
        colour = CUP
    if x >= cup_cx and in_annulus(x, y, HANDLE_CX, HANDLE_CY,
                                  HANDLE_R_IN, HANDLE_R_OUT):
        colour = CUP
    if in_cup_body(x, y) or in_ellipse(x, y, cup_cx, CUP_TOP, cup_rx,
                                       CUP_RIM_RY):
        colour = CUP
    # The coffee surface, a slightly smaller ellipse inside the rim.
    if in_ellipse(x, y, cup_cx, CUP_TOP, cup_rx - px(2), CUP_RIM_RY - px(1)):
        colour = COFFEE
    return colour


def background_at(py):
    """Vertical gradient, integer interpolation."""
    return tuple(t + (b - t) * py // (SIZE - 1)
                 for t, b in zip(BG_TOP, BG_BOTTOM))


def render():
    """Rows top to bottom of ((r, g, b), opaque) pixels."""
    square = (0, 0, px(SIZE), px(SIZE), px(CORNER_RADIUS))
    rows = []
    for py in range(SIZE):
        bg = background_at(py)
        row = []
        for pxl in range(SIZE):
            sums = [0, 0, 0]
            inside = 0
            for sy in range(SUB):
                y = py * UNIT + 2 * sy + 1
                for sx in range(SUB):
                    x = pxl * UNIT + 2 * sx + 1
                    if not in_rounded_rect(x, y, *square):
                        continue
                    inside += 1
                    c = sample_colour(x, y, bg)
                    for i in range(3):
                        sums[i] += c[i]
            # Transparency is 1-bit, so the corner edge cannot be blended
            # against an unknown desktop; half coverage decides.
            opaque = inside * 2 >= SUB * SUB
            if opaque:
                rgb = tuple((s + inside // 2) // inside for s in sums)
            else:
                rgb = (0, 0, 0)     # black under a set mask bit = unchanged
            row.append((rgb, opaque))
        rows.append(row)
    return rows


def encode_ico(rows):
    xor_stride = (SIZE * 3 + 3) & ~3
    and_stride = ((SIZE + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for row in reversed(rows):          # DIB rows are stored bottom-up
        line = bytearray()
        for (r, g, b), _ in row:
            line += bytes((b, g, r))
        line += b"\0" * (xor_stride - len(line))
        xor += line
        bits = bytearray(and_stride)
        for i, (_, opaque) in enumerate(row):
            if not opaque:
                bits[i // 8] |= 0x80 >> (i % 8)
        mask += bits
    image_size = len(xor) + len(mask)
    dib_header = struct.pack(
        "<IiiHHIIiiII",
        40,             # biSize
        SIZE,           # biWidth
        SIZE * 2,       # biHeight: colour rows plus mask rows
        1,              # biPlanes
        24,             # biBitCount
        0,              # biCompression = BI_RGB
        image_size,     # biSizeImage
        0, 0,           # resolution, unused for icons
        0, 0)           # no palette
    dib = dib_header + xor + mask
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack(
        "<BBBBHHII",
        SIZE, SIZE,     # width, height
        0,              # colour count: 0 for no palette
        0,              # reserved
        1,              # planes
        24,             # bit count
        len(dib),
        6 + 16)         # image follows the directory and its one entry
    return icondir + entry + dib


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: make_icon.py OUT.ico\n")
        return 2
    data = encode_ico(render())
    with open(argv[1], "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
