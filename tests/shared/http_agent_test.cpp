// Tests for the HTTP client (net/CHttpAgent) against scripted servers on
// 127.0.0.1, and for URL splitting (net/Url).
#include "net/CHttpAgent.h"
#include "net/Socket.h"
#include "net/Url.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tests/shared/LoopbackServer.h"

namespace quillo {
namespace {

using test::ClosedPort;
using test::LoopbackServer;
using test::ScriptedReply;

const std::wstring kLoopback = L"127.0.0.1";

ScriptedReply Reply(const std::string& bytes) { return ScriptedReply{{bytes}}; }

std::string Ok(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string Redirect(const std::string& location) {
    return "HTTP/1.1 302 Found\r\nLocation: " + location + "\r\nContent-Length: 0\r\n\r\n";
}

std::string Url(const LoopbackServer& server, const std::string& host, const std::string& target) {
    return "http://" + host + ":" + std::to_string(server.port()) + target;
}

std::string Pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 7) % 26);
    return s;
}

// GET / on the server, through the response head.
bool Fetch(CHttpAgent& agent, const LoopbackServer& server) {
    return agent.OpenRequest("127.0.0.1", server.port(), "GET", "/", "HTTP/1.1") && agent.Execute();
}

struct TempFile {
    std::filesystem::path path;
    explicit TempFile(const std::string& name)
        : path(std::filesystem::temp_directory_path() / ("quillo-http-" + name + ".bin")) {
        std::error_code ec;
        std::filesystem::remove(path, ec);
    }
    ~TempFile() {
        std::error_code ec;
        std::filesystem::remove(path, ec);
    }
    NativePath native() const { return path.native(); }
    bool exists() const { return std::filesystem::exists(path); }
    std::string contents() const {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
};

struct ProgressCall {
    int percent, speed;
    bool hasData;
    int length;
    int64_t received, total;
};

struct Progress {
    std::vector<ProgressCall> calls;
    std::string bytes;
    int abortAtCall = -1;  // index of the call that returns 0
};

int RecordProgress(int percent, int speed, const uint8_t* data, int length, int64_t received, int64_t total,
                   void* user) {
    auto* p = static_cast<Progress*>(user);
    p->calls.push_back({percent, speed, data != nullptr, length, received, total});
    if (data) p->bytes.append(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
    return static_cast<int>(p->calls.size()) - 1 == p->abortAtCall ? 0 : 1;
}

// ---------------------------------------------------------------- URL splitting

TEST(UrlSplit, PartsAndDefaultPorts) {
    const struct {
        const char* url;
        const char *user, *password, *host;
        uint16_t port;
        const char *path, *extra;
    } cases[] = {
        {"http://h/", "", "", "h", 80, "/", ""},
        {"HttpS://h/", "", "", "h", 443, "/", ""},
        {"ftp://anon@h/pub#f?x", "anon", "", "h", 21, "/pub", "#f?x"},
        {"gopher://h", "", "", "h", 70, "", ""},
        {"socks://h:/", "", "", "h", 1080, "/", ""},
        {"news://h/", "", "", "h", 0, "/", ""},
        {"mailto://h/", "", "", "h", 0, "/", ""},
        {"other://h/", "", "", "h", 0, "/", ""},
        {"http://u:p:w@ex.com:8080/d/f.exe?x=1#top", "u", "p:w", "ex.com", 8080, "/d/f.exe", "?x=1#top"},
        {"http://h?q=1", "", "", "h", 80, "", "?q=1"},
        {"http://h/a@b", "", "", "h", 80, "/a@b", ""},
        {"http://[::1]:8080/a?b", "", "", "[::1]", 8080, "/a", "?b"},
        {"http://[fe80::1:2]/", "", "", "[fe80::1:2]", 80, "/", ""},
        {"FILE:///C:/dir/a b.txt?x#y", "", "", "", 0, "/C:/dir/a b.txt?x#y", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        UrlParts p;
        ASSERT_TRUE(SplitUrl(c.url, p));
        EXPECT_EQ(p.user, c.user);
        EXPECT_EQ(p.password, c.password);
        EXPECT_EQ(p.host, c.host);
        EXPECT_EQ(p.port, c.port);
        EXPECT_EQ(p.path, c.path);
        EXPECT_EQ(p.extra, c.extra);
        EXPECT_EQ(p.target(), std::string(c.path) + c.extra);
    }
}

TEST(UrlSplit, OverlongPartsAndMalformedUrlsLeaveEverythingEmpty) {
    const std::string host256(256, 'h');
    UrlParts p;
    ASSERT_TRUE(SplitUrl("http://" + host256 + "/", p));
    ASSERT_TRUE(SplitUrl(std::string(32, 's') + "://" + std::string(128, 'u') + ":" + std::string(128, 'p') + "@h/" +
                             std::string(2047, 'p') + "?" + std::string(2047, 'e'),
                         p));

    const std::vector<std::string> bad = {
        "http://" + host256 + "h/",
        std::string(33, 's') + "://h/",
        "http://" + std::string(129, 'u') + "@h/",
        "http://u:" + std::string(129, 'p') + "@h/",
        "http://h/" + std::string(2048, 'p'),
        "http://h/?" + std::string(2048, 'e'),
        "no scheme", "://h/", "ht tp://h/", "http://h:65536/", "http://h:8o/", "http://[::1/", "http://[::1]x/",
    };
    for (const std::string& url : bad) {
        SCOPED_TRACE(url.substr(0, 40));
        UrlParts f;
        ASSERT_TRUE(SplitUrl("https://u:p@host:81/path?extra", f));
        EXPECT_FALSE(SplitUrl(url, f));
        EXPECT_EQ(f.scheme + f.user + f.password + f.host + f.path + f.extra, "");
        EXPECT_EQ(f.port, 0);
    }
}

// ---------------------------------------------------------------- requests

TEST(HttpAgentRequest, HeadersGoOutSortedAndExtraHeadersReplaceStandardOnes) {
    LoopbackServer server;
    ASSERT_TRUE(server.listening());
    server.Serve({Reply(Ok("body")), Reply(Ok("stored"))});

    CHttpAgent agent;
    const WideHeaderMap extra = {
        {L"User-Agent", L"Custom/1"}, {L"Referer", L"http://r/"}, {L"Range", L"bytes=0-"}, {L"Connection", L"close"}};
    std::string out;
    EXPECT_EQ(agent.Get(kLoopback, server.port(), L"/p/q?x=1", out, &extra), 1);
    EXPECT_EQ(out, "body");
    EXPECT_EQ(server.Request(0),
              "GET /p/q?x=1 HTTP/1.1\r\nAccept: */*\r\nConnection: close\r\nHost: 127.0.0.1\r\n"
              "Range: bytes=0-\r\nReferer: http://r/\r\nUser-Agent: Custom/1\r\n\r\n");

    EXPECT_EQ(agent.Post(kLoopback, server.port(), L"/submit", "a=1&b=two", 9, out, nullptr), 1);
    EXPECT_EQ(out, "stored");
    EXPECT_EQ(server.Request(1),
              "POST /submit HTTP/1.1\r\nAccept: */*\r\nContent-Length: 9\r\nHost: 127.0.0.1\r\n"
              "User-Agent: CHttpAgent\r\n\r\na=1&b=two");
}

TEST(HttpAgentRequest, OpenRequestChecksItsTextsAndFormatRequestHeaderFormats) {
    CHttpAgent agent;
    EXPECT_EQ(agent.OpenRequest("", 80, "GET", "/", "HTTP/1.1"), 0);
    EXPECT_EQ(agent.OpenRequest("h", 80, "", "/", "HTTP/1.1"), 0);
    EXPECT_EQ(agent.OpenRequest("h", 80, "GET", "", "HTTP/1.1"), 0);
    EXPECT_EQ(agent.OpenRequest(std::wstring(L"h"), 80, L"GET", L"/", L""), 0);

    LoopbackServer server;
    server.Serve({Reply(Ok(""))});
    ASSERT_EQ(agent.OpenRequest(kLoopback, server.port(), L"HEAD", L"/f", L"HTTP/1.0"), 1);
    EXPECT_EQ(agent.FormatRequestHeader("", "%d", 1), 0);
    EXPECT_EQ(agent.FormatRequestHeader("X-Empty", "", 1), 0);
    EXPECT_EQ(agent.FormatRequestHeader("Range", "bytes=%lld-%lld", 5LL, 4294967296LL), 1);
    EXPECT_EQ(agent.FormatRequestHeader(L"X-Wide", L"%d/%d", 7, 8), 1);
    EXPECT_EQ(agent.SetRequestHeader("Accept", "a"), 1);
    EXPECT_EQ(agent.SetRequestHeader(std::wstring(L"Accept"), L"b"), 1);  // replaces
    ASSERT_EQ(agent.Execute(), 1);
    EXPECT_EQ(server.Request(0), "HEAD /f HTTP/1.0\r\nAccept: b\r\nRange: bytes=5-4294967296\r\nX-Wide: 7/8\r\n\r\n");
}

TEST(HttpAgentRequest, ProxyGetsTheAbsoluteFormAndItsOwnHeaderLines) {
    LoopbackServer proxy;
    proxy.Serve({Reply(Ok("one")), Reply(Ok("two"))});

    CHttpAgent agent;
    EXPECT_EQ(agent.SetProxy("127.0.0.1", proxy.port(), "user", "pass", "unused"), 1);
    std::string out;
    // The target host is only named, never looked up: the proxy is connected.
    EXPECT_EQ(agent.Get(L"target.invalid", 8080, L"/x?y", out, nullptr), 1);
    EXPECT_EQ(out, "one");
    EXPECT_EQ(proxy.Request(0),
              "GET http://target.invalid:8080/x?y HTTP/1.1\r\nAccept: */*\r\nHost: target.invalid\r\n"
              "User-Agent: CHttpAgent\r\nProxy-Connection: Keep-Alive\r\n"
              "Proxy-Authorization: Basic dXNlcjpwYXNz\r\n\r\n");

    agent.SetProxy("127.0.0.1", proxy.port(), "user", "", "");
    EXPECT_EQ(agent.Get(L"target.invalid", 80, L"/", out, nullptr), 1);
    EXPECT_EQ(proxy.Request(1),
              "GET http://target.invalid:80/ HTTP/1.1\r\nAccept: */*\r\nHost: target.invalid\r\n"
              "User-Agent: CHttpAgent\r\nProxy-Connection: Keep-Alive\r\n\r\n");
}

TEST(HttpAgentRequest, RawRequestIsRewrittenOnlyThroughAProxy) {
    LoopbackServer server;
    server.Serve({Reply(Ok("a")), Reply(Ok("b")), Reply(Ok("c")), Reply(Ok("d"))});
    const std::string withHost = "GET /r?1 HTTP/1.1\r\nX: y\r\n  HOST : named.invalid \r\n\r\n";

    CHttpAgent direct;
    ASSERT_EQ(direct.SendRawRequest(std::string("127.0.0.1"), server.port(), withHost), 1);
    ASSERT_EQ(direct.ReceiveResponseHeaders(), 1);
    EXPECT_EQ(server.Request(0), withHost);
    direct.Close();  // lets the server go on to the next connection

    CHttpAgent agent;
    agent.SetProxy("127.0.0.1", server.port(), "u", "p", "");
    ASSERT_EQ(agent.SendRawRequest(std::string("fallback.invalid"), 81, withHost), 1);
    ASSERT_EQ(agent.ReceiveResponseHeaders(), 1);
    EXPECT_EQ(server.Request(1),
              "GET http://named.invalid:81/r?1 HTTP/1.1\r\nProxy-Connection: Keep-Alive\r\n"
              "Proxy-Authorization: Basic dTpw\r\nX: y\r\n  HOST : named.invalid \r\n\r\n");

    ASSERT_EQ(agent.SendRawRequest(std::wstring(L"fallback.invalid"), 82, L"GET /s HTTP/1.1\r\n\r\n"), 1);
    ASSERT_EQ(agent.ReceiveResponseHeaders(), 1);
    EXPECT_EQ(server.Request(2),
              "GET http://fallback.invalid:82/s HTTP/1.1\r\nProxy-Connection: Keep-Alive\r\n"
              "Proxy-Authorization: Basic dTpw\r\n\r\n");

    EXPECT_EQ(agent.SendRawRequest(std::string("h.invalid"), 80, "GET / HTTP/1.1\r\nHost: h\r\n"), 0);
}

// ---------------------------------------------------------------- response head

TEST(HttpAgentResponse, HeaderLinesAreTrimmedLowerCasedAndLaterValuesWin) {
    const std::string head =
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n  X-Name  :  value  \r\nX-Dup: first\r\nx-DUP: second\r\n"
        "   : no name\r\nno colon line\r\nX-Colons: a:b: c\r\nX-Tab:\tkept\t\r\n\r\n";
    LoopbackServer server;
    server.Serve({Reply(head + "rest")});

    CHttpAgent agent;
    ASSERT_TRUE(Fetch(agent, server));
    EXPECT_EQ(agent.ReceiveResponseHeaders(), 0);  // already read
    EXPECT_EQ(agent.GetStatusCode(), 200);
    for (const char* name : {"content-type", "Content-Type", "CONTENT-TYPE"})
        EXPECT_EQ(agent.GetResponseHeader(std::string(name)), "text/html") << name;
    EXPECT_EQ(agent.GetResponseHeader(std::wstring(L"CONTENT-type")), L"text/html");
    EXPECT_EQ(agent.GetResponseHeader(std::string("missing")), "");

    HeaderMap headers = {{"stale", "x"}};
    EXPECT_EQ(agent.CopyResponseHeaders(headers), 1);
    const HeaderMap expected = {{"content-type", "text/html"}, {"x-name", "value"}, {"x-dup", "second"},
                                {"x-colons", "a:b: c"},        {"x-tab", "\tkept\t"}};
    EXPECT_EQ(headers, expected);
    std::string raw, rest;
    EXPECT_EQ(agent.GetRawResponseHeaders(raw), 1);
    EXPECT_EQ(raw, head);
    EXPECT_EQ(agent.ReadAvailable(rest), 1);  // bytes after the head stay pending
    EXPECT_EQ(rest, "rest");
}

TEST(HttpAgentResponse, StatusLinesAndHostileLengthsFromConsecutiveHeads) {
    const std::string heads =
        "HTTP/1.1 404 Not Found\r\nA: 1\r\n\r\n"
        "HTTP/1.1 200\r\nB: 2\r\n\r\n"
        "HTTP/1.1 301 Moved Permanently\r\nContent-Length: abc\r\n\r\n"
        "HTTP/1.1 99999999999999999999 Big\r\nContent-Length: -5\r\n\r\n"
        "HTTP/1.0  200 OK\r\nContent-Length: 12junk\r\n\r\n"
        "\r\n\r\n"
        "HTTP/1.1 200 OK\r\nContent-Length:  99999999999999999999999\r\n\r\n"
        "HTTP/1.1 206 Partial";
    LoopbackServer server;
    server.Serve({Reply(heads)});

    CHttpAgent agent;
    EXPECT_EQ(agent.GetStatusCode(), 404);  // nothing read yet
    ASSERT_TRUE(Fetch(agent, server));
    EXPECT_EQ(agent.GetStatusCode(), 404);
    EXPECT_EQ(agent.GetResponseHeader(std::string("a")), "1");
    EXPECT_EQ(agent.GetContentLength(), 0);

    ASSERT_EQ(agent.ReceiveNextResponseHeaders(), 1);
    EXPECT_EQ(agent.GetStatusCode(), 404);  // no second space
    EXPECT_EQ(agent.GetResponseHeader(std::string("a")), "");
    EXPECT_EQ(agent.GetResponseHeader(std::string("b")), "2");
    ASSERT_EQ(agent.ReceiveNextResponseHeaders(), 1);
    EXPECT_EQ(agent.GetStatusCode(), 301);
    EXPECT_EQ(agent.GetContentLength(), 0);
    ASSERT_EQ(agent.ReceiveNextResponseHeaders(), 1);
    EXPECT_EQ(agent.GetStatusCode(), INT32_MAX);  // saturates instead of overflowing
    EXPECT_EQ(agent.GetContentLength(), 0);       // negative reads as none
    ASSERT_EQ(agent.ReceiveNextResponseHeaders(), 1);
    EXPECT_EQ(agent.GetStatusCode(), 0);  // empty text between the two spaces
    EXPECT_EQ(agent.GetContentLength(), 12);
    ASSERT_EQ(agent.ReceiveNextResponseHeaders(), 1);
    EXPECT_EQ(agent.GetStatusCode(), 404);  // empty status line
    std::string raw;
    EXPECT_EQ(agent.GetRawResponseHeaders(raw), 1);
    EXPECT_EQ(raw, "\r\n\r\n");
    ASSERT_EQ(agent.ReceiveNextResponseHeaders(), 1);
    EXPECT_EQ(agent.GetContentLength(), INT64_MAX);
    std::string body = "x";
    EXPECT_EQ(agent.ReceiveBody(body), 0);  // more than is ever buffered: refused before reading
    EXPECT_EQ(body, "");

    // The last head never completes before the server closes.
    EXPECT_EQ(agent.ReceiveNextResponseHeaders(), 0);
    EXPECT_EQ(agent.GetRawResponseHeaders(raw), 0);
    EXPECT_EQ(agent.GetStatusCode(), 404);
}

// ---------------------------------------------------------------- bodies

TEST(HttpAgentBody, GetNeedsStatus200AndReadsOnlyDelimitedBodies) {
    LoopbackServer server;
    server.Serve({Reply("HTTP/1.1 200 OK\r\n\r\nbody until close"), Reply("HTTP/1.1 404 Not Found\r\n\r\n"),
                  Reply("HTTP/1.1 500 Oops\r\nContent-Length: 2\r\n\r\nno")});
    CHttpAgent agent;
    std::string out = "old";
    EXPECT_EQ(agent.Get(kLoopback, server.port(), L"/", out, nullptr), 1);
    EXPECT_EQ(out, "");
    EXPECT_EQ(agent.Get(kLoopback, server.port(), L"/", out, nullptr), 0);
    EXPECT_EQ(agent.Get(kLoopback, server.port(), L"/", out, nullptr), 0);
}

TEST(HttpAgentBody, ChunkedBodies) {
    const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n";
    ScriptedReply split;
    split.pieces = {chunked + "5;name=val", "ue\r\nhel", "lo\r", "\n6\r\n world\r\n0\r\nTrailer: x\r\n\r\n"};
    split.pauseMs = 30;
    LoopbackServer server;
    server.Serve({Reply(chunked + "5\r\nhello\r\n0\r\n\r\n"), split, Reply(chunked + "3\r\nabc\r\n-5\r\n"),
                  Reply(chunked + "0\r\n\r\n"), Reply(chunked + "FFFFFFFFFFFFFFFFFFFFFF\r\n"),
                  Reply(chunked + "4000001\r\n"), Reply(chunked + "5\r\nhel")});

    CHttpAgent agent;
    std::string out;
    EXPECT_EQ(agent.Get(kLoopback, server.port(), L"/", out, nullptr), 1);
    EXPECT_EQ(out, "hello");
    EXPECT_EQ(agent.Get(kLoopback, server.port(), L"/", out, nullptr), 1);
    EXPECT_EQ(out, "hello world");

    ASSERT_TRUE(Fetch(agent, server));
    EXPECT_EQ(agent.ReceiveBody(out), 1);  // a negative size ends the body
    EXPECT_EQ(out, "abc");
    for (const char* what : {"no data at all", "size far beyond the limit", "size just above the limit",
                             "connection ends inside the chunk"}) {
        ASSERT_TRUE(Fetch(agent, server));
        EXPECT_EQ(agent.ReceiveBody(out), 0) << what;
    }
}

TEST(HttpAgentBody, PendingBytesAreServedFirstAndExactReadsKeepTheRest) {
    ScriptedReply pieces;
    pieces.pieces = {"HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nabcdef", "ghi"};
    pieces.pauseMs = 50;
    LoopbackServer server;
    server.Serve({pieces,
                  Reply(Ok("first") + "HTTP/1.1 206 Partial Content\r\nContent-Length: 6\r\n\r\nsecondEXTRA"),
                  Reply(Ok("abc") + "def"), Reply("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nshort")});
    CHttpAgent agent;
    ASSERT_TRUE(Fetch(agent, server));
    char buffer[16] = {};
    EXPECT_EQ(agent.Read(nullptr, 4), -1);
    EXPECT_EQ(agent.Read(buffer, 0), -1);
    ASSERT_EQ(agent.Read(buffer, 4), 4);
    EXPECT_EQ(std::string(buffer, 4), "abcd");
    std::string rest, tail;
    ASSERT_EQ(agent.ReadAvailable(rest), 1);
    EXPECT_EQ(rest, "ef");
    while (tail.size() < 3) {
        const int n = agent.Read(buffer, sizeof buffer);
        ASSERT_GT(n, 0);
        tail.append(buffer, static_cast<size_t>(n));
    }
    EXPECT_EQ(tail, "ghi");
    EXPECT_EQ(agent.Read(buffer, sizeof buffer), 0);  // the server closed
    EXPECT_EQ(agent.ReadAvailable(rest), 0);

    std::string body;
    ASSERT_TRUE(Fetch(agent, server));
    ASSERT_EQ(agent.ReceiveBodyExact(body), 1);
    EXPECT_EQ(body, "first");
    ASSERT_EQ(agent.ReceiveNextResponseHeaders(), 1);
    EXPECT_EQ(agent.GetStatusCode(), 206);
    ASSERT_EQ(agent.ReceiveBodyExact(body), 1);
    EXPECT_EQ(body, "second");
    ASSERT_EQ(agent.ReadAvailable(rest), 1);
    EXPECT_EQ(rest, "EXTRA");

    ASSERT_TRUE(Fetch(agent, server));
    ASSERT_EQ(agent.ReceiveBody(body), 1);
    EXPECT_EQ(body, "abcdef");  // the plain form hands over everything that arrived
    ASSERT_TRUE(Fetch(agent, server));
    EXPECT_EQ(agent.ReceiveBody(body), 0);  // connection ends early
    EXPECT_EQ(body, "short");
}

TEST(HttpAgentBody, ReceiveBufferSizeBoundsEachReceive) {
    const std::string body = Pattern(10000);
    LoopbackServer server;
    server.Serve({Reply(Ok(body))});

    CHttpAgent agent;
    EXPECT_EQ(agent.SetReceiveBufferSize(0x200000), 1);
    EXPECT_EQ(agent.SetReceiveBufferSize(3), 1);
    EXPECT_EQ(agent.SetReceiveBufferSize(0x200001), 0);
    EXPECT_EQ(agent.SetReceiveBufferSize(0), 0);
    ASSERT_TRUE(Fetch(agent, server));
    Progress progress;
    ASSERT_EQ(agent.ReceiveBodyWithProgress(RecordProgress, &progress), 1);
    EXPECT_EQ(progress.bytes, body);
    // The head is read in 4096-byte blocks, so most of the body comes from
    // the socket in receives of the 3 bytes set above.
    ASSERT_GT(progress.calls.size(), 3u);
    for (size_t i = 2; i < progress.calls.size(); ++i) ASSERT_LE(progress.calls[i].length, 3) << i;
}

// ---------------------------------------------------------------- progress and files

TEST(HttpAgentFile, ReceiveBodyToFileReportsProgressAndWritesTheBody) {
    const std::string body = Pattern(20000);
    ScriptedReply pieces;
    pieces.pieces = {"HTTP/1.1 200 OK\r\nContent-Length: 20000\r\n\r\n", body.substr(0, 7000), body.substr(7000, 7000),
                     body.substr(14000)};
    pieces.pauseMs = 20;
    LoopbackServer server;
    server.Serve({pieces});

    CHttpAgent agent;
    TempFile file("progress");
    ASSERT_TRUE(Fetch(agent, server));
    Progress progress;
    ASSERT_EQ(agent.ReceiveBodyToFile(file.native(), RecordProgress, &progress), 1);
    EXPECT_EQ(file.contents(), body);
    EXPECT_EQ(progress.bytes, body);

    ASSERT_GE(progress.calls.size(), 2u);
    const ProgressCall& first = progress.calls.front();
    EXPECT_EQ(first.percent, 0);
    EXPECT_EQ(first.speed, 0);
    EXPECT_FALSE(first.hasData);
    EXPECT_EQ(first.received, 0);
    EXPECT_EQ(first.total, 20000);
    int64_t received = 0;
    for (size_t i = 1; i < progress.calls.size(); ++i) {
        const ProgressCall& c = progress.calls[i];
        SCOPED_TRACE(i);
        EXPECT_TRUE(c.hasData);
        received += c.length;
        EXPECT_EQ(c.received, received);
        EXPECT_EQ(c.total, 20000);
        EXPECT_EQ(c.percent, static_cast<int>(received * 100 / 20000));
    }
    EXPECT_EQ(progress.calls.back().percent, 100);
}

TEST(HttpAgentFile, AbortShortBodyAndMissingLength) {
    const std::string body = Pattern(300);
    ScriptedReply twoPieces;
    twoPieces.pieces = {"HTTP/1.1 200 OK\r\nContent-Length: 300\r\n\r\n" + body.substr(0, 100), body.substr(100)};
    twoPieces.pauseMs = 50;
    LoopbackServer server;
    server.Serve({Reply(Ok(body)), twoPieces, Reply("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + body.substr(0, 40)),
                  Reply("HTTP/1.1 200 OK\r\n\r\nno length")});
    const struct {
        const char* what;
        int abortAtCall;
        bool fileMade;
        std::string written;
        size_t calls;
    } cases[] = {{"the first call says no", 0, false, "", 1},
                 {"a slice's call says no", 1, true, body.substr(0, 100), 2},
                 {"connection ends early", -1, true, body.substr(0, 40), 3},
                 {"no Content-Length", -1, false, "", 0}};
    CHttpAgent agent;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFile file("abort");
        ASSERT_TRUE(Fetch(agent, server));
        Progress progress;
        progress.abortAtCall = c.abortAtCall;
        EXPECT_EQ(agent.ReceiveBodyToFile(file.native(), RecordProgress, &progress), 0);
        EXPECT_EQ(file.exists(), c.fileMade);
        if (c.fileMade) {
            EXPECT_EQ(file.contents(), c.written);
        }
        ASSERT_EQ(progress.calls.size(), c.calls);
        if (c.abortAtCall < 0 && c.calls) {  // the early end is reported by a final call
            EXPECT_EQ(progress.calls.back().percent, -1);
            EXPECT_FALSE(progress.calls.back().hasData);
            EXPECT_EQ(progress.calls.back().received, 40);
            EXPECT_EQ(progress.calls.back().total, 100);
        }
    }
}

// ---------------------------------------------------------------- redirects

TEST(HttpAgentRedirect, LocationToAnotherPortOfTheSameHostIsFollowedWithItsTarget) {
    const std::string file = Pattern(5000);
    LoopbackServer second;
    second.Serve({Reply(Ok("moved here")), Reply(Ok("posted")), Reply(Ok(file))});
    LoopbackServer first;
    first.Serve({Reply(Redirect(Url(second, "127.0.0.1", "/a?b=1"))),
                 Reply("HTTP/1.1 307 Temporary Redirect\r\nlocation: " + Url(second, "127.0.0.1", "/p") + "\r\n\r\n"),
                 Reply(Redirect(Url(second, "127.0.0.1", "/file.bin")))});

    CHttpAgent agent;
    std::string out;
    EXPECT_EQ(agent.Get(kLoopback, first.port(), L"/start", out, nullptr), 1);
    EXPECT_EQ(out, "moved here");
    EXPECT_EQ(first.Request(0).substr(0, 22), "GET /start HTTP/1.1\r\nA");
    EXPECT_EQ(second.Request(0),
              "GET /a?b=1 HTTP/1.1\r\nAccept: */*\r\nHost: 127.0.0.1\r\nUser-Agent: CHttpAgent\r\n\r\n");

    // A POST is repeated with its body.
    EXPECT_EQ(agent.Post(kLoopback, first.port(), L"/form", "k=v", 3, out, nullptr), 1);
    EXPECT_EQ(out, "posted");
    EXPECT_EQ(second.Request(1),
              "POST /p HTTP/1.1\r\nAccept: */*\r\nContent-Length: 3\r\nHost: 127.0.0.1\r\n"
              "User-Agent: CHttpAgent\r\n\r\nk=v");

    // A download keeps its extra headers and callback.
    TempFile target("download");
    Progress progress;
    const WideHeaderMap extra = {{L"Referer", L"http://r/"}};
    EXPECT_EQ(agent.DownloadToFile(kLoopback, first.port(), L"/dl", target.native(), RecordProgress, &progress, &extra),
              1);
    EXPECT_EQ(target.contents(), file);
    EXPECT_EQ(progress.bytes, file);
    EXPECT_EQ(second.Request(2), "GET /file.bin HTTP/1.1\r\nAccept: */*\r\nHost: 127.0.0.1\r\nReferer: http://r/\r\n"
                                 "User-Agent: CHttpAgent\r\n\r\n");
}

// A redirect never takes a request (a POST's body least of all) to another
// host, nor to another scheme than plain HTTP.
TEST(HttpAgentRedirect, AnotherHostOrSchemeIsNotFollowed) {
    LoopbackServer other;
    other.Serve({Reply(Ok("must not be reached")), Reply(Ok("must not be reached")), Reply(Ok("must not be reached"))});
    LoopbackServer first;
    first.Serve({Reply(Redirect(Url(other, "localhost", "/post"))), Reply(Redirect(Url(other, "localhost", "/get"))),
                 Reply("HTTP/1.1 307 Temporary Redirect\r\nLocation: https://127.0.0.1:" + std::to_string(other.port()) +
                       "/tls\r\nContent-Length: 0\r\n\r\n")});
    CHttpAgent agent;
    std::string out = "untouched";
    EXPECT_EQ(agent.Post(kLoopback, first.port(), L"/form", "secret=1", 8, out, nullptr), 0);
    EXPECT_EQ(agent.Get(kLoopback, first.port(), L"/", out, nullptr), 0);
    EXPECT_EQ(agent.Get(kLoopback, first.port(), L"/", out, nullptr), 0);
    EXPECT_EQ(out, "untouched");
    first.Stop();
    other.Stop();
    EXPECT_EQ(first.Accepted(), 3u);
    EXPECT_EQ(other.Accepted(), 0u) << "nothing reached the other host";
}

TEST(HttpAgentRedirect, LoopsStopAfterTenAndOnlyAbsoluteUrlsAreFollowed) {
    LoopbackServer loop;
    loop.Serve(std::vector<ScriptedReply>(kMaxRedirects + 3, Reply(Redirect(Url(loop, "127.0.0.1", "/again")))));
    CHttpAgent agent;
    std::string out = "untouched";
    EXPECT_EQ(agent.Get(kLoopback, loop.port(), L"/", out, nullptr), 0);
    EXPECT_EQ(out, "untouched");
    loop.Stop();
    EXPECT_EQ(loop.Accepted(), static_cast<size_t>(kMaxRedirects + 1));

    LoopbackServer server;
    server.Serve({Reply(Redirect("/relative/path")), Reply("HTTP/1.1 302 Found\r\nContent-Length: 0\r\n\r\n"),
                  Reply(Redirect(Url(server, "127.0.0.1", ""))), Reply(Redirect("file:///C:/x")),
                  Reply(Ok("must not be fetched"))});
    for (const char* what : {"relative", "no Location", "empty target", "no host"})
        EXPECT_EQ(agent.Get(kLoopback, server.port(), L"/", out, nullptr), 0) << what;
    server.Stop();
    EXPECT_EQ(server.Accepted(), 4u);
}

// ---------------------------------------------------------------- waits and lifetime

TEST(HttpAgentWait, StalledServerTimesOut) {
    ScriptedReply silent;
    silent.stall = true;
    ScriptedReply headOnly;
    headOnly.pieces = {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n"};
    headOnly.stall = true;
    LoopbackServer server;
    server.Serve({silent, headOnly});

    CHttpAgent agent;
    EXPECT_EQ(agent.SetTimeout(1), 1);
    EXPECT_FALSE(Fetch(agent, server));
    ASSERT_TRUE(Fetch(agent, server));
    char buffer[16];
    EXPECT_EQ(agent.Read(buffer, sizeof buffer), -1);
}

TEST(HttpAgentWait, CloseFromAnotherThreadEndsABlockedRead) {
    ScriptedReply headOnly;
    headOnly.pieces = {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n"};
    headOnly.stall = true;  // the server's stall ends first if the close does nothing: Read then gives 0
    LoopbackServer server;
    server.Serve({headOnly});

    CHttpAgent agent;
    agent.SetTimeout(20);
    ASSERT_TRUE(Fetch(agent, server));
    std::thread closer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        agent.Close();
    });
    char buffer[16];
    const int n = agent.Read(buffer, sizeof buffer);
    closer.join();
    EXPECT_EQ(n, -1);
    EXPECT_EQ(agent.Read(buffer, sizeof buffer), -1);
}

TEST(HttpAgentLifetime, ReferenceCountDestroysAtZero) {
    IHttpAgent* agent = new CHttpAgent;
    EXPECT_EQ(agent->AddRef(), 1);
    EXPECT_EQ(agent->AddRef(), 2);
    EXPECT_EQ(agent->Release(), 1);
    EXPECT_EQ(agent->Release(), 0);  // destroyed; the sanitizers report a leak or a double free
}

// Agents come and go on the download's unit threads while other sockets of
// the process are in use: their Winsock starts and ends must never close
// those sockets, nor leave the process unable to make new ones.
TEST(HttpAgentLifetime, AgentsMadeAndDroppedOnManyThreadsLeaveOtherSocketsOpen) {
    LoopbackServer server;
    ASSERT_TRUE(server.listening());
    uint32_t loopback = 0;
    ASSERT_TRUE(ResolveIPv4("127.0.0.1", loopback));
#ifdef _WIN32
    constexpr int kPerThread = 50000;
#else
    constexpr int kPerThread = 2000;  // no shared start count here; kept short for the sanitizers
#endif
    for (int round = 0; round < 4; ++round) {
        std::atomic<bool> go{false};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&go] {
                while (!go) std::this_thread::yield();
                for (int i = 0; i < kPerThread; ++i) CHttpAgent agent;
            });
        go = true;
        for (auto& t : threads) t.join();
        TcpSocket client;
        ASSERT_TRUE(client.Create()) << "round " << round;
        ASSERT_TRUE(client.Connect(loopback, server.port())) << "round " << round;
    }
}

}  // namespace
}  // namespace quillo
