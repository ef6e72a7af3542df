// The rules for archive entry names, on names taken from the input.
//
// Input: byte 0 picks the decoding and the architecture; the rest is the
// name, either one character per byte (so separators, dots, colons and
// spaces are easy to reach) or UTF-16LE code units (so characters whose low
// byte looks like one of those are reached too).
//
// What must hold for every input:
//  - a name judged safe is relative and has no component that Windows would
//    read as ".." and no colon, and neither has its target path;
//  - a target path starts with the folder and a separator, and its
//    components are the name's components with some whole "x64"/"x86"
//    components (never the last one) left out;
//  - ParentPath and FileNamePart split a path at its last separator;
//  - TrimWhiteSpace leaves no white space at either end and is idempotent.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "install/EntryName.h"

namespace {

using namespace quillo;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "entry_name: %s\n", what);
    std::abort();
}

bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }
bool IsWhite(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f'; }

std::vector<std::wstring> Components(const std::wstring& path) {
    std::vector<std::wstring> parts(1);
    for (wchar_t c : path) {
        if (IsSeparator(c))
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

// What Windows would take for a step up: dots and spaces only, with a dot, other than ".".
bool ClimbsUp(const std::wstring& part) {
    if (part.empty() || part == L".") return false;
    bool dot = false;
    for (wchar_t c : part) {
        if (c == L'.')
            dot = true;
        else if (c != L' ')
            return false;
    }
    return dot;
}

const std::wstring kFolder = L"C:\\Program Files\\Quillo";

void CheckTarget(const std::wstring& name, bool drivers64, bool safe) {
    const std::wstring target = FileTargetPath(kFolder, name, drivers64);
    if (target.size() <= kFolder.size() || target.compare(0, kFolder.size(), kFolder) != 0 ||
        !IsSeparator(target[kFolder.size()]))
        Fail("the target does not start in the folder");
    const std::vector<std::wstring> got = Components(target.substr(kFolder.size() + 1));
    const std::vector<std::wstring> want = Components(name);
    const std::wstring arch = drivers64 ? L"x64" : L"x86";
    // got must be want with some whole architecture components dropped, never
    // the last; matched from the end, where the one that must stay is.
    size_t g = got.size();
    for (size_t w = want.size(); w-- > 0;) {
        if (g > 0 && got[g - 1] == want[w]) {
            --g;
        } else if (want[w] != arch || w + 1 == want.size()) {
            Fail("the target path is not the name less whole architecture folders");
        }
    }
    if (g != 0) Fail("the target path has components the name has not");
    if (!safe) return;
    for (const std::wstring& part : got)
        if (ClimbsUp(part) || part.find(L':') != std::wstring::npos) Fail("a safe name's target climbs out");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t flags = data[0];
    std::wstring name;
    if (flags & 1) {
        for (size_t i = 1; i + 1 < size; i += 2) name += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
    } else {
        for (size_t i = 1; i < size; ++i) name += static_cast<wchar_t>(data[i]);
    }
    const bool drivers64 = (flags & 2) != 0;

    const bool safe = IsSafeEntryName(name);
    if (safe) {
        if (name.empty() || IsSeparator(name[0])) Fail("an absolute or empty name judged safe");
        for (const std::wstring& part : Components(name))
            if (ClimbsUp(part) || part.find(L':') != std::wstring::npos) Fail("a climbing name judged safe");
    }
    CheckTarget(name, drivers64, safe);

    SkipForArchitecture(name, drivers64);

    const std::wstring parent = ParentPath(name);
    const std::wstring file = FileNamePart(name);
    const size_t last = name.find_last_of(L"\\/");
    if (last == std::wstring::npos) {
        if (!parent.empty() || file != name) Fail("a path without separators was split");
    } else if (parent + name[last] + file != name || parent.size() != last) {
        Fail("ParentPath and FileNamePart do not split at the last separator");
    }

    const std::wstring trimmed = TrimWhiteSpace(name);
    if (!trimmed.empty() && (IsWhite(trimmed.front()) || IsWhite(trimmed.back()))) Fail("white space left at an end");
    if (TrimWhiteSpace(trimmed) != trimmed) Fail("trimming twice trims more");
    if (name.find(trimmed) == std::wstring::npos) Fail("the trimmed text is not part of the name");
    return 0;
}
