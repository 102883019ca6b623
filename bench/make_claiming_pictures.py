#!/usr/bin/env python3
"""make_claiming_pictures.py OUTDIR [SIDE] : pictures whose headers state
SIDE x SIDE pixels (default 16000), written with zlib: claim.png, one colour
in 8-bit RGB (whole and valid, about 775 KB at 16000), claim.gif (a logical
screen of that size around one 1 x 1 frame) and claim.tif (1-bit, PackBits
runs, whole and valid)."""
import os
import struct
import sys
import zlib

out = sys.argv[1]
side = int(sys.argv[2]) if len(sys.argv) > 2 else 16000
os.makedirs(out, exist_ok=True)


def chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data) & 0xffffffff)


row = b'\x00' + bytes((40, 90, 160)) * side
z = zlib.compressobj(9)
idat = b''.join(z.compress(row) for _ in range(side)) + z.flush()
with open(os.path.join(out, 'claim.png'), 'wb') as f:
    f.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', side, side, 8, 2, 0, 0, 0))
            + chunk(b'IDAT', idat) + chunk(b'IEND', b''))

with open(os.path.join(out, 'claim.gif'), 'wb') as f:
    f.write(b'GIF89a' + struct.pack('<HHBBB', side, side, 0x80, 0, 0) + b'\x00\x00\x00\xff\xff\xff'
            + b',' + struct.pack('<HHHHB', 0, 0, 1, 1, 0) + b'\x02\x02\x44\x01\x00;')

runs = b''
left = (side + 7) // 8
while left:
    n = min(128, left)
    runs += bytes((257 - n, 0))
    left -= n
strip = runs * side
tags = [(256, 4, side), (257, 4, side), (258, 3, 1), (259, 3, 32773), (262, 3, 1), (273, 4, 0),
        (277, 3, 1), (278, 4, side), (279, 4, len(strip))]
first = 8 + 2 + 12 * len(tags) + 4
ifd = struct.pack('<H', len(tags))
for tag, kind, value in tags:
    value = first if tag == 273 else value
    ifd += struct.pack('<HHI', tag, kind, 1) + (struct.pack('<HH', value, 0) if kind == 3 else struct.pack('<I', value))
with open(os.path.join(out, 'claim.tif'), 'wb') as f:
    f.write(b'II*\x00' + struct.pack('<I', 8) + ifd + b'\x00\x00\x00\x00' + strip)
