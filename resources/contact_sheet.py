#!/usr/bin/env python3
"""Renders the generated icons and bitmaps enlarged into one PNG, for a person
to look at.

Usage: contact_sheet.py IMAGE_DIR OUTPUT.png [ZOOM]
       contact_sheet.py --each IMAGE_DIR FOLDER

It reads the files back from IMAGE_DIR (the output of draw_images.py), so the
sheet shows what the resource compiler gets. Rows, top to bottom: each icon
over white and over a dark taskbar colour, large sizes after small; then the
two state-image strips over a white tree-view background; then the toolbar
strip on the button face. Python standard library only.

With --each it writes every state image and every icon's small size on its
own, twice as large, into FOLDER (request-state-NN.png, page-state-NN.png,
<icon>.png): the README's table of images shows these.
"""

import os
import struct
import sys
import zlib

GAP = 6
SHEET = (230, 230, 236)
TASKBAR = (32, 40, 64)
WHITE = (255, 255, 255)
STATE_KEY = (128, 128, 128)

ICON_FILES = ["offline.ico", "online.ico", "recording.ico", "offline_busy.ico",
              "online_busy.ico", "recording_busy.ico", "autoget.ico", "autoget_running.ico"]
STATE_FILES = ["request_states.bmp", "page_states.bmp"]
TOOLBAR_FILE = "toolbar.bmp"


def read_ico(path):
    """The images of a 32-bit icon file as rows of (r, g, b, a), top first."""
    data = open(path, "rb").read()
    _, kind, count = struct.unpack_from("<HHH", data, 0)
    assert kind == 1, path
    images = []
    for i in range(count):
        w, h, _, _, _, bits, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        w, h = w or 256, h or 256
        assert bits == 32, path
        header = struct.unpack_from("<IiiHHIIiiII", data, offset)
        assert header[1] == w and header[2] == 2 * h and header[4] == 32, path
        pixels = offset + header[0]
        rows = []
        for y in range(h):
            base = pixels + (h - 1 - y) * w * 4
            rows.append([(data[base + 4 * x + 2], data[base + 4 * x + 1], data[base + 4 * x],
                          data[base + 4 * x + 3]) for x in range(w)])
        images.append(rows)
    return images


def read_bmp(path):
    """An 8-bit palette bitmap as rows of (r, g, b), top first."""
    data = open(path, "rb").read()
    assert data[:2] == b"BM", path
    offset = struct.unpack_from("<I", data, 10)[0]
    size, w, h, _, bits, compression, _, _, _, used, _ = struct.unpack_from("<IiiHHIIiiII", data, 14)
    assert bits == 8 and compression == 0, path
    table_at = 14 + size
    table = [(data[table_at + 4 * i + 2], data[table_at + 4 * i + 1], data[table_at + 4 * i])
             for i in range(used or 256)]
    stride = (w + 3) & ~3
    rows = []
    for y in range(h):
        base = offset + (h - 1 - y) * stride
        rows.append([table[data[base + x]] for x in range(w)])
    return rows


def over(pixel, background):
    r, g, b, a = pixel
    return tuple(round((c * a + bg * (255 - a)) / 255) for c, bg in zip((r, g, b), background))


class Sheet:
    def __init__(self):
        self.rows = []  # each: list of cells, a cell is rows of rgb

    def add_row(self, cells, grid=False):
        self.rows.append((cells, grid))

    def render(self, zoom):
        def cell_size(cell):
            return len(cell[0]) * zoom, len(cell) * zoom

        width = max(sum(cell_size(c)[0] + GAP for c in row) + GAP for row, _ in self.rows)
        height = sum(max(cell_size(c)[1] for c in row) + GAP for row, _ in self.rows) + GAP
        out = [[SHEET] * width for _ in range(height)]
        top = GAP
        for row, grid in self.rows:
            left = GAP
            for cell in row:
                for y, line in enumerate(cell):
                    for x, rgb in enumerate(line):
                        for dy in range(zoom):
                            target = out[top + y * zoom + dy]
                            for dx in range(zoom):
                                # In a strip, a line every 16 pixels shows where images meet.
                                edge = grid and zoom > 2 and x % 16 == 0 and x > 0 and dx == 0
                                target[left + x * zoom + dx] = (255, 0, 255) if edge else rgb
                left += cell_size(cell)[0] + GAP
            top += max(cell_size(c)[1] for c in row) + GAP
        return out


def write_png(path, rows):
    raw = b"".join(b"\0" + bytes(v for px in row for v in px) for row in rows)

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    header = struct.pack(">IIBBBBB", len(rows[0]), len(rows), 8, 2, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
                chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def write_each(folder, target, zoom=2):
    os.makedirs(target, exist_ok=True)
    for name, prefix in zip(STATE_FILES, ("request-state", "page-state")):
        rows = read_bmp(os.path.join(folder, name))
        for index in range(len(rows[0]) // 16):
            cell = [[WHITE if p == STATE_KEY else p for p in line[16 * index:16 * index + 16]] for line in rows]
            if all(p == WHITE for line in cell for p in line):
                continue  # no image at this index
            sheet = Sheet()
            sheet.add_row([cell])
            write_png(os.path.join(target, "%s-%02d.png" % (prefix, index)), sheet.render(zoom))
    for name in ICON_FILES:
        small = min(read_ico(os.path.join(folder, name)), key=len)
        sheet = Sheet()
        sheet.add_row([[[over(p, WHITE) for p in line] for line in small]])
        write_png(os.path.join(target, name.replace(".ico", ".png")), sheet.render(zoom))
    return 0


def main(argv):
    if len(argv) == 4 and argv[1] == "--each":
        return write_each(argv[2], argv[3])
    if len(argv) not in (3, 4):
        sys.stderr.write(__doc__)
        return 2
    folder, target = argv[1], argv[2]
    zoom = int(argv[3]) if len(argv) == 4 else 8
    sheet = Sheet()
    icons = [(name, read_ico(os.path.join(folder, name))) for name in ICON_FILES]
    for background in (WHITE, TASKBAR):
        cells = []
        for _, images in icons:
            for rows in images:
                cells.append([[over(p, background) for p in line] for line in rows])
        sheet.add_row(cells)
    for name in STATE_FILES:
        rows = read_bmp(os.path.join(folder, name))
        sheet.add_row([[[WHITE if p == STATE_KEY else p for p in line] for line in rows]], grid=True)
    sheet.add_row([read_bmp(os.path.join(folder, TOOLBAR_FILE))], grid=True)
    write_png(target, sheet.render(zoom))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
