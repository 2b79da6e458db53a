// What `gdpack build` checks before it writes a show: that the player can show each photo,
// play the music and take every setting. Photos are read the way the player reads them,
// through the image library; the music is told by its content.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "MusicCheck.h"
#include "PlayerFile.h"

namespace gdpack {

// Why the player cannot show this image (the bytes after a photo block's two strings), or
// "" when it can: its format detected from the content, its header read through the image
// library, then the picture decoded whole, as the show does (a header that reads does not
// promise a picture: a compression, colour space or layout the reader refuses).
std::string PhotoProblem(const Bytes& Image);

// The type of a music file by its content, among those the player's media stack plays
// (GStreamer with its base, good and libav plugins): "WAV", "AIFF", "MP3", "Ogg Vorbis",
// "Ogg Opus", "Ogg FLAC", "Ogg Speex", "FLAC", "AAC", "MP4 audio", "Matroska"; "" for anything
// else (WMA and MIDI among them: no decoder of those is in that stack), and for a file of one
// of those kinds that holds no audio (InspectMusic tells why).
std::string MusicType(const Bytes& Music);
std::string MusicType(const ByteSource& Music);
// Why the player would not play this music block under this MusicName (only its extension
// counts, and it must be one the player takes), or "". A FileSource reads only the headers.
std::string MusicProblem(const Bytes& Music, const std::string& MusicName);
std::string MusicProblem(const ByteSource& Music, const std::string& MusicName);

// The values a numeric field of block 0 may take, as the player and its settings dialog
// know them.
struct FieldRange {
    const char* Field;
    int64_t Min, Max;
    const char* Meaning;          // for the message: what the numbers stand for
    bool SystemColours = false;   // also the class library's system colours 0x80000000..0x80000018
};
const std::vector<FieldRange>& FieldRanges();
// Every numeric field of the record outside its range, as "Effect=99 is outside 0..7 (...)".
std::vector<std::string> SettingProblems(const Block0& Settings);
// The same for one FIELD=VALUE of the command line before it is set, the value quoted as
// given and checked whole (4294967295 is not taken for -1); "" when it is in range, or when
// the field has no range or the value is no number (SetBlock0Field refuses those).
std::string SettingValueProblem(const std::string& Field, const std::string& Value);

}  // namespace gdpack
