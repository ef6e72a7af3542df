#include "install/InstallSequence.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "app/AppendedBlock.h"
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
    for (const JValue& item : *items) StartDetached(InstallCommandLine(state.installDir, AnsiToWide(item.asString())));
}

}  // namespace

std::wstring ProductConfigFile() {
    const std::wstring appData = SpecialFolder(CSIDL_APPDATA, true);
    return appData.empty() ? appData : appData + L"\\Brightfen\\Quillo\\Config\\Quillo.cfg";
}

int RunInstall(RunState& state, std::string& digestOut, const std::wstring& setupFile) {
    digestOut.clear();

    // An earlier installation goes first, through its own uninstaller.
    const EarlierInstallation earlier = FindEarlierInstallation();
    if (!earlier.uninstallString.empty() && PathExists(earlier.uninstallString)) {
        RunUninstall(state, earlier.uninstallString);
        state.operation = 3;
    }

    SetupImage setup;
    const int readResult = ReadSetupImage(setupFile.empty() ? ModuleFilePath() : setupFile, setup);
    if (readResult != 0) return readResult;

    // The digest is computed on a second thread while the temporary archive
    // is written; the two results are looked at in the same order as ever.
    bool digestOk = false;
    CHThread verifier;
    const bool verifying = verifier.Start([&](CHThread*) {
        digestOk = VerifyPackage(setup.package(), setup.packageSize, state.packageDigest, digestOut);
    });
    std::wstring archive;
    const bool written = WriteTempArchive(setup.package(), setup.packageSize, archive);
    if (verifying) verifier.WaitPumpingMessages();
    else digestOk = VerifyPackage(setup.package(), setup.packageSize, state.packageDigest, digestOut);
    if (!written) return 6;
    if (!digestOk) return 9;

    state.SetStatusText(L"正在复制文件: %ld%%", 10);
    state.ReportProgress(10);

    // The temporary archive holds the package's bytes; they are read from
    // memory rather than back from disk.
    const PackageBytes package{setup.package(), setup.packageSize};
    if (!CanOpenArchive(archive, package)) {
        DeleteFileW(archive.c_str());
        return 7;
    }
    // Whether the folder is the installation's own decides how much its
    // removal may take.
    JValue manifest;
    manifest[kManifestFreshRoot] = FolderIsNewOrEmpty(state.installDir) ? 1 : 0;
    if (!ExtractPackage(archive, state.installDir, state.drivers64 != 0, manifest, state.window, package)) {
        RollBackExtraction(manifest);
        return 8;
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
    WriteUninstaller(uninstaller, setup.image(), setup.imageSize(), manifest);

    state.lastRunPath = state.installDir + L"\\" + AnsiToWide(block.get("lastrun").asString());
    if (block.isMember("instrun")) state.installCommands = block.get("instrun");
    RunFirstInstallCommands(state, block.get("instoptions"));

    state.buildNumber = ReadBuildNumber(state.installDir + L"\\Quillo.exe");
    RegisterProduct(uninstaller, state.buildNumber, static_cast<uint32_t>(state.channel), state.noAutorunTray);
    state.ReportProgress(95);

    const OptionalSections sections = LocateSections(setup, state.extraPack == 1, state.driverComponents == 1);
    if (state.extraPack == 1 && sections.hasExtra) {
        std::wstring library;
        if (WriteTempFile(setup.file.data() + sections.extra.dataOffset, sections.extra.size, L".dll", library)) {
            state.HandOverDetector(library);
        }
    }

    if (state.driverComponents == 1 && !ComponentsPresent() && sections.hasDriver) {
        std::wstring driverArchive;
        if (WriteTempFile(setup.file.data() + sections.driver.dataOffset, sections.driver.size, L".zip",
                          driverArchive)) {
            state.driverArchivePath = driverArchive;
        }
        RunState* owner = &state;
        state.driverThread.Start([owner](CHThread*) { DriverStep(*owner); });
        return 0;
    }

    state.ReportProgress(100);
    state.ReportDone();
    return 0;
}

}  // namespace quillo
