#include "uninstall/UninstallSequence.h"

#include <shlwapi.h>

#include <algorithm>
#include <cwctype>
#include <map>
#include <set>
#include <cstdint>
#include <vector>

#include "app/AppendedBlock.h"
#include "app/UninstallManifest.h"
#include "base/CHThread.h"
#include "base/FolderTree.h"
#include "base/RunLog.h"
#include "base/SystemInfo.h"
#include "base/TextCodec.h"
#include "install/CommandLine.h"
#include "install/EntryName.h"
#include "install/InstallStep.h"
#include "install/ProcessTools.h"
#include "install/ProductRegistration.h"
#include "install/Shortcuts.h"
#include "uninstall/RemovalGuard.h"

namespace quillo {
namespace {

constexpr DWORD kWaitAfterEnding = 100;

}  // namespace

void ReadBackSettings(RunState& state, const std::wstring& root) {
    state.buildNumber = ReadBuildNumber(root + L"\\Quillo.exe");
    const ProductSettings entry = ReadUninstallEntrySettings();
    if (entry.hasChannel && entry.channel != 0) state.channel = static_cast<int>(entry.channel);
    if (entry.hasVersion && entry.version != 0 && state.buildNumber == 0) state.buildNumber = entry.version;
    if (entry.hasNoAutorunTray) state.noAutorunTray = static_cast<int>(entry.noAutorunTray);
    const ProductSettings user = ReadUserSettings();
    if (user.hasChannel && user.channel != 0) state.channel = static_cast<int>(user.channel);
    if (user.hasNoAutorunTray) state.noAutorunTray = static_cast<int>(user.noAutorunTray);
}

std::vector<std::wstring> ManifestShortcutNames(const JValue& manifest, const char* kind) {
    std::vector<std::wstring> names;
    const JValue& list = manifest.get("setup").get("shortcut").get(kind);
    const JValue::ArrayType* items = list.arrayItems();
    if (list.type() != JValue::Array || !items) return names;
    for (const JValue& entry : *items) {
        const std::wstring name = BlockTextToWide(entry.get("name").asString());
        if (!name.empty()) names.push_back(name);
    }
    return names;
}

bool IsProgramOrLibrary(const std::wstring& path) {
    const std::wstring extension = PathFindExtensionW(path.c_str());
    return extension == L".exe" || extension == L".dll";
}

void EndProductHolders(const std::wstring& path, const std::wstring& root, const std::wstring& movedTo) {
    int ended = 0;
    for (const FileHolder& holder : FindProcessesUsingFile(path)) {
        if (IsProgramInside(holder, root)) {
            ended += EndProcessesNamed(holder.name, root);
        } else if (!movedTo.empty() && IsProgramInside(holder, movedTo)) {
            ended += EndProcessesNamed(holder.name, movedTo);
        } else {
            LogLine(L"held by a program that is not the product's, not ended: " + holder.executable);
        }
    }
    if (ended) Sleep(kWaitAfterEnding);
}

namespace {

void RunCleanUpCommands(const RunState& state, const JValue& commands, const std::wstring& root) {
    const JValue::ArrayType* items = commands.arrayItems();
    if (commands.type() != JValue::Array || !items) return;
    for (const JValue& item : *items) {
        std::wstring line = InstallCommandLine(root, BlockTextToWide(item.asString()));
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) continue;
        WaitForProcessPumping(pi.hProcess, state.window);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
}

bool FolderExists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

// Deletes a folder with everything below it. Links (junctions, symbolic
// links) are removed themselves, never followed. Much cheaper than the
// shell's file operation for thousands of files; what cannot be deleted
// stays, and the caller looks at what is left.
// What one removal could not delete now and left to the next restart.
struct DeferredRemoval {
    std::vector<std::wstring> files;
};

// Deletes a file, trying again while a scanner has it open for a moment;
// what another program still holds goes at the next restart.
static bool RemoveLogged(const std::wstring& file, DeferredRemoval& deferred) {
    if (RetryWhileShared([&] { return DeleteFileW(file.c_str()) != FALSE; })) {
        LogLine(L"file removed: " + file);
        return true;
    }
    std::wstring scheduled;
    if (PathExists(file) && DeleteAtRestart(file, scheduled)) deferred.files.push_back(scheduled);
    return false;
}

// A program or library goes at once unless a running program has it loaded
// (Windows refuses to delete a mapped image); only then are its holders
// looked for, the product's own ended, and the delete tried again. Asking
// the Restart Manager first would cost a session for every such file, most
// of them held by nothing.
static void RemoveProgramOrLibrary(const std::wstring& file, const std::wstring& root, DeferredRemoval& deferred) {
    if (RetryWhileShared([&] { return DeleteFileW(file.c_str()) != FALSE; })) {
        LogLine(L"file removed: " + file);
        return;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return;
    EndProductHolders(file, root);
    RemoveLogged(file, deferred);
}

// `keep`, when not empty, is a file (as ComparablePath gives it) that stays.
static void DeleteTree(const std::wstring& folder, const std::wstring& keep, DeferredRemoval& deferred) {
    DeleteFolderTree(folder, [&keep, &deferred](const std::wstring& path) {
        if (keep.empty() || !EqualsIgnoreCase(path, keep)) RemoveLogged(path, deferred);
    });
}

// The folders that held files left to the restart go after them, innermost
// first, up to the installation folder.
static void DeferFolders(const DeferredRemoval& deferred, const std::wstring& rootPath) {
    std::set<std::wstring> folders;
    for (const std::wstring& file : deferred.files) {
        std::wstring folder = ComparablePath(ParentPath(file));
        while (!folder.empty() && IsSameOrBelow(folder, rootPath)) {
            folders.insert(folder);
            if (folder.size() <= rootPath.size()) break;
            folder = ComparablePath(ParentPath(folder));
        }
    }
    std::vector<std::wstring> ordered(folders.begin(), folders.end());
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const std::wstring& a, const std::wstring& b) { return a.size() > b.size(); });
    for (const std::wstring& folder : ordered) {
        if (FolderExists(folder) && MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
            NoteRestartNeeded();
            LogLine(L"folder goes at the next restart: " + folder);
        }
    }
}

size_t RemoveFiles(const RunState& state, const JValue& manifest, const std::wstring& root) {
    const RemovalGuard guard;
    // Nothing outside the installation folder is ever removed. A root that is
    // not an absolute path, is written in a device form ("\\?\", "\\.\"), or
    // is itself a drive or one of the system's or the users' folders removes
    // nothing: no installation folder of this program is one of those.
    const std::wstring rootPath = guard.Comparable(root);
    if (!IsDeletablePath(root) || rootPath.size() <= 3 || !IsDeletablePath(rootPath) || guard.IsProtected(root))
        return 0;
    // Nor is anything removed through a link: a junction or symbolic link
    // that stands where the installation folder was is removed itself, and
    // a folder that opens as another one (a link on the way to it), or one
    // on another machine, is refused whole.
    HANDLE held = INVALID_HANDLE_VALUE;
    std::wstring opened;
    switch (CheckRemovalRoot(rootPath, held, opened)) {
        case RootCheck::Usable:
        case RootCheck::Missing:
            break;
        case RootCheck::Link:
            LogLine(L"the installation folder is a link; only the link is removed: " + rootPath);
            if (RemoveDirectoryW(rootPath.c_str()) || !PathExists(rootPath)) return 0;
            LogLinef("the link stays (error %lu)", static_cast<unsigned long>(GetLastError()));
            return 1;
        case RootCheck::Elsewhere:
            LogLine(L"removal refused: the installation folder " + rootPath + L" opens as " + opened);
            return 1;
        case RootCheck::NotLocal:
            LogLine(L"removal refused: the installation folder is not a local folder: " + rootPath);
            return 1;
    }
    struct HeldRoot {
        HANDLE& handle;
        void Close() {
            if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
            handle = INVALID_HANDLE_VALUE;
        }
        ~HeldRoot() { Close(); }
    } heldRoot{held};
    auto belowRoot = [&rootPath, &guard](const std::wstring& path) {
        const std::wstring& comparable = guard.Comparable(path);
        return !comparable.empty() && IsDeletablePath(path) && IsSameOrBelow(comparable, rootPath);
    };
    // A file goes when it lies in the root itself or in a folder below it
    // that is not one of the system's or the users' own folders.
    std::map<std::wstring, bool> folderAllowed;  // by folder: most files share one
    auto removableFile = [&](const std::wstring& file) {
        const std::wstring comparable = guard.Comparable(file);
        if (comparable.empty() || !IsDeletablePath(file) || !IsSameOrBelow(comparable, rootPath)) return false;
        const std::wstring folder = comparable.substr(0, comparable.rfind(L'\\'));
        auto known = folderAllowed.find(folder);
        if (known == folderAllowed.end()) {
            // A folder reached through a link lies elsewhere: nothing in it goes.
            const bool allowed = (IsSameOrBelow(rootPath, folder) || !guard.IsProtected(folder)) &&
                                 !LinkOnTheWay(folder + L"\\x", rootPath);
            known = folderAllowed.emplace(folder, allowed).first;
        }
        return known->second;
    };
    // Without the member the folder counts as the installation's own.
    const bool freshRoot = !manifest.isMember(kManifestFreshRoot) || manifest.get(kManifestFreshRoot).asInt() != 0;

    DeferredRemoval deferred;
    const std::vector<std::wstring> files = ManifestPaths(manifest, kManifestFiles);
    // The manifest names a file's folder once per file; each is looked at once.
    std::vector<std::wstring> folders;
    {
        std::set<std::wstring> seen;
        for (std::wstring& folder : ManifestPaths(manifest, kManifestFolders)) {
            std::wstring key = WithBackslashes(folder);
            for (wchar_t& c : key) c = static_cast<wchar_t>(towlower(c));
            if (seen.insert(key).second) folders.push_back(std::move(folder));
        }
    }
    // Deepest first, so that a folder emptied of its subfolders goes too.
    std::stable_sort(folders.begin(), folders.end(),
                     [](const std::wstring& a, const std::wstring& b) { return a.size() > b.size(); });
    // The listed files one by one, then the listed folders that are left
    // empty; a folder that still holds anything stays.
    auto removeListed = [&]() {
        for (const std::wstring& file : files) {
            if (!PathExists(file) || !removableFile(file)) continue;
            if (IsProgramOrLibrary(file)) {
                RemoveProgramOrLibrary(file, root, deferred);
            } else {
                RemoveLogged(file, deferred);
            }
        }
        for (const std::wstring& folder : folders) {
            if (guard.IsProtected(folder) || !belowRoot(folder) || LinkOnTheWay(guard.Comparable(folder), rootPath))
                continue;
            RemoveDirectoryW(WithBackslashes(folder).c_str());
        }
    };

    // The uninstaller goes last of all, so that a removal that is cut short
    // can be run again from the entry in the list of installed programs.
    const std::wstring uninstaller = root + L"\\unins000.exe";
    const std::wstring keep = ComparablePath(uninstaller);
    if (freshRoot) {
        // Programs and libraries one by one, ending what holds them; the rest
        // goes with the folders.
        for (const std::wstring& file : files) {
            if (!IsProgramOrLibrary(file) || !removableFile(file)) continue;
            RemoveProgramOrLibrary(file, root, deferred);
        }
        // Outermost first: a folder goes with everything below it, and the
        // folders below are then gone already.
        for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
            if (!FolderExists(*it) || guard.IsProtected(*it) || !belowRoot(*it)) continue;
            const std::wstring& folder = guard.Comparable(*it);
            if (LinkOnTheWay(folder, rootPath)) continue;
            if (IsLink(folder)) {
                // A link listed as a folder: the link goes, not what it points to.
                RemoveDirectoryW(folder.c_str());
                continue;
            }
            DeleteTree(folder, keep, deferred);
        }
        // What could not go (a file still held, say) goes piece by piece.
        if (FolderExists(root)) removeListed();
    } else {
        removeListed();
    }
    // What is still there and not left to the next restart: with any of it,
    // the uninstaller stays too, so that the removal can be finished.
    size_t remaining = 0;
    auto deferredFile = [&deferred](const std::wstring& file) {
        for (const std::wstring& scheduled : deferred.files)
            if (EqualsIgnoreCase(WithBackslashes(scheduled), WithBackslashes(file))) return true;
        return false;
    };
    for (const std::wstring& file : files) {
        if (!PathExists(file) || !removableFile(file) || deferredFile(file)) continue;
        LogLine(L"still there after the removal: " + file);
        ++remaining;
    }
    if (remaining > 0) return remaining;

    // The folder the uninstaller that started this copy named is taken only
    // beside the installation folder, under a fresh name of the product's.
    const std::wstring& aside = state.asideFolder;
    const bool asideUsable = !aside.empty() && FileNamePart(aside).compare(0, 13, L"~QuilloSetup.") == 0 &&
                             SameFolder(ParentPath(aside), ParentPath(root));
    if (PathExists(uninstaller)) {
        if (ShellDelete(uninstaller) && !PathExists(uninstaller)) {
            LogLine(L"file removed: " + uninstaller);
        } else if (asideUsable && CreateDirectoryW(aside.c_str(), nullptr) &&
                   SetFileAttributesW(aside.c_str(), FILE_ATTRIBUTE_HIDDEN) &&
                   MoveFileExW(uninstaller.c_str(), (aside + L"\\unins000.exe").c_str(), 0)) {
            // The uninstaller that started this copy still runs from it; it
            // deletes what was moved once it has ended.
            LogLine(L"the running uninstaller moved out of the folder: " + uninstaller);
        } else {
            RemoveLogged(uninstaller, deferred);
        }
    }

    heldRoot.Close();
    if (FolderExists(root) && PathIsDirectoryEmptyW(root.c_str()) && !guard.IsProtected(root)) ShellDelete(root);
    if (!deferred.files.empty()) DeferFolders(deferred, rootPath);
    if (PathExists(uninstaller) && !deferredFile(uninstaller)) {
        LogLine(L"still there after the removal: " + uninstaller);
        ++remaining;
    }
    return remaining;
}

bool RunUninstall(RunState& state, const std::wstring& uninstallerPath) {
    // After a recovery the manifest of the installation it restored is read
    // instead of the running program's own.
    const std::wstring file = !uninstallerPath.empty()      ? uninstallerPath
                              : !state.manifestFile.empty() ? state.manifestFile
                                                            : ModuleFilePath();
    JValue manifest;
    // The program's own manifest comes through the handle held since the start.
    const std::shared_ptr<FileSource> own = file == ModuleFilePath() ? OwnFile() : nullptr;
    const bool read = own ? ReadAppendedBlock(*own, manifest) == BlockStatus::Ok : ReadAppendedBlock(file, manifest);
    if (!read) return false;
    const std::wstring root = ManifestRoot(manifest);
    if (root.empty()) return false;

    ReadBackSettings(state, root);
    state.SetStatusText(L"正在卸载组件");

    if (state.installMode == 0) RunCleanUpCommands(state, manifest.get("uninstrun"), root);

    state.SetStatusText(L"正在删除快捷方式: %ld%%", 90);
    for (const std::wstring& name : ManifestShortcutNames(manifest, "desktop")) RemoveDesktopShortcut(name);
    for (const std::wstring& name : ManifestShortcutNames(manifest, "taskbar")) RemoveTaskbarShortcut(name);
    RemoveStartMenuFolder();

    state.SetStatusText(L"正在删除文件");
    {
        CHThread remover;
        const RunState* owner = &state;
        bool finished = false;
        size_t remaining = 0;
        if (remover.Start([owner, &manifest, &root, &remaining](CHThread*) {
                PauseWhenAsked("remove");
                remaining = RemoveFiles(*owner, manifest, root);
            })) {
            finished = remover.WaitPumpingMessages();
        } else {
            remaining = RemoveFiles(state, manifest, root);
            finished = true;
        }
        // A removal ended half-way by a quit keeps its entry, so that it can
        // be run again and finish.
        if (!finished) {
            LogLine(std::string("removal interrupted; the uninstall entry stays"));
            return false;
        }
        // Nor does the entry of a product whose files are still there go:
        // it is how the removal can be finished.
        if (remaining > 0) {
            LogLinef("%u file(s) of the product could not be removed; the uninstall entry stays",
                     static_cast<unsigned>(remaining));
            return false;
        }
    }

    state.SetStatusText(L"正在清理注册表");
    DeleteUninstallEntry();
    LogLine(std::string("uninstall entry removed"));

    if (uninstallerPath.empty()) state.FinishWork();
    return true;
}

}  // namespace quillo
