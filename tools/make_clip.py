#!/usr/bin/env python3
"""Draws the search animation and writes resources/search.avi.

A little magnifying glass follows a red trail across a treasure map, from
the lake to the rift marked with a cross, drawing the trail behind it as it
goes.  80x50 pixels, 29 frames at 6 frames a second (one crossing in 4.8 s),
16 colours, RLE8 - the kind of clip the common controls' animation control
plays without any codec.  The first frame is stored whole (the only key
frame); every later one holds only the pixels that differ from the frame
before, which the control draws over what it showed last: the map stands
still and only the glass and a dash of trail move, so a frame costs a few
dozen bytes.

The top left pixel is background in every frame: with ACS_TRANSPARENT the
control takes that colour as the one to leave see-through.

Usage: make_clip.py [output.avi]
"""

import math
import os
import struct
import sys

WIDTH, HEIGHT = 80, 50
FRAMES = 29
USEC_PER_FRAME = 166666

PALETTE = [
    (192, 192, 192),    # 0  background (see-through)
    (0, 0, 0),          # 1  black
    (96, 56, 24),       # 2  map border, ink
    (222, 190, 128),    # 3  parchment
    (244, 224, 172),    # 4  parchment, light
    (48, 150, 48),      # 5  tree
    (20, 84, 28),       # 6  tree, dark
    (40, 96, 200),      # 7  water
    (128, 176, 240),    # 8  water, light
    (200, 32, 32),      # 9  red ink
    (120, 112, 104),    # 10 mountain
    (255, 255, 255),    # 11 white
    (64, 64, 72),       # 12 lens rim
    (250, 240, 208),    # 13 lens highlight
    (200, 150, 40),     # 14 brass handle
    (132, 56, 196),     # 15 rift
]

BG, BLACK, INK, PARCH, PARCH_LT, TREE, TREE_DK, WATER, WATER_LT, RED, \
    MOUNT, WHITE, RIM, GLINT, BRASS, RIFT = range(16)

MAP_X0, MAP_Y0, MAP_X1, MAP_Y1 = 5, 4, 74, 45     # inclusive corners
TRAIL = [(34, 32), (40, 29), (47, 28), (53, 29), (58, 32), (63, 36)]


# ---------------------------------------------------------------- the map

def draw_map():
    """The map on its own, as rows of palette indices (top row first)."""
    img = [[BG] * WIDTH for _ in range(HEIGHT)]

    def put(x, y, c):
        if MAP_X0 < x < MAP_X1 and MAP_Y0 < y < MAP_Y1:
            img[y][x] = c

    for y in range(MAP_Y0, MAP_Y1 + 1):
        for x in range(MAP_X0, MAP_X1 + 1):
            edge = x in (MAP_X0, MAP_X1) or y in (MAP_Y0, MAP_Y1)
            if edge:
                img[y][x] = INK
            else:
                # Light weathered patches on the parchment.
                w = math.sin(x * 0.35) * math.sin(y * 0.5 + 1.0) + math.sin((x + y) * 0.21)
                img[y][x] = PARCH_LT if w > 0.9 else PARCH
    # Torn corners.
    for x, y in ((MAP_X0, MAP_Y0), (MAP_X1, MAP_Y0), (MAP_X0, MAP_Y1), (MAP_X1, MAP_Y1)):
        img[y][x] = BG

    # A river from the top edge down into a lake.
    for y in range(MAP_Y0 + 1, 30):
        cx = 24 + 4 * math.sin(y * 0.3)
        for x in range(int(cx - 1), int(cx + 2)):
            put(x, y, WATER)
    for y in range(27, 38):
        for x in range(14, 36):
            if ((x - 24) / 10.0) ** 2 + ((y - 32) / 4.6) ** 2 <= 1.0:
                put(x, y, WATER)
    for x in range(19, 24):
        put(x, 31, WATER_LT)
    for x in range(25, 29):
        put(x, 33, WATER_LT)

    # Mountains along the top right.
    for mx, my, mh in ((44, 17, 8), (53, 18, 9), (62, 16, 7)):
        for dy in range(mh):
            for dx in range(-dy, dy + 1):
                put(mx + dx, my - mh + 1 + dy, WHITE if dy < 2 else MOUNT)

    # Trees in the lower left and right.
    for tx, ty in ((9, 40), (13, 41), (10, 36), (40, 40), (45, 41), (43, 37), (68, 40)):
        for dy in (-1, 0, 1):
            for dx in (-1, 0, 1):
                put(tx + dx, ty + dy, TREE_DK if dy == 1 or dx == 1 else TREE)
        put(tx, ty + 2, INK)

    # The rift: a purple jagged tear, marked with a red cross.
    for x, y in ((66, 33), (67, 34), (66, 35), (67, 36), (68, 37), (67, 38), (66, 39),
                 (65, 34), (68, 36), (66, 37)):
        put(x, y, RIFT)
    for d in range(-2, 3):
        put(63 + d, 36 + d, RED)
        put(63 + d, 36 - d, RED)

    # A compass mark in the top left.
    for d in range(-2, 3):
        put(11, 10 + d, INK)
        put(11 + d, 10, INK)
    put(11, 7, INK)
    return img


# ---------------------------------------------------------------- frames

def trail_points():
    """The trail's pixels from the lake to the rift, one step apart."""
    points = []
    for (x0, y0), (x1, y1) in zip(TRAIL, TRAIL[1:]):
        n = max(abs(x1 - x0), abs(y1 - y0))
        points += [(x0 + (x1 - x0) * i // n, y0 + (y1 - y0) * i // n) for i in range(n)]
    return points + [TRAIL[-1]]


# The glass, centred on its middle pixel: a dark rim round clear glass with a
# glint, and a brass handle to the lower right.
LENS = ['..###..',
        '.#*..#.',
        '#*....#',
        '#.....#',
        '#.....#',
        '.#...#.',
        '..###=.',
        '      ==',
        '       =']
LENS_COLOURS = {'#': RIM, '*': WHITE, '=': BRASS}


def draw_frame(base, f):
    img = [row[:] for row in base]
    points = trail_points()
    head = f * (len(points) - 1) // (FRAMES - 1)
    # the dashes behind the glass: two pixels on, one off
    for i, (x, y) in enumerate(points[:head]):
        if i % 3 != 2:
            img[y][x] = RED
    hx, hy = points[head]
    for dy, line in enumerate(LENS):
        for dx, c in enumerate(line):
            if c in LENS_COLOURS:
                img[hy - 3 + dy][hx - 3 + dx] = LENS_COLOURS[c]
    return img


def frames():
    """All frames, each HEIGHT rows of WIDTH palette indices, top row first."""
    base = draw_map()
    out = [draw_frame(base, f) for f in range(FRAMES)]
    for img in out:
        assert img[0][0] == BG
    return out


# ---------------------------------------------------------------- RLE8
#
# A frame is coded bottom row first as the shortest sequence of RLE8 codes
# that turns the frame before it into this one: encoded runs (count, colour;
# 2 bytes), absolute runs (0, count >= 3, the pixels, padded to a word),
# skips over pixels that stay as they are (0, 2, dx, dy: 4 bytes; dx never
# goes left), end of line (0, 0) and end of bitmap (0, 1).  A key frame has no
# frame before it, so every pixel is written.  Codes never run past the end of
# a row: decoders differ there.  The search is a shortest path over the
# decoder's positions (row, column 0..WIDTH), cheapest first-found on ties, so
# the output is the same on every run.

def cheapest_codes(pix, old):
    """The codes, as (pixel index where each starts, code), that turn the
    bottom-up pixels old (all None for a key frame) into pix."""
    W, S, N = WIDTH, WIDTH + 1, WIDTH * HEIGHT
    must = [N] * (N + 1)        # must[i]: first pixel at or after i that changes
    for i in range(N - 1, -1, -1):
        must[i] = i if pix[i] != old[i] else must[i + 1]

    # Decoder positions: node r * S + x for row r, column x (x == W: row full),
    # and `done` after the end of bitmap.  best[node]: (bytes, node before, code).
    done = S * HEIGHT
    best = [None] * (done + 1)
    best[0] = (0, None, None)

    def offer(node, cost, before, code):
        if best[node] is None or cost < best[node][0]:
            best[node] = (cost, before, code)

    for r in range(HEIGHT):
        run = None              # cheapest (bytes, node) to start a one-colour run ending here
        lit = [None, None]      # cheapest (bytes - column, node) to start an absolute run, by parity
        for x in range(S):
            v, p = r * S + x, r * W + x
            if x:
                here = (best[v - 1][0], v - 1)
                run = min(run, here) if x > 1 and pix[p - 2] == pix[p - 1] else here
                offer(v, run[0] + 2, run[1], ('run', v - run[1], pix[p - 1]))
            if x >= 3:
                here = (best[v - 3][0] - (x - 3), v - 3)
                lit[x & 1] = min(lit[x & 1], here) if lit[x & 1] else here
                for start in filter(None, lit):
                    n = v - start[1]
                    offer(v, best[start[1]][0] + 2 + n + (n & 1), start[1], ('abs', n))
            cost, nxt = best[v][0], must[p]
            if nxt == N:
                offer(done, cost + 2, v, ('end',))
            if r + 1 < HEIGHT and nxt >= (r + 1) * W:
                offer((r + 1) * S, cost + 2, v, ('eol',))
            if p < nxt < N and nxt % W >= x:
                offer(nxt // W * S + nxt % W, cost + 4, v, ('skip', nxt % W - x, nxt // W - r))

    codes, at = [], best[done]
    while at[2]:
        codes.append((at[1] // S * W + at[1] % S, at[2]))
        at = best[at[1]]
    return codes[::-1]


def rle8_frame(img, prev=None):
    """img coded as RLE8 over prev (None: a key frame)."""
    assert WIDTH < 255 and HEIGHT < 255
    pix = [p for row in reversed(img) for p in row]
    old = [p for row in reversed(prev) for p in row] if prev else [None] * len(pix)
    out = bytearray()
    for at, code in cheapest_codes(pix, old):
        if code[0] == 'run':
            out += bytes(code[1:])
        elif code[0] == 'abs':
            out += bytes((0, code[1])) + bytes(pix[at:at + code[1]]) + bytes(code[1] & 1)
        elif code[0] == 'skip':
            out += bytes((0, 2) + code[1:])
        else:
            out += b'\x00\x00' if code[0] == 'eol' else b'\x00\x01'
    return bytes(out)


# ---------------------------------------------------------------- AVI

def chunk(fourcc, data):
    out = fourcc + struct.pack('<I', len(data)) + data
    if len(data) & 1:
        out += b'\x00'
    return out


def riff_list(kind, fourcc, body):
    return kind + struct.pack('<I', len(body) + 4) + fourcc + body


def build():
    drawn = frames()
    encoded = [rle8_frame(img, drawn[f - 1] if f else None) for f, img in enumerate(drawn)]
    biggest = max(len(e) for e in encoded)
    buffer_size = WIDTH * HEIGHT
    assert biggest <= buffer_size

    AVIF_HASINDEX = 0x10
    avih = struct.pack('<14I',
                       USEC_PER_FRAME,
                       (biggest * 1000000 + USEC_PER_FRAME - 1) // USEC_PER_FRAME,
                       0,                   # padding granularity
                       AVIF_HASINDEX,
                       FRAMES,
                       0,                   # initial frames
                       1,                   # streams
                       buffer_size,
                       WIDTH, HEIGHT,
                       0, 0, 0, 0)
    strh = struct.pack('<4s4sIHHIIIIIIIIhhhh',
                       b'vids', b'RLE ',
                       0,                   # flags
                       0, 0,                # priority, language
                       0,                   # initial frames
                       USEC_PER_FRAME,      # scale
                       1000000,             # rate: rate/scale frames a second
                       0,                   # start
                       FRAMES,              # length
                       buffer_size,
                       0xFFFFFFFF,          # quality: default
                       0,                   # sample size: varies
                       0, 0, WIDTH, HEIGHT)
    BI_RLE8 = 1
    strf = struct.pack('<IiiHHIIiiII', 40, WIDTH, HEIGHT, 1, 8, BI_RLE8,
                       WIDTH * HEIGHT, 0, 0, len(PALETTE), len(PALETTE))
    strf += b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)

    strl = riff_list(b'LIST', b'strl', chunk(b'strh', strh) + chunk(b'strf', strf))
    hdrl = riff_list(b'LIST', b'hdrl', chunk(b'avih', avih) + strl)

    AVIIF_KEYFRAME = 0x10
    movi_body = b''
    index = b''
    for f, e in enumerate(encoded):
        # Offsets count from the 'movi' fourcc; only the first frame stands alone.
        flags = 0 if f else AVIIF_KEYFRAME
        index += struct.pack('<4sIII', b'00dc', flags, 4 + len(movi_body), len(e))
        movi_body += chunk(b'00dc', e)
    movi = riff_list(b'LIST', b'movi', movi_body)

    return riff_list(b'RIFF', b'AVI ', hdrl + movi + chunk(b'idx1', index))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, '..', 'resources', 'search.avi')
    data = build()
    with open(path, 'wb') as f:
        f.write(data)
    print('%s: %d bytes' % (os.path.normpath(path), len(data)))


if __name__ == '__main__':
    main()
