#include "net/Socket.h"

#include <chrono>
#include <climits>
#include <cstring>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace quillo {

namespace {

constexpr int kSliceMs = 100;

#ifdef _WIN32
SOCKET Native(SocketHandle s) { return static_cast<SOCKET>(s); }
void CloseHandleNow(SocketHandle s) { closesocket(Native(s)); }
void ShutdownHandle(SocketHandle s) { shutdown(Native(s), SD_BOTH); }
#else
int Native(SocketHandle s) { return s; }
void CloseHandleNow(SocketHandle s) { ::close(s); }
void ShutdownHandle(SocketHandle s) { ::shutdown(s, SHUT_RDWR); }
#endif

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Waits up to `ms` for one socket; 1 ready, 0 nothing yet, -1 error.
int WaitSlice(SocketHandle s, bool forWrite, int ms) {
#ifdef _WIN32
    fd_set set;
    FD_ZERO(&set);
    FD_SET(Native(s), &set);
    timeval tv;
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    const int r = select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, nullptr, &tv);
    return r > 0 ? 1 : (r == 0 ? 0 : -1);
#else
    // poll rather than select: no FD_SETSIZE limit on the descriptor value.
    pollfd p{};
    p.fd = s;
    p.events = forWrite ? POLLOUT : POLLIN;
    const int r = ::poll(&p, 1, ms);
    if (r < 0) return errno == EINTR ? 0 : -1;
    return r > 0 ? 1 : 0;
#endif
}

}  // namespace

#ifdef _WIN32
namespace {
// Some Winsock implementations keep their start count without a lock, and a
// count that drops to zero closes every socket of the process. So all users
// in this process share one start, counted here under a lock.
std::mutex& StartupLock() {
    static std::mutex lock;
    return lock;
}
int g_socketUsers = 0;
}  // namespace
#endif

bool SocketStartup() {
#ifdef _WIN32
    std::lock_guard<std::mutex> guard(StartupLock());
    if (g_socketUsers == 0) {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 0), &data) != 0) return false;
    }
    ++g_socketUsers;
#endif
    return true;
}

void SocketCleanup() {
#ifdef _WIN32
    std::lock_guard<std::mutex> guard(StartupLock());
    if (g_socketUsers > 0 && --g_socketUsers == 0) WSACleanup();
#endif
}

bool ResolveIPv4(const std::string& host, uint32_t& address) {
    if (host.empty()) return false;
    if (IsAsciiLetter(host.front()) || IsAsciiLetter(host.back())) {
#ifdef _WIN32
        // Winsock keeps the result per thread.
        const hostent* he = gethostbyname(host.c_str());
        if (!he || he->h_addrtype != AF_INET || he->h_length != 4 || !he->h_addr_list || !he->h_addr_list[0])
            return false;
        in_addr a;
        memcpy(&a, he->h_addr_list[0], sizeof a);
        address = a.s_addr;
        return true;
#else
        // getaddrinfo is the thread-safe form of gethostbyname here.
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* list = nullptr;
        if (getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0 || !list) return false;
        bool ok = false;
        if (list->ai_family == AF_INET && list->ai_addr) {
            sockaddr_in sin;
            memcpy(&sin, list->ai_addr, sizeof sin);
            address = sin.sin_addr.s_addr;
            ok = true;
        }
        freeaddrinfo(list);
        return ok;
#endif
    }
    const uint32_t a = inet_addr(host.c_str());
    if (a == INADDR_NONE) return false;
    address = a;
    return true;
}

TcpSocket::~TcpSocket() { Close(); }

bool TcpSocket::Create() {
    Close();
#ifdef _WIN32
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return false;
    const SocketHandle h = static_cast<SocketHandle>(s);
#else
    const int h = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (h < 0) return false;
    ::fcntl(h, F_SETFD, FD_CLOEXEC);
#endif
    std::lock_guard<std::mutex> lock(mutex_);
    handle_ = h;
    return true;
}

bool TcpSocket::IsOpen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return handle_ != kNoSocket;
}

void TcpSocket::Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (handle_ == kNoSocket) return;
    if (handle_ == inUse_) {
        ShutdownHandle(handle_);
        abandoned_ = true;
    } else {
        CloseHandleNow(handle_);
    }
    handle_ = kNoSocket;
}

SocketHandle TcpSocket::BeginUse() {
    std::lock_guard<std::mutex> lock(mutex_);
    inUse_ = handle_;
    abandoned_ = false;
    return handle_;
}

bool TcpSocket::EndUse() {
    std::lock_guard<std::mutex> lock(mutex_);
    const SocketHandle s = inUse_;
    inUse_ = kNoSocket;
    if (abandoned_) {
        abandoned_ = false;
        if (s != kNoSocket) CloseHandleNow(s);
        return false;
    }
    return true;
}

bool TcpSocket::Wait(SocketHandle s, bool forWrite, int seconds) {
    using Clock = std::chrono::steady_clock;
    if (seconds < 0) seconds = 0;
    if (seconds > INT_MAX / 1000) seconds = INT_MAX / 1000;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        if (abandoned_) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const int slice = left <= 0 ? 0 : (left < kSliceMs ? static_cast<int>(left) : kSliceMs);
        const int r = WaitSlice(s, forWrite, slice);
        if (r != 0) return r > 0 && !abandoned_;
        if (left <= 0) return false;
    }
}

bool TcpSocket::Connect(uint32_t address, uint16_t port) {
    const SocketHandle s = BeginUse();
    bool ok = false;
    if (s != kNoSocket) {
        sockaddr_in sin{};
        sin.sin_family = AF_INET;
        sin.sin_port = htons(port);
        sin.sin_addr.s_addr = address;
        ok = ::connect(Native(s), reinterpret_cast<const sockaddr*>(&sin), sizeof sin) == 0;
        if (ok) {
#ifdef _WIN32
            u_long on = 1;
            ok = ioctlsocket(Native(s), FIONBIO, &on) == 0;
#else
            const int flags = ::fcntl(s, F_GETFL, 0);
            ok = flags >= 0 && ::fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0;
#endif
        }
    }
    ok = EndUse() && ok;
    if (!ok) Close();
    return ok;
}

int TcpSocket::Send(const void* data, size_t length, int seconds) {
    if (length > static_cast<size_t>(INT_MAX) || (!data && length)) return -1;
    const SocketHandle s = BeginUse();
    int n = -1;
    if (s != kNoSocket && Wait(s, true, seconds)) {
#ifdef _WIN32
        n = ::send(Native(s), static_cast<const char*>(data), static_cast<int>(length), 0);
#else
        int flags = 0;
#ifdef MSG_NOSIGNAL
        flags = MSG_NOSIGNAL;  // a peer that went away must not raise SIGPIPE
#endif
        n = static_cast<int>(::send(s, data, length, flags));
#endif
        if (n < 0) n = -1;
    }
    if (!EndUse()) n = -1;
    return n;
}

int TcpSocket::Receive(void* buffer, size_t length, int seconds) {
    if (!buffer || length == 0) return -1;
    if (length > static_cast<size_t>(INT_MAX)) length = INT_MAX;
    const SocketHandle s = BeginUse();
    int n = -1;
    if (s != kNoSocket && Wait(s, false, seconds)) {
#ifdef _WIN32
        n = ::recv(Native(s), static_cast<char*>(buffer), static_cast<int>(length), 0);
#else
        n = static_cast<int>(::recv(s, buffer, length, 0));
#endif
        if (n < 0) n = -1;
    }
    if (!EndUse()) n = -1;
    return n;
}

}  // namespace quillo
