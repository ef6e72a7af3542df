// Builds setup files: the stub executable with the locator written into its
// DOS header, the setup block, the package and the optional sections.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace quillo {

struct PackOptions {
    std::string stubPath;
    std::string blockPath;                                   // JSON file; empty: {"mode":1}
    std::vector<std::pair<std::string, std::string>> sets;   // key, JSON text (or a plain string)
    std::string packagePath;                                 // ZIP file or folder
    std::string extraPath;                                   // optional DLL
    std::string driverPath;                                  // optional driver ZIP
    std::string outputPath;
    bool allowArchNames = false;  // only warn about names the architecture filter skips outside x86/ and x64/
};

// Writes the setup file through a temporary file that is renamed into place,
// so a failure never leaves a half-written output. False with a message, also
// for a package the program would reject or not install whole.
bool PackSetup(const PackOptions& options, std::string& error, std::vector<std::string>& warnings);

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error);

}  // namespace quillo
