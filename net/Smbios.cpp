#include "net/Smbios.h"

#include <cstdio>
#include <cstring>

namespace quillo {

namespace {

constexpr uint8_t kSystemInformationType = 1;
constexpr size_t kMinUuidStructureLength = 0x19;  // formatted area that holds bytes 8..23
constexpr size_t kUuidOffset = 8;
constexpr size_t kFirmwareHeaderSize = 8;
constexpr size_t kParagraph = 16;
constexpr size_t kSmEntryReach = 32;  // bytes an "_SM_" entry point needs from its paragraph
constexpr size_t kDmiPartSize = 15;

uint16_t ReadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t ReadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

bool ChecksumIsZero(const uint8_t* p, size_t n) {
    uint8_t sum = 0;
    for (size_t i = 0; i < n; ++i) sum = static_cast<uint8_t>(sum + p[i]);
    return sum == 0;
}

// Position of the first double zero starting at or after `from` with both bytes
// inside the table, or `length` when there is none.
size_t FindDoubleZero(const uint8_t* table, size_t length, size_t from) {
    for (size_t p = from; p < length && length - p >= 2; ++p)
        if (table[p] == 0 && table[p + 1] == 0) return p;
    return length;
}

}  // namespace

std::string FormatSmbiosUuid(const uint8_t* b) {
    char text[40];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X%02X%02X-%02X%02X%02X%02X-%02X%02X%02X%02X", b[0], b[1],
                  b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return text;
}

size_t CountSmbiosStructures(const uint8_t* table, size_t length) {
    if (!table) return 0;
    size_t count = 0;
    size_t pos = 0;
    while (pos < length) {
        // A structure whose length byte lies past the end still counts as one.
        const size_t formatted = length - pos >= 2 ? table[pos + 1] : length - pos;
        const size_t stringsFrom = formatted <= length - pos ? pos + formatted : length;
        const size_t end = FindDoubleZero(table, length, stringsFrom);
        ++count;
        if (length - end <= 2) break;
        pos = end + 2;
    }
    return count;
}

bool FindSmbiosUuid(const uint8_t* table, size_t length, size_t count, std::string& uuid) {
    if (!table) return false;
    size_t pos = 0;
    for (size_t i = 0; i < count; ++i) {
        if (pos > length || length - pos < 4) return false;
        const uint8_t* s = table + pos;
        const size_t formatted = s[1];
        if (formatted < 4) return false;
        if (formatted > length - pos) return false;  // the formatted area itself runs past the table
        const size_t end = FindDoubleZero(table, length, pos + formatted);
        if (end == length) return false;  // no string-set end inside the table
        if (s[0] == kSystemInformationType && formatted >= kMinUuidStructureLength) {
            uuid = FormatSmbiosUuid(s + kUuidOffset);
            return true;
        }
        pos = end + 2;
    }
    return false;
}

bool ParseFirmwareTableBuffer(const uint8_t* buffer, size_t size, const uint8_t*& table, size_t& tableLength) {
    if (!buffer || size < kFirmwareHeaderSize) return false;
    const uint32_t declared = ReadLe32(buffer + 4);
    const size_t available = size - kFirmwareHeaderSize;
    table = buffer + kFirmwareHeaderSize;
    tableLength = declared < available ? declared : available;
    return true;
}

bool ScanSmbiosEntryPoints(const uint8_t* area, size_t size, SmbiosEntryPoint& out) {
    if (!area) return false;
    for (size_t off = 0; off < size && size - off >= kParagraph; off += kParagraph) {
        const uint8_t* p = area + off;
        if (size - off >= kSmEntryReach && std::memcmp(p, "_SM_", 4) == 0) {
            const size_t entryLength = p[5];
            if (entryLength > size - off || !ChecksumIsZero(p, entryLength)) return false;
            if (!ChecksumIsZero(p + 16, kDmiPartSize) || std::memcmp(p + 16, "_DMI_", 5) != 0) return false;
            out.tableLength = ReadLe16(p + 22);
            out.tableAddress = ReadLe32(p + 24);
            out.structureCount = ReadLe16(p + 28);
            return true;
        }
        if (std::memcmp(p, "_DMI_", 5) == 0) {
            if (!ChecksumIsZero(p, kDmiPartSize)) return false;
            out.tableLength = ReadLe16(p + 6);
            out.tableAddress = ReadLe32(p + 8);
            out.structureCount = ReadLe16(p + 12);
            return true;
        }
    }
    return false;
}

}  // namespace quillo
