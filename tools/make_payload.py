#!/usr/bin/env python3
"""Builds the add-on's two files in resources/payload/.

vxmain.vdf is the add-on's data pack, a ZIP archive as Torvane reads them:
maps, textures, the wind loop and the add-on's script.  vxsky_readme.txt is
the read-me.  The output is the same, byte for byte, on every run: fixed
entry order and dates, and all the generated content is integer arithmetic.

Usage: make_payload.py [output folder]
"""

import io
import os
import struct
import sys
import zipfile

DATE = (2026, 1, 1, 0, 0, 0)


# ---------------------------------------------------------------- noise

def hash32(*vals):
    h = 0x811C9DC5
    for v in vals:
        h ^= v & 0xFFFFFFFF
        h = (h * 0x01000193) & 0xFFFFFFFF
        h ^= h >> 15
        h = (h * 0x2C1B3C6D) & 0xFFFFFFFF
        h ^= h >> 12
    return h


class Rand:
    """xorshift32; small and the same everywhere."""

    def __init__(self, seed):
        self.s = seed & 0xFFFFFFFF or 1

    def next(self):
        s = self.s
        s ^= (s << 13) & 0xFFFFFFFF
        s ^= s >> 17
        s ^= (s << 5) & 0xFFFFFFFF
        self.s = s
        return s

    def below(self, n):
        return self.next() % n


def value_noise(x, y, cell, seed):
    """Smooth noise 0..255 from a lattice of random values, tiling at 64."""
    gx, fx = divmod(x, cell)
    gy, fy = divmod(y, cell)
    wrap = 64 // cell

    def at(i, j):
        return hash32(seed, i % wrap, j % wrap) & 255

    top = at(gx, gy) * (cell - fx) + at(gx + 1, gy) * fx
    bot = at(gx, gy + 1) * (cell - fx) + at(gx + 1, gy + 1) * fx
    return (top * (cell - fy) + bot * fy) // (cell * cell)


def fractal(x, y, seed):
    return (value_noise(x, y, 16, seed) * 4 + value_noise(x, y, 8, seed + 1) * 2 +
            value_noise(x, y, 4, seed + 2)) // 7


def clamp(v):
    return max(0, min(255, v))


# ---------------------------------------------------------------- textures

def tga(width, height, pixel, alpha=False):
    """Uncompressed true-colour TGA, bottom row first; pixel(x, y) -> rgb(a)."""
    bpp = 32 if alpha else 24
    header = struct.pack('<BBBHHBHHHHBB', 0, 0, 2, 0, 0, 0, 0, 0,
                         width, height, bpp, 8 if alpha else 0)
    body = bytearray()
    for y in range(height - 1, -1, -1):
        for x in range(width):
            p = pixel(x, y)
            body += bytes((p[2], p[1], p[0]) + ((p[3],) if alpha else ()))
    footer = b'\x00' * 8 + b'TRUEVISION-XFILE.\x00'
    return header + bytes(body) + footer


def rock_moss(x, y):
    n = fractal(x, y, 11)
    moss = fractal(x, y, 23)
    crack = abs(value_noise(x, y, 8, 37) - 128) < 6
    r, g, b = 70 + n // 2, 56 + n // 2, 44 + n // 3
    if moss > 150:
        r, g, b = r - 20, g + 30, b - 15
    if crack:
        r, g, b = r // 2, g // 2, b // 2
    return clamp(r), clamp(g), clamp(b)


def grass_top(x, y):
    n = fractal(x, y, 51)
    blade = hash32(52, x, y) & 31
    return clamp(40 + n // 5), clamp(110 + n // 3 + blade), clamp(30 + n // 8)


def rift_glow(x, y):
    # A soft violet glow, brightest along a wavering line down the middle.
    wobble = (value_noise(0, y * 2, 8, 61) - 128) // 16
    d = abs(x - 16 - wobble)
    a = clamp(255 - d * 20)
    core = clamp(255 - d * 60)
    return clamp(120 + core // 2), clamp(50 + core * 3 // 4), 230, a


def sky_rift(x, y):
    # Sky gradient, wider than tall, with streaks of cloud.
    t = y * 255 // 63
    r, g, b = 40 + t * 90 // 255, 70 + t * 110 // 255, 150 + t * 90 // 255
    cloud = value_noise(x % 64, y % 64, 16, 71) + value_noise(x % 64, y % 64, 4, 72) // 2
    if cloud > 220:
        k = min(cloud - 220, 60)
        r, g, b = r + k * 2, g + k * 2, b + k
    return clamp(r), clamp(g), clamp(b)


# ---------------------------------------------------------------- sound

def wind_wav(seconds=3, rate=22050):
    """Mono 16-bit wind loop: filtered noise, swelling and falling in gusts."""
    rnd = Rand(0x5EED)
    n = seconds * rate
    lo = 0
    band = 0
    out = bytearray()
    for i in range(n):
        white = (rnd.next() & 0xFFFF) - 0x8000
        # Two one-pole low-pass stages in fixed point.
        lo += (white - lo) >> 3
        band += (lo - band) >> 2
        # Gusts: a slow triangle between quiet and loud, three per loop,
        # so the loop joins up.
        phase = (i * 3 * 2048 // n) % 2048
        tri = phase if phase < 1024 else 2047 - phase
        gain = 300 + tri * 700 // 1023
        s = band * gain // 1000
        # Fade the first and last 10 ms so the loop does not click.
        edge = rate // 100
        if i < edge:
            s = s * i // edge
        elif i >= n - edge:
            s = s * (n - 1 - i) // edge
        s = max(-32768, min(32767, s * 2))
        out += struct.pack('<h', s)
    fmt = struct.pack('<HHIIHH', 1, 1, rate, rate * 2, 2, 16)
    body = b'WAVE' + b'fmt ' + struct.pack('<I', len(fmt)) + fmt + \
        b'data' + struct.pack('<I', len(out)) + bytes(out)
    return b'RIFF' + struct.pack('<I', len(body)) + body


# ---------------------------------------------------------------- text files

def map_text(name, title, seed, islands):
    rnd = Rand(seed)
    lines = [
        '// Vexmoor Skyrift - %s' % title,
        'map "%s"' % name,
        '{',
        '    title       "%s"' % title,
        '    sky         "textures/sky_rift.tga"',
        '    ambient     "sounds/ambient_wind.wav"',
        '    gravity     620',
        '    fog         0.42 0.36 0.58 2400',
        '    killfloor   -1800',
        '}',
        '',
    ]
    names = ['Vexmoor Landing', 'Gull Spire', 'The Broken Stair', 'Ashen Shelf',
             'Lantern Rock', 'Cinder Perch', 'Widow\'s Ledge', 'The Anvil',
             'Greywatch', 'Thornback', 'Emberfall', 'Skyrift Heart']
    for k in range(islands):
        x = rnd.below(6000) - 3000
        y = rnd.below(6000) - 3000
        z = rnd.below(900) + 300
        radius = rnd.below(500) + 180
        lines += [
            'island',
            '{',
            '    name        "%s"' % names[k % len(names)],
            '    origin      %d %d %d' % (x, y, z),
            '    radius      %d' % radius,
            '    depth       %d' % (radius * 3 // 2 + rnd.below(200)),
            '    top         "textures/grass_top.tga"',
            '    side        "textures/rock_moss.tga"',
            '    drift       %d.%d' % (rnd.below(3), rnd.below(10)),
            '}',
            '',
        ]
        for _ in range(rnd.below(3) + 1):
            lines += [
                'entity "%s"' % ('crystal_shard', 'wind_vent', 'rift_wisp', 'supply_crate')[rnd.below(4)],
                '{',
                '    origin      %d %d %d' % (x + rnd.below(radius) - radius // 2,
                                              y + rnd.below(radius) - radius // 2, z + 8),
                '    angle       %d' % (rnd.below(8) * 45),
                '}',
                '',
            ]
    for k in range(islands - 1):
        lines += [
            'bridge { from %d to %d  style "%s" }' % (k, k + 1, ('rope', 'stone', 'rift')[rnd.below(3)]),
        ]
    lines += [
        '',
        'rift',
        '{',
        '    origin      0 0 2200',
        '    texture     "textures/rift_glow.tga"',
        '    pulse       6',
        '    pull        140',
        '}',
    ]
    return ('\r\n'.join(lines) + '\r\n').encode('ascii')


CONFIG = """\
// Vexmoor Skyrift - add-on script, read by Torvane at start-up.

addon "vexmoor_skyrift"
{
    title       "Vexmoor Skyrift"
    version     1.0
    needs       "torvane" 1.2
    maps        "maps/skyrift_01.map" "maps/skyrift_02.map"
}

// Wind pushes anyone standing near an island's edge.
set sv_skyrift_wind         1
set sv_skyrift_wind_force   85
set sv_skyrift_gust_period  9

// Falling off an island: back to the last ledge, not to the start.
set sv_skyrift_fall_respawn 1

// Rift wisps drift towards the player within this range.
set sv_skyrift_wisp_range   600

bind F9 "map skyrift_01"
"""


def config_text():
    return CONFIG.replace('\n', '\r\n').encode('ascii')


README = """\
Vexmoor Skyrift
===============

An add-on for Torvane.  Version 1.0.

Above the marshes of Vexmoor the sky has torn open.  Through the rift,
broken islands of rock drift in the wind, held up by whatever power
split the sky.  Something lives on them, and something at the heart of
the rift is calling.


What the add-on contains
------------------------

  * Two new maps: "The Shattered Reach" (skyrift_01) and "Rift Heart"
    (skyrift_02), a chain of floating islands joined by rope and stone
    bridges.
  * Wind that pushes you near the edges of the islands, in gusts.
  * Rift wisps, crystal shards and supply crates to find.
  * New rock, grass, sky and rift textures and an ambient wind loop.

Vexmoor Skyrift extends Torvane; it is not a game on its own.  You need
Torvane installed (version 1.2 or later) to install and play it.


Installation
--------------

Run the setup program and press Install.  Setup searches your hard
drives for your Torvane folder; if you would rather find it yourself,
press Browse... and pick the folder Torvane is installed in.

Setup copies two files into the tvdata\\ folder inside your Torvane
folder:

    vxmain.vdf          the add-on's maps, textures and sounds
    vxsky_readme.txt    this read-me

If one of these files already exists, setup asks before overwriting it.
If a file is in use (for instance because Torvane is running while you
install), setup cannot replace it at once; it is replaced the next time
you restart your computer.  Setup tells you when that is the case.

To remove the add-on, delete the two files from the tvdata\\ folder.


Starting the add-on in the game
-------------------------------

Start Torvane and choose Add-ons from the main menu, then Vexmoor
Skyrift.  You can also open the console and type:

    map skyrift_01

or press F9 once the add-on is loaded.


Known problems
--------------

  * With fog turned off in the video options, distant islands appear
    out of nowhere.  Leave fog on for these maps.
  * Saved games from inside the rift (skyrift_02) can only be loaded
    while the add-on is installed.
  * On slow machines the wind gusts may stutter when many wisps are
    near.  Lowering the effects detail helps.
  * Falling through the gap under the Broken Stair bridge sometimes
    returns you to the start of the map instead of the last ledge.


Credits
-------

  Design and maps ........ the Vexmoor Skyrift team
  Textures ............... the Vexmoor Skyrift team
  Sound .................. the Vexmoor Skyrift team
  Testing ................ everyone who fell off an island for us

Thank you for playing.
"""


def readme_text():
    text = README.replace('\n', '\r\n')
    data = text.encode('ascii')
    assert b'\r\r' not in data and data.endswith(b'\r\n')
    return data


# ---------------------------------------------------------------- the pack

def entries():
    return [
        ('scripts/skyrift.cfg', config_text()),
        ('maps/skyrift_01.map', map_text('skyrift_01', 'The Shattered Reach', 0x01A2, 9)),
        ('maps/skyrift_02.map', map_text('skyrift_02', 'Rift Heart', 0x02B3, 12)),
        ('textures/rock_moss.tga', tga(64, 64, rock_moss)),
        ('textures/grass_top.tga', tga(64, 64, grass_top)),
        ('textures/sky_rift.tga', tga(128, 64, sky_rift)),
        ('textures/rift_glow.tga', tga(32, 32, rift_glow, alpha=True)),
        ('sounds/ambient_wind.wav', wind_wav()),
    ]


def vdf():
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, 'w') as z:
        for name, data in entries():
            info = zipfile.ZipInfo(name, date_time=DATE)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 0
            info.external_attr = 0x20       # archive bit, as DOS tools set it
            z.writestr(info, data, compresslevel=9)
    return buf.getvalue()


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, '..', 'resources', 'payload')
    os.makedirs(folder, exist_ok=True)
    for name, data in (('vxmain.vdf', vdf()), ('vxsky_readme.txt', readme_text())):
        path = os.path.join(folder, name)
        with open(path, 'wb') as f:
            f.write(data)
        print('%s: %d bytes' % (os.path.normpath(path), len(data)))


if __name__ == '__main__':
    main()
