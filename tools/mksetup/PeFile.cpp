#include "tools/mksetup/PeFile.h"

#include <algorithm>

#include "app/AppendedBlock.h"

namespace quillo {

namespace {

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

const char* MachineName(uint16_t machine) {
    switch (machine) {
        case 0x14C: return "i386";
        case 0x8664: return "x86-64";
        case 0xAA64: return "arm64";
        default: return "unknown";
    }
}

bool ParsePe(const uint8_t* data, size_t size, PeInfo& info, std::string& error) {
    info = PeInfo();
    if (size < kDosHeaderSize || data[0] != 'M' || data[1] != 'Z') {
        error = "not an executable: no MZ header";
        return false;
    }
    info.lfanew = LoadLe32(data + kLfanewOffset);
    if (info.lfanew < kDosHeaderSize + 4 || static_cast<uint64_t>(info.lfanew) + 24 > size) {
        error = "e_lfanew does not point inside the file behind the DOS header";
        return false;
    }
    const uint8_t* pe = data + info.lfanew;
    if (pe[0] != 'P' || pe[1] != 'E' || pe[2] != 0 || pe[3] != 0) {
        error = "no PE signature at e_lfanew";
        return false;
    }
    info.locator = LoadLe32(data + info.lfanew - 4);
    info.machine = Le16(pe + 4);
    info.sectionCount = Le16(pe + 6);
    const uint16_t optionalSize = Le16(pe + 20);
    const uint64_t optional = static_cast<uint64_t>(info.lfanew) + 24;
    const uint64_t table = optional + optionalSize;
    if (table + 40ull * info.sectionCount > size) {
        error = "the section table lies beyond the end of the file";
        return false;
    }
    if (optionalSize >= 2) {
        const uint16_t magic = Le16(data + optional);
        // Data directory 4 (security) sits at 128 (PE32) or 144 (PE32+) bytes into the optional header.
        const uint64_t dirOffset = optional + (magic == 0x20B ? 144 : 128);
        if (dirOffset + 8 <= table) {
            info.certificateOffset = LoadLe32(data + dirOffset);
            info.certificateSize = LoadLe32(data + dirOffset + 4);
        }
    }
    for (uint16_t i = 0; i < info.sectionCount; ++i) {
        const uint8_t* s = data + table + 40ull * i;
        const uint32_t rawSize = LoadLe32(s + 16);
        const uint32_t rawPointer = LoadLe32(s + 20);
        if (rawSize) info.imageEnd = std::max<uint64_t>(info.imageEnd, static_cast<uint64_t>(rawPointer) + rawSize);
    }
    if (info.imageEnd == 0) info.imageEnd = table + 40ull * info.sectionCount;
    if (info.imageEnd > size) {
        error = "a section's raw data runs past the end of the file";
        return false;
    }
    return true;
}

}  // namespace quillo
