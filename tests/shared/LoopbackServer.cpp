#include "tests/shared/LoopbackServer.h"

#include "net/Socket.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#endif

namespace quillo::test {

namespace {

using Clock = std::chrono::steady_clock;

// QUILLO_TEST_TIME_SCALE stretches the waits for clients on a slow machine
// (the emulated one of the 32-bit lane), where what happens before a request
// can take many times longer.
int Scaled(int ms) {
    const char* text = std::getenv("QUILLO_TEST_TIME_SCALE");
    const int factor = text ? std::atoi(text) : 1;
    return factor > 1 && factor <= 100 ? ms * factor : ms;
}
const int kAcceptWaitMs = Scaled(5000);   // for each scripted connection
const int kRequestWaitMs = Scaled(3000);  // for a request to arrive completely
constexpr int kStallMs = 8000;        // longest stall
constexpr int kDrainMs = 3000;        // waiting for the client to close after the reply

#ifdef _WIN32
void CloseSock(uintptr_t h) { closesocket(static_cast<SOCKET>(h)); }
#else
void CloseSock(int h) { ::close(h); }
#endif

#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;  // a client that went away must not raise SIGPIPE
#else
constexpr int kSendFlags = 0;
#endif

int RemainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Content-Length of a request head, 0 when absent.
size_t ContentLength(const std::string& head) {
    std::string lower = head;
    for (char& c : lower) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    const size_t at = lower.find("\r\ncontent-length:");
    if (at == std::string::npos) return 0;
    return static_cast<size_t>(std::strtoul(head.c_str() + at + 17, nullptr, 10));
}

}  // namespace

LoopbackServer::LoopbackServer() {
    socketsStarted_ = SocketStartup();
#ifdef _WIN32
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return;
    const Handle h = static_cast<Handle>(s);
#else
    const int h = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (h < 0) return;
#endif
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sin.sin_port = 0;
    socklen_t len = sizeof sin;
    if (::bind(h, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0 || ::listen(h, 16) != 0 ||
        ::getsockname(h, reinterpret_cast<sockaddr*>(&sin), &len) != 0) {
        CloseSock(h);
        return;
    }
    listener_ = h;
    port_ = ntohs(sin.sin_port);
}

LoopbackServer::~LoopbackServer() {
    Stop();
    if (socketsStarted_) SocketCleanup();
}

void LoopbackServer::Serve(std::vector<ScriptedReply> replies) {
    if (started_ || !listening()) return;
    started_ = true;
    thread_ = std::thread(&LoopbackServer::Run, this, std::move(replies));
}

void LoopbackServer::Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ != kNone) CloseSock(listener_);
    listener_ = kNone;
    changed_.notify_all();
}

std::string LoopbackServer::Request(size_t i) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(kRequestWaitMs + kAcceptWaitMs),
                      [&] { return requests_.size() > i || stop_; });
    return i < requests_.size() ? requests_[i] : std::string();
}

size_t LoopbackServer::Accepted() {
    std::lock_guard<std::mutex> lock(mutex_);
    return accepted_;
}

bool LoopbackServer::WaitReadable(Handle h, int ms) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (!stop_) {
        const int slice = RemainingMs(deadline) < 50 ? RemainingMs(deadline) : 50;
#ifdef _WIN32
        fd_set set;
        FD_ZERO(&set);
        FD_SET(static_cast<SOCKET>(h), &set);
        timeval tv{0, slice * 1000};
        const int r = select(0, &set, nullptr, nullptr, &tv);
#else
        pollfd p{};
        p.fd = h;
        p.events = POLLIN;
        const int r = ::poll(&p, 1, slice);
#endif
        if (r > 0) return true;
        if (r < 0 || slice == 0) return false;
    }
    return false;
}

void LoopbackServer::Run(std::vector<ScriptedReply> replies) {
    for (const ScriptedReply& reply : replies) {
        if (!WaitReadable(listener_, kAcceptWaitMs)) return;
#ifdef _WIN32
        const SOCKET s = ::accept(static_cast<SOCKET>(listener_), nullptr, nullptr);
        if (s == INVALID_SOCKET) return;
        const Handle conn = static_cast<Handle>(s);
        const DWORD sendTimeout = 2000;
        setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&sendTimeout), sizeof sendTimeout);
#else
        const int conn = ::accept(listener_, nullptr, nullptr);
        if (conn < 0) return;
        timeval sendTimeout{2, 0};
        setsockopt(conn, SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof sendTimeout);
#endif
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++accepted_;
        }
        Handle1(conn, reply);
        CloseSock(conn);
    }
}

std::string LoopbackServer::ReadRequest(Handle conn) {
    std::string data;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kRequestWaitMs);
    for (;;) {
        const size_t head = data.find("\r\n\r\n");
        if (head != std::string::npos && data.size() >= head + 4 + ContentLength(data.substr(0, head + 4))) break;
        if (!WaitReadable(conn, RemainingMs(deadline))) break;
        char buffer[4096];
        const int n = static_cast<int>(::recv(conn, buffer, sizeof buffer, 0));
        if (n <= 0) break;
        data.append(buffer, static_cast<size_t>(n));
    }
    return data;
}

void LoopbackServer::Handle1(Handle conn, const ScriptedReply& reply) {
    std::string request = ReadRequest(conn);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(std::move(request));
    }
    changed_.notify_all();

    bool first = true;
    for (const std::string& piece : reply.pieces) {
        if (!first && reply.pauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(reply.pauseMs));
        first = false;
        if (stop_) return;
        if (::send(conn, piece.data(), static_cast<int>(piece.size()), kSendFlags) != static_cast<int>(piece.size())) return;
    }
    if (!reply.stall) {
#ifdef _WIN32
        ::shutdown(static_cast<SOCKET>(conn), SD_SEND);
#else
        ::shutdown(conn, SHUT_WR);
#endif
    }
    // Wait for the client to close (anything it still sends is dropped), so
    // closing here never resets a reply the client has not read yet.
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(reply.stall ? kStallMs : kDrainMs);
    while (WaitReadable(conn, RemainingMs(deadline))) {
        char buffer[4096];
        if (::recv(conn, buffer, sizeof buffer, 0) <= 0) break;
    }
}

ClosedPort::ClosedPort() {
    socketsStarted_ = SocketStartup();
    const auto h = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sin;
    if (::bind(h, reinterpret_cast<sockaddr*>(&sin), sizeof sin) == 0 &&
        ::getsockname(h, reinterpret_cast<sockaddr*>(&sin), &len) == 0)
        port_ = ntohs(sin.sin_port);
    socket_ = static_cast<intptr_t>(h);
}

ClosedPort::~ClosedPort() {
#ifdef _WIN32
    CloseSock(static_cast<uintptr_t>(socket_));
#else
    CloseSock(static_cast<int>(socket_));
#endif
    if (socketsStarted_) SocketCleanup();
}

}  // namespace quillo::test
