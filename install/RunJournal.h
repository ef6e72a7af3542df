// What an installation changed, written down before it changes it, so that
// the change can be taken back: by the run itself when a later step fails,
// or by the next run of any setup program or uninstaller of the product when
// the run was killed. Windows only.
//
// A run keeps its journal in a folder of its own beside the installation
// folder ("~QuilloSetup.<16 hex digits>", on the same volume, so that the
// files it moves aside are moved by a rename). The folder holds the journal
// ("journal", one JSON record a line) and the files moved aside. The
// uninstall entry names the folder in "SetupRun" while the run goes on.
//
// Records, each appended before the change it describes (paths and names as
// Base64 of their UTF-8):
//   {"t":"head","dir":D,"made":[F...]}       the installation folder; the parents the run made for it
//   {"t":"key","root":R,"path":P,"view32":B,"exists":B,"made":M,"values":[...]}
//                                             a registry key as it was (undo: restored exactly)
//   {"t":"moved","p":[[FROM,TO]...]}         files moved aside (undo: moved back)
//   {"t":"made","files":[...],"dirs":[...]}  files and folders the run makes (undo: deleted, folders when empty)
//   {"t":"stage","dir":D}                    a folder the package is unpacked into (undo and commit: deleted whole)
//   {"t":"pins","links":[...],"pinned":B}    links pinned to or unpinned from the taskbar (undo: the opposite)
//   {"t":"commit","dirs":[...]}              the new installation stands: the moved files go, and the
//                                             folders named go when empty
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "install/InstallResult.h"
#include "json/JValue.h"

namespace quillo {

// The value of the uninstall entry that names a running installation's folder.
constexpr const wchar_t* kSetupRunValue = L"SetupRun";
// The prefix of a run's folder name.
constexpr const wchar_t* kRunFolderPrefix = L"~QuilloSetup.";
// The prefix of the hidden folder inside the installation folder that the
// package is unpacked into before it is put in place.
constexpr const wchar_t* kStageFolderPrefix = L"~Q";

using FileMove = std::pair<std::wstring, std::wstring>;  // from, to

class RunJournal {
public:
    RunJournal() = default;
    RunJournal(const RunJournal&) = delete;
    RunJournal& operator=(const RunJournal&) = delete;
    // A journal still open is rolled back: a run never ends half-done.
    ~RunJournal();

    // Makes installDir with the parents it lacks (MakeInstallFolder), the
    // run's folder beside it, starts the journal in it and names it in the
    // uninstall entry. `madeForThisRun`: the options screen made the folder.
    InstallResult Begin(const std::wstring& installDir, bool madeForThisRun = false);
    bool active() const { return file_ != INVALID_HANDLE_VALUE; }
    const std::wstring& folder() const { return folder_; }

    // Where the next file moved aside goes: a fresh name in the run's folder.
    std::wstring NewBackupPath();

    // The number of records so far; UndoSince takes back every record from
    // that one on, newest first.
    size_t Mark() const { return records_.size(); }
    void UndoSince(size_t mark);

    // Records, each written before the change it describes.
    InstallResult RecordKey(HKEY root, const wchar_t* path, bool view32);
    // A key's record as the key is now (values, or that it is not there).
    static JValue KeyState(HKEY root, const wchar_t* path, bool view32);
    InstallResult RecordMoves(const std::vector<FileMove>& moves);
    // A folder the package is unpacked into: it goes with what is in it,
    // however the run ends (undo, commit, or the recovery of a killed run).
    InstallResult RecordStage(const std::wstring& folder);
    InstallResult RecordMade(const std::vector<std::wstring>& files, const std::vector<std::wstring>& folders);
    InstallResult RecordPins(const std::vector<std::wstring>& links, bool pinned);

    // The new installation stands: what was moved aside is deleted (a file
    // still held goes at the next restart), the folders named are removed
    // when left empty, and the journal with its folder goes.
    void Commit(const std::vector<std::wstring>& foldersLeftEmpty);
    // Everything recorded is taken back, then the journal with its folder goes.
    void RollBack();

private:
    InstallResult Append(const JValue& record);
    void Close();

    HANDLE file_ = INVALID_HANDLE_VALUE;
    std::wstring folder_;
    std::vector<JValue> records_;
    JValue head_;  // the first record, which the end of the run still needs
    unsigned backups_ = 0;
};

// Moves a file aside, and moves it back: a rename on the same volume, a copy
// and delete across volumes. A file that a program holds open without
// sharing its deletion cannot be moved. False with the system's error set.
bool MoveFileAside(const std::wstring& from, const std::wstring& to);

// Looks for the journal of a run that did not end (the process was killed)
// and finishes it: a run that had committed is completed, any other is taken
// back. Nothing happens while that run's process still runs. True when a run
// was taken back.
bool RecoverInterruptedRun();

// Held for the whole of a run by the process that changes the machine; the
// recovery looks at it to tell a killed run from a running one.
class RunLock {
public:
    RunLock() = default;
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;
    ~RunLock() { Release(); }
    // False when another process holds it.
    bool TryAcquire();
    void Release();
    bool held() const { return held_; }

private:
    HANDLE mutex_ = nullptr;
    bool held_ = false;
};

// The lock of this process: taken once (by the start, or by the first run
// that needs it) and kept until the process ends.
RunLock& ProcessRunLock();

}  // namespace quillo
