// Unpacking the product's package into the installation folder, with the
// record of every file and folder for the uninstall manifest. Windows only.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "json/JValue.h"

namespace quillo {

// Creates a folder with all its missing parents ("/" is taken as "\\"); true
// when it exists afterwards.
bool CreateFolderTree(const std::wstring& folder);

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

// The bytes of a package that is already in memory. When given, the ZIP
// reader takes its data from them instead of reading the temporary archive
// (which holds the same bytes) back from disk.
struct PackageBytes {
    const void* data = nullptr;
    size_t size = 0;
};

// Opens the archive as ZIP; false when it is not one (install error 7).
bool CanOpenArchive(const std::wstring& archivePath, PackageBytes bytes = {});

// Unpacks every entry of the archive below installDir and records what it
// wrote in manifest "files" and "folders". Message boxes are owned by
// `owner`. Whatever the result, the archive is deleted at the end. False when
// an entry could not be handled (install error 8); the caller then rolls back.
bool ExtractPackage(const std::wstring& archivePath, const std::wstring& installDir, bool drivers64,
                    JValue& manifest, HWND owner, PackageBytes bytes = {});

// Deletes the files the manifest lists, then removes its folders that are
// empty, deepest first. Failures are ignored.
void RollBackExtraction(const JValue& manifest);

// Unpacks every entry of a ZIP archive below destFolder, creating folders as
// needed; no manifest, no messages. Entry names follow the package's rules:
// a name that would leave destFolder, or an empty one, ends with false, as do
// a folder or file that cannot be created, a short write and damaged data.
// An entry that cannot be opened (encrypted, say) is passed over.
bool ExtractArchive(const std::wstring& destFolder, const std::wstring& zipPath);

// The ".old" name of a locked file moved aside during the current entry.
std::wstring& PendingOldFile();

}  // namespace quillo
