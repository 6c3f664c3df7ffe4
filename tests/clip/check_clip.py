#!/usr/bin/env python3
"""check_clip.py clip.avi: the headers and index the animation control relies on, and every frame against
tools/make_clip.py's, each decoded over the one before as the control plays them. Exits 1 on the first problem."""

import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'tools'))
import make_clip  # noqa: E402

W, H, FRAMES, USEC, KEYFRAME = make_clip.WIDTH, make_clip.HEIGHT, make_clip.FRAMES, make_clip.USEC_PER_FRAME, 0x10


def need(cond, what):
    if not cond:
        sys.exit('%s: %s' % (sys.argv[1], what))


def chunks(data, at, end):
    """{fourcc, or a list's type: [(start, end) of its data]}, in file order."""
    out = {}
    while at < end:
        need(at + 8 <= end, 'chunk header past the end of its list at %d' % at)
        fourcc, size = struct.unpack_from('<4sI', data, at)
        need(at + 8 + size <= end, '%r at %d runs past its list' % (fourcc, at))
        is_list = fourcc in (b'RIFF', b'LIST')
        key = data[at + 8:at + 12] if is_list else fourcc
        out.setdefault(key, []).append((at + 8 + 4 * is_list, at + 8 + size))
        at += 8 + size + (size & 1)
    need(at == end, 'stray bytes at the end of a list')
    return out


def one(items, fourcc):
    need(len(items.get(fourcc, [])) == 1, 'want exactly one %r' % fourcc)
    return items[fourcc][0]


def decode(src, prev):
    """src drawn over prev; with no prev (a key frame) every pixel must be set."""
    img = [row[:] for row in prev] if prev else [[None] * W for _ in range(H)]
    x = y = i = 0                   # y counts rows from the bottom
    while True:
        need(i + 2 <= len(src), 'no end-of-bitmap code')
        count, b = src[i], src[i + 1]
        i += 2
        if count or b > 2:
            pixels = [b] * count if count else list(src[i:i + b])
            i += 0 if count else b + (b & 1)
            need(i <= len(src) and x + len(pixels) <= W and y < H,
                 'pixels past the data, a row end or the top at row %d' % y)
            img[H - 1 - y][x:x + len(pixels)] = pixels
            x += len(pixels)
        elif b == 0:
            x, y = 0, y + 1
        elif b == 1:
            break
        else:
            need(i + 2 <= len(src), 'skip past the data')
            x, y, i = x + src[i], y + src[i + 1], i + 2
            need(x <= W and y < H, 'skip out of the frame')
    need(i == len(src), '%d bytes after the end-of-bitmap code' % (len(src) - i))
    need(all(None not in row for row in img), 'key frame leaves pixels unset')
    return img


def check(data):
    top = chunks(data, 0, len(data))
    need(data[:4] == b'RIFF' and list(top) == [b'AVI '], 'not a RIFF AVI')
    riff = chunks(data, *one(top, b'AVI '))
    hdrl = chunks(data, *one(riff, b'hdrl'))
    avih, end = one(hdrl, b'avih')
    usec, _, _, flags, total, initial, streams, abuf, w, h = struct.unpack_from('<10I', data, avih)
    need((end - avih, usec, flags & 0x10, total, initial, streams, w, h) ==
         (56, USEC, 0x10, FRAMES, 0, 1, W, H), 'avih')
    strl = chunks(data, *one(hdrl, b'strl'))
    strh, end = one(strl, b'strh')
    kind, handler, _, _, _, _, scale, rate, start, length, sbuf, _, _, *frame = \
        struct.unpack_from('<4s4sIHHIIIIIIIIhhhh', data, strh)
    need((end - strh, kind, start, length, frame) == (56, b'vids', 0, FRAMES, [0, 0, W, H]), 'strh')
    need(handler in (b'RLE ', b'mrle') and rate * USEC == scale * 1000000, 'strh codec or rate')
    strf, end = one(strl, b'strf')
    bih = struct.unpack_from('<IiiHHIIiiII', data, strf)
    need(end - strf == 40 + 4 * 16 and bih[:6] == (40, W, H, 1, 8, 1) and bih[9] == 16,
         'strf: not 80x50 RLE8 with 16 colours')
    need([struct.unpack_from('<3B', data, strf + 40 + 4 * k)[::-1] for k in range(16)] == make_clip.PALETTE, 'palette')

    movi_at, movi_end = one(riff, b'movi')
    movi = chunks(data, movi_at, movi_end)
    need(list(movi) == [b'00dc'] and len(movi[b'00dc']) == FRAMES, 'movi: not %d 00dc chunks' % FRAMES)
    # Players read a buffer's worth from each frame; Wine decodes at most biSizeImage bytes.
    biggest = max(end - at for at, end in movi[b'00dc'])
    need(biggest <= min(sbuf, abuf, bih[6]), 'a frame is larger than the buffer sizes')
    index, end = one(riff, b'idx1')
    need(end - index == FRAMES * 16, 'idx1 size')
    want, img = make_clip.frames(), None
    for k, (at, end) in enumerate(movi[b'00dc']):
        entry = struct.unpack_from('<4sIII', data, index + 16 * k)
        need(entry == (b'00dc', KEYFRAME if k == 0 else 0, at - 4 - movi_at, end - at),
             'index entry %d' % k)
        img = decode(data[at:end], img)
        need(img == want[k], 'frame %d: other pixels' % k)
    print('%s: OK, %d bytes, %d frames, largest %d bytes' % (sys.argv[1], len(data), FRAMES, biggest))


if __name__ == '__main__':
    check(open(sys.argv[1], 'rb').read())
