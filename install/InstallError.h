// Results of the install sequence: 0 for success, 1 to 9 for the failures
// shown on the failure screen.
#pragma once

namespace quillo {

enum InstallError : int {
    kInstallOk = 0,
    kErrPackageNotFound = 1,      // no usable locator in the setup file
    kErrPackageRead = 2,          // the setup file cannot be read whole
    kErrConfigLength = 3,         // the setup block does not fit the file
    kErrConfigParse = 4,          // the setup block is not valid JSON
    kErrPackageContent = 5,       // the package does not fit the file
    kErrTempArchive = 6,          // the temporary archive cannot be written
    kErrArchiveOpen = 7,          // the archive cannot be opened
    kErrExtract = 8,              // an entry cannot be extracted
    kErrDigest = 9,               // "md5" missing, empty or different
};

// The text the progress and failure screens show for a code; empty for 0, 9
// and unknown codes.
const wchar_t* InstallErrorText(int code);

}  // namespace quillo
