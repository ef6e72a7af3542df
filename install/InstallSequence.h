// The installation itself, run on the progress window's install thread:
// removal of an earlier installation, the setup file read and verified, the
// package unpacked, shortcuts, the uninstaller, the registration, and the
// hand-over to the driver step or the completion message. Windows only.
#pragma once

#include <string>

#include "install/RunState.h"

namespace quillo {

// Runs the sequence and returns 0 on success or an install error code from 1
// to 9. `digestOut` receives the package's computed digest (empty when none
// was computed). The setup file is `setupFile`, or the program's own file when
// it is empty. On success the sequence has either sent WM_SETUP_DONE or
// started the driver step on state.driverThread; on failure the caller
// reports the code.
int RunInstall(RunState& state, std::string& digestOut, const std::wstring& setupFile = std::wstring());

// The product's configuration file of the current user; the first-install
// commands run only while it does not exist. Empty when the roaming
// application-data folder is unknown.
std::wstring ProductConfigFile();

}  // namespace quillo
