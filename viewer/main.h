// The viewer's main window: menu, tool bar with the zoom slider, the image view and a status
// bar with the photo's path and the load progress. It opens one photo at a time, zooms,
// fits and turns it, copies it into an album and starts the main album program.
#pragma once

#include <sys/stat.h>

#include <chrono>
#include <memory>
#include <string>

#include "ExtCtrls.h"
#include "FileState.h"
#include "Forms.h"
#include "addtoalbum.h"

class QAction;
class QLabel;
class QMenu;
class QMenuBar;
class QProgressBar;
class QToolButton;
class TFormPlacement;
class TLuxView;
class TOpenDialog;
class TPhotoPrefetch;
class TShortcutLink;
class TStatusBar;
class TUxSlider;
class TUxSplitter;

// Slider position (1..200) to zoom in percent: v up to 100, then 2v - 100 (200 gives 300).
int SliderToZoom(int Value);
// Zoom to slider position: the truncated zoom t up to 100, then 100 + (t - 100) div 2; the
// slider clamps it to its range.
int ZoomToSlider(double Zoom);

// The message of a photo larger than a decoder makes a picture of (LXMaxPixels).
std::string PhotoTooLargeMessage(const std::string& Path, int64_t Width, int64_t Height);

// The open dialog's filter.
extern const char* const kPhotoFilter;

class TForm1 : public TForm {
public:
    // ProgramFolder: where the main album program is looked for (the viewer's own folder).
    TForm1(TComponent* AOwner, const std::string& ProgramFolder);
    ~TForm1() override;

    TUxSplitter* UxSplitter1;
    TPanel* Panel2;
    QToolButton* SpeedButton4;
    QToolButton* SpeedButton2;
    QToolButton* SpeedButton1;
    QToolButton* SpeedButton5;
    QToolButton* SpeedButton6;
    TPanel* Panel1;
    QLabel* Label1;
    TUxSlider* sliderzoom;
    QLabel* Labelzoom;
    QToolButton* SpeedButton12;
    TLuxView* view;
    QProgressBar* progress;
    TStatusBar* StatusBar;
    QMenuBar* MainMenu1;
    QMenu* File1;
    QAction* Open1;
    QAction* AddtoAlbum1;
    QAction* N1;
    QAction* StartGlimmerdeck1;
    QAction* Exit1;
    QMenu* View1;
    QAction* Rotateleft1;
    QAction* Rotateright1;
    QAction* N2;
    QAction* Zoomtofit;
    QMenu* Help1;
    QAction* About1;
    TOpenDialog* Open;
    TFormPlacement* FormPlacement1;
    TShortcutLink* shortcut;

    // The photo shown; empty until one is loaded. Its file as it was loaded: Add to Album
    // copies only that very file, unchanged.
    std::string PhotoPath;
    TFileState PhotoState;
    // The command-line photo decoded ahead: the first LoadPhoto takes it when it fits, then
    // it is gone either way.
    std::unique_ptr<TPhotoPrefetch> Prefetch;
    TAlbumList Albums;

    // Loads a photo into the view and fits it (fit mode) or keeps the zoom. Raises "Cannot
    // read the photo" when it is no regular file, cannot be read whole or changed while it
    // was read, and says so when it is too large; the view, its zoom, the path shown and
    // PhotoPath then stay as they were.
    void LoadPhoto(const std::string& Path);
    void TranslateForm();
    void ApplyZoomToFit();
    // The zoom label and the slider after the view's zoom, without zooming again.
    void FormResize(TObject* Sender);
    void IOProgress(TObject* Sender, int Percent);
    void OpenCommandLinePhoto(TObject* Sender, bool& Done);

    void Open1Click();
    void AddtoAlbum1Click();
    void StartGlimmerdeck1Click();
    void Exit1Click();
    void Rotateleft1Click();
    void Rotateright1Click();
    // Zoomtofit's check mark has been toggled by the time this runs (menu or F9).
    void ZoomtofitClick();
    void About1Click();
    void SpeedButton12Click();
    void sliderzoomChanged(TObject* Sender);
    void StatusBarResize(TObject* Sender);

    // Where the main album program would be: the first executable of the names in the
    // program folder, else the first name's path.
    std::string MainProgramPath(bool* Found = nullptr) const;

protected:
    void KeyDown(uint16_t& Key, TShiftState Shift) override;
    void KeyUp(uint16_t& Key, TShiftState Shift) override;

private:
    void FormCreate();
    void FormDestroy(TObject* Sender);
    void ViewPaint(TObject* Sender);
    void ViewChange(TObject* Sender, int Change);
    // The photo into the view, only when it was read whole from the file that was opened.
    // Raises (view unchanged) when it cannot be read whole or the file changed meanwhile.
    void LoadIntoView(const std::string& Path, const TFileState& Opened);
    void ArrangeToolBar();
    std::string programFolder_;
    // Escape closes the window on its release, only when this window saw it pressed (the
    // release of an Escape that closed a dialog must not close the viewer too).
    bool escapeDown_ = false;
    bool firstPaint_ = false;
    std::chrono::steady_clock::time_point progressPainted_;   // a photo was loaded and not painted yet (for the test log)
};
