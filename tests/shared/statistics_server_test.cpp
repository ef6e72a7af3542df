// Statistics reports against a loopback server: what goes over the wire and
// what the sender makes of each kind of answer.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "net/MachineId.h"
#include "net/Statistics.h"
#include "tests/shared/LoopbackServer.h"

using namespace quillo;
using quillo::test::LoopbackServer;
using quillo::test::ScriptedReply;

namespace {

void SetStatServer(const std::string& value) {
#ifdef _WIN32
    _putenv_s("QUILLO_STAT_SERVER", value.c_str());  // an empty value removes it
#else
    if (value.empty())
        unsetenv("QUILLO_STAT_SERVER");
    else
        setenv("QUILLO_STAT_SERVER", value.c_str(), 1);
#endif
}

std::string Ok(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string Framed(const std::string& text, uint32_t declared) {
    uLongf size = compressBound(static_cast<uLong>(text.size()));
    std::string packed(size, '\0');
    compress(reinterpret_cast<Bytef*>(&packed[0]), &size, reinterpret_cast<const Bytef*>(text.data()),
             static_cast<uLong>(text.size()));
    packed.resize(size);
    std::string body;
    for (int shift = 24; shift >= 0; shift -= 8) body += static_cast<char>((declared >> shift) & 0xFF);
    return body + packed;
}

std::string Framed(const std::string& text) { return Framed(text, static_cast<uint32_t>(text.size())); }

std::string RequestLine(const std::string& head) { return head.substr(0, head.find("\r\n")); }

std::string Narrow(const std::wstring& ascii) { return std::string(ascii.begin(), ascii.end()); }

ScriptedReply Reply(const std::string& bytes) { return ScriptedReply{{bytes}}; }

class StatisticsReports : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_.listening());
        address_ = "127.0.0.1:" + std::to_string(server_.port());
        SetStatServer(address_);
        id_ = Narrow(GetMachineId());
    }
    void TearDown() override {
        server_.Stop();
        SetStatServer("");
    }

    LoopbackServer server_;
    std::string address_;
    std::string id_;
};

}  // namespace

TEST_F(StatisticsReports, EventReportRequests) {
    server_.Serve({Reply(Ok(Framed("{\"result\":0}"))), Reply(Ok("")), Reply(Ok(""))});
    SendEventReport(1, 3100, 7, 1, L"", 0, 0);
    const std::string head = server_.Request(0);
    EXPECT_EQ("GET /clt_v2_set?machid=" + id_ + "&plat=21&op=1&v=3100&l=1&c=7&md5= HTTP/1.1", RequestLine(head));
    EXPECT_NE(std::string::npos, head.find("\r\nAccept: */*\r\n")) << head;
    EXPECT_NE(std::string::npos, head.find("\r\nHost: 127.0.0.1\r\n")) << head;
    EXPECT_NE(std::string::npos, head.find("\r\nUser-Agent: CHttpAgent\r\n")) << head;

    // A failed installation with a digest, and a driver outcome.
    SendEventReport(3, 3100, 1, 1, L"0123456789ABCDEF0123456789ABCDEF", -5, 0);
    SendEventReport(1, 3100, 1, 1, L"", 0, -1);
    EXPECT_EQ("GET /clt_v2_set?machid=" + id_ +
                  "&plat=21&op=3&v=3100&l=1&c=1&md5=0123456789ABCDEF0123456789ABCDEF&e=-5 HTTP/1.1",
              RequestLine(server_.Request(1)));
    EXPECT_EQ("GET /clt_v2_set?machid=" + id_ + "&plat=21&op=1&v=3100&l=1&c=1&md5=&itunes=-1 HTTP/1.1",
              RequestLine(server_.Request(2)));
}

TEST_F(StatisticsReports, OfferAndFeedbackRequests) {
    server_.Serve({Reply(Ok("")), Reply(Ok("")), Reply(Ok("")), Reply(Ok(""))});
    SendOfferLaunchReport(3100, 42, 1, true);
    SendOfferLaunchReport(3100, 42, 1, false);
    SendFeedbackReport({}, {});  // nothing to say: no connection
    SendFeedbackReport({1, 3}, {});
    EXPECT_EQ("GET /clt_v2_set?machid=" + id_ + "&plat=21&v=3100&l=1&c=42&stat=1 HTTP/1.1",
              RequestLine(server_.Request(0)));
    EXPECT_EQ("GET /clt_v2_set?machid=" + id_ + "&plat=21&v=3100&l=1&c=42&stat=0 HTTP/1.1",
              RequestLine(server_.Request(1)));
    EXPECT_EQ("GET /clt_v2_fb?machid=" + id_ + "&plat=21&fb=eyJjaGVjayI6WzEsM119Cg== HTTP/1.1",
              RequestLine(server_.Request(2)));
    EXPECT_EQ(3u, server_.Accepted());
}

TEST_F(StatisticsReports, SenderResults) {
    server_.Serve({
        Reply(Ok(Framed("{\"ok\":1,\"list\":[2,3]}"))),               // parsed into the reply
        Reply(Ok("")),                                                // empty body
        Reply("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"), // not 200
        Reply(Ok(Framed("{}", 0))),                                   // length 0
        Reply(Ok(Framed("{\"a\":1}", 3))),                            // does not fit its length
        Reply(Ok(Framed("{\"unterminated\":"))),                      // not JSON
        Reply("HTTP/1.1 302 Found\r\nLocation: http://" + address_ + "/moved?x=1\r\nContent-Length: 0\r\n\r\n"),
        Reply(Ok(Framed("{\"after\":\"redirect\"}"))),
    });
    JValue reply;
    EXPECT_EQ(1, SendStatRequest(L"/a", reply));
    EXPECT_EQ(1, reply.get("ok").asInt());
    EXPECT_EQ(3, reply.get("list").at(1).asInt());
    EXPECT_EQ(1, SendStatRequest(L"/b", reply));
    EXPECT_EQ(0, SendStatRequest(L"/c", reply));
    EXPECT_EQ(0, SendStatRequest(L"/d", reply));
    EXPECT_EQ(0, SendStatRequest(L"/e", reply));
    EXPECT_EQ(0, SendStatRequest(L"/f", reply));
    reply = JValue();
    EXPECT_EQ(1, SendStatRequest(L"/g", reply));
    EXPECT_EQ("redirect", reply.get("after").asString());
    EXPECT_EQ("GET /a HTTP/1.1", RequestLine(server_.Request(0)));
    EXPECT_EQ("GET /moved?x=1 HTTP/1.1", RequestLine(server_.Request(7)));

    // Nobody listening: the request fails.
    test::ClosedPort closed;
    SetStatServer("127.0.0.1:" + std::to_string(closed.port()));
    EXPECT_EQ(0, SendStatRequest(L"/h", reply));
}
