// An installation as a list of steps: each step that changes the machine has
// a Do and an Undo; the steps run in order, and when one fails, it and every
// step before it are undone, newest first. Windows only.
#pragma once

#include <memory>
#include <vector>

#include "install/InstallResult.h"

namespace quillo {

class InstallStep {
public:
    explicit InstallStep(const char* name) : name_(name) {}
    virtual ~InstallStep() = default;
    InstallStep(const InstallStep&) = delete;
    InstallStep& operator=(const InstallStep&) = delete;

    const char* name() const { return name_; }
    // Makes the step's change; a failure may leave part of it made, which
    // Undo then takes back.
    virtual InstallResult Do() = 0;
    // Takes back what Do made, also when Do failed half-way.
    virtual void Undo() = 0;

private:
    const char* name_;
};

using InstallSteps = std::vector<std::unique_ptr<InstallStep>>;

// Runs the steps in order. On a failure the log names the step, the path and
// the Windows error, the failed step and those before it are undone in
// reverse order, and the failure is returned. `failedStep` receives the
// failed step's name (nullptr on success).
InstallResult RunSteps(const InstallSteps& steps, const char** failedStep = nullptr);

// QUILLO_PAUSE_BEFORE_STEP=<name>[:<seconds>] holds the run before the step
// of that name (a minute unless told), so that a test can end the process at
// a known point, or take a picture of the progress screen. Nothing else reads
// it; an unset or unknown name changes nothing. RunSteps asks it before each
// step; the removal asks it for "remove", before its files go.
void PauseWhenAsked(const char* step);

}  // namespace quillo
