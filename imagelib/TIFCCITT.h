// CCITT fax coding of bilevel rows (ITU-T T.4 / T.6) for TIFF compressions 2, 3 and 4.
// Rows are bit strings, most significant bit first. Decoded rows have 1 for white and 0 for
// black; the encoders code 0 bits as white.
#pragma once

#include <cstdint>
#include <vector>

#include "Classes.h"

// ---- Decoding. Data holds DataLength bytes; nothing past it is read. Bit positions count
// from the first bit of Data. FillOrder 1: most significant bit first; other values: least
// significant bit first. ----

// One row of 1-D runs from BitPos; returns the bit position after the row's last code.
int64_t CCITTDecodeRuns(uint8_t* Row, const uint8_t* Data, int64_t DataLength, int Width,
                        int FillOrder, int64_t BitPos);
// One modified-Huffman row from bit 0; returns the bytes its bits touched.
int64_t CCITTDecodeRow1D(uint8_t* Row, const uint8_t* Data, int64_t DataLength, int Width,
                         int FillOrder);
// One row of 2-D coding (with the 1-D escape after an EOL) against RefRow, which then receives
// the decoded row ((Width + 7) / 8 bytes). Returns the new bit position.
int64_t CCITTDecodeRow2D(uint8_t* Row, const uint8_t* Data, int64_t DataLength, bool FillBits,
                         int FillOrder, int64_t BitPos, uint8_t* RefRow, int Width);

// ---- Encoding. Whole bytes go to the stream through the checked write (a short write sets
// Error); the pending bits of the last partial byte are kept between calls. ----

// One row from an empty bit buffer; its last partial byte is written too.
void CCITTEncodeHuffmanRow(const uint8_t* Row, int Width, TStream* Stream, bool& Error);
// One row, EOL and 1-D runs, appended to the running bit stream.
void CCITTEncodeG3Row1D(const uint8_t* Row, int Width, TStream* Stream, bool& Error,
                        int& PendingBits, uint8_t& PendingByte);
// Writes the pending bits, padded with zero bits to a whole byte.
void CCITTFlushBits(TStream* Stream, bool& Error, int& PendingBits, uint8_t& PendingByte);
// Group 3 2-D: the first row (RefRow empty) is EOL, tag 1 and 1-D runs; later rows EOL, tag 0
// and 2-D coding against RefRow. A null Row ends the image with one EOL and the padding.
void CCITTEncodeG3Row2D(const uint8_t* Row, int Width, TStream* Stream, bool& Error,
                        std::vector<uint8_t>& RefRow, int& PendingBits, uint8_t& PendingByte);
// Group 4: 2-D coding against RefRow (all white when empty), no EOLs. A null Row ends the
// image with EOFB and the padding.
void CCITTEncodeG4Row(const uint8_t* Row, int Width, TStream* Stream, bool& Error,
                      std::vector<uint8_t>& RefRow, int& PendingBits, uint8_t& PendingByte);
