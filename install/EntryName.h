// Rules for the names of archive entries: which entries are safe to write,
// which belong to the other architecture, and where a safe entry lands below
// the installation folder.
#pragma once

#include <string>

#include "base/PathText.h"

namespace quillo {

// White space (space, tab, CR, LF, VT, FF) removed at both ends.
std::wstring TrimWhiteSpace(const std::wstring& text);

// True when the name stays below the folder it is extracted into: not empty,
// relative (no leading "/" or "\", no drive, no UNC or device prefix), no ":"
// anywhere, no component made of dots and spaces only other than ".",
// since Windows reads ".." and also ". ." or "..." that way after stripping,
// and no component that names a device ("CON", "nul.txt", "COM1", ...).
bool IsSafeEntryName(const std::wstring& name);

// Entries of the other architecture are not extracted: with drivers64 a name
// containing "x86" anywhere, otherwise one containing "x64".
bool SkipForArchitecture(const std::wstring& name, bool drivers64);

// Where a file entry is written: folder + "\" + name, where a component
// "x64" (drivers64) or "x86" (otherwise) reached through a backslash, that is
// the top-level architecture folder of the package, is dropped so its files
// land one level higher. Only whole components are dropped, so a name such as
// "x64setup.exe" can never turn into a sibling of the folder.
std::wstring FileTargetPath(const std::wstring& folder, const std::wstring& name, bool drivers64);

}  // namespace quillo
