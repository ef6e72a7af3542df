#include "app/UninstallManifest.h"

#include "base/Base64.h"
#include "base/TextCodec.h"

namespace quillo {

namespace {

bool DecodePath(const JValue& value, std::wstring& path) {
    if (value.type() != JValue::String) return false;
    std::string utf8;
    if (!Base64Decode(value.asString(), utf8)) return false;
    path = Utf8ToWide(utf8);
    return true;
}

}  // namespace

void AppendManifestPath(JValue& manifest, const char* key, const std::wstring& path) {
    JValue& list = manifest[key];
    const int next = list.type() == JValue::Array ? static_cast<int>(list.size()) : 0;
    list[next] = Base64Encode(WideToUtf8(path));
}

void CompleteManifest(JValue& manifest, int channel, const std::wstring& installDir, const JValue& setupBlock) {
    manifest["mode"] = 0;
    JValue& setup = manifest["setup"];
    setup["shortcut"] = setupBlock.get("shortcut");
    setup["root"] = Base64Encode(WideToUtf8(installDir));
    manifest["channel"] = channel;
    if (setupBlock.isMember("uninstrun")) manifest["uninstrun"] = setupBlock.get("uninstrun");
}

std::vector<std::wstring> ManifestPaths(const JValue& manifest, const char* key) {
    std::vector<std::wstring> paths;
    const JValue& list = manifest.get(key);
    if (const JValue::ArrayType* items = list.arrayItems()) {
        for (const JValue& item : *items) {
            std::wstring path;
            if (DecodePath(item, path)) paths.push_back(path);
        }
    }
    return paths;
}

std::wstring ManifestRoot(const JValue& manifest) {
    std::wstring root;
    if (!DecodePath(manifest.get("setup").get("root"), root)) root.clear();
    return root;
}

}  // namespace quillo
