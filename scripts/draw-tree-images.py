#!/usr/bin/env python3
"""Draws the record tree's picture strip, app/resources/Tree/treeimages.png.

Six 16x16 pictures side by side, pixel by pixel from the maps below (no scaling, so they stay
crisp at 1:1), in the viewer's colours: 0 drive, 1 drive (selected), 2 recording, 3 recording
(selected), 4 folder, 5 open folder. '.' is transparent. Standard library only; run it again
after changing a map.
"""
import os
import struct
import zlib

PALETTE = {
    '.': (0, 0, 0, 0),
    'k': (0x15, 0x18, 0x1C, 255),  # shadow / outline
    'h': (0x3E, 0x46, 0x4F, 255),  # highlight of the graphite
    'g': (0x2E, 0x34, 0x3B, 255),  # graphite top
    'G': (0x22, 0x27, 0x2D, 255),  # graphite bottom
    'a': (0x3C, 0x8D, 0xDE, 255),  # accent
    'A': (0x2A, 0x6C, 0xB0, 255),  # accent pressed (dark outline)
    'l': (0x6A, 0xA9, 0xE8, 255),  # light accent
    'L': (0x9C, 0xC6, 0xF0, 255),  # lighter accent
    'w': (0xFF, 0xFF, 0xFF, 255),  # page
    'e': (0xE6, 0xEA, 0xEE, 255),  # glyph grey
    'o': (0x7A, 0x83, 0x8C, 255),  # page outline
}

DRIVE = """
................
................
................
................
.kkkkkkkkkkkkkk.
.khhhhhhhhhhhhk.
.kggggggggggggk.
.kggggggggggggk.
.kGGGGGGGGGGGGk.
.kGeGeGeGGGGaGk.
.kGGGGGGGGGGGGk.
.kkkkkkkkkkkkkk.
................
................
................
................
"""

DRIVE_SELECTED = DRIVE.replace('k', 'A')

FILE = """
................
..oooooooo......
..owwwwwwoo.....
..owwwwwwowo....
..owwwwwwoooo...
..owwwwwwwwwo...
..owwwawwwwwo...
..owwwaawwwwo...
..owwwaaawwwo...
..owwwaaaawwo...
..owwwaaawwwo...
..owwwaawwwwo...
..owwwawwwwwo...
..owwwwwwwwwo...
..oooooooooooo..
................
""".replace('oooooooooooo..', 'ooooooooooo...')

FILE_SELECTED = FILE.replace('o', 'A')

FOLDER = """
................
................
.AAAAA..........
.AlllA..........
.AllllAAAAAAAA..
.AllllllllllllA.
.AaaaaaaaaaaaaA.
.AaaaaaaaaaaaaA.
.AaaaaaaaaaaaaA.
.AaaaaaaaaaaaaA.
.AaaaaaaaaaaaaA.
.AaaaaaaaaaaaaA.
.AaaaaaaaaaaaaA.
.AAAAAAAAAAAAAA.
................
................
"""

OPEN_FOLDER = """
................
................
.AAAAA..........
.AlllA..........
.AllllAAAAAAAA..
.AaaaaaaaaaaaA..
.AaaaaaaaaaaaA..
.AaaAAAAAAAAAAAA
.AaAlLLLLLLLLLLA
.AaALLLLLLLLLLA.
.AAlLLLLLLLLLLA.
.AALLLLLLLLLLA..
.AlLLLLLLLLLLA..
.AAAAAAAAAAAAA..
................
................
"""


def rows(picture):
    lines = [line for line in picture.strip('\n').split('\n')]
    assert len(lines) == 16 and all(len(line) == 16 for line in lines), picture
    return lines


def png(width, height, pixels):
    raw = b''.join(b'\0' + bytes(c for px in row for c in px) for row in pixels)
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 6, 0, 0, 0)) +
            chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


def main():
    pictures = [rows(p) for p in (DRIVE, DRIVE_SELECTED, FILE, FILE_SELECTED, FOLDER, OPEN_FOLDER)]
    pixels = [[PALETTE[ch] for p in pictures for ch in p[y]] for y in range(16)]
    here = os.path.dirname(os.path.abspath(__file__))
    out = os.path.join(here, '..', 'app', 'resources', 'Tree', 'treeimages.png')
    with open(out, 'wb') as f:
        f.write(png(16 * len(pictures), 16, pixels))


if __name__ == '__main__':
    main()
