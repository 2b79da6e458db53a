// The player's settings and run mode: block 0 of the own file, the command line, the
// registry overrides, and the screen-saver password services.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "Classes.h"
#include "Graphics.h"

// ---- Run mode ----

enum TRunMode : uint8_t {
    rmSetPassword = 0,   // switch A: change the saver password, no window
    rmPreview = 1,       // switch P: the show inside the window given by the second argument
    rmConfigure = 2,     // switch C, or no switch on a file not named ".exe": settings dialog
    rmSaver = 3,         // switch S: full-screen screen saver
    rmSlideshow = 4,     // no switch on a ".exe" file: stand-alone slideshow
};

extern TRunMode RunMode;

// The mode from the program's own path and the first argument: ".exe" (any case) gives
// Slideshow, any other extension Configure; then the switch letters A, P, C, S written as
// "/X", "-X" or a leading "X" (any case; the rest of the argument is ignored).
TRunMode ChooseRunMode(const std::string& ProgramPath, const std::string& FirstArg);

// The command line the screen-saver daemons use on Linux, mapped onto the preview switch:
// "-root"/"--root" with XSCREENSAVER_WINDOW set, or "-window-id N"/"--window-id N", become
// "/P <decimal id>" (ids may be written in hex as 0x...). "-root" without XSCREENSAVER_WINDOW
// means the root window itself: "/P <RootWindow>", or the full-screen saver "/S" where there
// is no root window (RootWindow 0, not X11). Other command lines are returned unchanged.
// XScreenSaverWindow is the value of XSCREENSAVER_WINDOW, null when unset.
std::vector<std::string> MapDaemonArguments(const std::vector<std::string>& Args,
                                            const char* XScreenSaverWindow,
                                            uintptr_t RootWindow = 0);

// ---- Settings ----

constexpr int kPayloadTextCount = 26;

struct TPlayerSettings {
    int32_t PhotoCount = 0;       // N: photos are blocks 2..N+1
    std::string AboutText;
    TColor Background = 0;
    int32_t Duration = 0;         // seconds; negative = until input
    int32_t Effect = 0;           // 0..7
    int32_t EffectDuration = 0;   // seconds
    bool Random = false;
    bool AutoFit = false;
    bool Showname = false;
    int32_t NamePosition = 0;     // 0..5
    bool Loop = false;
    std::string NameFont;
    int32_t NameSize = 0;
    bool NameShowBackground = false;
    TColor NameBackground = 0;
    TColor NameColor = 0;
    std::string MusicName;        // only its extension is used; empty = no music

    bool operator==(const TPlayerSettings&) const = default;
};
using TPayloadTexts = std::array<std::string, kPayloadTextCount>;

// The settings of a new player, as the settings dialog starts: 5 s per photo, crossfade of
// 2 s, black background, photos fitted, titles on (12 pt white on black, bottom centre),
// looping in order. A block-0 record cut short takes these for the fields it lacks.
TPlayerSettings NewPlayerSettings();

extern TPlayerSettings PlayerSettings;
extern TPayloadTexts PayloadTexts;

// The largest photo count kept: N + 2 still fits in an int32, so block arithmetic on it
// cannot overflow. A negative count reads as 0.
constexpr int32_t kMaxPhotoCount = INT32_MAX - 2;

// Reads the block-0 record from the stream's current position into Settings and Texts.
// The block is untrusted: the parse stops at the first field that does not fit in the
// stream, keeping the fields read before it (an older, shorter record still works); the
// settings after the cut take NewPlayerSettings' values, the texts after it stay as they
// were. Texts are decoded from their code page (DecodePayloadText). Returns true when every
// field was read.
bool ParsePayloadSettings(TStream* S, TPlayerSettings& Settings, TPayloadTexts& Texts);

// Reads block 0 of the own file into PlayerSettings and PayloadTexts; without a block 0
// nothing changes and the result is false (the bare player). Raises EFOpenError when the own
// file cannot be opened.
bool LoadPayloadSettings();

// Timer intervals from settings that may come from a hostile block or a hand-edited registry:
// computed in 64 bits and clamped to 0..INT32_MAX ms; a negative transition time counts as 0.
int TransitionMs(int32_t EffectDuration);                       // EffectDuration x 1000
int PhotoIntervalMs(int32_t Duration, int32_t EffectDuration);  // (Duration + EffectDuration) x 1000
int PanStartMs(int32_t EffectDuration);                         // EffectDuration x 2000

// ---- Registry ----

// "Software\Vantorel\Glimmerdeck\" + "Slideshow" in Slideshow mode, else "Screensaver".
std::string RegistrySettingsKey();
// The own file's name without folder and extension.
std::string RegistrySection();
// The 13 registry values over PlayerSettings; a missing or unreadable value keeps the
// current field.
void LoadRegistrySettings();
void SaveRegistrySettings();

// ---- Password services ----

// The two screen-saver password libraries of the old desktop, behind an interface so that
// tests can stand in for them. Library names: "mpr.dll" and "password.cpl".
class TPasswordServices {
public:
    virtual ~TPasswordServices() = default;
    virtual bool LoadLibrary(const std::string& Name) = 0;
    virtual bool HasEntryPoint(const std::string& Library, const std::string& Entry) = 0;
    virtual void FreeLibrary(const std::string& Name) = 0;
    // mpr.dll PwdChangePasswordA(provider, parent window, 0, 0).
    virtual uint32_t PwdChangePassword(const std::string& Provider, uintptr_t Parent,
                                       uint32_t Reserved1, uint32_t Reserved2) = 0;
    // password.cpl VerifyScreenSavePwd(window); only the low byte of the result counts.
    virtual uint32_t VerifyScreenSavePwd(uintptr_t Window) = 0;
};

// Linux has no per-saver password (locking is the desktop locker's business): the libraries
// are reported as not loadable, which gives the failure texts of the services.
TPasswordServices& SystemPasswordServices();
// The services in use; null restores the system ones.
void SetPasswordServices(TPasswordServices* Services);

// Change the saver password (SetPassword mode); the parent is ParamStr(2) in decimal.
void ChangeSaverPassword();
// "Control Panel\desktop" / "ScreenSaveUsePassword" as a Boolean; any failure is False.
bool SaverPasswordInUse();
// Asks for the saver password over the given window; the mouse cursor is shown meanwhile.
bool VerifySaverPassword(uintptr_t Window);

// ---- Operating-system record ----

struct TOSVersionRecord {
    int32_t MajorVersion = 0, MinorVersion = 0, BuildNumber = 0;
    uint8_t PlatformId = 0;    // 1: the system itself protects the desktop
    std::string CSDVersion;    // up to 128 characters
};
// From uname(). The platform code is always 1: on Linux the desktop's own locker protects the
// session, so the saver never asks for a password on exit.
void GetOsVersionRecord(TOSVersionRecord& Rec);
