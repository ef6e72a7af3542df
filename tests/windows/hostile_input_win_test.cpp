// Hostile setup files and uninstall manifests, made from the sample's setup
// file: damaged at every boundary of the appended data, lengths that wrap,
// entries that escape, claimed entry counts, deep and wrongly typed JSON.
// Each must end with its error code or a clean refusal, leave drive C: as it
// was outside the installation folder, and remove nothing it must keep. The
// counts of each outcome are printed at the end.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/AppendedBlock.h"
#include "app/UninstallManifest.h"
#include "base/Base64.h"
#include "base/SystemInfo.h"
#include "base/TextCodec.h"
#include "base/UserPrompt.h"
#include "install/Registry.h"
#include "install/Shortcuts.h"
#include "tests/windows/TestDialogs.h"
#include "tests/windows/TestInstallFiles.h"
#include "tests/windows/TestProgressWindow.h"
#include "tests/windows/TestZip.h"

namespace fs = std::filesystem;

namespace quillo {
namespace {

using namespace test;

std::wstring Lower(std::wstring s) {
    for (wchar_t& c : s) c = static_cast<wchar_t>(towlower(c));
    return s;
}

// Every file and folder of drive C: with its size and write time, except the
// folders named (and what lies below them).
using Snapshot = std::map<std::wstring, std::pair<uint64_t, uint64_t>>;

void Walk(const std::wstring& folder, const std::vector<std::wstring>& skipped, Snapshot& out) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = folder + L"\\" + name;
        const std::wstring key = Lower(path);
        bool skip = false;
        for (const std::wstring& s : skipped) skip = skip || key == s;
        if (skip) continue;
        const bool isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const uint64_t size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        const uint64_t time = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                              data.ftLastWriteTime.dwLowDateTime;
        out[key] = {isFolder ? 0 : size, isFolder ? 0 : time};
        if (isFolder && !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) Walk(path, skipped, out);
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

// What changed between two snapshots, one line per path.
std::string Changes(const Snapshot& before, const Snapshot& after) {
    std::string out;
    for (const auto& [path, value] : before) {
        auto it = after.find(path);
        if (it == after.end()) out += "removed " + WideToUtf8(path) + "\n";
        else if (it->second != value) out += "changed " + WideToUtf8(path) + "\n";
    }
    for (const auto& [path, value] : after) {
        if (!before.count(path)) out += "added " + WideToUtf8(path) + "\n";
    }
    return out;
}

std::string CodesText(const std::map<int, int>& counts) {
    std::string out;
    for (const auto& [code, n] : counts) {
        char line[64];
        std::snprintf(line, sizeof line, "%scode %d: %d", out.empty() ? "" : ", ", code, n);
        out += line;
    }
    return out;
}

class HostileInputTest : public SampleMachineTest {
protected:
    HostileInputTest() : SampleMachineTest(L"C:\\Hostile ") {}

    void SetUp() override {
        SampleMachineTest::SetUp();
        installDir_ = root_ + L"\\Quillo 3";
        package_ = stub_.PackageCopy();
        good_ = MakeSetupFile(stub_, BlockWith(stub_.block, package_), package_);
        // The scratch folder and the temporary folder are looked at apart.
        std::wstring temp = TempFolder();
        while (!temp.empty() && temp.back() == L'\\') temp.pop_back();
        skipped_ = {Lower(root_), Lower(temp)};
        Walk(L"C:", skipped_, before_);
        // Every case runs as an unattended run does: no box may reach the
        // screen (the answerer of each test would see it), each is answered
        // by the prompt itself.
        SetUnattended(true);
        answeredBefore_ = UnattendedAnswers();
    }

    void TearDown() override {
        SetUnattended(false);
        SampleMachineTest::TearDown();
    }

    static std::string BlockWith(JValue block, const std::vector<uint8_t>& package) {
        block["md5"] = Md5Of(package);
        return WriteJson(block);
    }

    std::vector<std::wstring> TempFiles() const {
        std::vector<std::wstring> names;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(TempFolder(), ec)) names.push_back(entry.path().wstring());
        return names;
    }

    // Installs one setup file the way the program would and checks that it
    // either installed or failed cleanly with one of `codes`. An installation
    // is removed by its own uninstaller when `uninstall` is set (which takes a
    // few seconds under Wine), else by the test. Returns the code.
    int Attempt(const std::string& what, const std::vector<uint8_t>& file, const std::set<int>& codes,
                bool uninstall = false) {
        SCOPED_TRACE(what);
        const std::wstring setup = root_ + L"\\case.exe";
        WriteBytes(setup, file);
        const std::vector<std::wstring> tempBefore = TempFiles();

        TestProgressWindow w;
        w.installMode = 1;
        w.installDir = installDir_;
        w.extraPack = 0;
        w.drivers64 = 1;
        // The startup takes the digest and channel from the block it read.
        SetupImage image;
        if (ReadSetupImage(setup, image) == 0) {
            w.packageDigest = image.block.get("md5").asString();
            w.channel = image.block.get("channel").asInt();
            w.extraPack = image.block.get("extrapack").asBool() ? 1 : 0;
        }
        const int code = w.Install(setup);
        ++counts_[code];
        EXPECT_TRUE(codes.count(code)) << "code " << code;

        std::vector<std::wstring> leftInTemp;
        for (const std::wstring& name : TempFiles()) {
            if (std::find(tempBefore.begin(), tempBefore.end(), name) == tempBefore.end()) leftInTemp.push_back(name);
        }
        if (code == 0) {
            EXPECT_EQ(w.doneCount, 1);
            EXPECT_TRUE(Exists(installDir_ + L"\\unins000.exe"));
            if (uninstall) {
                TestProgressWindow u;
                u.installMode = 1;
                EXPECT_TRUE(u.Uninstall(installDir_ + L"\\unins000.exe"));
            } else {
                // Wine's desktop may still be looking at the new links for a
                // moment; the folder goes once it lets go.
                std::error_code ec;
                for (int i = 0; i < 40 && Exists(installDir_); ++i) {
                    if (!fs::remove_all(installDir_, ec)) Sleep(50);
                    if (Exists(installDir_)) Sleep(50);
                }
                CleanMachineState();
            }
            for (const std::wstring& name : leftInTemp) {
                // A handed-over library stays for the success window.
                if (name == w.detectorLibrary) DeleteFileW(name.c_str());
                else ADD_FAILURE() << "left in the temporary folder: " << WideToUtf8(name);
            }
        } else {
            EXPECT_EQ(w.failures, std::vector<int>{code});
            EXPECT_EQ(w.doneCount, 0);
            // Only a package that failed its digest check stays behind.
            EXPECT_EQ(leftInTemp.size(), code == 9 ? 1u : 0u);
            for (const std::wstring& name : leftInTemp) DeleteFileW(name.c_str());
        }
        std::string left;
        std::error_code ec;
        for (const auto& entry : fs::recursive_directory_iterator(installDir_, ec)) left += " " + entry.path().u8string();
        EXPECT_FALSE(Exists(installDir_)) << "code " << code << ", left in the installation folder:" << left;
        fs::remove_all(installDir_, ec);  // one failure is reported once
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
        Snapshot after;
        Walk(L"C:", skipped_, after);
        const std::string changes = Changes(before_, after);
        EXPECT_TRUE(changes.empty()) << changes;
        if (!changes.empty()) before_ = after;  // report each change once
        CleanMachineState();
        ++cases_;
        return code;
    }

    void Report(const char* what) const {
        std::printf("[ counts   ] %s: %d cases; %s; %ld boxes answered unattended\n", what, cases_,
                    CodesText(counts_).c_str(), UnattendedAnswers() - answeredBefore_);
    }

    std::wstring installDir_;
    std::vector<uint8_t> package_, good_;
    std::vector<std::wstring> skipped_;
    Snapshot before_;
    std::map<int, int> counts_;
    int cases_ = 0;
    long answeredBefore_ = 0;
};

// The code ReadSetupImage must give for the sample cut short after `size`
// bytes, or 0 when the package is whole.
int CodeForLength(uint64_t size, uint32_t lfanew, uint32_t O, uint32_t L, uint32_t P) {
    if (size < lfanew || O > size) return 1;  // no locator, or it points beyond the end
    if (uint64_t(O) + 4 + L > size) return 3;
    if (uint64_t(O) + 8 + L + P > size) return 5;
    return 0;
}

TEST_F(HostileInputTest, DamagedSetupFilesFailWithTheirCodeAndLeaveNoTrace) {
    DialogAnswerer answerer(IDOK);
    const uint32_t lfanew = LoadLe32(good_.data() + kLfanewOffset);
    const uint32_t O = stub_.offset;
    const uint32_t L = LoadLe32(good_.data() + O);
    const uint32_t P = LoadLe32(good_.data() + O + 4 + L);
    const uint32_t S = static_cast<uint32_t>(good_.size());
    ASSERT_EQ(uint64_t(O) + 8 + L + P, S);

    // Cut short at every boundary of the layout and one byte either side.
    std::set<uint64_t> cuts;
    for (uint64_t b : {uint64_t(0), uint64_t(kLfanewOffset), uint64_t(0x40), uint64_t(lfanew) - 4, uint64_t(lfanew),
                       uint64_t(O), uint64_t(O) + 4, uint64_t(O) + 4 + L / 2, uint64_t(O) + 4 + L,
                       uint64_t(O) + 8 + L, uint64_t(O) + 8 + L + P / 2, uint64_t(S)}) {
        for (int64_t d = -1; d <= 1; ++d) {
            if (int64_t(b) + d >= 0 && int64_t(b) + d <= int64_t(S)) cuts.insert(b + d);
        }
    }
    for (uint64_t cut : cuts) {
        const std::vector<uint8_t> file(good_.begin(), good_.begin() + static_cast<ptrdiff_t>(cut));
        const int expected = CodeForLength(cut, lfanew, O, L, P);
        Attempt("cut at " + std::to_string(cut), file, {expected});
    }

    // Header and length fields set to values that miss, or that wrap in 32 bits.
    auto with = [&](uint32_t at, uint32_t value) {
        std::vector<uint8_t> f = good_;
        StoreLe32(f.data() + at, value);
        return f;
    };
    for (uint32_t v : {0u, 1u, 3u, 0x40u, S, S + 1, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
        // e_lfanew decides where the locator is read; a locator outside the
        // file, or one that is not a plausible offset, never reads as a block.
        Attempt("e_lfanew " + std::to_string(v), with(kLfanewOffset, v), {1, 3, 4, 5});
    }
    for (uint32_t v : {0u, S + 1, 0x80000000u, 0xFFFFFFFFu, 0xFFFFFFFCu}) {
        Attempt("locator " + std::to_string(v), with(lfanew - 4, v), {1});
    }
    Attempt("locator at the end of the file", with(lfanew - 4, S), {3});
    for (uint32_t v : {1u, 0x40u, O - 1, O + 1}) {
        Attempt("locator " + std::to_string(v), with(lfanew - 4, v), {3, 4, 5});
    }
    for (uint32_t v : {S - O - 3, 0x7FFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFCu, 0xFFFFFFFFu - O - 3, 0u - O}) {
        Attempt("block length " + std::to_string(v), with(O, v), {3});
    }
    for (uint32_t v : {0u, 1u, L - 1, L + 1, S - O - 4}) {
        Attempt("block length " + std::to_string(v), with(O, v), {4, 5});
    }
    for (uint32_t v : {P + 1, 0x7FFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFF8u, 0u - (O + 8 + L), 0u - (O + 4 + L)}) {
        Attempt("package length " + std::to_string(v), with(O + 4 + L, v), {5});
    }
    for (uint32_t v : {0u, 1u, P - 1, P / 2}) {
        Attempt("package length " + std::to_string(v), with(O + 4 + L, v), {9});
    }

    // Single bytes changed inside the package: the digest catches every one.
    for (uint32_t i = 0; i < 12; ++i) {
        std::vector<uint8_t> f = good_;
        f[O + 8 + L + (uint64_t(P) * i) / 12] ^= 0x5A;
        Attempt("package byte " + std::to_string(i), f, {9});
    }
    // Bytes changed inside the block text: whatever it then says, the run
    // ends cleanly.
    for (uint32_t i = 0; i < 12; ++i) {
        std::vector<uint8_t> f = good_;
        f[O + 4 + (uint64_t(L) * i) / 12] ^= 0x20;
        Attempt("block byte " + std::to_string(i), f, {0, 4, 7, 8, 9});
    }

    // Trailing sections whose lengths wrap: an extra section that does not fit
    // is passed over, and the installation goes on without it.
    JValue extraBlock = stub_.block;
    extraBlock["extrapack"] = true;
    for (uint32_t v : {0xFFFFFFFFu, 0xFFFFFFFCu, 0x80000000u, 0u - (S + 4)}) {
        std::vector<uint8_t> f = MakeSetupFile(stub_, BlockWith(extraBlock, package_), package_);
        AppendLe32(f, v);
        f.insert(f.end(), 16, 0x4D);
        Attempt("extra section length " + std::to_string(v), f, {0});
    }
    Report("damaged setup files");
    EXPECT_TRUE(answerer.seen().empty()) << "a box reached the screen of an unattended run";
}

TEST_F(HostileInputTest, HostilePackagesAreRefusedWithoutWritingOutside) {
    DialogAnswerer answerer(IDOK);
    std::error_code ec;
    auto zipOf = [&](const std::vector<std::pair<std::string, std::string>>& entries) {
        const std::wstring path = root_ + L"\\package.zip";
        {
            ZipBuilder zip(path);
            for (const auto& [name, data] : entries) zip.Add(name, data);
        }
        std::vector<uint8_t> bytes = ReadBytes(path);
        DeleteFileW(path.c_str());
        return bytes;
    };
    auto setupOf = [&](const std::vector<uint8_t>& package) {
        return MakeSetupFile(stub_, BlockWith(stub_.block, package), package);
    };

    // Names that would leave the installation folder, or name a device.
    const char* escaping[] = {"../escaped.txt",
                              "..\\escaped.txt",
                              "a/../../escaped.txt",
                              "a\\..\\..\\escaped.txt",
                              "./../escaped.txt",
                              "a/./../../../escaped.txt",
                              ". ./escaped.txt",
                              ".../escaped.txt",
                              "/escaped.txt",
                              "\\escaped.txt",
                              "C:/escaped.txt",
                              "C:escaped.txt",
                              "C:\\Windows\\escaped.txt",
                              "\\\\localhost\\C$\\escaped.txt",
                              "\\\\?\\C:\\escaped.txt",
                              "\\\\.\\C:\\escaped.txt",
                              "file.txt:stream",
                              "CON",
                              "nul.txt",
                              "Sub/AUX",
                              "COM1.log",
                              "lpt9",
                              "CONIN$",
                              "   ",
                              "a/b/../c.txt",
                              "x64/../escaped.txt",
                              ""};
    for (const char* name : escaping) {
        const std::vector<uint8_t> package = zipOf({{"readme.txt", "fine"}, {name, "out"}});
        Attempt(std::string("entry \"") + name + "\"", setupOf(package), {8});
    }
    EXPECT_FALSE(Exists(L"C:\\escaped.txt"));
    EXPECT_FALSE(Exists(L"C:\\Windows\\escaped.txt"));

    // Names that stay inside, however odd, install and go again.
    for (const char* name : {"dir/./file.txt", "Dots..txt", "x64/inside.txt", "..inside.txt", "CONSOLE.txt"}) {
        const std::vector<uint8_t> package = zipOf({{"readme.txt", "fine"}, {name, "in"}});
        Attempt(std::string("entry \"") + name + "\"", setupOf(package), {0}, true);
    }

    // End-of-directory records that claim more entries than there are, or a
    // directory that lies outside the archive.
    const std::vector<uint8_t> three = zipOf({{"a.txt", "1"}, {"b/c.txt", "2"}, {"d.txt", "3"}});
    const size_t eocd = three.size() - 22;
    ASSERT_EQ(LoadLe32(three.data() + eocd), 0x06054B50u);
    auto patched = [&](size_t at, uint32_t value, int width) {
        std::vector<uint8_t> p = three;
        for (int i = 0; i < width; ++i) p[at + i] = static_cast<uint8_t>(value >> (8 * i));
        return p;
    };
    Attempt("65535 entries claimed", setupOf(patched(eocd + 10, 0xFFFF, 2)), {0, 7, 8});
    Attempt("65535 entries on this disk claimed", setupOf(patched(eocd + 8, 0xFFFF, 2)), {0, 7, 8});
    Attempt("no entries claimed", setupOf(patched(eocd + 10, 0, 2)), {0, 7, 8});
    Attempt("directory size wraps", setupOf(patched(eocd + 12, 0xFFFFFFFF, 4)), {7, 8});
    Attempt("directory offset wraps", setupOf(patched(eocd + 16, 0xFFFFFFF0, 4)), {7, 8});
    Attempt("directory offset beyond", setupOf(patched(eocd + 16, static_cast<uint32_t>(three.size()), 4)), {7, 8});
    {
        // A ZIP64 end record that claims 2^62 entries.
        std::vector<uint8_t> p(three.begin(), three.begin() + static_cast<ptrdiff_t>(eocd));
        const uint64_t record = p.size();
        const uint32_t cdSize = LoadLe32(three.data() + eocd + 12), cdOffset = LoadLe32(three.data() + eocd + 16);
        auto le64 = [&p](uint64_t v) {
            for (int i = 0; i < 8; ++i) p.push_back(static_cast<uint8_t>(v >> (8 * i)));
        };
        AppendLe32(p, 0x06064B50);
        le64(44);
        p.insert(p.end(), {45, 0, 45, 0});
        AppendLe32(p, 0);
        AppendLe32(p, 0);
        le64(uint64_t(1) << 62);
        le64(uint64_t(1) << 62);
        le64(cdSize);
        le64(cdOffset);
        AppendLe32(p, 0x07064B50);
        AppendLe32(p, 0);
        le64(record);
        AppendLe32(p, 1);
        p.insert(p.end(), three.begin() + static_cast<ptrdiff_t>(eocd), three.end());
        for (size_t i = 8; i < 20; ++i) p[p.size() - 22 + i] = 0xFF;  // counts and offsets in the ZIP64 record
        Attempt("2^62 entries claimed", setupOf(p), {0, 7, 8});
    }
    {
        // A package of several read windows installs whole; with its last
        // byte (in the last, short window) damaged the digest still fails.
        std::string big(3 * kSetupReadWindow + 1000, '\0');
        uint32_t x = 99;
        for (char& c : big) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
        const std::vector<uint8_t> package = zipOf({{"big.bin", big}, {"readme.txt", "fine"}});
        ASSERT_GT(package.size(), 3 * kSetupReadWindow);
        std::vector<uint8_t> file = setupOf(package);
        Attempt("a package of several windows", file, {0});
        file.back() ^= 0x01;  // no section follows: the file's last byte is the package's
        Attempt("a package of several windows, last byte damaged", file, {9});
    }
    {
        // A real package of 3,000 entries in 30 folders installs and goes again.
        std::vector<std::pair<std::string, std::string>> many;
        for (int i = 0; i < 3000; ++i) many.push_back({"f" + std::to_string(i % 30) + "/" + std::to_string(i), "x"});
        Attempt("3000 entries", setupOf(zipOf(many)), {0}, true);
    }
    // The refused names would each have shown a box.
    EXPECT_GE(UnattendedAnswers() - answeredBefore_, 27);
    Report("hostile packages");
    EXPECT_TRUE(answerer.seen().empty()) << "a box reached the screen of an unattended run";
}

TEST_F(HostileInputTest, DeepAndWronglyTypedBlocksEndCleanly) {
    DialogAnswerer answerer(IDOK);
    auto setupWith = [&](const std::string& block) { return MakeSetupFile(stub_, block, package_); };
    const std::string md5 = Md5Of(package_);

    // Nesting a hundred thousand deep, inside the block and as the block.
    const size_t depth = 100000;
    const std::string deep = std::string(depth, '[') + std::string(depth, ']');
    JValue base = stub_.block;
    base["md5"] = md5;
    std::string text = WriteJson(base);
    Attempt("deep member", setupWith(text.substr(0, text.size() - 1) + ",\"deep\":" + deep + "}"), {0});
    Attempt("deep block", setupWith(deep), {4});
    Attempt("unclosed deep block", setupWith(std::string(depth, '{')), {4});
    Attempt("deep shortcut", setupWith(text.substr(0, text.size() - 1) + ",\"shortcut\":" + deep + "}"), {0});

    // Every key that the install sequence reads, with every wrong type. The
    // keys that only the startup reads are covered by the native tests.
    const char* keys[] = {"channel", "md5", "extrapack", "shortcut", "lastrun", "instrun", "instoptions", "uninstrun"};
    const char* values[] = {"null", "false", "-1", "1.5e300", "\"../x\"", "[1,null,{}]",
                            "{\"desktop\":7,\"taskbar\":[{\"name\":[],\"file\":{}}]}"};
    for (const char* key : keys) {
        const std::string k = key;
        for (const char* value : values) {
            JValue block = base;
            JValue parsed;
            ASSERT_TRUE(JReader().parse(value, parsed));
            block[key] = parsed;
            // Without a usable digest the package is refused (9); every other
            // key is only data for a step that copes with it. What the
            // uninstaller reads back is removed by the uninstaller.
            const bool uninstall = k == "shortcut" || k == "uninstrun" || k == "channel";
            Attempt(k + " = " + value, setupWith(WriteJson(block)), k == "md5" ? std::set<int>{9} : std::set<int>{0},
                    uninstall);
        }
    }
    Report("deep and wrongly typed blocks");
    EXPECT_TRUE(answerer.seen().empty()) << "a box reached the screen of an unattended run";
}

// Manifests that name what no uninstaller may take: drives, the system's and
// the users' folders, paths outside the installation folder, device and short
// forms, and members of the wrong type.
TEST_F(HostileInputTest, HostileManifestsRemoveNothingTheyMustNot) {
    const std::wstring documents = SpecialFolder(CSIDL_PERSONAL);
    const std::wstring profile = SpecialFolder(CSIDL_PROFILE);
    const std::wstring appData = SpecialFolder(CSIDL_APPDATA);
    const std::wstring desktop = SpecialFolder(CSIDL_DESKTOPDIRECTORY);
    const std::wstring windows = SpecialFolder(CSIDL_WINDOWS);
    const std::wstring outside = L"C:\\Hostile Outside";
    ASSERT_FALSE(documents.empty() || profile.empty() || appData.empty() || windows.empty() || desktop.empty());
    std::error_code ec;
    fs::create_directories(outside + L"\\sub", ec);
    const std::vector<std::wstring> keep = {
        documents + L"\\Keep.exe", profile + L"\\Keep.dll", appData + L"\\Keep.txt", desktop + L"\\Keep.exe",
        outside + L"\\Keep.exe",   outside + L"\\sub\\Keep.txt", L"C:\\Keep.exe"};
    for (const std::wstring& file : keep) WriteText(file, "keep");
    // The snapshot of the drive is taken with the markers in place.
    before_.clear();
    Walk(L"C:", skipped_, before_);

    const std::vector<std::wstring> roots = {
        L"C:\\", L"C:", L"c:/", L"\\\\?\\C:\\", L"\\\\.\\C:\\", L"\\\\?\\" + outside, L"\\\\?\\GLOBALROOT",
        windows, windows + L".", windows + L"\\ ", L"C:\\WINDOW~1", profile, documents + L"\\..", desktop,
        root_ + L"\\Quillo 3", L"Relative Folder", L"\\\\localhost\\C$", L"*", L"C:\\Windows\\*", L""};
    std::vector<std::wstring> listed = keep;
    for (const std::wstring& path :
         {windows + L"\\system32\\kernel32.dll", windows + L"\\win.ini", windows + L"\\notepad.exe",
          std::wstring(L"C:\\Keep.exe"), root_ + L"\\..\\Keep.exe", L"\\\\?\\" + outside + L"\\Keep.exe"}) {
        listed.push_back(path);
    }
    std::vector<std::wstring> folders = {outside, outside + L"\\sub", documents, profile, desktop, appData,
                                         windows,  windows + L"\\system32", L"C:\\", L"C:", L"\\\\?\\" + outside,
                                         root_ + L"\\..\\Hostile Outside"};
    int refused = 0, ran = 0;
    auto run = [&](const std::string& what, const JValue& manifest) {
        SCOPED_TRACE(what);
        fs::create_directories(root_, ec);
        const std::wstring uninstaller = root_ + L"\\hostile.exe";
        ASSERT_TRUE(WriteUninstaller(uninstaller, stub_, manifest));
        TestProgressWindow u;
        u.installMode = 1;
        if (u.Uninstall(uninstaller)) ++ran;
        else ++refused;
        for (const std::wstring& file : keep) EXPECT_TRUE(Exists(file)) << WideToUtf8(file);
        Snapshot after;
        Walk(L"C:", skipped_, after);
        const std::string changes = Changes(before_, after);
        EXPECT_TRUE(changes.empty()) << changes;
        if (!changes.empty()) before_ = after;
        ++cases_;
    };
    for (const std::wstring& root : roots) {
        for (int fresh : {-1, 0, 1}) {
            JValue manifest;
            manifest["mode"] = 0;
            manifest["setup"]["root"] = Base64Encode(WideToUtf8(root));
            if (fresh >= 0) manifest[kManifestFreshRoot] = fresh;
            int i = 0;
            for (const std::wstring& file : listed) manifest["files"][i++] = Base64Encode(WideToUtf8(file));
            i = 0;
            for (const std::wstring& folder : folders) manifest["folders"][i++] = Base64Encode(WideToUtf8(folder));
            run("root \"" + WideToUtf8(root) + "\" freshroot " + std::to_string(fresh), manifest);
        }
    }
    // Members of the wrong type.
    const char* values[] = {"null", "7", "\"not base64 ***\"", "[1,null,{},[]]", "{\"a\":\"QzpcV2luZG93cw==\"}"};
    for (const char* key : {"files", "folders", "setup", "root", "freshroot", "uninstrun"}) {
        for (const char* value : values) {
            JValue parsed;
            ASSERT_TRUE(JReader().parse(value, parsed));
            JValue manifest;
            manifest["mode"] = 0;
            manifest["setup"]["root"] = Base64Encode(WideToUtf8(root_ + L"\\Quillo 3"));
            manifest["files"][0] = Base64Encode(WideToUtf8(outside + L"\\Keep.exe"));
            manifest["folders"][0] = Base64Encode(WideToUtf8(outside));
            if (std::string(key) == "root") manifest["setup"]["root"] = parsed;
            else manifest[key] = parsed;
            run(std::string(key) + " = " + value, manifest);
        }
    }
    std::printf("[ counts   ] hostile manifests: %d cases; %d refused as unreadable, %d ran and kept what they must\n",
                cases_, refused, ran);
    for (const std::wstring& file : keep) DeleteFileW(file.c_str());
    fs::remove_all(outside, ec);
}

}  // namespace
}  // namespace quillo
