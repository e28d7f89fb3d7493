#!/usr/bin/env python3
"""Compares two images (PNG, 24/32-bit BMP or a 24-bit X window dump)
within a tolerance.

usage: imgdiff.py GOT WANT [MAXDIFF [MAXFRACTION]]
A pixel differs when any channel differs by more than MAXDIFF (default 8);
the images match when at most MAXFRACTION (default 0.001) of the pixels
differ. Exit 0 on a match, 1 otherwise (with the reason).
"""
import struct
import sys
import zlib


def png(data):
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG")
    pos, idat, w = 8, b"", 0
    while pos < len(data):
        n, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + n]
        pos += 12 + n
        if kind == b"IHDR":
            w, h, depth, ctype = struct.unpack(">IIBB", body[:10])
            if depth != 8 or ctype not in (2, 6):
                raise ValueError("only 8-bit RGB(A) PNG")
            bpp = 3 if ctype == 2 else 4
        elif kind == b"IDAT":
            idat += body
    raw = zlib.decompress(idat)
    stride = w * bpp
    rows, prev = [], bytearray(stride)
    for y in range(h):
        f = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            if f == 1: line[i] = (line[i] + a) & 255
            elif f == 2: line[i] = (line[i] + b) & 255
            elif f == 3: line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append([tuple(line[x * bpp:x * bpp + 3]) for x in range(w)])
        prev = line
    return w, h, rows


def bmp(data):
    off, = struct.unpack("<I", data[10:14])
    w, h = struct.unpack("<ii", data[18:26])
    bits, = struct.unpack("<H", data[28:30])
    bpp = bits // 8
    stride = (w * bpp + 3) & ~3
    rows = []
    for y in range(abs(h)):
        r = y if h < 0 else abs(h) - 1 - y
        line = data[off + r * stride: off + r * stride + w * bpp]
        rows.append([(line[x * bpp + 2], line[x * bpp + 1], line[x * bpp]) for x in range(w)])
    return w, abs(h), rows


def xwd(data):
    f = struct.unpack(">25I", data[:100])
    hsize, w, h, bpl, ncolors = f[0], f[4], f[5], f[12], f[19]
    order, bpp = f[7], f[11]
    if bpp != 32:
        raise ValueError("only 32-bit X window dumps")
    off = hsize + 12 * ncolors
    rows = []
    for y in range(h):
        line = data[off + y * bpl: off + y * bpl + w * 4]
        if order == 0:  # LSB first: blue, green, red, pad
            rows.append([(line[x * 4 + 2], line[x * 4 + 1], line[x * 4]) for x in range(w)])
        else:
            rows.append([(line[x * 4 + 1], line[x * 4 + 2], line[x * 4 + 3]) for x in range(w)])
    return w, h, rows


def load(name):
    data = open(name, "rb").read()
    if data[:2] == b"BM":
        return bmp(data)
    if data[:8] == b"\x89PNG\r\n\x1a\n":
        return png(data)
    return xwd(data)


def main():
    got, want = load(sys.argv[1]), load(sys.argv[2])
    maxdiff = int(sys.argv[3]) if len(sys.argv) > 3 else 8
    maxfrac = float(sys.argv[4]) if len(sys.argv) > 4 else 0.001
    if got[:2] != want[:2]:
        print(f"size {got[0]}x{got[1]}, expected {want[0]}x{want[1]}")
        return 1
    bad = sum(1 for rg, rw in zip(got[2], want[2]) for pg, pw in zip(rg, rw)
              if max(abs(a - b) for a, b in zip(pg, pw)) > maxdiff)
    if bad > maxfrac * got[0] * got[1]:
        print(f"{bad} of {got[0] * got[1]} pixels differ")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
