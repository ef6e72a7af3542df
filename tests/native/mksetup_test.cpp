#include <gtest/gtest.h>

#include <minizip/unzip.h>

#include <filesystem>
#include <fstream>

#include "app/AppendedBlock.h"
#include "install/Md5.h"
#include "tests/native/TestFiles.h"
#include "tools/mksetup/SetupInspector.h"
#include "tools/mksetup/SetupPacker.h"
#include "tools/mksetup/ZipFolder.h"

namespace fs = std::filesystem;

namespace quillo {
namespace {

class MksetupTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::path(::testing::TempDir()) / ("mksetup_" + std::to_string(::getpid()) + "_" +
                                                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "product" / "x64");
        fs::create_directories(dir_ / "product" / "AppData" / "Skins");
        Write("product/Quillo.exe", "quillo program");
        Write("product/x64/Foo.dll", std::string(5000, 'x'));
        Write("product/AppData/Skins/a.png", "png");
        WriteBytes("stub.exe", test::MakePeStub());
        options_.stubPath = Path("stub.exe");
        options_.packagePath = Path("product");
        options_.outputPath = Path("setup.exe");
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const std::string& rel) const { return (dir_ / rel).string(); }
    void Write(const std::string& rel, const std::string& bytes) {
        std::ofstream(dir_ / rel, std::ios::binary) << bytes;
    }
    void WriteBytes(const std::string& rel, const std::vector<uint8_t>& bytes) {
        std::ofstream(dir_ / rel, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    std::vector<uint8_t> Read(const std::string& rel) {
        std::vector<uint8_t> bytes;
        std::string error;
        EXPECT_TRUE(ReadWholeFile(Path(rel), bytes, error)) << error;
        return bytes;
    }
    bool Pack(std::string* errorOut = nullptr) {
        std::string error;
        std::vector<std::string> warnings;
        const bool ok = PackSetup(options_, error, warnings);
        if (errorOut) *errorOut = error;
        return ok;
    }
    // Neither the output nor a temporary file beside it is left behind.
    void ExpectNoOutput() {
        for (const auto& entry : fs::directory_iterator(dir_)) {
            const std::string name = entry.path().filename().string();
            EXPECT_NE(name.rfind("setup.exe", 0), 0u) << "left behind: " << name;
        }
    }

    fs::path dir_;
    PackOptions options_;
};

TEST_F(MksetupTest, PackedFileReadsBackWithMatchingDigestAndEntries) {
    options_.sets = {{"channel", "7"}, {"lastrun", "Quillo.exe"}, {"extrapack", "false"}};
    ASSERT_TRUE(Pack());
    const auto file = Read("setup.exe");
    const auto stub = Read("stub.exe");
    MemorySource source(file.data(), file.size());
    SetupImage setup;
    ASSERT_EQ(ReadSetupImage(source, setup), 0);
    EXPECT_EQ(setup.offset, stub.size());
    EXPECT_TRUE(std::equal(stub.begin() + 0x80, stub.end(), file.begin() + 0x80));
    EXPECT_EQ(setup.block.get("md5").asString(), Md5Hex(setup.package(), setup.packageSize));
    EXPECT_EQ(setup.block.get("channel").asInt(), 7);
    EXPECT_EQ(setup.block.get("lastrun").asString(), "Quillo.exe");
    EXPECT_EQ(setup.block.get("mode").asInt(), 1);
    EXPECT_EQ(setup.packageEnd(), file.size());

    // The package is a ZIP of the folder in byte order of the names.
    fs::path zipPath = dir_ / "package.zip";
    std::ofstream(zipPath, std::ios::binary)
        .write(reinterpret_cast<const char*>(setup.package()), setup.packageSize);
    unzFile zip = unzOpen64(zipPath.string().c_str());
    ASSERT_NE(zip, nullptr);
    std::vector<std::string> names;
    for (int rc = unzGoToFirstFile(zip); rc == UNZ_OK; rc = unzGoToNextFile(zip)) {
        char name[256];
        unz_file_info64 info;
        ASSERT_EQ(unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0), UNZ_OK);
        names.push_back(name);
    }
    unzClose(zip);
    EXPECT_EQ(names, (std::vector<std::string>{"AppData/", "AppData/Skins/", "AppData/Skins/a.png", "Quillo.exe",
                                               "x64/", "x64/Foo.dll"}));
}

TEST_F(MksetupTest, SameInputsGiveTheSameBytes) {
    options_.sets = {{"extrapack", "false"}};
    ASSERT_TRUE(Pack());
    const auto first = Read("setup.exe");
    fs::last_write_time(dir_ / "product" / "Quillo.exe", fs::file_time_type::clock::now() - std::chrono::hours(5));
    ASSERT_TRUE(Pack());
    EXPECT_EQ(first, Read("setup.exe"));
}

TEST_F(MksetupTest, SectionsAreWrittenInTheOrderTheProgramReadsThem) {
    Write("extra.dll", "EXTRA-DLL");
    options_.extraPath = Path("extra.dll");
    options_.driverPath = Path("drivers.zip");
    std::string error;
    ASSERT_FALSE(Pack(&error));  // drivers.zip missing
    ExpectNoOutput();

    // A ZIP made by the packer itself serves as driver archive.
    ASSERT_TRUE(ZipFolder(Path("product/AppData"), Path("drivers.zip"), error)) << error;
    options_.sets = {{"ituneslite64", "true"}};
    ASSERT_TRUE(Pack(&error)) << error;
    const auto file = Read("setup.exe");
    MemorySource source(file.data(), file.size());
    SetupImage setup;
    ASSERT_EQ(ReadSetupImage(source, setup), 0);
    const OptionalSections s = LocateSections(setup, true, true);
    ASSERT_TRUE(s.hasExtra);
    ASSERT_TRUE(s.hasDriver);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&file[s.extra.dataOffset]), s.extra.size), "EXTRA-DLL");
    EXPECT_EQ(s.driver.dataOffset + s.driver.size, file.size());
    EXPECT_EQ(fs::file_size(Path("drivers.zip")), s.driver.size);
}

TEST_F(MksetupTest, RefusesInputsThatWouldGiveABrokenSetupFile) {
    std::string error;
    auto expectRefused = [&](const char* what) {
        EXPECT_FALSE(Pack(&error)) << what;
        EXPECT_FALSE(error.empty()) << what;
        ExpectNoOutput();
    };

    Write("other.exe", "not a program at all");
    options_.stubPath = Path("other.exe");
    expectRefused("not a PE file");

    auto stub = test::MakePeStub();
    StoreLe32(&stub[0x7C], 1234);
    WriteBytes("other.exe", stub);
    expectRefused("locator already set");

    stub = test::MakePeStub();
    stub.insert(stub.end(), 300, 0x55);  // overlay, e.g. a signature
    WriteBytes("other.exe", stub);
    expectRefused("data after the last section");
    EXPECT_NE(error.find("300 bytes follow"), std::string::npos) << error;

    options_.stubPath = Path("stub.exe");
    options_.packagePath = Path("missing-folder");
    expectRefused("missing package");

    Write("pkg.zip", "PK\x03\x04 but not really a zip");
    options_.packagePath = Path("pkg.zip");
    expectRefused("package that is not a ZIP");

    options_.packagePath = Path("product");
    options_.sets = {{"mode", "null"}};
    options_.blockPath = Path("block.json");
    Write("block.json", "{\"channel\":3}");
    options_.sets.clear();
    expectRefused("block without mode");
    Write("block.json", "[1]");
    expectRefused("block that is not an object");
    Write("block.json", "{\"mode\":1,");
    expectRefused("invalid JSON");

    options_.blockPath.clear();
    options_.driverPath = Path("product/Quillo.exe");
    expectRefused("driver section that is not a ZIP");

    ASSERT_TRUE(ZipFolder(Path("product/AppData"), Path("pkg.zip"), error));
    options_.driverPath = Path("pkg.zip");
    expectRefused("driver section without an extra section while extrapack is true");
    EXPECT_NE(error.find("extra"), std::string::npos);

    options_.driverPath.clear();
    options_.extraPath = Path("product/Quillo.exe");
    options_.sets = {{"extrapack", "0"}};  // a number 0 is false
    expectRefused("extra section while extrapack is false");
}

TEST_F(MksetupTest, InspectExplainsWhichCheckADamagedFileFails) {
    options_.sets = {{"extrapack", "false"}};
    ASSERT_TRUE(Pack());
    std::string report;
    EXPECT_EQ(InspectSetupFile(Path("setup.exe"), report), 0) << report;
    EXPECT_NE(report.find("\"md5\" matches"), std::string::npos) << report;

    auto file = Read("setup.exe");
    const uint32_t o = LoadLe32(&file[0x7C]);
    auto damage = [&](std::vector<uint8_t> bytes, const char* expected) {
        WriteBytes("damaged.exe", bytes);
        std::string r;
        EXPECT_EQ(InspectSetupFile(Path("damaged.exe"), r), 1) << r;
        EXPECT_NE(r.find(expected), std::string::npos) << "expected '" << expected << "' in\n" << r;
    };
    auto truncated = file;
    truncated.resize(file.size() - 1);
    damage(truncated, "code 5");
    auto longText = file;
    StoreLe32(&longText[o], 0xFFFFFFF0u);
    damage(longText, "code 3");
    auto noLocator = file;
    StoreLe32(&noLocator[0x7C], 0);
    damage(noLocator, "locator is 0");
    auto badJson = file;
    badJson[o + 4] = '[';
    damage(badJson, "code 4");
    auto badPackage = file;
    badPackage[file.size() - 10] ^= 0xFF;
    damage(badPackage, "\"md5\" differs");

    std::string r;
    EXPECT_EQ(InspectSetupFile(Path("nothing-here.exe"), r), 2);
}

}  // namespace
}  // namespace quillo
