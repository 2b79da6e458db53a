// The status bar: QLabels in sunken frames on the control's client widget.
#include "ComCtrls.h"

#include <QFrame>
#include <QLabel>
#include <QWidget>

#include <algorithm>

namespace {
constexpr int kGap = 2;   // between panels, as the native status bar leaves it
}

TStatusBar::TStatusBar(TComponent* AOwner) : TWinControl(AOwner) {
    SetBounds(0, 0, 200, std::max(19, QLabel("Ag").sizeHint().height() + 4));
    SetAlign(alBottom);
}

TStatusBar::~TStatusBar() = default;

void TStatusBar::SetPanelCount(int Count) {
    Count = std::max(Count, 0);
    while (int(panels_.size()) > Count) {
        delete panels_.back().label;
        panels_.pop_back();
    }
    while (int(panels_.size()) < Count) {
        Panel p;
        p.label = new QLabel(ClientWidget());
        p.label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        p.label->setTextFormat(Qt::PlainText);
        p.label->setIndent(2);
        p.label->lower();   // widgets placed on the bar stay in front of the panels
        p.label->show();
        panels_.push_back(p);
    }
    LayoutPanels();
}

int TStatusBar::PanelWidth(int Index) const {
    return Index >= 0 && Index < PanelCount() ? panels_[size_t(Index)].width : 0;
}

void TStatusBar::SetPanelWidth(int Index, int Width) {
    if (Index < 0 || Index >= PanelCount()) return;
    panels_[size_t(Index)].width = Width;
    LayoutPanels();
}

std::string TStatusBar::PanelText(int Index) const {
    return Index >= 0 && Index < PanelCount() ? panels_[size_t(Index)].label->text().toStdString() : "";
}

void TStatusBar::SetPanelText(int Index, const std::string& Text) {
    if (Index >= 0 && Index < PanelCount()) panels_[size_t(Index)].label->setText(QString::fromStdString(Text));
}

TRect TStatusBar::PanelRect(int Index) const {
    if (Index < 0 || Index >= PanelCount()) return {};
    int x = 0;
    for (int i = 0; i < Index; ++i) x += std::max(panels_[size_t(i)].width, 0) + kGap;
    const int right = Index == PanelCount() - 1 ? ClientWidth() : x + std::max(panels_[size_t(Index)].width, 0);
    return {x, kGap, std::max(right, x), std::max(ClientHeight(), kGap)};
}

void TStatusBar::LayoutPanels() {
    for (int i = 0; i < PanelCount(); ++i) {
        const TRect r = PanelRect(i);
        panels_[size_t(i)].label->setGeometry(r.Left, r.Top, r.Width(), r.Height());
    }
}

void TStatusBar::WMSize() {
    LayoutPanels();
    TWinControl::WMSize();
}
