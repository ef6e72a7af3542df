// Builds the skin package (".uir") from a skin source folder and describes
// packages: skin.json (the description with "cfg" and "res"), images/*.png
// and fonts/*.json named by the "res" lists.
#pragma once

#include <string>
#include <vector>

namespace quillo {

// Packs `skinDir` into `outPath` (written through a temporary file). False
// with every problem found in `errors`.
bool PackSkin(const std::string& skinDir, const std::string& outPath, std::vector<std::string>& errors);

// The package bytes for `skinDir`, without writing them.
bool BuildSkinFromFolder(const std::string& skinDir, std::string& package, std::vector<std::string>& errors);

// Lists windows, elements (with their ids) and assets. Returns 0 when the
// package loads, 1 when its magic is wrong or its description does not parse.
int InspectSkin(const std::string& path, std::string& report);

// The compressed form that the program links (see ExpandSkinResource);
// empty when compression fails.
std::string CompressSkinPackage(const std::string& package);

}  // namespace quillo
