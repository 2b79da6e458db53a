#include "UxViewerUtils.h"

#include <sys/stat.h>

#include <algorithm>

#include "Win32.h"

int RectExtentX(const TRect& R) { return R.Right - R.Left; }
int RectExtentY(const TRect& R) { return R.Bottom - R.Top; }

bool PointInsideRect(TPoint P, const TRect& R) {
    return P.X >= R.Left && P.X <= R.Right && P.Y >= R.Top && P.Y <= R.Bottom;
}

TColor PaletteRelativeColor(TColor C) { return TColor(uint32_t(ColorToRGB(C)) | 0x02000000u); }

int NthWordStart(int N, const std::string& Text, const std::string& Delimiters) {
    auto delim = [&](char c) { return Delimiters.find(c) != std::string::npos; };
    int count = 0;
    size_t i = 0;
    while (i < Text.size()) {
        while (i < Text.size() && delim(Text[i])) ++i;
        if (i >= Text.size()) break;
        if (++count == N) return int(i) + 1;
        while (i < Text.size() && !delim(Text[i])) ++i;
    }
    return 0;
}

std::string NthWord(int N, const std::string& Text, const std::string& Delimiters) {
    const int start = NthWordStart(N, Text, Delimiters);
    if (start == 0) return "";
    size_t end = size_t(start) - 1;
    while (end < Text.size() && Delimiters.find(Text[end]) == std::string::npos) ++end;
    return Text.substr(size_t(start) - 1, end - (size_t(start) - 1));
}

int IntMin(int A, int B) { return A < B ? A : B; }

bool FolderExists(const std::string& Path) {
    struct stat st {};
    return !Path.empty() && ::stat(Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void DrawMaskedStretch(TCanvas* Dest, int X, int Y, int W, int H, TCanvas* Src, int XSrc, int YSrc, int WSrc,
                       int HSrc, TColor Transparent) {
    if (!Dest || !Dest->Target() || !Src || !Src->Target() || W <= 0 || H <= 0 || WSrc <= 0 || HSrc <= 0) return;
    Src->Flush();
    Dest->Flush();
    // The source rectangle, and its mask: set (white) where the pixel has the transparent
    // colour, as a copy onto a monochrome bitmap with that background colour makes it.
    TBitmap copy;
    copy.SetPixelFormat(pf24bit);
    copy.SetSize(WSrc, HSrc);
    BitBlt(copy.Canvas(), 0, 0, WSrc, HSrc, Src, XSrc, YSrc, SRCCOPY);
    copy.FlushCanvas();
    const TColor key = ColorToRGB(Transparent);
    TBitmap mask, inverse;
    for (TBitmap* m : {&mask, &inverse}) {
        m->SetPixelFormat(pf1bit);
        m->SetSize(WSrc, HSrc);
    }
    for (int y = 0; y < HSrc; ++y) {
        const uint8_t* s = copy.ScanLine(y);
        uint8_t* m = mask.ScanLine(y);
        uint8_t* inv = inverse.ScanLine(y);
        for (int x = 0; x < WSrc; ++x) {
            const TColor c = RGBColor(s[3 * x + 2], s[3 * x + 1], s[3 * x]);
            const uint8_t bit = uint8_t(0x80 >> (x & 7));
            if (c == key) m[x >> 3] |= bit;
            else inv[x >> 3] |= bit;
        }
    }
    // Work on a copy of the destination: opaque source pixels become black there, transparent
    // ones black in the source, then the two are ORed together.
    TBitmap work;
    work.SetPixelFormat(pf24bit);
    work.SetSize(W, H);
    BitBlt(work.Canvas(), 0, 0, W, H, Dest, X, Y, SRCCOPY);
    StretchBlt(work.Canvas(), 0, 0, W, H, mask.Canvas(), 0, 0, WSrc, HSrc, SRCAND);
    BitBlt(copy.Canvas(), 0, 0, WSrc, HSrc, inverse.Canvas(), 0, 0, SRCAND);
    StretchBlt(work.Canvas(), 0, 0, W, H, copy.Canvas(), 0, 0, WSrc, HSrc, SRCPAINT);
    BitBlt(Dest, X, Y, W, H, work.Canvas(), 0, 0, SRCCOPY);
}

void DrawBitmapMasked(TCanvas* Dest, TBitmap* Bitmap, int X, int Y, int W, int H, int XSrc, int YSrc, int WSrc,
                      int HSrc, TColor Transparent) {
    if (!Dest || !Bitmap || Bitmap->Empty()) return;
    if (WSrc < 1 || HSrc < 1) {
        XSrc = 0, YSrc = 0;
        WSrc = Bitmap->Width(), HSrc = Bitmap->Height();
    }
    if (W < 1) W = WSrc;
    if (H < 1) H = HSrc;
    // The bitmap's change handler stays out of the drawing (restored also on error).
    struct Detach {
        TBitmap* b;
        TNotifyEvent saved;
        ~Detach() { b->OnChange = saved; }
    } detach{Bitmap, Bitmap->OnChange};
    Bitmap->OnChange.Clear();
    if (Transparent == clNone) {
        Dest->BlockTransfer(X, Y, W, H, Bitmap->View(), XSrc, YSrc, WSrc, HSrc, Dest->CopyMode);
        return;
    }
    TColor key;
    if (Bitmap->PixelFormat() == pf1bit) key = clWhite;
    else if (Transparent == clDefault) key = Bitmap->Canvas()->Pixel(0, Bitmap->Height() - 1);
    else key = ColorToRGB(Transparent);
    DrawMaskedStretch(Dest, X, Y, W, H, Bitmap->Canvas(), XSrc, YSrc, WSrc, HSrc, key);
}

void DrawBitmapPartMasked(TCanvas* Dest, int X, int Y, const TRect& Source, TBitmap* Bitmap, TColor Transparent) {
    DrawBitmapMasked(Dest, Bitmap, X, Y, RectExtentX(Source), RectExtentY(Source), Source.Left, Source.Top,
                     RectExtentX(Source), RectExtentY(Source), Transparent);
}

void DrawWholeBitmapMasked(TCanvas* Dest, int X, int Y, TBitmap* Bitmap, TColor Transparent) {
    if (!Bitmap) return;
    DrawBitmapMasked(Dest, Bitmap, X, Y, Bitmap->Width(), Bitmap->Height(), 0, 0, Bitmap->Width(),
                     Bitmap->Height(), Transparent);
}
