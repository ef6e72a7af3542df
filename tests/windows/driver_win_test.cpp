// The device-support components on a fresh Wine prefix: detection from the
// vendor's registry values and real x86/x64 library images, installation
// from driver archives holding real Windows Installer packages (built with
// wixl, run by Wine's msiexec), the download question, and a whole
// installation whose setup file carries extra and driver sections.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/SystemInfo.h"
#include "install/DriverComponents.h"
#include "install/PackageExtractor.h"
#include "tests/shared/LoopbackServer.h"
#include "tests/windows/TestDialogs.h"
#include "tests/windows/TestInstallFiles.h"
#include "tests/windows/TestProgressWindow.h"
#include "tests/windows/TestZip.h"

namespace fs = std::filesystem;

namespace quillo {
namespace {

using namespace test;

constexpr const wchar_t* kApplicationSupportKey = L"SOFTWARE\\Apple Inc.\\Apple Application Support";
constexpr const wchar_t* kMobileDeviceKey = L"SOFTWARE\\Apple Inc.\\Apple Mobile Device Support";

std::string FileText(const std::wstring& path) {
    const std::vector<uint8_t> bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

std::vector<std::wstring> DriverTempFolders() {
    std::vector<std::wstring> found;
    for (const auto& entry : fs::directory_iterator(TempFolder())) {
        if (entry.path().filename().wstring().rfind(L"Quillo_Temp_", 0) == 0) found.push_back(entry.path().wstring());
    }
    return found;
}

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        x64_ = EnvPath("QUILLO_APPLE_DIR");
        x86_ = EnvPath("QUILLO_APPLE_X86_DIR");
        ASSERT_FALSE(x64_.empty()) << "QUILLO_APPLE_DIR is not set";
        ASSERT_FALSE(x86_.empty()) << "QUILLO_APPLE_X86_DIR is not set";
        packages_ = x64_ + L"\\msi";
        static int counter = 0;
        scratch_ = L"C:\\Apple Tests " + std::to_wstring(++counter);
        std::error_code ec;
        fs::create_directories(scratch_, ec);
        Clean();
    }
    void TearDown() override {
        Clean();
        std::error_code ec;
        fs::remove_all(scratch_, ec);
    }

    static void Clean() {
        for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
            HKEY software = nullptr;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_ALL_ACCESS | view, &software) == ERROR_SUCCESS) {
                RegDeleteTreeW(software, L"Apple Computer, Inc.");
                RegDeleteTreeW(software, L"Apple Inc.");
                RegCloseKey(software);
            }
        }
        std::error_code ec;
        fs::remove_all(DriverFolder(), ec);
    }

    // The registered iTunes program (its library beside it) and the mobile
    // device library, as the vendor's installers leave them.
    void RegisterLibraries(const std::wstring& iTunesLibrary, bool withDeviceLibrary) {
        const std::wstring folder = scratch_ + L"\\iTunes";
        std::error_code ec;
        fs::create_directories(folder, ec);
        if (!iTunesLibrary.empty()) {
            ASSERT_TRUE(CopyFileW(iTunesLibrary.c_str(), (folder + L"\\iTunes.dll").c_str(), FALSE));
        }
        SetMachineString(kITunesAppKey, kITunesAppValue, folder + L"\\iTunes.exe");
        const std::wstring device = scratch_ + L"\\AirTrafficHost.dll";
        if (withDeviceLibrary) WriteText(device, "device");
        SetMachineString(kMobileDeviceSharedKey, kMobileDeviceLibraryValue, device);
    }

    std::wstring MakeArchive(const wchar_t* name, const std::vector<std::pair<std::string, std::wstring>>& entries) {
        const std::wstring path = scratch_ + L"\\" + name;
        ZipBuilder zip(path);
        for (const auto& entry : entries) zip.Add(entry.first, FileText(entry.second));
        return path;
    }

    std::wstring x64_, x86_, packages_, scratch_;
};

TEST_F(DriverTest, DetectionFollowsTheRegisteredLibraries) {
    WORD machine = 0;
    EXPECT_FALSE(ComponentsPresent());
    EXPECT_FALSE(DetectBitness(machine));
    EXPECT_EQ(InitialDrivers64(), 1) << "no libraries: the bitness of Windows (64-bit here)";

    RegisterLibraries(x64_ + L"\\iTunes.dll", true);
    EXPECT_EQ(RegisteredITunesLibrary(), scratch_ + L"\\iTunes\\iTunes.dll");
    EXPECT_TRUE(ComponentsPresent());
    ASSERT_TRUE(DetectBitness(machine));
    EXPECT_EQ(machine, IMAGE_FILE_MACHINE_AMD64);
    EXPECT_EQ(InitialDrivers64(), 1);

    RegisterLibraries(x86_ + L"\\iTunes.dll", true);
    ASSERT_TRUE(DetectBitness(machine));
    EXPECT_EQ(machine, IMAGE_FILE_MACHINE_I386);
    EXPECT_EQ(InitialDrivers64(), 0) << "32-bit libraries make the 32-bit product";

    // Without the device library nothing counts as installed.
    DeleteFileW((scratch_ + L"\\AirTrafficHost.dll").c_str());
    EXPECT_FALSE(ComponentsPresent());
    EXPECT_FALSE(DetectBitness(machine));
    EXPECT_EQ(InitialDrivers64(), 1);
}

TEST_F(DriverTest, ThePrivateCopyCountsForPresenceButNotForBitness) {
    RegisterLibraries(L"", true);  // registered, but no library beside the program
    EXPECT_FALSE(ComponentsPresent());
    ASSERT_TRUE(CopyFileW((x86_ + L"\\iTunes.dll").c_str(), (DriverFolder() + L"\\iTunes.dll").c_str(), FALSE));
    EXPECT_TRUE(ComponentsPresent());
    WORD machine = 0;
    EXPECT_FALSE(DetectBitness(machine));
}

TEST_F(DriverTest, ArchiveInstallsTheLibrariesAndEveryPackage) {
    TestProgressWindow w;
    w.driverArchivePath = MakeArchive(L"drivers.zip", {{"CoreFP.dll", x86_ + L"\\CoreFP.dll"},
                                                       {"iTunes.dll", x86_ + L"\\iTunes.dll"},
                                                       {"AppleApplicationSupport.msi", packages_ + L"\\AppleApplicationSupport.msi"},
                                                       {"AppleMobileDeviceSupport64.msi", packages_ + L"\\AppleMobileDeviceSupport64.msi"},
                                                       {"AppleMobileDeviceSupport.msi", packages_ + L"\\AppleMobileDeviceSupport.msi"},
                                                       {"notes/other.txt", x64_ + L"\\iTunes.dll"}});
    const size_t foldersBefore = DriverTempFolders().size();
    ASSERT_TRUE(InstallDriverArchive(w));

    EXPECT_EQ(w.statuses(), (std::vector<std::wstring>{L"正在安装AppleApplicationSupport.msi",
                                                        L"正在安装AppleMobileDeviceSupport64.msi",
                                                        L"正在安装AppleMobileDeviceSupport.msi"}));
    const std::wstring driverFolder = DriverFolder();
    EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kCoreFpKey, kCoreFpValue), driverFolder + L"\\CoreFP.dll");
    EXPECT_EQ(ReadBytes(driverFolder + L"\\CoreFP.dll"), ReadBytes(x86_ + L"\\CoreFP.dll"));
    EXPECT_EQ(ReadBytes(driverFolder + L"\\iTunes.dll"), ReadBytes(x86_ + L"\\iTunes.dll"));
    // What the packages registered: the 32-bit ones in the 32-bit view, the
    // 64-bit one in the 64-bit view.
    EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kApplicationSupportKey, L"Package"), L"AppleApplicationSupport");
    EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kMobileDeviceKey, L"Package"), L"AppleMobileDeviceSupport");
    EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kMobileDeviceKey, L"Package", KEY_WOW64_64KEY),
              L"AppleMobileDeviceSupport64");
    EXPECT_EQ(DriverTempFolders().size(), foldersBefore) << "the extraction folder is removed";
    EXPECT_TRUE(ComponentsPresent()) << "the private library and the installed device library";
}

TEST(DriverCommandLineTest, PackagesRunQuietlyWithTheirOwnOptions) {
    const std::wstring msiexec = L"\"" + SystemFolder() + L"\\msiexec.exe\"";
    EXPECT_EQ(DriverPackageCommandLine(L"C:\\t x\\AppleApplicationSupport.msi", L"AppleApplicationSupport.msi"),
              msiexec + L" /i \"C:\\t x\\AppleApplicationSupport.msi\" /quiet REBOOT=ReallySuppress PARENTUILVL=\"5\"");
    EXPECT_EQ(DriverPackageCommandLine(L"C:\\t\\AppleMobileDeviceSupport64.msi", L"AppleMobileDeviceSupport64.msi"),
              msiexec + L" /i \"C:\\t\\AppleMobileDeviceSupport64.msi\" /quiet REBOOT=ReallySuppress");
    EXPECT_EQ(DriverPackageCommandLine(L"C:\\t\\AppleMobileDeviceSupport.msi", L"AppleMobileDeviceSupport.msi"),
              msiexec + L" /i \"C:\\t\\AppleMobileDeviceSupport.msi\" /quiet REBOOT=ReallySuppress");
}

TEST_F(DriverTest, AnArchiveWithOnePackageRunsOneInstaller) {
    TestProgressWindow w;
    w.driverArchivePath = MakeArchive(
        L"one.zip", {{"AppleMobileDeviceSupport.msi", packages_ + L"\\AppleMobileDeviceSupport.msi"}});
    ASSERT_TRUE(InstallDriverArchive(w));
    EXPECT_EQ(w.statuses(), (std::vector<std::wstring>{L"正在安装AppleMobileDeviceSupport.msi"}));
    EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kMobileDeviceKey, L"Package"), L"AppleMobileDeviceSupport");
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kApplicationSupportKey));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kMobileDeviceKey, KEY_WOW64_64KEY));
    EXPECT_FALSE(Exists(DriverFolder() + L"\\CoreFP.dll"));

    // Only what the extraction wrote is run: a folder of a package's name is
    // not a package.
    TestProgressWindow again;
    again.driverArchivePath = scratch_ + L"\\folder.zip";
    {
        ZipBuilder zip(again.driverArchivePath);
        zip.Add("AppleApplicationSupport.msi/", "");
        zip.Add("AppleApplicationSupport.msi/inside.txt", "not a package");
    }
    ASSERT_TRUE(InstallDriverArchive(again));
    EXPECT_TRUE(again.statuses().empty());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kApplicationSupportKey));
}

TEST_F(DriverTest, UnusableArchivesInstallNothing) {
    TestProgressWindow w;
    // The extension is compared exactly.
    w.driverArchivePath = MakeArchive(L"capitals.ZIP", {{"CoreFP.dll", x86_ + L"\\CoreFP.dll"}});
    EXPECT_FALSE(InstallDriverArchive(w));
    w.driverArchivePath = scratch_ + L"\\missing.zip";
    EXPECT_FALSE(InstallDriverArchive(w));
    // An entry that would leave the extraction folder stops the extraction.
    w.driverArchivePath = MakeArchive(
        L"escape.zip", {{"CoreFP.dll", x86_ + L"\\CoreFP.dll"}, {"../QuilloEscaped.dll", x86_ + L"\\CoreFP.dll"}});
    EXPECT_FALSE(InstallDriverArchive(w));
    EXPECT_FALSE(Exists(TempFolder() + L"QuilloEscaped.dll"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kCoreFpKey));
    EXPECT_TRUE(w.statuses().empty());
    for (const std::wstring& folder : DriverTempFolders()) fs::remove_all(folder);
}

TEST_F(DriverTest, WithoutComponentsTheDriverStepOffersTheDownloadAndCompletes) {
    TestProgressWindow w;
    w.driverArchivePath = MakeArchive(L"capitals.ZIP", {{"CoreFP.dll", x86_ + L"\\CoreFP.dll"}});
    DialogAnswerer answerer(IDNO);
    DriverStep(w);
    w.Pump();
    EXPECT_EQ(w.driverResult, -1);
    ASSERT_EQ(answerer.seen().size(), 1u);
    EXPECT_EQ(answerer.seen()[0].caption, L"提示");
    EXPECT_EQ(answerer.seen()[0].text, L"Quillo 3 需要驱动组件才可以发现和管理您的设备，您是否要立即下载驱动组件？");
    EXPECT_FALSE(Exists(w.driverArchivePath)) << "the archive is deleted in every case";
    EXPECT_EQ(w.progress, std::vector<int>{100});
    EXPECT_EQ(w.doneCount, 1);
    EXPECT_EQ(w.statuses(), std::vector<std::wstring>{L"正在安装驱动组件, 请耐心等候..."});
}

TEST_F(DriverTest, AQuietDriverStepReportsItsOutcomeToTheStatisticsServer) {
    LoopbackServer server;
    ASSERT_TRUE(server.listening());
    server.Serve({ScriptedReply{{"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"}}});
    const std::string address = "127.0.0.1:" + std::to_string(server.port());
    const char* previous = std::getenv("QUILLO_STAT_SERVER");
    const std::string saved = previous ? previous : "";
    _putenv_s("QUILLO_STAT_SERVER", address.c_str());

    TestProgressWindow w;
    w.quiet = 1;
    w.operation = 3;
    w.buildNumber = 3100;
    w.channel = 4;
    w.driverArchivePath = MakeArchive(
        L"quiet.zip", {{"AppleMobileDeviceSupport.msi", packages_ + L"\\AppleMobileDeviceSupport.msi"}});
    DialogAnswerer answerer(IDYES);
    DriverStep(w);
    w.Pump();
    _putenv_s("QUILLO_STAT_SERVER", saved.c_str());

    EXPECT_EQ(w.driverResult, 1);
    EXPECT_TRUE(answerer.seen().empty()) << "a quiet run asks nothing";
    EXPECT_TRUE(w.progress.empty());
    EXPECT_EQ(w.doneCount, 0);
    const std::string request = server.Request(0);
    const std::string line = request.substr(0, request.find("\r\n"));
    EXPECT_NE(line.find("/clt_v2_set?"), std::string::npos) << line;
    EXPECT_NE(line.find("&e=1"), std::string::npos) << line;
    EXPECT_EQ(line.find("itunes="), std::string::npos) << line;
}

// A whole installation from a setup file with an extra section (the
// detector library) and a driver section, behind a package of several read
// windows: the sections are found and copied from the file.
TEST_F(DriverTest, InstallationHandsTheDriverSectionToTheDriverStep) {
    const std::wstring sample = EnvPath("QUILLO_SAMPLE_SETUP");
    SetupImage stub;
    ASSERT_EQ(ReadSetupImage(sample, stub), 0);
    const std::wstring zipPath = scratch_ + L"\\package.zip";
    WriteBytes(zipPath, stub.PackageCopy());
    {
        ZipBuilder zip(zipPath, true);
        std::string big(3 * kSetupReadWindow + 1, '\0');
        uint32_t x = 12345;
        for (char& c : big) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
        zip.Add("Data/big.bin", big, 0);
    }
    const std::vector<uint8_t> package = ReadBytes(zipPath);
    ASSERT_GT(package.size(), 3 * kSetupReadWindow);
    JValue block = stub.block;
    block["extrapack"] = true;
    block["ituneslite64"] = 1;
    block["md5"] = Md5Of(package);
    const std::vector<uint8_t> detector = ReadBytes(x86_ + L"\\CoreFP.dll");
    const std::vector<uint8_t> drivers = ReadBytes(MakeArchive(
        L"section.zip", {{"iTunes.dll", x64_ + L"\\iTunes.dll"},
                         {"AppleMobileDeviceSupport.msi", packages_ + L"\\AppleMobileDeviceSupport.msi"}}));
    const std::wstring setup = scratch_ + L"\\setup.exe";
    WriteBytes(setup, MakeSetupFile(stub, WriteJson(block), package, {detector, drivers}));
    const std::wstring installDir = scratch_ + L"\\Quillo 3";

    TestProgressWindow w;
    w.installMode = 1;
    w.installDir = installDir;
    w.packageDigest = block.get("md5").asString();
    w.driverComponents = 1;
    w.drivers64 = 1;
    w.desktopShortcut = w.taskbarShortcut = w.startMenuShortcut = 0;
    ASSERT_EQ(w.Install(setup), 0);

    EXPECT_EQ(w.progress, (std::vector<int>{10, 60, 75, 95, 100}));
    EXPECT_EQ(w.doneCount, 1);
    EXPECT_EQ(w.driverResult, 1);
    EXPECT_EQ(w.statuses(), (std::vector<std::wstring>{L"正在复制文件: 10%", L"正在安装驱动组件, 请耐心等候...",
                                                        L"正在安装AppleMobileDeviceSupport.msi"}));
    EXPECT_EQ(ReadBytes(w.detectorLibrary), detector);
    EXPECT_EQ(fs::path(w.detectorLibrary).extension(), L".dll");
    EXPECT_EQ(fs::path(w.detectorLibrary).stem().wstring().size(), 16u);
    EXPECT_FALSE(Exists(w.driverArchivePath));
    EXPECT_TRUE(ComponentsPresent());
    DeleteFileW(w.detectorLibrary.c_str());

    // Installed now: the next installation goes without the driver step.
    TestProgressWindow again;
    again.installMode = 1;
    again.installDir = installDir;
    again.packageDigest = block.get("md5").asString();
    again.driverComponents = 1;
    again.desktopShortcut = again.taskbarShortcut = again.startMenuShortcut = 0;
    ASSERT_EQ(again.Install(setup), 0);
    EXPECT_EQ(again.driverResult, 0);
    EXPECT_EQ(again.progress.back(), 100);
    EXPECT_EQ(again.doneCount, 1);
    EXPECT_EQ(ReadBytes(again.detectorLibrary), detector);
    DeleteFileW(again.detectorLibrary.c_str());

    TestProgressWindow u;
    u.installMode = 0;
    const std::wstring copy = TempFolder() + L"QuilloDriverUninstall.exe";
    ASSERT_TRUE(CopyFileW((installDir + L"\\unins000.exe").c_str(), copy.c_str(), FALSE));
    EXPECT_TRUE(u.Uninstall(copy));
    DeleteFileW(copy.c_str());
    std::error_code ec;
    fs::remove(TempFolder() + L"quillo-sample-runs.txt", ec);
}

}  // namespace
}  // namespace quillo
