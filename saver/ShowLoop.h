// The show loop apart from its window: photo order, transitions, titles, panning, music and
// the input rules. The window hands it its timers, view, music player and the block source
// through the small interfaces below, so the whole sequence can run against fakes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Controls.h"
#include "Graphics.h"
#include "ScrnSave.h"
#include "lxdefs.h"

// A timer with the class library's rules: it ticks only while enabled with an interval above
// 0; setting the interval or enabling restarts the count.
class IShowTimer {
public:
    virtual ~IShowTimer() = default;
    virtual void SetInterval(unsigned Ms) = 0;
    virtual void SetEnabled(bool Value) = 0;
    virtual bool Enabled() const = 0;
    virtual unsigned Interval() const = 0;
};

class IShowRandom {
public:
    virtual ~IShowRandom() = default;
    virtual void Randomize() = 0;
    // Uniform in 0..N-1 (N >= 1).
    virtual int Random(int N) = 0;
};

// The data blocks of the player file. False when block K does not exist.
class IBlockSource {
public:
    virtual ~IBlockSource() = default;
    virtual bool ReadBlock(int K, std::string& Data) = 0;
    // Block K in pieces, in order, for a block that must not be held whole (the music): Sink
    // returns false to stop. False when the block does not exist, cannot be read or Sink
    // stopped. This one reads it whole.
    virtual bool ReadBlockPieces(int K, const std::function<bool(const char* Data, size_t Size)>& Sink) {
        std::string data;
        return ReadBlock(K, data) && Sink(data.data(), data.size());
    }
};

// The image view with its title and comment labels.
class IShowView {
public:
    virtual ~IShowView() = default;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual void SetBackground(TColor Color) = 0;
    virtual void Clear() = 0;
    virtual void UpdateView() = 0;
    virtual void Repaint() = 0;
    virtual void LockPaint() = 0;
    virtual void UnlockPaint() = 0;
    // Decodes Data from Offset on. False when it is no picture the library can show (the
    // view keeps its previous picture and background then); W and H are the bitmap's size.
    virtual bool LoadPhoto(const std::string& Data, size_t Offset, int& W, int& H) = 0;
    virtual void SetAutoFit(bool Value) = 0;
    virtual void SetZoom(double Percent) = 0;
    virtual int ViewX() const = 0;
    virtual int ViewY() const = 0;
    virtual void SetViewX(int Value) = 0;
    virtual void SetViewY(int Value) = 0;
    virtual void GetMaxViewXY(int& MaxX, int& MaxY) = 0;
    virtual void PrepareTransition() = 0;
    virtual void RunTransition(TLXTransitionType Effect, int Ms) = 0;
    virtual bool TransitionRunning() const = 0;
    virtual void AbortTransition() = 0;

    virtual void StyleTitle(const TPlayerSettings& Settings) = 0;
    // Sets the text and sizes the label to it.
    virtual void SetTitleText(const std::string& Text) = 0;
    virtual int TitleWidth() const = 0;
    virtual int TitleHeight() const = 0;
    virtual void MoveTitle(int Left, int Top) = 0;
    virtual void SetTitleVisible(bool Value) = 0;
    virtual void SetCommentVisible(bool Value) = 0;
};

// What a decode-ahead holds for a block.
enum class TAheadStatus {
    None,      // nothing: no job for this block is queued, in work or done
    Working,   // queued or in work
    Ready,     // its strings were read and its picture decoded: Take hands it over
    Missing,   // there is no such block
    Failed,    // its strings do not fit, or its picture did not decode
};

// Reads and decodes the photo of the next tick ahead of it (in the player: on a worker
// thread, into a bitmap of its own). The show works the same without one; with one, a tick
// only hands the picture over, and while the picture is still in work the tick comes back
// a little later, so the event loop never waits on a decode.
class IPhotoAhead {
public:
    virtual ~IPhotoAhead() = default;
    // Starts on block K; a photo held or in work for another block is dropped (its decode
    // is cancelled).
    virtual void Start(int K) = 0;
    // What became of block K, at once.
    virtual TAheadStatus Status(int K) = 0;
    // When block K is Ready: its picture is now the view's, loaded as the view's own load
    // would have left it (W and H at least 1), and true. Otherwise false, changing nothing;
    // never waits. Anything held for another block is dropped.
    virtual bool Take(int K, std::string& Name, std::string& Comment, int& W, int& H) = 0;
    // Drops what is held or in work.
    virtual void Discard() = 0;
};

// The music player. Play loops the file; a failure reported later arrives as
// TShowController::MusicFailed. False when the file cannot be opened at all.
class IShowMusic {
public:
    virtual ~IShowMusic() = default;
    virtual bool Play(const std::string& FileName) = 0;
    virtual void Stop() = 0;
};

// What the show needs from its window and the program.
class IShowHost {
public:
    virtual ~IShowHost() = default;
    virtual void CloseWindow() = 0;      // the end of the show: the program ends
    virtual void Quit() = 0;             // the quit message of the saver's input filter
    [[noreturn]] virtual void Halt(int ExitCode) = 0;
    virtual void Maximize() = 0;
    virtual TPoint CursorPos() = 0;      // global
    virtual void ShowCursor(bool Show) = 0;
    virtual void GrabKeyboard(bool Grab) = 0;
    virtual bool PasswordInUse() = 0;
    virtual bool VerifyPassword() = 0;
    virtual void ShowSettingsDialog() = 0;
    virtual void ShowHelpDialog() = 0;
    virtual void Log(const std::string& Line) = 0;
};

// The name and comment strings in front of a photo block's image bytes; Offset is where the
// image starts. False when they do not fit.
bool ReadPhotoHeader(const std::string& Data, std::string& Name, std::string& Comment, size_t& Offset);
// The same from a stream, which is left at the image.
bool ReadPhotoHeader(TStream* S, std::string& Name, std::string& Comment);

// Effect setting onto a transition type; Paint and Move draw one of their set.
TLXTransitionType MapEffect(int32_t Effect, IShowRandom& Rng);
// Title label position for NamePosition 0..5; false for any other value (the label stays).
bool TitlePosition(int32_t NamePosition, int W, int H, int w, int h, int& Left, int& Top);
// The extension for the temporary music file from MusicName (which comes from the file):
// the part after the last '.' of the last path element, when it is 1..10 letters or digits;
// "" otherwise (no music).
std::string MusicExtension(const std::string& MusicName);
// The music's copy for the media player: an unnamed file in the temporary folder (O_TMPFILE),
// so the copy costs no memory beyond the system's cache, or, where the folder's file system
// makes no unnamed files, an unnamed file in memory (memfd). Either has no name in any folder,
// so no end of the program, a kill included, can leave it behind, and it lives as long as
// this object: the player opens it by the path of its descriptor, /proc/self/fd/N, again
// whenever it restarts the music.
class TMusicCopy {
public:
    TMusicCopy() = default;
    TMusicCopy(const TMusicCopy&) = delete;
    TMusicCopy& operator=(const TMusicCopy&) = delete;
    ~TMusicCopy() { Drop(); }
    // A new, empty copy (the old one dropped); the memory copy is named "~music.<Ext>" for
    // anyone who lists the process's files. False, with no copy, when none can be made.
    bool Begin(const std::string& Ext);
    // Adds bytes at the end. False, with the copy dropped, when they cannot be written (a
    // full disk, a file-size limit).
    bool Append(const char* Data, size_t Size);
    // Begin and Append in one.
    bool Make(const std::string& Data, const std::string& Ext);
    void Drop();
    // The path to give the player; empty without a copy.
    const std::string& Path() const { return path_; }
    // How many bytes it holds.
    uint64_t Size() const { return size_; }

private:
    int fd_ = -1;
    std::string path_;
    uint64_t size_ = 0;
};

// Input events as the saver's filter and the key handlers see them.
enum class TInputKind { MouseMove, KeyDown, KeyUp, ButtonDown, Deactivate, Other };
constexpr uint16_t kVkLeft = 0x25, kVkRight = 0x27, kVkF1 = 0x70, kVkF10 = 0x79;

class TShowController {
public:
    TShowController(TPlayerSettings& Settings, TRunMode Mode, uint8_t PlatformId,
                    IShowView& View, IBlockSource& Blocks, IShowRandom& Rng,
                    IShowTimer& PhotoTimer, IShowTimer& TitleTimer, IShowTimer& PanTimer,
                    IShowMusic& Music, IShowHost& Host);
    ~TShowController();

    // Decodes the next photo ahead of its tick; null (the default) decodes at the tick.
    void SetPhotoAhead(IPhotoAhead* Ahead) { ahead_ = Ahead; }

    void FormShow(bool FromWindow);
    void FormHide();
    void UpdateScreenTimer();
    void showlabelTimer();
    void scrollTimer();
    // The music player could not play the file: the show goes on without music.
    void MusicFailed();

    // The saver's input filter; true when the event is eaten. Only active between FormShow
    // and FormHide in Saver mode.
    bool AppMessageFilter(TInputKind Kind, int GlobalX = 0, int GlobalY = 0);
    bool FilterInstalled() const { return filterInstalled_; }
    void FormKeyDown(uint16_t Key);
    void FormKeyPress(char Key);
    void picMouseDown(TMouseButton Button);
    void picMouseUp(TMouseButton Button);
    // A close that does not come from the program itself: honoured only in Slideshow mode.
    bool AcceptSpontaneousClose() const { return mode_ == rmSlideshow; }

    int32_t CurrentIndex = 0;
    // TempMusicFile: the path of the music's copy while it plays (TMusicCopy), else empty.
    std::string PhotoName, PhotoComment, TempMusicFile;
    double PanScale = 1.0;
    bool PanVertical = false, PanDone = false;
    bool Panorama() const { return panorama_; }
    TPoint StartCursorPos{0, 0};

private:
    bool Loops() const;
    void StartMusic();
    void DropMusicFile();
    void StopTimers();
    void NextIndex(int32_t Shown);
    void ArmPhotoTimer();
    void ShowNow();
    void OpenDialog(bool Settings);
    void StartAhead();
    enum class TAheadStep { Ready, Wait, NoPhotos, End };
    TAheadStep ResolveAhead();
    void ClearForPhoto();
    void ShowNoPhotos();
    void PresentPhoto(int w, int h);

    TPlayerSettings& s_;
    TRunMode mode_;
    uint8_t platformId_;
    IShowView& view_;
    IBlockSource& blocks_;
    IShowRandom& rng_;
    IShowTimer &photo_, &title_, &pan_;
    IShowMusic& music_;
    IShowHost& host_;
    TMusicCopy musicCopy_;
    IPhotoAhead* ahead_ = nullptr;
    bool panorama_ = false, filterInstalled_ = false, cursorHidden_ = false;
    int panW_ = 0, panH_ = 0;
    // With a decode-ahead: the photos skipped since the last one shown (the show stops at one
    // round of them), and the block whose decode a tick is waiting for (0: none).
    int32_t aheadSkips_ = 0, waitingFor_ = 0;
};
