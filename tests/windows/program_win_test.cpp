// The setup program started as a user would start it: its rejection of files
// without a usable block, seen through the message box it shows, and the
// options screen of a usable one.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/AppendedBlock.h"
#include "app/Startup.h"
#include "app/SystemInfo.h"
#include "app/TextCodec.h"

namespace quillo {
namespace {

struct MessageBoxSeen {
    bool shown = false;
    std::wstring text;
    std::wstring caption;
    DWORD exitCode = 0xFFFFFFFF;
};

struct FindState {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindDialogOfProcess(HWND hwnd, LPARAM param) {
    auto* state = reinterpret_cast<FindState*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    wchar_t cls[64] = {};
    GetClassNameW(hwnd, cls, 64);
    if (pid == state->pid && lstrcmpW(cls, L"#32770") == 0) {
        state->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// Starts `path`, waits for a message box of that process, reads it, answers
// it with OK and returns what was seen along with the exit code.
MessageBoxSeen RunAndAnswer(const std::wstring& path) {
    MessageBoxSeen seen;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::wstring commandLine = L"\"" + path + L"\"";
    if (!CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        ADD_FAILURE() << "cannot start the program";
        return seen;
    }
    for (int i = 0; i < 600 && WaitForSingleObject(pi.hProcess, 50) == WAIT_TIMEOUT; ++i) {
        FindState state{pi.dwProcessId, nullptr};
        EnumWindows(FindDialogOfProcess, reinterpret_cast<LPARAM>(&state));
        if (!state.found) continue;
        // The dialog may be found before its controls exist.
        wchar_t buffer[512] = {};
        for (int k = 0; k < 100 && GetDlgItemTextW(state.found, 0xFFFF, buffer, 512) == 0; ++k) Sleep(20);
        seen.text = buffer;
        GetWindowTextW(state.found, buffer, 512);
        seen.caption = buffer;
        seen.shown = true;
        PostMessageW(state.found, WM_COMMAND, IDOK, 0);
        break;
    }
    if (WaitForSingleObject(pi.hProcess, 30000) == WAIT_TIMEOUT) {
        TerminateProcess(pi.hProcess, 99);
        ADD_FAILURE() << "the program did not end";
    }
    GetExitCodeProcess(pi.hProcess, &seen.exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return seen;
}

std::vector<uint8_t> ProgramImage() {
    const char* env = std::getenv("QUILLO_SETUP_PROGRAM");
    std::vector<uint8_t> bytes;
    FileSource file;
    if (!env || !file.open(Utf8ToWide(env))) return bytes;
    bytes.resize(static_cast<size_t>(file.size()));
    if (!file.readAt(0, bytes.data(), bytes.size())) bytes.clear();
    return bytes;
}

std::wstring WriteVariant(const std::wstring& name, const std::vector<uint8_t>& bytes) {
    const std::wstring path = TempFolder() + name;
    EXPECT_EQ(WriteFileParts(path, {{bytes.data(), bytes.size()}}), WriteResult::Ok);
    return path;
}

// The program with a block appended and the locator pointing at it.
std::vector<uint8_t> WithBlock(std::vector<uint8_t> image, const std::string& text, uint32_t locator = 0) {
    const uint32_t lfanew = LoadLe32(image.data() + kLfanewOffset);
    const uint32_t size = static_cast<uint32_t>(image.size());
    StoreLe32(image.data() + lfanew - 4, locator ? locator : size);
    uint8_t length[4];
    StoreLe32(length, static_cast<uint32_t>(text.size()));
    image.insert(image.end(), length, length + 4);
    image.insert(image.end(), text.begin(), text.end());
    return image;
}

TEST(SetupProgramEndToEnd, FilesWithoutAUsableBlockAreRejectedWithTheMessage) {
    const std::vector<uint8_t> image = ProgramImage();
    ASSERT_FALSE(image.empty()) << "QUILLO_SETUP_PROGRAM must name the built program";

    struct Variant {
        const wchar_t* name;
        std::vector<uint8_t> bytes;
    };
    const std::vector<Variant> variants = {
        {L"no-block.exe", image},
        {L"no-mode.exe", WithBlock(image, "{\"channel\":1,\"md5\":\"\"}")},
        {L"bad-json.exe", WithBlock(image, "{\"mode\":1")},
        {L"locator-past-end.exe", WithBlock(image, "{\"mode\":1}", static_cast<uint32_t>(image.size() + 100))},
    };
    for (const Variant& v : variants) {
        const MessageBoxSeen seen = RunAndAnswer(WriteVariant(v.name, v.bytes));
        EXPECT_TRUE(seen.shown) << "no message box for " << WideToUtf8(v.name);
        EXPECT_EQ(seen.text, kBlockRejectedText) << WideToUtf8(v.name);
        EXPECT_EQ(seen.caption, L"") << WideToUtf8(v.name);
        EXPECT_EQ(seen.exitCode, 0u) << WideToUtf8(v.name);
    }
}

struct MainWindowSearch {
    DWORD pid;
    HWND main;
    HWND dialog;
};

BOOL CALLBACK FindMainWindow(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<MainWindowSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != search->pid) return TRUE;
    wchar_t cls[64] = {}, title[64] = {};
    GetClassNameW(hwnd, cls, 64);
    GetWindowTextW(hwnd, title, 64);
    if (lstrcmpW(cls, L"#32770") == 0) search->dialog = hwnd;
    if (lstrcmpW(cls, L"CHWindow") == 0 && lstrcmpW(title, L"Corvane") == 0 && IsWindowVisible(hwnd)) search->main = hwnd;
    return TRUE;
}

TEST(SetupProgramEndToEnd, AUsableBlockOpensTheOptionsScreenAndItsCloseCommandEndsTheProgram) {
    const std::vector<uint8_t> image = ProgramImage();
    ASSERT_FALSE(image.empty());
    // "mode" present is all the startup asks for; the rest is checked by the install.
    const std::wstring path = WriteVariant(L"mode-only.exe", WithBlock(image, "{\"mode\":\"1\"}"));
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::wstring commandLine = L"\"" + path + L"\"";
    ASSERT_TRUE(CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    MainWindowSearch search{pi.dwProcessId, nullptr, nullptr};
    for (int i = 0; i < 600 && !search.main && !search.dialog; ++i) {
        Sleep(50);
        EnumWindows(FindMainWindow, reinterpret_cast<LPARAM>(&search));
    }
    EXPECT_EQ(search.dialog, nullptr) << "no message box";
    ASSERT_NE(search.main, nullptr) << "the options screen is shown";
    RECT rect = {};
    GetWindowRect(search.main, &rect);
    EXPECT_EQ(rect.right - rect.left, 610);
    EXPECT_EQ(rect.bottom - rect.top, 430) << "folded";
    EXPECT_TRUE(GetWindowLongW(search.main, GWL_EXSTYLE) & WS_EX_LAYERED);
    PostMessageW(search.main, WM_COMMAND, 1000, 0);
    if (WaitForSingleObject(pi.hProcess, 30000) == WAIT_TIMEOUT) {
        TerminateProcess(pi.hProcess, 99);
        ADD_FAILURE() << "the close command did not end the program";
    }
    DWORD code = 99;
    GetExitCodeProcess(pi.hProcess, &code);
    EXPECT_EQ(code, 0u);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
}

}  // namespace
}  // namespace quillo
