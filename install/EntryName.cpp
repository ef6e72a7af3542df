#include "install/EntryName.h"

namespace quillo {
namespace {

bool IsWhite(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f'; }
bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

}  // namespace

std::wstring TrimWhiteSpace(const std::wstring& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsWhite(text[begin])) ++begin;
    while (end > begin && IsWhite(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

namespace {

// Windows opens a device, not a file, for these names in any folder and with
// any extension ("nul.txt", "COM1.log").
bool IsDeviceName(const std::wstring& part) {
    std::wstring base = part.substr(0, part.find(L'.'));
    while (!base.empty() && base.back() == L' ') base.pop_back();
    for (wchar_t& c : base) {
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    }
    if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL" || base == L"CONIN$" ||
        base == L"CONOUT$")
        return true;
    if (base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0)) {
        const wchar_t d = base[3];
        return (d >= L'0' && d <= L'9') || d == 0x00B9 || d == 0x00B2 || d == 0x00B3;
    }
    return false;
}

}  // namespace

bool IsSafeEntryName(const std::wstring& name) {
    if (name.empty() || IsSeparator(name[0])) return false;
    if (name.find(L':') != std::wstring::npos) return false;
    if (name.find(L'\0') != std::wstring::npos) return false;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = start;
        while (end < name.size() && !IsSeparator(name[end])) ++end;
        const std::wstring part = name.substr(start, end - start);
        bool onlyDotsAndSpaces = !part.empty();
        bool hasDot = false;
        for (wchar_t c : part) {
            if (c == L'.') hasDot = true;
            else if (c != L' ') onlyDotsAndSpaces = false;
        }
        if (onlyDotsAndSpaces && hasDot && part != L".") return false;
        if (IsDeviceName(part)) return false;
        start = end + 1;
    }
    return true;
}

bool SkipForArchitecture(const std::wstring& name, bool drivers64) {
    return name.find(drivers64 ? L"x86" : L"x64") != std::wstring::npos;
}

std::wstring FileTargetPath(const std::wstring& folder, const std::wstring& name, bool drivers64) {
    const std::wstring arch = drivers64 ? L"\\x64" : L"\\x86";
    std::wstring tail = L"\\" + name;
    size_t pos = 0;
    while ((pos = tail.find(arch, pos)) != std::wstring::npos) {
        const size_t after = pos + arch.size();
        if (after < tail.size() && IsSeparator(tail[after])) {
            tail.erase(pos, arch.size());
        } else {
            pos = after;
        }
    }
    return folder + tail;
}

}  // namespace quillo
