// Form placement through the registry stand-in and an INI file: the stored names and
// formats, version gating, the pixels-per-inch rule, the state mapping, off-screen rectangles.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <cstdlib>
#include <string>

#include "AppShell.h"
#include "IniFiles.h"
#include "Registry.h"
#include "UxAppUtils.h"
#include "UxPlacement.h"
#include "Win32.h"
#include "platform/config_home.h"

namespace {

class Placement : public ConfigHome {
protected:
    void TearDown() override {
        SetScreenPixelsPerInch(0);
        ConfigHome::TearDown();
    }
    // The viewer's window: a sizeable form with the viewer's placement component.
    struct Viewer {
        TForm form{nullptr};
        TFormPlacement* p;
        explicit Viewer(bool registry, const std::string& ini = "") {
            form.SetBounds(100, 80, 400, 300);
            p = new TFormPlacement(&form);
            p->UseRegistry = registry;
            p->IniFileName = registry ? "software\\vantorel\\glimmerdeck" : ini;
            p->IniSection = "Viewer";
            p->Loaded();
        }
    };
    std::string Reg(const std::string& name) {
        TRegistry r;
        if (!r.OpenKeyReadOnly("\\software\\vantorel\\glimmerdeck\\Viewer") || !r.ValueExists(name)) return "<none>";
        return r.ReadString(name);
    }
    void Put(const std::string& name, const std::string& value) {
        TRegistry r;
        r.OpenKey("\\software\\vantorel\\glimmerdeck\\Viewer", true);
        r.WriteString(name, value);
    }
};

}  // namespace

TEST_F(Placement, CloseWritesTheValuesUnderBothNames) {
    Viewer v(true);
    v.form.Show();
    v.form.SetBounds(120, 90, 410, 310);
    v.form.Close();
    const std::string sfx = ScreenSizeSuffix();
    EXPECT_EQ(sfx, "(" + std::to_string(Screen->Width()) + "x" + std::to_string(Screen->Height()) + ")");
    EXPECT_EQ(Reg("FormVersion"), "0");
    EXPECT_EQ(Reg("Flags"), "0");
    EXPECT_EQ(Reg("ShowCmd"), "1");
    EXPECT_EQ(Reg("PixelsPerInch"), std::to_string(Screen->PixelsPerInch()));
    EXPECT_EQ(Reg("NormPos"), "120,90,530,400");
    EXPECT_EQ(Reg("NormPos" + sfx), "120,90,530,400");
    EXPECT_EQ(Reg("MinMaxPos"), "-1,-1,-1,-1");
    EXPECT_EQ(Reg("MinMaxPos" + sfx), "-1,-1,-1,-1");
    EXPECT_EQ(Reg("Visible"), "0");
    EXPECT_EQ(Reg("ActiveControl"), "<none>");
}

TEST_F(Placement, RestoreReadsSuffixedFirstThenPlain) {
    Put("NormPos", "10,20,310,220");
    {
        Viewer v(true);
        v.form.Show();
        EXPECT_EQ(v.form.BoundsRect(), Rect(10, 20, 310, 220));
    }
    Put("NormPos" + ScreenSizeSuffix(), "30,40,330,240");
    {
        Viewer v(true);
        v.form.Show();
        EXPECT_EQ(v.form.BoundsRect(), Rect(30, 40, 330, 240));
    }
    // (Each window saved its placement when it went.)
    Put("NormPos", "10,20,310,220");
    Put("NormPos" + ScreenSizeSuffix(), "");   // empty: the plain name
    {
        Viewer v(true);
        v.form.Show();
        EXPECT_EQ(v.form.BoundsRect(), Rect(10, 20, 310, 220));
    }
}

TEST_F(Placement, RulesThatKeepThePosition) {
    struct Case {
        const char* name;
        std::string norm;
        int storedPpi, version;
        bool applied;
    };
    const int ppi = Screen->PixelsPerInch();
    for (const Case& c : {Case{"as stored", "10,20,310,220", ppi, 0, true},
                          Case{"other ppi", "10,20,310,220", ppi + 24, 0, false},
                          Case{"right <= left", "300,20,300,220", ppi, 0, false},
                          Case{"older version", "10,20,310,220", ppi, -1, false}}) {
        SCOPED_TRACE(c.name);
        Put("NormPos", c.norm);
        Put("PixelsPerInch", std::to_string(c.storedPpi));
        Put("FormVersion", std::to_string(c.version));
        Put("ShowCmd", "3");
        Viewer v(true);
        v.p->Version = 0;
        v.form.Show();
        EXPECT_EQ(v.form.BoundsRect() == Rect(10, 20, 310, 220), c.applied);
        // The state still applies unless the values are too old.
        EXPECT_EQ(v.form.WindowState(), c.version < 0 ? wsNormal : wsMaximized);
    }
}

TEST_F(Placement, ShowCmdMapping) {
    struct Case {
        int cmd;
        TWindowState state;
    };
    for (Case c : {Case{1, wsNormal}, Case{5, wsNormal}, Case{9, wsNormal}, Case{3, wsMaximized}, Case{4, wsNormal},
                   Case{0, wsNormal}, Case{6, wsMinimized}, Case{7, wsMinimized}}) {
        SCOPED_TRACE(c.cmd);
        Put("ShowCmd", std::to_string(c.cmd));
        Viewer v(true);
        TForm other(nullptr);   // the viewer is not the main form: minimised at once
        TApplication app;
        TApplication* old = Application;
        Application = &app;
        app.SetMainForm(&other);
        v.form.Show();
        EXPECT_EQ(v.form.WindowState(), c.state);
        Application = old;
    }
    // The main form minimised: shown normal, minimised from the message loop.
    Put("ShowCmd", "2");
    Viewer v(true);
    v.form.Show();
    EXPECT_EQ(v.form.WindowState(), wsNormal);
    QApplication::processEvents();
    EXPECT_EQ(v.form.WindowState(), wsMinimized);
}

TEST_F(Placement, IniFileRoundTripAndOffScreenRectangles) {
    const std::string ini = dir + "/gdview.INI";
    {
        Viewer v(false, ini);
        v.p->Options |= fpActiveControl;
        v.form.Show();
        v.form.SetBounds(50, 60, 300, 200);
        v.form.Close();
    }
    TIniFile f(ini);
    EXPECT_EQ(f.ReadString("Viewer", "NormPos", ""), "50,60,350,260");
    EXPECT_EQ(f.ReadString("Viewer", "NormPos" + ScreenSizeSuffix(), ""), "50,60,350,260");
    // A rectangle left on a screen that is gone comes back onto this one.
    f.WriteString("Viewer", "NormPos" + ScreenSizeSuffix(), "5000,4000,5300,4200");
    Viewer v(false, ini);
    v.form.Show();
    const QRect a = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(v.form.Width(), 300);
    EXPECT_EQ(v.form.Left(), a.x() + a.width() - 300);
    EXPECT_EQ(v.form.Top(), a.y() + a.height() - 200);
    // The destruction saves "Visible" 1 when nothing was saved since the restore.
}

TEST_F(Placement, DestroyingSavesVisibleAndLimitsGoThroughTheHook) {
    {
        Viewer v(true);
        v.form.Show();
    }
    EXPECT_EQ(Reg("Visible"), "1");
    Viewer v(true);
    EXPECT_EQ(v.p->Hook()->WinControl(), nullptr);   // no limits: detached
    TWinMinMaxInfo mm;
    mm.MinTrackWidth = 200;
    mm.MinTrackHeight = 150;
    v.p->SetMinMaxInfo(mm);
    EXPECT_EQ(v.p->Hook()->WinControl(), &v.form);
    EXPECT_EQ(v.form.Widget()->minimumSize(), QSize(200, 150));
    v.p->SetPreventResize(true);
    EXPECT_EQ(v.form.Widget()->maximumSize(), v.form.Widget()->size());
    EXPECT_FALSE(v.form.BorderIcons() & biMaximize);
    v.p->SetPreventResize(false);
    v.p->SetMinMaxInfo(TWinMinMaxInfo{});
    EXPECT_EQ(v.p->Hook()->WinControl(), nullptr);
    EXPECT_TRUE(v.form.BorderIcons() & biMaximize);
}
