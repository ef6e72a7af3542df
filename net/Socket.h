// Thin blocking-TCP layer over Winsock (Windows) and BSD sockets (elsewhere):
// IPv4 only, blocking connect, then non-blocking mode with every send and
// receive preceded by a bounded wait for readiness.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

namespace quillo {

#ifdef _WIN32
using SocketHandle = uintptr_t;  // SOCKET
#else
using SocketHandle = int;
#endif
constexpr SocketHandle kNoSocket = static_cast<SocketHandle>(~0);  // INVALID_SOCKET / -1

// Winsock use of the process, counted: the first SocketStartup makes the
// one WSAStartup(2.0), the SocketCleanup that pairs with the last one makes
// the WSACleanup. Safe from any thread; no-ops elsewhere. Calls pair up.
bool SocketStartup();
void SocketCleanup();

// IPv4 address in network byte order. Text whose first or last character is
// a letter is looked up as a name (first address), anything else is parsed
// as a dotted address.
bool ResolveIPv4(const std::string& host, uint32_t& address);

// One TCP socket used by one owner thread. Close() may also be called from
// any other thread to end a wait in progress:
//  - when no operation is running, Close() closes the socket at once;
//  - while the owner is inside Connect/Send/Receive, Close() only shuts the
//    socket down and marks it abandoned. The owner's operation then fails
//    (-1 / false) and the owner closes the handle itself when it leaves the
//    operation. The descriptor value therefore stays valid for as long as the
//    owner may pass it to the system, so it can never be reused under it.
// Waits run in slices of at most 100 ms and look at the abandoned mark
// between slices, so a Close() ends a wait promptly even where shutting a
// socket down does not wake a pending select.
class TcpSocket {
public:
    TcpSocket() = default;
    ~TcpSocket();
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    // Closes any socket held, then creates a new IPv4 stream socket.
    bool Create();
    bool IsOpen() const;
    // Blocking connect (no time limit of its own), then non-blocking mode.
    // The socket is closed on failure.
    bool Connect(uint32_t address, uint16_t port);
    // One wait for writability of up to `seconds`, then one send of the whole
    // buffer: bytes sent, -1 on time-out, error or Close().
    int Send(const void* data, size_t length, int seconds);
    // One wait for readability, then one receive: bytes received, 0 at the
    // end of the connection, -1 on time-out, error or Close().
    int Receive(void* buffer, size_t length, int seconds);
    void Close();

private:
    SocketHandle BeginUse();
    bool EndUse();  // false when the socket was abandoned meanwhile
    bool Wait(SocketHandle s, bool forWrite, int seconds);

    mutable std::mutex mutex_;
    SocketHandle handle_ = kNoSocket;  // the open socket
    SocketHandle inUse_ = kNoSocket;   // socket of the operation running on the owner thread
    std::atomic<bool> abandoned_{false};
};

}  // namespace quillo
