#include "LuxIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "LuxMView.h"
#include "Win32.h"
#include "lxtwain.h"
#include "lxutils.h"
#include "lxview.h"
#include "metafile.h"

// =============================================================================================
// Format registry
// =============================================================================================

std::vector<std::unique_ptr<TLXFormatEntry>>& FormatRegistry() {
    static std::vector<std::unique_ptr<TLXFormatEntry>> registry = [] {
        std::vector<std::unique_ptr<TLXFormatEntry>> v;
        for (const TLXCodec* c : CodecTable()) {
            auto e = std::make_unique<TLXFormatEntry>();
            e->FileType = c->FileType;
            e->Description = c->Description;
            e->Extensions = c->Extensions;
            v.push_back(std::move(e));
        }
        return v;
    }();
    return registry;
}

TLXFormatEntry* FindFormatById(int FileType) {
    for (auto& e : FormatRegistry())
        if (e->FileType == FileType) return e.get();
    return nullptr;
}

int FormatExtensionCount(int FileType) {
    const TLXFormatEntry* e = FindFormatById(FileType);
    return e ? int(SplitExtensionList(e->Extensions).size()) : 0;
}

std::string FormatExtension(int FileType, int i) {
    const TLXFormatEntry* e = FindFormatById(FileType);
    if (!e || i < 0) return {};
    const auto exts = SplitExtensionList(e->Extensions);
    return size_t(i) < exts.size() ? exts[size_t(i)] : std::string();
}

TLXFormatEntry* FindFormatByExtension(const std::string& Extension) {
    if (Extension.empty()) return nullptr;
    for (auto& e : FormatRegistry())
        for (const std::string& x : SplitExtensionList(e->Extensions))
            if (SameText(x, Extension)) return e.get();
    return nullptr;
}

// =============================================================================================
// Detection
// =============================================================================================

int DetectStreamFormat(TStream* Stream) {
    int64_t P = 0;
    TLXProbeInput in;
    in.Stream = Stream;
    try {
        in.Size = Stream->Size();
        P = Stream->Position();
    } catch (...) {
        return 0;
    }
    int result = 0;
    try {
        for (auto& e : FormatRegistry()) {
            if (!e->Detector) continue;
            Stream->SetPosition(P);
            if (e->Detector(Stream)) {
                result = e->FileType;
                break;
            }
        }
        if (result == 0) {
            uint8_t head[16] = {};
            Stream->SetPosition(P);
            in.HeadLength = std::max<int64_t>(0, Stream->Read(head, 16));
            in.Head = head;
            if (in.HeadLength >= LXStreamHeaderSize) in.Tag = StreamHeaderTag(head, in.HeadLength);
            for (const TLXDetection& d : DetectionOrder()) {
                Stream->SetPosition(P);
                if (d.Probe(in)) {
                    result = d.FileType;
                    break;
                }
            }
        }
    } catch (...) {
    }
    try {
        Stream->SetPosition(P);
    } catch (...) {
    }
    return result;
}

// =============================================================================================
// Picture control stand-in
// =============================================================================================

TPicture::TPicture() : bitmap_(std::make_unique<TBitmap>()) {}
TPicture::~TPicture() = default;

TImage::TImage(TComponent* AOwner) : TComponent(AOwner), picture_(std::make_unique<TPicture>()) {}
TImage::~TImage() = default;

// =============================================================================================
// TLuxIO
// =============================================================================================

namespace {

// The thumbnail view keeps its own background: the component's colour is not passed to it.
bool ViewTakesBackground(TLXView* View) { return dynamic_cast<TLuxMView*>(View) == nullptr; }

bool IsOutOfMemory(const std::exception& e) {
    return dynamic_cast<const std::bad_alloc*>(&e) != nullptr ||
           dynamic_cast<const EOutOfMemory*>(&e) != nullptr;
}

// Runs a codec call; running out of memory is a failed image, not a program error.
template <class F>
void Guarded(bool& Aborting, F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        if (!IsOutOfMemory(e)) throw;
        Aborting = true;
    }
}

// Writes a file through a temporary one in the same folder, renamed over the target only
// when the save succeeded, so a failed save leaves an existing file as it was.
class TSafeFileWriter {
public:
    explicit TSafeFileWriter(const std::string& FileName) : target_(FileName) {
        mode_t mode = 0666;
        struct stat st{};
        const bool exists = ::stat(FileName.c_str(), &st) == 0;
        if (exists) mode = st.st_mode & 07777;
        const std::string dir = ExtractFilePath(FileName);
        const std::string base = ExtractFileName(FileName);
        for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
            temp_ = dir + "." + base + "." + std::to_string(::getpid()) + "." +
                    std::to_string(attempt) + ".tmp";
            fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
            if (fd_ < 0 && errno != EEXIST) break;
        }
        if (fd_ < 0)
            throw EFCreateError("Cannot create file \"" + FileName + "\". " + std::strerror(errno));
        if (exists) (void)::fchmod(fd_, mode);   // keep the file's permissions, umask aside
        ::close(fd_);
        try {
            stream_ = std::make_unique<TFileStream>(temp_, fmCreate);
        } catch (...) {
            ::unlink(temp_.c_str());
            throw;
        }
    }
    ~TSafeFileWriter() {
        stream_.reset();
        if (!committed_) ::unlink(temp_.c_str());
    }
    TStream* Stream() { return stream_.get(); }
    // Keeps the written file when Ok, else throws it away.
    void Finish(bool Ok) {
        stream_.reset();
        if (!Ok) return;
        if (::rename(temp_.c_str(), target_.c_str()) != 0)
            throw EFCreateError("Cannot create file \"" + target_ + "\". " + std::strerror(errno));
        committed_ = true;
    }

private:
    std::string target_, temp_;
    int fd_ = -1;
    bool committed_ = false;
    std::unique_ptr<TFileStream> stream_;
};

constexpr unsigned ReadMode = fmOpenRead | fmShareDenyWrite;

}  // namespace

TLuxIO::TLuxIO(TComponent* AOwner)
    : TComponent(AOwner), params_(std::make_unique<TLXIOParams>(this)),
      previewFont_(std::make_unique<TFont>()),
      twainParams_(std::make_unique<TLXTWainParams>(this)) {}

TLuxIO::~TLuxIO() {
    DetachView();
    DetachImage();
}

TProgressRec TLuxIO::MakeProgress() {
    TProgressRec p;
    p.fOnProgress = OnProgress;
    p.Sender = this;
    p.Aborting = &Aborting;
    p.Cancel = Cancel;
    return p;
}

void TLuxIO::ClearMetaLists() {
    params_->IPTCInfo->Clear();
    params_->IPTCInfo->SetChanged(false);
    params_->JpegMarkers->Clear();
    // The EXIF of a read describes that image only, also when it has none.
    params_->ClearExif();
}

int64_t TLuxIO::DataLeft(TStream* Stream) {
    return std::max<int64_t>(0, Stream->Size() - Stream->Position());
}

// ---- Attachment ----

void TLuxIO::DetachView() {
    if (!view_) return;
    view_->RemoveBitmapChangeEvent(MakeMethod(this, &TLuxIO::ViewChanged));
    view_->RemoveFreeNotification(this);
    view_ = nullptr;
    mask_ = nullptr;
    if (target_ == Target::View) {
        bitmap_ = nullptr;
        target_ = Target::None;
    }
}

void TLuxIO::DetachImage() {
    if (!image_) return;
    image_->RemoveFreeNotification(this);
    image_ = nullptr;
    if (target_ == Target::Image) {
        bitmap_ = nullptr;
        target_ = Target::None;
    }
}

void TLuxIO::SetAttachedView(TLXView* View) {
    if (View == view_) return;
    DetachView();
    if (!View) return;
    DetachImage();
    view_ = View;
    bitmap_ = View->GetBitmap();
    target_ = Target::View;
    View->FreeNotification(this);
    View->RegisterBitmapChangeEvent(MakeMethod(this, &TLuxIO::ViewChanged));
    mask_ = View->GetAlphaMask();
}

void TLuxIO::SetAttachedTImage(TImage* Image) {
    if (Image == image_) return;
    if (!Image) {
        DetachImage();
        return;
    }
    DetachView();
    DetachImage();
    image_ = Image;
    bitmap_ = Image->Picture()->Bitmap();
    target_ = Target::Image;
    Image->FreeNotification(this);
    mask_ = nullptr;
}

void TLuxIO::SetAttachedBitmap(TBitmap* Bitmap, TLXMask* Mask) {
    if (!Bitmap) {
        if (view_ || image_) return;
        bitmap_ = nullptr;
        mask_ = nullptr;
        target_ = Target::None;
        return;
    }
    DetachView();
    DetachImage();
    mask_ = Mask;
    bitmap_ = Bitmap;
    target_ = Target::Bare;
}

void TLuxIO::ViewChanged(TLXView* View, uint8_t Flag) {
    if (View != view_ || !view_) return;
    if (Flag == 1) {
        // The view is dying and empties its own list: only drop the references here.
        view_ = nullptr;
        mask_ = nullptr;
        if (target_ == Target::View) {
            bitmap_ = nullptr;
            target_ = Target::None;
        }
    } else {
        bitmap_ = View->GetBitmap();
        mask_ = View->GetAlphaMask();
    }
}

void TLuxIO::Notification(TComponent* AComponent, TOperation Operation) {
    TComponent::Notification(AComponent, Operation);
    if (Operation != opRemove || !AComponent) return;
    if (view_ && AComponent == static_cast<TComponent*>(view_)) DetachView();
    if (image_ && AComponent == static_cast<TComponent*>(image_)) DetachImage();
}

void TLuxIO::Update() {
    if (view_) {
        view_->Update();
        view_->ImageChange();
    } else if (bitmap_) {
        bitmap_->SetModified(true);
    }
}

TColor TLuxIO::Background() const { return view_ ? view_->Background() : background_; }

void TLuxIO::SetBackground(TColor Color) {
    if (!view_) background_ = Color;
    else if (ViewTakesBackground(view_)) view_->SetBackground(Color);
}

void TLuxIO::ClearBitmap() {
    if (!bitmap_ || bitmap_->Empty()) return;
    TCanvas* c = bitmap_->Canvas();
    c->Brush()->SetStyle(bsSolid);
    c->Brush()->SetColor(ColorToRGB(Background()));
    c->FillRect(Rect(0, 0, bitmap_->Width(), bitmap_->Height()));
    bitmap_->FlushCanvas();
}

void TLuxIO::AssignParams(TObject* Source) {
    if (auto* io = dynamic_cast<TLuxIO*>(Source)) params_->Assign(io->Params());
    else if (auto* p = dynamic_cast<TLXIOParams*>(Source)) params_->Assign(p);
}

void TLuxIO::SetPreviewFont(TFont* Font) {
    if (Font) previewFont_->Assign(Font);
}

// ---- The common frame of a load ----

TLXCodecCall TLuxIO::MakeCall(TStream* Stream, TProgressRec& Progress) {
    TLXCodecCall call;
    call.Stream = Stream;
    call.Bitmap = bitmap_;
    call.Params = params_.get();
    call.Progress = &Progress;
    call.Background = TColorToRGB(Background());
    return call;
}

void TLuxIO::DpiToView() {
    if (view_) view_->SetDpi(params_->DpiX, params_->DpiY);
}

void TLuxIO::AfterLoad(bool ReaderFillsMask, bool GiveDpi) {
    // The mask must always match the bitmap, also after a failed read: a mask of another
    // size would be read past its end when the view paints with alpha.
    if (mask_ && bitmap_) {
        const bool sized = mask_->Bits && mask_->BitsPerPixel == 8 &&
                           mask_->Width == bitmap_->Width() && mask_->Height == bitmap_->Height();
        if (!ReaderFillsMask || !sized) {
            mask_->AllocBits(bitmap_->Width(), bitmap_->Height(), 8);
            mask_->Fill(255);
        }
    }
    if (GiveDpi) DpiToView();
    Update();
}

void TLuxIO::LoadFile(int FileType, const std::string& FileName) {
    const TLXCodec& codec = *FindCodec(FileType);
    if (!codec.Decode) {
        codec.ImportFile(*this, FileName);
        return;
    }
    Aborting = false;
    TProgressRec prog = MakeProgress();
    if (!bitmap_) return;
    ClearMetaLists();
    TLXCodecCall call;
    {
        TFileStream fs(FileName, ReadMode);
        call = MakeCall(&fs, prog);
        call.FileLoad = true;
        call.Length = fs.Size();
        if (codec.Flags & lxcoFillsMask) call.Mask = mask_;
        Guarded(Aborting, [&] { codec.Decode(call); });
    }
    if (call.SetsBackground) SetBackground(RGBToTColor(call.Background));
    params_->FileName = FileName;
    params_->FileType = FileType;
    AfterLoad(codec.Flags & lxcoFillsMask, codec.Flags & lxcoFileDpi);
}

void TLuxIO::LoadStream(int FileType, TStream* Stream) {
    const TLXCodec& codec = *FindCodec(FileType);
    Aborting = false;
    TProgressRec prog = MakeProgress();
    if (!bitmap_) return;
    ClearMetaLists();
    // The 12-byte stream header: its length bounds the image, and the stream is left at its
    // end afterwards.
    int64_t end = -1;
    if (codec.StreamTag && (StreamHeaders || (codec.Flags & lxcoHeaderAlways))) {
        const int64_t S = Stream->Position();
        std::string tag;
        uint32_t len = 0;
        const bool read = ReadStreamHeader(Stream, tag, len);
        if (read && tag == codec.StreamTag) {
            // The length comes from the data: never past the end of the stream.
            end = std::min<int64_t>(S + LXStreamHeaderSize + int64_t(len), Stream->Size());
        } else if (read && (codec.Flags & lxcoOldHeader) && tag.compare(0, 3, codec.StreamTag, 3) == 0) {
            Stream->SetPosition(S + 4);
        } else if (codec.Flags & lxcoHeaderAlways) {
            Stream->SetPosition(S);   // no header: the image starts right here
        } else {
            Aborting = true;
            return;
        }
    }
    TLXCodecCall call = MakeCall(Stream, prog);
    if (end >= 0) call.Length = end - Stream->Position();
    if (codec.Flags & lxcoFillsMask) call.Mask = mask_;
    Guarded(Aborting, [&] { codec.Decode(call); });
    if (end >= 0) Stream->SetPosition(end);
    if (call.SetsBackground) SetBackground(RGBToTColor(call.Background));
    params_->FileName.clear();
    params_->FileType = FileType;
    AfterLoad(codec.Flags & lxcoFillsMask, codec.Flags & lxcoStreamDpi);
}

// ---- The common frame of a save ----

bool TLuxIO::PrepareSave() {
    Aborting = false;
    if (!bitmap_) return false;
    if (bitmap_->PixelFormat() != pf24bit && bitmap_->PixelFormat() != pf1bit)
        bitmap_->SetPixelFormat(pf24bit);
    return true;
}

void TLuxIO::EncodeToFile(const std::string& FileName, const TEncodeCall& Encode) {
    TSafeFileWriter w(FileName);
    TProgressRec prog = MakeProgress();
    Guarded(Aborting, [&] { Encode(w.Stream(), prog); });
    w.Finish(!Aborting);
}

void TLuxIO::EncodeToStream(TStream* Stream, const char* Tag, bool KeepPlaceholderOnAbort,
                            const TEncodeCall& Encode) {
    TProgressRec prog = MakeProgress();
    const bool header = Tag && StreamHeaders;
    const int64_t S = Stream->Position();
    if (header) {
        const uint8_t zero[LXStreamHeaderSize] = {};
        StreamWriteChecked(Stream, Aborting, zero, LXStreamHeaderSize);
    }
    Guarded(Aborting, [&] { Encode(Stream, prog); });
    if (!header || (KeepPlaceholderOnAbort && Aborting)) return;
    const int64_t E = Stream->Position();
    const int64_t len = E - S - LXStreamHeaderSize;
    if (len < 0 || len > int64_t(UINT32_MAX)) {
        Aborting = true;
        if (KeepPlaceholderOnAbort) return;
    }
    Stream->SetPosition(S);
    WriteStreamHeader(Stream, Tag, uint32_t(std::clamp<int64_t>(len, 0, UINT32_MAX)), Aborting);
    Stream->SetPosition(E);
}

void TLuxIO::SaveFile(int FileType, const std::string& FileName) {
    const TLXCodec& codec = *FindCodec(FileType);
    if (!PrepareSave()) return;
    EncodeToFile(FileName, [&](TStream* S, TProgressRec& prog) {
        TLXCodecCall call = MakeCall(S, prog);
        call.Mask = mask_;
        codec.Encode(call);
    });
}

void TLuxIO::SaveStream(int FileType, TStream* Stream) {
    const TLXCodec& codec = *FindCodec(FileType);
    if (!PrepareSave()) return;
    EncodeToStream(Stream, codec.StreamTag, codec.Flags & lxcoKeepPlaceholder,
                   [&](TStream* S, TProgressRec& prog) {
                       TLXCodecCall call = MakeCall(S, prog);
                       call.Mask = mask_;
                       codec.Encode(call);
                   });
}

// ---- Per format ----

void TLuxIO::LoadFromFileTIFF(const std::string& FileName) { LoadFile(lxftTIFF, FileName); }
void TLuxIO::LoadFromStreamTIFF(TStream* Stream) { LoadStream(lxftTIFF, Stream); }
void TLuxIO::SaveToFileTIFF(const std::string& FileName) { SaveFile(lxftTIFF, FileName); }
void TLuxIO::SaveToStreamTIFF(TStream* Stream) { SaveStream(lxftTIFF, Stream); }
void TLuxIO::LoadFromFileGIF(const std::string& FileName) { LoadFile(lxftGIF, FileName); }
void TLuxIO::LoadFromStreamGIF(TStream* Stream) { LoadStream(lxftGIF, Stream); }
void TLuxIO::SaveToFileGIF(const std::string& FileName) { SaveFile(lxftGIF, FileName); }
void TLuxIO::SaveToStreamGIF(TStream* Stream) { SaveStream(lxftGIF, Stream); }
void TLuxIO::LoadFromFileJPEG(const std::string& FileName) { LoadFile(lxftJPEG, FileName); }
void TLuxIO::LoadFromStreamJPEG(TStream* Stream) { LoadStream(lxftJPEG, Stream); }
void TLuxIO::SaveToFileJPEG(const std::string& FileName) { SaveFile(lxftJPEG, FileName); }
void TLuxIO::SaveToStreamJPEG(TStream* Stream) { SaveStream(lxftJPEG, Stream); }
void TLuxIO::LoadFromFilePCX(const std::string& FileName) { LoadFile(lxftPCX, FileName); }
void TLuxIO::LoadFromStreamPCX(TStream* Stream) { LoadStream(lxftPCX, Stream); }
void TLuxIO::SaveToFilePCX(const std::string& FileName) { SaveFile(lxftPCX, FileName); }
void TLuxIO::SaveToStreamPCX(TStream* Stream) { SaveStream(lxftPCX, Stream); }
void TLuxIO::LoadFromFileBMP(const std::string& FileName) { LoadFile(lxftBMP, FileName); }
void TLuxIO::LoadFromStreamBMP(TStream* Stream) { LoadStream(lxftBMP, Stream); }
void TLuxIO::SaveToFileBMP(const std::string& FileName) { SaveFile(lxftBMP, FileName); }
void TLuxIO::SaveToStreamBMP(TStream* Stream) { SaveStream(lxftBMP, Stream); }
void TLuxIO::LoadFromFileICO(const std::string& FileName) { LoadFile(lxftICO, FileName); }
void TLuxIO::LoadFromStreamICO(TStream* Stream) { LoadStream(lxftICO, Stream); }
void TLuxIO::LoadFromFileCUR(const std::string& FileName) { LoadFile(lxftCUR, FileName); }
void TLuxIO::LoadFromStreamCUR(TStream* Stream) { LoadStream(lxftCUR, Stream); }
void TLuxIO::LoadFromFilePNG(const std::string& FileName) { LoadFile(lxftPNG, FileName); }
void TLuxIO::LoadFromStreamPNG(TStream* Stream) { LoadStream(lxftPNG, Stream); }
void TLuxIO::SaveToFilePNG(const std::string& FileName) { SaveFile(lxftPNG, FileName); }
void TLuxIO::SaveToStreamPNG(TStream* Stream) { SaveStream(lxftPNG, Stream); }
void TLuxIO::LoadFromFileTGA(const std::string& FileName) { LoadFile(lxftTGA, FileName); }
void TLuxIO::LoadFromStreamTGA(TStream* Stream) { LoadStream(lxftTGA, Stream); }
void TLuxIO::SaveToFileTGA(const std::string& FileName) { SaveFile(lxftTGA, FileName); }
void TLuxIO::SaveToStreamTGA(TStream* Stream) { SaveStream(lxftTGA, Stream); }
void TLuxIO::LoadFromFilePXM(const std::string& FileName) { LoadFile(lxftPXM, FileName); }
void TLuxIO::LoadFromStreamPXM(TStream* Stream) { LoadStream(lxftPXM, Stream); }
void TLuxIO::SaveToFilePXM(const std::string& FileName) { SaveFile(lxftPXM, FileName); }
void TLuxIO::SaveToStreamPXM(TStream* Stream) { SaveStream(lxftPXM, Stream); }

// ---- Metafiles ----

void TLuxIO::ImportMetafile(const std::string& FileName, int Width, int Height) {
    Aborting = false;
    if (Width == 0 || Height == 0 || !bitmap_) return;
    ClearMetaLists();
    // Metafiles are small; one beyond this is no picture this import would ever draw.
    constexpr int64_t MaxMetafileSize = int64_t(256) << 20;
    std::vector<uint8_t> data;
    {
        TFileStream fs(FileName, ReadMode);
        const int64_t size = fs.Size();
        if (size <= 0 || size > MaxMetafileSize) {
            Aborting = true;
            return;
        }
        data.resize(size_t(size));
        if (fs.Read(data.data(), size) != size) {
            Aborting = true;
            return;
        }
    }
    TProgressRec prog = MakeProgress();
    Guarded(Aborting, [&] {
        MetafileDecode(data.data(), data.size(), bitmap_, *params_, Width, Height, Background(), prog);
    });
    if (Aborting) return;   // the bitmap is as it was
    params_->FileName = FileName;
    AfterLoad(false, true);
}

// ---- Registry formats ----

void TLuxIO::LoadFromFileRegistry(const std::string& FileName, TLXFormatEntry* Entry) {
    params_->FileName.clear();
    params_->FileType = 0;
    ClearMetaLists();
    if (!Entry || !Entry->Reader) {
        Aborting = true;
        return;
    }
    Aborting = false;
    if (!bitmap_) return;
    TProgressRec prog = MakeProgress();
    {
        TFileStream fs(FileName, ReadMode);
        params_->FileName = FileName;
        params_->FileType = Entry->FileType;
        Guarded(Aborting, [&] { Entry->Reader(&fs, bitmap_, *params_, false, prog); });
    }
    AfterLoad(false, true);
}

void TLuxIO::LoadFromStreamRegistry(TStream* Stream, int FileType) {
    ClearMetaLists();
    params_->FileName.clear();
    params_->FileType = 0;
    TLXFormatEntry* e = FindFormatById(FileType);
    if (!e || !e->Reader || FileType == 0) {
        Aborting = true;
        return;
    }
    Aborting = false;
    if (bitmap_) {
        TProgressRec prog = MakeProgress();
        Guarded(Aborting, [&] { e->Reader(Stream, bitmap_, *params_, false, prog); });
    }
    AfterLoad(false, true);
}

void TLuxIO::SaveToFileRegistry(const std::string& FileName, TLXFormatEntry* Entry) {
    if (!Entry || !Entry->Writer) {
        Aborting = true;
        return;
    }
    if (!PrepareSave()) return;
    TSafeFileWriter w(FileName);
    params_->FileName = FileName;
    params_->FileType = Entry->FileType;
    TProgressRec prog = MakeProgress();
    Guarded(Aborting, [&] { Entry->Writer(w.Stream(), bitmap_, *params_, prog); });
    w.Finish(!Aborting);
}

void TLuxIO::SaveWithWriter(TStream* Stream, TLXFormatWriter Writer) {
    if (!PrepareSave()) return;
    TProgressRec prog = MakeProgress();
    Guarded(Aborting, [&] { Writer(Stream, bitmap_, *params_, prog); });
}

// ---- Entry points ----

namespace {
// The extension of a file name, lower case, without its dot.
std::string ExtensionOf(const std::string& FileName) {
    const std::string ext = LowerCase(ExtractFileExt(FileName));
    return ext.empty() ? ext : ext.substr(1);
}
bool Loads(const TLXCodec* c) { return c && (c->Decode || c->ImportFile); }
}  // namespace

void TLuxIO::LoadFromFile(const std::string& FileName) {
    if (FileName.empty() || !bitmap_) return;
    const std::string ext = ExtensionOf(FileName);
    const TLXCodec* c = FindCodecByExtension(ext);
    if (Loads(c)) LoadFile(c->FileType, FileName);
    else LoadFromFileRegistry(FileName, FindFormatByExtension(ext));
}

void TLuxIO::SaveToFile(const std::string& FileName) {
    if (FileName.empty()) return;
    const std::string ext = ExtensionOf(FileName);
    const TLXCodec* c = FindCodecByExtension(ext);
    if (c && c->Encode) SaveFile(c->FileType, FileName);
    else SaveToFileRegistry(FileName, FindFormatByExtension(ext));
}

void TLuxIO::LoadFromFileFormat(const std::string& FileName, int FileType) {
    if (Loads(FindCodec(FileType))) LoadFile(FileType, FileName);
    else LoadFromFileRegistry(FileName, FileType != 0 ? FindFormatById(FileType) : nullptr);
}

void TLuxIO::LoadFromStream(TStream* Stream) {
    const int64_t pos = Stream->Position();
    const int type = DetectStreamFormat(Stream);
    Stream->SetPosition(pos);
    LoadFromStreamFormat(Stream, type);
}

void TLuxIO::LoadFromStreamFormat(TStream* Stream, int FileType) {
    const TLXCodec* c = FindCodec(FileType);
    if (c && c->Decode) LoadStream(FileType, Stream);
    else LoadFromStreamRegistry(Stream, FileType);
}

void TLuxIO::SaveToStreamFormat(TStream* Stream, int FileType) {
    const TLXCodec* c = FindCodec(FileType);
    if (c && c->Encode) {
        SaveStream(FileType, Stream);
        return;
    }
    TLXFormatEntry* e = FileType != 0 ? FindFormatById(FileType) : nullptr;
    if (!e || !e->Writer) {
        Aborting = true;
        return;
    }
    SaveWithWriter(Stream, e->Writer);
}

int TLuxIO::FindFileFormat(const std::string& FileName, bool CheckExtension) {
    int detected = 0;
    try {
        TFileStream fs(FileName, ReadMode);
        detected = DetectStreamFormat(&fs);
    } catch (...) {
        return 0;
    }
    if (!CheckExtension) return detected;
    const TLXFormatEntry* e = FindFormatByExtension(ExtensionOf(FileName));
    if (!e) return 0;
    const TLXCodec* found = FindCodec(detected);
    const TLXCodec* named = FindCodec(e->FileType);
    if (found && named && (found->Flags & named->Flags & lxcoSharedLayout)) return e->FileType;
    return detected == e->FileType ? detected : 0;
}

// ---- Parameters only ----

void TLuxIO::ParamsFromStreamFormat(TStream* Stream, int FileType) {
    params_->FileType = FileType;
    ClearMetaLists();
    Aborting = false;
    TProgressRec prog;
    prog.Sender = this;
    prog.Aborting = &Aborting;
    // Readers get a scratch bitmap: whatever a reader does, the target stays as it was.
    TBitmap scratch;
    try {
        const TLXCodec* c = FindCodec(FileType);
        if (c && c->Decode) {
            TLXCodecCall call;
            call.Stream = Stream;
            call.Bitmap = &scratch;
            call.Params = params_.get();
            call.Progress = &prog;
            call.ParamsOnly = true;
            call.Length = DataLeft(Stream);
            c->Decode(call);
        } else if (!c) {
            TLXFormatEntry* e = FileType != 0 ? FindFormatById(FileType) : nullptr;
            if (e && e->Reader) e->Reader(Stream, &scratch, *params_, true, prog);
            else if (FileType != 0) Aborting = true;   // nothing can read it
        }
        // Metafiles have no reader of their parameters: nothing is read.
    } catch (...) {
        params_->FileType = 0;
    }
    if (Aborting) params_->FileType = 0;
}

void TLuxIO::ParamsFromFileFormat(const std::string& FileName, int FileType) {
    params_->FileType = FileType;
    ClearMetaLists();
    Aborting = false;
    try {
        TFileStream fs(FileName, ReadMode);
        ParamsFromStreamFormat(&fs, FileType);
    } catch (...) {
        params_->FileType = 0;
    }
    params_->FileName = FileName;
}

void TLuxIO::ParamsFromFile(const std::string& FileName) {
    try {
        ParamsFromFileFormat(FileName, FindFileFormat(FileName, true));
    } catch (...) {
        params_->FileType = 0;
    }
}

void TLuxIO::ParamsFromStream(TStream* Stream) {
    try {
        ParamsFromStreamFormat(Stream, DetectStreamFormat(Stream));
    } catch (...) {
        params_->FileType = 0;
    }
}
