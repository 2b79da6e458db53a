// The body of the readers' fuzz targets: the input goes through the codec table's entries of
// the given file types as the I/O component calls them (parameters only, then whole without
// and with a mask), with the image index, JPEG scale and data length taken from its last byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "Classes.h"
#include "Graphics.h"
#include "LuxIOCodec.h"
#include "lxdefs.h"

inline int FuzzCodecs(std::initializer_list<int> FileTypes, const uint8_t* data, size_t size) {
    TMemoryStream s;
    if (size) s.Write(data, int64_t(size));
    const uint8_t knob = size ? data[size - 1] : 0;
    for (int type : FileTypes) {
        const TLXCodec* codec = FindCodec(type);
        if (!codec || !codec->Decode) __builtin_trap();
        TBitmap bitmap;
        TLXMask mask;
        TLXIOParams params(nullptr);
        params.TiffImageIndex = params.GifImageIndex = params.IcoImageIndex = params.CurImageIndex = knob % 3;
        params.JpegScale = uint8_t(knob % 5);
        for (int pass = 0; pass < 3; ++pass) {
            bool abort = false;
            TProgressRec rec;
            rec.Aborting = &abort;
            params.Width = params.Height = 16;   // the wanted size of an automatic JPEG scale
            TLXCodecCall call;
            call.Stream = &s;
            call.Bitmap = &bitmap;
            call.Params = &params;
            call.Progress = &rec;
            call.ParamsOnly = pass == 0;
            call.Mask = pass == 2 && (codec->Flags & lxcoFillsMask) ? &mask : nullptr;
            call.Length = pass == 2 ? int64_t(knob) * 16 : 0;
            s.SetPosition(0);
            codec->Decode(call);
        }
    }
    return 0;
}
