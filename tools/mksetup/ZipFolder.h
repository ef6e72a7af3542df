// Deterministic ZIP archives of a folder: entries in byte order of their
// "/"-separated names, folders as entries ending with "/", one fixed time stamp.
#pragma once

#include <string>

namespace quillo {

bool ZipFolder(const std::string& folder, const std::string& zipPath, std::string& error);

// True when minizip can open the file and walk all its entries.
bool IsReadableZip(const std::string& zipPath, std::string& error);

}  // namespace quillo
