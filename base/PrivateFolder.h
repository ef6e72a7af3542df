// Files the program writes and then starts or loads: its uninstaller's
// temporary copy, the detector library, the device-support archive and the
// packages from it. They go into a folder of the run's own in the temporary
// folder (which other users may write to: "C:\Windows\Temp" for SYSTEM),
// under a fresh random name, made new with a protected DACL, and each file
// is held open from its writing until it has been started or loaded, so
// that nobody can put another program in its place. Windows only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "base/FileSource.h"
#include "base/FolderTree.h"

namespace quillo {

// The prefix of the private folders' names in the temporary folder.
constexpr const wchar_t* kPrivateFolderPrefix = L"Quillo_Temp_";

class PrivateFolder {
public:
    PrivateFolder() = default;
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    // Makes "<temp>Quillo_Temp_<16 hex digits>" with PrivateFolderSddl for
    // the running user. False (the system's error set) when it cannot be
    // made; a folder or file already of that name is never used.
    bool Create();
    // Deletes the folder with what is in it (what is still held or running
    // stays); the object then names no folder.
    void Remove();
    // Leaves the folder where it is: what is in it is still in use when the
    // program ends (a loaded library, a program started for the user).
    void Keep() { path_.clear(); }
    ~PrivateFolder() { Remove(); }

    bool made() const { return !path_.empty(); }
    const std::wstring& path() const { return path_; }

private:
    std::wstring path_;
};

// A file held open for reading only, sharing reading alone: while it is
// held nobody can write, replace, rename or delete it, and the system can
// still map it to start or load it.
class HeldFile {
public:
    HeldFile() = default;
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;
    ~HeldFile() { Release(); }

    // Creates `path` new (it fails when anything stands there), writes
    // `length` bytes of `source` from `offset` into it, and holds it; what it
    // holds is read back and compared with what was written. False, with no
    // file left behind, on any failure.
    bool Write(const std::wstring& path, ByteSource& source, uint64_t offset, uint64_t length);
    // Holds a file that already stands in a private folder (one extracted
    // there). False when it cannot be opened so.
    bool Hold(const std::wstring& path);
    // Lets go of it: the file stays.
    void Release();

    bool held() const { return handle_ != INVALID_HANDLE_VALUE; }
    const std::wstring& path() const { return path_; }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    std::wstring path_;
};

}  // namespace quillo
