#!/usr/bin/env python3
"""Draws the setup program's icon and writes resources/setup.ico.

The picture: a floating rock island with a grass cap, under a round patch of
sky that is torn by a glowing purple rift; the rift runs on down through the
rock as a crack.  Three images: 16x16 and 32x32 with 16 colours, 48x48 with
256 colours.  Everything outside the sky disc and the island is transparent.

Usage: make_icon.py [output.ico]
"""

import math
import os
import struct
import sys

# ---------------------------------------------------------------- colours

# The 16-colour palette of the small images; the 256-colour one starts with
# the same entries.  Index 0 (black) is what transparent pixels hold.
BASE = [
    (0, 0, 0),          # 0  transparent
    (30, 22, 38),       # 1  outline
    (36, 64, 150),      # 2  sky, deep
    (70, 118, 206),     # 3  sky
    (138, 186, 240),    # 4  sky, pale
    (248, 248, 255),    # 5  cloud
    (36, 110, 40),      # 6  grass, dark
    (78, 170, 52),      # 7  grass
    (150, 214, 86),     # 8  grass, light
    (70, 50, 42),       # 9  rock, dark
    (120, 88, 62),      # 10 rock
    (172, 136, 98),     # 11 rock, light
    (70, 22, 118),      # 12 rift, deep
    (134, 62, 206),     # 13 rift
    (206, 126, 255),    # 14 rift glow
    (246, 224, 255),    # 15 rift core
]

# Colour ramps (dark to light) per material for the 256-colour image.
RAMPS = {
    'sky':   ((28, 50, 128), (150, 196, 246), 40),
    'cloud': ((196, 206, 232), (255, 255, 255), 12),
    'grass': ((30, 96, 34), (164, 222, 96), 24),
    'rock':  ((58, 40, 34), (184, 148, 108), 40),
    'rift':  ((62, 18, 108), (250, 232, 255), 40),
}

# Which of the 16 colours stand for a material, dark to light.
SMALL = {
    'sky': (2, 3, 4),
    'cloud': (4, 5),
    'grass': (6, 7, 8),
    'rock': (9, 10, 11),
    'rift': (12, 13, 14, 15),
    'outline': (1,),
}


def lerp(a, b, t):
    return a + (b - a) * t


def big_palette():
    """The 256 entries and where each material's ramp starts."""
    pal = list(BASE)
    starts = {}
    for name in ('sky', 'cloud', 'grass', 'rock', 'rift'):
        lo, hi, n = RAMPS[name]
        starts[name] = len(pal)
        for i in range(n):
            t = i / (n - 1)
            pal.append(tuple(int(round(lerp(lo[c], hi[c], t))) for c in range(3)))
    while len(pal) < 256:
        pal.append((0, 0, 0))
    return pal, starts


# ---------------------------------------------------------------- drawing

# The rift: a jagged line from the top of the sky down to the island's tip,
# with its half-width at each point.
RIFT = [
    (0.60, 0.03, 0.016),
    (0.51, 0.14, 0.030),
    (0.60, 0.25, 0.036),
    (0.49, 0.37, 0.034),
    (0.53, 0.49, 0.030),
    (0.45, 0.61, 0.026),
    (0.55, 0.72, 0.020),
    (0.48, 0.83, 0.015),
    (0.51, 0.93, 0.010),
]

CLOUDS = [
    (0.22, 0.30, 0.07), (0.30, 0.27, 0.08), (0.37, 0.31, 0.055),
    (0.70, 0.16, 0.055), (0.77, 0.14, 0.065), (0.83, 0.18, 0.045),
]

SKY_C = (0.5, 0.41)
SKY_R = 0.39
ISLE_L, ISLE_R = 0.03, 0.97
TIP = (0.5, 0.97)


def rift_distance(u, v):
    """Distance to the rift line, relative to its width there (<1 = inside)."""
    best = 9.0
    for (x0, y0, w0), (x1, y1, w1) in zip(RIFT, RIFT[1:]):
        dx, dy = x1 - x0, y1 - y0
        t = ((u - x0) * dx + (v - y0) * dy) / (dx * dx + dy * dy)
        t = max(0.0, min(1.0, t))
        px, py = x0 + dx * t, y0 + dy * t
        w = lerp(w0, w1, t)
        d = math.hypot(u - px, v - py) / w
        best = min(best, d)
    return best


def grass_top(u):
    k = (u - 0.5) / (0.5 - ISLE_L)
    return 0.50 - 0.045 * (1 - k * k)


def rock_bottom(u):
    k = abs(u - 0.5) / (0.5 - ISLE_L)
    base = lerp(TIP[1], 0.56, k ** 0.9)
    # Jagged underside: a sawtooth with uneven teeth.
    jag = 0.035 * abs(math.sin(u * 23.0)) + 0.02 * abs(math.sin(u * 51.0 + 1.0))
    return base - jag


def sample(u, v):
    """(material, shade 0..1) at a point; material None is transparent."""
    in_isle = ISLE_L <= u <= ISLE_R and grass_top(u) <= v <= rock_bottom(u)
    r = rift_distance(u, v)
    if in_isle:
        if r < 1.0 and v > grass_top(u) + 0.01:
            return 'rift', 1.0 - r
        depth = v - grass_top(u)
        if depth < 0.075:
            # Grass: lit from the upper left, darker at the lip.
            shade = 0.85 - depth / 0.075 * 0.6 - (u - 0.5) * 0.4
            return 'grass', shade
        # Rock: lighter on the left, darker further down, a few strata.
        shade = 0.8 - (u - ISLE_L) * 0.55 - (v - 0.55) * 0.9
        shade += 0.12 * math.sin(v * 60.0 + u * 6.0)
        return 'rock', shade
    dx, dy = u - SKY_C[0], v - SKY_C[1]
    if dx * dx + dy * dy <= SKY_R * SKY_R:
        if r < 1.0:
            return 'rift', 1.0 - r
        if r < 1.7:
            # Glow around the tear.
            return 'rift', 0.3 * (1.7 - r) / 0.7 - 0.05
        for cx, cy, cr in CLOUDS:
            if (u - cx) ** 2 + (v - cy) ** 2 <= cr * cr:
                return 'cloud', 0.9 - (v - cy + cr) / (2 * cr) * 0.6
        # Deeper blue at the top, paler near the horizon.
        return 'sky', (v - SKY_C[1] + SKY_R) / (2 * SKY_R) * 0.95
    return None, 0.0


def render(n):
    """An n x n grid of (material, shade), top row first."""
    sub = 4
    grid = []
    for y in range(n):
        row = []
        for x in range(n):
            tally = {}
            for sy in range(sub):
                for sx in range(sub):
                    u = (x + (sx + 0.5) / sub) / n
                    v = (y + (sy + 0.5) / sub) / n
                    m, s = sample(u, v)
                    c, total = tally.get(m, (0, 0.0))
                    tally[m] = (c + 1, total + s)
            # The material covering most of the pixel wins; the rift wins
            # ties and any real share, so it stays visible when small.
            best = max(tally, key=lambda m: (tally[m][0] * (2 if m == 'rift' else 1), m or ''))
            c, total = tally[best]
            row.append((best, total / c))
        grid.append(row)
    # Outline the island against the sky and the transparent background.
    out = [list(r) for r in grid]
    for y in range(n):
        for x in range(n):
            m = grid[y][x][0]
            if m not in ('rock', 'grass'):
                continue
            for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)):
                xx, yy = x + dx, y + dy
                if not (0 <= xx < n and 0 <= yy < n) or \
                        grid[yy][xx][0] in (None, 'sky', 'cloud'):
                    out[y][x] = ('outline', 0.0)
                    break
    return out


BAYER4 = [[0, 8, 2, 10], [12, 4, 14, 6], [3, 11, 1, 9], [15, 7, 13, 5]]


def to_small(grid):
    """Picks one of the 16 colours per pixel, with a little ordered dither."""
    rows = []
    for y, row in enumerate(grid):
        out = []
        for x, (m, s) in enumerate(row):
            if m is None:
                out.append(0)
                continue
            idx = SMALL[m]
            s = max(0.0, min(1.0, s))
            f = s * (len(idx) - 1)
            if m in ('rock', 'grass'):
                f += ((BAYER4[y % 4][x % 4] + 0.5) / 16 - 0.5) * 0.6
            out.append(idx[max(0, min(len(idx) - 1, int(round(f))))])
        rows.append(out)
    return rows


def to_big(grid, starts):
    rows = []
    for row in grid:
        out = []
        for m, s in row:
            if m is None:
                out.append(0)
            elif m == 'outline':
                out.append(1)
            else:
                n = RAMPS[m][2]
                s = max(0.0, min(1.0, s))
                out.append(starts[m] + int(round(s * (n - 1))))
        rows.append(out)
    return rows


# ---------------------------------------------------------------- ico file

def dib(pixels, mask, bpp, palette):
    """One icon image: header, palette, XOR bitmap, AND mask (bottom-up)."""
    n = len(pixels)
    xor_stride = ((n * bpp + 31) // 32) * 4
    and_stride = ((n + 31) // 32) * 4
    xor = bytearray()
    andm = bytearray()
    for y in range(n - 1, -1, -1):
        line = bytearray(xor_stride)
        for x, p in enumerate(pixels[y]):
            if bpp == 4:
                line[x // 2] |= p << (4 if x % 2 == 0 else 0)
            else:
                line[x] = p
        xor += line
        mline = bytearray(and_stride)
        for x in range(n):
            if mask[y][x]:
                mline[x // 8] |= 0x80 >> (x % 8)
        andm += mline
    header = struct.pack('<IiiHHIIiiII', 40, n, 2 * n, 1, bpp, 0,
                         len(xor) + len(andm), 0, 0, 0, 0)
    pal = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in palette)
    return header + pal + bytes(xor) + bytes(andm)


def build():
    big_pal, starts = big_palette()
    images = []
    for n, bpp in ((16, 4), (32, 4), (48, 8)):
        grid = render(n)
        mask = [[m is None for m, _ in row] for row in grid]
        if bpp == 4:
            images.append((n, bpp, 16, dib(to_small(grid), mask, 4, BASE)))
        else:
            images.append((n, bpp, 0, dib(to_big(grid, starts), mask, 8, big_pal)))
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, bpp, colours, data in images:
        out += struct.pack('<BBBBHHII', n, n, colours, 0, 1, bpp, len(data), offset)
        offset += len(data)
    for *_, data in images:
        out += data
    return out


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, '..', 'resources', 'setup.ico')
    data = build()
    with open(path, 'wb') as f:
        f.write(data)
    print('%s: %d bytes' % (os.path.normpath(path), len(data)))


if __name__ == '__main__':
    main()
