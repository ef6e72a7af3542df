// The entries of a package ZIP as the program reads them: how it decodes their
// names, which ones it cannot write, and which ones its architecture filter
// leaves out on a 64-bit or a 32-bit system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quillo {

struct PackageEntry {
    std::string rawName;  // the name's bytes as stored in the central directory
    bool utf8 = false;    // general-purpose bit 11
    bool encrypted = false;
    uint16_t method = 0;

    bool isFolder() const { return !rawName.empty() && (rawName.back() == '/' || rawName.back() == '\\'); }
    // True when the name decodes the same in every code page.
    bool asciiName() const;
};

// Walks the central directory with minizip, as the program does before it
// extracts. False with a reason when the bytes are not a ZIP, hold no entries
// (which minizip does not walk either), or minizip stops before the end of the
// directory.
bool ReadZipEntries(const uint8_t* data, size_t size, std::vector<PackageEntry>& entries, std::string& error);

// The name as the program decodes it: UTF-8 with bit 11, else the ANSI code
// page. That code page is the target system's; here it is taken as 1252,
// which keeps every ASCII byte (separators, dots, colons, "x86") where it is.
std::wstring ProgramName(const PackageEntry& entry);
// The name for messages: as stored when it is UTF-8 or ASCII, else with its
// non-ASCII bytes written as \xNN. Control characters are always escaped.
std::string PrintableName(const PackageEntry& entry);
// Windows code page 1252, the Western ANSI code page.
std::wstring Cp1252ToWide(const std::string& bytes);

// An entry whose name holds "x86" or "x64" outside the top-level "x86/" or
// "x64/" folder: the program skips it on the target(s) flagged here.
struct ArchName {
    std::string name;  // printable
    bool skippedOn64 = false;
    bool skippedOn32 = false;
};

struct PackageFindings {
    size_t files = 0;
    size_t folders = 0;
    std::vector<std::string> unwritable;  // "NAME: why", entries the program refuses (code 8)
    std::vector<std::string> ansiNames;   // printable non-ASCII names without the UTF-8 flag
    std::vector<std::string> badUtf8;     // printable names with the flag that are not valid UTF-8
    std::vector<ArchName> archNames;
    size_t x64Files = 0;  // files below the top-level "x64/" folder, installed on 64-bit systems only
    size_t x86Files = 0;  // and below "x86/", installed on 32-bit systems only
};

PackageFindings CheckPackageEntries(const std::vector<PackageEntry>& entries);

// "NAME: "x86" in its name: not installed on 64-bit Windows"
std::string ArchNameText(const ArchName& arch);
// One line per architecture folder that holds files.
std::vector<std::string> ArchFolderSummary(const PackageFindings& findings);

}  // namespace quillo
