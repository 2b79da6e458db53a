// TShortcutLink: reads a Windows shortcut file (.lnk) and gives its target, working folder,
// description, arguments, icon, hot key and show command. The file is parsed here (the
// published shell-link layout: header, link flags, item-id list, link info with the local
// base path, string data); a link resolves when its target exists on this machine.
#pragma once

#include <cstdint>
#include <string>

#include "Classes.h"
#include "SysUtils.h"

GD_EXCEPTION(EShortcutError, Exception);

enum TShowCmd { scShowMaximized, scShowMinimized, scShowNormal };

// What a shortcut file holds, as stored. Target is the local base path with the common path
// suffix, or (without link info) the relative path taken from the link's own folder.
struct TShellLinkData {
    uint32_t Flags = 0;
    std::string Target;
    std::string Description;
    std::string RelativePath;
    std::string WorkingDir;
    std::string Arguments;
    std::string IconLocation;
    int32_t IconIndex = 0;
    uint32_t ShowCommand = 1;
    uint16_t HotKey = 0;   // low byte the virtual key, high byte the modifiers
};

// Parses the bytes of a shortcut file; false when they are not one (wrong header size or
// class id, or a structure that runs past the end) and when a path it holds (target, relative
// path, working folder, icon file) has a NUL in it or does not decode (a lone surrogate, a
// byte Windows-1252 leaves unassigned). Strings come out as UTF-8: Unicode strings
// converted, ANSI ones taken as Windows-1252.
bool ParseShellLink(const std::string& Bytes, TShellLinkData& Link);

class TShortcutLink : public TComponent {
public:
    explicit TShortcutLink(TComponent* AOwner) : TComponent(AOwner) {}

    std::string ShortcutFile;
    std::string Target;
    std::string WorkingDir;
    std::string Description;
    std::string Arguments;
    std::string IconLocation;
    uint16_t IconNumber = 0;

    // A single upper-case character; codes below 32 are kept as a blank.
    std::string HotKey() const;
    void SetHotKey(const std::string& Value);
    TShowCmd ShowCmd() const;
    void SetShowCmd(TShowCmd Value);
    // The show code as stored (3 maximised, 7 minimised, 9 restore, or what the file had).
    int ShowCode() const { return showCode_; }

    // Fills the properties from ShortcutFile. EShortcutError "Unable to open link file" when
    // the file cannot be read (or is no regular file) or is not a shortcut (ParseShellLink).
    // A link whose target does not exist here does not resolve: nothing changes and nothing
    // is raised.
    void ReadLink();

private:
    void SetHotKeyCode(uint16_t Code);
    uint16_t hotKey_ = 0;
    int showCode_ = 0;
};
