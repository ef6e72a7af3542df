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
    bool quiet = false;          // "/q"
    std::wstring requestedFolder;  // the element after "/D"
    std::wstring logFile;          // "/LOG=FILE" or "/LOG FILE" (any letter case)
};

// Examines every element from index 0, case-sensitively ("/LOG" in any case);
// later ones win, and "/D" or "/LOG" as the last element is ignored.
CommandLineOptions ParseCommandLine(const std::vector<std::wstring>& args);

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

// The uninstaller runs from "<temp>unins000.exe"; `tempFolder` ends with a
// backslash as GetTempPathW gives it.
struct UninstallerMove {
    bool mustMove = false;
    std::wstring tempCopy;
};
UninstallerMove DecideUninstallerMove(const std::wstring& modulePath, const std::wstring& tempFolder);

}  // namespace quillo
