// Per-pixel loops that run every frame of a transition, in plain C++ and, where the processor
// has them, with AVX2 or AVX-512 instructions. The widest path is chosen by CPUID at first
// use; every path gives the same bytes as the plain one.
#pragma once

#include <cstddef>
#include <cstdint>

enum class TLXPixelPath { Scalar = 0, Avx2 = 1, Avx512 = 2 };

// The widest path this processor and system support.
TLXPixelPath LXBestPixelPath();
// The path in use: the best one, unless a test asked for a narrower one.
TLXPixelPath LXActivePixelPath();
// Tests: use at most this path; -1 returns to the best one.
void LXForcePixelPathForTesting(int Path);

// R[i] := (A[i] x (1024 - P) + B[i] x P) shr 10 for N bytes; P in 0..1024.
void LXBlendRow(const uint8_t* A, const uint8_t* B, uint8_t* R, size_t N, int P);

// Pixels 24-bit B, G, R pixels onto 32-bit B, G, R, 255 pixels. Reads exactly 3 x Pixels bytes.
void LXExpand24To32Row(const uint8_t* Src, uint32_t* Dst, size_t Pixels);
