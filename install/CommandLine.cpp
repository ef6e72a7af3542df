#include "install/CommandLine.h"

#include <cwctype>

namespace quillo {
namespace {

bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t'; }

wchar_t Lower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

// Length of the program part of an unquoted element.
size_t ProgramLength(const std::wstring& element) {
    static const wchar_t* const kExtensions[] = {L".exe", L".com", L".bat", L".cmd"};
    for (size_t i = 0; i + 4 <= element.size(); ++i) {
        for (const wchar_t* ext : kExtensions) {
            bool match = true;
            for (size_t k = 0; k < 4 && match; ++k) match = Lower(element[i + k]) == ext[k];
            if (match && (i + 4 == element.size() || IsSpace(element[i + 4]))) return i + 4;
        }
    }
    size_t n = 0;
    while (n < element.size() && !IsSpace(element[n])) ++n;
    return n;
}

}  // namespace

std::wstring InstallCommandLine(const std::wstring& installDir, const std::wstring& element) {
    std::wstring program;
    std::wstring arguments;
    if (!element.empty() && element[0] == L'"') {
        const size_t close = element.find(L'"', 1);
        if (close == std::wstring::npos) {
            program = element.substr(1);
        } else {
            program = element.substr(1, close - 1);
            arguments = element.substr(close + 1);
        }
    } else {
        const size_t n = ProgramLength(element);
        program = element.substr(0, n);
        arguments = element.substr(n);
    }
    return L"\"" + installDir + L"\\" + program + L"\"" + arguments;
}

}  // namespace quillo
