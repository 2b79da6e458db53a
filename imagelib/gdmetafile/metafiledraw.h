// The drawing of a metafile page, as the helper program gdmetafile runs it: a converter to
// SVG (libwmf for WMF, libemf2svg for EMF), a check of the pictures the SVG embeds, and
// librsvg over cairo. Nothing here limits itself: the helper runs it under its limits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class TLXMetafileKind { None, Wmf, Emf };

struct TLXMetafileHeader {
    TLXMetafileKind Kind = TLXMetafileKind::None;
    // Size in pixels at the resolution asked for; 0 when the file gives none (a WMF without
    // the placeable header, an empty frame, zero units per inch).
    int64_t Width = 0, Height = 0;
    // The page in the converter's coordinates: WMF in points from the window origin, EMF in
    // the SVG units of libemf2svg (device units from the bounds' top-left).
    double PageLeft = 0, PageTop = 0, PageRight = 0, PageBottom = 0;
};

// The pictures embedded in an SVG may hold this many pixels together: each is decoded and
// then copied into a drawing surface, and all of them must fit the helper's memory.
constexpr int64_t MetafileEmbeddedPixels = int64_t(1) << 26;

// True when every picture the SVG embeds decodes whole the way librsvg loads it, within
// MetafileEmbeddedPixels together and cairo's 32767 pixels a side. librsvg leaves out a
// picture it cannot load and draws the rest, so a page without it would read as drawn.
// A picture that is not embedded (a link to a file) is refused too.
bool MetafilePicturesDecode(const std::string& Svg);

// Draws the page into Pixels, a zeroed ARGB32 block of Width x Height with Stride bytes a
// row; the page fills PageWidth x PageHeight pixels and is cut at the block's edges. False
// when no converter reads the file, a picture in it cannot be drawn or the renderer fails.
bool DrawMetafilePage(const uint8_t* Data, size_t Size, const TLXMetafileHeader& Header, uint8_t* Pixels,
                      int Width, int Height, int Stride, int PageWidth, int PageHeight);
