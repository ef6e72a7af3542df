// The portable half of the skin: the ".uir" package (description and assets),
// path queries against the description, the reading rules of image and text
// styles, font records, the tint arithmetic and the nine-grid geometry. The
// Windows half (bitmaps, fonts, drawing) is UIResource.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "json/JValue.h"

namespace quillo {

// Package magic ".uir".
constexpr uint8_t kSkinMagic[4] = {0x2E, 0x75, 0x69, 0x72};

// The description's "res" section that lists the 2x images.
constexpr char kImages2xSection[] = "images2x";

using AssetMap = std::map<uint32_t, std::string>;           // id -> bytes
using SectionMap = std::map<std::string, AssetMap>;         // "fonts" / "images" -> assets

// Style values as the description gives them; image references stay ids.
struct ImageStyleValues {
    int32_t srcX = 0, srcY = 0, srcW = 0, srcH = 0;
    uint32_t colorKey = 0;
    int32_t marginL = 0, marginT = 0, marginR = 0, marginB = 0;
    int32_t mode = 0;
    int32_t image = 0;  // id; 0 = none
    int32_t foreX = 0, foreY = 0, foreW = 0, foreH = 0;
    uint32_t foreKey = 0;
    int32_t foreImage = 0;  // id; 0 = none
    int32_t foreAlign = 0;
    int32_t foreOffsetX = 0, foreOffsetY = 0;
};

struct TextStyleValues {
    int32_t font = 0;  // font id; 0 = none
    int32_t align = 0;
    uint32_t color = 0;
    int32_t offsetX = 0, offsetY = 0;
    std::string text;  // UTF-8
};

struct SkinRect {
    int32_t x = 0, y = 0, w = 0, h = 0;
    bool operator==(const SkinRect& o) const { return x == o.x && y == o.y && w == o.w && h == o.h; }
};

// The LOGFONT members a font record may set; `set` tells which ones it set
// (non-zero integers, a non-empty face name).
struct FontRecord {
    bool isNull = false;  // the record "null": the system font unchanged
    std::map<std::string, int32_t> integers;  // "Height", "Weight", ... only non-zero values
    std::string faceName;                     // UTF-8, empty = keep
};

class SkinData {
public:
    // Loads a package. False (nothing changes) when the magic is wrong. A
    // damaged package never reads past `size`: what cannot be read is left
    // out, and a description that does not parse leaves every query empty.
    bool LoadFromMemory(const uint8_t* data, size_t size);

    // The node at `path` ("/"-separated; empty pieces are skipped) below
    // `parent`, or below root["cfg"] when parent is null. Null when missing.
    const JValue* GetNode(const std::string& path, const JValue* parent = nullptr) const;
    int32_t GetInt(const std::string& path, const JValue* parent = nullptr) const;
    SkinRect GetRect(const std::string& path, const JValue* parent = nullptr) const;   // exactly 4 elements
    void GetPoint(const std::string& path, const JValue* parent, int32_t& x, int32_t& y) const;  // exactly 2
    uint32_t GetColor(const std::string& path, const JValue* parent = nullptr) const;  // exactly 3: COLORREF

    // Reads an image style; `imageLoads(id)` tells whether an image id names
    // an image that loads (the rest of the background/foreground keys are read
    // only then).
    ImageStyleValues GetImageStyleValues(const std::string& path, const JValue* parent,
                                         const std::function<bool(int32_t)>& imageLoads) const;
    TextStyleValues GetTextStyleValues(const std::string& path, const JValue* parent = nullptr) const;

    // Asset bytes; false when the section or id is missing or the asset is empty.
    bool GetBlob(const std::string& section, uint32_t id, std::string& bytes) const;

    // The asset id of the 2x image drawn for image `id` (the section
    // "images2x" of the description: entries {"id", "image", "name"}); 0 when
    // the package has none (packages made before there were 2x images).
    uint32_t Image2xId(uint32_t id) const;

    const JValue& root() const { return root_; }
    const SectionMap& sections() const { return sections_; }

private:
    JValue root_;
    SectionMap sections_;
    std::map<uint32_t, uint32_t> image2x_;  // image id -> its 2x asset id
};

// Reads an id the way the loader does: integer, boolean, real (truncated) or
// decimal string; anything else is 0.
int64_t ReadAssetId(const JValue& value);

// Parses a font record (JSON object or null, followed by a line feed).
bool ParseFontRecord(const std::string& bytes, FontRecord& out);

// Tint arithmetic on COLORREF values (0x00BBGGRR).
uint32_t TintColorValue(uint32_t colorref, int hue, int saturation, int lightness);

// One piece of a nine-grid: source and destination rectangles.
struct GridPiece {
    SkinRect src;
    SkinRect dst;
};

// The pieces that draw source rectangle `src` with the margins of `style`
// over `dest` (left, top, right, bottom given as x, y, w, h). The style's
// rectangles and margins are at 1x: `imageScale` says at which scale the
// image that is drawn from holds its art (source rectangles and margins
// multiplied by it), `dpi` the display's scale (the destination's fixed
// margins scaled to it).
std::vector<GridPiece> NineGridPieces(const SkinRect& dest, const ImageStyleValues& style, int imageScale = 1,
                                      int dpi = 96);

// Where the foreground box of `style` lands inside `dest`: its size and
// offset scaled to `dpi`.
SkinRect PlaceForeground(const SkinRect& dest, const ImageStyleValues& style, int dpi = 96);

// Builds a package from a description text and assets (the release tool and
// the tests use it). The description is stored with a line feed and a NUL.
std::string BuildSkinPackage(const std::string& descriptionJson, const std::vector<std::pair<uint32_t, std::string>>& assets);

// The form in which a package is linked into the program: "UIRZ", the
// package's length (32-bit little-endian), then the package deflated with
// zlib (mkskin's CompressSkinPackage). It saves a fifth of the package,
// mostly its description.
constexpr uint8_t kCompressedSkinMagic[4] = {0x55, 0x49, 0x52, 0x5A};
constexpr uint32_t kMaxSkinPackage = 64u << 20;
// Gives back the package of a compressed form; a resource that is not in that
// form is the package itself. False when the compressed form is damaged or
// claims more than kMaxSkinPackage bytes.
bool ExpandSkinResource(const void* data, size_t size, std::string& package);

}  // namespace quillo
