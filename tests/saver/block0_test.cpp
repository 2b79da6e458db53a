// The block-0 record: the 44 fields, short and hostile records, and loading from the own file.
#include <gtest/gtest.h>

#include <climits>
#include <functional>

#include "PlayerBuilder.h"
#include "ScrnSave.h"
#include "TestDir.h"
#include "exedata.h"

using Bytes = gdpack::Bytes;

namespace {

using Getter = std::function<std::string(const TPlayerSettings&, const TPayloadTexts&)>;

struct Field {
    std::string name;
    Bytes bytes;      // as written
    Getter get;       // null: the field is read and dropped
    std::string want; // what get returns once the field is read
};

Field Int(const char* name, int32_t v, int32_t TPlayerSettings::*m) {
    Bytes b;
    gdpack::AppendLE32(b, uint32_t(v));
    return {name, b, [m](const TPlayerSettings& p, const TPayloadTexts&) { return std::to_string(p.*m); },
            std::to_string(v)};
}

Field Bool(const char* name, uint8_t raw, bool TPlayerSettings::*m) {
    return {name, Bytes{raw},
            [m](const TPlayerSettings& p, const TPayloadTexts&) { return std::string(p.*m ? "1" : "0"); },
            raw ? "1" : "0"};
}

Field Str(const char* name, const std::string& raw, const std::string& decoded,
          std::string TPlayerSettings::*m) {
    Bytes b;
    gdpack::AppendString(b, raw);
    return {name, b, [m](const TPlayerSettings& p, const TPayloadTexts&) { return p.*m; }, decoded};
}

Field Text(int i, const std::string& raw, const std::string& decoded) {
    Bytes b;
    gdpack::AppendString(b, raw);
    return {"text " + std::to_string(i), b,
            [i](const TPlayerSettings&, const TPayloadTexts& t) { return t[size_t(i)]; }, decoded};
}

// All 44 fields with distinct values, bools of 0x02 / 0xFF / 0x80, a negative display time,
// texts in both code pages and with CR LF.
std::vector<Field> AllFields() {
    using P = TPlayerSettings;
    Bytes unused;
    gdpack::AppendString(unused, "ignored");
    std::vector<Field> f = {
        Int("PhotoCount", 7, &P::PhotoCount),
        {"unused", unused, nullptr, ""},
        Str("AboutText", "About \xE9t\xE9", "About \xC3\xA9t\xC3\xA9", &P::AboutText),
        Int("Background", 0x00123456, &P::Background),
        Int("Duration", -5, &P::Duration),
        Int("Effect", 6, &P::Effect),
        Int("EffectDuration", 3, &P::EffectDuration),
        Bool("Random", 0x02, &P::Random),
        Bool("AutoFit", 0xFF, &P::AutoFit),
        Bool("Showname", 0x80, &P::Showname),
        Int("NamePosition", 2, &P::NamePosition),
        Bool("Loop", 0, &P::Loop),
        Str("NameFont", "Times New Roman", "Times New Roman", &P::NameFont),
        Int("NameSize", 14, &P::NameSize),
        Bool("NameShowBackground", 0x10, &P::NameShowBackground),
        Int("NameBackground", int32_t(0x8000000F), &P::NameBackground),
        Int("NameColor", 0x00ABCDEF, &P::NameColor),
        Str("MusicName", "Song.mp3", "Song.mp3", &P::MusicName),
    };
    for (int i = 0; i < kPayloadTextCount; ++i) {
        if (i == 19) f.push_back(Text(i, "None\r\nCrossfade\r\nFade", "None\r\nCrossfade\r\nFade"));
        else if (i == 0) f.push_back(Text(i, "<B>Hilfe</B> f\xFCr", "<B>Hilfe</B> f\xC3\xBCr"));
        else f.push_back(Text(i, "text " + std::to_string(i), "text " + std::to_string(i)));
    }
    return f;
}

bool Parse(const Bytes& b, TPlayerSettings& p, TPayloadTexts& t) {
    TMemoryStream ms;
    if (!b.empty()) ms.WriteBuffer(b.data(), int64_t(b.size()));
    ms.SetPosition(0);
    return ParsePayloadSettings(&ms, p, t);
}

}  // namespace

TEST(Block0, AllFortyFourFieldsDecode) {
    const auto fields = AllFields();
    ASSERT_EQ(fields.size(), 44u);
    Bytes rec;
    for (const auto& f : fields) rec.insert(rec.end(), f.bytes.begin(), f.bytes.end());
    TPlayerSettings p;
    TPayloadTexts t;
    ASSERT_TRUE(Parse(rec, p, t));
    for (const auto& f : fields) {
        if (f.get) {
            EXPECT_EQ(f.get(p, t), f.want) << f.name;
        }
    }
}

TEST(Block0, MinimalRecordIs161BytesAndFalseBoolsStayFalse) {
    gdpack::Block0 b;
    b.PhotoCount = 2;
    const Bytes rec = gdpack::EncodeBlock0(b);
    ASSERT_EQ(rec.size(), 161u);
    TPlayerSettings p;
    p.Random = p.Loop = true;
    TPayloadTexts t;
    t[25] = "old";
    ASSERT_TRUE(Parse(rec, p, t));
    TPlayerSettings want;
    want.PhotoCount = 2;
    EXPECT_EQ(p, want);
    EXPECT_EQ(t[25], "");
}

// A record cut anywhere keeps exactly the fields that end before the cut; the settings after
// it take a new player's values (zeros would stall the show on its first photo), the texts
// stay empty. This is how a shorter record of an older writer reads.
TEST(Block0, CutAnywhereKeepsTheFieldsReadSoFarAndDefaultsTheRest) {
    const auto fields = AllFields();
    Bytes rec;
    std::vector<size_t> ends;
    for (const auto& f : fields) {
        rec.insert(rec.end(), f.bytes.begin(), f.bytes.end());
        ends.push_back(rec.size());
    }
    const TPlayerSettings fresh = NewPlayerSettings();
    const TPayloadTexts zeroTexts;
    for (size_t cut = 0; cut <= rec.size(); ++cut) {
        TPlayerSettings p;
        TPayloadTexts t;
        const bool complete = Parse(Bytes(rec.begin(), rec.begin() + long(cut)), p, t);
        EXPECT_EQ(complete, cut == rec.size()) << "cut " << cut;
        for (size_t i = 0; i < fields.size(); ++i) {
            if (!fields[i].get) continue;
            const std::string want = ends[i] <= cut ? fields[i].want : fields[i].get(fresh, zeroTexts);
            ASSERT_EQ(fields[i].get(p, t), want) << fields[i].name << " at cut " << cut;
        }
    }
}

// The packer's starting values and a new player's are one set: a show packed with nothing
// set and a record cut short behave alike.
TEST(Block0, PackerDefaultsAreANewPlayersSettings) {
    TPlayerSettings p;
    TPayloadTexts t;
    ASSERT_TRUE(Parse(gdpack::EncodeBlock0(gdpack::NewShowSettings()), p, t));
    EXPECT_EQ(p, NewPlayerSettings());
    EXPECT_EQ(t[1], "OK");
    EXPECT_EQ(t[19], "None\r\nCrossfade\r\nFade\r\nPaint\r\nMove\r\nBoxes\r\nZoom in\r\nZoom out");
}

TEST(Block0, HostileStringLengthsStopTheParse) {
    struct Case {
        const char* name;
        uint32_t fontLength;
    };
    const Case cases[] = {{"length past the end", 1000}, {"negative length", 0xFFFFFFFE},
                          {"most negative length", 0x80000000}, {"huge length", 0x7FFFFFFF}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        gdpack::Block0 b;
        b.PhotoCount = 3;
        b.Duration = 9;
        b.Loop = 1;
        Bytes rec = gdpack::EncodeBlock0(b);
        // NameFont's length sits at offset 36 when the strings before it are empty.
        for (int i = 0; i < 4; ++i) rec[36 + size_t(i)] = uint8_t(c.fontLength >> (8 * i));
        TPlayerSettings p;
        TPayloadTexts t;
        EXPECT_FALSE(Parse(rec, p, t));
        EXPECT_EQ(p.PhotoCount, 3);
        EXPECT_EQ(p.Duration, 9);
        EXPECT_TRUE(p.Loop);
        EXPECT_EQ(p.NameFont, NewPlayerSettings().NameFont);
        EXPECT_EQ(p.NameSize, NewPlayerSettings().NameSize) << "nothing after the bad string is read";
    }
}

TEST(Block0, PhotoCountIsClamped) {
    const std::pair<int32_t, int32_t> cases[] = {
        {0, 0}, {5, 5}, {-1, 0}, {INT_MIN, 0}, {INT_MAX, kMaxPhotoCount}, {INT_MAX - 2, INT_MAX - 2}};
    for (auto [in, want] : cases) {
        gdpack::Block0 b;
        b.PhotoCount = in;
        TPlayerSettings p;
        TPayloadTexts t;
        ASSERT_TRUE(Parse(gdpack::EncodeBlock0(b), p, t));
        EXPECT_EQ(p.PhotoCount, want) << in;
    }
}

TEST(Block0, TrailingBytesAfterTheRecordAreIgnored) {
    gdpack::Block0 b;
    b.Effect = 5;
    Bytes rec = gdpack::EncodeBlock0(b);
    rec.insert(rec.end(), 40, 0xCC);
    TPlayerSettings p;
    TPayloadTexts t;
    EXPECT_TRUE(Parse(rec, p, t));
    EXPECT_EQ(p.Effect, 5);
}

class LoadFromOwnFile : public ::testing::Test {
protected:
    void SetUp() override {
        PlayerSettings = TPlayerSettings();
        PayloadTexts = TPayloadTexts();
    }
    void TearDown() override { SetOwnDataFileName(""); }
    TestDir dir;
};

TEST_F(LoadFromOwnFile, ReadsBlock0OfTheBuiltPlayer) {
    PlayerBuilder pb;
    pb.Base(Bytes(64, 0x90)).Photo("one", "", Bytes(10, 1)).Photo("two", "", Bytes(3, 2));
    pb.Block0().Duration = 12;
    pb.Block0().NameFont = "Arial";
    pb.Block0().Texts[21] = "Help caption";
    SetOwnDataFileName(pb.Write(dir.File("Alps.scr")));
    LoadPayloadSettings();
    EXPECT_EQ(PlayerSettings.PhotoCount, 2);
    EXPECT_EQ(PlayerSettings.Duration, 12);
    EXPECT_EQ(PlayerSettings.NameFont, "Arial");
    EXPECT_EQ(PayloadTexts[21], "Help caption");
}

TEST_F(LoadFromOwnFile, ShortBlock0AndHostileCount) {
    PlayerBuilder pb;
    pb.Base(Bytes(20, 1)).Photo("one", "", Bytes(4, 1)).PhotoCount(-3).TruncateBlock0(20);
    pb.Block0().Duration = 6;   // ends at byte 20: kept
    pb.Block0().Effect = 2;     // cut off: a new player's crossfade
    SetOwnDataFileName(pb.Write(dir.File("Old.scr")));
    LoadPayloadSettings();
    EXPECT_EQ(PlayerSettings.PhotoCount, 0);
    EXPECT_EQ(PlayerSettings.Duration, 6);
    EXPECT_EQ(PlayerSettings.Effect, NewPlayerSettings().Effect);
    EXPECT_EQ(PlayerSettings.EffectDuration, NewPlayerSettings().EffectDuration);
}

TEST_F(LoadFromOwnFile, WithoutBlock0NothingChanges) {
    gdpack::WriteFileBytes(dir.File("bare.scr"), Bytes(300, 0x55), false);
    SetOwnDataFileName(dir.File("bare.scr"));
    PlayerSettings.Duration = 4;   // whatever was there before is kept
    LoadPayloadSettings();
    TPlayerSettings want;
    want.Duration = 4;
    EXPECT_EQ(PlayerSettings, want);
}

TEST_F(LoadFromOwnFile, MissingFileRaisesOpenError) {
    SetOwnDataFileName(dir.File("gone.scr"));
    EXPECT_THROW(LoadPayloadSettings(), EFOpenError);
}

TEST(Durations, ComputedIn64BitsAndClamped) {
    struct Case {
        int32_t duration, effect;
        int transition, photo, pan;
    };
    const Case cases[] = {
        {5, 2, 2000, 7000, 4000},
        {0, 0, 0, 0, 0},
        {3, -1000, 0, 3000, 0},                     // a negative transition time counts as 0
        {2147484, 0, 0, INT_MAX, 0},                // 2147484000 ms does not fit
        {INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX},
        {10, 1073742, 1073742000, 1073752000, INT_MAX},   // only x 2000 overflows
        {-5, 2, 2000, 0, 4000},                     // negative display time: nothing to arm
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.duration) + "/" + std::to_string(c.effect));
        EXPECT_EQ(TransitionMs(c.effect), c.transition);
        EXPECT_EQ(PhotoIntervalMs(c.duration, c.effect), c.photo);
        EXPECT_EQ(PanStartMs(c.effect), c.pan);
    }
}
