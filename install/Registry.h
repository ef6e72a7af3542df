// Registry values read under fixed rules: a string only with type REG_SZ or
// REG_EXPAND_SZ and a terminating NUL inside the data, a DWORD only with type
// REG_DWORD; anything else reads as absent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

namespace quillo {

constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegDword = 4;

// The uninstall entry of the product.
constexpr const wchar_t* kUninstallKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Brightfen";

// Decodes raw value data (UTF-16LE for strings); false when the rules say absent.
bool DecodeRegString(uint32_t type, const uint8_t* data, size_t byteCount, std::wstring& out);
bool DecodeRegDword(uint32_t type, const uint8_t* data, size_t byteCount, uint32_t& out);

#ifdef _WIN32

// The program is 32-bit: its keys under HKLM\SOFTWARE live in the 32-bit view
// on 64-bit Windows. Every key it opens asks for that view explicitly, so the
// 64-bit test build sees exactly what the 32-bit program sees.
constexpr REGSAM kRegView = KEY_WOW64_32KEY;

// Reads a string of at most `maxChars` characters (the terminating NUL
// included); a longer value reads as absent.
bool ReadRegString(HKEY key, const wchar_t* name, size_t maxChars, std::wstring& out);
bool ReadRegDword(HKEY key, const wchar_t* name, uint32_t& out);

#endif

}  // namespace quillo
