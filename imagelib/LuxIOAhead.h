// Decoding ahead: one picture read through an I/O component of its own into a bitmap and an
// alpha mask of their own, on whatever thread the caller runs it (the image library's objects
// are not thread-safe, so nothing here is shared with a view), then handed to a view's I/O
// component in one piece, leaving the view as its own load of the same data would have.
// No widget is involved: it may run before the application object exists.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Classes.h"
#include "Graphics.h"
#include "lxdefs.h"

class TLuxIO;
class TLXIOParams;

class TLuxIOAhead {
public:
    TLuxIOAhead();
    ~TLuxIOAhead();
    TLuxIOAhead(const TLuxIOAhead&) = delete;
    TLuxIOAhead& operator=(const TLuxIOAhead&) = delete;

    // The component that reads: an OnProgress set on it is called on the loading thread.
    TLuxIO* IO() const { return io_.get(); }

    // The inputs the target component's own load would see: its parameters (null: the
    // defaults), its background and its stream-header setting. Empties the picture.
    void Prepare(const TLXIOParams* Params, TColor Background, bool StreamHeaders);
    // A load as TLuxIO::LoadFromFile / LoadFromStream makes it, of the formats the codec
    // table decodes. False for anything else and for any failure (nothing is raised): the
    // caller's own load then meets and reports the same fault.
    bool LoadFile(const std::string& FileName);
    // As LoadFile, for every format a load by name reads, the imported (metafiles) and added
    // ones too; on the target's thread only.
    bool LoadAnyFile(const std::string& FileName);
    bool LoadStream(TStream* Stream);

    int Width() const { return bitmap_.Width(); }
    int Height() const { return bitmap_.Height(); }
    // Whether the load under way (or the last one) reads alpha into a mask of its own; when
    // not, the target gets an opaque mask.
    bool ReadsAlpha() const { return !maskFull_; }

    // After a successful load, on the target's thread: the picture, its mask, the parameters,
    // background and resolution go to IO and its attached view, which then repaints. IO's
    // previous picture is left here. Opaque, when given, is an all-255 mask made beforehand
    // (while the load ran): taken instead of filling one when it has the picture's size.
    void HandTo(TLuxIO* IO, TLXMask* Opaque = nullptr);

private:
    // Picks the mask for the reader (only readers that write alpha get one) and loads.
    bool Load(int FileType, bool FromFile, const std::function<void()>& Read);

    TBitmap bitmap_;
    TLXMask mask_;
    std::unique_ptr<TLuxIO> io_;   // attached to bitmap_ (and mask_ when the reader fills it)
    TColor background_ = 0;
    bool maskFull_ = true;          // no alpha read: the target's mask is made opaque
    bool giveDpi_ = false;          // the load hands the file's resolution to a view
};
