// The sources the ZIP reader reads a package from: the package inside the
// setup file (through two cached windows), a file handle that is already
// open, or an archive file by its name. Windows only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include <minizip/unzip.h>

#include "base/FileSource.h"

namespace quillo {

// Where the package lies in the setup file. When given, the ZIP reader
// reads it from there, through a small read-ahead window, instead of opening
// the temporary archive (which holds the same bytes) by its name.
struct PackageSource {
    ByteSource* file = nullptr;
    uint64_t offset = 0;
    uint64_t size = 0;
};

// Opens the package inside the setup file when it is given, else through
// the open handle when one is given, else the archive file by its name.
// `package` and `file` must outlive the returned handle.
unzFile OpenArchive(const std::wstring& archivePath, const PackageSource* package = nullptr,
                    HANDLE file = INVALID_HANDLE_VALUE);

}  // namespace quillo
