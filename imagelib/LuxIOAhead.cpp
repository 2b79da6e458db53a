#include "LuxIOAhead.h"

#include "LuxIO.h"
#include "SysUtils.h"
#include "lxview.h"

TLuxIOAhead::TLuxIOAhead() : io_(std::make_unique<TLuxIO>(nullptr)) { io_->SetAttachedBitmap(&bitmap_); }

TLuxIOAhead::~TLuxIOAhead() = default;

void TLuxIOAhead::Prepare(const TLXIOParams* Params, TColor Background, bool StreamHeaders) {
    // The blocks of the previous picture go back for reuse.
    bitmap_.SetSize(0, 0);
    bitmap_.SetPixelFormat(pf24bit);
    bitmap_.Palette().clear();
    mask_.FreeBits();
    if (Params) io_->Params()->Assign(Params);
    else io_->Params()->SetDefaults();
    io_->StreamHeaders = StreamHeaders;
    background_ = Background;
    io_->SetBackground(Background);
}

bool TLuxIOAhead::Load(int FileType, bool FromFile, const std::function<void()>& Read) {
    const TLXCodec* codec = FindCodec(FileType);
    const bool decodes = codec && codec->Decode;
    // A reader that writes no alpha gets no mask: the load would only fill one with 255,
    // which HandTo does on the target's own mask without a second copy.
    const bool withMask = decodes && (codec->Flags & lxcoFillsMask);
    maskFull_ = !withMask;
    // Only the table's readers hand the resolution by their flags; an added reader always does.
    giveDpi_ = !decodes || (codec->Flags & (FromFile ? lxcoFileDpi : lxcoStreamDpi));
    io_->SetAttachedBitmap(&bitmap_, withMask ? &mask_ : nullptr);
    io_->Aborting = false;
    try {
        Read();
    } catch (...) {
        return false;
    }
    return !io_->Aborting && bitmap_.Width() >= 1 && bitmap_.Height() >= 1;
}

bool TLuxIOAhead::LoadFile(const std::string& FileName) {
    std::string ext = LowerCase(ExtractFileExt(FileName));
    if (!ext.empty()) ext.erase(0, 1);
    const TLXCodec* codec = FindCodecByExtension(ext);
    // Imported formats (metafiles) and added ones are left to the target's own load.
    if (!codec || !codec->Decode) return false;
    return Load(codec->FileType, true, [&] { io_->LoadFromFile(FileName); });
}

bool TLuxIOAhead::LoadAnyFile(const std::string& FileName) {
    std::string ext = LowerCase(ExtractFileExt(FileName));
    if (!ext.empty()) ext.erase(0, 1);
    const TLXCodec* codec = FindCodecByExtension(ext);
    return Load(codec ? codec->FileType : 0, true, [&] { io_->LoadFromFile(FileName); });
}

bool TLuxIOAhead::LoadStream(TStream* Stream) {
    int type = 0;
    int64_t start = 0;
    try {
        start = Stream->Position();
        type = DetectStreamFormat(Stream);
        Stream->SetPosition(start);
    } catch (...) {
        return false;
    }
    return Load(type, false, [&] { io_->LoadFromStreamFormat(Stream, type); });
}

void TLuxIOAhead::HandTo(TLuxIO* IO, TLXMask* Opaque) {
    TBitmap* bitmap = IO->Bitmap();
    if (!bitmap) return;
    bitmap->Exchange(bitmap_);
    if (TLXMask* mask = IO->Mask()) {
        const int w = bitmap->Width(), h = bitmap->Height();
        if (!maskFull_) {
            mask->Exchange(mask_);
        } else if (mask->Bits && mask->BitsPerPixel == 8 && mask->Width == w && mask->Height == h && mask->Full) {
            // Already what the load would make of it: only its box starts over.
            mask->X1 = mask->Y1 = TLXMask::EmptyBox;
            mask->X2 = mask->Y2 = 0;
        } else if (Opaque && Opaque->Bits && Opaque->BitsPerPixel == 8 && Opaque->Width == w && Opaque->Height == h &&
                   Opaque->Full) {
            mask->Exchange(*Opaque);
            mask->X1 = mask->Y1 = TLXMask::EmptyBox;
            mask->X2 = mask->Y2 = 0;
        } else {
            mask->AllocBits(w, h, 8);
            mask->Fill(255);
        }
    }
    IO->Params()->Assign(io_->Params());
    if (io_->Background() != background_) IO->SetBackground(io_->Background());
    if (TLXView* view = IO->AttachedView(); view && giveDpi_) view->SetDpi(IO->Params()->DpiX, IO->Params()->DpiY);
    IO->Aborting = false;
    // As the target's own load ends: the view recomputes and repaints, ImageChange fires.
    IO->Update();
}
