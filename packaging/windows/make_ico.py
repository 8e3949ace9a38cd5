#!/usr/bin/env python3
"""Packs PNG pictures into one Windows icon file (.ico), each PNG stored as it
is (the form Windows takes since Vista), largest last.

    make_ico.py OUTPUT.ico SIZE1.png SIZE2.png ...
"""
import struct
import sys


def main():
    out, pngs = sys.argv[1], sys.argv[2:]
    images = []
    for path in pngs:
        data = open(path, 'rb').read()
        if data[:8] != b'\x89PNG\r\n\x1a\n':
            sys.exit(f'{path}: not a PNG file')
        width, height = struct.unpack('>II', data[16:24])
        images.append((width, height, data))
    header = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b''
    for width, height, data in images:
        # 256 pixels is written as 0 in the one-byte fields.
        entries += struct.pack('<BBBBHHII', width % 256, height % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(out, 'wb') as f:
        f.write(header + entries + b''.join(d for _, _, d in images))


if __name__ == '__main__':
    main()
