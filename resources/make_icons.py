#!/usr/bin/env python3
"""Draws the program's icons (16x16 and 32x32, 32-bit with alpha) into resources/icons/.

Each state has its own colour and shape so it can be told apart at tray size:
  107 program    blue rounded square with a white "V"
  155 running    green ring (running, no Quorvane status yet)
  156 running    green disc (Quorvane status known)
  157 running    green disc with a white check mark (Quorvane and Ostrel connected)
  158 stopped    red square (stop sign)
  159 starting   amber triangle pointing right (play sign)
Run it again after a change and commit the .ico files with it. With --preview FILE.png it also
writes a sheet of every icon at both sizes, scaled up, on a grey background, to look at.
"""
import math
import os
import struct
import sys
import zlib

SAMPLES = 4  # supersampling per axis, for smooth edges

BLUE = (0x1F, 0x5F, 0xBF)
GREEN = (0x1E, 0x9E, 0x3A)
RED = (0xC8, 0x28, 0x28)
AMBER = (0xF0, 0xA0, 0x10)
WHITE = (0xFF, 0xFF, 0xFF)
OUTLINE = (0x20, 0x20, 0x20)


def seg_dist(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def in_triangle(px, py, a, b, c):
    def side(p1, p2):
        return (px - p2[0]) * (p1[1] - p2[1]) - (p1[0] - p2[0]) * (py - p2[1])
    d1, d2, d3 = side(a, b), side(b, c), side(c, a)
    neg = d1 < 0 or d2 < 0 or d3 < 0
    pos = d1 > 0 or d2 > 0 or d3 > 0
    return not (neg and pos)


def rounded_square(x, y, inset, radius):
    lo, hi = inset, 1 - inset
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    return lo <= x <= hi and lo <= y <= hi and math.hypot(x - cx, y - cy) <= radius


# Each layer: (colour, predicate over unit coordinates 0..1, y downwards). Later layers cover.
def program_icon():
    return [
        (BLUE, lambda x, y: rounded_square(x, y, 0.04, 0.2)),
        (WHITE, lambda x, y: min(seg_dist(x, y, 0.26, 0.24, 0.5, 0.78),
                                 seg_dist(x, y, 0.74, 0.24, 0.5, 0.78)) <= 0.085),
    ]


def ring():
    return [
        (OUTLINE, lambda x, y: 0.30 <= math.hypot(x - 0.5, y - 0.5) <= 0.48),
        (GREEN, lambda x, y: 0.32 <= math.hypot(x - 0.5, y - 0.5) <= 0.46),
    ]


def disc():
    return [
        (OUTLINE, lambda x, y: math.hypot(x - 0.5, y - 0.5) <= 0.48),
        (GREEN, lambda x, y: math.hypot(x - 0.5, y - 0.5) <= 0.46),
    ]


def disc_check():
    return disc() + [
        (WHITE, lambda x, y: min(seg_dist(x, y, 0.27, 0.52, 0.44, 0.69),
                                 seg_dist(x, y, 0.44, 0.69, 0.74, 0.33)) <= 0.075),
    ]


def stop_square():
    return [
        (OUTLINE, lambda x, y: rounded_square(x, y, 0.08, 0.08)),
        (RED, lambda x, y: rounded_square(x, y, 0.11, 0.06)),
    ]


def play_triangle():
    return [
        (OUTLINE, lambda x, y: in_triangle(x, y, (0.12, 0.04), (0.96, 0.5), (0.12, 0.96))),
        (AMBER, lambda x, y: in_triangle(x, y, (0.16, 0.11), (0.88, 0.5), (0.16, 0.89))),
    ]


def render(layers, size):
    """Rows top-down of (b, g, r, a)."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]  # premultiplied r, g, b, a
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) / SAMPLES) / size
                    y = (py + (sy + 0.5) / SAMPLES) / size
                    colour = None
                    for c, pred in layers:
                        if pred(x, y):
                            colour = c
                    if colour is not None:
                        acc[0] += colour[0]
                        acc[1] += colour[1]
                        acc[2] += colour[2]
                        acc[3] += 1
            n = SAMPLES * SAMPLES
            a = acc[3] / n
            if acc[3] == 0:
                row.append((0, 0, 0, 0))
            else:
                r, g, b = (round(acc[i] / acc[3]) for i in range(3))
                row.append((b, g, r, round(a * 255)))
        rows.append(row)
    return rows


def image_bytes(rows, size):
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b''.join(bytes(c for px in row for c in px) for row in reversed(rows))
    mask_stride = ((size + 31) // 32) * 4
    mask = b''
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, px in enumerate(row):
            if px[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    return header + pixels + mask


def write_ico(path, layers, sizes=(16, 32)):
    images = [image_bytes(render(layers, s), s) for s in sizes]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, 'wb') as f:
        f.write(out + b''.join(images))


ICONS = {
    'velmora.ico': program_icon(),
    'running.ico': ring(),
    'running_qv.ico': disc(),
    'running_connected.ico': disc_check(),
    'stopped.ico': stop_square(),
    'starting.ico': play_triangle(),
}

def write_preview(path, scale=6, background=(0xD0, 0xD0, 0xD0)):
    tiles = []
    for size in (16, 32):
        tiles.append([render(layers, size) for layers in ICONS.values()])
    cell = 32 * scale + 8
    width, height = cell * len(ICONS), cell * 2
    canvas = [[background for _ in range(width)] for _ in range(height)]
    for row, images in enumerate(tiles):
        for col, rows in enumerate(images):
            size = len(rows)
            s = scale * (32 // size)
            for y in range(size):
                for x in range(size):
                    b, g, r, a = rows[y][x]
                    mix = tuple(round((c * a + bg * (255 - a)) / 255)
                                for c, bg in zip((r, g, b), background))
                    for dy in range(s):
                        for dx in range(s):
                            canvas[row * cell + 4 + y * s + dy][col * cell + 4 + x * s + dx] = mix
    raw = b''.join(b'\0' + bytes(c for px in line for c in px) for line in canvas)

    def chunk(kind, data):
        body = kind + data
        return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body))
    png = (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0))
           + chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b''))
    with open(path, 'wb') as f:
        f.write(png)


if __name__ == '__main__':
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'icons')
    os.makedirs(folder, exist_ok=True)
    for name, layers in ICONS.items():
        write_ico(os.path.join(folder, name), layers)
        print(os.path.join(folder, name))
    if len(sys.argv) == 3 and sys.argv[1] == '--preview':
        write_preview(sys.argv[2])
