#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "base/TextCodec.h"
#include "json/JValue.h"
#include "net/ResumableDownload.h"
#include "tests/shared/RangeServer.h"

namespace quillo {
namespace {

using test::RangeServer;

std::string RandomContent(size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(size, '\0');
    for (char& c : s) c = static_cast<char>(rng());
    return s;
}

NativePath Native(const std::string& utf8) {
#ifdef _WIN32
    return Utf8ToWide(utf8);
#else
    return utf8;
#endif
}

std::string ReadFile(const NativePath& path) {
    FileSource file;
    if (!file.open(path)) return std::string("<missing>");
    std::string bytes(static_cast<size_t>(file.size()), '\0');
    if (!bytes.empty() && !file.readAt(0, &bytes[0], bytes.size())) return std::string("<unreadable>");
    return bytes;
}

// Compares without printing megabytes of binary data on a mismatch.
::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected) {
    if (actual == expected) return ::testing::AssertionSuccess();
    size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
    return ::testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size()
                                         << ", first difference at " << at;
}

bool Exists(const NativePath& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

struct EventLog {
    std::mutex lock;
    std::vector<int> events;
    int answerToStart = 1;
    static int Record(int event, ResumableDownload*, void* user) {
        auto* log = static_cast<EventLog*>(user);
        std::lock_guard<std::mutex> guard(log->lock);
        log->events.push_back(event);
        return event == kDownloadStarting ? log->answerToStart : 1;
    }
    bool has(int event) {
        std::lock_guard<std::mutex> guard(lock);
        return std::find(events.begin(), events.end(), event) != events.end();
    }
    int last() {
        std::lock_guard<std::mutex> guard(lock);
        return events.empty() ? 0 : events.back();
    }
};

class ResumableDownloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        #ifdef _WIN32
        const unsigned long pid = GetCurrentProcessId();
#else
        const unsigned long pid = static_cast<unsigned long>(getpid());
#endif
        dir_ = ::testing::TempDir() + "rd_" + std::to_string(pid) + "_" + name;
        std::filesystem::remove_all(Native(dir_));
        std::filesystem::create_directories(Native(dir_));
        dest_ = Native(dir_ + "/setup.exe");
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(Native(dir_), ec);
    }
    void Prepare(ResumableDownload& d, const std::string& url) {
        d.url = d.realUrl = AnsiToWide(url);
        d.destPath = dest_;
        d.eventCallback = &EventLog::Record;
        d.eventUser = &log_;
    }
    NativePath Suffixed(const char* suffix) {
        NativePath p = dest_;
        for (const char* c = suffix; *c; ++c) p.push_back(static_cast<NativePath::value_type>(*c));
        return p;
    }
    // Polls until `done` or the bound runs out.
    template <typename F>
    static bool WaitFor(F done, int ms = 20000) {
        for (int i = 0; i < ms / 10; ++i) {
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return done();
    }

    std::string dir_;
    NativePath dest_;
    EventLog log_;
};

TEST(UnitLayoutTest, UnitsAreGranuleAlignedAndCoverTheFile) {
    const auto units = LayoutUnits(1000000, 65536, 5, true);
    ASSERT_EQ(units.size(), 5u);
    const int64_t starts[] = {0, 196608, 393216, 589824, 786432};
    for (size_t i = 0; i < 5; ++i) EXPECT_EQ(units[i].first, starts[i]);
    EXPECT_EQ(units[3].second, 786432);
    EXPECT_EQ(units[4].second, 1000000);

    // 7 granules: M = 1, R = 2: the last unit takes the two spare granules and the tail.
    const auto odd = LayoutUnits(7 * 65536 + 5, 65536, 5, true);
    ASSERT_EQ(odd.size(), 5u);
    EXPECT_EQ(odd[4].first, 4 * 65536);
    EXPECT_EQ(odd[4].second, 7 * 65536 + 5);

    EXPECT_EQ(LayoutUnits(5 * 65536 - 1, 65536, 5, true), (std::vector<std::pair<int64_t, int64_t>>{{0, 327679}}));
    EXPECT_EQ(LayoutUnits(1000000, 65536, 5, false), (std::vector<std::pair<int64_t, int64_t>>{{0, 1000000}}));
    EXPECT_TRUE(LayoutUnits(0, 65536, 5, true).empty());
}

TEST_F(ResumableDownloadTest, FetchesTheFileInFiveRangedUnits) {
    const std::string content = RandomContent(1000000, 1);
    RangeServer server(content);
    ResumableDownload d;
    Prepare(d, server.url());
    ASSERT_TRUE(d.Start());
    d.Wait();
    EXPECT_EQ(d.Status(), kDownloadOk);
    EXPECT_TRUE(SameBytes(ReadFile(dest_), content));
    EXPECT_FALSE(Exists(Suffixed(".itd")));
    EXPECT_FALSE(Exists(Suffixed(".itd.cfg")));
    EXPECT_EQ(log_.events.front(), kDownloadStarting);
    EXPECT_EQ(log_.last(), kDownloadCompleted);
    EXPECT_TRUE(log_.has(kDownloadProgress));
    EXPECT_EQ(server.headCount(), 1);
    EXPECT_EQ(server.getCount(), 5);
    std::vector<std::string> ranges;
    for (const std::string& r : server.requests()) {
        const size_t at = r.find("Range: ");
        if (at != std::string::npos) ranges.push_back(r.substr(at + 7, r.find("\r\n", at) - at - 7));
    }
    std::sort(ranges.begin(), ranges.end());
    EXPECT_EQ(ranges, (std::vector<std::string>{"bytes=0-196607", "bytes=196608-393215", "bytes=393216-589823",
                                                "bytes=589824-786431", "bytes=786432-999999"}));
    EXPECT_EQ(d.LastModified(), server.lastModified);
}

TEST_F(ResumableDownloadTest, ExistingDestinationEndsAtOnceWithoutRequests) {
    RangeServer server("abc");
    ASSERT_EQ(WriteFileParts(dest_, {{"old", 3}}), WriteResult::Ok);
    ResumableDownload d;
    Prepare(d, server.url());
    d.Start();
    d.Wait();
    EXPECT_EQ(d.Status(), kDownloadOk);
    EXPECT_EQ(log_.events, std::vector<int>{kDownloadCompleted});
    EXPECT_EQ(server.headCount() + server.getCount(), 0);
    EXPECT_EQ(ReadFile(dest_), "old");
}

TEST_F(ResumableDownloadTest, ProbeFailuresAndCancellationEndTheRun) {
    RangeServer server(RandomContent(1000, 2));
    server.headStatus = 405;
    {
        ResumableDownload d;
        Prepare(d, server.url());
        d.Start();
        d.Wait();
        EXPECT_EQ(d.Status(), kDownloadProbeFailed);
        EXPECT_EQ(log_.last(), kDownloadEnded);
        EXPECT_EQ(server.getCount(), 0);
    }
    {
        ResumableDownload d;
        Prepare(d, "http://127.0.0.1:" + std::to_string(server.port()));  // no path: no request target
        d.Start();
        d.Wait();
        EXPECT_EQ(d.Status(), kDownloadProbeFailed);
    }
    {
        log_.answerToStart = 0;
        const int heads = server.headCount();
        ResumableDownload d;
        Prepare(d, server.url());
        d.Start();
        d.Wait();
        EXPECT_EQ(d.Status(), kDownloadIncomplete);
        EXPECT_EQ(server.headCount(), heads);
    }
    EXPECT_FALSE(Exists(dest_));
}

TEST_F(ResumableDownloadTest, RedirectedProbeRecordsTheRealAddressAndReferrer) {
    const std::string content = RandomContent(300000, 3);
    RangeServer server(content);
    server.redirectPath = "/old";
    ResumableDownload d;
    Prepare(d, server.url("/old"));
    d.realUrl.clear();
    d.refurl = L"http://www.brightfen.com/recommend";  // the maker's own pages are not sent as referrer
    d.Start();
    d.Wait();
    EXPECT_EQ(d.Status(), kDownloadOk);
    EXPECT_EQ(d.realUrl, AnsiToWide(server.url()));
    EXPECT_EQ(d.realRefurl, AnsiToWide(server.url("/old")));
    EXPECT_TRUE(SameBytes(ReadFile(dest_), content));
    const auto requests = server.requests();
    ASSERT_GE(requests.size(), 3u);
    EXPECT_EQ(requests[0].find("Referer"), std::string::npos) << requests[0];
    EXPECT_NE(requests[1].find("Referer: " + server.url("/old") + "\r\n"), std::string::npos) << requests[1];
    EXPECT_NE(requests.back().find("Referer: " + server.url("/old") + "\r\n"), std::string::npos);
}

// Connects every request to the loopback server and adds a header of its own.
void HookToLoopback(const std::string& urlHost, const std::string& target, WideHeaderMap& headers,
                    ResumableDownload*, void* user, std::string& connectHost) {
    headers[L"X-Hooked"] = AnsiToWide(urlHost + target);
    connectHost = *static_cast<std::string*>(user);
}

TEST_F(ResumableDownloadTest, RequestHookAddsHeadersAndChoosesTheHostConnectedTo) {
    const std::string content = RandomContent(100000, 11);
    RangeServer server(content);
    std::string loopback = "127.0.0.1";
    ResumableDownload d;
    Prepare(d, "http://downloads.example:" + std::to_string(server.port()) + "/file.bin");
    d.extraHeaders[L"X-Extra"] = L"1";
    d.requestHook = &HookToLoopback;
    d.hookUser = &loopback;
    d.Start();
    d.Wait();
    EXPECT_EQ(d.Status(), kDownloadOk);
    EXPECT_TRUE(SameBytes(ReadFile(dest_), content));
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const std::string& r : requests) {
        EXPECT_NE(r.find("\r\nHost: downloads.example\r\n"), std::string::npos) << r;  // the URL's host
        EXPECT_NE(r.find("\r\nX-Hooked: downloads.example/file.bin\r\n"), std::string::npos) << r;
        EXPECT_NE(r.find("\r\nX-Extra: 1\r\n"), std::string::npos) << r;
    }
    // The hook works on the download's own table.
    EXPECT_EQ(d.extraHeaders[L"X-Hooked"], L"downloads.example/file.bin");
}

TEST_F(ResumableDownloadTest, StoppedRunResumesFetchingOnlyTheMissingBytes) {
    const std::string content = RandomContent(1000000, 4);
    RangeServer server(content);
    server.stall = true;  // each request delivers one granule, then stalls
    ResumableDownload d;
    Prepare(d, server.url());
    d.Start();
    ASSERT_TRUE(WaitFor([&] { return d.Downloaded() == 5 * 65536; })) << d.Downloaded();
    d.Stop();
    d.Wait();
    EXPECT_EQ(d.Status(), kDownloadOk);
    EXPECT_EQ(log_.last(), kDownloadEnded);
    EXPECT_FALSE(Exists(dest_));
    EXPECT_TRUE(Exists(Suffixed(".itd")));

    JValue state;
    JReader reader;
    ASSERT_TRUE(reader.parse(ReadFile(Suffixed(".itd.cfg")), state));
    EXPECT_EQ(state.get("filesize").asInt64(), 1000000);
    EXPECT_EQ(state.get("accept-ranges").asInt(), 1);
    EXPECT_EQ(state.get("url").asString(), server.url());
    ASSERT_EQ(state.get("unit").size(), 5u);
    EXPECT_EQ(state.get("unit").at(1).get("begin").asInt64(), 196608);
    EXPECT_EQ(state.get("unit").at(1).get("cursor").asInt64(), 65536);
    EXPECT_EQ(JWriter::write(state).rfind("{\"accept-ranges\":1,\"filesize\":1000000,\"last-modified\":", 0), 0u);

    const int64_t sentBefore = server.bodyBytesSent();
    server.stall = false;
    ASSERT_TRUE(d.Start());
    d.Wait();
    EXPECT_EQ(d.Status(), kDownloadOk);
    EXPECT_TRUE(SameBytes(ReadFile(dest_), content));
    EXPECT_EQ(server.bodyBytesSent() - sentBefore, 1000000 - 5 * 65536);
    EXPECT_FALSE(Exists(Suffixed(".itd.cfg")));
}

TEST_F(ResumableDownloadTest, ChangedSizeDiscardsTheUnitsAndTheOldTail) {
    RangeServer server(RandomContent(1000000, 5));
    server.stall = true;
    ResumableDownload d;
    Prepare(d, server.url());
    d.Start();
    ASSERT_TRUE(WaitFor([&] { return d.Downloaded() == 5 * 65536; }));
    d.Stop();
    d.Wait();

    const std::string smaller = RandomContent(700000, 6);
    server.setContent(smaller);
    server.stall = false;
    d.Start();
    d.Wait();
    EXPECT_EQ(d.Status(), kDownloadOk);
    EXPECT_TRUE(SameBytes(ReadFile(dest_), smaller));  // exactly the new size, nothing of the old file behind it
    int64_t begin, end, cursor;
    d.UnitState(4, begin, end, cursor);
    EXPECT_EQ(end, 700000);
}

TEST_F(ResumableDownloadTest, ShortChunkIsFetchedAgainFromItsStart) {
    const std::string content = RandomContent(200000, 7);  // fewer than five granules: one unit
    RangeServer server(content);
    server.cutAfter = 2 * 65536 - 100;
    server.cutRequests = 1;
    ResumableDownload d;
    Prepare(d, server.url());
    d.Start();
    d.Wait();
    EXPECT_EQ(d.Status(), kDownloadOk);
    EXPECT_TRUE(SameBytes(ReadFile(dest_), content));
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);  // HEAD, the cut GET, the retry
    EXPECT_NE(requests[1].find("Range: bytes=0-199999\r\n"), std::string::npos);
    EXPECT_NE(requests[2].find("Range: bytes=65536-199999\r\n"), std::string::npos) << requests[2];
}

TEST_F(ResumableDownloadTest, ServerIgnoringRangesCannotCorruptTheFile) {
    const std::string content = RandomContent(1000000, 8);
    RangeServer server(content);
    server.ignoreRange = true;  // announces ranges, answers 200 with the whole file
    ResumableDownload d;
    Prepare(d, server.url());
    d.Start();
    d.Wait();
    EXPECT_EQ(d.Status(), kDownloadIncomplete);
    EXPECT_FALSE(Exists(dest_));
    const std::string partial = ReadFile(Suffixed(".itd"));
    ASSERT_EQ(partial.size(), content.size());
    EXPECT_TRUE(SameBytes(partial.substr(0, 196608), content.substr(0, 196608)));  // unit 0 starts at 0: its data is right
    EXPECT_TRUE(SameBytes(partial.substr(196608), std::string(1000000 - 196608, '\0')));

    // Without range support the file is fetched as one unit.
    server.ignoreRange = false;
    server.acceptRanges = false;
    ResumableDownload single;
    Prepare(single, server.url());
    single.destPath = Native(dir_ + "/single.exe");
    single.Start();
    single.Wait();
    EXPECT_EQ(single.Status(), kDownloadOk);
    EXPECT_EQ(single.UnitCount(), 1u);
    EXPECT_TRUE(SameBytes(ReadFile(single.destPath), content));
}

TEST_F(ResumableDownloadTest, ServerRefusingUnitRequestsEndsTheRun) {
    RangeServer server(RandomContent(400000, 9));
    server.getStatus = 503;
    ResumableDownload d;
    Prepare(d, server.url());
    d.Start();
    d.Wait();
    EXPECT_EQ(d.Status(), kDownloadIncomplete);
    EXPECT_EQ(log_.last(), kDownloadEnded);
    EXPECT_EQ(server.getCount(), 15);  // three passes without progress, one request per unit each
}

TEST_F(ResumableDownloadTest, StopRightAfterStartIsNotLost) {
    // Long enough that a run which missed the stop fetches the whole file.
    RangeServer server(RandomContent(1000000, 12));
    auto d = std::make_unique<ResumableDownload>();
    Prepare(*d, server.url());
    ASSERT_TRUE(d->Start());
    d.reset();  // stops before the master thread has looked at anything
    EXPECT_FALSE(Exists(dest_)) << "the run went on to the end";
    EXPECT_EQ(log_.last(), kDownloadEnded);
    EXPECT_FALSE(log_.has(kDownloadCompleted));

    // The same with Stop and Wait, and then a later Start does the work.
    ResumableDownload again;
    Prepare(again, server.url());
    ASSERT_TRUE(again.Start());
    again.Stop();
    again.Wait();
    EXPECT_EQ(again.Status(), kDownloadOk) << "stopped on request";
    EXPECT_FALSE(Exists(dest_));
    ASSERT_TRUE(again.Start());
    again.Wait();
    EXPECT_EQ(again.Status(), kDownloadOk);
    EXPECT_EQ(log_.last(), kDownloadCompleted);
    EXPECT_TRUE(Exists(dest_));
}

TEST_F(ResumableDownloadTest, InterruptedSingleUnitDownloadFinishesOnTheNextStart) {
    // A server without range support: one unit, and every request answers
    // 200 with the whole file.
    const std::string content = RandomContent(400000, 13);
    RangeServer server(content);
    server.acceptRanges = false;
    server.stall = true;  // one granule, then nothing
    ResumableDownload d;
    Prepare(d, server.url());
    d.Start();
    ASSERT_TRUE(WaitFor([&] { return d.Downloaded() == 65536; })) << d.Downloaded();
    d.Stop();
    d.Wait();
    ASSERT_EQ(d.UnitCount(), 1u);
    ASSERT_EQ(d.Downloaded(), 65536);
    EXPECT_FALSE(Exists(dest_));

    server.stall = false;
    const int gets = server.getCount();
    ASSERT_TRUE(d.Start());
    d.Wait();
    EXPECT_EQ(d.Status(), kDownloadOk);
    EXPECT_TRUE(SameBytes(ReadFile(dest_), content));
    EXPECT_EQ(server.getCount() - gets, 1) << "the whole file in one request";
    EXPECT_FALSE(Exists(Suffixed(".itd")));
}

TEST_F(ResumableDownloadTest, DestroyingARunningDownloadEndsItsThreads) {
    RangeServer server(RandomContent(1000000, 10));
    server.stall = true;
    auto d = std::make_unique<ResumableDownload>();
    Prepare(*d, server.url());
    d->Start();
    ASSERT_TRUE(WaitFor([&] { return d->Downloaded() > 0; }));
    d.reset();  // must neither hang nor touch freed units
    SUCCEED();
}

}  // namespace
}  // namespace quillo
