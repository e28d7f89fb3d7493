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
s += [('o5 = map(b5)', [mkerr(47, 0, 'Too few operands')])]
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
# strings: the equal entry wins over an earlier abbreviation
s += [('declare string list sl(3)', []), ('sl(0) = "abc"', []), ('sl(1) = "ab"', []), ('sl(2) = "  xyz"', []),
      ('declare integer w1', [])]
for k, r in (('ab', 1), ('a', 0), ('xy', 2), ('q', -1)):
    s += [('w1 = index("%s", sl)' % k, []), ('w1', ['%7d' % r])]
s += [('w1 = index(5, sl)', [mkerr(184, 2, 'Operand must be a string')])]
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
write('colour_rgb', s)
