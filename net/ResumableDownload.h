// Fetches one large file over HTTP with up to five parallel ranged requests
// into a memory-mapped partial file ("<dest>.itd"), with progress events, a
// state file ("<dest>.itd.cfg") and resumption in the same object.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/FileSource.h"
#include "net/HttpAgent.h"
#include "net/MappedFile.h"

namespace quillo {

class ResumableDownload;
struct UrlParts;

struct DownloadUnit {
    std::atomic<int32_t> pending{0};  // claimed under the unit lock, cleared again by its worker
    int64_t begin = 0;
    int64_t end = 0;
    std::atomic<int64_t> cursor{0};  // bytes of the unit already written
    IHttpAgent* agent = nullptr;     // last request's agent, one reference held

    bool complete() const { return begin + cursor.load() >= end; }
};

enum DownloadEvent : int {
    kDownloadStarting = 1,
    kDownloadEnded = 2,
    kDownloadProgress = 3,
    kDownloadCompleted = 4,
};

enum DownloadStatus : int {
    kDownloadOk = 0,            // completed, or stopped on request
    kDownloadProbeFailed = 1,
    kDownloadFileFailed = 2,
    kDownloadMappingFailed = 3,
    kDownloadIncomplete = 4,    // cancelled, or ended with units incomplete
};

using DownloadEventCallback = int (*)(int event, ResumableDownload* download, void* user);
// Called before every request, one call at a time; may change the download's
// extra headers and replace the host connected to.
using DownloadRequestHook = void (*)(const std::string& urlHost, const std::string& target, WideHeaderMap& extraHeaders,
                                     ResumableDownload* download, void* user, std::string& connectHost);

// A referrer on the maker's own domain is not sent.
constexpr const char* kUnsentRefererSuffix = ".brightfen.com";

// Unit boundaries for a file of `size` bytes: [begin, end) pairs.
std::vector<std::pair<int64_t, int64_t>> LayoutUnits(int64_t size, uint32_t granularity, uint32_t count,
                                                     bool acceptRanges);

class ResumableDownload {
public:
    ResumableDownload();
    ~ResumableDownload();
    ResumableDownload(const ResumableDownload&) = delete;
    ResumableDownload& operator=(const ResumableDownload&) = delete;

    // Set by the caller before Start.
    std::wstring url, refurl, realUrl, realRefurl;
    NativePath destPath;
    WideHeaderMap extraHeaders;
    DownloadEventCallback eventCallback = nullptr;
    void* eventUser = nullptr;
    DownloadRequestHook requestHook = nullptr;
    void* hookUser = nullptr;

    // Starts the master thread when no download runs; false when one does,
    // or when no thread can be made (Status() is then 4).
    bool Start();
    // Waits until the master thread has ended.
    void Wait();
    // Asks every thread to stop; blocked reads end at once.
    void Stop();
    bool Running() const { return masterRunning_.load(); }

    // Progress for event observers.
    int64_t FileSize() const { return fileSize_.load(); }
    int64_t Downloaded() const;
    int64_t BytesPerSecond() const { return bytesPerSecond_.load(); }
    int Status() const { return status_.load(); }
    bool Complete() const;
    const std::string& LastModified() const { return lastModified_; }
    int AcceptRanges() const { return acceptRanges_; }
    size_t UnitCount() const { return units_.size(); }
    // begin, end, cursor of unit i (for tests and the state file).
    void UnitState(size_t i, int64_t& begin, int64_t& end, int64_t& cursor) const;

    uint32_t unitCount = 5;
    uint32_t granularity;

private:
    void MasterRoutine();
    // Ends a run stopped on request: state file, status 0, event 2.
    void EndStopped();
    void WorkerRoutine();
    bool Probe(const std::wstring& url, const std::wstring& referrer, int redirects);
    bool TransferUnit(DownloadUnit& unit);
    bool WriteChunk(DownloadUnit& unit);
    void LayOutUnits();
    void FreeUnits();
    bool WriteStateFile() const;
    NativePath PartialPath() const;
    NativePath StatePath() const;
    void Fire(int event);
    IHttpAgent* NewAgent(IHttpAgent*& slot);
    WideHeaderMap CallRequestHook(const UrlParts& parts, std::string& connectHost);
    void ApplyRequestHeaders(IHttpAgent& agent, const std::string& urlHost, const std::wstring& referrer,
                             const WideHeaderMap& headers);

    std::vector<std::unique_ptr<DownloadUnit>> units_;
    std::mutex unitLock_;
    std::mutex agentLock_;  // guards the agent pointers against Stop closing them
    std::mutex hookLock_;   // one request hook call at a time
    std::thread master_;
    std::atomic<bool> masterRunning_{false};
    std::vector<std::thread> workers_;
    std::atomic<int> runningWorkers_{0};
    std::mutex sleepLock_;
    std::condition_variable wake_;

    std::atomic<int64_t> fileSize_{0};
    std::string lastModified_;
    int acceptRanges_ = 0;
    IHttpAgent* probeAgent_ = nullptr;
    std::atomic<int> status_{0};
    std::atomic<int> stopFlag_{0};
    std::atomic<int64_t> bytesPerSecond_{0};
    std::atomic<int> passFinished_{0};
    MappedFile partial_;
};

}  // namespace quillo
