// Removal of an installation as its uninstall manifest describes it: settings
// read back, the product's clean-up commands, shortcuts, files and folders,
// the uninstall entry. Windows only.
#pragma once

#include <windows.h>

#include <string>

#include "install/RunState.h"
#include "json/JValue.h"

namespace quillo {

// Removes the installation whose manifest is appended to `uninstallerPath`,
// or to the program's own file when the path is empty; then, for the own
// file, hands over with state.FinishWork(). Clean-up commands run only when
// state.installMode is 0. False when the manifest cannot be read or names no
// installation folder; the removal steps themselves never fail it.
bool RunUninstall(RunState& state, const std::wstring& uninstallerPath);

// The file-removal step, run on its own thread: listed programs and
// libraries (ending what holds them), the uninstaller, the listed folders,
// then the installation folder when it is left empty. With the manifest's
// "freshroot" at 0 the installation folder held other files before, and only
// what was installed goes: the listed files, then the listed folders that are
// left empty. Protected folders (RemovalGuard) are never deleted.
void RemoveFiles(const RunState& state, const JValue& manifest, const std::wstring& root);

}  // namespace quillo
