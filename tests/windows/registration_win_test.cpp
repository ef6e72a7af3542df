// Product registration against the real registry and version resources: the
// uninstall entry in the 32-bit view, the current user's settings, the readers'
// rules, and version strings of real and hand-built version resources.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <map>
#include <string>
#include <vector>

#include "app/StartupLogic.h"
#include "base/SystemInfo.h"
#include "install/ProductRegistration.h"
#include "install/Registry.h"

namespace quillo {
namespace {

// ---------------------------------------------------------------------------
// Registry helpers

struct RawValue {
    bool exists = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

RawValue Query(HKEY root, const wchar_t* path, REGSAM view, const wchar_t* name) {
    RawValue value;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ | view, &key) != ERROR_SUCCESS) return value;
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
        value.data.resize(size);
        value.exists =
            RegQueryValueExW(key, name, nullptr, &value.type, value.data.data(), &size) == ERROR_SUCCESS;
        value.data.resize(size);
    }
    RegCloseKey(key);
    return value;
}

bool KeyOpens(HKEY root, const wchar_t* path, REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

DWORD ValueCount(HKEY root, const wchar_t* path, REGSAM view) {
    HKEY key = nullptr;
    DWORD count = 0;
    if (RegOpenKeyExW(root, path, 0, KEY_READ | view, &key) != ERROR_SUCCESS) return 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(key);
    return count;
}

void SetRaw(HKEY root, const wchar_t* path, REGSAM view, const wchar_t* name, DWORD type, const void* data,
            DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    RegCloseKey(key);
}

void SetDwordValue(HKEY root, const wchar_t* path, REGSAM view, const wchar_t* name, DWORD value) {
    SetRaw(root, path, view, name, REG_DWORD, &value, sizeof value);
}

void SetStringValue(HKEY root, const wchar_t* path, REGSAM view, const wchar_t* name, const std::wstring& text) {
    SetRaw(root, path, view, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

// The bytes of a string stored with its terminating NUL.
std::vector<BYTE> SzBytes(const std::wstring& text) {
    const BYTE* p = reinterpret_cast<const BYTE*>(text.c_str());
    return std::vector<BYTE>(p, p + (text.size() + 1) * sizeof(wchar_t));
}

std::vector<BYTE> DwordBytes(DWORD value) {
    const BYTE* p = reinterpret_cast<const BYTE*>(&value);
    return std::vector<BYTE>(p, p + sizeof value);
}

void DeleteEntryTree(REGSAM view) {
    HKEY parent = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallParentKey, 0, KEY_ALL_ACCESS | view, &parent) != ERROR_SUCCESS)
        return;
    RegDeleteTreeW(parent, kUninstallEntryName);
    RegCloseKey(parent);
}

// Every test starts and ends without the uninstall entry (both views) and
// without the current user's settings.
class RegistrationWinTest : public ::testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    static void Clean() {
        DeleteEntryTree(KEY_WOW64_32KEY);
        DeleteEntryTree(KEY_WOW64_64KEY);
        RegDeleteKeyW(HKEY_CURRENT_USER, kSettingsKey);
        RegDeleteKeyW(HKEY_CURRENT_USER, L"SOFTWARE\\Brightfen");
    }
};

const std::wstring kUninstaller = L"D:\\软件\\Quillo 3\\unins000.exe";
const EntryDetails kDetails = {L"3.0.0.3100", L"D:\\软件\\Quillo 3", 12345, L"20261209"};

TEST_F(RegistrationWinTest, UninstallEntryHoldsEachValueWithItsTypeInThe32BitView) {
    RegisterProduct(kUninstaller, 3100, 7, 0, kDetails);

    const std::vector<std::pair<const wchar_t*, std::wstring>> strings = {
        {L"DisplayName", L"Quillo 3"},
        {L"DisplayIcon", kUninstaller},
        {L"HelpLink", kHelpLink},
        {L"UninstallString", kUninstaller},
        {L"Publisher", L"Brightfen Technology Co."},
        {L"Lang", L"2052"},
        {L"DisplayVersion", L"3.0.0.3100"},
        {L"InstallLocation", L"D:\\软件\\Quillo 3"},
        {L"InstallDate", L"20261209"},
        {L"QuietUninstallString", L"\"D:\\软件\\Quillo 3\\unins000.exe\" /q"},
    };
    for (const auto& expected : strings) {
        const RawValue value = Query(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_32KEY, expected.first);
        ASSERT_TRUE(value.exists) << expected.first;
        EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ)) << expected.first;
        EXPECT_EQ(value.data.size(), 2 * (expected.second.size() + 1)) << expected.first;
        EXPECT_EQ(value.data, SzBytes(expected.second)) << expected.first;
    }
    EXPECT_EQ(std::wstring(kHelpLink).rfind(L"http://", 0), 0u);

    const std::vector<std::pair<const wchar_t*, DWORD>> dwords = {
        {L"Version", 3100}, {L"EstimatedSize", 12345}, {L"NoModify", 1}, {L"NoRepair", 1}};
    for (const auto& expected : dwords) {
        const RawValue value = Query(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_32KEY, expected.first);
        ASSERT_TRUE(value.exists) << expected.first;
        EXPECT_EQ(value.type, static_cast<DWORD>(REG_DWORD)) << expected.first;
        EXPECT_EQ(value.data, DwordBytes(expected.second)) << expected.first;
    }

    // Channel and tray setting go to the user's key only.
    EXPECT_EQ(ValueCount(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_32KEY), 14u);
    EXPECT_FALSE(Query(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_32KEY, L"Channel").exists);
    EXPECT_FALSE(Query(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_32KEY, L"NoAutorunTray").exists);

    EXPECT_FALSE(KeyOpens(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_64KEY));

    // A product without a version resource registers no version, nor keeps
    // the one of the product registered before.
    EntryDetails unversioned = kDetails;
    unversioned.displayVersion.clear();
    RegisterProduct(kUninstaller, 0, 7, 0, unversioned);
    EXPECT_FALSE(Query(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_32KEY, L"DisplayVersion").exists);
}

TEST_F(RegistrationWinTest, UserSettingsWriteTrayOnlyWhenAskedAndNeverZero) {
    RegisterProduct(kUninstaller, 3100, 7, 0, kDetails);
    RawValue channel = Query(HKEY_CURRENT_USER, kSettingsKey, 0, L"Channel");
    ASSERT_TRUE(channel.exists);
    EXPECT_EQ(channel.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(channel.data, DwordBytes(7));
    EXPECT_FALSE(Query(HKEY_CURRENT_USER, kSettingsKey, 0, L"NoAutorunTray").exists);
    EXPECT_EQ(ValueCount(HKEY_CURRENT_USER, kSettingsKey, 0), 1u);

    // Only exactly 1 asks for the value.
    RegisterProduct(kUninstaller, 3100, 7, 2, kDetails);
    EXPECT_FALSE(Query(HKEY_CURRENT_USER, kSettingsKey, 0, L"NoAutorunTray").exists);

    RegisterProduct(kUninstaller, 3100, 9, 1, kDetails);
    const RawValue tray = Query(HKEY_CURRENT_USER, kSettingsKey, 0, L"NoAutorunTray");
    ASSERT_TRUE(tray.exists);
    EXPECT_EQ(tray.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(tray.data, DwordBytes(1));
    EXPECT_EQ(Query(HKEY_CURRENT_USER, kSettingsKey, 0, L"Channel").data, DwordBytes(9));

    // The user's own value survives a registration that does not ask for it.
    SetDwordValue(HKEY_CURRENT_USER, kSettingsKey, 0, L"NoAutorunTray", 5);
    RegisterProduct(kUninstaller, 3100, 9, 0, kDetails);
    EXPECT_EQ(Query(HKEY_CURRENT_USER, kSettingsKey, 0, L"NoAutorunTray").data, DwordBytes(5));
    SetDwordValue(HKEY_CURRENT_USER, kSettingsKey, 0, L"NoAutorunTray", 0);
    RegisterProduct(kUninstaller, 3100, 9, 0, kDetails);
    EXPECT_EQ(Query(HKEY_CURRENT_USER, kSettingsKey, 0, L"NoAutorunTray").data, DwordBytes(0));
}

TEST_F(RegistrationWinTest, EarlierInstallationReadsBackTheRegistration) {
    EarlierInstallation none = FindEarlierInstallation();
    EXPECT_TRUE(none.uninstallString.empty());
    EXPECT_EQ(none.version, 0u);

    RegisterProduct(kUninstaller, 3100, 7, 1, kDetails);
    const EarlierInstallation found = FindEarlierInstallation();
    EXPECT_EQ(found.uninstallString, kUninstaller);
    EXPECT_EQ(found.version, 3100u);
    const EarlierInstallation startup = FindEarlierInstallation();
    EXPECT_EQ(startup.uninstallString, kUninstaller);
    EXPECT_EQ(startup.version, 3100u);

    // A build of 3000 or more makes the next setup propose this folder; a
    // smaller one (or none) the default folder.
    const std::wstring programFiles = ProgramFilesFolder();
    EXPECT_EQ(ProposeInstallFolder(L"", FindEarlierInstallation(), programFiles), L"D:\\软件\\Quillo 3");
    RegisterProduct(kUninstaller, 0, 7, 0, kDetails);
    EXPECT_EQ(ProposeInstallFolder(L"", FindEarlierInstallation(), programFiles),
              programFiles + L"\\Brightfen\\Quillo 3");
}

TEST_F(RegistrationWinTest, EarlierInstallationIgnoresThe64BitView) {
    SetStringValue(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_64KEY, L"UninstallString", kUninstaller);
    SetDwordValue(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_64KEY, L"Version", 3100);
    SetDwordValue(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_64KEY, L"Channel", 4);
    const EarlierInstallation found = FindEarlierInstallation();
    EXPECT_TRUE(found.uninstallString.empty());
    EXPECT_EQ(found.version, 0u);
    const ProductSettings settings = ReadUninstallEntrySettings();
    EXPECT_FALSE(settings.hasChannel);
    EXPECT_FALSE(settings.hasVersion);
}

TEST_F(RegistrationWinTest, ReadersRejectValuesOfTheWrongTypeOrWithoutNul) {
    const REGSAM v = KEY_WOW64_32KEY;
    SetStringValue(HKEY_LOCAL_MACHINE, kUninstallKey, v, L"Version", L"3100");
    const DWORD number = 3100;
    SetRaw(HKEY_LOCAL_MACHINE, kUninstallKey, v, L"UninstallString", REG_DWORD, &number, sizeof number);
    EarlierInstallation found = FindEarlierInstallation();
    EXPECT_TRUE(found.uninstallString.empty());
    EXPECT_EQ(found.version, 0u);

    const std::wstring path = L"D:\\B\\unins000.exe";
    SetRaw(HKEY_LOCAL_MACHINE, kUninstallKey, v, L"UninstallString", REG_BINARY, path.c_str(),
           static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
    EXPECT_TRUE(FindEarlierInstallation().uninstallString.empty());

    // 520 characters without a NUL fill the whole buffer: absent. One more
    // character follows the data in memory, since Wine's RegSetValueExW
    // appends a NUL to string data that a NUL follows.
    const std::wstring full(521, L'x');
    SetRaw(HKEY_LOCAL_MACHINE, kUninstallKey, v, L"UninstallString", REG_SZ, full.c_str(), 520 * sizeof(wchar_t));
    ASSERT_EQ(Query(HKEY_LOCAL_MACHINE, kUninstallKey, v, L"UninstallString").data.size(), 520 * sizeof(wchar_t));
    EXPECT_TRUE(FindEarlierInstallation().uninstallString.empty());
    // 519 characters and the NUL fit.
    SetStringValue(HKEY_LOCAL_MACHINE, kUninstallKey, v, L"UninstallString", std::wstring(519, L'y'));
    EXPECT_EQ(FindEarlierInstallation().uninstallString, std::wstring(519, L'y'));

    SetRaw(HKEY_LOCAL_MACHINE, kUninstallKey, v, L"UninstallString", REG_EXPAND_SZ, path.c_str(),
           static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
    SetDwordValue(HKEY_LOCAL_MACHINE, kUninstallKey, v, L"Version", 4000);
    found = FindEarlierInstallation();
    EXPECT_EQ(found.uninstallString, path);
    EXPECT_EQ(found.version, 4000u);
}

TEST_F(RegistrationWinTest, SettingsReadBackFromBothKeys) {
    ProductSettings entry = ReadUninstallEntrySettings();
    ProductSettings user = ReadUserSettings();
    EXPECT_FALSE(entry.hasChannel || entry.hasVersion || entry.hasNoAutorunTray);
    EXPECT_FALSE(user.hasChannel || user.hasVersion || user.hasNoAutorunTray);

    const REGSAM v = KEY_WOW64_32KEY;
    SetDwordValue(HKEY_LOCAL_MACHINE, kUninstallKey, v, L"Channel", 12);
    SetDwordValue(HKEY_LOCAL_MACHINE, kUninstallKey, v, L"Version", 3200);
    SetDwordValue(HKEY_LOCAL_MACHINE, kUninstallKey, v, L"NoAutorunTray", 0);  // readable 0 still counts
    SetDwordValue(HKEY_CURRENT_USER, kSettingsKey, 0, L"Channel", 13);
    SetDwordValue(HKEY_CURRENT_USER, kSettingsKey, 0, L"Version", 3300);
    SetDwordValue(HKEY_CURRENT_USER, kSettingsKey, 0, L"NoAutorunTray", 1);
    entry = ReadUninstallEntrySettings();
    EXPECT_TRUE(entry.hasChannel);
    EXPECT_EQ(entry.channel, 12u);
    EXPECT_TRUE(entry.hasVersion);
    EXPECT_EQ(entry.version, 3200u);
    EXPECT_TRUE(entry.hasNoAutorunTray);
    EXPECT_EQ(entry.noAutorunTray, 0u);
    user = ReadUserSettings();
    EXPECT_TRUE(user.hasChannel);
    EXPECT_EQ(user.channel, 13u);
    EXPECT_FALSE(user.hasVersion);
    EXPECT_TRUE(user.hasNoAutorunTray);
    EXPECT_EQ(user.noAutorunTray, 1u);

    SetStringValue(HKEY_LOCAL_MACHINE, kUninstallKey, v, L"Channel", L"12");
    const ULONGLONG wide = 1;
    SetRaw(HKEY_CURRENT_USER, kSettingsKey, 0, L"NoAutorunTray", REG_QWORD, &wide, sizeof wide);
    entry = ReadUninstallEntrySettings();
    EXPECT_FALSE(entry.hasChannel);
    EXPECT_EQ(entry.channel, 0u);
    user = ReadUserSettings();
    EXPECT_FALSE(user.hasNoAutorunTray);
    EXPECT_EQ(user.noAutorunTray, 0u);
}

TEST_F(RegistrationWinTest, DeletingTheEntryLeavesThe64BitViewAndTheUserSettings) {
    EXPECT_FALSE(DeleteUninstallEntry());  // nothing to delete

    RegisterProduct(kUninstaller, 3100, 7, 1, kDetails);
    SetStringValue(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_64KEY, L"UninstallString", L"C:\\Other\\u.exe");
    ASSERT_TRUE(KeyOpens(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_32KEY));

    EXPECT_TRUE(DeleteUninstallEntry());
    EXPECT_FALSE(KeyOpens(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_32KEY));
    EXPECT_TRUE(FindEarlierInstallation().uninstallString.empty());
    EXPECT_TRUE(KeyOpens(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_64KEY));
    EXPECT_TRUE(KeyOpens(HKEY_LOCAL_MACHINE, kUninstallParentKey, KEY_WOW64_32KEY));
    EXPECT_EQ(Query(HKEY_CURRENT_USER, kSettingsKey, 0, L"Channel").data, DwordBytes(7));
    EXPECT_EQ(Query(HKEY_CURRENT_USER, kSettingsKey, 0, L"NoAutorunTray").data, DwordBytes(1));
}

TEST_F(RegistrationWinTest, AnEntryWithSubkeysIsNotDeleted) {
    RegisterProduct(kUninstaller, 3100, 7, 0, kDetails);
    const std::wstring child = std::wstring(kUninstallKey) + L"\\Child";
    SetDwordValue(HKEY_LOCAL_MACHINE, child.c_str(), KEY_WOW64_32KEY, L"x", 1);
    EXPECT_FALSE(DeleteUninstallEntry());
    EXPECT_EQ(FindEarlierInstallation().uninstallString, kUninstaller);
}

// ---------------------------------------------------------------------------
// Version resources

// One block of a version resource: header, key, value, children, each part
// aligned to four bytes.
struct VersionNode {
    std::wstring key;
    WORD type = 1;  // 1 text, 0 binary
    WORD valueLength = 0;  // characters for text, bytes for binary
    std::vector<BYTE> value;
    std::vector<VersionNode> children;

    static void Pad(std::vector<BYTE>& out) {
        while (out.size() % 4) out.push_back(0);
    }
    std::vector<BYTE> Bytes() const {
        std::vector<BYTE> out(6, 0);
        const BYTE* k = reinterpret_cast<const BYTE*>(key.c_str());
        out.insert(out.end(), k, k + (key.size() + 1) * sizeof(wchar_t));
        Pad(out);
        out.insert(out.end(), value.begin(), value.end());
        for (const VersionNode& child : children) {
            Pad(out);
            const std::vector<BYTE> bytes = child.Bytes();
            out.insert(out.end(), bytes.begin(), bytes.end());
        }
        const WORD length = static_cast<WORD>(out.size());
        memcpy(&out[0], &length, 2);
        memcpy(&out[2], &valueLength, 2);
        memcpy(&out[4], &type, 2);
        return out;
    }
};

VersionNode Text(const std::wstring& name, const std::wstring& text) {
    VersionNode node;
    node.key = name;
    node.value = SzBytes(text);
    node.valueLength = static_cast<WORD>(text.size() + 1);
    return node;
}

VersionNode Table(const std::wstring& name, const std::vector<std::pair<std::wstring, std::wstring>>& strings) {
    VersionNode node;
    node.key = name;
    for (const auto& s : strings) node.children.push_back(Text(s.first, s.second));
    return node;
}

// A complete resource: fixed file information, the given string tables and,
// unless `translation` is null, a translation value of the given words.
std::vector<BYTE> VersionResource(const std::vector<VersionNode>& tables, const std::vector<WORD>* translation) {
    VersionNode root;
    root.key = L"VS_VERSION_INFO";
    root.type = 0;
    VS_FIXEDFILEINFO fixed = {};
    fixed.dwSignature = 0xFEEF04BD;
    fixed.dwStrucVersion = 0x00010000;
    fixed.dwFileOS = VOS_NT_WINDOWS32;
    fixed.dwFileType = VFT_APP;
    const BYTE* f = reinterpret_cast<const BYTE*>(&fixed);
    root.value.assign(f, f + sizeof fixed);
    root.valueLength = sizeof fixed;

    VersionNode stringInfo;
    stringInfo.key = L"StringFileInfo";
    stringInfo.children = tables;
    root.children.push_back(stringInfo);
    if (translation) {
        VersionNode var;
        var.key = L"Translation";
        var.type = 0;
        const BYTE* t = reinterpret_cast<const BYTE*>(translation->data());
        var.value.assign(t, t + translation->size() * sizeof(WORD));
        var.valueLength = static_cast<WORD>(var.value.size());
        VersionNode varInfo;
        varInfo.key = L"VarFileInfo";
        varInfo.children.push_back(var);
        root.children.push_back(varInfo);
    }
    return root.Bytes();
}

std::wstring TempPath(const wchar_t* name) {
    wchar_t folder[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, folder);
    EXPECT_GT(n, 0u);
    return std::wstring(folder) + name;
}

// A copy of this test program whose resources are replaced by `resource`
// alone (none when empty). Removed again when the object goes.
class ProgramCopy {
public:
    ProgramCopy(const wchar_t* name, const std::vector<BYTE>& resource) : path_(TempPath(name)) {
        EXPECT_TRUE(CopyFileW(ModuleFilePath().c_str(), path_.c_str(), FALSE)) << GetLastError();
        HANDLE update = BeginUpdateResourceW(path_.c_str(), TRUE);
        EXPECT_NE(update, nullptr) << GetLastError();
        if (!update) return;
        if (!resource.empty()) {
            EXPECT_TRUE(UpdateResourceW(update, RT_VERSION, MAKEINTRESOURCEW(VS_VERSION_INFO),
                                        MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                                        const_cast<BYTE*>(resource.data()), static_cast<DWORD>(resource.size())))
                << GetLastError();
        }
        EXPECT_TRUE(EndUpdateResourceW(update, FALSE)) << GetLastError();
    }
    ~ProgramCopy() { DeleteFileW(path_.c_str()); }
    const std::wstring& path() const { return path_; }

private:
    std::wstring path_;
};

std::wstring SampleProgram() {
    const wchar_t* dir = _wgetenv(L"QUILLO_SAMPLE_DIR");
    return dir && *dir ? std::wstring(dir) + L"\\Quillo.exe" : std::wstring();
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

TEST(VersionStringsWinTest, SampleProductCarriesItsBuildNumber) {
    const std::wstring sample = SampleProgram();
    ASSERT_FALSE(sample.empty()) << "QUILLO_SAMPLE_DIR must name the folder of the sample Quillo.exe";
    ASSERT_NE(GetFileAttributesW(sample.c_str()), INVALID_FILE_ATTRIBUTES) << Narrow(sample);

    std::map<std::wstring, std::wstring> strings;
    ASSERT_TRUE(ReadVersionStrings(sample, strings));
    const std::map<std::wstring, std::wstring> expected = {
        {L"CompanyName", L"Brightfen"},        {L"FileDescription", L"Quillo 3"},
        {L"FileVersion", L"3.0.0.3100"},       {L"ProductName", L"Quillo 3"},
        {L"ProductVersion", L"3.0.0.3100"},    {L"PrivateBuild", L"3100"},
    };
    EXPECT_EQ(strings, expected);
    EXPECT_EQ(ReadBuildNumber(sample), 3100u);
}

TEST(VersionStringsWinTest, AllTwelveNamesAndNothingElse) {
    const wchar_t* names[] = {L"Comments",       L"CompanyName",    L"FileDescription", L"FileVersion",
                              L"InternalName",   L"LegalCopyright", L"LegalTrademarks", L"OriginalFilename",
                              L"ProductName",    L"ProductVersion", L"PrivateBuild",    L"SpecialBuild"};
    std::vector<std::pair<std::wstring, std::wstring>> table;
    std::map<std::wstring, std::wstring> expected;
    int i = 0;
    for (const wchar_t* name : names) {
        const std::wstring text = L"值 " + std::to_wstring(++i);
        table.emplace_back(name, text);
        expected[name] = text;
    }
    table.emplace_back(L"Extra", L"not one of them");
    table.emplace_back(L"BuildNote", L"");
    const std::vector<WORD> translation = {0x0804, 0x04B0};
    ProgramCopy copy(L"quillo-ver-all.exe", VersionResource({Table(L"080404b0", table)}, &translation));

    std::map<std::wstring, std::wstring> strings = {{L"Stale", L"entry"}};
    ASSERT_TRUE(ReadVersionStrings(copy.path(), strings));
    EXPECT_EQ(strings, expected);
}

TEST(VersionStringsWinTest, FirstTranslationLanguageFirstChoosesTheTable) {
    // Translation 0x0409/0x04E4 names the table "040904e4"; a table named the
    // other way round, or the second translation's, must not be taken.
    const std::vector<WORD> translation = {0x0409, 0x04E4, 0x0804, 0x04B0};
    ProgramCopy copy(L"quillo-ver-order.exe",
                     VersionResource({Table(L"04e40409", {{L"PrivateBuild", L"1111"}}),
                                      Table(L"080404b0", {{L"PrivateBuild", L"2222"}, {L"Comments", L"second"}}),
                                      Table(L"040904e4", {{L"PrivateBuild", L"3333"}})},
                                     &translation));
    std::map<std::wstring, std::wstring> strings;
    ASSERT_TRUE(ReadVersionStrings(copy.path(), strings));
    EXPECT_EQ(strings, (std::map<std::wstring, std::wstring>{{L"PrivateBuild", L"3333"}}));
    EXPECT_EQ(ReadBuildNumber(copy.path()), 3333u);
}

TEST(VersionStringsWinTest, BuildNumberIsZeroWithoutAUsablePrivateBuild) {
    const std::vector<WORD> translation = {0x0804, 0x04B0};
    {
        ProgramCopy copy(L"quillo-ver-nobuild.exe",
                         VersionResource({Table(L"080404b0", {{L"ProductName", L"Quillo 3"}})}, &translation));
        std::map<std::wstring, std::wstring> strings;
        ASSERT_TRUE(ReadVersionStrings(copy.path(), strings));
        EXPECT_EQ(strings.count(L"PrivateBuild"), 0u);
        EXPECT_EQ(strings[L"ProductName"], L"Quillo 3");
        EXPECT_EQ(ReadBuildNumber(copy.path()), 0u);
    }
    {
        ProgramCopy copy(L"quillo-ver-text.exe",
                         VersionResource({Table(L"080404b0", {{L"PrivateBuild", L" 42abc"}})}, &translation));
        EXPECT_EQ(ReadBuildNumber(copy.path()), 42u);
    }
    {
        ProgramCopy copy(L"quillo-ver-word.exe",
                         VersionResource({Table(L"080404b0", {{L"PrivateBuild", L"beta"}})}, &translation));
        EXPECT_EQ(ReadBuildNumber(copy.path()), 0u);
    }
}

TEST(VersionStringsWinTest, ResourceWithoutATranslationIsRejected) {
    const auto table = Table(L"080404b0", {{L"PrivateBuild", L"3100"}});
    {
        ProgramCopy copy(L"quillo-ver-novar.exe", VersionResource({table}, nullptr));
        std::map<std::wstring, std::wstring> strings;
        EXPECT_FALSE(ReadVersionStrings(copy.path(), strings));
        EXPECT_TRUE(strings.empty());
        EXPECT_EQ(ReadBuildNumber(copy.path()), 0u);
    }
    {
        const std::vector<WORD> half = {0x0804};  // two bytes: no complete entry
        ProgramCopy copy(L"quillo-ver-half.exe", VersionResource({table}, &half));
        std::map<std::wstring, std::wstring> strings;
        EXPECT_FALSE(ReadVersionStrings(copy.path(), strings));
        EXPECT_EQ(ReadBuildNumber(copy.path()), 0u);
    }
}

TEST(VersionStringsWinTest, FilesWithoutVersionResourceGiveNothing) {
    ProgramCopy bare(L"quillo-ver-none.exe", {});
    DWORD handle = 0;
    ASSERT_EQ(GetFileVersionInfoSizeW(bare.path().c_str(), &handle), 0u);
    std::map<std::wstring, std::wstring> strings = {{L"PrivateBuild", L"9"}};
    EXPECT_FALSE(ReadVersionStrings(bare.path(), strings));
    EXPECT_TRUE(strings.empty());
    EXPECT_EQ(ReadBuildNumber(bare.path()), 0u);

    const std::wstring text = TempPath(L"quillo-ver-plain.txt");
    HANDLE file = CreateFileW(text.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    const char content[] = "PrivateBuild 3100\r\n";
    DWORD written = 0;
    WriteFile(file, content, sizeof content - 1, &written, nullptr);
    CloseHandle(file);
    strings = {{L"PrivateBuild", L"9"}};
    EXPECT_FALSE(ReadVersionStrings(text, strings));
    EXPECT_TRUE(strings.empty());
    EXPECT_EQ(ReadBuildNumber(text), 0u);
    DeleteFileW(text.c_str());

    EXPECT_FALSE(ReadVersionStrings(TempPath(L"quillo-ver-missing.exe"), strings));
    EXPECT_EQ(ReadBuildNumber(TempPath(L"quillo-ver-missing.exe")), 0u);
}

TEST(VersionStringsWinTest, BuildNumberConvertsAsTheCRuntime) {
    // Where the C runtime's result is a valid build number (long is 32-bit on
    // Windows in both builds), the two agree.
    for (const wchar_t* text : {L"3100", L" 42abc", L"\t\r\n +7", L"abc", L"", L"  ", L"0x10", L"007",
                                L"12 34", L"+", L"2147483647", L"2147483648", L"99999999999999999999"}) {
        EXPECT_EQ(ParseBuildNumber(text), static_cast<uint32_t>(std::wcstol(text, nullptr, 10)))
            << Narrow(text);
    }
    EXPECT_EQ(ParseBuildNumber(L"3100"), 3100u);
    EXPECT_EQ(ParseBuildNumber(L"99999999999999999999"), 2147483647u);
    // Negative numbers are no build.
    EXPECT_EQ(ParseBuildNumber(L"-5"), 0u);
    EXPECT_EQ(ParseBuildNumber(L" -3100"), 0u);
    EXPECT_EQ(ParseBuildNumber(L"-99999999999999999999"), 0u);
}

}  // namespace
}  // namespace quillo
