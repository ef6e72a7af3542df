// Folders that removal never deletes, whatever a manifest lists: drive roots,
// the Windows and program-files folders, user profiles, the temporary folder
// and the shell's known folders, together with every folder that contains
// one of them. Windows only.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "base/PathText.h"  // IsSameOrBelow

namespace quillo {

// A path made comparable: "/" turned into "\", made absolute with "." and
// ".." resolved, long names for short ones where the path exists, and no
// trailing backslash except after a drive ("C:\"). Empty when it cannot be
// made absolute.
std::wstring ComparablePath(const std::wstring& path);


// How the installation folder stands when its removal begins.
enum class RootCheck {
    Usable,     // a local folder that is what it is listed as
    Missing,    // nothing of that name
    Link,       // a junction or symbolic link: only the link itself may go
    Elsewhere,  // opened, it is another folder (a link on the way to it)
    NotLocal,   // a network ("\\server\share") or device path
};
// Looks at the installation folder `root` (its path as ComparablePath gives
// it) before anything in it is deleted. When usable, `held` is a handle of
// the folder opened without delete sharing, so that it cannot be renamed
// and replaced by a link while the removal goes on; the caller closes it
// before deleting the folder itself. `opened` is the folder the system
// opened (for the log).
RootCheck CheckRemovalRoot(const std::wstring& root, HANDLE& held, std::wstring& opened);
// Whether a folder between `path` (not included when it is a file) and the
// folder `root` (not included) is a junction or symbolic link; both as
// ComparablePath gives them.
bool LinkOnTheWay(const std::wstring& path, const std::wstring& root);
// Whether `path` itself is a junction or symbolic link.
bool IsLink(const std::wstring& path);

class RemovalGuard {
public:
    // Collects the protected folders of this machine and user.
    RemovalGuard();

    // True when the folder must not be deleted: it is too short to be more
    // than a drive root, it cannot be made absolute, or it is or contains a
    // protected folder.
    bool IsProtected(const std::wstring& folder) const;

    // ComparablePath, remembered per path, with the long names of the
    // folders on the way taken from those already resolved: the system's
    // resolution looks at every folder on the way (and under Wine each look
    // is several server round trips), while a removal asks about the
    // thousand files of the same few folders. A path whose end is not there
    // keeps its missing part as it is written.
    const std::wstring& Comparable(const std::wstring& path) const;

    const std::vector<std::wstring>& folders() const { return folders_; }

private:
    std::vector<std::wstring> folders_;
    std::wstring profiles_;  // the folder that holds the users' profiles
    // "X:\..." with long names, from a full path without "." or "..".
    const std::wstring& LongNames(const std::wstring& full) const;

    mutable std::map<std::wstring, std::wstring> comparable_;
    mutable std::map<std::wstring, std::wstring> longNames_;  // by the full path as written
};

}  // namespace quillo
