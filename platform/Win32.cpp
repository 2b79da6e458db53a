#include "Win32.h"

#include <QGuiApplication>
#include <QScreen>

#include <chrono>
#include <cmath>
#include <atomic>
#include <mutex>

BOOL BitBlt(TCanvas* Dest, int X, int Y, int W, int H, TCanvas* Src, int XSrc, int YSrc, DWORD Rop) {
    return StretchBlt(Dest, X, Y, W, H, Src, XSrc, YSrc, W, H, Rop);
}

BOOL StretchBlt(TCanvas* Dest, int X, int Y, int W, int H, TCanvas* Src, int XSrc, int YSrc, int WSrc, int HSrc,
                DWORD Rop) {
    if (!Dest || !Dest->Target()) return 0;
    TDibView view;
    if (Src && Src->Target()) view = Src->Target()->View();
    return Dest->BlockTransfer(X, Y, W, H, view, XSrc, YSrc, WSrc, HSrc, Rop) ? 1 : 0;
}

namespace {

// The view of a DIB described by a header; false for layouts we do not draw.
bool DibViewOf(const BITMAPINFOHEADER* Info, const void* Bits, TDibView& v) {
    if (!Info || !Bits || Info->biSize < sizeof(BITMAPINFOHEADER) || Info->biCompression != BI_RGB) return false;
    if (Info->biBitCount != 1 && Info->biBitCount != 24) return false;
    if (Info->biWidth <= 0 || Info->biHeight == 0 || Info->biHeight == INT32_MIN) return false;
    try {
        v.RowBytes = DibRowBytes(Info->biWidth, Info->biBitCount);
    } catch (const EIntOverflow&) {
        return false;
    }
    v.Bits = static_cast<const uint8_t*>(Bits);
    v.Width = Info->biWidth;
    v.Height = Info->biHeight < 0 ? -Info->biHeight : Info->biHeight;
    v.TopDown = Info->biHeight < 0;
    v.Format = Info->biBitCount == 1 ? pf1bit : pf24bit;
    return true;
}

}  // namespace

BOOL DrawDibDraw(TCanvas* Dest, int XDst, int YDst, int DXDst, int DYDst, const BITMAPINFOHEADER* Info,
                 const void* Bits, int XSrc, int YSrc, int DXSrc, int DYSrc) {
    TDibView v;
    if (!Dest || !DibViewOf(Info, Bits, v)) return 0;
    if (DXSrc == -1) DXSrc = v.Width - XSrc;
    if (DYSrc == -1) DYSrc = v.Height - YSrc;
    if (DXDst == -1) DXDst = DXSrc;
    if (DYDst == -1) DYDst = DYSrc;
    return Dest->BlockTransfer(XDst, YDst, DXDst, DYDst, v, XSrc, YSrc, DXSrc, DYSrc, SRCCOPY) ? 1 : 0;
}

int StretchDIBits(TCanvas* Dest, int XDst, int YDst, int DXDst, int DYDst, int XSrc, int YSrc, int DXSrc, int DYSrc,
                  const void* Bits, const BITMAPINFOHEADER* Info, DWORD Rop) {
    TDibView v;
    if (!Dest || !DibViewOf(Info, Bits, v)) return 0;
    // The source y counts from the bottom row of a bottom-up DIB: its rectangle's top is
    // Height - YSrc - DYSrc counted from the top.
    int64_t top = v.TopDown ? int64_t(YSrc) : int64_t(v.Height) - YSrc - DYSrc;
    if (top < INT32_MIN || top > INT32_MAX) return 0;
    if (!Dest->BlockTransfer(XDst, YDst, DXDst, DYDst, v, XSrc, int(top), DXSrc, DYSrc, Rop)) return 0;
    return DYSrc < 0 ? -DYSrc : DYSrc;
}

namespace {

std::mutex g_tickMutex;
std::function<DWORD()> g_tickSource;
std::atomic<int> g_dpi{0};
// The screen's, read once (the decode-ahead worker must not ask the screen itself).
std::atomic<int> g_screenDpi{0};

}  // namespace

DWORD GetTickCount() {
    std::function<DWORD()> source;
    {
        std::lock_guard<std::mutex> lock(g_tickMutex);
        source = g_tickSource;
    }
    if (source) return source();
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return DWORD(uint64_t(ms.count()));
}

void SetTickCountSource(std::function<DWORD()> source) {
    std::lock_guard<std::mutex> lock(g_tickMutex);
    g_tickSource = std::move(source);
}

namespace {
thread_local TScreenDpiStandIn* t_dpiStandIn = nullptr;
}

TScreenDpiStandIn::TScreenDpiStandIn(int Dpi) : dpi_(Dpi), outer_(t_dpiStandIn) { t_dpiStandIn = this; }
TScreenDpiStandIn::~TScreenDpiStandIn() { t_dpiStandIn = outer_; }

int ScreenPixelsPerInch() {
    if (const int d = g_dpi.load()) return d;
    if (const int d = g_screenDpi.load()) return d;
    if (TScreenDpiStandIn* s = t_dpiStandIn) {
        s->asked_ = true;
        return s->dpi_;
    }
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        int d = 96;
        if (QScreen* s = QGuiApplication::primaryScreen()) {
            const int v = int(std::lround(s->logicalDotsPerInchX()));
            if (v > 0) d = v;
        }
        g_screenDpi = d;
        return d;
    }
    return 96;
}

void SetScreenPixelsPerInch(int dpi) { g_dpi = dpi > 0 ? dpi : 0; }
