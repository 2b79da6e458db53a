#include "main.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QFontMetrics>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QProgressBar>
#include <QToolButton>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>

#include "AppShell.h"
#include "ComCtrls.h"
#include "Dialogs.h"
#include "LuxIO.h"
#include "LuxIOAhead.h"
#include "LuxIOCodec.h"
#include "LuxProc.h"
#include "LuxView.h"
#include "PhotoPrefetch.h"
#include "ShortcutLink.h"
#include "StdCtrls.h"
#include "SysUtils.h"
#include "UxPlacement.h"
#include "UxSlider.h"
#include "UxSplit.h"
#include "transclass.h"

const char* const kPhotoFilter =
    "Any Photo|*.jpg;*.jpeg;*.bmp;*.tif;*.tiff;*.png;*.pcx|JPEG Photo (*.jpg,*.jpeg)|*.jpg;*.jpeg|"
    "BMP Photo (*.bmp)|*.bmp|TIFF Photo (*.tif,*.tiff)|*.tif;*.tiff|PNG Photo (*.png)|*.png|"
    "PCX Photo (*.pcx)|*.pcx";

int SliderToZoom(int Value) { return Value <= 100 ? Value : 2 * Value - 100; }

int ZoomToSlider(double Zoom) {
    const int t = std::isfinite(Zoom) ? int(std::trunc(std::clamp(Zoom, -1e6, 1e6))) : 0;
    return t <= 100 ? t : 100 + (t - 100) / 2;
}

namespace {

// ---- The tool bar's glyphs: 16 x 16 on a magenta background (the transparent colour) ----

constexpr TColor kKey = clFuchsia;

std::unique_ptr<TBitmap> NewGlyph() {
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(pf24bit);
    b->SetSize(16, 16);
    TCanvas* c = b->Canvas();
    c->Brush()->SetStyle(bsSolid);
    c->Brush()->SetColor(kKey);
    c->FillRect({0, 0, 16, 16});
    c->Pen()->SetColor(clNavy);
    c->Brush()->SetColor(clNavy);
    return b;
}

// Three quarters of a circle with an arrow head: counter-clockwise for left.
std::unique_ptr<TBitmap> RotateGlyph(bool Left) {
    auto b = NewGlyph();
    TCanvas* c = b->Canvas();
    c->Pen()->SetWidth(2);
    std::vector<TPoint> arc;
    for (int a = 0; a <= 270; a += 15) {
        const double r = (Left ? 90 + a : 90 - a) * M_PI / 180;
        arc.push_back({int(std::lround(8 + 5 * std::cos(r))), int(std::lround(9 - 5 * std::sin(r)))});
    }
    c->Polyline(arc);
    c->Pen()->SetWidth(1);
    const TPoint e = arc.back();
    const int d = Left ? -1 : 1;
    c->Polygon({{e.X - 3 * d, e.Y - 3}, {e.X + 3 * d, e.Y - 3}, {e.X, e.Y + 2}});
    return b;
}

// A magnifying glass: the real-size view.
std::unique_ptr<TBitmap> ZoomGlyph() {
    auto b = NewGlyph();
    TCanvas* c = b->Canvas();
    c->Brush()->SetColor(clWhite);
    c->Pen()->SetWidth(2);
    c->Ellipse(2, 1, 11, 10);
    c->Pen()->SetWidth(3);
    c->MoveTo(10, 9);
    c->LineTo(14, 13);
    return b;
}

// The zoom slider's own thumb: a narrow raised block, enabled and disabled side by side.
std::unique_ptr<TBitmap> ThumbImage() {
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(pf24bit);
    const int w = 9, h = 17;
    b->SetSize(2 * w, h);
    TCanvas* c = b->Canvas();
    c->Brush()->SetStyle(bsSolid);
    for (int s = 0; s < 2; ++s) {
        const int x = s * w;
        c->Brush()->SetColor(cl3DDkShadow);
        c->FillRect({x, 0, x + w, h});
        c->Brush()->SetColor(clBtnHighlight);
        c->FillRect({x, 0, x + w - 1, h - 1});
        c->Brush()->SetColor(clBtnShadow);
        c->FillRect({x + 1, 1, x + w - 1, h - 1});
        c->Brush()->SetColor(s == 0 ? clBtnFace : clBtnShadow);
        c->FillRect({x + 1, 1, x + w - 2, h - 2});
    }
    return b;
}

QToolButton* NewSpeedButton(TWinControl* Parent, const std::string& Name, int Left, int Top, int Width,
                            int Height, const std::string& Caption, const std::string& Hint) {
    auto* b = NewControl<QToolButton>(Parent, Name, Left, Top, Width, Height);
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
    if (!Caption.empty()) ::SetCaption(b, Caption);
    // The hint is kept with the button but never shown as a tip (hints are off in this window).
    b->setAccessibleName(QString::fromStdString(Hint));
    PlaceControl(b, Left, Top, Width, Height);
    return b;
}

void SetGlyph(QToolButton* Button, const TBitmap* Glyph) {
    Button->setIcon(GlyphIcon(Glyph, 1));
    Button->setIconSize(QSize(Glyph->Width(), Glyph->Height()));
}

std::string ZoomText(double Zoom) { return IntToStr(int64_t(std::trunc(Zoom))) + "%"; }

}  // namespace

TForm1::TForm1(TComponent* AOwner, const std::string& ProgramFolder)
    : TForm(AOwner), programFolder_(ProgramFolder) {
    SetName("Form1");
    SetCaption("Glimmerdeck Viewer");
    SetBorderStyle(bsSizeable);
    SetPosition(poScreenCenter);
    SetBounds(286, 256, 767, 480);
    KeyPreview = true;

    MainMenu1 = new QMenuBar;
    MainMenu1->setObjectName("MainMenu1");
    File1 = NewMenu(MainMenu1, "File1", "File");
    Open1 = NewAction(File1, "Open1", "Open photo...", "F3");
    AddtoAlbum1 = NewAction(File1, "AddtoAlbum1", "Add to album...");
    N1 = NewSeparator(File1, "N1");
    StartGlimmerdeck1 = NewAction(File1, "StartGlimmerdeck1", "Start Glimmerdeck", "Ctrl+P");
    Exit1 = NewAction(File1, "Exit1", "Exit");
    View1 = NewMenu(MainMenu1, "View1", "View");
    Rotateleft1 = NewAction(View1, "Rotateleft1", "Rotate left", "Ctrl+L");
    Rotateright1 = NewAction(View1, "Rotateright1", "Rotate right", "Ctrl+R");
    N2 = NewSeparator(View1, "N2");
    Zoomtofit = NewAction(View1, "Zoomtofit", "Zoom to fit", "F9");
    Zoomtofit->setCheckable(true);
    Zoomtofit->setChecked(true);
    Help1 = NewMenu(MainMenu1, "Help1", "Help");
    About1 = NewAction(Help1, "About1", "About...");
    SetMenu(MainMenu1);

    UxSplitter1 = new TUxSplitter(this);
    UxSplitter1->SetName("UxSplitter1");
    UxSplitter1->SetParent(this);
    UxSplitter1->SetAlign(alTop);
    UxSplitter1->SetHeight(2);
    UxSplitter1->SetBevelInner(bvLowered);
    UxSplitter1->SetBevelOuter(bvNone);
    UxSplitter1->SetEnabled(false);

    Panel2 = new TPanel(this);
    Panel2->SetName("Panel2");
    Panel2->SetParent(this);
    Panel2->SetBounds(0, 2, 767, 30);
    Panel2->SetAlign(alTop);
    Panel2->SetBevelOuter(bvNone);
    UxSplitter1->SetControlFirst(Panel2);

    SpeedButton4 = NewSpeedButton(Panel2, "SpeedButton4", 0, 2, 104, 25, "Open Photo", "");
    SpeedButton2 = NewSpeedButton(Panel2, "SpeedButton2", 104, 2, 104, 25, "Add to Album", "");
    SpeedButton2->setEnabled(false);
    SpeedButton1 = NewSpeedButton(Panel2, "SpeedButton1", 208, 2, 113, 25, "Glimmerdeck", "");
    SpeedButton5 = NewSpeedButton(Panel2, "SpeedButton5", 321, 2, 30, 25, "", "Rotate Photo Left");
    SetGlyph(SpeedButton5, RotateGlyph(true).get());
    SpeedButton6 = NewSpeedButton(Panel2, "SpeedButton6", 351, 2, 30, 25, "", "Rotate Photo Right");
    SetGlyph(SpeedButton6, RotateGlyph(false).get());

    Panel1 = new TPanel(this);
    Panel1->SetName("Panel1");
    Panel1->SetParent(Panel2);
    Panel1->SetBounds(384, 2, 281, 25);
    Panel1->SetBevelOuter(bvNone);
    Label1 = NewControl<QLabel>(Panel1, "Label1", 8, 6);
    ::SetCaption(Label1, "Zoom:");
    sliderzoom = new TUxSlider(this);
    sliderzoom->SetName("sliderzoom");
    sliderzoom->SetParent(Panel1);
    sliderzoom->SetBounds(41, 0, 160, 25);
    sliderzoom->SetMinValue(1);
    sliderzoom->SetMaxValue(200);
    sliderzoom->SetIncrement(1);
    const auto thumb = ThumbImage();
    sliderzoom->SetImage(siHThumb, thumb.get());
    sliderzoom->SetOptions(soSmooth | soThumbOpaque);
    sliderzoom->SetValue(100);
    sliderzoom->OnChanged = MakeMethod(this, &TForm1::sliderzoomChanged);
    Labelzoom = NewControl<QLabel>(Panel1, "Labelzoom", 200, 6);
    ::SetCaption(Labelzoom, "100%");
    SpeedButton12 = NewSpeedButton(Panel1, "SpeedButton12", 236, 0, 35, 25, "", "Fit Photo to Screen");
    SetGlyph(SpeedButton12, ZoomGlyph().get());

    StatusBar = new TStatusBar(this);
    StatusBar->SetName("StatusBar");
    StatusBar->SetParent(this);
    StatusBar->SetPanelCount(2);
    StatusBar->SetPanelWidth(0, 50);
    StatusBar->SetPanelWidth(1, 150);
    progress = NewControl<QProgressBar>(StatusBar, "progress", 0, 0, 150, 16);
    progress->setRange(0, 100);
    progress->setTextVisible(false);
    progress->hide();

    view = new TLuxView(this);
    view->SetName("view");
    view->SetParent(this);
    view->SetAlign(alClient);
    view->DoubleBuffer = false;
    view->SetCenter(true);
    view->DelayZoomFilter = false;
    view->SetMouseInteract(MI(miScroll));

    Open = new TOpenDialog(this);
    Open->SetName("Open");
    Open->Title = "Open Photo";
    Open->Options = ofHideReadOnly | ofFileMustExist | ofEnableSizing;
    Open->Filter = kPhotoFilter;

    shortcut = new TShortcutLink(this);
    shortcut->SetName("shortcut");

    ::OnClick(Open1, [this] { Open1Click(); });
    ::OnClick(SpeedButton4, [this] { Open1Click(); });
    ::OnClick(AddtoAlbum1, [this] { AddtoAlbum1Click(); });
    ::OnClick(SpeedButton2, [this] { AddtoAlbum1Click(); });
    ::OnClick(StartGlimmerdeck1, [this] { StartGlimmerdeck1Click(); });
    ::OnClick(SpeedButton1, [this] { StartGlimmerdeck1Click(); });
    ::OnClick(Exit1, [this] { Exit1Click(); });
    ::OnClick(Rotateleft1, [this] { Rotateleft1Click(); });
    ::OnClick(SpeedButton5, [this] { Rotateleft1Click(); });
    ::OnClick(Rotateright1, [this] { Rotateright1Click(); });
    ::OnClick(SpeedButton6, [this] { Rotateright1Click(); });
    ::OnClick(Zoomtofit, [this] { ZoomtofitClick(); });
    ::OnClick(About1, [this] { About1Click(); });
    ::OnClick(SpeedButton12, [this] { SpeedButton12Click(); });
    OnResize = MakeMethod(this, &TForm1::FormResize);
    StatusBar->OnResize = MakeMethod(this, &TForm1::StatusBarResize);
    OnDestroy = MakeMethod(this, &TForm1::FormDestroy);
    view->OnPaint = MakeMethod(this, &TForm1::ViewPaint);
    view->OnViewChange = MakeMethod(this, &TForm1::ViewChange);

    FormPlacement1 = new TFormPlacement(this);
    FormPlacement1->SetName("FormPlacement1");
    FormPlacement1->IniFileName = "software\\vantorel\\glimmerdeck";
    FormPlacement1->IniSection = "Viewer";
    FormPlacement1->UseRegistry = true;
    FormPlacement1->FormClassName = "TForm1";
    FormPlacement1->Loaded();

    FormCreate();
}

TForm1::~TForm1() { DoDestroy(); }

void TForm1::FormCreate() {
    TranslateForm();
    ArrangeToolBar();
    view->SetMouseInteract(MI(miScroll) | MI(miScrollRight));
    view->GetProc()->AutoUndo = false;
    if (Application) Application->SetOnIdle(MakeMethod(this, &TForm1::OpenCommandLinePhoto));
    progress->setGeometry(0, 3, 150, std::max(StatusBar->ClientHeight() - 4, 1));
    view->GetIO()->OnProgress = MakeMethod(this, &TForm1::IOProgress);
    StatusBarResize(StatusBar);
    Albums = TAlbumList();
}

void TForm1::FormDestroy(TObject*) {
    view->OnViewChange = {};
    Albums = TAlbumList();
}

// The test log notes when a loaded photo first reaches the screen, on the monotonic clock.
void TForm1::ViewPaint(TObject*) {
    if (!firstPaint_) return;
    firstPaint_ = false;
    TestLog("painted " + std::to_string(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                            std::chrono::steady_clock::now().time_since_epoch()).count()));
}

void TForm1::TranslateForm() {
    TranslateProperty(static_cast<TObject*>(this), "caption", "viewer.title");
    const std::pair<QObject*, const char*> table[] = {
        {File1, "viewer.file1.caption"},
        {Open1, "viewer.Open1.caption"},
        {AddtoAlbum1, "viewer.AddtoAlbum1.caption"},
        {StartGlimmerdeck1, "viewer.StartGlimmerdeck1.caption"},
        {Exit1, "viewer.Exit1.caption"},
        {View1, "viewer.View1.caption"},
        {Rotateleft1, "viewer.Rotateleft1.caption"},
        {Rotateright1, "viewer.Rotateright1.caption"},
        {Zoomtofit, "viewer.Zoomtofit.caption"},
        {Help1, "viewer.Help1.caption"},
        {About1, "viewer.About1.caption"},
        {SpeedButton4, "viewer.SpeedButton4.caption"},
        {SpeedButton2, "viewer.SpeedButton2.caption"},
        {SpeedButton1, "viewer.SpeedButton1.caption"},
        {Label1, "viewer.Label1.caption"},
    };
    for (const auto& [target, key] : table) TranslateProperty(target, "caption", key);
}

// The stored tool bar, each control moved along so that a longer text (a translation, a
// wider desktop font) is never cut, everything centred on one row; the window is made wide
// enough to show the whole bar.
void TForm1::ArrangeToolBar() {
    int x = 0, h = 25;
    auto place = [&](QWidget* w, int minWidth) {
        PlaceControl(w, x, 0, minWidth, 0);
        x = w->x() + w->width();
        h = std::max(h, w->height());
    };
    place(SpeedButton4, 104);
    place(SpeedButton2, 104);
    place(SpeedButton1, 113);
    place(SpeedButton5, 30);
    place(SpeedButton6, 30);
    const int panelLeft = x + 3;
    x = 8;
    place(Label1, 0);
    const int sliderLeft = std::max(41, x + 3);
    x = sliderLeft + 159;
    Labelzoom->setMinimumWidth(QFontMetrics(Labelzoom->font()).horizontalAdvance(QStringLiteral("8888%")));
    place(Labelzoom, 0);
    x = std::max(x, sliderLeft + 195);
    place(SpeedButton12, 35);
    // The buttons 2 pixels down in the bar, as stored; the zoom panel at the same height.
    for (QToolButton* w : {SpeedButton4, SpeedButton2, SpeedButton1, SpeedButton5, SpeedButton6})
        w->move(w->x(), 2 + (h - w->height()) / 2);
    for (QWidget* w : {static_cast<QWidget*>(Label1), static_cast<QWidget*>(Labelzoom), static_cast<QWidget*>(SpeedButton12)})
        w->move(w->x(), (h - w->height()) / 2);
    sliderzoom->SetBounds(sliderLeft, (h - 25) / 2, 160, 25);
    Panel1->SetBounds(panelLeft, 2, x + 10, h);
    Panel2->SetHeight(h + 5);
    const int needed = panelLeft + x + 10 + 2;
    if (needed > ClientWidth()) SetClientWidth(needed);
    SetSizeLimits(needed + Width() - ClientWidth(), 0, 0, 0);
}

void TForm1::OpenCommandLinePhoto(TObject*, bool& Done) {
    if (Application) Application->SetOnIdle({});
    Done = true;
    // A name of nothing opens nothing, silently; anything that is there (a folder, a FIFO, a
    // device) is tried and told as unreadable.
    const std::string path = ParamStr(1);
    struct stat st {};
    if (!path.empty() && ::stat(path.c_str(), &st) == 0) LoadPhoto(path);
    TestLog("idle done");
}

void TForm1::Open1Click() {
    if (!Open->Execute()) return;
    Zoomtofit->setChecked(true);
    LoadPhoto(Open->FileName);
}

namespace {

std::string CannotRead(const std::string& Path) { return "Cannot read the photo \"" + Path + "\""; }

// A photo whose file is another one, or changed, after its load than when it was opened: what
// was decoded may be half the old and half the new file, so it is not shown.
std::string ChangedWhileRead(const std::string& Path) {
    return CannotRead(Path) + ": the file changed while it was read";
}

}  // namespace

std::string PhotoTooLargeMessage(const std::string& Path, int64_t Width, int64_t Height) {
    return "The photo \"" + Path + "\" is too large to show: " + IntToStr(Width) + " x " +
           IntToStr(Height) + " pixels, more than " + IntToStr(LXMaxPixels) + " pixels (2^28) in all";
}

// A photo that failed to load: too large, when its header says so.
static std::string WhyUnreadable(const std::string& Path) {
    TLuxIO header(nullptr);
    header.ParamsFromFile(Path);
    const TLXIOParams* p = header.Params();
    if (p->FileType != 0 && p->Width > 0 && p->Height > 0 && int64_t(p->Width) * p->Height > LXMaxPixels)
        return PhotoTooLargeMessage(Path, p->Width, p->Height);
    return CannotRead(Path);
}

void TForm1::LoadIntoView(const std::string& Path, const TFileState& Opened) {
    // Decoded into a picture of its own, which the view takes only once the whole photo was
    // read from the file that was opened, unchanged: a photo that fails half-way, or whose
    // file is replaced or rewritten meanwhile, leaves the view, its zoom and every display as
    // they were.
    TLuxIO* io = view->GetIO();
    TLuxIOAhead spare;
    spare.Prepare(io->Params(), io->Background(), io->StreamHeaders);
    spare.IO()->OnProgress = io->OnProgress;
    const bool ok = spare.LoadAnyFile(Path);
    if (FileStateOf(Path) != Opened) throw Exception(ChangedWhileRead(Path));
    if (!ok) throw Exception(WhyUnreadable(Path));
    spare.HandTo(io);
}

void TForm1::LoadPhoto(const std::string& Path) {
    // The prefetch is let go after the first photo, whatever becomes of it.
    std::unique_ptr<TPhotoPrefetch> ahead = std::move(Prefetch);
    // Only a regular file is read, and opening it never waits: a FIFO, a device, a socket or
    // a folder gets the message of a photo that cannot be read.
    TFileState opened;
    {
        const int fd = OpenRegularFileRead(Path);
        if (fd < 0) throw Exception(CannotRead(Path));
        opened = FileStateOfFd(fd);
        ::close(fd);
    }
    progress->setValue(0);
    progress->show();
    progress->repaint();
    progressPainted_ = std::chrono::steady_clock::now();
    // The bar goes whichever way the load ends.
    struct HideBar {
        QProgressBar* bar;
        ~HideBar() { bar->hide(); }
    } hide{progress};
    TLuxIO* io = view->GetIO();
    const bool taken = ahead && ahead->TakeInto(Path, io, io->OnProgress);
    ahead.reset();   // a decode not taken stops before the file is read again
    if (!taken) LoadIntoView(Path, opened);
    if (Zoomtofit->isChecked()) {
        const TBitmap* b = view->GetBitmap();
        if (b->Width() > view->Width() || b->Height() > view->Height()) {
            ApplyZoomToFit();
        } else {
            view->AutoFit = false;
            view->SetZoom(100);
        }
    }
    PhotoPath = Path;
    PhotoState = opened;
    StatusBar->SetPanelText(0, Path);
    FormResize(this);
    SpeedButton2->setEnabled(true);
    firstPaint_ = true;
    TestLog("photo " + Path + " zoom " + ZoomText(view->Zoom()) + " (" + std::to_string(view->Zoom()) + ")");
}

void TForm1::IOProgress(TObject*, int Percent) {
    if (Percent % 5 != 0) return;
    progress->setValue(Percent);
    // The load runs inside one handler, so the bar shows only what is painted now; a repaint
    // at most every 40 ms looks as smooth and keeps the load fast.
    const auto now = std::chrono::steady_clock::now();
    if (now - progressPainted_ < std::chrono::milliseconds(40)) return;
    progressPainted_ = now;
    progress->repaint();
}

void TForm1::sliderzoomChanged(TObject*) {
    view->AutoFit = false;
    view->SetScrollBars(ssBoth);
    view->SetZoom(SliderToZoom(sliderzoom->Value()));
    Zoomtofit->setChecked(false);
    ::SetCaption(Labelzoom, ZoomText(view->Zoom()));
    TestLog("zoom " + ZoomText(view->Zoom()));
}

void TForm1::FormResize(TObject*) {
    sliderzoom->OnChange = {};
    // Unchanged, the thumb stays where the user drags it.
    if (const int v = ZoomToSlider(view->Zoom()); v != sliderzoom->Value()) sliderzoom->SetValue(v);
    sliderzoom->OnChange = MakeMethod(this, &TForm1::sliderzoomChanged);
    ::SetCaption(Labelzoom, ZoomText(view->Zoom()));
    TestLog("zoom display " + Labelzoom->text().toStdString() + " slider " + std::to_string(sliderzoom->Value()));
}

// Whatever zoomed the view (the wheel, a click, a refit), the zoom display follows.
void TForm1::ViewChange(TObject*, int Change) {
    if (Change == 1) FormResize(this);
}

void TForm1::ApplyZoomToFit() {
    if (!Zoomtofit->isChecked()) {
        sliderzoomChanged(this);
        return;
    }
    view->SetScrollBars(ssNone);
    view->AutoFit = true;
    view->Update();
    FormResize(this);
    TestLog("fit zoom " + ZoomText(view->Zoom()));
}

void TForm1::ZoomtofitClick() { ApplyZoomToFit(); }

void TForm1::SpeedButton12Click() {
    sliderzoom->SetValue(100);
    sliderzoomChanged(this);
}

void TForm1::Rotateleft1Click() {
    view->GetProc()->Rotate(90, false);
    FormResize(this);
    TestLog("rotated zoom " + ZoomText(view->Zoom()));
}

void TForm1::Rotateright1Click() {
    view->GetProc()->Rotate(-90, false);
    FormResize(this);
    TestLog("rotated zoom " + ZoomText(view->Zoom()));
}

void TForm1::StatusBarResize(TObject*) {
    StatusBar->SetPanelWidth(0, std::max(StatusBar->ClientWidth() - StatusBar->PanelWidth(1) - 50, 0));
    progress->move(StatusBar->PanelWidth(0) + 3, progress->y());
}

void TForm1::About1Click() {
    ShowMessage(Translate("viewer.title", "Glimmerdeck Viewer") + " 1.0\r\n" +
                "A photo viewer of the Glimmerdeck album programs.\r\n" + "Vantorel Glimmerdeck");
}

std::string TForm1::MainProgramPath(bool* Found) const {
    const std::string folder = IncludeTrailingPathDelimiter(programFolder_);
    const char* const names[] = {"glimmerdeck2", "glimmerdeck2.exe"};
    for (const char* n : names) {
        const std::string p = folder + n;
        std::error_code ec;
        if (std::filesystem::is_regular_file(p, ec) && ::access(p.c_str(), X_OK) == 0) {
            if (Found) *Found = true;
            return p;
        }
    }
    if (Found) *Found = false;
    return folder + names[0];
}

void TForm1::StartGlimmerdeck1Click() {
    bool found = false;
    const std::string path = MainProgramPath(&found);
    if (!found) {
        MessageDlg("Glimmerdeck not found! (" + path + ")", mtError, MsgDlgButtons({mbOK}), 0);
        return;
    }
    if (!QProcess::startDetached(QString::fromStdString(path), {})) {
        MessageDlg("Glimmerdeck could not be started! (" + path + ")", mtError, MsgDlgButtons({mbOK}), 0);
        return;
    }
    TestLog("started " + path);
    Close();
}

void TForm1::Exit1Click() { Close(); }

void TForm1::AddtoAlbum1Click() { AddPhotoToAlbum(Albums, shortcut, PhotoPath, &PhotoState); }

void TForm1::KeyDown(uint16_t& Key, TShiftState Shift) {
    escapeDown_ = Key == VK_ESCAPE;
    TForm::KeyDown(Key, Shift);
}

void TForm1::KeyUp(uint16_t& Key, TShiftState Shift) {
    TForm::KeyUp(Key, Shift);
    if (Key == VK_ESCAPE && escapeDown_) {
        escapeDown_ = false;
        TestLog("escape");
        Close();
    }
}
