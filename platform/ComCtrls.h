// The class library's status bar: a bottom-aligned strip of panels of given widths, each
// drawn by Qt as a sunken frame with its text; the last panel takes the rest of the width.
// Other widgets (a progress bar) may be placed on its client widget at fixed positions.
#pragma once

#include <string>
#include <vector>

#include "Controls.h"

class QLabel;

class TStatusBar : public TWinControl {
public:
    explicit TStatusBar(TComponent* AOwner);
    ~TStatusBar() override;

    int PanelCount() const { return int(panels_.size()); }
    void SetPanelCount(int Count);
    int PanelWidth(int Index) const;
    void SetPanelWidth(int Index, int Width);
    std::string PanelText(int Index) const;
    void SetPanelText(int Index, const std::string& Text);
    // The panel's rectangle in client coordinates (the last one reaches the right edge).
    TRect PanelRect(int Index) const;

protected:
    void WMSize() override;

private:
    struct Panel {
        QLabel* label = nullptr;
        int width = 50;
    };
    void LayoutPanels();
    std::vector<Panel> panels_;
};
