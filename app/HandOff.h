// The two hand-offs of the start, each waited for so that whoever started
// the program gets its exit code only when the work is done: the relaunch
// of a filtered administrator's run with full rights, and the uninstaller's
// move to a copy in the temporary folder. Windows only.
#pragma once

#include <windows.h>

#include <string>

namespace quillo {

// Starts the program again with full rights ("runas") and the same
// arguments, waits for that run and returns its exit code; the elevation
// code (740) when it could not be started (the prompt was refused).
int RelaunchElevatedAndWait(const std::wstring& modulePath, const std::wstring& parameters);

// The uninstaller hands over to a copy of itself in a private folder of the
// temporary folder ("<temp>Quillo_Temp_<16 hex>\unins000.exe", made new with
// a protected DACL; the copy is held open from its writing until it has
// ended), which does the removal, and waits for it:
// - the copy is given "/ASIDE=FOLDER", a fresh name beside the installation
//   folder, which it makes (hidden) to move this running uninstaller into at
//   the end of the removal (a running program can be renamed, not deleted);
// - when the copy has ended, its folder is deleted, and what was moved aside
//   goes once this process has ended (a command of the system's shell waits
//   for that);
// - the copy's exit code is returned: 1 when it could not be made or started.
// `arguments` are the ones the copy gets besides "/ASIDE".
int HandOverToTemporaryCopy(const std::wstring& modulePath, const std::wstring& arguments, bool quiet);

}  // namespace quillo
