// The startup's Windows pieces against the real registry, shell and command-line parser.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <sddl.h>

#include "app/StartupLogic.h"
#include "base/PrivateFolder.h"
#include "base/ProtectedFolder.h"
#include "base/SystemInfo.h"
#include "base/TextCodec.h"
#include "install/ProductRegistration.h"
#include "install/Registry.h"
#include "tests/windows/TestInstallFiles.h"

namespace quillo {
namespace {

using test::Exists;
using test::ReadBytes;

// The uninstall entry in one registry view, removed again after each test.
class UninstallEntry {
public:
    explicit UninstallEntry(REGSAM view) : view_(view) {
        EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, nullptr, 0, KEY_ALL_ACCESS | view_, nullptr,
                                  &key_, nullptr),
                  ERROR_SUCCESS);
    }
    ~UninstallEntry() {
        RegCloseKey(key_);
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, view_, 0);
    }
    void Set(const wchar_t* name, DWORD type, const void* data, DWORD size) {
        ASSERT_EQ(RegSetValueExW(key_, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    }
    void SetString(const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
        Set(name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    void SetDword(const wchar_t* name, DWORD value) { Set(name, REG_DWORD, &value, sizeof value); }
    HKEY key() const { return key_; }

private:
    REGSAM view_;
    HKEY key_ = nullptr;
};

const std::wstring kDefaultFolder = L"\\Brightfen\\Quillo 3";

std::wstring Proposed() { return ProposeInstallFolder(L"", FindEarlierInstallation(), ProgramFilesFolder()); }

TEST(StartupWinTest, ProgramFilesIsTheFolderA32BitProgramGets) {
    ASSERT_TRUE(Is64BitWindows());
    wchar_t x86[MAX_PATH] = {};
    ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, x86, CSIDL_PROGRAM_FILESX86, FALSE));
    EXPECT_EQ(ProgramFilesFolder(), x86);
    EXPECT_EQ(_wcsicmp(ProgramFilesFolder().c_str(), L"C:\\Program Files (x86)"), 0) << ProgramFilesFolder();
    EXPECT_EQ(Proposed(), ProgramFilesFolder() + kDefaultFolder);
}

TEST(StartupWinTest, TheDriverFlagIsChosenByTheMachinesProcessor) {
    // wine64 runs on an x64 processor: the 64-bit flag applies.
    EXPECT_EQ(NativeProcessorArchitecture(), kArchitectureAmd64);
    EXPECT_STREQ(DriverFlagKey(NativeProcessorArchitecture()), "ituneslite64");
}

TEST(StartupWinTest, EarlierInstallationIsReadFromThe32BitView) {
    UninstallEntry native(KEY_WOW64_64KEY);
    native.SetString(L"UninstallString", L"C:\\Wrong View\\unins000.exe");
    native.SetDword(L"Version", 5000);
    EXPECT_EQ(Proposed(), ProgramFilesFolder() + kDefaultFolder);

    UninstallEntry wow(KEY_WOW64_32KEY);
    wow.SetString(L"UninstallString", L"D:\\Apps\\Quillo 3\\unins000.exe");
    wow.SetDword(L"Version", 3000);
    EXPECT_EQ(Proposed(), L"D:\\Apps\\Quillo 3");
    wow.SetDword(L"Version", 2999);
    EXPECT_EQ(Proposed(), ProgramFilesFolder() + kDefaultFolder);
}

TEST(StartupWinTest, RegistryValuesFollowTheReadingRules) {
    UninstallEntry entry(KEY_WOW64_32KEY);
    entry.SetString(L"UninstallString", L"D:\\Q\\unins000.exe", REG_EXPAND_SZ);
    entry.SetDword(L"Version", 4000);
    EXPECT_EQ(Proposed(), L"D:\\Q");

    // A string stored without its NUL reads as absent, whether it fills the
    // buffer or not; so does one with an odd byte count. (The data passed to
    // the registry is followed by a non-NUL character, so that nothing can
    // terminate it on the way.)
    std::wstring text;
    const std::wstring full = std::wstring(520, L'x') + L"!";
    entry.Set(L"UninstallString", REG_SZ, full.c_str(), 520 * sizeof(wchar_t));
    EXPECT_FALSE(ReadRegString(entry.key(), L"UninstallString", 520, text));
    const std::wstring shorter = L"D:\\NoNul\\unins000.exe!";
    const DWORD shorterBytes = static_cast<DWORD>((shorter.size() - 1) * sizeof(wchar_t));
    entry.Set(L"UninstallString", REG_SZ, shorter.c_str(), shorterBytes);
    DWORD storedSize = 0;
    ASSERT_EQ(RegQueryValueExW(entry.key(), L"UninstallString", nullptr, nullptr, nullptr, &storedSize), ERROR_SUCCESS);
    ASSERT_EQ(storedSize, shorterBytes) << "stored as given, without a NUL";
    EXPECT_FALSE(ReadRegString(entry.key(), L"UninstallString", 520, text));
    const std::wstring terminated = L"D:\\Nul\\unins000.exe";
    entry.Set(L"UninstallString", REG_SZ, terminated.c_str(), static_cast<DWORD>((terminated.size() + 1) * 2 - 1));
    EXPECT_FALSE(ReadRegString(entry.key(), L"UninstallString", 520, text)) << "odd byte count";
    entry.SetString(L"UninstallString", terminated);
    EXPECT_TRUE(ReadRegString(entry.key(), L"UninstallString", 520, text));
    EXPECT_EQ(text, terminated);

    entry.Set(L"UninstallString", REG_BINARY, L"D:\\B\\u.exe", 24);
    EXPECT_FALSE(ReadRegString(entry.key(), L"UninstallString", 520, text));
    EXPECT_EQ(Proposed(), ProgramFilesFolder() + kDefaultFolder);

    entry.SetString(L"UninstallString", L"D:\\" + std::wstring(600, L'x') + L"\\unins000.exe");
    EXPECT_FALSE(ReadRegString(entry.key(), L"UninstallString", 520, text));  // longer than the buffer
    entry.SetString(L"UninstallString", std::wstring(519, L'y'));  // 519 characters and the NUL fit
    EXPECT_TRUE(ReadRegString(entry.key(), L"UninstallString", 520, text));
    EXPECT_EQ(text.size(), 519u);

    entry.SetString(L"UninstallString", L"D:\\Q\\unins000.exe");
    entry.SetString(L"Version", L"5000");  // not a DWORD: reads as 0
    EXPECT_EQ(Proposed(), ProgramFilesFolder() + kDefaultFolder);
    const ULONGLONG big = 5000;
    entry.Set(L"Version", REG_QWORD, &big, sizeof big);
    uint32_t version = 1;
    EXPECT_FALSE(ReadRegDword(entry.key(), L"Version", version));
}

TEST(StartupWinTest, RemoveFileSpecAgreesWithTheShell) {
    for (const wchar_t* path : {L"C:\\A\\B\\unins000.exe", L"C:\\unins000.exe", L"C:\\A\\", L"\\unins000.exe",
                                L"unins000.exe", L"D:\\Program Files (x86)\\Brightfen\\Quillo 3\\unins000.exe",
                                L"C:\\A\\B.C\\d"}) {
        wchar_t buffer[MAX_PATH];
        lstrcpynW(buffer, path, MAX_PATH);
        PathRemoveFileSpecW(buffer);
        EXPECT_EQ(RemoveFileSpec(path), buffer) << path;
    }
}

TEST(StartupWinTest, RelaunchParametersSurviveCommandLineToArgvW) {
    const std::vector<std::vector<std::wstring>> cases = {
        {L"setup.exe", L"/q"},
        {L"setup.exe", L"/D", L"C:\\Program Files\\My Apps"},
        {L"setup.exe", L"/D", L"C:\\dir with space\\", L"/q"},
        {L"setup.exe", L"say \"hi\"", L"a\\\\\"b", L"tab\there", L"C:\\plain\\path"},
        {L"setup.exe", L"中文 目录", L"x\\"},
    };
    for (const auto& args : cases) {
        const std::wstring line = L"\"C:\\setup dir\\setup.exe\"" + BuildRelaunchParameters(args);
        int count = 0;
        LPWSTR* argv = CommandLineToArgvW(line.c_str(), &count);
        ASSERT_NE(argv, nullptr);
        ASSERT_EQ(static_cast<size_t>(count), args.size()) << std::string(line.begin(), line.end());
        for (int i = 1; i < count; ++i) EXPECT_EQ(std::wstring(argv[i]), args[i]);
        LocalFree(argv);
    }
    // An argument without white space or quotes is passed exactly as it was.
    EXPECT_EQ(BuildRelaunchParameters({L"x", L"/D", L"C:\\Tools"}), L" /D C:\\Tools");
}

// The uninstaller's copy, the detector library and the driver packages are
// written into a private folder: made new under a random name, and each file
// held from its writing until it is used.
TEST(StartupWinTest, FilesToRunAreWrittenIntoAPrivateFolderAndHeld) {
    const std::wstring temp = TempFolder();
    ASSERT_FALSE(temp.empty());
    EXPECT_TRUE(DecideUninstallerMove(ModuleFilePath(), temp).mustMove);

    PrivateFolder folder;
    ASSERT_TRUE(folder.Create());
    EXPECT_EQ(folder.path().rfind(temp + L"Quillo_Temp_", 0), 0u);
    const std::wstring copyPath = folder.path() + L"\\unins000.exe";
    EXPECT_FALSE(DecideUninstallerMove(copyPath, temp).mustMove) << "the copy runs the removal itself";
    // An existing folder of the name is never taken over.
    EXPECT_FALSE(CreateProtectedFolder(folder.path(), PrivateFolderSddl(CurrentUserSid())));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));

    FileSource own;
    ASSERT_TRUE(own.open(ModuleFilePath()));
    HeldFile copy;
    ASSERT_TRUE(copy.Write(copyPath, own, 0, own.size()));
    EXPECT_EQ(ReadBytes(copyPath), ReadBytes(ModuleFilePath())) << "read through a second handle";
    // While held, nobody writes, replaces, renames or deletes it.
    EXPECT_EQ(CreateFileW(copyPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_FALSE(MoveFileW(copyPath.c_str(), (folder.path() + L"\\moved.exe").c_str()));
    EXPECT_FALSE(DeleteFileW(copyPath.c_str()));
    // Nor is a file written over one that stands there.
    HeldFile again;
    EXPECT_FALSE(again.Write(copyPath, own, 0, 16));
    EXPECT_EQ(ReadBytes(copyPath), ReadBytes(ModuleFilePath())) << "the held file is unchanged";
    // The system still starts it while it is held.
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::wstring line = L"\"" + copyPath + L"\" --gtest_list_tests";
    ASSERT_TRUE(CreateProcessW(copyPath.c_str(), &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                               nullptr, &si, &pi));
    WaitForSingleObject(pi.hProcess, 60000);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    EXPECT_EQ(code, 0u);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    copy.Release();
    const std::wstring path = folder.path();
    folder.Remove();
    EXPECT_FALSE(Exists(path)) << "the folder goes with what is in it";
}

// The permissions the program gives its folders: protected from inheritance,
// full control for SYSTEM and Administrators, the user's own for a private
// folder, read and execute for Users in an installation folder. (Wine keeps
// no permissions on its files; the descriptors are looked at as built.)
TEST(StartupWinTest, ProtectedFoldersGrantWhatTheyShould) {
    const std::wstring user = CurrentUserSid();
    ASSERT_EQ(user.rfind(L"S-1-", 0), 0u);
    struct Row {
        std::wstring sddl;
        std::vector<std::pair<std::wstring, DWORD>> grants;  // SID, access
    };
    const Row rows[] = {
        {PrivateFolderSddl(user), {{L"S-1-5-18", FILE_ALL_ACCESS}, {L"S-1-5-32-544", FILE_ALL_ACCESS}, {user, FILE_ALL_ACCESS}}},
        {PrivateFolderSddl(L"S-1-5-18"), {{L"S-1-5-18", FILE_ALL_ACCESS}, {L"S-1-5-32-544", FILE_ALL_ACCESS}}},
        {InstallFolderSddl(),
         {{L"S-1-5-18", FILE_ALL_ACCESS},
          {L"S-1-5-32-544", FILE_ALL_ACCESS},
          {L"S-1-5-32-545", FILE_GENERIC_READ | FILE_GENERIC_EXECUTE}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(WideToUtf8(row.sddl));
        PSECURITY_DESCRIPTOR sd = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(row.sddl.c_str(), SDDL_REVISION_1, &sd, nullptr));
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        ASSERT_TRUE(GetSecurityDescriptorControl(sd, &control, &revision));
        EXPECT_TRUE(control & SE_DACL_PROTECTED) << "nothing inherited from the parent";
        BOOL present = FALSE, defaulted = FALSE;
        PACL dacl = nullptr;
        ASSERT_TRUE(GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted));
        ASSERT_TRUE(present && dacl);
        ASSERT_EQ(dacl->AceCount, row.grants.size());
        for (WORD i = 0; i < dacl->AceCount; ++i) {
            ACCESS_ALLOWED_ACE* ace = nullptr;
            ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
            EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
            EXPECT_EQ(ace->Header.AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE),
                      OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
            LPWSTR sid = nullptr;
            ASSERT_TRUE(ConvertSidToStringSidW(&ace->SidStart, &sid));
            EXPECT_EQ(std::wstring(sid), row.grants[i].first);
            EXPECT_EQ(ace->Mask, row.grants[i].second);
            LocalFree(sid);
        }
        LocalFree(sd);
    }
    // Program folders keep their own permissions; a folder elsewhere gets these.
    EXPECT_TRUE(InProtectedProgramFolder(ProgramFilesFolder() + L"\\Quillo 3"));
    EXPECT_TRUE(InProtectedProgramFolder(SpecialFolder(CSIDL_WINDOWS) + L"\\x"));
    EXPECT_FALSE(InProtectedProgramFolder(L"C:\\Apps\\Quillo 3"));
    EXPECT_FALSE(InProtectedProgramFolder(ProgramFilesFolder() + L" Extra\\Quillo 3"));
}

TEST(StartupWinTest, ProcessArgumentsStartWithTheProgram) {
    const auto args = ProcessArguments();
    ASSERT_FALSE(args.empty());
    EXPECT_NE(args[0].find(L"win_tests"), std::wstring::npos);
}

}  // namespace
}  // namespace quillo
