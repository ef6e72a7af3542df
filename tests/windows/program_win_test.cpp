// The setup program started as a user would start it: its rejection of files
// without a usable block, seen through the message box it shows, and the
// options screen of a usable one; and what Windows reads of both builds'
// files before they run: manifest, icon and version resource.
#include <gtest/gtest.h>

#include <windows.h>

#include <tlhelp32.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "app/AppendedBlock.h"
#include "app/Startup.h"
#include "app/StartupLogic.h"
#include "base/SystemInfo.h"
#include "base/TextCodec.h"
#include "install/ProductRegistration.h"

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

// The comctl32 a running process has loaded, in lower case; empty when none.
std::wstring CommonControlsOf(DWORD pid) {
    std::wstring found;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
    if (snapshot == INVALID_HANDLE_VALUE) return found;
    MODULEENTRY32W module = {};
    module.dwSize = sizeof module;
    for (BOOL more = Module32FirstW(snapshot, &module); more; more = Module32NextW(snapshot, &module)) {
        if (lstrcmpiW(module.szModule, L"comctl32.dll") == 0) {
            CharLowerW(module.szExePath);
            found = module.szExePath;
        }
    }
    CloseHandle(snapshot);
    return found;
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
    // Its manifest gives it the common controls 6 of the side-by-side store.
    const std::wstring comctl = CommonControlsOf(pi.dwProcessId);
    EXPECT_NE(comctl.find(L"\\winsxs\\"), std::wstring::npos) << WideToUtf8(comctl);
    EXPECT_NE(comctl.find(L"microsoft.windows.common-controls_6595b64144ccf1df_6."), std::wstring::npos)
        << WideToUtf8(comctl);
    PostMessageW(search.main, WM_COMMAND, 1000, 0);
    if (WaitForSingleObject(pi.hProcess, 30000) == WAIT_TIMEOUT) {
        TerminateProcess(pi.hProcess, 99);
        ADD_FAILURE() << "the close command did not end the program";
    }
    DWORD code = 99;
    GetExitCodeProcess(pi.hProcess, &code);
    EXPECT_EQ(code, static_cast<DWORD>(kExitCancelled)) << "closed before installing: cancelled";
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
}

// ---------------------------------------------------------------------------
// Resources of the two builds, read back as Windows reads them

std::string ResourceText(HMODULE module, const wchar_t* type, const wchar_t* name) {
    HRSRC found = FindResourceW(module, name, type);
    if (!found) return std::string();
    const void* data = LockResource(LoadResource(module, found));
    return data ? std::string(static_cast<const char*>(data), SizeofResource(module, found)) : std::string();
}

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)


TEST(SetupProgramEndToEnd, BothBuildsCarryManifestIconAndVersionResource) {
    struct Build {
        const char* variable;
        const char* manifestArchitecture;
        bool runsHere;  // a program of this process's machine type
    };
    const Build builds[] = {
        {"QUILLO_SETUP_PROGRAM", sizeof(void*) == 8 ? "amd64" : "x86", true},
        {"QUILLO_SETUP_PROGRAM_X86", "x86", sizeof(void*) == 4},
    };
    const std::string version = QUILLO_VERSION_TEXT;
    for (const Build& build : builds) {
        SCOPED_TRACE(build.variable);
        const char* env = std::getenv(build.variable);
        ASSERT_TRUE(env && *env) << build.variable << " must name a build of the program";
        const std::wstring path = Utf8ToWide(env);
        HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module, nullptr) << GetLastError();

        // The manifest: the program's own elevation decision stays the only
        // one, no version lies on Vista to 11, common controls 6, per-monitor
        // DPI awareness (the screens scale themselves), and an identity of its
        // own machine type.
        const std::string manifest = ResourceText(module, RT_MANIFEST, MAKEINTRESOURCEW(1));
        ASSERT_FALSE(manifest.empty());
        for (const std::string& text : std::vector<std::string>{
                 "<requestedExecutionLevel level=\"asInvoker\"",
                 "<supportedOS Id=\"{e2011457-1546-43c5-a5fe-008deee3d3f0}\"/>",
                 "<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>",
                 "<supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>",
                 "<supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>",
                 "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>",
                 ">true/pm</dpiAware>", ">PerMonitorV2, PerMonitor</dpiAwareness>"})
            EXPECT_NE(manifest.find(text), std::string::npos) << "expected '" << text << "' in\n" << manifest;
        // The first identity is the program's, the second the one it depends on.
        auto identity = [&](size_t from) {
            const size_t at = manifest.find("<assemblyIdentity", from);
            return at == std::string::npos ? std::string() : manifest.substr(at, manifest.find("/>", at) - at);
        };
        const std::string own = identity(0);
        const std::string dependency = identity(manifest.find("<dependentAssembly>"));
        EXPECT_NE(own.find("version=\"" + version + "\""), std::string::npos) << own;
        EXPECT_NE(own.find("processorArchitecture=\"" + std::string(build.manifestArchitecture) + "\""),
                  std::string::npos)
            << own;
        EXPECT_NE(dependency.find("name=\"Microsoft.Windows.Common-Controls\""), std::string::npos) << dependency;
        EXPECT_NE(dependency.find("version=\"6.0.0.0\""), std::string::npos) << dependency;
        EXPECT_NE(dependency.find("publicKeyToken=\"6595b64144ccf1df\""), std::string::npos) << dependency;

        // The icon: the group lists 16, 24, 32, 48 and 256 px at 32 bits; the
        // sizes XP draws are DIBs (it reads no other kind), the others PNGs,
        // and Windows makes an icon of each.
        const std::string group = ResourceText(module, RT_GROUP_ICON, MAKEINTRESOURCEW(1));
        ASSERT_GE(group.size(), 6u);
        WORD count = 0;
        std::memcpy(&count, group.data() + 4, 2);
        ASSERT_EQ(count, 5);
        ASSERT_EQ(group.size(), 6 + count * sizeof(GroupIconEntry));
        const struct {
            int size;
            bool png;
        } images[] = {{16, false}, {24, true}, {32, false}, {48, false}, {256, true}};
        for (WORD i = 0; i < count; ++i) {
            GroupIconEntry entry;
            std::memcpy(&entry, group.data() + 6 + i * sizeof entry, sizeof entry);
            const int size = images[i].size;
            SCOPED_TRACE(size);
            EXPECT_EQ(entry.width, size % 256);
            EXPECT_EQ(entry.bitCount, 32);
            std::string image = ResourceText(module, RT_ICON, MAKEINTRESOURCEW(entry.id));
            ASSERT_EQ(image.size(), entry.bytes);
            if (!images[i].png) {
                BITMAPINFOHEADER header;
                ASSERT_GE(image.size(), sizeof header);
                std::memcpy(&header, image.data(), sizeof header);
                EXPECT_EQ(header.biSize, sizeof header);
                EXPECT_EQ(header.biWidth, size);
                EXPECT_EQ(header.biHeight, 2 * size);
                EXPECT_EQ(header.biBitCount, 32);
            } else {
                EXPECT_EQ(image.compare(0, 8, "\x89PNG\r\n\x1a\n"), 0);
            }
            HICON icon = CreateIconFromResourceEx(reinterpret_cast<BYTE*>(&image[0]), static_cast<DWORD>(image.size()),
                                                  TRUE, 0x00030000, size, size, LR_DEFAULTCOLOR);
            EXPECT_NE(icon, nullptr);
            if (icon) DestroyIcon(icon);
        }
        FreeLibrary(module);

        // The version resource as the registration reads it.
        std::map<std::wstring, std::wstring> strings;
        ASSERT_TRUE(ReadVersionStrings(path, strings));
        const std::wstring wideVersion = Utf8ToWide(version);
        EXPECT_EQ(strings[L"ProductName"], L"Quillo 3");
        EXPECT_EQ(strings[L"CompanyName"], kPublisher);
        EXPECT_EQ(strings[L"FileDescription"], L"Quillo 3 Setup");
        EXPECT_EQ(strings[L"ProductVersion"], wideVersion);
        EXPECT_EQ(strings[L"FileVersion"], wideVersion);
        EXPECT_EQ(strings[L"OriginalFilename"], L"QuilloSetup.exe");

        // Windows accepts the manifest: it is well-formed and the assembly it
        // depends on is found.
        if (!build.runsHere) continue;
        ACTCTXW context = {};
        context.cbSize = sizeof context;
        context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
        context.lpSource = path.c_str();
        context.lpResourceName = MAKEINTRESOURCEW(1);
        HANDLE activation = CreateActCtxW(&context);
        EXPECT_NE(activation, INVALID_HANDLE_VALUE) << GetLastError();
        if (activation != INVALID_HANDLE_VALUE) ReleaseActCtx(activation);
    }
}

}  // namespace
}  // namespace quillo
