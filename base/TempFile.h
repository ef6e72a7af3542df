// A file of the program's own in the temporary folder that goes away by
// itself: it is marked for deletion as soon as it is created, so it is
// removed when its handle is closed, and the system closes that handle even
// when the process is killed. Windows only.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/FileSource.h"
#include "base/PrivateFolder.h"

namespace quillo {

class TempFile {
public:
    TempFile() = default;
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() { Close(); }

    // Creates "<temp>\<16 hex digits><extension>" (a name from a fresh GUID).
    // False when it cannot be created.
    bool Create(const wchar_t* extension);
    // The same in a private folder of its own (a file that a package is
    // taken from to be run): the folder goes with the file.
    bool CreateInPrivateFolder(const wchar_t* extension);
    // Writes at the end; false (and nothing more is written) on a short write.
    bool Write(const void* data, size_t length);
    // Leaves the file in place when it is closed.
    void Keep();
    // Closes the handle: the file is gone unless kept.
    void Close();

    bool open() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE handle() const { return handle_; }
    const std::wstring& path() const { return path_; }

private:
    bool CreateIn(const std::wstring& folder, const wchar_t* extension);

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    std::wstring path_;
    std::unique_ptr<PrivateFolder> folder_;
};

// Sixteen upper-case hexadecimal digits of a 64-bit value made from a fresh
// GUID (its first eight bytes); empty when no GUID can be made.
std::wstring UniqueHex16();

// Writes bytes to "<temp>\<16 hex digits><extension>". False when the file
// cannot be created or written whole; a partly written file is removed.
bool WriteTempFile(const void* data, size_t length, const wchar_t* extension, std::wstring& path);

// Writes the package to "<temp>\<16 hex digits>.zip" (a name made from a fresh
// GUID). False when the file cannot be created or written whole; a partly
// written file is removed.
bool WriteTempArchive(const void* package, size_t length, std::wstring& archivePath);

// Marks an open file (opened with DELETE access) to be deleted when its last
// handle closes, or takes the mark back; false when the system refuses.
bool SetDeleteOnClose(HANDLE file, bool deleteOnClose);

}  // namespace quillo
