// Folders whose permissions the program sets itself instead of taking them
// from their parent: the program's private folders in the temporary folder
// (only the user who made them, SYSTEM and Administrators may touch them)
// and an installation folder made outside the program folders (read and
// execute for Users, full control for SYSTEM and Administrators only).
// Windows only.
#pragma once

#include <string>

namespace quillo {

// The security descriptor (SDDL) of a private folder: a protected DACL that
// grants full control to SYSTEM, Administrators and the user `userSid`,
// inherited by everything made inside.
std::wstring PrivateFolderSddl(const std::wstring& userSid);
// The security descriptor of an installation folder the setup makes outside
// the program folders: a protected DACL, full control for SYSTEM and
// Administrators, read and execute for Users, inherited inside.
const wchar_t* InstallFolderSddl();

// The string form of the user the process runs as ("S-1-5-18" for SYSTEM);
// empty when the token cannot be read.
std::wstring CurrentUserSid();
// Whether the process has administrator rights in effect (an elevated
// administrator, or SYSTEM).
bool HasAdministratorRights();

// Creates one folder with the security descriptor `sddl`. Fails (false, the
// system's error set) when anything of that name exists already: an
// existing folder is never taken over.
bool CreateProtectedFolder(const std::wstring& folder, const std::wstring& sddl);

// How an installation folder came to be.
enum class InstallFolderOrigin {
    Existing,   // it was there before; its permissions are left as they are
    Protected,  // this run made it (or its outermost missing parent) with InstallFolderSddl
    Inherited,  // this run made it, with its parent's permissions (program folders, or no administrator rights)
    Failed,     // it cannot be made; the system's error is set
};
// Makes `folder` with its missing parents. The outermost folder made gets
// InstallFolderSddl when the process has administrator rights and the
// folder lies outside the protected program and system folders, so that
// nobody without those rights can change what an elevated uninstaller will
// later run from it; the folders inside inherit from it.
InstallFolderOrigin MakeInstallFolder(const std::wstring& folder);
// Whether `folder` lies in a folder whose permissions already keep standard
// users out (the program folders, the Windows folder).
bool InProtectedProgramFolder(const std::wstring& folder);

}  // namespace quillo
