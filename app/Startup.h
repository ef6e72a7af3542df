// The startup steps run at the start of the main window's creation: elevated
// relaunch, the appended block, the uninstaller's move to the temporary folder,
// the command line and the proposed installation folder. Windows only.
#pragma once

#include <windows.h>

#include <string>

#include "app/StartupLogic.h"
#include "json/JValue.h"

namespace quillo {

struct StartupState {
    JValue block;
    StartupSettings settings;
    bool quiet = false;            // "quiet" key or "/q"
    std::wstring requestedFolder;  // "/D"
    std::wstring logFile;          // "/LOG": the run's log, already open
    std::wstring installPath;      // proposed installation folder (install role)
    // The uninstaller whose manifest the removal reads, when an installation
    // cut short was taken back and its earlier installation restored; empty
    // for the program's own file.
    std::wstring manifestFile;
};

// The message shown when the program's own block is missing or unusable.
constexpr const wchar_t* kBlockRejectedText = L"安装包校验失败, 操作终止.";

// Runs the steps in order. The relaunches and the rejection end the process
// with exit code 0 and do not return; message boxes are owned by `owner`.
StartupState RunStartup(HWND owner);

}  // namespace quillo
