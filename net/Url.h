// Splits an absolute URL into its parts, with a size limit on each part. Used
// to follow redirects and to find the host and request target of a download.
#pragma once

#include <cstdint>
#include <string>

namespace quillo {

struct UrlParts {
    std::string scheme, user, password, host;
    uint16_t port = 0;
    std::string path, extra;  // extra: from the first "?" or "#" on
    std::string target() const { return path + extra; }
};

// Longest part accepted, in characters.
constexpr size_t kUrlMaxScheme = 32;
constexpr size_t kUrlMaxHost = 256;
constexpr size_t kUrlMaxUser = 128;
constexpr size_t kUrlMaxPassword = 128;
constexpr size_t kUrlMaxPath = 2048;
constexpr size_t kUrlMaxExtra = 2048;

// scheme "://" [user [":" password] "@"] host [":" port] [path] [extra].
// The port defaults by scheme (http 80, https 443, ftp 21, gopher 70,
// socks 1080, others 0). A bracketed IPv6 host keeps its brackets. For "file"
// everything after the host is path. On failure every part is left empty and
// the port 0.
bool SplitUrl(const std::string& url, UrlParts& out);

}  // namespace quillo
