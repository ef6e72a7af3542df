#include "app/Startup.h"

#include <shellapi.h>

#include "app/AppendedBlock.h"
#include "app/HandOff.h"
#include "app/StartupLogic.h"
#include "base/RunLog.h"
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


[[noreturn]] void EndProcessNow(int code = 0) {
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
    ExitProcess(static_cast<UINT>(code));
}

// Ends the start with a code and says so in the log.
[[noreturn]] void EndWith(int code) {
    LogLinef("exit code %d", code);
    CloseRunLog();
    EndProcessNow(code);
}

void ShowUsage(HWND owner, bool quiet) {
    if (quiet) {
        const std::string text = WideToUtf8(UsageText());
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    } else {
        TellUser(owner, UsageText(), L"Quillo 3", MB_OK);
    }
}

}  // namespace

StartupState RunStartup(HWND owner) {
    StartupState state;
    const std::wstring modulePath = ModuleFilePath();
    const std::vector<std::wstring> args = ProcessArguments();
    const CommandLineOptions options = ParseCommandLine(args);

    // The block is read before anything else is decided: whether the run is
    // quiet decides how the elevation goes.
    // The program's own file is opened here, once, and held: every later
    // read of it goes through this handle.
    BlockLayout layout;
    BlockStatus status = BlockStatus::OpenFailed;
    if (const std::shared_ptr<FileSource> file = OwnFile()) status = ReadAppendedBlock(*file, state.block, &layout);
    const bool blockRead = status == BlockStatus::Ok;
    state.settings = ReadStartupSettings(state.block, blockRead, NativeProcessorArchitecture());
    state.quiet = state.settings.quietKey || options.quiet;
    SetUnattended(state.quiet);

    if (options.help) {
        ShowUsage(owner, state.quiet);
        EndProcessNow(0);
    }

    // A filtered administrator's run goes on elevated; this process waits
    // for it and ends with its code. A quiet run never prompts.
    switch (DecideElevation(RunsFilteredAdministrator(), state.quiet)) {
        case ElevationStep::Relaunch:
            EndProcessNow(RelaunchElevatedAndWait(modulePath, BuildRelaunchParameters(args)));
        case ElevationStep::FailQuietly:
            if (!options.logFile.empty()) OpenRunLog(options.logFile);
            LogLine(std::string("administrator rights are needed and a quiet run does not ask for them"));
            EndWith(kExitElevationRequired);
        case ElevationStep::None:
            break;
    }

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
        if (state.quiet) EndWith(code);
        TellUser(owner, kBlockRejectedText, L"", MB_ICONERROR);
        EndWith(0);
    }
    // A deployment that names a switch the program does not know gets told,
    // before anything is touched; a run with screens goes on as before.
    if (state.quiet && !options.unknown.empty()) {
        std::wstring line = L"bad command line, unknown:";
        for (const std::wstring& arg : options.unknown) line += L" " + QuoteArgument(arg);
        LogLine(line);
        EndWith(kExitBadCommandLine);
    }

    if (move.mustMove) {
        // The copy does the removal; this process waits for it and ends
        // with its code. The copy gets the quiet switch and the log.
        ReleaseOwnFile();
        std::wstring arguments = state.quiet ? L"/q" : L"";
        if (!options.logFile.empty()) {
            if (!arguments.empty()) arguments += L" ";
            arguments += QuoteArgument(L"/LOG=" + AbsolutePath(options.logFile));
        }
        EndProcessNow(HandOverToTemporaryCopy(modulePath, arguments, state.quiet));
    }
    LogLinef("role: %s%s", state.settings.role == 0 ? "uninstaller" : "setup", state.quiet ? ", quiet" : "");

    // One run of the product's setup or uninstaller at a time.
    if (!ProcessRunLock().TryAcquire()) {
        LogLine(std::string("another installation or removal of the product is in progress"));
        if (!state.quiet) TellUser(owner, kAnotherRunText, L"", MB_ICONWARNING);
        EndWith(kExitAnotherRun);
    }
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
    state.noLaunch = options.noLaunch;
    state.asideFolder = options.asideFolder;
    if (state.settings.role != 0) {
        state.installPath = !options.exactFolder.empty()
                                ? options.exactFolder
                                : ProposeInstallFolder(options.requestedFolder,
                                                       options.requestedFolder.empty() ? FindEarlierInstallation()
                                                                                       : EarlierInstallation(),
                                                       ProgramFilesFolder());
        LogLine(L"installation folder: " + state.installPath);
    }
    return state;
}

}  // namespace quillo
