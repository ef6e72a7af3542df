#include "app/StartupLogic.h"

#include <cwctype>

#include "base/Base64.h"
#include "base/TextCodec.h"

namespace quillo {

const char* DriverFlagKey(uint16_t nativeArchitecture) {
    return nativeArchitecture == kArchitectureAmd64 ? "ituneslite64" : "ituneslite32";
}

StartupSettings ReadStartupSettings(const JValue& block, bool blockRead, uint16_t nativeArchitecture) {
    StartupSettings s;
    s.blockUsable = blockRead && block.isMember("mode");
    if (!s.blockUsable) return s;
    s.role = block.get("mode").asInt() == 0 ? 0 : 1;
    if (block.isMember("channel")) s.channel = block.get("channel").asInt();
    const char* driverKey = DriverFlagKey(nativeArchitecture);
    if (block.isMember(driverKey)) s.driverComponents = block.get(driverKey).asBool() ? 1 : 0;
    if (block.isMember("extrapack")) s.extraPack = block.get("extrapack").asBool() ? 1 : 0;
    if (block.isMember("selflaunch")) s.selfLaunch = block.get("selflaunch").asBool() ? 1 : 0;
    if (block.isMember("quiet")) s.quietKey = block.get("quiet").asBool();
    if (block.isMember("md5")) s.packageDigest = Utf8ToWide(block.get("md5").asString());
    if (block.isMember("protocol")) {
        s.protocol = block.get("protocol").asString();
        // Text that is not base64 leaves the decoded bytes empty; the block
        // stays usable.
        if (!Base64Decode(s.protocol, s.protocolBytes)) s.protocolBytes.clear();
    }
    return s;
}

namespace {

std::wstring Upper(const std::wstring& text) {
    std::wstring upper = text;
    for (wchar_t& c : upper)
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    return upper;
}

// "/NAME=value" (NAME in upper case): true with the value when `arg` is that
// switch with an "=", in any letter case.
bool ValueSwitch(const std::wstring& arg, const std::wstring& upperArg, const wchar_t* name, std::wstring& value) {
    const std::wstring prefix = std::wstring(L"/") + name + L"=";
    if (upperArg.compare(0, prefix.size(), prefix) != 0) return false;
    value = arg.substr(prefix.size());
    return true;
}

}  // namespace

CommandLineOptions ParseCommandLine(const std::vector<std::wstring>& args) {
    CommandLineOptions options;
    // The program's own path is looked at too, as the system gives it: a
    // program file named like a switch still counts as one.
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        const std::wstring upper = Upper(arg);
        std::wstring value;
        if (upper == L"/Q" || upper == L"/S" || upper == L"/SILENT" || upper == L"/VERYSILENT") {
            options.quiet = true;
        } else if (upper == L"/D") {
            if (i + 1 < args.size()) {
                options.requestedFolder = args[++i];
                options.exactFolder.clear();
            }
        } else if (ValueSwitch(arg, upper, L"D", value)) {
            options.requestedFolder = value;
            options.exactFolder.clear();
        } else if (ValueSwitch(arg, upper, L"DIR", value)) {
            options.exactFolder = value;
            options.requestedFolder.clear();
        } else if (ValueSwitch(arg, upper, L"LOG", value)) {
            if (!value.empty()) options.logFile = value;
        } else if (upper == L"/LOG") {
            if (i + 1 < args.size()) options.logFile = args[++i];
        } else if (upper == L"/NORESTART") {
            options.noRestart = true;
        } else if (upper == L"/NOLAUNCH") {
            options.noLaunch = true;
        } else if (upper == L"/?" || upper == L"/HELP") {
            options.help = true;
        } else if (ValueSwitch(arg, upper, L"ASIDE", value)) {
            options.asideFolder = value;
        } else if (i > 0) {
            options.unknown.push_back(arg);
        }
    }
    return options;
}

const wchar_t* UsageText() {
    return L"Quillo 3 setup\n"
           L"\n"
           L"  /q, /S, /SILENT, /VERYSILENT   no window, no question (a quiet run)\n"
           L"  /D=FOLDER or /D FOLDER         install into FOLDER\\Quillo 3\n"
           L"  /DIR=FOLDER                    install into exactly FOLDER\n"
           L"  /LOG=FILE or /LOG FILE         write a log of the run to FILE\n"
           L"  /NORESTART                     accepted; the program never restarts Windows\n"
           L"  /NOLAUNCH                      do not start the product after a quiet install\n"
           L"  /? or /HELP                    this text\n"
           L"\n"
           L"Exit codes: 0 done; 3010 done, a restart finishes it; 1-9 the setup failed (see the README);\n"
           L"1602 cancelled; 1618 another installation is in progress; 1639 bad command line;\n"
           L"740 administrator rights were not granted.\n";
}

ElevationStep DecideElevation(bool filteredAdministrator, bool quiet) {
    if (!filteredAdministrator) return ElevationStep::None;
    return quiet ? ElevationStep::FailQuietly : ElevationStep::Relaunch;
}

int RelaunchExitCode(bool started, uint32_t childExitCode) {
    return started ? static_cast<int>(childExitCode) : kExitElevationRequired;
}

bool ShouldStartProduct(bool quiet, bool selfLaunch, bool noLaunch, bool runsAsSystem) {
    return quiet && selfLaunch && !noLaunch && !runsAsSystem;
}

std::wstring RemoveFileSpec(const std::wstring& path) {
    const size_t slash = path.rfind(L'\\');
    if (slash == std::wstring::npos) {
        // "C:file" keeps its drive; a bare name leaves nothing.
        return path.size() >= 2 && path[1] == L':' ? path.substr(0, 2) : std::wstring();
    }
    if (slash == 2 && path[1] == L':') return path.substr(0, 3);  // "C:\name" -> "C:\"
    if (slash == 0) return L"\\";                                // "\name" -> "\"
    if (slash == 1 && path[0] == L'\\') return L"\\\\";         // "\\server" -> "\\"
    return path.substr(0, slash);
}

std::wstring ProposeInstallFolder(const std::wstring& requestedFolder, const EarlierInstallation& earlier,
                                  const std::wstring& programFiles) {
    if (!requestedFolder.empty()) return requestedFolder + L"\\Quillo 3";
    std::wstring folder = RemoveFileSpec(earlier.uninstallString);
    if (earlier.version < kMinProposedBuild) folder.clear();
    if (folder.empty()) folder = programFiles + L"\\Brightfen\\Quillo 3";
    return folder;
}

bool ShouldRelaunchElevated(bool nt6OrLater, int elevationType, bool linkedTokenIsAdmin) {
    return nt6OrLater && elevationType == kTokenElevationTypeLimited && linkedTokenIsAdmin;
}

std::wstring QuoteArgument(const std::wstring& arg) {
    if (arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are literal unless they stand before a quote.
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out.push_back(c);
    }
    out.append(backslashes * 2, L'\\');  // before the closing quote
    out.push_back(L'"');
    return out;
}

std::wstring BuildRelaunchParameters(const std::vector<std::wstring>& args) {
    std::wstring params;
    for (size_t i = 1; i < args.size(); ++i) {
        params.push_back(L' ');
        params += QuoteArgument(args[i]);
    }
    return params;
}

UninstallerMove DecideUninstallerMove(const std::wstring& modulePath, const std::wstring& tempFolder) {
    // "<temp>" + "Quillo_Temp_" + 16 hexadecimal digits + "\unins000.exe"
    const std::wstring prefix = tempFolder + L"Quillo_Temp_";
    const std::wstring name = L"\\unins000.exe";
    bool copy = modulePath.size() == prefix.size() + 16 + name.size() &&
                EqualsIgnoreCase(modulePath.substr(0, prefix.size()), prefix) &&
                EqualsIgnoreCase(modulePath.substr(prefix.size() + 16), name);
    for (size_t i = prefix.size(); copy && i < prefix.size() + 16; ++i) copy = iswxdigit(modulePath[i]) != 0;
    UninstallerMove move;
    move.mustMove = !copy;
    return move;
}

}  // namespace quillo
