#!/usr/bin/env python3
"""Draws Korvane's artwork: the application icon (six images), the tree's image
strip (bitmap 201) and the list's search-folder image (bitmap 202).

The pictures are drawn procedurally at a high resolution, supersampled down
and quantised to the palette of each format. Run it to regenerate
Korvane/res/*; the outputs are committed so that a build needs no Python."""
import os
import struct
import sys

VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
       (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
       (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
MAGENTA = (255, 0, 255)

# --- drawing primitives over a unit square; a picture is a list of layers -----

def folder(x, y, tab=True):
    """Yellow folder in the unit square: back with tab, front flap."""
    if 0.06 <= x <= 0.94 and 0.30 <= y <= 0.86:
        edge = x < 0.10 or x > 0.90 or y < 0.34 or y > 0.82
        if y > 0.44:
            return (150, 110, 20) if edge else (255, 214, 80)
        return (150, 110, 20) if edge else (238, 186, 48)
    if tab and 0.06 <= x <= 0.42 and 0.20 <= y <= 0.32:
        return (150, 110, 20) if (y < 0.24 or x < 0.10 or x > 0.38) else (238, 186, 48)
    return None

def magnifier(x, y, cx=0.60, cy=0.60, r=0.20):
    dx, dy = x - cx, y - cy
    d2 = dx * dx + dy * dy
    if d2 <= r * r:
        if d2 >= (r * 0.72) ** 2:
            return (30, 40, 90)
        if dx < -0.03 and dy < -0.03 and d2 < (r * 0.45) ** 2 and d2 > (r * 0.2) ** 2:
            return (255, 255, 255)
        return (120, 190, 255)
    # handle, from the lens towards the lower right
    t = ((x - cx) + (y - cy)) / 2
    off = abs((x - cx) - (y - cy)) / 1.4142
    if r * 0.70 < t * 1.4142 < r + 0.26 and off < 0.055:
        return (60, 40, 20)
    return None

def person(x, y):
    dx, dy = x - 0.5, y - 0.30
    if dx * dx + dy * dy <= 0.16 ** 2:
        edge = dx * dx + dy * dy >= 0.12 ** 2
        return (20, 40, 110) if edge else (250, 200, 160)
    dx, dy = (x - 0.5) / 0.38, (y - 0.92) / 0.42
    if dx * dx + dy * dy <= 1 and y <= 0.92:
        edge = dx * dx + dy * dy >= 0.72
        return (20, 40, 110) if edge else (40, 90, 200)
    return None

def store(x, y):
    """A data file drawn as a disk cylinder."""
    if 0.14 <= x <= 0.86 and 0.22 <= y <= 0.86:
        dx = (x - 0.5) / 0.36
        top = 0.22 + 0.10 * (1 - dx * dx) ** 0.5
        if y < 0.22 + 0.20 * (1 - dx * dx) ** 0.5 and y > 0.22 - 0.0:
            return (90, 90, 90) if abs(y - top) < 0.03 or abs(dx) > 0.9 else (220, 220, 220)
        bottom = 0.76 + 0.10 * (1 - dx * dx) ** 0.5
        if y <= bottom:
            if abs(dx) > 0.88 or abs(y - bottom) < 0.04:
                return (70, 70, 70)
            if abs(y - 0.52) < 0.02:
                return (120, 120, 120)
            return (160, 170, 185) if x > 0.5 else (190, 198, 210)
    return None

def star(x, y, cx=0.78, cy=0.22, r=0.22):
    """Small green check mark that marks the default profile and store."""
    import math
    dx, dy = x - cx, y - cy
    if dx * dx + dy * dy > r * r:
        return None
    def seg(ax, ay, bx, by, w):
        vx, vy = bx - ax, by - ay
        t = max(0, min(1, ((x - ax) * vx + (y - ay) * vy) / (vx * vx + vy * vy)))
        px, py = ax + t * vx - x, ay + t * vy - y
        return px * px + py * py <= w * w
    if seg(cx - 0.13, cy, cx - 0.04, cy + 0.10, 0.05) or seg(cx - 0.04, cy + 0.10, cx + 0.14, cy - 0.12, 0.05):
        return (0, 150, 0)
    return (255, 255, 255)

def app_icon(x, y):
    for layer in (lambda a, b: magnifier(a, b, 0.64, 0.60, 0.22), lambda a, b: folder(a, b)):
        c = layer(x, y)
        if c:
            return c
    return None

def stack(*layers):
    def draw(x, y):
        for layer in layers:
            c = layer(x, y)
            if c:
                return c
        return None
    return draw

PICTURES = [
    person,
    stack(star, person),
    store,
    stack(star, store),
    stack(lambda x, y: magnifier(x, y, 0.62, 0.60, 0.2), folder),
    folder,
    stack(lambda x, y: magnifier(x, y, 0.62, 0.60, 0.2), folder),
]

# --- rasterising and quantising ------------------------------------------------

def render(draw, size, ss=4):
    """Returns rows (top first) of (r, g, b) or None, supersampled."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc, hits = [0, 0, 0], 0
            for sy in range(ss):
                for sx in range(ss):
                    c = draw((px + (sx + 0.5) / ss) / size, (py + (sy + 0.5) / ss) / size)
                    if c:
                        hits += 1
                        for i in range(3):
                            acc[i] += c[i]
            row.append(tuple(v // hits for v in acc) if hits * 2 >= ss * ss else None)
        rows.append(row)
    return rows

def nearest(palette, c):
    return min(range(len(palette)), key=lambda i: sum((palette[i][k] - c[k]) ** 2 for k in range(3)))

def palette256():
    pal = list(VGA)
    for r in range(6):
        for g in range(6):
            for b in range(6):
                pal.append((r * 51, g * 51, b * 51))
    while len(pal) < 256:
        v = (len(pal) - 232) * 10 + 8
        pal.append((v, v, v))
    return pal[:256]

# --- file writers --------------------------------------------------------------

def dib(rows, bpp, palette, with_mask):
    """A bottom-up DIB (header, palette, pixels[, AND mask]); None pixels are
    magenta in a bitmap, or masked in an icon."""
    h, w = len(rows), len(rows[0])
    header_h = h * 2 if with_mask else h
    stride = ((w * bpp + 31) // 32) * 4
    pixels = bytearray()
    for row in reversed(rows):
        line = bytearray()
        if bpp == 24:
            for c in row:
                c = c or (0, 0, 0)
                line += bytes((c[2], c[1], c[0]))
        else:
            idx = []
            for c in row:
                if c is None:
                    idx.append(0 if with_mask else nearest(palette, MAGENTA))
                else:
                    idx.append(nearest(palette, c))
            if bpp == 8:
                line += bytes(idx)
            else:
                for i in range(0, w, 2):
                    line.append((idx[i] << 4) | (idx[i + 1] if i + 1 < w else 0))
        line += b"\0" * (stride - len(line))
        pixels += line
    mask = bytearray()
    if with_mask:
        mstride = ((w + 31) // 32) * 4
        for row in reversed(rows):
            bits = bytearray(mstride)
            for x, c in enumerate(row):
                if c is None:
                    bits[x // 8] |= 0x80 >> (x % 8)
            mask += bits
    pal = b"".join(bytes((b, g, r, 0)) for (r, g, b) in palette) if bpp <= 8 else b""
    head = struct.pack("<IiiHHIIiiII", 40, w, header_h, 1, bpp, 0, len(pixels) + len(mask), 0, 0,
                       len(palette) if bpp <= 8 else 0, 0)
    return head + pal + bytes(pixels) + bytes(mask)

def write_bmp(path, rows, bpp, palette):
    body = dib(rows, bpp, palette, False)
    offset = 14 + 40 + len(palette) * 4
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 14 + len(body), 0, 0, offset) + body)

def write_ico(path, images):
    entries, blobs = [], []
    offset = 6 + 16 * len(images)
    for size, bpp, rows in images:
        pal = VGA if bpp == 4 else palette256() if bpp == 8 else []
        blob = dib(rows, bpp, pal, True)
        entries.append(struct.pack("<BBBBHHII", size % 256, size % 256, 16 if bpp == 4 else 0, 0,
                                   1, bpp, len(blob), offset))
        blobs.append(blob)
        offset += len(blob)
    with open(path, "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, len(images)) + b"".join(entries) + b"".join(blobs))

def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "Korvane", "res")
    os.makedirs(out, exist_ok=True)
    # Bitmap 201: seven 16-pixel images, 18 rows high, on magenta.
    strip = [[None] * 112 for _ in range(18)]
    for i, picture in enumerate(PICTURES):
        tile = render(picture, 16)
        for y in range(16):
            for x in range(16):
                strip[y + 1][i * 16 + x] = tile[y][x]
    write_bmp(os.path.join(out, "stores.bmp"), strip, 4, VGA)
    # Bitmap 202: one search-folder image.
    write_bmp(os.path.join(out, "searchfolder.bmp"), render(PICTURES[6], 16), 4, VGA)
    # Icon group 128.
    images = []
    for size, bpp in ((16, 4), (16, 8), (32, 4), (32, 8), (48, 8), (48, 24)):
        images.append((size, bpp, render(app_icon, size)))
    write_ico(os.path.join(out, "Korvane.ico"), images)

if __name__ == "__main__":
    main()
