#include "install/RunState.h"

#include <cwchar>

#include "base/RunLog.h"
#include "base/TextCodec.h"
#include "install/CommandLine.h"

namespace quillo {

void RunState::SetStatusText(const wchar_t* format, long number) const {
    if (!format) return;
    wchar_t text[512];
    const int n = std::swprintf(text, sizeof text / sizeof text[0], format, number);
    const std::wstring shown = n < 0 ? std::wstring() : std::wstring(text);
    LogLine(L"status: " + shown);
    if (statusSink) statusSink(shown);
}

void RunState::ReportProgress(int percent) const {
    if (window) PostMessageW(window, WM_SETUP_PROGRESS, 1, percent);
}

void RunState::ReportDone() const {
    if (window) {
        DWORD_PTR result = 0;
        SendMessageTimeoutW(window, WM_SETUP_DONE, 0, 0, SMTO_BLOCK, 0, &result);
    }
}

void RunState::ReportFailed(int code) const {
    if (window) PostMessageW(window, WM_SETUP_FAILED, 1, code);
}

bool StartDetached(const std::wstring& commandLine) {
    std::wstring line = commandLine;  // CreateProcessW may write to it
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

void RunPostInstallCommands(const RunState& state) {
    const JValue::ArrayType* items = state.installCommands.arrayItems();
    if (state.installCommands.type() != JValue::Array || !items) return;
    for (const JValue& item : *items) {
        StartDetached(InstallCommandLine(state.installDir, BlockTextToWide(item.asString())));
    }
}

}  // namespace quillo
