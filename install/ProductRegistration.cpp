#include "install/ProductRegistration.h"

#ifdef _WIN32
#include <windows.h>

#include <cwchar>
#include <vector>

#include "base/SystemInfo.h"
#include "install/Registry.h"
#endif

namespace quillo {

uint32_t ParseBuildNumber(const std::wstring& privateBuild) {
    constexpr uint32_t kLongMax = 0x7FFFFFFFu;
    size_t i = 0;
    const size_t n = privateBuild.size();
    while (i < n && (privateBuild[i] == L' ' || (privateBuild[i] >= L'\t' && privateBuild[i] <= L'\r'))) ++i;
    bool negative = false;
    if (i < n && (privateBuild[i] == L'+' || privateBuild[i] == L'-')) {
        negative = privateBuild[i] == L'-';
        ++i;
    }
    uint32_t value = 0;
    for (; i < n && privateBuild[i] >= L'0' && privateBuild[i] <= L'9'; ++i) {
        const uint32_t digit = static_cast<uint32_t>(privateBuild[i] - L'0');
        value = value > (kLongMax - digit) / 10 ? kLongMax : value * 10 + digit;
    }
    return negative ? 0 : value;
}

#ifdef _WIN32

namespace {

constexpr REGSAM kReadWrite = KEY_READ | KEY_WRITE;  // 0x2001F

LONG SetString(HKEY key, const wchar_t* name, const std::wstring& text) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

LONG SetDword(HKEY key, const wchar_t* name, uint32_t value) {
    const DWORD data = value;
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
}

HKEY CreateKey(HKEY root, const wchar_t* path, REGSAM view) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, kReadWrite | view, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

ProductSettings ReadSettings(HKEY root, const wchar_t* path, REGSAM view, bool withVersion) {
    ProductSettings settings;  // ReadRegDword leaves a value it rejects at 0
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ | view, &key) != ERROR_SUCCESS) return settings;
    settings.hasChannel = ReadRegDword(key, L"Channel", settings.channel);
    if (withVersion) settings.hasVersion = ReadRegDword(key, L"Version", settings.version);
    settings.hasNoAutorunTray = ReadRegDword(key, L"NoAutorunTray", settings.noAutorunTray);
    RegCloseKey(key);
    return settings;
}

using RegDeleteKeyExFn = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);

RegDeleteKeyExFn LookUpRegDeleteKeyEx() {
    HMODULE advapi = GetModuleHandleW(L"advapi32.dll");
    if (!advapi) advapi = LoadSystemLibrary(L"advapi32.dll");
    if (!advapi) return nullptr;
    return reinterpret_cast<RegDeleteKeyExFn>(reinterpret_cast<void*>(GetProcAddress(advapi, "RegDeleteKeyExW")));
}

// The version resource's names, in the order of the resource compiler.
const wchar_t* const kVersionStringNames[] = {
    L"Comments",       L"CompanyName",     L"FileDescription",  L"FileVersion",
    L"InternalName",   L"LegalCopyright",  L"LegalTrademarks",  L"OriginalFilename",
    L"ProductName",    L"ProductVersion",  L"PrivateBuild",     L"SpecialBuild",
};

}  // namespace

InstallResult RegisterProduct(const std::wstring& uninstallerPath, uint32_t buildNumber, uint32_t channel,
                              int noAutorunTray, const EntryDetails& details) {
    // The first value that cannot be written names the failure; the others
    // are written all the same.
    InstallResult result;
    auto check = [&result](LONG status, const std::wstring& where) {
        if (status != ERROR_SUCCESS && result.ok())
            result = InstallResult::Failed(8, L"a registry value cannot be written", where, static_cast<DWORD>(status));
    };
    const std::wstring entryKey = std::wstring(L"HKLM\\") + kUninstallKey;
    if (HKEY entry = CreateKey(HKEY_LOCAL_MACHINE, kUninstallKey, kRegView)) {
        auto text = [&](const wchar_t* name, const std::wstring& value) {
            check(SetString(entry, name, value), entryKey + L"\\" + name);
        };
        auto number = [&](const wchar_t* name, uint32_t value) {
            check(SetDword(entry, name, value), entryKey + L"\\" + name);
        };
        text(L"DisplayName", kDisplayName);
        text(L"DisplayIcon", uninstallerPath);
        text(L"HelpLink", kHelpLink);
        text(L"UninstallString", uninstallerPath);
        text(L"Publisher", kPublisher);
        text(L"Lang", kProductLanguage);
        number(L"Version", buildNumber);
        // A product without a version resource leaves no version of another one behind.
        if (details.displayVersion.empty())
            RegDeleteValueW(entry, L"DisplayVersion");
        else
            text(L"DisplayVersion", details.displayVersion);
        text(L"InstallLocation", details.installLocation);
        number(L"EstimatedSize", details.estimatedSizeKb);
        text(L"InstallDate", details.installDate);
        // Quoted: the path holds spaces, and an argument follows.
        text(L"QuietUninstallString", L"\"" + uninstallerPath + L"\" /q");
        number(L"NoModify", 1);
        number(L"NoRepair", 1);
        RegCloseKey(entry);
    } else {
        check(static_cast<LONG>(GetLastError() ? GetLastError() : ERROR_ACCESS_DENIED), entryKey);
    }
    // HKEY_CURRENT_USER\SOFTWARE is one tree for 32-bit and 64-bit programs.
    const std::wstring settingsKey = std::wstring(L"HKCU\\") + kSettingsKey;
    HKEY settings = CreateKey(HKEY_CURRENT_USER, kSettingsKey, 0);
    if (!settings) {
        check(ERROR_ACCESS_DENIED, settingsKey);
        return result;
    }
    check(SetDword(settings, L"Channel", channel), settingsKey + L"\\Channel");
    if (noAutorunTray == 1) check(SetDword(settings, L"NoAutorunTray", 1), settingsKey + L"\\NoAutorunTray");
    RegCloseKey(settings);
    return result;
}

EntryDetails DescribeInstallation(const std::wstring& installDir, const std::wstring& uninstallerPath,
                                  uint64_t fileBytes) {
    EntryDetails details;
    std::map<std::wstring, std::wstring> strings;
    if (ReadVersionStrings(installDir + L"\\Quillo.exe", strings)) details.displayVersion = strings[L"ProductVersion"];
    details.installLocation = installDir;
    // The files' sizes come from the extraction: looking at thousands of
    // files again would only repeat what it wrote.
    uint64_t bytes = fileBytes;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExW(uninstallerPath.c_str(), GetFileExInfoStandard, &data) &&
        !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        bytes += (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    const uint64_t kilobytes = (bytes + 1023) / 1024;
    details.estimatedSizeKb = kilobytes > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(kilobytes);
    SYSTEMTIME today;
    GetLocalTime(&today);
    wchar_t date[16];
    std::swprintf(date, sizeof date / sizeof date[0], L"%04u%02u%02u", static_cast<unsigned>(today.wYear),
                  static_cast<unsigned>(today.wMonth), static_cast<unsigned>(today.wDay));
    details.installDate = date;
    return details;
}

EarlierInstallation FindEarlierInstallation() {
    EarlierInstallation earlier;
    HKEY key = nullptr;
    // Read and write access: without administrator rights nothing is found.
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, kReadWrite | kRegView, &key) != ERROR_SUCCESS)
        return earlier;
    if (!ReadRegString(key, L"UninstallString", 520, earlier.uninstallString)) earlier.uninstallString.clear();
    if (!ReadRegDword(key, L"Version", earlier.version)) earlier.version = 0;
    RegCloseKey(key);
    return earlier;
}

ProductSettings ReadUninstallEntrySettings() {
    return ReadSettings(HKEY_LOCAL_MACHINE, kUninstallKey, kRegView, true);
}

ProductSettings ReadUserSettings() { return ReadSettings(HKEY_CURRENT_USER, kSettingsKey, 0, false); }

bool DeleteRegistryKey(HKEY root, const std::wstring& path, REGSAM view) {
    static const RegDeleteKeyExFn deleteKeyEx = LookUpRegDeleteKeyEx();
    const size_t cut = path.rfind(L'\\');
    if (cut == std::wstring::npos) return false;
    HKEY parent = nullptr;
    if (RegOpenKeyExW(root, path.substr(0, cut).c_str(), 0, kReadWrite | view, &parent) != ERROR_SUCCESS)
        return false;
    // The parent handle lies in the view asked for; the key is asked for in
    // the same view.
    const std::wstring name = path.substr(cut + 1);
    const LONG result = deleteKeyEx ? deleteKeyEx(parent, name.c_str(), view, 0) : RegDeleteKeyW(parent, name.c_str());
    RegCloseKey(parent);
    return result == ERROR_SUCCESS;
}

bool DeleteUninstallEntry() { return DeleteRegistryKey(HKEY_LOCAL_MACHINE, kUninstallKey, kRegView); }

bool ReadVersionStrings(const std::wstring& path, std::map<std::wstring, std::wstring>& strings) {
    strings.clear();
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (size == 0) return false;
    std::vector<BYTE> info(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, info.data())) return false;

    void* root = nullptr;
    UINT rootLength = 0;
    if (!VerQueryValueW(info.data(), L"\\", &root, &rootLength)) return false;
    void* translations = nullptr;
    UINT translationBytes = 0;
    if (!VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", &translations, &translationBytes) ||
        !translations || translationBytes < 4)
        return false;
    const WORD* first = static_cast<const WORD*>(translations);
    const unsigned language = first[0];
    const unsigned codePage = first[1];

    for (const wchar_t* name : kVersionStringNames) {
        wchar_t query[64];
        std::swprintf(query, sizeof query / sizeof query[0], L"\\StringFileInfo\\%04x%04x\\%ls", language, codePage,
                      name);
        void* text = nullptr;
        UINT length = 0;  // characters, the terminating NUL included when present
        if (!VerQueryValueW(info.data(), query, &text, &length) || !text) continue;
        const wchar_t* chars = static_cast<const wchar_t*>(text);
        size_t count = 0;
        while (count < length && chars[count] != L'\0') ++count;
        strings[name] = std::wstring(chars, count);
    }
    return true;
}

uint32_t ReadBuildNumber(const std::wstring& path) {
    std::map<std::wstring, std::wstring> strings;
    if (!ReadVersionStrings(path, strings)) return 0;
    const auto found = strings.find(L"PrivateBuild");
    return found == strings.end() ? 0 : ParseBuildNumber(found->second);
}

#endif

}  // namespace quillo
