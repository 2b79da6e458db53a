#!/usr/bin/env python3
"""Differential test: random correction jobs through the library and through
the Python model, compared bit for bit (curves, levels points, totals and
every byte of every corrected buffer).

usage: differential_test.py HARNESS [--cases N] [--seed S]
"""

import argparse
import os
import random
import struct
import subprocess
import sys

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tone_model as tm  # noqa: E402

STEP = {3: 3, 4: 4, -3: 3, -4: 4}


def clamp8(v):
    return 0 if v < 0 else 255 if v > 255 else v


def make_pixels(rng, kind, w, h):
    n = w * h
    if kind == "noise":
        return [(rng.randrange(256), rng.randrange(256), rng.randrange(256)) for _ in range(n)]
    if kind == "single":
        c = (rng.randrange(256), rng.randrange(256), rng.randrange(256))
        return [c] * n
    if kind == "grey":
        v = rng.randrange(256)
        return [(v, v, v)] * n
    if kind == "cast":
        base = [rng.randrange(256) for _ in range(3)]
        k = rng.choice((2, 8, 20))
        return [tuple(clamp8(b + rng.randint(-k, k)) for b in base) for _ in range(n)]
    if kind in ("ramp", "toned"):
        # Grey ramp with a colour cast that differs per tonal range.
        casts = [[rng.randint(-25, 25) for _ in range(3)] for _ in range(3)]
        noise = rng.choice((0, 3, 10))
        out = []
        for y in range(h):
            for x in range(w):
                v = ((x + y * w) * 255) // max(n - 1, 1) if kind == "ramp" else rng.randrange(256)
                band = 0 if v > 189 else 1 if v > 64 else 2
                out.append(tuple(clamp8(v + casts[band][c] + rng.randint(-noise, noise)) for c in range(3)))
        return out
    if kind == "gradient":
        a = [rng.randrange(256) for _ in range(3)]
        b = [rng.randrange(256) for _ in range(3)]
        return [tuple(a[c] + (b[c] - a[c]) * i // max(n - 1, 1) for c in range(3)) for i in range(n)]
    if kind == "extreme":
        lo, hi = rng.choice(((0, 30), (225, 255), (0, 12), (243, 255), (100, 140)))
        return [(rng.randint(lo, hi), rng.randint(lo, hi), rng.randint(lo, hi)) for _ in range(n)]
    if kind == "sparse":
        # Fully saturated colours (never near-neutral) with a few neutral
        # pixels, so that a band has pixels but at most one in 500 of them.
        out = []
        for _ in range(n):
            c = [rng.randrange(256) for _ in range(3)]
            i = rng.randrange(3)
            c[i] = 0
            c[(i + rng.choice((1, 2))) % 3] = 255
            out.append(tuple(c))
        for _ in range(rng.randint(1, max(1, n // 500))):
            v = rng.choice((rng.randint(190, 244), rng.randint(11, 64), rng.randint(65, 189)))
            out[rng.randrange(n)] = (v, clamp8(v + rng.randint(-5, 5)), clamp8(v + rng.randint(-5, 5)))
        return out
    raise ValueError(kind)


KINDS = ["noise", "single", "grey", "cast", "ramp", "toned", "gradient", "extreme", "sparse"]


def make_buffer(rng, pixels, w, h, layout, fill=None):
    """Lay pixels out in a buffer with padding, maybe bottom-up; returns (bytes, stride, first)."""
    step = STEP[layout]
    rowbytes = w * step + rng.choice((0, 0, 1, 3, 8))
    size = rowbytes * h
    buf = bytearray(rng.randrange(256) for _ in range(size)) if fill is None else bytearray([fill]) * size
    bottom_up = rng.random() < 0.25
    stride = -rowbytes if bottom_up else rowbytes
    first = (h - 1) * rowbytes if bottom_up else 0
    _, offs = tm.LAYOUTS[layout]
    if pixels is not None:
        for y in range(h):
            for x in range(w):
                p = first + y * stride + x * step
                px = pixels[y * w + x]
                for c in range(3):
                    buf[p + offs[c]] = px[c]
    return buf, stride, first


def gen_case(rng):
    case = {"prep": [], "adj": [], "apply": []}
    for _ in range(rng.choice((1, 1, 1, 2, 3))):
        kind = rng.choice(KINDS)
        layout = rng.choice((3, 4, -3, -4))
        if kind == "sparse":
            w, h = rng.randint(25, 60), rng.randint(25, 40)
        elif rng.random() < 0.15:
            w, h = rng.randint(1, 3), rng.randint(1, 3)
        else:
            w, h = rng.randint(4, 32), rng.randint(4, 32)
        pixels = make_pixels(rng, kind, w, h)
        buf, stride, first = make_buffer(rng, pixels, w, h, layout)
        case["prep"].append((layout, w, h, stride, first, buf, pixels))
    if rng.random() < 0.05:
        # Empty and negative sizes read nothing and add nothing.
        case["prep"].append((rng.choice((3, -4)), rng.choice((0, -5, 7)), rng.choice((0, -5)), 21, 0, bytearray(), []))
    for _ in range(rng.choice((0, 0, 1, 1, 2, 3))):
        case["adj"].append(rng.choice((0, 255, 128, 64, -100, -255, 300, 511, 32767, -32768, rng.randint(-400, 700))))
    for _ in range(rng.choice((1, 1, 2))):
        layout = rng.choice((3, 4, -3, -4))
        copy = rng.random() < 0.4
        if rng.random() < 0.5:
            src_pixels = case["prep"][0][6]
            w, h = case["prep"][0][1], case["prep"][0][2]
        else:
            w, h = rng.randint(1, 24), rng.randint(1, 24)
            src_pixels = make_pixels(rng, rng.choice(KINDS[:-1]), w, h)
        if w <= 0 or h <= 0:
            w, h = 2, 2
            src_pixels = make_pixels(rng, "noise", w, h)
        src = make_buffer(rng, src_pixels, w, h, layout)
        dst = make_buffer(rng, None, w, h, layout) if copy else None
        case["apply"].append((layout, copy, w, h, src, dst))
    return case


def encode(cases):
    out = [struct.pack("<I", len(cases))]
    for case in cases:
        out.append(struct.pack("<B", len(case["prep"])))
        for layout, w, h, stride, first, buf, _ in case["prep"]:
            out.append(struct.pack("<bhhiII", layout, w, h, stride, first, len(buf)))
            out.append(bytes(buf))
        out.append(struct.pack("<B", len(case["adj"])))
        for s in case["adj"]:
            out.append(struct.pack("<h", s))
        out.append(struct.pack("<B", len(case["apply"])))
        for layout, copy, w, h, src, dst in case["apply"]:
            out.append(struct.pack("<bBhh", layout, int(copy), w, h))
            for b in ([src, dst] if copy else [src]):
                buf, stride, first = b
                out.append(struct.pack("<iII", stride, first, len(buf)))
                out.append(bytes(buf))
    return b"".join(out)


class Reader:
    def __init__(self, data):
        self.data = data
        self.pos = 0

    def take(self, n):
        if self.pos + n > len(self.data):
            raise RuntimeError("harness output too short")
        chunk = self.data[self.pos:self.pos + n]
        self.pos += n
        return chunk


def curves_text(a, b):
    diffs = [i for i in range(256) if a[i] != b[i]]
    return "first differences at %s: library %s, model %s" % (
        diffs[:8], [a[i] for i in diffs[:8]], [b[i] for i in diffs[:8]])


def check(cases, output):
    rd = Reader(output)
    model = tm.Model()  # persists across cases, as the library's engine does
    failures = []
    for ci, case in enumerate(cases):
        where = "case %d" % ci

        def fail(msg):
            failures.append("%s: %s" % (where, msg))

        model.reset()
        for layout, w, h, stride, first, buf, _ in case["prep"]:
            pixels = tm.read_pixels(buf, first, stride, w, h, layout) if w > 0 and h > 0 else []
            want = model.prepare(pixels, w, h)
            got = struct.unpack("<i", rd.take(4))[0]
            if got != want:
                fail("Prepare total %d, model %d" % (got, want))
        model.complete()
        for s in case["adj"]:
            model.adjust(s)
        balance = rd.take(768)
        final = rd.take(768)
        levels = struct.unpack("<5i", rd.take(20))
        if levels != model.levels:
            fail("levels points %s, model %s" % (levels, model.levels))
        for k in range(3):
            if list(balance[256 * k:256 * k + 256]) != model.balance[k]:
                fail("balance curve %d: %s" % (k, curves_text(balance[256 * k:], model.balance[k])))
            if list(final[256 * k:256 * k + 256]) != model.final[k]:
                fail("final curve %d: %s" % (k, curves_text(final[256 * k:], model.final[k])))
        for ai, (layout, copy, w, h, src, dst) in enumerate(case["apply"]):
            sbuf, sstride, sfirst = src
            if copy:
                dbuf, dstride, dfirst = dst
                want = bytearray(dbuf)
                tm.apply(model, sbuf, sfirst, sstride, want, dfirst, dstride, w, h, layout)
                got = rd.take(len(dbuf))
                got_src = rd.take(len(sbuf))
                if got_src != bytes(sbuf):
                    fail("apply %d changed its source" % ai)
            else:
                want = bytearray(sbuf)
                tm.apply(model, sbuf, sfirst, sstride, want, sfirst, sstride, w, h, layout)
                got = rd.take(len(sbuf))
            if got != bytes(want):
                bad = [i for i in range(len(want)) if got[i] != want[i]]
                fail("apply %d (layout %d, %s, %dx%d): %d bytes differ, first at %d: library %d, model %d" % (
                    ai, layout, "copy" if copy else "in place", w, h, len(bad), bad[0], got[bad[0]], want[bad[0]]))
        if len(failures) > 20:
            break
    if not failures and rd.pos != len(output):
        failures.append("harness wrote %d extra bytes" % (len(output) - rd.pos))
    return failures


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("harness")
    ap.add_argument("--cases", type=int, default=300)
    ap.add_argument("--seed", type=int, default=20240517)
    args = ap.parse_args()
    rng = random.Random(args.seed)
    cases = [gen_case(rng) for _ in range(args.cases)]
    proc = subprocess.run([args.harness], input=encode(cases), stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if proc.returncode != 0:
        print("harness failed (%d): %s" % (proc.returncode, proc.stderr.decode(errors="replace")))
        return 1
    failures = check(cases, proc.stdout)
    for f in failures:
        print(f)
    if failures:
        print("FAILED: library and model differ (seed %d)" % args.seed)
        return 1
    kinds = sum(len(c["prep"]) for c in cases)
    print("OK: %d cases, %d analysed buffers, identical to the model" % (len(cases), kinds))
    return 0


if __name__ == "__main__":
    sys.exit(main())
