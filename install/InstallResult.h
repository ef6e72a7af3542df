// The result of one step of a run: the install error code (0 for success)
// together with the Windows error that caused it and the path concerned, so
// that the log can say which step failed, where, and why. Windows only.
#pragma once

#include <windows.h>

#include <string>

namespace quillo {

struct InstallResult {
    int code = 0;              // 0, or an install error code 1 to 9
    DWORD windowsError = 0;    // the system's error behind it; 0 when none
    std::wstring what;         // what failed, in a few words
    std::wstring path;         // the file, folder or key concerned; may be empty

    bool ok() const { return code == 0; }

    static InstallResult Ok() { return InstallResult(); }
    static InstallResult Failed(int code, const std::wstring& what, const std::wstring& path = std::wstring(),
                                DWORD windowsError = 0) {
        InstallResult r;
        r.code = code;
        r.windowsError = windowsError;
        r.what = what;
        r.path = path;
        return r;
    }
};

// The system's text for an error code, without its line break; "error N"
// when the system has none.
std::wstring WindowsErrorText(DWORD error);

// "install error C in STEP: WHAT: PATH (Windows error E: TEXT)", for the log.
std::wstring DescribeFailure(const char* step, const InstallResult& result);

}  // namespace quillo
