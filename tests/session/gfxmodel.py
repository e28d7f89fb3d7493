#!/usr/bin/env python3
"""The graphics session tests' own model of the drawing rules.

A vector file's records replayed the way redraw draws them into an image
bound as vimage: moves, lines and dots (relative ones too), ellipses, the
drawing box's clipping, Bresenham lines walked from the left end (the
steep falling line from its upper end), the midpoint ellipse, fat pixels,
XOR, the depth test against zimage and the brightness tests. Arithmetic
that the program does in 32-bit floats is done in numpy float32 here.

    gfxmodel.py gen NAME OUT.vec      writes the records of test NAME
    gfxmodel.py check IMAGE.raw W H BITS VEC [option=value ...]
        compares the raw image the session wrote with the model
        (options: gflags, zimage=FILE:BITS, zinit, base=FILE, value)
"""
import math
import random
import struct
import sys

import numpy as np

f32 = np.float32
BOX = [[0, 0, -1000], [1023, 355, 1000]]   # the drawing box after the set-up
SCRH = 768                                 # the screen's height


def ftrunc(v):
    return int(np.trunc(np.float64(v)))


def i16(v):
    return ((int(v) + 0x8000) & 0xFFFF) - 0x8000


# ---- vector files --------------------------------------------------------------

def writevec(name, recs):
    """recs: (x, y, z, code, width, colour) tuples; the end marker follows."""
    data = b''.join(struct.pack('<hhhBB', i16(x), i16(y), i16(z), ((w & 15) << 4) | (c & 15), col & 255)
                    for (x, y, z, c, w, col) in recs)
    data += struct.pack('<hhhBB', 1, 0, 0, 15, 0)
    n = len(data) // 8

    def ent(tag, typ, cnt, val):
        if typ == 3 and cnt == 1:
            return struct.pack('<HHIHH', tag, typ, cnt, val, 0)
        return struct.pack('<HHII', tag, typ, cnt, val)
    data0 = 12 * 6 + 14
    head = b'II*\x00' + struct.pack('<IH', 8, 4)
    head += ent(256, 3, 1, 8) + ent(257, 4, 1, n) + ent(258, 3, 1, 8) + ent(273, 4, 1, data0)
    head += struct.pack('<I', 0)
    open(name, 'wb').write(head + b'\0' * (data0 - len(head)) + data)


def readvec(name):
    d = open(name, 'rb').read()
    n = struct.unpack_from('<H', d, 8)[0]
    off = None
    for i in range(n):
        t, ty, c, v = struct.unpack_from('<HHII', d, 10 + 12 * i)
        if t == 273:
            off = v
    recs = []
    for p in range(off, len(d) - 7, 8):
        x, y, z, b6, col = struct.unpack_from('<hhhBB', d, p)
        if x == 1 and y == 0 and b6 == 15:
            break
        recs.append((x, y, z, b6 & 15, b6 >> 4, col))
    return recs


# ---- the drawing rules -----------------------------------------------------------

class Model:
    def __init__(self, w, h, bits=8, gflags=0, zimg=None, zbits=16, base=None):
        self.w, self.h, self.bits = w, h, bits
        self.mask = (1 << bits) - 1
        self.img = np.zeros((h, w), np.int64) if base is None else base.astype(np.int64).copy()
        self.g = gflags
        self.z = zimg                      # the depth image (int64), or None
        self.zbits = zbits
        self.pen = [0, 0, 0]
        self.prev = [0, 0, 0]
        self.last = [0, 0, 0]              # the last absolute point
        self.lastcode = 0
        self.lastclip = 0
        self.zvalue = 0
        self.penwidth = 1
        self.recs = []
        self.ox, self.oy, self.ww, self.wh = 0, 0, w, h   # the window drawn into

    # pixels
    def setpix(self, x, y, v):
        if 0 <= x < self.ww and 0 <= y < self.wh:
            x, y = x + self.ox, y + self.oy
            o = int(self.img[y, x]) if self.g & 0x80 else 0
            self.img[y, x] = (o ^ v) & self.mask

    def pixwr(self, x, y, v):
        k = 0 if self.g & 1 else (self.g & 0x1800) >> 11
        if k == 0:
            self.setpix(x, y, v)
            return
        # the block of 2^k by 2^k growing right and down, each pixel once
        n = 1 << k
        self.block(x, y, x + n - 1, y + n - 1, v)

    def block(self, x0, y0, x1, y1, v):
        """Pixels x0..x1 by y0..y1 of the window, each set (or XORed) once."""
        x0, y0 = max(x0, 0), max(y0, 0)
        x1, y1 = min(x1, self.ww - 1), min(y1, self.wh - 1)
        if x1 < x0 or y1 < y0:
            return
        sl = self.img[y0 + self.oy:y1 + self.oy + 1, x0 + self.ox:x1 + self.ox + 1]
        if self.g & 0x80:
            sl ^= v
            sl &= self.mask
        else:
            sl[...] = v & self.mask

    def getimg(self, x, y):
        if 0 <= x < self.w and 0 <= y < self.h:
            v = int(self.img[y, x])
            return v
        return 0

    # lines
    def linprm(self, a, b):
        if a[0] > b[0]:
            a, b = b, a
        ls = {'x': a[0], 'y': a[1]}
        zs = a[2]
        dx, dy, dz = b[0] - a[0], b[1] - a[1], b[2] - a[2]
        ls['step'] = -1 if dy < 0 else 1
        if dy < 0:
            dy = -dy
            if dy > dx:
                ls['x'], ls['y'], zs, dz = b[0], b[1], b[2], -dz
        ls['err'], ls['inc'], ls['dec'] = -1, 0, 0
        count = max(dx, dy)
        if dx == 0:
            ls['kind'] = 2 if dy != 0 else -2
        elif dy == 0:
            ls['kind'] = -1
        elif dy > dx:
            ls['inc'], ls['dec'], ls['err'], ls['kind'] = 2 * dx, 2 * dx - 2 * dy, 2 * dx - dy, 1
        else:
            ls['inc'], ls['err'], ls['dec'], ls['kind'] = 2 * dy, 2 * dy - dx, 2 * dy - 2 * dx, 0
        count += 1
        ls['count'] = count
        ls['slope'] = f32(dz) / f32(count)
        ls['round'] = f32(0.5) if ls['slope'] >= 0 else f32(-0.5)
        m0 = ls['y'] if ls['kind'] > 0 else ls['x']
        ls['zbase'] = ftrunc(f32(zs) - (f32(m0) * ls['slope'] + ls['round']))
        return ls

    def zat(self, ls, m):
        return ls['zbase'] + ftrunc(f32(m) * ls['slope'] + ls['round'])

    def walk(self, ls, writer, v):
        x, y, err = ls['x'], ls['y'], ls['err']
        if ls['kind'] < 0 and writer == self.plain and (self.g & 1 or not self.g & 0x1800):
            self.block(x, y, x + ls['count'] - 1, y, v)   # a row, each pixel once
            return
        for _ in range(ls['count']):
            writer(x, y, v, ls)
            if err < 0:
                err += ls['inc']
            elif ls['kind'] < 1:
                y += ls['step']
                err += ls['dec']
            else:
                x += ls['step']
                err += ls['dec']
            if ls['kind'] < 1:
                x += 1
            else:
                y += 1

    def plain(self, x, y, v, ls):
        self.pixwr(x, y, v)

    def zsat(self, z):
        if self.zbits == 8:
            return min(max(z, 0), 255)
        return min(max(z, -32768), 32767)

    def mapz(self, x, y, v, ls):
        if v == 0:
            return
        z = self.zat(ls, y if ls['kind'] > 0 else x)
        old = int(self.z[y, x]) if 0 <= x < self.w and 0 <= y < self.h else 0
        if z < old:
            return
        if 0 <= x < self.w and 0 <= y < self.h:
            # through the writer: fat blocks and XOR apply to the depth too
            keep = self.img
            self.img, self.mask = self.z, (1 << self.zbits) - 1
            self.pixwr(x, y, self.zsat(z) & self.mask)
            if self.zbits == 16:
                self.z[self.z >= 0x8000] -= 0x10000
            self.img, self.mask = keep, (1 << self.bits) - 1
        self.pixwr(x, y, v)

    def britest(self, x, y, v, ls):
        old = self.getimg(x, y)
        if (v < old) if self.g & 0x400 else (v > old):
            self.pixwr(x, y, v)

    def vmove(self, p):
        self.pen = list(p)

    def vline(self, p, v):
        m = self.g
        if not (m & 0x5F44):
            m |= 0x100
        if m & 1:
            return      # no transform and no image variable: the window only
        ls = self.linprm(self.pen, p)
        if (m & 4) and self.z is not None:
            if ls['kind'] == -1:
                x, y = ls['x'], ls['y']
                for _ in range(ls['count']):
                    if v != 0 and 0 <= x < self.w and 0 <= y < self.h:
                        z = self.zat(ls, x)
                        if z >= int(self.z[y, x]):
                            self.z[y, x] = self.zsat(z)
                            self.pixwr(x, y, v)
                    x += 1
            else:
                self.walk(ls, self.mapz, v)
        elif m & 0x600:
            self.walk(ls, self.britest, v)
        elif m & 0x1900:
            self.walk(ls, self.plain, v)
            self.pen = list(p)

    def limits(self, p):
        c = 0
        for k in range(3):
            if p[k] < BOX[0][k]:
                c |= 1 << k
            if p[k] > BOX[1][k]:
                c |= 8 << k
        return c

    def iclip(self, p0, p1):
        c0, c1 = self.limits(p0), self.limits(p1)
        if c0 == 0 and c1 == 0 or self.g & 1:
            return 0
        allc = c0 | c1
        while c0 or c1:
            if c0 & c1:
                return -1
            first = c0 != 0
            q = p0 if first else p1
            code = c0 if first else c1
            bound = BOX[0]
            if code & 7 == 0:
                bound, code = BOX[1], code >> 3
            k = 0 if code & 1 else 1 if code & 2 else 2
            t = f32(bound[k] - p0[k]) / f32(p1[k] - p0[k])
            n = [bound[k] if j == k else ftrunc(f32(p0[j]) + f32(p1[j] - p0[j]) * t) for j in range(3)]
            q[:] = n
            if first:
                c0 = self.limits(p0)
            else:
                c1 = self.limits(p1)
        return allc

    # ellipses
    def sym(self, dx, dy, cx, cy, v, fill):
        if not fill:
            if dx == 0:
                self.pixwr(cx, cy + dy, v)
                if dy:
                    self.pixwr(cx, cy - dy, v)
                return
            self.pixwr(cx + dx, cy + dy, v)
            self.pixwr(cx - dx, cy + dy, v)
            if dy:
                self.pixwr(cx + dx, cy - dy, v)
                self.pixwr(cx - dx, cy - dy, v)
            return
        self.vmove([cx - dx, cy - dy, self.zvalue])
        self.vline([cx + dx, cy - dy, self.zvalue], v)
        if dy:
            self.vmove([cx + dx, cy + dy, self.zvalue])
            self.vline([cx - dx, cy + dy, self.zvalue], v)

    def ellips(self, c, width, height, v, fill):
        cx, cy = c[0], c[1]
        a, b = max(width >> 1, 1), max(height >> 1, 1)
        if cx - a < 0 or cy - b < 0 or cy + b > SCRH - 1:
            return
        x, y = 0, b
        a2, b2 = a * a, b * b
        d = b2 - a2 * b + a2 // 4
        px, py = 0, 2 * a2 * b
        while px < py:
            self.sym(x, y, cx, cy, v, fill)
            if d > 0:
                y -= 1
                py -= 2 * a2
                d -= py
            x += 1
            px += 2 * b2
            d += b2 + px
        q = 3 * (a2 - b2)
        half = q // 2 if q >= 0 else -((-q) // 2)     # division toward zero
        d += (half - (px + py)) >> 1
        while y >= 0:
            self.sym(x, y, cx, cy, v, fill)
            if d < 0:
                x += 1
                px += 2 * b2
                d += px
            y -= 1
            py -= 2 * a2
            d += a2 - py

    # records
    def getpt(self, rec):
        """A record read in draw mode: relative codes resolved, and the
        last absolute point following every record below code 8."""
        x, y, z, code, w, col = rec
        pt = [x, y, z]
        if 4 <= code <= 6:
            code -= 3
            pt = [i16(pt[k] + self.last[k]) for k in range(3)]
        if code < 8:
            self.last = list(pt)
        return code, pt

    def redraw(self, recs, mode=0):
        """Draws the records as redraw does; False when a text cut short
        ended it."""
        self.lastcode = 0
        self.recs = recs
        i = 0
        while i < len(recs):
            k = self.vdraw(i)
            if k is None:
                return False
            i += k
        return True

    def vdraw(self, i):
        recs = self.recs
        x, y, z, _, w, col = recs[i]
        code, pt = self.getpt(recs[i])
        if code == 8:
            want, nxt = (max(x, 0) + 5) // 6, i + 1
            while nxt - i - 1 < want and nxt < len(recs) and recs[nxt][3] == 8:
                nxt += 1
            if nxt - i - 1 < want:
                return None                        # error 110
            self.lastcode = 8
            return nxt - i
        if code in (1, 10) and (i < 1 or self.lastcode == 0 or self.lastcode > 6):
            code = 2                               # drawn as a move
        if code == 10:
            if self.limits(self.prev) == 0:
                self.ellips(self.prev, x, y, col, z)
            self.lastcode = 10
            return 1
        if code in (11, 12):
            nxt, normal, colour = i + 1, None, col
            if i + 1 < len(recs) and recs[i + 1][3] == 7:
                px, py, pz, _, pw, pc = recs[i + 1]
                nxt, normal = i + 2, [px, py, pz]
                if pw and pz < 0:
                    colour, normal = pc, [-px, -py, -pz]
            if code == 12:
                self.fill(range(i + x, min(i + x + y, len(recs))) if i + x >= 0 else [], colour, z)
            elif normal is not None and normal[2] >= 0:
                tri = [self.vabs(i + d) for d in (x, y, z)]
                if None not in tri:
                    self.fill([(p[0], p[1], p[2], 2 if k == 0 else 1, 0, 0) for k, p in enumerate(tri)], colour, 0)
            self.lastcode = code
            return nxt - i
        if code == 15:
            t = x
            if t & 32 and 500 < z:
                t = 16
            nxt = i + 1
            if t & 16:
                nxt = i + y - (2 if t == 20 else 0)
            self.lastcode = 15
            return max(nxt - i, 1)
        if not 1 <= code <= 3:
            self.lastcode = code
            return 1
        frm = list(self.prev)
        self.prev = list(pt)
        wd = w if w else 1
        if code == 3 and wd > 1:
            if self.limits(pt) == 0:
                self.ellips(pt, wd, wd, col, 1)
            self.lastcode = 3
            return 1
        if code == 2:
            self.vmove(pt)
        else:
            a = list(pt) if code == 3 else frm
            b = list(pt)
            c = self.iclip(a, b)
            self.lastclip = c
            if c >= 0:
                if c != 0 or code == 3:
                    self.vmove(a)
                self.vline(b, col)
                self.pen = list(b)
        self.lastcode = code
        return 1

    def vabs(self, i):
        """The absolute point of record i (relative ones added up back to
        the absolute point before them)."""
        if not 0 <= i < len(self.recs):
            return None
        x, y, z, code = self.recs[i][:4]
        p = [x, y, z]
        if 4 <= code <= 6:
            for j in range(i - 1, -1, -1):
                c = self.recs[j][3]
                if 1 <= c <= 6:
                    p = [p[k] + self.recs[j][k] for k in range(3)]
                if 1 <= c <= 3:
                    break
        return [i16(v) for v in p]

    # the filler
    def fill(self, run, colour, open_):
        """The outline of a run of records (indices, or records) and its
        inside: each edge's crossings with the rows it spans (its lower
        end's row left out, horizontal edges none), at the first pixel its
        walk puts in the row, x kept just beside the box; rows of an odd
        count lose their last crossing; spans between pairs, every
        penwidth-th row."""
        rows = min(BOX[1][1] + 1, 640)
        rlo, rhi, xlo, xhi = max(BOX[0][1], 0), rows - 1, BOX[0][0], BOX[1][0]
        cross = {}
        xs, ys = [], []                   # the vertices' x and y

        def edge(a, b):
            p, q = list(a), list(b)
            if self.iclip(p, q) >= 0:
                self.vmove(p)
                self.vline(q, colour)
            if a[1] == b[1]:
                return
            ytop, ybot = min(a[1], b[1]), max(a[1], b[1])
            if ybot <= rlo or ytop > rhi:
                return
            ls = self.linprm(a, b)
            x, y, err, xmaj, last = ls['x'], ls['y'], ls['err'], ls['kind'] < 1, None
            for _ in range(ls['count']):
                if y != last:
                    last = y
                    if ytop <= y < ybot and rlo <= y <= rhi:
                        z = self.zat(ls, x if xmaj else y)
                        cross.setdefault(y, []).append((min(max(x, xlo - 1), xhi + 1), z))
                if err < 0:
                    err += ls['inc']
                elif xmaj:
                    y += ls['step']
                    err += ls['dec']
                else:
                    x += ls['step']
                    err += ls['dec']
                if xmaj:
                    x += 1
                else:
                    y += 1

        have, first, prev = False, None, None
        for r in run:
            rec = self.recs[r] if isinstance(r, int) else r
            code, p = self.getpt(rec)
            if code in (1, 2):
                xs.append(p[0])
                ys.append(p[1])
                if have and code == 1:
                    edge(prev, p)
                else:
                    if have and open_ <= 0:
                        edge(prev, first)
                    first, have = p, True
                prev = p
                continue
            if have and open_ <= 0:
                edge(prev, first)
            have = False
        if have and open_ <= 0:
            edge(prev, first)
        if not xs or max(ys) < rlo or min(ys) > rhi or max(xs) < xlo or min(xs) > xhi:
            return
        g, self.g = self.g, self.g & ~(0x1800 | 0x38 | 0x2000)
        for r in range(max(min(ys), rlo), min(max(ys), rhi) + 1, max(self.penwidth, 1)):
            c = cross.get(r, [])
            if len(c) < 2:
                continue
            if len(c) & 1:
                c = c[:-1]
            c = sorted(c, key=lambda s: s[0])
            for (x0, z0), (x1, z1) in zip(c[0::2], c[1::2]):
                x0, x1 = max(x0, xlo), min(x1, xhi)
                if x0 <= x1:
                    self.vmove([x0, r, z0])
                    self.vline([x1, r, z1], colour)
        self.g = g


# ---- the records of each test -------------------------------------------------

def gen(name):
    r = []
    if name == 'lines':
        # every kind: point, horizontal, vertical, x-major rising and
        # falling, y-major rising, the steep falling line, a long line
        r += [(10, 10, 0, 2, 0, 0), (10, 10, 0, 3, 0, 11)]
        r += [(0, 20, 0, 2, 0, 0), (5, 20, 0, 1, 0, 12)]
        r += [(30, 5, 0, 2, 0, 0), (30, 40, 0, 1, 0, 13), (30, 60, 0, 2, 0, 0), (30, 45, 0, 1, 0, 14)]
        r += [(40, 10, 0, 2, 0, 0), (70, 20, 0, 1, 0, 15), (40, 40, 0, 2, 0, 0), (70, 31, 0, 1, 0, 16)]
        r += [(80, 5, 0, 2, 0, 0), (90, 45, 0, 1, 0, 17)]
        r += [(105, 0, 0, 2, 0, 0), (100, 10, 0, 1, 0, 18), (120, 50, 0, 2, 0, 0), (110, 10, 0, 1, 0, 19)]
        r += [(0, 355, 0, 2, 0, 0), (1023, 0, 0, 1, 0, 20)]
        # a polyline, and relative records from its end
        r += [(200, 100, 0, 2, 0, 0), (260, 120, 0, 1, 0, 21), (250, 180, 0, 1, 0, 22), (200, 100, 0, 1, 0, 23)]
        r += [(10, -5, 0, 4, 0, 24), (-3, 17, 0, 4, 0, 25), (5, 5, 0, 5, 0, 0), (0, 0, 0, 6, 0, 26)]
        # clipped at each edge of the box, and wholly outside it
        r += [(-20, 300, 0, 2, 0, 0), (40, 280, 0, 1, 0, 27)]
        r += [(500, -30, 0, 2, 0, 0), (520, 30, 0, 1, 0, 28)]
        r += [(990, 200, 0, 2, 0, 0), (1100, 230, 0, 1, 0, 29)]
        r += [(700, 300, 0, 2, 0, 0), (760, 420, 0, 1, 0, 30)]
        r += [(600, 200, -1200, 2, 0, 0), (640, 210, 50, 1, 0, 31)]
        r += [(-50, -50, 0, 2, 0, 0), (-10, 600, 0, 1, 0, 32), (1100, 10, 0, 1, 0, 33)]
        rnd = random.Random(340)
        for i in range(300):
            r += [(rnd.randrange(-40, 1070), rnd.randrange(-40, 400), 0, 2, 0, 0),
                  (rnd.randrange(-40, 1070), rnd.randrange(-40, 400), 0, 1, 0, rnd.randrange(1, 256))]
    elif name == 'ellipses':
        for (cx, cy, w, h, fill, col) in [(60, 60, 80, 40, 1, 50), (200, 60, 40, 90, 1, 60), (300, 60, 1, 1, 1, 70),
                                          (350, 60, 3, 2, 0, 80), (420, 80, 100, 60, 0, 90), (600, 100, 200, 20, 1, 100),
                                          (700, 50, 2, 80, 1, 110), (800, 200, 301, 151, 0, 120),
                                          (10, 200, 40, 20, 1, 130),    # crosses the left edge: refused
                                          (100, 5, 20, 20, 1, 140),     # crosses the top edge: refused
                                          (900, 300, 60, 30, 1, 150)]:
            r += [(cx, cy, 0, 2, 0, 0), (w, h, fill, 10, 0, col)]
        # an ellipse right after another one is a move; dots of width 1 and 5
        r += [(50, 300, 0, 2, 0, 0), (20, 20, 1, 10, 0, 160), (30, 30, 1, 10, 0, 170)]
        r += [(500, 300, 0, 3, 0, 180), (520, 300, 0, 3, 5, 190), (540, 300, 0, 3, 9, 200)]
    elif name == 'depth':
        # crossing lines at different depths, drawn far ones last
        r += [(10, 20, 100, 2, 0, 0), (110, 20, 100, 1, 0, 200)]       # near, horizontal
        r += [(10, 25, 10, 2, 0, 0), (110, 15, 10, 1, 0, 100)]         # far, crosses it
        r += [(60, 0, -50, 2, 0, 0), (60, 40, 400, 1, 0, 150)]         # vertical, deep to near
        r += [(0, 30, 20, 2, 0, 0), (120, 30, -20, 1, 0, 120)]         # falling depth, horizontal
        r += [(5, 5, 600, 2, 0, 0), (115, 38, 600, 1, 0, 90)]          # beyond the 8-bit range
        r += [(5, 38, 30, 2, 0, 0), (115, 5, 30, 1, 0, 0)]             # value 0 draws nothing
        r += [(20, 10, 100, 2, 0, 0), (100, 10, 100, 1, 0, 60)]        # equal depth draws
        r += [(20, 10, 99, 2, 0, 0), (100, 10, 99, 1, 0, 70)]          # below it does not
    elif name == 'window':
        r += [(20, 20, 0, 2, 0, 0), (300, 60, 0, 1, 0, 200), (40, 180, 0, 1, 0, 200), (20, 20, 0, 1, 0, 200)]
        r += [(500, 30, 0, 2, 0, 0), (505, 150, 0, 1, 0, 28), (600, 150, 0, 1, 0, 28)]
    elif name == 'text':
        def text(x, y, t, size, angle, col):
            b = t.encode() + b'\0' * (-len(t) % 6)
            out = [(x, y, 0, 2, 0, 0), (len(t), size, angle, 8, 0, col)]
            for k in range(0, len(b), 6):
                out.append(struct.unpack('<hhh', b[k:k + 6]) + (8, 0, col))
            return out
        r += text(100, 50, 'AB7', 10, 0, 10)
        r += text(300, 50, 'AB7', -20, 0, 20)
        r += text(100, 150, 'AB7', 10, 45, 30)
        r += text(300, 150, 'AB7', 10, 90, 40)
        r += text(500, 150, 'AB7', 0, 0, 50)
        r += text(500, 50, 'Longer text', 10, 0, 60)
        # a header that promises more text than follows
        r += [(600, 250, 0, 2, 0, 0), (10, 10, 0, 8, 0, 70), (0x4241, 0x4443, 0x4645, 8, 0, 70), (5, 5, 0, 1, 0, 80)]
    elif name == 'fills':
        def poly(pts, col, open_=-1, rel=False, param=None):
            out, p0 = [], pts[0]
            out.append((p0[0], p0[1], 0, 2, 0, 0))
            for k, q in enumerate(pts[1:]):
                if q is None:                       # a new contour
                    continue
                if k + 1 < len(pts) and pts[k] is None:
                    out.append((q[0], q[1], 0, 2, 0, 0))
                elif rel:
                    out.append((q[0] - pts[k][0], q[1] - pts[k][1], 0, 4, 0, col))
                else:
                    out.append((q[0], q[1], 0, 1, 0, col))
            n = len(out)
            out.append((-n, n, open_, 12, 0, col))
            out.append(param if param else (0, 0, 20, 7, 0, 0))
            out.append((2, 0, 0, 15, 0, 0))
            return out
        r += poly([(20, 20), (90, 30), (70, 90), (10, 60)], 50)                  # convex
        r += poly([(120, 20), (200, 20), (200, 90), (160, 50), (120, 90)], 60)   # concave
        star = [(300 + round(60 * math.cos(math.radians(90 + 144 * k))),
                 60 + round(50 * math.sin(math.radians(90 + 144 * k)))) for k in range(5)]
        r += poly(star, 70)                                                      # pentagram: hollow centre
        r += poly([(400, 10), (500, 10), (500, 100), (400, 100), None, (430, 40), (470, 40), (450, 80)], 80)
        r += poly([(540, 10), (600, 10), (570, 40), None, (540, 70), (600, 70), (570, 110)], 90)  # stacked
        r += poly([(-40, 150), (60, 130), (30, 250), (-30, 420)], 100)           # past the left and bottom
        r += poly([(990, 200), (1100, 170), (1060, 300)], 110)                  # past the right edge
        r += poly([(-90, -90), (-10, -80), (-50, -10)], 120)                     # wholly outside
        r += poly([(120, 150), (150, 200), (180, 150), (210, 200), (240, 150)], 130, open_=1)  # open
        r += poly([(300, 150), (380, 150), (380, 230), (300, 230)], 140, rel=True)           # relative
        r += poly([(420, 150), (520, 160), (470, 240)], 150, param=(1, 2, -3, 7, 1, 155))  # param's colour
        r += poly([(560, 150), (600, 150), (600, 150), (580, 150)], 160)         # flat: the outline only
        # tiles: three points and tiles of them; a tile facing away draws
        # nothing, unless its parameter is in force (then in its colour)
        r += [(650, 150, 0, 2, 0, 0), (750, 160, 0, 1, 0, 0), (700, 250, 0, 1, 0, 0), (2, 0, 0, 15, 0, 0)]
        t = len(r)
        r += [(-4, -3, -2, 11, 0, 170), (0, 0, 20, 7, 0, 0)]
        r += [(-6, -5, -4, 11, 0, 180), (0, 0, -20, 7, 0, 0)]
        r += [(780, 150, 0, 2, 0, 0), (860, 160, 0, 4, 0, 0), (-30, 80, 0, 4, 0, 0), (2, 0, 0, 15, 0, 0)]
        r += [(-4, -3, -2, 11, 0, 190), (0, 0, -20, 7, 1, 195)]
        # an end record that skips the object after it
        r += [(18, 4, 0, 15, 0, 0), (880, 150, 0, 2, 0, 0), (1000, 250, 0, 1, 0, 250), (2, 0, 0, 15, 0, 0)]
        assert t > 0
    elif name == 'randfills':
        # random fills: stars, self-crossing outlines, two contours, open
        # runs, partly or wholly beyond the box, at depths; their lines
        # mostly in the fill's own colour (the fill need not draw those
        # again), now and then a point in another
        rnd = random.Random(52)
        for i in range(160):
            col = rnd.randrange(1, 256)
            kind = i % 4
            cx, cy = rnd.randrange(-40, 1064), rnd.randrange(-40, 396)
            if kind == 0:
                r1, r0 = rnd.randrange(8, 40), rnd.randrange(2, 12)
                pts = [(cx + round((r1 if k % 2 == 0 else r0) * math.cos(math.pi * k / 5)),
                        cy + round((r1 if k % 2 == 0 else r0) * math.sin(math.pi * k / 5))) for k in range(10)]
            elif kind == 1:
                pts = [(cx + rnd.randrange(-60, 61), cy + rnd.randrange(-60, 61)) for _ in range(rnd.randrange(3, 13))]
            elif kind == 2:
                pts = [(cx + rnd.randrange(-50, 51), cy + rnd.randrange(-50, 51)) for _ in range(rnd.randrange(3, 7))]
                pts.append(None)
                pts += [(cx + rnd.randrange(-50, 51), cy + rnd.randrange(-50, 51)) for _ in range(rnd.randrange(3, 7))]
            else:
                pts = [(cx + rnd.randrange(-300, 301), cy + rnd.randrange(-30, 31)) for _ in range(rnd.randrange(3, 6))]
            z = 0 if i % 3 else rnd.randrange(-500, 500)
            lc = col if i % 5 else rnd.randrange(1, 256)
            r.append((pts[0][0], pts[0][1], z, 2, 0, 0))
            for k in range(1, len(pts)):
                if pts[k] is None:
                    continue
                code = 2 if pts[k - 1] is None else 1
                c = lc if rnd.randrange(12) else lc ^ 1
                r.append((pts[k][0], pts[k][1], z + (rnd.randrange(-9, 10) if i % 6 == 0 else 0), code, 0, c))
            n = sum(1 for q in pts if q is not None)
            r.append((-n, n, 1 if i % 7 == 3 else -1, 12, 0, col))
            r.append((0, 0, 20, 7, 0, 0))
            r.append((2, 0, 0, 15, 0, 0))
    elif name == 'big':
        # 1300 records: more than one block of the list
        r += [(i % 1000, i // 4, i % 7, 2 if i % 2 == 0 else 1, i % 3, i % 256) for i in range(1300)]
    elif name == 'shapes':
        # a closed square of side 10, an open bend, a closed triangle
        r += [(2, 0, 0, 15, 0, 0), (100, 100, 0, 2, 0, 0), (110, 100, 0, 1, 0, 9), (110, 110, 0, 1, 0, 9),
              (100, 110, 0, 1, 0, 9), (100, 100, 0, 1, 0, 9), (2, 0, 0, 15, 0, 0)]
        r += [(200, 100, 0, 2, 0, 0), (230, 100, 0, 1, 0, 9), (230, 140, 0, 1, 0, 9), (2, 0, 0, 15, 0, 0)]
        r += [(300, 100, 0, 2, 0, 0), (300, 130, 0, 1, 0, 9), (340, 100, 0, 1, 0, 9), (302, 98, 0, 1, 0, 9),
              (2, 0, 0, 15, 0, 0)]
    elif name == 'rings':
        # two rings and an apex, each after an end record: a surface's outlines
        for (rad, z, n) in ((100, 0, 12), (50, 60, 8), (0, 120, 1)):
            r.append((2, 0, 0, 15, 0, 0))
            for k in range(n + (1 if n > 1 else 0)):
                a = 2 * math.pi * (k % n) / n
                r.append((300 + round(rad * math.cos(a)), 170 + round(rad * math.sin(a) * 0.8), z,
                          2 if k == 0 else 1, 0, 40))
        r.append((2, 0, 0, 15, 0, 0))
    else:
        raise SystemExit('unknown test ' + name)
    return r


def loadimg(name, w, h, bits):
    """A raw image file, or an uncompressed TIFF's strips, as int64 rows."""
    d = open(name, 'rb').read()
    if d[:4] == b'II*\x00':
        n = struct.unpack_from('<H', d, 8)[0]
        tags = {}
        for i in range(n):
            t, ty, c, v = struct.unpack_from('<HHII', d, 10 + 12 * i)
            tags[t] = (ty, c, v & 0xFFFF if ty == 3 and c == 1 else v)
        (_, ns, off), (_, _, cnt) = tags[273], tags[279]
        if ns == 1:
            offs, cnts = [off], [cnt]
        else:
            offs = struct.unpack_from('<%dI' % ns, d, off)
            cnts = struct.unpack_from('<%dI' % ns, d, cnt)
        d = b''.join(d[o:o + c] for o, c in zip(offs, cnts))
    dt = {8: np.uint8, 16: np.int16, 32: np.int32}[bits]
    return np.frombuffer(d, dt)[:w * h].reshape(h, w).astype(np.int64)


def same(name, got, model, bits, what):
    """Fails unless the image read back holds the model's items."""
    want = model & ((1 << bits) - 1)
    if bits == 16:
        want = np.where(want >= 0x8000, want - 0x10000, want)
    bad = np.argwhere(got != want)
    if len(bad):
        y, x = bad[0]
        raise SystemExit('%s: %d %s differ from the model, the first at (%d, %d): %d, model %d'
                         % (name, len(bad), what, x, y, got[y, x], want[y, x]))


def main():
    if sys.argv[1] == 'gen':
        writevec(sys.argv[3], gen(sys.argv[2]))
        return
    if sys.argv[1] != 'check':
        raise SystemExit(__doc__)
    raw, w, h, bits, vec = sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5]), sys.argv[6]
    opt = dict(a.split('=', 1) for a in sys.argv[7:])
    got = loadimg(raw, w, h, bits)
    base = None
    if 'base' in opt:
        f, b = opt['base'].split(':')
        base = loadimg(f, w, h, int(b))
    zimg, zbits = None, 16
    if 'zimage' in opt:
        zbits = int(opt['zimage'])
        zimg = np.full((h, w), int(opt.get('zinit', '0')), np.int64)
    m = Model(w, h, bits, int(opt.get('gflags', '0'), 0), zimg, zbits, base)
    if 'win' in opt:
        m.ox, m.oy = map(int, opt['win'].split(','))
        m.ww, m.wh = w - m.ox, h - m.oy
    m.penwidth = int(opt.get('penwidth', '1'))
    passes = int(opt.get('passes', '1'))
    for _ in range(passes):
        m.redraw(readvec(vec))
    same(raw, got, m.img, bits, 'pixels')
    if 'zout' in opt:
        same(opt['zout'], loadimg(opt['zout'], w, h, zbits), m.z, zbits, 'depths')
    print('%s: %d pixels as the model draws them (%d set)' % (raw, w * h, int((got != 0).sum())))


if __name__ == '__main__':
    main()
