#include "app/Startup.h"

#include <shellapi.h>

#include "app/AppendedBlock.h"
#include "app/StartupLogic.h"
#include "base/RunLog.h"
#include "base/ShellFileOperation.h"
#include "base/SystemInfo.h"
#include "base/TextCodec.h"
#include "base/UserPrompt.h"
#include "install/ProductRegistration.h"
#include "install/RunJournal.h"

namespace quillo {

namespace {

// A limited token whose linked full token belongs to the Administrators group.
bool RunsFilteredAdministrator() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    DWORD size = 0;
    bool admin = false;
    if (GetTokenInformation(token, TokenElevationType, &type, sizeof type, &size) &&
        static_cast<int>(type) == kTokenElevationTypeLimited) {
        TOKEN_LINKED_TOKEN linked = {};
        if (GetTokenInformation(token, TokenLinkedToken, &linked, sizeof linked, &size)) {
            BYTE sid[SECURITY_MAX_SID_SIZE];
            DWORD sidSize = sizeof sid;
            BOOL member = FALSE;
            if (CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &sidSize) &&
                CheckTokenMembership(linked.LinkedToken, sid, &member)) {
                admin = member != FALSE;
            }
            CloseHandle(linked.LinkedToken);
        }
    }
    CloseHandle(token);
    return ShouldRelaunchElevated(IsNt6OrLater(), admin ? kTokenElevationTypeLimited : 0, admin);
}


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

// The copy gets no arguments, except that a quiet removal stays quiet (an
// unattended "unins000.exe /q" must not turn into a confirmation screen) and
// a requested log goes on to the copy, which does the work.
void MoveUninstallerToTemp(const std::wstring& modulePath, const std::wstring& tempCopy, bool quiet,
                           const std::wstring& logFile) {
    ShellFileOperation(FO_COPY, modulePath, tempCopy);
    std::wstring arguments = quiet ? L"/q" : L"";
    if (!logFile.empty()) {
        if (!arguments.empty()) arguments += L" ";
        arguments += QuoteArgument(L"/LOG=" + AbsolutePath(logFile));
    }
    const wchar_t* parameters = arguments.c_str();

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
        ShellExecuteW(nullptr, L"open", tempCopy.c_str(), arguments.empty() ? nullptr : parameters, nullptr, SW_SHOW);
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
    state.settings = ReadStartupSettings(state.block, blockRead, NativeProcessorArchitecture());
    const CommandLineOptions options = ParseCommandLine(args);
    state.quiet = state.settings.quietKey || options.quiet;
    SetUnattended(state.quiet);
    state.logFile = options.logFile;
    // The uninstaller that moves to the temporary folder leaves the log to
    // its copy.
    const UninstallerMove move = state.settings.blockUsable && state.settings.role == 0
                                     ? DecideUninstallerMove(modulePath, TempFolder())
                                     : UninstallerMove();
    if (!options.logFile.empty() && !move.mustMove) {
        OpenRunLog(options.logFile);
        std::wstring line = L"arguments:";
        for (const std::wstring& arg : args) line += L" " + QuoteArgument(arg);
        LogLine(line);
    }
    if (!state.settings.blockUsable) {
        // A quiet run has nobody to read the message: it ends with the code
        // the install would have failed with, never with success.
        const int code = RejectedBlockCode(status, layout);
        LogLinef("setup block rejected (%s): install error %d", BlockStatusText(status), code);
        if (state.quiet) {
            LogLinef("exit code %d", code);
            TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
        }
        TellUser(owner, kBlockRejectedText, L"", MB_ICONERROR);
        LogLine(std::string("exit code 0"));
        EndProcessNow();
    }

    if (move.mustMove) {
        MoveUninstallerToTemp(modulePath, move.tempCopy, state.quiet, options.logFile);
        EndProcessNow();
    }
    LogLinef("role: %s%s", state.settings.role == 0 ? "uninstaller" : "setup", state.quiet ? ", quiet" : "");
    // An installation that was cut short (its process killed) is finished
    // or taken back before anything else looks at the machine.
    if (RecoverInterruptedRun() && state.settings.role == 0) {
        const EarlierInstallation restored = FindEarlierInstallation();
        if (!restored.uninstallString.empty() && PathExists(restored.uninstallString)) {
            state.manifestFile = restored.uninstallString;
            LogLine(L"removing the restored installation of " + state.manifestFile);
        }
    }
    state.requestedFolder = options.requestedFolder;
    if (state.settings.role != 0) {
        state.installPath = ProposeInstallFolder(options.requestedFolder,
                                                 options.requestedFolder.empty() ? FindEarlierInstallation()
                                                                                 : EarlierInstallation(),
                                                 ProgramFilesFolder());
    }
    if (state.settings.role != 0) LogLine(L"installation folder: " + state.installPath);
    return state;
}

}  // namespace quillo
