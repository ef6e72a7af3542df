#include "app/SetupPass.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "base/Md5.h"

namespace quillo {
namespace {

// Windows of the package in flight: one being read and handed to the sink
// while the hasher works through the ones before it.
constexpr size_t kRing = 3;

// Hashes, on a thread of its own, the windows handed to it, in order.
class Hasher {
public:
    ~Hasher() { Finish(); }

    // False when no thread can be had: the caller hashes in line.
    bool Start() {
        try {
            thread_ = std::thread([this] { Run(); });
        } catch (const std::system_error&) {
            return false;
        }
        return true;
    }
    // Waits until fewer than `limit` windows are waiting or being hashed.
    void WaitBelow(size_t limit) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return submitted_ - hashed_ < limit; });
    }
    void Submit(const uint8_t* data, size_t size) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            jobs_[submitted_ % kRing] = {data, size};
            ++submitted_;
        }
        changed_.notify_all();
    }
    // Hashes what is left and ends the thread.
    std::string Finish() {
        if (thread_.joinable()) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                done_ = true;
            }
            changed_.notify_all();
            thread_.join();
            digest_ = DigestToHex(md5_.finish());
        }
        return digest_;
    }

private:
    struct Job {
        const uint8_t* data;
        size_t size;
    };
    void Run() {
        for (;;) {
            Job job;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] { return done_ || hashed_ < submitted_; });
                if (hashed_ == submitted_) return;  // done, nothing left
                job = jobs_[hashed_ % kRing];
            }
            md5_.update(job.data, job.size);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                ++hashed_;
            }
            changed_.notify_all();
        }
    }

    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    Job jobs_[kRing] = {};
    size_t submitted_ = 0, hashed_ = 0;
    bool done_ = false;
    Md5 md5_;
    std::string digest_;
};

}  // namespace

SetupPassResult ReadSetupPass(const SetupImage& setup, const PackageSink& sink, bool hash, size_t window) {
    SetupPassResult result;
    if (!setup.source || window == 0) return result;
    ByteSource& file = *setup.source;
    const uint64_t size = file.size();
    const uint64_t packageStart = setup.packageOffset;
    const uint64_t packageEnd = setup.packageEnd();
    if (packageEnd > size) return result;

    // Without a sink there is nothing to overlap the hashing with: the
    // windows are hashed in line, one at a time, and only one is held.
    const bool overlap = hash && static_cast<bool>(sink);
    const size_t slots = overlap ? kRing : 1;
    std::unique_ptr<uint8_t[]> buffers(new (std::nothrow) uint8_t[slots * window]);
    if (!buffers) return result;

    // The parts around the package are read only to know that they can be.
    auto readThrough = [&](uint64_t from, uint64_t to) {
        return CopyRange(file, from, to - from, [](uint8_t*, size_t) { return true; });
    };
    if (!readThrough(0, packageStart)) return result;

    Hasher hasher;
    const bool threaded = overlap && hasher.Start();
    Md5 inLine;
    bool sinkOk = true;
    bool readOk = true;
    size_t slot = 0;
    for (uint64_t pos = packageStart; pos < packageEnd; pos += window, slot = (slot + 1) % slots) {
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(window, packageEnd - pos));
        // The slot is free once the hasher is done with the window read into
        // it kRing windows ago.
        if (threaded) hasher.WaitBelow(kRing);
        uint8_t* data = buffers.get() + slot * window;
        if (!file.readAt(pos, data, chunk)) {
            readOk = false;
            break;
        }
        if (threaded) hasher.Submit(data, chunk);
        else if (hash) inLine.update(data, chunk);
        if (sinkOk && sink) sinkOk = sink(data, chunk);
    }
    if (threaded) result.digest = hasher.Finish();
    else if (hash) result.digest = DigestToHex(inLine.finish());
    if (!readOk) return result;

    // The slots may still be in use until the hasher has finished above.
    if (!readThrough(packageEnd, size)) return result;
    result.readOk = true;
    result.sinkOk = sinkOk;
    return result;
}

}  // namespace quillo
