// The HTTP client's response side: status line and header parsing, bodies by
// Content-Length and chunked, the progress reader, and the one-call GET with
// its redirects, all fed from the fuzz input instead of a server.
//
// The agent owns a TcpSocket by value and has no seam for another transport,
// so this file supplies the socket layer itself: it defines every function
// of net/Socket.h that the agent calls, and the linker then never takes
// Socket.o out of libquillo_core.a. Should the agent start using a socket
// function not defined here, that object is pulled in again and the link
// fails with duplicate symbols rather than silently using real sockets.
//
// Input: byte 0 picks the reading calls, byte 1 seeds the sizes of the
// receives, the rest is what the server sends: one piece per connection the
// agent opens (redirects open new ones), the pieces separated by the five
// bytes NUL "EOC" NUL.
//
// What must hold for every input:
//  - no crash, over-read or leak;
//  - no receive returns more than was asked for, Read() never more than its
//    buffer;
//  - the outcome does not depend on how the stream is cut into receives: the
//    run is repeated with every receive taking all it asks for, and must give
//    the same status, headers, return values and body bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "net/CHttpAgent.h"
#include "net/Socket.h"

namespace {

// The server side of the current run: one byte stream, each connection
// served the next piece of it up to the next kEndOfConnection (or the end),
// each piece cut into receives of varying sizes.
constexpr char kEndOfConnection[] = {'\0', 'E', 'O', 'C', '\0'};

struct Wire {
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t next = 0;        // where the next connection's piece starts; > size when none is left
    size_t pos = 0;         // the current connection's piece: [pos, end)
    size_t end = 0;
    uint32_t rng = 0;       // 0: every receive takes as much as it may
    int connections = 0;
    bool timeoutAtEnd = false;  // the end of a piece reads as a time-out instead of a close

    bool Connect() {
        if (next > size) return false;
        const std::string_view rest(reinterpret_cast<const char*>(data) + next, size - next);
        const size_t mark = rest.find(std::string_view(kEndOfConnection, sizeof kEndOfConnection));
        pos = next;
        end = mark == std::string_view::npos ? size : next + mark;
        next = mark == std::string_view::npos ? size + 1 : end + sizeof kEndOfConnection;
        ++connections;
        return true;
    }

    size_t NextCut(size_t wanted) {
        if (rng == 0) return wanted;
        rng = rng * 1103515245u + 12345u;
        const uint32_t r = rng >> 8;
        static const size_t kScales[] = {1, 2, 3, 7, 16, 100, 600, 5000};
        const size_t cut = 1 + r % kScales[(r >> 16) & 7];
        return cut < wanted ? cut : wanted;
    }
};

Wire g_wire;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "http_response: %s\n", what);
    std::abort();
}

}  // namespace

// ---- the socket layer, served from g_wire

namespace quillo {

bool SocketStartup() { return true; }
void SocketCleanup() {}

bool ResolveIPv4(const std::string& host, uint32_t& address) {
    address = 0x0100007Fu;
    return !host.empty();
}

TcpSocket::~TcpSocket() = default;

bool TcpSocket::Create() {
    handle_ = 3;
    return true;
}

bool TcpSocket::IsOpen() const { return handle_ != kNoSocket; }

bool TcpSocket::Connect(uint32_t, uint16_t) {
    if (handle_ == kNoSocket) return false;
    if (!g_wire.Connect()) {
        handle_ = kNoSocket;  // closed on failure, as the real one is
        return false;
    }
    return true;
}

int TcpSocket::Send(const void* data, size_t length, int) {
    if (handle_ == kNoSocket || (length && !data)) return -1;
    return static_cast<int>(length);
}

int TcpSocket::Receive(void* buffer, size_t length, int) {
    if (handle_ == kNoSocket || !buffer || length == 0) return -1;
    if (g_wire.pos == g_wire.end) return g_wire.timeoutAtEnd ? -1 : 0;
    size_t n = g_wire.NextCut(length);
    if (n > g_wire.end - g_wire.pos) n = g_wire.end - g_wire.pos;
    if (n > length) Fail("a receive cut larger than the buffer");
    std::memcpy(buffer, g_wire.data + g_wire.pos, n);
    g_wire.pos += n;
    return static_cast<int>(n);
}

void TcpSocket::Close() { handle_ = kNoSocket; }

}  // namespace quillo

namespace {

using namespace quillo;

// Everything a run observed, compared between the two cuttings.
struct Outcome {
    std::string log;

    void Add(const char* key, int64_t value) { log += std::string(key) + "=" + std::to_string(value) + "\n"; }
    void Add(const char* key, const std::string& value) {
        log += std::string(key) + "[" + std::to_string(value.size()) + "]" + value + "\n";
    }
};

struct ProgressLog {
    std::string bytes;
    int calls = 0;
    int64_t lastReceived = 0;
    int stopAfter = 0;  // 0 = never stop
};

int OnProgress(int percent, int, const uint8_t* data, int length, int64_t received, int64_t total, void* user) {
    auto* p = static_cast<ProgressLog*>(user);
    ++p->calls;
    if (length < 0 || (length > 0 && !data)) Fail("a progress call with a bad slice");
    if (data) p->bytes.append(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
    if (received < p->lastReceived || received > total) Fail("progress ran backwards or past the total");
    if (percent != -1 && (percent < 0 || percent > 100)) Fail("a percentage outside 0..100");
    p->lastReceived = received;
    return p->stopAfter == 0 || p->calls < p->stopAfter;
}

void RecordHead(CHttpAgent& agent, Outcome& out) {
    out.Add("status", agent.GetStatusCode());
    out.Add("length", agent.GetContentLength());
    HeaderMap headers;
    agent.CopyResponseHeaders(headers);
    for (const auto& h : headers) out.Add(h.first.c_str(), h.second);
    std::string raw;
    if (agent.GetRawResponseHeaders(raw) && (raw.size() < 4 || raw.compare(raw.size() - 4, 4, "\r\n\r\n") != 0))
        Fail("a response head that does not end with an empty line");
    out.Add("raw", raw);
    out.Add("location", agent.GetResponseHeader(std::string("LOCATION")));
    out.Add("wide", static_cast<int64_t>(agent.GetResponseHeader(std::wstring(L"Content-Type")).size()));
}

// Reads the body with one of the reading calls. The bodies of the non-exact
// reads may carry bytes of whatever followed, as many as the last receive
// brought, so only their declared part is compared. True when what is left
// unread no longer depends on the cutting: after an exact read of a declared
// length (the progress reader also keeps the surplus pending). A chunked
// read drops what it read past the last chunk, and ReceiveBody and Read
// take what the receives brought.
bool ReadBody(CHttpAgent& agent, unsigned how, Outcome& out) {
    const int64_t declared = agent.GetContentLength();
    std::string body;
    switch (how) {
    case 0: {
        const int r = agent.ReceiveBody(body);
        out.Add("body.r", r);
        if (r && declared > 0 && body.size() < static_cast<size_t>(declared)) Fail("a short body was accepted");
        if (declared > 0 && body.size() > static_cast<size_t>(declared)) body.resize(static_cast<size_t>(declared));
        if (declared > 0 && !r) body.clear();
        out.Add("body", body);
        return false;
    }
    case 1: {
        const int r = agent.ReceiveBodyExact(body);
        out.Add("exact.r", r);
        if (r && declared > 0 && body.size() != static_cast<size_t>(declared)) Fail("an exact body of another size");
        if (declared > 0 && !r) body.clear();
        out.Add("exact", body);
        return r && declared > 0;
    }
    case 2: {
        // Stopping after the n-th call depends on how many slices there were,
        // so a run that stops early is not compared.
        ProgressLog p;
        p.stopAfter = static_cast<int>(declared % 5);
        const int r = agent.ReceiveBodyWithProgress(OnProgress, &p);
        if (r && declared > 0 && p.bytes.size() != static_cast<size_t>(declared)) Fail("progress lost bytes");
        if (p.stopAfter != 0) return false;
        out.Add("progress.r", r);
        out.Add("progress", p.bytes);
        return r && declared > 0;
    }
    default: {
        char buffer[37];
        for (int i = 0; i < 4; ++i) {
            const int size = static_cast<int>(sizeof buffer) - i * 9;
            const int n = agent.Read(buffer, size);
            if (n > size) Fail("Read() returned more than its buffer");
            if (n <= 0) break;
        }
        std::string rest;
        agent.ReadAvailable(rest);
        if (agent.Read(nullptr, 5) != -1 || agent.Read(buffer, 0) != -1) Fail("Read() accepted no buffer");
        return false;
    }
    }
}

Outcome Run(const uint8_t* data, size_t size, uint8_t mode, uint32_t seed) {
    g_wire = Wire();
    g_wire.data = data;
    g_wire.size = size;
    g_wire.rng = seed;
    g_wire.timeoutAtEnd = (mode & 0x80) != 0;

    Outcome out;
    CHttpAgent* agent = new CHttpAgent();
    agent->AddRef();
    static const int kBufferSizes[] = {4096, 1, 7, 16384};
    agent->SetReceiveBufferSize(kBufferSizes[(mode >> 4) & 3]);

    if (mode & 0x04) {
        // The one-call GET: follows redirects on new connections.
        std::string body;
        const int r = agent->Get(L"fuzz.example", 80, L"/", body, nullptr);
        out.Add("get.r", r);
        out.Add("get.connections", g_wire.connections);
        if (g_wire.connections > kMaxRedirects + 1) Fail("more connections than redirects allow");
        // The body after a 200 is read by ReceiveBody: only its declared part is stable.
        const int64_t declared = agent->GetContentLength();
        if (declared > 0 && body.size() > static_cast<size_t>(declared)) body.resize(static_cast<size_t>(declared));
        if (declared > 0 && body.size() < static_cast<size_t>(declared)) body.clear();
        out.Add("get.body", body);
    } else {
        int r = agent->OpenRequest(std::string("fuzz.example"), 80, "GET", "/", "HTTP/1.1");
        agent->SetRequestHeader(std::string("Host"), std::string("fuzz.example"));
        if (r) r = agent->Execute();
        out.Add("execute", r);
        if (r) {
            RecordHead(*agent, out);
            const bool inStep = ReadBody(*agent, mode & 3, out);
            if (mode & 0x08) {
                // A second response on the same connection (100 Continue, pipelining).
                Outcome second;
                const int next = agent->ReceiveNextResponseHeaders();
                second.Add("next", next);
                if (next) {
                    RecordHead(*agent, second);
                    ReadBody(*agent, (mode >> 6) & 1, second);
                }
                if (inStep) out.log += second.log;
            }
        }
    }
    if (agent->Release() != 0) Fail("the agent outlived its last reference");
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t mode = data[0];
    const uint32_t seed = 0x9E3779B9u * (static_cast<uint32_t>(data[1]) + 1);
    const Outcome cut = Run(data + 2, size - 2, mode, seed);
    const Outcome whole = Run(data + 2, size - 2, mode, 0);
    if (cut.log != whole.log) {
        std::fprintf(stderr, "--- receives of varying sizes:\n%s--- whole receives:\n%s", cut.log.c_str(),
                     whole.log.c_str());
        Fail("the outcome depends on how the stream was cut into receives");
    }
    return 0;
}
