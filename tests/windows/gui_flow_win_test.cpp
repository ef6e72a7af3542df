// The setup program and its uninstaller driven through their screens, as a
// user drives them: commands and clicks posted to the real windows of the
// real program (the sample product's setup file), results checked on disk,
// in the registry, in the product's own records and at a loopback statistics
// server. These tests change machine-wide state and run in a ctest entry of
// their own.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleacc.h>
#include <shlobj.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/StartupLogic.h"
#include "base/Base64.h"
#include "base/SystemInfo.h"
#include "base/TextCodec.h"
#include "install/ProductRegistration.h"
#include "install/Shortcuts.h"
#include "screens/CHSuccessWnd.h"
#include "screens/CUninstallWnd.h"
#include "tests/shared/RangeServer.h"
#include "tests/windows/TestInstallFiles.h"
#include "tests/windows/TestSetupRun.h"
#include "tests/windows/TestZip.h"
#include "ui/CHWindow.h"
#include "ui/UIResource.h"

namespace fs = std::filesystem;

namespace quillo {
namespace {

using namespace test;

// Element places on the options screen (client coordinates, folded layout;
// the bottom row moves down by 200 when unfolded).
constexpr POINT kInstallButton = {305, 271};
constexpr POINT kAgreeBox = {57, 397};
constexpr POINT kOptionButton = {500, 397};
constexpr POINT kPathEdit = {300, 373};
constexpr POINT kDesktopBox = {135, 423};

std::vector<std::string> Lines(const std::wstring& path) { return ReadLines(path); }

std::wstring SampleRunsFile() { return TempFolder() + L"quillo-sample-runs.txt"; }
std::wstring DetectorCallsFile() { return TempFolder() + L"quillo-detector-calls.txt"; }

// The request lines the statistics server received.
std::vector<std::string> RequestLines(const RangeServer& server) {
    std::vector<std::string> lines;
    for (const std::string& request : server.requests()) lines.push_back(request.substr(0, request.find("\r\n")));
    return lines;
}

// The answers a feedback request line carries ("&fb=" and Base64 of JSON).
std::string FeedbackOf(const std::string& request) {
    std::string encoded = request.substr(request.find("&fb=") + 4);
    encoded = encoded.substr(0, encoded.find(' '));
    std::string decoded;
    return Base64Decode(encoded, decoded) ? decoded : "<not Base64: " + encoded + ">";
}

bool AnyContains(const std::vector<std::string>& lines, const std::string& part) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(part) != std::string::npos; });
}

// What a screen reader finds in a window of another process: each child's
// name and role.
std::map<std::wstring, long> AccessibleChildren(HWND hwnd) {
    std::map<std::wstring, long> children;
    IAccessible* object = nullptr;
    if (AccessibleObjectFromWindow(hwnd, OBJID_CLIENT, IID_IAccessible, reinterpret_cast<void**>(&object)) != S_OK ||
        !object)
        return children;
    long count = 0;
    object->get_accChildCount(&count);
    for (long id = 1; id <= count; ++id) {
        VARIANT child;
        VariantInit(&child);
        child.vt = VT_I4;
        child.lVal = id;
        BSTR name = nullptr;
        VARIANT role;
        VariantInit(&role);
        if (object->get_accName(child, &name) == S_OK && name && object->get_accRole(child, &role) == S_OK)
            children[std::wstring(name, SysStringLen(name))] = role.vt == VT_I4 ? role.lVal : -1;
        SysFreeString(name);
    }
    object->Release();
    return children;
}

class SetupGuiTest : public SampleMachineTest {
protected:
    SetupGuiTest() : SampleMachineTest(L"C:\\Gui Tests ") {}

    void SetUp() override {
        SampleMachineTest::SetUp();
        if (HasFatalFailure()) return;
        Clean();
        const std::string address = "127.0.0.1:" + std::to_string(stats_.port());
        _putenv_s("QUILLO_STAT_SERVER", address.c_str());
    }
    void TearDown() override {
        Clean();
        SampleMachineTest::TearDown();
        _putenv_s("QUILLO_STAT_SERVER", "127.0.0.1:9");
    }

    static void Clean() {
        CleanMachineState();
        std::error_code ec;
        fs::remove(DetectorCallsFile(), ec);
    }

    // The sample's setup file with another block or package.
    std::wstring Variant(const wchar_t* name, JValue block, const std::vector<uint8_t>& package,
                         const std::vector<std::vector<uint8_t>>& sections = {}) {
        block["md5"] = Md5Of(package);
        const std::wstring path = root_ + L"\\" + name;
        WriteBytes(path, MakeSetupFile(stub_, WriteJson(block), package, sections));
        return path;
    }
    std::vector<uint8_t> Package() const { return stub_.PackageCopy(); }

    // Installs the sample quietly below `folder`.
    void QuietInstall(const std::wstring& folder) {
        SetupRun quiet;
        ASSERT_TRUE(quiet.Start(sample_, L"/q /D \"" + folder + L"\""));
        const DWORD code = quiet.ExitCode();
        ASSERT_EQ(code, 0u) << "uninstaller written: " << Exists(folder + L"\\Quillo 3\\unins000.exe")
                            << ", registered: " << KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey)
                            << ", events: " << RequestLines(stats_).size();
    }

    // Waits for the success screen of a run started at the options screen.
    ScreenWindow InstallToSuccess(SetupRun& run) {
        const ScreenWindow main = run.Main();
        EXPECT_TRUE(main.hwnd);
        Command(main, 1001);
        return run.Visible(2, 60000);
    }

    RangeServer stats_{""};
};

TEST_F(SetupGuiTest, FirstInstallWithEveryOptionEndsByStartingTheProduct) {
    SetupRun run;
    ASSERT_TRUE(run.Start(sample_, L"/D \"" + root_ + L"\""));
    const ScreenWindow main = run.Main();
    ASSERT_TRUE(main.hwnd) << "the options screen";
    EXPECT_EQ(main.width(), 610);
    EXPECT_EQ(main.height(), 430);
    Command(main, 1001);
    const ScreenWindow success = run.Visible(2, 60000);
    ASSERT_TRUE(success.hwnd) << "the success screen";
    EXPECT_EQ(success.width(), 610);
    EXPECT_EQ(success.height(), 430);
    // The options window stays as a faded 1 x 1 window; the progress window is hidden.
    const ScreenWindow faded = run.Main(false);
    EXPECT_EQ(faded.width(), 1);
    EXPECT_FALSE(run.Visible(1, 0).hwnd);

    const std::wstring folder = root_ + L"\\Quillo 3";
    EXPECT_TRUE(Exists(folder + L"\\Quillo.exe"));
    EXPECT_TRUE(Exists(folder + L"\\unins000.exe"));
    EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kUninstallKey, L"UninstallString"), folder + L"\\unins000.exe");
    EXPECT_TRUE(Exists(LinkPathIn(CommonDesktopFolder(), L"Quillo 3")));
    EXPECT_TRUE(Exists(LinkPathIn(QuickLaunchFolder(), L"Quillo 3")));
    EXPECT_TRUE(Exists(StartMenuFolder() + L"\\Quillo.lnk"));
    const std::vector<std::string> events = RequestLines(stats_);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_NE(events[0].find("GET /clt_v2_set?"), std::string::npos) << events[0];
    EXPECT_NE(events[0].find("&op=1&"), std::string::npos) << events[0];
    EXPECT_EQ(events[0].find("&e="), std::string::npos) << events[0];

    Command(success, 2001);  // "立即体验"
    EXPECT_EQ(run.ExitCode(), 0u);
    for (int i = 0; i < 100 && Lines(SampleRunsFile()).empty(); ++i) Sleep(50);
    EXPECT_EQ(Lines(SampleRunsFile()), std::vector<std::string>{"Quillo"}) << "the product was started";
}

// The setup file is held open from the start: swapping another file in
// under its name while the options screen waits changes nothing.
TEST_F(SetupGuiTest, ASetupFileSwappedAfterTheStartIsNotWhatGetsInstalled) {
    const std::wstring setup = root_ + L"\\swapped.exe";
    ASSERT_TRUE(CopyFileW(sample_.c_str(), setup.c_str(), FALSE));
    SetupRun run;
    ASSERT_TRUE(run.Start(setup, L"/D \"" + root_ + L"\""));
    const ScreenWindow main = run.Main();
    ASSERT_TRUE(main.hwnd);
    // Another product under the same name: the running image may be renamed
    // by anybody who may write the folder.
    {
        test::ZipBuilder zip(root_ + L"\\other.zip");
        zip.Add("Quillo.exe", "not the product");
    }
    const std::vector<uint8_t> otherPackage = ReadBytes(root_ + L"\\other.zip");
    const bool renamed = MoveFileW(setup.c_str(), (root_ + L"\\renamed.exe").c_str()) != FALSE;
    if (renamed) WriteBytes(setup, ReadBytes(Variant(L"other.exe", stub_.block, otherPackage)));
    Command(main, 1001);
    const ScreenWindow success = run.Visible(2, 60000);
    ASSERT_TRUE(success.hwnd) << "the installation of the file that was started (renamed: " << renamed << ")";
    std::map<std::wstring, std::wstring> strings;
    EXPECT_TRUE(ReadVersionStrings(root_ + L"\\Quillo 3\\Quillo.exe", strings)) << "the product's own program";
    EXPECT_EQ(strings[L"ProductName"], L"Quillo 3");
    PostMessageW(success.hwnd, WM_CLOSE, 0, 0);
    EXPECT_EQ(run.ExitCode(), 0u);
}

TEST_F(SetupGuiTest, ChangedOptionsAreWhatGetsInstalled) {
    SetupRun run;
    ASSERT_TRUE(run.Start(sample_));
    ScreenWindow main = run.Main();
    ASSERT_TRUE(main.hwnd);
    Click(main, kOptionButton.x, kOptionButton.y);
    main = run.Main();
    ASSERT_EQ(main.height(), 630) << "unfolded";
    Click(main, kDesktopBox.x, kDesktopBox.y);  // no desktop shortcut
    Click(main, kPathEdit.x, kPathEdit.y);
    Key(main.hwnd, VK_END);
    for (int i = 0; i < 120; ++i) Key(main.hwnd, VK_BACK);
    // The path field takes no blanks from the keyboard (pasted or picked
    // folders may have them).
    const std::wstring folder = L"C:\\GuiTyped\\MeinOrdner";
    Type(main.hwnd, folder + L" ");
    Click(main, kInstallButton.x, kInstallButton.y);
    const ScreenWindow success = run.Visible(2, 60000);
    ASSERT_TRUE(success.hwnd);

    EXPECT_TRUE(Exists(folder + L"\\Quillo.exe"))
        << "the typed folder is used as it is; installed into "
        << WideToUtf8(RegString(HKEY_LOCAL_MACHINE, kUninstallKey, L"UninstallString"));
    EXPECT_FALSE(Exists(LinkPathIn(CommonDesktopFolder(), L"Quillo 3")));
    EXPECT_TRUE(Exists(LinkPathIn(QuickLaunchFolder(), L"Quillo 3")));
    Command(success, 1000);
    EXPECT_EQ(run.ExitCode(), 0u);
    EXPECT_TRUE(Lines(SampleRunsFile()).empty()) << "closing does not start the product";
    std::error_code ec;
    fs::remove_all(L"C:\\GuiTyped", ec);
}

TEST_F(SetupGuiTest, FolderWithoutADriveIsRefusedWithTheMessage) {
    SetupRun run;
    ASSERT_TRUE(run.Start(sample_));
    ScreenWindow main = run.Main();
    ASSERT_TRUE(main.hwnd);
    Command(main, 1009);
    main = run.Main();
    Click(main, kPathEdit.x, kPathEdit.y);
    Key(main.hwnd, VK_END);
    for (int i = 0; i < 120; ++i) Key(main.hwnd, VK_BACK);
    Type(main.hwnd, L"relative\\folder");
    Command(main, 1001);
    const SeenBox box = run.AnswerBox();
    EXPECT_TRUE(box.shown);
    EXPECT_EQ(box.text, L"安装目录有误, 请重新输入.");
    EXPECT_EQ(box.caption, L"");
    main = run.Main();
    EXPECT_EQ(main.height(), 630) << "the choices stay as they were";
    EXPECT_FALSE(run.Visible(1, 500).hwnd) << "no installation started";
    Command(main, 1000);
    EXPECT_EQ(run.ExitCode(), static_cast<DWORD>(kExitCancelled)) << "closed before installing: cancelled";
}

TEST_F(SetupGuiTest, WithoutTheAgreementTheInstallButtonDoesNothing) {
    SetupRun run;
    ASSERT_TRUE(run.Start(sample_, L"/D \"" + root_ + L"\""));
    const ScreenWindow main = run.Main();
    ASSERT_TRUE(main.hwnd);
    Click(main, kAgreeBox.x, kAgreeBox.y);
    Click(main, kInstallButton.x, kInstallButton.y);
    EXPECT_FALSE(run.Visible(1, 1500).hwnd) << "the disabled button starts nothing";
    EXPECT_FALSE(Exists(root_ + L"\\Quillo 3\\Quillo.exe"));
    Click(main, kAgreeBox.x, kAgreeBox.y);
    Click(main, kInstallButton.x, kInstallButton.y);
    const ScreenWindow success = run.Visible(2, 60000);
    ASSERT_TRUE(success.hwnd);
    EXPECT_TRUE(Exists(root_ + L"\\Quillo 3\\Quillo.exe"));
    PostMessageW(success.hwnd, WM_CLOSE, 0, 0);
    EXPECT_EQ(run.ExitCode(), 0u);
}

TEST_F(SetupGuiTest, AFailedInstallationOffersItsRemedy) {
    JValue block = stub_.block;
    // A wrong digest: code 9, the reinstall button, back to the options.
    {
        JValue wrong = block;
        const std::wstring setup = Variant(L"wrong digest.exe", wrong, Package());
        std::vector<uint8_t> bytes = ReadBytes(setup);
        const std::string digest = Md5Of(Package());
        const auto at = std::search(bytes.begin(), bytes.end(), digest.begin(), digest.end());
        ASSERT_NE(at, bytes.end());
        *at = *at == 'A' ? 'B' : 'A';
        WriteBytes(setup, bytes);

        SetupRun run;
        ASSERT_TRUE(run.Start(setup, L"/D \"" + root_ + L"\""));
        const ScreenWindow failure = InstallToSuccess(run);
        ASSERT_TRUE(failure.hwnd) << "the failure screen";
        EXPECT_TRUE(AnyContains(RequestLines(stats_), "&e=9")) << "the failure is reported with its code";
        Command(failure, 4561);  // "重新安装"
        const ScreenWindow again = run.WaitFor([](const ScreenWindow& w, const std::vector<ScreenWindow>&) {
            return w.title == L"Corvane" && w.visible && w.width() > 1;
        });
        ASSERT_TRUE(again.hwnd) << "the options screen is back";
        EXPECT_EQ(again.width(), 610);
        EXPECT_EQ(again.height(), 430);
        EXPECT_FALSE(IsWindowVisible(failure.hwnd));
        // Its install button starts the installation again.
        Command(again, 1001);
        const ScreenWindow second = run.Visible(2, 60000);
        ASSERT_TRUE(second.hwnd) << "the second installation fails the same way";
        EXPECT_EQ(second.hwnd, failure.hwnd);
        const std::vector<std::string> events = RequestLines(stats_);
        EXPECT_EQ(std::count_if(events.begin(), events.end(),
                                [](const std::string& e) { return e.find("&e=9") != std::string::npos; }),
                  2);
        // A close request to the failure screen (Alt+F4) ends the program
        // as its close element does.
        PostMessageW(second.hwnd, WM_CLOSE, 0, 0);
        EXPECT_EQ(run.ExitCode(), 1u);
    }
    // A package that does not fit: code 5, the download button ends the program.
    {
        std::vector<uint8_t> bytes = ReadBytes(Variant(L"short.exe", block, Package()));
        bytes.resize(bytes.size() - 100);
        const std::wstring setup = root_ + L"\\short.exe";
        WriteBytes(setup, bytes);
        SetupRun run;
        ASSERT_TRUE(run.Start(setup, L"/D \"" + root_ + L"\""));
        const ScreenWindow failure = InstallToSuccess(run);
        ASSERT_TRUE(failure.hwnd);
        Command(failure, 4561);  // "重新下载"
        EXPECT_EQ(run.ExitCode(), 5u) << "nothing was installed: the failure's code";
        EXPECT_FALSE(Exists(root_ + L"\\Quillo 3\\Quillo.exe"));
    }
    // The failure screen's close element ends the program with exit code 1.
    {
        SetupRun run;
        ASSERT_TRUE(run.Start(root_ + L"\\short.exe", L"/D \"" + root_ + L"\""));
        const ScreenWindow failure = InstallToSuccess(run);
        ASSERT_TRUE(failure.hwnd);
        PostMessageW(failure.hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
        Command(failure, 4563);
        EXPECT_EQ(run.ExitCode(), 1u);
    }
}

TEST_F(SetupGuiTest, InstallingOverAnEarlierInstallationReportsIt) {
    {
        ASSERT_NO_FATAL_FAILURE(QuietInstall(root_ + L"\\Earlier"));
    }
    ASSERT_TRUE(Exists(root_ + L"\\Earlier\\Quillo 3\\Quillo.exe"));
    SetupRun run;
    ASSERT_TRUE(run.Start(sample_));
    const ScreenWindow main = run.Main();
    ASSERT_TRUE(main.hwnd);
    Command(main, 1009);
    // The earlier installation's folder is proposed.
    const ScreenWindow success = InstallToSuccess(run);
    ASSERT_TRUE(success.hwnd);
    Command(success, 1000);
    EXPECT_EQ(run.ExitCode(), 0u);
    EXPECT_TRUE(Exists(root_ + L"\\Earlier\\Quillo 3\\Quillo.exe")) << "installed again in the proposed folder";
    const std::vector<std::string> events = RequestLines(stats_);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_NE(events[0].find("&op=1&"), std::string::npos);
    EXPECT_NE(events[1].find("&op=3&"), std::string::npos) << events[1];
}

TEST_F(SetupGuiTest, TheDetectorsOfferIsInstalledWhenTheScreenCloses) {
    const std::vector<uint8_t> detector = ReadBytes(EnvPath("QUILLO_DETECTOR_DLL"));
    ASSERT_FALSE(detector.empty()) << "QUILLO_DETECTOR_DLL";
    JValue block = stub_.block;
    block["extrapack"] = true;
    const std::wstring setup = Variant(L"with detector.exe", block, Package(), {detector});

    for (const bool closeCommand : {false, true}) {
        SCOPED_TRACE(closeCommand ? "command 1000" : "close request");
        Clean();
        SetupRun run;
        ASSERT_TRUE(run.Start(setup, L"/D \"" + root_ + L"\""));
        const ScreenWindow success = InstallToSuccess(run);
        ASSERT_TRUE(success.hwnd);
        EXPECT_EQ(Lines(DetectorCallsFile()), (std::vector<std::string>{"RunDetector 1 71721 0",
                                                                         "GetDectectorResult 259 259 0"}));
        if (closeCommand) {
            Command(success, 1000);
        } else {
            PostMessageW(success.hwnd, WM_CLOSE, 0, 0);
        }
        EXPECT_EQ(run.ExitCode(), 0u);
        std::vector<std::string> expected = {"RunDetector 1 71721 0", "GetDectectorResult 259 259 0"};
        if (!closeCommand) {
            // The ticked offer is installed on the way out.
            expected.push_back("RunDetector 2 71721 0");
            expected.push_back("WaitDetectorComplete 0 -1");
        }
        EXPECT_EQ(Lines(DetectorCallsFile()), expected);
    }
}

TEST_F(SetupGuiTest, TheDriverStepRunsBeforeTheSuccessScreenAndIsReported) {
    const std::wstring msi = EnvPath("QUILLO_APPLE_DIR") + L"\\msi\\AppleMobileDeviceSupport.msi";
    const std::vector<uint8_t> package = ReadBytes(msi);
    ASSERT_FALSE(package.empty()) << "QUILLO_APPLE_DIR";
    {
        ZipBuilder zip(root_ + L"\\drivers.zip");
        zip.Add("AppleMobileDeviceSupport.msi", std::string(package.begin(), package.end()));
    }
    JValue block = stub_.block;
    block["ituneslite64"] = 1;
    block["ituneslite32"] = 1;
    const std::wstring setup = Variant(L"with drivers.exe", block, Package(), {ReadBytes(root_ + L"\\drivers.zip")});
    SetupRun run;
    ASSERT_TRUE(run.Start(setup, L"/D \"" + root_ + L"\""));
    const ScreenWindow success = InstallToSuccess(run);
    ASSERT_TRUE(success.hwnd);
    EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Apple Inc.\\Apple Mobile Device Support", L"Package"),
              L"AppleMobileDeviceSupport")
        << "the package was installed";
    const std::vector<std::string> events = RequestLines(stats_);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_NE(events[0].find("&itunes=1"), std::string::npos) << events[0];
    Command(success, 1000);
    EXPECT_EQ(run.ExitCode(), 0u);
}

// The product's skin package, made the current skin of screens built in
// this process.
void UseProductSkin(UIResource& skin) {
    RegisterWindowClass(GetModuleHandleW(nullptr));
    ASSERT_TRUE(skin.LoadFromFile(EnvPath("QUILLO_SKIN_PACKAGE").c_str()));
    SetCurrentSkin(&skin);
}

// Runs in a process of its own (it ends the process): a success screen with
// one ticked recommendation that is downloaded from QUILLO_OFFER_URL.
TEST(SuccessScreenHelper, DISABLED_FinishWithADownload) {
    UIResource skin;
    ASSERT_NO_FATAL_FAILURE(UseProductSkin(skin));
    CHSuccessWnd success;
    ASSERT_TRUE(success.Create(nullptr, 0, 0, 610, 430, WS_POPUP, 0, L""));
    success.LoadSkin(&skin, "InstallSuccessWnd", nullptr);
    success.AddRecommendation(true, L"下载的推荐软件", Utf8ToWide(std::getenv("QUILLO_OFFER_URL")));
    success.buildNumber = 3100;
    success.channel = 6;
    success.Show(true);
    success.Finish();
}

TEST_F(SetupGuiTest, ATickedDownloadRecommendationIsFetchedStartedAndReported) {
    const std::vector<uint8_t> program = ReadBytes(EnvPath("QUILLO_SAMPLE_DIR") + L"\\Quillo.exe");
    ASSERT_FALSE(program.empty());
    RangeServer offers(std::string(program.begin(), program.end()));
    const std::string url = offers.url("/offer.exe");
    offers.redirectPath = "/offer.exe";
    _putenv_s("QUILLO_OFFER_URL", url.c_str());
    SetupRun run;
    ASSERT_TRUE(run.Start(ModuleFilePath(), L"--gtest_filter=SuccessScreenHelper.DISABLED_FinishWithADownload "
                                            L"--gtest_also_run_disabled_tests"));
    EXPECT_EQ(run.ExitCode(), 0u);
    for (int i = 0; i < 100 && Lines(SampleRunsFile()).empty(); ++i) Sleep(50);
    EXPECT_EQ(Lines(SampleRunsFile()), std::vector<std::string>{"Quillo"}) << "the downloaded program ran";
    const std::vector<std::string> events = RequestLines(stats_);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_NE(events[0].find("&c=6&stat=1"), std::string::npos) << events[0];
    EXPECT_GE(offers.getCount(), 1);
}

// The uninstaller as a user starts it: from the installation folder.
TEST_F(SetupGuiTest, UninstallThroughItsScreensSendsTheFeedback) {
    {
        ASSERT_NO_FATAL_FAILURE(QuietInstall(root_));
    }
    const std::wstring folder = root_ + L"\\Quillo 3";
    ASSERT_TRUE(Exists(folder + L"\\unins000.exe"));

    // The uninstaller hands over to its copy in the temporary folder and
    // waits for it.
    SetupRun first;
    ASSERT_TRUE(first.Start(folder + L"\\unins000.exe"));
    // The copy in the temporary folder shows the confirmation.
    DWORD copyPid = 0;
    for (int i = 0; i < 600 && !copyPid; ++i) {
        HWND main = FindWindowW(L"CHWindow", L"Corvane");
        if (main && IsWindowVisible(main)) GetWindowThreadProcessId(main, &copyPid);
        if (!copyPid) Sleep(50);
    }
    ASSERT_NE(copyPid, 0u);
    SetupRun copy;
    ASSERT_TRUE(copy.Adopt(copyPid));
    const ScreenWindow confirm = copy.Main();
    EXPECT_EQ(confirm.width(), 656);
    EXPECT_EQ(confirm.height(), 320);
    Command(confirm, 1001);

    const ScreenWindow closing = copy.Visible(2, 60000);
    ASSERT_TRUE(closing.hwnd) << "the closing screen";
    EXPECT_EQ(closing.width(), 656);
    EXPECT_EQ(closing.height(), 460);
    const ScreenWindow form = copy.Visible(3, 10000);
    ASSERT_TRUE(form.hwnd) << "the feedback form";
    EXPECT_EQ(form.rect.left - closing.rect.left, 7);
    EXPECT_EQ(form.rect.top - closing.rect.top, 160);

    EXPECT_FALSE(Exists(folder));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_EQ(Lines(SampleRunsFile()).size(), 8u) << "the four clean-up commands ran";

    // Reasons 2 and 5, and one text in the third field.
    Click(form, 280, 22);
    Click(form, 50, 52);
    Click(form, 400, 154);
    HWND edit = nullptr;
    for (int i = 0; i < 100 && !edit; ++i) {
        edit = FindWindowExW(form.hwnd, nullptr, L"Edit", nullptr);
        if (!edit) Sleep(50);
    }
    ASSERT_TRUE(edit) << "the third field opened its edit control";
    Type(edit, L"Nokia 3310");
    Command(closing, 1002);  // "完成"
    EXPECT_EQ(copy.ExitCode(), 0u);
    EXPECT_EQ(first.ExitCode(), 0u) << "the uninstaller ends with its copy's code";
    EXPECT_TRUE(TemporaryCopies().empty()) << "the copy is gone with it";

    const std::vector<std::string> requests = RequestLines(stats_);
    ASSERT_EQ(requests.size(), 3u);  // install, removal, feedback
    EXPECT_NE(requests[1].find("&op=2&"), std::string::npos) << requests[1];
    const size_t fb = requests[2].find("/clt_v2_fb?");
    ASSERT_NE(fb, std::string::npos) << requests[2];
    EXPECT_EQ(FeedbackOf(requests[2]), "{\"check\":[2,5],\"feedback\":[\"Nokia 3310\"]}\n");
}

// Someone without a mouse: Escape and Alt+F4 close the options screen as
// its close button does; Tab, Space and Return install with the agreement
// ticked again and start the product; Return confirms the removal; Tab,
// Space, typing and Return answer the feedback form and finish.
TEST_F(SetupGuiTest, TheWholeInstallAndRemovalByKeysAlone) {
    {
        SetupRun run;
        ASSERT_TRUE(run.Start(sample_, L"/D \"" + root_ + L"\""));
        const ScreenWindow main = run.Main();
        ASSERT_TRUE(main.hwnd);
        Key(main.hwnd, VK_ESCAPE);
        EXPECT_EQ(run.ExitCode(), static_cast<DWORD>(kExitCancelled)) << "Escape cancels";
    }
    {
        SetupRun run;
        ASSERT_TRUE(run.Start(sample_, L"/D \"" + root_ + L"\""));
        const ScreenWindow main = run.Main();
        ASSERT_TRUE(main.hwnd);
        PostMessageW(main.hwnd, WM_SYSKEYDOWN, VK_F4, static_cast<LPARAM>(KF_ALTDOWN) << 16);
        EXPECT_EQ(run.ExitCode(), static_cast<DWORD>(kExitCancelled)) << "Alt+F4 cancels";
    }
    SetupRun run;
    ASSERT_TRUE(run.Start(sample_, L"/D \"" + root_ + L"\""));
    const ScreenWindow main = run.Main();
    ASSERT_TRUE(main.hwnd);
    Key(main.hwnd, VK_TAB);    // the install button
    Key(main.hwnd, VK_TAB);    // the agreement
    Key(main.hwnd, VK_SPACE);  // not agreed: the install button is unavailable
    Key(main.hwnd, VK_RETURN);
    Sleep(500);
    EXPECT_FALSE(run.Visible(1, 0).hwnd) << "nothing starts without the agreement";
    EXPECT_FALSE(Exists(root_ + L"\\Quillo 3\\Quillo.exe"));
    Key(main.hwnd, VK_SPACE);
    Key(main.hwnd, VK_RETURN);
    const ScreenWindow success = run.Visible(2, 60000);
    ASSERT_TRUE(success.hwnd) << "the success screen";
    const std::wstring folder = root_ + L"\\Quillo 3";
    EXPECT_TRUE(Exists(folder + L"\\Quillo.exe"));
    Key(success.hwnd, VK_RETURN);  // "立即体验"
    EXPECT_EQ(run.ExitCode(), 0u);
    for (int i = 0; i < 100 && Lines(SampleRunsFile()).empty(); ++i) Sleep(50);
    EXPECT_EQ(Lines(SampleRunsFile()), std::vector<std::string>{"Quillo"}) << "the product was started";

    const std::wstring copyPath = TemporaryCopyPath();
    ASSERT_TRUE(CopyFileW((folder + L"\\unins000.exe").c_str(), copyPath.c_str(), FALSE));
    SetupRun removal;
    ASSERT_TRUE(removal.Start(copyPath));
    const ScreenWindow confirm = removal.Main();
    ASSERT_TRUE(confirm.hwnd);
    // The question and the button's caption are drawn from the skin's art:
    // a screen reader still gets both.
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    const std::map<std::wstring, long> read = AccessibleChildren(confirm.hwnd);
    CoUninitialize();
    EXPECT_EQ(read.count(L"确定卸载") ? read.at(L"确定卸载") : 0, ROLE_SYSTEM_PUSHBUTTON);
    EXPECT_TRUE(std::any_of(read.begin(), read.end(), [](const std::pair<const std::wstring, long>& c) {
        return c.first.rfind(L"确定要卸载 Quillo 3 吗？", 0) == 0 && c.second == ROLE_SYSTEM_STATICTEXT;
    })) << "the question";
    Key(confirm.hwnd, VK_RETURN);
    const ScreenWindow closing = removal.Visible(2, 60000);
    ASSERT_TRUE(closing.hwnd) << "the closing screen";
    const ScreenWindow form = removal.Visible(3, 10000);
    ASSERT_TRUE(form.hwnd) << "the feedback form";
    EXPECT_FALSE(Exists(folder));
    for (int i = 0; i < 4; ++i) Key(form.hwnd, VK_TAB);  // the fourth reason
    Key(form.hwnd, VK_SPACE);
    Key(form.hwnd, VK_TAB);  // the fifth reason
    Key(form.hwnd, VK_TAB);  // the first field: its edit window opens
    HWND edit = nullptr;
    for (int i = 0; i < 100 && !edit; ++i) {
        edit = FindWindowExW(form.hwnd, nullptr, L"Edit", nullptr);
        if (!edit) Sleep(50);
    }
    ASSERT_TRUE(edit) << "the first field opened its edit control";
    Type(edit, L"no sync");
    Key(edit, VK_RETURN);  // "完成", from the field
    EXPECT_EQ(removal.ExitCode(), 0u);
    DeleteFileW(copyPath.c_str());

    const std::vector<std::string> requests = RequestLines(stats_);
    ASSERT_EQ(requests.size(), 3u);  // install, removal, feedback
    EXPECT_EQ(FeedbackOf(requests[2]), "{\"check\":[4],\"feedback\":[\"no sync\"]}\n");
}

// Two presses of the confirmation's OK button in a row remove the
// installation once.
TEST_F(SetupGuiTest, ASecondConfirmationWhileRemovingIsIgnored) {
    {
        ASSERT_NO_FATAL_FAILURE(QuietInstall(root_));
    }
    const std::wstring folder = root_ + L"\\Quillo 3";
    const std::wstring copyPath = TemporaryCopyPath();
    ASSERT_TRUE(CopyFileW((folder + L"\\unins000.exe").c_str(), copyPath.c_str(), FALSE));
    SetupRun run;
    ASSERT_TRUE(run.Start(copyPath));
    const ScreenWindow confirm = run.Main();
    ASSERT_TRUE(confirm.hwnd);
    Command(confirm, 1001);
    Command(confirm, 1001);
    const ScreenWindow closing = run.Visible(2, 60000);
    ASSERT_TRUE(closing.hwnd) << "the closing screen";
    // A quit posted now comes after the second command: the program ends
    // normally only when that command started nothing (a second removal
    // would still be running, or would have sent its event before).
    PostThreadMessageW(GetWindowThreadProcessId(confirm.hwnd, nullptr), WM_QUIT, 0, 0);
    EXPECT_EQ(run.ExitCode(), 0u);
    EXPECT_FALSE(Exists(folder));
    EXPECT_EQ(Lines(SampleRunsFile()).size(), 8u) << "the four clean-up commands ran once";
    const std::vector<std::string> events = RequestLines(stats_);
    EXPECT_EQ(std::count_if(events.begin(), events.end(),
                            [](const std::string& e) { return e.find("&op=2&") != std::string::npos; }),
              1)
        << "one removal event";
    DeleteFileW(copyPath.c_str());
}

// The feedback form on its own: a field that still has the focus (its text
// only in the native edit window) is sent with what was typed.
TEST_F(SetupGuiTest, TheFeedbackFormSendsTheTextOfTheFieldBeingTyped) {
    UIResource skin;
    ASSERT_NO_FATAL_FAILURE(UseProductSkin(skin));
    {
        CPopWnd form;
        ASSERT_TRUE(form.Create(nullptr, 0, 0, kFormWidth, kFormHeight, WS_POPUP | WS_VISIBLE, 0, L""));
        form.LoadSkin(&skin, "FloatWnd", nullptr);
        CXEditCtrl* field = form.textEdits[1];
        ASSERT_TRUE(field);
        const RECT box = field->rect();
        const LPARAM at = MAKELPARAM((box.left + box.right) / 2, (box.top + box.bottom) / 2);
        SendMessageW(form.hwnd(), WM_MOUSEMOVE, 0, at);
        PostMessageW(form.hwnd(), WM_LBUTTONUP, 0, at);
        SendMessageW(form.hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, at);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        const HWND edit = field->nativeHandle();
        ASSERT_TRUE(edit) << "the field opened its edit window";
        for (wchar_t c : std::wstring(L"Pixel 8")) SendMessageW(edit, WM_CHAR, c, 0);
        ASSERT_EQ(GetFocus(), edit) << "the field keeps the focus";
        form.SendFeedback();
        EXPECT_EQ(field->nativeHandle(), edit) << "sending closed nothing";
    }
    SetCurrentSkin(nullptr);

    const std::vector<std::string> requests = RequestLines(stats_);
    ASSERT_EQ(requests.size(), 1u);
    ASSERT_NE(requests[0].find("/clt_v2_fb?"), std::string::npos) << requests[0];
    const std::string decoded = FeedbackOf(requests[0]);
    EXPECT_NE(decoded.find("\"feedback\":[\"Pixel 8\"]"), std::string::npos) << decoded;
}

TEST_F(SetupGuiTest, AnUnreadableManifestEndsTheUninstallerWithExitCode1) {
    JValue manifest;
    manifest["mode"] = 0;
    const std::wstring copy = TemporaryCopyPath();
    ASSERT_TRUE(WriteUninstaller(copy, stub_, manifest));
    SetupRun run;
    ASSERT_TRUE(run.Start(copy));
    const ScreenWindow confirm = run.Main();
    ASSERT_TRUE(confirm.hwnd);
    Command(confirm, 1001);
    const SeenBox box = run.AnswerBox();
    EXPECT_EQ(box.text, L"卸载出现错误, 操作中止.");
    EXPECT_EQ(run.ExitCode(), 1u);
    DeleteFileW(copy.c_str());
}

TEST_F(SetupGuiTest, QuietRunsTellTheirOutcomeByExitCode) {
    JValue block = stub_.block;
    std::vector<uint8_t> bytes = ReadBytes(Variant(L"bad.exe", block, Package()));
    const std::string digest = Md5Of(Package());
    const auto at = std::search(bytes.begin(), bytes.end(), digest.begin(), digest.end());
    ASSERT_NE(at, bytes.end());
    *at = *at == 'A' ? 'B' : 'A';
    WriteBytes(root_ + L"\\bad.exe", bytes);
    {
        SetupRun run;
        ASSERT_TRUE(run.Start(root_ + L"\\bad.exe", L"/q /D \"" + root_ + L"\""));
        EXPECT_FALSE(run.Main(true, 3000).hwnd) << "a quiet run shows no screen";
        EXPECT_EQ(run.ExitCode(), 9u) << "the install error code";
    }
    {
        SetupRun run;
        ASSERT_TRUE(run.Start(sample_, L"/q /D \"" + root_ + L"\""));
        EXPECT_EQ(run.ExitCode(), 0u);
    }
    const std::wstring copy = TemporaryCopyPath();
    ASSERT_TRUE(CopyFileW((root_ + L"\\Quillo 3\\unins000.exe").c_str(), copy.c_str(), FALSE));
    {
        SetupRun run;
        ASSERT_TRUE(run.Start(copy, L"/q"));
        EXPECT_EQ(run.ExitCode(), 0u);
        EXPECT_FALSE(Exists(root_ + L"\\Quillo 3"));
    }
    {
        SetupRun run;
        JValue manifest;
        manifest["mode"] = 0;
        ASSERT_TRUE(WriteUninstaller(copy, stub_, manifest));
        ASSERT_TRUE(run.Start(copy, L"/q"));
        EXPECT_EQ(run.ExitCode(), 1u) << "a manifest without a folder";
    }
    DeleteFileW(copy.c_str());
    const std::vector<std::string> events = RequestLines(stats_);
    EXPECT_TRUE(AnyContains(events, "&op=1&")) << "the failure";
    EXPECT_TRUE(AnyContains(events, "&e=9"));
    EXPECT_TRUE(AnyContains(events, "&op=2&"));
}


// A screen reader in another process reads the options screen through the
// window's accessible object: its elements by role, name and state, the
// agreement before and after Space and after its default action, and the
// object once the program has ended.
TEST_F(SetupGuiTest, AScreenReaderReadsTheOptionsScreen) {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ASSERT_TRUE(SUCCEEDED(com));
    SetupRun run;
    ASSERT_TRUE(run.Start(sample_, L"/D \"" + root_ + L"\""));
    const ScreenWindow main = run.Main();
    ASSERT_TRUE(main.hwnd);
    IAccessible* object = nullptr;
    ASSERT_EQ(AccessibleObjectFromWindow(main.hwnd, OBJID_CLIENT, IID_IAccessible, reinterpret_cast<void**>(&object)),
              S_OK);
    ASSERT_TRUE(object);
    const auto child = [](long id) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = id;
        return v;
    };
    const auto text = [](HRESULT result, BSTR value) {
        std::wstring copy = result == S_OK && value ? std::wstring(value, SysStringLen(value)) : L"<none>";
        SysFreeString(value);
        return copy;
    };
    const auto name = [&](long id) {
        BSTR value = nullptr;
        const HRESULT result = object->get_accName(child(id), &value);
        return text(result, value);
    };
    const auto action = [&](long id) {
        BSTR value = nullptr;
        const HRESULT result = object->get_accDefaultAction(child(id), &value);
        return text(result, value);
    };
    const auto number = [&](long id, bool role) {
        VARIANT v;
        VariantInit(&v);
        const HRESULT result = role ? object->get_accRole(child(id), &v) : object->get_accState(child(id), &v);
        return result == S_OK && v.vt == VT_I4 ? v.lVal : -1;
    };
    EXPECT_EQ(name(CHILDID_SELF), L"Corvane");
    EXPECT_EQ(number(CHILDID_SELF, true), ROLE_SYSTEM_CLIENT);
    long count = 0;
    ASSERT_EQ(object->get_accChildCount(&count), S_OK);
    std::map<std::wstring, long> ids;
    for (long id = 1; id <= count; ++id) ids[name(id)] = id;

    constexpr long kFocusable = STATE_SYSTEM_FOCUSABLE, kChecked = STATE_SYSTEM_CHECKED;
    constexpr long kInvisible = STATE_SYSTEM_INVISIBLE, kUnavailable = STATE_SYSTEM_UNAVAILABLE;
    struct Row {
        const wchar_t* name;
        long role;
        long stateSet;
        long stateClear;
        const wchar_t* action;
    };
    const Row rows[] = {
        {L"Quillo 3", ROLE_SYSTEM_STATICTEXT, STATE_SYSTEM_READONLY, kInvisible | kFocusable, L"<none>"},
        {L"立即安装", ROLE_SYSTEM_PUSHBUTTON, kFocusable, kInvisible | kUnavailable, L"按下"},
        {L"我同意用户协议", ROLE_SYSTEM_CHECKBUTTON, kFocusable | kChecked, kInvisible | kUnavailable, L"清除"},
        {L"《用户协议》", ROLE_SYSTEM_LINK, kFocusable, kInvisible | kUnavailable, L"按下"},
        {L"自定义安装 ▼", ROLE_SYSTEM_PUSHBUTTON, kFocusable, kInvisible, L"按下"},
        {L"关闭", ROLE_SYSTEM_PUSHBUTTON, 0, kInvisible | kFocusable, L"按下"},
        // Folded away until the options are shown.
        {L"建立桌面快捷方式", ROLE_SYSTEM_CHECKBUTTON, kChecked | kInvisible, 0, L"清除"},
        {L"安装路径", ROLE_SYSTEM_TEXT, kInvisible | kFocusable, STATE_SYSTEM_READONLY, L"<none>"},
        {L"更换目录", ROLE_SYSTEM_PUSHBUTTON, kInvisible, 0, L"按下"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << WideToUtf8(row.name));
        ASSERT_EQ(ids.count(row.name), 1u);
        const long id = ids[row.name];
        EXPECT_EQ(number(id, true), row.role);
        const long state = number(id, false);
        EXPECT_EQ(state & row.stateSet, row.stateSet) << std::hex << state;
        EXPECT_EQ(state & row.stateClear, 0) << std::hex << state;
        EXPECT_EQ(action(id), row.action);
    }
    const long agree = ids[L"我同意用户协议"], install = ids[L"立即安装"];
    BSTR path = nullptr;
    ASSERT_EQ(object->get_accValue(child(ids[L"安装路径"]), &path), S_OK);
    EXPECT_EQ(text(S_OK, path).rfind(root_, 0), 0u) << "the path field's value is the folder";
    VARIANT hit;
    VariantInit(&hit);
    ASSERT_EQ(object->accHitTest(main.rect.left + kAgreeBox.x, main.rect.top + kAgreeBox.y, &hit), S_OK);
    EXPECT_EQ(hit.vt == VT_I4 ? hit.lVal : -1, agree) << "the agreement is under its place";
    long left = 0, top = 0, width = 0, height = 0;
    ASSERT_EQ(object->accLocation(&left, &top, &width, &height, child(agree)), S_OK);
    EXPECT_TRUE(left <= main.rect.left + kAgreeBox.x && main.rect.left + kAgreeBox.x < left + width);
    EXPECT_TRUE(top <= main.rect.top + kAgreeBox.y && main.rect.top + kAgreeBox.y < top + height);

    // Waits (a bounded while) until the element's state has `flag` or not.
    const auto becomes = [&](long id, long flag, bool set) {
        for (int i = 0; i < 100; ++i) {
            if (((number(id, false) & flag) != 0) == set) return true;
            Sleep(50);
        }
        return false;
    };
    // The keyboard: Tab to the agreement, Space clears it.
    Key(main.hwnd, VK_TAB);
    Key(main.hwnd, VK_TAB);
    EXPECT_TRUE(becomes(agree, STATE_SYSTEM_FOCUSED, true)) << "Tab reached the agreement";
    VARIANT focus;
    VariantInit(&focus);
    EXPECT_EQ(object->get_accFocus(&focus), S_OK);
    EXPECT_EQ(focus.vt == VT_I4 ? focus.lVal : -1, agree);
    Key(main.hwnd, VK_SPACE);
    EXPECT_TRUE(becomes(agree, kChecked, false)) << "Space cleared the agreement";
    EXPECT_EQ(action(agree), L"选中");
    EXPECT_TRUE(becomes(install, kUnavailable, true)) << "no installing without the agreement";
    // The screen reader's own way: the default action ticks it again.
    EXPECT_EQ(object->accDoDefaultAction(child(agree)), S_OK);
    EXPECT_TRUE(becomes(agree, kChecked, true));
    EXPECT_TRUE(becomes(install, kUnavailable, false));
    EXPECT_EQ(action(agree), L"清除");

    Key(main.hwnd, VK_ESCAPE);
    EXPECT_EQ(run.ExitCode(), static_cast<DWORD>(kExitCancelled));
    EXPECT_TRUE(FAILED(object->get_accChildCount(&count))) << "the program has ended";
    object->Release();
    CoUninitialize();
}

}  // namespace
}  // namespace quillo
