# Writes the func_rank, func_fit and func_ptr session scripts and their
# expected transcripts. The expected numbers are computed here with numpy in
# float32, independently of the program (random numbers by the system's
# documented 15-bit generator: x = x * 214013 + 2531011, (x >> 16) & 0x7FFF).
import os
import numpy as np

D = os.path.dirname(os.path.abspath(__file__)) + '/'
f32 = np.float32


def write(name, script):
    inp, out = [], []
    for line, res in script:
        if line is not None and line.startswith('<'):
            inp.append(line[1:])  # an answer typed to a prompt of the command
        elif line is not None:
            inp.append(line)
            out.append('PELIX> ' + line)
        out.extend(res)
    open(D + name + '.pelix', 'w').write('\n'.join(inp) + '\n')
    open(D + name + '.out', 'w').write('\n'.join(out) + '\n')


def ints(v):
    return ['%d' % int(x) for x in v]


def flts(v, p=4):
    return [('%.' + str(p) + 'f') % float(f32(x)) for x in np.ravel(v)]


def rnd(seed, n, rng):
    x, out = seed & 0xFFFFFFFF, []
    for _ in range(n):
        x = (x * 214013 + 2531011) & 0xFFFFFFFF
        out.append(f32(((x >> 16) & 0x7FFF) / 32768.0 * rng))
    return np.array(out, dtype=np.float32)


def peak(y, x=None, m=1, T=10):
    n = len(y) if x is None else min(len(y), len(x))
    s, vmax, vmin, out = m & 1, f32(-9999999), f32(9999999), []
    for i in range(n):
        v = f32(y[i])
        xi = f32(i) if x is None else f32(x[i])
        if s >= 1:
            if v > vmax:
                vmax, xmax, imax, s = v, xi, i, T
            elif v < vmax:
                s -= 1
                if s < 1:
                    if m & 1:
                        out.append(vmax if m & 4 else xmax if m & 8 else imax)
                    vmax = f32(-9999999)
        else:
            if v < vmin:
                vmin, xmin, imin, s = v, xi, i, -T
            elif v > vmin:
                s += 1
                if s > 0:
                    if m & 2:
                        out.append(vmin if m & 4 else xmin if m & 8 else imin)
                    vmin = f32(9999999)
    return out


# --- rank, order, peak and the line reductions --------------------------
a = np.array([3, 1, 2, 2, 0], dtype=np.float32)
asc = np.argsort(a, kind='stable')
desc = np.argsort(-a, kind='stable')
b = np.array([200, 3, 255, 3, 0])
w = np.array([-5, 300, -5, 7, -32000])
big = rnd(5, 40000, 1000)
bup = np.argsort(big, kind='stable')
bdn = np.argsort(-big, kind='stable')
tri = np.concatenate([np.arange(21), np.arange(19, -1, -1)]).astype(np.float32)
wav = np.array([0, 5, 3, 6, 2, 1, 0, 4, 8, 9, 7, 5, 3, 1], dtype=np.float32)
m = np.array([[1.5, -2, 4, 0.25], [3, 3, 9, -1], [7, 0.5, -6, 2]], dtype=np.float32)  # 4 x 3 (x fastest)
wv = ' '.join('%g' % v for v in wav)
sol = np.arange(24, dtype=np.float32).reshape(2, 3, 4)  # z, y, x
s = [
    ('declare real array a(5) x(5) z(5) xs(41) big(40000) srt(40000)', []),
    ('declare long array r(40000)', []),
    ('a = {3 1 2 2 0}', []),
    ('x = rank(a)', []), ('ftype "%d\\n" x', ints(asc)),
    ('ftype "%d\\n" rank(a, 1)', ints(desc)),
    ('z = order(a, x)', []), ('ftype "%.1f\\n" z', flts(a[asc], 1)),
    ('ftype "%d\\n" rank(7)', ['0']),
    ('declare byte array b(5)', []), ('b = {200 3 255 3 0}', []),
    ('ftype "%d\\n" rank(b)', ints(np.argsort(b, kind='stable'))),
    ('declare integer array w(5)', []), ('w = {-5 300 -5 7 -32000}', []),
    ('ftype "%d\\n" rank(w, 1)', ints(np.argsort(-w, kind='stable'))),
    ('declare list string l', []),
    ('ftype "pear\\napple\\nfig\\napple\\n" > l', []),
    ('ftype "%d\\n" rank(l)', ints([1, 3, 2, 0])),
    ('ftype "%d\\n" rank(l, 1)', ints([0, 2, 1, 3])),
    # Beyond 32767 elements: 32-bit indices, equal values in input order.
    ('big = random(40000, 5, 1000)', []),
    ('r = rank(big)', []),
    ('ftype "%d %d %d %d\\n" r(0) r(1) r(39998) r(39999)', ['%d %d %d %d' % (bup[0], bup[1], bup[39998], bup[39999])]),
    ('srt = order(big, r)', []),
    ('ftype "%.4f %.4f\\n" min(srt(1:39999) - srt(0:39998)) srt(20000)', ['%.4f %.4f' % (0.0, big[bup[20000]])]),
    ('r = rank(big, 1)', []),
    ('ftype "%d %d %d\\n" r(0) r(1) r(39999)', ['%d %d %d' % (bdn[0], bdn[1], bdn[39999])]),
    ('x = {2 0 1 3 0}', []),
    ('z = order({10 20 30 40 50}, x)', []), ('ftype "%.0f\\n" z', ['30', '10', '20', '40', '10']),
    ('x = {2 0 5 3 0}', []),
    ('z = order({10 20 30 40 50}, x)', ['ERROR 196: Index out of range']),
    # peak: index, x position and value of a maximum; the count in #0.
    ('xs = ramp(41, 0) * 0.5', []),
    ('ftype "%d %.0f\\n" peak(ramp(41, 0, 20, 1, 0, 1)) #0', ['%d 1' % peak(tri)[0]]),
    ('ftype "%.1f\\n" peak(ramp(41, 0, 20, 1, 0, 1), xs, 9)', flts(peak(tri, np.arange(41) * 0.5, 9), 1)),
    ('ftype "%.1f\\n" peak(ramp(41, 0, 20, 1, 0, 1), xs, 5)', flts(peak(tri, None, 5), 1)),
    # A maximum that the data never confirms is not reported.
    ('ftype "%d\\n" peak(ramp(30, 0), xs)', []),
    ('ftype "%.0f\\n" #0', ['0']),
    ('declare real array wv(14)', []),
    ('wv = {%s}' % wv, []),
    ('ftype "%d\\n" peak(wv, xs, 3, 3)', ints(peak(wav, None, 3, 3))),
    ('ftype "%.0f\\n" #0', ['%d' % len(peak(wav, None, 3, 3))]),
    ('ftype "%.1f\\n" peak(wv, xs, 6, 3)', flts(peak(wav, None, 6, 3), 1)),
    ('declare real matrix m(4,3)', []),
    ('m = {%s}' % ' '.join('%g' % v for v in m.ravel()), []),
    ('m = matrix(4, 3)', []),
    ('ftype "%.4f\\n" row(m, mean)', flts(m.mean(axis=1))),
    ('ftype "%.4f\\n" row(m, stdev)', flts(m.astype(np.float64).std(axis=1, ddof=1))),
    ('ftype "%.4f\\n" column(m, max)', flts(m.max(axis=0))),
    ('ftype "%.4f\\n" column(m, min)', flts(m.min(axis=0))),
    ('ftype "%.4f\\n" zproj(m, sum)', flts(m.ravel())),
    ('ftype "%.4f\\n" zproj(m, stdev)', flts(np.zeros(12))),
    ('row(m, median)', ['ERROR 109 (arg 3): Bad argument kind']),
    ('declare real solid s(4,3,2)', []),
    ('s = ramp(24, 0)', []), ('s = solid(4, 3, 2)', []),
    ('ftype "%.1f\\n" row(s, sum)', flts(sol.sum(axis=2).ravel(), 1)),
    ('ftype "%.1f\\n" column(s, max)', flts(sol.max(axis=1).ravel(), 1)),
    ('ftype "%.1f\\n" zproj(s, mean)', flts(sol.mean(axis=0).ravel(), 1)),
]
write('func_rank', s)


# --- line fits, the affine fit and matmul --------------------------------
def lsq(x, y, mode):
    x = np.array(x, dtype=np.float32)
    y = np.array(y, dtype=np.float32)
    n = f32(len(x))
    sx = sy = sxy = sxx = f32(0)
    for a, b in zip(x, y):
        sx, sy, sxy, sxx = sx + a, sy + b, sxy + a * b, sxx + a * a
    D = n * sxx - sx * sx
    q = s = f32(0)
    if D == 0:
        return [f32(0), sy / n, f32(0), f32(0)]
    a = (sxx * sy - sx * sxy) / D
    b = (n * sxy - sx * sy) / D
    for u, v in zip(x, y):
        e = v - (a + b * u)
        q = q + e * e
    s = np.sqrt(q / D)
    return [b, a, s if mode else f32(0), q if mode else f32(0)]


def robust(x, y):
    x = np.array(x, dtype=np.float32)
    y = np.array(y, dtype=np.float32)
    b, a, s, q = lsq(x, y, 1)
    n = len(x)
    st = {}

    def ro(bb):
        r = np.sort(y - bb * x)
        k = (n + 1) // 2 - 1
        aa = (r[k] + r[n - 1 - k]) / f32(2)
        d = y - (bb * x + aa)
        st['aa'], st['ab'] = aa, np.float32(np.abs(d).astype(np.float32).cumsum(dtype=np.float32)[-1])
        return np.where(d > 0, x, -x).astype(np.float32).cumsum(dtype=np.float32)[-1]
    b1 = b
    f1 = ro(b1)
    b2 = b1 + f32(3) * abs(s) if f1 > 0 else b1 - f32(3) * abs(s)
    f2 = ro(b2)
    while f1 * f2 > 0:
        b1, f1, b2 = b2, f2, f32(2) * b2 - b1
        f2 = ro(b2)
    slope = b2
    while abs(b2 - b1) > f32(0.01) * s:
        bm = (b1 + b2) / f32(2)
        if bm == b1 or bm == b2:
            break
        slope = bm
        f = ro(bm)
        if f * f1 >= 0:
            f1, b1 = f, bm
        else:
            f2, b2 = f, bm
    return [slope, st['aa'], st['ab'] / f32(n), q]


xf = [0, 1, 2, 3, 4, 5, 6, 7]
yf = [1.2, 2.9, 5.1, 7.2, 8.8, 11.1, 30.0, 15.1]
pts = np.array([[0, 0], [4, 0], [0, 3], [4, 3], [2, 1]], dtype=np.float32)
M = np.array([[0.8, 0.6, 0], [-0.6, 0.8, 0], [5, -2, 1]], dtype=np.float32)
img = (np.hstack([pts, np.ones((5, 1), np.float32)]) @ M)[:, :2]
A, *_ = np.linalg.lstsq(np.hstack([img.astype(np.float64), np.ones((5, 1))]), pts.astype(np.float64), rcond=None)
aff = np.zeros((3, 3))
aff[:, :2] = A
aff[2, 2] = 1
brace = lambda v: '{' + ' '.join('%g' % t for t in np.ravel(v)) + '}'
s = [
    ('declare real array xf(8) yf(8) q(4)', []),
    ('xf = %s' % brace(xf), []), ('yf = %s' % brace(yf), []),
    ('q = fit({0 1 2}, {1 3 5}, 1)', []), ('ftype "%.4f\\n" q', flts([2, 1, 0, 0])),
    ('ftype "%.0f\\n" #0', ['1']),
    ('q = fit(xf, yf)', []), ('ftype "%.4f\\n" q', flts(lsq(xf, yf, 0))),
    ('q = fit(xf, yf, 1)', []), ('ftype "%.4f\\n" q', flts(lsq(xf, yf, 1))),
    ('q = fit(xf, yf, 2)', []), ('ftype "%.4f\\n" q', flts(robust(xf, yf))),
    # Collinear points: the robust fit is the least-squares line.
    ('q = fit(xf, xf * 2 + 1, 2)', []), ('ftype "%.4f\\n" q', flts([2, 1, 0, 0])),
    # All x equal: slope 0, the mean of y.
    ('q = fit({3 3 3 3}, {1 2 4 9}, 1)', []), ('ftype "%.4f\\n" q', flts([0, 4, 0, 0])),
    ('q = fit({0 1}, {1 3})', []), ('ftype "%.0f\\n" #0', ['-1']),
    ('ftype "%.0f\\n" fit(5, 3)', []),
    ('declare real matrix pts(2,5) img(2,5) af(3,3) mm(3,3) m4(4,4)', []),
    ('pts = %s' % brace(pts), []), ('pts = matrix(2, 5)', []),
    ('mm = %s' % brace(M), []), ('mm = matrix(3, 3)', []),
    ('img = matmul(pts, mm)', []), ('ftype "%.3f\\n" img', flts(img, 3)),
    ('ftype "%.3f\\n" matmul(pts, mm, 1)', flts((np.hstack([pts, np.ones((5, 1), np.float32)]) @ M.T)[:, :2], 3)),
    ('af = fit(pts, pts, 8)', []), ('ftype "%.3f\\n" af', flts(np.eye(3), 3)),
    ('af = fit(img, pts, 8)', []), ('ftype "%.3f\\n" af', flts(aff, 3)),
    ('ftype "%.0f\\n" #0', ['1']),
    # Too few points for the coordinates; points on one line (singular).
    ('af = 7', []),
    ('af = fit(pts(0:1,0), pts(0:1,0), 8)', ['Too few points => under-determined system.']),
    ('ftype "%.0f %.0f\\n" #0 af(0,0)', ['0 7']),
    ('pts = {0 0 1 1 2 2 3 3 4 4}', []), ('pts = matrix(2, 5)', []),
    ('af = fit(pts, pts, 8)', []),
    ('ftype "%.0f %.0f\\n" #0 af(0,0)', ['0 7']),
    ('m4 = ramp(16, 0)', []), ('m4 = matrix(4, 4)', []),
    ('ftype "%.1f\\n" matmul(pts, m4)', flts(np.zeros(10), 1)),
]
write('func_fit', s)


# --- pointer functions, load, alert, pdstr and random ---------------------
pa = np.arange(1, 13, dtype=np.float32)
pa2 = pa.copy()
pa2[3] = 99
q43 = pa2.reshape(3, 4)  # y, x
seq = rnd(7, 9, 1)
s = [
    ('declare real array a(12)', []), ('a = ramp(12, 1)', []),
    ('declare pointer p q', []),
    ('p = pointer(a(2:5))', []), ('ftype "%.0f\\n" p', flts(pa[2:6], 0)),
    # The pointer sees the variable's data, not a copy.
    ('a(3) = 99', []), ('ftype "%.0f\\n" p', flts(pa2[2:6], 0)),
    ('q = pointer(a, 0, 4, 3)', []),
    ('ftype "%.0f\\n" row(q, sum)', flts(q43.sum(axis=1), 0)),
    ('ftype "%.0f\\n" column(q, max)', flts(q43.max(axis=0), 0)),
    ('q = pointer(a, 0, 5, 3)', ['ERROR 196: Index out of range']),
    ('q = image(a)', []), ('ftype "%.0f\\n" sum(q)', flts([pa2.sum()], 0)),
    ('p = pointer(ramp(4, 1))', ['ERROR 147 (arg 2): Argument is not a data variable']),
    ('a = pointer(a)', ['ERROR  87: Bad target for a pointer function']),
    ('p = file(a, 0, 10)', ['ERROR  65 (arg 2): File name must be a string']),
    ('declare string s', []),
    ('s = pdstr("(a)*256")', []),
    ('p = file(s, 0, 10)', ['ERROR  65 (arg 2): File name must be a string']),
    ('p = pointer(a(1:2))', []), ('ftype "%.0f\\n" p', flts(pa2[1:3], 0)),
    ('release p q', []),
    # load spreads values over variables; extra targets are left alone.
    ('declare real u v w', []), ('w = -1', []),
    ('declare real array two(2)', []), ('two = {5 6}', []),
    ('load two u v w', []), ('ftype "%.0f %.0f %.0f\\n" u v w', ['5 6 -1']),
    ('load 5 u', ['ERROR 147 (arg 2): Argument is not a data variable']),
    # alert: the button number goes to #0 and to the destination.
    ('declare integer k', []),
    ('alert("Save the file?", "!Save;Cancel;Discard")', ['Save the file?', ' <Save> Cancel Discard']),
    ('<Cancel', ['Cancel']),
    ('ftype "%.0f\\n" #0', ['2']),
    ('k = alert("Really?", "!Yes;No", 2, "Question")', ['Question', 'Really?', ' <Yes> No']),
    ('<', ['']),
    ('ftype "%d %.0f\\n" k #0', ['1 1']),
    ('k = alert("", "")', []), ('ftype "%d\\n" k', ['0']),
    # pdstr: groups, escapes, a repeat count of 0, and the limits.
    ('s = pdstr("a(bc)*3d")', []), ('ftype "%s\\n" s', ['abcbcbcd']),
    ('s = pdstr("x(y(z)*2)*2\\\\(")', []), ('ftype "%s\\n" s', ['xyzzyzz(']),
    ('s = pdstr("a(bc)*0d")', []), ('ftype "%s|\\n" s', ['ad|']),
    ('s = pdstr("a(bc*3")', []), ('ftype "%s|\\n" s', ['|']),
    ('s = pdstr("(ab)*6", 12)', []), ('ftype "%s|\\n" s', ['|']),
    ('s = pdstr("((ab)*1000)*1000")', []), ('ftype "%s|\\n" s', ['|']),
    ('s = pdstr("(ab)*5", 12)', []), ('ftype "%s|\\n" s', ['ababababab|']),
    # random: a seed restarts one sequence; calls without one carry on
    # once the clock has seeded the generator.
    ('declare real array g(9) h(3)', []),
    ('g = random(9, 7)', []), ('ftype "%.6f\\n" g', flts(seq, 6)),
    ('h = random(3, 5)', []),
    ('h = random(3)', []),
    ('g = random(6, 7)', []),
    ('h = random(3)', []), ('ftype "%.6f\\n" h', flts(seq[6:], 6)),
]
write('func_ptr', s)
