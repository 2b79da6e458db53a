// The data blocks appended to the player's own file: the reader of one block and of the
// length-prefixed strings inside blocks.
//
// File layout: player image, then block M data + trailer M, ..., block 0 data + trailer 0.
// A trailer is 12 bytes: uint32 offset of the block's first byte, uint32 size, "gdim".
// Block 0 holds the settings, block 1 the music, blocks 2..N+1 the photos.
#pragma once

#include <cstdint>
#include <string>

#include "Classes.h"

constexpr int64_t kBlockTrailerSize = 12;

// Copies block k of the named file into Dest, replacing its contents, and leaves Dest's
// position at its end. False when the block does not exist; the file is untrusted, so a
// trailer that is missing, points outside the file or overlaps the trailers after it also
// reads as "no block". Raises EFOpenError when the file cannot be opened.
bool ReadAppendedBlock(const std::string& FileName, int k, TMemoryStream* Dest);

// The file the player reads its own blocks from. On Linux this is /proc/self/exe, the running
// image itself, which stays readable even when the file is replaced by rename meanwhile.
std::string OwnDataFileName();
// Tests point the player at a built file instead; an empty name restores the default.
void SetOwnDataFileName(const std::string& FileName);

// Reads one length-prefixed string (int32 byte count, then the bytes) at the stream's
// position. The bytes are returned as they are. Raises EReadError when the count is negative
// or larger than what is left of the stream, so a hostile count never allocates.
std::string ReadPayloadString(TStream* S);

// Texts in blocks come from an unknown Windows code page: valid UTF-8 is taken as it is,
// anything else is read as Windows-1252. The result is UTF-8.
std::string DecodePayloadText(const std::string& Bytes);
