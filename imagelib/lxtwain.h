// The scanner (TWAIN) parameters that every I/O component owns. The library acquires
// nothing: the object only holds its values, and closing a connection that was never opened
// does nothing. No source manager library is ever loaded.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"
#include "lxutils.h"

// The state of a connection to the source manager: 0 never opened, 1 no manager loaded,
// 2 manager loaded.
struct TLXTwainConnection {
    int State = 0;
    void* Library = nullptr;      // the manager's library, when one were loaded
    void* EntryPoint = nullptr;   // its entry point
    uintptr_t Window = 0;         // the hidden window that talks to the manager
};

// The application's identity towards the source manager.
struct TLXTwainIdentity {
    uint32_t Id = 0;
    uint16_t MajorNum = 0, MinorNum = 0;
    uint16_t Language = 0, Country = 0;
    std::string Info;
    uint16_t ProtocolMajor = 0, ProtocolMinor = 0;
    uint32_t SupportedGroups = 0;
    std::string Manufacturer, ProductFamily, ProductName;
};

// One call's work record: the connection with the identity.
struct TLXTwainWork {
    TLXTwainConnection* Connection = nullptr;
    TLXTwainIdentity Identity;
    uintptr_t OwnerWindow = 0;
};

// Identity 0, version 1.0, language 13, country 1, protocol 1.9, groups 3 (control and
// image), texts " "; the owner window is the active window (none here).
void TwainIdentityDefaults(TLXTwainWork& Work);
// Destroys the connection's window (when the flag is set) and unloads the manager (when the
// state is not 0).
void TwainClose(TLXTwainConnection& Connection, uintptr_t Window);
// True when the state ends at 1 (no manager loaded).
bool TwainUnloadManager(TLXTwainWork& Work, bool Force);
void TwainDestroyWindow(TLXTwainWork& Work, bool Flag);

class TLXTWainParams : public TObject {
public:
    // Owner: the TLuxIO or TLuxMIO that holds the object (not owned).
    explicit TLXTWainParams(TComponent* AOwner);
    ~TLXTWainParams() override;
    TLXTWainParams(const TLXTWainParams&) = delete;
    TLXTWainParams& operator=(const TLXTWainParams&) = delete;

    // Frees the records, empties the value lists and sets the values below to their defaults.
    void Reset();

    TComponent* Owner() const { return owner_; }
    const TLXTwainConnection& Connection() const { return connection_; }

    // Blocks kept for a transfer; Reset frees them.
    std::vector<std::unique_ptr<uint8_t[]>> Records;
    // Capability values offered by a source.
    TLXDoubleList XResolutions, YResolutions, XScalings, YScalings;
    TLXIntegerList PixelTypes, BitDepths;

    int PageCount = 1;
    int SourceIndex = 0;
    bool ShowSettingsOnly = false;
    bool ShowProgress = false;
    double Gamma = 2.2;
    std::array<uint8_t, 16> AcquireFrame{};
    // Both True exactly when the owner keeps many images (a TLuxMIO).
    bool AcquireMultiple = false;
    bool FeederEnabled = false;
    bool AutoFeed = false;
    uint8_t TransferMode = 1;
    std::array<uint8_t, 16> SelectedSource{};
    uint8_t ShowDialog = 1;
    std::string ProductName, Manufacturer, ProductFamily, VersionInfo;

private:
    TComponent* owner_;
    TLXTwainConnection connection_;
};
