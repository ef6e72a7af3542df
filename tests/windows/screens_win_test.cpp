// The screens' own rules that need no running program: the folder the
// browser's pick proposes, the validation of a typed folder, and how the
// success screen splits the program it starts.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>

#include "install/RunEnd.h"
#include "screens/CHMainWnd.h"
#include "screens/CHSuccessWnd.h"

namespace quillo {
namespace {

TEST(OptionsScreenTest, APickedFolderGetsTheProductFolderBelowIt) {
    EXPECT_EQ(FolderBelowPicked(L"D:\\"), L"D:\\Quillo 3");
    EXPECT_EQ(FolderBelowPicked(L"D:\\Apps"), L"D:\\Apps\\Quillo 3");
    EXPECT_EQ(FolderBelowPicked(L"  D:\\Apps\t"), L"D:\\Apps\\Quillo 3");
    EXPECT_EQ(FolderBelowPicked(L"   "), L"");
}

TEST(OptionsScreenTest, OnlyCreatableFoldersWithARootAreValid) {
    namespace fs = std::filesystem;
    const std::wstring base = L"C:\\QuilloValidate";
    std::error_code ec;
    fs::remove_all(base, ec);
    EXPECT_TRUE(ValidateInstallFolder(base + L"\\deep\\er\\Quillo 3"));
    EXPECT_TRUE(fs::is_directory(base + L"\\deep\\er\\Quillo 3")) << "validation creates the folder";
    EXPECT_TRUE(ValidateInstallFolder(base + L"\\deep")) << "an existing folder";
    EXPECT_TRUE(ValidateInstallFolder(base + L"/slashes/too"));
    EXPECT_FALSE(ValidateInstallFolder(L""));
    EXPECT_FALSE(ValidateInstallFolder(L"relative\\folder"));
    EXPECT_FALSE(ValidateInstallFolder(L"Q:\\no such drive\\Quillo 3"));
    fs::remove_all(base, ec);
}

TEST(SuccessScreenTest, AStartPathWithASwitchIsSplitBeforeIt) {
    std::wstring file, parameters;
    SplitStartPath(L"C:\\Quillo 3\\Quillo.exe", file, parameters);
    EXPECT_EQ(file, L"C:\\Quillo 3\\Quillo.exe");
    EXPECT_EQ(parameters, L"");
    SplitStartPath(L"C:\\Quillo 3\\Quillo.exe /first", file, parameters);
    EXPECT_EQ(file, L"\"C:\\Quillo 3\\Quillo.exe\"");
    EXPECT_EQ(parameters, L" /first");
    SplitStartPath(L"/x", file, parameters);  // nothing before the slash to start
    EXPECT_EQ(file, L"/x");
    EXPECT_EQ(parameters, L"");
}

}  // namespace
}  // namespace quillo
