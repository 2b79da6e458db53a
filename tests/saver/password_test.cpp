// The password services: the Linux failure texts, and the paths the saver takes through a
// stand-in service.
#include <gtest/gtest.h>

#include "AppShell.h"
#include "ScrnSave.h"

namespace {

struct FakeServices : TPasswordServices {
    bool loadable = true, hasEntry = true;
    uint32_t verifyResult = 1;
    std::vector<std::string> loaded, freed;
    std::string provider, entryAsked;
    uintptr_t parent = 0, verifiedWindow = 0;
    uint32_t reserved1 = 99, reserved2 = 99;
    int cursorDuringCall = 99;

    bool LoadLibrary(const std::string& n) override {
        loaded.push_back(n);
        return loadable;
    }
    bool HasEntryPoint(const std::string&, const std::string& e) override {
        entryAsked = e;
        return hasEntry;
    }
    void FreeLibrary(const std::string& n) override { freed.push_back(n); }
    uint32_t PwdChangePassword(const std::string& p, uintptr_t w, uint32_t r1, uint32_t r2) override {
        provider = p;
        parent = w;
        reserved1 = r1;
        reserved2 = r2;
        return 0;
    }
    uint32_t VerifyScreenSavePwd(uintptr_t w) override {
        verifiedWindow = w;
        cursorDuringCall = CursorShowCount();
        return verifyResult;
    }
};

std::string MessageOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.Message;
    }
    return "";
}

class PasswordServices : public ::testing::Test {
protected:
    void SetUp() override { SetPasswordServices(&fake); }
    void TearDown() override { SetPasswordServices(nullptr); }
    FakeServices fake;
};

}  // namespace

TEST(SystemPasswordServices, ReportTheirLibrariesMissing) {
    SetPasswordServices(nullptr);
    SetProgramArguments("/x/Alps.scr", {"/a", "1234"});
    EXPECT_EQ(MessageOf([] { ChangeSaverPassword(); }), "Error accessing mpr.dll");
    const int before = CursorShowCount();
    EXPECT_EQ(MessageOf([] { VerifySaverPassword(42); }), "Error accessing password.cpl");
    EXPECT_EQ(CursorShowCount(), before);
}

TEST(SystemPasswordServices, TheSystemProtectsTheDesktop) {
    TOSVersionRecord r;
    r.PlatformId = 7;
    GetOsVersionRecord(r);
    EXPECT_EQ(r.PlatformId, 1);
    EXPECT_GT(r.MajorVersion, 0);
    EXPECT_LE(r.CSDVersion.size(), 128u);
}

TEST_F(PasswordServices, ChangeCallsTheProviderWithTheParsedParent) {
    SetProgramArguments("/x/Alps.scr", {"/a", "123456"});
    ChangeSaverPassword();
    EXPECT_EQ(fake.loaded, std::vector<std::string>{"mpr.dll"});
    EXPECT_EQ(fake.entryAsked, "PwdChangePasswordA");
    EXPECT_EQ(fake.provider, "SCRSAVE");
    EXPECT_EQ(fake.parent, 123456u);
    EXPECT_EQ(fake.reserved1, 0u);
    EXPECT_EQ(fake.reserved2, 0u);
    EXPECT_EQ(fake.freed, std::vector<std::string>{"mpr.dll"});
}

TEST_F(PasswordServices, ChangeFailuresFreeTheLibrary) {
    SetProgramArguments("/x/Alps.scr", {"/a", "12x"});
    EXPECT_THROW(ChangeSaverPassword(), EConvertError);
    EXPECT_EQ(fake.freed.size(), 1u);
    EXPECT_TRUE(fake.provider.empty()) << "the service is not called";

    fake.freed.clear();
    SetProgramArguments("/x/Alps.scr", {"/a"});
    EXPECT_THROW(ChangeSaverPassword(), EConvertError) << "a missing handle";
    EXPECT_EQ(fake.freed.size(), 1u);

    fake.freed.clear();
    fake.hasEntry = false;
    SetProgramArguments("/x/Alps.scr", {"/a", "5"});
    EXPECT_EQ(MessageOf([] { ChangeSaverPassword(); }),
              "Function PwdChangePasswordA in mpr.dll not found");
    EXPECT_EQ(fake.freed.size(), 1u);

    fake.freed.clear();
    fake.loadable = false;
    EXPECT_EQ(MessageOf([] { ChangeSaverPassword(); }), "Error accessing mpr.dll");
    EXPECT_TRUE(fake.freed.empty()) << "nothing was loaded";
}

TEST_F(PasswordServices, VerifyUsesTheLowByteAndShowsTheCursorMeanwhile) {
    const std::pair<uint32_t, bool> cases[] = {
        {1, true}, {0, false}, {0x100, false}, {0xFF01, true}, {0xFFFFFF00, false}, {0x80, true}};
    for (auto [result, want] : cases) {
        fake.verifyResult = result;
        const int before = CursorShowCount();
        EXPECT_EQ(VerifySaverPassword(777), want) << std::hex << result;
        EXPECT_EQ(fake.cursorDuringCall, before + 1);
        EXPECT_EQ(CursorShowCount(), before);
    }
    EXPECT_EQ(fake.verifiedWindow, 777u);
    EXPECT_EQ(fake.loaded.front(), "password.cpl");
    EXPECT_EQ(fake.entryAsked, "VerifyScreenSavePwd");
    EXPECT_EQ(fake.loaded.size(), fake.freed.size());
}

TEST_F(PasswordServices, VerifyFailuresKeepTheCursorBalanced) {
    const int before = CursorShowCount();
    fake.hasEntry = false;
    EXPECT_EQ(MessageOf([] { VerifySaverPassword(1); }),
              "Function VerifyScreenSavePwd in password.cpl not found");
    EXPECT_EQ(fake.freed, std::vector<std::string>{"password.cpl"});
    EXPECT_EQ(CursorShowCount(), before);

    fake.freed.clear();
    fake.loadable = false;
    EXPECT_EQ(MessageOf([] { VerifySaverPassword(1); }), "Error accessing password.cpl");
    EXPECT_TRUE(fake.freed.empty());
    EXPECT_EQ(CursorShowCount(), before);
}
