// UTF-8 <-> wide string conversion that behaves the same on Windows (UTF-16
// wchar_t) and on the native build (UTF-32 wchar_t).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quillo {

// Invalid UTF-8 sequences become U+FFFD.
std::wstring Utf8ToWide(const std::string& utf8);
// Unpaired surrogates are encoded as three-byte sequences of their own.
std::string WideToUtf8(const std::wstring& wide);
// UTF-16LE code units as files store them (version resources, resource
// names): pairs combine, an unpaired surrogate becomes U+FFFD.
std::string Utf16LeToUtf8(const uint8_t* units, size_t count);

// Narrow text in the system code page (the ANSI code page on Windows, UTF-8
// elsewhere). Characters the code page lacks become its default character.
std::string WideToAnsi(const std::wstring& wide);
std::wstring AnsiToWide(const std::string& ansi);

// Whether the bytes are well-formed UTF-8: no stray continuation bytes, no
// truncated or overlong sequences, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(const std::string& bytes);

// A text of the setup block or the manifest (shortcut names and files,
// command lists, "lastrun"): JSON text is UTF-8, so it is taken as UTF-8
// when it is well-formed UTF-8, and from the ANSI code page otherwise (a
// block written in the ANSI code page). ASCII reads the same either way.
std::wstring BlockTextToWide(const std::string& text);

// Case-insensitive comparison of two paths (ASCII letters and the Latin-1 and
// other letters the C library folds).
bool EqualsIgnoreCase(const std::wstring& a, const std::wstring& b);

}  // namespace quillo
