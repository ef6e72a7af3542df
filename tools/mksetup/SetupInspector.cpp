#include "tools/mksetup/SetupInspector.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "app/AppendedBlock.h"
#include "app/UninstallManifest.h"
#include "base/Md5.h"
#include "base/TextCodec.h"
#include "tools/mksetup/PackageCheck.h"
#include "tools/mksetup/PeFile.h"
#include "tools/mksetup/SetupPacker.h"

namespace quillo {

namespace {

class Report {
public:
    explicit Report(std::string& out) : out_(out) {}
    void line(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        char buffer[1024];
        va_list args;
        va_start(args, format);
        std::vsnprintf(buffer, sizeof buffer, format, args);
        va_end(args);
        out_ += buffer;
        out_ += '\n';
    }
    void raw(const std::string& text) { out_ += text; }

private:
    std::string& out_;
};

const char* SetupImageCodeText(int code) {
    switch (code) {
        case 0: return "ok";
        case 1: return "code 1: no usable locator (O = 0, O > S or no header)";
        case 2: return "code 2: the file cannot be read whole";
        case 3: return "code 3: the block length does not fit (O + 4 + L > S)";
        case 4: return "code 4: the block is not valid JSON";
        case 5: return "code 5: the package does not fit (no room for P, or O + 8 + L + P > S)";
        default: return "unknown code";
    }
}

void DescribeSection(Report& r, const char* name, bool wanted, bool present, const Section& section,
                     const char* whyNotWanted) {
    if (!wanted) {
        r.line("%s section: not read (%s)", name, whyNotWanted);
    } else if (present) {
        r.line("%s section: %" PRIu32 " bytes at %" PRIu64 "", name, section.size, section.dataOffset);
    } else {
        r.line("%s section: absent or does not fit", name);
    }
}

int InspectUninstaller(Report& r, const JValue& manifest) {
    const std::wstring root = ManifestRoot(manifest);
    r.line("role: uninstaller (\"mode\" 0)");
    r.line("installation folder: %s", root.empty() ? "(missing: the uninstall sequence would fail)" : WideToUtf8(root).c_str());
    r.line("files: %zu, folders: %zu", ManifestPaths(manifest, kManifestFiles).size(),
           ManifestPaths(manifest, kManifestFolders).size());
    return root.empty() ? 1 : 0;
}

// The package's entries as the program reads them. True when it would
// extract all of them: a readable ZIP with entries, each of which can be
// written, each file installed on at least one target.
bool InspectPackage(Report& r, const uint8_t* data, size_t size) {
    std::vector<PackageEntry> entries;
    std::string error;
    if (!ReadZipEntries(data, size, entries, error)) {
        r.line("package ZIP: %s (install fails with code 7)", error.c_str());
        return false;
    }
    const PackageFindings found = CheckPackageEntries(entries);
    r.line("package ZIP: %zu entries, files: %zu, folders: %zu", entries.size(), found.files, found.folders);
    for (const PackageEntry& entry : entries) {
        r.raw("  " + PrintableName(entry) + (entry.utf8 ? " (UTF-8 name)\n" : " (decoded with the ANSI code page)\n"));
        if (!entry.utf8 && !entry.asciiName())
            r.raw("    warning: no UTF-8 flag: decoded as GBK on a code-page 936 (Chinese) system, as \"" +
                  WideToUtf8(Cp1252ToWide(entry.rawName)) + "\" on a 1252 (Western) system\n");
    }
    for (const std::string& name : found.badUtf8)
        r.raw("warning: " + name + ": has the UTF-8 flag but is not valid UTF-8\n");
    for (const std::string& problem : found.unwritable) r.raw("cannot write: " + problem + "\n");
    if (!found.unwritable.empty())
        r.line("package entries: %zu the program cannot write (install fails with code 8)", found.unwritable.size());
    for (const std::string& line : ArchFolderSummary(found)) r.raw("architecture: " + line + "\n");
    bool neverInstalled = false;
    for (const ArchName& name : found.archNames) {
        r.raw("architecture: " + ArchNameText(name) + "\n");
        neverInstalled = neverInstalled || (name.skippedOn64 && name.skippedOn32);
    }
    return found.unwritable.empty() && !neverInstalled;
}

// What Windows shows and checks of the program before it runs: the oldest
// Windows its header allows, its version resource and its manifest.
void DescribeProgram(Report& r, const std::vector<uint8_t>& bytes, const PeInfo& pe) {
    r.line("oldest Windows: %u.%u (subsystem %u.%u, %s)", pe.osVersion[0], pe.osVersion[1], pe.subsystemVersion[0],
           pe.subsystemVersion[1], pe.subsystem == 2 ? "GUI" : pe.subsystem == 3 ? "console" : "other subsystem");
    std::vector<PeResource> resources;
    std::string error;
    if (!ReadResources(bytes.data(), bytes.size(), pe, resources, error)) {
        r.line("resources: %s", error.c_str());
        return;
    }
    const PeResource* version = nullptr;
    const PeResource* manifest = nullptr;
    size_t icons = 0;
    for (const PeResource& resource : resources) {
        if (resource.typeId == kResourceVersion && !version) version = &resource;
        if (resource.typeId == kResourceManifest && resource.nameId == 1 && !manifest) manifest = &resource;
        if (resource.typeId == kResourceIcon) ++icons;
    }
    PeVersion v;
    if (!version) {
        r.line("version resource: none");
    } else if (!ParseVersionResource(bytes.data() + version->offset, version->size, v, error)) {
        r.line("version resource: %s", error.c_str());
    } else {
        r.line("version resource: file %u.%u.%u.%u, product %u.%u.%u.%u, translation %04x/%04x", v.fileVersion[0],
               v.fileVersion[1], v.fileVersion[2], v.fileVersion[3], v.productVersion[0], v.productVersion[1],
               v.productVersion[2], v.productVersion[3], v.translations.empty() ? 0 : v.translations[0] >> 16,
               v.translations.empty() ? 0 : v.translations[0] & 0xFFFF);
        for (const auto& entry : v.strings) r.raw("  " + entry.first + ": " + entry.second + "\n");
    }
    if (!manifest) {
        r.line("manifest: none (Windows guesses the elevation from the file name, no common controls 6)");
    } else {
        const std::string text(reinterpret_cast<const char*>(bytes.data() + manifest->offset), manifest->size);
        const size_t element = text.find("requestedExecutionLevel");
        const size_t level = element == std::string::npos ? element : text.find("level=\"", element);
        const size_t end = level == std::string::npos ? level : text.find('"', level + 7);
        r.line("manifest: %" PRIu32 " bytes, requestedExecutionLevel %s", manifest->size,
               end == std::string::npos ? "(none)" : text.substr(level + 7, end - level - 7).c_str());
    }
    r.line("icon images: %zu", icons);
}

}  // namespace

int InspectSetupFile(const std::string& path, std::string& out) {
    Report r(out);
    std::vector<uint8_t> bytes;
    std::string error;
    if (!ReadWholeFile(path, bytes, error)) {
        r.line("%s", error.c_str());
        return 2;
    }
    r.line("file: %s (%zu bytes)", path.c_str(), bytes.size());

    PeInfo pe;
    if (ParsePe(bytes.data(), bytes.size(), pe, error)) {
        r.line("image: %s, e_lfanew 0x%" PRIX32 ", %u sections, raw data ends at %" PRIu64, MachineName(pe.machine),
               pe.lfanew, pe.sectionCount, pe.imageEnd);
        if (pe.certificateSize)
            r.line("certificate table: %" PRIu32 " bytes at %" PRIu32 "%s", pe.certificateSize, pe.certificateOffset,
                   pe.certificateOffset >= pe.imageEnd ? " (behind the image: ignored trailing data)" : "");
        DescribeProgram(r, bytes, pe);
    } else {
        r.line("image: %s", error.c_str());
    }

    MemorySource source(bytes.data(), bytes.size());
    JValue block;
    BlockLayout layout;
    std::string jsonError;
    const BlockStatus status = ReadAppendedBlock(source, block, &layout, &jsonError);
    r.line("locator O: %" PRIu32 " (at offset %" PRId64 ")%s", layout.offset, static_cast<int64_t>(layout.lfanew) - 4,
           pe.imageEnd && layout.offset && layout.offset != pe.imageEnd ? " - not the end of the image" : "");
    if (status != BlockStatus::Ok) {
        r.line("block: unreadable: %s%s%s", BlockStatusText(status), jsonError.empty() ? "" : ": ", jsonError.c_str());
    } else {
        r.line("block: %" PRIu32 " bytes of JSON at %" PRIu32, layout.textLength, layout.offset + 4);
        r.raw("  " + JWriter::write(block));
    }
    r.line("ReadAppendedBlock: %s", status == BlockStatus::Ok ? "ok" : BlockStatusText(status));
    if (status == BlockStatus::Ok && !block.isMember("mode"))
        r.line("startup: rejected, the block has no \"mode\"");

    if (status == BlockStatus::Ok && block.isMember("mode") && block.get("mode").asInt() == 0) {
        const uint64_t end = static_cast<uint64_t>(layout.offset) + 4 + layout.textLength;
        if (end < bytes.size()) r.line("trailing data: %" PRIu64 " bytes after the manifest", bytes.size() - end);
        return InspectUninstaller(r, block);
    }

    SetupImage setup;
    const int code = ReadSetupImage(source, setup);
    r.line("ReadSetupImage: %s", SetupImageCodeText(code));
    if (code != 0) return 1;

    const bool hasMode = block.isMember("mode");
    if (hasMode)
        r.line("role: setup file (\"mode\" %d)", block.get("mode").asInt());
    else
        r.line("role: none, the program rejects a block without \"mode\" (install error code 4)");
    const std::string digest = Md5Hex(bytes.data() + setup.packageOffset, setup.packageSize);
    const JValue& md5 = block.get("md5");
    const bool digestOk = md5.type() == JValue::String && md5.asString() == digest;
    r.line("package: %" PRIu32 " bytes at %" PRIu64 ", MD5 %s", setup.packageSize, setup.packageOffset,
           digest.c_str());
    r.line("package check: %s", digestOk ? "\"md5\" matches"
                                         : (md5.asString().empty() ? "\"md5\" missing or empty (install fails with code 9)"
                                                                   : "\"md5\" differs (install fails with code 9)"));

    const bool extraPack = !block.isMember("extrapack") || block.get("extrapack").asBool();
    const bool driver = block.get("ituneslite64").asBool() || block.get("ituneslite32").asBool();
    const OptionalSections sections = LocateSections(setup, extraPack, driver);
    DescribeSection(r, "extra", extraPack, sections.hasExtra, sections.extra, "\"extrapack\" is false");
    DescribeSection(r, "driver", driver, sections.hasDriver, sections.driver, "no \"ituneslite64\"/\"ituneslite32\"");
    uint64_t end = setup.packageEnd();
    if (sections.hasExtra) end = sections.extra.dataOffset + sections.extra.size;
    if (sections.hasDriver) end = sections.driver.dataOffset + sections.driver.size;
    if (end < bytes.size()) r.line("trailing data: %" PRIu64 " bytes (ignored)", bytes.size() - end);
    const bool packageOk = InspectPackage(r, bytes.data() + setup.packageOffset, setup.packageSize);
    return hasMode && digestOk && packageOk ? 0 : 1;
}

}  // namespace quillo
