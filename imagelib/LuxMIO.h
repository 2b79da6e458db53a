// The multi-image I/O component: one per-image parameter object for every entry of the
// attached thumbnail view, in the same order, kept in step through the view's change
// callbacks (entry i reads page or frame i of a multi-image file).
#pragma once

#include <memory>
#include <vector>

#include "Classes.h"
#include "Graphics.h"
#include "LuxIO.h"
#include "lxdefs.h"

class TLuxMView;
class TLXView;
class TLXTWainParams;

class TLuxMIO : public TComponent {
public:
    explicit TLuxMIO(TComponent* AOwner);
    ~TLuxMIO() override;

    TLuxMView* AttachedMView() const { return view_; }
    // The parameter list is not rebuilt on attach.
    void SetAttachedMView(TLuxMView* View);

    int ParamsCount() const { return int(params_.size()); }
    // Null for an index outside the list.
    TLXIOParams* Params(int Index) const;
    TLXTWainParams* TwainParams() const { return twain_.get(); }

    // A new parameter object at Index (appended at or past the end), copied from its
    // neighbour; indexes are renumbered. A negative index is ignored.
    void InsertParams(int Index);
    // Frees the object at Index; an index outside the list is ignored.
    void DeleteParams(int Index);

    // The change callback registered with the view.
    void ViewChanged(TLXView* View, uint8_t Flag);

    TLXProgressEvent OnProgress;
    TMsgLanguage MsgLanguage = msSystem;
    TLXIOPreviewsParams PreviewsParams = 0;
    TFont* PreviewFont() const { return previewFont_.get(); }
    void SetPreviewFont(TFont* Font);

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    void Detach();
    void Renumber();
    TLuxMView* view_ = nullptr;
    std::vector<std::unique_ptr<TLXIOParams>> params_;
    std::unique_ptr<TLXTWainParams> twain_;
    std::unique_ptr<TFont> previewFont_;
};
