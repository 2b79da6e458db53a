// The main window offscreen: the zoom mapping, loading with the fit rules, the slider and the
// 100 % button, rotation, the progress bar, Escape, the main album program, translated
// captions that are never cut, and the view's own I/O and processing components.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "ComCtrls.h"
#include "Dialogs.h"
#include "LngWriter.h"
#include "LuxIO.h"
#include "LuxProc.h"
#include "LuxView.h"
#include "UxSlider.h"
#include "main.h"
#include "QuadrantPhoto.h"
#include "saver/TestDir.h"
#include "transclass.h"

namespace fs = std::filesystem;

namespace {

struct Answers : TDialogResponder {
    std::vector<std::string> boxes;
    std::function<void(TForm&)> modal;
    int MessageBox(const std::string& Text, const std::string& Caption, unsigned Flags) override {
        boxes.push_back(Caption + "|" + Text + "|" + std::to_string(Flags));
        return DefaultAnswer(Flags);
    }
    void ModalForm(TForm& f) override {
        if (modal) modal(f);
        else f.SetModalResult(mrCancel);
    }
};

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        SetDialogResponder(&r);
        const char* old = std::getenv("XDG_CONFIG_HOME");
        oldConfig_ = old ? old : "";
        setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1);
        WriteQuadrants(dir.File("big.bmp"), 1600, 1000);
        WriteQuadrants(dir.File("small.bmp"), 200, 100);
        form = std::make_unique<TForm1>(nullptr, dir.Path());
        form->Show();
    }
    void TearDown() override {
        form.reset();
        SetDialogResponder(nullptr);
        if (oldConfig_.empty()) unsetenv("XDG_CONFIG_HOME");
        else setenv("XDG_CONFIG_HOME", oldConfig_.c_str(), 1);
        LangData = nullptr;
    }
    TColor Pixel(int x, int y) { return form->view->GetBitmap()->Canvas()->Pixel(x, y); }
    static void Key(QWidget* w, QEvent::Type type, int key = Qt::Key_Escape) {
        QKeyEvent e(type, key, Qt::NoModifier);
        QApplication::sendEvent(w, &e);
    }
    TestDir dir;
    Answers r;
    std::unique_ptr<TForm1> form;

private:
    std::string oldConfig_;
};

}  // namespace

TEST(ZoomMapping, SliderAndZoomBothWays) {
    const std::pair<int, int> toZoom[] = {{1, 1}, {100, 100}, {101, 102}, {150, 200}, {200, 300}};
    for (const auto& [v, z] : toZoom) EXPECT_EQ(SliderToZoom(v), z) << v;
    TUxSlider slider(nullptr);
    slider.SetMinValue(1);
    slider.SetMaxValue(200);
    const std::pair<double, int> toSlider[] = {{37.8, 37}, {100, 100}, {102, 101}, {103.9, 101}, {300, 200},
                                               {301, 200}, {1000, 200}, {0.5, 1}, {1e300, 200}};
    for (const auto& [z, v] : toSlider) {
        slider.SetValue(ZoomToSlider(z));
        EXPECT_EQ(slider.Value(), v) << z;
    }
}

TEST_F(MainWindow, LoadFitsLargePhotosAndShowsSmallOnesAtFullSize) {
    EXPECT_FALSE(form->SpeedButton2->isEnabled());
    EXPECT_TRUE(form->Zoomtofit->isChecked());
    form->LoadPhoto(dir.File("big.bmp"));
    EXPECT_TRUE(form->view->AutoFit);
    EXPECT_EQ(form->view->ScrollBars(), ssNone);
    EXPECT_LT(form->view->Zoom(), 100);
    EXPECT_LE(form->view->ExtentX(), form->view->ClientWidth());
    EXPECT_LE(form->view->ExtentY(), form->view->ClientHeight());
    EXPECT_EQ(form->Labelzoom->text().toStdString(), std::to_string(int(form->view->Zoom())) + "%");
    EXPECT_EQ(form->sliderzoom->Value(), int(form->view->Zoom()));
    EXPECT_EQ(form->PhotoPath, dir.File("big.bmp"));
    EXPECT_EQ(form->StatusBar->PanelText(0), dir.File("big.bmp"));
    EXPECT_TRUE(form->SpeedButton2->isEnabled());
    EXPECT_FALSE(form->progress->isVisible());
    // A larger window refits, and the zoom display follows.
    const double before = form->view->Zoom();
    form->SetClientSize(form->ClientWidth() + 300, form->ClientHeight() + 200);
    QApplication::processEvents();
    EXPECT_GT(form->view->Zoom(), before);
    EXPECT_EQ(form->Labelzoom->text().toStdString(), std::to_string(int(form->view->Zoom())) + "%");
    EXPECT_EQ(form->sliderzoom->Value(), int(form->view->Zoom()));

    form->LoadPhoto(dir.File("small.bmp"));
    EXPECT_FALSE(form->view->AutoFit);
    EXPECT_EQ(form->view->Zoom(), 100);
    EXPECT_TRUE(form->Zoomtofit->isChecked());
    EXPECT_EQ(form->Labelzoom->text(), "100%");

    // The slider leaves fit mode; the zoom then stays for the next photo.
    form->sliderzoom->SetValue(150);
    form->sliderzoomChanged(nullptr);
    EXPECT_EQ(form->view->Zoom(), 200);
    EXPECT_EQ(form->Labelzoom->text(), "200%");
    EXPECT_FALSE(form->Zoomtofit->isChecked());
    EXPECT_EQ(form->view->ScrollBars(), ssBoth);
    form->LoadPhoto(dir.File("big.bmp"));
    EXPECT_EQ(form->view->Zoom(), 200);
    EXPECT_FALSE(form->view->AutoFit);

    // The 100 % button and the fit toggle.
    form->SpeedButton12->click();
    EXPECT_EQ(form->view->Zoom(), 100);
    EXPECT_EQ(form->sliderzoom->Value(), 100);
    form->Zoomtofit->trigger();
    EXPECT_TRUE(form->Zoomtofit->isChecked());
    EXPECT_TRUE(form->view->AutoFit);
    const double fitted = form->view->Zoom();
    EXPECT_LT(fitted, 100);
    EXPECT_EQ(form->sliderzoom->Value(), int(fitted));
    // Off again: the zoom follows the slider, which shows the fitted zoom.
    form->Zoomtofit->trigger();
    EXPECT_FALSE(form->Zoomtofit->isChecked());
    EXPECT_FALSE(form->view->AutoFit);
    EXPECT_EQ(form->view->ScrollBars(), ssBoth);
    EXPECT_EQ(form->view->Zoom(), int(fitted));
}

TEST_F(MainWindow, RotationTurnsThePhotoAndRefits) {
    form->LoadPhoto(dir.File("big.bmp"));
    const double landscape = form->view->Zoom();
    form->Rotateleft1->trigger();
    ASSERT_EQ(form->view->GetBitmap()->Width(), 1000);
    // Counter-clockwise: the top right (blue) comes to the top left.
    EXPECT_EQ(Pixel(10, 10), clBlue);
    EXPECT_EQ(Pixel(990, 10), clWhite);
    EXPECT_LT(form->view->Zoom(), landscape);
    EXPECT_EQ(form->Labelzoom->text().toStdString(), std::to_string(int(form->view->Zoom())) + "%");
    form->SpeedButton6->click();
    form->SpeedButton6->click();
    EXPECT_EQ(Pixel(10, 10), clLime);   // clockwise twice from there: the bottom left on top
    EXPECT_EQ(form->view->GetBitmap()->Width(), 1000);
}

TEST_F(MainWindow, ProgressOnlyAtMultiplesOfFiveAndHiddenAfterAFailure) {
    form->progress->show();
    form->progress->setValue(0);
    for (const auto& [percent, shown] : {std::pair{3, 0}, {5, 5}, {7, 5}, {10, 10}}) {
        form->IOProgress(nullptr, percent);
        EXPECT_EQ(form->progress->value(), shown) << percent;
    }
    form->LoadPhoto(dir.File("small.bmp"));
    std::ofstream(dir.File("broken.bmp")) << "BM not really";
    EXPECT_THROW(form->LoadPhoto(dir.File("broken.bmp")), Exception);
    EXPECT_FALSE(form->progress->isVisible());
    EXPECT_EQ(form->PhotoPath, dir.File("small.bmp"));
    EXPECT_EQ(form->StatusBar->PanelText(0), dir.File("small.bmp"));
    EXPECT_ANY_THROW(form->LoadPhoto(dir.File("missing.jpg")));
    EXPECT_FALSE(form->progress->isVisible());
}

TEST_F(MainWindow, CommandLinePhotoAtTheFirstIdleMoment) {
    bool done = false;
    SetProgramArguments("gdview", {dir.File("nothing.jpg")});
    form->OpenCommandLinePhoto(nullptr, done);
    EXPECT_TRUE(done);
    EXPECT_EQ(form->PhotoPath, "");
    EXPECT_TRUE(r.boxes.empty());
    SetProgramArguments("gdview", {dir.File("small.bmp")});
    form->OpenCommandLinePhoto(nullptr, done);
    EXPECT_EQ(form->PhotoPath, dir.File("small.bmp"));
    SetProgramArguments("gdview", {});
}

TEST_F(MainWindow, EscapeClosesOnlyWhenTheWindowSawThePress) {
    // The release of an Escape that closed a dialog reaches the main window alone.
    r.modal = [&](TForm& f) {
        auto& chooser = dynamic_cast<Taddphoto&>(f);
        Key(chooser.list, QEvent::KeyPress);
        EXPECT_EQ(chooser.ModalResult(), mrCancel);
    };
    form->AddtoAlbum1->trigger();
    Key(form->view->ClientWidget(), QEvent::KeyRelease);
    EXPECT_TRUE(form->Visible());
    // Another key in between: still no close on a lone release.
    Key(form->view->ClientWidget(), QEvent::KeyPress);
    Key(form->view->ClientWidget(), QEvent::KeyPress, Qt::Key_A);
    Key(form->view->ClientWidget(), QEvent::KeyRelease);
    EXPECT_TRUE(form->Visible());
    // Pressed and released here, whichever control has the focus (the slider too).
    Key(form->sliderzoom->ClientWidget(), QEvent::KeyPress);
    Key(form->sliderzoom->ClientWidget(), QEvent::KeyRelease);
    EXPECT_FALSE(form->Visible());
}

TEST_F(MainWindow, MainAlbumProgramStartedOrReportedMissing) {
    form->StartGlimmerdeck1->trigger();
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0], "Error|Glimmerdeck not found! (" + dir.File("glimmerdeck2") + ")|" +
                              std::to_string(MB_OK | MB_ICONERROR));
    EXPECT_TRUE(form->Visible());
    // Not executable: not a program either.
    std::ofstream(dir.File("glimmerdeck2")) << "#!/bin/sh\n";
    form->SpeedButton1->click();
    EXPECT_EQ(r.boxes.size(), 2u);
    // The Windows name, executable, is taken; the viewer closes once it has started.
    std::ofstream(dir.File("glimmerdeck2.exe")) << "#!/bin/sh\ntouch '" << dir.File("started") << "'\n";
    fs::permissions(dir.File("glimmerdeck2.exe"), fs::perms::owner_all);
    form->StartGlimmerdeck1->trigger();
    EXPECT_EQ(r.boxes.size(), 2u);
    EXPECT_FALSE(form->Visible());
    for (int i = 0; i < 500 && !fs::exists(dir.File("started")); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(fs::exists(dir.File("started")));
}

TEST_F(MainWindow, CaptionsAreTranslatedAndNeverCut) {
    const std::pair<const char*, const char*> texts[] = {
        {"viewer.title", "Fotobetrachter"},
        {"viewer.file1.caption", "&Datei"},
        {"viewer.Open1.caption", "Foto \xF6" "ffnen..."},
        {"viewer.AddtoAlbum1.caption", "Zum Album hinzuf\xFCgen..."},
        {"viewer.StartGlimmerdeck1.caption", "Glimmerdeck starten"},
        {"viewer.Exit1.caption", "Beenden"},
        {"viewer.View1.caption", "Ansicht"},
        {"viewer.Rotateleft1.caption", "Nach links drehen"},
        {"viewer.Rotateright1.caption", "Nach rechts drehen"},
        {"viewer.Zoomtofit.caption", "An Fenster anpassen"},
        {"viewer.Help1.caption", "Hilfe"},
        {"viewer.About1.caption", "\xDC" "ber..."},
        {"viewer.SpeedButton4.caption", "Ein ziemlich langer Text zum \xD6" "ffnen eines Fotos"},
        {"viewer.SpeedButton2.caption", "Zum Album hinzuf\xFCgen"},
        {"viewer.SpeedButton1.caption", "Glimmerdeck starten"},
        {"viewer.Label1.caption", "Vergr\xF6\xDF" "erung:"},
    };
    LngWriter w;
    w.Header(int32_t(std::size(texts)));
    for (const auto& [k, t] : texts) w.Entry(k, t);
    w.Save(dir.File("de.lng"));
    tlangdata table;
    table.LoadFromFile(dir.File("de.lng"));
    LangData = &table;
    form = std::make_unique<TForm1>(nullptr, dir.Path());
    form->Show();
    EXPECT_EQ(form->Caption(), "Fotobetrachter");
    EXPECT_EQ(form->File1->title(), "&Datei");
    EXPECT_EQ(form->Open1->text().toStdString(), "Foto \xC3\xB6" "ffnen...");
    EXPECT_EQ(form->About1->text().toStdString(), "\xC3\x9C" "ber...");
    EXPECT_EQ(form->Zoomtofit->text(), "An Fenster anpassen");
    EXPECT_EQ(form->Label1->text().toStdString(), "Vergr\xC3\xB6\xC3\x9F" "erung:");
    // Every tool-bar control is at least as large as its text needs, and none overlaps the next.
    const std::vector<QWidget*> row = {form->SpeedButton4, form->SpeedButton2, form->SpeedButton1, form->SpeedButton5,
                                       form->SpeedButton6};
    int right = 0;
    for (QWidget* w : row) {
        EXPECT_GE(w->width(), w->sizeHint().width()) << w->objectName().toStdString();
        EXPECT_GE(w->x(), right) << w->objectName().toStdString();
        right = w->x() + w->width();
    }
    EXPECT_GE(form->Panel1->Left(), right);
    EXPECT_GE(form->Label1->width(), form->Label1->sizeHint().width());
    EXPECT_GE(form->sliderzoom->Left(), form->Label1->x() + form->Label1->width());
    EXPECT_GE(form->Labelzoom->x(), form->sliderzoom->Left() + form->sliderzoom->Width() - 1);
    EXPECT_GE(form->SpeedButton12->x(), form->Labelzoom->x() + form->Labelzoom->width());
    // Not translated: the hints and the zoom label.
    EXPECT_EQ(form->SpeedButton5->accessibleName(), "Rotate Photo Left");
    EXPECT_EQ(form->SpeedButton5->toolTip(), "");
    EXPECT_EQ(form->Labelzoom->text(), "100%");
}

TEST(ViewAccessors, OwnIOAndProcCreatedOnceAndFreedWithTheView) {
    auto view = std::make_unique<TLuxView>(nullptr);
    EXPECT_EQ(view->ComponentCount(), 0);   // nothing made before it is asked for
    TLuxIO* io = view->GetIO();
    EXPECT_EQ(view->GetIO(), io);
    EXPECT_EQ(io->AttachedView(), view.get());
    EXPECT_EQ(io->Owner(), view.get());
    TLuxProc* proc = view->GetProc();
    EXPECT_EQ(view->GetProc(), proc);
    EXPECT_EQ(proc->AttachedView(), view.get());
    EXPECT_EQ(view->ComponentCount(), 2);
    EXPECT_EQ(view->BitmapChangeEventCount(), 2);
    // Loading through the view's own I/O shows the picture in the view.
    TestDir dir;
    WriteQuadrants(dir.File("q.bmp"), 20, 10);
    io->LoadFromFile(dir.File("q.bmp"));
    EXPECT_EQ(view->GetBitmap()->Width(), 20);
    proc->Rotate(90, false);
    EXPECT_EQ(view->GetBitmap()->Width(), 10);
    view.reset();   // the sanitizer build checks that nothing is used after it was freed
}
