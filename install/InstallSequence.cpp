#include "install/InstallSequence.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "app/AppendedBlock.h"
#include "app/RunLog.h"
#include "app/SetupPass.h"
#include "app/SystemInfo.h"
#include "app/TextCodec.h"
#include "app/UninstallManifest.h"
#include "install/CommandLine.h"
#include "install/DriverComponents.h"
#include "install/CHThread.h"
#include "install/Md5.h"
#include "install/PackageExtractor.h"
#include "install/ProductRegistration.h"
#include "install/Shortcuts.h"
#include "install/TempFile.h"
#include "install/UserPrompt.h"
#include "uninstall/UninstallSequence.h"

namespace quillo {
namespace {

bool FolderIsNewOrEmpty(const std::wstring& folder) {
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) && PathIsDirectoryEmptyW(folder.c_str());
}

void RunFirstInstallCommands(const RunState& state, const JValue& commands) {
    const std::wstring config = ProductConfigFile();
    if (config.empty() || PathExists(config)) return;
    const JValue::ArrayType* items = commands.arrayItems();
    if (commands.type() != JValue::Array || !items) return;
    for (const JValue& item : *items) StartDetached(InstallCommandLine(state.installDir, BlockTextToWide(item.asString())));
}

}  // namespace

std::wstring ProductConfigFile() {
    const std::wstring appData = SpecialFolder(CSIDL_APPDATA, true);
    return appData.empty() ? appData : appData + L"\\Brightfen\\Quillo\\Config\\Quillo.cfg";
}

namespace {

// How the run ends when a step fails: what this run made of the installation
// folder and its parents goes again (only while empty), and the log says why.
int Failed(RunState& state, int code, const std::wstring& why) {
    LogLine(L"install error " + std::to_wstring(code) + L": " + why);
    RemoveFoldersMadeFor(state.installDir, state.firstNewFolder);
    return code;
}

}  // namespace

int RunInstall(RunState& state, std::string& digestOut, const std::wstring& setupFile) {
    digestOut.clear();
    // The options screen may have made the folder already and said so.
    if (state.firstNewFolder.empty()) state.firstNewFolder = OutermostMissingFolder(state.installDir);

    // An earlier installation goes first, through its own uninstaller.
    const EarlierInstallation earlier = FindEarlierInstallation();
    if (!earlier.uninstallString.empty() && PathExists(earlier.uninstallString)) {
        LogLine(L"removing the earlier installation: " + earlier.uninstallString);
        RunUninstall(state, earlier.uninstallString);
        state.operation = 3;
    }

    SetupImage setup;
    const int readResult = ReadSetupImage(setupFile.empty() ? ModuleFilePath() : setupFile, setup);
    if (readResult != 0) return Failed(state, readResult, L"the setup file cannot be used");

    // One pass over the whole setup file, a window at a time: the package
    // goes to the temporary archive while a second thread computes its
    // digest. The results are looked at in the order of the checks: the file
    // unreadable (2), the archive not written (6), the digest (9).
    // The temporary archive must fit before a byte of it is written.
    const bool room = FreeBytesOfVolume(TempFolder()) >= static_cast<uint64_t>(setup.packageSize) + 65536;
    // The archive goes when this run ends, however it ends.
    TempFile archive;
    const bool created = room && archive.Create(L".zip");
    const SetupPassResult pass = ReadSetupPass(
        setup, created ? PackageSink([&archive](const uint8_t* data, size_t size) { return archive.Write(data, size); })
                       : PackageSink(),
        !state.packageDigest.empty());
    if (!pass.readOk) return Failed(state, 2, L"the setup file cannot be read");
    const bool digestOk = CheckDigest(pass.digest, state.packageDigest, digestOut);
    if (!room) return Failed(state, 6, L"no room for the temporary archive in " + TempFolder());
    if (!created || !pass.sinkOk) return Failed(state, 6, L"the temporary archive cannot be written: " + archive.path());
    LogLine(L"temporary archive: " + archive.path());
    if (!digestOk) {
        // A package that fails its digest is left for a look at what arrived.
        archive.Keep();
        return Failed(state, 9, L"the package digest is missing or wrong");
    }

    LogLine("package digest verified: " + digestOut);
    state.SetStatusText(L"正在复制文件: %ld%%", 10);
    state.ReportProgress(10);

    // The temporary archive holds the package's bytes; the ZIP reader takes
    // them from the setup file, which this run holds open for reading only,
    // so they are the bytes whose digest was checked.
    const PackageSource package{setup.source.get(), setup.packageOffset, setup.packageSize};
    if (!CanOpenArchive(archive.path(), package)) return Failed(state, 7, L"the package is not a readable ZIP archive");

    // Everything that would make the extraction stop half-way is looked for
    // before its first file: names, path lengths, the room on the volume.
    const ExtractionPlan plan = PlanExtraction(archive.path(), package, state.installDir, state.drivers64 != 0,
                                               setup.imageSize());
    LogLine("extraction plan: " + std::to_string(plan.files) + " files, " + std::to_string(plan.bytesNeeded) +
            " bytes needed, " + std::to_string(plan.bytesFree) + " free");
    if (plan.problem != ExtractionPlan::None) {
        TellUser(state.window, plan.entry, plan.Caption());
        return Failed(state, 8, std::wstring(plan.Caption()) + L": " + plan.entry);
    }

    // Whether the folder is the installation's own decides how much its
    // removal may take.
    JValue manifest;
    manifest[kManifestFreshRoot] = FolderIsNewOrEmpty(state.installDir) ? 1 : 0;
    const bool extracted =
        ExtractPackage(archive.path(), state.installDir, state.drivers64 != 0, manifest, state.window, package);
    archive.Close();
    if (!extracted) {
        RollBackExtraction(manifest);
        return Failed(state, 8, L"extraction failed; what was written is removed");
    }
    state.ReportProgress(60);

    const JValue& block = setup.block;
    const JValue& shortcuts = block.get("shortcut");
    if (state.desktopShortcut == 1) {
        state.SetStatusText(L"正在创建桌面快捷方式: %ld%%", 65);
        state.ReportProgress(70);
        CreateDesktopShortcuts(shortcuts, state.installDir);
    }
    state.ReportProgress(75);
    if (state.taskbarShortcut == 1) {
        state.SetStatusText(L"正在创建任务栏快捷方式: %ld%%", 75);
        CreateTaskbarShortcuts(shortcuts, state.installDir);
    }
    if (state.startMenuShortcut == 1) {
        state.SetStatusText(L"正在创建开始菜单快捷方式: %ld%%", 75);
        CreateStartMenuShortcut(shortcuts, state.installDir);
    }

    CompleteManifest(manifest, state.channel, state.installDir, block);
    const std::wstring uninstaller = state.installDir + L"\\unins000.exe";
    // Without its uninstaller the product could never be removed: that is a
    // failed installation, taken back whole.
    if (!WriteUninstaller(uninstaller, setup, manifest)) {
        RemoveCreatedShortcuts(shortcuts, state.desktopShortcut == 1, state.taskbarShortcut == 1,
                               state.startMenuShortcut == 1);
        RollBackExtraction(manifest);
        return Failed(state, 8, L"the uninstaller cannot be written: " + uninstaller);
    }
    LogLine(L"uninstaller written: " + uninstaller);

    state.lastRunPath = state.installDir + L"\\" + BlockTextToWide(block.get("lastrun").asString());
    if (block.isMember("instrun")) state.installCommands = block.get("instrun");
    RunFirstInstallCommands(state, block.get("instoptions"));

    state.buildNumber = ReadBuildNumber(state.installDir + L"\\Quillo.exe");
    RegisterProduct(uninstaller, state.buildNumber, static_cast<uint32_t>(state.channel), state.noAutorunTray,
                    DescribeInstallation(state.installDir, uninstaller, manifest));
    LogLinef("registered: build %u, channel %d", static_cast<unsigned>(state.buildNumber), state.channel);
    state.ReportProgress(95);

    const OptionalSections sections = LocateSections(setup, state.extraPack == 1, state.driverComponents == 1);
    // The detector serves the recommendations of the success screen, which
    // an unattended run never shows.
    if (state.extraPack == 1 && sections.hasExtra && !state.quiet) {
        std::wstring library;
        if (WriteTempFileFrom(*setup.source, sections.extra.dataOffset, sections.extra.size, L".dll", library)) {
            state.HandOverDetector(library);
        }
    }

    if (state.driverComponents == 1 && !ComponentsPresent() && sections.hasDriver) {
        auto driverArchive = std::make_unique<TempFile>();
        TempFile* out = driverArchive.get();
        if (out->Create(L".zip") &&
            CopyRange(*setup.source, sections.driver.dataOffset, sections.driver.size,
                      [out](uint8_t* data, size_t size) { return out->Write(data, size); })) {
            state.driverArchivePath = driverArchive->path();
            state.driverArchive = std::move(driverArchive);
        }
        RunState* owner = &state;
        state.driverStepStarted = true;
        LogLine(std::string("driver step started"));
        // Should no thread be had, the step runs here: it is never skipped.
        if (!state.driverThread.Start([owner](CHThread*) { DriverStep(*owner); })) {
            LogLine(std::string("driver thread cannot start; the step runs on the install thread"));
            DriverStep(state);
            if (state.driverThread.onExit) state.driverThread.onExit();
        }
        return 0;
    }

    LogLine(std::string("installation complete"));
    state.ReportProgress(100);
    state.ReportDone();
    return 0;
}

}  // namespace quillo
