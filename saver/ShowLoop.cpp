#include "ShowLoop.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Classes.h"
#include "SysUtils.h"
#include "exedata.h"

namespace {

constexpr TLXTransitionType kPaintSet[] = {lxttLeftRight1, lxttRightLeft1, lxttUpDown1,
                                           lxttDownUp1,    lxttCenter1,    lxttCenter2};
constexpr TLXTransitionType kMoveSet[] = {
    lxttFromUpLeft,      lxttFromUpRight,     lxttFromBottomLeft,  lxttFromBottomRight,
    lxttMoveLeftRight1,  lxttMoveRightLeft1,  lxttMoveUpDown1,     lxttMoveDownUp1,
    lxttMoveLeftRight2,  lxttMoveRightLeft2,  lxttMoveUpDown2,     lxttMoveDownUp2};

constexpr unsigned kFirstTickMs = 100, kTitlePollMs = 100, kPanStepMs = 40;
constexpr int kPanStepPx = 4, kMouseSlackPx = 5;
// "No photos found!" stays readable this long before the window closes.
constexpr unsigned kNoPhotosMs = 3000;
// While the decode-ahead still works on the photo of a tick, the tick comes back this often.
constexpr unsigned kAheadPollMs = 20;

}  // namespace

bool ReadPhotoHeader(TStream* S, std::string& Name, std::string& Comment) {
    try {
        Name = DecodePayloadText(ReadPayloadString(S));
        Comment = DecodePayloadText(ReadPayloadString(S));
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool ReadPhotoHeader(const std::string& Data, std::string& Name, std::string& Comment, size_t& Offset) {
    TPointerStream ms(Data.data(), int64_t(Data.size()));
    if (!ReadPhotoHeader(&ms, Name, Comment)) return false;
    Offset = size_t(ms.Position());
    return true;
}

TLXTransitionType MapEffect(int32_t Effect, IShowRandom& Rng) {
    switch (Effect) {
    case 0: return lxttNone;
    case 1: return lxttCrossDissolve;
    case 2: return lxttFadeOutIn;
    case 3: return kPaintSet[Rng.Random(6)];
    case 4: return kMoveSet[Rng.Random(12)];
    case 5: return lxttRandomBoxes;
    case 6: return lxttCenterZoom1;
    case 7: return lxttCenterZoom2;
    default: return lxttNone;
    }
}

bool TitlePosition(int32_t NamePosition, int W, int H, int w, int h, int& Left, int& Top) {
    if (NamePosition < 0 || NamePosition > 5) return false;
    const int center = W / 2 - w / 2;
    const int lefts[6] = {0, center, W - w, 0, center, W - w};
    Left = lefts[NamePosition];
    Top = NamePosition < 3 ? 0 : H - h;
    return true;
}

std::string MusicExtension(const std::string& MusicName) {
    // Names come from a Windows writer: any of \ / : ends a folder part.
    const auto slash = MusicName.find_last_of("\\/:");
    const std::string base = slash == std::string::npos ? MusicName : MusicName.substr(slash + 1);
    const auto dot = base.rfind('.');
    if (dot == std::string::npos) return "";
    const std::string ext = base.substr(dot + 1);
    if (ext.empty() || ext.size() > 10) return "";
    for (char c : ext)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return "";
    return ext;
}

bool TMusicCopy::Begin(const std::string& Ext) {
    Drop();
    if (Ext.empty() || MusicExtension("x." + Ext) != Ext) return false;
    // O_EXCL: the copy can never be given a name.
    int fd = ::open(GetTempDir().c_str(), O_TMPFILE | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) fd = ::memfd_create(("~music." + Ext).c_str(), MFD_CLOEXEC);
    if (fd < 0) return false;
    fd_ = fd;
    path_ = "/proc/self/fd/" + std::to_string(fd);
    return true;
}

bool TMusicCopy::Append(const char* Data, size_t Size) {
    if (fd_ < 0) return false;
    // Under a file-size limit the write fails with EFBIG (the program ignores SIGXFSZ).
    for (size_t done = 0; done < Size;) {
        const ssize_t n = ::write(fd_, Data + done, Size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            Drop();
            return false;
        }
        done += size_t(n);
    }
    size_ += Size;
    return true;
}

bool TMusicCopy::Make(const std::string& Data, const std::string& Ext) {
    return Begin(Ext) && Append(Data.data(), Data.size());
}

void TMusicCopy::Drop() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    path_.clear();
    size_ = 0;
}

TShowController::TShowController(TPlayerSettings& Settings, TRunMode Mode, uint8_t PlatformId,
                                 IShowView& View, IBlockSource& Blocks, IShowRandom& Rng,
                                 IShowTimer& PhotoTimer, IShowTimer& TitleTimer,
                                 IShowTimer& PanTimer, IShowMusic& Music, IShowHost& Host)
    : s_(Settings), mode_(Mode), platformId_(PlatformId), view_(View), blocks_(Blocks),
      rng_(Rng), photo_(PhotoTimer), title_(TitleTimer), pan_(PanTimer), music_(Music),
      host_(Host) {}

TShowController::~TShowController() { DropMusicFile(); }

bool TShowController::Loops() const { return mode_ != rmSlideshow || s_.Loop; }

void TShowController::FormShow(bool FromWindow) {
    rng_.Randomize();
    DropMusicFile();   // a restart copies the music afresh; the old copy must not stay behind
    if (mode_ != rmPreview) {
        host_.Maximize();
        if (mode_ != rmSlideshow) {
            StartCursorPos = host_.CursorPos();
            filterInstalled_ = true;
            host_.GrabKeyboard(true);
        }
        if (!cursorHidden_) {
            host_.ShowCursor(false);
            cursorHidden_ = true;
        }
    }
    if (FromWindow) CurrentIndex = std::max<int32_t>(s_.PhotoCount, 0) + 1;
    aheadSkips_ = 0;
    waitingFor_ = 0;
    view_.SetTitleVisible(false);
    view_.StyleTitle(s_);
    view_.SetCommentVisible(false);
    view_.SetBackground(s_.Background);
    photo_.SetInterval(kFirstTickMs);
    photo_.SetEnabled(true);
    view_.Clear();
    view_.UpdateView();
    // What was decoded before a dialog may have used settings it changed: start afresh.
    if (ahead_) ahead_->Discard();
    StartAhead();
}

void TShowController::StartAhead() {
    if (ahead_ && CurrentIndex >= 2) ahead_->Start(CurrentIndex);
}

void TShowController::FormHide() {
    if (filterInstalled_) host_.GrabKeyboard(false);
    filterInstalled_ = false;
    StopTimers();
    waitingFor_ = 0;
    if (ahead_) ahead_->Discard();
    DropMusicFile();
    if (cursorHidden_) {
        host_.ShowCursor(true);
        cursorHidden_ = false;
    }
}

void TShowController::StopTimers() {
    photo_.SetEnabled(false);
    title_.SetEnabled(false);
    pan_.SetEnabled(false);
}

void TShowController::DropMusicFile() {
    music_.Stop();
    musicCopy_.Drop();
    TempMusicFile.clear();
}

void TShowController::StartMusic() {
    if (s_.MusicName.empty() || !TempMusicFile.empty()) return;
    const std::string ext = MusicExtension(s_.MusicName);
    // Copied piece by piece: the block may be gigabytes.
    bool ok = !ext.empty() && musicCopy_.Begin(ext) &&
              blocks_.ReadBlockPieces(1, [this](const char* Data, size_t Size) {
                  return musicCopy_.Append(Data, Size);
              }) &&
              musicCopy_.Size() > 0;
    if (ok) {
        TempMusicFile = musicCopy_.Path();
        ok = music_.Play(TempMusicFile);
    }
    if (!ok) {
        host_.Log("music dropped");
        DropMusicFile();
        s_.MusicName.clear();
        return;
    }
    host_.Log("music " + TempMusicFile);
}

void TShowController::MusicFailed() {
    host_.Log("music dropped");
    DropMusicFile();
    s_.MusicName.clear();
}

void TShowController::NextIndex(int32_t Shown) {
    const int32_t n = s_.PhotoCount;
    if (s_.Random && Loops()) {
        if (n > 1) {
            do CurrentIndex = 2 + rng_.Random(n);
            while (CurrentIndex == Shown);
        }
        return;
    }
    CurrentIndex = Shown - 1;
    if (CurrentIndex <= 1 && Loops()) CurrentIndex = n + 1;
    if (CurrentIndex < 1) CurrentIndex = 1;
}

void TShowController::ArmPhotoTimer() {
    if (s_.Duration < 0) return;
    photo_.SetInterval(unsigned(PhotoIntervalMs(s_.Duration, s_.EffectDuration)));
    photo_.SetEnabled(true);
}

void TShowController::ClearForPhoto() {
    StopTimers();
    panorama_ = false;
    view_.SetTitleVisible(false);
    view_.SetCommentVisible(false);
    view_.Repaint();
    view_.PrepareTransition();
}

void TShowController::ShowNoPhotos() {
    host_.Log("show no photos");
    view_.SetTitleText("No photos found!");
    view_.MoveTitle(0, 0);
    view_.SetTitleVisible(true);
    CurrentIndex = 1;
    photo_.SetInterval(kNoPhotosMs);
    photo_.SetEnabled(true);
}

// Which photo the tick shows, from what the decode-ahead holds: the same blocks, skips and
// ends as the show's own reads below, but a block still in work means waiting for it.
TShowController::TAheadStep TShowController::ResolveAhead() {
    const int32_t n = std::max<int32_t>(s_.PhotoCount, 0);
    for (;;) {
        TAheadStatus st = CurrentIndex >= 2 ? ahead_->Status(CurrentIndex) : TAheadStatus::Missing;
        if (st == TAheadStatus::None) {
            ahead_->Start(CurrentIndex);
            st = ahead_->Status(CurrentIndex);
        }
        if (st == TAheadStatus::Working) return TAheadStep::Wait;
        if (st == TAheadStatus::Missing) {
            if (Loops() && n >= 1 && CurrentIndex != n + 1) {
                CurrentIndex = n + 1;
                continue;
            }
            return TAheadStep::NoPhotos;
        }
        if (aheadSkips_ >= std::max<int32_t>(n, 1)) return TAheadStep::NoPhotos;
        if (st == TAheadStatus::Ready) return TAheadStep::Ready;
        host_.Log("show skip " + IntToStr(CurrentIndex));
        ++aheadSkips_;
        NextIndex(CurrentIndex);
        if (CurrentIndex == 1) return TAheadStep::End;
    }
}

void TShowController::UpdateScreenTimer() {
    // The ticks that come back while a decode is in work are no new ticks.
    if (waitingFor_ == 0 || waitingFor_ != CurrentIndex) host_.Log("show tick " + IntToStr(CurrentIndex));
    StartMusic();
    if (CurrentIndex == 1) {
        waitingFor_ = 0;
        StopTimers();
        host_.Log("show end");
        host_.CloseWindow();
        return;
    }
    if (ahead_) {
        const TAheadStep step = ResolveAhead();
        if (step == TAheadStep::Wait) {
            // The photo on screen stays (its title and pan go on) and input is answered;
            // the photo timer only looks again soon.
            if (waitingFor_ != CurrentIndex) host_.Log("show wait " + IntToStr(CurrentIndex));
            waitingFor_ = CurrentIndex;
            photo_.SetInterval(kAheadPollMs);
            photo_.SetEnabled(true);
            return;
        }
        waitingFor_ = 0;
        ClearForPhoto();
        if (step == TAheadStep::End) {
            host_.Log("show end");
            host_.CloseWindow();
            return;
        }
        if (step == TAheadStep::NoPhotos) {
            ShowNoPhotos();
            return;
        }
        int w = 0, h = 0;
        view_.LockPaint();
        if (!ahead_->Take(CurrentIndex, PhotoName, PhotoComment, w, h)) {
            // Only the UI thread changes what is held, so this does not happen; look again.
            view_.UnlockPaint();
            photo_.SetInterval(kAheadPollMs);
            photo_.SetEnabled(true);
            return;
        }
        aheadSkips_ = 0;
        PresentPhoto(w, h);
        return;
    }

    ClearForPhoto();
    const int32_t n = std::max<int32_t>(s_.PhotoCount, 0);
    // Photos the library cannot decode are skipped, at most one round of them.
    std::string data;
    int w = 0, h = 0;
    for (int32_t tries = 0;; ++tries) {
        // Block 1 is the music and never a photo.
        bool have = CurrentIndex >= 2 && blocks_.ReadBlock(CurrentIndex, data);
        if (!have && Loops() && n >= 1) {
            CurrentIndex = n + 1;
            have = blocks_.ReadBlock(CurrentIndex, data);
        }
        if (!have || tries >= std::max<int32_t>(n, 1)) {
            ShowNoPhotos();
            return;
        }
        size_t offset = 0;
        bool ok = ReadPhotoHeader(data, PhotoName, PhotoComment, offset);
        if (ok) {
            view_.LockPaint();
            ok = view_.LoadPhoto(data, offset, w, h) && w >= 1 && h >= 1;
            if (ok) break;
            view_.UnlockPaint();
        }
        host_.Log("show skip " + IntToStr(CurrentIndex));
        NextIndex(CurrentIndex);
        if (CurrentIndex == 1) {
            host_.Log("show end");
            host_.CloseWindow();
            return;
        }
    }
    data.clear();
    PresentPhoto(w, h);
}

// The photo just loaded into the locked view goes on screen: panorama or fitted, through its
// transition, with its title; then the next block and the timers.
void TShowController::PresentPhoto(int w, int h) {
    const int32_t shown = CurrentIndex;

    const double dw = w, dh = h;
    if (dw >= 2.5 * dh || dh >= 2.5 * dw) {
        panorama_ = true;
        PanVertical = !(dw >= 2.5 * dh);
        PanDone = false;
        PanScale = PanVertical ? view_.Width() / dw : view_.Height() / dh;
        panW_ = w;
        panH_ = h;
        view_.SetAutoFit(false);
        view_.SetZoom(PanScale * 100);
        view_.SetViewX(0);
        view_.SetViewY(0);
    } else {
        view_.SetAutoFit(s_.AutoFit);
        view_.UpdateView();
    }

    view_.RunTransition(MapEffect(s_.Effect, rng_), TransitionMs(s_.EffectDuration));
    view_.UnlockPaint();
    host_.Log("show photo " + IntToStr(shown) + " " + PhotoName + (panorama_ ? " pan" : ""));

    if (s_.Showname) {
        view_.SetTitleText(PhotoName);
        int left = 0, top = 0;
        if (TitlePosition(s_.NamePosition, view_.Width(), view_.Height(), view_.TitleWidth(),
                          view_.TitleHeight(), left, top))
            view_.MoveTitle(left, top);
        if (!panorama_) {
            title_.SetInterval(kTitlePollMs);
            title_.SetEnabled(true);
        }
    }

    NextIndex(shown);

    if (panorama_) {
        pan_.SetInterval(unsigned(PanStartMs(s_.EffectDuration)));
        pan_.SetEnabled(true);
    } else {
        ArmPhotoTimer();
    }
    StartAhead();
}

void TShowController::showlabelTimer() {
    if (view_.TransitionRunning()) return;
    title_.SetEnabled(false);
    view_.SetTitleVisible(true);
}

void TShowController::scrollTimer() {
    pan_.SetInterval(kPanStepMs);
    if (!panorama_) {   // nothing to pan (left over from a photo that is gone)
        pan_.SetEnabled(false);
        return;
    }
    if (PanDone) {
        pan_.SetEnabled(false);
        if (s_.Showname) {
            title_.SetInterval(kTitlePollMs);
            title_.SetEnabled(true);
        }
        // A tick already waits for the next photo's decode: it comes as soon as that is done.
        if (waitingFor_ == 0) ArmPhotoTimer();
        return;
    }
    int maxX = 0, maxY = 0;
    view_.GetMaxViewXY(maxX, maxY);
    // The view clamps its offset with its own maximum, which may differ from ours in the last
    // bit; an offset that no longer moves also ends the pan.
    if (!PanVertical) {
        const int64_t limit = std::min<int64_t>(
            int64_t(std::trunc(panW_ * PanScale)) - view_.Width(), maxX);
        const int before = view_.ViewX();
        if (before < limit) {
            view_.SetViewX(before + kPanStepPx);
            if (view_.ViewX() == before) PanDone = true;
        } else {
            PanDone = true;
        }
    } else {
        const int64_t limit = std::min<int64_t>(
            int64_t(std::trunc(panH_ * PanScale)) - view_.Height(), maxY);
        const int before = view_.ViewY();
        if (before < limit) {
            view_.SetViewY(before + kPanStepPx);
            if (view_.ViewY() == before) PanDone = true;
        } else {
            PanDone = true;
        }
    }
}

// ---- Input ----

bool TShowController::AppMessageFilter(TInputKind Kind, int GlobalX, int GlobalY) {
    if (mode_ == rmPreview || !filterInstalled_) return false;
    bool input = false;
    switch (Kind) {
    case TInputKind::MouseMove:
        input = std::abs(int64_t(GlobalX) - StartCursorPos.X) > kMouseSlackPx ||
                std::abs(int64_t(GlobalY) - StartCursorPos.Y) > kMouseSlackPx;
        break;
    case TInputKind::KeyDown:
    case TInputKind::KeyUp:
    case TInputKind::ButtonDown:
    case TInputKind::Deactivate:
        input = true;
        break;
    case TInputKind::Other:
        break;
    }
    if (!input) return false;
    if (platformId_ == 1 || !host_.PasswordInUse() || host_.VerifyPassword()) {
        host_.Log("saver input: quit (" + IntToStr(int(Kind)) + " at " + IntToStr(GlobalX) + "," +
                  IntToStr(GlobalY) + " from " + IntToStr(StartCursorPos.X) + "," +
                  IntToStr(StartCursorPos.Y) + ")");
        host_.Quit();
    }
    return true;
}

void TShowController::ShowNow() {
    view_.AbortTransition();
    UpdateScreenTimer();
}

void TShowController::OpenDialog(bool Settings) {
    // No photo, title or pan step runs behind the dialog; the music plays on, and FormShow
    // starts it again from its beginning.
    StopTimers();
    view_.AbortTransition();
    if (cursorHidden_) {
        host_.ShowCursor(true);
        cursorHidden_ = false;
    }
    if (Settings) host_.ShowSettingsDialog();
    else host_.ShowHelpDialog();
    FormShow(false);
}

void TShowController::FormKeyDown(uint16_t Key) {
    if (Key == kVkRight) ShowNow();
    if (Key == kVkLeft) {
        const int32_t n = s_.PhotoCount;
        // One photo back; modular, so it never names block 1 or a block past N + 1.
        if (n >= 1) CurrentIndex = (CurrentIndex % n) + 2;
        ShowNow();
    }
    if (Key == kVkF10) OpenDialog(true);
    if (Key == kVkF1) OpenDialog(false);
}

void TShowController::FormKeyPress(char Key) {
    if (Key == 27) {
        host_.Log("escape");
        FormHide();
        host_.Halt(0);
    }
    if (Key == ' ') ShowNow();
}

void TShowController::picMouseDown(TMouseButton Button) {
    if (mode_ == rmSlideshow && Button == mbLeft) ShowNow();
}

void TShowController::picMouseUp(TMouseButton Button) {
    if (mode_ == rmSlideshow && Button == mbRight) OpenDialog(true);
}
