// Unpacking packages into a real folder of a fresh Wine prefix: the sample
// product for both targets, locked and read-only files, damaged and hostile
// archives, and the rollback after a failure.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/AppendedBlock.h"
#include "app/UninstallManifest.h"
#include "base/CHThread.h"
#include "base/Md5.h"
#include "base/SystemInfo.h"
#include "base/TempFile.h"
#include "base/TextCodec.h"
#include "install/PackageExtractor.h"
#include "install/ProcessTools.h"
#include "install/RunJournal.h"
#include "tests/windows/TestDialogs.h"
#include "tests/windows/TestZip.h"

namespace quillo {
namespace {

std::wstring EnvPath(const char* name) {
    const char* env = std::getenv(name);
    std::wstring path = env ? Utf8ToWide(env) : std::wstring();
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

std::string ReadAll(const std::wstring& path) {
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "<missing>";
    char buffer[65536];
    DWORD n = 0;
    while (ReadFile(file, buffer, sizeof buffer, &n, nullptr) && n > 0) bytes.append(buffer, n);
    CloseHandle(file);
    return bytes;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void WriteText(const std::wstring& path, const std::string& text) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD n = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &n, nullptr);
    CloseHandle(file);
}

// Every file and folder below `root`, relative, folders with a trailing "\".
void Walk(const std::wstring& root, const std::wstring& rel, std::vector<std::wstring>& out) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((root + L"\\" + rel + L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out.push_back(rel + name + L"\\");
            Walk(root, rel + name + L"\\", out);
        } else {
            out.push_back(rel + name);
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
    std::sort(out.begin(), out.end());
}

std::vector<std::wstring> Tree(const std::wstring& root) {
    std::vector<std::wstring> out;
    Walk(root, L"", out);
    return out;
}

void DeleteTree(const std::wstring& path) {
    std::wstring from = path + L'\0';
    SHFILEOPSTRUCTW op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
    SHFileOperationW(&op);
}

using test::ZipBuilder;

// Sets a 16-bit field of the local and the central header of entry `name`
// (offsets within each header: flags 6 / 8, method 8 / 10).
void SetHeaderField(const std::wstring& archive, const std::string& name, size_t local, size_t central,
                    uint16_t value) {
    std::string bytes = ReadAll(archive);
    int patched = 0;
    for (size_t i = 0; i + 46 + name.size() <= bytes.size(); ++i) {
        if (bytes.compare(i, 4, "PK\x03\x04") == 0 && bytes.compare(i + 30, name.size(), name) == 0) {
            bytes[i + local] = static_cast<char>(value & 0xFF);
            bytes[i + local + 1] = static_cast<char>(value >> 8);
            ++patched;
        } else if (bytes.compare(i, 4, "PK\x01\x02") == 0 && bytes.compare(i + 46, name.size(), name) == 0) {
            bytes[i + central] = static_cast<char>(value & 0xFF);
            bytes[i + central + 1] = static_cast<char>(value >> 8);
            ++patched;
        }
    }
    ASSERT_EQ(patched, 2);
    WriteText(archive, bytes);
}

class ExtractionTest : public ::testing::Test {
protected:
    void SetUp() override {
        base_ = TempFolder() + L"extract-test";
        DeleteTree(base_);
        CreateDirectoryW(base_.c_str(), nullptr);
        dir_ = base_ + L"\\Quillo 3";
        owner_ = CreateWindowW(L"STATIC", L"progress", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        PendingOldFile().clear();
    }
    void TearDown() override {
        DestroyWindow(owner_);
        DeleteTree(base_);
    }

    std::wstring ArchivePath() const { return base_ + L"\\package.zip"; }

    bool Extract(bool drivers64, JValue& manifest) {
        return ExtractPackage(ArchivePath(), dir_, drivers64, manifest, owner_);
    }

    // Extracts for the 64-bit target expecting a failure announced by exactly
    // one message box; returns the manifest built so far.
    JValue FailsWithBox(const std::wstring& caption, const std::wstring& text) {
        DialogAnswerer boxes;
        JValue manifest;
        EXPECT_FALSE(Extract(true, manifest)) << "expected to fail on " << WideToUtf8(text);
        const auto seen = boxes.seen();
        EXPECT_EQ(seen.size(), 1u) << WideToUtf8(text);
        if (!seen.empty()) {
            EXPECT_EQ(seen[0].caption, caption);
            EXPECT_EQ(seen[0].text, text);
        }
        return manifest;
    }

    std::vector<std::wstring> Listed(const JValue& manifest, const char* key) const {
        std::vector<std::wstring> paths = ManifestPaths(manifest, key);
        EXPECT_EQ(paths.size(), manifest.get(key).size()) << key << ": every entry a base64 path";
        return paths;
    }

    std::wstring base_, dir_;
    HWND owner_ = nullptr;
};

// ---------------------------------------------------------------------------
// The sample product, packed by mksetup, read as the install sequence reads it.

struct SamplePackage {
    SetupImage setup;
    std::vector<uint8_t> package;
    std::string digest;
};

bool LoadSample(SamplePackage& sample) {
    const std::wstring path = EnvPath("QUILLO_SAMPLE_SETUP");
    if (path.empty() || ReadSetupImage(NativePath(path), sample.setup) != 0) return false;
    sample.package = sample.setup.PackageCopy();
    return VerifyPackage(sample.package.data(), sample.package.size(), sample.setup.block.get("md5").asString(),
                         sample.digest);
}

uint16_t MachineOf(const std::string& image) {
    if (image.size() < 0x40) return 0;
    const uint32_t lfanew = LoadLe32(reinterpret_cast<const uint8_t*>(image.data()) + 0x3C);
    if (lfanew + 6 > image.size()) return 0;
    return static_cast<uint16_t>(static_cast<uint8_t>(image[lfanew + 4]) |
                                 (static_cast<uint8_t>(image[lfanew + 5]) << 8));
}

void CheckSampleExtraction(const std::wstring& dir, bool drivers64, const JValue& manifest,
                           const std::vector<std::wstring>& files, const std::vector<std::wstring>& folders) {
    const std::wstring arch = drivers64 ? L"x64" : L"x86";
    EXPECT_EQ(Tree(dir), (std::vector<std::wstring>{L"AppData\\", L"AppData\\Skins\\", L"AppData\\Skins\\default.txt",
                                                    L"Extensions\\", L"Extensions\\QuilloBHO.dll",
                                                    L"Extensions\\QuilloBHO64.dll", L"Quillo.exe", L"QuilloCore.dll",
                                                    L"QuilloDaemon.exe", L"readme.txt"}));
    EXPECT_EQ(MachineOf(ReadAll(dir + L"\\QuilloCore.dll")), drivers64 ? 0x8664 : 0x14C);
    EXPECT_EQ(MachineOf(ReadAll(dir + L"\\Extensions\\QuilloBHO.dll")), 0x14C);
    EXPECT_EQ(MachineOf(ReadAll(dir + L"\\Extensions\\QuilloBHO64.dll")), 0x8664);

    EXPECT_EQ(files, (std::vector<std::wstring>{
                         dir + L"\\AppData/Skins/default.txt", dir + L"\\Extensions/QuilloBHO.dll",
                         dir + L"\\Extensions/QuilloBHO64.dll", dir + L"\\Quillo.exe", dir + L"\\QuilloDaemon.exe",
                         dir + L"\\readme.txt", dir + L"/QuilloCore.dll"}));
    EXPECT_EQ(folders, (std::vector<std::wstring>{
                           dir + L"\\AppData", dir + L"\\AppData/Skins", dir + L"\\AppData/Skins",
                           dir + L"\\Extensions", dir + L"\\Extensions", dir + L"\\Extensions", dir, dir, dir,
                           dir + L"\\" + arch, dir}));
}

TEST_F(ExtractionTest, SampleProductFor64BitTarget) {
    SamplePackage sample;
    ASSERT_TRUE(LoadSample(sample)) << "QUILLO_SAMPLE_SETUP must name the packed sample product";
    std::wstring archive;
    ASSERT_TRUE(WriteTempArchive(sample.package.data(), sample.package.size(), archive));
    JValue manifest;
    DialogAnswerer boxes;
    ASSERT_TRUE(ExtractPackage(archive, dir_, true, manifest, owner_));
    EXPECT_TRUE(boxes.seen().empty());
    EXPECT_FALSE(Exists(archive)) << "the temporary archive is deleted";
    CheckSampleExtraction(dir_, true, manifest, Listed(manifest, kManifestFiles),
                          Listed(manifest, kManifestFolders));
}

TEST_F(ExtractionTest, SampleProductFor32BitTarget) {
    SamplePackage sample;
    ASSERT_TRUE(LoadSample(sample)) << "QUILLO_SAMPLE_SETUP must name the packed sample product";
    std::wstring archive;
    ASSERT_TRUE(WriteTempArchive(sample.package.data(), sample.package.size(), archive));
    JValue manifest;
    ASSERT_TRUE(ExtractPackage(archive, dir_, false, manifest, owner_));
    CheckSampleExtraction(dir_, false, manifest, Listed(manifest, kManifestFiles),
                          Listed(manifest, kManifestFolders));

    // Rolling back removes everything that was written, the folder included.
    RollBackExtraction(manifest);
    EXPECT_FALSE(Exists(dir_));
}

TEST_F(ExtractionTest, TemporaryArchiveNameAndContent) {
    const std::string package = "PK\x05\x06 not much of a package";
    std::wstring a, b;
    ASSERT_TRUE(WriteTempArchive(package.data(), package.size(), a));
    ASSERT_TRUE(WriteTempArchive(package.data(), package.size(), b));
    EXPECT_NE(a, b);
    const std::wstring temp = TempFolder();
    ASSERT_EQ(a.size(), temp.size() + 1 + 16 + 4);
    EXPECT_EQ(a.substr(0, temp.size() + 1), temp + L"\\");
    EXPECT_EQ(a.substr(a.size() - 4), L".zip");
    for (size_t i = temp.size() + 1; i < temp.size() + 17; ++i) {
        EXPECT_TRUE((a[i] >= L'0' && a[i] <= L'9') || (a[i] >= L'A' && a[i] <= L'F')) << i;
    }
    EXPECT_EQ(ReadAll(a), package);
    DeleteFileW(a.c_str());
    DeleteFileW(b.c_str());
}

TEST_F(ExtractionTest, NotAZipArchive) {
    WriteText(ArchivePath(), "this is not a zip archive at all");
    EXPECT_FALSE(CanOpenArchive(ArchivePath()));
    JValue manifest;
    EXPECT_FALSE(Extract(true, manifest));
    EXPECT_FALSE(Exists(ArchivePath())) << "deleted";
    EXPECT_FALSE(Exists(dir_));
}

TEST_F(ExtractionTest, ArchitectureFoldersOnBothTargets) {
    for (bool drivers64 : {true, false}) {
        {
            ZipBuilder zip(ArchivePath());
            zip.Folder("x64/");
            zip.Add("x64/Foo.dll", "sixty-four");
            zip.Folder("x86/");
            zip.Add("x86/Foo.dll", "thirty-two");
            zip.Add("Tools/helper_x86.exe", "32-bit helper");
        }
        JValue manifest;
        ASSERT_TRUE(Extract(drivers64, manifest));
        EXPECT_EQ(ReadAll(dir_ + L"\\Foo.dll"), drivers64 ? "sixty-four" : "thirty-two");
        EXPECT_EQ(Tree(dir_), drivers64 ? (std::vector<std::wstring>{L"Foo.dll"})
                                        : (std::vector<std::wstring>{L"Foo.dll", L"Tools\\", L"Tools\\helper_x86.exe"}))
            << "the empty architecture folder is removed, the other one never made";
        const std::wstring arch = drivers64 ? L"x64" : L"x86";
        EXPECT_EQ(Listed(manifest, kManifestFolders).front(), dir_ + L"\\" + arch);
        EXPECT_EQ(Listed(manifest, kManifestFiles).front(), dir_ + L"/Foo.dll");
        DeleteTree(dir_);
    }
}

TEST_F(ExtractionTest, NestedFilesWithoutFolderEntries) {
    {
        ZipBuilder zip(ArchivePath());
        zip.Add("a/b/c.txt", "deep");
        zip.Add("top.txt", "top");
    }
    JValue manifest;
    ASSERT_TRUE(Extract(true, manifest));
    EXPECT_EQ(ReadAll(dir_ + L"\\a\\b\\c.txt"), "deep");
    EXPECT_EQ(Listed(manifest, kManifestFolders), (std::vector<std::wstring>{dir_ + L"\\a/b", dir_}));
    RollBackExtraction(manifest);
    EXPECT_FALSE(Exists(dir_ + L"\\a\\b\\c.txt"));
}

TEST_F(ExtractionTest, NamesLeavingTheFolderAreRefusedAndNothingIsWrittenOutside) {
    const std::string outside = WideToUtf8(base_.substr(0, 2));  // drive, e.g. "C:"
    for (const std::string& hostile :
         {std::string("../evil.txt"), std::string("..\\evil.txt"), std::string("sub/../../evil.txt"),
          std::string("/evil.txt"), std::string("\\evil.txt"), outside + "\\evil.txt", outside + "evil.txt",
          std::string("\\\\localhost\\C$\\evil.txt"), std::string("sub/.../evil.txt")}) {
        {
            ZipBuilder zip(ArchivePath());
            zip.Add("first.txt", "ok");
            zip.Folder("sub/");
            zip.Add(hostile, "escaped");
            zip.Add("after.txt", "never reached");
        }
        RollBackExtraction(FailsWithBox(L"path not exist", Utf8ToWide(hostile)));
        EXPECT_FALSE(Exists(base_ + L"\\evil.txt")) << hostile;
        EXPECT_FALSE(Exists(base_.substr(0, 3) + L"evil.txt")) << hostile;
        EXPECT_FALSE(Exists(dir_ + L"\\after.txt"));
        EXPECT_FALSE(Exists(dir_)) << "rolled back: " << hostile;
    }
}

TEST_F(ExtractionTest, FailureMidPackageRollsBackButKeepsEarlierFiles) {
    // An earlier installation in the same folder.
    CreateDirectoryW(dir_.c_str(), nullptr);
    CreateDirectoryW((dir_ + L"\\AppData").c_str(), nullptr);
    WriteText(dir_ + L"\\settings.ini", "user settings");
    WriteText(dir_ + L"\\AppData\\history.db", "history");
    WriteText(dir_ + L"\\Locked.dat", "old");
    // Held by this process without sharing: it cannot be written, deleted or moved.
    HANDLE lock = CreateFileW((dir_ + L"\\Locked.dat").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    {
        ZipBuilder zip(ArchivePath());
        zip.Add("new.txt", "new");
        zip.Folder("AppData/");
        zip.Folder("AppData/Skins/");
        zip.Add("AppData/Skins/blue.txt", "blue");
        zip.Add("Locked.dat", "replacement");
        zip.Add("later.txt", "never reached");
    }
    const JValue manifest = FailsWithBox(L"touch file failed", L"Locked.dat");
    EXPECT_EQ(Listed(manifest, kManifestFiles),
              (std::vector<std::wstring>{dir_ + L"\\new.txt", dir_ + L"\\AppData/Skins/blue.txt"}));

    RollBackExtraction(manifest);
    CloseHandle(lock);
    EXPECT_EQ(Tree(dir_), (std::vector<std::wstring>{L"AppData\\", L"AppData\\history.db", L"Locked.dat",
                                                     L"settings.ini"}));
    EXPECT_EQ(ReadAll(dir_ + L"\\Locked.dat"), "old");
    EXPECT_FALSE(Exists(ArchivePath()));
}

// A folder of an earlier installation set aside in one rename: taken back
// whole, or entry by entry into a folder the run made at its name again,
// and deleted whole (a read-only file and a nested folder included) when
// the run stands.
TEST_F(ExtractionTest, AFolderSetAsideWholeGoesBackOrGoesWhole) {
    struct Row {
        const char* name;
        bool standsAgain;  // the run put a folder of that name there
        bool commit;
    };
    const Row rows[] = {{"taken back, the name free", false, false},
                        {"taken back into a folder standing again", true, false},
                        {"committed", true, true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        DeleteTree(dir_);
        const std::wstring data = dir_ + L"\\data";
        CreateDirectoryW(dir_.c_str(), nullptr);
        CreateDirectoryW(data.c_str(), nullptr);
        CreateDirectoryW((data + L"\\deep").c_str(), nullptr);
        WriteText(data + L"\\a.txt", "earlier a");
        WriteText(data + L"\\deep\\b.txt", "earlier b");
        ASSERT_TRUE(SetFileAttributesW((data + L"\\deep\\b.txt").c_str(), FILE_ATTRIBUTE_READONLY));
        const std::vector<std::wstring> earlier = Tree(data);

        RunJournal journal;
        ASSERT_TRUE(journal.Begin(dir_).ok());
        const std::wstring runFolder = journal.folder();
        const FileMove move{data, journal.NewBackupPath()};
        ASSERT_TRUE(journal.RecordMoves({move}).ok());
        ASSERT_TRUE(MoveFileExW(move.first.c_str(), move.second.c_str(), 0));
        EXPECT_FALSE(Exists(data));
        if (row.standsAgain) {
            CreateDirectoryW(data.c_str(), nullptr);
            WriteText(data + L"\\a.txt", "new a");
        }
        if (row.commit) {
            journal.Commit({});
            EXPECT_EQ(Tree(data), (std::vector<std::wstring>{L"a.txt"}));
            EXPECT_EQ(ReadAll(data + L"\\a.txt"), "new a");
        } else {
            journal.RollBack();
            EXPECT_EQ(Tree(data), earlier);
            EXPECT_EQ(ReadAll(data + L"\\a.txt"), "earlier a");
            EXPECT_EQ(ReadAll(data + L"\\deep\\b.txt"), "earlier b");
        }
        EXPECT_FALSE(Exists(move.second));
        EXPECT_FALSE(Exists(data + L".old")) << "nothing is left to the restart";
        EXPECT_FALSE(Exists(runFolder));
    }
}

TEST_F(ExtractionTest, LockedBrowserExtensionFailsWithoutAMessage) {
    CreateDirectoryW(dir_.c_str(), nullptr);
    CreateDirectoryW((dir_ + L"\\Extensions").c_str(), nullptr);
    WriteText(dir_ + L"\\Extensions\\npQuillo.dll", "loaded by a browser");
    HANDLE lock = CreateFileW((dir_ + L"\\Extensions\\npQuillo.dll").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    {
        ZipBuilder zip(ArchivePath());
        zip.Folder("Extensions/");
        zip.Add("Extensions/npQuillo.dll", "new plug-in");
    }
    DialogAnswerer boxes;
    JValue manifest;
    EXPECT_FALSE(Extract(true, manifest));
    Sleep(300);
    EXPECT_TRUE(boxes.seen().empty());
    CloseHandle(lock);
}

TEST_F(ExtractionTest, ReadOnlyFileOfAnEarlierInstallationIsReplaced) {
    CreateDirectoryW(dir_.c_str(), nullptr);
    const std::wstring path = dir_ + L"\\Quillo.exe";
    WriteText(path, "old program");
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    // A plain file is written over, and nothing of its longer old text stays.
    WriteText(dir_ + L"\\readme.txt", "before, and longer than after");
    {
        ZipBuilder zip(ArchivePath());
        zip.Add("Quillo.exe", "new program");
        zip.Add("readme.txt", "after");
    }
    DialogAnswerer boxes;
    JValue manifest;
    ASSERT_TRUE(Extract(true, manifest));
    EXPECT_TRUE(boxes.seen().empty());
    EXPECT_EQ(ReadAll(path), "new program");
    EXPECT_EQ(ReadAll(dir_ + L"\\readme.txt"), "after");
    EXPECT_TRUE(PendingOldFile().empty());
    EXPECT_EQ(Listed(manifest, kManifestFiles), (std::vector<std::wstring>{path, dir_ + L"\\readme.txt"}));
    SetFileAttributesW((path + L".old").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(ExtractionTest, UnreadableEntryIsListedButNotWritten) {
    {
        ZipBuilder zip(ArchivePath());
        zip.Add("bzip2.bin", "BZh91AY&SY not really", 0);
        zip.Add("secret.bin", "encrypted bytes");
        zip.Add("after.txt", "after");
    }
    SetHeaderField(ArchivePath(), "bzip2.bin", 8, 10, 12);  // a method that cannot be read
    SetHeaderField(ArchivePath(), "secret.bin", 6, 8, 1);   // flagged as encrypted
    DialogAnswerer boxes;
    JValue manifest;
    ASSERT_TRUE(Extract(true, manifest));
    EXPECT_FALSE(Exists(dir_ + L"\\bzip2.bin"));
    EXPECT_EQ(ReadAll(dir_ + L"\\after.txt"), "after");
    EXPECT_EQ(Listed(manifest, kManifestFiles),
              (std::vector<std::wstring>{dir_ + L"\\bzip2.bin", dir_ + L"\\secret.bin", dir_ + L"\\after.txt"}));
    EXPECT_FALSE(Exists(dir_ + L"\\secret.bin"));
    EXPECT_TRUE(boxes.seen().empty());
}

TEST_F(ExtractionTest, DamagedDataFailsAndLeavesNoPartFile) {
    {
        ZipBuilder zip(ArchivePath());
        zip.Add("good.txt", "good");
        // Deflate data that breaks off: a stored block header promising more
        // bytes than follow, then garbage.
        zip.AddRaw("damaged.bin", std::string("\x00\xff\x00\x00\xff", 5) + std::string(64, '\x5a'), Z_DEFLATED,
                   0xDEADBEEF, 65535);
    }
    const JValue manifest = FailsWithBox(L"unzReadCurrentFile", L"damaged.bin");
    EXPECT_FALSE(Exists(dir_ + L"\\damaged.bin"));
    EXPECT_EQ(Listed(manifest, kManifestFiles), (std::vector<std::wstring>{dir_ + L"\\good.txt"}));
}

TEST_F(ExtractionTest, EmptyNameStopsWithTheMessage) {
    {
        ZipBuilder zip(ArchivePath());
        zip.Add("a.txt", "a");
        zip.Add("   ", "blank name");
    }
    RollBackExtraction(FailsWithBox(L"path not exist", L""));
    EXPECT_FALSE(Exists(dir_));
}

// ---------------------------------------------------------------------------
// A file held by another running program: the in-use question.

// Started as a separate process by the test below; holds its own executable
// (a copy placed in the installation folder) until it is ended.
TEST(ExtractionHelper, DISABLED_HoldFile) {
    Sleep(60000);
}

class InUseTest : public ExtractionTest {
protected:
    void StartHolder() {
        CreateDirectoryW(dir_.c_str(), nullptr);
        holder_ = dir_ + L"\\Holder.exe";
        ASSERT_TRUE(CopyFileW(ModuleFilePath().c_str(), holder_.c_str(), FALSE));
        std::wstring line = L"\"" + holder_ + L"\" --gtest_filter=ExtractionHelper.DISABLED_HoldFile "
                            L"--gtest_also_run_disabled_tests";
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        ASSERT_TRUE(CreateProcessW(holder_.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_));
        Sleep(1500);  // let it load
        ASSERT_EQ(WaitForSingleObject(pi_.hProcess, 0), WAIT_TIMEOUT);
        ZipBuilder zip(ArchivePath());
        zip.Add("Holder.exe", "replacement");
    }
    void TearDown() override {
        if (pi_.hProcess) {
            TerminateProcess(pi_.hProcess, 0);
            WaitForSingleObject(pi_.hProcess, 5000);
            CloseHandle(pi_.hProcess);
            CloseHandle(pi_.hThread);
        }
        ExtractionTest::TearDown();
    }
    std::wstring holder_;
    PROCESS_INFORMATION pi_ = {};
};

TEST_F(InUseTest, AnsweringYesEndsTheProgramAndReplacesTheFile) {
    StartHolder();
    DialogAnswerer boxes(IDYES);
    JValue manifest;
    ASSERT_TRUE(Extract(true, manifest));
    const auto seen = boxes.seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, L"关闭占用");
    EXPECT_EQ(seen[0].text, L"检测到程序\u201dHolder.exe\u201c正在运行, 您必须结束该程序才能继续安装, 是否继续?");
    EXPECT_EQ(WaitForSingleObject(pi_.hProcess, 5000), WAIT_OBJECT_0) << "the holder was ended";
    EXPECT_EQ(ReadAll(holder_), "replacement");
    EXPECT_FALSE(Exists(holder_ + L".old"));
}

TEST_F(InUseTest, AnsweringNoLeavesTheProgramRunning) {
    StartHolder();
    DialogAnswerer boxes(IDNO);
    JValue manifest;
    const bool ok = Extract(true, manifest);
    const auto seen = boxes.seen();
    ASSERT_GE(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, L"关闭占用");
    EXPECT_EQ(WaitForSingleObject(pi_.hProcess, 0), WAIT_TIMEOUT) << "still running";
    // The running program's file is moved aside to ".old" and replaced; the
    // ".old" file stays while the program runs.
    ASSERT_TRUE(ok);
    EXPECT_EQ(ReadAll(holder_), "replacement");
    EXPECT_TRUE(Exists(holder_ + L".old"));
}

// A scanner that opens a fresh file for a moment: the delete is tried again
// until it lets go; a holder that never lets go ends the retries, bounded.
TEST_F(InUseTest, BriefSharingViolationsAreRetriedAndLongOnesGiveUp) {
    CreateDirectoryW(dir_.c_str(), nullptr);
    const std::wstring file = dir_ + L"\\scanned.txt";
    HANDLE held = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const long before = SharingRetries();
    CHThread scanner;
    ASSERT_TRUE(scanner.Start([&](CHThread*) {
        Sleep(40);
        CloseHandle(held);
    }));
    EXPECT_TRUE(RetryWhileShared([&] { return DeleteFileW(file.c_str()) != FALSE; }));
    scanner.WaitPumpingMessages();
    EXPECT_FALSE(Exists(file));
    EXPECT_GT(SharingRetries(), before);

    held = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const long retriesBefore = SharingRetries();
    EXPECT_FALSE(RetryWhileShared([&] { return DeleteFileW(file.c_str()) != FALSE; }));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(SharingRetries() - retriesBefore, 5) << "a few retries, then it gives up";
    CloseHandle(held);
    DeleteFileW(file.c_str());
}

// The extraction on a worker thread while the window's thread waits and
// keeps dispatching: the boxes are owned by the window of the other thread.
TEST_F(ExtractionTest, RunsOnAWorkerWithBoxesOwnedByTheWindow) {
    {
        ZipBuilder zip(ArchivePath());
        zip.Add("a.txt", "a");
        zip.Add("../escape.txt", "no");
    }
    DialogAnswerer boxes;
    JValue manifest;
    bool result = true;
    CHThread worker;
    ASSERT_TRUE(worker.Start([&](CHThread*) { result = Extract(true, manifest); }));
    worker.WaitPumpingMessages();
    EXPECT_FALSE(result);
    const auto seen = boxes.seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, L"path not exist");
}

}  // namespace
}  // namespace quillo
