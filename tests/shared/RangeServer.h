// A loopback HTTP file server for the download tests: HEAD and GET with
// Range, redirects, and scripted misbehaviour (refused ranges, cut-off and
// stalled transfers, refused requests). One thread per connection.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quillo::test {

class RangeServer {
public:
    explicit RangeServer(std::string content);
    ~RangeServer();

    uint16_t port() const { return port_; }
    std::string url(const std::string& path = "/file.bin") const;

    // Behaviour; set before the requests that should see it.
    std::atomic<bool> acceptRanges{true};   // announce and honour Range
    std::atomic<bool> ignoreRange{false};   // answer 200 with the whole file anyway
    std::atomic<int> headStatus{200};
    std::atomic<int> getStatus{0};          // non-zero: answer every GET with this status, no body
    std::atomic<int> cutRequests{0};        // the next N GETs stop after cutAfter body bytes
    std::atomic<int64_t> cutAfter{0};
    std::atomic<bool> stall{false};         // GET bodies stall after the first 64 KiB until the server ends
    std::string redirectPath;               // requests for this path get a 302 to /file.bin
    std::string lastModified = "Tue, 01 Dec 2026 10:00:00 GMT";

    void setContent(std::string content);

    // What was asked.
    int headCount() const { return heads_.load(); }
    int getCount() const { return gets_.load(); }
    int64_t bodyBytesSent() const { return bodyBytes_.load(); }
    std::vector<std::string> requests() const;  // raw request heads in arrival order

private:
    void AcceptLoop();
    void Serve(intptr_t client);

    bool socketsStarted_ = false;
    intptr_t listener_;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
    mutable std::mutex lock_;
    std::vector<std::thread> connections_;
    std::vector<intptr_t> clients_;
    std::vector<std::string> requests_;
    std::string content_;
    std::atomic<int> heads_{0};
    std::atomic<int> gets_{0};
    std::atomic<int64_t> bodyBytes_{0};
};

}  // namespace quillo::test
