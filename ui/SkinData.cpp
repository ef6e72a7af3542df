#include "ui/SkinData.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "app/AppendedBlock.h"
#include "ui/DpiScale.h"

#include <zlib.h>

namespace quillo {

namespace {

const char* const kFontMembers[] = {"Height",       "Width",         "Escapement", "Orientation", "Weight",
                                    "Italic",       "Underline",     "StrikeOut",  "CharSet",     "OutPrecision",
                                    "ClipPrecision", "Quality",      "PitchAndFamily"};

int32_t Element(const JValue& array, size_t i) { return array.at(i).asInt(); }

uint32_t ColorFrom(const JValue& array) {
    return static_cast<uint32_t>(Element(array, 0)) + 256u * static_cast<uint32_t>(Element(array, 1)) +
           65536u * static_cast<uint32_t>(Element(array, 2));
}

int Clamp(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

double HueToChannel(double p, double q, double t) {
    if (t < 0) t += 1;
    if (t > 1) t -= 1;
    if (t < 1.0 / 6) return p + (q - p) * 6 * t;
    if (t < 1.0 / 2) return q;
    if (t < 2.0 / 3) return p + (q - p) * (2.0 / 3 - t) * 6;
    return p;
}

int ChannelByte(double v) { return Clamp(static_cast<int>(v * 255), 0, 255); }

}  // namespace

int64_t ReadAssetId(const JValue& value) {
    switch (value.type()) {
        case JValue::Int: return value.asInt64();
        case JValue::Bool: return value.asBool() ? 1 : 0;
        case JValue::Real: {
            const double d = value.asDouble();
            if (!(d > -9.2e18 && d < 9.2e18)) return 0;
            return static_cast<int64_t>(d);
        }
        case JValue::String: return std::strtoll(value.asCString(), nullptr, 10);
        default: return 0;
    }
}

bool SkinData::LoadFromMemory(const uint8_t* data, size_t size) {
    if (!data || size < 4 || std::memcmp(data, kSkinMagic, 4) != 0) return false;
    root_ = JValue();
    sections_.clear();
    image2x_.clear();

    // Every length is checked against what is left, so a damaged package
    // loads as far as it can be read and never beyond.
    std::string description;
    std::map<uint32_t, std::string> assets;
    size_t pos = 4;
    if (size - pos >= 4) {
        const uint32_t jsonLength = LoadLe32(data + pos);
        pos += 4;
        if (jsonLength <= size - pos) {
            description.assign(reinterpret_cast<const char*>(data + pos), jsonLength);
            pos += jsonLength;
            if (size - pos >= 4) {
                const uint32_t count = LoadLe32(data + pos);
                pos += 4;
                for (uint32_t i = 0; i < count && size - pos >= 8; ++i) {
                    const uint32_t id = LoadLe32(data + pos);
                    const uint32_t length = LoadLe32(data + pos + 4);
                    if (length > size - pos - 8) break;
                    assets[id].assign(reinterpret_cast<const char*>(data + pos + 8), length);
                    pos += 8 + static_cast<size_t>(length);
                }
            }
        }
    }

    JReader reader;
    reader.parse(description.data(), description.size(), root_);  // a failure leaves an empty skin

    if (const JValue::ObjectType* res = root_.get("res").objectItems()) {
        for (const auto& [name, list] : *res) {
            const JValue::ArrayType* entries = list.arrayItems();
            if (!entries) continue;
            for (const JValue& entry : *entries) {
                const int64_t id = ReadAssetId(entry.get("id"));
                if (id < 0 || id > 0xFFFFFFFFll) continue;
                auto it = assets.find(static_cast<uint32_t>(id));
                if (it == assets.end()) continue;
                sections_[name][it->first] = std::move(it->second);
                assets.erase(it);
            }
        }
    }
    // The 2x images name the image they stand for; one whose asset is
    // missing is left out, and the 1x image is drawn scaled instead.
    if (const JValue::ArrayType* doubles = root_.get("res").get(kImages2xSection).arrayItems()) {
        const auto loaded = sections_.find(kImages2xSection);
        for (const JValue& entry : *doubles) {
            const int64_t id = ReadAssetId(entry.get("id"));
            const int64_t image = ReadAssetId(entry.get("image"));
            if (id <= 0 || id > 0xFFFFFFFFll || image <= 0 || image > 0xFFFFFFFFll) continue;
            if (loaded == sections_.end() || !loaded->second.count(static_cast<uint32_t>(id))) continue;
            image2x_[static_cast<uint32_t>(image)] = static_cast<uint32_t>(id);
        }
    }
    return true;
}

uint32_t SkinData::Image2xId(uint32_t id) const {
    const auto found = image2x_.find(id);
    return found == image2x_.end() ? 0 : found->second;
}

const JValue* SkinData::GetNode(const std::string& path, const JValue* parent) const {
    const JValue* node = parent ? parent : &root_.get("cfg");
    size_t start = 0;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string::npos) slash = path.size();
        if (slash > start) {
            const std::string piece = path.substr(start, slash - start);
            if (!node->isMember(piece)) return nullptr;
            node = &node->get(piece);
        }
        start = slash + 1;
    }
    return node;
}

int32_t SkinData::GetInt(const std::string& path, const JValue* parent) const {
    const JValue* node = GetNode(path, parent);
    return node && node->type() == JValue::Int ? node->asInt() : 0;
}

SkinRect SkinData::GetRect(const std::string& path, const JValue* parent) const {
    const JValue* node = GetNode(path, parent);
    SkinRect r;
    if (node && node->type() == JValue::Array && node->size() == 4) {
        r.x = Element(*node, 0);
        r.y = Element(*node, 1);
        r.w = Element(*node, 2);
        r.h = Element(*node, 3);
    }
    return r;
}

void SkinData::GetPoint(const std::string& path, const JValue* parent, int32_t& x, int32_t& y) const {
    const JValue* node = GetNode(path, parent);
    const bool ok = node && node->type() == JValue::Array && node->size() == 2;
    x = ok ? Element(*node, 0) : 0;
    y = ok ? Element(*node, 1) : 0;
}

uint32_t SkinData::GetColor(const std::string& path, const JValue* parent) const {
    const JValue* node = GetNode(path, parent);
    return node && node->type() == JValue::Array && node->size() == 3 ? ColorFrom(*node) : 0;
}

ImageStyleValues SkinData::GetImageStyleValues(const std::string& path, const JValue* parent,
                                               const std::function<bool(int32_t)>& imageLoads) const {
    ImageStyleValues s;
    const JValue* node = GetNode(path, parent);
    if (!node) return s;
    if (node->isMember("bi")) {
        const int32_t id = node->get("bi").asInt();
        if (imageLoads(id)) {
            const JValue& bg = node->get("bg");
            s.srcX = Element(bg, 0);
            s.srcY = Element(bg, 1);
            s.srcW = Element(bg, 2);
            s.srcH = Element(bg, 3);
            s.colorKey = ColorFrom(node->get("bc"));
            const JValue& mg = node->get("mg");
            s.marginL = Element(mg, 0);
            s.marginT = Element(mg, 1);
            s.marginR = Element(mg, 2);
            s.marginB = Element(mg, 3);
            s.mode = node->get("md").asInt();
            s.image = id;
        }
    }
    if (node->isMember("fi")) {
        const int32_t id = node->get("fi").asInt();
        if (imageLoads(id)) {
            const JValue& fg = node->get("fg");
            s.foreX = Element(fg, 0);
            s.foreY = Element(fg, 1);
            s.foreW = Element(fg, 2);
            s.foreH = Element(fg, 3);
            s.foreKey = ColorFrom(node->get("fc"));
            s.foreImage = id;
            s.foreAlign = node->get("al").asInt();
            const JValue& of = node->get("of");
            s.foreOffsetX = Element(of, 0);
            s.foreOffsetY = Element(of, 1);
        }
    }
    return s;
}

TextStyleValues SkinData::GetTextStyleValues(const std::string& path, const JValue* parent) const {
    TextStyleValues t;
    const JValue* node = GetNode(path, parent);
    if (!node) return t;
    t.font = node->get("ft").asInt();
    t.align = node->get("al").asInt();
    t.color = static_cast<uint32_t>(node->get("cr").asInt());
    const JValue& of = node->get("of");
    t.offsetX = Element(of, 0);
    t.offsetY = Element(of, 1);
    t.text = node->get("tx").asString();
    return t;
}

bool SkinData::GetBlob(const std::string& section, uint32_t id, std::string& bytes) const {
    const auto s = sections_.find(section);
    if (s == sections_.end()) return false;
    const auto a = s->second.find(id);
    if (a == s->second.end() || a->second.empty()) return false;
    bytes = a->second;
    return true;
}

bool ParseFontRecord(const std::string& bytes, FontRecord& out) {
    out = FontRecord();
    JValue record;
    JReader reader;
    if (!reader.parse(bytes, record)) return false;
    if (record.type() == JValue::Null) {
        out.isNull = true;
        return true;
    }
    if (record.type() != JValue::Object) return false;
    for (const char* name : kFontMembers) {
        const int32_t v = record.get(name).asInt();
        if (v != 0) out.integers[name] = v;
    }
    out.faceName = record.get("FaceName").asString();
    return true;
}

uint32_t TintColorValue(uint32_t colorref, int hue, int saturation, int lightness) {
    if (hue == 0 && saturation == 0 && lightness == 0) return colorref;
    int hueTable[256], satTable[256], lightTable[256];
    const int h = Clamp(hue, -180, 180);
    const int s255 = Clamp(saturation, -100, 100) * 255 / 100;
    for (int i = 0; i < 256; ++i) {
        int e = i + h * 255 / 360;
        if (e < 0) e += 255;
        else if (e > 255) e -= 255;
        hueTable[i] = e;
        satTable[i] = Clamp((s255 + 255) * i / 255, 0, 255);
        lightTable[i] = Clamp(lightness <= 0 ? i + lightness * i / 200 : i + lightness * (255 - i) / 200, 0, 255);
    }

    const double r = (colorref & 0xFF) / 255.0, g = ((colorref >> 8) & 0xFF) / 255.0,
                 b = ((colorref >> 16) & 0xFF) / 255.0;
    const double mx = std::max({r, g, b}), mn = std::min({r, g, b});
    const double l = (mx + mn) / 2;
    double hh = 0, ss = 0;
    if (mx != mn) {
        const double d = mx - mn;
        ss = l > 0.5 ? d / (2 - mx - mn) : d / (mx + mn);
        if (mx == r) hh = (g - b) / d + (g < b ? 6 : 0);
        else if (mx == g) hh = (b - r) / d + 2;
        else hh = (r - g) / d + 4;
        hh /= 6;
    }
    hh = hueTable[Clamp(static_cast<int>(hh * 255), 0, 255)] / 255.0;
    ss = satTable[Clamp(static_cast<int>(ss * 255), 0, 255)] / 255.0;

    int out[3];
    if (ss == 0) {
        out[0] = out[1] = out[2] = ChannelByte(l);
    } else {
        const double q = l < 0.5 ? l * (1 + ss) : l + ss - l * ss;
        const double p = 2 * l - q;
        out[0] = ChannelByte(HueToChannel(p, q, hh + 1.0 / 3));
        out[1] = ChannelByte(HueToChannel(p, q, hh));
        out[2] = ChannelByte(HueToChannel(p, q, hh - 1.0 / 3));
    }
    return static_cast<uint32_t>(lightTable[out[0]]) | (static_cast<uint32_t>(lightTable[out[1]]) << 8) |
           (static_cast<uint32_t>(lightTable[out[2]]) << 16);
}

std::vector<GridPiece> NineGridPieces(const SkinRect& dest, const ImageStyleValues& s, int imageScale, int dpi) {
    std::vector<GridPiece> pieces;
    if (dest.w <= 0 || dest.h <= 0 || s.srcW <= 0 || s.srcH <= 0) return pieces;
    const int32_t k = imageScale > 1 ? imageScale : 1;
    const int32_t L = dest.x, T = dest.y, R = dest.x + dest.w, B = dest.y + dest.h, W = dest.w, H = dest.h;
    // Source margins in the image's pixels, destination margins in the display's.
    const int32_t ml = s.marginL * k, mt = s.marginT * k, mr = s.marginR * k, mb = s.marginB * k;
    const int32_t dl = ScaleToDpi(s.marginL, dpi), dt = ScaleToDpi(s.marginT, dpi), dr = ScaleToDpi(s.marginR, dpi),
                  db = ScaleToDpi(s.marginB, dpi);
    const int32_t sx = s.srcX * k, sy = s.srcY * k, sw = s.srcW * k, sh = s.srcH * k;
    struct Row {
        bool on;
        int32_t sy, sh, dy, dh;
    };
    const Row rows[3] = {
        {mt > 0, sy, mt, T, dt},
        {mt + mb < sh, sy + mt, sh - mt - mb, T + dt, H - dt - db},
        {mb > 0, sy + sh - mb, mb, B - db, db},
    };
    for (const Row& row : rows) {
        if (!row.on) continue;
        if (ml > 0) pieces.push_back({{sx, row.sy, ml, row.sh}, {L, row.dy, dl, row.dh}});
        if (ml + mr < sw)
            pieces.push_back({{sx + ml, row.sy, sw - ml - mr, row.sh}, {L + dl, row.dy, W - dl - dr, row.dh}});
        if (mr > 0) pieces.push_back({{sx + sw - mr, row.sy, mr, row.sh}, {R - dr, row.dy, dr, row.dh}});
    }
    return pieces;
}

SkinRect PlaceForeground(const SkinRect& dest, const ImageStyleValues& s, int dpi) {
    const int32_t L = dest.x, T = dest.y, R = dest.x + dest.w, B = dest.y + dest.h;
    const int32_t fw = ScaleToDpi(s.foreW, dpi), fh = ScaleToDpi(s.foreH, dpi);
    const int32_t cx = (L + R) / 2 - fw / 2, cy = (T + B) / 2 - fh / 2;
    int32_t x = cx, y = cy;
    switch (s.foreAlign) {
        case 1: x = L; y = T; break;
        case 2: y = T; break;
        case 4: x = R - fw; y = T; break;
        case 8: x = L; break;
        case 16: x = R - fw; break;
        case 32: x = L; y = B - fh; break;
        case 64: y = B - fh; break;
        case 128: x = R - fw; y = B - fh; break;
        default: break;
    }
    return {x + ScaleToDpi(s.foreOffsetX, dpi), y + ScaleToDpi(s.foreOffsetY, dpi), fw, fh};
}

std::string BuildSkinPackage(const std::string& descriptionJson,
                             const std::vector<std::pair<uint32_t, std::string>>& assets) {
    std::string description = descriptionJson;
    if (description.empty() || description.back() != '\n') description.push_back('\n');
    description.push_back('\0');
    auto le32 = [](std::string& out, uint32_t v) {
        uint8_t b[4];
        StoreLe32(b, v);
        out.append(reinterpret_cast<const char*>(b), 4);
    };
    std::string out(reinterpret_cast<const char*>(kSkinMagic), 4);
    le32(out, static_cast<uint32_t>(description.size()));
    out += description;
    le32(out, static_cast<uint32_t>(assets.size()));
    for (const auto& [id, bytes] : assets) {
        le32(out, id);
        le32(out, static_cast<uint32_t>(bytes.size()));
        out += bytes;
    }
    return out;
}

bool ExpandSkinResource(const void* data, size_t size, std::string& package) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (size < 8 || std::memcmp(bytes, kCompressedSkinMagic, 4) != 0) {
        package.assign(reinterpret_cast<const char*>(bytes), size);
        return true;
    }
    const uint32_t length = LoadLe32(bytes + 4);
    if (length > kMaxSkinPackage) return false;
    package.assign(length, '\0');
    uLongf got = length;
    if (uncompress(reinterpret_cast<Bytef*>(&package[0]), &got, bytes + 8, static_cast<uLong>(size - 8)) != Z_OK ||
        got != length) {
        package.clear();
        return false;
    }
    return true;
}

}  // namespace quillo
