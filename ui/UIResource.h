// The skin of the setup program's windows: the loaded package, path queries
// against its description, the style records all drawing uses, and the caches
// of decoded images and created fonts.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "json/JValue.h"
#include "ui/CHBitmap.h"
#include "ui/SkinData.h"

namespace quillo {

class UIResource;

// How an image style draws. The bitmaps are borrowed from the resource's
// image cache and stay valid as long as the resource. Rectangles and margins
// are at 1x; the 2x images hold the same art at twice the size, for displays
// from 150 %: they are decoded only when such a display asks for them (null
// when the skin has none).
struct ImageStyle {
    int32_t srcX = 0, srcY = 0, srcW = 0, srcH = 0;
    int32_t colorKey = 0;  // COLORREF; 0 = none
    int32_t marginL = 0, marginT = 0, marginR = 0, marginB = 0;
    int32_t mode = 0;
    CHBitmap* image = nullptr;
    int32_t foreX = 0, foreY = 0, foreW = 0, foreH = 0;
    int32_t foreKey = 0;  // COLORREF
    CHBitmap* foreImage = nullptr;
    int32_t foreAlign = 0;
    int32_t foreOffsetX = 0, foreOffsetY = 0;
    UIResource* source = nullptr;  // where the 2x images come from
    int32_t imageId = 0, foreImageId = 0;
    CHBitmap* Image2x() const;
    CHBitmap* ForeImage2x() const;
};

// How a text style draws. The font is borrowed from the resource's font cache
// (null: the toolkit's default font); the text is owned.
struct TextStyle {
    HFONT font = nullptr;
    int32_t align = 0;     // DrawText flags
    COLORREF color = 0;
    int32_t offsetX = 0, offsetY = 0;
    std::wstring text;
};

// Message sent to every window of the thread after the tint changed.
constexpr UINT kTintChangedMessage = 0x6A60;

class UIResource {
public:
    UIResource();
    UIResource(const UIResource&) = delete;
    UIResource& operator=(const UIResource&) = delete;

    // The virtual operations keep this order; the destructor comes last so
    // that it does not move them.
    virtual bool LoadFromResource(HMODULE module, const wchar_t* type, int id);
    virtual bool LoadFromFile(const wchar_t* path);
    virtual bool LoadFromMemory(const void* data, size_t size);
    // Paths are "/"-separated names below `parent`, or below "cfg" when null.
    virtual const JValue* GetNode(const std::string& path, const JValue* parent = nullptr);
    virtual int32_t GetInt(const std::string& path, const JValue* parent = nullptr);
    // The four elements of an array of exactly four, in order (left, top,
    // right, bottom hold elements 0..3 whatever they mean); else all zero.
    virtual RECT GetRect(const std::string& path, const JValue* parent = nullptr);
    virtual ImageStyle GetImageStyle(const std::string& path, const JValue* parent = nullptr);
    virtual POINT GetPoint(const std::string& path, const JValue* parent = nullptr);
    virtual COLORREF GetColor(const std::string& path, const JValue* parent = nullptr);
    virtual TextStyle GetTextStyle(const std::string& path, const JValue* parent = nullptr);
    virtual HFONT GetFont(int id);
    virtual CHBitmap* GetImage(int id, bool tintable);
    virtual bool GetBlob(const std::string& section, int id, std::string& bytes);
    virtual HFONT GetDefaultFont();
    virtual HFONT GetDefaultBoldFont();
    virtual HFONT GetDefaultUnderlineFont();
    virtual HFONT GetDefaultBoldUnderlineFont();
    virtual void SetTint(int hue, int saturation, int lightness);
    virtual COLORREF TintColor(COLORREF color);
    virtual int GetHue();
    virtual int GetSaturation();
    virtual int GetLightness();
    virtual ~UIResource();

    const SkinData& data() const { return data_; }
    // For windows that are never drawn (a quiet run builds its screens
    // hidden): the art is not decoded, so image styles come without images;
    // the rest of the description reads as before.
    void LeaveArtUndecoded() { artUndecoded_ = true; }
    // The 2x image drawn for image `id`, tinted as the image is; null when the
    // skin has none.
    CHBitmap* GetImage2x(int id, bool tintable);

private:
    struct CachedImage {
        std::unique_ptr<CHBitmap> bitmap;
        bool tintable = false;
    };

    bool TintActive() const { return hue_ != 0 || saturation_ != 0 || lightness_ != 0; }
    // An image of `section` by its asset id, decoded once and cached.
    CHBitmap* LoadImageAsset(const char* section, uint32_t assetId, bool tintable);
    void TintPixels(CHBitmap& bitmap);

    SkinData data_;
    std::map<int, HFONT> fonts_;
    std::map<int, CachedImage> images_;
    std::map<int, std::unique_ptr<CHBitmap>> untinted_;
    std::map<COLORREF, COLORREF> tintedColors_;
    bool artUndecoded_ = false;
    int hue_ = 0;
    int saturation_ = 0;
    int lightness_ = 0;
};

// The resource the screens draw from (set by the options window).
UIResource* CurrentSkin();
void SetCurrentSkin(UIResource* resource);

// The system icon-title font, as SystemParametersInfo reports it now (at the
// system DPI).
LOGFONTW IconTitleLogFont();
// The icon-title font with its height at 96 DPI: what the toolkit scales to
// each window's DPI.
LOGFONTW IconTitleLogFontAt96();

}  // namespace quillo
