// The class library's rules for Qt's standard controls, as small helpers (see "the one way
// to build a window" in Forms.h): named creation at stored bounds, captions with the "&"
// accelerator rule, click events, item lists from texts, modal results, default and cancel
// buttons, menus and button glyphs.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Forms.h"

class QAbstractButton;
class QAction;
class QComboBox;
class QIcon;
class QImage;
class QLabel;
class QListWidget;
class QMenu;
class QMenuBar;
class QObject;
class QSpinBox;
class QWidget;

// Dynamic properties the helpers leave on buttons; the form reads them for Enter and Escape.
inline constexpr const char* kDefaultMark = "gdDefault";
inline constexpr const char* kCancelMark = "gdCancel";

// Places a widget at its stored bounds, widened (never narrowed) to what its text needs at
// the desktop font; a width or height of 0 takes the size hint. The stored bounds are kept:
// a later caption or item list (SetCaption, SetItemsText) and showing the form fit the
// control again, so a translated or longer text is not cut. A text never makes a control
// larger than the screen's work area: what does not fit there is cut.
void PlaceControl(QWidget* W, int Left, int Top, int Width = 0, int Height = 0);
// Places a widget at exactly these bounds and keeps them: later captions and showing the
// form leave it alone (a control that is part of a drawn layout, such as the colour
// palette's row); a text that does not fit is cut.
void SetFixedBounds(QWidget* W, int Left, int Top, int Width, int Height);
// The class library's AutoSize of a label (on unless set off). A word-wrapping label keeps
// its stored width and wraps its text inside it: with AutoSize its height grows to the
// wrapped text, without it the label keeps its bounds and cuts at its bottom what does not
// fit. A label without AutoSize and without word wrap also keeps its bounds.
void SetAutoSize(QLabel* Label, bool AutoSize);
// Fits a placed control to its stored bounds and its current text (nothing for others).
void FitControl(QWidget* W);
// Fits every placed control inside Top.
void FitControls(QWidget* Top);

// Names, places and shows a new widget.
void SetUpControl(QWidget* W, const std::string& Name, int Left, int Top, int Width, int Height);

// A Qt widget on a parent's client area, named, placed, shown.
template <class W>
W* NewControl(QWidget* Parent, const std::string& Name, int Left, int Top, int Width = 0, int Height = 0) {
    W* w = new W(Parent);
    SetUpControl(w, Name, Left, Top, Width, Height);
    return w;
}
template <class W>
W* NewControl(TWinControl* Parent, const std::string& Name, int Left, int Top, int Width = 0, int Height = 0) {
    return NewControl<W>(Parent->ClientWidget(), Name, Left, Top, Width, Height);
}

// ---- Captions ----

// The class library's caption rule: "&x" marks x as the accelerator key, "&&" is a plain "&".
// The text without the marks ("&&" kept as one "&").
std::string StripAccelChars(const std::string& Caption);
// The accelerator character of a caption (upper case), 0 when none.
char AccelChar(const std::string& Caption);
// Sets the caption of a button, check box, label, group box, action, menu or window. Buttons,
// group boxes, actions and menus show the accelerator as Qt does; labels show the text
// without the marks; window titles show the text as it is. Caption returns what was set.
void SetCaption(QObject* Target, const std::string& Caption);
std::string Caption(const QObject* Target);

// Texts split at line breaks (CR LF, LF or CR), as the class library's Text property.
std::vector<std::string> SplitLines(const std::string& Text);

// ---- Events ----

// The class library's OnClick: buttons and actions on a user click; check boxes also when
// the program changes their check state, and radio buttons when they become checked.
// Replaces an earlier handler. A button with a modal result sets its form's ModalResult
// before the handler runs.
void OnClick(QObject* Target, std::function<void()> Handler);

// ---- Item lists ----

// Replaces the items by the lines of Text; the selection is cleared (index -1).
void SetItemsText(QComboBox* Box, const std::string& Text);
void SetItemsText(QListWidget* List, const std::string& Text);
// The items as text, each line ended with a line break.
std::string ItemsText(const QComboBox* Box);
std::string ItemsText(const QListWidget* List);

// A list box as the class library's: one item chosen at a time, and the chosen item stays
// chosen until the user picks another one (a click into the empty space below the items,
// Ctrl+click and Ctrl+Space take nothing away; Qt's own list allows all three). The program
// may still clear it. Named, placed and shown as NewControl does.
QListWidget* NewListBox(TWinControl* Parent, const std::string& Name, int Left, int Top, int Width, int Height);

// ---- Spin edits ----

// The class library's spin edit over QSpinBox: what the user edits stays within MinValue ..
// MaxValue, while a value the program sets outside them is shown and kept as it is until the
// user changes the field (then it is clamped into the range).
void SetSpinRange(QSpinBox* Box, int MinValue, int MaxValue);
void SetSpinValue(QSpinBox* Box, int Value);

// ---- Dialog buttons ----

// A click sets the form's ModalResult (mrNone: nothing).
void SetModalResult(QAbstractButton* Button, TModalResult Result);
TModalResult ButtonModalResult(const QAbstractButton* Button);
// Enter anywhere on the form presses the default button, Escape the cancel button.
void SetDefault(QAbstractButton* Button, bool Default);
void SetCancel(QAbstractButton* Button, bool Cancel);

// ---- Menus ----

// A sub-menu of a menu bar (or of a menu), named, with its caption.
QMenu* NewMenu(QMenuBar* Bar, const std::string& Name, const std::string& Caption);
QMenu* NewMenu(QMenu* Parent, const std::string& Name, const std::string& Caption);
// A command of a menu, named, with caption and shortcut text ("F3", "Ctrl+P"; "" for none).
QAction* NewAction(QMenu* Menu, const std::string& Name, const std::string& Caption,
                   const std::string& ShortCut = "");
// A separator line ("-" in the class library), named.
QAction* NewSeparator(QMenu* Menu, const std::string& Name);

// ---- Pictures ----

// A bitmap as a Qt image (pf1bit, pf24bit or pf32bit; null image for others).
QImage ImageOfBitmap(const TBitmap* Bitmap);
// A speed button's glyph: NumGlyphs images side by side (up, disabled, clicked, down); the
// colour of the bottom-left pixel is transparent, as the class library's glyphs have it.
// Without a disabled image Qt's greyed version is used.
QIcon GlyphIcon(const TBitmap* Glyph, int NumGlyphs);
