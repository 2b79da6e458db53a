// Pictures of the HTML label: a graphic that keeps the bytes of an image file and decodes
// them through the platform's image readers (animated GIFs frame by frame), a component
// holding named pictures, and the label's cache of pictures named by a URL.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"
#include "Graphics.h"

struct TUxHTMLPictureDecoder;

class TUxHTMLPicture : public TGraphic {
public:
    TUxHTMLPicture();
    ~TUxHTMLPicture() override;

    // Takes the bytes from the stream's position to its end. Bytes that no reader can decode
    // leave the picture empty and raise EInvalidGraphic "Could not load image. Invalid format".
    void LoadFromStream(TStream* Stream);
    // Any error (no such file, not a regular file, unreadable bytes) leaves the picture empty;
    // false then.
    bool LoadFromFile(const std::string& FileName);
    // A picture stored with the program (a resource ":/rcdata/<Name>"); false when none.
    bool LoadFromResourceName(const std::string& Name);
    // "RES://name" loads the resource, "FILE://path" the file (prefixes in any letter case);
    // any other URL is only remembered and the picture stays empty: nothing is downloaded.
    void LoadFromURL(const std::string& URL);
    // The bytes as they were loaded (the picture's stored form).
    void SaveToStream(TStream* Stream) const;
    const std::string& Data() const { return data_; }
    // Copies the bytes of another TUxHTMLPicture and starts again at frame 1.
    void Assign(TPersistent* Source) override;

    bool Empty() const { return empty_; }
    // The picture's size in pixels (a GIF's logical screen); 0 when empty.
    int Width() const { return width_; }
    int Height() const { return height_; }

    // The most memory a decoded frame may take (negative: no bound beyond the readers' own).
    // Bytes whose frame would be larger load as unreadable ones do. Applies to later loads.
    void SetDecodeLimit(int64_t Bytes) { decodeLimit_ = Bytes; }
    // The memory of the frame shown, decoded; 0 when none.
    int64_t DecodedBytes() const;
    // Drops the bytes and the frame: the picture is empty, its name (ID, URL) stays.
    void Clear();

    // The frame shown, from 1. A frame outside 1..FrameCount shows nothing.
    int Frame() const { return frame_; }
    void SetFrame(int N);
    // The number of frames, counted once from the reader (1 for a still picture, 0 empty).
    int FrameCount();
    // The delay of the frame shown, in milliseconds (0 when the file gives none).
    int FrameDelay() const { return frameDelay_; }
    // Pictures of 2 frames or more that are not empty animate.
    bool Animated() { return !empty_ && FrameCount() >= 2; }
    // One tick of the label's 100 ms timer: steps to the next frame (after the last back to
    // the first) when its time has come. True when the frame changed.
    bool AnimationTick();
    static constexpr int TickMs = 100;

    // Drawn stretched into the target rectangle instead of at its own size.
    bool Stretch = false;
    // The name it was loaded from: ID upper case, URL as given.
    std::string ID, URL;

    TNotifyEvent OnFrameChange;

    // The decoder holding the frame shown (for the painter); null when empty.
    const TUxHTMLPictureDecoder* Decoder() const { return decoder_.get(); }

private:
    void SetData(std::string Bytes);
    void MakeEmpty();
    bool ShowFrame(int N);

    bool FitsLimit(int64_t Bytes) const { return decodeLimit_ < 0 || Bytes <= decodeLimit_; }

    std::string data_;
    int64_t decodeLimit_ = -1;
    bool empty_ = true;
    int width_ = 0, height_ = 0;
    int frame_ = 1;
    int frameCount_ = -1;
    int frameDelay_ = 0;
    int64_t ticks_ = 0, nextFrameMs_ = 0;
    std::unique_ptr<TUxHTMLPictureDecoder> decoder_;
};

// A named picture of a container. Assigning a picture copies its bytes.
class TPictureItem {
public:
    TPictureItem();
    ~TPictureItem();
    std::string Name;
    intptr_t Tag = 0;
    TUxHTMLPicture* Picture() { return &picture_; }
    void SetPicture(TUxHTMLPicture* Value) { picture_.Assign(Value); }

private:
    TUxHTMLPicture picture_;
};

class TPictureCollection {
public:
    TPictureItem* Add();
    int Count() const { return int(items_.size()); }
    TPictureItem* Items(int i) const { return items_.at(size_t(i)).get(); }
    void Delete(int i);
    void Clear() { items_.clear(); }

private:
    std::vector<std::unique_ptr<TPictureItem>> items_;
};

// Named pictures for the label's <IMG SRC="name">.
class TUxPictureContainer : public TComponent {
public:
    explicit TUxPictureContainer(TComponent* AOwner);
    TPictureCollection* Items() { return &items_; }
    // The first picture whose name equals Name in any letter case; null when none.
    TUxHTMLPicture* FindPicture(const std::string& Name);
    // One animation tick for every picture; true when any frame changed.
    bool AnimationTick();

private:
    TPictureCollection items_;
};

// The label's pictures named by a URL, made on first use. A page may name one file in many
// spellings ("FILE:///a/b.png", "FILE:///a//b.png", "FILE:///a/./b.png", a link to it): a
// picture is kept once per file, and the memory the pictures hold, decoded, has a bound.
class TUxPictureCache {
public:
    static constexpr int kMaxPictures = 32;
    static constexpr int64_t kMaxBytes = int64_t(64) << 20;
    explicit TUxPictureCache(int MaxPictures = kMaxPictures, int64_t MaxBytes = kMaxBytes);

    // The picture a URL names: the one kept for the same file (for "FILE://" its device and
    // inode; other URLs as written), else a new one loaded from the URL, its decoded frame
    // bounded by what the cache has left. Null when the cache is full.
    TUxHTMLPicture* PictureFor(const std::string& URL);

    TUxHTMLPicture* AddPicture();
    // The picture whose URL equals URL as written; null when none.
    TUxHTMLPicture* FindPicture(const std::string& URL) const;
    bool AnimationTick();
    void ClearPictures();
    int Count() const { return int(pictures_.size()); }
    // The memory the pictures hold together: their files' bytes and their decoded frames.
    int64_t Bytes() const;

private:
    struct Kept {
        std::unique_ptr<TUxHTMLPicture> picture;
        std::string identity;
    };
    int maxPictures_;
    int64_t maxBytes_;
    std::vector<Kept> pictures_;
};
