# Writes the img_*.pelix session scripts and their expected transcripts.
# The expected values are computed here with numpy (float32 where the
# program keeps floats), from the operations' definitions: edge-replicated
# windows, running means over the values that exist, numpy's FFT, and so on.
# Run with the Debian python (/usr/bin/python3, python3-numpy).
import math, os
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


def load(name, a, kind='byte', tmp='t0'):
    """Declares an image and fills it row by row (a brace list per row)."""
    a = np.asarray(a)
    h, w = a.shape
    fmt = (lambda v: '%g' % v) if kind == 'real' else (lambda v: str(int(v)))
    s = [('declare %s image %s(%d,%d)' % (kind, name, w, h), []),
         ('declare %s array %s(%d)' % (kind, tmp, w), [])]
    for y in range(h):
        s += [('%s = {%s}' % (tmp, ', '.join(fmt(v) for v in a[y])), []),
              ('%s(0:%d, %d) = %s' % (name, w - 1, y, tmp), [])]
    return s


def show(name, a, fmt='%4i'):
    a = np.asarray(a)
    w = a.shape[1]
    rows = [''.join(fmt % v for v in r) for r in a]
    return ('ftype "%s\\n" %s' % (fmt * w, name), rows)


def err(code, arg, text):
    return ['ERROR %3d (arg %d): %s' % (code, arg, text)]


# --- convolve and filter --------------------------------------------------
def window(img, kw, kh, binar=None):
    hx, hy = (kw - 1) // 2, (kh - 1) // 2
    src = img.astype(np.int64)
    if binar is not None:
        src = (src >= binar).astype(np.int64)
    # kh - 1 - hy rows above, hy below; hx columns left, kw - 1 - hx right
    return np.pad(src, ((kh - 1 - hy, hy), (hx, kw - 1 - hx)), mode='edge'), hx, hy


def filt(img, kind, size=3, add=0, mn=0, mx=0, shift=0, tol=10, mask=None):
    kw = kh = 3 if kind == 8 else size
    binar = mx if kind in (6, 7, 9, 10) and mx >= 1 else None
    p, hx, hy = window(img, kw, kh, binar)
    h, w = img.shape
    n = kw * kh
    out = np.zeros((h, w), np.int64)
    for y in range(h):
        for x in range(w):
            win = p[y:y + kh, x:x + kw]
            v = win.ravel()
            c = int(win[hy, hx])
            if kind == 0: r = max(0, v.max())
            elif kind == 1: r = min(255, v.min())
            elif kind in (2, 4):
                s, q = f32(v.sum()), f32((v * v).sum())
                var = (q - s * s / f32(n)) / f32(n)
                sd = int(np.sqrt(var)) if var > 0 else 0
                if kind == 4: r = sd
                else:
                    lo, hi = max(v.min() - 2 * sd, 0), min(v.max() + 2 * sd, 255)
                    r = (c - v.min()) * (hi - lo + 1) // (v.max() - v.min() + 1) + lo
            elif kind == 3: r = v.sum() // n
            elif kind == 5: r = sorted(v)[n // 2]
            elif kind == 8:
                a, b, cc = win
                gy = (a[0] + 2 * a[1] + a[2]) - (cc[0] + 2 * cc[1] + cc[2])
                gx = (a[0] + 2 * b[0] + cc[0]) - (a[2] + 2 * b[2] + cc[2])
                r = int(math.sqrt(gx * gx + gy * gy))
            elif kind == 11:
                nz = v[v != 0]
                r = c if c else (int(nz.sum()) // len(nz) if len(nz) else 0)
            elif kind == 12:
                m = np.abs(c - v) <= tol
                m[hy * kw + hx] = True
                r = v[m].sum() // m.sum()
            else: r = c
            if mask is not None and mask[y, x] == 0: r = c
            out[y, x] = post(r, add, mn, mx, shift)
    return out


def post(r, add, mn, mx, shift):
    if shift > 0: r >>= shift
    r += add
    if mx and r > mx: r = mx
    return max(r, mn)


def convolve(img, k, add=0, mn=0, mx=0, shift=0, mask=None):
    kh, kw = k.shape
    p, hx, hy = window(img, kw, kh)
    h, w = img.shape
    out = np.zeros((h, w), np.int64)
    for y in range(h):
        for x in range(w):
            win = p[y:y + kh, x:x + kw]
            r = int((win * k).sum())
            if mask is not None and mask[y, x] == 0: r = int(win[hy, hx])
            out[y, x] = post(r, add, mn, mx, shift)
    return out


b8 = lambda a: np.clip(a, 0, 255)
rng = np.random.default_rng(18)
img = rng.integers(0, 256, (5, 6))
imp = np.zeros((5, 6), np.int64); imp[2, 3] = 90
hole = rng.integers(20, 60, (5, 6)); hole[2, 2] = 0; hole[0, 5] = 0
s = []
s += load('c7', np.full((5, 6), 7))
s += [('declare byte image o1(6,5)', []),
      ('o1 = filter(c7, 3, 3)', []), show('o1', filt(np.full((5, 6), 7), 3)),
      ('o1 = filter(c7, 3, 4)', []), show('o1', filt(np.full((5, 6), 7), 3, 4))]
s += load('i1', imp)
for kind, size in [(0, 3), (1, 3), (3, 3), (3, 2), (0, 4), (5, 3), (8, 3)]:
    s += [('o1 = filter(i1, %d, %d)' % (kind, size), []), show('o1', filt(imp, kind, size))]
s += load('g1', img)
for kind, size in [(2, 3), (4, 3), (5, 3), (12, 3)]:
    s += [('o1 = filter(g1, %d, %d)' % (kind, size), []), show('o1', b8(filt(img, kind, size)))]
s += [('o1 = filter(g1, 12, 3, 0, 0, 0, 0, 0, 40)', []), show('o1', filt(img, 12, tol=40)),
      ('o1 = filter(g1, 12, 3, 0, 0, 0, 0, 0, 0)', []), show('o1', filt(img, 12, tol=10)),
      ('o1 = filter(g1, 3, 1, 5, 20, 100, 1)', []), show('o1', filt(img, 3, 1, 5, 20, 100, 1)),
      ('o1 = filter(g1, 6, 3, 0, 0, 128)', []), show('o1', filt(img, 6, 3, 0, 0, 128))]
s += load('h1', hole)
s += [('o1 = filter(h1, 11, 3)', []), show('o1', filt(hole, 11))]
k3 = np.array([[1, 2, 1], [0, 0, 0], [-1, -2, -1]])
k32 = np.array([[1, -2, 3], [2, 0, 1]])
msk = np.ones((5, 6), np.int64); msk[1:3, 1:4] = 0
s += load('k1', k3, 'integer', 't1') + load('k2', k32, 'integer', 't2') + load('q1', msk, 'byte', 't3')
s += [('declare integer image o2(6,5)', []),
      ('o2 = convolve(g1, k1)', []), show('o2', convolve(img, k3), '%6i'),
      ('o1 = convolve(g1, k1, 128, 0, 255, 2)', []), show('o1', b8(convolve(img, k3, 128, 0, 255, 2))),
      ('o2 = convolve(g1, k2, 0, 0, 0, 0, q1)', []), show('o2', convolve(img, k32, mask=msk), '%6i'),
      ('declare real array f1(4)', []),
      ('o1 = filter(f1, 3)', err(113, 1, 'Source must be 8-bit')),
      ('o1 = filter(g1, 13)', err(109, 3, 'Bad argument kind')),
      ('o1 = filter(g1, 3, 0)', err(109, 3, 'Bad argument kind')),
      ('o1 = convolve(g1)', err(107, 3, 'Kernel missing'))]
write('img_filter', s)

# --- smooth and interpolate -----------------------------------------------
def smooth(v, w, f=0):
    v = np.asarray(v, np.float64)
    n = len(v)
    out = []
    for p in range(n):
        lo, hi = max(p - (w - 1) // 2, 0), min(p + w // 2, n - 1)
        m = v[lo:hi + 1].sum() / (hi - lo + 1)
        out.append(v[p] - m if f else m)
    return np.array(out)


ff = lambda a, p=3: ' '.join('%.*f' % (p, f32(x)) for x in a)
fl = lambda a, p=3: ('%.{}f '.format(p) * len(a)).rstrip()
x5 = [1, 2, 3, 4, 5]
r7 = [float(f32(round(v, 2))) for v in rng.random(9) * 20 - 5]
sb = rng.integers(0, 256, (4, 6))
s = [('declare real array x1(5)', []), ('x1 = {1, 2, 3, 4, 5}', []),
     ('declare real array y1(5)', [])]
for w, f in [(3, 0), (3, 1), (1, 0), (4, 0), (5, 1), (255, 0)]:
    s += [('y1 = smooth(x1, %d, %d)' % (w, f), []),
          ('ftype "%s\\n" y1' % fl(x5), [ff(smooth(x5, w, f))])]
s += [('y1 = smooth(x1, 0)', err(109, 3, 'Bad argument kind')),
      ('y1 = smooth(x1, 300)', err(109, 3, 'Bad argument kind')),
      ('smooth(x1)', []), ('ftype "%s\\n" x1' % fl(x5), [ff(smooth(x5, 3))]),
      ('declare real array x2(9)', []), ('x2 = {%s}' % ', '.join('%.2f' % v for v in r7), []),
      ('declare real array y2(9)', []), ('y2 = smooth(x2, 4)', []),
      ('ftype "%s\\n" y2' % fl(r7, 4), [ff(smooth(r7, 4), 4)])]
s += load('b1', sb)
s += [('declare byte image b2(6,4)', []), ('b2 = smooth(b1, 5)', []),
      show('b2', np.trunc(smooth(sb.ravel(), 5)).reshape(4, 6).astype(int)),
      ('smooth(b1, 2, 1)', []),
      show('b1', np.clip(np.trunc(smooth(sb.ravel(), 2, 1)), 0, 255).reshape(4, 6).astype(int))]
# interpolate: table (1, 10), (2, 20), (4, 10), (5, 30)
tx, ty = [1, 2, 4, 5], [10, 20, 10, 30]
xs = [0, 1.5, 1.75, 2, 3, 3.5, 4.5, 6]
def ipol(mode):
    px = [tx[0] - 1] + tx + [tx[-1] + 1, tx[-1] + 2]
    a0 = (ty[1] - ty[0]) / (tx[1] - tx[0]); b0 = ty[0] - tx[0] * a0
    a1 = (ty[-1] - ty[-2]) / (tx[-1] - tx[-2]); b1 = ty[-2] - tx[-2] * a1
    py = [a0 * px[0] + b0] + ty + [a1 * px[-2] + b1, a1 * px[-1] + b1]
    out, prev, cnt = [], None, 0
    for x in xs:
        i = sum(1 for v in px if v <= x) - 1
        i = min(max(i, 0), len(px) - 2)
        cnt = cnt + 1 if i == prev else 0
        prev = i
        a = (py[i + 1] - py[i]) / (px[i + 1] - px[i])
        lin = py[i] + a * (x - px[i])
        out.append({0: lin, 1: py[i], 2: px[i], 4: py[i] + cnt, 5: 0 if cnt else py[i]}[mode])
    return out
s += [('declare real array u1(8)', []), ('u1 = {%s}' % ', '.join(str(v) for v in xs), []),
      ('declare real array u2(4)', []), ('u2 = {1, 2, 4, 5}', []),
      ('declare real array u3(4)', []), ('u3 = {10, 20, 10, 30}', []),
      ('declare real array v1(8)', [])]
for mode in (0, 1, 2, 4, 5):
    s += [('v1 = interpolate(u1, u2, u3, %d)' % mode, []),
          ('ftype "%s\\n" v1' % fl(xs), [ff(ipol(mode))])]
# the spline through points on a line is that line
s += [('u3 = {3, 5, 9, 11}', []), ('v1 = interpolate(u1, u2, u3, 3)', []),
      ('ftype "%s\\n" v1' % fl(xs), [ff([2 * x + 1 for x in xs])]),
      ('declare real array u4(1)', []), ('u4 = 1', []),
      ('v1 = interpolate(u1, u2, u4)', err(82, 3, 'Array holds too few items')),
      ('v1 = interpolate(u1, u2)', ['ERROR  47: Too few operands']),
      # two table points at one x: the slope starts at 0, the value is the middle y
      ('declare real array u5(2)', []), ('u5 = {2, 2}', []),
      ('declare real array u6(2)', []), ('u6 = {10, 20}', []),
      ('declare real array w1(2)', []), ('w1 = {0.5, 1}', []),
      ('declare real array w2(2)', []), ('w2 = interpolate(w1, u5, u6)', []),
      ('ftype "%.3f %.3f\\n" w2', ['17.500 15.000']),
      ('w2 = interpolate(w1, u5, u6, 1)', []), ('ftype "%.3f %.3f\\n" w2', ['15.000 15.000'])]
write('img_smooth', s)

# --- fft -------------------------------------------------------------------
def cplx(a):
    return a[0::2] + 1j * a[1::2]
def flat(c):
    return np.column_stack([c.real, c.imag]).ravel()
# Data whose transforms have no zero component (the sign of a zero is
# the arithmetic's own).
def nozero(make, tr):
    while True:
        a = make()
        if np.all(np.abs(flat(tr(a))) > 0.5) and np.all(a != 0):
            return a
v16 = nozero(lambda: rng.integers(-9, 10, 16).astype(np.float64), lambda a: np.fft.fft(cplx(a)))
c8 = cplx(v16)
f4 = '"%.3f %.3f %.3f %.3f\\n"'
s = [('declare real array f1(16)', []), ('declare real array t1(8)', []),
     ('t1 = {%s}' % ', '.join('%g' % v for v in v16[:8]), []), ('f1(0:7) = t1', []),
     ('t1 = {%s}' % ', '.join('%g' % v for v in v16[8:]), []), ('f1(8:15) = t1', []),
     ('fft f1', []), ('ftype %s f1' % f4, [ff(r) for r in flat(np.fft.ifft(c8) * 8).reshape(4, 4)]),
     ('fft f1 -1', []), ('ftype %s f1' % f4, [ff(r) for r in (v16 * 8).reshape(4, 4)])]
m4 = nozero(lambda: rng.integers(-5, 6, (4, 8)).astype(np.float64),
            lambda a: np.fft.fft2(a[:, 0::2] + 1j * a[:, 1::2]))
c44 = m4[:, 0::2] + 1j * m4[:, 1::2]
s += load('f2', m4, 'real', 't2')
s += [('fft f2 -1', []), show('f2', flat(np.fft.fft2(c44).ravel()).reshape(4, 8), '%8.2f'),
      ('fft f2', []), show('f2', m4 * 16, '%8.2f')]
s += [('declare real image f3(32,16)', []), ('declare real array t3(512)', []),
      ('t3 = random(512, 5, 100)', []), ('f3 = 0', []), ('f3 = f3 + t3', []),
      ('declare real image f4(32,16)', []), ('f4 = f3', []),
      ('fft f3', []), ('fft f3 -1', []),
      ('f4 = (f3 - f4 * 256) * (f3 - f4 * 256)', []),
      ('ftype "%.3f\\n" max(f4)', ['0.000']),
      ('declare real array f5(12)', []), ('fft f5', err(70, 2, 'Bad argument')),
      ('declare real image f6(6,4)', []), ('fft f6', err(70, 2, 'Bad argument')),
      ('declare byte array f7(8)', []), ('fft f7', err(70, 2, 'Bad argument')),
      ('declare number f8', []), ('fft f8', err(147, 2, 'Argument is not a data variable'))]
write('img_fft', s)

# --- dither, stereogram, zoom, flip, swap --------------------------------
s = [('declare bit image d1(10,4)', []), ('d1 = 1', []),
     ('declare integer image w1(2,2)', []), ('w1 = 1', []),
     ('declare integer image e1(4,2)', []), ('e1 = dither(d1, w1)', []),
     ('type size(e1)', ['           4            2']),
     show('e1', np.full((2, 4), 4))]
# a byte image holds 8 pixels a byte, the first in the top bit
db = rng.integers(0, 256, (4, 2))
wt = np.array([[1, 2], [3, 4]])
bits = np.unpackbits(db.astype(np.uint8), axis=1)
cells = np.array([[(bits[2 * y:2 * y + 2, 2 * x:2 * x + 2] * wt).sum() for x in range(8)]
                  for y in range(2)])
s += load('d2', db) + load('w2', wt, 'integer', 't1')
s += [('declare integer image e2(8,2)', []), ('e2 = dither(d2, w2)', []), show('e2', cells),
      ('declare integer array w3(4)', []),
      ('e2 = dither(d2, w3)', err(161, 3, 'Bad array shape')),
      ('dither(d2, w2)', err(70, 2, 'Bad argument'))]
# a flat depth image with a pattern P wide: the pattern tiled from the
# right end (links of separation P join equal pixels)
pat = rng.integers(1, 200, (3, 4))
st = np.array([[pat[y][(x - 8) % 4] for x in range(12)] for y in range(3)])
s += [('declare real image z1(8,3)', []), ('z1 = 0', [])] + load('p1', pat)
s += [('declare byte image s1(12,3)', []), ('s1 = stereogram(z1, p1)', []), show('s1', st)]
# convergence marks: m = 2 rows (here row 0 only) of 2 bytes of 255 at (W - m) / 2, and P on
st[0, 3:5] = 255
st[0, 7:9] = 255
s += [('s1 = stereogram(z1, p1, 1)', []), show('s1', st),
      ('declare byte array z2(8)', []),
      ('s1 = stereogram(z2, 4)', err(161, 2, 'Bad array shape'))]
# links beyond 32767 pixels
W = 33000
s += [('declare real image z3(%d,1)' % W, []), ('z3 = 0', [])] + load('p3', np.array([[1, 2, 3, 4]]))
s += [('declare byte image s3(%d,1)' % (W + 4), []), ('s3 = stereogram(z3, p3)', []),
      ('ftype "%d\\n" sum(s3)', ['%d' % sum([1, 2, 3, 4][(x - W) % 4] for x in range(W + 4))])]
# zoom: reduction keeps every n-th element of every n-th row; enlargement
# repeats pixels
zi = rng.integers(0, 100, (4, 6))
s += load('m1', zi)
s += [('declare byte image m2(6,4)', []), ('m2 = zoom(m1, -2)', []),
      ('type size(m2)', ['           3            2']), show('m2', zi[::2, ::2]),
      ('m2 = zoom(m1, -3, -2)', []), show('m2', zi[::2, ::3]),
      ('m2 = zoom(m1, 2)', []), ('type size(m2)', ['          12            8']),
      show('m2', np.repeat(np.repeat(zi, 2, 0), 2, 1)),
      ('m2 = zoom(m1, -2, 1)', err(120, 3, 'Zoom factors of opposite signs')),
      ('zoom(m1, -2)', err(70, 2, 'Bad argument'))]
# flip
s += [('declare byte image m3(6,4)', []),
      ('m3 = flip(m1, 1)', []), show('m3', zi[:, ::-1]),
      ('m3 = flip(m1, 2)', []), show('m3', zi[::-1, :]),
      ('m3 = flip(m1, 3)', []), show('m3', zi[::-1, ::-1])]
sq = rng.integers(-300, 300, (3, 3))
s += load('n1', sq, 'integer', 't1')
s += [('declare integer image n2(3,3)', []), ('n2 = flip(n1, 4)', []),
      show('n2', sq.T, '%6i'),
      ('n2 = flip(n1, 1)', []), show('n2', sq[:, ::-1], '%6i')]
# swap
s += [('declare byte array b1(6)', []), ('b1 = {1, 2, 3, 4, 5, 6}', []),
      ('declare byte array b2(6)', []), ('b2 = swap(b1, 32)', []),
      ('ftype "%4i%4i%4i%4i%4i%4i\\n" b2', ['   4   3   2   1   5   6']),
      ('b2 = swap(b1, 16)', []), ('ftype "%4i%4i%4i%4i%4i%4i\\n" b2', ['   2   1   4   3   6   5']),
      ('b2 = swap(b1, 8)', []), ('ftype "%4i%4i%4i%4i%4i%4i\\n" b2', ['   2   1   4   3   6   5']),
      ('declare integer array i1(2)', []), ('i1 = {258, 772}', []), ('i1 = swap(i1)', []),
      ('ftype "%6i%6i\\n" i1', ['%6i%6i' % (0x0201, 0x0403)]),
      ('declare real array q2(2)', []), ('q2 = {1.5, -2.25}', []),
      ('q2 = swap(q2, 32)', []), ('q2 = swap(q2)', []), ('q2 = swap(q2, 32)', []), ('ftype "%.2f %.2f\\n" q2', ['1.50 -2.25'])]
# windows: a part of an image read row by row, and written into a part
sub = zi[1:3, 1:4]
s += [('declare byte image m5(3,2)', []),
      ('m5 = filter(m1(1:3, 1:2), 0, 3)', []), show('m5', filt(sub, 0)),
      ('m5 = flip(m1(1:3, 1:2), 3)', []), show('m5', sub[::-1, ::-1]),
      ('m5 = smooth(m1(1:3, 1:2), 2)', []),
      show('m5', np.trunc(smooth(sub.ravel(), 2)).reshape(2, 3).astype(int)),
      ('declare byte image m6(6,4)', []), ('m6 = 0', []),
      ('m6(1:3, 1:2) = filter(m1(2:4, 0:1), 1, 3)', [])]
win6 = np.zeros((4, 6), np.int64)
win6[1:3, 1:4] = filt(zi[0:2, 2:5], 1)
s += [show('m6', win6)]
# in place: the destination is the operand's own variable
s += load('m4', zi)
s += [('m4 = flip(m4, 2)', []), show('m4', zi[::-1, :]),
      ('m4 = filter(m4, 0, 3)', []), show('m4', filt(zi[::-1, :], 0)),
      ('m4 = zoom(m4, -2)', []), show('m4', filt(zi[::-1, :], 0)[::2, ::2]),
      ('smooth(m4, 2)', []),
      show('m4', np.trunc(smooth(filt(zi[::-1, :], 0)[::2, ::2].ravel(), 2)).reshape(2, 3).astype(int))]
write('img_misc', s)


# --- stereogram with hidden marks (flag 2) --------------------------------
def lround(v):
    return int(math.floor(abs(v) + 0.5)) * (1 if v >= 0 else -1)


def stereo(depth, pat, flags, a5, a6, mu, E):
    """The linked-pixel stereogram with a pattern: a hidden mark (negative)
    ends a walk without being followed or overwritten."""
    H, W = depth.shape
    P = pat.shape[1]
    L = W + P
    q = float(f32(a5)) / float(f32(a6))
    mu, E = float(f32(mu)), float(f32(E))
    out = []
    for y in range(H):
        same = list(range(L))
        z = [float(f32(v)) * q for v in depth[y]]
        row = [0] * L
        row[W:] = [int(v) for v in pat[y]]
        for x in range(W - 1, -1, -1):
            row[x] = row[x + P]
        for x in range(W):
            zx = z[x]
            s = lround((1 - mu * zx) * E / (2 - mu * zx))
            left = x - int(s / 2) + P // 2
            right = left + s
            if left < 0 or right >= L or left > right:
                continue
            hid, t = 0, 1
            if not flags & 4:
                while True:
                    zt = zx + (2 - mu * zx) * 2 * t / (E * mu)
                    if zt >= 1:
                        break
                    if x - t >= 0 and z[x - t] >= zt:
                        hid |= 1
                    if x + t < W and z[x + t] >= zt:
                        hid |= 2
                    if hid or (x - t < 0 and x + t >= W):
                        break
                    t += 1
            if not hid:
                k = same[left]
                while k >= 0 and k != left and k != right:
                    if k < right:
                        left, k = k, same[k]
                    else:
                        same[left] = right
                        left, right = right, k
                        k = same[left]
                if k >= 0:
                    same[left] = right
            elif flags & 2:
                same[x] = -hid
        for x in range(L - 1, -1, -1):
            l = same[x]
            if l != x:
                row[x] = row[l] if l >= 0 else 1 - l
        out.append(row)
    return np.array(out)


rng = np.random.default_rng(109)
z6 = np.zeros((1, 6), np.int64); z6[0, 5] = 255
s = load('zqz', z6) + load('zqp', np.full((1, 5), 7), 'byte', 't1')
s += [('declare byte image zqo(11,1)', []),
      ('zqo = stereogram(zqz, zqp, 2, 1, 255, 0.3333, 15)', []),
      show('zqo', stereo(z6, np.full((1, 5), 7), 2, 1, 255, 0.3333, 15))]
for i in range(8):
    W, H = int(rng.integers(6, 15)), int(rng.integers(1, 4))
    P = int(rng.integers(3, min(W, 20 - W) + 1))
    dep = rng.integers(0, 4, (H, W)) * 85
    pat = rng.integers(8, 200, (H, P))
    E = int(rng.integers(P, 3 * P))
    s += load('zd%d' % i, dep, 'byte', 't%d' % i) + load('zp%d' % i, pat, 'byte', 'u%d' % i)
    s += [('declare byte image zs%d(%d,%d)' % (i, W + P, H), []),
          ('zs%d = stereogram(zd%d, zp%d, 2, 1, 255, 0.3333, %d)' % (i, i, i, E), []),
          show('zs%d' % i, stereo(dep, pat, 2, 1, 255, 0.3333, E))]
write('stereo_mark', s)
