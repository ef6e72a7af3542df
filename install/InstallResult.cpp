#include "install/InstallResult.h"

#include "base/TextCodec.h"

namespace quillo {

std::wstring WindowsErrorText(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring result = length && text ? std::wstring(text, length) : std::wstring();
    if (text) LocalFree(text);
    while (!result.empty() && (result.back() == L'\n' || result.back() == L'\r' || result.back() == L' ' ||
                               result.back() == L'.'))
        result.pop_back();
    return result.empty() ? L"error " + std::to_wstring(error) : result;
}

std::wstring DescribeFailure(const char* step, const InstallResult& result) {
    std::wstring text = L"install error " + std::to_wstring(result.code) + L" in " + Utf8ToWide(step) + L": " +
                        result.what;
    if (!result.path.empty()) text += L": " + result.path;
    if (result.windowsError)
        text += L" (Windows error " + std::to_wstring(result.windowsError) + L": " + WindowsErrorText(result.windowsError) +
                L")";
    return text;
}

}  // namespace quillo
