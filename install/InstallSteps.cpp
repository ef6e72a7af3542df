#include "install/InstallSteps.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <algorithm>
#include <map>

#include "app/SetupPass.h"
#include "app/UninstallManifest.h"
#include "base/CHThread.h"
#include "base/Md5.h"
#include "base/PathText.h"
#include "base/PrivateFolder.h"
#include "base/RunLog.h"
#include "base/SystemInfo.h"
#include "base/TempFile.h"
#include "base/TextCodec.h"
#include "base/UserPrompt.h"
#include "install/CommandLine.h"
#include "install/ProcessTools.h"
#include "install/InstallSequence.h"
#include "install/ProductRegistration.h"
#include "install/Registry.h"
#include "install/Shortcuts.h"
#include "install/WholeFolders.h"
#include "uninstall/RemovalGuard.h"
#include "uninstall/UninstallSequence.h"

namespace quillo {
namespace {

bool IsFile(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Looks at paths with a memory of the folders seen: nothing below a folder
// that is missing is looked at, so the thousands of files of a fresh
// installation cost one look per folder, not one per file.
class PathLooks {
public:
    // INVALID_FILE_ATTRIBUTES without a look when a folder above is not there.
    DWORD Attributes(const std::wstring& path) {
        const std::wstring parent = ParentPath(path);
        if (parent.size() > 3 && parent.size() < path.size() && !FolderThere(parent)) return INVALID_FILE_ATTRIBUTES;
        return GetFileAttributesW(path.c_str());
    }
    bool FileThere(const std::wstring& path) {
        const DWORD attributes = Attributes(path);
        return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    }

private:
    bool FolderThere(const std::wstring& folder) {
        const auto seen = folders_.find(folder);
        if (seen != folders_.end()) return seen->second;
        const DWORD attributes = Attributes(folder);
        const bool there = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
        folders_[folder] = there;
        return there;
    }

    std::map<std::wstring, bool> folders_;
};

bool FolderIsNewOrEmpty(const std::wstring& folder) {
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) && PathIsDirectoryEmptyW(folder.c_str());
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    const std::wstring ca = ComparablePath(a), cb = ComparablePath(b);
    return !ca.empty() && EqualsIgnoreCase(ca, cb);
}

// A step whose changes are all in the journal: its Undo takes back the
// records it wrote.
class JournaledStep : public InstallStep {
public:
    JournaledStep(const char* name, InstallContext& c) : InstallStep(name), c_(c) {}
    InstallResult Do() override {
        mark_ = c_.journal.Mark();
        return Apply();
    }
    void Undo() override { c_.journal.UndoSince(mark_); }

protected:
    virtual InstallResult Apply() = 0;

    // Files that stand where this step writes go into the run's folder,
    // recorded first. A file that cannot be moved stays where it is, and the
    // log says so; false only when the record cannot be written.
    InstallResult SetAside(const std::vector<std::wstring>& files, std::vector<std::wstring>* stayed = nullptr,
                           const std::wstring& productRoot = std::wstring()) {
        std::vector<FileMove> moves;
        for (const std::wstring& file : files)
            if (IsFile(file)) moves.push_back({file, c_.journal.NewBackupPath()});
        const InstallResult r = c_.journal.RecordMoves(moves);
        if (!r.ok()) return r;
        for (const FileMove& move : moves) {
            bool moved = MoveFileAside(move.first, move.second);
            if (!moved && !productRoot.empty()) {
                // Held by a program of the product (which may already have
                // been moved aside itself): it is ended, as a removal ends it.
                EndProductHolders(move.first, productRoot, c_.journal.folder());
                moved = MoveFileAside(move.first, move.second);
            }
            if (moved) {
                LogLine(L"moved aside: " + move.first);
            } else {
                LogLine(L"cannot be moved aside (" + WindowsErrorText(GetLastError()) + L"), stays: " + move.first);
                if (stayed) stayed->push_back(move.first);
            }
        }
        return InstallResult::Ok();
    }

    InstallContext& c_;
    size_t mark_ = 0;
};

class BeginRun : public InstallStep {
public:
    explicit BeginRun(InstallContext& c) : InstallStep("begin"), c_(c) {}
    InstallResult Do() override {
        return c_.journal.Begin(c_.state.installDir, !c_.state.firstNewFolder.empty());
    }
    void Undo() override {}  // the journal's own end takes the folder back

private:
    InstallContext& c_;
};

class SetAsideEarlier : public JournaledStep {
public:
    explicit SetAsideEarlier(InstallContext& c) : JournaledStep("set aside the earlier installation", c) {}

protected:
    InstallResult Apply() override {
        RunState& state = c_.state;
        JValue manifest;
        if (!ReadAppendedBlock(c_.earlierUninstaller, manifest)) {
            LogLine(L"the earlier installation's manifest cannot be read; nothing of it is replaced: " +
                    c_.earlierUninstaller);
            return InstallResult::Ok();
        }
        const std::wstring root = ManifestRoot(manifest);
        if (root.empty()) return InstallResult::Ok();
        LogLine(L"setting aside the earlier installation: " + root);
        ReadBackSettings(state, root);
        state.SetStatusText(L"正在卸载组件");

        state.SetStatusText(L"正在删除快捷方式: %ld%%", 90);
        std::vector<std::wstring> links, unpinned;
        for (const std::wstring& name : ManifestShortcutNames(manifest, "desktop")) {
            links.push_back(LinkPathIn(UserDesktopFolder(), name));
            links.push_back(LinkPathIn(CommonDesktopFolder(), name));
        }
        for (const std::wstring& name : ManifestShortcutNames(manifest, "taskbar")) {
            const std::wstring link = LinkPathIn(QuickLaunchFolder(), name);
            links.push_back(link);
            if (IsFile(link)) unpinned.push_back(link);
        }
        const std::wstring startMenu = StartMenuFolder();
        if (!startMenu.empty()) {
            WIN32_FIND_DATAW data;
            HANDLE find = FindFirstFileW((startMenu + L"\\*").c_str(), &data);
            if (find != INVALID_HANDLE_VALUE) {
                do {
                    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                        links.push_back(startMenu + L"\\" + data.cFileName);
                } while (FindNextFileW(find, &data));
                FindClose(find);
            }
        }
        InstallResult r = c_.journal.RecordPins(unpinned, false);
        if (!r.ok()) return r;
        if (IsNt6OrLater())
            for (const std::wstring& link : unpinned)
                ShellExecuteW(nullptr, L"taskbarunpin", link.c_str(), nullptr, nullptr, SW_HIDE);
        r = SetAside(links);
        if (!r.ok()) return r;

        state.SetStatusText(L"正在删除文件");
        // Only files below the earlier folder, and never from a folder that
        // removal protects, are taken.
        const RemovalGuard guard;
        const std::wstring rootPath = guard.Comparable(root);
        std::vector<std::wstring> files;
        if (!rootPath.empty() && rootPath.size() > 3 && !guard.IsProtected(root)) {
            // Each folder is resolved once (with long names, a look at every
            // folder on the way), not once for each of its files.
            for (const std::wstring& file : ManifestPaths(manifest, kManifestFiles)) {
                const std::wstring path = WithBackslashes(file);
                const std::wstring& folder = guard.Comparable(ParentPath(path));
                if (!folder.empty() && IsSameOrBelow(folder + L"\\" + FileNamePart(path), rootPath))
                    files.push_back(path);
            }
        }
        // The product's programs that still run from the earlier folder are
        // ended first, as a removal ends them: they hold its files.
        int ended = 0;
        for (const std::wstring& file : files) {
            const wchar_t* extension = PathFindExtensionW(file.c_str());
            if (lstrcmpiW(extension, L".exe") == 0 && IsFile(file)) ended += EndProcessesNamed(file, root);
        }
        if (ended) Sleep(100);
        // Folders that hold only what the earlier installation put there go
        // aside in one rename each; the rest of its files one by one. A
        // folder that cannot be renamed (a file in it is open) goes file by
        // file too.
        std::vector<std::wstring> whole;
        if (!files.empty())
            whole = WholeFolders(files, ManifestPaths(manifest, kManifestFolders), rootPath, guard);
        std::vector<FileMove> folderMoves;
        for (const std::wstring& folder : whole) folderMoves.push_back({folder, c_.journal.NewBackupPath()});
        r = c_.journal.RecordMoves(folderMoves);
        if (!r.ok()) return r;
        whole.clear();
        for (const FileMove& move : folderMoves) {
            if (MoveFileExW(move.first.c_str(), move.second.c_str(), 0)) {
                LogLine(L"moved aside whole: " + move.first);
                whole.push_back(move.first);
            } else {
                LogLine(L"cannot be moved aside whole (" + WindowsErrorText(GetLastError()) +
                        L"), file by file: " + move.first);
            }
        }
        files.erase(std::remove_if(files.begin(), files.end(),
                                   [&whole](const std::wstring& file) { return InsideAny(file, whole); }),
                    files.end());
        r = SetAside(files, &c_.earlierLeftovers, root);
        if (!r.ok()) return r;

        state.SetStatusText(L"正在清理注册表");
        state.operation = 3;
        c_.earlierRoot = root;
        c_.earlierFolders = ManifestPaths(manifest, kManifestFolders);
        if (!startMenu.empty()) c_.earlierFolders.push_back(startMenu);
        c_.earlierFreshRoot =
            manifest.isMember(kManifestFreshRoot) ? manifest.get(kManifestFreshRoot).asInt() : 1;
        return InstallResult::Ok();
    }
};

// A package that fails its digest is left in the temporary folder for a
// look at what arrived: the only time the package is written there.
void KeepPackageForInspection(const InstallContext& c) {
    TempFile archive;
    if (archive.Create(L".zip") &&
        CopyRange(*c.setup.source, c.package.offset, c.package.size,
                  [&archive](uint8_t* data, size_t size) { return archive.Write(data, size); })) {
        archive.Keep();
        LogLine(L"the package that failed its digest: " + archive.path());
    } else {
        LogLine(L"the package that failed its digest cannot be kept in the temporary folder");
    }
}

constexpr size_t kDigestPassWindow = 128 * 1024;

class Unpack : public InstallStep {
public:
    explicit Unpack(InstallContext& c) : InstallStep("unpack"), c_(c) {}

    InstallResult Do() override {
        RunState& state = c_.state;
        // Without an earlier installation to set aside first, the copying
        // status stands from here.
        if (c_.earlierUninstaller.empty()) {
            state.SetStatusText(L"正在复制文件: %ld%%", 10);
            state.ReportProgress(10);
        }
        SetupPassResult pass;
        const bool hash = !state.packageDigest.empty();
        const SetupImage& setup = c_.setup;
        CHThread reader;
        // Smaller windows than a copy needs: the pass only hashes, beside
        // the extraction's own read-ahead, and the two share the memory bound.
        const bool threaded = reader.Start([&pass, &setup, hash](CHThread*) {
            pass = ReadSetupPass(setup, PackageSink(), hash, kDigestPassWindow);
        });

        const InstallResult unpacked = UnpackWhileReading();

        bool passDone = true;
        if (threaded) passDone = reader.WaitPumpingMessages();
        else pass = ReadSetupPass(setup, PackageSink(), hash, kDigestPassWindow);
        if (!passDone || !pass.readOk) return InstallResult::Failed(2, L"the setup file cannot be read");
        std::string digest;
        const bool digestOk = CheckDigest(pass.digest, state.packageDigest, digest);
        c_.digest = digest;
        if (!digestOk) {
            KeepPackageForInspection(c_);
            return InstallResult::Failed(9, L"the package digest is missing or wrong");
        }
        LogLine("package digest verified: " + digest);
        if (unpacked.ok()) return unpacked;
        // What went wrong is told only now: a package that fails its digest
        // has nothing to tell.
        if (unpacked.code == 8 && !planProblem_) {
            // The box names the entry, as the extraction's own boxes do.
            std::wstring entry = unpacked.path;
            if (!c_.stageRoot.empty() && entry.compare(0, c_.stageRoot.size() + 1, c_.stageRoot + L"\\") == 0)
                entry = entry.substr(c_.stageRoot.size() + 1);
            TellUser(state.window, entry, unpacked.what.c_str());
        } else if (planProblem_) {
            TellUser(state.window, c_.plan.entry, c_.plan.Caption());
        }
        return unpacked;
    }

    void Undo() override {
        if (!c_.stageRoot.empty()) DeleteFolderTree(c_.stageRoot);
    }

private:
    InstallResult UnpackWhileReading() {
        RunState& state = c_.state;
        if (!CanOpenArchive(L"", c_.package))
            return InstallResult::Failed(7, L"the package is not a readable ZIP archive");
        // Everything that would make the extraction stop half-way is looked
        // for before its first file: names, path lengths, the room on the
        // volume. The earlier installation stays until the new one stands,
        // so the new one needs its whole room beside it.
        c_.plan = PlanExtraction(L"", c_.package, state.installDir, state.drivers64 != 0, c_.setup.imageSize());
        LogLine("extraction plan: " + std::to_string(c_.plan.files) + " files, " +
                std::to_string(c_.plan.bytesNeeded) + " bytes needed, " + std::to_string(c_.plan.bytesFree) + " free");
        if (c_.plan.problem != ExtractionPlan::None) {
            planProblem_ = true;
            return InstallResult::Failed(8, c_.plan.Caption(), c_.plan.entry);
        }
        // Unpacked into a hidden folder of the installation folder (its
        // volume, its permissions); unless the paths there would be too
        // long, then it is unpacked in place once the checks have passed.
        c_.installDirWasEmpty = FolderIsNewOrEmpty(state.installDir);
        const std::wstring stage = state.installDir + L"\\" + kStageFolderPrefix + UniqueHex16().substr(0, 8);
        const size_t longer = stage.size() - state.installDir.size();
        if (c_.plan.longestFile + longer > kMaxFilePath || c_.plan.longestFolder + longer > kMaxFolderPath) {
            LogLine(L"unpacked in place: the paths would be too long in " + stage);
            return InstallResult::Ok();
        }
        InstallResult recorded = c_.journal.RecordStage(stage);
        if (!recorded.ok()) return recorded;
        if (!CreateDirectoryW(stage.c_str(), nullptr))
            return InstallResult::Failed(6, L"the package cannot be unpacked in the installation folder", stage,
                                         GetLastError());
        SetFileAttributesW(stage.c_str(), FILE_ATTRIBUTE_HIDDEN);
        c_.stageRoot = stage;
        InstallResult failure;
        if (!ExtractPackage(L"", stage, state.drivers64 != 0, c_.staged, state.window, c_.package, &failure,
                            false))
            return failure.ok() ? InstallResult::Failed(8, L"extraction failed", stage) : failure;
        return InstallResult::Ok();
    }

    InstallContext& c_;
    bool planProblem_ = false;
};

class Extract : public JournaledStep {
public:
    explicit Extract(InstallContext& c) : JournaledStep("extract", c) {}

protected:
    InstallResult Apply() override {
        RunState& state = c_.state;
        if (!c_.earlierUninstaller.empty()) {
            state.SetStatusText(L"正在复制文件: %ld%%", 10);
            state.ReportProgress(10);
        }
        // Whether the folder is the installation's own decides how much its
        // removal may take: a folder that held only the earlier installation
        // stays the product's own.
        const bool intoEarlier = !c_.earlierRoot.empty() && SamePath(c_.earlierRoot, state.installDir);
        const bool fresh = intoEarlier ? c_.earlierFreshRoot != 0 : c_.installDirWasEmpty;
        c_.manifest[kManifestFreshRoot] = fresh ? 1 : 0;

        PathLooks looks;
        std::vector<std::wstring> there, stayed;
        for (const std::wstring& file : c_.plan.targets)
            if (looks.FileThere(file)) there.push_back(file);
        InstallResult r = SetAside(there, &stayed);
        if (!r.ok()) return r;
        // The run makes every file it writes, except where one stays that
        // could not be moved aside; and every folder that is not there.
        std::sort(stayed.begin(), stayed.end());
        std::vector<std::wstring> files, folders;
        for (const std::wstring& file : c_.plan.targets)
            if (!std::binary_search(stayed.begin(), stayed.end(), file)) files.push_back(file);
        for (const std::wstring& folder : c_.plan.folders)
            if (looks.Attributes(folder) == INVALID_FILE_ATTRIBUTES) folders.push_back(folder);
        r = c_.journal.RecordMade(files, folders);
        if (!r.ok()) return r;

        if (!c_.stageRoot.empty()) {
            r = PlaceUnpacked();
        } else {
            InstallResult failure;
            if (!ExtractPackage(L"", state.installDir, state.drivers64 != 0, c_.manifest, state.window, c_.package,
                                &failure))
                r = failure.ok() ? InstallResult::Failed(8, L"extraction failed", state.installDir) : failure;
        }
        if (!r.ok()) return r;
        state.ReportProgress(60);
        return InstallResult::Ok();
    }

private:
    // What was unpacked goes to its place by renames (one volume): an entry
    // whose name is free there goes in one piece, folder and all; into a
    // folder that is there already its entries go one by one. The manifest
    // names everything where it lands.
    InstallResult PlaceUnpacked() {
        RunState& state = c_.state;
        const std::wstring stage = c_.stageRoot;
        InstallResult r = MoveInto(stage, state.installDir);
        if (!r.ok()) return r;
        RemoveDirectoryW(stage.c_str());
        auto placed = [&](const std::wstring& path) {
            return path.compare(0, stage.size(), stage) == 0 ? state.installDir + path.substr(stage.size()) : path;
        };
        for (const std::wstring& folder : ManifestPaths(c_.staged, kManifestFolders))
            AppendManifestPath(c_.manifest, kManifestFolders, placed(folder));
        for (const std::wstring& file : ManifestPaths(c_.staged, kManifestFiles))
            AppendManifestPath(c_.manifest, kManifestFiles, placed(file));
        LogLine(L"unpacked files put in place: " + state.installDir);
        return InstallResult::Ok();
    }

    InstallResult MoveInto(const std::wstring& from, const std::wstring& to) {
        RunState& state = c_.state;
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW((from + L"\\*").c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) return InstallResult::Ok();
        InstallResult r = InstallResult::Ok();
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring source = from + L"\\" + name, target = to + L"\\" + name;
            const bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            const DWORD there = GetFileAttributesW(target.c_str());
            if (there == INVALID_FILE_ATTRIBUTES && MoveFileExW(source.c_str(), target.c_str(), 0)) continue;
            if (folder) {
                if (!CreateFolderTree(target)) {
                    r = InstallResult::Failed(8, L"folder ERROR_ALREADY_EXISTS", target, GetLastError());
                    break;
                }
                r = MoveInto(source, target);
                if (!r.ok()) break;
                RemoveDirectoryW(source.c_str());
            } else if (!PlaceFile(source, target, state.window, state.installDir)) {
                const DWORD error = GetLastError();
                TellUser(state.window, target, L"touch file failed");
                r = InstallResult::Failed(8, L"touch file failed", target, error);
                break;
            }
        } while (FindNextFileW(find, &data));
        FindClose(find);
        return r;
    }
};

class Shortcuts : public JournaledStep {
public:
    explicit Shortcuts(InstallContext& c) : JournaledStep("shortcuts", c) {}

protected:
    InstallResult Apply() override {
        RunState& state = c_.state;
        const JValue& list = c_.setup.block.get("shortcut");
        const ShortcutPlan plan = PlanShortcuts(list, state.installDir, state.desktopShortcut == 1,
                                                state.taskbarShortcut == 1, state.startMenuShortcut == 1);
        std::vector<std::wstring> links = plan.desktop;
        links.insert(links.end(), plan.taskbar.begin(), plan.taskbar.end());
        if (!plan.startMenu.empty()) links.push_back(plan.startMenu);
        InstallResult r = SetAside(links);
        if (!r.ok()) return r;
        std::vector<std::wstring> folders;
        const std::wstring startMenu = StartMenuFolder();
        if (!plan.startMenu.empty() && GetFileAttributesW(startMenu.c_str()) == INVALID_FILE_ATTRIBUTES)
            folders.push_back(startMenu);
        r = c_.journal.RecordMade(links, folders);
        if (r.ok()) r = c_.journal.RecordPins(plan.taskbar, true);
        if (!r.ok()) return r;

        // Links are best effort: one that cannot be saved is logged, and the
        // installation goes on.
        int failed = 0;
        if (state.desktopShortcut == 1) {
            state.SetStatusText(L"正在创建桌面快捷方式: %ld%%", 65);
            state.ReportProgress(70);
            failed += CreateDesktopShortcuts(list, state.installDir);
        }
        state.ReportProgress(75);
        if (state.taskbarShortcut == 1) {
            state.SetStatusText(L"正在创建任务栏快捷方式: %ld%%", 75);
            failed += CreateTaskbarShortcuts(list, state.installDir);
        }
        if (state.startMenuShortcut == 1) {
            state.SetStatusText(L"正在创建开始菜单快捷方式: %ld%%", 75);
            failed += CreateStartMenuShortcut(list, state.installDir);
        }
        if (failed) LogLinef("%d link(s) could not be saved", failed);
        return InstallResult::Ok();
    }
};

class Uninstaller : public JournaledStep {
public:
    explicit Uninstaller(InstallContext& c) : JournaledStep("uninstaller", c) {}

protected:
    InstallResult Apply() override {
        RunState& state = c_.state;
        CompleteManifest(c_.manifest, state.channel, state.installDir, c_.setup.block);
        const std::wstring uninstaller = state.installDir + L"\\unins000.exe";
        // The uninstallers this one replaces stay until now, so that a run
        // cut short before here leaves the earlier one in its place.
        std::vector<std::wstring> replaced{uninstaller};
        if (!c_.earlierUninstaller.empty() && !SamePath(c_.earlierUninstaller, uninstaller))
            replaced.push_back(c_.earlierUninstaller);
        std::vector<std::wstring> stayed;
        InstallResult r = SetAside(replaced, &stayed);
        if (!r.ok()) return r;
        if (!stayed.empty())
            return InstallResult::Failed(8, L"the uninstaller it replaces cannot be moved aside", stayed.front(),
                                         GetLastError());
        r = c_.journal.RecordMade({uninstaller}, {});
        if (!r.ok()) return r;
        // Without its uninstaller the product could never be removed: that is
        // a failed installation, taken back whole.
        if (!WriteUninstaller(uninstaller, c_.setup, c_.manifest)) {
            const DWORD error = GetLastError();
            return InstallResult::Failed(8, L"the uninstaller cannot be written", uninstaller,
                                         error ? error : ERROR_WRITE_FAULT);
        }
        LogLine(L"uninstaller written: " + uninstaller);
        return InstallResult::Ok();
    }
};

class FirstRun : public InstallStep {
public:
    explicit FirstRun(InstallContext& c) : InstallStep("first-run commands"), c_(c) {}
    InstallResult Do() override {
        RunState& state = c_.state;
        const JValue& block = c_.setup.block;
        state.lastRunPath = state.installDir + L"\\" + BlockTextToWide(block.get("lastrun").asString());
        if (block.isMember("instrun")) state.installCommands = block.get("instrun");
        // The product's first-install commands, only while the user has no
        // configuration of the product yet.
        const std::wstring config = ProductConfigFile();
        const JValue& commands = block.get("instoptions");
        const JValue::ArrayType* items = commands.arrayItems();
        if (config.empty() || PathExists(config) || commands.type() != JValue::Array || !items)
            return InstallResult::Ok();
        for (const JValue& item : *items)
            StartDetached(InstallCommandLine(state.installDir, BlockTextToWide(item.asString())));
        return InstallResult::Ok();
    }
    // Programs that were started are the product's own business.
    void Undo() override {}

private:
    InstallContext& c_;
};

class Register : public JournaledStep {
public:
    explicit Register(InstallContext& c) : JournaledStep("register", c) {}

protected:
    InstallResult Apply() override {
        RunState& state = c_.state;
        InstallResult r = c_.journal.RecordKey(HKEY_LOCAL_MACHINE, kUninstallKey, true);
        if (r.ok()) r = c_.journal.RecordKey(HKEY_CURRENT_USER, kSettingsKey, false);
        if (!r.ok()) return r;
        const std::wstring uninstaller = state.installDir + L"\\unins000.exe";
        state.buildNumber = ReadBuildNumber(state.installDir + L"\\Quillo.exe");
        r = RegisterProduct(uninstaller, state.buildNumber, static_cast<uint32_t>(state.channel), state.noAutorunTray,
                            DescribeInstallation(state.installDir, uninstaller, c_.plan.fileBytes));
        // Without administrator rights the entry cannot be written; the
        // product is installed all the same, and the log says so.
        if (r.ok()) {
            LogLinef("registered: build %u, channel %d", static_cast<unsigned>(state.buildNumber), state.channel);
        } else {
            LogLine(L"not registered: " + DescribeFailure(name(), r));
        }
        state.ReportProgress(95);
        return InstallResult::Ok();
    }
};

}  // namespace

std::unique_ptr<InstallStep> BeginRunStep(InstallContext& c) { return std::unique_ptr<InstallStep>(new BeginRun(c)); }
std::unique_ptr<InstallStep> SetAsideEarlierStep(InstallContext& c) {
    return std::unique_ptr<InstallStep>(new SetAsideEarlier(c));
}
std::unique_ptr<InstallStep> UnpackStep(InstallContext& c) { return std::unique_ptr<InstallStep>(new Unpack(c)); }
std::unique_ptr<InstallStep> ExtractStep(InstallContext& c) { return std::unique_ptr<InstallStep>(new Extract(c)); }
std::unique_ptr<InstallStep> ShortcutsStep(InstallContext& c) { return std::unique_ptr<InstallStep>(new Shortcuts(c)); }
std::unique_ptr<InstallStep> UninstallerStep(InstallContext& c) {
    return std::unique_ptr<InstallStep>(new Uninstaller(c));
}
std::unique_ptr<InstallStep> FirstRunStep(InstallContext& c) { return std::unique_ptr<InstallStep>(new FirstRun(c)); }
std::unique_ptr<InstallStep> RegisterStep(InstallContext& c) { return std::unique_ptr<InstallStep>(new Register(c)); }

}  // namespace quillo
