// A scripted HTTP-ish server on 127.0.0.1 for the network tests: accepts one
// connection per scripted reply, records the raw request, answers with the
// scripted pieces and closes. Every wait is bounded so a failing test ends.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quillo::test {

struct ScriptedReply {
    std::vector<std::string> pieces;  // sent in order, each with one send
    int pauseMs = 0;                  // before every piece but the first
    bool stall = false;               // after the pieces, keep the connection open until the client closes
};

class LoopbackServer {
public:
    LoopbackServer();  // listens on an ephemeral port
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    bool listening() const { return listener_ != kNone; }
    uint16_t port() const { return port_; }

    // Starts serving one connection per reply, in order.
    void Serve(std::vector<ScriptedReply> replies);
    // The head (and Content-Length body) received on connection i; waits
    // up to a few seconds for it, empty when it never came.
    std::string Request(size_t i);
    // Ends all waits and the serving thread; the listener is closed.
    void Stop();
    // Connections accepted so far.
    size_t Accepted();

private:
#ifdef _WIN32
    using Handle = uintptr_t;
#else
    using Handle = int;
#endif
    static constexpr Handle kNone = static_cast<Handle>(~0);

    void Run(std::vector<ScriptedReply> replies);
    void Handle1(Handle conn, const ScriptedReply& reply);
    std::string ReadRequest(Handle conn);
    // Waits up to `ms` for `h` to become readable; false on time-out or Stop.
    bool WaitReadable(Handle h, int ms);

    bool socketsStarted_ = false;
    Handle listener_ = kNone;
    uint16_t port_ = 0;
    bool started_ = false;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> requests_;
    size_t accepted_ = 0;
};

// A loopback port that refuses connections for as long as the object lives: a
// socket is bound to it but never listens, so no other test process can be
// given the port meanwhile (a port freed by closing a server could be).
class ClosedPort {
public:
    ClosedPort();
    ~ClosedPort();
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;
    uint16_t port() const { return port_; }

private:
    bool socketsStarted_ = false;
    intptr_t socket_ = -1;
    uint16_t port_ = 0;
};

}  // namespace quillo::test
