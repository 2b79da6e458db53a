// Types that the whole image library shares.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "Classes.h"
#include "Graphics.h"
#include "Win32.h"

// A 24-bit pixel and a palette entry: the bytes B, G, R.
#pragma pack(push, 1)
struct TRGB {
    uint8_t b = 0, g = 0, r = 0;
    bool operator==(const TRGB&) const = default;
    // As a 32-bit integer: B + G * 256 + R * 65536.
    uint32_t AsInteger() const { return uint32_t(b) | (uint32_t(g) << 8) | (uint32_t(r) << 16); }
};
#pragma pack(pop)
static_assert(sizeof(TRGB) == 3);

// Percent progress of a component's work.
using TLXProgressEvent = TMethod<void(TObject* Sender, int per)>;

// Handed to every codec and conversion: the event, its Sender, a row counter and the
// per-row step that the reporting routine sets, and the owner's abort flag. Cancel, when
// set, is another thread's request to end the operation (a decode nobody waits for any more):
// a codec whose long passes report no progress checks it there and ends as if aborted.
struct TProgressRec {
    TLXProgressEvent fOnProgress;
    TObject* Sender = nullptr;
    int32_t val = 0;
    double per = 0;
    bool* Aborting = nullptr;
    const std::atomic<bool>* Cancel = nullptr;
};

// Writes Length bytes; a short write sets Error (it is never cleared here), so a full disk
// ends a save with the writer's abort flag set.
inline void StreamWriteChecked(TStream* Stream, bool& Error, const void* Data, int64_t Length) {
    if (Stream->Write(Data, Length) < Length) Error = true;
}

// Little-endian fields of file headers.
inline uint16_t GetLE16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t GetLE32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// The abort flag of one codec call; a progress record without one gets a private flag, so
// codecs can always set and test it.
class TLXAbortFlag {
public:
    explicit TLXAbortFlag(TProgressRec& p) : flag_(p.Aborting ? p.Aborting : &local_) {}
    TLXAbortFlag(const TLXAbortFlag&) = delete;
    TLXAbortFlag& operator=(const TLXAbortFlag&) = delete;
    bool get() const { return *flag_; }
    void set() { *flag_ = true; }
    // For StreamWriteChecked, which sets the flag itself.
    bool& ref() { return *flag_; }
private:
    bool local_ = false;
    bool* flag_;
};

// The 31 transition effects; the ordinal values are fixed (the screensaver maps onto them).
enum TLXTransitionType {
    lxttNone, lxttCrossDissolve, lxttFadeOut, lxttFadeIn, lxttFadeOutIn, lxttLeftRight1,
    lxttLeftRight2, lxttRightLeft1, lxttRightLeft2, lxttUpDown1, lxttUpDown2, lxttDownUp1,
    lxttDownUp2, lxttFromUpLeft, lxttFromUpRight, lxttFromBottomLeft, lxttFromBottomRight,
    lxttMoveLeftRight1, lxttMoveLeftRight2, lxttMoveRightLeft1, lxttMoveRightLeft2,
    lxttMoveUpDown1, lxttMoveUpDown2, lxttMoveDownUp1, lxttMoveDownUp2, lxttRandomPoints,
    lxttRandomBoxes, lxttCenter1, lxttCenter2, lxttCenterZoom1, lxttCenterZoom2
};

enum TResampleFilter { rfNone, rfTriangle, rfHermite, rfBell, rfBSpline, rfLanczos3, rfMitchell };

enum TMsgLanguage { msSystem, msEnglish, msItalian, msGerman, msSpanish, msFrench, msPortuguese,
                    msGreek, msRussian, msDutch, msUser };

// Base of the library's own exceptions.
GD_EXCEPTION(ELXError, Exception);
GD_EXCEPTION(ELXJpegException, ELXError);

// ---- JPEG markers ----

// The COM and APP0..APP15 markers of a JPEG file, in file order: one payload (the bytes after
// the 2-byte length field) and one code byte (0xE0..0xEF, 0xFE) each.
class TLXMarkerList : public TObject {
public:
    // A segment's length field counts itself, so a payload holds at most 65533 bytes.
    static constexpr int MaxMarkerLength = 65533;

    TLXMarkerList() = default;
    ~TLXMarkerList() override;
    TLXMarkerList(const TLXMarkerList&) = delete;
    TLXMarkerList& operator=(const TLXMarkerList&) = delete;

    int Count() const { return int(codes_.size()); }
    // Index arguments outside 0..Count-1 raise EListError.
    uint8_t* MarkerData(int Index) const;
    int MarkerLength(int Index) const;
    uint8_t MarkerType(int Index) const;
    int IndexOf(int Code) const;   // first marker with that code, -1 when none

    // Append / replace with a private copy. A payload longer than MaxMarkerLength (or a
    // negative length, or no data for a non-zero length) is refused: the result is false
    // and the list is left as it was.
    bool AddMarker(int Code, const void* Data, int64_t Length);
    bool SetMarker(int Index, int Code, int64_t Length, const void* Data);
    void Clear();
    void Assign(const TLXMarkerList* Source);   // nil: nothing

private:
    void CheckIndex(int Index) const;
    std::vector<TMemoryStream*> streams_;   // owned
    std::vector<uint8_t> codes_;
};

// ---- IPTC records ----

struct TLXIPTCItemHeader {
    int32_t RecordNumber = 0;
    int32_t DataSet = 0;
    int32_t Length = 0;
};

// IPTC-IIM datasets as they travel in a JPEG's APP13 marker.
class TLXIPTCInfoList : public TObject {
public:
    TLXIPTCInfoList() = default;
    ~TLXIPTCInfoList() override = default;
    TLXIPTCInfoList(const TLXIPTCInfoList&) = delete;
    TLXIPTCInfoList& operator=(const TLXIPTCInfoList&) = delete;

    int Count() const { return int(headers_.size()); }
    // Index arguments outside 0..Count-1 raise EListError.
    int RecordNumber(int Index) const { return ItemHeaders(Index).RecordNumber; }
    int DataSet(int Index) const { return ItemHeaders(Index).DataSet; }
    const TLXIPTCItemHeader& ItemHeaders(int Index) const;
    const uint8_t* ItemData(int Index) const;   // Length bytes (null for an empty dataset)

    // Appends a copy; returns its index. Record and dataset numbers are bytes (0..255) and
    // the length is 0..2^31-1 with data present; anything else is refused with -1.
    int AddItem(int Record, int DataSetNumber, int Length, const void* Data);
    void Clear();
    void Assign(const TLXIPTCInfoList* Source);   // nil (or itself): nothing

    // True after AddItem, Clear or Assign; false after LoadFromBuffer. A JPEG save writes the
    // list only when it is set.
    bool Changed() const { return changed_; }
    void SetChanged(bool Value) { changed_ = Value; }

    // The APP13 payload: "Photoshop 3.0", one 8BIM resource 0x0404 with the datasets (2:00
    // left out), padded to an even length.
    std::vector<uint8_t> SaveToBuffer() const;
    // Reads the datasets of an APP13 payload (or of bare IIM data). Never fails: malformed
    // data end the parse with the datasets read so far.
    void LoadFromBuffer(const void* Data, int64_t Length);

private:
    void ParseDataSets(const uint8_t* d, uint64_t len);
    std::vector<TLXIPTCItemHeader> headers_;
    std::vector<std::vector<uint8_t>> data_;
    bool changed_ = false;
};

// ---- Selection and alpha mask ----

// A 1-bit selection or 8-bit alpha mask with the bounding box of its set pixels. Rows are
// bottom-up (row y starts at Bits + (Height - 1 - y) * RowLength); 1-bit rows are padded to
// 4 bytes with pixel x at bit 0x80 >> (x % 8), 8-bit rows are exactly Width bytes.
class TLXMask : public TObject {
public:
    static constexpr int32_t EmptyBox = 2147483647;
    // x of a point that separates two polygons in FillPolygons.
    static constexpr int32_t PolygonSeparator = 1048575;

    int32_t Width = 0, Height = 0;
    int32_t BitsPerPixel = 0;
    int32_t RowLength = 0;
    uint8_t* Bits = nullptr;
    // Inclusive box; empty is X1 = Y1 = MaxInt, X2 = Y2 = 0.
    int32_t X1 = EmptyBox, Y1 = EmptyBox, X2 = 0, Y2 = 0;
    BITMAPINFO1 DrawInfo{};
    uint8_t* OutlineBuffer = nullptr;
    uint8_t** OutlineRows = nullptr;
    int32_t OutlineWidth = 0, OutlineHeight = 0;
    // 8-bit alpha: every pixel is 255.
    bool Full = false;

    TLXMask();
    ~TLXMask() override;
    TLXMask(const TLXMask&) = delete;
    TLXMask& operator=(const TLXMask&) = delete;

    // Depths other than 1 and 8, and sizes below 1, hold no memory. EOutOfMemory when the
    // block cannot be had.
    void AllocBits(int AWidth, int AHeight, int ABitsPerPixel);
    void FreeBits();
    void Assign(const TLXMask* Source);   // nil (or itself): nothing
    // Swaps the pixels, geometry, box and Full flag with Other (no byte is copied).
    void Exchange(TLXMask& Other);

    uint8_t* ScanLine(int y) const;   // no range check
    int GetPixel(int x, int y) const;   // 0 outside; 1 bit: non-zero when set
    bool IsPointSet(int x, int y) const { return GetPixel(x, y) != 0; }
    void SetPixel(int x, int y, int Value);
    void Fill(int Value);
    void Clear();
    bool IsEmpty() const { return X1 == EmptyBox; }
    // Writes pixels xStart..xEnd of row y (clipped to the mask); returns how many.
    int FillRow(int Value, int xStart, int y, int xEnd);
    // Clears the mask and fills the polygons of Points (runs split by PolygonSeparator).
    void FillPolygons(int Value, const TPoint* Points, int Count);
    void MoveMask(int& dx, int& dy, bool CutBorders);
    // Inverts the destination under the selected pixels; the source rectangle is in mask pixels
    // counted from the top.
    void Draw(TCanvas* Canvas, int XDst, int YDst, int WDst, int HDst, int XSrc, int YSrc,
              int WSrc, int HSrc);
    // The animated dashed outline of the source rectangle scaled to OutW x OutH.
    void DrawOutline(TCanvas* Canvas, int XOffset, int YOffset, TColor Color1, TColor Color2,
                     int Phase, int XSrc, int YSrc, int WSrc, int HSrc, int OutW, int OutH);

private:
    int FillPolygon(int Value, const TPoint* Run, int n);
    void FreeOutline();
    void ApplyFullRule(int Value);
};

// ---- Scroll bar and mouse wheel parameters of the views ----

class TLXScrollBarParams : public TObject {
public:
    int32_t LineStep = -1;   // -1: the view's own unit
    int32_t PageStep = -1;   // -1: the visible width or height
    bool Tracking = true;    // false: only the final thumb position scrolls
};

class TLXMouseWheelParams : public TObject {
public:
    bool InvertDirection = false;
    uint8_t Action = 2;      // 0 default handling, 1 scroll vertically, 2 zoom
    uint8_t Variation = 1;   // 0 Value absolute, 1 Value a percentage
    int32_t Value = 8;
    // -1 for a wheel turned away from the user (positive delta), +1 otherwise.
    int Direction(int WheelDelta) const {
        const int d = WheelDelta > 0 ? -1 : 1;
        return InvertDirection ? -d : d;
    }
};

// The processor has the MMX instructions.
bool LXHasMMX();
