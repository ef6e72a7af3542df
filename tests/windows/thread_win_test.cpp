// Worker threads and their reports: CHThread, the worker messages and the
// post-install commands, on real threads, windows and processes.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/CHThread.h"
#include "base/SystemInfo.h"
#include "base/TextCodec.h"
#include "install/RunState.h"

namespace quillo {
namespace {

// A hidden window that records the worker messages it receives.
class ReportWindow {
public:
    struct Report {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        DWORD thread;
    };

    ReportWindow() {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = &ReportWindow::Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"QuilloReportWindow";
        RegisterClassW(&wc);
        hwnd = CreateWindowW(L"QuilloReportWindow", L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                             wc.hInstance, nullptr);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~ReportWindow() { DestroyWindow(hwnd); }

    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
        auto* self = reinterpret_cast<ReportWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (self && msg >= WM_SETUP_DONE && msg <= WM_SETUP_FAILED) {
            self->reports.push_back({msg, wp, lp, GetCurrentThreadId()});
            return 0;
        }
        return DefWindowProcW(hwnd, msg, wp, lp);
    }

    HWND hwnd = nullptr;
    std::vector<Report> reports;
};

void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

TEST(CHThreadTest, HooksAndBodyRunInOrderOnTheNewThread) {
    CHThread thread;
    std::mutex lock;
    std::vector<std::string> order;
    std::vector<DWORD> threads;
    auto note = [&](const char* what) {
        std::lock_guard<std::mutex> hold(lock);
        order.push_back(what);
        threads.push_back(GetCurrentThreadId());
    };
    thread.onStart = [&] { note("start"); };
    thread.onExit = [&] { note("exit"); };
    ASSERT_TRUE(thread.Start([&](CHThread* self) {
        EXPECT_EQ(self, &thread);
        note("body");
    }));
    thread.WaitPumpingMessages();
    EXPECT_FALSE(thread.Running());
    ASSERT_EQ(order, (std::vector<std::string>{"start", "body", "exit"}));
    EXPECT_NE(threads[0], GetCurrentThreadId());
    EXPECT_EQ(threads[0], threads[1]);
    EXPECT_EQ(threads[1], threads[2]);
}

struct RoutineData {
    std::atomic<int> calls{0};
    void* seen = nullptr;
    HANDLE release = nullptr;
};

void Routine(CHThread*, void* userData) {
    auto* data = static_cast<RoutineData*>(userData);
    data->seen = userData;
    ++data->calls;
    WaitForSingleObject(data->release, 10000);
}

TEST(CHThreadTest, StartOnARunningThreadReturnsFalseAndChangesNothing) {
    RoutineData data;
    data.release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    CHThread thread;
    ASSERT_TRUE(thread.Start(&Routine, &data));
    EXPECT_TRUE(thread.Running());
    RoutineData other;
    EXPECT_FALSE(thread.Start(&Routine, &other));
    bool bodyRan = false;
    EXPECT_FALSE(thread.Start([&](CHThread*) { bodyRan = true; }));
    SetEvent(data.release);
    thread.WaitPumpingMessages();
    EXPECT_EQ(data.calls.load(), 1);
    EXPECT_EQ(data.seen, &data);
    EXPECT_EQ(other.calls.load(), 0);
    EXPECT_FALSE(bodyRan);

    // Idle again: it can be started anew.
    ASSERT_TRUE(thread.Start(&Routine, &data));
    thread.WaitPumpingMessages();
    EXPECT_EQ(data.calls.load(), 2);
    CloseHandle(data.release);
}

TEST(CHThreadTest, TheWaitDispatchesTheWorkersReports) {
    ReportWindow window;
    RunState state;
    state.window = window.hwnd;
    std::vector<std::wstring> texts;
    std::mutex lock;
    state.statusSink = [&](const std::wstring& text) {
        std::lock_guard<std::mutex> hold(lock);
        texts.push_back(text);
    };
    ASSERT_TRUE(state.installThread.Start([&](CHThread*) {
        state.SetStatusText(L"正在解压文件 %ld%%", 10);
        state.ReportProgress(10);
        state.ReportProgress(60);
        state.ReportFailed(8);
        state.ReportDone();
    }));
    state.installThread.WaitPumpingMessages();
    Pump();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], L"正在解压文件 10%");
    // The posted ones arrive in order; the completion is sent with a zero
    // time-out and still reaches the window.
    std::vector<ReportWindow::Report> posted, sent;
    for (const auto& r : window.reports) (r.message == WM_SETUP_DONE ? sent : posted).push_back(r);
    ASSERT_EQ(posted.size(), 3u);
    EXPECT_EQ(posted[0].message, WM_SETUP_PROGRESS);
    EXPECT_EQ(posted[0].wParam, 1u);
    EXPECT_EQ(posted[0].lParam, 10);
    EXPECT_EQ(posted[1].lParam, 60);
    EXPECT_EQ(posted[2].message, WM_SETUP_FAILED);
    EXPECT_EQ(posted[2].wParam, 1u);
    EXPECT_EQ(posted[2].lParam, 8);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].wParam, 0u);
    for (const auto& r : window.reports) EXPECT_EQ(r.thread, GetCurrentThreadId());
}

TEST(RunStateTest, CompletionReachesAWindowThatIsBusyWhenItIsSent) {
    // A quiet installation of a small package can complete while the
    // window's thread is still creating its windows.
    ReportWindow window;
    RunState state;
    state.window = window.hwnd;
    CHThread worker;
    ASSERT_TRUE(worker.Start([&](CHThread*) { state.ReportDone(); }));
    Sleep(500);  // busy: nothing is dispatched meanwhile
    for (int i = 0; i < 20; ++i) {
        Pump();
        Sleep(10);
    }
    size_t done = 0;
    for (const auto& r : window.reports) done += r.message == WM_SETUP_DONE ? 1 : 0;
    EXPECT_EQ(done, 1u) << "delivered once, not lost and not twice";
}

TEST(CHThreadTest, QuitDuringTheWaitEndsTheWorkerAndTheLoop) {
    std::atomic<bool> started{false};
    std::atomic<bool> finished{false};
    auto thread = std::make_unique<CHThread>();
    ASSERT_TRUE(thread->Start([&](CHThread*) {
        started = true;
        for (int i = 0; i < 3000; ++i) Sleep(10);  // far longer than the test
        finished = true;
    }));
    while (!started) Sleep(1);
    PostQuitMessage(0);
    thread->WaitPumpingMessages();
    EXPECT_FALSE(thread->Running());
    EXPECT_FALSE(finished.load());
    // The quit is posted again for the application's own loop.
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 0u);
}

TEST(CHThreadTest, TerminateAndDestructionEndARunningThread) {
    std::atomic<int> loops{0};
    {
        CHThread thread;
        bool exitRan = false;
        thread.onExit = [&] { exitRan = true; };
        ASSERT_TRUE(thread.Start([&](CHThread*) {
            for (;;) {
                ++loops;
                Sleep(5);
            }
        }));
        while (loops == 0) Sleep(1);
        thread.Terminate();
        EXPECT_FALSE(thread.Running());
        EXPECT_FALSE(exitRan);
        const int seen = loops;
        Sleep(50);
        EXPECT_EQ(loops.load(), seen);

        loops = 0;
        ASSERT_TRUE(thread.Start([&](CHThread*) {
            for (;;) {
                ++loops;
                Sleep(5);
            }
        }));
        while (loops == 0) Sleep(1);
    }  // destroyed while running
    const int seen = loops;
    Sleep(50);
    EXPECT_EQ(loops.load(), seen);
}

TEST(CHThreadTest, WaitOnAnIdleThreadReturnsAtOnce) {
    CHThread thread;
    thread.WaitPumpingMessages();
    EXPECT_FALSE(thread.Running());
    thread.Terminate();
}

// ---------------------------------------------------------------------------
// Post-install commands, started as real processes.

std::wstring SampleDir() {
    const char* env = std::getenv("QUILLO_SAMPLE_DIR");
    std::wstring dir = env ? Utf8ToWide(env) : std::wstring();
    for (wchar_t& c : dir)
        if (c == L'/') c = L'\\';
    return dir;
}

std::wstring RunsFile() { return TempFolder() + L"quillo-sample-runs.txt"; }

std::vector<std::string> ReadRuns(size_t expected) {
    std::vector<std::string> lines;
    for (int i = 0; i < 200; ++i) {
        lines.clear();
        std::ifstream in(RunsFile().c_str());
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(line);
        }
        if (lines.size() >= expected) break;
        Sleep(50);
    }
    return lines;
}

class PostInstallTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(SampleDir().empty()) << "QUILLO_SAMPLE_DIR must name the sample programs";
        root_ = TempFolder() + L"quillo post";
        dir_ = root_ + L"\\space dir";
        CreateDirectoryW(root_.c_str(), nullptr);
        CreateDirectoryW(dir_.c_str(), nullptr);
        ASSERT_TRUE(CopyFileW((SampleDir() + L"\\QuilloDaemon.exe").c_str(), (dir_ + L"\\QuilloDaemon.exe").c_str(),
                              FALSE));
        // What an unquoted command line would start instead.
        ASSERT_TRUE(CopyFileW((SampleDir() + L"\\Quillo.exe").c_str(), (root_ + L"\\space.exe").c_str(), FALSE));
        DeleteFileW(RunsFile().c_str());
    }
    void TearDown() override {
        DeleteFileW((dir_ + L"\\QuilloDaemon.exe").c_str());
        DeleteFileW((root_ + L"\\space.exe").c_str());
        RemoveDirectoryW(dir_.c_str());
        RemoveDirectoryW(root_.c_str());
        DeleteFileW(RunsFile().c_str());
    }
    std::wstring root_, dir_;
};

JValue Parse(const char* text) {
    JValue v;
    JReader reader;
    EXPECT_TRUE(reader.parse(text, v));
    return v;
}

TEST_F(PostInstallTest, EachCommandStartsTheProgramInTheFolderWithSpaces) {
    RunState state;
    state.installDir = dir_;
    state.installCommands = Parse("[\"QuilloDaemon.exe /fi\", \"QuilloDaemon.exe /tray 1\", \"Missing.exe /x\"]");
    RunPostInstallCommands(state);
    std::vector<std::string> runs = ReadRuns(2);
    Sleep(300);  // anything else started would have recorded by now
    runs = ReadRuns(2);
    std::sort(runs.begin(), runs.end());  // started without waiting: any order
    EXPECT_EQ(runs, (std::vector<std::string>{"QuilloDaemon /fi", "QuilloDaemon /tray 1"}));
}

TEST_F(PostInstallTest, AnythingButAnArrayRunsNothing) {
    RunState state;
    state.installDir = dir_;
    for (const char* text : {"[]", "\"QuilloDaemon.exe /fi\"", "{\"a\":\"QuilloDaemon.exe /fi\"}", "null", "5"}) {
        state.installCommands = Parse(text);
        RunPostInstallCommands(state);
    }
    // A control run that does start proves the runs file would be written.
    state.installCommands = Parse("[\"QuilloDaemon.exe /control\"]");
    RunPostInstallCommands(state);
    EXPECT_EQ(ReadRuns(1), (std::vector<std::string>{"QuilloDaemon /control"}));
}

}  // namespace
}  // namespace quillo
