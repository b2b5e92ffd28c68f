#!/usr/bin/env python3
"""Writes resources/animation/filemove.gif: the looping picture of files
moving from one folder to another that the compacting window plays.

    python3 tools/make-filemove-gif.py [OUT.gif]

Standard library only; the GIF is drawn and LZW-encoded here so that the
clip can be made again, or changed, without an image program."""
import struct
import sys

W, H, FRAMES = 136, 30, 12
# 0 background, 1 folder, 2 folder edge, 3 paper, 4 paper edge, 5..7 unused
PALETTE = [(0xF0, 0xF0, 0xF0), (0xF5, 0xC8, 0x42), (0x9A, 0x72, 0x10), (0xFF, 0xFF, 0xFF),
           (0x40, 0x40, 0x60), (0, 0, 0), (0, 0, 0), (0, 0, 0)]


def folder(px, x0):
    for y in range(8, 28):
        for x in range(x0, x0 + 26):
            edge = y in (8, 27) or x in (x0, x0 + 25)
            px[y][x] = 2 if edge else 1
    for y in range(5, 8):
        for x in range(x0, x0 + 10):
            px[y][x] = 2


def paper(px, x0, y0):
    for y in range(y0, y0 + 14):
        for x in range(x0, x0 + 10):
            if 0 <= x < W and 0 <= y < H:
                edge = y in (y0, y0 + 13) or x in (x0, x0 + 9)
                px[y][x] = 4 if edge else 3


def frame(i):
    px = [[0] * W for _ in range(H)]
    folder(px, 4)
    folder(px, W - 30)
    # The sheet rises out of the left folder, flies in an arc and drops
    # into the right one.
    t = i / (FRAMES - 1)
    x = int(12 + t * (W - 36))
    y = int(10 - 9 * (1 - (2 * t - 1) ** 2))
    paper(px, x, y)
    return px


def lzw(indices, min_size):
    clear, end = 1 << min_size, (1 << min_size) + 1
    table = {(i,): i for i in range(clear)}
    size, next_code = min_size + 1, end + 1
    out, bits, nbits = bytearray(), 0, 0

    def emit(code):
        nonlocal bits, nbits
        bits |= code << nbits
        nbits += size
        while nbits >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8

    emit(clear)
    w = ()
    for k in indices:
        wk = w + (k,)
        if wk in table:
            w = wk
            continue
        emit(table[w])
        if next_code < 4096:
            table[wk] = next_code
            next_code += 1
            if next_code > (1 << size) and size < 12:
                size += 1
        else:
            emit(clear)
            table = {(i,): i for i in range(clear)}
            size, next_code = min_size + 1, end + 1
        w = (k,)
    emit(table[w])
    emit(end)
    if nbits:
        out.append(bits & 0xFF)
    return bytes(out)


def sub_blocks(data):
    out = bytearray()
    for i in range(0, len(data), 255):
        chunk = data[i:i + 255]
        out += bytes([len(chunk)]) + chunk
    return bytes(out + b"\x00")


def gif():
    out = bytearray(b"GIF89a")
    out += struct.pack("<HHBBB", W, H, 0xF2, 0, 0)  # global table of 8 colours
    for r, g, b in PALETTE:
        out += bytes([r, g, b])
    out += b"\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00"  # loop for ever
    for i in range(FRAMES):
        out += b"\x21\xF9\x04\x00" + struct.pack("<H", 10) + b"\x00\x00"  # 100 ms a frame
        out += b"\x2C" + struct.pack("<HHHHB", 0, 0, W, H, 0)
        out += b"\x03" + sub_blocks(lzw([c for row in frame(i) for c in row], 3))
    return bytes(out + b"\x3B")


if __name__ == "__main__":
    path = sys.argv[1] if len(sys.argv) > 1 else "resources/animation/filemove.gif"
    with open(path, "wb") as f:
        f.write(gif())
