// Command-line client of the resumable download, for the end-to-end test
// against a real web server and for the bench.
//   download_client URL DEST [--resume-at BYTES]
// With --resume-at the run is stopped once BYTES are in and started again in
// the same object. Prints status, size, seconds and the bytes each run fetched.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "base/TextCodec.h"
#include "net/ResumableDownload.h"

int main(int argc, char** argv) {
    if (argc != 3 && !(argc == 5 && std::strcmp(argv[3], "--resume-at") == 0)) {
        std::fprintf(stderr, "usage: download_client URL DEST [--resume-at BYTES]\n");
        return 2;
    }
    quillo::ResumableDownload d;
    d.url = d.realUrl = quillo::AnsiToWide(argv[1]);
    d.destPath = argv[2];
    const auto start = std::chrono::steady_clock::now();
    d.Start();
    int64_t firstRun = 0;
    if (argc == 5) {
        const int64_t stopAt = std::atoll(argv[4]);
        while (d.Running() && d.Downloaded() < stopAt) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        d.Stop();
        d.Wait();
        firstRun = d.Downloaded();
        std::printf("stopped: status=%d fetched=%lld\n", d.Status(), static_cast<long long>(firstRun));
        d.Start();
    }
    d.Wait();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("status=%d size=%lld seconds=%.3f fetched=%lld\n", d.Status(), static_cast<long long>(d.FileSize()),
                seconds, static_cast<long long>(d.Downloaded() - firstRun));
    return d.Status() == quillo::kDownloadOk ? 0 : 1;
}
