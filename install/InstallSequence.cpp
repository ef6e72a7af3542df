#include "install/InstallSequence.h"

#include <windows.h>
#include <shlobj.h>

#include "app/AppendedBlock.h"
#include "app/SetupPass.h"
#include "base/CHThread.h"
#include "base/Md5.h"
#include "base/RunLog.h"
#include "base/SystemInfo.h"
#include "base/PrivateFolder.h"
#include "base/TempFile.h"
#include "base/TextCodec.h"
#include "base/UserPrompt.h"
#include "install/DriverComponents.h"
#include "install/InstallSteps.h"
#include "install/PackageExtractor.h"
#include "install/ProcessTools.h"
#include "install/ProductRegistration.h"
#include "install/RunJournal.h"

namespace quillo {

std::wstring ProductConfigFile() {
    const std::wstring appData = SpecialFolder(CSIDL_APPDATA, true);
    return appData.empty() ? appData : appData + L"\\Brightfen\\Quillo\\Config\\Quillo.cfg";
}

namespace {

// How the run ends when a check fails before anything was changed: what the
// options screen made of the installation folder and its parents goes again
// (only while empty), and the log says why.
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

    // Everything that can fail without changing the machine is looked at
    // before anything is changed, the earlier installation included.
    SetupImage setup;
    const int readResult = setupFile.empty() ? ReadSetupImage(std::shared_ptr<ByteSource>(OwnFile()), setup)
                                             : ReadSetupImage(setupFile, setup);
    if (readResult != 0) return Failed(state, readResult, L"the setup file cannot be used");

    // From here on the machine changes, and every change is journaled. The
    // package is unpacked beside the installation folder while its digest
    // is computed; the earlier installation is set aside only after every
    // check has passed.
    if (!ProcessRunLock().TryAcquire()) LogLine(std::string("another run of the product's setup is going on"));
    RunJournal journal;
    InstallContext c(state, setup, journal);
    c.package = PackageSource{setup.source.get(), setup.packageOffset, setup.packageSize};
    const EarlierInstallation earlier = FindEarlierInstallation();
    if (!earlier.uninstallString.empty() && PathExists(earlier.uninstallString))
        c.earlierUninstaller = earlier.uninstallString;

    InstallSteps steps;
    steps.push_back(BeginRunStep(c));
    steps.push_back(UnpackStep(c));
    if (!c.earlierUninstaller.empty()) steps.push_back(SetAsideEarlierStep(c));
    steps.push_back(ExtractStep(c));
    steps.push_back(ShortcutsStep(c));
    steps.push_back(UninstallerStep(c));
    steps.push_back(FirstRunStep(c));
    steps.push_back(RegisterStep(c));
    const InstallResult result = RunSteps(steps);
    digestOut = c.digest;
    if (!result.ok()) {
        journal.RollBack();
        return Failed(state, result.code, L"the installation was taken back");
    }

    // The new installation stands. What is left of the earlier one goes:
    // files that could not be moved aside (unless the new package wrote
    // them again), and its folders when they are left empty.
    for (const std::wstring& file : c.earlierLeftovers) {
        bool rewritten = false;
        for (const std::wstring& target : c.plan.targets) rewritten = rewritten || EqualsIgnoreCase(target, file);
        std::wstring scheduled;
        if (!rewritten && !DeleteFileW(file.c_str()) && PathExists(file)) DeleteAtRestart(file, scheduled);
    }
    std::vector<std::wstring> earlierFolders = c.earlierFolders;
    if (!c.earlierRoot.empty()) earlierFolders.push_back(c.earlierRoot);
    journal.Commit(earlierFolders);

    const OptionalSections sections = LocateSections(setup, state.extraPack == 1, state.driverComponents == 1);
    // The detector serves the recommendations of the success screen, which
    // an unattended run never shows.
    // It is written into a folder of the run's own and held until loaded;
    // the folder stays with it, since the library stays loaded.
    if (state.extraPack == 1 && sections.hasExtra && !state.quiet) {
        PrivateFolder folder;
        HeldFile library;
        if (folder.Create() && library.Write(folder.path() + L"\\" + UniqueHex16() + L".dll", *setup.source,
                                             sections.extra.dataOffset, sections.extra.size)) {
            folder.Keep();
            state.HandOverDetector(library.path());
        } else {
            LogLinef("the detector library cannot be written (error %lu)", static_cast<unsigned long>(GetLastError()));
        }
    }

    if (state.driverComponents == 1 && !ComponentsPresent() && sections.hasDriver) {
        auto driverArchive = std::make_unique<TempFile>();
        TempFile* out = driverArchive.get();
        if (out->CreateInPrivateFolder(L".zip") &&
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
