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

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QWheelEvent>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

#include "ComCtrls.h"
#include "Dialogs.h"
#include "LngWriter.h"
#include "LuxIO.h"
#include "LuxProc.h"
#include "LuxView.h"
#include "LuxIOCodec.h"
#include "Registry.h"
#include "addtoalbum.h"
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

namespace {

// What the window shows, to compare before and after a load.
struct WindowState {
    int width = 0, height = 0;
    uint64_t pixels = 0;   // a hash of every pixel
    double zoom = 0;
    bool autoFit = false;
    std::string photoPath, status, label;
    int slider = 0;
    bool operator==(const WindowState&) const = default;
};
std::ostream& operator<<(std::ostream& o, const WindowState& d) {
    return o << d.width << "x" << d.height << " #" << d.pixels << " zoom " << d.zoom << (d.autoFit ? " fit" : "")
             << " '" << d.photoPath << "' '" << d.status << "' '" << d.label << "' slider " << d.slider;
}
WindowState Shown(TForm1& f) {
    WindowState d;
    const TBitmap* b = f.view->GetBitmap();
    d.width = b->Width();
    d.height = b->Height();
    d.pixels = 1469598103934665603ull;
    for (int y = 0; y < d.height; ++y) {
        const auto* row = static_cast<const uint8_t*>(const_cast<TBitmap*>(b)->ScanLine(y));
        for (int x = 0; x < d.width * 3; ++x) d.pixels = (d.pixels ^ row[x]) * 1099511628211ull;
    }
    d.zoom = f.view->Zoom();
    d.autoFit = f.view->AutoFit;
    d.photoPath = f.PhotoPath;
    d.status = f.StatusBar->PanelText(0);
    d.label = f.Labelzoom->text().toStdString();
    d.slider = f.sliderzoom->Value();
    return d;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
void WriteFile(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

// A 600 x 400 picture of ramps, saved by the library in the format of the file's extension.
void SavePicture(const std::string& path) {
    TBitmap b;
    b.SetPixelFormat(pf24bit);
    b.SetSize(600, 400);
    for (int y = 0; y < 400; ++y) {
        auto* row = static_cast<uint8_t*>(b.ScanLine(y));
        for (int x = 0; x < 600; ++x) {
            row[3 * x] = uint8_t(x), row[3 * x + 1] = uint8_t(y), row[3 * x + 2] = uint8_t((x * y) >> 6);
        }
    }
    TLuxIO io(nullptr);
    io.SetAttachedBitmap(&b);
    io.SaveToFile(path);
    ASSERT_FALSE(io.Aborting) << path;
}

// A hang guard: ends the test program with a message when a step takes far longer than any
// load could (a FIFO or a device read for ever).
class Watchdog {
public:
    explicit Watchdog(const char* What, std::chrono::seconds Limit = std::chrono::seconds(60))
        : thread_([this, What, Limit] {
              std::unique_lock<std::mutex> lk(m_);
              if (!cv_.wait_for(lk, Limit, [&] { return done_; })) {
                  std::fprintf(stderr, "hang: %s\n", What);
                  std::_Exit(3);
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> g(m_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread thread_;
};

}  // namespace

// A photo that cannot be read, even one that fails half-way through its decoding, leaves the
// view, its zoom and every display as they were: the window still describes the photo shown.
TEST_F(MainWindow, AFailedLoadLeavesTheWindowAsItWas) {
    // Random bytes.
    std::string noise(64 << 10, '\0');
    uint32_t seed = 7;
    for (char& c : noise) c = char((seed = seed * 1664525u + 1013904223u) >> 24);
    WriteFile(dir.File("noise.jpg"), noise);
    WriteFile(dir.File("noise.emf"), noise);
    // A PNG whose image data is damaged in the middle of its IDAT chunks.
    SavePicture(dir.File("good.png"));
    std::string png = ReadFile(dir.File("good.png"));
    const size_t idat = png.find("IDAT");
    ASSERT_NE(idat, std::string::npos);
    for (size_t i = idat + (png.size() - idat) / 2; i < idat + (png.size() - idat) / 2 + 64; ++i) png[i] = char(~png[i]);
    WriteFile(dir.File("damaged.png"), png);
    // A TIFF page that stops once its picture is made: 600 x 400 RGB in planes of 16 x 16
    // tiles, a layout the reader gives up on when it comes to the tiles.
    {
        std::string t = "II*";
        t += '\0';
        auto u16 = [&](uint32_t v) { t += char(v), t += char(v >> 8); };
        auto u32 = [&](uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
        const uint32_t entries = 11, bitsAt = 8 + 2 + 12 * entries + 4, dataAt = bitsAt + 6;
        auto tag = [&](uint16_t id, uint16_t type, uint32_t count, uint32_t value) { u16(id), u16(type), u32(count), u32(value); };
        u32(8);
        u16(entries);
        tag(256, 3, 1, 600);        // width
        tag(257, 3, 1, 400);        // height
        tag(258, 3, 3, bitsAt);     // 8, 8, 8 bits
        tag(259, 3, 1, 1);          // no compression
        tag(262, 3, 1, 2);          // RGB
        tag(277, 3, 1, 3);          // samples per pixel
        tag(284, 3, 1, 2);          // in planes
        tag(322, 3, 1, 16);         // tile width
        tag(323, 3, 1, 16);         // tile length
        tag(324, 4, 1, dataAt);     // the first tile
        tag(325, 4, 1, 256);
        u32(0);
        u16(8), u16(8), u16(8);
        t += std::string(256, '\x40');
        WriteFile(dir.File("halfway.tif"), t);
    }
    // The PNG and the TIFF do fail half-way: a load into a bitmap of its own has begun the
    // new picture when it stops.
    for (const char* f : {"damaged.png", "halfway.tif"}) {
        TBitmap b;
        b.SetSize(3, 3);
        TLuxIO io(nullptr);
        io.SetAttachedBitmap(&b);
        io.LoadFromFile(dir.File(f));
        EXPECT_TRUE(io.Aborting) << f;
        EXPECT_GT(b.Width(), 3) << f;
    }

    for (const bool fit : {true, false}) {
        SCOPED_TRACE(fit ? "fit mode" : "slider mode");
        form->Zoomtofit->setChecked(true);
        form->LoadPhoto(dir.File("big.bmp"));
        if (!fit) {
            form->sliderzoom->SetValue(150);
            form->sliderzoomChanged(nullptr);
        }
        const WindowState before = Shown(*form);
        ASSERT_EQ(before.width, 1600);
        for (const char* f : {"noise.jpg", "damaged.png", "halfway.tif", "noise.emf"}) {
            SCOPED_TRACE(f);
            try {
                form->LoadPhoto(dir.File(f));
                ADD_FAILURE() << "loaded";
            } catch (const Exception& e) {
                EXPECT_EQ(e.Message, "Cannot read the photo \"" + dir.File(f) + "\"");
            }
            QApplication::processEvents();
            EXPECT_EQ(Shown(*form), before);
            EXPECT_FALSE(form->progress->isVisible());
        }
    }
}

// Only regular files are opened, and never with a wait: a FIFO without a writer, an endless
// device, a folder and a socket, named on the command line, through the Open dialog or
// directly, give the message of an unreadable photo and change nothing.
TEST_F(MainWindow, SpecialFilesAreRefusedWithoutWaiting) {
    form->LoadPhoto(dir.File("small.bmp"));
    const WindowState before = Shown(*form);
    ASSERT_EQ(::mkfifo(dir.File("fifo.jpg").c_str(), 0600), 0);
    fs::create_directory(dir.File("folder.jpg"));
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string sockPath = dir.File("socket.jpg");
    ASSERT_LT(sockPath.size(), sizeof addr.sun_path);
    std::strcpy(addr.sun_path, sockPath.c_str());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    fs::create_symlink("/dev/zero", dir.File("zero.jpg"));
    const std::string files[] = {dir.File("fifo.jpg"), "/dev/zero", dir.File("zero.jpg"), dir.File("folder.jpg"),
                                 sockPath};
    std::string chosen;
    struct OpenAnswer : Answers {
        std::string* file = nullptr;
        bool OpenFile(TOpenDialog& d) override {
            d.FileName = *file;
            return true;
        }
    } open;
    open.file = &chosen;
    SetDialogResponder(&open);
    for (const std::string& f : files) {
        SCOPED_TRACE(f);
        const std::string message = "Cannot read the photo \"" + f + "\"";
        Watchdog guard(f.c_str());
        for (int way = 0; way < 3; ++way) {
            try {
                if (way == 0) {
                    form->LoadPhoto(f);
                } else if (way == 1) {
                    chosen = f;
                    form->Open1Click();
                } else {
                    SetProgramArguments("gdview", {f});
                    bool done = false;
                    form->OpenCommandLinePhoto(nullptr, done);
                }
                ADD_FAILURE() << "no error, way " << way;
            } catch (const Exception& e) {
                EXPECT_EQ(e.Message, message) << way;
            }
            EXPECT_EQ(Shown(*form), before) << way;
        }
    }
    SetProgramArguments("gdview", {});
    SetDialogResponder(&r);
    ::close(sock);
}

namespace {

// Does one change to the photo's file the first time the load reports progress: in the middle
// of a JPEG's decode, during a metafile's conversion (its import reports once it has drawn).
struct ChangeMidLoad {
    std::function<void()> change;
    int calls = 0;
    void Progress(TObject*, int) {
        if (calls++ == 0 && change) change();
    }
};

void Overwrite(const std::string& path, const std::string& bytes) {
    // In place, as "cat other > shown" does: the same file, new bytes.
    std::ofstream(path, std::ios::binary | std::ios::in | std::ios::out | std::ios::trunc) << bytes;
}

}  // namespace

// A photo opened through the dialog whose file is rewritten, cut, renamed over or deleted while
// it loads is refused as unreadable: the window keeps the photo it showed, and Add to Album
// still copies that one, byte for byte.
TEST_F(MainWindow, APhotoChangedWhileItLoadsIsRefused) {
    const std::string album = dir.File("album");
    fs::create_directories(album);
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(kAlbumKey, true));
        reg.WriteString(kAlbumValue, album);
    }
    SavePicture(dir.File("ramps.jpg"));
    {
        // Another JPEG, of other bytes and size.
        TBitmap b;
        TLuxIO io(nullptr);
        io.SetAttachedBitmap(&b);
        io.LoadFromFile(dir.File("small.bmp"));
        io.SaveToFile(dir.File("other.jpg"));
        ASSERT_FALSE(io.Aborting);
    }
    const std::string emf = ReadFile(GD_SOURCE_DIR "/tests/imagelib/fixtures/emf/red_rectangle.emf");
    const std::string otherEmf = ReadFile(GD_SOURCE_DIR "/tests/imagelib/fixtures/emf/empty_page.emf");
    ASSERT_FALSE(emf.empty() || otherEmf.empty());
    struct Format {
        const char* ext;
        std::string bytes, other;
    };
    const Format formats[] = {{"jpg", ReadFile(dir.File("ramps.jpg")), ReadFile(dir.File("other.jpg"))},
                              {"emf", emf, otherEmf}};
    enum Change { overwritten, truncated, renamedOver, deleted };
    struct OpenAnswer : Answers {
        std::string file;
        bool OpenFile(TOpenDialog& d) override {
            d.FileName = file;
            return true;
        }
    } open;
    open.modal = [](TForm& f) { f.SetModalResult(mrOk); };   // the album chooser: the base
    SetDialogResponder(&open);
    const std::string previous = ReadFile(dir.File("big.bmp"));
    for (const Format& f : formats) {
        // Both load whole when left alone.
        const std::string shown = dir.File(std::string("shown.") + f.ext);
        WriteFile(shown, f.bytes);
        open.file = shown;
        form->Open1Click();
        ASSERT_EQ(form->PhotoPath, shown);
        for (const Change c : {overwritten, truncated, renamedOver, deleted}) {
            SCOPED_TRACE(std::string(f.ext) + " change " + std::to_string(c));
            open.file = dir.File("big.bmp");   // the photo the window keeps
            form->Open1Click();
            const WindowState before = Shown(*form);
            WriteFile(shown, f.bytes);
            WriteFile(dir.File("replacement"), f.other);
            ChangeMidLoad hook;
            hook.change = [&] {
                switch (c) {
                case overwritten: Overwrite(shown, f.other); break;
                case truncated: ASSERT_EQ(::truncate(shown.c_str(), off_t(f.bytes.size() / 2)), 0); break;
                case renamedOver: fs::rename(dir.File("replacement"), shown); break;
                case deleted: fs::remove(shown); break;
                }
            };
            const TLXProgressEvent own = form->view->GetIO()->OnProgress;
            form->view->GetIO()->OnProgress = MakeMethod(&hook, &ChangeMidLoad::Progress);
            open.file = shown;
            try {
                form->Open1Click();
                ADD_FAILURE() << "shown";
            } catch (const Exception& e) {
                EXPECT_EQ(e.Message, "Cannot read the photo \"" + shown + "\": the file changed while it was read");
            }
            form->view->GetIO()->OnProgress = own;
            EXPECT_GT(hook.calls, 0);
            QApplication::processEvents();
            EXPECT_EQ(Shown(*form), before);
            EXPECT_FALSE(form->progress->isVisible());
            fs::remove(album + "/big.bmp");
            form->AddtoAlbum1Click();
            EXPECT_EQ(ReadFile(album + "/big.bmp"), previous);
            EXPECT_FALSE(fs::exists(album + "/" + fs::path(shown).filename().string()));
        }
    }
    // Changed after its load: Add to Album copies nothing and says why, as the album would
    // get another photo than the one shown.
    for (const bool rewrite : {true, false}) {
        SCOPED_TRACE(rewrite ? "rewritten" : "renamed over");
        const std::string shown = dir.File("shown.jpg");
        WriteFile(shown, formats[0].bytes);
        open.file = shown;
        form->Open1Click();
        ASSERT_EQ(form->PhotoPath, shown);
        if (rewrite) Overwrite(shown, formats[0].other);
        else {
            WriteFile(dir.File("replacement"), formats[0].other);
            fs::rename(dir.File("replacement"), shown);
        }
        fs::remove(album + "/shown.jpg");
        open.boxes.clear();
        form->AddtoAlbum1Click();
        EXPECT_FALSE(fs::exists(album + "/shown.jpg"));
        ASSERT_EQ(open.boxes.size(), 1u);
        EXPECT_NE(open.boxes[0].find("has changed since the photo was opened"), std::string::npos) << open.boxes[0];
    }
    SetDialogResponder(&r);
}

// A photo larger than the decoders make pictures of is called too large, with its size and
// the limit; the window keeps what it showed.
TEST_F(MainWindow, APhotoTooLargeSaysSoWithItsSizeAndTheLimit) {
    form->LoadPhoto(dir.File("small.bmp"));
    const WindowState before = Shown(*form);
    // A JPEG made by the library, its frame header then set to 20000 x 20000 (the decoder
    // refuses it on the header, before any pixel data would be read).
    SavePicture(dir.File("ramps.jpg"));
    std::string jpg = ReadFile(dir.File("ramps.jpg"));
    const size_t sof = jpg.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos);
    for (size_t at : {sof + 5, sof + 7}) jpg[at] = char(20000 >> 8), jpg[at + 1] = char(20000 & 0xFF);
    WriteFile(dir.File("huge.jpg"), jpg);
    ASSERT_EQ(LXMaxPixels, int64_t(1) << 28);
    try {
        form->LoadPhoto(dir.File("huge.jpg"));
        ADD_FAILURE() << "loaded";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message, "The photo \"" + dir.File("huge.jpg") +
                                 "\" is too large to show: 20000 x 20000 pixels, more than 268435456 pixels (2^28) in all");
    }
    EXPECT_EQ(Shown(*form), before);
}

// The zoom label and the slider tell the view's zoom whatever changed it: the mouse wheel,
// the view's own zoom (a click zoom), the 100 % button.
TEST_F(MainWindow, TheZoomDisplayFollowsEveryZoom) {
    form->LoadPhoto(dir.File("big.bmp"));
    auto check = [&](const char* what) {
        SCOPED_TRACE(what);
        const double z = form->view->Zoom();
        EXPECT_EQ(form->Labelzoom->text().toStdString(), std::to_string(int(z)) + "%");
        EXPECT_EQ(form->sliderzoom->Value(), std::clamp(ZoomToSlider(z), 1, 200));
    };
    form->SpeedButton12->click();
    ASSERT_EQ(form->view->Zoom(), 100);
    check("100 % button");
    QWidget* area = form->view->ClientWidget();
    const QPointF middle(area->width() / 2, area->height() / 2);
    for (const int delta : {120, 120, -120, -120, -120, 240}) {
        const double z = form->view->Zoom();
        QWheelEvent wheel(middle, area->mapToGlobal(middle), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(area, &wheel);
        EXPECT_NE(form->view->Zoom(), z) << "the wheel zooms";
        check("wheel");
    }
    EXPECT_FALSE(form->view->AutoFit);
    form->view->ZoomAt(10, 10, 250);
    check("click zoom");
    form->view->SetZoom(37.8);
    check("37.8 %");
    form->SpeedButton12->click();
    check("100 % button again");
    EXPECT_EQ(form->Labelzoom->text(), "100%");
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
