#include "tools/mksetup/SetupPacker.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>

#include <unistd.h>

#include "app/AppendedBlock.h"
#include "base/Md5.h"
#include "json/JValue.h"
#include "tools/mksetup/PackageCheck.h"
#include "tools/mksetup/PeFile.h"
#include "tools/mksetup/ZipFolder.h"

namespace fs = std::filesystem;

namespace quillo {

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) {
        error = "cannot read " + path + ": not a file";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0);
    if (size < 0 || static_cast<uint64_t>(size) > std::numeric_limits<uint32_t>::max()) {
        error = path + " is 4 GiB or larger";
        return false;
    }
    bytes.resize(static_cast<size_t>(size));
    if (size && !in.read(reinterpret_cast<char*>(bytes.data()), size)) {
        error = "cannot read " + path;
        return false;
    }
    return true;
}

namespace {

// Removes a file at scope exit unless released.
class TempFile {
public:
    explicit TempFile(std::string path) : path_(std::move(path)) {}
    ~TempFile() {
        if (!path_.empty()) std::remove(path_.c_str());
    }
    const std::string& path() const { return path_; }
    void release() { path_.clear(); }

private:
    std::string path_;
};

std::string TempNameBeside(const std::string& output) {
    return output + ".tmp" + std::to_string(getpid());
}

bool LoadBlock(const PackOptions& options, JValue& block, std::string& error) {
    if (options.blockPath.empty()) {
        block["mode"] = 1;
    } else {
        std::vector<uint8_t> text;
        if (!ReadWholeFile(options.blockPath, text, error)) return false;
        JReader reader;
        if (!reader.parse(reinterpret_cast<const char*>(text.data()), text.size(), block)) {
            error = options.blockPath + ": invalid JSON: " + reader.errorMessage();
            return false;
        }
        if (block.type() != JValue::Object) {
            error = options.blockPath + ": the setup block must be a JSON object";
            return false;
        }
    }
    for (const auto& [key, text] : options.sets) {
        JValue value;
        JReader reader;
        // A value that is not JSON is taken as a plain string: --set lastrun=Quillo.exe
        if (!reader.parse(text, value)) value = JValue(text);
        block[key] = value;
    }
    if (!block.isMember("mode")) {
        error = "the setup block has no \"mode\"; the program would reject it (use --set mode=1)";
        return false;
    }
    return true;
}

bool LoadPackage(const std::string& path, const std::string& scratch, std::vector<uint8_t>& bytes,
                 std::string& error) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
        TempFile zip(scratch);
        if (!ZipFolder(path, zip.path(), error)) return false;
        return ReadWholeFile(zip.path(), bytes, error);
    }
    return ReadWholeFile(path, bytes, error);
}

// "a; b; c and 4 more"
std::string JoinSome(const std::vector<std::string>& items) {
    constexpr size_t kShown = 10;
    std::string text;
    for (size_t i = 0; i < items.size() && i < kShown; ++i) text += (i ? "; " : "") + items[i];
    if (items.size() > kShown) text += " and " + std::to_string(items.size() - kShown) + " more";
    return text;
}

// Refuses a package the program would reject or not install whole. Names
// the architecture filter skips outside the x86/ and x64/ folders are refused
// unless allowed, and then only reported.
bool CheckPackage(const std::string& path, const std::vector<uint8_t>& bytes, bool allowArchNames,
                  std::string& error, std::vector<std::string>& warnings) {
    std::vector<PackageEntry> entries;
    if (!ReadZipEntries(bytes.data(), bytes.size(), entries, error)) {
        error = path + ": " + error;
        return false;
    }
    const PackageFindings found = CheckPackageEntries(entries);
    if (!found.unwritable.empty()) {
        error = path + ": the program cannot write " + JoinSome(found.unwritable);
        return false;
    }
    for (const std::string& name : found.ansiNames)
        warnings.push_back(name + ": no UTF-8 flag, so the program decodes the name with the Windows ANSI code page "
                                  "(as GBK on Chinese systems, as 1252 on Western ones)");
    for (const std::string& name : found.badUtf8)
        warnings.push_back(name + ": has the UTF-8 flag but is not valid UTF-8 (installed with U+FFFD in its name)");
    std::vector<std::string> arch;
    for (const ArchName& name : found.archNames) arch.push_back(ArchNameText(name));
    if (!arch.empty() && !allowArchNames) {
        error = path + ": the program's architecture filter skips " + JoinSome(arch) +
                "; move such files into the top-level x86/ or x64/ folder, rename them, or pass --allow-arch-names";
        return false;
    }
    warnings.insert(warnings.end(), arch.begin(), arch.end());
    for (const std::string& line : ArchFolderSummary(found)) warnings.push_back(line);
    return true;
}

void AppendLe32(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t bytes[4];
    StoreLe32(bytes, value);
    out.insert(out.end(), bytes, bytes + 4);
}

void AppendSection(std::vector<uint8_t>& out, const std::vector<uint8_t>& data) {
    AppendLe32(out, static_cast<uint32_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
}

}  // namespace

bool PackSetup(const PackOptions& options, std::string& error, std::vector<std::string>& warnings) {
    if (options.stubPath.empty() || options.packagePath.empty() || options.outputPath.empty()) {
        error = "--stub, --package and --out are required";
        return false;
    }
    std::vector<uint8_t> stub;
    if (!ReadWholeFile(options.stubPath, stub, error)) return false;
    PeInfo pe;
    if (!ParsePe(stub.data(), stub.size(), pe, error)) {
        error = options.stubPath + ": " + error;
        return false;
    }
    if (pe.locator != 0) {
        error = options.stubPath + ": the four bytes in front of the PE signature are not zero (already a setup file?)";
        return false;
    }
    if (pe.imageEnd != stub.size()) {
        error = options.stubPath + ": " + std::to_string(stub.size() - pe.imageEnd) +
                " bytes follow the last section (an overlay or a signature); use an unsigned stub";
        return false;
    }

    JValue block;
    if (!LoadBlock(options, block, error)) return false;

    std::vector<uint8_t> package, extra, driver;
    if (!LoadPackage(options.packagePath, TempNameBeside(options.outputPath) + ".zip", package, error) ||
        !CheckPackage(options.packagePath, package, options.allowArchNames, error, warnings))
        return false;
    if (!options.extraPath.empty() && !ReadWholeFile(options.extraPath, extra, error)) return false;
    if (!options.driverPath.empty()) {
        if (!IsReadableZip(options.driverPath, error) || !ReadWholeFile(options.driverPath, driver, error))
            return false;
    }

    // The sections carry no tags: the block alone says which ones follow.
    const bool extraPack = !block.isMember("extrapack") || block.get("extrapack").asBool();
    if (!options.extraPath.empty() && !extraPack) {
        error = "an extra section is given but \"extrapack\" is false: the program would not read it";
        return false;
    }
    if (!options.driverPath.empty() && extraPack && options.extraPath.empty()) {
        error = "\"extrapack\" is true (or absent), so a driver section must follow an extra section: give --extra "
                "or set extrapack=false";
        return false;
    }
    if (!options.driverPath.empty() && !block.get("ituneslite64").asBool() && !block.get("ituneslite32").asBool())
        warnings.push_back("a driver section is given but neither \"ituneslite64\" nor \"ituneslite32\" is set");
    if (extraPack && options.extraPath.empty())
        warnings.push_back("\"extrapack\" is true (or absent) but no extra section is given");

    block["md5"] = Md5Hex(package.data(), package.size());
    const std::string text = JWriter::write(block);

    const uint64_t total = stub.size() + 4ull + text.size() + 4ull + package.size() +
                           (options.extraPath.empty() ? 0 : 4ull + extra.size()) +
                           (options.driverPath.empty() ? 0 : 4ull + driver.size());
    if (total > std::numeric_limits<uint32_t>::max()) {
        error = "the setup file would be 4 GiB or larger; its offsets are 32-bit";
        return false;
    }

    std::vector<uint8_t> out;
    out.reserve(static_cast<size_t>(total));
    out = stub;
    StoreLe32(out.data() + pe.lfanew - 4, static_cast<uint32_t>(stub.size()));
    AppendLe32(out, static_cast<uint32_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
    AppendSection(out, package);
    if (!options.extraPath.empty()) AppendSection(out, extra);
    if (!options.driverPath.empty()) AppendSection(out, driver);

    TempFile temp(TempNameBeside(options.outputPath));
    {
        std::ofstream file(temp.path(), std::ios::binary | std::ios::trunc);
        if (!file) {
            error = "cannot create " + temp.path();
            return false;
        }
        file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
        file.close();
        if (!file) {
            error = "cannot write " + temp.path();
            return false;
        }
    }
    std::error_code ec;
    fs::permissions(temp.path(), fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                    fs::perm_options::add, ec);
    fs::rename(temp.path(), options.outputPath, ec);
    if (ec) {
        error = "cannot move the output into place: " + ec.message();
        return false;
    }
    temp.release();
    return true;
}

}  // namespace quillo
