#!/usr/bin/python3
# Writes the colour_*.pelix and xform_*.pelix session scripts and their
# expected transcripts. The expected values are computed here with numpy,
# from the rules of each operation, independently of the program.
import os
import numpy as np
D = os.path.dirname(os.path.abspath(__file__)) + '/'
f32 = np.float32


def write(name, script):
    inp, out = [], []
    for line, res in script:
        inp.append(line)
        out.append('PELIX> ' + line)
        out.extend(res)
    open(D + name + '.pelix', 'w').write('\n'.join(inp) + '\n')
    open(D + name + '.out', 'w').write('\n'.join(out) + '\n')


def row(vals, fmt='%d'):
    return [fmt % v for v in vals]


def lut(n, i0, i1, o0, o1, s=1, mask=-1):
    # The lookup-table rule: ramp between the limits, clipped to the table.
    t = np.zeros(n, np.int64)
    di = i1 - i0 + 1
    if di < 1: di = i1 - i0 - 1
    do = o1 - o0 + 1
    if do < 1: do = o1 - o0 - 1
    g = f32(do) / f32(di)
    if g < 0 and do > 0: o0, o1 = o1, o0
    if di < 0: i0, i1 = i1, i0
    for c in range(s):
        if not (mask >> c) & 1: continue
        for k in range(n):
            v = o0 if k < i0 else (o1 if k > i1 else int(f32(o0) + f32(k - i0) * g))
            if 0 <= k * s + c < n: t[k * s + c] = v
    return t


def mkerr(code, arg, text):
    return 'ERROR %3d%s: %s' % (code, ' (arg %d)' % arg if arg else '', text)


# ---- maklut, map, index -------------------------------------------------
s = []
s += [('declare integer array lt(256)', [])]
t = lut(256, 0, 255, 0, 256)
s += [('lt = maklut(256)', []), ('ftype "%d %d %d %d\\n" lt(0) lt(1) lt(128) lt(255)', [' '.join(row(t[[0, 1, 128, 255]]))])]
t = lut(256, 0, 255, 200, 50)
s += [('lt = maklut(256, 200, 49)', []), ('ftype "%d %d %d %d\\n" lt(0) lt(1) lt(128) lt(255)', [' '.join(row(t[[0, 1, 128, 255]]))])]
s += [('declare integer array l10(10)', [])]
t = lut(10, 0, 9, 0, 10, 3)
s += [('l10 = maklut(10, 0, 9, 3)', []), ('ftype "%d\\n" l10', row(t))]
# map: bytes through a 256-entry byte table
src = np.array([0, 1, 100, 200, 255])
tb = 255 - np.arange(256)
s += [('declare byte array b5(5)', []), ('b5 = {0, 1, 100, 200, 255}', []),
      ('declare byte array tb(256)', []), ('tb = ramp(256, 255, 0, -1)', []),
      ('declare byte array o5(5)', []), ('o5 = map(b5, tb)', []), ('ftype "%d\\n" o5', row(tb[src]))]
# 16-bit values shifted by 4 through a 100-entry table: beyond the end the last entry
v16 = np.array([0, 16, 800, 1599, 1600, 30000, -5])
t16 = np.arange(100) * 3 + 7
m = t16[np.clip(v16 >> 4, 0, 99)]
s += [('declare integer array v7(7)', []), ('v7 = {0, 16, 800, 1599, 1600, 30000, -5}', []),
      ('declare integer array t100(100)', []), ('t100 = ramp(100, 7, -999, 3)', []),
      ('declare integer array m7(7)', []), ('m7 = map(v7, t100, 4)', []), ('ftype "%d\\n" m7', row(m))]
# a float table: table[i] / 2^shift, 0 outside
ft = np.array([10, 20, 30, 40], np.float32)
ix = [0, 1, 3, 4, 200]
fo = [ft[i] / 2 if 0 <= i < 4 else 0 for i in ix]
s += [('declare real array zft(4)', []), ('zft = {10, 20, 30, 40}', []), ('b5 = {0, 1, 3, 4, 200}', []),
      ('declare real array zfo(5)', []), ('zfo = map(b5, zft, 1)', []), ('ftype "%5.1f\\n" zfo', row(fo, "%5.1f"))]
s += [('o5 = map(b5)', [mkerr(47, 0, 'Too few operands')]), ('ftype "%d\\n" o5', row(tb[src]))]
# a table the size of an array argument; no size at all
s += [('declare integer array qq(5)', []), ('qq = maklut(qq)', []), ('ftype "%d\\n" qq', row(lut(5, 0, 4, 0, 5))),
      ('qq = maklut(3, 0, 90)', []), ('ftype "%d\\n" qq', row(lut(3, 0, 2, 0, 91))),
      ('ftype "%d\\n" maklut(0)', [mkerr(77, 0, 'Result count unknown')])]
# index
tab = [1, 3, 5, 7]
def lin(x, d):
    for p, v in enumerate(tab):
        r = (v > x) - (v < x)
        if r == 0 or (d > 0 and r > 0) or (d < 0 and r < 0): return p
    return -1
keys = [5, 4, 7, 0, 9]
s += [('declare integer array q4(4)', []), ('q4 = {1, 3, 5, 7}', []),
      ('declare integer array kyz(5)', []), ('kyz = {5, 4, 7, 0, 9}', []), ('declare integer array zr5(5)', [])]
for d in (0, 1, -1):
    s += [('zr5 = index(kyz, q4, %d)' % d, []), ('ftype "%d\\n" zr5', row([lin(x, d) for x in keys]))]
# binary search finds every key of a small sorted table
tab7 = list(range(2, 16, 2))
s += [('declare integer array tsev(7)', []), ('tsev = ramp(7, 2, -999, 2)', []),
      ('declare integer array zr7(7)', []), ('zr7 = index(tsev, tsev, 0, 1)', []), ('ftype "%d\\n" zr7', row(range(7)))]
s += [('zr7 = index(tsev + 1, tsev, 1, 1)', []), ('ftype "%d\\n" zr7', row([i + 1 if i + 1 < 7 else -1 for i in range(7)]))]
# search flags: 4 skips zero entries (and the leading ones not above 0),
# 2 goes on from the previous hit, 8 matches the keys as a sequence
tz = [0, 0, 3, 0, 5, 8, 5]
def first(tab, x, start=0, skipzero=False):
    for p in range(start, len(tab)):
        if skipzero and tab[p] == 0: continue
        if tab[p] == x: return p
    return -1
s += [('declare integer array tz(7)', []), ('tz = {0, 0, 3, 0, 5, 8, 5}', []),
      ('declare integer array kz(2)', []), ('kz = {5, 3}', []), ('declare integer array rz(2)', []),
      ('rz = index(kz, tz, 0, 4)', []), ('ftype "%d\\n" rz', row([first(tz, 5, 2, True), first(tz, 3, 2, True)])),
      ('rz = index(kz, tz, 0, 2)', []), ('ftype "%d\\n" rz', row([4, first(tz, 3, 4)])),
      ('kz = {5, 8}', []), ('rz = index(kz, tz, 0, 8)', []), ('ftype "%d\\n" rz(0)', ['4'])]
# binary search through an ordering array: positions in the table itself
to = [30, 10, 20]
order = sorted(range(3), key=lambda i: to[i])
def bsrch(x, d):
    srt = [to[i] for i in order]
    if x in srt: return order[srt.index(x)]
    if d > 0:
        up = [i for i, v in enumerate(srt) if v > x]
        return order[up[0]] if up else -1
    return -1
s += [('declare integer array to3(3)', []), ('to3 = {30, 10, 20}', []), ('declare integer array or3(3)', []),
      ('or3 = {%d, %d, %d}' % tuple(order), []), ('declare integer array kz4(4)', []), ('kz4 = {20, 10, 25, 30}', []),
      ('declare integer array zr4(4)', []), ('zr4 = index(kz4, to3, 0, or3)', []),
      ('ftype "%d\\n" zr4', row([bsrch(x, 0) for x in (20, 10, 25, 30)])),
      ('zr4 = index(kz4, to3, 1, or3)', []), ('ftype "%d\\n" zr4', row([bsrch(x, 1) for x in (20, 10, 25, 30)])),
      ('declare integer array or2(2)', []), ('zr4 = index(kz4, to3, 0, or2)', [mkerr(82, 5, 'Array holds too few items')])]
# strings: the equal entry wins over an earlier abbreviation
s += [('declare string list sl(3)', []), ('sl(0) = "abc"', []), ('sl(1) = "ab"', []), ('sl(2) = "  xyz"', []),
      ('declare integer w1', [])]
for k, r in (('ab', 1), ('a', 0), ('xy', 2), ('q', -1)):
    s += [('w1 = index("%s", sl)' % k, []), ('w1', ['%7d' % r])]
s += [('w1 = index(5, sl)', [mkerr(184, 2, 'Operand must be a string')]),
      ('zr5 = index(kyz)', [mkerr(47, 0, 'Too few operands')]), ('ftype "%d\\n" zr5', row([lin(x, -1) for x in keys]))]
write('colour_map', s)

# ---- rgb, color, stretch ------------------------------------------------
def hx(b):  # a 24-bit item as ftype shows it: bytes 1, 2, 3 high to low
    return '%X' % ((int(b[2]) << 16) | (int(b[1]) << 8) | int(b[0]))

def cube():
    p = np.zeros((256, 3), np.int64)
    for i in range(256):
        p[i] = [(i & 0xE0) | 0x1F if i & 0xE0 else 0, ((i & 0x1C) << 3) | 0x1F if i & 0x1C else 0,
                ((i & 3) << 6) | 0x3F if i & 3 else 0]
    return p

def near(pal, c):
    return int(np.argmin(((pal - np.array(c)) ** 2).sum(1)))

g = np.array([0, 85, 170, 255])
s = [('declare byte image zg(2,2)', []), ('zg = zg + ramp(4, 0, -999, 85)', []),
     ('declare rgb image zc(2,2)', []), ('zc = rgb(zg)', []), ('ftype "%x\\n" zc', [hx((v, v, v)) for v in g])]
pal = np.arange(768) % 256
s += [('declare byte array zpal(768)', []), ('zpal = ramp(768, 0, 255)', []), ('zc = rgb(zg, zpal)', []),
      ('ftype "%x\\n" zc', [hx(pal[3 * v:3 * v + 3]) for v in g]),
      ('declare byte array zshort(300)', []), ('zc = rgb(zg, zshort)', [mkerr(82, 3, 'Array holds too few items')])]
h = g // 5
i3 = np.minimum(g + 1, 255)
s += [('declare byte image zh(2,2)', []), ('zh = zg / 5', []), ('declare byte image zi(2,2)', []), ('zi = zg + 1', []),
      ('zc = rgb(zg, zh, zi)', []), ('ftype "%x\\n" zc', [hx((a, b, c)) for a, b, c in zip(g, h, i3)]),
      ('zc = rgb(zg, zh, zshort)', [mkerr(70, 4, 'Bad argument')])]
trip = [(a, b, c) for a, b, c in zip(g, h, i3)]
s += [('declare rgb image zd(2,2)', []), ('zd = rgb(zc, 123)', []), ('ftype "%x\\n" zd', [hx(t[::-1]) for t in trip]),
      ('zd = rgb(zc, 321)', []), ('ftype "%x\\n" zd', [hx(t) for t in trip]),
      ('zd = rgb(zc, 124)', [mkerr(109, 3, 'Bad argument kind')])]
# packed 16-bit: 5 bits per channel, first colour in the low bits
p16 = np.array([32767, 31767, 30767, 29767])
def unpack(v, k):
    m = (1 << k) - 1
    return [((v & m) << (8 - k)) & 255, (((v >> k) & m) << (8 - k)) & 255, (((v >> 2 * k) & m) << (8 - k)) & 255]
s += [('declare integer image zw(2,2)', []), ('zw = zw + ramp(4, 32767, -999, -1000)', []),
      ('zc = rgb(zw, zw, 5)', []), ('ftype "%x\\n" zc', [hx(unpack(v, 5)) for v in p16])]
k6 = [(t[0] >> 2) | ((t[1] >> 2) << 6) | ((t[2] >> 2) << 12) for t in (unpack(v, 5) for v in p16)]
k6 = [(v & 0xFFFF) - 65536 if (v & 0xFFFF) > 32767 else v & 0xFFFF for v in k6]
s += [('zw = rgb(zc, 6)', []), ('ftype "%d\\n" zw', [str(v) for v in k6])]
# 16 to 32 bits with one operand: 5-6-5 colour
w16 = np.array(k6) & 0xFFFF
e565 = ((w16 & 0xF800) << 8) | ((w16 & 0x7E0) << 5) | ((w16 & 0x1F) << 3)
s += [('declare long image zl(2,2)', []), ('zl = rgb(zw)', []), ('ftype "%d\\n" zl', [str(v) for v in e565])]
# color: nearest entry of the palette (the colour cube at start)
cb = cube()
tr = [(255, 0, 0), (0, 0, 255), (100, 100, 100), (12, 200, 90)]
s += [('declare byte matrix ztr(3,4)', []), ('ztr = ztr + {255, 0, 0, 0, 0, 255, 100, 100, 100, 12, 200, 90}', []),
      ('declare byte array zpx(4)', []), ('zpx = color(ztr)', []), ('ftype "%d\\n" zpx', [str(near(cb, c)) for c in tr]),
      ('zpx = color(zg, zh, zi)', []), ('ftype "%d\\n" zpx', [str(near(cb, c)) for c in trip]),
      ('zpx = color(zg, zh)', [mkerr(82, 4, 'Array holds too few items')])]
# bytes three to a pixel, as a source and as a destination
s += [('zc = rgb(ztr)', []), ('ftype "%x\\n" zc', [hx(t) for t in tr]),
      ('declare byte matrix zt3(3,4)', []), ('zt3 = rgb(zc)', []),
      ('ftype "%d\\n" zt3', [str(v) for t in tr for v in t])]
# stretch: palette entries through a table of input range 100 .. 200
pv = np.arange(1024) // 4
t = lut(256, 100, 200, 0, 255)
pal2 = np.array([[pv[4 * e + 1]] * 3 for e in np.clip(t, 0, 255)])
greys = [(v, v, v) for v in (0, 60, 130, 170, 250)]
s += [('declare integer array zpv(1024)', []), ('zpv = ramp(1024, 0, -999, 1, 4)', []),
      ('stretch zpv 0 255 100 200 0', []), ('declare byte matrix zgr(3,5)', []),
      ('zgr = zgr + {0,0,0,60,60,60,130,130,130,170,170,170,250,250,250}', []),
      ('declare byte array zpy(5)', []), ('zpy = color(zgr)', []), ('ftype "%d\\n" zpy', [str(near(pal2, c)) for c in greys])]
# a palette variable of 10 entries: table values past it name its last entry
pal3 = np.array([[min(e, 9)] * 3 for e in lut(256, 0, 255, 0, 255)])
s += [('declare integer array zpw(40)', []), ('zpw = ramp(40, 0, -999, 1, 4)', []),
      ('stretch zpw 0 255 0 255 0', []), ('zpy = color(zgr)', []), ('ftype "%d\\n" zpy', [str(near(pal3, c)) for c in greys]),
      ('stretch 5', [mkerr(85, 2, 'An array of palette entries is required')])]
# interactive: the headless pointer reports the cursor point (0, 0) at once,
# so one pass maps input 0 .. 0 over the palette entries
pal4 = np.array([[e] * 3 for e in lut(256, 0, 0, 0, 255)])
s += [('stretch zpv', []), ('zpy = color(zgr)', []), ('ftype "%d\\n" zpy', [str(near(pal4, c)) for c in greys])]
write('colour_rgb', s)

# ---- geometric transforms -----------------------------------------------
import math

def rotaxis(axis, ang):
    th = float(ang) * 0.017453293
    c, s_ = f32(math.cos(th)), f32(math.sin(th))
    if -1e-6 < c < 1e-6: c = f32(0)
    if -1e-6 < s_ < 1e-6: s_ = f32(0)
    m = np.zeros((3, 3), np.float32)
    for i in range(3):
        for j in range(3):
            if i == j: m[i, j] = 1 if i == axis else c
            elif i != axis and j != axis: m[i, j] = s_ if i != (j + 1) % 3 else -s_
    return m

def mulmat(a, b):  # b x a, summed from the last term down, in float32
    o = np.zeros((3, 3), np.float32)
    for i in range(3):
        for j in range(3):
            acc = f32(0)
            for k in (2, 1, 0): acc = f32(acc + f32(b[i, k] * a[k, j]))
            o[i, j] = acc
    return o

def setrot(order, ang):
    m = rotaxis(order & 3, ang[order & 3])
    for f in (1, 2):
        a = (order >> (2 * f)) & 3
        m = mulmat(m, rotaxis(a, ang[a]))
    return m

def xform(src, dshape, fill, pin=(0, 0, 0), off=(0, 0, 0), scale=None, rot=None, order=6):
    # src: rows of the image (ny, nx); dshape (ny, nx). The inverse map of
    # each destination point, truncated toward zero and tested against the
    # source window.
    ny, nx = src.shape
    m = None
    if rot is not None:
        inv = (order & 0xC) | ((order << 4) & 0x30) | ((order >> 4) & 3)
        m = setrot(inv, rot)
    out = np.zeros(dshape, np.int64)
    for y in range(dshape[0]):
        for x in range(dshape[1]):
            q = [f32(f32(f32(v) - pin[i]) - off[i]) for i, v in enumerate((x, y, 0))]
            if scale is not None: q = [f32(q[i] / f32(scale[i])) for i in range(3)]
            if m is not None:
                q = [f32(f32(f32(q[0] * m[0, i]) + f32(q[1] * m[1, i])) + f32(q[2] * m[2, i])) for i in range(3)]
            p = [int(f32(f32(f32(pin[i]) + q[i]) + f32(0.5))) for i in range(3)]
            out[y, x] = src[p[1], p[0]] if 0 <= p[0] < nx and 0 <= p[1] < ny and p[2] == 0 else fill
    return out

def lines(a):
    return [str(v) for v in a.ravel()]

img = np.arange(1, 26).reshape(5, 5)
r90 = xform(img, (5, 5), 0, pin=(2, 2, 0), rot=(0, 0, 90))
assert (r90 == np.rot90(img, 1)).all()   # a 90-degree turn about the centre
s = [('declare byte image zim(5,5)', []), ('zim = zim + ramp(25, 1)', []),
     ('pin zim 2 2 0', []), ('rotate zim 0 0 90', []), ('declare byte image zout(5,5)', []),
     ('zout = transform(zim)', []), ('ftype "%d\\n" zout', lines(r90))]
# two axes: the inverse mapping swaps the first and last fields of the order
a2 = xform(img, (5, 5), 9, pin=(2, 2, 0), rot=(180, 0, 90), order=6)
b2 = xform(img, (5, 5), 9, pin=(2, 2, 0), rot=(180, 0, 90), order=36)
assert not (a2 == b2).all()
s += [('rotate zim 180 0 90', []), ('zout = transform(zim, 9)', []), ('ftype "%d\\n" zout', lines(a2)),
      ('rotate zim 180 0 90 36', []), ('zout = transform(zim, 9)', []), ('ftype "%d\\n" zout', lines(b2)),
      ('zout = transform(zim, 9, zim)', []), ('ftype "%d\\n" zout', lines(b2))]
# angles back to 0 clear the rotation: a plain copy
s += [('rotate zim 0 0 0', []), ('pin zim 0 0 0', []), ('zout = transform(zim, 9)', []),
      ('ftype "%d\\n" zout', lines(img))]
# scale 2 into a new result of twice the size: nearest source pixel
sm = np.arange(1, 7).reshape(2, 3)
sc = xform(sm, (4, 6), 99, scale=(2, 2, 1))
assert (sc == np.repeat(np.repeat(sm, 2, 0), 2, 1)[:4, :6] * 0 + sc).all()
s += [('declare byte image zsm(3,2)', []), ('zsm = zsm + ramp(6, 1)', []), ('scale zsm 2 2 1', []),
      ('ftype "%d\\n" transform(zsm, 99)', lines(sc))]
# an offset into a larger destination: the fill where the source ends
of = xform(sm, (3, 4), 7, off=(1, 0, 0))
s += [('scale zsm 1 1 1', []), ('offset zsm 1 0 0', []), ('declare byte image zbg(4,3)', []),
      ('zbg = transform(zsm, 7)', []), ('ftype "%d\\n" zbg', lines(of))]
# interactive entry: the headless pointer clicks at the cursor point, so
# a scale from equal clicks leaves the factors, a pin lands on the cursor
s += [('scale zsm 2 2 1', []), ('scale zsm', []), ('offset zsm 0 0 0', []),
      ('ftype "%d\\n" transform(zsm, 99)', lines(sc)),
      ('pin zsm 5 5 0', []), ('pin zsm', []), ('ftype "%d\\n" transform(zsm, 99)', lines(sc))]
# errors
s += [('declare integer image zi16(5,5)', []), ('zi16 = transform(zim)', [mkerr(127, 1, 'Data types do not fit')]),
      ('rotate zim 10 0 0 3', [mkerr(109, 6, 'Bad argument kind')]),
      ('freeze zim', [mkerr(109, 2, 'Bad argument kind')])]
# a vector variable is a direct target: its point is rewritten at once
def vfmt(x, y, z, code):
    return '%8d%7d%7d%4d%3d%4d' % (x, y, z, code, 0, 0)
p = [3, 4, 5]
p1 = [int(f32(p[0]) * f32(2)), int(f32(p[1]) * f32(3)), int(f32(p[2]) * f32(1))]
m = setrot(6, (0, 0, 90))
p2 = [int(f32(f32(f32(p1[0]) * m[0, i]) + f32(f32(p1[1]) * m[1, i])) + f32(f32(p1[2]) * m[2, i])) for i in range(3)]
s += [('declare vector zv', []), ('zv = {3, 4, 5}', []), ('zv(3) = 1', []),
      ('scale zv 2 3 1', []), ('ftype "%v\\n" zv', [vfmt(*p1, 1)]),
      ('rotate zv 0 0 90', []), ('ftype "%v\\n" zv', [vfmt(*p2, 1)]),
      ('pin zim zv', []), ('ftype "%d\\n" transform(zim, 0)', lines(xform(img, (5, 5), 0, pin=p2)))]
# zscan: points of the elements above the threshold into the vector list
zs = np.array([[0, 5, 6], [7, 0, 9]])
def zscan(a, mode=1, colour=-1, thr=0, width=1):
    recs = []
    for y in range(a.shape[0]):
        gap = True
        for x in range(a.shape[1]):
            v = int(a[y, x])
            if v <= thr:
                gap = True
                continue
            c = colour if colour >= 0 else v
            if mode == 1: recs.append((x, y, v, 2 if gap or not recs else 1, width, c))
            elif mode == 2: recs += [(x, y, 0, 2, width, c), (x, y, v, 1, width, c)]
            else: recs.append((x, y, v, 3, width, c))
            gap = False
    return recs
def vrec(r): return '%8d%7d%7d%4d%3d%4d' % r
r1 = zscan(zs)
m = setrot(6, (0, 0, 90))
def rot(r):
    v = [int(f32(f32(f32(r[0]) * m[0, i]) + f32(f32(r[1]) * m[1, i])) + f32(f32(r[2]) * m[2, i])) for i in range(3)]
    return (v[0], v[1], v[2]) + r[3:]
r2 = [rot(r) for r in r1]
r3 = zscan(zs, 0, 4, 5)
s += [('declare byte image gz(3,2)', []), ('gz = gz + {0, 5, 6, 7, 0, 9}', []),
      ('zscan gz', []), ('nvecs', ['%12.3f' % len(r1)]), ('ftype "%v\\n" vecs', [vrec(r) for r in r1]),
      ('rotate 0 0 90', []), ('freeze vecs', []), ('ftype "%v\\n" vecs', [vrec(r) for r in r2]),
      ('zscan gz 2 -1 0', []), ('nvecs', ['%12.3f' % len(r1)]),
      ('zscan gz 0 4 1 5', []), ('ftype "%v\\n" vecs', [vrec(r) for r in r2 + r3]),
      ('declare real image zfl(2,2)', []), ('zscan zfl', [mkerr(122, 2, 'Not allowed on vectors or float arrays')]),
      ('zscan', [mkerr(70, 2, 'Bad argument')])]
write('xform', s)
