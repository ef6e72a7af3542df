#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "app/AppendedBlock.h"
#include "app/SetupPass.h"
#include "app/UninstallManifest.h"
#include "base/Base64.h"
#include "base/Md5.h"
#include "tests/native/TestFiles.h"

namespace quillo {
namespace {

using test::BuildSetupFile;
using test::SetupParts;

BlockStatus ReadBlock(const std::vector<uint8_t>& file, JValue& block) {
    MemorySource source(file.data(), file.size());
    return ReadAppendedBlock(source, block);
}

// The image reads its bytes from the source later on: it keeps it.
int ReadSetup(const std::vector<uint8_t>& file, SetupImage& setup) {
    auto source = std::make_shared<MemorySource>(file.data(), file.size());
    const int code = ReadSetupImage(*source, setup);
    if (setup.source) setup.source = source;
    return code;
}

void SetLocator(std::vector<uint8_t>& file, uint32_t value) { StoreLe32(&file[0x80 - 4], value); }

TEST(AppendedBlockTest, ReadsBlockPackageAndImageOfAGoodSetupFile) {
    SetupParts parts;
    parts.text = "{\"mode\":1,\"channel\":7}";
    const auto file = BuildSetupFile(parts);
    JValue block;
    ASSERT_EQ(ReadBlock(file, block), BlockStatus::Ok);
    EXPECT_EQ(block.get("channel").asInt(), 7);

    SetupImage setup;
    ASSERT_EQ(ReadSetup(file, setup), 0);
    EXPECT_EQ(setup.offset, parts.image.size());
    const std::vector<uint8_t> package = setup.PackageCopy();
    EXPECT_EQ(std::string(package.begin(), package.end()), parts.package);
    EXPECT_EQ(setup.block.get("mode").asInt(), 1);
    const std::vector<uint8_t> image = setup.ImageCopy();
    ASSERT_EQ(image.size(), parts.image.size());
    EXPECT_TRUE(std::equal(parts.image.begin() + 0x80, parts.image.end(), image.begin() + 0x80));
}

TEST(AppendedBlockTest, LocatorEdgesGiveTheDocumentedResults) {
    auto file = BuildSetupFile(SetupParts());
    JValue block;
    SetupImage setup;

    SetLocator(file, 0);  // an image without appended data
    EXPECT_EQ(ReadBlock(file, block), BlockStatus::LocatorZero);
    EXPECT_EQ(ReadSetup(file, setup), 1);

    SetLocator(file, static_cast<uint32_t>(file.size()));  // O = S: no room for L
    EXPECT_EQ(ReadBlock(file, block), BlockStatus::LocatorBeyondFile);
    EXPECT_EQ(ReadSetup(file, setup), 3);

    SetLocator(file, static_cast<uint32_t>(file.size() + 1));
    EXPECT_EQ(ReadBlock(file, block), BlockStatus::LocatorBeyondFile);
    EXPECT_EQ(ReadSetup(file, setup), 1);

    SetLocator(file, 0xFFFFFFFF);
    EXPECT_EQ(ReadSetup(file, setup), 1);

    // e_lfanew pointing nowhere useful
    auto bad = BuildSetupFile(SetupParts());
    StoreLe32(&bad[0x3C], 2);
    EXPECT_EQ(ReadBlock(bad, block), BlockStatus::HeaderUnreadable);
    EXPECT_EQ(ReadSetup(bad, setup), 1);
    StoreLe32(&bad[0x3C], 0xFFFFFFFE);
    EXPECT_EQ(ReadBlock(bad, block), BlockStatus::HeaderUnreadable);
    EXPECT_EQ(ReadSetup(bad, setup), 1);
}

TEST(AppendedBlockTest, BlockFillingTheFileIsReadButHasNoPackage) {
    SetupParts parts;
    auto file = BuildSetupFile(parts);
    file.resize(parts.image.size() + 4 + parts.text.size());  // nothing after the text
    JValue block;
    EXPECT_EQ(ReadBlock(file, block), BlockStatus::Ok);
    SetupImage setup;
    EXPECT_EQ(ReadSetup(file, setup), 5);
}

TEST(AppendedBlockTest, CraftedLengthsThatWouldWrapAreRejected) {
    SetupParts parts;
    const size_t lengthAt = parts.image.size();
    JValue block;
    SetupImage setup;
    for (uint32_t huge : {0xFFFFFFFFu, 0xFFFFFFF0u, 0xFFFFFFFCu, 0x80000000u}) {
        auto file = BuildSetupFile(parts);
        StoreLe32(&file[lengthAt], huge);  // L
        EXPECT_EQ(ReadBlock(file, block), BlockStatus::LengthDoesNotFit) << huge;
        EXPECT_EQ(ReadSetup(file, setup), 3) << huge;

        file = BuildSetupFile(parts);
        StoreLe32(&file[lengthAt + 4 + parts.text.size()], huge);  // P
        EXPECT_EQ(ReadSetup(file, setup), 5) << huge;
    }
}

TEST(AppendedBlockTest, InvalidJsonIsCode4AndRejectedByTheBlockReader) {
    SetupParts parts;
    parts.text = "{\"mode\":1";
    const auto file = BuildSetupFile(parts);
    JValue block;
    EXPECT_EQ(ReadBlock(file, block), BlockStatus::JsonInvalid);
    SetupImage setup;
    EXPECT_EQ(ReadSetup(file, setup), 4);
}

TEST(AppendedBlockTest, EveryTruncationPointGivesTheCodeOfTheFirstMissingPiece) {
    SetupParts parts;
    parts.text = "{\"mode\":1,\"ituneslite64\":true}";
    parts.sections = {"EXTRA-DLL", "DRIVER-ZIP"};
    const auto full = BuildSetupFile(parts);
    const size_t o = parts.image.size();
    const size_t textEnd = o + 4 + parts.text.size();
    const size_t packageEnd = textEnd + 4 + parts.package.size();
    const size_t extraEnd = packageEnd + 4 + parts.sections[0].size();

    for (size_t n = 0; n <= full.size(); ++n) {
        std::vector<uint8_t> file(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
        SetupImage setup;
        MemorySource source(file.data(), file.size());
        const int code = ReadSetupImage(source, setup);
        int expected;
        if (n < 0x80 || n < o) expected = 1;  // no header, or O > S
        else if (n < textEnd) expected = 3;
        else if (n < packageEnd) expected = 5;
        else expected = 0;
        ASSERT_EQ(code, expected) << "truncated to " << n;

        JValue block;
        const BlockStatus status = ReadBlock(file, block);
        ASSERT_EQ(status == BlockStatus::Ok, n >= textEnd) << "truncated to " << n;

        if (code == 0) {
            const OptionalSections s = LocateSections(setup, true, true);
            EXPECT_EQ(s.hasExtra, n >= extraEnd) << n;
            EXPECT_EQ(s.hasDriver, n == full.size()) << n;
        }
    }
}

TEST(AppendedBlockTest, SectionsFollowTheBlockFlagsAndIgnoreTrailingData) {
    SetupParts parts;
    parts.sections = {"EXTRA", "DRIVER"};
    parts.trailing = std::string(700, '\x30');  // e.g. a signature
    const auto file = BuildSetupFile(parts);
    SetupImage setup;
    ASSERT_EQ(ReadSetup(file, setup), 0);

    OptionalSections s = LocateSections(setup, true, true);
    ASSERT_TRUE(s.hasExtra);
    ASSERT_TRUE(s.hasDriver);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&file[s.extra.dataOffset]), s.extra.size), "EXTRA");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&file[s.driver.dataOffset]), s.driver.size), "DRIVER");

    // Without "extrapack" the first section is taken as the driver section.
    s = LocateSections(setup, false, true);
    EXPECT_FALSE(s.hasExtra);
    ASSERT_TRUE(s.hasDriver);
    EXPECT_EQ(s.driver.size, 5u);

    s = LocateSections(setup, true, false);
    EXPECT_TRUE(s.hasExtra);
    EXPECT_FALSE(s.hasDriver);
}

TEST(AppendedBlockTest, ExtraSectionThatDoesNotFitLeavesTheDriverSearchAtThePackageEnd) {
    SetupParts parts;
    auto file = BuildSetupFile(parts);
    test::AppendLe32(file, 0xFFFFFFF8u);  // X would wrap a 32-bit bound check
    SetupImage setup;
    ASSERT_EQ(ReadSetup(file, setup), 0);
    const OptionalSections s = LocateSections(setup, true, true);
    EXPECT_FALSE(s.hasExtra);
    EXPECT_FALSE(s.hasDriver);  // the same size field, read as Y, does not fit either

    Section section;
    EXPECT_FALSE(ReadSection(file.data(), file.size(), file.size() - 2, section));
    EXPECT_FALSE(ReadSection(file.data(), file.size(), file.size() + 10, section));
    EXPECT_FALSE(ReadSection(file.data(), file.size(), UINT64_MAX - 1, section));
}

TEST(AppendedBlockTest, MutatedFilesNeverCrashTheReaders) {
    SetupParts parts;
    parts.text = "{\"mode\":1,\"shortcut\":{\"desktop\":[{\"name\":\"Quillo 3\",\"file\":\"Quillo.exe\"}]}}";
    parts.sections = {"EXTRA", "DRIVER"};
    const auto full = BuildSetupFile(parts);
    std::mt19937 rng(1234);
    const size_t hot[] = {0x3C, 0x7C, parts.image.size(), parts.image.size() + 4 + parts.text.size()};
    for (int round = 0; round < 3000; ++round) {
        auto file = full;
        const int flips = 1 + static_cast<int>(rng() % 4);
        for (int k = 0; k < flips; ++k) {
            size_t at = rng() % 2 ? hot[rng() % 4] + rng() % 4 : rng() % file.size();
            if (at < file.size()) file[at] = static_cast<uint8_t>(rng());
        }
        if (rng() % 3 == 0) file.resize(rng() % (file.size() + 1));
        JValue block;
        BlockLayout layout;
        MemorySource source(file.data(), file.size());
        const BlockStatus status = ReadAppendedBlock(source, block, &layout);
        SetupImage setup;
        const int code = ReadSetup(file, setup);
        // A quiet run that cannot use its block ends with the code the
        // install reader gives for the same file.
        if (status != BlockStatus::Ok) ASSERT_EQ(RejectedBlockCode(status, layout), code) << round;
        if (code == 0) {
            ASSERT_LE(setup.packageEnd(), file.size());
            const OptionalSections s = LocateSections(setup, true, true);
            if (s.hasExtra) ASSERT_LE(s.extra.dataOffset + s.extra.size, file.size());
            if (s.hasDriver) ASSERT_LE(s.driver.dataOffset + s.driver.size, file.size());
        }
    }
}

// A file whose bytes in [badFrom, badTo) cannot be read, as on a damaged disk.
class DamagedSource : public ByteSource {
public:
    DamagedSource(const std::vector<uint8_t>& bytes, uint64_t badFrom, uint64_t badTo)
        : bytes_(bytes), badFrom_(badFrom), badTo_(badTo) {}
    uint64_t size() const override { return bytes_.size(); }
    bool readAt(uint64_t offset, void* buffer, size_t length) override {
        if (offset < badTo_ && offset + length > badFrom_) return false;
        MemorySource source(bytes_.data(), bytes_.size());
        return source.readAt(offset, buffer, length);
    }

private:
    const std::vector<uint8_t>& bytes_;
    uint64_t badFrom_, badTo_;
};

std::string Pseudorandom(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(rng());
    return bytes;
}

std::string Bytes(const SetupImage& setup, const Section& section) {
    std::string out;
    EXPECT_TRUE(CopyRange(*setup.source, section.dataOffset, section.size, [&out](uint8_t* data, size_t size) {
        out.append(reinterpret_cast<const char*>(data), size);
        return true;
    }));
    return out;
}

// The package of several read windows, not a multiple of one, with both
// sections and a signature behind it.
TEST(SetupStreamTest, APackageOfSeveralWindowsIsStreamedWholeAndTheSectionsBehindItAreFound) {
    SetupParts parts;
    parts.package = Pseudorandom(3 * kSetupReadWindow + 12345, 1);
    parts.sections = {Pseudorandom(kSetupReadWindow + 7, 2), "DRIVER-ZIP"};
    parts.trailing = "SIGNATURE";
    std::vector<uint8_t> file = BuildSetupFile(parts);
    SetupImage setup;
    ASSERT_EQ(ReadSetup(file, setup), 0);
    ASSERT_EQ(setup.packageSize, parts.package.size());

    std::string copied;
    size_t pieces = 0;
    const SetupPassResult pass = ReadSetupPass(
        setup,
        [&](const uint8_t* data, size_t size) {
            EXPECT_LE(size, kSetupReadWindow);
            copied.append(reinterpret_cast<const char*>(data), size);
            ++pieces;
            return true;
        },
        true);
    EXPECT_TRUE(pass.readOk);
    EXPECT_TRUE(pass.sinkOk);
    EXPECT_EQ(pieces, 4u);
    EXPECT_TRUE(copied == parts.package) << "the archive's bytes differ from the package";
    EXPECT_EQ(pass.digest, Md5Hex(parts.package.data(), parts.package.size()));

    const OptionalSections s = LocateSections(setup, true, true);
    ASSERT_TRUE(s.hasExtra);
    ASSERT_TRUE(s.hasDriver);
    EXPECT_EQ(s.extra.dataOffset, setup.packageEnd() + 4);
    EXPECT_TRUE(Bytes(setup, s.extra) == parts.sections[0]);
    EXPECT_EQ(Bytes(setup, s.driver), "DRIVER-ZIP");

    // The last byte of the package sits in the last, short window; its
    // damage still reaches the digest, whatever the window size.
    const std::string right = pass.digest;
    file[setup.packageEnd() - 1] ^= 0x01;
    for (size_t window : {kSetupReadWindow, size_t{4096}, size_t{1} << 20, size_t{7}}) {
        SetupImage damaged;
        ASSERT_EQ(ReadSetup(file, damaged), 0);
        const SetupPassResult again = ReadSetupPass(damaged, PackageSink(), true, window);
        EXPECT_TRUE(again.readOk) << window;
        EXPECT_NE(again.digest, right) << window;
        std::string digest;
        EXPECT_FALSE(CheckDigest(again.digest, right, digest)) << window;
        EXPECT_EQ(digest, again.digest);
    }
    // Without an expected digest nothing is reported.
    std::string digest;
    EXPECT_FALSE(CheckDigest(right, "", digest));
    EXPECT_TRUE(digest.empty());
}

// A file that cannot be read somewhere is code 2, as when it was read whole
// before any other check: wherever the damage lies, whatever else is wrong.
TEST(SetupStreamTest, UnreadableBytesAnywhereAreCode2AndRefusedPackageBytesAreNotARead) {
    SetupParts parts;
    parts.package = Pseudorandom(2 * kSetupReadWindow + 100, 3);
    parts.sections = {"EXTRA"};
    parts.trailing = "SIGNATURE";
    std::vector<uint8_t> file = BuildSetupFile(parts);
    const uint64_t o = parts.image.size();
    const uint64_t textEnd = o + 4 + parts.text.size();
    const uint64_t packageStart = textEnd + 4;
    const uint64_t packageEnd = packageStart + parts.package.size();
    struct Row {
        const char* what;
        uint64_t from, to;
        int readerCode;  // ReadSetupImage's
        bool passReads;  // ReadSetupPass's readOk when the reader gave 0
    };
    const Row rows[] = {
        {"DOS header", 0, 2, 1, false},
        {"locator", 0x7C, 0x80, 1, false},
        {"image after the header", 0x100, 0x180, 0, false},
        {"block length", o, o + 4, 2, false},
        {"block text", o + 6, o + 7, 2, false},
        {"package length", textEnd, textEnd + 4, 2, false},
        {"first package byte", packageStart, packageStart + 1, 0, false},
        {"package, second window", packageStart + kSetupReadWindow + 5, packageStart + kSetupReadWindow + 6, 0,
         false},
        {"last package byte", packageEnd - 1, packageEnd, 0, false},
        {"extra section", packageEnd + 4, packageEnd + 5, 0, false},
        {"signature", file.size() - 1, file.size(), 0, false},
        {"nothing", 0, 0, 0, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        DamagedSource source(file, row.from, row.to);
        SetupImage setup;
        const int code = ReadSetupImage(source, setup);
        ASSERT_EQ(code, row.readerCode);
        if (code != 0) continue;
        bool refused = false;
        const SetupPassResult pass = ReadSetupPass(
            setup, [&](const uint8_t*, size_t) { return !(refused = true); }, true);
        EXPECT_EQ(pass.readOk, row.passReads);
        // The sink refused its first piece: the reading still went on.
        if (pass.readOk) {
            EXPECT_TRUE(refused);
            EXPECT_FALSE(pass.sinkOk);
            EXPECT_EQ(pass.digest, Md5Hex(parts.package.data(), parts.package.size()));
        }
    }

    // A block length that does not fit (3), invalid JSON (4) or a package
    // that does not fit (5), in a file that cannot be read behind them: 2.
    struct Bad {
        const char* what;
        uint64_t at;
        uint32_t value;
        int code;
    };
    const Bad bad[] = {{"block length", o, 0xFFFFFFF0u, 3},
                       {"package length", textEnd, 0xFFFFFFF0u, 5}};
    for (const Bad& b : bad) {
        SCOPED_TRACE(b.what);
        std::vector<uint8_t> broken = file;
        StoreLe32(&broken[b.at], b.value);
        SetupImage setup;
        MemorySource whole(broken.data(), broken.size());
        EXPECT_EQ(ReadSetupImage(whole, setup), b.code);
        DamagedSource damaged(broken, packageEnd - 10, packageEnd - 9);
        EXPECT_EQ(ReadSetupImage(damaged, setup), 2);
    }
    std::vector<uint8_t> invalid = file;
    invalid[o + 4] = '[';
    SetupImage setup;
    MemorySource whole(invalid.data(), invalid.size());
    EXPECT_EQ(ReadSetupImage(whole, setup), 4);
    DamagedSource damaged(invalid, packageEnd, packageEnd + 1);
    EXPECT_EQ(ReadSetupImage(damaged, setup), 2);
}

class UninstallerFileTest : public ::testing::Test {
protected:
    void TearDown() override { std::remove(path_.c_str()); }
    // One file per test: ctest runs the tests of this fixture at the same time.
    std::string path_ = ::testing::TempDir() + "quillo_unins_" +
                        ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".exe";
};

TEST_F(UninstallerFileTest, UninstallerIsTheImageThenTheManifestAndNothingElse) {
    SetupParts parts;
    parts.text = "{\"mode\":1,\"uninstrun\":[\"QuilloDaemon.exe /up\"]}";
    parts.sections = {"EXTRA"};
    parts.trailing = "SIGNATURE";
    const auto file = BuildSetupFile(parts);
    SetupImage setup;
    ASSERT_EQ(ReadSetup(file, setup), 0);

    JValue manifest;
    AppendManifestPath(manifest, kManifestFiles, L"C:\\Quillo 3\\Quillo.exe");
    CompleteManifest(manifest, 5, L"C:\\Quillo 3", setup.block);
    ASSERT_TRUE(WriteUninstaller(path_, setup, manifest));

    std::vector<uint8_t> written;
    {
        FileSource source;
        ASSERT_TRUE(source.open(path_));
        written.resize(source.size());
        ASSERT_TRUE(source.readAt(0, written.data(), written.size()));
    }
    const std::string text = JWriter::write(manifest);
    ASSERT_EQ(written.size(), setup.imageSize() + 4 + text.size());
    EXPECT_TRUE(std::equal(written.begin(), written.begin() + setup.imageSize(), file.begin()));
    EXPECT_EQ(LoadLe32(&written[setup.imageSize()]), text.size());
    EXPECT_EQ(text.back(), '\n');

    JValue readBack;
    ASSERT_TRUE(ReadAppendedBlock(path_, readBack));
    EXPECT_EQ(readBack.get("mode").asInt(), 0);
    EXPECT_EQ(ManifestRoot(readBack), L"C:\\Quillo 3");
    EXPECT_EQ(JWriter::write(readBack), text);
}

// The stub with 16 data directories, every one filled in; the certificate
// table (directory 4) points at a signature behind the image.
std::vector<uint8_t> SignedStub(bool pe32Plus) {
    std::vector<uint8_t> pe = test::MakePeStub();
    uint8_t* opt = &pe[0x80 + 24];
    if (pe32Plus) {
        opt[0] = 0x0B;
        opt[1] = 0x02;
        pe[0x80 + 20] = 0xF0;  // optional header size of PE32+
    }
    const size_t directories = pe32Plus ? 112 : 96;
    StoreLe32(opt + directories - 4, 16);
    for (uint32_t i = 0; i < 16; ++i) {
        StoreLe32(opt + directories + 8 * i, 0x1000 * (i + 1));
        StoreLe32(opt + directories + 8 * i + 4, 0x100 + i);
    }
    StoreLe32(&pe[0x80 - 4], static_cast<uint32_t>(pe.size()));  // the locator
    return pe;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::vector<uint8_t> bytes;
    FileSource source;
    if (!source.open(path)) return bytes;
    bytes.resize(source.size());
    if (!source.readAt(0, bytes.data(), bytes.size())) bytes.clear();
    return bytes;
}

// A signed file's certificate table is not the program's: a section (or
// anything else) inside it is never taken, while the signature stays valid
// since the table is outside what it signs. A header entry that does not
// point behind the image into the file changes nothing.
TEST(AppendedBlockTest, NothingIsTakenFromACertificateTable) {
    struct Row {
        const char* what;
        bool entry;          // the header names a certificate table
        int64_t start;       // its start, relative to the end of the package; INT64_MIN: inside the image
        bool driverFound;
    };
    const Row rows[] = {
        {"unsigned, a section behind the package", false, 0, true},
        {"a section inside the certificate table", true, 0, false},
        {"the table starts right behind the section", true, 4 + 17, true},
        {"the entry points into the image", true, INT64_MIN, true},
        {"the entry points past the end of the file", true, 1 << 20, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        SetupParts parts;
        parts.image = SignedStub(false);  // its certificate entry points past the file until set below
        parts.sections = {"PK-driver-archive"};
        std::vector<uint8_t> file = BuildSetupFile(parts);
        const uint64_t packageEnd = file.size() - 4 - parts.sections[0].size();
        file.resize(file.size() + 16, 0);  // padding after the section, as a signature leaves
        if (row.entry) {
            const uint64_t entry = CertificateEntryOffset(file.data(), parts.image.size());
            ASSERT_NE(entry, 0u);
            const uint64_t start = row.start == INT64_MIN ? 0x40 : packageEnd + static_cast<uint64_t>(row.start);
            StoreLe32(&file[entry], static_cast<uint32_t>(start));
            StoreLe32(&file[entry + 4], 0x100);
        }
        auto source = std::make_shared<MemorySource>(file.data(), file.size());
        SetupImage setup;
        ASSERT_EQ(ReadSetupImage(std::shared_ptr<ByteSource>(source), setup), 0);
        EXPECT_EQ(LocateSections(setup, false, true).hasDriver, row.driverFound);
    }
}

TEST_F(UninstallerFileTest, TheCertificateEntryIsClearedInTheUninstallersHeaderOnly) {
    JValue manifest;
    manifest["mode"] = 0;
    const std::string text = JWriter::write(manifest);
    for (const bool pe32Plus : {false, true}) {
        SCOPED_TRACE(pe32Plus ? "PE32+" : "PE32");
        const std::vector<uint8_t> image = SignedStub(pe32Plus);
        // Directory 4 lies 128 (PE32) or 144 (PE32+) bytes into the optional header.
        const size_t entry = 0x80 + 24 + (pe32Plus ? 144 : 128);
        ASSERT_EQ(LoadLe32(&image[entry]), 0x5000u);
        ASSERT_TRUE(WriteUninstaller(path_, image.data(), image.size(), manifest));
        std::vector<uint8_t> written = ReadAll(path_);
        ASSERT_EQ(written.size(), image.size() + 4 + text.size());
        EXPECT_EQ(LoadLe32(&written[entry]), 0u) << "file offset of the signature";
        EXPECT_EQ(LoadLe32(&written[entry + 4]), 0u) << "size of the signature";
        // Everything else, the locator and the other directories included, is the image.
        std::copy_n(&image[entry], 8, &written[entry]);
        EXPECT_TRUE(std::equal(image.begin(), image.end(), written.begin()));
        EXPECT_EQ(std::string(written.begin() + image.size() + 4, written.end()), text);
    }

    // Headers that cannot be read as far as the entry are copied as they are.
    struct Row {
        const char* what;
        std::vector<uint8_t> image;
        size_t size;
    };
    std::vector<Row> rows;
    auto add = [&rows](const char* what, std::vector<uint8_t> image, size_t size = 0) {
        const size_t n = size ? size : image.size();
        rows.push_back({what, std::move(image), n});
    };
    std::vector<uint8_t> pe = SignedStub(false);
    StoreLe32(&pe[0x80 + 24 + 92], 4);
    add("four directories: none for certificates", pe);
    pe = SignedStub(false);
    pe[0x80 + 20] = 0x80;
    add("optional header ends before the entry", pe);
    pe = SignedStub(true);
    pe[0x80 + 20] = 148;  // room for the entry at PE32's place, not at PE32+'s
    add("PE32+ header too short for its entry", pe);
    add("image ends inside the entry", SignedStub(false), 0x80 + 24 + 128 + 4);
    pe = SignedStub(false);
    pe[0x80 + 24] = 0x07;  // neither PE32 nor PE32+
    add("unknown optional header", pe);
    pe = SignedStub(false);
    pe[0x80 + 1] = 'X';
    add("no PE signature", pe);
    pe = SignedStub(false);
    pe[0] = 'Z';
    add("no DOS header", pe);
    pe = SignedStub(false);
    StoreLe32(&pe[0x3C], 0xFFFFFFF0u);
    add("e_lfanew beyond the image", pe);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_TRUE(WriteUninstaller(path_, row.image.data(), row.size, manifest));
        const std::vector<uint8_t> written = ReadAll(path_);
        ASSERT_EQ(written.size(), row.size + 4 + text.size());
        EXPECT_TRUE(std::equal(row.image.begin(), row.image.begin() + row.size, written.begin()));
    }
}

TEST_F(UninstallerFileTest, UnwritablePathFailsAndMissingFileIsNotABlock) {
    JValue manifest;
    EXPECT_FALSE(WriteUninstaller("/nonexistent-dir/unins000.exe", nullptr, 0, manifest));
    JValue block;
    EXPECT_FALSE(ReadAppendedBlock(std::string("/nonexistent-dir/unins000.exe"), block));
}

TEST(UninstallManifestTest, CompletedManifestHasTheMembersInKeyOrder) {
    JReader reader;
    JValue block;
    ASSERT_TRUE(reader.parse(
        "{\"mode\":1,\"shortcut\":{\"desktop\":[{\"file\":\"Quillo.exe\",\"name\":\"Quillo 3\"}]},"
        "\"uninstrun\":[\"QuilloDaemon.exe /up\",\"QuilloDaemon.exe /ud\"]}",
        block));
    JValue manifest;
    AppendManifestPath(manifest, kManifestFolders, L"D:\\产品\\Quillo 3");
    AppendManifestPath(manifest, kManifestFiles, L"D:\\产品\\Quillo 3\\Quillo.exe");
    AppendManifestPath(manifest, kManifestFiles, L"D:\\产品\\Quillo 3\\AppData/Skins/a.png");
    CompleteManifest(manifest, 12, L"D:\\产品\\Quillo 3", block);

    const std::string text = JWriter::write(manifest);
    EXPECT_EQ(text.rfind("{\"channel\":12,\"files\":[", 0), 0u) << text;
    EXPECT_NE(text.find("\"mode\":0,\"setup\":{\"root\":\"" + Base64Encode("D:\\产品\\Quillo 3") +
                        "\",\"shortcut\":{\"desktop\":[{\"file\":\"Quillo.exe\",\"name\":\"Quillo 3\"}]}}"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(",\"uninstrun\":[\"QuilloDaemon.exe /up\",\"QuilloDaemon.exe /ud\"]}\n"), std::string::npos);

    const auto files = ManifestPaths(manifest, kManifestFiles);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[1], L"D:\\产品\\Quillo 3\\AppData/Skins/a.png");
    EXPECT_EQ(ManifestPaths(manifest, kManifestFolders).at(0), L"D:\\产品\\Quillo 3");
}

TEST(UninstallManifestTest, BlockWithoutShortcutOrUninstrun) {
    JValue block;
    block["mode"] = 1;
    JValue manifest;
    CompleteManifest(manifest, 1, L"C:\\Q", block);
    EXPECT_FALSE(manifest.isMember("uninstrun"));
    ASSERT_TRUE(manifest.get("setup").isMember("shortcut"));
    EXPECT_EQ(manifest.get("setup").get("shortcut").type(), JValue::Null);
    const std::string text = JWriter::write(manifest);
    const size_t member = text.find("\"shortcut\":null");
    ASSERT_NE(member, std::string::npos) << text;
    EXPECT_EQ(member, text.find("\"shortcut\"")) << text;  // the only "shortcut" member
    EXPECT_EQ(text.rfind("\"shortcut\""), member) << text;
}

TEST(UninstallManifestTest, DamagedPathEntriesArePassedOver) {
    JReader reader;
    JValue manifest;
    ASSERT_TRUE(reader.parse("{\"files\":[\"QzpcYQ==\",\"***\",7,null,\"QzpcYg==\"],\"setup\":{\"root\":12}}", manifest));
    const auto files = ManifestPaths(manifest, kManifestFiles);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0], L"C:\\a");
    EXPECT_EQ(files[1], L"C:\\b");
    EXPECT_TRUE(ManifestRoot(manifest).empty());
    EXPECT_TRUE(ManifestPaths(JValue(), kManifestFolders).empty());
}

}  // namespace
}  // namespace quillo
