#include "ScrnSave.h"

#include <sys/utsname.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "AppShell.h"
#include "Registry.h"
#include "SysUtils.h"
#include "exedata.h"

TRunMode RunMode = rmConfigure;
TPlayerSettings PlayerSettings;
TPayloadTexts PayloadTexts;

// ---- Run mode and command line ----

TRunMode ChooseRunMode(const std::string& ProgramPath, const std::string& FirstArg) {
    TRunMode mode = LowerCase(ExtractFileExt(ProgramPath)) == ".exe" ? rmSlideshow : rmConfigure;
    const std::string a = UpperCase(FirstArg);
    auto matches = [&](char letter) {
        return (a.size() >= 2 && (a[0] == '/' || a[0] == '-') && a[1] == letter) ||
               (!a.empty() && a[0] == letter);
    };
    // Tested in this order, a later match winning.
    if (matches('A')) mode = rmSetPassword;
    if (matches('P')) mode = rmPreview;
    if (matches('C')) mode = rmConfigure;
    if (matches('S')) mode = rmSaver;
    return mode;
}

namespace {

// "0x1a00007" or "41943047" as the decimal text the preview switch takes; text that is no
// window id is passed on unchanged, so the usual conversion error reports it.
std::string WindowIdAsDecimal(const std::string& s) {
    const char* p = s.data();
    const char* e = p + s.size();
    int base = 10;
    if (e - p > 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
    }
    uint32_t v = 0;
    auto r = std::from_chars(p, e, v, base);
    if (r.ec != std::errc() || r.ptr != e || p == e) return s;
    return std::to_string(v);
}

}  // namespace

std::vector<std::string> MapDaemonArguments(const std::vector<std::string>& Args,
                                            const char* XScreenSaverWindow, uintptr_t RootWindow) {
    if (!Args.empty() && (Args[0] == "-root" || Args[0] == "--root")) {
        if (XScreenSaverWindow && *XScreenSaverWindow)
            return {"/P", WindowIdAsDecimal(XScreenSaverWindow)};
        if (RootWindow) return {"/P", std::to_string(RootWindow)};
        return {"/S"};
    }
    if (Args.size() >= 2 && (Args[0] == "-window-id" || Args[0] == "--window-id"))
        return {"/P", WindowIdAsDecimal(Args[1])};
    return Args;
}

// ---- Block 0 ----

namespace {

// Each reader takes a whole field or raises EReadError before anything is stored.
int32_t ReadInt(TStream* S) {
    uint8_t b[4];
    S->ReadBuffer(b, 4);
    return int32_t(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24);
}

bool ReadBool(TStream* S) {
    uint8_t b;
    S->ReadBuffer(&b, 1);
    return b != 0;
}

std::string ReadText(TStream* S) { return DecodePayloadText(ReadPayloadString(S)); }

}  // namespace

TPlayerSettings NewPlayerSettings() {
    TPlayerSettings s;
    s.Background = clBlack;
    s.Duration = 5;
    s.Effect = 1;
    s.EffectDuration = 2;
    s.AutoFit = true;
    s.Showname = true;
    s.NamePosition = 4;
    s.Loop = true;
    s.NameFont = "DejaVu Sans";
    s.NameSize = 12;
    s.NameShowBackground = true;
    s.NameBackground = clBlack;
    s.NameColor = clWhite;
    return s;
}

bool ParsePayloadSettings(TStream* S, TPlayerSettings& Settings, TPayloadTexts& Texts) {
    // Fields the record lacks keep a new player's values: zeros would stall the show.
    TPlayerSettings P = NewPlayerSettings();
    bool whole = true;
    try {
        const int32_t n = ReadInt(S);
        P.PhotoCount = std::clamp(n, 0, kMaxPhotoCount);
        ReadPayloadString(S);   // unused field
        P.AboutText = ReadText(S);
        P.Background = ReadInt(S);
        P.Duration = ReadInt(S);
        P.Effect = ReadInt(S);
        P.EffectDuration = ReadInt(S);
        P.Random = ReadBool(S);
        P.AutoFit = ReadBool(S);
        P.Showname = ReadBool(S);
        P.NamePosition = ReadInt(S);
        P.Loop = ReadBool(S);
        P.NameFont = ReadText(S);
        P.NameSize = ReadInt(S);
        P.NameShowBackground = ReadBool(S);
        P.NameBackground = ReadInt(S);
        P.NameColor = ReadInt(S);
        P.MusicName = ReadText(S);
        for (auto& t : Texts) t = ReadText(S);
    } catch (const EReadError&) {
        whole = false;
    }
    Settings = std::move(P);
    return whole;
}

bool LoadPayloadSettings() {
    TMemoryStream ms;
    if (!ReadAppendedBlock(OwnDataFileName(), 0, &ms)) return false;
    ms.SetPosition(0);
    ParsePayloadSettings(&ms, PlayerSettings, PayloadTexts);
    return true;
}

// ---- Durations ----

namespace {

int ClampMs(int64_t ms) {
    return int(std::clamp<int64_t>(ms, 0, std::numeric_limits<int32_t>::max()));
}

}  // namespace

int TransitionMs(int32_t EffectDuration) {
    return ClampMs(std::max<int64_t>(EffectDuration, 0) * 1000);
}

int PhotoIntervalMs(int32_t Duration, int32_t EffectDuration) {
    return ClampMs((int64_t(Duration) + std::max<int64_t>(EffectDuration, 0)) * 1000);
}

int PanStartMs(int32_t EffectDuration) {
    return ClampMs(std::max<int64_t>(EffectDuration, 0) * 2000);
}

// ---- Registry ----

namespace {

// Every value is text: numbers in decimal, Booleans as "0"/"1", read back as integers
// (non-zero is True) with the current value as the default.
bool ReadFlag(TRegIniFile& ini, const std::string& sec, const std::string& name, bool current) {
    return ini.ReadInteger(sec, name, current ? 1 : 0) != 0;
}

}  // namespace

std::string RegistrySettingsKey() {
    return std::string("Software\\Vantorel\\Glimmerdeck\\") +
           (RunMode == rmSlideshow ? "Slideshow" : "Screensaver");
}

std::string RegistrySection() { return ChangeFileExt(ExtractFileName(ParamStr(0)), ""); }

void LoadRegistrySettings() {
    TRegIniFile ini(RegistrySettingsKey());
    const std::string sec = RegistrySection();
    TPlayerSettings& p = PlayerSettings;
    p.Background = ini.ReadInteger(sec, "Background", p.Background);
    p.Duration = ini.ReadInteger(sec, "Duration", p.Duration);
    p.Effect = ini.ReadInteger(sec, "Effect", p.Effect);
    p.EffectDuration = ini.ReadInteger(sec, "EffectDuration", p.EffectDuration);
    p.Showname = ReadFlag(ini, sec, "Showname", p.Showname);
    p.Loop = ReadFlag(ini, sec, "Loop", p.Loop);
    p.NamePosition = ini.ReadInteger(sec, "NamePosition", p.NamePosition);
    p.NameFont = ini.ReadString(sec, "NameFont", p.NameFont);
    p.NameSize = ini.ReadInteger(sec, "NameSize", p.NameSize);
    p.NameShowBackground = ReadFlag(ini, sec, "NameShowBackground", p.NameShowBackground);
    p.NameBackground = ini.ReadInteger(sec, "NameBackground", p.NameBackground);
    p.NameColor = ini.ReadInteger(sec, "NameColor", p.NameColor);
    p.Random = ReadFlag(ini, sec, "Random", p.Random);
}

void SaveRegistrySettings() {
    TRegIniFile ini(RegistrySettingsKey());
    const TPlayerSettings& p = PlayerSettings;
    // One rewrite of the store for all 13: each is a whole-file write and sync.
    ini.WriteStrings(RegistrySection(), {
        {"Background", IntToStr(p.Background)},
        {"Duration", IntToStr(p.Duration)},
        {"Effect", IntToStr(p.Effect)},
        {"EffectDuration", IntToStr(p.EffectDuration)},
        {"Showname", p.Showname ? "1" : "0"},
        {"Loop", p.Loop ? "1" : "0"},
        {"NamePosition", IntToStr(p.NamePosition)},
        {"NameFont", p.NameFont},
        {"NameSize", IntToStr(p.NameSize)},
        {"NameShowBackground", p.NameShowBackground ? "1" : "0"},
        {"NameBackground", IntToStr(p.NameBackground)},
        {"NameColor", IntToStr(p.NameColor)},
        {"Random", p.Random ? "1" : "0"},
    });
}

// ---- Password services ----

namespace {

class TLinuxPasswordServices : public TPasswordServices {
public:
    bool LoadLibrary(const std::string&) override { return false; }
    bool HasEntryPoint(const std::string&, const std::string&) override { return false; }
    void FreeLibrary(const std::string&) override {}
    uint32_t PwdChangePassword(const std::string&, uintptr_t, uint32_t, uint32_t) override {
        return 0;
    }
    uint32_t VerifyScreenSavePwd(uintptr_t) override { return 0; }
};

TPasswordServices* gServices = nullptr;

TPasswordServices& Services() { return gServices ? *gServices : SystemPasswordServices(); }

}  // namespace

TPasswordServices& SystemPasswordServices() {
    static TLinuxPasswordServices services;
    return services;
}

void SetPasswordServices(TPasswordServices* S) { gServices = S; }

void ChangeSaverPassword() {
    TPasswordServices& s = Services();
    if (!s.LoadLibrary("mpr.dll")) throw Exception("Error accessing mpr.dll");
    try {
        if (!s.HasEntryPoint("mpr.dll", "PwdChangePasswordA"))
            throw Exception("Function PwdChangePasswordA in mpr.dll not found");
        const int parent = StrToInt(ParamStr(2));
        s.PwdChangePassword("SCRSAVE", uintptr_t(uint32_t(parent)), 0, 0);
    } catch (...) {
        s.FreeLibrary("mpr.dll");
        throw;
    }
    s.FreeLibrary("mpr.dll");
}

bool SaverPasswordInUse() {
    try {
        TRegistry reg;
        reg.SetRootKey(HKEY_CURRENT_USER);
        if (!reg.OpenKey("Control Panel\\desktop", false)) return false;
        return reg.ReadBool("ScreenSaveUsePassword");
    } catch (const std::exception&) {
        return false;
    }
}

bool VerifySaverPassword(uintptr_t Window) {
    ShowCursor(true);
    TPasswordServices& s = Services();
    bool loaded = false;
    try {
        if (!s.LoadLibrary("password.cpl")) throw Exception("Error accessing password.cpl");
        loaded = true;
        if (!s.HasEntryPoint("password.cpl", "VerifyScreenSavePwd"))
            throw Exception("Function VerifyScreenSavePwd in password.cpl not found");
        const bool ok = (s.VerifyScreenSavePwd(Window) & 0xFF) != 0;
        s.FreeLibrary("password.cpl");
        ShowCursor(false);
        return ok;
    } catch (...) {
        if (loaded) s.FreeLibrary("password.cpl");
        ShowCursor(false);
        throw;
    }
}

// ---- Operating-system record ----

void GetOsVersionRecord(TOSVersionRecord& Rec) {
    Rec = TOSVersionRecord();
    Rec.PlatformId = 1;
    struct utsname u {};
    if (::uname(&u) != 0) return;
    // "6.1.0-18-amd64": major, minor, and the third number as the build.
    int32_t* parts[3] = {&Rec.MajorVersion, &Rec.MinorVersion, &Rec.BuildNumber};
    const char* p = u.release;
    const char* e = p + std::strlen(p);
    for (int i = 0; i < 3 && p < e; ++i) {
        auto r = std::from_chars(p, e, *parts[i]);
        if (r.ec != std::errc()) break;
        p = r.ptr;
        if (p < e && *p == '.') ++p;
        else break;
    }
    Rec.CSDVersion = std::string(u.version).substr(0, 128);
}
