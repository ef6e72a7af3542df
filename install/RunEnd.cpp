#include "install/RunEnd.h"

#include <shellapi.h>

#include "app/StartupLogic.h"
#include "base/RunLog.h"
#include "base/SystemInfo.h"
#include "install/ProcessTools.h"
#include "net/Statistics.h"

namespace quillo {

void EndFailedInstall(const RunState& state, int code, const std::string& digest) {
    SendEventReport(state.operation, static_cast<int32_t>(state.buildNumber), state.channel, state.reportL,
                    std::wstring(digest.begin(), digest.end()), code, 0);
}

void EndCompletedRun(const RunState& state) {
    if (state.installMode == 1) RunPostInstallCommands(state);
    SendEventReport(state.operation, static_cast<int32_t>(state.buildNumber), state.channel, state.reportL,
                    std::wstring(), 0, state.driverResult);
    if (state.installMode != 1 || !state.quiet || !state.selfLaunch) return;
    if (ShouldStartProduct(true, true, state.noLaunch != 0, RunsAsSystem())) {
        LogLine(L"starting the product: " + state.lastRunPath);
        StartProduct(state.lastRunPath);
    } else {
        LogLine(std::string("the product is not started (/NOLAUNCH, or the run is the system account's)"));
    }
}

void EndQuietDriverStep(const RunState& state) {
    RunPostInstallCommands(state);
    SendEventReport(state.operation, static_cast<int32_t>(state.buildNumber), state.channel, state.reportL, L"",
                    state.driverResult, 0);
}

int SuccessExitCode() { return RestartNeeded() ? kExitRestartRequired : 0; }

void SplitStartPath(const std::wstring& startPath, std::wstring& file, std::wstring& parameters) {
    const size_t slash = startPath.rfind(L'/');
    if (slash == std::wstring::npos || slash == 0) {
        file = startPath;
        parameters.clear();
        return;
    }
    file = L"\"" + startPath.substr(0, slash - 1) + L"\"";
    parameters = startPath.substr(slash - 1);
}

INT_PTR StartProduct(const std::wstring& startPath) {
    std::wstring file, parameters;
    SplitStartPath(startPath, file, parameters);
    return reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", file.c_str(),
                                                   parameters.empty() ? nullptr : parameters.c_str(), nullptr,
                                                   SW_SHOW));
}

}  // namespace quillo
