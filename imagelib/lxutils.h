// Bit, byte, colour and bitmap helpers that the codecs and views share.
#pragma once

#include <cstdint>
#include <memory>

#include "Classes.h"
#include "Graphics.h"
#include "Win32.h"
#include "lxdefs.h"

// Bytes of a 4-byte aligned row; computed in 64 bits, EIntOverflow past Width x Bits = 2^31 - 32.
int RowBytes(int Width, int Bits);

// Bit n of a row, MSB first (bit 0x80 >> (n % 8) of byte n / 8): 0 or 1.
int GetBit(const uint8_t* Row, int n);
void SetBit(uint8_t* Row, int n, bool Value);
// Copies Count bits from Source (starting at bit SourceBit) to Dest (starting at DestBit).
void CopyBitRun(uint8_t* Dest, const uint8_t* Source, int DestBit, int SourceBit, int Count);

uint16_t Swap16(uint16_t v);
uint32_t Swap32(uint32_t v);
