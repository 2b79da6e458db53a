// The one orderly shutdown on every way the program ends.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCheckBox>
#include <QDialog>
#include <QEventLoop>
#include <QImage>
#include <QLabel>
#include <QPalette>
#include <QToolButton>
#include <QTimer>
#include <QWidget>
#include <csignal>
#include <fstream>

#include "AppShell.h"
#include "Graphics.h"
#include "SysUtils.h"
#include "TestDir.h"

namespace {

// Starts an application with a main window, a hidden cursor and a shutdown
// handler that leaves a mark, then ends it with `how`; returns from Run only for the quit
// and close cases.
int RunAndEnd(const std::string& dir, const std::function<void()>& how) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char arg0[] = "saver";
    static char* argv[] = {arg0, nullptr};
    auto owned = std::make_unique<TApplication>();
    TApplication& app = *owned;
    Application = &app;
    app.Initialize(argc, argv);
    auto* form = new QWidget;
    app.SetMainForm(form);
    form->show();
    ShowCursor(false);
    ShowCursor(false);
    app.AddShutdownHandler([dir] {
        std::ofstream(dir + "/order", std::ios::app) << "first\n";
    });
    app.AddShutdownHandler([dir] {
        std::ofstream(dir + "/order", std::ios::app) << "second " << CursorShowCount() << "\n";
    });
    QTimer::singleShot(0, how);
    app.Run();
    app.Shutdown();
    app.Shutdown();   // a second call does nothing
    delete form;
    owned.reset();
    Application = nullptr;
    std::ofstream(dir + "/order", std::ios::app) << "cursor " << CursorShowCount() << "\n";
    return 0;
}

void ExpectCleanedUp(const TestDir& d, bool returned = false) {
    std::ifstream in(d.File("order"));
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Handlers run once, the last added first, before the cursor is restored.
    EXPECT_EQ(all.substr(0, all.find("cursor")), "second -2\nfirst\n");
    // Run returned: the cursor was shown again by then.
    if (returned) {
        EXPECT_NE(all.find("cursor 0\n"), std::string::npos) << all;
    }
}

}  // namespace

TEST(Shutdown, QuitMessage) {
    TestDir d;
    EXPECT_EXIT(std::exit(RunAndEnd(d.Path(), [] { Application->Terminate(); })),
                ::testing::ExitedWithCode(0), "");
    ExpectCleanedUp(d, true);
}

TEST(Shutdown, ClosingTheMainWindow) {
    TestDir d;
    EXPECT_EXIT(std::exit(RunAndEnd(d.Path(), [] { Application->MainForm()->close(); })),
                ::testing::ExitedWithCode(0), "");
    ExpectCleanedUp(d, true);
}

TEST(Shutdown, HaltFromInsideTheLoop) {
    TestDir d;
    EXPECT_EXIT(RunAndEnd(d.Path(), [] { Application->Halt(3); }), ::testing::ExitedWithCode(3), "");
    ExpectCleanedUp(d);
}

TEST(Shutdown, HaltFromANestedModalLoop) {
    TestDir d;
    EXPECT_EXIT(RunAndEnd(d.Path(),
                          [] {
                              QTimer::singleShot(0, [] { Application->Halt(0); });
                              QEventLoop nested;   // stands for a modal dialog
                              nested.exec();
                              std::_Exit(9);       // never reached
                          }),
                ::testing::ExitedWithCode(0), "");
    ExpectCleanedUp(d);
}

TEST(Shutdown, TermAndIntSignals) {
    for (int sig : {SIGTERM, SIGINT}) {
        TestDir d;
        EXPECT_EXIT(RunAndEnd(d.Path(), [sig] { ::raise(sig); }), ::testing::ExitedWithCode(0), "")
            << sig;
        ExpectCleanedUp(d);
    }
}

namespace {

int RunMainDialog() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int argc = 1;
    char arg0[] = "saver";
    char* argv[] = {arg0, nullptr};
    TApplication app;
    Application = &app;
    app.Initialize(argc, argv);
    {
        QDialog dialog;
        app.SetMainForm(&dialog);
        dialog.show();
        QTimer::singleShot(0, &dialog, &QDialog::accept);
        app.Run();
        app.Shutdown();
    }
    std::fprintf(stderr, "loop ended\n");
    const bool terminated = app.Terminated();
    Application = nullptr;
    return terminated ? 0 : 5;
}

void MainDialogDone() { std::exit(RunMainDialog()); }

void ErrorInAHandler() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int argc = 1;
    char arg0[] = "saver";
    char* argv[] = {arg0, nullptr};
    TApplication app;
    Application = &app;
    app.Initialize(argc, argv);
    QWidget form;
    app.SetMainForm(&form);
    form.show();
    QTimer::singleShot(0, [] { throw Exception("Photo block unreadable"); });
    QTimer::singleShot(20, [] { Application->Halt(4); });
    app.Run();
    std::_Exit(9);
}

}  // namespace

// The settings dialog as the main window: OK or Cancel hides it, which ends the program.
TEST(Shutdown, MainDialogDone) {
    EXPECT_EXIT(MainDialogDone(), ::testing::ExitedWithCode(0), "loop ended");
}

// An error raised in an event handler reaches the default report and the loop goes on.
TEST(Shutdown, ErrorInAHandlerIsReportedAndTheLoopGoesOn) {
    EXPECT_EXIT(ErrorInAHandler(), ::testing::ExitedWithCode(4), "Photo block unreadable");
}

TEST(CursorCount, HidesBelowZeroAndCounts) {
    const int base = CursorShowCount();
    EXPECT_EQ(ShowCursor(false), base - 1);
    EXPECT_EQ(ShowCursor(false), base - 2);
    EXPECT_EQ(ShowCursor(true), base - 1);
    EXPECT_EQ(ShowCursor(true), base);
}

namespace {

int Luma(const QColor& c) { return (c.red() * 21 + c.green() * 71 + c.blue() * 7) / 100; }

QPalette PaletteOf(int Window, int Button, int Base, int Text, int DisabledText) {
    QPalette p;
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        p.setColor(g, QPalette::Window, QColor(Window, Window, Window));
        p.setColor(g, QPalette::Button, QColor(Button, Button, Button));
        p.setColor(g, QPalette::Base, QColor(Base, Base, Base));
        const int t = g == QPalette::Disabled ? DisabledText : Text;
        for (QPalette::ColorRole r : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            p.setColor(g, r, QColor(t, t, t));
    }
    return p;
}

}  // namespace

// Disabled text keeps its distance from every background it is drawn on (the forms' face,
// the palette's window, button and base) and from the enabled text, under any desktop
// palette; a desktop grey that passes stays.
TEST(DisabledText, LegibleOnEveryBackgroundUnderAnyPalette) {
    struct Case {
        const char* name;
        QPalette palette;
        int keep;   // the disabled grey expected to stay, -1 when it must change
    };
    const Case cases[] = {
        {"Qt without a theme (disabled 190 on the face 192)", PaletteOf(239, 239, 255, 0, 190), -1},
        {"disabled as light as the window", PaletteOf(239, 239, 255, 0, 239), -1},
        {"dark desktop", PaletteOf(53, 60, 42, 255, 127), 127},
        {"dark desktop, disabled near the face", PaletteOf(53, 60, 42, 255, 180), -1},
        {"mid-grey desktop", PaletteOf(128, 128, 128, 0, 140), -1},
        {"classic desktop", PaletteOf(192, 192, 255, 0, 128), 128},
    };
    const int face = Luma(QColor(ColorToRGB(clBtnFace) & 0xFF, (ColorToRGB(clBtnFace) >> 8) & 0xFF,
                                 (ColorToRGB(clBtnFace) >> 16) & 0xFF));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QPalette p = c.palette;
        MakeDisabledTextLegible(p);
        for (QPalette::ColorRole r : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
            const int g = Luma(p.color(QPalette::Disabled, r));
            SCOPED_TRACE(g);
            if (c.keep >= 0) EXPECT_EQ(p.color(QPalette::Disabled, r), QColor(c.keep, c.keep, c.keep));
            for (int bg : {face, Luma(p.color(QPalette::Disabled, QPalette::Window)),
                           Luma(p.color(QPalette::Disabled, QPalette::Button)),
                           Luma(p.color(QPalette::Disabled, QPalette::Base))})
                EXPECT_GE(std::abs(g - bg), 48) << "background " << bg;
            EXPECT_GE(std::abs(g - Luma(p.color(QPalette::Active, r))), 48) << "reads as disabled";
        }
        EXPECT_EQ(p.color(QPalette::Disabled, QPalette::Light), QColor(255, 255, 255)) << "the emboss";
        // Once legible, a second pass changes nothing.
        EXPECT_FALSE(MakeDisabledTextLegible(p));
    }
}

namespace {

// Draws disabled captions on the forms' face under the application's own style and palette
// and reports the darkest pixel, the pixels of text and those of the light emboss.
int DisabledCaptionsOnTheFace() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int argc = 1;
    char arg0[] = "saver";
    char* argv[] = {arg0, nullptr};
    TApplication app;
    Application = &app;
    app.Initialize(argc, argv);
    const TColor f = ColorToRGB(clBtnFace);
    const QColor face(GetRValue(f), GetGValue(f), GetBValue(f));
    int failures = 0;
    for (int kind = 0; kind < 3; ++kind) {
        QWidget* w = kind == 0 ? static_cast<QWidget*>(new QCheckBox("Loop Photos"))
                   : kind == 1 ? static_cast<QWidget*>(new QLabel("Random Photo Order"))
                               : static_cast<QWidget*>(new QToolButton);
        if (auto* t = qobject_cast<QToolButton*>(w)) {
            t->setText("Add to Album");
            t->setAutoRaise(true);
        }
        w->setEnabled(false);
        w->resize(w->sizeHint().expandedTo(QSize(120, 20)));
        QImage img(w->size(), QImage::Format_RGB32);
        img.fill(face);
        w->render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
        int darkest = 255, text = 0, emboss = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = kind == 0 ? 20 : 0; x < img.width(); ++x) {
                const int l = Luma(QColor(img.pixel(x, y)));
                darkest = std::min(darkest, l);
                if (l <= 150) ++text;
                if (l >= 240) ++emboss;
            }
        std::fprintf(stderr, "kind %d darkest %d text %d emboss %d\n", kind, darkest, text, emboss);
        if (text < 30 || emboss < 10 || darkest < 90) ++failures;
        delete w;
    }
    Application = nullptr;
    return failures;
}

}  // namespace

// The classic look: a darker grey with a light emboss, on the face the forms paint.
TEST(DisabledText, CaptionsAreEmbossedGreyOnTheFace) {
    EXPECT_EXIT(std::exit(DisabledCaptionsOnTheFace()), ::testing::ExitedWithCode(0), "");
}
