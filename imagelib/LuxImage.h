// The all-in-one image component: an image view that owns its processing and I/O components,
// both attached to itself, and republishes their main settings.
#pragma once

#include <string>

#include "LuxIO.h"
#include "LuxProc.h"
#include "LuxView.h"

class TLuxImage : public TLuxView {
public:
    explicit TLuxImage(TComponent* AOwner);
    ~TLuxImage() override;

    TLuxProc* Proc() const { return proc_; }
    TLuxIO* IO() const { return io_; }
    TLXIOParams* Params() const { return io_->Params(); }

    // Settings of the owned components: read from the processing component where both have
    // one, written to both.
    bool AutoUndo() const { return proc_->AutoUndo; }
    void SetAutoUndo(bool Value) { proc_->AutoUndo = Value; }
    TLXProgressEvent OnProgress() const { return proc_->OnProgress; }
    void SetOnProgress(const TLXProgressEvent& Value);
    TMsgLanguage MsgLanguage() const { return proc_->MsgLanguage; }
    void SetMsgLanguage(TMsgLanguage Value);
    TPRPreviewsParams ProcPreviewsParams() const { return proc_->PreviewsParams; }
    void SetProcPreviewsParams(TPRPreviewsParams Value) { proc_->PreviewsParams = Value; }
    TLXIOPreviewsParams IOPreviewsParams() const { return io_->PreviewsParams; }
    void SetIOPreviewsParams(TLXIOPreviewsParams Value) { io_->PreviewsParams = Value; }
    TFont* PreviewFont() const { return io_->PreviewFont(); }
    void SetPreviewFont(TFont* Value);
    bool StreamHeaders() const { return io_->StreamHeaders; }
    void SetStreamHeaders(bool Value) { io_->StreamHeaders = Value; }
    TLXPreviewEvent OnPreview() const { return proc_->OnPreview; }
    void SetOnPreview(const TLXPreviewEvent& Value) { proc_->OnPreview = Value; }
    TLXIOPreviewEvent OnIOPreview() const { return io_->OnIOPreview; }
    void SetOnIOPreview(const TLXIOPreviewEvent& Value) { io_->OnIOPreview = Value; }
    TLXDialogsMeasureUnit DialogsMeasureUnit() const { return io_->DialogsMeasureUnit; }
    void SetDialogsMeasureUnit(TLXDialogsMeasureUnit Value) { io_->DialogsMeasureUnit = Value; }

    // Fills the picture with Background (undo first when AutoUndo).
    void Clear();
    // Decodes from the stream's current position, format detected from the data.
    void LoadFromStream(TStream* Stream);

    virtual void LoadFromFile(const std::string& FileName);
    virtual void SaveToFile(const std::string& FileName);
    virtual void ParamsFromFile(const std::string& FileName);
    virtual void ParamsFromStream(TStream* Stream);
    virtual void ParamsFromFileFormat(const std::string& FileName, int Format);
    virtual void ParamsFromStreamFormat(TStream* Stream, int Format);

    // From a TLuxImage or a TLuxIO the I/O parameters, then the picture as a view copies it.
    void Assign(TPersistent* Source) override;

private:
    TLuxProc* proc_ = nullptr;   // owned through the component tree and freed first
    TLuxIO* io_ = nullptr;
};
