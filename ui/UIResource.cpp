#include "ui/UIResource.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <unordered_map>

#include "base/TextCodec.h"
#include "ui/DpiScale.h"
#include "ui/WindowDpi.h"

namespace quillo {

namespace {

UIResource* g_currentSkin = nullptr;

// A visible window is repainted and its frame recalculated.
constexpr UINT kRefreshFlags = SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_FRAMECHANGED | SWP_NOACTIVATE |
                               SWP_NOOWNERZORDER | SWP_DEFERERASE;

BOOL CALLBACK NotifyTintChanged(HWND hwnd, LPARAM) {
    SendMessageW(hwnd, kTintChangedMessage, 0, 0);
    if (IsWindowVisible(hwnd)) {
        InvalidateRect(hwnd, nullptr, TRUE);
        SetWindowPos(hwnd, nullptr, 0, 0, 0, 0, kRefreshFlags);
    }
    return TRUE;
}

BOOL CALLBACK NotifyTopLevelTree(HWND hwnd, LPARAM) {
    NotifyTintChanged(hwnd, 0);
    EnumChildWindows(hwnd, NotifyTintChanged, 0);  // every descendant, not only direct children
    return TRUE;
}

HFONT CreateIconTitleVariant(bool bold, bool underline) {
    LOGFONTW font = IconTitleLogFontAt96();
    if (bold) font.lfWeight = FW_BOLD;
    if (underline) font.lfUnderline = TRUE;
    return CreateFontIndirectW(&font);
}

// Applies a font record to a LOGFONT; the record holds only the non-zero
// members, so a zero never overrides the system value.
void ApplyFontRecord(const FontRecord& record, LOGFONTW& font) {
    for (const auto& member : record.integers) {
        const int32_t v = member.second;
        const std::string& name = member.first;
        if (name == "Height") font.lfHeight = v;
        else if (name == "Width") font.lfWidth = v;
        else if (name == "Escapement") font.lfEscapement = v;
        else if (name == "Orientation") font.lfOrientation = v;
        else if (name == "Weight") font.lfWeight = v;
        else if (name == "Italic") font.lfItalic = static_cast<BYTE>(v);
        else if (name == "Underline") font.lfUnderline = static_cast<BYTE>(v);
        else if (name == "StrikeOut") font.lfStrikeOut = static_cast<BYTE>(v);
        else if (name == "CharSet") font.lfCharSet = static_cast<BYTE>(v);
        else if (name == "OutPrecision") font.lfOutPrecision = static_cast<BYTE>(v);
        else if (name == "ClipPrecision") font.lfClipPrecision = static_cast<BYTE>(v);
        else if (name == "Quality") font.lfQuality = static_cast<BYTE>(v);
        else if (name == "PitchAndFamily") font.lfPitchAndFamily = static_cast<BYTE>(v);
    }
    if (!record.faceName.empty()) {
        std::wstring face = Utf8ToWide(record.faceName);
        if (face.size() > LF_FACESIZE - 1) face.resize(LF_FACESIZE - 1);
        std::memset(font.lfFaceName, 0, sizeof font.lfFaceName);
        std::memcpy(font.lfFaceName, face.data(), face.size() * sizeof(wchar_t));
    }
}

}  // namespace

LOGFONTW IconTitleLogFontAt96() {
    LOGFONTW font = IconTitleLogFont();
    // A DPI-aware process is told the size at the system DPI.
    const int system = SystemDpi();
    if (system != kBaseDpi) {
        font.lfHeight = ::MulDiv(font.lfHeight, kBaseDpi, system);
        font.lfWidth = ::MulDiv(font.lfWidth, kBaseDpi, system);
    }
    return font;
}

LOGFONTW IconTitleLogFont() {
    LOGFONTW font = {};
    if (!SystemParametersInfoW(SPI_GETICONTITLELOGFONT, sizeof font, &font, 0)) {
        NONCLIENTMETRICSW metrics = {};
        metrics.cbSize = sizeof metrics;
        if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) font = metrics.lfMessageFont;
    }
    return font;
}

UIResource* CurrentSkin() { return g_currentSkin; }
void SetCurrentSkin(UIResource* resource) { g_currentSkin = resource; }

UIResource::UIResource() = default;

UIResource::~UIResource() {
    for (auto& entry : fonts_)
        if (entry.second) DeleteObject(entry.second);
    // The bitmaps go with the maps.
}

bool UIResource::LoadFromResource(HMODULE module, const wchar_t* type, int id) {
    HRSRC info = FindResourceExW(module, type, MAKEINTRESOURCEW(id), MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED));
    if (!info) info = FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (!info) return false;
    const DWORD size = SizeofResource(module, info);
    HGLOBAL handle = LoadResource(module, info);
    const void* bytes = handle ? LockResource(handle) : nullptr;
    if (!bytes) return false;
    // The program links the package compressed; a plain one is taken as it is.
    std::string package;
    if (!ExpandSkinResource(bytes, size, package)) return false;
    return LoadFromMemory(package.data(), package.size());
}

bool UIResource::LoadFromFile(const wchar_t* path) {
    if (!path) return false;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::string bytes;
    LARGE_INTEGER size = {};
    bool ok = GetFileSizeEx(file, &size) && size.QuadPart >= 0 &&
              static_cast<uint64_t>(size.QuadPart) <= std::numeric_limits<DWORD>::max() &&
              static_cast<uint64_t>(size.QuadPart) < std::numeric_limits<size_t>::max() / 2;
    if (ok) {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        size_t done = 0;
        while (ok && done < bytes.size()) {
            DWORD got = 0;
            const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 24));
            ok = ReadFile(file, &bytes[done], want, &got, nullptr) && got > 0;
            done += got;
        }
    }
    CloseHandle(file);
    return ok && LoadFromMemory(bytes.data(), bytes.size());
}

bool UIResource::LoadFromMemory(const void* data, size_t size) {
    if (!data) return false;
    return data_.LoadFromMemory(static_cast<const uint8_t*>(data), size);
}

const JValue* UIResource::GetNode(const std::string& path, const JValue* parent) {
    return data_.GetNode(path, parent);
}

int32_t UIResource::GetInt(const std::string& path, const JValue* parent) { return data_.GetInt(path, parent); }

RECT UIResource::GetRect(const std::string& path, const JValue* parent) {
    const SkinRect r = data_.GetRect(path, parent);
    return RECT{r.x, r.y, r.w, r.h};
}

ImageStyle UIResource::GetImageStyle(const std::string& path, const JValue* parent) {
    const ImageStyleValues v =
        data_.GetImageStyleValues(path, parent, [this](int32_t id) { return GetImage(id, true) != nullptr; });
    ImageStyle s;
    s.srcX = v.srcX;
    s.srcY = v.srcY;
    s.srcW = v.srcW;
    s.srcH = v.srcH;
    s.colorKey = static_cast<int32_t>(v.colorKey);
    s.marginL = v.marginL;
    s.marginT = v.marginT;
    s.marginR = v.marginR;
    s.marginB = v.marginB;
    s.mode = v.mode;
    s.image = v.image ? GetImage(v.image, true) : nullptr;  // cached by the reading above
    s.foreX = v.foreX;
    s.foreY = v.foreY;
    s.foreW = v.foreW;
    s.foreH = v.foreH;
    s.foreKey = static_cast<int32_t>(v.foreKey);
    s.foreImage = v.foreImage ? GetImage(v.foreImage, true) : nullptr;
    s.foreAlign = v.foreAlign;
    s.foreOffsetX = v.foreOffsetX;
    s.foreOffsetY = v.foreOffsetY;
    s.source = this;
    s.imageId = v.image;
    s.foreImageId = v.foreImage;
    return s;
}

CHBitmap* ImageStyle::Image2x() const { return source && imageId ? source->GetImage2x(imageId, true) : nullptr; }
CHBitmap* ImageStyle::ForeImage2x() const {
    return source && foreImageId ? source->GetImage2x(foreImageId, true) : nullptr;
}

POINT UIResource::GetPoint(const std::string& path, const JValue* parent) {
    int32_t x = 0, y = 0;
    data_.GetPoint(path, parent, x, y);
    return POINT{x, y};
}

COLORREF UIResource::GetColor(const std::string& path, const JValue* parent) { return data_.GetColor(path, parent); }

TextStyle UIResource::GetTextStyle(const std::string& path, const JValue* parent) {
    const TextStyleValues v = data_.GetTextStyleValues(path, parent);
    TextStyle s;
    s.font = v.font ? GetFont(v.font) : nullptr;
    s.align = v.align;
    s.color = v.color;
    s.offsetX = v.offsetX;
    s.offsetY = v.offsetY;
    s.text = Utf8ToWide(v.text);
    return s;
}

HFONT UIResource::GetFont(int id) {
    const auto cached = fonts_.find(id);
    if (cached != fonts_.end()) return cached->second;
    std::string bytes;
    if (!GetBlob("fonts", id, bytes)) {
        fonts_[id] = nullptr;  // not looked up again
        return nullptr;
    }
    LOGFONTW font = IconTitleLogFontAt96();
    FontRecord record;
    if (ParseFontRecord(bytes, record) && !record.isNull) ApplyFontRecord(record, font);
    HFONT handle = CreateFontIndirectW(&font);
    fonts_[id] = handle;
    return handle;
}

CHBitmap* UIResource::GetImage(int id, bool tintable) {
    return LoadImageAsset("images", static_cast<uint32_t>(id), tintable);
}

CHBitmap* UIResource::GetImage2x(int id, bool tintable) {
    const uint32_t assetId = data_.Image2xId(static_cast<uint32_t>(id));
    return assetId ? LoadImageAsset(kImages2xSection, assetId, tintable) : nullptr;
}

CHBitmap* UIResource::LoadImageAsset(const char* section, uint32_t assetId, bool tintable) {
    if (artUndecoded_) return nullptr;
    // Asset ids are one space for every section, so one cache holds both scales.
    const int id = static_cast<int>(assetId);
    const auto cached = images_.find(id);
    if (cached != images_.end()) return cached->second.bitmap.get();
    std::string bytes;
    if (!GetBlob(section, id, bytes)) return nullptr;
    auto bitmap = std::make_unique<CHBitmap>();
    if (!bitmap->LoadFromMemory(bytes)) return nullptr;  // tried again next time
    if (TintActive()) {
        auto copy = std::make_unique<CHBitmap>();
        if (copy->CopyFrom(*bitmap)) untinted_[id] = std::move(copy);
        if (tintable) TintPixels(*bitmap);
    }
    CachedImage& entry = images_[id];
    entry.bitmap = std::move(bitmap);
    entry.tintable = tintable;
    return entry.bitmap.get();
}

bool UIResource::GetBlob(const std::string& section, int id, std::string& bytes) {
    return data_.GetBlob(section, static_cast<uint32_t>(id), bytes);
}

HFONT UIResource::GetDefaultFont() {
    static const HFONT font = CreateIconTitleVariant(false, false);
    return font;
}

HFONT UIResource::GetDefaultBoldFont() {
    static const HFONT font = CreateIconTitleVariant(true, false);
    return font;
}

HFONT UIResource::GetDefaultUnderlineFont() {
    static const HFONT font = CreateIconTitleVariant(false, true);
    return font;
}

HFONT UIResource::GetDefaultBoldUnderlineFont() {
    static const HFONT font = CreateIconTitleVariant(true, true);
    return font;
}

void UIResource::SetTint(int hue, int saturation, int lightness) {
    hue_ = hue;
    saturation_ = saturation;
    lightness_ = lightness;
    tintedColors_.clear();
    for (auto& entry : images_) {
        if (!entry.second.tintable || !entry.second.bitmap) continue;
        CHBitmap& bitmap = *entry.second.bitmap;
        auto& copy = untinted_[entry.first];
        if (!copy) {
            copy = std::make_unique<CHBitmap>();
            if (!copy->CopyFrom(bitmap)) {
                copy.reset();
                untinted_.erase(entry.first);
                continue;
            }
        }
        bitmap.CopyPixelsFrom(*copy);
        // With all values 0 the untinted pixels are the result.
        if (TintActive()) TintPixels(bitmap);
    }
    EnumThreadWindows(GetCurrentThreadId(), NotifyTopLevelTree, 0);
}

COLORREF UIResource::TintColor(COLORREF color) {
    if (!TintActive()) return color;
    const auto cached = tintedColors_.find(color);
    if (cached != tintedColors_.end()) return cached->second;
    const COLORREF tinted = TintColorValue(color, hue_, saturation_, lightness_);
    tintedColors_[color] = tinted;
    return tinted;
}

int UIResource::GetHue() { return hue_; }
int UIResource::GetSaturation() { return saturation_; }
int UIResource::GetLightness() { return lightness_; }

void UIResource::TintPixels(CHBitmap& bitmap) {
    const int bytesPerPixel = bitmap.bitsPerPixel() / 8;
    if (bytesPerPixel != 3 && bytesPerPixel != 4) return;
    GdiFlush();
    std::unordered_map<uint32_t, uint32_t> done;  // images repeat few colours
    for (int y = 0; y < bitmap.height(); ++y) {
        uint8_t* p = bitmap.bits() + static_cast<size_t>(y) * bitmap.stride();
        for (int x = 0; x < bitmap.width(); ++x, p += bytesPerPixel) {
            const uint32_t color = p[2] | (p[1] << 8) | (p[0] << 16);  // DIB order is B, G, R
            auto found = done.find(color);
            if (found == done.end())
                found = done.emplace(color, TintColorValue(color, hue_, saturation_, lightness_)).first;
            const uint32_t tinted = found->second;
            p[2] = static_cast<uint8_t>(tinted & 0xFF);
            p[1] = static_cast<uint8_t>((tinted >> 8) & 0xFF);
            p[0] = static_cast<uint8_t>((tinted >> 16) & 0xFF);
        }
    }
    bitmap.ForgetResampled();
}

}  // namespace quillo
