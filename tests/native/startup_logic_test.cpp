#include <gtest/gtest.h>

#include "app/StartupLogic.h"
#include "base/TextCodec.h"
#include "base/TickCount.h"
#include "install/InstallError.h"
#include "install/Registry.h"

namespace quillo {
namespace {

JValue Parse(const char* text) {
    JValue v;
    JReader reader;
    EXPECT_TRUE(reader.parse(text, v)) << text;
    return v;
}

TEST(StartupSettingsTest, BlockWithoutModeOrUnreadIsNotUsable) {
    EXPECT_FALSE(ReadStartupSettings(Parse("{\"channel\":3}"), true, kArchitectureX86).blockUsable);
    EXPECT_FALSE(ReadStartupSettings(Parse("{\"mode\":1}"), false, kArchitectureX86).blockUsable);
    EXPECT_FALSE(ReadStartupSettings(Parse("[1,2]"), true, kArchitectureX86).blockUsable);
    EXPECT_TRUE(ReadStartupSettings(Parse("{\"mode\":null}"), true, kArchitectureX86).blockUsable);
}

TEST(StartupSettingsTest, ModeChoosesTheRoleWithTheLenientConversions) {
    EXPECT_EQ(ReadStartupSettings(Parse("{\"mode\":0}"), true, kArchitectureX86).role, 0);
    EXPECT_EQ(ReadStartupSettings(Parse("{\"mode\":\"0\"}"), true, kArchitectureX86).role, 0);
    EXPECT_EQ(ReadStartupSettings(Parse("{\"mode\":0.7}"), true, kArchitectureX86).role, 0);
    EXPECT_EQ(ReadStartupSettings(Parse("{\"mode\":false}"), true, kArchitectureX86).role, 0);
    EXPECT_EQ(ReadStartupSettings(Parse("{\"mode\":1}"), true, kArchitectureX86).role, 1);
    EXPECT_EQ(ReadStartupSettings(Parse("{\"mode\":7}"), true, kArchitectureX86).role, 1);
    EXPECT_EQ(ReadStartupSettings(Parse("{\"mode\":\"2\"}"), true, kArchitectureX86).role, 1);
}

TEST(StartupSettingsTest, DefaultsAndConversions) {
    StartupSettings s = ReadStartupSettings(Parse("{\"mode\":1}"), true, kArchitectureAmd64);
    EXPECT_EQ(s.channel, 1);
    EXPECT_EQ(s.extraPack, 1);
    EXPECT_EQ(s.driverComponents, 0);
    EXPECT_EQ(s.selfLaunch, 0);
    EXPECT_FALSE(s.quietKey);
    EXPECT_TRUE(s.packageDigest.empty());

    s = ReadStartupSettings(
        Parse("{\"mode\":1,\"channel\":\"12\",\"extrapack\":\"0\",\"selflaunch\":2,\"quiet\":[0],"
              "\"md5\":\"ABC\",\"protocol\":\"eHl6\"}"),
        true, kArchitectureX86);
    EXPECT_EQ(s.channel, 12);
    EXPECT_EQ(s.extraPack, 1);  // a non-empty string is true, even "0"
    EXPECT_EQ(s.selfLaunch, 1);
    EXPECT_TRUE(s.quietKey);
    EXPECT_EQ(s.packageDigest, L"ABC");
    EXPECT_EQ(s.protocol, "eHl6");
    EXPECT_EQ(s.protocolBytes, "xyz");

    s = ReadStartupSettings(Parse("{\"mode\":1,\"extrapack\":false,\"quiet\":\"\",\"channel\":9.9}"), true, kArchitectureX86);
    EXPECT_EQ(s.extraPack, 0);
    EXPECT_FALSE(s.quietKey);
    EXPECT_EQ(s.channel, 9);
}

TEST(StartupSettingsTest, ProtocolTextIsDecodedAndBadBase64LeavesItEmpty) {
    struct Row {
        const char* block;
        std::string raw;
        std::string decoded;
    };
    const Row rows[] = {
        {"{\"mode\":1,\"protocol\":\"aHR0cHM6Ly9x\"}", "aHR0cHM6Ly9x", "https://q"},
        {"{\"mode\":1,\"protocol\":\"AP8=\"}", "AP8=", std::string("\0\xFF", 2)},  // bytes, not text
        {"{\"mode\":1,\"protocol\":\"\"}", "", ""},
        {"{\"mode\":1,\"protocol\":\"not base64!\"}", "not base64!", ""},
        {"{\"mode\":1,\"protocol\":\"eHl\"}", "eHl", ""},  // cut short
        {"{\"mode\":1,\"protocol\":\"eH=6\"}", "eH=6", ""},  // padding inside
        {"{\"mode\":1,\"protocol\":7}", "", ""},  // not a string: no text
        {"{\"mode\":1}", "", ""},
    };
    for (const Row& row : rows) {
        const StartupSettings s = ReadStartupSettings(Parse(row.block), true, kArchitectureX86);
        EXPECT_TRUE(s.blockUsable) << row.block;
        EXPECT_EQ(s.role, 1) << row.block;
        EXPECT_EQ(s.protocol, row.raw) << row.block;
        EXPECT_EQ(s.protocolBytes, row.decoded) << row.block;
    }
}

TEST(StartupSettingsTest, DriverFlagFollowsTheProcessor) {
    EXPECT_STREQ(DriverFlagKey(kArchitectureAmd64), "ituneslite64");
    EXPECT_STREQ(DriverFlagKey(kArchitectureX86), "ituneslite32");
    // 64-bit Windows on these processors, and still the 32-bit flag.
    EXPECT_STREQ(DriverFlagKey(kArchitectureArm64), "ituneslite32");
    EXPECT_STREQ(DriverFlagKey(kArchitectureIa64), "ituneslite32");
    EXPECT_STREQ(DriverFlagKey(0xFFFF), "ituneslite32");  // PROCESSOR_ARCHITECTURE_UNKNOWN

    const JValue block = Parse("{\"mode\":1,\"ituneslite64\":true,\"ituneslite32\":false}");
    EXPECT_EQ(ReadStartupSettings(block, true, kArchitectureAmd64).driverComponents, 1);
    EXPECT_EQ(ReadStartupSettings(block, true, kArchitectureX86).driverComponents, 0);
    EXPECT_EQ(ReadStartupSettings(block, true, kArchitectureArm64).driverComponents, 0);
    const JValue only32 = Parse("{\"mode\":1,\"ituneslite32\":1}");
    EXPECT_EQ(ReadStartupSettings(only32, true, kArchitectureAmd64).driverComponents, 0);
    EXPECT_EQ(ReadStartupSettings(only32, true, kArchitectureX86).driverComponents, 1);
}

// Switches as deployment tools write them, in any letter case; later ones
// win; what no switch takes is kept as unknown (index 0, the program, never).
TEST(CommandLineTest, SwitchSpellingsOfDeploymentTools) {
    struct Row {
        std::vector<std::wstring> args;
        bool quiet;
        std::wstring requested;  // "/D": the product folder goes below it
        std::wstring exact;      // "/DIR": exactly there
        bool noLaunch, noRestart, help;
        std::vector<std::wstring> unknown;
    };
    const Row rows[] = {
        {{L"setup.exe", L"/D", L"C:\\Tools"}, false, L"C:\\Tools", L"", false, false, false, {}},
        {{L"setup.exe", L"/q"}, true, L"", L"", false, false, false, {}},
        {{L"setup.exe", L"/Q"}, true, L"", L"", false, false, false, {}},
        {{L"setup.exe", L"/S"}, true, L"", L"", false, false, false, {}},
        {{L"setup.exe", L"/s"}, true, L"", L"", false, false, false, {}},
        {{L"setup.exe", L"/SILENT"}, true, L"", L"", false, false, false, {}},
        {{L"setup.exe", L"/VerySilent"}, true, L"", L"", false, false, false, {}},
        {{L"setup.exe", L"/d", L"C:\\Tools"}, false, L"C:\\Tools", L"", false, false, false, {}},
        {{L"setup.exe", L"/D=C:\\Program Files\\X"}, false, L"C:\\Program Files\\X", L"", false, false, false, {}},
        {{L"setup.exe", L"/DIR=D:\\Apps\\Quillo"}, false, L"", L"D:\\Apps\\Quillo", false, false, false, {}},
        {{L"setup.exe", L"/dir=D:\\A", L"/D", L"C:\\B"}, false, L"C:\\B", L"", false, false, false, {}},
        {{L"setup.exe", L"/D", L"C:\\B", L"/DIR=D:\\A"}, false, L"", L"D:\\A", false, false, false, {}},
        {{L"setup.exe", L"/D", L"C:\\A", L"/q", L"/D", L"C:\\B", L"/D"}, true, L"C:\\B", L"", false, false, false, {}},
        // The folder after "/D" is consumed even when it looks like a switch.
        {{L"setup.exe", L"/D", L"/q"}, false, L"/q", L"", false, false, false, {}},
        {{L"setup.exe", L"/S", L"/NOLAUNCH", L"/norestart"}, true, L"", L"", true, true, false, {}},
        {{L"setup.exe", L"/?"}, false, L"", L"", false, false, true, {}},
        {{L"setup.exe", L"/help", L"/q"}, true, L"", L"", false, false, true, {}},
        {{L"setup.exe", L"/q", L"/quiet", L"-s", L"C:\\x"}, true, L"", L"", false, false, false,
         {L"/quiet", L"-s", L"C:\\x"}},
        {{L"setup.exe", L"/DIRX=C:\\A", L"/D:C:\\A"}, false, L"", L"", false, false, false,
         {L"/DIRX=C:\\A", L"/D:C:\\A"}},
        // Index 0 is examined too, but never unknown.
        {{L"/q"}, true, L"", L"", false, false, false, {}},
        {{L"C:\\setup.exe"}, false, L"", L"", false, false, false, {}},
    };
    int index = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(index++);
        const CommandLineOptions o = ParseCommandLine(row.args);
        EXPECT_EQ(o.quiet, row.quiet);
        EXPECT_EQ(o.requestedFolder, row.requested);
        EXPECT_EQ(o.exactFolder, row.exact);
        EXPECT_EQ(o.noLaunch, row.noLaunch);
        EXPECT_EQ(o.noRestart, row.noRestart);
        EXPECT_EQ(o.help, row.help);
        EXPECT_EQ(o.unknown, row.unknown);
    }
}

TEST(CommandLineTest, LogSwitchTakesTheFileInEitherForm) {
    struct Row {
        std::vector<std::wstring> args;
        std::wstring logFile;
        bool quiet;
    };
    const Row rows[] = {
        {{L"setup.exe", L"/q", L"/LOG=C:\\logs\\setup.log"}, L"C:\\logs\\setup.log", true},
        {{L"setup.exe", L"/LOG", L"C:\\a b\\x.log", L"/q"}, L"C:\\a b\\x.log", true},
        {{L"setup.exe", L"/log=x.log"}, L"x.log", false},
        {{L"setup.exe", L"/LOG=a.log", L"/Log", L"b.log"}, L"b.log", false},  // later ones win
        {{L"setup.exe", L"/LOG"}, L"", false},                                 // no file: ignored
        {{L"setup.exe", L"/LOG="}, L"", false},
        {{L"setup.exe", L"/LOGX=a.log"}, L"", false},
        {{L"setup.exe", L"/LOG", L"/q"}, L"/q", false},  // the element after the switch is the file
    };
    int index = 0;
    for (const Row& row : rows) {
        const CommandLineOptions o = ParseCommandLine(row.args);
        EXPECT_EQ(o.logFile, row.logFile) << "row " << index;
        EXPECT_EQ(o.quiet, row.quiet) << "row " << index;
        ++index;
    }
}

TEST(InstallFolderTest, RequestedFolderThenEarlierInstallationThenProgramFiles) {
    const std::wstring pf = L"C:\\Program Files (x86)";
    EarlierInstallation earlier{L"D:\\Apps\\Quillo 3\\unins000.exe", 3000};
    EXPECT_EQ(ProposeInstallFolder(L"C:\\Tools", earlier, pf), L"C:\\Tools\\Quillo 3");
    EXPECT_EQ(ProposeInstallFolder(L"", earlier, pf), L"D:\\Apps\\Quillo 3");
    earlier.version = 2999;
    EXPECT_EQ(ProposeInstallFolder(L"", earlier, pf), L"C:\\Program Files (x86)\\Brightfen\\Quillo 3");
    earlier.version = 0;  // absent or not a DWORD
    EXPECT_EQ(ProposeInstallFolder(L"", earlier, pf), L"C:\\Program Files (x86)\\Brightfen\\Quillo 3");
    EXPECT_EQ(ProposeInstallFolder(L"", EarlierInstallation{L"", 5000}, pf),
              L"C:\\Program Files (x86)\\Brightfen\\Quillo 3");
    EXPECT_EQ(ProposeInstallFolder(L"", EarlierInstallation{L"unins000.exe", 5000}, pf),
              L"C:\\Program Files (x86)\\Brightfen\\Quillo 3");
}

TEST(InstallFolderTest, RemoveFileSpecKeepsRoots) {
    EXPECT_EQ(RemoveFileSpec(L"C:\\A\\B\\unins000.exe"), L"C:\\A\\B");
    EXPECT_EQ(RemoveFileSpec(L"C:\\unins000.exe"), L"C:\\");
    EXPECT_EQ(RemoveFileSpec(L"\\unins000.exe"), L"\\");
    EXPECT_EQ(RemoveFileSpec(L"unins000.exe"), L"");
    EXPECT_EQ(RemoveFileSpec(L"C:\\A\\"), L"C:\\A");
}

// An elevated relaunch is waited for; a quiet run never prompts; a prompt
// that is refused never ends as success; the product starts after a quiet
// run only when asked, never with "/NOLAUNCH" and never as the system account.
TEST(ElevationTest, TheRelaunchIsWaitedForAndAQuietRunNeverPrompts) {
    EXPECT_EQ(DecideElevation(false, false), ElevationStep::None);
    EXPECT_EQ(DecideElevation(false, true), ElevationStep::None);
    EXPECT_EQ(DecideElevation(true, false), ElevationStep::Relaunch);
    EXPECT_EQ(DecideElevation(true, true), ElevationStep::FailQuietly);
    EXPECT_EQ(RelaunchExitCode(true, 0), 0);
    EXPECT_EQ(RelaunchExitCode(true, 8), 8);
    EXPECT_EQ(RelaunchExitCode(true, 3010), 3010);
    EXPECT_EQ(RelaunchExitCode(false, 0), kExitElevationRequired);
    EXPECT_NE(kExitElevationRequired, 0);

    struct Row {
        bool quiet, selfLaunch, noLaunch, system, starts;
    };
    const Row rows[] = {
        {true, true, false, false, true},   {true, true, true, false, false}, {true, true, false, true, false},
        {true, false, false, false, false}, {false, true, false, false, false},
    };
    for (const Row& r : rows)
        EXPECT_EQ(ShouldStartProduct(r.quiet, r.selfLaunch, r.noLaunch, r.system), r.starts)
            << r.quiet << r.selfLaunch << r.noLaunch << r.system;
}

TEST(ElevationTest, OnlyAFilteredAdministratorOnNt6Relaunches) {
    EXPECT_TRUE(ShouldRelaunchElevated(true, kTokenElevationTypeLimited, true));
    EXPECT_FALSE(ShouldRelaunchElevated(false, kTokenElevationTypeLimited, true));  // XP
    EXPECT_FALSE(ShouldRelaunchElevated(true, 2, true));                            // already elevated
    EXPECT_FALSE(ShouldRelaunchElevated(true, 1, false));                           // no split token
    EXPECT_FALSE(ShouldRelaunchElevated(true, kTokenElevationTypeLimited, false));  // standard user
}

TEST(ElevationTest, RelaunchParametersQuoteOnlyWhatNeedsIt) {
    EXPECT_EQ(BuildRelaunchParameters({L"setup.exe"}), L"");
    EXPECT_EQ(BuildRelaunchParameters({L"setup.exe", L"/q", L"/D", L"C:\\Tools"}), L" /q /D C:\\Tools");
    EXPECT_EQ(BuildRelaunchParameters({L"C:\\my setup.exe", L"/D", L"C:\\Program Files\\X"}),
              L" /D \"C:\\Program Files\\X\"");
    EXPECT_EQ(QuoteArgument(L"C:\\dir with space\\"), L"\"C:\\dir with space\\\\\"");
    EXPECT_EQ(QuoteArgument(L"say \"hi\""), L"\"say \\\"hi\\\"\"");
    EXPECT_EQ(QuoteArgument(L"a\\\\\"b"), L"\"a\\\\\\\\\\\"b\"");
    EXPECT_EQ(QuoteArgument(L"tab\there"), L"\"tab\there\"");
    EXPECT_EQ(QuoteArgument(L"C:\\a\\b"), L"C:\\a\\b");  // backslashes alone stay as they are
}

TEST(UninstallerMoveTest, RunsOnlyFromTheTemporaryCopy) {
    const std::wstring temp = L"C:\\Users\\u\\AppData\\Local\\Temp\\";
    const struct {
        std::wstring module;
        bool mustMove;
    } rows[] = {
        {L"C:\\Program Files\\Brightfen\\Quillo 3\\unins000.exe", true},
        {temp + L"Quillo_Temp_0123456789ABCDEF\\unins000.exe", false},
        {L"c:\\users\\U\\appdata\\local\\temp\\quillo_temp_0123456789abcdef\\UNINS000.EXE", false},
        // The fixed name of old: anybody may put a program there.
        {temp + L"unins000.exe", true},
        {temp + L"Quillo_Temp_0123456789ABCDEF\\unins001.exe", true},
        {temp + L"Quillo_Temp_0123456789ABCDEG\\unins000.exe", true},
        {temp + L"Quillo_Temp_0123456789ABCDE\\unins000.exe", true},
        {temp + L"Quillo_Temp_0123456789ABCDEF\\x\\unins000.exe", true},
        {L"D:\\Temp\\Quillo_Temp_0123456789ABCDEF\\unins000.exe", true},
    };
    for (const auto& row : rows)
        EXPECT_EQ(DecideUninstallerMove(row.module, temp).mustMove, row.mustMove) << WideToUtf8(row.module);
}

TEST(RegistryRulesTest, StringsNeedTheirTypeAndATerminatingNul) {
    const uint8_t text[] = {'a', 0, 'b', 0, 0, 0};
    std::wstring s;
    ASSERT_TRUE(DecodeRegString(kRegSz, text, sizeof text, s));
    EXPECT_EQ(s, L"ab");
    ASSERT_TRUE(DecodeRegString(kRegExpandSz, text, sizeof text, s));
    EXPECT_EQ(s, L"ab");
    EXPECT_FALSE(DecodeRegString(kRegSz, text, 4, s));  // no NUL within the data
    EXPECT_FALSE(DecodeRegString(7 /* REG_MULTI_SZ */, text, sizeof text, s));
    EXPECT_FALSE(DecodeRegString(3 /* REG_BINARY */, text, sizeof text, s));
    const uint8_t chinese[] = {0x89, 0x5B, 0xC5, 0x88, 0, 0};  // 安装
    ASSERT_TRUE(DecodeRegString(kRegSz, chinese, sizeof chinese, s));
    EXPECT_EQ(s, L"安装");

    const uint8_t dword[] = {0xB8, 0x0B, 0, 0};
    uint32_t v = 0;
    ASSERT_TRUE(DecodeRegDword(kRegDword, dword, 4, v));
    EXPECT_EQ(v, 3000u);
    EXPECT_FALSE(DecodeRegDword(11 /* REG_QWORD */, dword, 4, v));
    EXPECT_FALSE(DecodeRegDword(kRegSz, dword, 4, v));
    EXPECT_FALSE(DecodeRegDword(kRegDword, dword, 2, v));
}

TEST(InstallErrorTest, EveryFailureCodeButTheDigestHasAText) {
    for (int code = 1; code <= 8; ++code) EXPECT_NE(std::wstring(InstallErrorText(code)), L"") << code;
    EXPECT_EQ(std::wstring(InstallErrorText(9)), L"");
    EXPECT_EQ(std::wstring(InstallErrorText(5)), L"安装包内容不正确, 请重新下载");
}

// The 32-bit counter readings a test hands out, one per read.
std::vector<uint32_t> counterReadings;
size_t counterNext = 0;
uint32_t ScriptedCounter() { return counterReadings.at(counterNext++); }

TEST(TickCountTest, WrapsOfTheCounterCarryIntoTheHighHalf) {
    struct Case {
        const char* what;
        uint64_t start;
        std::vector<uint32_t> readings;
        std::vector<uint64_t> expected;
    };
    const Case cases[] = {
        {"counting up", 0, {10, 20, 20, 4000000000u}, {10, 20, 20, 4000000000u}},
        {"one wrap", 0, {0xFFFFFFF0u, 5, 6}, {0xFFFFFFF0u, 0x100000005ull, 0x100000006ull}},
        {"two wraps", 0, {0xF0000000u, 1, 0xF0000000u, 2},
         {0xF0000000u, 0x100000001ull, 0x1F0000000ull, 0x200000002ull}},
        {"the same reading, then one below it", 0x100000007ull, {7, 6}, {0x100000007ull, 0x200000006ull}},
        {"after earlier wraps", 0x3FFFFFFFFull, {0xFFFFFFFFu, 0}, {0x3FFFFFFFFull, 0x400000000ull}},
    };
    for (const Case& c : cases) {
        std::atomic<uint64_t> last{c.start};
        counterReadings = c.readings;
        counterNext = 0;
        std::vector<uint64_t> values;
        for (size_t i = 0; i < c.readings.size(); ++i) values.push_back(ExtendTickCount(last, ScriptedCounter));
        EXPECT_EQ(values, c.expected) << c.what;
        EXPECT_EQ(last.load(), c.expected.back()) << c.what;
        EXPECT_EQ(counterNext, c.readings.size()) << c.what << ": one reading per call";
    }
}

}  // namespace
}  // namespace quillo
