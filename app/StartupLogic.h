// The decisions the program takes at start, before any screen exists: role and
// settings from the appended block, command-line switches, the proposed
// installation folder, elevation and the uninstaller's move to the temporary
// folder. Pure functions; the Windows side feeds them (app/Startup.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "json/JValue.h"

namespace quillo {

// What the appended block asks for. Absent keys keep the defaults.
struct StartupSettings {
    bool blockUsable = false;  // read, parsed and holding "mode"
    int role = 1;              // "mode": 0 uninstall, anything else install
    int channel = 1;
    int driverComponents = 0;  // "ituneslite64" on 64-bit Windows, else "ituneslite32"
    int extraPack = 1;
    int selfLaunch = 0;
    bool quietKey = false;        // "quiet"
    std::wstring packageDigest;   // "md5"
    std::string protocol;         // "protocol", base64 text as the block holds it
    std::string protocolBytes;    // that text decoded; empty when it is not valid base64
};

// Processor architectures as GetNativeSystemInfo reports them.
constexpr uint16_t kArchitectureX86 = 0;
constexpr uint16_t kArchitectureIa64 = 6;
constexpr uint16_t kArchitectureAmd64 = 9;
constexpr uint16_t kArchitectureArm64 = 12;

// The block key of the driver flag on a machine with this processor:
// "ituneslite64" on x64 processors only. ARM64 and Itanium machines run a
// 32-bit program under WOW64 too, yet take "ituneslite32".
const char* DriverFlagKey(uint16_t nativeArchitecture);

StartupSettings ReadStartupSettings(const JValue& block, bool blockRead, uint16_t nativeArchitecture);
// The machine's processor, not whether Windows is 64-bit, picks the driver flag.
StartupSettings ReadStartupSettings(const JValue& block, bool blockRead, bool) = delete;

struct CommandLineOptions {
    bool quiet = false;            // "/q", "/S", "/SILENT" or "/VERYSILENT"
    std::wstring requestedFolder;  // "/D FOLDER" or "/D=FOLDER": the product goes below it
    std::wstring exactFolder;      // "/DIR=FOLDER": the product goes exactly there
    std::wstring logFile;          // "/LOG=FILE" or "/LOG FILE"
    bool noRestart = false;        // "/NORESTART": accepted (the program never restarts Windows)
    bool noLaunch = false;         // "/NOLAUNCH": no start of the product after a quiet install
    bool help = false;             // "/?" or "/HELP"
    // "/ASIDE=FOLDER", given by an uninstaller to its temporary copy: where
    // the copy moves the running uninstaller out of the installation folder.
    std::wstring asideFolder;
    std::vector<std::wstring> unknown;  // arguments after the program's path that no switch takes
};

// Examines every element from index 0; switches in any letter case; later
// ones win ("/D" and "/DIR" replace each other), and "/D" or "/LOG" as the
// last element is ignored.
CommandLineOptions ParseCommandLine(const std::vector<std::wstring>& args);

// The text of "/?" and "/HELP".
const wchar_t* UsageText();

// Exit codes beyond the install error codes 1 to 9, each a Windows error
// code whose standard meaning deployment tools know.
constexpr int kExitRestartRequired = 3010;     // done; a restart finishes it (ERROR_SUCCESS_REBOOT_REQUIRED)
constexpr int kExitCancelled = 1602;           // the user cancelled (ERROR_INSTALL_USEREXIT)
constexpr int kExitAnotherRun = 1618;          // another installation is in progress (ERROR_INSTALL_ALREADY_RUNNING)
constexpr int kExitBadCommandLine = 1639;      // a quiet run with an unknown switch (ERROR_INVALID_COMMAND_LINE)
constexpr int kExitElevationRequired = 740;    // administrator rights not granted (ERROR_ELEVATION_REQUIRED)

// What the start does about elevation: nothing, relaunch elevated and wait
// for the elevated run, or (a quiet run, which never waits for a person)
// end with kExitElevationRequired without asking.
enum class ElevationStep { None, Relaunch, FailQuietly };
ElevationStep DecideElevation(bool filteredAdministrator, bool quiet);
// The code a relaunching process ends with: the elevated run's, or
// kExitElevationRequired when it did not start (the prompt was refused).
int RelaunchExitCode(bool started, uint32_t childExitCode);

// Whether a run starts the product when it ends: only a quiet one whose
// block asks for it ("selflaunch"), never with "/NOLAUNCH" and never as the
// system account, whose programs no user would ever see.
bool ShouldStartProduct(bool quiet, bool selfLaunch, bool noLaunch, bool runsAsSystem);

// What the uninstall entry of an earlier installation holds.
struct EarlierInstallation {
    std::wstring uninstallString;  // empty when absent or unreadable
    uint32_t version = 0;          // 0 when absent or not a DWORD
};

// The oldest build whose folder is proposed again.
constexpr uint32_t kMinProposedBuild = 3000;

std::wstring ProposeInstallFolder(const std::wstring& requestedFolder, const EarlierInstallation& earlier,
                                  const std::wstring& programFiles);

// The path without its last backslash-separated component, as the shell's
// PathRemoveFileSpecW gives it for drive, rooted, UNC and relative paths.
std::wstring RemoveFileSpec(const std::wstring& path);

// Token elevation type that marks a filtered administrator token.
constexpr int kTokenElevationTypeLimited = 3;

bool ShouldRelaunchElevated(bool nt6OrLater, int elevationType, bool linkedTokenIsAdmin);

// The parameters of the elevated relaunch: every argument after the program
// name, each preceded by one space. Arguments with white space or quotes are
// quoted so that CommandLineToArgvW gives them back unchanged.
std::wstring BuildRelaunchParameters(const std::vector<std::wstring>& args);
std::wstring QuoteArgument(const std::wstring& arg);

// The uninstaller runs from its temporary copy only,
// "<temp>Quillo_Temp_<16 hex digits>\unins000.exe"; `tempFolder` ends with a
// backslash as GetTempPathW gives it.
struct UninstallerMove {
    bool mustMove = false;
};
UninstallerMove DecideUninstallerMove(const std::wstring& modulePath, const std::wstring& tempFolder);

}  // namespace quillo
