// Unpacking the product's package into the installation folder, with the
// record of every file and folder for the uninstall manifest. Windows only.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/FileSource.h"
#include "install/InstallResult.h"
#include "install/ZipStreams.h"
#include "json/JValue.h"

namespace quillo {

// Opens the archive as ZIP; false when it is not one (install error 7).
bool CanOpenArchive(const std::wstring& archivePath, PackageSource package = {});

// The longest paths the program creates: a file's full path (MAX_PATH less
// its terminating NUL) and a folder's (room left for an 8.3 name, as
// CreateDirectoryW requires).
constexpr size_t kMaxFilePath = MAX_PATH - 1;
constexpr size_t kMaxFolderPath = MAX_PATH - 13;

// What the extraction will need, found from the archive's directory before
// anything is written, so that a package that cannot be installed whole
// fails before its first file.
struct ExtractionPlan {
    enum Problem {
        None,
        EntryUnreadable,  // an entry's information, or the directory walk, failed
        BadName,          // an empty name, or one that would leave the folder
        FolderTooLong,    // a folder entry (or the installation folder) beyond kMaxFolderPath
        ParentTooLong,    // the folder of a file entry beyond kMaxFolderPath
        FileTooLong,      // a file's path beyond kMaxFilePath
        NoRoom,           // the target volume has less free space than needed
    };
    Problem problem = None;
    std::wstring entry;         // the entry concerned; for NoRoom the first that does not fit
    uint64_t bytesNeeded = 0;   // files rounded up to whole clusters, plus the other bytes
    uint64_t bytesFree = 0;     // on the target volume
    uint64_t fileBytes = 0;     // the sizes of the files it writes, as the package gives them
    size_t files = 0;
    std::vector<std::wstring> targets;  // every file the extraction writes, where it lands
    std::vector<std::wstring> folders;  // every folder it may make, the installation folder included
    size_t longestFile = 0;    // the longest path of a file it writes
    size_t longestFolder = 0;  // the longest path of a folder it makes

    // The caption of the box that the extraction itself shows for the same
    // problem.
    const wchar_t* Caption() const;
};

// `otherBytes` are written beside the package's files (the uninstaller).
ExtractionPlan PlanExtraction(const std::wstring& archivePath, PackageSource package, const std::wstring& installDir,
                              bool drivers64, uint64_t otherBytes);

// Unpacks every entry of the archive below installDir and records what it
// wrote in manifest "files" and "folders". Message boxes are owned by
// `owner` (none are shown without `showBoxes`; `failure` then says what
// went wrong). Whatever the result, the archive (when named) is deleted at
// the end. False when an entry could not be handled (install error 8); the
// caller then rolls back.
bool ExtractPackage(const std::wstring& archivePath, const std::wstring& installDir, bool drivers64,
                    JValue& manifest, HWND owner, PackageSource package = {}, InstallResult* failure = nullptr,
                    bool showBoxes = true);

// Puts a file unpacked elsewhere on the same volume in its place by a
// rename. A target that stands there and cannot be replaced (held by a
// running program) is handled as the extraction handles it: the product's
// program that holds it may be ended (the user is asked), or it is moved to
// its ".old" name; the bytes are then copied. False when it cannot be put
// there; the system's error is set.
bool PlaceFile(const std::wstring& unpacked, const std::wstring& target, HWND owner, const std::wstring& installDir);

// Deletes the files the manifest lists, then removes its folders that are
// empty, deepest first. Failures are ignored.
void RollBackExtraction(const JValue& manifest);

// Unpacks every entry of a ZIP archive below destFolder, creating folders as
// needed; no manifest, no messages. Entry names follow the package's rules:
// a name that would leave destFolder, or an empty one, ends with false, as do
// a folder or file that cannot be created, a short write and damaged data.
// An entry that cannot be opened (encrypted, say) is passed over.
// `openFile`, when given, is an open handle of the archive that is read
// instead of opening zipPath. `written`, when given, gets the path of every
// file written whole.
bool ExtractArchive(const std::wstring& destFolder, const std::wstring& zipPath,
                    HANDLE openFile = INVALID_HANDLE_VALUE, std::vector<std::wstring>* written = nullptr);

// The ".old" name of a locked file moved aside during the current entry.
std::wstring& PendingOldFile();

}  // namespace quillo
