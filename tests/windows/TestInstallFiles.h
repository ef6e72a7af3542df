// Files, setup files and registry values for the install and driver tests.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/AppendedBlock.h"
#include "base/Md5.h"
#include "base/SystemInfo.h"
#include "base/TextCodec.h"
#include "install/InstallSequence.h"
#include "install/ProductRegistration.h"
#include "install/Registry.h"
#include "install/Shortcuts.h"
#include "json/JValue.h"

namespace quillo {
namespace test {

namespace fs = std::filesystem;

inline std::wstring EnvPath(const char* name) {
    const char* env = std::getenv(name);
    std::wstring path = env ? Utf8ToWide(env) : std::wstring();
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

inline std::vector<uint8_t> ReadBytes(const std::wstring& path) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    std::vector<uint8_t> bytes(ec ? 0 : size);
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return {};
    const size_t n = std::fread(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    bytes.resize(n);
    return bytes;
}

// The lines of a text file, without their line ends and trailing blanks.
inline std::vector<std::string> ReadLines(const std::wstring& path) {
    std::vector<std::string> lines;
    std::string line;
    for (uint8_t b : ReadBytes(path)) {
        if (b == '\n') {
            while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
            lines.push_back(line);
            line.clear();
        } else {
            line += static_cast<char>(b);
        }
    }
    return lines;
}

inline void WriteBytes(const std::wstring& path, const std::vector<uint8_t>& bytes) {
    FILE* f = _wfopen(path.c_str(), L"wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

inline void WriteText(const std::wstring& path, const std::string& text) {
    WriteBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

inline bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Where an uninstaller runs the removal itself instead of handing over to a
// copy: "<temp>Quillo_Temp_<16 hex>\unins000.exe" (the folder is made).
inline std::wstring TemporaryCopyPath() {
    const std::wstring folder = TempFolder() + L"Quillo_Temp_0123456789ABCDEF";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder + L"\\unins000.exe";
}

// The uninstaller copies in the temporary folder, as the hand-off leaves them.
inline std::vector<std::wstring> TemporaryCopies() {
    std::vector<std::wstring> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(TempFolder(), ec)) {
        const std::wstring copy = entry.path().wstring() + L"\\unins000.exe";
        if (entry.path().filename().wstring().rfind(L"Quillo_Temp_", 0) == 0 && Exists(copy)) found.push_back(copy);
    }
    return found;
}

inline void AppendLe32(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t le[4];
    StoreLe32(le, value);
    out.insert(out.end(), le, le + 4);
}

// A setup file: an image whose locator holds its own length, the block, the
// package and any further sections, each behind its 32-bit length.
inline std::vector<uint8_t> MakeSetupFile(const SetupImage& stub, const std::string& block,
                                   const std::vector<uint8_t>& package,
                                   const std::vector<std::vector<uint8_t>>& sections = {}) {
    std::vector<uint8_t> out = stub.ImageCopy();
    AppendLe32(out, static_cast<uint32_t>(block.size()));
    out.insert(out.end(), block.begin(), block.end());
    AppendLe32(out, static_cast<uint32_t>(package.size()));
    out.insert(out.end(), package.begin(), package.end());
    for (const auto& section : sections) {
        AppendLe32(out, static_cast<uint32_t>(section.size()));
        out.insert(out.end(), section.begin(), section.end());
    }
    return out;
}

inline std::string Md5Of(const std::vector<uint8_t>& bytes) {
    std::string digest;
    VerifyPackage(bytes.data(), bytes.size(), "-", digest);
    return digest;
}

inline std::string WriteJson(const JValue& value) { return JWriter::write(value); }

inline std::wstring RegString(HKEY root, const wchar_t* key, const wchar_t* name, REGSAM view = kRegView) {
    HKEY h = nullptr;
    std::wstring value;
    if (RegOpenKeyExW(root, key, 0, KEY_READ | view, &h) != ERROR_SUCCESS) return L"<no key>";
    if (!ReadRegString(h, name, 1024, value)) value = L"<no value>";
    RegCloseKey(h);
    return value;
}

inline bool RegDword(HKEY root, const wchar_t* key, const wchar_t* name, uint32_t& value) {
    HKEY h = nullptr;
    if (RegOpenKeyExW(root, key, 0, KEY_READ | kRegView, &h) != ERROR_SUCCESS) return false;
    const bool ok = ReadRegDword(h, name, value);
    RegCloseKey(h);
    return ok;
}

inline bool KeyExists(HKEY root, const wchar_t* key, REGSAM view = kRegView) {
    HKEY h = nullptr;
    if (RegOpenKeyExW(root, key, 0, KEY_READ | view, &h) != ERROR_SUCCESS) return false;
    RegCloseKey(h);
    return true;
}

inline void SetUserDword(const wchar_t* name, DWORD value) {
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &h, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(h, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(h);
}

// Removes what an installation of the sample leaves on the machine besides
// its folder: the uninstall entry, the user's settings, the links, the
// product's configuration file and the sample programs' record of their runs.
inline void CleanMachineState() {
    HKEY parent = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallParentKey, 0, KEY_ALL_ACCESS | kRegView, &parent) ==
        ERROR_SUCCESS) {
        RegDeleteTreeW(parent, kUninstallEntryName);
        RegCloseKey(parent);
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
    DeleteFileW(LinkPathIn(CommonDesktopFolder(), L"Quillo 3").c_str());
    DeleteFileW(LinkPathIn(QuickLaunchFolder(), L"Quillo 3").c_str());
    std::error_code ec;
    fs::remove_all(StartMenuFolder(), ec);
    fs::remove(ProductConfigFile(), ec);
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    fs::remove(std::wstring(temp) + L"quillo-sample-runs.txt", ec);
}

// A test on a machine that the sample product is installed on and removed
// from: the sample's setup file read, a scratch folder "<prefix> N" on drive
// C:, and the machine state cleaned before and after.
class SampleMachineTest : public ::testing::Test {
protected:
    explicit SampleMachineTest(const wchar_t* rootPrefix) : rootPrefix_(rootPrefix) {}

    void SetUp() override {
        sample_ = EnvPath("QUILLO_SAMPLE_SETUP");
        ASSERT_FALSE(sample_.empty()) << "QUILLO_SAMPLE_SETUP is not set";
        ASSERT_EQ(ReadSetupImage(sample_, stub_), 0);
        static int counter = 0;
        root_ = rootPrefix_ + std::to_wstring(++counter);
        std::error_code ec;
        fs::create_directories(root_, ec);
        // Windows has the Quick Launch folder; a fresh Wine prefix does not.
        SHCreateDirectoryExW(nullptr, QuickLaunchFolder().c_str(), nullptr);
        CleanMachineState();
    }
    void TearDown() override {
        CleanMachineState();
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    std::wstring sample_, root_;
    SetupImage stub_;

private:
    std::wstring rootPrefix_;
};

// Writes a string value under HKEY_LOCAL_MACHINE in the program's view.
inline void SetMachineString(const wchar_t* key, const wchar_t* name, const std::wstring& value) {
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_SET_VALUE | kRegView, nullptr, &h, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(h);
}

}  // namespace test
}  // namespace quillo
