#include "base/RunLog.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "base/TextCodec.h"

namespace quillo {
namespace {

struct LogState {
    std::mutex lock;
    std::FILE* file = nullptr;
    std::chrono::steady_clock::time_point opened;
};

LogState& State() {
    static LogState* state = new LogState();  // lives until the process ends; workers may log late
    return *state;
}

}  // namespace

bool OpenRunLog(const NativePath& path) {
    LogState& s = State();
    std::lock_guard<std::mutex> hold(s.lock);
    if (s.file) std::fclose(s.file);
#ifdef _WIN32
    s.file = _wfopen(path.c_str(), L"wb");
#else
    s.file = std::fopen(path.c_str(), "wb");
#endif
    s.opened = std::chrono::steady_clock::now();
    return s.file != nullptr;
}

void CloseRunLog() {
    LogState& s = State();
    std::lock_guard<std::mutex> hold(s.lock);
    if (s.file) std::fclose(s.file);
    s.file = nullptr;
}

bool RunLogOpen() {
    LogState& s = State();
    std::lock_guard<std::mutex> hold(s.lock);
    return s.file != nullptr;
}

void LogLine(const std::string& utf8) {
    LogState& s = State();
    std::lock_guard<std::mutex> hold(s.lock);
    if (!s.file) return;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - s.opened);
    std::string line = utf8;
    for (char& c : line)
        if (c == '\r' || c == '\n') c = ' ';
    std::fprintf(s.file, "[%7.3f] %s\n", static_cast<double>(ms.count()) / 1000.0, line.c_str());
    // Flushed line by line: a run that is killed keeps what it logged.
    std::fflush(s.file);
}

void LogLine(const std::wstring& text) {
    if (RunLogOpen()) LogLine(WideToUtf8(text));
}

void LogLinef(const char* format, ...) {
    if (!RunLogOpen()) return;
    char buffer[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    LogLine(std::string(buffer));
}

}  // namespace quillo
