#include "net/Statistics.h"

#include <zlib.h>

#include "base/Base64.h"
#include "base/TextCodec.h"
#include "net/CHttpAgent.h"
#include "net/MachineId.h"
#include "net/ServiceHosts.h"

namespace quillo {

namespace {

constexpr uint32_t kMaxReplyLength = 0x4000000;  // 64 MiB
// Deflate cannot expand a byte of input into more than 1032 bytes of output.
constexpr uint64_t kMaxInflateRatio = 1032;

std::wstring WidenAscii(const std::string& text) { return std::wstring(text.begin(), text.end()); }

}  // namespace

std::wstring BuildEventPath(const std::wstring& machineId, int32_t operation, int32_t buildNumber, int32_t channel,
                            int32_t reportL, const std::wstring& digest, int32_t errorCode, int32_t driverResult) {
    std::wstring path = L"/clt_v2_set?machid=" + machineId + L"&plat=21&op=" + std::to_wstring(operation) +
                        L"&v=" + std::to_wstring(buildNumber) + L"&l=" + std::to_wstring(reportL) + L"&c=" +
                        std::to_wstring(channel) + L"&md5=" + digest;
    if (errorCode != 0) path += L"&e=" + std::to_wstring(errorCode);
    if (driverResult != 0) path += L"&itunes=" + std::to_wstring(driverResult);
    return path;
}

std::wstring BuildOfferLaunchPath(const std::wstring& machineId, int32_t buildNumber, int32_t channel,
                                  int32_t reportL, bool launched) {
    return L"/clt_v2_set?machid=" + machineId + L"&plat=21&v=" + std::to_wstring(buildNumber) + L"&l=" +
           std::to_wstring(reportL) + L"&c=" + std::to_wstring(channel) + L"&stat=" + (launched ? L"1" : L"0");
}

std::wstring BuildFeedbackPath(const std::wstring& machineId, const std::vector<int>& reasons,
                               const std::vector<std::wstring>& texts) {
    return L"/clt_v2_fb?machid=" + machineId + L"&plat=21&fb=" + WidenAscii(EncodeFeedback(reasons, texts));
}

std::string EncodeFeedback(const std::vector<int>& reasons, const std::vector<std::wstring>& texts) {
    if (reasons.empty() && texts.empty()) return std::string();
    JValue root;
    for (size_t i = 0; i < reasons.size(); ++i) root["check"][static_cast<int>(i)] = JValue(reasons[i]);
    for (size_t i = 0; i < texts.size(); ++i) root["feedback"][static_cast<int>(i)] = JValue(WideToUtf8(texts[i]));
    return Base64Encode(JWriter::write(root));
}

bool DecodeStatReply(const std::string& body, std::string& text) {
    text.clear();
    if (body.size() < 4) return false;
    const auto* bytes = reinterpret_cast<const unsigned char*>(body.data());
    const uint32_t expected = (static_cast<uint32_t>(bytes[0]) << 24) | (static_cast<uint32_t>(bytes[1]) << 16) |
                              (static_cast<uint32_t>(bytes[2]) << 8) | static_cast<uint32_t>(bytes[3]);
    if (expected == 0 || expected > kMaxReplyLength) return false;
    const uint64_t sourceLength = body.size() - 4;
    if (sourceLength > 0x7FFFFFFFu) return false;  // keeps the length inside zlib's 32-bit uLong
    // A buffer of N bytes, but never more than the stream could possibly fill:
    // the outcome is the same and a short reply cannot claim 64 MiB.
    const uint64_t reachable = sourceLength * kMaxInflateRatio + 1024;
    std::string out(static_cast<size_t>(reachable < expected ? reachable : expected), '\0');
    uLongf outLength = static_cast<uLongf>(out.size());
    if (uncompress(reinterpret_cast<Bytef*>(&out[0]), &outLength, bytes + 4, static_cast<uLong>(sourceLength)) !=
        Z_OK)
        return false;
    out.resize(outLength);
    text = std::move(out);
    return true;
}

int SendStatRequest(const std::wstring& path, JValue& reply) {
    const ServiceEndpoint server = StatisticsServer();
    CHttpAgent agent;  // defaults: direct, 30-second waits, 4096-byte receive buffer
    std::string body;
    if (!agent.Get(WidenAscii(server.host), server.port, path, body, nullptr)) return 0;
    if (body.empty()) return 1;
    std::string text;
    if (!DecodeStatReply(body, text)) return 0;
    JReader reader;
    return reader.parse(text, reply) ? 1 : 0;
}

void SendEventReport(int32_t operation, int32_t buildNumber, int32_t channel, int32_t reportL,
                     const std::wstring& digest, int32_t errorCode, int32_t driverResult) {
    JValue reply;
    SendStatRequest(
        BuildEventPath(GetMachineId(), operation, buildNumber, channel, reportL, digest, errorCode, driverResult),
        reply);
}

void SendOfferLaunchReport(int32_t buildNumber, int32_t channel, int32_t reportL, bool launched) {
    JValue reply;
    SendStatRequest(BuildOfferLaunchPath(GetMachineId(), buildNumber, channel, reportL, launched), reply);
}

void SendFeedbackReport(const std::vector<int>& reasons, const std::vector<std::wstring>& texts) {
    if (reasons.empty() && texts.empty()) return;
    JValue reply;
    SendStatRequest(BuildFeedbackPath(GetMachineId(), reasons, texts), reply);
}

}  // namespace quillo
