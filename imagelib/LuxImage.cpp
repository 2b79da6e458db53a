#include "LuxImage.h"

TLuxImage::TLuxImage(TComponent* AOwner) : TLuxView(AOwner) {
    proc_ = new TLuxProc(this);
    proc_->SetAttachedView(this);
    proc_->AutoUndo = true;
    io_ = new TLuxIO(this);
    io_->SetAttachedView(this);
}

TLuxImage::~TLuxImage() {
    // Processing, then I/O, then the view; each component unregisters from the view as it goes.
    delete proc_;
    proc_ = nullptr;
    delete io_;
    io_ = nullptr;
}

void TLuxImage::SetOnProgress(const TLXProgressEvent& Value) {
    proc_->OnProgress = Value;
    io_->OnProgress = Value;
}

void TLuxImage::SetMsgLanguage(TMsgLanguage Value) {
    proc_->MsgLanguage = Value;
    io_->MsgLanguage = Value;
}

void TLuxImage::SetPreviewFont(TFont* Value) {
    proc_->SetPreviewFont(Value);
    io_->SetPreviewFont(Value);
}

void TLuxImage::Clear() { proc_->Clear(); }

void TLuxImage::LoadFromStream(TStream* Stream) { io_->LoadFromStream(Stream); }

void TLuxImage::LoadFromFile(const std::string& FileName) { io_->LoadFromFile(FileName); }
void TLuxImage::SaveToFile(const std::string& FileName) { io_->SaveToFile(FileName); }
void TLuxImage::ParamsFromFile(const std::string& FileName) { io_->ParamsFromFile(FileName); }
void TLuxImage::ParamsFromStream(TStream* Stream) { io_->ParamsFromStream(Stream); }
void TLuxImage::ParamsFromFileFormat(const std::string& FileName, int Format) {
    io_->ParamsFromFileFormat(FileName, Format);
}
void TLuxImage::ParamsFromStreamFormat(TStream* Stream, int Format) {
    io_->ParamsFromStreamFormat(Stream, Format);
}

void TLuxImage::Assign(TPersistent* Source) {
    if (auto* img = dynamic_cast<TLuxImage*>(Source)) {
        if (img != this) io_->Params()->Assign(img->Params());
    } else if (auto* io = dynamic_cast<TLuxIO*>(Source)) {
        if (io != io_) io_->Params()->Assign(io->Params());
    }
    TLuxView::Assign(Source);
}
