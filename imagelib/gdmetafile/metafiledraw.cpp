#include "metafiledraw.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

extern "C" {
#include <cairo.h>
#include <emf2svg.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <libwmf/api.h>
#include <libwmf/svg.h>
#include <librsvg/rsvg.h>
}

namespace {

constexpr size_t MaxSvgSize = size_t(64) << 20;
// A bound on the records looked at in a WMF.
constexpr int MaxScannedRecords = 100000;
// cairo's image surfaces are at most this wide and high.
constexpr int64_t MaxPictureSide = 32767;

uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void PutLE32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

// libwmf sizes its buffers by the header's counts: they are set here from the records
// themselves, and a file whose records do not lie within it is refused. Returns the
// length of the data that libwmf gets, 0 to refuse.
size_t SanitizeWmf(std::vector<uint8_t>& d) {
    constexpr size_t base = 22;   // after the placeable header
    const size_t n = d.size();
    if (n < base + 18 || Le16(d.data() + base + 2) != 9) return 0;
    size_t pos = base + 18;
    uint32_t maxWords = 3;
    for (int records = 0;; ++records) {
        if (pos + 6 > n || records > MaxScannedRecords) return 0;
        const uint32_t words = Le32(d.data() + pos);
        const uint16_t func = Le16(d.data() + pos + 4);
        if (words < 3 || words > (n - pos) / 2) return 0;
        maxWords = std::max(maxWords, words);
        pos += size_t(words) * 2;
        if (func == 0) break;   // the end record
    }
    PutLE32(d.data() + base + 6, uint32_t((pos - base) / 2));
    PutLE32(d.data() + base + 12, maxWords);
    return pos;
}

// The converters' SVG for the page, or empty.
std::string WmfToSvg(const uint8_t* Source, size_t SourceSize, const TLXMetafileHeader& Header, int PageW,
                     int PageH) {
    std::vector<uint8_t> copy(Source, Source + SourceSize);
    const size_t Size = SanitizeWmf(copy);
    if (Size == 0) return {};
    uint8_t* Data = copy.data();
    wmfAPI* api = nullptr;
    wmfAPI_Options opt{};
    opt.function = wmf_svg_function;
    const unsigned long flags = WMF_OPT_FUNCTION | WMF_OPT_IGNORE_NONFATAL | WMF_OPT_NO_ERROR | WMF_OPT_NO_DEBUG;
    if (wmf_api_create(&api, flags, &opt) != wmf_E_None) {
        if (api) wmf_api_destroy(api);
        return {};
    }
    std::string svg;
    if (wmf_mem_open(api, Data, long(Size)) == wmf_E_None) {
        wmfD_Rect scanned;
        if (wmf_scan(api, 0, &scanned) == wmf_E_None) {
            wmf_svg_t* dev = WMF_SVG_GetData(api);
            dev->out = wmf_stream_create(api, nullptr);
            dev->Description = const_cast<char*>("");
            dev->bbox.TL.x = float(Header.PageLeft);
            dev->bbox.TL.y = float(Header.PageTop);
            dev->bbox.BR.x = float(Header.PageRight);
            dev->bbox.BR.y = float(Header.PageBottom);
            dev->width = unsigned(PageW);
            dev->height = unsigned(PageH);
            wmfD_Rect played;
            const wmf_error_t err = wmf_play(api, 0, &played);
            char* mem = nullptr;
            unsigned long len = 0;
            if (dev->out) wmf_stream_destroy(api, dev->out, &mem, &len);
            dev->out = nullptr;
            if (err == wmf_E_None && mem) svg.assign(mem, len);
            if (mem) wmf_free(api, mem);
        }
        wmf_mem_close(api);
    }
    wmf_api_destroy(api);
    return svg;
}

std::string EmfToSvg(const uint8_t* Data, size_t Size) {
    generatorOptions opt{};
    opt.nameSpace = const_cast<char*>("");
    opt.verbose = false;
    opt.emfplus = true;
    opt.svgDelimiter = true;
    char* out = nullptr;
    size_t len = 0;
    // The converter takes a writable buffer; it gets a copy.
    std::string copy(reinterpret_cast<const char*>(Data), Size);
    const int ok = emf2svg(copy.data(), copy.size(), &out, &len, &opt);
    std::string svg;
    if (ok && out) svg.assign(out, len);
    std::free(out);
    // The converter types its JPEG pictures image/jpg, which no loader of librsvg's takes.
    constexpr std::string_view jpg = "data:image/jpg;", jpeg = "data:image/jpeg;";
    for (size_t at = svg.find(jpg); at != std::string::npos; at = svg.find(jpg, at + jpeg.size()))
        svg.replace(at, jpg.size(), jpeg);
    return svg;
}

// The pixels a picture's loader announces, and a stop before it makes room for them.
struct TPictureSize {
    int64_t Width = -1, Height = -1;
    int64_t Budget = 0;
    bool Refused = false;
    int64_t RowsDone = 0;   // the loader passes a picture whose data ends early as read
};

void OnAreaUpdated(GdkPixbufLoader*, int, int Y, int, int Height, gpointer Data) {
    auto* size = static_cast<TPictureSize*>(Data);
    size->RowsDone = std::max(size->RowsDone, int64_t(Y) + Height);
}

void OnSizePrepared(GdkPixbufLoader* Loader, int Width, int Height, gpointer Data) {
    auto* size = static_cast<TPictureSize*>(Data);
    size->Width = Width;
    size->Height = Height;
    if (Width <= 0 || Height <= 0 || Width > MaxPictureSide || Height > MaxPictureSide ||
        int64_t(Width) * Height > size->Budget) {
        size->Refused = true;
        gdk_pixbuf_loader_set_size(Loader, 0, 0);   // the loaders end on a size of 0, before allocating
    }
}

// Decodes one embedded picture as librsvg does: the loader of the data URI's type, the
// whole data written and the loader closed; every row must have come.
bool PictureDecodes(std::string_view Type, const std::string& Base64, int64_t& Budget) {
    gsize length = 0;
    guchar* bytes = g_base64_decode(Base64.c_str(), &length);
    if (!bytes || length == 0) {
        g_free(bytes);
        return false;
    }
    GError* error = nullptr;
    // librsvg takes a URI without a type (text/plain) for one to be sniffed.
    GdkPixbufLoader* loader = Type.empty() || Type == "text/plain"
                                  ? gdk_pixbuf_loader_new()
                                  : gdk_pixbuf_loader_new_with_mime_type(std::string(Type).c_str(), &error);
    if (error) g_clear_error(&error);
    if (!loader) {
        g_free(bytes);
        return false;
    }
    TPictureSize size;
    size.Budget = Budget;
    g_signal_connect(loader, "size-prepared", G_CALLBACK(OnSizePrepared), &size);
    g_signal_connect(loader, "area-updated", G_CALLBACK(OnAreaUpdated), &size);
    // In pieces: a loader that ended on the size still inflates what it is given.
    constexpr gsize piece = 4096;
    bool ok = true;
    for (gsize at = 0; ok && !size.Refused && at < length; at += piece) {
        ok = gdk_pixbuf_loader_write(loader, bytes + at, std::min(piece, length - at), &error);
        if (error) g_clear_error(&error);
    }
    ok = ok && !size.Refused;
    ok = gdk_pixbuf_loader_close(loader, &error) && ok;
    if (error) g_clear_error(&error);
    const GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
    const int64_t w = pixbuf ? std::max<int64_t>(size.Width, gdk_pixbuf_get_width(pixbuf)) : 0;
    const int64_t h = pixbuf ? std::max<int64_t>(size.Height, gdk_pixbuf_get_height(pixbuf)) : 0;
    ok = ok && w > 0 && h > 0 && w <= MaxPictureSide && h <= MaxPictureSide && w * h <= Budget &&
         size.RowsDone >= h;
    if (ok) Budget -= w * h;
    g_object_unref(loader);
    g_free(bytes);
    return ok;
}

// The value of attribute Name in the tag Tag (its text from '<' to '>'), or npos.
size_t AttributeValue(std::string_view Tag, std::string_view Name, std::string_view& Value) {
    for (size_t at = Tag.find(Name); at != std::string_view::npos; at = Tag.find(Name, at + 1)) {
        const char before = at > 0 ? Tag[at - 1] : ' ';
        const size_t eq = at + Name.size();
        if ((before != ' ' && before != '\t' && before != '\n' && before != '\r' && before != ':') ||
            eq >= Tag.size() || Tag[eq] != '=' || eq + 1 >= Tag.size())
            continue;
        const char quote = Tag[eq + 1];
        if (quote != '"' && quote != '\'') continue;
        const size_t end = Tag.find(quote, eq + 2);
        if (end == std::string_view::npos) return std::string_view::npos;
        Value = Tag.substr(eq + 2, end - eq - 2);
        return at;
    }
    return std::string_view::npos;
}

bool RasteriseSvg(const std::string& Svg, const TLXMetafileHeader& Header, uint8_t* Pixels, int Width,
                  int Height, int Stride, int PageWidth, int PageHeight) {
    if (Svg.empty() || Svg.size() > MaxSvgSize) return false;
    GError* error = nullptr;
    RsvgHandle* handle =
        rsvg_handle_new_from_data(reinterpret_cast<const guint8*>(Svg.data()), Svg.size(), &error);
    if (error) g_error_free(error);
    if (!handle) return false;
    double docW = 0, docH = 0;
    if (!rsvg_handle_get_intrinsic_size_in_pixels(handle, &docW, &docH) || !(docW > 0) || !(docH > 0)) {
        g_object_unref(handle);
        return false;
    }
    cairo_surface_t* surface = cairo_image_surface_create_for_data(Pixels, CAIRO_FORMAT_ARGB32, Width, Height, Stride);
    bool ok = cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS;
    if (ok) {
        cairo_t* cr = cairo_create(surface);
        if (Header.Kind == TLXMetafileKind::Emf) {
            cairo_scale(cr, PageWidth / (Header.PageRight - Header.PageLeft),
                        PageHeight / (Header.PageBottom - Header.PageTop));
            cairo_translate(cr, -Header.PageLeft, -Header.PageTop);
        }
        const RsvgRectangle viewport{0, 0, docW, docH};
        GError* err = nullptr;
        ok = rsvg_handle_render_document(handle, cr, &viewport, &err);
        if (err) g_error_free(err);
        ok = ok && cairo_status(cr) == CAIRO_STATUS_SUCCESS;
        cairo_destroy(cr);
        cairo_surface_flush(surface);
    }
    cairo_surface_destroy(surface);
    g_object_unref(handle);
    return ok;
}

}  // namespace

bool MetafilePicturesDecode(const std::string& Svg) {
    const std::string_view svg(Svg);
    int64_t budget = MetafileEmbeddedPixels;
    for (size_t at = svg.find("<image"); at != std::string_view::npos; at = svg.find("<image", at + 1)) {
        const size_t after = at + 6;
        if (after < svg.size() && svg[after] != ' ' && svg[after] != '\t' && svg[after] != '\n' &&
            svg[after] != '\r' && svg[after] != '/' && svg[after] != '>')
            continue;   // another element whose name starts so
        const size_t close = svg.find('>', after);
        if (close == std::string_view::npos) return false;
        const std::string_view tag = svg.substr(at, close - at);
        std::string_view href;
        if (AttributeValue(tag, "href", href) == std::string_view::npos) continue;   // nothing to draw
        // data:[<type>][;<parameter>]*;base64,<data>
        constexpr std::string_view scheme = "data:";
        const size_t comma = href.find(',');
        if (href.substr(0, scheme.size()) != scheme || comma == std::string_view::npos) return false;
        const std::string_view head = href.substr(scheme.size(), comma - scheme.size());
        const size_t semicolon = head.find(';');
        const std::string_view type = head.substr(0, semicolon);
        if (semicolon == std::string_view::npos || head.substr(head.rfind(';')) != ";base64") return false;
        if (!PictureDecodes(type, std::string(href.substr(comma + 1)), budget)) return false;
    }
    return true;
}

bool DrawMetafilePage(const uint8_t* Data, size_t Size, const TLXMetafileHeader& Header, uint8_t* Pixels,
                      int Width, int Height, int Stride, int PageWidth, int PageHeight) {
    if (!Data || !Pixels || Width <= 0 || Height <= 0 || PageWidth <= 0 || PageHeight <= 0) return false;
    if (Header.Kind != TLXMetafileKind::Wmf && Header.Kind != TLXMetafileKind::Emf) return false;
    const double pw = Header.PageRight - Header.PageLeft, ph = Header.PageBottom - Header.PageTop;
    if (!std::isfinite(pw) || !std::isfinite(ph) || pw == 0 || ph == 0) return false;
    std::string svg = Header.Kind == TLXMetafileKind::Wmf ? WmfToSvg(Data, Size, Header, PageWidth, PageHeight)
                                                          : EmfToSvg(Data, Size);
    if (!MetafilePicturesDecode(svg)) return false;
    return RasteriseSvg(svg, Header, Pixels, Width, Height, Stride, PageWidth, PageHeight);
}
