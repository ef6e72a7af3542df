// The uninstall manifest: what an installation created, stored as the JSON
// block of unins000.exe. Paths are stored as base64 of their UTF-8 text.
#pragma once

#include <string>
#include <vector>

#include "json/JValue.h"

namespace quillo {

constexpr const char* kManifestFiles = "files";
constexpr const char* kManifestFolders = "folders";
// 1 when the installation folder was new or empty before the files were
// written, 0 when it already held other files; then removal takes only what
// was installed. A manifest without it is removed folder by folder.
constexpr const char* kManifestFreshRoot = "freshroot";

// Appends base64(UTF-8(path)) at the next index of manifest[key].
void AppendManifestPath(JValue& manifest, const char* key, const std::wstring& path);

// Adds the members that the installation writes once the files are in place:
// "mode" 0, "setup" with "root" and the setup block's "shortcut" (null when the
// block has none), "channel", and "uninstrun" only when the block has it.
void CompleteManifest(JValue& manifest, int channel, const std::wstring& installDir, const JValue& setupBlock);

// The decoded paths of manifest[key]; entries that are not base64 strings are passed over.
std::vector<std::wstring> ManifestPaths(const JValue& manifest, const char* key);

// The decoded "setup"/"root"; empty when absent or not decodable.
std::wstring ManifestRoot(const JValue& manifest);

}  // namespace quillo
