// JPEG marker list, IPTC records, the selection and alpha mask, and the small parameter
// objects of the views.
#include "lxdefs.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "lxutils.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

namespace {

[[noreturn]] void ListIndexError(int Index) {
    throw EListError("List index out of bounds (" + IntToStr(Index) + ")");
}

[[noreturn]] void OutOfMemory() { throw EOutOfMemory("Out of memory"); }

uint32_t ReadBE32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

void WriteBE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

}  // namespace

// ==== TLXMarkerList ====

TLXMarkerList::~TLXMarkerList() { Clear(); }

void TLXMarkerList::CheckIndex(int Index) const {
    if (Index < 0 || Index >= Count()) ListIndexError(Index);
}

uint8_t* TLXMarkerList::MarkerData(int Index) const {
    CheckIndex(Index);
    return streams_[size_t(Index)]->Memory();
}

int TLXMarkerList::MarkerLength(int Index) const {
    CheckIndex(Index);
    return int(streams_[size_t(Index)]->Size());
}

uint8_t TLXMarkerList::MarkerType(int Index) const {
    CheckIndex(Index);
    return codes_[size_t(Index)];
}

int TLXMarkerList::IndexOf(int Code) const {
    for (size_t i = 0; i < codes_.size(); i++)
        if (codes_[i] == Code) return int(i);
    return -1;
}

namespace {

// A private copy of a marker payload, or null when the payload cannot be a marker segment.
std::unique_ptr<TMemoryStream> CopyPayload(const void* Data, int64_t Length) {
    if (Length < 0 || Length > TLXMarkerList::MaxMarkerLength || (Length > 0 && !Data))
        return nullptr;
    auto s = std::make_unique<TMemoryStream>();
    if (Length > 0 && s->Write(Data, Length) != Length) OutOfMemory();
    return s;
}

}  // namespace

bool TLXMarkerList::AddMarker(int Code, const void* Data, int64_t Length) {
    std::unique_ptr<TMemoryStream> s = CopyPayload(Data, Length);
    if (!s) return false;
    try {
        streams_.reserve(streams_.size() + 1);
        codes_.reserve(codes_.size() + 1);
    } catch (const std::bad_alloc&) {
        OutOfMemory();
    }
    streams_.push_back(s.release());
    codes_.push_back(uint8_t(Code));
    return true;
}

bool TLXMarkerList::SetMarker(int Index, int Code, int64_t Length, const void* Data) {
    CheckIndex(Index);
    // Copy before the old stream goes: Data may point into it.
    std::unique_ptr<TMemoryStream> s = CopyPayload(Data, Length);
    if (!s) return false;
    delete streams_[size_t(Index)];
    streams_[size_t(Index)] = s.release();
    codes_[size_t(Index)] = uint8_t(Code);
    return true;
}

void TLXMarkerList::Clear() {
    for (TMemoryStream* s : streams_) delete s;
    streams_.clear();
    codes_.clear();
}

void TLXMarkerList::Assign(const TLXMarkerList* Source) {
    if (!Source || Source == this) return;
    Clear();
    for (int i = 0; i < Source->Count(); i++)
        AddMarker(Source->MarkerType(i), Source->MarkerData(i), Source->MarkerLength(i));
}

// ==== TLXIPTCInfoList ====

const TLXIPTCItemHeader& TLXIPTCInfoList::ItemHeaders(int Index) const {
    if (Index < 0 || Index >= Count()) ListIndexError(Index);
    return headers_[size_t(Index)];
}

const uint8_t* TLXIPTCInfoList::ItemData(int Index) const {
    if (Index < 0 || Index >= Count()) ListIndexError(Index);
    const std::vector<uint8_t>& d = data_[size_t(Index)];
    return d.empty() ? nullptr : d.data();
}

int TLXIPTCInfoList::AddItem(int Record, int DataSetNumber, int Length, const void* Data) {
    if (Record < 0 || Record > 255 || DataSetNumber < 0 || DataSetNumber > 255 || Length < 0 ||
        (Length > 0 && !Data))
        return -1;
    try {
        const auto* p = static_cast<const uint8_t*>(Data);
        std::vector<uint8_t> copy(p, p + Length);
        headers_.reserve(headers_.size() + 1);
        data_.reserve(data_.size() + 1);
        headers_.push_back({Record, DataSetNumber, Length});
        data_.push_back(std::move(copy));
    } catch (const std::bad_alloc&) {
        OutOfMemory();
    }
    changed_ = true;
    return Count() - 1;
}

void TLXIPTCInfoList::Clear() {
    headers_.clear();
    data_.clear();
    changed_ = true;
}

void TLXIPTCInfoList::Assign(const TLXIPTCInfoList* Source) {
    if (!Source || Source == this) return;
    Clear();
    for (int i = 0; i < Source->Count(); i++) {
        const TLXIPTCItemHeader& h = Source->ItemHeaders(i);
        AddItem(h.RecordNumber, h.DataSet, h.Length, Source->ItemData(i));
    }
    changed_ = true;
}

namespace {

constexpr uint8_t kPhotoshopSignature[14] = {'P', 'h', 'o', 't', 'o', 's', 'h',
                                             'o', 'p', ' ', '3', '.', '0', 0};
constexpr int kIptcHeaderSize = 26;
constexpr uint16_t kIptcResourceId = 0x0404;

// Signatures that Photoshop-compatible writers put in front of an image resource.
bool IsResourceSignature(const uint8_t* p) {
    static const char* const kTypes[] = {"8BIM", "PHUT", "DCSR", "AgHg", "MeSa"};
    for (const char* t : kTypes)
        if (std::memcmp(p, t, 4) == 0) return true;
    return false;
}

}  // namespace

std::vector<uint8_t> TLXIPTCInfoList::SaveToBuffer() const {
    uint64_t total = kIptcHeaderSize;
    for (const TLXIPTCItemHeader& h : headers_) {
        if (h.RecordNumber == 2 && h.DataSet == 0) continue;
        total += (h.Length < 0x8000 ? 5 : 9) + uint64_t(h.Length);
    }
    const uint64_t dataSize = total - kIptcHeaderSize;
    if (dataSize > 0xFFFFFFFFu) throw ELXError("IPTC data too large");
    if (total & 1) total++;

    std::vector<uint8_t> out;
    try {
        out.reserve(size_t(total));
    } catch (const std::bad_alloc&) {
        OutOfMemory();
    }
    out.insert(out.end(), kPhotoshopSignature, kPhotoshopSignature + 14);
    const uint8_t resource[12] = {'8', 'B', 'I', 'M', kIptcResourceId >> 8, kIptcResourceId & 0xFF,
                                  0, 0, 0, 0, 0, 0};
    out.insert(out.end(), resource, resource + 12);
    WriteBE32(out.data() + 22, uint32_t(dataSize));
    for (size_t i = 0; i < headers_.size(); i++) {
        const TLXIPTCItemHeader& h = headers_[i];
        if (h.RecordNumber == 2 && h.DataSet == 0) continue;   // the record version
        const uint8_t rec = uint8_t(h.RecordNumber), ds = uint8_t(h.DataSet);
        if (h.Length < 0x8000) {
            const uint8_t head[5] = {0x1C, rec, ds, uint8_t(h.Length >> 8), uint8_t(h.Length)};
            out.insert(out.end(), head, head + 5);
        } else {
            // Extended form: the high bit says that a 4-byte length follows.
            uint8_t head[9] = {0x1C, rec, ds, 0x80, 0x04};
            WriteBE32(head + 5, uint32_t(h.Length));
            out.insert(out.end(), head, head + 9);
        }
        out.insert(out.end(), data_[i].begin(), data_[i].end());
    }
    if (out.size() & 1) out.push_back(0);
    return out;
}

void TLXIPTCInfoList::ParseDataSets(const uint8_t* d, uint64_t len) {
    uint64_t i = 0;
    while (i < len && d[i] != 0x1C) i++;
    while (i < len && d[i] == 0x1C) {
        if (len - i < 5) break;
        const int rec = d[i + 1], ds = d[i + 2];
        uint64_t length = 0, start = 0;
        if (d[i + 3] & 0x80) {
            // Extended form: the low 15 bits count the length bytes that follow.
            const uint64_t n = (uint64_t(d[i + 3] & 0x7F) << 8) | d[i + 4];
            if (n < 1 || n > 4 || len - i - 5 < n) break;
            for (uint64_t k = 0; k < n; k++) length = (length << 8) | d[i + 5 + k];
            if (length > uint64_t(INT32_MAX)) break;
            start = i + 5 + n;
        } else {
            length = (uint64_t(d[i + 3]) << 8) | d[i + 4];
            start = i + 5;
        }
        if (length > len - start) break;   // runs past the end: dropped, and the parse ends
        AddItem(rec, ds, int(length), d + start);
        i = start + length;
    }
}

void TLXIPTCInfoList::LoadFromBuffer(const void* Data, int64_t Length) {
    Clear();
    if (Data && Length > 0) {
        const auto* d = static_cast<const uint8_t*>(Data);
        const uint64_t len = uint64_t(Length);
        if (len >= 14 && std::memcmp(d, kPhotoshopSignature, 14) == 0) {
            // An image resource block: only the IPTC resource holds datasets. Its neighbours
            // (and the size fields) may contain the tag byte, so no byte scan here.
            uint64_t pos = 14;
            while (len - pos >= 12 && IsResourceSignature(d + pos)) {
                const unsigned id = (unsigned(d[pos + 4]) << 8) | d[pos + 5];
                const uint64_t nameField = (uint64_t(d[pos + 6]) + 2) & ~uint64_t(1);
                const uint64_t sizePos = pos + 6 + nameField;
                if (sizePos > len || len - sizePos < 4) break;
                const uint64_t size = ReadBE32(d + sizePos);
                const uint64_t dataPos = sizePos + 4;
                if (id == kIptcResourceId) {
                    // A resource cut short by the end of the marker keeps what is there.
                    ParseDataSets(d + dataPos, std::min(size, len - dataPos));
                    break;
                }
                const uint64_t next = dataPos + size + (size & 1);
                if (next > len) break;
                pos = next;
            }
        } else {
            ParseDataSets(d, len);
        }
    }
    changed_ = false;
}

// ==== TLXMask ====

namespace {

// Sets or clears the bits xs..xe of a 1-bit row.
void FillBits(uint8_t* row, int xs, int xe, bool set) {
    while (xs <= xe && (xs & 7)) SetBit(row, xs++, set);
    if (xs > xe) return;
    const int whole = (xe + 1 - xs) / 8;
    if (whole > 0) {
        std::memset(row + xs / 8, set ? 0xFF : 0, size_t(whole));
        xs += whole * 8;
    }
    while (xs <= xe) SetBit(row, xs++, set);
}

// Round(p / q) with ties to even, q > 0.
int64_t RoundDiv(__int128 p, __int128 q) {
    __int128 f = p / q, r = p % q;
    if (r < 0) {
        f -= 1;
        r += q;
    }
    if (2 * r > q || (2 * r == q && (f & 1))) f += 1;
    return int64_t(f);
}

__int128 FloorDiv(__int128 p, __int128 q) {   // q > 0
    __int128 f = p / q;
    if (p % q < 0) f -= 1;
    return f;
}

__int128 CeilDiv(__int128 p, __int128 q) {   // q > 0
    __int128 f = p / q;
    if (p % q > 0) f += 1;
    return f;
}

struct PolyEdge {
    int64_t x, yTop, yMax, dx, dy, err;
};

}  // namespace

TLXMask::TLXMask() {
    BITMAPINFOHEADER& h = DrawInfo.bmiHeader;
    h.biSize = 40;
    h.biPlanes = 1;
    h.biBitCount = 1;
    h.biCompression = BI_RGB;
    DrawInfo.bmiColors[0] = {0, 0, 0, 0};
    DrawInfo.bmiColors[1] = {255, 255, 255, 0};
}

TLXMask::~TLXMask() {
    FreeOutline();
    FreeBits();
}

void TLXMask::FreeOutline() {
    delete[] OutlineBuffer;
    delete[] OutlineRows;
    OutlineBuffer = nullptr;
    OutlineRows = nullptr;
    OutlineWidth = OutlineHeight = 0;
}

void TLXMask::AllocBits(int AWidth, int AHeight, int ABitsPerPixel) {
    X1 = Y1 = EmptyBox;
    X2 = Y2 = 0;
    Full = false;
    const bool valid = (ABitsPerPixel == 1 || ABitsPerPixel == 8) && AWidth > 0 && AHeight > 0;
    if (valid && Bits && AWidth == Width && AHeight == Height && ABitsPerPixel == BitsPerPixel) {
        // The same geometry keeps its block.
        std::memset(Bits, 0, size_t(int64_t(RowLength) * Height));
        return;
    }
    FreeBits();
    if (!valid) return;
    const int rowLength = ABitsPerPixel == 1 ? RowBytes(AWidth, 1) : AWidth;
    const int64_t size = int64_t(rowLength) * AHeight;
    Bits = AllocPixelBlock(size_t(size), true);
    if (!Bits) OutOfMemory();
    Width = AWidth;
    Height = AHeight;
    BitsPerPixel = ABitsPerPixel;
    RowLength = rowLength;
}

void TLXMask::Exchange(TLXMask& Other) {
    std::swap(Width, Other.Width);
    std::swap(Height, Other.Height);
    std::swap(BitsPerPixel, Other.BitsPerPixel);
    std::swap(RowLength, Other.RowLength);
    std::swap(Bits, Other.Bits);
    std::swap(X1, Other.X1);
    std::swap(Y1, Other.Y1);
    std::swap(X2, Other.X2);
    std::swap(Y2, Other.Y2);
    std::swap(Full, Other.Full);
}

void TLXMask::FreeBits() {
    FreePixelBlock(Bits, size_t(int64_t(RowLength) * Height));
    Bits = nullptr;
    Width = Height = BitsPerPixel = RowLength = 0;
}

void TLXMask::Assign(const TLXMask* Source) {
    if (!Source || Source == this) return;
    AllocBits(Source->Width, Source->Height, Source->BitsPerPixel);
    if (Bits && Source->Bits) std::memcpy(Bits, Source->Bits, size_t(int64_t(RowLength) * Height));
    X1 = Source->X1;
    Y1 = Source->Y1;
    X2 = Source->X2;
    Y2 = Source->Y2;
    Full = Source->Full;
}

uint8_t* TLXMask::ScanLine(int y) const {
    if (!Bits) return nullptr;
    return Bits + (int64_t(Height) - 1 - y) * RowLength;
}

int TLXMask::GetPixel(int x, int y) const {
    if (!Bits || x < 0 || y < 0 || x >= Width || y >= Height) return 0;
    const uint8_t* row = ScanLine(y);
    if (BitsPerPixel == 1) return row[x >> 3] & (0x80 >> (x & 7));
    if (BitsPerPixel == 8) return row[x];
    return 0;
}

void TLXMask::ApplyFullRule(int Value) {
    // Full survives only values that keep an 8-bit mask all opaque.
    if (BitsPerPixel == 8 && (Value & 0xFF) != 255) Full = false;
}

void TLXMask::SetPixel(int x, int y, int Value) {
    if (!Bits || x < 0 || y < 0 || x >= Width || y >= Height) return;
    if (Value != 0) {
        X1 = std::max(std::min(X1, x), 0);
        Y1 = std::max(std::min(Y1, y), 0);
        X2 = std::min(std::max(X2, x), Width - 1);
        Y2 = std::min(std::max(Y2, y), Height - 1);
    }
    if (Full) ApplyFullRule(Value);
    uint8_t* row = ScanLine(y);
    if (BitsPerPixel == 1)
        SetBit(row, x, Value != 0);
    else if (BitsPerPixel == 8)
        row[x] = uint8_t(Value);
}

void TLXMask::Fill(int Value) {
    if (Bits) std::memset(Bits, Value & 0xFF, size_t(int64_t(RowLength) * Height));
    Full = BitsPerPixel != 8 || (Value & 0xFF) == 255;
}

void TLXMask::Clear() {
    Fill(0);
    X1 = Y1 = EmptyBox;
    X2 = Y2 = 0;
}

int TLXMask::FillRow(int Value, int xStart, int y, int xEnd) {
    if (!Bits || (BitsPerPixel != 1 && BitsPerPixel != 8)) return 0;
    // Rows outside the mask are not smeared onto its edge rows.
    if (y < 0 || y >= Height) return 0;
    xStart = std::max(xStart, 0);
    xEnd = std::min(xEnd, Width - 1);
    if (xStart > xEnd) return 0;
    if (Full) ApplyFullRule(Value);
    uint8_t* row = ScanLine(y);
    if (BitsPerPixel == 1)
        FillBits(row, xStart, xEnd, Value != 0);
    else
        std::memset(row + xStart, Value & 0xFF, size_t(xEnd - xStart + 1));
    return xEnd - xStart + 1;
}

void TLXMask::FillPolygons(int Value, const TPoint* Points, int Count) {
    Clear();
    if (!Points || Count <= 0) return;
    int start = 0;
    for (int i = 0; i <= Count; i++) {
        if (i == Count || Points[i].X == PolygonSeparator) {
            FillPolygon(Value, Points + start, i - start);
            start = i + 1;
        }
    }
    // FillPolygon widens the box only for runs that filled pixels, so a degenerate run
    // after a real one leaves the box alone, and a call that filled nothing keeps it empty.
}

int TLXMask::FillPolygon(int Value, const TPoint* Run, int n) {
    if (n <= 0 || !Bits) return 0;

    int64_t minY = Run[0].Y, maxY = Run[0].Y;
    std::vector<PolyEdge> edges;
    edges.reserve(size_t(n));
    for (int i = 0; i < n; i++) {
        const TPoint& a = Run[i];
        const TPoint& b = Run[(i + 1) % n];
        minY = std::min<int64_t>(minY, a.Y);
        maxY = std::max<int64_t>(maxY, a.Y);
        if (a.Y == b.Y) continue;
        const TPoint& top = a.Y < b.Y ? a : b;
        const TPoint& bot = a.Y < b.Y ? b : a;
        edges.push_back({top.X, top.Y, bot.Y, int64_t(bot.X) - top.X, int64_t(bot.Y) - top.Y, 0});
    }

    // Only scan lines inside the mask can be filled; edges that begin above the first of
    // them start where the stepping below would have brought them.
    const int64_t y0 = std::max<int64_t>(minY, 0), y1 = std::min<int64_t>(maxY, Height - 1);
    int sum = 0;
    if (y0 <= y1 && !edges.empty()) {
        std::stable_sort(edges.begin(), edges.end(),
                         [](const PolyEdge& a, const PolyEdge& b) { return a.yTop < b.yTop; });
        std::vector<PolyEdge*> active;
        size_t next = 0;
        for (; next < edges.size() && edges[next].yTop < y0; next++) {
            PolyEdge& e = edges[next];
            if (e.yMax <= y0) continue;
            const __int128 k = y0 - e.yTop;
            __int128 steps = 0;
            if (e.dx > 0)
                steps = CeilDiv(2 * k * e.dx - e.dy, 2 * __int128(e.dy));
            else if (e.dx < 0)
                steps = FloorDiv(2 * k * e.dx + e.dy, 2 * __int128(e.dy));
            e.x += int64_t(steps);
            e.err = int64_t(2 * (k * e.dx - __int128(e.dy) * steps));
            active.push_back(&e);
        }

        for (int64_t y = y0; y <= y1; y++) {
            if (y > y0) {
                size_t w = 0;
                for (PolyEdge* e : active) {
                    if (e->yMax == y) continue;
                    if (e->dx != 0) {
                        const int64_t q = e->dx / e->dy;
                        e->x += q;
                        e->err += 2 * e->dx - 2 * e->dy * q;
                        if (e->err > e->dy || e->err < -e->dy) {
                            if (e->dx > 0) {
                                e->x += 1;
                                e->err -= 2 * e->dy;
                            } else {
                                e->x -= 1;
                                e->err += 2 * e->dy;
                            }
                        }
                    }
                    active[w++] = e;
                }
                active.resize(w);
            }
            for (; next < edges.size() && edges[next].yTop == y; next++) {
                edges[next].err = 0;
                active.push_back(&edges[next]);
            }
            // Edges that cross (a self-intersecting lasso) swap places: keep the list in x
            // order so that every pair is a span.
            for (size_t i = 1; i < active.size(); i++) {
                PolyEdge* e = active[i];
                size_t j = i;
                for (; j > 0 && active[j - 1]->x > e->x; j--) active[j] = active[j - 1];
                active[j] = e;
            }
            for (size_t i = 0; i + 1 < active.size(); i += 2) {
                const int64_t a = active[i]->x, b = active[i + 1]->x;
                if (b - 1 < a) continue;
                const int64_t xs = std::max<int64_t>(a, 0), xe = std::min<int64_t>(b - 1, Width - 1);
                if (xs > xe) continue;
                sum += FillRow(Value, int(xs), int(y), int(xe));
            }
        }
    }

    if (sum > 0 && Value != 0) {
        // The right and bottom edges are not filled: the box ends one before the largest
        // vertex coordinate.
        int64_t bx1 = X1, by1 = Y1, bx2 = X2, by2 = Y2;
        for (int i = 0; i < n; i++) {
            const int64_t x = Run[i].X, y = Run[i].Y;
            bx1 = std::min(bx1, x);
            if (x > bx2) bx2 = x - 1;
            by1 = std::min(by1, y);
            if (y > by2) by2 = y - 1;
        }
        X1 = int32_t(std::max<int64_t>(bx1, 0));
        Y1 = int32_t(std::max<int64_t>(by1, 0));
        X2 = int32_t(std::min<int64_t>(bx2, Width - 1));
        Y2 = int32_t(std::min<int64_t>(by2, Height - 1));
    }
    return sum;
}

void TLXMask::MoveMask(int& dx, int& dy, bool CutBorders) {
    if (IsEmpty() || !Bits || (BitsPerPixel != 1 && BitsPerPixel != 8)) return;
    int64_t x1 = std::max(X1, 0), y1 = std::max(Y1, 0);
    int64_t x2 = std::min(X2, Width - 1), y2 = std::min(Y2, Height - 1);
    if (x1 > x2 || y1 > y2) return;
    int64_t mx = dx, my = dy;
    if (!CutBorders) {
        if (x1 + mx < 0) mx = -x1;
        if (x2 + mx >= Width) mx -= x2 + mx - Width + 1;
        if (y1 + my < 0) my = -y1;
        if (y2 + my >= Height) my -= y2 + my - Height + 1;
        dx = int(mx);
        dy = int(my);
    } else {
        if (x1 + mx < 0) x1 = -mx;
        if (x2 + mx >= Width) x2 = Width - 1 - mx;
        if (y1 + my < 0) y1 = -my;
        if (y2 + my >= Height) y2 = Height - 1 - my;
    }
    if (mx == 0 && my == 0) return;
    if (x1 > x2 || y1 > y2) {
        // Everything left the mask.
        Clear();
        return;
    }

    const size_t size = size_t(int64_t(RowLength) * Height);
    std::unique_ptr<uint8_t[]> saved;
    try {
        saved.reset(new uint8_t[size]);
    } catch (const std::bad_alloc&) {
        OutOfMemory();
    }
    std::memcpy(saved.get(), Bits, size);
    std::memset(Bits, 0, size);
    for (int64_t y = y1; y <= y2; y++) {
        const int64_t ty = y + my;
        if (ty < 0 || ty >= Height) continue;
        const uint8_t* src = saved.get() + (int64_t(Height) - 1 - y) * RowLength;
        uint8_t* dst = ScanLine(int(ty));
        if (BitsPerPixel == 1) {
            CopyBitRun(dst, src, int(x1 + mx), int(x1), int(x2 - x1 + 1));
        } else {
            for (int64_t x = x1; x <= x2; x++) {
                const int64_t tx = x + mx;
                if (tx >= 0 && tx < Width) dst[tx] = src[x];
            }
        }
    }
    X1 = int32_t(std::clamp<int64_t>(x1 + mx, 0, Width - 1));
    X2 = int32_t(std::clamp<int64_t>(x2 + mx, 0, Width - 1));
    Y1 = int32_t(std::clamp<int64_t>(y1 + my, 0, Height - 1));
    Y2 = int32_t(std::clamp<int64_t>(y2 + my, 0, Height - 1));
}

void TLXMask::Draw(TCanvas* Canvas, int XDst, int YDst, int WDst, int HDst, int XSrc, int YSrc,
                   int WSrc, int HSrc) {
    if (!Canvas || BitsPerPixel != 1 || !Bits || IsEmpty()) return;
    BITMAPINFOHEADER& h = DrawInfo.bmiHeader;
    h.biWidth = Width;
    h.biHeight = Height;
    h.biSizeImage = uint32_t(std::min<int64_t>(int64_t(RowLength) * Height, 0xFFFFFFFF));
    // StretchDIBits counts the source y from the bottom row.
    const int64_t ySrc = int64_t(Height) - HSrc - YSrc;
    StretchDIBits(Canvas, XDst, YDst, WDst, HDst, XSrc,
                  int(std::clamp<int64_t>(ySrc, INT_MIN, INT_MAX)), WSrc, HSrc, Bits, &h,
                  SRCINVERT);
}

void TLXMask::DrawOutline(TCanvas* Canvas, int XOffset, int YOffset, TColor Color1,
                          TColor Color2, int Phase, int XSrc, int YSrc, int WSrc, int HSrc,
                          int OutW, int OutH) {
    if (!Canvas || BitsPerPixel != 1 || !Bits || IsEmpty()) return;
    if (OutW <= 0 || OutH <= 0 || WSrc <= 0 || HSrc <= 0) return;

    if (OutW != OutlineWidth || OutH != OutlineHeight) {
        FreeOutline();
        const int64_t rb = RowBytes(OutW, 1);
        try {
            OutlineBuffer = new uint8_t[size_t(rb * OutH)];
            OutlineRows = new uint8_t*[size_t(OutH)];
        } catch (const std::bad_alloc&) {
            FreeOutline();
            OutOfMemory();
        }
        for (int i = 0; i < OutH; i++) OutlineRows[i] = OutlineBuffer + (int64_t(OutH) - 1 - i) * rb;
        OutlineWidth = OutW;
        OutlineHeight = OutH;
    }
    std::memset(OutlineBuffer, 0, size_t(int64_t(RowBytes(OutW, 1)) * OutH));

    // Nearest-neighbour steps in 14-bit fixed point; at least 1 so that the ranges below stay
    // defined for extreme zooms.
    const int64_t sx = std::max<int64_t>(int64_t(std::nearbyint(double(WSrc) / OutW * 16384.0)), 1);
    const int64_t sy = std::max<int64_t>(int64_t(std::nearbyint(double(HSrc) / OutH * 16384.0)), 1);

    // Scale only the rows and columns that can show the box.
    const int64_t r0 = std::max<int64_t>(RoundDiv(__int128(int64_t(Y1) - YSrc) * OutH, HSrc), 0);
    const int64_t r1 =
        std::min<int64_t>(RoundDiv(__int128(int64_t(Y2) - YSrc + 1) * OutH, HSrc), OutH - 1);
    const int64_t c0 = std::max<int64_t>(RoundDiv(__int128(int64_t(X1) - XSrc) * OutW, WSrc), 0);
    const int64_t c1 =
        std::min<int64_t>(RoundDiv(__int128(int64_t(X2) - XSrc + 1) * OutW, WSrc), OutW - 1);
    // Row by row through row pointers: the view redraws this on every tick of its timer.
    // Unscaled rows are bit runs; scaled ones look up each column's source once.
    const bool unscaled = sx == 16384;
    const int64_t cFrom = unscaled ? std::max<int64_t>(c0, -int64_t(XSrc)) : c0;
    const int64_t cTo = unscaled ? std::min<int64_t>(c1, int64_t(Width) - 1 - XSrc) : c1;
    std::vector<int64_t> cols;
    if (!unscaled && c1 >= c0) {
        cols.resize(size_t(c1 - c0 + 1));
        for (int64_t c = c0; c <= c1; c++) cols[size_t(c - c0)] = XSrc + ((sx * c) >> 14);
    }
    for (int64_t r = r0; r <= r1; r++) {
        const int64_t y = YSrc + ((sy * r) >> 14);
        if (y < 0 || y >= Height) continue;
        const uint8_t* src = ScanLine(int(y));
        uint8_t* dst = OutlineRows[r];
        if (unscaled) {
            if (cTo >= cFrom) CopyBitRun(dst, src, int(cFrom), int(cFrom + XSrc), int(cTo - cFrom + 1));
            continue;
        }
        for (int64_t c = c0; c <= c1; c++) {
            const int64_t x = cols[size_t(c - c0)];
            if (x >= 0 && x < Width && (src[x >> 3] & (0x80 >> (x & 7))))
                dst[c >> 3] |= uint8_t(0x80 >> (c & 7));
        }
    }

    const int64_t rs = std::max<int64_t>((int64_t(Y1) - YSrc) * 16384 / sy, 0);
    const int64_t re = std::min<int64_t>(((int64_t(Y2) - YSrc) * 16384 + 16384) / sy + 1, OutH - 1);
    const int64_t cs = std::max<int64_t>((int64_t(X1) - XSrc) * 16384 / sx, 0);
    const int64_t ce = std::min<int64_t>(((int64_t(X2) - XSrc) * 16384 + 16384) / sx + 1, OutW - 1);
    if (rs > re || cs > ce) return;

    Canvas->Pen()->SetStyle(psSolid);
    Canvas->Pen()->SetMode(pmCopy);
    const TColor rgb1 = ColorToRGB(Color1), rgb2 = ColorToRGB(Color2);
    auto bit = [](const uint8_t* row, int64_t c) { return (row[c >> 3] & (0x80 >> (c & 7))) != 0; };
    for (int64_t r = rs; r <= re; r++) {
        const uint8_t* up = OutlineRows[std::max<int64_t>(r - 1, 0)];
        const uint8_t* cur = OutlineRows[r];
        const uint8_t* down = OutlineRows[std::min<int64_t>(r + 1, OutH - 1)];
        for (int64_t c = cs; c <= ce; c++) {
            const uint8_t here = cur[c >> 3];
            // Whole bytes that cannot hold a border pixel: empty ones, and inside a full byte
            // with full bytes above and below, its pixels 1..6 (their neighbours all lie in
            // those three bytes). Rows 0 and re and columns 0 and ce follow their own rules.
            if ((c & 7) == 0 && here == 0 && c + 7 <= ce) {
                c += 7;
                continue;
            }
            if ((c & 7) == 1 && here == 0xFF && c + 6 < ce && r != 0 && r != re &&
                up[c >> 3] == 0xFF && down[c >> 3] == 0xFF) {
                c += 5;
                continue;
            }
            if (!bit(cur, c)) continue;
            bool border;
            if (c == 0) {
                border = X1 >= XSrc;   // the box begins inside the view
            } else if (c == ce) {
                border = XSrc + ((sx * c) >> 14) >= X2;
            } else if (r == 0) {
                border = Y1 >= YSrc + ((sy * r) >> 14);
            } else if (r == re) {
                border = YSrc + ((sy * r) >> 14) >= Y2;
            } else {
                border = false;
                for (const uint8_t* row : {up, cur, down})
                    for (int64_t cc = c - 1; cc <= c + 1; cc++)
                        if (!bit(row, cc)) border = true;
            }
            if (!border) continue;
            const int64_t px = int64_t(XOffset) + c, py = int64_t(YOffset) + r;
            if (px < INT_MIN || px > INT_MAX || py < INT_MIN || py > INT_MAX) continue;
            // Diagonal stripes of four pixels per colour, moving with the phase.
            const bool first = ((px + py + Phase) & 4) == 0;
            Canvas->SetPixel(int(px), int(py), first ? rgb1 : rgb2);
        }
    }
}

// ==== Processor ====

bool LXHasMMX() {
#if defined(__i386__) || defined(__x86_64__)
    unsigned a = 0, b = 0, c = 0, d = 0;
    // __get_cpuid fails when the processor has no CPUID instruction.
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    return (d >> 23) & 1;
#else
    return false;
#endif
}
