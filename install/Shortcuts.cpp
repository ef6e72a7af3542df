#include "install/Shortcuts.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>


#include "app/StartupLogic.h"
#include "base/ShellFileOperation.h"
#include "base/SystemInfo.h"
#include "base/TextCodec.h"

namespace quillo {
namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

std::wstring FullPath(const std::wstring& path) {
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return std::wstring();
    std::wstring full(needed, L'\0');
    const DWORD n = GetFullPathNameW(path.c_str(), needed, &full[0], nullptr);
    if (n == 0 || n >= needed) return std::wstring();
    full.resize(n);
    return full;
}

// Releases a COM interface when it goes out of scope.
template <typename T>
struct ComRef {
    T* p = nullptr;
    ComRef() = default;
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ~ComRef() {
        if (p) p->Release();
    }
    void** out() { return reinterpret_cast<void**>(&p); }
};

// Writes one shell link; COM must be initialised on the calling thread.
// `workDir` and `description` are left unset when null.
bool SaveShellLink(const std::wstring& target, const wchar_t* workDir, const wchar_t* description,
                   const std::wstring& linkPath) {
    ComRef<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.out())))
        return false;
    ComRef<IPersistFile> file;
    if (FAILED(link.p->QueryInterface(IID_IPersistFile, file.out()))) return false;
    if (FAILED(link.p->SetPath(target.c_str()))) return false;
    if (workDir && FAILED(link.p->SetWorkingDirectory(workDir))) return false;
    if (description && FAILED(link.p->SetDescription(description))) return false;
    return SUCCEEDED(file.p->Save(linkPath.c_str(), TRUE));
}

// Calls visit(name, file) with the narrow texts of every entry of
// shortcutList[kind] that is an object with string "name" and "file"; other
// entries are passed over.
template <typename Visit>
void ForEachEntry(const JValue& shortcutList, const char* kind, Visit visit) {
    if (shortcutList.type() != JValue::Object) return;
    const JValue::ArrayType* entries = shortcutList.get(kind).arrayItems();
    if (!entries) return;
    for (const JValue& entry : *entries) {
        if (entry.type() != JValue::Object) continue;
        const JValue& name = entry.get("name");
        const JValue& file = entry.get("file");
        if (name.type() != JValue::String || file.type() != JValue::String) continue;
        visit(name.asString(), file.asString());
    }
}

// Deletes the link file when it is there.
void DeleteLinkFile(const std::wstring& linkPath) {
    if (!linkPath.empty() && PathExists(linkPath)) ShellDelete(linkPath);
}

}  // namespace

std::wstring CommonDesktopFolder() { return SpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY); }

std::wstring UserDesktopFolder() { return SpecialFolder(CSIDL_DESKTOPDIRECTORY); }

std::wstring QuickLaunchFolder() {
    const std::wstring appData = SpecialFolder(CSIDL_APPDATA);
    if (appData.empty()) return std::wstring();
    return appData + L"\\Microsoft\\Internet Explorer\\Quick Launch";
}

std::wstring StartMenuProgramsFolder() { return SpecialFolder(CSIDL_COMMON_PROGRAMS); }

std::wstring StartMenuFolder() {
    const std::wstring programs = StartMenuProgramsFolder();
    if (programs.empty()) return std::wstring();
    return programs + L"\\" + kStartMenuFolderName;
}

std::wstring ShortcutTarget(const std::wstring& installDir, const std::wstring& file) {
    std::wstring target = installDir + L"\\" + file;
    for (wchar_t& c : target) {
        if (c == L'/') c = L'\\';
    }
    return target;
}

bool IsSafeLinkName(const std::wstring& name) {
    if (name.empty() || name == L"." || name == L"..") return false;
    for (wchar_t c : name) {
        if (c < 0x20) return false;
    }
    return name.find_first_of(L"\\/:*?\"<>|") == std::wstring::npos;
}

std::wstring LinkPathIn(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty() || !IsSafeLinkName(name)) return std::wstring();
    return folder + L"\\" + name + L".lnk";
}

bool CreateLink(const std::wstring& target, const std::wstring& linkPath) {
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || linkPath.empty()) return false;
    const std::wstring workDir = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? target : RemoveFileSpec(target);

    // A thread that already runs COM in another apartment model gets
    // RPC_E_CHANGED_MODE; the shell link object works there all the same.
    const HRESULT com = CoInitialize(nullptr);
    const bool saved = SaveShellLink(target, workDir.c_str(), nullptr, linkPath);
    if (SUCCEEDED(com)) CoUninitialize();
    return saved;
}

ShortcutPlan PlanShortcuts(const JValue& shortcutList, const std::wstring& installDir, bool desktop, bool taskbar,
                           bool startMenu) {
    ShortcutPlan plan;
    auto collect = [&](const char* kind, const std::wstring& folder, std::vector<std::wstring>& links) {
        ForEachEntry(shortcutList, kind, [&](const std::string& name, const std::string& file) {
            const std::wstring link = LinkPathIn(folder, BlockTextToWide(name));
            if (link.empty() || !PathExists(ShortcutTarget(installDir, BlockTextToWide(file)))) return;
            links.push_back(link);
        });
    };
    if (desktop) collect("desktop", CommonDesktopFolder(), plan.desktop);
    if (taskbar) collect("taskbar", QuickLaunchFolder(), plan.taskbar);
    if (startMenu && !StartMenuFolder().empty()) plan.startMenu = StartMenuFolder() + L"\\" + kStartMenuLinkName;
    return plan;
}

int CreateDesktopShortcuts(const JValue& shortcutList, const std::wstring& installDir) {
    const std::wstring desktop = CommonDesktopFolder();
    int failed = 0;
    ForEachEntry(shortcutList, "desktop", [&](const std::string& name, const std::string& file) {
        const std::wstring link = LinkPathIn(desktop, BlockTextToWide(name));
        if (link.empty()) return;
        const std::wstring target = ShortcutTarget(installDir, BlockTextToWide(file));
        if (PathExists(target) && !CreateLink(target, link)) ++failed;
    });
    return failed;
}

int CreateTaskbarShortcuts(const JValue& shortcutList, const std::wstring& installDir) {
    const std::wstring quickLaunch = QuickLaunchFolder();
    const bool canPin = IsNt6OrLater();
    int failed = 0;
    ForEachEntry(shortcutList, "taskbar", [&](const std::string& name, const std::string& file) {
        const std::wstring link = LinkPathIn(quickLaunch, BlockTextToWide(name));
        if (link.empty()) return;
        const std::wstring target = ShortcutTarget(installDir, BlockTextToWide(file));
        if (!PathExists(target)) return;
        if (!CreateLink(target, link)) ++failed;
        // Asked for even when the link could not be written; the shell decides.
        if (canPin) ShellExecuteW(nullptr, L"taskbarpin", link.c_str(), nullptr, nullptr, SW_HIDE);
    });
    return failed;
}

int CreateStartMenuShortcut(const JValue& shortcutList, const std::wstring& installDir) {
    const std::wstring folder = StartMenuFolder();
    if (folder.empty()) return 1;

    // The last desktop entry is the product's main program.
    std::wstring target = installDir + L"\\";
    ForEachEntry(shortcutList, "desktop", [&](const std::string&, const std::string& file) {
        target = ShortcutTarget(installDir, BlockTextToWide(file));
    });

    SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);  // fails harmlessly when it exists
    // COM stays initialised on this thread; it goes away with the thread.
    CoInitialize(nullptr);
    return SaveShellLink(target, nullptr, kStartMenuLinkDescription, folder + L"\\" + kStartMenuLinkName) ? 0 : 1;
}

void RemoveDesktopShortcut(const std::wstring& name) {
    DeleteLinkFile(LinkPathIn(UserDesktopFolder(), name));
    DeleteLinkFile(LinkPathIn(CommonDesktopFolder(), name));
}

void RemoveTaskbarShortcut(const std::wstring& name) {
    const std::wstring link = LinkPathIn(QuickLaunchFolder(), name);
    if (link.empty()) return;
    if (IsNt6OrLater()) ShellExecuteW(nullptr, L"taskbarunpin", link.c_str(), nullptr, nullptr, SW_HIDE);
    DeleteLinkFile(link);
}

void RemoveStartMenuFolder() {
    const std::wstring folder = StartMenuFolder();
    if (!folder.empty()) ShellDelete(folder);
}

bool IsDeletablePath(const std::wstring& path) {
    if (path.size() <= 3 || path.find_first_of(L"*?") != std::wstring::npos) return false;
    const wchar_t first = path[0];
    const bool letter = (first >= L'A' && first <= L'Z') || (first >= L'a' && first <= L'z');
    const bool drivePath = letter && path[1] == L':' && IsSeparator(path[2]);
    // "\\server\share\..."; the "\\?\" and "\\.\" device forms are not taken.
    const bool uncPath = IsSeparator(path[0]) && IsSeparator(path[1]) &&
                         !((path[2] == L'?' || path[2] == L'.') && IsSeparator(path[3]));
    if (!drivePath && !uncPath) return false;

    std::wstring full = FullPath(path);
    while (!full.empty() && IsSeparator(full.back())) full.pop_back();
    return full.size() > 3 && !PathIsRootW(full.c_str());
}

bool ShellDelete(const std::wstring& path) {
    if (!IsDeletablePath(path)) return false;
    std::wstring full = FullPath(path);
    while (!full.empty() && IsSeparator(full.back())) full.pop_back();

    return ShellFileOperation(FO_DELETE, full);
}

}  // namespace quillo
