#!/usr/bin/env python3
"""Draws the icons and bitmaps of vellum.exe and writes them as .ico and .bmp.

Usage: draw_images.py OUTPUT_DIR

Every picture is built from a few shapes (discs, rectangles, polygons, thick
lines) filled with colours of the palette below. The build runs this script
and the resource script includes its output, so no image file is kept in the
repository. Python standard library only.

Icons are 32-bit with alpha plus an AND mask, drawn with 4x4 supersampling so
that their edges are smooth on any background. Bitmaps are 8-bit palette
images drawn without smoothing: their background is a key colour that the
program turns transparent (the state images) or into the button face (the
toolbar), so every pixel must be either exactly the key or a real colour.
"""

import math
import os
import struct
import sys

# ---- Palette -----------------------------------------------------------------

# Key colours: the program's image lists and toolbar depend on these exact
# values; no picture may use them for anything but background.
STATE_KEY = (128, 128, 128)     # transparent in the tree views' state images
BUTTON_FACE_KEY = (192, 192, 192)  # mapped to the button face by the toolbar

BLACK = (0, 0, 0)
WHITE = (255, 255, 255)
OUTLINE = (40, 40, 48)
DARK_GREY = (96, 96, 96)
SILVER = (212, 212, 212)       # metal parts; stays clear of both keys
RED = (224, 24, 24)
DARK_RED = (128, 0, 0)
GREEN = (0, 176, 48)
DARK_GREEN = (0, 104, 24)
PAGE_GREEN = (120, 216, 120)
YELLOW = (255, 224, 0)
DARK_YELLOW = (160, 128, 0)
GOLD = (232, 176, 32)
CYAN = (0, 224, 240)
DARK_CYAN = (0, 128, 144)
MAGENTA = (232, 0, 200)
DARK_MAGENTA = (120, 0, 104)
BLUE = (0, 64, 224)
NAVY = (0, 32, 128)
OCEAN = (32, 112, 232)
LAND = (56, 176, 72)
SKY = (136, 200, 255)
LABEL_LINE = (150, 150, 170)

# ---- Shapes --------------------------------------------------------------------
# Coordinates are in pixels of the finished image: pixel (x, y) covers the
# square from (x, y) to (x + 1, y + 1), so Rect(2, 3, 14, 13) fills columns
# 2..13 and rows 3..12. A shape answers whether a point lies inside it and
# gives a bounding box so that filling only visits the pixels it may touch.


class Shape:
    def __and__(self, other):
        return Both(self, other)

    def __sub__(self, other):
        return Minus(self, other)

    def __or__(self, other):
        return Either(self, other)


class Rect(Shape):
    def __init__(self, x0, y0, x1, y1):
        self.box = (x0, y0, x1, y1)

    def contains(self, x, y):
        x0, y0, x1, y1 = self.box
        return x0 <= x < x1 and y0 <= y < y1


class Ellipse(Shape):
    def __init__(self, cx, cy, rx, ry=None):
        ry = rx if ry is None else ry
        self.c, self.r = (cx, cy), (rx, ry)
        self.box = (cx - rx, cy - ry, cx + rx, cy + ry)

    def contains(self, x, y):
        dx = (x - self.c[0]) / self.r[0]
        dy = (y - self.c[1]) / self.r[1]
        return dx * dx + dy * dy <= 1.0


def Disc(cx, cy, r):
    return Ellipse(cx, cy, r)


class Polygon(Shape):
    def __init__(self, points):
        self.points = list(points)
        xs = [p[0] for p in self.points]
        ys = [p[1] for p in self.points]
        self.box = (min(xs), min(ys), max(xs), max(ys))

    def contains(self, x, y):
        # Even-odd rule by crossing count.
        inside = False
        pts = self.points
        j = len(pts) - 1
        for i in range(len(pts)):
            (xi, yi), (xj, yj) = pts[i], pts[j]
            if (yi > y) != (yj > y):
                if x < xi + (y - yi) * (xj - xi) / (yj - yi):
                    inside = not inside
            j = i
        return inside


class Line(Shape):
    """A stroke of the given width with round ends."""

    def __init__(self, x0, y0, x1, y1, width):
        self.a, self.b, self.h = (x0, y0), (x1, y1), width / 2.0
        self.box = (min(x0, x1) - self.h, min(y0, y1) - self.h,
                    max(x0, x1) + self.h, max(y0, y1) + self.h)

    def contains(self, x, y):
        (ax, ay), (bx, by) = self.a, self.b
        dx, dy = bx - ax, by - ay
        length2 = dx * dx + dy * dy
        t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / length2))
        px, py = ax + t * dx - x, ay + t * dy - y
        return px * px + py * py <= self.h * self.h


class Both(Shape):
    def __init__(self, a, b):
        self.a, self.b = a, b
        self.box = (max(a.box[0], b.box[0]), max(a.box[1], b.box[1]),
                    min(a.box[2], b.box[2]), min(a.box[3], b.box[3]))

    def contains(self, x, y):
        return self.a.contains(x, y) and self.b.contains(x, y)


class Minus(Shape):
    def __init__(self, a, b):
        self.a, self.b, self.box = a, b, a.box

    def contains(self, x, y):
        return self.a.contains(x, y) and not self.b.contains(x, y)


class Either(Shape):
    def __init__(self, a, b):
        self.a, self.b = a, b
        self.box = (min(a.box[0], b.box[0]), min(a.box[1], b.box[1]),
                    max(a.box[2], b.box[2]), max(a.box[3], b.box[3]))

    def contains(self, x, y):
        return self.a.contains(x, y) or self.b.contains(x, y)


def star(cx, cy, outer, inner, points, turn=0.0):
    """A star (or burst) of `points` spikes; the first spike points up, turned by `turn` spikes."""
    corners = []
    for i in range(points * 2):
        angle = math.pi * (i + turn * 2) / points - math.pi / 2
        r = outer if i % 2 == 0 else inner
        corners.append((cx + r * math.cos(angle), cy + r * math.sin(angle)))
    return Polygon(corners)


def diamond(cx, cy, r):
    return Polygon([(cx, cy - r), (cx + r, cy), (cx, cy + r), (cx - r, cy)])


# ---- Canvas --------------------------------------------------------------------


class Canvas:
    """RGBA pixels; `samples` sub-pixels per pixel edge smooth the edges."""

    def __init__(self, width, height, background=None, samples=1):
        self.width, self.height, self.samples = width, height, samples
        fill = (0, 0, 0, 0) if background is None else tuple(background) + (255,)
        self.dots = [fill] * (width * height * samples * samples)

    def fill(self, shape, colour, alpha=255):
        s = self.samples
        w, h = self.width * s, self.height * s
        x0, y0, x1, y1 = shape.box
        c = tuple(colour)
        for sy in range(max(0, int(math.floor(y0 * s))), min(h, int(math.ceil(y1 * s)))):
            y = (sy + 0.5) / s
            row = sy * w
            for sx in range(max(0, int(math.floor(x0 * s))), min(w, int(math.ceil(x1 * s)))):
                if shape.contains((sx + 0.5) / s, y):
                    if alpha == 255:
                        self.dots[row + sx] = c + (255,)
                    else:
                        self.dots[row + sx] = blend(self.dots[row + sx], c, alpha)

    def pixels(self):
        """Rows of (r, g, b, a), top row first, averaged over the samples."""
        s = self.samples
        w = self.width * s
        rows = []
        for y in range(self.height):
            row = []
            for x in range(self.width):
                r = g = b = a = 0
                for sy in range(y * s, y * s + s):
                    for sx in range(x * s, x * s + s):
                        dr, dg, db, da = self.dots[sy * w + sx]
                        r += dr * da
                        g += dg * da
                        b += db * da
                        a += da
                if a:
                    row.append((round(r / a), round(g / a), round(b / a), round(a / (s * s))))
                else:
                    row.append((0, 0, 0, 0))
            rows.append(row)
        return rows


class Shrunk(Shape):
    """The points of `shape` whose neighbours `d` away (in eight directions) are inside it too."""

    def __init__(self, shape, d):
        self.shape, self.d = shape, d
        x0, y0, x1, y1 = shape.box
        self.box = (x0 + d, y0 + d, x1 - d, y1 - d)
        k = d * math.sqrt(0.5)
        self.offsets = [(0, 0), (d, 0), (-d, 0), (0, d), (0, -d), (k, k), (k, -k), (-k, k), (-k, -k)]

    def contains(self, x, y):
        return all(self.shape.contains(x + dx, y + dy) for dx, dy in self.offsets)


def blend(under, colour, alpha):
    ur, ug, ub, ua = under
    a = alpha / 255.0
    out_a = a + ua / 255.0 * (1 - a)
    if out_a == 0:
        return (0, 0, 0, 0)
    mix = [(colour[i] * a + under[i] * ua / 255.0 * (1 - a)) / out_a for i in range(3)]
    return (round(mix[0]), round(mix[1]), round(mix[2]), round(out_a * 255))


# ---- Pictures shared by icons and bitmaps ---------------------------------------
# Each draws into a box of `size` pixels whose top-left corner is (x, y); the
# designs are made for 16 pixels and scale.


def draw_globe(c, x, y, size):
    k = size / 16.0
    cx, cy, r = x + 8 * k, y + 8 * k, 7.5 * k
    ball = Disc(cx, cy, r)
    c.fill(ball, OUTLINE)
    inner = Disc(cx, cy, r - k)
    c.fill(inner, OCEAN)
    # Two continents, a large one to the left and a smaller one to the right.
    west = Polygon([(x + 3 * k, y + 3 * k), (x + 8 * k, y + 2.5 * k), (x + 8.5 * k, y + 6 * k),
                    (x + 6.5 * k, y + 8 * k), (x + 7 * k, y + 11 * k), (x + 5 * k, y + 13.5 * k),
                    (x + 3.5 * k, y + 10 * k), (x + 1.5 * k, y + 7 * k)])
    east = Polygon([(x + 10 * k, y + 6.5 * k), (x + 14 * k, y + 6 * k), (x + 14.5 * k, y + 10 * k),
                    (x + 12 * k, y + 13 * k), (x + 10.5 * k, y + 10 * k)])
    c.fill(west & inner, LAND)
    c.fill(east & inner, LAND)
    # A light rim on the upper left gives the ball its roundness.
    c.fill((inner - Disc(cx + 0.8 * k, cy + 0.8 * k, r - 1.2 * k)) & Rect(x, y, cx, cy), SKY)


def draw_floppy(c, x, y, size):
    """A save device: square body, shutter at the top, white label below."""
    k = size / 16.0
    body = Polygon([(x + 1 * k, y + 1 * k), (x + 13 * k, y + 1 * k), (x + 15 * k, y + 3 * k),
                    (x + 15 * k, y + 15 * k), (x + 1 * k, y + 15 * k)])
    c.fill(body, OUTLINE)
    c.fill(Shrunk(body, k), NAVY)
    c.fill(Rect(x + 4 * k, y + 2 * k, x + 12 * k, y + 6 * k), SILVER)
    c.fill(Rect(x + 9 * k, y + 2.5 * k, x + 11 * k, y + 5.5 * k), NAVY)
    c.fill(Rect(x + 3 * k, y + 8 * k, x + 13 * k, y + 14 * k), WHITE)
    for row in (10, 12):
        c.fill(Rect(x + 4 * k, y + row * k, x + 12 * k, y + (row + 1) * k), LABEL_LINE)


def draw_burst(c, cx, cy, r, colour, edge):
    """The mode mark: a many-pointed burst with a dark edge so that light colours
    still stand out on a white background."""
    c.fill(star(cx, cy, r, r * 0.62, 10), edge)
    c.fill(star(cx, cy, r - 1.1, (r - 1.1) * 0.62, 10), colour)
    c.fill(Disc(cx - r * 0.18, cy - r * 0.18, r * 0.22), WHITE, alpha=110)


def draw_page(c, x, y, fill, lines):
    """A sheet with a folded upper-right corner; `lines` draws text rows on it."""
    outer = Polygon([(x + 2, y + 1), (x + 10, y + 1), (x + 14, y + 5), (x + 14, y + 15), (x + 2, y + 15)])
    c.fill(outer, OUTLINE)
    c.fill(Polygon([(x + 3, y + 2), (x + 9, y + 2), (x + 9, y + 6), (x + 13, y + 6),
                    (x + 13, y + 14), (x + 3, y + 14)]), fill)
    c.fill(Polygon([(x + 10, y + 2), (x + 13, y + 5), (x + 10, y + 5)]), WHITE)
    if lines:
        for row in (8, 10, 12):
            c.fill(Rect(x + 5, y + row, x + 11, y + row + 1), lines)
        c.fill(Rect(x + 5, y + 4, x + 8, y + 5), lines)


def draw_question(c, x, y, colour, big):
    """A question mark: an open hook, a stem and a dot."""
    if big:
        hook = Polygon([(x + 3, y + 5), (x + 5, y + 2), (x + 8, y + 1), (x + 11, y + 2), (x + 13, y + 5),
                        (x + 12, y + 8), (x + 9.5, y + 10), (x + 9.5, y + 12), (x + 6.5, y + 12),
                        (x + 6.5, y + 9), (x + 9.5, y + 7), (x + 10, y + 5), (x + 8, y + 4),
                        (x + 6, y + 5), (x + 6, y + 6), (x + 3, y + 6)])
        c.fill(hook, colour)
        c.fill(Rect(x + 6.5, y + 13, x + 9.5, y + 16), colour)
    else:
        # Too small for curves: drawn pixel by pixel, two pixels thick.
        draw_pattern(c, x + 5, y, colour, [
            ".####.",
            "##..##",
            "....##",
            "...##.",
            "..##..",
            "......",
            "..##..",
        ])


def draw_pattern(c, x, y, colour, rows):
    for dy, row in enumerate(rows):
        for dx, mark in enumerate(row):
            if mark == "#":
                c.fill(Rect(x + dx, y + dy, x + dx + 1, y + dy + 1), colour)


def draw_padlock(c, x, y):
    shackle = (Disc(x + 8, y + 6, 5) - Disc(x + 8, y + 6, 2.9)) & Rect(x, y, x + 16, y + 7)
    legs = (Rect(x + 3, y + 6, x + 5.1, y + 8) | Rect(x + 10.9, y + 6, x + 13, y + 8))
    c.fill(shackle | legs, DARK_GREY)
    c.fill(Rect(x + 2, y + 7, x + 14, y + 15), OUTLINE)
    c.fill(Rect(x + 3, y + 8, x + 13, y + 14), GOLD)
    c.fill(Rect(x + 7, y + 9, x + 9, y + 13), OUTLINE)


def draw_diamond(c, x, y, fill):
    c.fill(diamond(x + 8, y + 8, 7.5), OUTLINE)
    if fill is not None:
        c.fill(diamond(x + 8, y + 8, 6), fill)
    else:
        c.fill(diamond(x + 8, y + 8, 5.5), STATE_KEY)


def draw_cross(c, x, y):
    for a, b in (((3, 3), (13, 13)), ((13, 3), (3, 13))):
        c.fill(Line(x + a[0], y + a[1], x + b[0], y + b[1], 5), DARK_RED)
    for a, b in (((3, 3), (13, 13)), ((13, 3), (3, 13))):
        c.fill(Line(x + a[0], y + a[1], x + b[0], y + b[1], 3), RED)


def draw_right_arrow(c, x, y, fill, edge):
    arrow = Polygon([(x + 1, y + 5), (x + 8, y + 5), (x + 8, y + 1), (x + 15, y + 8),
                     (x + 8, y + 15), (x + 8, y + 11), (x + 1, y + 11)])
    c.fill(arrow, edge)
    c.fill(Polygon([(x + 2, y + 6), (x + 9, y + 6), (x + 9, y + 3.4), (x + 13.6, y + 8),
                    (x + 9, y + 12.6), (x + 9, y + 10), (x + 2, y + 10)]), fill)


def draw_both_ways_arrow(c, x, y, fill, edge):
    """A tunnel that has ended: bytes went both ways through it."""
    c.fill(Polygon([(x + 0.5, y + 8), (x + 5, y + 3), (x + 5, y + 6), (x + 11, y + 6), (x + 11, y + 3),
                    (x + 15.5, y + 8), (x + 11, y + 13), (x + 11, y + 10), (x + 5, y + 10), (x + 5, y + 13)]), edge)
    c.fill(Polygon([(x + 2, y + 8), (x + 4, y + 5.4), (x + 4, y + 7), (x + 12, y + 7), (x + 12, y + 5.4),
                    (x + 14, y + 8), (x + 12, y + 10.6), (x + 12, y + 9), (x + 4, y + 9), (x + 4, y + 10.6)]), fill)


def draw_down_arrow(c, x, y, thick):
    if thick:
        c.fill(Polygon([(x + 4, y + 1), (x + 12, y + 1), (x + 12, y + 8), (x + 15, y + 8),
                        (x + 8, y + 15), (x + 1, y + 8), (x + 4, y + 8)]), NAVY)
        c.fill(Polygon([(x + 5, y + 2), (x + 11, y + 2), (x + 11, y + 9), (x + 12.6, y + 9),
                        (x + 8, y + 13.6), (x + 3.4, y + 9), (x + 5, y + 9)]), BLUE)
    else:
        c.fill(Rect(x + 7, y + 2, x + 9, y + 11), BLUE)
        c.fill(Polygon([(x + 4, y + 9), (x + 12, y + 9), (x + 8, y + 14)]), BLUE)


def draw_film(c, x, y):
    c.fill(Rect(x + 3, y + 1, x + 13, y + 15), BLACK)
    for row in range(2, 15, 3):
        c.fill(Rect(x + 4, y + row, x + 5, y + row + 2), WHITE)
        c.fill(Rect(x + 11, y + row, x + 12, y + row + 2), WHITE)
    c.fill(Rect(x + 6, y + 2, x + 10, y + 7), SKY)
    c.fill(Rect(x + 6, y + 9, x + 10, y + 14), SKY)


def draw_picture(c, x, y):
    c.fill(Rect(x + 1, y + 2, x + 15, y + 14), OUTLINE)
    c.fill(Rect(x + 2, y + 3, x + 14, y + 13), SKY)
    c.fill(Disc(x + 11, y + 6, 1.6), YELLOW)
    c.fill(Polygon([(x + 2, y + 13), (x + 2, y + 10), (x + 6, y + 6), (x + 10, y + 10),
                    (x + 12, y + 9), (x + 14, y + 11), (x + 14, y + 13)]), GREEN)


def draw_face(c, x, y):
    c.fill(Disc(x + 8, y + 8, 7.5), OUTLINE)
    c.fill(Disc(x + 8, y + 8, 6.5), YELLOW)
    c.fill(Rect(x + 5, y + 5, x + 7, y + 7), BLACK)
    c.fill(Rect(x + 9, y + 5, x + 11, y + 7), BLACK)
    c.fill((Disc(x + 8, y + 8, 4.5) - Disc(x + 8, y + 7.5, 3.3)) & Rect(x, y + 9, x + 16, y + 16), BLACK)


def draw_square(c, x, y, fill, edge):
    c.fill(Rect(x + 2, y + 2, x + 14, y + 14), edge)
    if fill is not None:
        c.fill(Rect(x + 3, y + 3, x + 13, y + 13), fill)
    else:
        c.fill(Rect(x + 4, y + 4, x + 12, y + 12), STATE_KEY)


def draw_star_square(c, x, y):
    """A sheet carrying a black badge with a white star: a file of some other type."""
    draw_page(c, x, y, WHITE, None)
    c.fill(Rect(x + 4, y + 6, x + 12, y + 14), BLACK)
    c.fill(star(x + 8, y + 10.2, 3.6, 1.5, 5), WHITE)


def draw_page_star(c, x, y):
    draw_page(c, x, y, WHITE, None)
    c.fill(star(x + 8, y + 9.4, 5, 2.1, 5), DARK_RED)
    c.fill(star(x + 8, y + 9.4, 3.6, 1.5, 5), RED)


def draw_page_question(c, x, y):
    draw_page(c, x, y, WHITE, None)
    draw_question(c, x, y + 6, BLUE, big=False)


# ---- Icons -------------------------------------------------------------------------


def emblem_icon(size, burst, edge):
    """Disk and globe with the mode burst in the lower right."""
    c = Canvas(size, size, samples=4)
    k = size / 16.0
    draw_floppy(c, 0, 4 * k, 11 * k)
    draw_globe(c, 4 * k, 0, 11 * k)
    draw_burst(c, 11 * k, 11 * k, 5 * k, burst, edge)
    return c


def busy_icon(size, burst, edge):
    """The burst alone on a cyan square: connections are alive."""
    c = Canvas(size, size, samples=4)
    k = size / 16.0
    c.fill(Rect(0.5 * k, 0.5 * k, 15.5 * k, 15.5 * k), DARK_CYAN)
    c.fill(Rect(1.5 * k, 1.5 * k, 14.5 * k, 14.5 * k), CYAN)
    draw_burst(c, 8 * k, 8 * k, 6.4 * k, burst, edge)
    return c


def burst_icon(size, burst, edge):
    c = Canvas(size, size, samples=4)
    k = size / 16.0
    draw_burst(c, 8 * k, 8 * k, 7.8 * k, burst, edge)
    return c


ICONS = [
    # file, sizes, drawing
    ("offline.ico", (16, 32), lambda n: emblem_icon(n, GREEN, DARK_GREEN)),
    ("online.ico", (16,), lambda n: emblem_icon(n, YELLOW, DARK_YELLOW)),
    ("recording.ico", (16,), lambda n: emblem_icon(n, RED, DARK_RED)),
    ("offline_busy.ico", (16,), lambda n: busy_icon(n, GREEN, DARK_GREEN)),
    ("online_busy.ico", (16,), lambda n: busy_icon(n, YELLOW, DARK_YELLOW)),
    ("recording_busy.ico", (16,), lambda n: busy_icon(n, RED, DARK_RED)),
    ("autoget.ico", (16, 32), lambda n: burst_icon(n, MAGENTA, DARK_MAGENTA)),
    ("autoget_running.ico", (16,), lambda n: busy_icon(n, MAGENTA, DARK_MAGENTA)),
]

# ---- Bitmaps -------------------------------------------------------------------------

REQUEST_STATES = [
    None,                                                   # 0 no state
    lambda c, x: draw_page(c, x, 0, PAGE_GREEN, DARK_GREEN),  # 1 HTML page
    lambda c, x: draw_right_arrow(c, x, 0, CYAN, DARK_CYAN),  # 2 browser request in progress
    lambda c, x: draw_cross(c, x, 0),                       # 3 ended abnormally
    lambda c, x: draw_both_ways_arrow(c, x, 0, GREEN, DARK_GREEN),  # 4 CONNECT tunnel ended
    lambda c, x: draw_padlock(c, x, 0),                     # 5 401
    lambda c, x: draw_star_square(c, x, 0),                 # 6 other content type
    lambda c, x: draw_picture(c, x, 0),                     # 7 image
    lambda c, x: draw_film(c, x, 0),                        # 8 video
    lambda c, x: draw_page(c, x, 0, WHITE, LABEL_LINE),     # 9 other text
    lambda c, x: draw_page_question(c, x, 0),               # 10 200 without content type
    lambda c, x: draw_diamond(c, x, 0, RED),                # 11 404
    lambda c, x: draw_question(c, x, 0, BLUE, big=True),    # 12 no answer
    lambda c, x: draw_diamond(c, x, 0, None),               # 13 304 without content type
    lambda c, x: draw_diamond(c, x, 0, YELLOW),             # 14 other status
    lambda c, x: draw_right_arrow(c, x, 0, RED, DARK_RED),  # 15 crawler request in progress
]

PAGE_STATES = [
    None,                                                   # 0 no state
    lambda c, x: draw_page(c, x, 0, PAGE_GREEN, DARK_GREEN),  # 1 HTML
    lambda c, x: draw_page_star(c, x, 0),                   # 2 other text
    lambda c, x: draw_cross(c, x, 0),                       # 3 failed
    lambda c, x: draw_down_arrow(c, x, 0, thick=False),     # 4 skipped by a rule
    lambda c, x: draw_square(c, x, 0, None, BLUE),          # 5 waiting
    lambda c, x: draw_square(c, x, 0, CYAN, DARK_CYAN),     # 6 being fetched
    lambda c, x: draw_face(c, x, 0),                        # 7 image
    lambda c, x: draw_film(c, x, 0),                        # 8 video
    lambda c, x: draw_page(c, x, 0, WHITE, LABEL_LINE),     # 9 other content type
    lambda c, x: draw_page_question(c, x, 0),               # 10 no content type
    lambda c, x: draw_diamond(c, x, 0, RED),                # 11 4xx
    lambda c, x: draw_square(c, x, 0, YELLOW, DARK_YELLOW),  # 12 waiting for a retry
    lambda c, x: draw_down_arrow(c, x, 0, thick=True),      # 13 skipped by the user
    lambda c, x: draw_diamond(c, x, 0, YELLOW),             # 14 3xx
    lambda c, x: draw_padlock(c, x, 0),                     # 15 authentication refused
]


def draw_save(c, x, y):
    draw_floppy(c, x, y + 3, 12)
    arrow = Polygon([(x + 9, y), (x + 13, y), (x + 13, y + 5), (x + 15.5, y + 5), (x + 11, y + 10),
                     (x + 6.5, y + 5), (x + 9, y + 5)])
    c.fill(arrow, DARK_RED)
    c.fill(Shrunk(arrow, 1.0), RED)


def draw_window(c, x, y):
    c.fill(Rect(x + 1, y + 2, x + 15, y + 14), OUTLINE)
    c.fill(Rect(x + 2, y + 3, x + 14, y + 6), NAVY)
    c.fill(Rect(x + 2, y + 6, x + 14, y + 13), WHITE)
    c.fill(Rect(x + 11, y + 4, x + 13, y + 5), WHITE)


def draw_play(c, x, y):
    c.fill(Polygon([(x + 3, y + 1), (x + 14, y + 7.5), (x + 3, y + 14)]), DARK_RED)
    c.fill(Polygon([(x + 4, y + 3), (x + 12, y + 7.5), (x + 4, y + 12)]), RED)


def draw_pause(c, x, y):
    for left in (3, 9):
        c.fill(Rect(x + left, y + 2, x + left + 4, y + 13), DARK_RED)
        c.fill(Rect(x + left + 1, y + 3, x + left + 3, y + 12), RED)


TOOLBAR = [
    lambda c, x: draw_globe(c, x, 0, 15),   # 0 インターネット接続
    lambda c, x: draw_save(c, x, 0),        # 1 ページ保存
    lambda c, x: draw_window(c, x, 0),      # 2 自動取得ウィンドウを開く
    lambda c, x: draw_play(c, x, 0),        # 3 スタート
    lambda c, x: draw_pause(c, x, 0),       # 4 ストップ
]


def strip(drawings, width, height, key):
    c = Canvas(width * len(drawings), height, background=key)
    for i, draw in enumerate(drawings):
        if draw is not None:
            draw(c, i * width)
    return c


BITMAPS = [
    ("request_states.bmp", lambda: strip(REQUEST_STATES, 16, 16, STATE_KEY)),
    ("page_states.bmp", lambda: strip(PAGE_STATES, 16, 16, STATE_KEY)),
    ("toolbar.bmp", lambda: strip(TOOLBAR, 16, 15, BUTTON_FACE_KEY)),
]

# ---- File formats ------------------------------------------------------------------


def bitmap_info_header(width, height, bits, image_size, colours=0):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, image_size, 0, 0, colours, 0)


def icon_image(rows):
    """One icon image: 32-bit BGRA (bottom row first) and the AND mask."""
    size = len(rows)
    xor = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return bitmap_info_header(size, size * 2, 32, len(xor) + len(mask)) + xor + mask


def write_ico(path, images):
    blobs = [icon_image(rows) for rows in images]
    out = bytearray(struct.pack("<HHH", 0, 1, len(blobs)))
    offset = 6 + 16 * len(blobs)
    for rows, blob in zip(images, blobs):
        n = len(rows)
        out += struct.pack("<BBBBHHII", n % 256, n % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    for blob in blobs:
        out += blob
    write_if_changed(path, bytes(out))


def write_bmp(path, rows):
    """An 8-bit palette bitmap. The toolbar's colour mapping replaces entries of
    the colour table, so the bitmap must have one."""
    height, width = len(rows), len(rows[0])
    colours = sorted({p[:3] for row in rows for p in row})
    if len(colours) > 256:
        raise ValueError(f"{path}: {len(colours)} colours")
    index = {c: i for i, c in enumerate(colours)}
    stride = (width + 3) & ~3
    data = bytearray()
    for row in reversed(rows):
        line = bytearray(index[p[:3]] for p in row)
        data += line + bytes(stride - width)
    table = b"".join(bytes((b, g, r, 0)) for r, g, b in colours)
    info = bitmap_info_header(width, height, 8, len(data), len(colours))
    offset = 14 + len(info) + len(table)
    header = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    write_if_changed(path, header + info + table + bytes(data))


def write_if_changed(path, data):
    # Leaving an unchanged file alone keeps the resource object from rebuilding.
    try:
        with open(path, "rb") as f:
            if f.read() == data:
                return
    except OSError:
        pass
    with open(path, "wb") as f:
        f.write(data)


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    out = argv[1]
    os.makedirs(out, exist_ok=True)
    for name, sizes, draw in ICONS:
        write_ico(os.path.join(out, name), [draw(n).pixels() for n in sizes])
    for name, draw in BITMAPS:
        write_bmp(os.path.join(out, name), draw().pixels())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
