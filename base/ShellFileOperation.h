// One file operation of the shell (copy, move, delete) on a single path,
// silent, without confirmation, error dialogs or the recycle bin (0x414).
// Windows only.
#pragma once

#include <windows.h>

#include <string>

namespace quillo {

// `operation` is FO_COPY, FO_MOVE or FO_DELETE; `to` is ignored for FO_DELETE.
// True when the shell reports success and nothing was aborted.
bool ShellFileOperation(UINT operation, const std::wstring& from, const std::wstring& to = std::wstring());

}  // namespace quillo
