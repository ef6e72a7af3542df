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
    bool noLaunch = false;      // "/NOLAUNCH"
    std::wstring asideFolder;   // "/ASIDE": where the removal moves the running uninstaller
};

// The message of a run started while another one of the product goes on.
constexpr const wchar_t* kAnotherRunText = L"另一个安装或卸载程序正在运行, 请等它结束后再试.";

// The message shown when the program's own block is missing or unusable.
constexpr const wchar_t* kBlockRejectedText = L"安装包校验失败, 操作终止.";

// Runs the steps in order. The relaunches, the hand-over to the uninstaller's
// copy, "/?", the rejections and a second run end the process and do not
// return: a hand-over with the code of the run it waited for, a rejection
// with its own code (Startup logic's exit codes); message boxes are owned by
// `owner`.
StartupState RunStartup(HWND owner);

}  // namespace quillo
