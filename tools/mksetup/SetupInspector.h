// Describes the layout of a setup file or an uninstaller and which reader
// check a damaged file fails.
#pragma once

#include <string>

namespace quillo {

// Writes the report to `report`. Returns 0 when the file is usable in its role
// (a setup file that the install sequence reads with a matching "md5" and
// extracts whole, or an uninstaller whose manifest reads), 1 when the program
// would reject it or leave entries out, 2 when it cannot be read.
int InspectSetupFile(const std::string& path, std::string& report);

}  // namespace quillo
