#include "LuxIOCodec.h"

#include <cstring>

#include "BMPFilt.h"
#include "BMPFiltIco.h"
#include "BMPFiltPnm.h"
#include "GIFFilter.h"
#include "LuxIO.h"
#include "PCXFilter.h"
#include "Tiffilt.h"
#include "jpegfilt.h"
#include "lxtgafil.h"
#include "lxutils.h"
#include "pngfilt.h"

TLXExifBlockReader ExifBlockReader = ReadExifBlock;

namespace {

// WMF and EMF load by file name only, drawn by the component itself at their own size.
void ImportMetafileFile(TLuxIO& IO, const std::string& FileName) { IO.ImportMetafile(FileName, -1, -1); }

const TLXCodec WmfCodec = {lxftWMF, "Windows Metafile", "WMF", nullptr, nullptr, nullptr,
                           lxcoFileDpi, ImportMetafileFile};
const TLXCodec EmfCodec = {lxftEMF, "Enhanced Windows Metafile", "EMF", nullptr, nullptr, nullptr,
                           lxcoFileDpi, ImportMetafileFile};

const TLXCodec* const kCodecs[] = {
    &TiffCodec, &GifCodec, &JpegCodec, &PcxCodec, &BmpCodec, &IcoCodec, &CurCodec,
    &PngCodec,  &WmfCodec, &EmfCodec,  &TgaCodec, &PnmCodec,
};

// The order is behaviour: the first probe that answers decides. A JPEG start right at the
// position comes first; one further down only after the signatures whose data may hold
// FF D8 FF in their first bytes.
const TLXDetection kDetection[] = {
    {lxftJPEG, JpegProbeStart},
    {lxftJPEG, JpegProbeStreamHeader},
    {lxftGIF, GifProbe},
    {lxftPCX, PcxProbeStreamHeader},
    {lxftPCX, PcxProbeOldHeader},
    {lxftBMP, BmpProbe},
    {lxftPCX, PcxProbe},
    {lxftTIFF, TiffProbeStreamHeader},
    {lxftTIFF, TiffProbe},
    {lxftPNG, PngProbe},
    {lxftICO, IcoProbe},
    {lxftCUR, CurProbe},
    {lxftJPEG, JpegProbeAfterData},
    {lxftTGA, TgaProbe},
    {lxftPXM, PnmProbe},
};

}  // namespace

std::span<const TLXCodec* const> CodecTable() { return kCodecs; }

std::span<const TLXDetection> DetectionOrder() { return kDetection; }

const TLXCodec* FindCodec(int FileType) {
    for (const TLXCodec* c : kCodecs)
        if (c->FileType == FileType) return c;
    return nullptr;
}

std::vector<std::string> SplitExtensionList(const std::string& List) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= List.size()) {
        const size_t semi = List.find(';', start);
        const size_t end = semi == std::string::npos ? List.size() : semi;
        if (end > start) out.push_back(List.substr(start, end - start));
        if (semi == std::string::npos) break;
        start = semi + 1;
    }
    return out;
}

const TLXCodec* FindCodecByExtension(const std::string& Extension) {
    if (Extension.empty()) return nullptr;
    for (const TLXCodec* c : kCodecs)
        for (const std::string& x : SplitExtensionList(c->Extensions))
            if (SameText(x, Extension)) return c;
    return nullptr;
}

// ---- Stream header ----

std::string StreamHeaderTag(const uint8_t* Bytes, int64_t Count) {
    std::string tag;
    for (int64_t i = 0; i < 5 && i < Count && Bytes[i] != 0; ++i) tag.push_back(char(Bytes[i]));
    return tag;
}

bool ReadStreamHeader(TStream* Stream, std::string& Tag, uint32_t& Length) {
    uint8_t h[LXStreamHeaderSize];
    Tag.clear();
    Length = 0;
    if (Stream->Read(h, LXStreamHeaderSize) != LXStreamHeaderSize) return false;
    Tag = StreamHeaderTag(h, LXStreamHeaderSize);
    Length = GetLE32(h + 8);
    return true;
}

void WriteStreamHeader(TStream* Stream, const char* Tag, uint32_t Length, bool& Error) {
    uint8_t h[LXStreamHeaderSize] = {};
    std::memcpy(h, Tag, std::min<size_t>(4, std::strlen(Tag)));
    for (int i = 0; i < 4; ++i) h[8 + i] = uint8_t(Length >> (8 * i));
    StreamWriteChecked(Stream, Error, h, LXStreamHeaderSize);
}

// ---- Encoder source ----

TLXWriterSource::TLXWriterSource(TBitmap* Bitmap) : bitmap_(Bitmap) {
    if (Bitmap->PixelFormat() == pf1bit || Bitmap->PixelFormat() == pf24bit) return;
    owned_ = std::make_unique<TBitmap>();
    owned_->Assign(Bitmap);
    owned_->SetPixelFormat(pf24bit);
    bitmap_ = owned_.get();
}

void TLXWriterSource::ToOneBit(TProgressRec& Progress, TRGB* Colour0, TRGB* Colour1) {
    TRGB black{0, 0, 0}, white{255, 255, 255};
    if (bitmap_->PixelFormat() != pf1bit) {
        std::unique_ptr<TBitmap> two = TryConvertTo1Bit(bitmap_, black, white);
        if (!two) {
            black = TRGB{0, 0, 0};
            white = TRGB{255, 255, 255};
            two = std::make_unique<TBitmap>();
            CopyBitmap(bitmap_, two.get());
            ConvertTo1Bit(two.get(), Progress);
        }
        owned_ = std::move(two);
        bitmap_ = owned_.get();
    }
    if (Colour0) *Colour0 = black;
    if (Colour1) *Colour1 = white;
}

void TLXWriterSource::To24Bit(TProgressRec& Progress) {
    if (bitmap_->PixelFormat() == pf24bit) return;
    auto copy = std::make_unique<TBitmap>();
    Convert1To24Bit(bitmap_, copy.get(), Progress);
    owned_ = std::move(copy);
    bitmap_ = owned_.get();
}
