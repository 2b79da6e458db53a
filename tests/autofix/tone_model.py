"""Reference model of the Zandolib tone corrector, in plain Python.

Written separately from the C++ library and kept deliberately literal: plain
integers, one pixel at a time, no shortcuts.  It is slow, but it is the
yardstick the differential test measures the library against.
"""

import math

TOLERANCE_SHAPE = bytes.fromhex(
    "e4e4e4e3e3e3e2e2e1e1e0dfdfdedddcdbdad9d8d7d6d4d3d0cecdc9c7c3c1bdbbb7b5b0aeaca9a7a3a29f9e9c9b999896959393"
    "91908f8d8c8b8a89898887868685858484838383838282828281818181818181818181818181818182828283838484868687888a"
    "8b8d8e91929597999c9ea2a4a8aaaeb0b4b6b8bcbec2c4c7c9ccced1d2d5d7d9dbdedfe2e5e6e8eaecedeff0f2f3f5f5f7f7f8f9"
    "fafafbfbfbfbfbfbfbfbfbfafaf9f9f8f8f7f7f6f5f4f4f3f2f1f0efeeeeececebeae9e8e7e6e4e3e2e0dfdddcdad9d6d5d4d3d2"
    "d0cfcecdcccccbcbcbcbcbcbcbcccccccdcececfcfd0d0d1d2d3d3d4d4d5d6d7d8d9d9dbdbdcdededfe0e1e1e2e3e4e4")
HUE_WEIGHT = bytes.fromhex(
    "e4e1dfdbd9d3d1cbc8c2bfb9b3b0aaa8a3a19d9b99989796959493929291908f8f8e8e8d8d8d8c8c8c8c8c8c8c8c8c8c8c8c8d8d"
    "8d8d8d8d8d8e8e8e8e8f8f90909191929293939494959696979899999a9b9c9c9d9e9fa0a1a2a3a4a5a6a7a8a9abacadaeb0b1b2"
    "b3b5b6b8b9bbbdbec0c2c4c6c8cacdced1d2d3d6d7d9dadcdddfdfe1e2e3e4e5e6e7e8e9eaebececedeeefeff0f1f2f3f4f4f5f6"
    "f7f7f8f9fafbfbfcfcfdfdfdfdfdfdfdfdfcfcfcfcfbfbfafaf9f9f9f8f8f7f7f7f7f6f6f6f6f5f5f5f5f4f4f4f4f4f3f3f3f3f2"
    "f2f2f2f1f1f1f1f1f0f0f0f0efefefefeeeeeeeeededededececececebebebeaeaeae9e9e8e8e7e7e6e6e6e5e5e5e4e4")
MIDTONE_WEIGHT = bytes.fromhex(
    "00010203040405060708090a0b0c0c0d0e0f10111213141415161718191a1a1b1c1d1e1f1f2021222323242526272728292a2a2b"
    "2c2d2d2e2f3030313232333434353636373838393a3a3b3b3c3d3d3e3e3f3f404041414242434344444445454646464747474848"
    "484949494a4a4a4a4a4b4b4b4b4b4b4c4c4c4c4c4c4c4c4c4c4c4c4c4c4c4c4c4b4b4b4b4b4b4b4a4a4a4a494949494848484747"
    "47464646454544444343434242414140403f3f3e3e3d3c3c3b3b3a393938383736363534343332323130302f2e2d2d2c2b2a2a29"
    "28272726252423232221201f1e1e1d1c1b1a1919181716151413131211100f0e0d0c0c0b0a0908070605040403020100")
HUE_SHIFT = bytes.fromhex(
    "86868686868686868686868686868686868686868686868686868685858585858584848484848483838383838383838383838383"
    "83838383838383848484848484848484858585858586868686878787878788888888888888888888898989898989898988888888"
    "8888888888888787878787878686868685858585848484838382828281818180807f7f7e7e7d7d7d7c7c7b7b7a7a797979787878"
    "7777767675757574747473737372727272717171717171717272727273737374747475757676767777787879797a7a7b7b7c7c7d"
    "7d7d7e7e7f7f7f8080808181818182828282838383838384848484848484858585858585858585868686868686868686")
HUE_SATURATION = bytes.fromhex(
    "80808080808080808080808080808080808080808080808080808080808181818181818282828282828383838383848484848585"
    "858586868687878788888889898a8a8a8b8b8c8c8d8d8e8e8f8f909191929293949495959697979899999a9b9c9d9d9e9fa0a0a1"
    "a2a3a3a4a4a5a5a6a6a7a7a8a8a9a9a9aaaaaaaaabababababababababababababaaaaaaaaa9a9a9a8a8a7a7a6a6a5a5a4a4a3a3"
    "a2a2a1a0a09f9e9e9d9c9c9b9b9a9a9999989897979696959594949493939292919190908f8f8f8e8e8e8d8d8d8c8c8b8b8b8a8a"
    "8a8989898888888787878686868585858484848483838383828282828281818181818181818180808080808080808080")
SAT_BY_DENSITY = bytes.fromhex(
    "00080d171d2a313f47565d6d7c839197a4a9b3b7bec1c6c8cdcfd1d5d8dcdde1e3e6e8ebecedf0f1f2f3f5f5f6f6f7f8f8f9fafa"
    "fbfbfcfdfdfdfefefefffffffffffffffffffffffffffefefefefdfdfdfdfcfcfbfbfafafaf9f9f8f7f7f6f5f4f2f1efeeeceae7"
    "e6e2e0dcd9d5d3d0ccc9c4c2bdbab5b3aeaba8a3a19b9994918c8984827d7a75726d6a65605d5856504e4946413f3a3834312d2b"
    "282622211e1b191716141311100f0e0d0c0b0b0a0909080707060605050504040403030303030202020202020101010101010000"
    "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000")

for _t in (TOLERANCE_SHAPE, HUE_WEIGHT, MIDTONE_WEIGHT, HUE_SHIFT, HUE_SATURATION, SAT_BY_DENSITY):
    assert len(_t) == 256


def tdiv(a, b):
    """Integer division truncating toward zero."""
    q = abs(a) // abs(b)
    return q if (a >= 0) == (b >= 0) else -q


def clamp(v, lo, hi):
    return lo if v < lo else hi if v > hi else v


def sign(v):
    return (v > 0) - (v < 0)


# Fixed tables
W_R = [85 * i // 256 for i in range(256)]
W_R[255] = 85
W_G = [142 * i // 256 for i in range(256)]
W_G[254] = 141
W_G[255] = 142
W_B = [28 * i // 256 for i in range(256)]
W_B[253] = 28
W_B[255] = 28
TOLERANCE = [s * 70 // 256 for s in TOLERANCE_SHAPE]
RECIP6 = [255] + [65536 // (6 * i) for i in range(1, 256)]
RECIP = [65535, 65535] + [((2 ** 24 // i) + 128) >> 8 for i in range(2, 256)]
SHAPING = [64 - (((i - 128) ** 2) >> 8) for i in range(256)]


def hue_index(a, b, c):
    mx = max(a, b, c)
    mn = min(a, b, c)
    if mx == mn:
        return 0
    t = RECIP6[mx - mn]
    if a == mn:
        return (128 - (((b - c) * t) >> 8)) % 256
    if b == mn:
        return (213 - (((c - a) * t) >> 8)) % 256
    return (43 - (((a - b) * t) >> 8)) % 256


# --- spline -----------------------------------------------------------------

def spline_knot(j, last):
    if j < 4:
        return 0
    if j <= last:
        return j - 3
    return last - 2


def spline_basis(i, k, t, last):
    ui = spline_knot(i, last)
    if k == 1:
        return 1.0 if ui <= t < spline_knot(i + 1, last) else 0.0
    total = 0.0
    den1 = spline_knot(i + k - 1, last) - ui
    if den1 != 0:
        total = total + (t - ui) * spline_basis(i, k - 1, t, last) / den1
    uik = spline_knot(i + k, last)
    den2 = uik - spline_knot(i + 1, last)
    if den2 != 0:
        total = total + (uik - t) * spline_basis(i + 1, k - 1, t, last) / den2
    return total


_basis_cache = {}


def _basis_rows(n):
    """Basis weights of the 33 samples for n control points (they depend on n only)."""
    rows = _basis_cache.get(n)
    if rows is None:
        last = n - 1
        step = (n - 3) / 32
        t = 0.0
        rows = []
        for _ in range(33):
            row = []
            for i in range(last + 1):
                if i == last and t == last - 2:
                    row.append(1.0)
                else:
                    row.append(spline_basis(i, 4, t, last))
            rows.append(row)
            t = t + step
        _basis_cache[n] = rows
    return rows


def curve_byte(y):
    v = math.trunc(y / 257 + 0.5)
    v = ((v + 32768) & 0xFFFF) - 32768
    return clamp(v, 0, 255)


def fill_segment(out, a, b, y0, y1):
    assert 0 <= a <= 255 and 0 <= b <= 255, (a, b)
    if a == b:
        out[a] = curve_byte(y0)
        return
    slope = (y1 - y0) / (b - a)
    y = y0
    x = a
    while x <= b:
        out[x] = curve_byte(y)
        y = y + slope
        x += 1


def spline_to_curve(points, out):
    n = len(points)
    xs = [p[0] for p in points]
    # Control y is kept inside the byte range before scaling (see the library's note).
    ys = [(clamp(p[1], 0, 255) * 257) & 0xFFFF for p in points]
    prev = None
    for row in _basis_rows(n):
        x = 0.0
        y = 0.0
        for i in range(n):
            x = x + row[i] * xs[i]
            y = y + row[i] * ys[i]
        if prev is not None:
            fill_segment(out, math.trunc(prev[0] + 0.5), math.trunc(x + 0.5), prev[1], y)
        prev = (x, y)


# --- curve helpers ----------------------------------------------------------

def draw_curve_line(curve, x0, x1, y0, y1):
    dx = x1 - x0
    dy = y1 - y0
    sx = sign(dx)
    sy = sign(dy)
    adx = abs(dx)
    ady = abs(dy)
    n = max(adx, ady)
    x, y = x0, y0
    ex = ey = 0
    for _ in range(n + 1):
        ex += adx
        ey += ady
        moved = False
        if ex > n:
            ex -= n
            x += sx
            moved = True
        if ey > n:
            ey -= n
            y += sy
            moved = True
        if moved:
            curve[x] = y
    curve[x0] = y0


def invert_curve(curve):
    copy = list(curve)
    prev = 0
    for i in range(1, 256):
        y = max(copy[i], prev)
        draw_curve_line(curve, prev, y, i - 1, i)
        prev = y
    draw_curve_line(curve, prev, 255, 255, 255)


def shift_curve(s):
    a = abs(s)
    out = [clamp(i + ((MIDTONE_WEIGHT[i] * a + 64) >> 7), 0, 255) for i in range(256)]
    if s < 0:
        invert_curve(out)
    return out


# --- engine -----------------------------------------------------------------

class Model:
    def __init__(self):
        self.hist = [0] * 256
        self.sums = [[0, 0, 0] for _ in range(3)]
        self.counts = [0, 0, 0]
        self.total = 0
        self.final = [[0] * 256 for _ in range(3)]
        self.balance = [[0] * 256 for _ in range(3)]
        self.levels = None  # (lo, lo_out, hi, hi_out, shift) of the last build

    def reset(self):
        self.hist = [0] * 256
        self.sums = [[0, 0, 0] for _ in range(3)]
        self.counts = [0, 0, 0]
        self.total = 0

    def prepare(self, pixels, width, height):
        """pixels: (R, G, B) tuples, rows first to last, left to right."""
        for (r, g, b) in pixels:
            dr, dg, db = 255 - r, 255 - g, 255 - b
            self.hist[W_R[dr] + W_G[dg] + W_B[db]] += 1
            f = min(dr, dg, db)
            h = hue_index(r, g, b)
            if 10 <= f <= 245:
                lim = f + TOLERANCE[h]
                if dr < lim and dg < lim and db < lim:
                    w = HUE_WEIGHT[h]
                    band = 0 if f < 66 else 1 if f < 191 else 2
                    self.sums[band][0] += (dr * w) >> 8
                    self.sums[band][1] += (dg * w) >> 8
                    self.sums[band][2] += (db * w) >> 8
                    self.counts[band] += 1
        # Only pixels actually processed count.
        if width > 0 and height > 0:
            self.total += width * height
        low = self.total & 0xFFFFFFFF
        return low - (1 << 32) if low >= 1 << 31 else low

    def measure_bands(self):
        summary = []
        for b, default in enumerate((33, 128, 222)):
            if self.counts[b] > 0:
                means = [tdiv(self.sums[b][c], self.counts[b]) for c in range(3)]
                lum = W_R[means[0]] + W_G[means[1]] + W_B[means[2]]
            else:
                lum = default
                means = [default] * 3
            clamped = [min(max(m, lum - 30), lum + 30) for m in means]
            summary.append((lum, clamped))
        return summary

    def build_balance(self):
        n500 = tdiv(self.total, 500)
        summary = self.measure_bands()
        (l0, m0s), (l1, m1s), (l2, m2s) = summary
        c0, c2 = self.counts[0], self.counts[2]
        for k in range(3):
            m0, m1, m2 = m0s[k], m1s[k], m2s[k]
            if c0 > n500:
                p1 = (m0, l0)
            elif c0 > 0:
                a = tdiv(l1 * 33, m1)
                p1 = (33 + tdiv((m0 - 33) * c0, n500), a + tdiv((l0 - a) * c0, n500))
            else:
                p1 = (33, tdiv(l1 * 33, m1))
            if c2 > n500:
                p3 = (m2, l2)
            elif c2 > 0:
                a = 255 - tdiv((255 - l1) * 33, 255 - m1)
                p3 = (222 + tdiv((m2 - 222) * c2, n500), a + tdiv((l2 - a) * c2, n500))
            else:
                p3 = (222, 255 - tdiv((255 - l1) * 33, 255 - m1))
            spline_to_curve([(0, 0), p1, (m1, l1), p3, (255, 255)], self.balance[k])

    def build_levels(self):
        hist = self.hist
        tot = sum(hist)
        limit = (tot * 6) >> 8
        acc = 0
        lo = 0
        while lo < 256 and acc < limit:
            acc += hist[lo]
            lo += 1
        lo = clamp(lo, 10, 250)
        limit = (tot * 4) >> 8
        acc = 0
        cnt = 0
        while cnt < 256 and acc < limit:
            acc += hist[255 - cnt]
            cnt += 1
        hi = clamp(255 - cnt, 30, 250)

        s = clamp(tdiv((128 - (lo + ((hi - lo) >> 1))) * 40, 100), -64, 64)
        mid = shift_curve(s)

        if hi - lo < 150:
            c = lo + ((hi - lo) >> 1)
            top = c + 75
            bot = c - 75
            over = 255 - top if top > 255 else 0
            under = bot if bot < 0 else 0
            lo = clamp(bot + over, 0, 255)
            hi = clamp(top + under, 0, 255)

        lo_out = lo - (((lo - 13) * 80) >> 7)
        lo_out = min(max(lo_out, 13), lo)
        hi_out = hi + (((242 - hi) * 80) >> 7)
        hi_out = min(max(hi_out, hi), 242)

        if lo < hi:
            if hi - lo < 70:
                e = (70 - (hi - lo)) >> 1
                lo -= e
                hi += e
        else:
            if lo - hi < 70:
                e = (70 - (lo - hi)) >> 1
                lo += e
                hi -= e
        lo = clamp(lo, 10, 250)
        hi = clamp(hi, 30, 250)

        lv = [0] * 256
        spline_to_curve([(0, 0), (lo, lo_out), (lo, lo_out), (hi, hi_out), (hi, hi_out), (255, 255)], lv)
        comp = [lv[mid[i]] for i in range(256)]
        for k in range(3):
            bal = self.balance[k]
            self.final[k] = [255 - comp[bal[255 - v]] for v in range(256)]
        self.levels = (lo, lo_out, hi, hi_out, s)

    def complete(self):
        for i in (0, 1, 2, 3, 252, 253, 254, 255):
            self.hist[i] = 0
        self.build_balance()
        self.build_levels()

    def adjust(self, s):
        for k in range(3):
            copy = self.final[k]
            self.final[k] = [clamp(i + tdiv((copy[i] - i) * s + 127, 255), 0, 255) for i in range(256)]

    def correct_pixel(self, r, g, b):
        px = [self.final[0][r], self.final[1][g], self.final[2][b]]
        h = hue_index(px[0], px[1], px[2])
        d = HUE_SHIFT[h] - 128
        if d != 0:
            h = rotate_hue(px, d)
        sat = HUE_SATURATION[h] - 128
        dens = [255 - v for v in px]
        m0 = min(dens)
        parts = [v - m0 for v in dens]
        lvl = (sat * SAT_BY_DENSITY[m0]) >> 8
        m = m0
        for j in range(3):
            if parts[j] > 0:
                o = (lvl * SHAPING[parts[j]]) >> 6
                if o > 0:
                    parts[j] += o
                    m -= o >> 1
                else:
                    m -= o
        if m < 0:
            m = 0
        return tuple(255 - min(p + m, 255) for p in parts)


def rotate_hue(px, d):
    r, g, b = px
    mx = max(r, g, b)
    mn = min(r, g, b)
    delta = mx - mn
    hh = s = v = 0
    if mx > 0:
        v = mx
        s = (delta << 16) // mx
        if s != 0:
            if r == mx:
                hh = (g - b) * RECIP[delta]
            elif g == mx:
                hh = (b - r) * RECIP[delta] + 0x20000
            else:
                hh = (r - g) * RECIP[delta] + 0x40000
    hh += d * 512
    if hh < 0:
        hh += 0x60000
    if hh >= 0x60000:
        hh -= 0x60000
    if s == 0 and hh == 0:
        px[:] = [v, v, v]
        return 0
    sector = hh >> 16
    f = hh & 0xFFFF
    p = (v * (65536 - s)) >> 16
    q = (v * (65536 - (s >> 8) * (f >> 8))) >> 16
    t = (v * (65536 - (s >> 8) * ((65536 - f) >> 8))) >> 16
    px[:] = [(v, t, p), (q, v, p), (p, v, t), (p, q, v), (t, p, v), (v, p, q)][sector]
    return ((hh >> 8) * 10922) >> 16


# Where the three colour bytes of one pixel lie, by layout code.
LAYOUTS = {3: (3, (0, 1, 2)), 4: (4, (1, 2, 3)), -3: (3, (2, 1, 0)), -4: (4, (2, 1, 0))}


def read_pixels(buf, first, stride, width, height, layout):
    step, (orr, og, ob) = LAYOUTS[layout]
    out = []
    for y in range(max(height, 0)):
        row = first + y * stride
        for x in range(max(width, 0)):
            p = row + x * step
            out.append((buf[p + orr], buf[p + og], buf[p + ob]))
    return out


def apply(model, src, sfirst, sstride, dst, dfirst, dstride, width, height, layout):
    """Correct src into dst (which may be the same bytearray); only colour bytes change."""
    step, (orr, og, ob) = LAYOUTS[layout]
    for y in range(max(height, 0)):
        srow = sfirst + y * sstride
        drow = dfirst + y * dstride
        for x in range(max(width, 0)):
            sp = srow + x * step
            dp = drow + x * step
            r, g, b = model.correct_pixel(src[sp + orr], src[sp + og], src[sp + ob])
            dst[dp + orr] = r
            dst[dp + og] = g
            dst[dp + ob] = b
