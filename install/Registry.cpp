#include "install/Registry.h"

#include <vector>

namespace quillo {

bool DecodeRegString(uint32_t type, const uint8_t* data, size_t byteCount, std::wstring& out) {
    if (type != kRegSz && type != kRegExpandSz) return false;
    const size_t units = byteCount / 2;
    std::wstring text;
    for (size_t i = 0; i < units; ++i) {
        uint32_t unit = static_cast<uint32_t>(data[2 * i]) | (static_cast<uint32_t>(data[2 * i + 1]) << 8);
        if (unit == 0) {
            out = text;
            return true;
        }
        if (sizeof(wchar_t) == 4 && unit >= 0xD800 && unit < 0xDC00 && i + 1 < units) {
            const uint32_t lo = static_cast<uint32_t>(data[2 * i + 2]) | (static_cast<uint32_t>(data[2 * i + 3]) << 8);
            if (lo >= 0xDC00 && lo < 0xE000) {
                unit = 0x10000 + ((unit - 0xD800) << 10) + (lo - 0xDC00);
                ++i;
            }
        }
        text.push_back(static_cast<wchar_t>(unit));
    }
    return false;  // no terminating NUL within the data
}

bool DecodeRegDword(uint32_t type, const uint8_t* data, size_t byteCount, uint32_t& out) {
    if (type != kRegDword || byteCount < 4) return false;
    out = static_cast<uint32_t>(data[0]) | (static_cast<uint32_t>(data[1]) << 8) |
          (static_cast<uint32_t>(data[2]) << 16) | (static_cast<uint32_t>(data[3]) << 24);
    return true;
}

#ifdef _WIN32

bool ReadRegString(HKEY key, const wchar_t* name, size_t maxChars, std::wstring& out) {
    // Only the bytes the value holds count: its terminating NUL must be among
    // them, and a string is made of whole UTF-16 units.
    std::vector<uint8_t> buffer(maxChars * sizeof(wchar_t), 0);
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(buffer.size());
    if (RegQueryValueExW(key, name, nullptr, &type, buffer.data(), &size) != ERROR_SUCCESS) return false;
    if (size % 2 != 0 || size > buffer.size()) return false;
    return DecodeRegString(type, buffer.data(), size, out);
}

bool ReadRegDword(HKEY key, const wchar_t* name, uint32_t& out) {
    uint8_t buffer[8];
    DWORD type = 0;
    DWORD size = sizeof buffer;
    if (RegQueryValueExW(key, name, nullptr, &type, buffer, &size) != ERROR_SUCCESS) return false;
    return DecodeRegDword(type, buffer, size, out);
}

#endif

}  // namespace quillo
