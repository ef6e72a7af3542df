// The skin package loader, then path queries against what it loaded.
//
// Input: byte 0 is the length q of the query text that follows it (cut to
// what is there); the query text holds one path per line (the first 16 are
// asked); the rest of the input is the package. Each path is asked with every query, first below
// the root's "cfg", then below the node the previous path found.
//
// What must hold for every input:
//  - loading and querying never crash, read past the package or leak;
//  - a package without the magic loads as false and leaves the skin as it was;
//  - queries agree with GetNode: a rectangle, point or colour comes only from
//    an array of exactly 4, 2 or 3 elements, an integer only from an integer;
//  - every asset kept is reachable by GetBlob unless it is empty, and a font
//    asset parses or fails without harm.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "json/JValue.h"
#include "ui/SkinData.h"

namespace {

using namespace quillo;

[[noreturn]] void Fail(const char* what, const std::string& path) {
    std::fprintf(stderr, "skin_package: %s (path \"%s\")\n", what, path.c_str());
    std::abort();
}

constexpr int kMaxQueries = 16;

bool IsArrayOf(const JValue* node, size_t n) { return node && node->type() == JValue::Array && node->size() == n; }

void Query(const SkinData& skin, const std::string& path, const JValue* parent, const JValue*& found) {
    const JValue* node = skin.GetNode(path, parent);
    found = node ? node : found;

    const int32_t i = skin.GetInt(path, parent);
    if (i != 0 && !(node && node->type() == JValue::Int)) Fail("GetInt read a node that is not an integer", path);

    const SkinRect r = skin.GetRect(path, parent);
    if (!(r == SkinRect()) && !IsArrayOf(node, 4)) Fail("GetRect read a node that is not 4 elements", path);

    int32_t x = 1, y = 1;
    skin.GetPoint(path, parent, x, y);
    if ((x != 0 || y != 0) && !IsArrayOf(node, 2)) Fail("GetPoint read a node that is not 2 elements", path);

    const uint32_t color = skin.GetColor(path, parent);
    if (color != 0 && !IsArrayOf(node, 3)) Fail("GetColor read a node that is not 3 elements", path);

    const ImageStyleValues image = skin.GetImageStyleValues(path, parent, [&skin](int32_t id) {
        std::string bytes;
        return id > 0 && skin.GetBlob("images", static_cast<uint32_t>(id), bytes);
    });
    if (!node && (image.image != 0 || image.foreImage != 0)) Fail("an image style without a node", path);

    const TextStyleValues text = skin.GetTextStyleValues(path, parent);
    if (!node && (text.font != 0 || !text.text.empty())) Fail("a text style without a node", path);
    if (text.font > 0) {
        std::string bytes;
        FontRecord record;
        if (skin.GetBlob("fonts", static_cast<uint32_t>(text.font), bytes)) ParseFontRecord(bytes, record);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t q = data[0] < size - 1 ? data[0] : size - 1;
    const std::string queries(reinterpret_cast<const char*>(data + 1), q);
    const uint8_t* package = data + 1 + q;
    const size_t packageSize = size - 1 - q;

    SkinData skin;
    const bool magic = packageSize >= 4 && std::memcmp(package, kSkinMagic, 4) == 0;
    if (!magic) {
        // A package without the magic must leave the skin loaded before alone.
        static const std::string kEarlier =
            BuildSkinPackage("{\"cfg\":{\"a\":1},\"res\":{\"images\":[{\"id\":7}]}}", {{7, "x"}});
        skin.LoadFromMemory(reinterpret_cast<const uint8_t*>(kEarlier.data()), kEarlier.size());
    }
    const std::string before = JWriter::write(skin.root());
    const size_t sectionsBefore = skin.sections().size();
    const bool loaded = skin.LoadFromMemory(package, packageSize);
    if (loaded != magic) Fail("the loader's answer does not follow the magic", "");
    if (!loaded && (JWriter::write(skin.root()) != before || skin.sections().size() != sectionsBefore))
        Fail("a rejected package changed the skin", "");

    for (const auto& [name, assets] : skin.sections()) {
        for (const auto& [id, bytes] : assets) {
            std::string got;
            if (skin.GetBlob(name, id, got) != !bytes.empty() || got != (bytes.empty() ? std::string() : bytes))
                Fail("GetBlob does not give the asset kept", name);
            if (name == "fonts") {
                FontRecord record;
                ParseFontRecord(bytes, record);
            }
        }
    }

    // The screens ask a handful of paths per element; more lines are ignored.
    const JValue* previous = nullptr;
    size_t start = 0;
    for (int asked = 0; asked < kMaxQueries && start <= queries.size(); ++asked) {
        size_t end = queries.find('\n', start);
        if (end == std::string::npos) end = queries.size();
        const std::string path = queries.substr(start, end - start);
        const JValue* found = nullptr;
        Query(skin, path, nullptr, found);
        if (previous) Query(skin, path, previous, found);
        previous = found;
        start = end + 1;
    }
    return 0;
}
