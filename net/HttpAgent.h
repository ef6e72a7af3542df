// A small blocking HTTP/1.1 client over one TCP socket per request: direct or
// through an HTTP proxy with Basic authentication, Content-Length and chunked
// bodies, every socket wait bounded by select. Plain HTTP only.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "base/FileSource.h"

namespace quillo {

// Reference-counted base. A new object starts at 0; its owner calls AddRef once.
class ILite {
public:
    virtual ~ILite() = default;
    virtual long AddRef();
    virtual long Release();  // destroys the object when the count reaches 0

private:
    std::atomic<int32_t> refCount_{0};
};

// Returns non-zero to go on, 0 to abort. percent is received * 100 / total,
// -1 on the final call that reports an incomplete body; data is absent on the
// first and last calls.
using ProgressCallback = int (*)(int percent, int speed, const uint8_t* data, int length, int64_t received,
                                 int64_t total, void* user);

using HeaderMap = std::map<std::string, std::string>;         // byte-wise order of names
using WideHeaderMap = std::map<std::wstring, std::wstring>;

class IHttpAgent : public ILite {
public:
    virtual int SendRawRequest(const std::wstring& host, uint16_t port, const std::wstring& request) = 0;
    virtual int SendRawRequest(const std::string& host, uint16_t port, const std::string& request) = 0;
    virtual int OpenRequest(const std::wstring& host, uint16_t port, const std::wstring& method,
                            const std::wstring& path, const std::wstring& version) = 0;
    virtual int OpenRequest(const std::string& host, uint16_t port, const std::string& method, const std::string& path,
                            const std::string& version) = 0;
    virtual int SetRequestHeader(const std::wstring& name, const std::wstring& value) = 0;
    virtual int SetRequestHeader(const std::string& name, const std::string& value) = 0;
    virtual int FormatRequestHeaderV(const wchar_t* name, const wchar_t* format, va_list args) = 0;
    virtual int FormatRequestHeaderV(const char* name, const char* format, va_list args) = 0;
    virtual int SendRequest() = 0;
    virtual int SendBody(const void* data, size_t length) = 0;
    virtual int ReceiveResponseHeaders() = 0;
    virtual int ReceiveNextResponseHeaders() = 0;
    virtual int ReceiveBodyToFile(const NativePath& path, ProgressCallback callback, void* user) = 0;
    virtual int ReceiveBodyWithProgress(ProgressCallback callback, void* user) = 0;
    virtual int ReceiveBody(std::string& out) = 0;
    virtual int ReceiveBodyExact(std::string& out) = 0;
    // Bytes delivered, 0 at connection end, -1 on time-out, error, no buffer or size < 1.
    virtual int Read(void* buffer, int size) = 0;
    virtual int ReadAvailable(std::string& out) = 0;
    virtual int GetStatusCode() = 0;  // 404 when the status line cannot be parsed
    virtual int64_t GetContentLength() = 0;
    virtual std::wstring GetResponseHeader(const std::wstring& name) = 0;
    virtual std::string GetResponseHeader(const std::string& name) = 0;
    virtual int CopyResponseHeaders(HeaderMap& out) = 0;
    virtual int GetRawResponseHeaders(std::string& out) = 0;
    virtual void Close() = 0;  // may be called from another thread to end a blocked wait
    virtual int SetTimeout(int seconds) = 0;
    virtual int SetReceiveBufferSize(int bytes) = 0;  // fails above 0x200000
    virtual int SetProxy(const std::string& host, uint16_t port, const std::string& user, const std::string& password,
                         const std::string& extra) = 0;
    virtual int Execute() = 0;
    virtual int DownloadToFile(const std::wstring& host, uint16_t port, const std::wstring& path,
                               const NativePath& file, ProgressCallback callback, void* user,
                               const WideHeaderMap* extraHeaders) = 0;
    virtual int Get(const std::wstring& host, uint16_t port, const std::wstring& path, std::string& out,
                    const WideHeaderMap* extraHeaders) = 0;
    virtual int Post(const std::wstring& host, uint16_t port, const std::wstring& path, const void* body,
                     size_t length, std::string& out, const WideHeaderMap* extraHeaders) = 0;

    // Printf-style convenience forms of FormatRequestHeaderV.
    int FormatRequestHeader(const char* name, const char* format, ...);
    int FormatRequestHeader(const wchar_t* name, const wchar_t* format, ...);
};

// Redirects followed by the one-call requests and by the download probe.
constexpr int kMaxRedirects = 10;

}  // namespace quillo
