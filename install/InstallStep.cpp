#include "install/InstallStep.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "base/RunLog.h"

namespace quillo {
namespace {

// QUILLO_PAUSE_BEFORE_STEP=<name> holds the run for a minute before that
// step, so that a test can end the process at a known point. Nothing else
// reads it; an unset or unknown name changes nothing.
void PauseWhenAsked(const char* step) {
    const char* asked = std::getenv("QUILLO_PAUSE_BEFORE_STEP");
    if (!asked || std::strcmp(asked, step) != 0) return;
    LogLine(std::string("pausing before step ") + step);
    Sleep(60000);
}

}  // namespace

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
