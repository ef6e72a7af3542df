// The steps of an installation, in the order the sequence runs them. Every
// change a step makes is written to the run's journal first, so that its
// Undo (and the recovery of a killed run) can take it back. Windows only.
#pragma once

#include <string>
#include <vector>

#include "app/AppendedBlock.h"
#include "install/InstallStep.h"
#include "install/PackageExtractor.h"
#include "install/RunJournal.h"
#include "install/RunState.h"
#include "json/JValue.h"

namespace quillo {

// What the steps of one installation share.
struct InstallContext {
    InstallContext(RunState& s, const SetupImage& image, RunJournal& j) : state(s), setup(image), journal(j) {}
    RunState& state;
    const SetupImage& setup;
    RunJournal& journal;
    PackageSource package;     // the package inside the setup file
    ExtractionPlan plan;       // what the package makes where (the unpack step looks)
    std::string digest;        // the package's digest as computed
    // Where the package was unpacked before it is put in place (a hidden
    // folder inside the installation folder, so that what is unpacked there
    // takes the permissions it will have in place); empty when it is
    // unpacked in place (its paths would be too long there).
    std::wstring stageRoot;
    bool installDirWasEmpty = true;  // before anything of this run was put in it
    JValue staged;             // "files" and "folders" as unpacked there
    JValue manifest;           // the uninstall manifest being made

    // The earlier installation, when there is one: its uninstaller, its
    // folder and the folders its manifest lists (removed at the end when the
    // new installation leaves them empty).
    std::wstring earlierUninstaller;
    std::wstring earlierRoot;
    std::vector<std::wstring> earlierFolders;
    int earlierFreshRoot = -1;  // its manifest's "freshroot"; -1 when unknown
    std::vector<std::wstring> earlierLeftovers;  // its files that could not be moved aside
};

// The run's folder and journal; the uninstall entry names the run.
std::unique_ptr<InstallStep> BeginRunStep(InstallContext& c);
// Every byte of the setup file is read and the package's digest computed on
// a second thread while the package is unpacked into a hidden folder of the
// installation folder, which the earlier installation does not know; the
// checks are then looked at in order (unreadable file 2, digest 9, archive
// 7, names, lengths and room 8, unpacking 8). Nothing the user has is
// touched before they pass.
std::unique_ptr<InstallStep> UnpackStep(InstallContext& c);
// The earlier installation's files and links go into the run's folder; its
// uninstaller and entry stay until the new ones are written.
std::unique_ptr<InstallStep> SetAsideEarlierStep(InstallContext& c);
// The package's files put in place (renamed from where they were unpacked,
// or unpacked there), after the files standing in their places are moved
// aside.
std::unique_ptr<InstallStep> ExtractStep(InstallContext& c);
// The chosen links, after links standing in their places are moved aside.
std::unique_ptr<InstallStep> ShortcutsStep(InstallContext& c);
// "unins000.exe" with the manifest, after the uninstallers it replaces are moved aside.
std::unique_ptr<InstallStep> UninstallerStep(InstallContext& c);
// The start path, the post-install commands and the first-install commands
// (which start the product's own programs and are not taken back).
std::unique_ptr<InstallStep> FirstRunStep(InstallContext& c);
// The uninstall entry and the user's settings, recorded as they were first.
std::unique_ptr<InstallStep> RegisterStep(InstallContext& c);

}  // namespace quillo
