#include "lxtwain.h"

#include "LuxMIO.h"

void TwainIdentityDefaults(TLXTwainWork& Work) {
    TLXTwainIdentity& id = Work.Identity;
    id.Id = 0;
    id.MajorNum = 1;
    id.MinorNum = 0;
    id.Language = 13;
    id.Country = 1;
    id.Info = " ";
    id.ProtocolMajor = 1;
    id.ProtocolMinor = 9;
    id.SupportedGroups = 3;
    id.Manufacturer = " ";
    id.ProductFamily = " ";
    id.ProductName = " ";
    Work.OwnerWindow = 0;   // no active window of the platform is asked for
}

void TwainDestroyWindow(TLXTwainWork& Work, bool Flag) {
    // Nothing in the library makes the window, so there is no window object to destroy.
    if (Flag && Work.Connection) Work.Connection->Window = 0;
}

bool TwainUnloadManager(TLXTwainWork& Work, bool Force) {
    TLXTwainConnection* c = Work.Connection;
    if (!c) return false;
    // Nothing ever loads the manager: only the record is brought back to "not loaded".
    if (Force && c->EntryPoint) {
        c->EntryPoint = nullptr;
        c->Library = nullptr;
        c->State = 1;
    } else if (c->State == 2) {
        c->Library = nullptr;
        c->State = 1;
    }
    return c->State == 1;
}

void TwainClose(TLXTwainConnection& Connection, uintptr_t Window) {
    TLXTwainWork work;
    work.Connection = &Connection;
    TwainIdentityDefaults(work);
    work.OwnerWindow = Window;
    if (Connection.Window != 0) TwainDestroyWindow(work, true);
    if (Connection.State != 0) TwainUnloadManager(work, true);
}

TLXTWainParams::TLXTWainParams(TComponent* AOwner) : owner_(AOwner) { Reset(); }

TLXTWainParams::~TLXTWainParams() {
    TwainClose(connection_, FindParentWindowHandle(owner_));
    Reset();
}

void TLXTWainParams::Reset() {
    Records.clear();
    XResolutions.Clear();
    YResolutions.Clear();
    XScalings.Clear();
    YScalings.Clear();
    PixelTypes.Clear();
    BitDepths.Clear();
    PageCount = 1;
    SourceIndex = 0;
    ShowSettingsOnly = false;
    ShowProgress = false;
    Gamma = 2.2;
    AcquireFrame.fill(0);
    const bool multi = dynamic_cast<TLuxMIO*>(owner_) != nullptr;
    AcquireMultiple = multi;
    FeederEnabled = multi;
    AutoFeed = false;
    TransferMode = 1;
    SelectedSource.fill(0);
    ShowDialog = 1;
    ProductName.clear();
    Manufacturer.clear();
    ProductFamily.clear();
    VersionInfo.clear();
}
