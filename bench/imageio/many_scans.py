#!/usr/bin/env python3
"""Writes a greyscale progressive JPEG of one flat grey whose scans are mostly empty: one DC
scan, then AC scans over coefficients 1-63 that are nothing but end-of-band runs (a few hundred
bytes each for a 16384 x 16384 page), so a small file can ask the decoder for many passes over
its whole coefficient image.

  many_scans.py OUT WIDTH HEIGHT SCANS [first|refine] [PAD]

first: every AC scan is a first scan (Ah 0, Al 0); refine: one first scan at Al 1, then
refinement scans (Ah 1, Al 0), which make the decoder look at every coefficient of the band. PAD: zeros after the end of
the image up to that many bytes, so the file is as large as a decoder's size budget wants.
"""
import struct
import sys


class Bits:
    def __init__(self):
        self.out = bytearray()
        self.acc = 0
        self.n = 0

    def put(self, value, count):
        for i in range(count - 1, -1, -1):
            self.acc = (self.acc << 1) | ((value >> i) & 1)
            self.n += 1
            if self.n == 8:
                self.out.append(self.acc)
                if self.acc == 0xFF:
                    self.out.append(0)
                self.acc = 0
                self.n = 0

    def flush(self):
        while self.n:
            self.put(1, 1)
        return bytes(self.out)


def segment(code, body):
    return bytes([0xFF, code]) + struct.pack('>H', len(body) + 2) + body


def huffman(tc_th, symbols):
    # One symbol: code '0'; two: '00' and '01' (a code of all ones is not allowed).
    counts = [0] * 16
    counts[len(symbols) - 1] = len(symbols)
    return bytes([tc_th]) + bytes(counts) + bytes(symbols)


def sos(ss, se, ah, al, table):
    return segment(0xDA, bytes([1, 1, table, ss, se, (ah << 4) | al]))


def eob_runs(blocks):
    # Runs of 32767 blocks (EOB14 with all 14 extra bits set) as code '00', the rest as one
    # shorter run EOBr, code '01'. Returns the scan's bytes and r.
    b = Bits()
    while blocks >= 32767:
        b.put(0, 2)
        b.put(0x3FFF, 14)
        blocks -= 32767
    if blocks:
        r = blocks.bit_length() - 1
        b.put(1, 2)
        b.put(blocks - (1 << r), r)
    return b.flush(), (blocks.bit_length() - 1 if blocks else 0)


def main():
    out, w, h, scans = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
    kind = sys.argv[5] if len(sys.argv) > 5 else 'first'
    blocks = ((w + 7) // 8) * ((h + 7) // 8)
    data, r = eob_runs(blocks)
    f = bytearray(b'\xff\xd8')
    f += segment(0xDB, bytes([0]) + bytes([1] * 64))
    f += segment(0xC2, bytes([8]) + struct.pack('>HH', h, w) + bytes([1, 1, 0x11, 0]))
    f += segment(0xC4, huffman(0x00, [0]))                       # DC: difference 0
    f += segment(0xC4, huffman(0x10, [0xE0, (r << 4) & 0xF0]))   # AC: EOB14, EOBr
    dc = Bits()
    for _ in range(blocks):
        dc.put(0, 1)
    f += sos(0, 0, 0, 0, 0x00) + dc.flush()
    for i in range(scans - 1):
        if kind == 'refine' and i > 0:
            f += sos(1, 63, 1, 0, 0x00) + data
        else:
            f += sos(1, 63, 0, 1 if kind == 'refine' else 0, 0x00) + data
    f += b'\xff\xd9'
    pad = int(sys.argv[6]) if len(sys.argv) > 6 else 0
    f += bytes(max(0, pad - len(f)))
    open(out, 'wb').write(f)


main()
