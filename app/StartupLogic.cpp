#include "app/StartupLogic.h"

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

// "/LOG", in any letter case (the "=" of "/LOG=" is checked by the caller).
bool IsLogSwitch(const std::wstring& text) {
    if (text.size() < 4 || text[0] != L'/') return false;
    const wchar_t* word = L"LOG";
    for (int i = 0; i < 3; ++i) {
        wchar_t c = text[static_cast<size_t>(i) + 1];
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
        if (c != word[i]) return false;
    }
    return true;
}

}  // namespace

CommandLineOptions ParseCommandLine(const std::vector<std::wstring>& args) {
    CommandLineOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == L"/q") {
            options.quiet = true;
        } else if (args[i] == L"/D" && i + 1 < args.size()) {
            options.requestedFolder = args[++i];
        } else if (args[i].size() > 5 && IsLogSwitch(args[i].substr(0, 5)) && args[i][4] == L'=') {
            options.logFile = args[i].substr(5);
        } else if (args[i].size() == 4 && IsLogSwitch(args[i]) && i + 1 < args.size()) {
            options.logFile = args[++i];
        }
    }
    return options;
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
    UninstallerMove move;
    move.tempCopy = tempFolder + L"unins000.exe";
    move.mustMove = !EqualsIgnoreCase(modulePath, move.tempCopy);
    return move;
}

}  // namespace quillo
