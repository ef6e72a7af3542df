// Shortcuts against the real shell: links written and read back through
// IShellLinkW, the special folders, and the shell's delete operation.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <filesystem>
#include <set>
#include <string>

#include "base/SystemInfo.h"
#include "base/TextCodec.h"
#include "install/Shortcuts.h"
#include "json/JValue.h"

namespace quillo {
namespace {

namespace fs = std::filesystem;

using Names = std::set<std::wstring>;

std::wstring SpecialFolderPath(int csidl) {
    wchar_t buffer[MAX_PATH] = {};
    return SHGetSpecialFolderPathW(nullptr, buffer, csidl, FALSE) ? buffer : L"";
}

std::wstring FromAcp(const std::string& text) {
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
    return out;
}

JValue Parse(const std::string& text) {
    JValue value;
    JReader reader;
    EXPECT_TRUE(reader.parse(text, value)) << reader.errorMessage();
    return value;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void MakeFile(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << fs::path(path).u8string();
    DWORD written = 0;
    WriteFile(file, "MZ", 2, &written, nullptr);
    CloseHandle(file);
}

void MakeFolder(const std::wstring& path) {
    std::error_code ec;
    fs::create_directories(path, ec);
    ASSERT_TRUE(fs::is_directory(path)) << fs::path(path).u8string();
}

// Deletes a file or a folder tree in one pass; what cannot be deleted stays.
void RemoveTree(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
        return;
    }
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name != L"." && name != L"..") RemoveTree(path + L"\\" + name);
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
}

// The names in a folder; empty when it does not exist.
Names Listing(const std::wstring& folder) {
    Names names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        names.insert(it->path().filename().wstring());
    return names;
}

Names Added(const Names& before, const Names& after) {
    Names added;
    for (const auto& name : after)
        if (!before.count(name)) added.insert(name);
    return added;
}

struct LinkInfo {
    bool loaded = false;
    std::wstring path, workDir, description;
    std::wstring itemPath;  // the target as the link's item list names it
};

LinkInfo ReadLink(const std::wstring& linkPath) {
    LinkInfo info;
    const HRESULT com = CoInitialize(nullptr);
    IShellLinkW* link = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&link)))) {
        IPersistFile* file = nullptr;
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            if (SUCCEEDED(file->Load(linkPath.c_str(), STGM_READ))) {
                info.loaded = true;
                wchar_t buffer[MAX_PATH] = {};
                if (link->GetPath(buffer, MAX_PATH, nullptr, SLGP_RAWPATH) == S_OK) info.path = buffer;
                buffer[0] = 0;
                if (SUCCEEDED(link->GetWorkingDirectory(buffer, MAX_PATH))) info.workDir = buffer;
                buffer[0] = 0;
                if (SUCCEEDED(link->GetDescription(buffer, MAX_PATH))) info.description = buffer;
                PIDLIST_ABSOLUTE items = nullptr;
                if (SUCCEEDED(link->GetIDList(&items)) && items) {
                    buffer[0] = 0;
                    if (SHGetPathFromIDListW(items, buffer)) info.itemPath = buffer;
                    CoTaskMemFree(items);
                }
            }
            file->Release();
        }
        link->Release();
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return info;
}

void ExpectLink(const std::wstring& linkPath, const std::wstring& target, const std::wstring& workDir) {
    SCOPED_TRACE(fs::path(linkPath).u8string());
    const LinkInfo info = ReadLink(linkPath);
    ASSERT_TRUE(info.loaded);
    EXPECT_EQ(info.path, target);
    EXPECT_EQ(info.workDir, workDir);
}

// A registry value put back as it was when the test ends.
class SavedUserShellFolder {
public:
    explicit SavedUserShellFolder(const wchar_t* name) : name_(name) {
        EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr),
                  ERROR_SUCCESS);
        DWORD size = 0;
        if (RegQueryValueExW(key_, name_, nullptr, &type_, nullptr, &size) == ERROR_SUCCESS) {
            data_.resize(size);
            had_ = RegQueryValueExW(key_, name_, nullptr, &type_, data_.data(), &size) == ERROR_SUCCESS;
        }
    }
    ~SavedUserShellFolder() {
        if (had_)
            RegSetValueExW(key_, name_, 0, type_, data_.data(), static_cast<DWORD>(data_.size()));
        else
            RegDeleteValueW(key_, name_);
        RegCloseKey(key_);
    }
    void Set(const std::wstring& folder) {
        EXPECT_EQ(RegSetValueExW(key_, name_, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                                 static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }

private:
    static constexpr const wchar_t* kKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    const wchar_t* name_;
    HKEY key_ = nullptr;
    DWORD type_ = 0;
    std::vector<BYTE> data_;
    bool had_ = false;
};

// A scratch installation with real targets. The current user's desktop is
// moved into the scratch folder for the test, and whatever a test adds to the
// shared folders it touches is removed afterwards.
class ShortcutsWinTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int counter = 0;
        root_ = TempFolder() + L"QuilloShortcuts" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                std::to_wstring(++counter);
        install_ = root_ + L"\\Quillo 3";
        ASSERT_NO_FATAL_FAILURE(MakeFolder(install_ + L"\\bin"));
        ASSERT_NO_FATAL_FAILURE(MakeFolder(install_ + L"\\data"));
        ASSERT_NO_FATAL_FAILURE(MakeFile(install_ + L"\\Quillo.exe"));
        ASSERT_NO_FATAL_FAILURE(MakeFile(install_ + L"\\bin\\tool.exe"));
        ASSERT_NO_FATAL_FAILURE(MakeFile(install_ + L"\\bin\\\u00E9.exe"));  // "é.exe" read as UTF-8
        ASSERT_NE(GetACP(), static_cast<UINT>(CP_UTF8));  // the code pages below must differ from UTF-8
        ASSERT_NO_FATAL_FAILURE(MakeFile(install_ + L"\\\u00e9.exe"));
        ASSERT_NO_FATAL_FAILURE(MakeFile(install_ + L"\\" + FromAcp("\xE9t\xE9.exe")));  // "été" in the ANSI code page

        userDesktop_ = root_ + L"\\Desktop";
        ASSERT_NO_FATAL_FAILURE(MakeFolder(userDesktop_));
        savedDesktop_.Set(userDesktop_);
        ASSERT_EQ(UserDesktopFolder(), userDesktop_);

        desktop_ = CommonDesktopFolder();
        ASSERT_FALSE(desktop_.empty());
        quickLaunch_ = QuickLaunchFolder();
        ASSERT_FALSE(quickLaunch_.empty());
        // Windows has the Quick Launch folder; a fresh Wine prefix does not.
        if (!Exists(quickLaunch_)) {
            made_ = quickLaunch_;
            while (!Exists(fs::path(made_).parent_path().wstring())) made_ = fs::path(made_).parent_path().wstring();
            ASSERT_NO_FATAL_FAILURE(MakeFolder(quickLaunch_));
        }
        watched_ = {desktop_, fs::path(desktop_).parent_path().wstring(), quickLaunch_,
                    fs::path(quickLaunch_).parent_path().wstring(), L"C:\\"};
        for (const auto& folder : watched_) before_.push_back(Listing(folder));
        hadStartMenuFolder_ = Exists(StartMenuFolder());
    }

    void TearDown() override {
        for (size_t i = 0; i < watched_.size(); ++i)
            for (const auto& name : Added(before_[i], Listing(watched_[i]))) RemoveTree(watched_[i] + L"\\" + name);
        if (!made_.empty()) RemoveTree(made_);
        if (!hadStartMenuFolder_) RemoveTree(StartMenuFolder());
        RemoveTree(root_);
    }

    std::wstring Target(const std::wstring& relative) const { return install_ + L"\\" + relative; }

    SavedUserShellFolder savedDesktop_{L"Desktop"};
    std::wstring root_, install_, userDesktop_, desktop_, quickLaunch_;
    std::wstring made_;  // the outermost folder made for Quick Launch
    std::vector<std::wstring> watched_;
    std::vector<Names> before_;
    bool hadStartMenuFolder_ = false;
};

TEST_F(ShortcutsWinTest, FoldersAreTheShellsSpecialFolders) {
    EXPECT_EQ(desktop_, SpecialFolderPath(CSIDL_COMMON_DESKTOPDIRECTORY));
    EXPECT_EQ(quickLaunch_, SpecialFolderPath(CSIDL_APPDATA) + L"\\Microsoft\\Internet Explorer\\Quick Launch");
    EXPECT_EQ(StartMenuProgramsFolder(), SpecialFolderPath(CSIDL_COMMON_PROGRAMS));
    EXPECT_EQ(StartMenuFolder(), SpecialFolderPath(CSIDL_COMMON_PROGRAMS) + L"\\Quillo 3");
    EXPECT_NE(desktop_, userDesktop_);
}

TEST_F(ShortcutsWinTest, DesktopEntriesBecomeLinksOnTheAllUsersDesktop) {
    const Names desktopBefore = Listing(desktop_);
    const Names quickLaunchBefore = Listing(quickLaunch_);
    const JValue list = Parse(R"({"desktop":[
        {"name":"QuilloTest Main","file":"Quillo.exe"},
        {"name":"QuilloTest Tool","file":"bin/tool.exe"},
        {"name":"QuilloTest Data","file":"data"},
        {"name":"QuilloTest Missing","file":"missing.exe"},
        {"name":"","file":"Quillo.exe"},
        "QuilloTest NotAnObject",
        {"name":7,"file":"Quillo.exe"},
        {"name":"QuilloTest NoFile"},
        {"name":"QuilloTest NumberFile","file":5},
        {"name":"QuilloTest \u00e9","file":"\u00e9.exe"},
        {"name":"QuilloTest )" "\xE9t\xE9" R"(","file":")" "\xE9t\xE9" R"(.exe"}],
      "taskbar":[{"name":"QuilloTest Bar","file":"Quillo.exe"}]})");
    CreateDesktopShortcuts(list, install_);

    // Names and files are UTF-8, as JSON is; bytes that are not UTF-8 (a
    // block written in the ANSI code page) are taken in that code page.
    const std::wstring utf8Name = L"QuilloTest \u00e9.lnk";
    const std::wstring ansiName = L"QuilloTest " + FromAcp("\xE9t\xE9") + L".lnk";
    EXPECT_EQ(Added(desktopBefore, Listing(desktop_)),
              (Names{L"QuilloTest Main.lnk", L"QuilloTest Tool.lnk", L"QuilloTest Data.lnk", utf8Name, ansiName}));
    ExpectLink(desktop_ + L"\\QuilloTest Main.lnk", Target(L"Quillo.exe"), install_);
    ExpectLink(desktop_ + L"\\QuilloTest Tool.lnk", Target(L"bin\\tool.exe"), install_ + L"\\bin");
    ExpectLink(desktop_ + L"\\QuilloTest Data.lnk", Target(L"data"), Target(L"data"));  // a folder works in itself
    ExpectLink(desktop_ + L"\\" + utf8Name, Target(L"\u00e9.exe"), install_);
    ExpectLink(desktop_ + L"\\" + ansiName, Target(FromAcp("\xE9t\xE9.exe")), install_);

    EXPECT_EQ(Listing(quickLaunch_), quickLaunchBefore);
    EXPECT_TRUE(Listing(userDesktop_).empty());

    // Anything but an object with a "desktop" array creates nothing.
    for (const char* text : {R"({"desktop":{"name":"QuilloTest Obj","file":"Quillo.exe"}})",
                             R"([{"name":"QuilloTest Arr","file":"Quillo.exe"}])", R"("QuilloTest")", "null"}) {
        CreateDesktopShortcuts(Parse(text), install_);
    }
    EXPECT_EQ(Added(desktopBefore, Listing(desktop_)).size(), 5u);
}

TEST_F(ShortcutsWinTest, TaskbarEntriesGoToQuickLaunchAndAreRemovedFromThere) {
    const Names desktopBefore = Listing(desktop_);
    const Names quickLaunchBefore = Listing(quickLaunch_);
    const JValue list = Parse(R"({"taskbar":[
        {"name":"QuilloTest Bar","file":"bin/tool.exe"},
        {"name":"QuilloTest Missing","file":"nope.exe"},
        {"name":"","file":"Quillo.exe"}],
      "desktop":[{"name":"QuilloTest Desk","file":"Quillo.exe"}]})");
    CreateTaskbarShortcuts(list, install_);  // the pin the shell may or may not honour

    const std::wstring link = quickLaunch_ + L"\\QuilloTest Bar.lnk";
    EXPECT_EQ(Added(quickLaunchBefore, Listing(quickLaunch_)), Names{L"QuilloTest Bar.lnk"});
    ExpectLink(link, Target(L"bin\\tool.exe"), install_ + L"\\bin");
    EXPECT_EQ(Listing(desktop_), desktopBefore);

    // A file that an empty name would make stays.
    ASSERT_TRUE(CopyFileW(link.c_str(), (quickLaunch_ + L"\\.lnk").c_str(), FALSE));
    RemoveTaskbarShortcut(L"");
    RemoveTaskbarShortcut(L"QuilloTest Never");
    EXPECT_TRUE(Exists(link));
    RemoveTaskbarShortcut(L"QuilloTest Bar");
    EXPECT_FALSE(Exists(link));
    EXPECT_TRUE(Exists(quickLaunch_ + L"\\.lnk"));
}

TEST_F(ShortcutsWinTest, StartMenuLinkPointsAtTheLastDesktopTarget) {
    const Names desktopBefore = Listing(desktop_);
    const std::wstring folder = StartMenuFolder();
    RemoveTree(folder);
    // The last entry's file is read as UTF-8, unlike the desktop links'.
    const JValue list = Parse(R"({"desktop":[
        {"name":"QuilloTest Main","file":"Quillo.exe"},
        {"name":"QuilloTest Last","file":"bin/\u00e9.exe"},
        42]})");
    CreateStartMenuShortcut(list, install_);

    EXPECT_EQ(Listing(folder), Names{L"Quillo.lnk"});
    const LinkInfo info = ReadLink(folder + L"\\Quillo.lnk");
    ASSERT_TRUE(info.loaded);
    EXPECT_EQ(info.path, Target(L"bin\\\u00E9.exe"));
    EXPECT_EQ(info.description, L"Quillo 3");
    EXPECT_EQ(info.workDir, L"");
    EXPECT_EQ(Listing(desktop_), desktopBefore);

    // Made again over the existing link with another target.
    CreateStartMenuShortcut(Parse(R"({"desktop":[{"name":"QuilloTest Main","file":"Quillo.exe"}]})"), install_);
    EXPECT_EQ(ReadLink(folder + L"\\Quillo.lnk").path, Target(L"Quillo.exe"));
}

TEST_F(ShortcutsWinTest, StartMenuLinkWithoutDesktopEntriesPointsAtTheInstallFolder) {
    const std::wstring folder = StartMenuFolder();
    for (const char* text : {R"({"desktop":[]})", R"({"taskbar":[{"name":"QuilloTest Bar","file":"Quillo.exe"}]})",
                             "null"}) {
        SCOPED_TRACE(text);
        RemoveTree(folder);
        ASSERT_FALSE(Exists(folder));
        CreateStartMenuShortcut(Parse(text), install_);
        const LinkInfo info = ReadLink(folder + L"\\Quillo.lnk");
        ASSERT_TRUE(info.loaded);
        EXPECT_EQ(info.path, install_ + L"\\");
        EXPECT_EQ(info.description, L"Quillo 3");
    }
}

TEST_F(ShortcutsWinTest, RemovingADesktopShortcutClearsBothDesktops) {
    for (const std::wstring& folder : {desktop_, userDesktop_}) {
        ASSERT_TRUE(CreateLink(Target(L"Quillo.exe"), folder + L"\\QuilloTest Gone.lnk"));
        ASSERT_TRUE(CreateLink(Target(L"Quillo.exe"), folder + L"\\QuilloTest Other.lnk"));
        ASSERT_TRUE(CreateLink(Target(L"Quillo.exe"), folder + L"\\.lnk"));
    }
    RemoveDesktopShortcut(L"QuilloTest Gone");
    RemoveDesktopShortcut(L"");
    RemoveDesktopShortcut(L"QuilloTest Never");
    for (const std::wstring& folder : {desktop_, userDesktop_}) {
        SCOPED_TRACE(fs::path(folder).u8string());
        EXPECT_FALSE(Exists(folder + L"\\QuilloTest Gone.lnk"));
        EXPECT_TRUE(Exists(folder + L"\\QuilloTest Other.lnk"));
        EXPECT_TRUE(Exists(folder + L"\\.lnk"));
    }
}

TEST_F(ShortcutsWinTest, RemovingTheStartMenuFolderTakesEverythingInIt) {
    const std::wstring folder = StartMenuFolder();
    CreateStartMenuShortcut(JValue(), install_);
    ASSERT_TRUE(Exists(folder + L"\\Quillo.lnk"));
    ASSERT_NO_FATAL_FAILURE(MakeFile(folder + L"\\readme.txt"));
    ASSERT_NO_FATAL_FAILURE(MakeFolder(folder + L"\\Tools"));
    ASSERT_NO_FATAL_FAILURE(MakeFile(folder + L"\\Tools\\more.txt"));

    RemoveStartMenuFolder();
    EXPECT_FALSE(Exists(folder));
    EXPECT_TRUE(Exists(StartMenuProgramsFolder()));
    RemoveStartMenuFolder();  // nothing left to remove
    EXPECT_TRUE(Exists(StartMenuProgramsFolder()));
}

TEST_F(ShortcutsWinTest, NamesThatWouldLeaveTheirFolderCreateAndRemoveNothing) {
    ASSERT_NO_FATAL_FAILURE(MakeFolder(desktop_ + L"\\sub"));
    ASSERT_NO_FATAL_FAILURE(MakeFolder(quickLaunch_ + L"\\sub"));
    const std::vector<std::wstring> folders = {desktop_, desktop_ + L"\\sub", quickLaunch_, quickLaunch_ + L"\\sub",
                                               watched_[1], watched_[3], L"C:\\", root_};
    std::vector<Names> before;
    for (const auto& folder : folders) before.push_back(Listing(folder));

    const char* names = R"(["..\\QuilloTest Escape", "../QuilloTest Escape", "sub\\QuilloTest Escape",
        "sub/QuilloTest Escape", "C:QuilloTest Escape", "C:\\QuilloTest Escape", "..", ".", "QuilloTest *",
        "QuilloTest ?", "QuilloTest \"q\"", "QuilloTest |", "QuilloTest \t"])";
    const JValue parsed = Parse(names);
    ASSERT_NE(parsed.arrayItems(), nullptr);
    JValue list;
    for (const JValue& name : *parsed.arrayItems()) {
        JValue entry;
        entry["name"] = name;
        entry["file"] = "Quillo.exe";
        list["desktop"][static_cast<int>(list["desktop"].size())] = entry;
        list["taskbar"][static_cast<int>(list["taskbar"].size())] = entry;
    }
    CreateDesktopShortcuts(list, install_);
    CreateTaskbarShortcuts(list, install_);
    for (size_t i = 0; i < folders.size(); ++i)
        EXPECT_EQ(Listing(folders[i]), before[i]) << fs::path(folders[i]).u8string();

    // Links the names could reach from the desktops and Quick Launch.
    const std::vector<std::wstring> victims = {
        watched_[1] + L"\\QuilloTest Victim.lnk", watched_[3] + L"\\QuilloTest Victim.lnk",
        root_ + L"\\QuilloTest Victim.lnk",       L"C:\\QuilloTest Victim.lnk",
        desktop_ + L"\\sub\\QuilloTest Victim.lnk", quickLaunch_ + L"\\sub\\QuilloTest Victim.lnk",
        desktop_ + L"\\QuilloTest Keep.lnk",      userDesktop_ + L"\\QuilloTest Keep.lnk",
        quickLaunch_ + L"\\QuilloTest Keep.lnk"};
    for (const auto& victim : victims) ASSERT_TRUE(CreateLink(Target(L"Quillo.exe"), victim));
    for (const wchar_t* name : {L"..\\QuilloTest Victim", L"../QuilloTest Victim", L"C:\\QuilloTest Victim",
                                L"C:QuilloTest Victim", L"sub\\QuilloTest Victim", L"sub/QuilloTest Victim",
                                L"QuilloTest K*", L"*", L"QuilloTest Kee?", L"..", L"."}) {
        RemoveDesktopShortcut(name);
        RemoveTaskbarShortcut(name);
    }
    for (const auto& victim : victims) EXPECT_TRUE(Exists(victim)) << fs::path(victim).u8string();

    // Wine keeps a name with a colon as it is and then cannot list it, so
    // those are checked on the name itself; ordinary names pass.
    for (const wchar_t* name : {L"C:QuilloTest", L"C:\\QuilloTest", L"QuilloTest:stream", L"D:", L":"})
        EXPECT_FALSE(IsSafeLinkName(name)) << fs::path(name).u8string();
    for (const wchar_t* name : {L"Quillo 3", L"Quillo..3", L"...", L".Quillo", L"Quillo (x64) v3.1", L"\u5feb\u9a74"})
        EXPECT_TRUE(IsSafeLinkName(name)) << fs::path(name).u8string();
}

TEST_F(ShortcutsWinTest, CreateLinkNeedsAnExistingTargetAndReplacesAnOldLink) {
    const std::wstring link = root_ + L"\\QuilloTest Link.lnk";
    EXPECT_FALSE(CreateLink(Target(L"missing.exe"), link));
    EXPECT_FALSE(Exists(link));
    EXPECT_FALSE(CreateLink(Target(L"Quillo.exe"), root_ + L"\\No Folder\\QuilloTest Link.lnk"));
    EXPECT_FALSE(CreateLink(Target(L"Quillo.exe"), L""));

    EXPECT_TRUE(CreateLink(Target(L"Quillo.exe"), link));
    ExpectLink(link, Target(L"Quillo.exe"), install_);
    EXPECT_TRUE(CreateLink(Target(L"bin\\tool.exe"), link));
    ExpectLink(link, Target(L"bin\\tool.exe"), install_ + L"\\bin");
}

TEST_F(ShortcutsWinTest, ShellDeleteRemovesFilesAndFoldersButNeverARootOrARelativePath) {
    ASSERT_NO_FATAL_FAILURE(MakeFile(root_ + L"\\single.txt"));
    EXPECT_TRUE(ShellDelete(root_ + L"\\single.txt"));
    EXPECT_FALSE(Exists(root_ + L"\\single.txt"));
    EXPECT_TRUE(ShellDelete(install_));  // the whole tree
    EXPECT_FALSE(Exists(install_));
    EXPECT_FALSE(ShellDelete(install_));  // nothing left

    EXPECT_FALSE(ShellDelete(L""));

    // "C:" names the current folder of drive C, here a scratch folder while
    // the process works on another drive: it is still a drive and left alone.
    const std::wstring driveCurrent = root_ + L"\\DriveCurrent";
    ASSERT_NO_FATAL_FAILURE(MakeFolder(driveCurrent));
    ASSERT_NO_FATAL_FAILURE(MakeFile(driveCurrent + L"\\sentinel.txt"));
    const std::wstring programFolder = fs::path(ModuleFilePath()).parent_path().wstring();
    if (towupper(programFolder[0]) != L'C' && towupper(driveCurrent[0]) == L'C') {
        wchar_t savedCwd[MAX_PATH] = {};
        GetCurrentDirectoryW(MAX_PATH, savedCwd);
        wchar_t saved[MAX_PATH] = {};
        const DWORD savedLength = GetEnvironmentVariableW(L"=C:", saved, MAX_PATH);
        ASSERT_TRUE(SetCurrentDirectoryW(programFolder.c_str()));
        SetEnvironmentVariableW(L"=C:", driveCurrent.c_str());
        const bool deletedDrive = ShellDelete(L"C:");
        SetEnvironmentVariableW(L"=C:", savedLength ? saved : nullptr);
        SetCurrentDirectoryW(savedCwd);
        EXPECT_FALSE(deletedDrive);
        EXPECT_TRUE(Exists(driveCurrent + L"\\sentinel.txt"));
    } else {
        ADD_FAILURE() << "the test program must run from a drive other than C:";
    }

    // Relative and rooted paths depend on the current folder and are refused.
    ASSERT_NO_FATAL_FAILURE(MakeFolder(L"C:\\QuilloTest Rooted"));
    wchar_t cwd[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, cwd);
    ASSERT_TRUE(SetCurrentDirectoryW(root_.c_str()));
    const bool deletedRelative = ShellDelete(L"DriveCurrent");
    const bool deletedRooted = ShellDelete(L"\\QuilloTest Rooted");
    SetCurrentDirectoryW(cwd);
    EXPECT_FALSE(deletedRelative);
    EXPECT_FALSE(deletedRooted);
    EXPECT_TRUE(Exists(driveCurrent));
    EXPECT_TRUE(Exists(L"C:\\QuilloTest Rooted"));

    for (const wchar_t* path : {L"", L"C:", L"C:\\", L"C:/", L"c:\\", L"C:\\.", L"C:\\\\", L"C:\\Windows\\..",
                                L"C:\\Windows\\..\\.\\", L"\\\\server\\share", L"\\\\server\\share\\",
                                L"\\\\?\\C:\\Windows", L"\\\\.\\C:", L"C:\\Windows\\*.exe", L"C:\\Windo?s",
                                L"Windows", L"\\Windows", L"C:Windows"}) {
        EXPECT_FALSE(IsDeletablePath(path)) << fs::path(path).u8string();
    }
    for (const std::wstring& path : std::vector<std::wstring>{root_, root_ + L"\\", L"\\\\server\\share\\folder", L"C:\\Windows\\..\\x"}) {
        EXPECT_TRUE(IsDeletablePath(path)) << fs::path(path).u8string();
    }
}

// Run by the end-to-end test of non-ASCII names: each "KIND:NAME=>TARGET" of
// QUILLO_EXPECT_LINKS ("|" between them; KIND desktop, quicklaunch or
// startmenu) must be a link the shell reads back with that target.
TEST(SetupFileEndToEnd, LinksReadBackThroughTheShell) {
    const wchar_t* expected = _wgetenv(L"QUILLO_EXPECT_LINKS");
    if (!expected) GTEST_SKIP() << "QUILLO_EXPECT_LINKS is not set";
    std::wstring rest = expected;
    int links = 0;
    while (!rest.empty()) {
        const size_t bar = rest.find(L'|');
        const std::wstring item = rest.substr(0, bar);
        rest = bar == std::wstring::npos ? std::wstring() : rest.substr(bar + 1);
        const size_t colon = item.find(L':'), arrow = item.find(L"=>");
        ASSERT_TRUE(colon != std::wstring::npos && arrow != std::wstring::npos && colon < arrow);
        const std::wstring kind = item.substr(0, colon), name = item.substr(colon + 1, arrow - colon - 1);
        const std::wstring target = item.substr(arrow + 2);
        std::wstring link;
        if (kind == L"desktop") link = CommonDesktopFolder() + L"\\" + name + L".lnk";
        else if (kind == L"quicklaunch") link = QuickLaunchFolder() + L"\\" + name + L".lnk";
        else if (kind == L"startmenu") link = StartMenuFolder() + L"\\Quillo.lnk";
        ASSERT_FALSE(link.empty()) << "unknown kind";
        const LinkInfo info = ReadLink(link);
        EXPECT_TRUE(info.loaded) << WideToUtf8(link);
        // The item list is the link's target itself; the path beside it is
        // kept in the ANSI code page by some shells.
        EXPECT_TRUE(EqualsIgnoreCase(info.itemPath, target)) << WideToUtf8(link) << " -> " << WideToUtf8(info.itemPath)
                                                         << ", expected " << WideToUtf8(target);
        ++links;
    }
    EXPECT_GT(links, 0);
}

}  // namespace
}  // namespace quillo
