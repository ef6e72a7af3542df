// Just enough of the PE format to place data behind an executable image, and
// to read back what Windows looks at before the program runs: the header's
// version fields, the import table and the resources.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace quillo {

struct PeSection {
    uint32_t virtualAddress = 0;
    uint32_t virtualSize = 0;
    uint32_t rawPointer = 0;
    uint32_t rawSize = 0;
};

struct PeInfo {
    uint32_t lfanew = 0;
    uint16_t machine = 0;
    uint16_t sectionCount = 0;
    uint64_t imageEnd = 0;     // end of the raw data of the last section in the file
    uint32_t locator = 0;      // the four bytes at lfanew - 4
    uint32_t certificateOffset = 0;  // security directory: file offset and size of a signature
    uint32_t certificateSize = 0;
    // Optional header: 0x10B PE32, 0x20B PE32+; the oldest Windows the image
    // declares it runs on (operating system and subsystem version), the subsystem.
    uint16_t magic = 0;
    uint16_t osVersion[2] = {0, 0};
    uint16_t subsystemVersion[2] = {0, 0};
    uint16_t subsystem = 0;
    uint32_t importRva = 0;    // data directories 1 (imports) and 2 (resources)
    uint32_t resourceRva = 0;
    uint32_t resourceSize = 0;
    std::vector<PeSection> sections;
};

// Parses the DOS and PE headers and the section table; false with a reason
// when the bytes are not a PE image this tool can work with.
bool ParsePe(const uint8_t* data, size_t size, PeInfo& info, std::string& error);

const char* MachineName(uint16_t machine);

// The file offset of an image address; false when no section's raw data holds it.
bool RvaToOffset(const PeInfo& info, uint32_t rva, uint64_t& offset);

// One function of the import table: "KERNEL32.dll" / "CreateFileW", or an
// ordinal with an empty name.
struct PeImport {
    std::string library;
    std::string function;
    uint16_t ordinal = 0;
};

// The static imports, in table order; false with a reason when the table
// points outside the file.
bool ReadImports(const uint8_t* data, size_t size, const PeInfo& info, std::vector<PeImport>& imports,
                 std::string& error);

// One resource: type and name are numbers (id) or, when named, text.
struct PeResource {
    uint32_t typeId = 0;
    std::string typeName;
    uint32_t nameId = 0;
    std::string name;
    uint16_t language = 0;
    uint64_t offset = 0;  // of the data in the file
    uint32_t size = 0;
};

// Every resource of the image (types, names, languages); false with a
// reason when the resource tree is damaged.
bool ReadResources(const uint8_t* data, size_t size, const PeInfo& info, std::vector<PeResource>& resources,
                   std::string& error);

constexpr uint32_t kResourceIcon = 3;
constexpr uint32_t kResourceVersion = 16;
constexpr uint32_t kResourceManifest = 24;

// A version resource as Windows reads it: the fixed file and product
// versions, the translations, and the strings of the first translation's
// table (as UTF-8).
struct PeVersion {
    uint16_t fileVersion[4] = {0, 0, 0, 0};
    uint16_t productVersion[4] = {0, 0, 0, 0};
    std::vector<uint32_t> translations;  // language << 16 | code page
    std::map<std::string, std::string> strings;
};

bool ParseVersionResource(const uint8_t* data, size_t size, PeVersion& version, std::string& error);

}  // namespace quillo
