// Command lines for the product's own programs, given in the setup block
// relative to the installation folder ("QuilloDaemon.exe /up").
#pragma once

#include <string>

namespace quillo {

// installDir + "\" + element with the program part quoted, so that a folder
// with spaces cannot make Windows start "C:\Program.exe" or the like. The
// program part is a quoted prefix of the element, else everything up to the
// first ".exe"/".com"/".bat"/".cmd" that ends a word, else up to the first
// white space. The arguments are kept exactly as given.
std::wstring InstallCommandLine(const std::wstring& installDir, const std::wstring& element);

}  // namespace quillo
