#include "install/DriverComponents.h"

#include <imagehlp.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>

#include "base/PrivateFolder.h"
#include "base/RunLog.h"
#include "base/SystemInfo.h"
#include "base/TextCodec.h"
#include "base/UserPrompt.h"
#include "install/PackageExtractor.h"
#include "install/ProcessTools.h"
#include "install/Registry.h"
#include "install/RunEnd.h"

namespace quillo {
namespace {

constexpr size_t kRegisteredPathChars = 520;

std::wstring ReadMachineString(const wchar_t* subKey, const wchar_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, KEY_READ | kRegView, &key) != ERROR_SUCCESS) return {};
    std::wstring value;
    if (!ReadRegString(key, name, kRegisteredPathChars, value)) value.clear();
    RegCloseKey(key);
    return value;
}

bool MobileDeviceLibraryExists() {
    const std::wstring library = ReadMachineString(kMobileDeviceSharedKey, kMobileDeviceLibraryValue);
    return !library.empty() && PathExists(library);
}

std::wstring ReplaceAll(std::wstring text, const std::wstring& from, const std::wstring& to) {
    for (size_t at = text.find(from); at != std::wstring::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

bool EndsWith(const std::wstring& text, const wchar_t* suffix) {
    const size_t n = wcslen(suffix);
    return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

}  // namespace

std::wstring DriverFolder() {
    const std::wstring appData = SpecialFolder(CSIDL_APPDATA, true);
    if (appData.empty()) return {};
    const std::wstring folder = appData + L"\\Brightfen\\Quillo\\Driver";
    CreateFolderTree(folder);
    return folder;
}

std::wstring RegisteredITunesLibrary() {
    const std::wstring program = ReadMachineString(kITunesAppKey, kITunesAppValue);
    return program.empty() ? program : ReplaceAll(program, L".exe", L".dll");
}

bool ComponentsPresent() {
    std::wstring library = RegisteredITunesLibrary();
    if (library.empty() || !PathExists(library)) {
        const std::wstring folder = DriverFolder();
        if (folder.empty()) return false;
        library = folder + L"\\iTunes.dll";
    }
    return PathExists(library) && MobileDeviceLibraryExists();
}

bool DetectBitness(WORD& machine) {
    const std::wstring library = RegisteredITunesLibrary();
    if (library.empty() || !PathExists(library) || !MobileDeviceLibraryExists()) return false;
    // The image help library takes ANSI names; a path the code page cannot
    // express does not load and counts as not detected.
    std::string name = WideToAnsi(library);
    if (name.empty() || AnsiToWide(name) != library) return false;
    PLOADED_IMAGE image = ImageLoad(name.c_str(), nullptr);
    if (!image) return false;
    machine = image->FileHeader->FileHeader.Machine;
    ImageUnload(image);
    return true;
}

int InitialDrivers64() {
    WORD machine = 0;
    if (DetectBitness(machine)) return machine == IMAGE_FILE_MACHINE_AMD64 ? 1 : 0;
    // A 64-bit build is what the 32-bit program is under WOW64.
#ifdef _WIN64
    return 1;
#else
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    const auto isWow64 = reinterpret_cast<IsWow64ProcessFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "IsWow64Process")));
    BOOL wow64 = FALSE;
    if (isWow64 && isWow64(GetCurrentProcess(), &wow64)) return wow64 ? 1 : 0;
    return 0;
#endif
}

std::wstring DriverPackageCommandLine(const std::wstring& packagePath, const std::wstring& packageName) {
    // Windows Installer from the system folder, by its full path: never a
    // program of that name that stands beside the setup file.
    std::wstring line = L"\"" + SystemFolder() + L"\\msiexec.exe\" /i \"" + packagePath +
                        L"\" /quiet REBOOT=ReallySuppress";
    if (packageName == L"AppleApplicationSupport.msi") line += L" PARENTUILVL=\"5\"";
    return line;
}

DWORD RunAndWait(HWND window, const std::wstring& commandLine) {
    std::wstring line = commandLine;  // CreateProcessW may write to it
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    const std::wstring folder = SystemFolder();
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi)) {
        std::printf("CreateProcess failed (%d).\n", static_cast<int>(GetLastError()));
        std::fflush(stdout);
        return kNotStarted;
    }
    WaitForProcessPumping(pi.hProcess, window);
    DWORD code = kNotStarted;
    if (!GetExitCodeProcess(pi.hProcess, &code)) code = kNotStarted;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

namespace {

// The archive the installation wrote is held open (marked for deletion, so
// it cannot be opened again by name); one given only by its path is looked
// up on disk.
bool DriverArchiveExists(const RunState& state) {
    if (state.driverArchive && state.driverArchive->open()) return true;
    return !state.driverArchivePath.empty() && PathExists(state.driverArchivePath);
}

HANDLE DriverArchiveHandle(const RunState& state) {
    return state.driverArchive && state.driverArchive->open() ? state.driverArchive->handle() : INVALID_HANDLE_VALUE;
}

}  // namespace

bool InstallDriverArchive(RunState& state) {
    const std::wstring& archive = state.driverArchivePath;
    if (archive.empty() || !DriverArchiveExists(state) || !EndsWith(archive, L".zip")) return false;

    // The packages are run from a folder of this run's own, made new for
    // this user, SYSTEM and Administrators only; only what the extraction
    // wrote there is run.
    PrivateFolder folder;
    if (!folder.Create()) {
        LogLinef("no private folder for the driver packages (error %lu)", static_cast<unsigned long>(GetLastError()));
        return false;
    }
    const std::wstring temp = folder.path();
    std::vector<std::wstring> extracted;
    if (!ExtractArchive(temp, archive, DriverArchiveHandle(state), &extracted)) {
        LogLine(L"driver archive cannot be extracted: " + archive);
        return false;
    }
    auto wasExtracted = [&extracted](const std::wstring& path) {
        for (const std::wstring& file : extracted)
            if (EqualsIgnoreCase(file, path)) return true;
        return false;
    };

    const std::wstring driverFolder = DriverFolder();
    HKEY key = nullptr;
    if (!driverFolder.empty() &&
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, kCoreFpKey, 0, nullptr, 0, KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE | kRegView,
                        nullptr, &key, nullptr) == ERROR_SUCCESS) {
        const std::wstring library = driverFolder + L"\\CoreFP.dll";
        const bool written =
            RegSetValueExW(key, kCoreFpValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(library.c_str()),
                           static_cast<DWORD>((library.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
        RegCloseKey(key);
        if (written) {
            if (wasExtracted(temp + L"\\CoreFP.dll")) MoveFileW((temp + L"\\CoreFP.dll").c_str(), library.c_str());
            if (wasExtracted(temp + L"\\iTunes.dll"))
                MoveFileW((temp + L"\\iTunes.dll").c_str(), (driverFolder + L"\\iTunes.dll").c_str());
        }
    }

    for (const wchar_t* name : kDriverPackages) {
        const std::wstring package = temp + L"\\" + name;
        if (!wasExtracted(package)) continue;
        // Held so that nothing is put in its place before Windows Installer
        // has read it.
        HeldFile held;
        if (!held.Hold(package)) {
            LogLine(L"driver package cannot be held, not run: " + package);
            continue;
        }
        state.SetStatusText((std::wstring(L"正在安装") + name).c_str());
        LogLine(L"running: " + DriverPackageCommandLine(package, name));
        const DWORD code = RunAndWait(state.window, DriverPackageCommandLine(package, name));
        LogLinef("msiexec ended with %lu", static_cast<unsigned long>(code));
        // 3010: installed, a restart finishes it; 1641: the package started
        // a restart itself (REBOOT=ReallySuppress should prevent that).
        if (code == ERROR_SUCCESS_REBOOT_REQUIRED || code == ERROR_SUCCESS_REBOOT_INITIATED) NoteRestartNeeded();
    }
    return true;
}

void DriverStep(RunState& state) {
    bool installed = false;
    if (DriverArchiveExists(state)) {
        state.SetStatusText(L"正在安装驱动组件, 请耐心等候...");
        if (!state.quiet && state.window) {
            SetWindowPos(state.window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_SHOWWINDOW);
        }
        installed = InstallDriverArchive(state);
    }
    if (installed) {
        state.driverResult = 1;
    } else {
        state.driverResult = -1;
        if (!state.quiet &&
            AskUser(state.window, L"Quillo 3 需要驱动组件才可以发现和管理您的设备，您是否要立即下载驱动组件？",
                    L"提示", MB_YESNO | MB_ICONQUESTION, IDNO) == IDYES) {
            ShellExecuteW(nullptr, L"open", kITunesSite, nullptr, nullptr, SW_SHOW);
        }
    }
    LogLinef("driver components %s", installed ? "installed" : "not installed");
    if (state.driverArchive) {
        state.driverArchive.reset();
    } else if (!state.driverArchivePath.empty()) {
        DeleteFileW(state.driverArchivePath.c_str());
    }

    if (!state.quiet) {
        state.ReportProgress(100);
        state.ReportDone();
        return;
    }
    EndQuietDriverStep(state);
}

}  // namespace quillo
