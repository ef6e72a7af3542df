#include "net/ResumableDownload.h"

#include <chrono>
#include <system_error>

#include "base/TextCodec.h"
#include "json/JValue.h"
#include "net/CHttpAgent.h"
#include "net/Url.h"

namespace quillo {

namespace {

// Passes in a row that bring no byte before a run gives up (a server that
// keeps refusing unit requests would otherwise be asked forever).
constexpr int kMaxIdlePasses = 3;
constexpr int kAttemptsPerUnit = 3;
constexpr int kReadSlice = 16384;

NativePath WithSuffix(const NativePath& path, const char* suffix) {
    NativePath out = path;
    for (const char* p = suffix; *p; ++p) out.push_back(static_cast<NativePath::value_type>(*p));
    return out;
}

bool SendsReferer(const std::wstring& referrer) {
    return !referrer.empty() && WideToAnsi(referrer).find(kUnsentRefererSuffix) == std::string::npos;
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

std::vector<std::pair<int64_t, int64_t>> LayoutUnits(int64_t size, uint32_t granularity, uint32_t count,
                                                     bool acceptRanges) {
    std::vector<std::pair<int64_t, int64_t>> units;
    if (size <= 0 || granularity == 0 || count == 0) return units;
    const int64_t g = granularity;
    const int64_t granules = size / g;
    const int64_t perUnit = granules / count;
    // Without range support every request gets the whole file: one unit.
    if (!acceptRanges || perUnit == 0) {
        units.emplace_back(0, size);
        return units;
    }
    for (uint32_t i = 0; i < count; ++i) units.emplace_back(i * perUnit * g, (i + 1) * perUnit * g);
    units.back().second = size;  // the rest of the granules and the final partial granule
    return units;
}

ResumableDownload::ResumableDownload() : granularity(AllocationGranularity()) {}

ResumableDownload::~ResumableDownload() {
    Stop();
    Wait();
    std::lock_guard<std::mutex> lock(unitLock_);
    FreeUnits();
    std::lock_guard<std::mutex> agents(agentLock_);
    if (probeAgent_) probeAgent_->Release();
    probeAgent_ = nullptr;
}

bool ResumableDownload::Start() {
    if (masterRunning_.load()) return false;
    if (master_.joinable()) master_.join();
    // Cleared here, not by the master: a Stop that comes before the master
    // thread runs must not be lost.
    stopFlag_ = 0;
    status_ = kDownloadOk;
    masterRunning_ = true;
    try {
        master_ = std::thread([this] {
            MasterRoutine();
            masterRunning_ = false;
        });
    } catch (const std::system_error&) {
        masterRunning_ = false;
        status_ = kDownloadIncomplete;
        return false;
    }
    return true;
}

void ResumableDownload::Wait() {
    if (master_.joinable() && master_.get_id() != std::this_thread::get_id()) master_.join();
}

void ResumableDownload::Stop() {
    stopFlag_ = 1;
    {
        std::lock_guard<std::mutex> lock(agentLock_);
        if (probeAgent_) probeAgent_->Close();
        for (auto& unit : units_)
            if (unit->agent) unit->agent->Close();
    }
    wake_.notify_all();
}

int64_t ResumableDownload::Downloaded() const {
    std::lock_guard<std::mutex> lock(const_cast<std::mutex&>(unitLock_));
    int64_t total = 0;
    for (const auto& unit : units_) total += unit->cursor.load();
    return total;
}

bool ResumableDownload::Complete() const {
    std::lock_guard<std::mutex> lock(const_cast<std::mutex&>(unitLock_));
    if (units_.empty()) return false;
    for (const auto& unit : units_)
        if (!unit->complete()) return false;
    return true;
}

void ResumableDownload::UnitState(size_t i, int64_t& begin, int64_t& end, int64_t& cursor) const {
    std::lock_guard<std::mutex> lock(const_cast<std::mutex&>(unitLock_));
    begin = end = cursor = 0;
    if (i >= units_.size()) return;
    begin = units_[i]->begin;
    end = units_[i]->end;
    cursor = units_[i]->cursor.load();
}

NativePath ResumableDownload::PartialPath() const { return WithSuffix(destPath, ".itd"); }
NativePath ResumableDownload::StatePath() const { return WithSuffix(destPath, ".itd.cfg"); }

void ResumableDownload::Fire(int event) {
    if (eventCallback) eventCallback(event, this, eventUser);
}

void ResumableDownload::MasterRoutine() {
    if (PathExists(destPath) || Complete()) {
        status_ = kDownloadOk;
        Fire(kDownloadCompleted);
        return;
    }
    if (eventCallback && eventCallback(kDownloadStarting, this, eventUser) == 0) {
        status_ = kDownloadIncomplete;
        Fire(kDownloadEnded);
        return;
    }
    if (stopFlag_) {
        EndStopped();
        return;
    }
    if (!Probe(url, refurl, 0)) {
        // A stop closes the probe's connection: that is no failure.
        if (stopFlag_) {
            EndStopped();
            return;
        }
        status_ = kDownloadProbeFailed;
        Fire(kDownloadEnded);
        return;
    }
    if (!partial_.open(PartialPath())) {
        status_ = kDownloadFileFailed;
        Fire(kDownloadEnded);
        return;
    }
    if (!partial_.createMapping(static_cast<uint64_t>(fileSize_.load()))) {
        partial_.close();
        status_ = kDownloadMappingFailed;
        Fire(kDownloadEnded);
        return;
    }

    int idlePasses = 0;
    bool workerMissing = false;
    while (!stopFlag_ && !Complete()) {
        const int64_t before = Downloaded();
        {
            std::lock_guard<std::mutex> lock(unitLock_);
            for (auto& unit : units_) unit->pending = unit->complete() ? 0 : 1;
            for (auto& unit : units_) {
                if (!unit->pending) continue;
                ++runningWorkers_;
                try {
                    workers_.emplace_back([this] { WorkerRoutine(); });
                } catch (const std::system_error&) {
                    // No thread for this unit (the process is out of threads
                    // or memory): the workers already started finish this
                    // pass, and the run ends after it.
                    --runningWorkers_;
                    workerMissing = true;
                    break;
                }
            }
        }
        for (;;) {
            const int64_t total0 = Downloaded();
            const int64_t t0 = NowMs();
            {
                std::unique_lock<std::mutex> lock(sleepLock_);
                wake_.wait_for(lock, std::chrono::milliseconds(1000),
                               [this] { return stopFlag_.load() != 0 && runningWorkers_.load() == 0; });
            }
            const int64_t elapsed = NowMs() - t0;
            if (elapsed > 0) bytesPerSecond_ = static_cast<int64_t>((Downloaded() - total0) * 1000.0 / elapsed);
            Fire(kDownloadProgress);
            if (runningWorkers_.load() == 0) break;
        }
        for (auto& worker : workers_) worker.join();
        workers_.clear();

        if (!passFinished_ || workerMissing) break;
        passFinished_ = 0;
        if (stopFlag_) break;
        idlePasses = Downloaded() == before ? idlePasses + 1 : 0;
        if (idlePasses >= kMaxIdlePasses) break;
    }
    partial_.close();

    if (Complete()) {
        if (RenameNoReplace(PartialPath(), destPath)) {
            RemoveFile(StatePath());
            status_ = kDownloadOk;
            Fire(kDownloadCompleted);
            return;
        }
        status_ = kDownloadIncomplete;
    } else if (stopFlag_) {
        EndStopped();
        return;
    } else {
        status_ = kDownloadIncomplete;
    }
    Fire(kDownloadEnded);
}

void ResumableDownload::EndStopped() {
    // What the units hold so far is kept for a later Start; a run stopped
    // before it knew the file has nothing to keep.
    bool haveUnits;
    {
        std::lock_guard<std::mutex> lock(unitLock_);
        haveUnits = !units_.empty();
    }
    if (haveUnits) WriteStateFile();
    status_ = kDownloadOk;
    Fire(kDownloadEnded);
}

void ResumableDownload::WorkerRoutine() {
    SleepMs(100);
    DownloadUnit* taken = nullptr;
    {
        std::lock_guard<std::mutex> lock(unitLock_);
        for (auto& unit : units_) {
            if (unit->pending == 1) {
                unit->pending = 0;
                taken = unit.get();
                break;
            }
        }
    }
    if (taken) {
        for (int attempt = 0; attempt < kAttemptsPerUnit; ++attempt) {
            if (stopFlag_) break;
            taken->pending = 0;
            if (TransferUnit(*taken)) {
                passFinished_ = 1;
                break;
            }
        }
    }
    --runningWorkers_;
    wake_.notify_all();
}

IHttpAgent* ResumableDownload::NewAgent(IHttpAgent*& slot) {
    IHttpAgent* agent = new CHttpAgent();
    agent->AddRef();
    std::lock_guard<std::mutex> lock(agentLock_);
    if (slot) slot->Release();
    slot = agent;
    if (stopFlag_) agent->Close();
    return agent;
}

WideHeaderMap ResumableDownload::CallRequestHook(const UrlParts& parts, std::string& connectHost) {
    // The hook may change the download's own header table; the workers call
    // it from several threads, so one call at a time, and each request takes
    // its copy of the table under the same lock.
    std::lock_guard<std::mutex> lock(hookLock_);
    if (requestHook) requestHook(parts.host, parts.target(), extraHeaders, this, hookUser, connectHost);
    return extraHeaders;
}

void ResumableDownload::ApplyRequestHeaders(IHttpAgent& agent, const std::string& urlHost,
                                            const std::wstring& referrer, const WideHeaderMap& headers) {
    agent.SetRequestHeader(std::string("Host"), urlHost);
    agent.SetRequestHeader(std::string("Accept"), std::string("*/*"));
    if (SendsReferer(referrer)) agent.SetRequestHeader(std::wstring(L"Referer"), referrer);
    for (const auto& [name, value] : headers) agent.SetRequestHeader(name, value);
}

bool ResumableDownload::Probe(const std::wstring& probeUrl, const std::wstring& referrer, int redirects) {
    if (redirects > kMaxRedirects) return false;
    UrlParts parts;
    if (!SplitUrl(WideToAnsi(probeUrl), parts) || parts.host.empty()) return false;
    std::string connectHost = parts.host;
    const WideHeaderMap headers = CallRequestHook(parts, connectHost);

    IHttpAgent* agent = NewAgent(probeAgent_);
    if (!agent->OpenRequest(connectHost, parts.port, std::string("HEAD"), parts.target(), std::string("HTTP/1.1")))
        return false;
    agent->SetRequestHeader(std::string("Connection"), std::string("close"));
    ApplyRequestHeaders(*agent, parts.host, referrer, headers);
    if (!agent->Execute()) return false;
    const int code = agent->GetStatusCode();
    if (code == 200) {
        const int64_t size = agent->GetContentLength();
        const std::string modified = agent->GetResponseHeader(std::string("last-modified"));
        const int ranges = agent->GetResponseHeader(std::string("accept-ranges")) == "bytes" ? 1 : 0;
        agent->Close();
        if (size <= 0) return false;
        std::lock_guard<std::mutex> lock(unitLock_);
        if (size != fileSize_.load() || ranges != acceptRanges_) {
            FreeUnits();
            lastModified_ = modified;
        }
        realUrl = probeUrl;
        realRefurl = referrer;
        acceptRanges_ = ranges;
        fileSize_ = size;
        if (units_.empty()) {
            LayOutUnits();
            WriteStateFile();
        }
        return true;
    }
    if (code >= 300 && code <= 399) {
        const std::string location = agent->GetResponseHeader(std::string("location"));
        agent->Close();
        if (location.empty()) return false;
        return Probe(AnsiToWide(location), probeUrl, redirects + 1);
    }
    return false;
}

bool ResumableDownload::TransferUnit(DownloadUnit& unit) {
    UrlParts parts;
    if (!SplitUrl(WideToAnsi(realUrl), parts) || parts.host.empty()) return true;
    std::string connectHost = parts.host;
    const WideHeaderMap headers = CallRequestHook(parts, connectHost);

    IHttpAgent* agent = NewAgent(unit.agent);
    if (!agent->OpenRequest(connectHost, parts.port, std::string("GET"), parts.target(), std::string("HTTP/1.1")))
        return true;
    const int64_t from = unit.begin + unit.cursor.load();
    agent->SetRequestHeader(std::string("Connection"), std::string("keep-alive"));
    agent->FormatRequestHeader("Range", "bytes=%lld-%lld", static_cast<long long>(from),
                               static_cast<long long>(unit.end - 1));
    ApplyRequestHeaders(*agent, parts.host, realRefurl, headers);
    if (stopFlag_) return true;
    if (!agent->Execute()) return true;
    const int code = agent->GetStatusCode();
    if (code != 200 && code != 206) return true;
    // A server that ignores Range sends the file from byte 0: written at this
    // unit's position it would corrupt the file. A unit that starts at byte 0
    // (the only unit of a server without range support) takes it from there,
    // dropping what it had.
    if (code == 200 && from != 0) {
        if (unit.begin != 0) return false;
        unit.cursor = 0;
    }

    const int64_t remaining = unit.end - unit.begin - unit.cursor.load();
    const int64_t g = granularity;
    for (int64_t i = 0; i < remaining / g; ++i)
        if (!WriteChunk(unit)) return false;
    if (remaining % g) return WriteChunk(unit);
    return true;
}

bool ResumableDownload::WriteChunk(DownloadUnit& unit) {
    const int64_t offset = unit.begin + unit.cursor.load();
    const size_t length = static_cast<size_t>(std::min<int64_t>(unit.end - offset, granularity));
    MappedView view = partial_.mapView(static_cast<uint64_t>(offset), length);
    if (!view) return false;
    size_t filled = 0;
    while (filled < length) {
        const int want = static_cast<int>(std::min<size_t>(length - filled, kReadSlice));
        const int got = unit.agent->Read(view.data() + filled, want);
        SleepMs(2);
        if (got <= 0) break;
        filled += static_cast<size_t>(got);
    }
    view.unmap();
    if (filled < length) return false;
    unit.cursor += static_cast<int64_t>(length);
    return true;
}

void ResumableDownload::LayOutUnits() {
    std::lock_guard<std::mutex> lock(agentLock_);  // Stop walks the list under this lock
    for (const auto& [begin, end] : LayoutUnits(fileSize_.load(), granularity, unitCount, acceptRanges_ != 0)) {
        auto unit = std::make_unique<DownloadUnit>();
        unit->begin = begin;
        unit->end = end;
        units_.push_back(std::move(unit));
    }
}

void ResumableDownload::FreeUnits() {
    std::lock_guard<std::mutex> lock(agentLock_);
    for (auto& unit : units_)
        if (unit->agent) unit->agent->Release();
    units_.clear();
}

bool ResumableDownload::WriteStateFile() const {
    JValue state;
    state["url"] = WideToUtf8(url);
    state["refurl"] = WideToUtf8(refurl);
    state["real-url"] = WideToUtf8(realUrl);
    state["real-refurl"] = WideToUtf8(realRefurl);
    state["filesize"] = static_cast<int64_t>(fileSize_.load());
    state["last-modified"] = lastModified_;
    state["accept-ranges"] = acceptRanges_;
    for (const auto& [name, value] : extraHeaders) state["extra-headers"][WideToUtf8(name)] = WideToUtf8(value);
    int index = 0;
    for (const auto& unit : units_) {
        JValue& entry = state["unit"][index++];
        entry["begin"] = static_cast<int64_t>(unit->begin);
        entry["end"] = static_cast<int64_t>(unit->end);
        entry["cursor"] = static_cast<int64_t>(unit->cursor.load());
    }
    const std::string text = JWriter::write(state);
    return WriteFileParts(StatePath(), {{text.data(), text.size()}}) == WriteResult::Ok;
}

}  // namespace quillo
