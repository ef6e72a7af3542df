#include "tools/mksetup/PackageCheck.h"

#include <minizip/unzip.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "base/TextCodec.h"
#include "install/EntryName.h"
#include "tools/mksetup/ZipFolder.h"

namespace quillo {

namespace {

// minizip reads the package from memory through these.
struct MemoryStream {
    const uint8_t* data;
    uint64_t size;
    uint64_t position;
};

voidpf ZCALLBACK MemoryOpen(voidpf opaque, const void*, int mode) {
    if (mode & ZLIB_FILEFUNC_MODE_WRITE) return nullptr;
    static_cast<MemoryStream*>(opaque)->position = 0;
    return opaque;
}

uLong ZCALLBACK MemoryRead(voidpf, voidpf stream, void* buffer, uLong size) {
    MemoryStream& s = *static_cast<MemoryStream*>(stream);
    const uint64_t count = std::min<uint64_t>(size, s.size - s.position);
    if (count) std::memcpy(buffer, s.data + s.position, static_cast<size_t>(count));
    s.position += count;
    return static_cast<uLong>(count);
}

uLong ZCALLBACK MemoryWrite(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T ZCALLBACK MemoryTell(voidpf, voidpf stream) { return static_cast<MemoryStream*>(stream)->position; }

long ZCALLBACK MemorySeek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    MemoryStream& s = *static_cast<MemoryStream*>(stream);
    const uint64_t base = origin == ZLIB_FILEFUNC_SEEK_CUR ? s.position : origin == ZLIB_FILEFUNC_SEEK_END ? s.size : 0;
    if (offset > s.size - base) return -1;
    s.position = base + offset;
    return 0;
}

int ZCALLBACK MemoryClose(voidpf, voidpf) { return 0; }
int ZCALLBACK MemoryError(voidpf, voidpf) { return 0; }

bool IsAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}


bool StartsWithFolder(const std::wstring& name, const wchar_t* folder) {
    const size_t n = std::wcslen(folder);
    return name.size() > n && name.compare(0, n, folder) == 0 && (name[n] == L'/' || name[n] == L'\\');
}

}  // namespace

bool PackageEntry::asciiName() const { return IsAscii(rawName); }

bool ReadZipEntries(const uint8_t* data, size_t size, std::vector<PackageEntry>& entries, std::string& error) {
    entries.clear();
    MemoryStream stream{data, size, 0};
    zlib_filefunc64_def io = {MemoryOpen, MemoryRead, MemoryWrite, MemoryTell, MemorySeek,
                              MemoryClose, MemoryError, &stream};
    unzFile zip = unzOpen2_64("package", &io);
    static const char kEmpty[] = "an empty ZIP archive: no entries, nothing would be installed";
    if (!zip) {
        // minizip misses an end record at offset 0, the whole of an archive without entries.
        const bool empty = size >= 22 && std::memcmp(data, "PK\x05\x06", 4) == 0 && data[10] == 0 && data[11] == 0;
        error = empty ? kEmpty : "not a ZIP archive (no readable central directory)";
        return false;
    }
    unz_global_info64 global;
    if (unzGetGlobalInfo64(zip, &global) == UNZ_OK && global.number_entry == 0) {
        unzClose(zip);
        error = kEmpty;
        return false;
    }
    int rc = unzGoToFirstFile(zip);
    while (rc == UNZ_OK) {
        unz_file_info64 info;
        rc = unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0);
        if (rc != UNZ_OK) break;
        std::vector<char> name(info.size_filename + 1);
        rc = unzGetCurrentFileInfo64(zip, &info, name.data(), static_cast<uLong>(name.size()), nullptr, 0, nullptr, 0);
        if (rc != UNZ_OK) break;
        PackageEntry entry;
        entry.rawName.assign(name.data(), info.size_filename);
        entry.utf8 = (info.flag & kUtf8NameFlag) != 0;
        entry.encrypted = (info.flag & 1) != 0;
        entry.method = static_cast<uint16_t>(info.compression_method);
        entries.push_back(std::move(entry));
        rc = unzGoToNextFile(zip);
    }
    unzClose(zip);
    if (rc != UNZ_END_OF_LIST_OF_FILE) {
        error = "damaged ZIP directory: minizip stops after " + std::to_string(entries.size()) + " entries (error " +
                std::to_string(rc) + ")";
        return false;
    }
    return true;
}

std::wstring Cp1252ToWide(const std::string& bytes) {
    // 0x80-0x9F; the five bytes 1252 leaves undefined map to the C1 control of the same value.
    static const wchar_t kHigh[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    std::wstring wide;
    wide.reserve(bytes.size());
    for (char c : bytes) {
        const unsigned char b = static_cast<unsigned char>(c);
        wide += b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : static_cast<wchar_t>(b);
    }
    return wide;
}

std::wstring ProgramName(const PackageEntry& entry) {
    return entry.utf8 ? Utf8ToWide(entry.rawName) : Cp1252ToWide(entry.rawName);
}

std::string PrintableName(const PackageEntry& entry) {
    const bool keepHigh = entry.utf8 && IsValidUtf8(entry.rawName);
    std::string out;
    for (char c : entry.rawName) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F || (b >= 0x80 && !keepHigh)) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

PackageFindings CheckPackageEntries(const std::vector<PackageEntry>& entries) {
    PackageFindings f;
    for (const PackageEntry& entry : entries) {
        const std::wstring name = ProgramName(entry);
        const std::string shown = PrintableName(entry);
        if (entry.encrypted) f.unwritable.push_back(shown + ": encrypted");
        if (entry.method != 0 && entry.method != 8)
            f.unwritable.push_back(shown + ": compression method " + std::to_string(entry.method) +
                                   " (only stored and deflated entries are written)");
        if (!IsSafeEntryName(name))
            f.unwritable.push_back(shown + ": unsafe name (it would leave the installation folder or name a device)");
        if (!entry.utf8 && !entry.asciiName()) f.ansiNames.push_back(shown);
        if (entry.utf8 && !IsValidUtf8(entry.rawName)) f.badUtf8.push_back(shown);

        if (entry.isFolder()) {
            ++f.folders;
            continue;
        }
        ++f.files;
        const bool on64 = !SkipForArchitecture(name, true);
        const bool on32 = !SkipForArchitecture(name, false);
        if (StartsWithFolder(name, L"x64") && on64) {
            ++f.x64Files;
        } else if (StartsWithFolder(name, L"x86") && on32) {
            ++f.x86Files;
        } else if (!on64 || !on32) {
            f.archNames.push_back({shown, !on64, !on32});
        }
    }
    return f;
}

std::string ArchNameText(const ArchName& arch) {
    std::string text = arch.name + ": ";
    if (arch.skippedOn64 && arch.skippedOn32) return text + "\"x86\" and \"x64\" in its name: never installed";
    return text + (arch.skippedOn64 ? "\"x86\" in its name: not installed on 64-bit Windows"
                                    : "\"x64\" in its name: not installed on 32-bit Windows");
}

std::vector<std::string> ArchFolderSummary(const PackageFindings& findings) {
    std::vector<std::string> lines;
    auto add = [&](const char* folder, size_t files, const char* bits) {
        if (files)
            lines.push_back(std::string(folder) + ": " + std::to_string(files) + (files == 1 ? " entry" : " entries") +
                            " installed on " + bits + " Windows only");
    };
    add("x64/", findings.x64Files, "64-bit");
    add("x86/", findings.x86Files, "32-bit");
    return lines;
}

}  // namespace quillo
