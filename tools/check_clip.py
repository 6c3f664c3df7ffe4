#!/usr/bin/env python3
"""Reads resources/search.avi back and checks it.

Walks the RIFF tree, checks the headers the animation control relies on,
follows the index to every frame, decodes each frame's RLE8 and compares it
with the frame make_clip.py draws.  Exits non-zero on the first problem.

Usage: check_clip.py [clip.avi]
"""

import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_clip  # noqa: E402


class Bad(Exception):
    pass


def need(cond, what):
    if not cond:
        raise Bad(what)


def chunks(data, start, end):
    """(fourcc, data offset, size, list type or None) of each chunk in a span."""
    out = []
    pos = start
    while pos < end:
        need(pos + 8 <= end, 'chunk header runs past its parent at %d' % pos)
        fourcc = data[pos:pos + 4]
        size = struct.unpack_from('<I', data, pos + 4)[0]
        body = pos + 8
        need(body + size <= end, '%r at %d runs past its parent' % (fourcc, pos))
        kind = None
        if fourcc in (b'RIFF', b'LIST'):
            need(size >= 4, 'empty list at %d' % pos)
            kind = data[body:body + 4]
        out.append((fourcc, body, size, kind))
        pos = body + size + (size & 1)
        need(pos <= end, 'padding of %r at %d runs past its parent' % (fourcc, body - 8))
    need(pos == end, 'stray bytes at the end of a list')
    return out


def find(items, fourcc, kind=None):
    hits = [c for c in items if c[0] == fourcc and (kind is None or c[3] == kind)]
    need(len(hits) == 1, 'want exactly one %r %r, found %d' % (fourcc, kind, len(hits)))
    return hits[0]


def decode_rle8(src, width, height):
    """Decodes a bottom-up RLE8 bitmap; every pixel must be set exactly once."""
    img = [[None] * width for _ in range(height)]
    x, y = 0, 0     # y counts rows from the bottom
    i = 0
    rows_ended = 0

    def put(p):
        nonlocal x
        need(x < width and y < height, 'pixel outside the frame at row %d' % y)
        need(img[height - 1 - y][x] is None, 'pixel written twice')
        img[height - 1 - y][x] = p
        x += 1

    while True:
        need(i + 2 <= len(src), 'data ends without an end-of-bitmap code')
        a, b = src[i], src[i + 1]
        i += 2
        if a:
            for _ in range(a):
                put(b)
        elif b == 0:
            need(x == width, 'row %d ended after %d pixels' % (y, x))
            x = 0
            y += 1
            rows_ended += 1
        elif b == 1:
            break
        elif b == 2:
            raise Bad('delta code: pixels left unset')
        else:
            need(i + b <= len(src), 'absolute run past the end of the data')
            for p in src[i:i + b]:
                put(p)
            i += b + (b & 1)
    need(i == len(src), '%d bytes after the end-of-bitmap code' % (len(src) - i))
    need(rows_ended == height, '%d rows ended, want %d' % (rows_ended, height))
    for row in img:
        need(None not in row, 'pixel left unset')
    return img


def check(path):
    data = open(path, 'rb').read()
    need(len(data) % 2 == 0, 'odd file size')
    top = chunks(data, 0, len(data))
    need(len(top) == 1 and top[0][0] == b'RIFF' and top[0][3] == b'AVI ', 'not a RIFF AVI')
    _, body, size, _ = top[0]
    need(body + size == len(data), 'RIFF size does not match the file')
    members = chunks(data, body + 4, body + size)

    _, hbody, hsize, _ = find(members, b'LIST', b'hdrl')
    hdrl = chunks(data, hbody + 4, hbody + hsize)
    _, abody, asize, _ = find(hdrl, b'avih')
    need(asize == 56, 'avih size %d' % asize)
    (usec, _maxbytes, _gran, flags, total, initial, streams, avih_buf, w, h) = \
        struct.unpack_from('<10I', data, abody)
    need(usec == 166666, 'dwMicroSecPerFrame %d' % usec)
    need(flags & 0x10, 'AVIF_HASINDEX not set')
    need(total == 29 and initial == 0 and streams == 1, 'frame or stream count')
    need((w, h) == (80, 50), 'size %dx%d' % (w, h))

    strls = [c for c in hdrl if c[0] == b'LIST' and c[3] == b'strl']
    need(len(strls) == 1, '%d streams' % len(strls))
    _, sbody, ssize, _ = strls[0]
    strl = chunks(data, sbody + 4, sbody + ssize)
    _, shbody, shsize, _ = find(strl, b'strh')
    need(shsize == 56, 'strh size %d' % shsize)
    (ftype, handler, _sflags, _prio, _lang, _init, scale, rate, start, length,
     sh_buf, _quality, _samplesize, left, topp, right, bottom) = \
        struct.unpack_from('<4s4sIHHIIIIIIIIhhhh', data, shbody)
    need(ftype == b'vids', 'stream type %r' % ftype)
    need(handler in (b'RLE ', b'mrle'), 'handler %r' % handler)
    need(rate * 166666 == scale * 1000000 or (scale, rate) == (1, 6), 'rate %d/%d' % (rate, scale))
    need(start == 0 and length == 29, 'stream start/length')
    need((left, topp, right, bottom) == (0, 0, 80, 50), 'rcFrame')

    _, fbody, fsize, _ = find(strl, b'strf')
    (bsize, bw, bh, planes, bits, comp, image, _xp, _yp, used, _imp) = \
        struct.unpack_from('<IiiHHIIiiII', data, fbody)
    need(bsize == 40 and (bw, bh) == (80, 50) and planes == 1, 'BITMAPINFOHEADER')
    need(bits == 8 and comp == 1, 'not RLE8 at 8 bits')
    need(used == 16 and fsize == 40 + 16 * 4, 'palette: %d colours, strf %d bytes' % (used, fsize))
    palette = [struct.unpack_from('<BBBB', data, fbody + 40 + 4 * k) for k in range(16)]
    want_pal = [(b, g, r, 0) for r, g, b in make_clip.PALETTE]
    need(palette == want_pal, 'palette differs')

    _, mbody, msize, _ = find(members, b'LIST', b'movi')
    movi = chunks(data, mbody + 4, mbody + msize)
    need(len(movi) == 29 and all(c[0] == b'00dc' for c in movi), 'movi holds other than 29 00dc chunks')
    biggest = max(c[2] for c in movi)
    need(biggest <= sh_buf and biggest <= avih_buf, 'a frame is larger than the suggested buffer')
    need(sh_buf <= 80 * 50 * 2 and avih_buf <= 80 * 50 * 2, 'suggested buffer size out of reason')
    need(image == 0 or image >= biggest, 'biSizeImage smaller than a frame')

    _, ibody, isize, _ = find(members, b'idx1')
    need(isize == 29 * 16, 'idx1 size %d' % isize)
    movi_fourcc = mbody
    want = make_clip.frames()
    for k in range(29):
        ckid, iflags, off, length = struct.unpack_from('<4sIII', data, ibody + 16 * k)
        need(ckid == b'00dc' and iflags & 0x10, 'index entry %d' % k)
        pos = movi_fourcc + off
        need(data[pos:pos + 4] == b'00dc', 'index entry %d points at %r' % (k, data[pos:pos + 4]))
        need(pos + 8 == movi[k][1], 'index entry %d out of order' % k)
        need(struct.unpack_from('<I', data, pos + 4)[0] == length == movi[k][2],
             'index entry %d length' % k)
        img = decode_rle8(data[pos + 8:pos + 8 + length], 80, 50)
        need(img == want[k], 'frame %d decodes to other pixels' % k)
        need(img[0][0] == 0, 'frame %d: top left pixel is not background' % k)
    return len(data), biggest


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, '..', 'resources', 'search.avi')
    try:
        size, biggest = check(path)
    except Bad as e:
        print('%s: %s' % (path, e))
        return 1
    print('%s: OK, %d bytes, 29 RLE8 key frames, largest %d bytes'
          % (os.path.normpath(path), size, biggest))
    return 0


if __name__ == '__main__':
    sys.exit(main())
