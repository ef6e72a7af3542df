// Removal of an installation as its uninstall manifest describes it: settings
// read back, the product's clean-up commands, shortcuts, files and folders,
// the uninstall entry. Windows only.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "install/RunState.h"
#include "json/JValue.h"

namespace quillo {

// Removes the installation whose manifest is appended to `uninstallerPath`,
// or to the program's own file when the path is empty; then, for the own
// file, hands over with state.FinishWork(). Clean-up commands run only when
// state.installMode is 0. False when the manifest cannot be read or names no
// installation folder, when the removal was cut short, or when files of the
// product are still there afterwards (the uninstall entry then stays).
bool RunUninstall(RunState& state, const std::wstring& uninstallerPath);

// The file-removal step, run on its own thread: listed programs and
// libraries (ending what holds them), the uninstaller, the listed folders,
// then the installation folder when it is left empty. With the manifest's
// "freshroot" at 0 the installation folder held other files before, and only
// what was installed goes: the listed files, then the listed folders that are
// left empty. Protected folders (RemovalGuard) are never deleted.
// Returns how many of the listed files (and the uninstaller) are still there
// without being left to the next restart.
size_t RemoveFiles(const RunState& state, const JValue& manifest, const std::wstring& root);

// Settings of an installation about to be replaced or removed, so that a
// replacing installation keeps them: the build of root\Quillo.exe (or the
// entry's "Version"), and the entry's and the user's "Channel" and
// "NoAutorunTray".
void ReadBackSettings(RunState& state, const std::wstring& root);

// The non-empty names of a manifest's "desktop" or "taskbar" links.
std::vector<std::wstring> ManifestShortcutNames(const JValue& manifest, const char* kind);

// A file the product's programs may hold loaded: ".exe" or ".dll".
bool IsProgramOrLibrary(const std::wstring& path);

// Ends the product's own programs (those that run from root, or from
// `movedTo` where an installation's files were moved aside) that hold the
// file; any other holder is left alone and named in the log.
void EndProductHolders(const std::wstring& path, const std::wstring& root,
                       const std::wstring& movedTo = std::wstring());

}  // namespace quillo
