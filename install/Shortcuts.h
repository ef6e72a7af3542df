// Shell links: desktop shortcuts, Quick Launch shortcuts pinned to the
// taskbar, the start-menu shortcut, and their removal. Windows only.
//
// The shortcut list is the setup block's "shortcut" object: "desktop" and
// "taskbar", arrays of {"name", "file"}. A link is "<folder>\<name>.lnk"; its
// target is "<install folder>\<file>" with every "/" turned into "\".
#pragma once

#include <string>
#include <vector>

#include "json/JValue.h"

namespace quillo {

// The start-menu folder below the all users' programs menu, the link in it and
// the link's description.
constexpr const wchar_t* kStartMenuFolderName = L"Quillo 3";
constexpr const wchar_t* kStartMenuLinkName = L"Quillo.lnk";
constexpr const wchar_t* kStartMenuLinkDescription = L"Quillo 3";

// One shell link to an existing file or folder, working in the target's
// folder (a folder target works in itself). False when the target does not
// exist or the link cannot be saved.
bool CreateLink(const std::wstring& target, const std::wstring& linkPath);

// The link files that the Create operations below write for the kinds
// chosen: the desktop and Quick Launch links of the entries whose target
// exists, and the start-menu link.
struct ShortcutPlan {
    std::vector<std::wstring> desktop;
    std::vector<std::wstring> taskbar;
    std::wstring startMenu;  // empty when not chosen or the folder is unknown
};
ShortcutPlan PlanShortcuts(const JValue& shortcutList, const std::wstring& installDir, bool desktop, bool taskbar,
                           bool startMenu);

// Each returns the number of links that could not be saved.
// Links for the "desktop" entries on the all users' desktop. Names and files
// are in the system ANSI code page; entries whose target is missing are passed
// over.
int CreateDesktopShortcuts(const JValue& shortcutList, const std::wstring& installDir);
// Links for the "taskbar" entries in the current user's Quick Launch folder,
// each then pinned to the taskbar on Windows Vista and later.
int CreateTaskbarShortcuts(const JValue& shortcutList, const std::wstring& installDir);
// "<common programs>\Quillo 3\Quillo.lnk" described "Quillo 3", pointing at
// the last "desktop" entry's target (its file read as UTF-8), or at
// "<installDir>\" when there is none. The target need not exist.
int CreateStartMenuShortcut(const JValue& shortcutList, const std::wstring& installDir);

// Deletes "<name>.lnk" from the current user's and the all users' desktop.
void RemoveDesktopShortcut(const std::wstring& name);
// Unpins (Vista and later) and deletes "<name>.lnk" in Quick Launch.
void RemoveTaskbarShortcut(const std::wstring& name);
// Deletes "<common programs>\Quillo 3" with everything in it.
void RemoveStartMenuFolder();

// Folders; each is empty when the shell cannot tell it.
std::wstring CommonDesktopFolder();      // CSIDL_COMMON_DESKTOPDIRECTORY
std::wstring UserDesktopFolder();        // CSIDL_DESKTOPDIRECTORY
std::wstring QuickLaunchFolder();        // CSIDL_APPDATA + "\Microsoft\Internet Explorer\Quick Launch"
std::wstring StartMenuProgramsFolder();  // CSIDL_COMMON_PROGRAMS
std::wstring StartMenuFolder();          // StartMenuProgramsFolder() + "\Quillo 3"

// "<installDir>\<file>" with every "/" replaced by "\".
std::wstring ShortcutTarget(const std::wstring& installDir, const std::wstring& file);

// A shortcut name that stays inside its folder: not empty, not "." or "..",
// and free of path separators, drive colons, wildcards, the other characters
// Windows forbids in file names and control characters.
bool IsSafeLinkName(const std::wstring& name);
// "<folder>\<name>.lnk"; empty when the folder is unknown or the name unsafe.
std::wstring LinkPathIn(const std::wstring& folder, const std::wstring& name);

// Whether ShellDelete may delete the path: longer than three characters,
// fully qualified ("X:\..." or "\\server\share\..."), without wildcards, and
// not a drive or share root once "." and ".." are resolved.
bool IsDeletablePath(const std::wstring& path);
// Deletes a file or a whole folder with the shell (FO_DELETE, silent, no
// confirmation, no error dialog, not to the recycle bin). False when the path
// is refused by IsDeletablePath or the shell reports a failure.
bool ShellDelete(const std::wstring& path);

}  // namespace quillo
