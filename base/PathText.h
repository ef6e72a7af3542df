// Splitting and joining path text, the same on every system.
#pragma once

#include <string>

namespace quillo {

// The path without its last component ("\" or "/" separated); empty when the
// path has no separator.
std::wstring ParentPath(const std::wstring& path);

// The path with every "/" (the separator of entry names) turned into "\\".
std::wstring WithBackslashes(std::wstring path);

// The last component of a path.
std::wstring FileNamePart(const std::wstring& path);

// Whether `path` is `folder` or lies below it ("\" separated, both absolute
// and in the same form). Letter case is ignored.
bool IsSameOrBelow(const std::wstring& path, const std::wstring& folder);

}  // namespace quillo
