// The appended-block readers and the uninstaller writer on real Windows files.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <vector>

#include "app/AppendedBlock.h"
#include "app/UninstallManifest.h"
#include "base/Md5.h"
#include "base/SystemInfo.h"
#include "base/TextCodec.h"

namespace quillo {
namespace {

std::vector<uint8_t> ReadAll(const std::wstring& path) {
    FileSource file;
    std::vector<uint8_t> bytes;
    if (!file.open(path)) return bytes;
    bytes.resize(static_cast<size_t>(file.size()));
    if (!bytes.empty()) {
        EXPECT_TRUE(file.readAt(0, bytes.data(), bytes.size()));
    }
    return bytes;
}

std::wstring EnvPath(const char* name) {
    const char* value = std::getenv(name);
    return value ? Utf8ToWide(value) : std::wstring();
}

TEST(SetupFileWinTest, AProgramWithoutAppendedDataIsRejectedByEveryReader) {
    JValue block;
    EXPECT_FALSE(ReadAppendedBlock(ModuleFilePath(), block));
    SetupImage setup;
    EXPECT_EQ(ReadSetupImage(ModuleFilePath(), setup), 1);
    EXPECT_EQ(ReadSetupImage(TempFolder() + L"no such file.exe", setup), 1);
}

TEST(SetupFileWinTest, UninstallerRoundTripsThroughAWidePath) {
    const std::wstring dir = TempFolder() + L"安装 测试";
    CreateDirectoryW(dir.c_str(), nullptr);
    const std::wstring path = dir + L"\\unins000.exe";
    // The image of a setup file: this program with the locator set to its size.
    std::vector<uint8_t> image = ReadAll(ModuleFilePath());
    ASSERT_GT(image.size(), 4096u);
    StoreLe32(image.data() + LoadLe32(image.data() + kLfanewOffset) - 4, static_cast<uint32_t>(image.size()));

    JValue block;
    block["mode"] = 1;
    block["uninstrun"][0] = "QuilloDaemon.exe /up";
    JValue manifest;
    AppendManifestPath(manifest, kManifestFolders, dir);
    AppendManifestPath(manifest, kManifestFiles, dir + L"\\Quillo.exe");
    CompleteManifest(manifest, 3, dir, block);
    ASSERT_TRUE(WriteUninstaller(path, image.data(), image.size(), manifest));

    JValue readBack;
    ASSERT_TRUE(ReadAppendedBlock(path, readBack));
    EXPECT_EQ(readBack.get("mode").asInt(), 0);
    EXPECT_EQ(ManifestRoot(readBack), dir);
    EXPECT_EQ(ManifestPaths(readBack, kManifestFiles).at(0), dir + L"\\Quillo.exe");

    // Readers share read access only: a writer cannot open the file meanwhile.
    FileSource reader;
    ASSERT_TRUE(reader.open(path));
    HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    reader.close();

    EXPECT_FALSE(WriteUninstaller(dir + L"\\missing\\unins000.exe", image.data(), image.size(), manifest));
    DeleteFileW(path.c_str());
    RemoveDirectoryW(dir.c_str());
}

// Run by tests/e2e/setup_file_e2e.sh on a setup file made by mksetup from the
// program's own executable.
TEST(SetupFileEndToEnd, PackedSetupFileReadsBack) {
    const std::wstring setupPath = EnvPath("QUILLO_SETUP_FILE");
    const std::wstring stubPath = EnvPath("QUILLO_STUB_FILE");
    ASSERT_FALSE(setupPath.empty());
    ASSERT_FALSE(stubPath.empty());

    JValue block;
    ASSERT_TRUE(ReadAppendedBlock(setupPath, block));
    EXPECT_EQ(block.get("mode").asInt(), 1);

    SetupImage setup;
    ASSERT_EQ(ReadSetupImage(setupPath, setup), 0);
    const std::vector<uint8_t> package = setup.PackageCopy();
    EXPECT_EQ(block.get("md5").asString(), Md5Hex(package.data(), package.size()));
    const std::vector<uint8_t> stub = ReadAll(stubPath);
    ASSERT_EQ(setup.imageSize(), stub.size());
    const std::vector<uint8_t> image = setup.ImageCopy();
    ASSERT_EQ(image.size(), stub.size());
    const uint32_t lfanew = LoadLe32(stub.data() + kLfanewOffset);
    for (size_t i = 0; i < stub.size(); ++i) {
        if (i >= lfanew - 4 && i < lfanew) continue;  // the locator
        ASSERT_EQ(image[i], stub[i]) << "image differs at " << i;
    }
    EXPECT_EQ(LoadLe32(image.data() + lfanew - 4), stub.size());

    const OptionalSections sections = LocateSections(setup, true, true);
    EXPECT_TRUE(sections.hasExtra);
    EXPECT_TRUE(sections.hasDriver);

    // The uninstaller made from this image is itself a valid program file.
    const std::wstring uninstaller = TempFolder() + L"e2e-unins000.exe";
    JValue manifest;
    CompleteManifest(manifest, block.get("channel").asInt(), L"C:\\Quillo 3", block);
    ASSERT_TRUE(WriteUninstaller(uninstaller, setup, manifest));
    JValue readBack;
    ASSERT_TRUE(ReadAppendedBlock(uninstaller, readBack));
    EXPECT_EQ(readBack.get("setup").get("shortcut").get("desktop").at(0).get("name").asString(), "Quillo 3");
    EXPECT_EQ(ReadAll(uninstaller).size(), setup.imageSize() + 4 + JWriter::write(manifest).size());
    DeleteFileW(uninstaller.c_str());
}

}  // namespace
}  // namespace quillo
