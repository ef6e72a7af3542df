// Whole installations and removals on a fresh Wine prefix: the sample
// product's setup file (packed by mksetup) installed by RunInstall on an
// install thread, checked on disk, in the registry and in the shell's
// folders, then removed again by its own uninstaller through RunUninstall.
// These tests change machine-wide state and run in a ctest entry of their own.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/AppendedBlock.h"
#include "app/UninstallManifest.h"
#include "base/Base64.h"
#include "base/Md5.h"
#include "base/SystemInfo.h"
#include "base/TextCodec.h"
#include "install/InstallStep.h"
#include "install/ProductRegistration.h"
#include "install/Registry.h"
#include "install/Shortcuts.h"
#include "uninstall/RemovalGuard.h"
#include "tests/windows/TestDialogs.h"
#include "tests/windows/TestInstallFiles.h"
#include "tests/windows/TestProgressWindow.h"
#include "tests/windows/TestZip.h"

namespace fs = std::filesystem;

namespace quillo {
namespace {

using namespace test;

std::vector<std::wstring> TempArchives() {
    std::vector<std::wstring> names;
    for (const auto& entry : fs::directory_iterator(TempFolder())) {
        if (entry.path().extension() == L".zip") names.push_back(entry.path().filename().wstring());
    }
    return names;
}

std::vector<std::string> SampleRuns() { return ReadLines(TempFolder() + L"quillo-sample-runs.txt"); }

// Links that the sample's "Quillo 3" entries make.
struct Links {
    std::wstring desktop = LinkPathIn(CommonDesktopFolder(), L"Quillo 3");
    std::wstring quickLaunch = LinkPathIn(QuickLaunchFolder(), L"Quillo 3");
    std::wstring startMenu = StartMenuFolder() + L"\\Quillo.lnk";
};

class InstallSequenceTest : public SampleMachineTest {
protected:
    InstallSequenceTest() : SampleMachineTest(L"C:\\Quillo Tests ") {}

    void SetUp() override {
        SampleMachineTest::SetUp();
        installDir_ = root_ + L"\\Quillo 3";
    }

    static void Clean() { CleanMachineState(); }

    // The run settings the options window would hand over for the sample.
    void Prepare(TestProgressWindow& w, const std::wstring& folder) const {
        w.installMode = 1;
        w.installDir = folder;
        w.packageDigest = stub_.block.get("md5").asString();
        w.channel = stub_.block.get("channel").asInt();
        w.extraPack = 0;
        w.drivers64 = 1;
    }

    std::wstring SaveSetup(const std::vector<uint8_t>& bytes, const wchar_t* name) {
        std::error_code ec;
        fs::create_directories(root_, ec);
        const std::wstring path = root_ + L"\\" + name;
        WriteBytes(path, bytes);
        return path;
    }

    std::wstring installDir_;
};

// Today's date as the uninstall entry's "InstallDate" writes it.
std::wstring Today() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t text[16];
    swprintf(text, 16, L"%04u%02u%02u", static_cast<unsigned>(now.wYear), static_cast<unsigned>(now.wMonth),
             static_cast<unsigned>(now.wDay));
    return text;
}

TEST_F(InstallSequenceTest, FreshInstallPutsTheProductInPlace) {
    TestProgressWindow w;
    Prepare(w, installDir_);
    const std::wstring dayBefore = Today();
    ASSERT_EQ(w.Install(sample_), 0);
    const std::wstring dayAfter = Today();

    EXPECT_EQ(w.progress, (std::vector<int>{10, 60, 70, 75, 95, 100}));
    EXPECT_EQ(w.doneCount, 1);
    EXPECT_TRUE(w.failures.empty());
    EXPECT_EQ(w.statuses(), (std::vector<std::wstring>{L"正在复制文件: 10%", L"正在创建桌面快捷方式: 65%",
                                                        L"正在创建任务栏快捷方式: 75%",
                                                        L"正在创建开始菜单快捷方式: 75%"}));
    EXPECT_EQ(w.digest, stub_.block.get("md5").asString());
    EXPECT_EQ(w.operation, 1);
    EXPECT_EQ(w.buildNumber, 3100u);
    EXPECT_EQ(w.lastRunPath, installDir_ + L"\\Quillo.exe");
    EXPECT_EQ(w.installCommands.type(), JValue::Null);
    EXPECT_TRUE(w.detectorLibrary.empty());  // "extrapack" is false in the sample

    for (const wchar_t* file : {L"Quillo.exe", L"QuilloDaemon.exe", L"QuilloCore.dll", L"readme.txt",
                                L"AppData\\Skins\\default.txt", L"Extensions\\QuilloBHO64.dll", L"unins000.exe"}) {
        EXPECT_TRUE(Exists(installDir_ + L"\\" + file)) << file;
    }
    EXPECT_FALSE(Exists(installDir_ + L"\\x64"));

    // The uninstaller: the setup file's image and the manifest.
    const std::vector<uint8_t> uninstaller = ReadBytes(installDir_ + L"\\unins000.exe");
    ASSERT_GT(uninstaller.size(), stub_.imageSize());
    EXPECT_EQ(std::memcmp(uninstaller.data(), stub_.ImageCopy().data(), stub_.imageSize()), 0);
    JValue manifest;
    ASSERT_TRUE(ReadAppendedBlock(installDir_ + L"\\unins000.exe", manifest));
    EXPECT_EQ(manifest.get("mode").asInt(), 0);
    EXPECT_EQ(manifest.get(kManifestFreshRoot).asInt(), 1);
    EXPECT_EQ(ManifestRoot(manifest), installDir_);
    EXPECT_EQ(manifest.get("channel").asInt(), 1);
    EXPECT_EQ(WriteJson(manifest.get("uninstrun")), WriteJson(stub_.block.get("uninstrun")));
    EXPECT_EQ(WriteJson(manifest.get("setup").get("shortcut")), WriteJson(stub_.block.get("shortcut")));
    const std::vector<std::wstring> files = ManifestPaths(manifest, kManifestFiles);
    // The architecture folder's files are listed where they landed, joined as
    // the package names them.
    EXPECT_NE(std::find(files.begin(), files.end(), installDir_ + L"/QuilloCore.dll"), files.end())
        << WriteJson(manifest.get("files"));
    const std::string text = WriteJson(manifest);
    EXPECT_EQ(text.rfind("{\"channel\"", 0), 0u) << text;
    EXPECT_EQ(text.find("\"uninstrun\""), text.rfind("\"uninstrun\"")) << text;

    // Registration and shortcuts.
    EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kUninstallKey, L"UninstallString"), installDir_ + L"\\unins000.exe");
    uint32_t version = 0, channel = 0;
    EXPECT_TRUE(RegDword(HKEY_LOCAL_MACHINE, kUninstallKey, L"Version", version));
    EXPECT_EQ(version, 3100u);
    EXPECT_TRUE(RegDword(HKEY_CURRENT_USER, kSettingsKey, L"Channel", channel));
    EXPECT_EQ(channel, 1u);
    // What package managers match and Windows shows: the product's version,
    // the folder, the room the installed files take, the date, the quiet
    // removal, and neither modify nor repair.
    std::map<std::wstring, std::wstring> product;
    ASSERT_TRUE(ReadVersionStrings(installDir_ + L"\\Quillo.exe", product));
    ASSERT_FALSE(product[L"ProductVersion"].empty());
    EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayVersion"), product[L"ProductVersion"]);
    EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kUninstallKey, L"InstallLocation"), installDir_);
    EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kUninstallKey, L"QuietUninstallString"),
              L"\"" + installDir_ + L"\\unins000.exe\" /q");
    const std::wstring date = RegString(HKEY_LOCAL_MACHINE, kUninstallKey, L"InstallDate");
    EXPECT_TRUE(date == dayBefore || date == dayAfter) << WideToUtf8(date);
    uint64_t installedBytes = 0;
    for (const auto& entry : fs::recursive_directory_iterator(installDir_))
        if (entry.is_regular_file()) installedBytes += entry.file_size();
    uint32_t size = 0, noModify = 0, noRepair = 0;
    EXPECT_TRUE(RegDword(HKEY_LOCAL_MACHINE, kUninstallKey, L"EstimatedSize", size));
    EXPECT_EQ(size, (installedBytes + 1023) / 1024);
    EXPECT_TRUE(RegDword(HKEY_LOCAL_MACHINE, kUninstallKey, L"NoModify", noModify));
    EXPECT_TRUE(RegDword(HKEY_LOCAL_MACHINE, kUninstallKey, L"NoRepair", noRepair));
    EXPECT_EQ(noModify, 1u);
    EXPECT_EQ(noRepair, 1u);
    // The uninstaller is the setup program's image: its icon, manifest and
    // version resource come along.
    std::map<std::wstring, std::wstring> setupStrings, uninstallerStrings;
    ASSERT_TRUE(ReadVersionStrings(sample_, setupStrings));
    ASSERT_TRUE(ReadVersionStrings(installDir_ + L"\\unins000.exe", uninstallerStrings));
    EXPECT_EQ(uninstallerStrings, setupStrings);
    EXPECT_EQ(uninstallerStrings[L"ProductName"], L"Quillo 3");
    const Links links;
    EXPECT_TRUE(Exists(links.desktop));
    EXPECT_TRUE(Exists(links.quickLaunch));
    EXPECT_TRUE(Exists(links.startMenu));
    // The first-install commands of the sample: none are listed, none run.
    EXPECT_TRUE(SampleRuns().empty());
}

TEST_F(InstallSequenceTest, WithoutShortcutsTheBarSkipsTheirSteps) {
    TestProgressWindow w;
    Prepare(w, installDir_);
    w.desktopShortcut = w.taskbarShortcut = w.startMenuShortcut = 0;
    ASSERT_EQ(w.Install(sample_), 0);
    EXPECT_EQ(w.progress, (std::vector<int>{10, 60, 75, 95, 100}));
    EXPECT_EQ(w.statuses(), (std::vector<std::wstring>{L"正在复制文件: 10%"}));
    const Links links;
    EXPECT_FALSE(Exists(links.desktop));
    EXPECT_FALSE(Exists(links.quickLaunch));
    EXPECT_FALSE(Exists(StartMenuFolder()));
    EXPECT_TRUE(Exists(installDir_ + L"\\Quillo.exe"));
}

TEST_F(InstallSequenceTest, BlockCommandsAndTheLastRunProgramFollowTheBlock) {
    // instrun is handed to the progress window; instoptions run at once, but
    // only while the product has no configuration file; no lastrun gives the
    // folder itself.
    JValue block = stub_.block;
    JValue trimmed;
    for (const char* key : {"mode", "channel", "shortcut", "uninstrun"}) trimmed[key] = block.get(key);
    trimmed["instrun"][0] = "QuilloDaemon.exe /after";
    trimmed["instoptions"][0] = "QuilloDaemon.exe /first";
    trimmed["instoptions"][1] = "QuilloDaemon.exe /second";
    const std::vector<uint8_t> package = stub_.PackageCopy();
    trimmed["md5"] = Md5Of(package);
    const std::wstring setup = SaveSetup(MakeSetupFile(stub_, WriteJson(trimmed), package), L"commands.exe");

    TestProgressWindow w;
    Prepare(w, installDir_);
    ASSERT_EQ(w.Install(setup), 0);
    EXPECT_EQ(w.lastRunPath, installDir_ + L"\\");
    EXPECT_EQ(WriteJson(w.installCommands), "[\"QuilloDaemon.exe /after\"]\n");
    // Started without waiting: give them a moment.
    for (int i = 0; i < 100 && SampleRuns().size() < 2; ++i) Sleep(50);
    std::vector<std::string> runs = SampleRuns();
    std::sort(runs.begin(), runs.end());
    EXPECT_EQ(runs, (std::vector<std::string>{"QuilloDaemon /first", "QuilloDaemon /second"}));

    // With a configuration file in place they do not run again.
    std::error_code ec;
    fs::remove(TempFolder() + L"quillo-sample-runs.txt", ec);
    fs::create_directories(fs::path(ProductConfigFile()).parent_path(), ec);
    WriteText(ProductConfigFile(), "user settings");
    TestProgressWindow again;
    Prepare(again, installDir_);
    ASSERT_EQ(again.Install(setup), 0);
    Sleep(500);
    EXPECT_TRUE(SampleRuns().empty());
}

TEST_F(InstallSequenceTest, InstallOverAnEarlierOneKeepsItsSettingsAndSkipsItsCleanUp) {
    const std::wstring earlierDir = root_ + L"\\Earlier";
    {
        TestProgressWindow first;
        Prepare(first, earlierDir);
        first.channel = 7;
        ASSERT_EQ(first.Install(sample_), 0);
    }
    ASSERT_TRUE(Exists(earlierDir + L"\\unins000.exe"));
    SetUserDword(L"NoAutorunTray", 1);

    TestProgressWindow w;
    Prepare(w, installDir_);
    ASSERT_EQ(w.channel, 1);
    ASSERT_EQ(w.Install(sample_), 0);

    EXPECT_EQ(w.operation, 3);
    EXPECT_EQ(w.channel, 7);
    EXPECT_EQ(w.noAutorunTray, 1);
    EXPECT_FALSE(Exists(earlierDir)) << "the earlier installation is removed";
    EXPECT_TRUE(SampleRuns().empty()) << "a replaced installation's clean-up commands do not run";
    EXPECT_EQ(w.statuses().front(), L"正在卸载组件");

    JValue manifest;
    ASSERT_TRUE(ReadAppendedBlock(installDir_ + L"\\unins000.exe", manifest));
    EXPECT_EQ(manifest.get("channel").asInt(), 7);
    uint32_t channel = 0, tray = 0;
    EXPECT_TRUE(RegDword(HKEY_CURRENT_USER, kSettingsKey, L"Channel", channel));
    EXPECT_EQ(channel, 7u);
    EXPECT_TRUE(RegDword(HKEY_CURRENT_USER, kSettingsKey, L"NoAutorunTray", tray));
    EXPECT_EQ(tray, 1u);
    EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kUninstallKey, L"UninstallString"), installDir_ + L"\\unins000.exe");
    EXPECT_TRUE(Exists(LinkPathIn(CommonDesktopFolder(), L"Quillo 3")));
}

TEST_F(InstallSequenceTest, AnEarlierEntryWithoutItsUninstallerRemovesNothing) {
    TestProgressWindow first;
    Prepare(first, root_ + L"\\Earlier");
    ASSERT_EQ(first.Install(sample_), 0);
    ASSERT_TRUE(DeleteFileW((root_ + L"\\Earlier\\unins000.exe").c_str()));

    TestProgressWindow w;
    Prepare(w, installDir_);
    ASSERT_EQ(w.Install(sample_), 0);
    EXPECT_EQ(w.operation, 1);
    EXPECT_TRUE(Exists(root_ + L"\\Earlier\\Quillo.exe"));
}

// Every way a setup file can fail, each on a clean machine: the code is
// posted, and nothing is left behind but what the failure itself explains.
TEST_F(InstallSequenceTest, FailingSetupFilesReportTheirCodeAndLeaveNothingBehind) {
    const std::vector<uint8_t> package = stub_.PackageCopy();
    const std::string md5 = Md5Of(package);
    auto blockWith = [&](const std::string& digest) {
        JValue block = stub_.block;
        block["md5"] = digest;
        return WriteJson(block);
    };
    const std::vector<uint8_t> good = MakeSetupFile(stub_, blockWith(md5), package);
    const uint32_t O = stub_.offset;

    // A ZIP whose second entry climbs out of the installation folder.
    std::error_code ec;
    fs::create_directories(root_, ec);
    {
        test::ZipBuilder zip(root_ + L"\\hostile.zip");
        zip.Add("readme.txt", "fine");
        zip.Add("../../Quillo Tests escaped.txt", "out");
    }
    const std::vector<uint8_t> hostile = ReadBytes(root_ + L"\\hostile.zip");
    ASSERT_FALSE(hostile.empty());
    const std::vector<uint8_t> notZip(4096, 0x5A);

    struct Case {
        const char* what;
        std::vector<uint8_t> file;
        int code;
        bool tempArchiveLeft;
    };
    std::vector<Case> cases;
    {
        std::vector<uint8_t> f = good;
        StoreLe32(f.data() + LoadLe32(f.data() + kLfanewOffset) - 4, 0);
        cases.push_back({"locator 0", f, 1, false});
    }
    {
        std::vector<uint8_t> f = good;
        StoreLe32(f.data() + O, static_cast<uint32_t>(f.size()));
        cases.push_back({"block length beyond the file", f, 3, false});
    }
    {
        std::string broken = blockWith(md5);
        broken[broken.size() / 2] = '{';
        cases.push_back({"block not JSON", MakeSetupFile(stub_, broken, package), 4, false});
    }
    {
        std::vector<uint8_t> f = good;
        const uint32_t L = LoadLe32(f.data() + O);
        StoreLe32(f.data() + O + 4 + L, static_cast<uint32_t>(package.size() + 1));
        cases.push_back({"package beyond the file", f, 5, false});
    }
    cases.push_back({"digest wrong", MakeSetupFile(stub_, blockWith(Md5Of(notZip)), package), 9, true});
    cases.push_back({"digest missing", MakeSetupFile(stub_, blockWith(""), package), 9, true});
    cases.push_back({"not a ZIP", MakeSetupFile(stub_, blockWith(Md5Of(notZip)), notZip), 7, false});
    cases.push_back({"entry escapes", MakeSetupFile(stub_, blockWith(Md5Of(hostile)), hostile), 8, false});

    DialogAnswerer answerer(IDOK);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Clean();
        const std::wstring setup = SaveSetup(c.file, L"failing.exe");
        const std::vector<std::wstring> archivesBefore = TempArchives();
        TestProgressWindow w;
        Prepare(w, installDir_);
        SetupImage image;  // the digest the startup reads from the block
        w.packageDigest = ReadSetupImage(setup, image) == 0 ? image.block.get("md5").asString() : std::string();
        EXPECT_EQ(w.Install(setup), c.code);
        EXPECT_EQ(w.failures, std::vector<int>{c.code});
        EXPECT_EQ(w.doneCount, 0);
        EXPECT_FALSE(Exists(installDir_)) << "nothing unpacked stays";
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
        EXPECT_FALSE(Exists(LinkPathIn(CommonDesktopFolder(), L"Quillo 3")));
        EXPECT_FALSE(Exists(StartMenuFolder()));
        EXPECT_FALSE(Exists(L"C:\\Quillo Tests escaped.txt"));
        std::vector<std::wstring> added;
        for (const std::wstring& name : TempArchives()) {
            if (std::find(archivesBefore.begin(), archivesBefore.end(), name) == archivesBefore.end())
                added.push_back(name);
        }
        // A package that fails its digest check stays in the temporary folder.
        EXPECT_EQ(added.size(), c.tempArchiveLeft ? 1u : 0u);
        for (const std::wstring& name : added) DeleteFileW((TempFolder() + name).c_str());
    }
    EXPECT_EQ(answerer.seen().size(), 1u) << "only the hostile entry asks anything";

    // The package is unpacked beside the installation folder, not through
    // the temporary folder: one that cannot be written is no hindrance.
    Clean();
    const std::wstring setup = SaveSetup(good, L"good.exe");
    wchar_t savedTmp[MAX_PATH] = {}, savedTemp[MAX_PATH] = {};
    GetEnvironmentVariableW(L"TMP", savedTmp, MAX_PATH);
    GetEnvironmentVariableW(L"TEMP", savedTemp, MAX_PATH);
    SetEnvironmentVariableW(L"TMP", L"C:\\no such folder\\temp");
    SetEnvironmentVariableW(L"TEMP", L"C:\\no such folder\\temp");
    TestProgressWindow w;
    Prepare(w, installDir_);
    const int code = w.Install(setup);
    SetEnvironmentVariableW(L"TMP", savedTmp);
    SetEnvironmentVariableW(L"TEMP", savedTemp);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(w.failures.empty());
    EXPECT_TRUE(Exists(installDir_ + L"\\Quillo.exe"));
    EXPECT_FALSE(Exists(L"C:\\no such folder"));
}

TEST_F(InstallSequenceTest, UninstallRemovesWhatWasInstalledAfterTheCleanUpCommands) {
    {
        TestProgressWindow w;
        Prepare(w, installDir_);
        w.channel = 5;
        ASSERT_EQ(w.Install(sample_), 0);
    }
    // The uninstaller runs from its copy in the temporary folder.
    const std::wstring copy = TempFolder() + L"QuilloUninstallCopy.exe";
    ASSERT_TRUE(CopyFileW((installDir_ + L"\\unins000.exe").c_str(), copy.c_str(), FALSE));

    TestProgressWindow u;
    u.installMode = 0;
    ASSERT_TRUE(u.Uninstall(copy));
    DeleteFileW(copy.c_str());

    // Each clean-up command ran to its end, in order, before anything went.
    EXPECT_EQ(SampleRuns(), (std::vector<std::string>{"QuilloDaemon /up (begins)", "QuilloDaemon /up",
                                                      "QuilloDaemon /uipa (begins)", "QuilloDaemon /uipa",
                                                      "QuilloDaemon /uapk (begins)", "QuilloDaemon /uapk",
                                                      "QuilloDaemon /ud (begins)", "QuilloDaemon /ud"}));
    EXPECT_EQ(u.statuses(), (std::vector<std::wstring>{L"正在卸载组件", L"正在删除快捷方式: 90%", L"正在删除文件",
                                                        L"正在清理注册表"}));
    EXPECT_TRUE(u.progress.empty());
    EXPECT_EQ(u.finishCalls, 0) << "only the uninstaller's own file hands over";
    EXPECT_EQ(u.buildNumber, 3100u);
    EXPECT_EQ(u.channel, 5);

    EXPECT_FALSE(Exists(installDir_));
    const Links links;
    EXPECT_FALSE(Exists(links.desktop));
    EXPECT_FALSE(Exists(links.quickLaunch));
    EXPECT_FALSE(Exists(StartMenuFolder()));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    uint32_t channel = 0;
    EXPECT_TRUE(RegDword(HKEY_CURRENT_USER, kSettingsKey, L"Channel", channel)) << "the user's settings stay";
    EXPECT_EQ(channel, 5u);
}

TEST_F(InstallSequenceTest, UninstallFromAFolderThatHeldTheUsersFilesTakesOnlyTheProduct) {
    // The user picked a folder of their own.
    std::error_code ec;
    fs::create_directories(installDir_ + L"\\AppData\\Skins", ec);
    WriteText(installDir_ + L"\\my notes.txt", "mine");
    WriteText(installDir_ + L"\\AppData\\Skins\\my skin.txt", "mine too");
    {
        TestProgressWindow w;
        Prepare(w, installDir_);
        ASSERT_EQ(w.Install(sample_), 0);
    }
    JValue manifest;
    ASSERT_TRUE(ReadAppendedBlock(installDir_ + L"\\unins000.exe", manifest));
    EXPECT_EQ(manifest.get(kManifestFreshRoot).asInt(), 0);
    const std::vector<std::wstring> listed = ManifestPaths(manifest, kManifestFolders);
    ASSERT_NE(std::find(listed.begin(), listed.end(), installDir_), listed.end()) << "the folder is listed";

    const std::wstring copy = TempFolder() + L"QuilloUninstallCopy.exe";
    ASSERT_TRUE(CopyFileW((installDir_ + L"\\unins000.exe").c_str(), copy.c_str(), FALSE));
    TestProgressWindow u;
    u.installMode = 0;
    ASSERT_TRUE(u.Uninstall(copy));

    EXPECT_TRUE(Exists(installDir_ + L"\\my notes.txt"));
    EXPECT_TRUE(Exists(installDir_ + L"\\AppData\\Skins\\my skin.txt"));
    for (const wchar_t* file : {L"Quillo.exe", L"QuilloCore.dll", L"readme.txt", L"AppData\\Skins\\default.txt",
                                L"Extensions\\QuilloBHO64.dll", L"unins000.exe"}) {
        EXPECT_FALSE(Exists(installDir_ + L"\\" + file)) << file;
    }
    EXPECT_FALSE(Exists(installDir_ + L"\\Extensions")) << "a folder left empty goes";
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));

    // The same manifest without the member is removed folder by folder, as
    // uninstallers written before it did.
    {
        TestProgressWindow w;
        Prepare(w, installDir_);
        ASSERT_EQ(w.Install(sample_), 0);
    }
    ASSERT_TRUE(ReadAppendedBlock(installDir_ + L"\\unins000.exe", manifest));
    JValue legacy;
    for (const char* key : {"channel", "files", "folders", "mode", "setup", "uninstrun"})
        legacy[key] = manifest.get(key);
    SetupImage image;
    ASSERT_EQ(ReadSetupImage(sample_, image), 0);
    ASSERT_TRUE(WriteUninstaller(copy, image, legacy));
    TestProgressWindow again;
    again.installMode = 0;
    ASSERT_TRUE(again.Uninstall(copy));
    DeleteFileW(copy.c_str());
    EXPECT_FALSE(Exists(installDir_));
}

TEST_F(InstallSequenceTest, UninstallEndsTheProgramsThatHoldTheProductsFilesWithoutAsking) {
    {
        TestProgressWindow w;
        Prepare(w, installDir_);
        ASSERT_EQ(w.Install(sample_), 0);
    }
    // A program of the product still runs from the installation folder.
    const std::wstring holder = installDir_ + L"\\Holder.exe";
    ASSERT_TRUE(CopyFileW(ModuleFilePath().c_str(), holder.c_str(), FALSE));
    std::wstring line = L"\"" + holder + L"\" --gtest_filter=ExtractionHelper.DISABLED_HoldFile "
                        L"--gtest_also_run_disabled_tests";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessW(holder.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    CloseHandle(pi.hThread);
    Sleep(1500);  // let it load
    ASSERT_EQ(WaitForSingleObject(pi.hProcess, 0), WAIT_TIMEOUT);

    JValue manifest;
    ASSERT_TRUE(ReadAppendedBlock(installDir_ + L"\\unins000.exe", manifest));
    AppendManifestPath(manifest, kManifestFiles, holder);
    const std::wstring copy = TempFolder() + L"QuilloUninstallCopy.exe";
    ASSERT_TRUE(WriteUninstaller(copy, stub_, manifest));
    DialogAnswerer answerer(IDNO);
    TestProgressWindow u;
    u.installMode = 1;  // no clean-up commands: only the holder is in the way
    ASSERT_TRUE(u.Uninstall(copy));
    DeleteFileW(copy.c_str());

    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 5000), WAIT_OBJECT_0) << "the holder was ended";
    TerminateProcess(pi.hProcess, 0);
    CloseHandle(pi.hProcess);
    EXPECT_TRUE(answerer.seen().empty()) << "removal asks nothing";
    EXPECT_FALSE(Exists(installDir_));
}

// However a manifest was made, removal keeps the system's and the users'
// folders and everything outside the installation folder; a folder below it
// that is none of them still goes. A drive as the root removes nothing.
TEST_F(InstallSequenceTest, ProtectedFoldersSurviveAnyManifest) {
    const std::wstring documents = SpecialFolder(CSIDL_PERSONAL);
    const std::wstring profile = SpecialFolder(CSIDL_PROFILE);
    const std::wstring profiles = fs::path(profile).parent_path().wstring();
    const std::wstring otherUser = profiles + L"\\Other User";
    const std::wstring appData = SpecialFolder(CSIDL_APPDATA);
    const std::wstring programFiles = ProgramFilesFolder();
    ASSERT_FALSE(documents.empty() || profile.empty() || appData.empty() || programFiles.empty());
    std::error_code ec;
    fs::create_directories(otherUser, ec);
    const std::vector<std::wstring> markers = {documents + L"\\QuilloMarker.txt", otherUser + L"\\QuilloMarker.txt",
                                               appData + L"\\QuilloMarker.txt", programFiles + L"\\QuilloMarker.txt",
                                               profile + L"\\QuilloMarker.txt"};
    for (const std::wstring& marker : markers) WriteText(marker, "keep");

    for (const wchar_t* root : {L"C:\\", L""}) {
        SCOPED_TRACE(*root ? "root C:\\" : "root the scratch folder");
        fs::create_directories(root_ + L"\\decoy", ec);
        WriteText(root_ + L"\\decoy\\product.dat", "go");
        JValue manifest;
        manifest["mode"] = 0;
        manifest["setup"]["root"] = Base64Encode(WideToUtf8(*root ? std::wstring(root) : root_));
        int i = 0;
        for (const std::wstring& folder :
             {documents, otherUser, fs::path(appData).parent_path().wstring(), documents + L"\\..", profile, profiles,
              programFiles, std::wstring(L"c:/WINDOWS/"), std::wstring(L"C:\\windows\\system32"),
              std::wstring(L"C:\\"), std::wstring(L"C:"), root_ + L"\\decoy", TempFolder()}) {
            manifest["folders"][i++] = Base64Encode(WideToUtf8(folder));
        }
        const std::wstring uninstaller = root_ + L"\\hostile.exe";
        ASSERT_TRUE(WriteUninstaller(uninstaller, stub_, manifest));
        TestProgressWindow u;
        u.installMode = 1;
        ASSERT_TRUE(u.Uninstall(uninstaller));

        for (const std::wstring& marker : markers) EXPECT_TRUE(Exists(marker)) << WideToUtf8(marker);
        EXPECT_TRUE(Exists(L"C:\\windows\\system32\\kernel32.dll"));
        EXPECT_TRUE(Exists(TempFolder()));
        EXPECT_EQ(Exists(root_ + L"\\decoy"), *root != 0);
    }
    for (const std::wstring& marker : markers) DeleteFileW(marker.c_str());
    fs::remove_all(otherUser, ec);
}

// The removal's comparable paths are built folder by folder from those
// already resolved: they name the same folders as the system's resolution
// of the whole path, short names and "." or ".." included, keep a missing
// end as written, and protect a system folder however it is spelled.
TEST_F(InstallSequenceTest, ComparablePathsResolvedFolderByFolderMatchTheSystems) {
    auto shortForm = [](const std::wstring& path) {
        wchar_t buffer[MAX_PATH];
        const DWORD n = GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
        return n > 0 && n < MAX_PATH ? std::wstring(buffer, n) : path;
    };
    const std::wstring documents = SpecialFolder(CSIDL_PERSONAL);
    const std::wstring programFiles = ComparablePath(ProgramFilesFolder());
    const std::wstring profile = SpecialFolder(CSIDL_PROFILE);
    std::error_code ec;
    fs::create_directories(root_ + L"\\Long Folder Name\\Inner Folder", ec);
    WriteText(root_ + L"\\Long Folder Name\\Inner Folder\\some file.txt", "x");
    const std::wstring inner = root_ + L"\\Long Folder Name\\Inner Folder";
    ASSERT_NE(shortForm(programFiles), programFiles) << "the system gives short names";
    ASSERT_NE(shortForm(inner), inner);
    struct Row {
        std::wstring path, expected;
    };
    const Row rows[] = {
        {documents, ComparablePath(documents)},
        {shortForm(documents), ComparablePath(documents)},
        {shortForm(programFiles) + L"\\", programFiles},
        {L"c:/WINDOWS/system32/", ComparablePath(L"C:\\windows\\system32")},
        {shortForm(profile) + L"\\..\\" + fs::path(profile).filename().wstring(), ComparablePath(profile)},
        {shortForm(inner) + L"\\some file.txt", inner + L"\\some file.txt"},
        {shortForm(inner) + L"\\.\\missing\\end.txt", inner + L"\\missing\\end.txt"},
        {L"C:\\", L"C:\\"},
    };
    const RemovalGuard guard;
    for (int round = 0; round < 2; ++round) {  // the second from what the first resolved
        for (const Row& row : rows) {
            SCOPED_TRACE(WideToUtf8(row.path));
            EXPECT_TRUE(EqualsIgnoreCase(guard.Comparable(row.path), row.expected))
                << WideToUtf8(guard.Comparable(row.path)) << " against " << WideToUtf8(row.expected);
        }
    }
    EXPECT_TRUE(guard.IsProtected(shortForm(documents)));
    EXPECT_TRUE(guard.IsProtected(shortForm(programFiles) + L"\\"));
    EXPECT_FALSE(guard.IsProtected(shortForm(inner)));
}

// A step that fails is undone too (it may have made part of its change),
// then every step before it, newest first; steps after it never run.
TEST(InstallStepsTest, AFailedStepAndThoseBeforeItAreUndoneNewestFirst) {
    class Recorded : public InstallStep {
    public:
        Recorded(const char* name, bool fails, std::vector<std::string>& log)
            : InstallStep(name), fails_(fails), log_(log) {}
        InstallResult Do() override {
            log_.push_back(std::string("do ") + name());
            return fails_ ? InstallResult::Failed(8, L"cannot", L"C:\\x", ERROR_DISK_FULL) : InstallResult::Ok();
        }
        void Undo() override { log_.push_back(std::string("undo ") + name()); }

    private:
        bool fails_;
        std::vector<std::string>& log_;
    };
    struct Row {
        int failing;  // -1: none fails
        std::vector<std::string> expected;
    };
    const Row rows[] = {
        {-1, {"do a", "do b", "do c"}},
        {0, {"do a", "undo a"}},
        {1, {"do a", "do b", "undo b", "undo a"}},
        {2, {"do a", "do b", "do c", "undo c", "undo b", "undo a"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.failing);
        std::vector<std::string> log;
        InstallSteps steps;
        const char* names[] = {"a", "b", "c"};
        for (int i = 0; i < 3; ++i) steps.emplace_back(new Recorded(names[i], i == row.failing, log));
        const char* failed = nullptr;
        const InstallResult result = RunSteps(steps, &failed);
        EXPECT_EQ(log, row.expected);
        EXPECT_EQ(result.code, row.failing < 0 ? 0 : 8);
        EXPECT_EQ(result.windowsError, row.failing < 0 ? 0u : static_cast<DWORD>(ERROR_DISK_FULL));
        EXPECT_STREQ(failed ? failed : "", row.failing < 0 ? "" : names[row.failing]);
    }
    // The log line names the step, the path and the Windows error's text.
    const std::wstring line = DescribeFailure("extract", InstallResult::Failed(8, L"write file failed", L"C:\\P\\f.bin",
                                                                               ERROR_DISK_FULL));
    EXPECT_EQ(line.rfind(L"install error 8 in extract: write file failed: C:\\P\\f.bin (Windows error 112: ", 0), 0u)
        << WideToUtf8(line);
}

TEST_F(InstallSequenceTest, UnreadableManifestsRemoveNothing) {
    TestProgressWindow u;
    u.installMode = 0;
    EXPECT_FALSE(u.Uninstall(root_ + L"\\missing.exe"));
    // A manifest without an installation folder.
    std::error_code ec;
    fs::create_directories(root_, ec);
    JValue manifest;
    manifest["mode"] = 0;
    manifest["folders"][0] = Base64Encode(WideToUtf8(root_));
    ASSERT_TRUE(WriteUninstaller(root_ + L"\\noroot.exe", stub_, manifest));
    EXPECT_FALSE(u.Uninstall(root_ + L"\\noroot.exe"));
    EXPECT_TRUE(Exists(root_ + L"\\noroot.exe"));
    EXPECT_TRUE(u.statuses().empty());
}

}  // namespace
}  // namespace quillo
