#include "ui/SkinDraw.h"

#include <objidl.h>
#include <gdiplus.h>
#include <vfw.h>

#include "ui/SkinData.h"

namespace quillo {

namespace {

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
Gdiplus::GpFont* CreateTextFont(HDC hdc, HFONT styleFont) {
    LOGFONTW logFont = {};
    HFONT font = styleFont ? styleFont : ToolkitDefaultFont();
    if (!font || GetObjectW(font, sizeof logFont, &logFont) == 0) {
        font = static_cast<HFONT>(GetCurrentObject(hdc, OBJ_FONT));
        if (!font || GetObjectW(font, sizeof logFont, &logFont) == 0) return nullptr;
    }
    Gdiplus::GpFont* result = nullptr;
    if (gp::GdipCreateFontFromLogfontW(hdc, &logFont, &result) != Gdiplus::Ok) return nullptr;
    return result;
}

}  // namespace

HFONT ToolkitDefaultFont() {
    static const HFONT font = [] {
        LOGFONTW logFont = IconTitleLogFont();
        logFont.lfWeight = FW_NORMAL;
        return CreateFontIndirectW(&logFont);
    }();
    return font;
}

void DrawImageStyle(HDC hdc, const RECT& dest, const ImageStyle& style) {
    if (!hdc || dest.right - dest.left <= 0 || dest.bottom - dest.top <= 0) return;
    const SkinRect area{dest.left, dest.top, dest.right - dest.left, dest.bottom - dest.top};
    const ImageStyleValues geometry = GeometryOf(style);
    DrawDib drawDib;

    if (style.image && !style.image->empty() && style.srcW > 0 && style.srcH > 0) {
        SelectedBitmap source(style.image->handle());
        if (source.dc()) {
            for (const GridPiece& piece : NineGridPieces(area, geometry))
                BackgroundPiece(hdc, source.dc(), drawDib, style, piece);
        }
    }

    if (style.foreImage && !style.foreImage->empty() && style.foreW > 0 && style.foreH > 0) {
        const SkinRect box = PlaceForeground(area, geometry);
        SelectedBitmap source(style.foreImage->handle());
        if (!source.dc()) return;
        const SkinRect src{style.foreX, style.foreY, style.foreW, style.foreH};
        if (style.foreImage->bitsPerPixel() == 32)
            AlphaPiece(hdc, source.dc(), box, src);
        else
            TransparentBlt(hdc, box.x, box.y, box.w, box.h, source.dc(), src.x, src.y, src.w, src.h,
                           static_cast<UINT>(style.foreKey));
    }
}

void DrawTextStyle(HDC hdc, const RECT& rect, const wchar_t* text, const TextStyle& style, const RECT* clip) {
    if (!hdc) return;
    const wchar_t* content = text ? text : style.text.c_str();
    GdiplusScope gdiplus;
    if (!gdiplus.ok()) return;

    TextObjects o;
    if (gp::GdipCreateFromHDC(hdc, &o.graphics) != Gdiplus::Ok) return;
    o.font = CreateTextFont(hdc, style.font);
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

    const Gdiplus::RectF layout(static_cast<Gdiplus::REAL>(rect.left + style.offsetX),
                                static_cast<Gdiplus::REAL>(rect.top + style.offsetY),
                                static_cast<Gdiplus::REAL>(rect.right - rect.left),
                                static_cast<Gdiplus::REAL>(rect.bottom - rect.top));
    gp::GdipDrawString(o.graphics, content, -1, o.font, &layout, o.format, o.brush);
}

}  // namespace quillo
