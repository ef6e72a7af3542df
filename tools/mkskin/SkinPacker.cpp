#include "tools/mkskin/SkinPacker.h"

#include <zlib.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "app/AppendedBlock.h"
#include "json/JValue.h"
#include "ui/SkinData.h"

namespace fs = std::filesystem;

namespace quillo {

namespace {

const char kPngSignature[8] = {'\x89', 'P', 'N', 'G', '\r', '\n', '\x1A', '\n'};

bool ReadFile(const fs::path& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool IsPng(const std::string& bytes, uint32_t& width, uint32_t& height) {
    if (bytes.size() < 24 || bytes.compare(0, 8, std::string(kPngSignature, 8)) != 0 ||
        bytes.compare(12, 4, "IHDR") != 0)
        return false;
    auto be32 = [&](size_t at) {
        return (static_cast<uint32_t>(static_cast<uint8_t>(bytes[at])) << 24) |
               (static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 1])) << 16) |
               (static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 2])) << 8) |
               static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 3]));
    };
    width = be32(16);
    height = be32(20);
    return width > 0 && height > 0;
}

// Walks the description and checks every image and font reference.
void CheckReferences(const JValue& node, const std::string& path, const std::set<int64_t>& images,
                     const std::set<int64_t>& fonts, std::vector<std::string>& errors) {
    if (const JValue::ObjectType* members = node.objectItems()) {
        for (const auto& [key, value] : *members) {
            const std::string here = path.empty() ? key : path + "/" + key;
            if ((key == "bi" || key == "fi") && value.type() != JValue::Object) {
                const int64_t id = value.asInt64();
                if (id != 0 && !images.count(id))
                    errors.push_back(here + ": image " + std::to_string(id) + " is not listed in res/images");
            } else if (key == "ft" && value.type() != JValue::Object) {
                const int64_t id = value.asInt64();
                if (id != 0 && !fonts.count(id))
                    errors.push_back(here + ": font " + std::to_string(id) + " is not listed in res/fonts");
            } else if (key == "size" && value.type() == JValue::Array &&
                       (value.size() != 4 || value.at(2).asInt() <= 0 || value.at(3).asInt() <= 0)) {
                errors.push_back(here + ": \"size\" must be [x, y, w, h] with positive w and h");
            } else {
                CheckReferences(value, here, images, fonts, errors);
            }
        }
    }
}

}  // namespace

bool BuildSkinFromFolder(const std::string& skinDir, std::string& package, std::vector<std::string>& errors) {
    const fs::path dir(skinDir);
    std::string text;
    if (!ReadFile(dir / "skin.json", text)) {
        errors.push_back((dir / "skin.json").string() + ": cannot be read");
        return false;
    }
    JValue description;
    JReader reader;
    if (!reader.parse(text, description)) {
        errors.push_back("skin.json: invalid JSON at byte " + std::to_string(reader.errorOffset()) + ": " +
                         reader.errorMessage());
        return false;
    }
    if (description.get("cfg").type() != JValue::Object) errors.push_back("skin.json: \"cfg\" must be an object");
    const JValue& res = description.get("res");
    if (res.type() != JValue::Object) errors.push_back("skin.json: \"res\" must be an object");

    std::vector<std::pair<uint32_t, std::string>> assets;
    std::set<int64_t> ids, images, fonts, doubled;
    std::map<int64_t, std::pair<uint32_t, uint32_t>> imageSizes;  // image id -> width, height
    for (const char* section : {"fonts", "images", kImages2xSection}) {
        const JValue& list = res.get(section);
        // The 2x images are optional: without them the 1x art is scaled.
        const bool twice = std::string(section) == kImages2xSection;
        if (twice && list.type() == JValue::Null) continue;
        if (list.type() != JValue::Array) {
            errors.push_back(std::string("skin.json: \"res\"/\"") + section + "\" must be an array");
            continue;
        }
        for (size_t i = 0; i < list.size(); ++i) {
            const JValue& entry = list.at(i);
            const std::string where = std::string("res/") + section + "[" + std::to_string(i) + "]";
            const JValue& idValue = entry.get("id");
            const int64_t id = idValue.asInt64();
            const std::string name = entry.get("name").asString();
            if (idValue.type() != JValue::Int || id < 1 || id > 0xFFFFFFFFll) {
                errors.push_back(where + ": \"id\" must be an integer from 1");
                continue;
            }
            if (!ids.insert(id).second) {
                errors.push_back(where + ": id " + std::to_string(id) + " is used twice (one id space for all assets)");
                continue;
            }
            if (name.empty() || name.find('/') != std::string::npos || name.find('\\') != std::string::npos ||
                name == "." || name == "..") {
                errors.push_back(where + ": \"name\" must be a plain file name");
                continue;
            }
            std::string bytes;
            const fs::path file = dir / section / name;
            if (!ReadFile(file, bytes)) {
                errors.push_back(where + ": " + file.string() + " cannot be read");
                continue;
            }
            if (twice) {
                // Drawn for image "image" at 150 % and more: the same art at
                // exactly twice its size, one for each image.
                uint32_t w, h;
                const JValue& of = entry.get("image");
                const auto sized = imageSizes.find(of.asInt64());
                if (of.type() != JValue::Int || sized == imageSizes.end()) {
                    errors.push_back(where + ": \"image\" must be the id of an image listed in res/images");
                    continue;
                }
                if (!doubled.insert(of.asInt64()).second) {
                    errors.push_back(where + ": image " + std::to_string(of.asInt64()) + " has a 2x image already");
                    continue;
                }
                if (!IsPng(bytes, w, h)) {
                    errors.push_back(where + ": " + name + " is not a PNG file");
                    continue;
                }
                if (w != 2 * sized->second.first || h != 2 * sized->second.second) {
                    errors.push_back(where + ": " + name + " is " + std::to_string(w) + " x " + std::to_string(h) +
                                     ", not twice image " + std::to_string(of.asInt64()) + " (" +
                                     std::to_string(sized->second.first) + " x " +
                                     std::to_string(sized->second.second) + ")");
                    continue;
                }
            } else if (std::string(section) == "images") {
                uint32_t w, h;
                if (!IsPng(bytes, w, h)) {
                    errors.push_back(where + ": " + name + " is not a PNG file");
                    continue;
                }
                images.insert(id);
                imageSizes[id] = {w, h};
            } else {
                if (bytes.empty() || bytes.back() != '\n') bytes.push_back('\n');
                FontRecord record;
                if (!ParseFontRecord(bytes, record)) {
                    errors.push_back(where + ": " + name + " is not a font record (a JSON object or null)");
                    continue;
                }
                fonts.insert(id);
            }
            assets.emplace_back(static_cast<uint32_t>(id), bytes);
        }
    }
    CheckReferences(description.get("cfg"), "cfg", images, fonts, errors);
    if (!errors.empty()) return false;

    std::sort(assets.begin(), assets.end());
    package = BuildSkinPackage(JWriter::write(description), assets);
    return true;
}

bool PackSkin(const std::string& skinDir, const std::string& outPath, std::vector<std::string>& errors) {
    std::string package;
    if (!BuildSkinFromFolder(skinDir, package, errors)) return false;
    const std::string temp = outPath + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(package.data(), static_cast<std::streamsize>(package.size()));
        out.close();
        if (!out) {
            std::remove(temp.c_str());
            errors.push_back("cannot write " + temp);
            return false;
        }
    }
    std::error_code ec;
    fs::rename(temp, outPath, ec);
    if (ec) {
        std::remove(temp.c_str());
        errors.push_back("cannot move the package into place: " + ec.message());
        return false;
    }
    return true;
}

int InspectSkin(const std::string& path, std::string& report) {
    std::string bytes;
    if (!ReadFile(path, bytes)) {
        report = path + ": cannot be read\n";
        return 1;
    }
    SkinData skin;
    if (!skin.LoadFromMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size())) {
        report = path + ": not a skin package (no \".uir\" magic)\n";
        return 1;
    }
    char line[512];
    std::snprintf(line, sizeof line, "package: %s (%zu bytes), description %" PRIu32 " bytes\n", path.c_str(),
                  bytes.size(), bytes.size() >= 8 ? LoadLe32(reinterpret_cast<const uint8_t*>(bytes.data()) + 4) : 0);
    report += line;
    const JValue* cfg = skin.GetNode("");
    const JValue::ObjectType* windows = cfg ? cfg->objectItems() : nullptr;
    if (!windows) {
        report += "description: missing or unreadable (the skin is empty)\n";
        return 1;
    }
    for (const auto& [window, elements] : *windows) {
        const SkinRect size = skin.GetRect("size", &elements);
        std::snprintf(line, sizeof line, "window %s%s\n", window.c_str(),
                      size.w > 0 ? (" " + std::to_string(size.w) + " x " + std::to_string(size.h)).c_str() : "");
        report += line;
        if (const JValue::ObjectType* members = elements.objectItems()) {
            for (const auto& [name, element] : *members) {
                if (element.type() != JValue::Object) continue;
                const int32_t id = skin.GetInt("id", &element);
                report += "  " + name + (id ? "  id " + std::to_string(id) : std::string()) + "\n";
            }
        }
    }
    for (const auto& [section, assets] : skin.sections()) {
        for (const auto& [id, data] : assets) {
            uint32_t w = 0, h = 0;
            if (IsPng(data, w, h))
                std::snprintf(line, sizeof line, "asset %" PRIu32 " in %s: PNG %" PRIu32 " x %" PRIu32 ", %zu bytes\n",
                              id, section.c_str(), w, h, data.size());
            else
                std::snprintf(line, sizeof line, "asset %" PRIu32 " in %s: %zu bytes\n", id, section.c_str(),
                              data.size());
            report += line;
        }
    }
    return 0;
}

std::string CompressSkinPackage(const std::string& package) {
    uLongf bound = compressBound(static_cast<uLong>(package.size()));
    std::string out(8 + bound, '\0');
    std::memcpy(&out[0], kCompressedSkinMagic, 4);
    StoreLe32(reinterpret_cast<uint8_t*>(&out[4]), static_cast<uint32_t>(package.size()));
    if (compress2(reinterpret_cast<Bytef*>(&out[8]), &bound, reinterpret_cast<const Bytef*>(package.data()),
                  static_cast<uLong>(package.size()), Z_BEST_COMPRESSION) != Z_OK)
        return std::string();
    out.resize(8 + bound);
    return out;
}

}  // namespace quillo
