// Pictures through Qt's image readers. A GIF is read frame by frame in order (each frame
// comes composed onto the logical screen), so stepping an animation costs one frame; going
// back to frame 1 starts a new reader.
#include "UxPictures.h"

#include <sys/stat.h>

#include <QFile>

#include <algorithm>

#include "UxPicturesDecoder.h"

namespace {

constexpr const char* kInvalidFormat = "Could not load image. Invalid format";
// A picture file is read whole into memory: nothing larger is taken.
constexpr int64_t kMaxPictureBytes = int64_t(64) << 20;

bool StartsWithNoCase(const std::string& s, const std::string& prefix) {
    return s.size() >= prefix.size() && SameText(s.substr(0, prefix.size()), prefix);
}

void StartReader(TUxHTMLPictureDecoder& d) {
    d.reader.reset();
    d.buffer.close();
    d.buffer.setBuffer(&d.bytes);
    d.buffer.open(QIODevice::ReadOnly);
    d.reader = std::make_unique<QImageReader>(&d.buffer);
    d.reader->setDecideFormatFromContent(true);
    d.nextFrame = 1;
}

}  // namespace

TUxHTMLPicture::TUxHTMLPicture() = default;
TUxHTMLPicture::~TUxHTMLPicture() = default;

void TUxHTMLPicture::MakeEmpty() {
    decoder_.reset();   // it reads from data_
    data_.clear();
    empty_ = true;
    width_ = height_ = 0;
    frame_ = 1;
    frameCount_ = -1;
    frameDelay_ = 0;
    ticks_ = nextFrameMs_ = 0;
}

void TUxHTMLPicture::SetData(std::string Bytes) {
    MakeEmpty();
    data_ = std::move(Bytes);
    auto d = std::make_unique<TUxHTMLPictureDecoder>();
    // The reader works on the kept bytes, not on a second copy.
    d->bytes = QByteArray::fromRawData(data_.data(), qsizetype(data_.size()));
    decoder_ = std::move(d);
    StartReader(*decoder_);
    const QSize size = decoder_->reader->size();
    // What the frame will take, as far as the header tells, before anything is decoded.
    if (size.isValid() && !size.isEmpty()) {
        const QImage::Format format = decoder_->reader->imageFormat();
        const int bits = format == QImage::Format_Invalid ? 32 : QImage::toPixelFormat(format).bitsPerPixel();
        if (!FitsLimit(int64_t(size.width()) * size.height() * std::max(bits, 1) / 8)) {
            MakeEmpty();
            Changed();
            throw EInvalidGraphic(kInvalidFormat);
        }
    }
    if (!ShowFrame(1)) {
        MakeEmpty();
        Changed();
        throw EInvalidGraphic(kInvalidFormat);
    }
    empty_ = false;
    width_ = size.isValid() && !size.isEmpty() ? size.width() : decoder_->image.width();
    height_ = size.isValid() && !size.isEmpty() ? size.height() : decoder_->image.height();
    nextFrameMs_ = frameDelay_;
    Changed();
}

bool TUxHTMLPicture::ShowFrame(int N) {
    TUxHTMLPictureDecoder& d = *decoder_;
    d.image = QImage();
    frameDelay_ = 0;
    if (N < 1 || (frameCount_ >= 0 && N > frameCount_)) return false;
    if (N < d.nextFrame) StartReader(d);
    while (d.nextFrame <= N) {
        QImage img = d.reader->read();
        if (img.isNull() || !FitsLimit(img.sizeInBytes())) {
            // The file ends before this frame (or it is damaged): the frames read so far are all.
            if (frameCount_ < 0 || frameCount_ > d.nextFrame - 1) frameCount_ = d.nextFrame - 1;
            return false;
        }
        ++d.nextFrame;
        if (d.nextFrame > N) {
            d.image = std::move(img);
            frameDelay_ = std::max(0, d.reader->nextImageDelay());
        }
    }
    return true;
}

void TUxHTMLPicture::Clear() {
    MakeEmpty();
    Changed();
}

int64_t TUxHTMLPicture::DecodedBytes() const { return decoder_ ? int64_t(decoder_->image.sizeInBytes()) : 0; }

void TUxHTMLPicture::LoadFromStream(TStream* Stream) {
    const int64_t left = Stream->Size() - Stream->Position();
    if (left > kMaxPictureBytes) {
        MakeEmpty();
        Changed();
        throw EInvalidGraphic(kInvalidFormat);
    }
    std::string bytes(size_t(std::max<int64_t>(left, 0)), '\0');
    if (!bytes.empty()) Stream->ReadBuffer(bytes.data(), int64_t(bytes.size()));
    SetData(std::move(bytes));
}

bool TUxHTMLPicture::LoadFromFile(const std::string& FileName) {
    struct stat st {};
    // Only regular files: a FIFO or a device named by a page would block or never end.
    if (::stat(FileName.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxPictureBytes) {
        MakeEmpty();
        Changed();
        return false;
    }
    try {
        TFileStream f(FileName, fmOpenRead | fmShareDenyWrite);
        LoadFromStream(&f);
        return true;
    } catch (const std::exception&) {
        MakeEmpty();
        Changed();
        return false;
    }
}

bool TUxHTMLPicture::LoadFromResourceName(const std::string& Name) {
    QFile f(QStringLiteral(":/rcdata/") + QString::fromStdString(Name));
    if (Name.empty() || !f.open(QIODevice::ReadOnly) || f.size() > kMaxPictureBytes) {
        MakeEmpty();
        Changed();
        return false;
    }
    const QByteArray bytes = f.readAll();
    try {
        SetData(std::string(bytes.constData(), size_t(bytes.size())));
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void TUxHTMLPicture::LoadFromURL(const std::string& Url) {
    MakeEmpty();
    URL = Url;
    ID = UpperCase(Url);
    if (StartsWithNoCase(Url, "RES://")) LoadFromResourceName(Url.substr(6));
    else if (StartsWithNoCase(Url, "FILE://")) LoadFromFile(Url.substr(7));
    else Changed();
}

void TUxHTMLPicture::SaveToStream(TStream* Stream) const {
    if (!data_.empty()) Stream->WriteBuffer(data_.data(), int64_t(data_.size()));
}

void TUxHTMLPicture::Assign(TPersistent* Source) {
    auto* src = dynamic_cast<TUxHTMLPicture*>(Source);
    if (!src) {
        TGraphic::Assign(Source);
        return;
    }
    if (src == this) {
        SetFrame(1);
        return;
    }
    if (src->empty_) {
        MakeEmpty();
        Changed();
        return;
    }
    SetData(src->data_);
}

void TUxHTMLPicture::SetFrame(int N) {
    if (empty_) {
        frame_ = N;
        return;
    }
    frame_ = N;
    ShowFrame(N);
    if (OnFrameChange) OnFrameChange(this);
    Changed();
}

int TUxHTMLPicture::FrameCount() {
    if (empty_) return 0;
    if (frameCount_ < 0) {
        // A reader of its own, so counting does not move the frame shown.
        QBuffer buffer(&decoder_->bytes);
        buffer.open(QIODevice::ReadOnly);
        QImageReader r(&buffer);
        r.setDecideFormatFromContent(true);
        frameCount_ = std::max(1, r.imageCount());
    }
    return frameCount_;
}

bool TUxHTMLPicture::AnimationTick() {
    if (!Animated()) return false;
    ++ticks_;
    if (ticks_ * TickMs < nextFrameMs_) return false;
    const int count = FrameCount();
    int next = frame_ >= count || frame_ < 1 ? 1 : frame_ + 1;
    frame_ = next;
    if (!ShowFrame(next)) {
        // A frame that cannot be read ends the loop early.
        frame_ = 1;
        ShowFrame(1);
    }
    nextFrameMs_ += frameDelay_;
    // Far behind (a picture left without ticks): the clock restarts from now.
    if (nextFrameMs_ < ticks_ * TickMs) nextFrameMs_ = ticks_ * TickMs + frameDelay_;
    if (OnFrameChange) OnFrameChange(this);
    Changed();
    return true;
}

// ---- Container and cache ----

TPictureItem::TPictureItem() = default;
TPictureItem::~TPictureItem() = default;

TPictureItem* TPictureCollection::Add() {
    items_.push_back(std::make_unique<TPictureItem>());
    return items_.back().get();
}

void TPictureCollection::Delete(int i) {
    if (i < 0 || i >= Count()) throw EListError("List index out of bounds (" + IntToStr(i) + ")");
    items_.erase(items_.begin() + i);
}

TUxPictureContainer::TUxPictureContainer(TComponent* AOwner) : TComponent(AOwner) {}

TUxHTMLPicture* TUxPictureContainer::FindPicture(const std::string& Name) {
    const std::string want = UpperCase(Name);
    for (int i = 0; i < items_.Count(); ++i)
        if (UpperCase(items_.Items(i)->Name) == want) return items_.Items(i)->Picture();
    return nullptr;
}

bool TUxPictureContainer::AnimationTick() {
    bool changed = false;
    for (int i = 0; i < items_.Count(); ++i) changed |= items_.Items(i)->Picture()->AnimationTick();
    return changed;
}

TUxPictureCache::TUxPictureCache(int MaxPictures, int64_t MaxBytes) : maxPictures_(MaxPictures), maxBytes_(MaxBytes) {}

namespace {

// What makes two URLs one picture: for a file its device and inode (every spelling of its
// path, and every link to it, gives the same); otherwise the URL as written.
std::string IdentityOf(const std::string& Url) {
    if (StartsWithNoCase(Url, "FILE://")) {
        struct stat st {};
        if (::stat(Url.c_str() + 7, &st) == 0)
            return "file:" + std::to_string(uint64_t(st.st_dev)) + ":" + std::to_string(uint64_t(st.st_ino));
    }
    return "url:" + Url;
}

}  // namespace

TUxHTMLPicture* TUxPictureCache::PictureFor(const std::string& Url) {
    if (TUxHTMLPicture* p = FindPicture(Url)) return p;
    const std::string identity = IdentityOf(Url);
    for (const Kept& k : pictures_)
        if (k.identity == identity) return k.picture.get();
    const int64_t left = maxBytes_ - Bytes();
    if (Count() >= maxPictures_ || left <= 0) return nullptr;
    TUxHTMLPicture* p = AddPicture();
    pictures_.back().identity = identity;
    p->SetDecodeLimit(left);
    p->LoadFromURL(Url);
    // The file's bytes count too: a picture that fits decoded but not with them is dropped.
    if (p->DecodedBytes() + int64_t(p->Data().size()) > left) p->Clear();
    return p;
}

TUxHTMLPicture* TUxPictureCache::AddPicture() {
    pictures_.push_back({std::make_unique<TUxHTMLPicture>(), std::string()});
    return pictures_.back().picture.get();
}

TUxHTMLPicture* TUxPictureCache::FindPicture(const std::string& Url) const {
    for (const Kept& k : pictures_)
        if (k.picture->URL == Url) return k.picture.get();
    return nullptr;
}

bool TUxPictureCache::AnimationTick() {
    bool changed = false;
    for (const Kept& k : pictures_) changed |= k.picture->AnimationTick();
    return changed;
}

void TUxPictureCache::ClearPictures() { pictures_.clear(); }

int64_t TUxPictureCache::Bytes() const {
    int64_t n = 0;
    for (const Kept& k : pictures_) n += int64_t(k.picture->Data().size()) + k.picture->DecodedBytes();
    return n;
}
