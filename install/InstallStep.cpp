#include "install/InstallStep.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "base/RunLog.h"

namespace quillo {

void PauseWhenAsked(const char* step) {
    const char* asked = std::getenv("QUILLO_PAUSE_BEFORE_STEP");
    if (!asked) return;
    const char* colon = std::strchr(asked, ':');
    const size_t length = colon ? static_cast<size_t>(colon - asked) : std::strlen(asked);
    if (length != std::strlen(step) || std::strncmp(asked, step, length) != 0) return;
    const long seconds = colon ? std::strtol(colon + 1, nullptr, 10) : 60;
    LogLine(std::string("pausing before step ") + step);
    Sleep(static_cast<DWORD>(seconds > 0 && seconds <= 600 ? seconds : 60) * 1000);
}

InstallResult RunSteps(const InstallSteps& steps, const char** failedStep) {
    if (failedStep) *failedStep = nullptr;
    for (size_t i = 0; i < steps.size(); ++i) {
        InstallStep& step = *steps[i];
        PauseWhenAsked(step.name());
        LogLine(std::string("step ") + step.name());
        const InstallResult result = step.Do();
        if (result.ok()) continue;
        LogLine(DescribeFailure(step.name(), result));
        if (failedStep) *failedStep = step.name();
        for (size_t j = i + 1; j-- > 0;) {
            LogLine(std::string("undoing step ") + steps[j]->name());
            steps[j]->Undo();
        }
        return result;
    }
    return InstallResult::Ok();
}

}  // namespace quillo
