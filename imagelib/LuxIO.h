// The image input/output component, the format registry and format detection. The per-image
// parameters are in LuxIOParams.h, the codec table, file types and stream header in
// LuxIOCodec.h.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Classes.h"
#include "Graphics.h"
#include "LuxIOCodec.h"
#include "LuxIOParams.h"
#include "lxdefs.h"

class TLuxIO;
class TLXView;
class TLXMask;
class TLXTWainParams;
class TForm;

// ---- Format registry ----

using TLXFormatReader = void (*)(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams,
                                 bool ParamsOnly, TProgressRec& Progress);
using TLXFormatWriter = void (*)(TStream* Stream, TBitmap* Bitmap, TLXIOParams& IOParams,
                                 TProgressRec& Progress);
using TLXFormatDetector = bool (*)(TStream* Stream);

// One format. The built-in twelve (made from the codec table) have no callbacks: the I/O
// component and DetectStreamFormat handle them; added formats bring theirs.
struct TLXFormatEntry {
    int FileType = 0;
    std::string Description;    // at most 80 characters
    std::string Extensions;     // upper case, no dots, separated by ";"; at most 80 characters
    TLXFormatReader Reader = nullptr;
    TLXFormatWriter Writer = nullptr;
    TLXFormatDetector Detector = nullptr;
};

// The registry, built with the twelve built-in entries on first use. Added formats append
// their entry.
std::vector<std::unique_ptr<TLXFormatEntry>>& FormatRegistry();

TLXFormatEntry* FindFormatById(int FileType);
int FormatExtensionCount(int FileType);
// The i-th extension (from 0) of the entry's list; empty when there is none.
std::string FormatExtension(int FileType, int i);
// Extension without the dot, any case; the first entry that lists it.
TLXFormatEntry* FindFormatByExtension(const std::string& Extension);

// ---- Detection ----

// File type of the data at the stream position, 0 when nothing matches: the added formats'
// detectors first, then DetectionOrder(). Never raises; the position is restored.
int DetectStreamFormat(TStream* Stream);

// ---- Picture control stand-in ----

// The class library's picture: here only the bitmap kind.
class TPicture : public TPersistent {
public:
    TPicture();
    ~TPicture() override;
    TBitmap* Bitmap() const { return bitmap_.get(); }
private:
    std::unique_ptr<TBitmap> bitmap_;
};

// The class library's image control, reduced to what the I/O component attaches to. It shows
// Picture.Bitmap; a change of the bitmap (Modified) is what repaints it.
class TImage : public TComponent {
public:
    explicit TImage(TComponent* AOwner);
    ~TImage() override;
    TPicture* Picture() const { return picture_.get(); }
private:
    std::unique_ptr<TPicture> picture_;
};

// ---- The I/O component ----

enum TLXIOPreviewsParam { ioppDefaultLockPreview };
using TLXIOPreviewsParams = unsigned;   // set of 1 << TLXIOPreviewsParam
enum TLXDialogsMeasureUnit { lxduInches, lxduCm };
using TLXIOPreviewEvent = TMethod<void(TObject* Sender, TForm* PreviewForm)>;

// Reads and writes one target bitmap: the bitmap of an attached view (with its alpha mask),
// the Picture.Bitmap of an attached TImage, or a bare bitmap. Codec failures come back in
// Aborting; errors outside the codecs (a file that cannot be opened) are raised.
class TLuxIO : public TComponent {
public:
    explicit TLuxIO(TComponent* AOwner);
    ~TLuxIO() override;

    // Entry points.
    virtual void LoadFromFile(const std::string& FileName);
    virtual void SaveToFile(const std::string& FileName);
    virtual void LoadFromFileFormat(const std::string& FileName, int FileType);
    virtual void ParamsFromFile(const std::string& FileName);
    virtual void ParamsFromFileFormat(const std::string& FileName, int FileType);
    virtual void ParamsFromStream(TStream* Stream);
    virtual void ParamsFromStreamFormat(TStream* Stream, int FileType);
    virtual void LoadFromStream(TStream* Stream);
    virtual void LoadFromStreamFormat(TStream* Stream, int FileType);
    virtual void SaveToStreamFormat(TStream* Stream, int FileType);

    // Per format. Stream forms work from the stream's current position.
    void LoadFromFileTIFF(const std::string& FileName);
    void LoadFromStreamTIFF(TStream* Stream);
    void SaveToFileTIFF(const std::string& FileName);
    void SaveToStreamTIFF(TStream* Stream);
    void LoadFromFileGIF(const std::string& FileName);
    void LoadFromStreamGIF(TStream* Stream);
    void SaveToFileGIF(const std::string& FileName);
    void SaveToStreamGIF(TStream* Stream);
    void LoadFromFileJPEG(const std::string& FileName);
    void LoadFromStreamJPEG(TStream* Stream);
    void SaveToFileJPEG(const std::string& FileName);
    void SaveToStreamJPEG(TStream* Stream);
    void LoadFromFilePCX(const std::string& FileName);
    void LoadFromStreamPCX(TStream* Stream);
    void SaveToFilePCX(const std::string& FileName);
    void SaveToStreamPCX(TStream* Stream);
    void LoadFromFileBMP(const std::string& FileName);
    void LoadFromStreamBMP(TStream* Stream);
    void SaveToFileBMP(const std::string& FileName);
    void SaveToStreamBMP(TStream* Stream);
    void LoadFromFileICO(const std::string& FileName);
    void LoadFromStreamICO(TStream* Stream);
    void LoadFromFileCUR(const std::string& FileName);
    void LoadFromStreamCUR(TStream* Stream);
    void LoadFromFilePNG(const std::string& FileName);
    void LoadFromStreamPNG(TStream* Stream);
    void SaveToFilePNG(const std::string& FileName);
    void SaveToStreamPNG(TStream* Stream);
    void LoadFromFileTGA(const std::string& FileName);
    void LoadFromStreamTGA(TStream* Stream);
    void SaveToFileTGA(const std::string& FileName);
    void SaveToStreamTGA(TStream* Stream);
    void LoadFromFilePXM(const std::string& FileName);
    void LoadFromStreamPXM(TStream* Stream);
    void SaveToFilePXM(const std::string& FileName);
    void SaveToStreamPXM(TStream* Stream);
    // WMF / EMF at Width x Height (-1: from the metafile's own size, aspect kept), at most
    // 2800 pixels on the longer side. A file that cannot be opened raises; a metafile
    // without a size, or one that no renderer reads, sets Aborting.
    void ImportMetafile(const std::string& FileName, int Width, int Height);

    // File type of a file by its content; with CheckExtension the extension must agree.
    int FindFileFormat(const std::string& FileName, bool CheckExtension);

    // Attachment.
    TLXView* AttachedView() const { return view_; }
    void SetAttachedView(TLXView* View);
    TImage* AttachedTImage() const { return image_; }
    void SetAttachedTImage(TImage* Image);
    // A bare bitmap; with a Mask the readers that write alpha fill it, and every load leaves
    // it the bitmap's size (as a view's mask).
    void SetAttachedBitmap(TBitmap* Bitmap, TLXMask* Mask = nullptr);
    TBitmap* Bitmap() const { return bitmap_; }
    TLXMask* Mask() const { return mask_; }
    // The change callback registered with an attached view: flag 1 (view destroyed) drops
    // every reference to the view, flag 0 (bitmap changed) takes its bitmap and mask again.
    void ViewChanged(TLXView* View, uint8_t Flag);

    // Repaint the target: the view's Update and ImageChange, else the bitmap marked modified.
    void Update();
    TColor Background() const;
    void SetBackground(TColor Color);
    // Fills the whole target with Background.
    void ClearBitmap();
    // From a TLuxIO its Params, from a TLXIOParams that set; anything else is ignored.
    void AssignParams(TObject* Source);

    TLXIOParams* Params() const { return params_.get(); }
    // The scanner parameters; nothing acquires through them.
    TLXTWainParams* TwainParams() const { return twainParams_.get(); }
    TFont* PreviewFont() const { return previewFont_.get(); }
    void SetPreviewFont(TFont* Font);

    // Set by a codec, or by an OnProgress handler, to end the current operation; cleared at
    // the start of every load and save.
    bool Aborting = false;
    // Set by another thread to end the current load early (TProgressRec::Cancel); the
    // component only passes it on.
    const std::atomic<bool>* Cancel = nullptr;
    TLXProgressEvent OnProgress;
    TMsgLanguage MsgLanguage = msSystem;
    TLXIOPreviewsParams PreviewsParams = 0;
    // Write and expect the 12-byte stream header for TIFF, PCX and JPEG streams.
    bool StreamHeaders = false;
    TLXIOPreviewEvent OnIOPreview;
    TLXDialogsMeasureUnit DialogsMeasureUnit = lxduInches;

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    enum class Target { None, View, Image, Bare };
    TProgressRec MakeProgress();
    // Clears what a read tells of the previous image: IPTC records, markers and EXIF.
    void ClearMetaLists();
    void DetachView();
    void DetachImage();
    // The common frames of the table's formats.
    void LoadFile(int FileType, const std::string& FileName);
    void LoadStream(int FileType, TStream* Stream);
    void SaveFile(int FileType, const std::string& FileName);
    void SaveStream(int FileType, TStream* Stream);
    TLXCodecCall MakeCall(TStream* Stream, TProgressRec& Progress);
    // Mask made opaque (unless the reader filled it), resolution to the view, repaint.
    void AfterLoad(bool ReaderFillsMask, bool GiveDpi);
    void DpiToView();
    bool PrepareSave();
    using TEncodeCall = std::function<void(TStream* Stream, TProgressRec& Progress)>;
    // Every file save: into a temporary file that replaces the target only on success.
    void EncodeToFile(const std::string& FileName, const TEncodeCall& Encode);
    // Every stream save; with a Tag and StreamHeaders on, the 12-byte header goes in front.
    // KeepPlaceholderOnAbort leaves the zeroed header of a save that failed.
    void EncodeToStream(TStream* Stream, const char* Tag, bool KeepPlaceholderOnAbort,
                        const TEncodeCall& Encode);
    void LoadFromStreamRegistry(TStream* Stream, int FileType);
    void LoadFromFileRegistry(const std::string& FileName, TLXFormatEntry* Entry);
    void SaveToFileRegistry(const std::string& FileName, TLXFormatEntry* Entry);
    void SaveWithWriter(TStream* Stream, TLXFormatWriter Writer);
    int64_t DataLeft(TStream* Stream);

    // The target comes first: the parameters read it when they are made.
    TBitmap* bitmap_ = nullptr;
    TLXView* view_ = nullptr;
    TImage* image_ = nullptr;
    TLXMask* mask_ = nullptr;
    Target target_ = Target::None;
    TColor background_ = 0;
    std::unique_ptr<TLXIOParams> params_;
    std::unique_ptr<TFont> previewFont_;
    std::unique_ptr<TLXTWainParams> twainParams_;
};
