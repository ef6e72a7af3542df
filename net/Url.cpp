#include "net/Url.h"

#include <cstring>
#include <utility>

namespace quillo {

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(const std::string& a, const char* b) {
    const size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (LowerAscii(a[i]) != b[i]) return false;
    return true;
}

uint16_t DefaultPort(const std::string& scheme) {
    struct Known {
        const char* name;
        uint16_t port;
    };
    static const Known kKnown[] = {{"ftp", 21},  {"gopher", 70}, {"http", 80},   {"https", 443},
                                   {"file", 0},  {"news", 0},    {"mailto", 0}, {"socks", 1080}};
    for (const Known& k : kKnown)
        if (EqualsNoCase(scheme, k.name)) return k.port;
    return 0;
}

bool ValidScheme(const std::string& s) {
    if (s.empty() || s.size() > kUrlMaxScheme) return false;
    for (char c : s) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' ||
                        c == '-' || c == '.';
        if (!ok) return false;
    }
    return true;
}

// Decimal port text; empty means "use the default".
bool ParsePort(const std::string& text, uint16_t& port) {
    if (text.empty()) return true;
    if (text.size() > 5) return false;
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (value > 65535) return false;
    port = static_cast<uint16_t>(value);
    return true;
}

bool Split(const std::string& url, UrlParts& out) {
    const size_t sep = url.find("://");
    if (sep == std::string::npos) return false;
    out.scheme = url.substr(0, sep);
    if (!ValidScheme(out.scheme)) return false;
    out.port = DefaultPort(out.scheme);

    const size_t authBegin = sep + 3;
    size_t authEnd = url.find_first_of("/?#", authBegin);
    if (authEnd == std::string::npos) authEnd = url.size();
    std::string authority = url.substr(authBegin, authEnd - authBegin);

    const size_t at = authority.rfind('@');
    if (at != std::string::npos) {
        const std::string userInfo = authority.substr(0, at);
        const size_t colon = userInfo.find(':');
        out.user = userInfo.substr(0, colon);
        if (colon != std::string::npos) out.password = userInfo.substr(colon + 1);
        authority.erase(0, at + 1);
    }

    std::string portText;
    if (!authority.empty() && authority[0] == '[') {
        const size_t close = authority.find(']');
        if (close == std::string::npos) return false;
        out.host = authority.substr(0, close + 1);
        const std::string rest = authority.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':') return false;
            portText = rest.substr(1);
        }
    } else {
        const size_t colon = authority.find(':');
        out.host = authority.substr(0, colon);
        if (colon != std::string::npos) portText = authority.substr(colon + 1);
    }
    if (!ParsePort(portText, out.port)) return false;

    if (EqualsNoCase(out.scheme, "file")) {
        out.path = url.substr(authEnd);
    } else {
        const size_t extra = url.find_first_of("?#", authEnd);
        if (extra == std::string::npos) {
            out.path = url.substr(authEnd);
        } else {
            out.path = url.substr(authEnd, extra - authEnd);
            out.extra = url.substr(extra);
        }
    }
    return out.host.size() <= kUrlMaxHost && out.user.size() <= kUrlMaxUser &&
           out.password.size() <= kUrlMaxPassword && out.path.size() <= kUrlMaxPath &&
           out.extra.size() <= kUrlMaxExtra;
}

}  // namespace

bool SplitUrl(const std::string& url, UrlParts& out) {
    UrlParts parts;
    if (!Split(url, parts)) {
        out = UrlParts();
        return false;
    }
    out = std::move(parts);
    return true;
}

}  // namespace quillo
