// Portable rules of the install engine: entry names, target paths, command
// lines of the product's programs, the package check.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "base/Md5.h"
#include "install/CommandLine.h"
#include "install/EntryName.h"

namespace quillo {
namespace {

TEST(EntryNameTest, NamesThatLeaveTheFolderAreRefused) {
    for (const wchar_t* name :
         {L"", L"../evil.txt", L"..\\evil.txt", L"a/../../evil.txt", L"a\\..\\..\\evil.txt", L"..", L"a/..",
          L"/abs.txt", L"\\abs.txt", L"\\\\server\\share\\x.txt", L"//server/share/x.txt", L"C:\\evil.txt",
          L"C:evil.txt", L"c:/evil.txt", L"a/b:stream", L"\\\\?\\C:\\evil.txt", L"a/. ./evil.txt", L"a/.../evil.txt",
          L"a/.. /evil.txt"}) {
        EXPECT_FALSE(IsSafeEntryName(name)) << std::string(name, name + wcslen(name));
    }
}

// Names Windows opens as devices in any folder: writing one would write to a
// console, a port or nowhere.
TEST(EntryNameTest, DeviceNamesAreRefused) {
    for (const wchar_t* name : {L"CON", L"con", L"nul.txt", L"a/AUX", L"PRN.log.txt", L"COM1", L"lpt9.dat",
                                L"COM\x00B9", L"CONIN$", L"conout$.txt", L"NUL /x.txt", L"dir/Nul .txt"}) {
        EXPECT_FALSE(IsSafeEntryName(name)) << std::string(name, name + wcslen(name));
    }
    for (const wchar_t* name : {L"CONSOLE.txt", L"COM10", L"COM", L"LPT0x", L"nul2.txt", L"icon.png", L"aux_/x"}) {
        EXPECT_TRUE(IsSafeEntryName(name)) << std::string(name, name + wcslen(name));
    }
}

TEST(EntryNameTest, OrdinaryNamesAreAccepted) {
    for (const wchar_t* name : {L"Quillo.exe", L"x64/", L"x64/QuilloCore.dll", L"AppData/Skins/default.txt",
                                L"./readme.txt", L"a..b.txt", L".hidden", L"dir.with.dots/file", L"Extensions/",
                                L"\x6587\x6863/\x8BF4\x660E.txt"}) {
        EXPECT_TRUE(IsSafeEntryName(name)) << std::string(name, name + wcslen(name));
    }
}

TEST(EntryNameTest, WhiteSpaceIsTrimmedAtBothEnds) {
    EXPECT_EQ(TrimWhiteSpace(L" \t a b.txt \r\n"), L"a b.txt");
    EXPECT_EQ(TrimWhiteSpace(L"   "), L"");
    EXPECT_EQ(TrimWhiteSpace(L"x"), L"x");
}

TEST(EntryNameTest, TheOtherArchitectureIsSkippedCaseSensitively) {
    EXPECT_TRUE(SkipForArchitecture(L"x86/QuilloCore.dll", true));
    EXPECT_TRUE(SkipForArchitecture(L"Drivers/setup_x86.msi", true));
    EXPECT_FALSE(SkipForArchitecture(L"x64/QuilloCore.dll", true));
    EXPECT_FALSE(SkipForArchitecture(L"X86/QuilloCore.dll", true));
    EXPECT_TRUE(SkipForArchitecture(L"x64/", false));
    EXPECT_FALSE(SkipForArchitecture(L"x86/", false));
}

TEST(EntryNameTest, TopLevelArchitectureFolderMovesFilesOneLevelUp) {
    const std::wstring dir = L"C:\\Program Files (x86)\\Brightfen\\Quillo 3";
    EXPECT_EQ(FileTargetPath(dir, L"x64/QuilloCore.dll", true), dir + L"/QuilloCore.dll");
    EXPECT_EQ(FileTargetPath(dir, L"x86/QuilloCore.dll", false), dir + L"/QuilloCore.dll");
    EXPECT_EQ(FileTargetPath(dir, L"x64/QuilloCore.dll", false), dir + L"\\x64/QuilloCore.dll");
    EXPECT_EQ(FileTargetPath(dir, L"Quillo.exe", true), dir + L"\\Quillo.exe");
    // Separated by "/" inside the name: not the top-level folder, kept.
    EXPECT_EQ(FileTargetPath(dir, L"Bin/x64/a.dll", true), dir + L"\\Bin/x64/a.dll");
    EXPECT_EQ(FileTargetPath(dir, L"Bin\\x64\\a.dll", true), dir + L"\\Bin\\a.dll");
}

TEST(EntryNameTest, ArchitectureRewriteNeverLeavesTheFolder) {
    // Only whole components are dropped: these would otherwise become
    // siblings of the folder ("...Quillo 3setup.exe").
    const std::wstring dir = L"D:\\Quillo 3";
    EXPECT_EQ(FileTargetPath(dir, L"x64setup.exe", true), dir + L"\\x64setup.exe");
    EXPECT_EQ(FileTargetPath(dir, L"x64", true), dir + L"\\x64");
    // The installation folder itself is never rewritten.
    EXPECT_EQ(FileTargetPath(L"D:\\x64\\Quillo", L"a.txt", true), L"D:\\x64\\Quillo\\a.txt");
    EXPECT_EQ(FileTargetPath(L"D:\\x86tools\\Q", L"x86/a.dll", false), L"D:\\x86tools\\Q/a.dll");
}

TEST(EntryNameTest, ParentAndFileNameParts) {
    EXPECT_EQ(ParentPath(L"C:\\Q\\Bin/x/a.dll"), L"C:\\Q\\Bin/x");
    EXPECT_EQ(ParentPath(L"C:\\Q\\a.dll"), L"C:\\Q");
    EXPECT_EQ(ParentPath(L"a.dll"), L"");
    EXPECT_EQ(FileNamePart(L"C:\\Q\\Bin/a.dll"), L"a.dll");
    EXPECT_EQ(FileNamePart(L"C:\\Q\\"), L"");
    EXPECT_EQ(FileNamePart(L"Quillo.exe"), L"Quillo.exe");
}

// How Windows resolves the components of a path below a folder: "." is
// dropped, trailing dots and spaces are stripped, ".." goes up. Returns false
// when the path climbs above the folder.
bool StaysBelow(const std::wstring& relative) {
    std::vector<std::wstring> stack;
    std::wstring part;
    auto flush = [&]() {
        while (!part.empty() && (part.back() == L'.' || part.back() == L' ')) {
            if (part == L"..") break;
            part.pop_back();
        }
        if (part == L"..") {
            if (stack.empty()) return false;
            stack.pop_back();
        } else if (!part.empty()) {
            stack.push_back(part);
        }
        part.clear();
        return true;
    };
    for (wchar_t c : relative) {
        if (c == L'/' || c == L'\\') {
            if (!flush()) return false;
        } else {
            part.push_back(c);
        }
    }
    return flush();
}

TEST(EntryNameTest, RandomNamesThatPassNeverLeaveTheFolder) {
    const std::wstring dir = L"C:\\Q";
    const std::vector<std::wstring> pieces = {L"a", L"x64", L"x86", L".", L"..", L" ", L"/", L"\\", L":", L"b.txt",
                                              L"...", L"x64setup"};
    std::mt19937 rng(20261208);
    int accepted = 0;
    for (int round = 0; round < 200000; ++round) {
        std::wstring name;
        const int count = 1 + static_cast<int>(rng() % 7);
        for (int i = 0; i < count; ++i) name += pieces[rng() % pieces.size()];
        if (!IsSafeEntryName(name)) continue;
        ++accepted;
        for (bool drivers64 : {true, false}) {
            const std::wstring path = FileTargetPath(dir, name, drivers64);
            ASSERT_EQ(path.compare(0, dir.size(), dir), 0);
            ASSERT_TRUE(path.size() > dir.size() && (path[dir.size()] == L'\\' || path[dir.size()] == L'/'))
                << "sibling of the folder";
            ASSERT_TRUE(StaysBelow(path.substr(dir.size() + 1))) << "climbs out";
        }
    }
    EXPECT_GT(accepted, 1000);
}

TEST(CommandLineTest, ProgramPartIsQuotedArgumentsKept) {
    const std::wstring dir = L"C:\\Program Files (x86)\\Brightfen\\Quillo 3";
    EXPECT_EQ(InstallCommandLine(dir, L"QuilloDaemon.exe /up"), L"\"" + dir + L"\\QuilloDaemon.exe\" /up");
    EXPECT_EQ(InstallCommandLine(dir, L"QuilloDaemon.exe"), L"\"" + dir + L"\\QuilloDaemon.exe\"");
    EXPECT_EQ(InstallCommandLine(dir, L"QuilloDaemon.exe  /a \"b c\" "),
              L"\"" + dir + L"\\QuilloDaemon.exe\"  /a \"b c\" ");
    // Program names with spaces end at the extension.
    EXPECT_EQ(InstallCommandLine(dir, L"Quillo Helper.EXE /x"), L"\"" + dir + L"\\Quillo Helper.EXE\" /x");
    EXPECT_EQ(InstallCommandLine(dir, L"bin\\fix.cmd -q"), L"\"" + dir + L"\\bin\\fix.cmd\" -q");
    // ".exe" inside a word is not the end of the program.
    EXPECT_EQ(InstallCommandLine(dir, L"a.exec b"), L"\"" + dir + L"\\a.exec\" b");
    // Already quoted in the block.
    EXPECT_EQ(InstallCommandLine(dir, L"\"Quillo Helper.exe\" /x"), L"\"" + dir + L"\\Quillo Helper.exe\" /x");
    EXPECT_EQ(InstallCommandLine(dir, L"\"Unclosed.exe /x"), L"\"" + dir + L"\\Unclosed.exe /x\"");
}

TEST(PackageDigestTest, DigestMustMatchExactly) {
    const std::string package = "PK\x03\x04 package bytes";
    std::string digest;
    EXPECT_FALSE(VerifyPackage(package.data(), package.size(), "", digest));
    EXPECT_TRUE(digest.empty());

    const std::string right = Md5Hex(package.data(), package.size());
    EXPECT_TRUE(VerifyPackage(package.data(), package.size(), right, digest));
    EXPECT_EQ(digest, right);

    std::string lower = right;
    for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    ASSERT_NE(lower, right);
    digest.clear();
    EXPECT_FALSE(VerifyPackage(package.data(), package.size(), lower, digest));
    EXPECT_EQ(digest, right);  // reported with the failure

    EXPECT_FALSE(VerifyPackage(package.data(), package.size() - 1, right, digest));
}

}  // namespace
}  // namespace quillo
