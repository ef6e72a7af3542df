// The HTTP client behind IHttpAgent: one request at a time, a new connection
// for each request, every socket wait bounded by the timeout.
#pragma once

#include <cstdint>
#include <string>

#include "net/HttpAgent.h"
#include "net/Socket.h"

namespace quillo {

// Largest response head accepted, and the limits on what a body read keeps
// in memory; a server going past them makes the read fail.
constexpr size_t kMaxResponseHead = 1u << 20;
constexpr int64_t kMaxChunkSize = 64 << 20;
constexpr int64_t kMaxBodyInMemory = 128 << 20;

class CHttpAgent final : public IHttpAgent {
public:
    CHttpAgent();
    ~CHttpAgent() override;
    CHttpAgent(const CHttpAgent&) = delete;
    CHttpAgent& operator=(const CHttpAgent&) = delete;

    int SendRawRequest(const std::wstring& host, uint16_t port, const std::wstring& request) override;
    int SendRawRequest(const std::string& host, uint16_t port, const std::string& request) override;
    int OpenRequest(const std::wstring& host, uint16_t port, const std::wstring& method, const std::wstring& path,
                    const std::wstring& version) override;
    int OpenRequest(const std::string& host, uint16_t port, const std::string& method, const std::string& path,
                    const std::string& version) override;
    int SetRequestHeader(const std::wstring& name, const std::wstring& value) override;
    int SetRequestHeader(const std::string& name, const std::string& value) override;
    int FormatRequestHeaderV(const wchar_t* name, const wchar_t* format, va_list args) override;
    int FormatRequestHeaderV(const char* name, const char* format, va_list args) override;
    int SendRequest() override;
    int SendBody(const void* data, size_t length) override;
    int ReceiveResponseHeaders() override;
    int ReceiveNextResponseHeaders() override;
    int ReceiveBodyToFile(const NativePath& path, ProgressCallback callback, void* user) override;
    int ReceiveBodyWithProgress(ProgressCallback callback, void* user) override;
    int ReceiveBody(std::string& out) override;
    int ReceiveBodyExact(std::string& out) override;
    int Read(void* buffer, int size) override;
    int ReadAvailable(std::string& out) override;
    int GetStatusCode() override;
    int64_t GetContentLength() override;
    std::wstring GetResponseHeader(const std::wstring& name) override;
    std::string GetResponseHeader(const std::string& name) override;
    int CopyResponseHeaders(HeaderMap& out) override;
    int GetRawResponseHeaders(std::string& out) override;
    void Close() override;
    int SetTimeout(int seconds) override;
    int SetReceiveBufferSize(int bytes) override;
    int SetProxy(const std::string& host, uint16_t port, const std::string& user, const std::string& password,
                 const std::string& extra) override;
    int Execute() override;
    int DownloadToFile(const std::wstring& host, uint16_t port, const std::wstring& path, const NativePath& file,
                       ProgressCallback callback, void* user, const WideHeaderMap* extraHeaders) override;
    int Get(const std::wstring& host, uint16_t port, const std::wstring& path, std::string& out,
            const WideHeaderMap* extraHeaders) override;
    int Post(const std::wstring& host, uint16_t port, const std::wstring& path, const void* body, size_t length,
             std::string& out, const WideHeaderMap* extraHeaders) override;

private:
    struct OneCall;

    void Reset();
    bool Connect();
    bool SendAll(const std::string& bytes);
    std::string ProxyHeaderLines() const;
    size_t ReceiveHead(std::string& buffer);
    void ParseHead();
    int ReceiveInto(std::string& out);
    int ReceiveBodyTo(std::string& out, bool exact);
    int DecodeChunked(std::string& out);
    int ReceiveWithProgress(void* file, ProgressCallback callback, void* user);
    int Run(const OneCall& call, std::string host, uint16_t port, std::string target);

    uint16_t port_ = 0;
    TcpSocket socket_;
    int timeout_ = 30;
    int receiveBufferSize_ = 4096;
    int proxyEnabled_ = 0;
    uint16_t proxyPort_ = 0;
    std::string proxyHost_;
    std::string proxyUser_;
    std::string proxyPassword_;
    std::string proxyExtra_;  // kept for callers; no request uses it
    std::string host_;
    std::string pending_;
    std::string responseHead_;
    std::string requestLine_;
    HeaderMap requestHeaders_;
    std::string statusLine_;
    HeaderMap responseHeaders_;
    bool socketsStarted_ = false;
};

}  // namespace quillo
