#include "tests/shared/RangeServer.h"

#include "net/Socket.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using SocketLen = int;
static void CloseSock(intptr_t s) { closesocket(static_cast<SOCKET>(s)); }
static void ShutSock(intptr_t s) { shutdown(static_cast<SOCKET>(s), SD_BOTH); }
constexpr int kSendFlags = 0;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
using SocketLen = socklen_t;
constexpr int kSendFlags = MSG_NOSIGNAL;  // a client that went away is not a signal
static void CloseSock(intptr_t s) { ::close(static_cast<int>(s)); }
static void ShutSock(intptr_t s) { shutdown(static_cast<int>(s), SHUT_RDWR); }
#endif

namespace quillo::test {

namespace {

bool SendAll(intptr_t s, const char* data, size_t length) {
    while (length > 0) {
        const int n = static_cast<int>(send(s, data, static_cast<int>(std::min<size_t>(length, 65536)), kSendFlags));
        if (n <= 0) return false;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// True when the client has closed its end (a read would see the end or an error).
bool PeerClosed(intptr_t s) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv{0, 0};
    if (select(static_cast<int>(s) + 1, &set, nullptr, nullptr, &tv) <= 0) return false;
    char c;
    return recv(s, &c, 1, MSG_PEEK) <= 0;
}

std::string HeaderValue(const std::string& head, const std::string& lowerName) {
    size_t pos = 0;
    while ((pos = head.find("\r\n", pos)) != std::string::npos) {
        pos += 2;
        const size_t end = head.find("\r\n", pos);
        const std::string line = head.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string name = line.substr(0, colon);
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (name == lowerName) {
            std::string value = line.substr(colon + 1);
            while (!value.empty() && value.front() == ' ') value.erase(value.begin());
            return value;
        }
    }
    return std::string();
}

}  // namespace

RangeServer::RangeServer(std::string content) : content_(std::move(content)) {
    socketsStarted_ = SocketStartup();
    listener_ = static_cast<intptr_t>(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(listener_, 32);
    SocketLen len = sizeof addr;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

RangeServer::~RangeServer() {
    stopping_ = true;
    ShutSock(listener_);
    CloseSock(listener_);
    acceptor_.join();
    {
        std::lock_guard<std::mutex> lock(lock_);
        for (intptr_t c : clients_) ShutSock(c);
    }
    for (auto& t : connections_) t.join();
    if (socketsStarted_) SocketCleanup();
}

std::string RangeServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void RangeServer::setContent(std::string content) {
    std::lock_guard<std::mutex> lock(lock_);
    content_ = std::move(content);
}

std::vector<std::string> RangeServer::requests() const {
    std::lock_guard<std::mutex> lock(lock_);
    return requests_;
}

void RangeServer::AcceptLoop() {
    while (!stopping_) {
        const intptr_t client = static_cast<intptr_t>(accept(listener_, nullptr, nullptr));
        if (client < 0 || stopping_) {
            if (client >= 0) CloseSock(client);
            if (stopping_) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        std::lock_guard<std::mutex> lock(lock_);
        clients_.push_back(client);
        connections_.emplace_back([this, client] { Serve(client); });
    }
}

void RangeServer::Serve(intptr_t client) {
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
        const int n = static_cast<int>(recv(client, buffer, sizeof buffer, 0));
        if (n <= 0) break;
        head.append(buffer, static_cast<size_t>(n));
    }
    std::string content;
    {
        std::lock_guard<std::mutex> lock(lock_);
        requests_.push_back(head);
        content = content_;
    }
    const bool isHead = head.rfind("HEAD ", 0) == 0;
    const std::string path = head.substr(head.find(' ') + 1, head.find(' ', head.find(' ') + 1) - head.find(' ') - 1);
    std::string reply;
    if (isHead) ++heads_;
    else ++gets_;

    if (!redirectPath.empty() && path == redirectPath) {
        reply = "HTTP/1.1 302 Found\r\nLocation: " + url("/file.bin") + "\r\nContent-Length: 0\r\n\r\n";
        SendAll(client, reply.data(), reply.size());
    } else if (isHead) {
        const int status = headStatus.load();
        reply = "HTTP/1.1 " + std::to_string(status) + (status == 200 ? " OK" : " Other") + "\r\n";
        if (status == 200) {
            reply += "Content-Length: " + std::to_string(content.size()) + "\r\n";
            reply += "Last-Modified: " + lastModified + "\r\n";
            if (acceptRanges) reply += "Accept-Ranges: bytes\r\n";
        } else {
            reply += "Content-Length: 0\r\n";
        }
        reply += "\r\n";
        SendAll(client, reply.data(), reply.size());
    } else if (getStatus.load() != 0) {
        reply = "HTTP/1.1 " + std::to_string(getStatus.load()) + " Refused\r\nContent-Length: 0\r\n\r\n";
        SendAll(client, reply.data(), reply.size());
    } else {
        int64_t from = 0, to = static_cast<int64_t>(content.size()) - 1;
        const std::string range = HeaderValue(head, "range");
        const bool ranged = !range.empty() && acceptRanges && !ignoreRange;
        if (ranged) {
            long long a = 0, b = 0;
            if (std::sscanf(range.c_str(), "bytes=%lld-%lld", &a, &b) == 2) {
                from = a;
                to = std::min<int64_t>(b, to);
            }
        }
        const int64_t length = to - from + 1;
        reply = ranged ? "HTTP/1.1 206 Partial Content\r\n" : "HTTP/1.1 200 OK\r\n";
        reply += "Content-Length: " + std::to_string(length) + "\r\n";
        if (ranged)
            reply += "Content-Range: bytes " + std::to_string(from) + "-" + std::to_string(to) + "/" +
                     std::to_string(content.size()) + "\r\n";
        reply += "\r\n";
        int64_t limit = length;
        if (cutRequests.fetch_sub(1) > 0) limit = std::min<int64_t>(limit, cutAfter.load());
        else cutRequests.fetch_add(1);
        if (SendAll(client, reply.data(), reply.size())) {
            int64_t sent = 0;
            bool stalled = false;  // once stalled, this connection never sends again
            while (sent < limit && !stopping_) {
                if (stalled || (stall && sent >= 65536)) {
                    stalled = true;
                    if (PeerClosed(client)) break;
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    continue;
                }
                const int64_t piece = std::min<int64_t>(limit - sent, 16384);
                if (!SendAll(client, content.data() + from + sent, static_cast<size_t>(piece))) break;
                sent += piece;
                bodyBytes_ += piece;
            }
        }
    }
    ShutSock(client);
    std::lock_guard<std::mutex> lock(lock_);
    CloseSock(client);
    for (auto& c : clients_)
        if (c == client) c = -1;
}

}  // namespace quillo::test
