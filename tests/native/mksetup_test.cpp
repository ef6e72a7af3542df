#include <gtest/gtest.h>

#include <minizip/unzip.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>

#include "app/AppendedBlock.h"
#include "base/Md5.h"
#include "tests/native/TestFiles.h"
#include "tools/mksetup/PeFile.h"
#include "tools/mksetup/SetupInspector.h"
#include "tools/mksetup/SetupPacker.h"
#include "tools/mksetup/ZipFolder.h"

namespace fs = std::filesystem;

namespace quillo {
namespace {

// An entry of a ZIP written byte by byte, as other tools may write it. The
// data is stored whatever the method field says.
struct RawEntry {
    std::string name;
    uint16_t flag = 0;
    uint16_t method = 0;
    std::string data = "data";
};

void Put16(std::string& out, uint32_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

std::string RawZip(const std::vector<RawEntry>& entries) {
    std::string out, directory;
    for (const RawEntry& e : entries) {
        const uint32_t offset = static_cast<uint32_t>(out.size());
        const uint32_t size = static_cast<uint32_t>(e.data.size());
        std::string fields;  // "version needed" to "extra field length", shared by both headers
        Put16(fields, 20);
        Put16(fields, e.flag);
        Put16(fields, e.method);
        Put16(fields, 0);
        Put16(fields, 0x21);
        Put32(fields, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), size)));
        Put32(fields, size);
        Put32(fields, size);
        Put16(fields, static_cast<uint32_t>(e.name.size()));
        Put16(fields, 0);
        out += "PK\x03\x04" + fields + e.name + e.data;
        directory += "PK\x01\x02";
        Put16(directory, 20);
        directory += fields;
        Put16(directory, 0);  // comment length, disk, internal attributes
        Put16(directory, 0);
        Put16(directory, 0);
        Put32(directory, 0);
        Put32(directory, offset);
        directory += e.name;
    }
    const uint32_t directoryOffset = static_cast<uint32_t>(out.size());
    out += directory + "PK\x05\x06";
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, static_cast<uint32_t>(entries.size()));
    Put16(out, static_cast<uint32_t>(entries.size()));
    Put32(out, static_cast<uint32_t>(directory.size()));
    Put32(out, directoryOffset);
    Put16(out, 0);
    return out;
}

// Two entries whose second directory header has lost its signature.
std::string DamagedZip() {
    std::string zip = RawZip({{"a.txt"}, {"b.txt"}});
    zip[zip.rfind("PK\x01\x02") + 3] = 9;
    return zip;
}

const uint16_t kUtf8 = 0x800;

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
    bool Pack(std::string* errorOut = nullptr, std::vector<std::string>* warningsOut = nullptr) {
        std::string error;
        std::vector<std::string> warnings;
        const bool ok = PackSetup(options_, error, warnings);
        if (errorOut) *errorOut = error;
        if (warningsOut) *warningsOut = warnings;
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
    const std::vector<uint8_t> package = setup.PackageCopy();
    EXPECT_EQ(setup.block.get("md5").asString(), Md5Hex(package.data(), package.size()));
    EXPECT_EQ(setup.block.get("channel").asInt(), 7);
    EXPECT_EQ(setup.block.get("lastrun").asString(), "Quillo.exe");
    EXPECT_EQ(setup.block.get("mode").asInt(), 1);
    EXPECT_EQ(setup.packageEnd(), file.size());

    // The package is a ZIP of the folder in byte order of the names.
    fs::path zipPath = dir_ / "package.zip";
    std::ofstream(zipPath, std::ios::binary)
        .write(reinterpret_cast<const char*>(package.data()), static_cast<std::streamsize>(package.size()));
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

// The ZIP of a small ASCII folder, as mksetup wrote it before names got the
// UTF-8 flag: packages of ASCII products keep their bytes.
TEST_F(MksetupTest, ZipOfAsciiNamesKeepsItsBytes) {
    std::string error;
    ASSERT_TRUE(ZipFolder(Path("product"), Path("product.zip"), error)) << error;
    const auto zip = Read("product.zip");
    EXPECT_EQ(zip.size(), 653u);
    EXPECT_EQ(Md5Hex(zip.data(), zip.size()), "EA8133BC3F1EFE095CC8025A38723242");
}

TEST_F(MksetupTest, ZipFolderFlagsExactlyTheNonAsciiNamesAsUtf8) {
    fs::create_directories(dir_ / "names" / "文档");
    fs::create_directories(dir_ / "names" / "a b");
    Write("names/中文名.txt", "1");
    Write("names/文档/说明.txt", "2");
    Write("names/a b/c d.txt", "3");
    Write("names/plain.txt", "4");
    std::string error;
    ASSERT_TRUE(ZipFolder(Path("names"), Path("names.zip"), error)) << error;

    unzFile zip = unzOpen64(Path("names.zip").c_str());
    ASSERT_NE(zip, nullptr);
    std::vector<std::pair<std::string, bool>> entries;
    for (int rc = unzGoToFirstFile(zip); rc == UNZ_OK; rc = unzGoToNextFile(zip)) {
        char name[256];
        unz_file_info64 info;
        ASSERT_EQ(unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0), UNZ_OK);
        entries.emplace_back(name, (info.flag & 0x800) != 0);
    }
    unzClose(zip);
    EXPECT_EQ(entries, (std::vector<std::pair<std::string, bool>>{{"a b/", false},
                                                                 {"a b/c d.txt", false},
                                                                 {"plain.txt", false},
                                                                 {"中文名.txt", true},
                                                                 {"文档/", true},
                                                                 {"文档/说明.txt", true}}));
}

TEST_F(MksetupTest, PackRefusesPackagesTheProgramWouldNotInstallWhole) {
    struct Case {
        const char* what;
        std::string package;
        bool allowArchNames;
        bool packs;
        std::vector<std::string> expected;  // in the error, or when it packs, each in one of the warnings
    };
    const Case cases[] = {
        {"encrypted entry", RawZip({{"a.txt"}, {"secret.txt", 1}}), false, false, {"secret.txt: encrypted"}},
        {"bzip2 entry", RawZip({{"big.bin", 0, 12}}), false, false, {"big.bin: compression method 12"}},
        {"entry above the folder", RawZip({{"../evil.txt"}}), false, false, {"../evil.txt: unsafe name"}},
        {"device name", RawZip({{"docs/nul.txt"}}), false, false, {"docs/nul.txt: unsafe name"}},
        {"drive in a UTF-8 name", RawZip({{"C:/中.txt", kUtf8}}), false, false, {"C:/中.txt: unsafe name"}},
        {"damaged directory", DamagedZip(), false, false, {"damaged ZIP directory"}},
        {"no entries", RawZip({}), false, false, {"no entries"}},
        {"x86 outside the architecture folders", RawZip({{"redist/vc_redist.x86.exe"}}), false, false,
         {"redist/vc_redist.x86.exe: \"x86\" in its name: not installed on 64-bit Windows", "--allow-arch-names"}},
        {"x64 outside the architecture folders", RawZip({{"tools/helper_x64.dll"}}), false, false,
         {"tools/helper_x64.dll: \"x64\" in its name: not installed on 32-bit Windows"}},
        {"x86 inside the x64 folder", RawZip({{"x64/vc_redist.x86.exe"}}), false, false,
         {"x64/vc_redist.x86.exe: \"x86\" and \"x64\" in its name: never installed"}},
        {"architecture names allowed",
         RawZip({{"redist/vc_redist.x86.exe"}, {"docs/x86 与 x64 说明.txt", kUtf8}}), true, true,
         {"redist/vc_redist.x86.exe: \"x86\" in its name: not installed on 64-bit Windows",
          "docs/x86 与 x64 说明.txt: \"x86\" and \"x64\" in its name: never installed"}},
        {"architecture folders",
         RawZip({{"x64/"}, {"x64/a.dll"}, {"x64/b.dll"}, {"x64/x64.txt"}, {"x86/a.dll"}}), false, true,
         {"x64/: 3 entries installed on 64-bit Windows only", "x86/: 1 entry installed on 32-bit Windows only"}},
        {"non-ASCII name without the UTF-8 flag", RawZip({{"\xD6\xD0\xCE\xC4.txt"}}), false, true,
         {"\\xD6\\xD0\\xCE\\xC4.txt: no UTF-8 flag, so the program decodes the name with the Windows ANSI code page"}},
    };
    options_.packagePath = Path("pkg.zip");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Write("pkg.zip", c.package);
        options_.allowArchNames = c.allowArchNames;
        std::string error;
        std::vector<std::string> warnings;
        ASSERT_EQ(Pack(&error, &warnings), c.packs) << error;
        for (const std::string& text : c.expected) {
            if (c.packs) {
                EXPECT_TRUE(std::any_of(warnings.begin(), warnings.end(),
                                        [&](const std::string& w) { return w.find(text) != std::string::npos; }))
                    << "no warning '" << text << "'";
            } else {
                EXPECT_NE(error.find(text), std::string::npos) << "expected '" << text << "' in: " << error;
            }
        }
        if (!c.packs) ExpectNoOutput();
    }

    // A folder package goes through the same checks.
    fs::create_directories(dir_ / "empty");
    options_.packagePath = Path("empty");
    std::string error;
    EXPECT_FALSE(Pack(&error));
    EXPECT_NE(error.find("no entries"), std::string::npos) << error;
    fs::create_directories(dir_ / "product" / "redist");
    Write("product/redist/vc_redist.x86.exe", "redist");
    options_.packagePath = Path("product");
    options_.allowArchNames = false;
    EXPECT_FALSE(Pack(&error));
    EXPECT_NE(error.find("redist/vc_redist.x86.exe"), std::string::npos) << error;
    options_.allowArchNames = true;
    EXPECT_TRUE(Pack(&error)) << error;
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

TEST_F(MksetupTest, InspectReportsThePackageAsTheProgramWouldExtractIt) {
    auto block = [](const std::string& package, bool mode, bool md5) {
        return std::string("{") + (mode ? "\"mode\":1," : "") + "\"extrapack\":false" +
               (md5 ? ",\"md5\":\"" + Md5Hex(package.data(), package.size()) + "\"" : "") + "}";
    };
    const std::string good = RawZip({{"Quillo.exe"}});
    struct Case {
        const char* what;
        std::string package;
        bool mode, md5;
        int rc;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"names as the program decodes them",
         RawZip({{"中文名.txt", kUtf8}, {"文档/", kUtf8}, {"plain.txt"}, {"中文名.txt"}}), true, true, 0,
         {"package ZIP: 4 entries, files: 3, folders: 1", "\n  中文名.txt (UTF-8 name)\n",
          "\n  plain.txt (decoded with the ANSI code page)\n",
          "\n  \\xE4\\xB8\\xAD\\xE6\\x96\\x87\\xE5\\x90\\x8D.txt (decoded with the ANSI code page)\n"
          "    warning: no UTF-8 flag: decoded as GBK on a code-page 936 (Chinese) system, as "
          "\"\u00E4\u00B8\u00AD\u00E6\u2013\u2021\u00E5\xC2\x90\xC2\x8D.txt\" on a 1252 (Western) system"}},
        {"not a ZIP", "PK-package-bytes", true, true, 1, {"package ZIP: not a ZIP archive", "code 7"}},
        {"no entries", RawZip({}), true, true, 1, {"package ZIP: an empty ZIP archive", "nothing would be installed", "code 7"}},
        {"no entries, behind a byte", "\x01" + RawZip({}), true, true, 1, {"an empty ZIP archive"}},
        {"damaged directory", DamagedZip(), true, true, 1, {"damaged ZIP directory", "code 7"}},
        {"encrypted entry", RawZip({{"a.txt"}, {"secret.txt", 1}}), true, true, 1,
         {"cannot write: secret.txt: encrypted", "code 8"}},
        {"other method", RawZip({{"big.bin", 0, 14}}), true, true, 1, {"big.bin: compression method 14", "code 8"}},
        {"unsafe name", RawZip({{"..\\evil.dll"}}), true, true, 1, {"..\\evil.dll: unsafe name", "code 8"}},
        {"block without mode", good, false, true, 1, {"no \"mode\"", "code 4"}},
        {"no digest", good, true, false, 1, {"\"md5\" missing"}},
        {"architecture folders and a name skipped on 64-bit",
         RawZip({{"x64/a.dll"}, {"x86/a.dll"}, {"redist/vc_redist.x86.exe"}}), true, true, 0,
         {"architecture: x64/: 1 entry installed on 64-bit Windows only",
          "architecture: x86/: 1 entry installed on 32-bit Windows only",
          "architecture: redist/vc_redist.x86.exe: \"x86\" in its name: not installed on 64-bit Windows"}},
        {"a file installed on neither target", RawZip({{"docs/x86 与 x64 说明.txt", kUtf8}}), true, true, 1,
         {"docs/x86 与 x64 说明.txt: \"x86\" and \"x64\" in its name: never installed"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::SetupParts parts;
        parts.package = c.package;
        parts.text = block(c.package, c.mode, c.md5);
        WriteBytes("setup.exe", test::BuildSetupFile(parts));
        std::string report;
        EXPECT_EQ(InspectSetupFile(Path("setup.exe"), report), c.rc) << report;
        for (const std::string& text : c.expected)
            EXPECT_NE(report.find(text), std::string::npos) << "expected '" << text << "' in\n" << report;
    }
}

// Tables that point back into themselves: the readers give up instead of
// walking them for ever (inspect runs on damaged and hostile files).
TEST(PeTablesTest, TablesThatLoopEndWithAnError) {
    const size_t tableBytes = 600000;
    // The stub's one section maps image addresses 0.. onto file offset 0x200.
    auto image = [&](uint32_t directory, uint32_t rva) {
        std::vector<uint8_t> pe = test::MakePeStub(tableBytes);
        std::fill(pe.begin() + 0x200, pe.end(), 0);
        StoreLe32(&pe[0x80 + 24 + 96 + 8 * directory], rva);
        return pe;
    };
    {
        // Type, name and language directories of 20,000 entries each, all
        // leading to the next one: 20,000 cubed resources, one data entry.
        std::vector<uint8_t> pe = image(2, 16);
        const uint32_t entries = 20000, directoryBytes = 16 + 8 * entries, leaf = 3 * directoryBytes;
        for (uint32_t level = 0; level < 3; ++level) {
            uint8_t* directory = &pe[0x200 + 16 + level * directoryBytes];
            directory[14] = static_cast<uint8_t>(entries);
            directory[15] = static_cast<uint8_t>(entries >> 8);
            const uint32_t target = level < 2 ? 0x80000000u | ((level + 1) * directoryBytes) : leaf;
            for (uint32_t i = 0; i < entries; ++i) StoreLe32(directory + 16 + 8 * i + 4, target);
        }
        StoreLe32(&pe[0x200 + 16 + leaf], 16);      // data at image address 16, 4 bytes
        StoreLe32(&pe[0x200 + 16 + leaf + 4], 4);
        PeInfo info;
        std::string error;
        ASSERT_TRUE(ParsePe(pe.data(), pe.size(), info, error)) << error;
        std::vector<PeResource> resources;
        EXPECT_FALSE(ReadResources(pe.data(), pe.size(), info, resources, error));
        EXPECT_TRUE(resources.empty());
    }
    {
        // 20,000 import descriptors that share one list of 20,000 functions.
        std::vector<uint8_t> pe = image(1, 16);
        const uint32_t names = 16 + 20 * 20001, list = names + 16;
        std::copy_n("\0\0f\0a.dll", 10, &pe[0x200 + names]);
        for (uint32_t i = 0; i < 20000; ++i) {
            StoreLe32(&pe[0x200 + 16 + 20 * i], list);
            StoreLe32(&pe[0x200 + 16 + 20 * i + 12], names + 4);
            StoreLe32(&pe[0x200 + list + 4 * i], names);
        }
        PeInfo info;
        std::string error;
        ASSERT_TRUE(ParsePe(pe.data(), pe.size(), info, error)) << error;
        std::vector<PeImport> imports;
        EXPECT_FALSE(ReadImports(pe.data(), pe.size(), info, imports, error));
    }
}

// ---------------------------------------------------------------------------
// The deliverable, the i686 program, as Windows XP's loader and Explorer see it

std::vector<uint8_t> ReadDeliverable() {
    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_TRUE(ReadWholeFile(QUILLO_I686_PROGRAM, bytes, error))
        << error << " (the i686 tree builds it: scripts/build.sh, or configure QUILLO_I686_BUILD)";
    return bytes;
}

// Functions that Windows XP SP3's system libraries lack ("Minimum supported
// client: Windows Vista" or later in the API reference; some came with XP x64
// or Server 2003 only), of the kinds that could end up in the import table:
const char* const kNotOnXp[][2] = {
    // winpthreads' timed waits, locks and condition variables, libstdc++'s
    // threads and once-only initialisation, the runtime's fibre-local storage
    {"kernel32.dll", "GetTickCount64"},
    {"kernel32.dll", "InitializeConditionVariable"},
    {"kernel32.dll", "SleepConditionVariableCS"},
    {"kernel32.dll", "WakeConditionVariable"},
    {"kernel32.dll", "WakeAllConditionVariable"},
    {"kernel32.dll", "AcquireSRWLockExclusive"},
    {"kernel32.dll", "ReleaseSRWLockExclusive"},
    {"kernel32.dll", "InitOnceExecuteOnce"},
    {"kernel32.dll", "InitializeCriticalSectionEx"},
    {"kernel32.dll", "FlsAlloc"},
    {"kernel32.dll", "FlsGetValue"},
    {"kernel32.dll", "FlsSetValue"},
    {"kernel32.dll", "GetSystemTimePreciseAsFileTime"},
    // libstdc++'s file system library
    {"kernel32.dll", "GetFinalPathNameByHandleW"},
    {"kernel32.dll", "CreateSymbolicLinkW"},
    // what this program looks up at run time where Windows has it, and the
    // newer forms of what it calls
    {"kernel32.dll", "QueryFullProcessImageNameW"},
    {"kernel32.dll", "GetSystemFirmwareTable"},
    {"advapi32.dll", "RegDeleteKeyExW"},
    {"advapi32.dll", "RegDeleteTreeW"},
    {"advapi32.dll", "RegGetValueW"},
    {"shell32.dll", "SHGetKnownFolderPath"},
    {"user32.dll", "SetProcessDPIAware"},
    {"ws2_32.dll", "inet_pton"},
};
// Libraries that XP does not have at all: the Restart Manager, the universal
// C runtime and its API sets, the desktop compositor.
const char* const kLibrariesNotOnXp[] = {"rstrtmgr.dll", "ucrtbase.dll", "api-ms-win-", "dwmapi.dll"};

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

TEST(DeliverableTest, ImportsNothingWindowsXpLacksAndItsHeaderAllowsXp) {
    const std::vector<uint8_t> bytes = ReadDeliverable();
    ASSERT_FALSE(bytes.empty());
    PeInfo pe;
    std::string error;
    ASSERT_TRUE(ParsePe(bytes.data(), bytes.size(), pe, error)) << error;
    EXPECT_EQ(pe.machine, 0x14C);
    EXPECT_EQ(pe.magic, 0x10B);
    EXPECT_EQ(pe.subsystem, 2) << "a GUI program";
    // XP is Windows 5.1: neither the operating system nor the subsystem
    // version of the header may ask for more.
    EXPECT_LE(pe.osVersion[0] * 100 + pe.osVersion[1], 501) << pe.osVersion[0] << "." << pe.osVersion[1];
    EXPECT_LE(pe.subsystemVersion[0] * 100 + pe.subsystemVersion[1], 501)
        << pe.subsystemVersion[0] << "." << pe.subsystemVersion[1];

    std::vector<PeImport> imports;
    ASSERT_TRUE(ReadImports(bytes.data(), bytes.size(), pe, imports, error)) << error;
    std::set<std::string> names;
    for (const PeImport& import : imports) {
        names.insert(Lower(import.library) + "!" + import.function);
        for (const char* library : kLibrariesNotOnXp)
            EXPECT_EQ(Lower(import.library).rfind(library, 0), std::string::npos) << import.library;
    }
    // The reader sees the whole table: functions the program calls directly
    // from each of its libraries are there.
    for (const char* present : {"kernel32.dll!CreateFileW", "kernel32.dll!GetTickCount", "user32.dll!CreateWindowExW",
                                "advapi32.dll!RegCreateKeyExW", "ws2_32.dll!connect", "msvcrt.dll!malloc"})
        EXPECT_EQ(names.count(present), 1u) << present;
    for (const auto& missing : kNotOnXp) {
        const std::string name = std::string(missing[0]) + "!" + missing[1];
        EXPECT_EQ(names.count(name), 0u) << name << " is imported, which Windows XP does not export";
    }
    // Every library the loader resolves before the program runs is a known
    // DLL on every Windows the program supports: one the system never looks
    // for beside the program. GDI+ is not one on older Windows: it is
    // loaded from the system folder at its first call.
    const std::set<std::string> known = {"advapi32.dll", "gdi32.dll",   "imagehlp.dll", "kernel32.dll",
                                         "msvcrt.dll",   "ole32.dll",   "shell32.dll",  "shlwapi.dll",
                                         "user32.dll",   "ws2_32.dll"};
    for (const PeImport& import : imports)
        EXPECT_EQ(known.count(Lower(import.library)), 1u)
            << import.library << "!" << import.function << " would be looked for beside the program first";
}

TEST(DeliverableTest, InspectShowsItsVersionResourceAndManifest) {
    const std::vector<uint8_t> bytes = ReadDeliverable();
    ASSERT_FALSE(bytes.empty());
    std::string report;
    InspectSetupFile(QUILLO_I686_PROGRAM, report);
    const std::string version = QUILLO_VERSION_TEXT;
    for (const std::string& text : std::vector<std::string>{
             "oldest Windows: 5.1 (subsystem 5.1, GUI)",
             "version resource: file " + version + ", product " + version + ", translation 0804/04b0",
             "  ProductName: Quillo 3\n", "  ProductVersion: " + version + "\n", "  FileVersion: " + version + "\n",
             "  CompanyName: Brightfen Technology Co.\n", "requestedExecutionLevel asInvoker", "icon images: 5"})
        EXPECT_NE(report.find(text), std::string::npos) << "expected '" << text << "' in\n" << report;
}

}  // namespace
}  // namespace quillo
