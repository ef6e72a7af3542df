#include "ui/SkinDraw.h"

#include <objidl.h>
#include <gdiplus.h>
#include <vfw.h>

#include <map>
#include <string>

#include "ui/DpiScale.h"
#include "ui/SkinData.h"

namespace quillo {

namespace {

int g_drawingDpi = kBaseDpi;  // painting happens on the UI thread only

namespace gp = Gdiplus::DllExports;

ImageStyleValues GeometryOf(const ImageStyle& s) {
    ImageStyleValues v;
    v.srcX = s.srcX;
    v.srcY = s.srcY;
    v.srcW = s.srcW;
    v.srcH = s.srcH;
    v.marginL = s.marginL;
    v.marginT = s.marginT;
    v.marginR = s.marginR;
    v.marginB = s.marginB;
    v.foreX = s.foreX;
    v.foreY = s.foreY;
    v.foreW = s.foreW;
    v.foreH = s.foreH;
    v.foreAlign = s.foreAlign;
    v.foreOffsetX = s.foreOffsetX;
    v.foreOffsetY = s.foreOffsetY;
    return v;
}

// A memory DC with a bitmap selected, for as long as the object lives.
class SelectedBitmap {
public:
    explicit SelectedBitmap(HBITMAP bitmap) : dc_(CreateCompatibleDC(nullptr)) {
        if (dc_) old_ = SelectObject(dc_, bitmap);
    }
    ~SelectedBitmap() {
        if (!dc_) return;
        SelectObject(dc_, old_);
        DeleteDC(dc_);
    }
    SelectedBitmap(const SelectedBitmap&) = delete;
    SelectedBitmap& operator=(const SelectedBitmap&) = delete;
    HDC dc() const { return dc_; }

private:
    HDC dc_;
    HGDIOBJ old_ = nullptr;
};

// One DrawDib instance per drawing call, opened on first need.
class DrawDib {
public:
    ~DrawDib() {
        if (handle_) DrawDibClose(handle_);
    }
    // Stretches a source rectangle (counted from the top row) of `image`.
    bool Stretch(HDC dc, const SkinRect& dst, const CHBitmap& image, const SkinRect& src) {
        if (!handle_) handle_ = DrawDibOpen();
        if (!handle_) return false;
        GdiFlush();
        BITMAPINFOHEADER header = image.header();
        return DrawDibDraw(handle_, dc, dst.x, dst.y, dst.w, dst.h, &header, image.bits(), src.x, src.y, src.w, src.h,
                           DDF_HALFTONE);
    }

private:
    HDRAWDIB handle_ = nullptr;
};

bool SameSize(const SkinRect& a, const SkinRect& b) { return a.w == b.w && a.h == b.h; }

// A rectangle of the skin (1x units) at `dpi`: its edges go where the
// display's scale puts them, so neighbouring pieces meet.
SkinRect AtDpi(const SkinRect& r, int dpi) {
    const int32_t x = ScaleToDpi(r.x, dpi), y = ScaleToDpi(r.y, dpi);
    return {x, y, ScaleToDpi(r.x + r.w, dpi) - x, ScaleToDpi(r.y + r.h, dpi) - y};
}

// Between the scales the art was drawn for, a sprite (given in 1x units of an
// image drawn at `imageScale` x) is resampled once with a bicubic filter and
// then drawn nearly 1:1: stretching it piece by piece would take the nearest
// pixel and make curves jagged. Null when the image is drawn for this very
// scale, or is not an alpha image, or the sprite lies outside it.
const CHBitmap* ResampledSprite(const CHBitmap& image, const SkinRect& sprite, int imageScale, int dpi) {
    if (dpi <= 0 || dpi == kBaseDpi * imageScale || image.bitsPerPixel() != 32) return nullptr;
    const SkinRect target = AtDpi(sprite, dpi);
    if (target.w <= 0 || target.h <= 0) return nullptr;
    const RECT part = {sprite.x * imageScale, sprite.y * imageScale, (sprite.x + sprite.w) * imageScale,
                       (sprite.y + sprite.h) * imageScale};
    return image.Resampled(part, target.w, target.h);
}

void AlphaPiece(HDC hdc, HDC source, const SkinRect& dst, const SkinRect& src) {
    const BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    AlphaBlend(hdc, dst.x, dst.y, dst.w, dst.h, source, src.x, src.y, src.w, src.h, blend);
}

// A colour-keyed piece; a piece that changes size is stretched into a
// temporary bitmap first so that the key test sees the final pixels.
void KeyedPiece(HDC hdc, HDC source, DrawDib& drawDib, const CHBitmap& image, const SkinRect& dst,
                const SkinRect& src, UINT key) {
    if (SameSize(dst, src)) {
        TransparentBlt(hdc, dst.x, dst.y, dst.w, dst.h, source, src.x, src.y, src.w, src.h, key);
        return;
    }
    HBITMAP temp = CreateCompatibleBitmap(hdc, dst.w, dst.h);
    if (!temp) return;
    {
        SelectedBitmap stretched(temp);
        if (stretched.dc() && drawDib.Stretch(stretched.dc(), {0, 0, dst.w, dst.h}, image, src))
            TransparentBlt(hdc, dst.x, dst.y, dst.w, dst.h, stretched.dc(), 0, 0, dst.w, dst.h, key);
    }
    DeleteObject(temp);
}

void BackgroundPiece(HDC hdc, HDC source, DrawDib& drawDib, const ImageStyle& style, const GridPiece& piece) {
    const CHBitmap& image = *style.image;
    if (image.bitsPerPixel() == 32) {
        AlphaPiece(hdc, source, piece.dst, piece.src);
    } else if (style.colorKey != 0) {
        KeyedPiece(hdc, source, drawDib, image, piece.dst, piece.src, static_cast<UINT>(style.colorKey));
    } else if (SameSize(piece.dst, piece.src)) {
        BitBlt(hdc, piece.dst.x, piece.dst.y, piece.dst.w, piece.dst.h, source, piece.src.x, piece.src.y, SRCCOPY);
    } else {
        drawDib.Stretch(hdc, piece.dst, image, piece.src);
    }
}

// The GDI+ objects of one text drawing, released in reverse order.
struct TextObjects {
    Gdiplus::GpGraphics* graphics = nullptr;
    Gdiplus::GpFont* font = nullptr;
    Gdiplus::GpSolidFill* brush = nullptr;
    Gdiplus::GpStringFormat* format = nullptr;
    ~TextObjects() {
        if (format) gp::GdipDeleteStringFormat(format);
        if (brush) gp::GdipDeleteBrush(brush);
        if (font) gp::GdipDeleteFont(font);
        if (graphics) gp::GdipDeleteGraphics(graphics);
    }
};

// The font's LOGFONT is read back in its wide form: through the narrow form a
// Chinese face name such as 微软雅黑 turns into question marks on any system
// whose ANSI code page is not Chinese, and the text falls back to another face.
Gdiplus::GpFont* CreateTextFont(HDC hdc, HFONT styleFont, int dpi) {
    LOGFONTW logFont = {};
    HFONT font = styleFont ? styleFont : ToolkitDefaultFont();
    if (!font || GetObjectW(font, sizeof logFont, &logFont) == 0) {
        // The DC's own font is already at the window's scale.
        font = static_cast<HFONT>(GetCurrentObject(hdc, OBJ_FONT));
        if (!font || GetObjectW(font, sizeof logFont, &logFont) == 0) return nullptr;
    } else {
        logFont.lfHeight = ScaleToDpi(logFont.lfHeight, dpi);
        logFont.lfWidth = ScaleToDpi(logFont.lfWidth, dpi);
    }
    Gdiplus::GpFont* result = nullptr;
    if (gp::GdipCreateFontFromLogfontW(hdc, &logFont, &result) != Gdiplus::Ok) return nullptr;
    return result;
}

}  // namespace

int DrawingDpi() { return g_drawingDpi; }

DrawingDpiScope::DrawingDpiScope(int dpi) : saved_(g_drawingDpi) { g_drawingDpi = dpi > 0 ? dpi : kBaseDpi; }
DrawingDpiScope::~DrawingDpiScope() { g_drawingDpi = saved_; }

HFONT ToolkitDefaultFont(int dpi) {
    static std::map<int, HFONT> fonts;
    if (dpi <= 0) dpi = kBaseDpi;
    const auto found = fonts.find(dpi);
    if (found != fonts.end()) return found->second;
    LOGFONTW logFont = IconTitleLogFontAt96();
    logFont.lfWeight = FW_NORMAL;
    logFont.lfHeight = ScaleToDpi(logFont.lfHeight, dpi);
    logFont.lfWidth = ScaleToDpi(logFont.lfWidth, dpi);
    const HFONT font = CreateFontIndirectW(&logFont);
    fonts[dpi] = font;
    return font;
}

HFONT FontForDpi(HFONT font, int dpi) {
    if (!font) return ToolkitDefaultFont(dpi);
    if (dpi <= 0 || dpi == kBaseDpi) return font;
    LOGFONTW logFont = {};
    if (GetObjectW(font, sizeof logFont, &logFont) == 0) return font;
    // Keyed by what the font is, not by its handle: a handle can be reused
    // for another font once a skin's fonts are deleted.
    static std::map<std::wstring, HFONT> fonts;
    std::wstring key(reinterpret_cast<const wchar_t*>(&logFont), sizeof logFont / sizeof(wchar_t));
    key += L'@' + std::to_wstring(dpi);
    const auto found = fonts.find(key);
    if (found != fonts.end()) return found->second;
    logFont.lfHeight = ScaleToDpi(logFont.lfHeight, dpi);
    logFont.lfWidth = ScaleToDpi(logFont.lfWidth, dpi);
    const HFONT scaled = CreateFontIndirectW(&logFont);
    fonts[key] = scaled;
    return scaled ? scaled : font;
}

void DrawImageStyle(HDC hdc, const RECT& dest, const ImageStyle& style, int dpi) {
    if (!hdc || dest.right - dest.left <= 0 || dest.bottom - dest.top <= 0) return;
    const SkinRect area{dest.left, dest.top, dest.right - dest.left, dest.bottom - dest.top};
    const ImageStyleValues geometry = GeometryOf(style);
    DrawDib drawDib;
    const bool twice = ImageScaleForDpi(dpi) == 2;

    if (style.image && !style.image->empty() && style.srcW > 0 && style.srcH > 0) {
        ImageStyle chosen = style;
        int scale = 1;
        CHBitmap* image2x = twice ? style.Image2x() : nullptr;
        if (image2x && !image2x->empty()) {
            chosen.image = image2x;
            scale = 2;
        }
        // Between the scales the images were drawn for, the image is
        // resampled once with a bicubic filter and drawn nearly 1:1: stretching
        // it piece by piece would take the nearest pixel and make it jagged.
        const CHBitmap* resampled = ResampledSprite(*chosen.image, {style.srcX, style.srcY, style.srcW, style.srcH},
                                                    scale, dpi);
        if (resampled) {
            const SkinRect sprite = AtDpi(SkinRect{style.srcX, style.srcY, style.srcW, style.srcH}, dpi);
            SelectedBitmap source(resampled->handle());
            if (source.dc()) {
                for (GridPiece piece : NineGridPieces(area, geometry, 1, dpi)) {
                    piece.src = AtDpi(piece.src, dpi);
                    piece.src.x -= sprite.x;
                    piece.src.y -= sprite.y;
                    AlphaPiece(hdc, source.dc(), piece.dst, piece.src);
                }
            }
        } else {
            SelectedBitmap source(chosen.image->handle());
            if (source.dc()) {
                for (const GridPiece& piece : NineGridPieces(area, geometry, scale, dpi))
                    BackgroundPiece(hdc, source.dc(), drawDib, chosen, piece);
            }
        }
    }

    if (style.foreImage && !style.foreImage->empty() && style.foreW > 0 && style.foreH > 0) {
        const SkinRect box = PlaceForeground(area, geometry, dpi);
        CHBitmap* foreImage2x = twice ? style.ForeImage2x() : nullptr;
        const bool fore2x = foreImage2x && !foreImage2x->empty();
        const CHBitmap* image = fore2x ? foreImage2x : style.foreImage;
        const int k = fore2x ? 2 : 1;
        SkinRect src{style.foreX * k, style.foreY * k, style.foreW * k, style.foreH * k};
        if (const CHBitmap* resampled =
                ResampledSprite(*image, {style.foreX, style.foreY, style.foreW, style.foreH}, k, dpi)) {
            image = resampled;
            src = SkinRect{0, 0, resampled->width(), resampled->height()};
        }
        SelectedBitmap source(image->handle());
        if (!source.dc()) return;
        if (image->bitsPerPixel() == 32)
            AlphaPiece(hdc, source.dc(), box, src);
        else
            TransparentBlt(hdc, box.x, box.y, box.w, box.h, source.dc(), src.x, src.y, src.w, src.h,
                           static_cast<UINT>(style.foreKey));
    }
}

void DrawTextStyle(HDC hdc, const RECT& rect, const wchar_t* text, const TextStyle& style, const RECT* clip, int dpi) {
    if (!hdc) return;
    const wchar_t* content = text ? text : style.text.c_str();
    GdiplusScope gdiplus;
    if (!gdiplus.ok()) return;

    TextObjects o;
    if (gp::GdipCreateFromHDC(hdc, &o.graphics) != Gdiplus::Ok) return;
    o.font = CreateTextFont(hdc, style.font, dpi);
    if (!o.font) return;

    const Gdiplus::ARGB color = 0xFE000000u | (static_cast<Gdiplus::ARGB>(GetRValue(style.color)) << 16) |
                                (static_cast<Gdiplus::ARGB>(GetGValue(style.color)) << 8) | GetBValue(style.color);
    if (gp::GdipCreateSolidFill(color, &o.brush) != Gdiplus::Ok) return;

    if (gp::GdipCreateStringFormat(0, LANG_NEUTRAL, &o.format) != Gdiplus::Ok) return;
    const int align = style.align;
    gp::GdipSetStringFormatAlign(o.format, (align & DT_CENTER)  ? Gdiplus::StringAlignmentCenter
                                           : (align & DT_RIGHT) ? Gdiplus::StringAlignmentFar
                                                                : Gdiplus::StringAlignmentNear);
    gp::GdipSetStringFormatLineAlign(o.format, (align & DT_VCENTER)  ? Gdiplus::StringAlignmentCenter
                                               : (align & DT_BOTTOM) ? Gdiplus::StringAlignmentFar
                                                                     : Gdiplus::StringAlignmentNear);
    if (align & DT_SINGLELINE) gp::GdipSetStringFormatFlags(o.format, Gdiplus::StringFormatFlagsNoWrap);
    if (align & DT_WORD_ELLIPSIS) gp::GdipSetStringFormatTrimming(o.format, Gdiplus::StringTrimmingEllipsisCharacter);

    if (clip)
        gp::GdipSetClipRectI(o.graphics, clip->left, clip->top, clip->right - clip->left, clip->bottom - clip->top,
                             Gdiplus::CombineModeReplace);

    const Gdiplus::RectF layout(static_cast<Gdiplus::REAL>(rect.left + ScaleToDpi(style.offsetX, dpi)),
                                static_cast<Gdiplus::REAL>(rect.top + ScaleToDpi(style.offsetY, dpi)),
                                static_cast<Gdiplus::REAL>(rect.right - rect.left),
                                static_cast<Gdiplus::REAL>(rect.bottom - rect.top));
    gp::GdipDrawString(o.graphics, content, -1, o.font, &layout, o.format, o.brush);
}

}  // namespace quillo
