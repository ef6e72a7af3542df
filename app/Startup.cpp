#include "app/Startup.h"

#include <shellapi.h>

#include "app/AppendedBlock.h"
#include "app/SystemInfo.h"
#include "install/ShellFileOperation.h"

namespace quillo {

namespace {

[[noreturn]] void EndProcessNow() {
    TerminateProcess(GetCurrentProcess(), 0);
    ExitProcess(0);
}

void RelaunchElevated(const std::wstring& modulePath, const std::wstring& parameters) {
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.lpVerb = L"runas";
    info.lpFile = modulePath.c_str();
    info.lpParameters = parameters.c_str();
    info.lpDirectory = L"";
    info.nShow = SW_SHOWNORMAL;
    ShellExecuteExW(&info);
}

// The copy gets no arguments, except that a quiet removal stays quiet: an
// unattended "unins000.exe /q" must not turn into a confirmation screen.
void MoveUninstallerToTemp(const std::wstring& modulePath, const std::wstring& tempCopy, bool quiet) {
    ShellFileOperation(FO_COPY, modulePath, tempCopy);
    const wchar_t* parameters = quiet ? L"/q" : L"";

    if (IsNt6OrLater()) {
        SHELLEXECUTEINFOW info = {};
        info.cbSize = sizeof info;
        info.lpVerb = L"runas";
        info.lpFile = tempCopy.c_str();
        info.lpParameters = parameters;
        info.lpDirectory = L"";
        info.nShow = SW_SHOWNORMAL;
        ShellExecuteExW(&info);
    } else {
        ShellExecuteW(nullptr, L"open", tempCopy.c_str(), quiet ? parameters : nullptr, nullptr, SW_SHOW);
    }
}

}  // namespace

StartupState RunStartup(HWND owner) {
    StartupState state;
    const std::wstring modulePath = ModuleFilePath();
    const std::vector<std::wstring> args = ProcessArguments();

    if (RunsFilteredAdministrator()) {
        RelaunchElevated(modulePath, BuildRelaunchParameters(args));
        EndProcessNow();
    }

    FileSource file;
    BlockLayout layout;
    const BlockStatus status = file.open(modulePath) ? ReadAppendedBlock(file, state.block, &layout)
                                                     : BlockStatus::OpenFailed;
    file.close();
    const bool blockRead = status == BlockStatus::Ok;
    state.settings = ReadStartupSettings(state.block, blockRead, Is64BitWindows());
    const CommandLineOptions options = ParseCommandLine(args);
    if (!state.settings.blockUsable) {
        // A quiet run has nobody to read the message: it ends with the code
        // the install would have failed with, never with success.
        if (options.quiet || state.settings.quietKey) {
            TerminateProcess(GetCurrentProcess(), static_cast<UINT>(RejectedBlockCode(status, layout)));
        }
        MessageBoxW(owner, kBlockRejectedText, L"", MB_ICONERROR);
        EndProcessNow();
    }

    if (state.settings.role == 0) {
        const UninstallerMove move = DecideUninstallerMove(modulePath, TempFolder());
        if (move.mustMove) {
            MoveUninstallerToTemp(modulePath, move.tempCopy, options.quiet || state.settings.quietKey);
            EndProcessNow();
        }
    }

    state.quiet = state.settings.quietKey || options.quiet;
    state.requestedFolder = options.requestedFolder;
    if (state.settings.role != 0) {
        state.installPath = ProposeInstallFolder(options.requestedFolder,
                                                 options.requestedFolder.empty() ? ReadEarlierInstallation()
                                                                                 : EarlierInstallation(),
                                                 ProgramFilesFolder());
    }
    return state;
}

}  // namespace quillo
