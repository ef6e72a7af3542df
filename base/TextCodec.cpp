#include "base/TextCodec.h"

#include <cstdint>
#include <cwctype>

#ifdef _WIN32
#include <windows.h>
#endif

namespace quillo {

namespace {

void AppendCodePoint(std::wstring& out, uint32_t cp) {
    if (sizeof(wchar_t) == 2 && cp > 0xFFFF) {
        cp -= 0x10000;
        out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        out.push_back(static_cast<wchar_t>(cp));
    }
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

std::wstring Utf8ToWide(const std::string& utf8) {
    std::wstring out;
    out.reserve(utf8.size());
    const size_t n = utf8.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        uint32_t cp;
        size_t extra;
        if (c < 0x80) {
            out.push_back(c);
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            extra = 1;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            extra = 2;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07;
            extra = 3;
        } else {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        size_t k = 1;
        for (; k <= extra && i + k < n; ++k) {
            const unsigned char cc = static_cast<unsigned char>(utf8[i + k]);
            if ((cc & 0xC0) != 0x80) break;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (k != extra + 1) {  // truncated or interrupted sequence
            out.push_back(0xFFFD);
            i += k;
            continue;
        }
        static const uint32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMin[extra] || cp > 0x10FFFF) cp = 0xFFFD;  // overlong or out of range
        AppendCodePoint(out, cp);
        i += extra + 1;
    }
    return out;
}

std::string WideToUtf8(const std::wstring& wide) {
    std::string out;
    out.reserve(wide.size());
    for (size_t i = 0; i < wide.size(); ++i) {
        uint32_t cp = static_cast<uint32_t>(wide[i]);
        if (sizeof(wchar_t) == 2) cp &= 0xFFFF;
        if (sizeof(wchar_t) == 2 && cp >= 0xD800 && cp < 0xDC00 && i + 1 < wide.size()) {
            const uint32_t lo = static_cast<uint32_t>(wide[i + 1]) & 0xFFFF;
            if (lo >= 0xDC00 && lo < 0xE000) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                ++i;
            }
        }
        if (cp > 0x10FFFF) cp = 0xFFFD;
        AppendUtf8(out, cp);
    }
    return out;
}

std::string Utf16LeToUtf8(const uint8_t* units, size_t count) {
    auto unit = [units](size_t i) { return static_cast<uint32_t>(units[2 * i] | (units[2 * i + 1] << 8)); };
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        uint32_t cp = unit(i);
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < count) {
            const uint32_t low = unit(i + 1);
            if (low >= 0xDC00 && low < 0xE000) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (cp >= 0xD800 && cp < 0xE000) cp = 0xFFFD;
        AppendUtf8(out, cp);
    }
    return out;
}

#ifdef _WIN32

std::string WideToAnsi(const std::wstring& wide) {
    if (wide.empty() || wide.size() > 0x3FFFFFFF) return std::string();
    const int inLength = static_cast<int>(wide.size());
    const int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), inLength, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), inLength, &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring AnsiToWide(const std::string& ansi) {
    if (ansi.empty() || ansi.size() > 0x3FFFFFFF) return std::wstring();
    const int inLength = static_cast<int>(ansi.size());
    const int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), inLength, nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), inLength, &out[0], n);
    return out;
}

#else

std::string WideToAnsi(const std::wstring& wide) { return WideToUtf8(wide); }
std::wstring AnsiToWide(const std::string& ansi) { return Utf8ToWide(ansi); }

#endif

bool IsValidUtf8(const std::string& bytes) {
    const size_t n = bytes.size();
    for (size_t i = 0; i < n;) {
        const auto b = static_cast<uint8_t>(bytes[i]);
        if (b < 0x80) {
            ++i;
            continue;
        }
        size_t length = 0;
        uint32_t cp = 0, least = 0;
        if (b >= 0xC2 && b <= 0xDF) {
            length = 2, cp = b & 0x1F, least = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3, cp = b & 0x0F, least = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4, cp = b & 0x07, least = 0x10000;
        } else {
            return false;  // a continuation byte, an overlong lead (C0, C1) or F5..FF
        }
        if (n - i < length) return false;
        for (size_t k = 1; k < length; ++k) {
            const auto c = static_cast<uint8_t>(bytes[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += length;
    }
    return true;
}

std::wstring BlockTextToWide(const std::string& text) {
    return IsValidUtf8(text) ? Utf8ToWide(text) : AnsiToWide(text);
}

bool EqualsIgnoreCase(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] == b[i]) continue;
        if (std::towupper(static_cast<wint_t>(a[i])) != std::towupper(static_cast<wint_t>(b[i]))) return false;
    }
    return true;
}

}  // namespace quillo
