#include "base/ProtectedFolder.h"

#include <windows.h>
#include <sddl.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <memory>

#include "base/PathText.h"
#include "base/SystemInfo.h"

namespace quillo {
std::wstring PrivateFolderSddl(const std::wstring& userSid) {
    std::wstring sddl = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
    // SYSTEM and the Administrators group have their entries already.
    if (!userSid.empty() && userSid != L"S-1-5-18" && userSid != L"S-1-5-32-544")
        sddl += L"(A;OICI;FA;;;" + userSid + L")";
    return sddl;
}

const wchar_t* InstallFolderSddl() {
    // 0x1200a9: read, list, traverse and execute (FILE_GENERIC_READ |
    // FILE_GENERIC_EXECUTE).
    return L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
}

std::wstring CurrentUserSid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
    std::wstring text;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    if (size > 0) {
        std::unique_ptr<BYTE[]> buffer(new BYTE[size]);
        LPWSTR sid = nullptr;
        if (GetTokenInformation(token, TokenUser, buffer.get(), size, &size) &&
            ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.get())->User.Sid, &sid)) {
            text = sid;
            LocalFree(sid);
        }
    }
    CloseHandle(token);
    return text;
}

bool HasAdministratorRights() {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    BOOL member = FALSE;
    if (AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                 &administrators)) {
        if (!CheckTokenMembership(nullptr, administrators, &member)) member = FALSE;
        FreeSid(administrators);
    }
    return member || RunsAsSystem();
}

bool CreateProtectedFolder(const std::wstring& folder, const std::wstring& sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    const BOOL made = CreateDirectoryW(folder.c_str(), &attributes);
    const DWORD error = GetLastError();
    LocalFree(descriptor);
    SetLastError(made ? ERROR_SUCCESS : error);
    return made != FALSE;
}

bool InProtectedProgramFolder(const std::wstring& folder) {
    const std::wstring path = AbsolutePath(folder);
    for (const std::wstring& kept :
         {SpecialFolder(CSIDL_PROGRAM_FILES), SpecialFolder(CSIDL_PROGRAM_FILESX86), SpecialFolder(CSIDL_WINDOWS),
          EnvironmentValue(L"ProgramW6432"), EnvironmentValue(L"ProgramFiles"), EnvironmentValue(L"ProgramFiles(x86)")}) {
        std::wstring folder = AbsolutePath(kept);
        while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
        if (folder.size() >= 3 && IsSameOrBelow(path, folder)) return true;
    }
    return false;
}

InstallFolderOrigin MakeInstallFolder(const std::wstring& folder) {
    if (folder.empty() || PathIsRelativeW(folder.c_str())) {
        SetLastError(ERROR_BAD_PATHNAME);
        return InstallFolderOrigin::Failed;
    }
    const std::wstring outermost = OutermostMissingFolder(folder);
    if (outermost.empty()) return InstallFolderOrigin::Existing;
    const bool protect = HasAdministratorRights() && !InProtectedProgramFolder(outermost);
    if (protect && !CreateProtectedFolder(outermost, InstallFolderSddl())) return InstallFolderOrigin::Failed;
    if (!CreateFolderTree(folder)) return InstallFolderOrigin::Failed;
    return protect ? InstallFolderOrigin::Protected : InstallFolderOrigin::Inherited;
}

}  // namespace quillo
