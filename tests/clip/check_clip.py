#!/usr/bin/env python3
"""The search clip shipped: what tools/make_clip.py draws, byte for byte, and what the search dialog is to
play, whatever the generator was told: one RLE8 video stream, 80x50 pixels over a palette of 16 colours,
29 frames (29 chunks, 29 index entries, the first the only key frame) at 166,666 us a frame.

Usage: check_clip.py SOURCE_DIR SCRATCH_FILE"""
import struct
import subprocess
import sys

src, scratch = sys.argv[1], sys.argv[2]
clip = open(src + '/resources/search.avi', 'rb').read()
subprocess.run([sys.executable, src + '/tools/make_clip.py', scratch], check=True, stdout=subprocess.DEVNULL)
problems = [] if open(scratch, 'rb').read() == clip else ['not what tools/make_clip.py draws']


def body(tag):
    """The bytes of the first chunk of that name, or of the list of that kind (LIST, size, movi, chunks)."""
    at = clip.find(tag)
    if tag == b'movi':
        return clip[at + 4:at + struct.unpack_from('<I', clip, at - 4)[0]]
    return clip[at + 8:at + 8 + struct.unpack_from('<I', clip, at + 4)[0]]


def chunks(data):
    at, names = 0, []
    while at + 8 <= len(data):
        names.append(data[at:at + 4])
        at += 8 + (struct.unpack_from('<I', data, at + 4)[0] + 1) // 2 * 2
    return names


strf, idx1 = body(b'strf'), body(b'idx1')
for what, got, want in [
        ('us a frame, frames, streams, width, height', struct.unpack_from('<I12xI4xI4xII', body(b'avih')),
         (166666, 29, 1, 80, 50)),
        ('type, codec, scale, rate, length', struct.unpack_from('<4s4s12xII4xI', body(b'strh')),
         (b'vids', b'RLE ', 166666, 1000000, 29)),
        ('width, height, planes, bits, compression, colours, palette bytes',
         struct.unpack_from('<4xiiHHI12xI', strf) + (len(strf) - 40,), (80, 50, 1, 8, 1, 16, 64)),
        ('frames', chunks(body(b'movi')), [b'00dc'] * 29),
        ('index flags', [struct.unpack_from('<I', idx1, i + 4)[0] for i in range(0, len(idx1), 16)], [0x10] + [0] * 28)]:
    problems += ['%s: %s, not %s' % (what, got, want)] if got != want else []
print('\n'.join(problems) or 'the clip: 29 frames of 80x50, RLE8 over 16 colours, 166,666 us a frame')
sys.exit(1 if problems else 0)
