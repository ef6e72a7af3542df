#include "net/CHttpAgent.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <vector>

#include "base/Base64.h"
#include "base/TextCodec.h"
#include "net/Url.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace quillo {

namespace {

constexpr const char* kCrlf = "\r\n";
constexpr size_t kHeadBlock = 4096;
constexpr size_t kMaxChunkLine = 64 * 1024;  // size line or the gap up to the CRLF after the data
constexpr int kMaxReceiveBufferSize = 0x200000;

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Lower(std::string s) {
    for (char& c : s) c = LowerAscii(c);
    return s;
}

bool EqualsNoCase(const std::string& a, const char* b) {
    const size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

// Removes leading and trailing space characters (only ' ').
std::string TrimSpaces(const std::string& s) {
    const size_t first = s.find_first_not_of(' ');
    if (first == std::string::npos) return std::string();
    return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

bool IsCSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// atoi/strtoll reading: leading white space, a sign, decimal digits; stops at
// the first other character; 0 without digits; saturates instead of
// overflowing.
int64_t ParseDecimal(const std::string& s) {
    size_t i = 0;
    while (i < s.size() && IsCSpace(s[i])) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    uint64_t value = 0;
    const uint64_t limit = negative ? static_cast<uint64_t>(INT64_MAX) + 1 : static_cast<uint64_t>(INT64_MAX);
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        const unsigned digit = static_cast<unsigned>(s[i] - '0');
        if (value > (limit - digit) / 10) {
            value = limit;
            break;
        }
        value = value * 10 + digit;
    }
    if (!negative) return static_cast<int64_t>(value);
    return value == static_cast<uint64_t>(INT64_MAX) + 1 ? INT64_MIN : -static_cast<int64_t>(value);
}

// A chunk size line read the way "%x" reads it: white space, a sign, an
// optional 0x, hex digits; anything after them (a chunk extension) is
// ignored. No digits reads as 0. Saturates instead of overflowing.
int64_t ParseChunkSize(const char* p, size_t n) {
    size_t i = 0;
    while (i < n && IsCSpace(p[i])) ++i;
    bool negative = false;
    if (i < n && (p[i] == '+' || p[i] == '-')) negative = p[i++] == '-';
    if (i + 1 < n && p[i] == '0' && (p[i + 1] == 'x' || p[i + 1] == 'X')) i += 2;
    int64_t value = 0;
    for (; i < n; ++i) {
        const char c = p[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            break;
        if (value > (INT64_MAX >> 4)) {
            value = INT64_MAX;
            break;
        }
        value = value * 16 + digit;
    }
    return negative ? -value : value;
}

// Header lines "name: value" of `text` between `begin` and `end`, each ended
// by CRLF, into `out` with lower-case names; a later name replaces an earlier.
void ParseHeaderLines(const std::string& text, size_t begin, size_t end, HeaderMap& out) {
    size_t pos = begin;
    while (pos < end) {
        const size_t eol = text.find(kCrlf, pos);
        if (eol == std::string::npos || eol > end) break;
        const std::string line = text.substr(pos, eol - pos);
        pos = eol + 2;
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        const std::string name = TrimSpaces(line.substr(0, colon));
        if (name.empty()) continue;
        out[Lower(name)] = TrimSpaces(line.substr(colon + 1));
    }
}

// Milliseconds of a monotonic clock; differences survive the wrap-around.
uint32_t TickCount() {
#ifdef _WIN32
    return GetTickCount();
#else
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
#endif
}

int Percent(int64_t received, int64_t total) {
    if (total <= 0) return 0;
    int64_t p = received <= INT64_MAX / 100 ? received * 100 / total : received / (total / 100);
    return static_cast<int>(std::min<int64_t>(p, INT_MAX));
}

std::FILE* OpenForWriting(const NativePath& path) {
#ifdef _WIN32
    return _wfopen(path.c_str(), L"wb");
#else
    return std::fopen(path.c_str(), "wb");
#endif
}

}  // namespace

// ---------------------------------------------------------------- ILite

long ILite::AddRef() { return refCount_.fetch_add(1) + 1; }

long ILite::Release() {
    const int32_t left = refCount_.fetch_sub(1) - 1;
    if (left > 0) return left;
    delete this;
    return 0;
}

int IHttpAgent::FormatRequestHeader(const char* name, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int result = FormatRequestHeaderV(name, format, args);
    va_end(args);
    return result;
}

int IHttpAgent::FormatRequestHeader(const wchar_t* name, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    const int result = FormatRequestHeaderV(name, format, args);
    va_end(args);
    return result;
}

// ---------------------------------------------------------------- setup

CHttpAgent::CHttpAgent() { socketsStarted_ = SocketStartup(); }

CHttpAgent::~CHttpAgent() {
    socket_.Close();
    if (socketsStarted_) SocketCleanup();
}

void CHttpAgent::Reset() {
    socket_.Close();
    requestLine_.clear();
    statusLine_.clear();
    pending_.clear();
    responseHead_.clear();
    requestHeaders_.clear();
    responseHeaders_.clear();
}

void CHttpAgent::Close() { socket_.Close(); }

int CHttpAgent::SetTimeout(int seconds) {
    timeout_ = seconds;
    return 1;
}

int CHttpAgent::SetReceiveBufferSize(int bytes) {
    if (bytes < 1 || bytes > kMaxReceiveBufferSize) return 0;
    receiveBufferSize_ = bytes;
    return 1;
}

int CHttpAgent::SetProxy(const std::string& host, uint16_t port, const std::string& user, const std::string& password,
                         const std::string& extra) {
    proxyHost_ = host;
    proxyPort_ = port;
    proxyUser_ = user;
    proxyPassword_ = password;
    proxyExtra_ = extra;
    proxyEnabled_ = 1;
    return 1;
}

// ---------------------------------------------------------------- request

int CHttpAgent::OpenRequest(const std::wstring& host, uint16_t port, const std::wstring& method,
                            const std::wstring& path, const std::wstring& version) {
    return OpenRequest(WideToAnsi(host), port, WideToAnsi(method), WideToAnsi(path), WideToAnsi(version));
}

int CHttpAgent::OpenRequest(const std::string& host, uint16_t port, const std::string& method,
                            const std::string& path, const std::string& version) {
    Reset();
    if (host.empty() || method.empty() || path.empty() || version.empty()) return 0;
    port_ = port;
    host_ = host;
    if (proxyEnabled_)
        requestLine_ = method + " http://" + host + ":" + std::to_string(port) + path + " " + version;
    else
        requestLine_ = method + " " + path + " " + version;
    return socket_.Create() ? 1 : 0;
}

int CHttpAgent::SetRequestHeader(const std::wstring& name, const std::wstring& value) {
    return SetRequestHeader(WideToAnsi(name), WideToAnsi(value));
}

int CHttpAgent::SetRequestHeader(const std::string& name, const std::string& value) {
    requestHeaders_[name] = value;
    return 1;
}

int CHttpAgent::FormatRequestHeaderV(const char* name, const char* format, va_list args) {
    if (!name || !*name || !format || !*format) return 0;
    va_list probe;
    va_copy(probe, args);
    const int n = std::vsnprintf(nullptr, 0, format, probe);
    va_end(probe);
    if (n < 0) return 0;
    std::vector<char> text(static_cast<size_t>(n) + 1);
    std::vsnprintf(text.data(), text.size(), format, args);
    return SetRequestHeader(std::string(name), std::string(text.data(), static_cast<size_t>(n)));
}

int CHttpAgent::FormatRequestHeaderV(const wchar_t* name, const wchar_t* format, va_list args) {
    if (!name || !*name || !format || !*format) return 0;
    // vswprintf only says "too small", so grow the buffer until the text fits.
    for (size_t size = 256; size <= (1u << 20); size *= 2) {
        std::vector<wchar_t> text(size);
        va_list attempt;
        va_copy(attempt, args);
        const int n = std::vswprintf(text.data(), size, format, attempt);
        va_end(attempt);
        if (n >= 0) return SetRequestHeader(std::wstring(name), std::wstring(text.data(), static_cast<size_t>(n)));
    }
    return 0;
}

bool CHttpAgent::Connect() {
    if (!socket_.IsOpen()) return false;
    const std::string& address = proxyEnabled_ ? proxyHost_ : host_;
    const uint16_t port = proxyEnabled_ ? proxyPort_ : port_;
    uint32_t ip = 0;
    if (!ResolveIPv4(address, ip)) {
        socket_.Close();
        return false;
    }
    return socket_.Connect(ip, port);
}

bool CHttpAgent::SendAll(const std::string& bytes) {
    return socket_.Send(bytes.data(), bytes.size(), timeout_) == static_cast<int>(bytes.size());
}

std::string CHttpAgent::ProxyHeaderLines() const {
    std::string lines = "Proxy-Connection: Keep-Alive\r\n";
    if (!proxyUser_.empty() && !proxyPassword_.empty())
        lines += "Proxy-Authorization: Basic " + Base64Encode(proxyUser_ + ":" + proxyPassword_) + kCrlf;
    return lines;
}

int CHttpAgent::SendRequest() {
    if (!Connect()) return 0;
    std::string block = requestLine_ + kCrlf;
    for (const auto& header : requestHeaders_) block += header.first + ": " + header.second + kCrlf;
    if (proxyEnabled_) block += ProxyHeaderLines();
    block += kCrlf;
    return SendAll(block) ? 1 : 0;
}

int CHttpAgent::SendBody(const void* data, size_t length) {
    if (length > static_cast<size_t>(INT_MAX)) return 0;
    return socket_.Send(data, length, timeout_) == static_cast<int>(length) ? 1 : 0;
}

int CHttpAgent::SendRawRequest(const std::wstring& host, uint16_t port, const std::wstring& request) {
    return SendRawRequest(WideToAnsi(host), port, WideToAnsi(request));
}

int CHttpAgent::SendRawRequest(const std::string& host, uint16_t port, const std::string& request) {
    Reset();
    port_ = port;
    host_ = host;
    if (!socket_.Create() || !Connect()) return 0;
    if (!proxyEnabled_) return SendAll(request) ? 1 : 0;

    // Through the proxy: absolute target and the proxy's own header lines.
    std::string text = request;
    const size_t headEnd = text.find("\r\n\r\n");
    const size_t firstEol = text.find(kCrlf);
    if (headEnd == std::string::npos) {
        socket_.Close();
        return 0;
    }
    HeaderMap headers;
    ParseHeaderLines(text, firstEol + 2, headEnd + 2, headers);
    const auto hostHeader = headers.find("host");
    const std::string& targetHost = hostHeader != headers.end() ? hostHeader->second : host;
    const size_t slash = text.find('/');
    if (slash == std::string::npos) {
        socket_.Close();
        return 0;
    }
    text.insert(slash, "http://" + targetHost + ":" + std::to_string(port));
    text.insert(text.find(kCrlf) + 2, ProxyHeaderLines());
    return SendAll(text) ? 1 : 0;
}

int CHttpAgent::Execute() { return SendRequest() && ReceiveResponseHeaders() ? 1 : 0; }

// ---------------------------------------------------------------- response head

// Receives blocks into `buffer` until it holds CRLF CRLF; the length of the
// head (terminator included), or npos when the connection ended, a wait
// failed or the head grew too large.
size_t CHttpAgent::ReceiveHead(std::string& buffer) {
    size_t from = 0;
    for (;;) {
        const size_t end = buffer.find("\r\n\r\n", from);
        if (end != std::string::npos) return end + 4;
        if (buffer.size() >= kMaxResponseHead) return std::string::npos;
        from = buffer.size() >= 3 ? buffer.size() - 3 : 0;
        const size_t old = buffer.size();
        buffer.resize(old + kHeadBlock);
        const int n = socket_.Receive(&buffer[old], kHeadBlock, timeout_);
        buffer.resize(old + static_cast<size_t>(n > 0 ? n : 0));
        if (n <= 0) return std::string::npos;
    }
}

void CHttpAgent::ParseHead() {
    const size_t eol = responseHead_.find(kCrlf);
    statusLine_ = responseHead_.substr(0, eol);
    responseHeaders_.clear();
    if (eol != std::string::npos) ParseHeaderLines(responseHead_, eol + 2, responseHead_.size(), responseHeaders_);
}

int CHttpAgent::ReceiveResponseHeaders() {
    if (!responseHead_.empty()) return 0;
    std::string buffer;
    const size_t end = ReceiveHead(buffer);
    if (end == std::string::npos) return 0;
    responseHead_ = buffer.substr(0, end);
    pending_ = buffer.substr(end);
    ParseHead();
    return 1;
}

int CHttpAgent::ReceiveNextResponseHeaders() {
    responseHeaders_.clear();
    responseHead_.clear();
    statusLine_.clear();
    std::string buffer;
    buffer.swap(pending_);
    const size_t end = ReceiveHead(buffer);
    if (end == std::string::npos) {
        pending_.swap(buffer);  // nothing was taken
        return 0;
    }
    responseHead_ = buffer.substr(0, end);
    pending_ = buffer.substr(end);
    ParseHead();
    return 1;
}

int CHttpAgent::GetStatusCode() {
    const size_t first = statusLine_.find(' ');
    if (first == std::string::npos) return 404;
    const size_t second = statusLine_.find(' ', first + 1);
    if (second == std::string::npos) return 404;
    const int64_t code = ParseDecimal(statusLine_.substr(first + 1, second - first - 1));
    return static_cast<int>(std::max<int64_t>(INT_MIN, std::min<int64_t>(INT_MAX, code)));
}

int64_t CHttpAgent::GetContentLength() {
    // A negative length makes no sense on the wire; it reads as "none".
    const int64_t length = ParseDecimal(GetResponseHeader(std::string("Content-Length")));
    return length > 0 ? length : 0;
}

std::wstring CHttpAgent::GetResponseHeader(const std::wstring& name) {
    return AnsiToWide(GetResponseHeader(WideToAnsi(name)));
}

std::string CHttpAgent::GetResponseHeader(const std::string& name) {
    const auto it = responseHeaders_.find(Lower(name));
    return it == responseHeaders_.end() ? std::string() : it->second;
}

int CHttpAgent::CopyResponseHeaders(HeaderMap& out) {
    out = responseHeaders_;
    return 1;
}

int CHttpAgent::GetRawResponseHeaders(std::string& out) {
    out = responseHead_;
    return out.empty() ? 0 : 1;
}

// ---------------------------------------------------------------- body

// Appends the pending bytes, or else one receive of the buffer size, to
// `out`: the count appended, 0 at connection end, -1 on failure.
int CHttpAgent::ReceiveInto(std::string& out) {
    if (!pending_.empty()) {
        const size_t n = pending_.size();
        out += pending_;
        pending_.clear();
        return static_cast<int>(std::min<size_t>(n, INT_MAX));
    }
    const size_t old = out.size();
    out.resize(old + static_cast<size_t>(receiveBufferSize_));
    const int n = socket_.Receive(&out[old], static_cast<size_t>(receiveBufferSize_), timeout_);
    out.resize(old + static_cast<size_t>(n > 0 ? n : 0));
    return n;
}

int CHttpAgent::ReadAvailable(std::string& out) {
    out.clear();
    return ReceiveInto(out) > 0 ? 1 : 0;
}

int CHttpAgent::Read(void* buffer, int size) {
    if (!buffer || size < 1) return -1;
    if (!pending_.empty()) {
        const size_t n = std::min(pending_.size(), static_cast<size_t>(size));
        std::memcpy(buffer, pending_.data(), n);
        pending_.erase(0, n);
        return static_cast<int>(n);
    }
    return socket_.Receive(buffer, static_cast<size_t>(size), timeout_);
}

int CHttpAgent::ReceiveBody(std::string& out) { return ReceiveBodyTo(out, false); }

int CHttpAgent::ReceiveBodyExact(std::string& out) { return ReceiveBodyTo(out, true); }

int CHttpAgent::ReceiveBodyTo(std::string& out, bool exact) {
    out.clear();
    const int64_t length = GetContentLength();
    if (length > 0) {
        if (length > kMaxBodyInMemory) return 0;
        const size_t want = static_cast<size_t>(length);
        while (out.size() < want)
            if (ReceiveInto(out) <= 0) return 0;
        if (exact && out.size() > want) {
            pending_.assign(out, want, std::string::npos);
            out.resize(want);
        }
        return out.empty() ? 0 : 1;
    }
    if (EqualsNoCase(GetResponseHeader(std::string("Transfer-Encoding")), "chunked")) return DecodeChunked(out);
    return 0;  // a body that ends only with the connection is not read
}

int CHttpAgent::DecodeChunked(std::string& out) {
    std::string work;
    // Reads until `work` holds a CRLF; its position, or npos on failure.
    auto findLineEnd = [&]() -> size_t {
        for (;;) {
            const size_t eol = work.find(kCrlf);
            if (eol != std::string::npos) return eol;
            if (work.size() > kMaxChunkLine || ReceiveInto(work) <= 0) return std::string::npos;
        }
    };
    for (;;) {
        size_t eol = findLineEnd();
        if (eol == std::string::npos) return 0;
        const int64_t size = ParseChunkSize(work.data(), eol);
        work.erase(0, eol + 2);
        if (size <= 0) return out.empty() ? 0 : 1;  // trailer lines are left unread
        if (size > kMaxChunkSize || static_cast<int64_t>(out.size()) + size > kMaxBodyInMemory) return 0;
        const size_t chunk = static_cast<size_t>(size);
        while (work.size() < chunk)
            if (ReceiveInto(work) <= 0) return 0;
        out.append(work, 0, chunk);
        work.erase(0, chunk);
        eol = findLineEnd();
        if (eol == std::string::npos) return 0;
        work.erase(0, eol + 2);
        if (work.empty() && ReceiveInto(work) <= 0) return 0;
    }
}

// Reads Content-Length bytes in slices, writing them to `file` when it is
// given and reporting each slice to `callback`. Bytes beyond the length stay
// pending.
int CHttpAgent::ReceiveWithProgress(void* file, ProgressCallback callback, void* user) {
    std::FILE* f = static_cast<std::FILE*>(file);
    const int64_t total = GetContentLength();
    int64_t received = 0;
    uint32_t last = TickCount();
    bool ok = true;
    std::string slice;
    while (received < total) {
        slice.clear();
        if (ReceiveInto(slice) <= 0) break;
        const int64_t left = total - received;
        if (static_cast<int64_t>(slice.size()) > left) {
            pending_.assign(slice, static_cast<size_t>(left), std::string::npos);
            slice.resize(static_cast<size_t>(left));
        }
        if (f && std::fwrite(slice.data(), 1, slice.size(), f) != slice.size()) {
            ok = false;
            break;
        }
        received += static_cast<int64_t>(slice.size());
        if (callback) {
            const uint32_t now = TickCount();
            const uint32_t elapsed = now - last;
            last = now;
            const int64_t speed = elapsed ? static_cast<int64_t>(slice.size()) * 1000 / elapsed : 0;
            if (!callback(Percent(received, total), static_cast<int>(std::min<int64_t>(speed, INT_MAX)),
                          reinterpret_cast<const uint8_t*>(slice.data()), static_cast<int>(slice.size()), received,
                          total, user)) {
                ok = false;
                break;
            }
        }
    }
    if (f && std::fclose(f) != 0) ok = false;
    if (!ok) return 0;
    if (received < total) {
        if (callback) callback(-1, 0, nullptr, 0, received, total, user);
        return 0;
    }
    return 1;
}

int CHttpAgent::ReceiveBodyToFile(const NativePath& path, ProgressCallback callback, void* user) {
    const int64_t total = GetContentLength();
    if (total <= 0) return 0;
    if (callback && !callback(0, 0, nullptr, 0, 0, total, user)) return 0;
    std::FILE* f = OpenForWriting(path);
    if (!f) return 0;
    return ReceiveWithProgress(f, callback, user);
}

int CHttpAgent::ReceiveBodyWithProgress(ProgressCallback callback, void* user) {
    const int64_t total = GetContentLength();
    if (total <= 0) return 0;
    if (callback && !callback(0, 0, nullptr, 0, 0, total, user)) return 0;
    return ReceiveWithProgress(nullptr, callback, user);
}

// ---------------------------------------------------------------- one-call requests

namespace {

// Equal ignoring the case of ASCII letters (host names and schemes).
bool SameAsciiText(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

}  // namespace

struct CHttpAgent::OneCall {
    enum Kind { kGet, kPost, kDownload } kind;
    const void* body;
    size_t length;
    std::string* out;
    const NativePath* file;
    ProgressCallback callback;
    void* user;
    const WideHeaderMap* extraHeaders;
};

int CHttpAgent::Run(const OneCall& call, std::string host, uint16_t port, std::string target) {
    int result = 0;
    for (int redirects = 0;; ++redirects) {
        if (!OpenRequest(host, port, call.kind == OneCall::kPost ? "POST" : "GET", target, "HTTP/1.1")) break;
        SetRequestHeader(std::string("Accept"), std::string("*/*"));
        SetRequestHeader(std::string("User-Agent"), std::string("CHttpAgent"));
        SetRequestHeader(std::string("Host"), host);
        if (call.kind == OneCall::kPost) SetRequestHeader(std::string("Content-Length"), std::to_string(call.length));
        if (call.extraHeaders)
            for (const auto& header : *call.extraHeaders) SetRequestHeader(header.first, header.second);

        const bool answered = call.kind == OneCall::kPost
                                  ? SendRequest() && SendBody(call.body, call.length) && ReceiveResponseHeaders()
                                  : Execute() != 0;
        if (!answered) break;
        const int status = GetStatusCode();
        if (status == 200) {
            result = 1;  // whatever the body read gives
            if (call.kind == OneCall::kDownload)
                ReceiveBodyToFile(*call.file, call.callback, call.user);
            else
                ReceiveBody(*call.out);
            break;
        }
        if (status < 300 || status > 399 || redirects >= kMaxRedirects) break;
        // Only an absolute URL is followed, and only to plain HTTP on the
        // same host (any port): the agent speaks nothing else, and a
        // request's body and headers are meant for the host they were sent to.
        UrlParts next;
        if (!SplitUrl(GetResponseHeader(std::string("Location")), next) || next.host.empty()) break;
        if (!SameAsciiText(next.scheme, "http") || !SameAsciiText(next.host, host)) break;
        Close();
        host = next.host;
        port = next.port;
        target = next.target();
    }
    Close();
    return result;
}

int CHttpAgent::DownloadToFile(const std::wstring& host, uint16_t port, const std::wstring& path,
                               const NativePath& file, ProgressCallback callback, void* user,
                               const WideHeaderMap* extraHeaders) {
    const OneCall call{OneCall::kDownload, nullptr, 0, nullptr, &file, callback, user, extraHeaders};
    return Run(call, WideToAnsi(host), port, WideToAnsi(path));
}

int CHttpAgent::Get(const std::wstring& host, uint16_t port, const std::wstring& path, std::string& out,
                    const WideHeaderMap* extraHeaders) {
    const OneCall call{OneCall::kGet, nullptr, 0, &out, nullptr, nullptr, nullptr, extraHeaders};
    return Run(call, WideToAnsi(host), port, WideToAnsi(path));
}

int CHttpAgent::Post(const std::wstring& host, uint16_t port, const std::wstring& path, const void* body,
                     size_t length, std::string& out, const WideHeaderMap* extraHeaders) {
    const OneCall call{OneCall::kPost, body, length, &out, nullptr, nullptr, nullptr, extraHeaders};
    return Run(call, WideToAnsi(host), port, WideToAnsi(path));
}

}  // namespace quillo
