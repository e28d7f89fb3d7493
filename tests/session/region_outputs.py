# Writes the region_*.pelix session scripts and their expected transcripts.
# The outlines, search results and fills are computed here from the images
# the scripts draw, by a model of the outline follower written from its
# rules, and each outline is also checked for what any outline must be:
# every point an in-range pixel on the region's edge, the points joined by
# straight runs of in-range edge pixels.
import math, os, struct
D = os.path.dirname(os.path.abspath(__file__)) + '/'
DX = [0, 1, 1, 1, 0, -1, -1, -1]
DY = [1, 1, 0, -1, -1, -1, 0, 1]


def f32(v): return struct.unpack('f', struct.pack('f', v))[0]
def lround(v): return int(math.copysign(math.floor(abs(v) + 0.5), v))
def i16(v): return (v + 0x8000) % 0x10000 - 0x8000


class Img:
    def __init__(self, w, h):
        self.w, self.h = w, h
        self.p = [[0] * w for _ in range(h)]
        self.cmds = ['declare byte image img(%d,%d)' % (w, h), 'img = 0']

    def box(self, x0, x1, y0, y1, v):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.p[y][x] = v
        self.cmds.append('img(%d:%d, %d:%d) = %d' % (x0, x1, y0, y1, v))


def dircode(dx, dy):
    if dx == 0 and dy == 0: return 0
    k = lround(math.atan2(dy, dx) * 4.0 / math.pi)
    return (2 - k) % 8


class Tracer:
    def __init__(self, im, lo, hi):
        self.im, self.lo, self.hi = im, lo, hi

    def ib(self, x, y):
        if not (0 <= x < self.im.w and 0 <= y < self.im.h): return -1
        return 1 if self.lo <= self.im.p[y][x] <= self.hi else 0

    def iserch(self, want, x, y, d, limit):
        n = 0
        d &= 7
        while True:
            if n == limit: return -1, x, y
            x += DX[d]; y += DY[d]; n += 1
            t = self.ib(x, y)
            if t != 1 - want: break
        if t != want: return -1, x, y
        return n, x, y

    def search(self, sx, sy, d, limit=1000):
        n, x, y = self.iserch(1, sx, sy, d if d >= 0 else 0, limit)
        if n > 0: return (x, y, 1, self.im.p[y][x])
        return (sx, sy, 0, 0)

    def trace(self, sx, sy, d, flags=0, interval=1):
        recs = []
        inn = self.ib(sx, sy)
        if inn < 0: return recs
        want = 1 - inn
        tries = [(d - 2) & 6, (d + 2) & 6] if d >= 0 else [((d & 6) - 2 + 2 * k) & 6 for k in range(4)]
        best = None
        for k, t in enumerate(tries):
            n, x, y = self.iserch(want, sx, sy, t, 50)
            if n > 0 and (best is None or n < best[1]): best = (k, n, x, y)
        if best is None: return recs
        k, _, bx, by = best
        wd = tries[k]
        if d >= 0:
            r = -2 if k == 0 else 2
            if not inn: r = -r
            h = d & 6
        else:
            r = 2
            h = (wd + 4) & 6 if inn else wd
        if inn: bx -= DX[wd]; by -= DY[wd]
        st = {'lx': 0, 'ly': 0, 'sdx': 0, 'sdy': 0}
        hist = []

        def ratio(a, b): return 99999.9 if b == 0 else f32(a / b)
        sg = lambda v: (v > 0) - (v < 0)

        def write(x, y, width, colour):
            dx, dy = x - st['lx'], y - st['ly']
            if recs and dx == 0 and dy == 0: return
            if len(recs) >= 2 and f32(ratio(dx, dy)) == f32(ratio(st['sdx'], st['sdy'])) and \
                    sg(dx) == sg(st['sdx']) and sg(dy) == sg(st['sdy']):
                recs.pop()
                st['lx'] -= st['sdx']; st['ly'] -= st['sdy']
                dx, dy = x - st['lx'], y - st['ly']
            recs.append((x, y, 0, 2 if not recs else 1, width, colour))
            st['sdx'], st['sdy'], st['lx'], st['ly'] = dx, dy, x, y

        def save(px, py):
            width, colour = 1, 0
            if flags & 0x0C and hist:
                tx = sum(DX[m] for m in hist[:6]); ty = sum(DY[m] for m in hist[:6])
                q = (dircode(tx, ty) - r) & 7
                n, _, _ = self.iserch(0, px, py, q, 20)
                if n < 1: n = 1
                if flags & 4: px += DX[q] * (n // 2); py += DY[q] * (n // 2)
                if flags & 8:
                    wv = int(f32(n * f32(1.414))) if q & 1 else n
                    width = min(wv, 15)
            if flags & 2: colour = self.im.p[py][px] if 0 <= px < self.im.w and 0 <= py < self.im.h else 0
            write(px, py, width, colour)

        cx, cy, moves = bx, by, 0
        cap = 4 * self.im.w * self.im.h
        save(cx, cy)
        while True:
            nd = -1
            for o in (h + r, h, h - r, h - 2 * r):
                if self.ib(cx + DX[o & 6], cy + DY[o & 6]) == 1:
                    nd = o & 6
                    break
            if nd < 0: break
            cx += DX[nd]; cy += DY[nd]; h = nd; moves += 1
            hist = ([nd] + hist)[:16]
            closed = (cx, cy) == (bx, by) or moves >= cap
            if closed or moves % interval == 0: save(cx, cy)
            if closed: break
            if flags & 1 and len(hist) >= 15:
                ax = sum(DX[m] for m in hist[:6]); ay = sum(DY[m] for m in hist[:6])
                ox = sum(DX[m] for m in hist[9:15]); oy = sum(DY[m] for m in hist[9:15])
                if (ax - ox) ** 2 + (ay - oy) ** 2 > 80:
                    if moves % interval: save(cx, cy)
                    break
        self.capped = moves >= cap
        return recs

    def check(self, recs):
        # Every point an in-range edge pixel; consecutive points joined by
        # straight axis runs of in-range pixels (interval 1, flags 0).
        for x, y, *_ in recs:
            assert self.ib(x, y) == 1, (x, y)
            assert any(self.ib(x + DX[d], y + DY[d]) != 1 for d in range(8)), (x, y)
        for (x0, y0, *_), (x1, y1, *_) in zip(recs, recs[1:]):
            n = max(abs(x1 - x0), abs(y1 - y0))
            for k in range(n + 1):
                px = x0 + (x1 - x0) * k // n if n else x0
                py = y0 + (y1 - y0) * k // n if n else y0
                assert self.ib(px, py) == 1, (px, py)


def vecline(i, r):
    x, y, z, code, width, colour = r
    return ('%5d: ' % i + '  %6d %6d %6d\t%2d %2d %3d' % (x, y, z, code, width, colour)).expandtabs(8)


class Script:
    def __init__(self):
        self.inp, self.out = [], []

    def cmd(self, line, res=()):
        self.inp.append(line)
        self.out.append('PELIX> ' + line)
        self.out.extend(res)

    def image(self, im):
        # A second declaration of img keeps the first one's size.
        assert (im.w, im.h) == (12, 10)
        for c in im.cmds: self.cmd(c)
        self.cmd('simage = image(img)')

    def trace(self, tr, sx, sy, d, flags=0, interval=1, lo=None, hi=None, check=True):
        recs = tr.trace(sx, sy, d, flags, interval)
        if check and flags == 0 and interval == 1: tr.check(recs)
        args = '%d, 0, %d, %d, %d, %d, %d, %d' % (flags, sx, sy, d, interval, tr.lo, tr.hi)
        self.cmd('nvecs = 0')
        self.cmd('r = trace(%s)' % args)
        self.cmd('ftype "%d records\\n" r(0)', ['%d records' % len(recs)])
        if recs: self.cmd('type vecs', [vecline(i, v) for i, v in enumerate(recs)])
        return recs

    def search(self, tr, sx, sy, d, limit=1000):
        x, y, code, colour = tr.search(sx, sy, d, limit)
        self.cmd('r = search(%d, 0, %d, %d, %d, %d, %d)' % (limit, sx, sy, d, tr.lo, tr.hi))
        self.cmd('ftype "%d %d %d\\n" r(0) r(1) r(3)',
                 ['%d %d %d' % (x, y, i16(code | colour << 8))])

    def write(self, name):
        open(D + name + '.pelix', 'w').write('\n'.join(self.inp) + '\n')
        open(D + name + '.out', 'w').write('\n'.join(self.out) + '\n')


# --- outlines ----------------------------------------------------------------
s = Script()
s.cmd('declare integer array r(4)')
# A filled square.
sq = Img(12, 10)
sq.box(3, 7, 2, 6, 200)
s.image(sq)
t = Tracer(sq, 1, 255)
for d in (2, 0, 5, -1):
    s.trace(t, 5, 4, d)            # from inside
s.trace(t, 0, 4, 2)                # from outside, the region ahead
s.trace(t, 0, 4, -1)
s.trace(t, 5, 4, 2, interval=5)    # the save interval
s.trace(t, 5, 4, 2, flags=4, interval=3)  # points moved into the middle
s.trace(t, 5, 4, 2, flags=8, interval=4)  # widths from the thickness
s.trace(t, 11, 0, 2)               # no edge within reach: nothing
# A bar two pixels wide: the turn at its end is sharp enough to stop at.
bar = Img(12, 10)
bar.box(3, 4, 0, 9, 77)
s.image(bar)
t = Tracer(bar, 1, 255)
s.trace(t, 4, 3, 0, flags=1, interval=3)
s.trace(t, 4, 3, 0, interval=3)
s.image(sq)
t = Tracer(sq, 1, 255)
s.search(t, 0, 4, 2)
s.search(t, 5, 4, 2)               # from inside: the next pixel
s.search(t, 0, 0, 2)               # the border: not found
s.search(t, 0, 4, 2, limit=2)      # the step limit: not found
s.search(t, 5, 9, 4)
# A ring: the outer and the inner outline.
ring = Img(12, 10)
ring.box(2, 9, 1, 8, 120)
ring.box(4, 7, 3, 6, 0)
s.image(ring)
t = Tracer(ring, 100, 130)
s.trace(t, 0, 5, 2)
s.trace(t, 5, 5, 2)                # from inside the hole: the inner outline
s.trace(t, 3, 5, 2)
s.search(t, 5, 5, 6)
# Two touching blobs of different values, and a third touching diagonally.
bl = Img(12, 10)
bl.box(1, 4, 1, 4, 100)
bl.box(5, 8, 2, 6, 200)
bl.box(9, 10, 7, 8, 150)
s.image(bl)
t = Tracer(bl, 100, 100)
s.trace(t, 2, 2, 2)
t = Tracer(bl, 1, 255)
s.trace(t, 2, 2, 2)
s.trace(t, 2, 2, 2, flags=2, interval=2)  # pixel values as colours
s.trace(t, 9, 7, 0)
t = Tracer(bl, 150, 255)
s.trace(t, 6, 3, 6)
# A one-pixel region: the move record alone.
one = Img(12, 10)
one.box(5, 5, 5, 5, 9)
s.image(one)
t = Tracer(one, 9, 9)
s.trace(t, 5, 5, 2)
s.trace(t, 2, 5, 2)
s.trace(t, 5, 1, -1)
# Regions touching each border.
bd = Img(12, 10)
bd.box(0, 2, 3, 5, 50)
bd.box(5, 7, 0, 1, 60)
bd.box(10, 11, 4, 6, 70)
bd.box(4, 6, 8, 9, 80)
s.image(bd)
t = Tracer(bd, 1, 255)
for (x, y, d) in ((1, 4, 2), (6, 0, 2), (11, 5, 0), (5, 9, 6), (0, 3, -1)):
    s.trace(t, x, y, d)
s.write('region_trace')

# --- perp --------------------------------------------------------------------
s = Script()
for n in ('p', 'a', 'b', 'q'):
    s.cmd('declare vector ' + n)


def perp(p, a, b):
    dx, dy = a[0] - b[0], a[1] - b[1]
    if dx == 0: return (a[0], p[1])
    if dy == 0: return (p[0], a[1])
    m = f32(dy / dx)
    c = f32(a[1] - f32(a[0] * m))
    x = f32(f32(f32(p[1] + f32(p[0] / m)) - c) / f32(m + f32(1 / m)))
    ox = int(f32(x + 0.5))
    return (ox, int(f32(f32(f32(ox * m) + c) + 0.5)))


for p, a, b in (((5, 5), (0, 0), (10, 0)), ((5, 5), (0, 0), (0, 10)), ((5, 5), (0, 0), (10, 10)),
                ((7, 2), (1, 1), (9, 5)), ((-3, 8), (2, -4), (6, 9))):
    s.cmd('p = vector(%d, %d)' % p)
    s.cmd('a = vector(%d, %d)' % a)
    s.cmd('b = vector(%d, %d)' % b)
    s.cmd('q = perp(p, a, b)')
    x, y = perp(p, a, b)
    s.cmd('type q', [('   %6d %6d %6d\t%2d %2d %3d' % (x, y, 0, 1, 0, 0)).expandtabs(8)])
s.cmd('q = perp(p, 3, b)', ['ERROR 151: Points must be vectors'])
s.cmd('declare integer array ia(4)')
s.cmd('ia = perp(p, a, b)')
x, y = perp((-3, 8), (2, -4), (6, 9))
s.cmd('type ia', ['%7d %7d %7d %7d' % (x, y, 0, 1)])
s.write('region_perp')

# --- fill --------------------------------------------------------------------
s = Script()


def tile(dw, dh, pat, pw, ph, conv=lambda v: v):
    return [[conv(pat[(y % ph) * pw + (x % pw)]) for x in range(dw)] for y in range(dh)]


def rows(m, fmt):
    return [' '.join(fmt % v for v in r) for r in m]


s.cmd('declare byte matrix pt(3,2)')
pat = [5, 7, 5, 5, 5, 9]
s.cmd('pt = 5')
s.cmd('pt(1,0) = 7')
s.cmd('pt(2,1) = 9')
s.cmd('declare byte image d(10,4)')
s.cmd('fill d pt')
s.cmd('type d', rows(tile(10, 4, pat, 3, 2), '%5d'))
s.cmd('declare integer array w(3)')
s.cmd('w = ramp(3, 100, 300, 100)')
s.cmd('declare byte array db(7)')
s.cmd('fill db w')
s.cmd('type db', rows(tile(7, 1, [100, 200, 300], 3, 1, lambda v: min(v, 255)), '%5d'))
s.cmd('declare real matrix dr(5,3)')
s.cmd('fill dr pt')
s.cmd('type dr', rows(tile(5, 3, pat, 3, 2, float), '%12.3f'))
s.cmd('declare integer matrix m2(2,2)')
s.cmd('m2 = 1000')
s.cmd('m2(1,1) = -7')
s.cmd('declare integer image dq(5,3)')
s.cmd('fill dq m2')
s.cmd('type dq', rows(tile(5, 3, [1000, 1000, 1000, -7], 2, 2), '%7d'))
s.cmd('declare byte array big(40000)')
s.cmd('fill d big', ['ERROR 127: Data types do not fit'])
s.cmd('declare vector v')
s.cmd('fill v pt', ['ERROR  70 (arg 2): Bad argument'])
s.cmd('fill d v', ['ERROR  70 (arg 3): Bad argument'])
# --- warp: pairs from a point variable, with the corners -------------------
s.cmd('declare real array x(2)')
s.cmd('declare integer array r(4)')
s.cmd('declare vector pv')
s.cmd('pv = vector(3, 2, 0, 3)')
s.cmd('debug = 16')
s.cmd('x = warp(d, pv, 1)', ['warp 5 pairs'] +
      ['%3d: (%d,%d) -> (%d,%d)' % (k, x, y, x, y) for k, (x, y) in
       enumerate(((0, 0), (10, 0), (10, 4), (0, 4), (3, 2)))])
s.cmd('debug = 0')
# The outline of a square as the point list: its points taken in pairs
# (an odd last point has no partner and is dropped).
sq = Img(12, 10)
sq.box(3, 7, 2, 6, 200)
s.image(sq)
recs = Tracer(sq, 1, 255).trace(5, 4, 2)
s.cmd('nvecs = 0')
s.cmd('r = trace(0, 0, 5, 4, 2, 1)')
s.cmd('x = warp(d, vecs)')
s.cmd('ftype "%d\\n" r0', ['%d' % (len(recs) // 2)])
s.cmd('debug = 16')
s.cmd('x = warp(d, vecs, 1)', ['warp %d pairs' % (4 + len(recs) // 2)] +
      ['%3d: (%d,%d) -> (%d,%d)' % (k, x, y, x, y) for k, (x, y) in
       enumerate(((0, 0), (10, 0), (10, 4), (0, 4)))] +
      ['%3d: (%d,%d) -> (%d,%d)' % (4 + k, recs[2 * k][0], recs[2 * k][1], recs[2 * k + 1][0],
                                     recs[2 * k + 1][1]) for k in range(len(recs) // 2)])
s.cmd('debug = 0')
s.write('region_fill')
