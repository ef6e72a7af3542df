// The product's registration with Windows: the uninstall entry under
// HKEY_LOCAL_MACHINE (32-bit view), the current user's product settings, and
// the build number read from a file's version resource.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#ifdef _WIN32
#include <windows.h>

#include "install/InstallResult.h"
#endif

#include "app/StartupLogic.h"

namespace quillo {

// The current user's product settings; the uninstaller leaves them in place.
constexpr const wchar_t* kSettingsKey = L"SOFTWARE\\Brightfen\\Quillo3";
// The parent of the uninstall entry and the entry's own name under it.
constexpr const wchar_t* kUninstallParentKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr const wchar_t* kUninstallEntryName = L"Brightfen";

constexpr const wchar_t* kDisplayName = L"Quillo 3";
constexpr const wchar_t* kPublisher = L"Brightfen Technology Co.";
constexpr const wchar_t* kHelpLink = L"http://www.brightfen.com/quillo/";
// The language of the product as text: Simplified Chinese.
constexpr const wchar_t* kProductLanguage = L"2052";

// The build number of a "PrivateBuild" text, converted as the C runtime's
// decimal conversion does (wcstol with base 10): leading white space, an
// optional sign, then the leading decimal digits; no digits gives 0.
// A value above 2147483647 gives 2147483647, the C runtime's own limit for a
// 32-bit long; a negative value gives 0, since no build has a negative number.
uint32_t ParseBuildNumber(const std::wstring& privateBuild);

// What the list of installed programs and package managers read of an
// installation besides the product's own values: the version they match
// an installed program by, where it lives and how much room it takes.
struct EntryDetails {
    std::wstring displayVersion;   // "DisplayVersion"; an empty one removes the value
    std::wstring installLocation;  // "InstallLocation"
    uint32_t estimatedSizeKb = 0;  // "EstimatedSize"
    std::wstring installDate;      // "InstallDate", yyyymmdd
};

#ifdef _WIN32

// Writes the uninstall entry (32-bit view of HKEY_LOCAL_MACHINE): "DisplayName",
// "DisplayIcon", "HelpLink", "UninstallString", "Publisher", "Lang" (all
// REG_SZ) and "Version" (REG_DWORD = buildNumber), then what Windows and
// package managers look for: the details ("DisplayVersion",
// "InstallLocation", "EstimatedSize", "InstallDate"), "QuietUninstallString"
// (the uninstaller quoted, with "/q") and "NoModify" = "NoRepair" = 1 (the
// uninstaller only removes); then the current user's settings: "Channel" =
// channel, and "NoAutorunTray" = 1 only when noAutorunTray is 1 (an existing
// value is otherwise left as it is).
// A key that cannot be created is skipped; the result names the first key
// or value that could not be written, with the system's error.
InstallResult RegisterProduct(const std::wstring& uninstallerPath, uint32_t buildNumber, uint32_t channel,
                              int noAutorunTray, const EntryDetails& details);

// The details of the installation in installDir: the "ProductVersion" of
// Quillo.exe's version resource, the folder, the size of the files written
// (fileBytes, as the extraction knows it) and of the uninstaller in
// kilobytes (rounded up), and today's local date.
EntryDetails DescribeInstallation(const std::wstring& installDir, const std::wstring& uninstallerPath,
                                  uint64_t fileBytes);

// "UninstallString" (520-character buffer) and "Version" of the uninstall
// entry, opened with read and write access, so that nothing is found without
// administrator rights. Unreadable values give an empty string and 0.
EarlierInstallation FindEarlierInstallation();

// Settings read back before an installation is removed. A `has` flag is set
// when the value exists with type REG_DWORD.
struct ProductSettings {
    bool hasChannel = false;
    uint32_t channel = 0;
    bool hasVersion = false;
    uint32_t version = 0;
    bool hasNoAutorunTray = false;
    uint32_t noAutorunTray = 0;
};

// "Channel", "Version" and "NoAutorunTray" of the uninstall entry (read access).
ProductSettings ReadUninstallEntrySettings();
// "Channel" and "NoAutorunTray" of the current user's settings key (read
// access); hasVersion is always false.
ProductSettings ReadUserSettings();

// Deletes the uninstall entry from the 32-bit view; the current user's settings
// stay. RegDeleteKeyExW is looked up at run time (Windows XP 32-bit lacks it),
// RegDeleteKeyW serving where it is absent. False when the parent key does not
// open with read and write access or the entry cannot be deleted (missing, or
// holding subkeys).
bool DeleteUninstallEntry();
// Deletes one key (it must have no subkeys) in the registry view `view`
// (KEY_WOW64_32KEY, or 0 for the process's own); false when it cannot.
bool DeleteRegistryKey(HKEY root, const std::wstring& path, REGSAM view);

// The twelve standard strings of a file's version resource, taken from the
// string table of the first translation; only names present are stored.
// False (and an empty map) when the file has no version resource, or the
// resource lacks its root block or a translation.
bool ReadVersionStrings(const std::wstring& path, std::map<std::wstring, std::wstring>& strings);

// ParseBuildNumber of the file's "PrivateBuild"; 0 when the file, its version
// resource or the string is missing.
uint32_t ReadBuildNumber(const std::wstring& path);

#endif

}  // namespace quillo
