// Deterministic ZIP archives of a folder: entries in byte order of their
// "/"-separated names, folders as entries ending with "/", one fixed time stamp.
// Names that are not plain ASCII carry the UTF-8 flag.
#pragma once

#include <string>

namespace quillo {

// General-purpose bit 11: the entry's name is UTF-8.
constexpr unsigned kUtf8NameFlag = 0x800;

bool ZipFolder(const std::string& folder, const std::string& zipPath, std::string& error);

// True when minizip can open the file and walk all its entries.
bool IsReadableZip(const std::string& zipPath, std::string& error);

}  // namespace quillo
