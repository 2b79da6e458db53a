// Writing and listing the data blocks that turn a copy of the bare player into a personal
// screen saver or slideshow. This plays the part of the album program's packer; it shares no
// code with the player's reader, so each can check the other.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace gdpack {

using Bytes = std::vector<uint8_t>;

constexpr char kMagic[4] = {'g', 'd', 'i', 'm'};
constexpr size_t kTrailerSize = 12;
constexpr size_t kTextCount = 26;

// The settings record of block 0, field for field. Strings are written as their bytes.
struct Block0 {
    int32_t PhotoCount = 0;
    std::string Unused;
    std::string AboutText;
    int32_t Background = 0;
    int32_t Duration = 0;
    int32_t Effect = 0;
    int32_t EffectDuration = 0;
    uint8_t Random = 0;
    uint8_t AutoFit = 0;
    uint8_t Showname = 0;
    int32_t NamePosition = 0;
    uint8_t Loop = 0;
    std::string NameFont;
    int32_t NameSize = 0;
    uint8_t NameShowBackground = 0;
    int32_t NameBackground = 0;
    int32_t NameColor = 0;
    std::string MusicName;
    std::array<std::string, kTextCount> Texts;
};

// What `gdpack build` starts from: a show that works as it is. The settings dialog's
// starting values (5 s per photo, crossfade of 2 s, titles on at 12 pt, white on black, bottom
// centre), photos fitted to the screen, looping in order, and the user-interface texts the
// player's dialogs are built with (a short help page in their markup included).
Block0 NewShowSettings();

// The record's bytes in file order: 161 bytes when every string is empty.
Bytes EncodeBlock0(const Block0& b);
// Sets one field by its name ("Duration", "Random", "NameFont", ...); false for an unknown
// name, a value that is no number where one is needed, or a number the field cannot hold
// (never wrapped: 4294967295 is no -1).
bool SetBlock0Field(Block0& b, const std::string& name, const std::string& value);
// A number as the command line gives it: decimal, optionally negative, or 0x hex. A value
// beyond 63 bits is taken as the largest (or smallest) int64, so it falls outside every
// range. False when the text is no number.
bool ParseNumber(const std::string& s, int64_t& out);

struct Photo {
    std::string Name, Comment;
    Bytes Image;
};
Bytes EncodePhoto(const Photo& p);

void AppendLE32(Bytes& out, uint32_t v);
void AppendString(Bytes& out, const std::string& s);
// Appends one block: its data, then the trailer that records where the data started.
void AppendBlock(Bytes& file, const Bytes& data);

// A player file in the writer's order: the bare player, the photos from the first shown
// (block N+1) to the last (block 2), the music block (present even when empty), block 0.
struct PlayerFile {
    Bytes Base;
    std::vector<Photo> Photos;   // in show order
    Bytes Music;
    Block0 Settings;
    bool SetPhotoCount = true;   // PhotoCount := number of photos when writing

    Bytes Build() const;
};

// One trailer found by walking back from the end of a file.
struct BlockEntry {
    int Number = 0;
    uint32_t Offset = 0, Size = 0;
};
// Every block reachable from the end of the file, block 0 first; the walk stops at the first
// trailer that is missing or inconsistent.
std::vector<BlockEntry> ListBlocks(const Bytes& file);

Bytes ReadFileBytes(const std::string& path);       // throws std::runtime_error
void WriteFileBytes(const std::string& path, const Bytes& data, bool executable);

}  // namespace gdpack
