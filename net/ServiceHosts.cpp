#include "net/ServiceHosts.h"

#include <cstdlib>

namespace quillo {

bool ParseHostPort(const std::string& text, ServiceEndpoint& out) {
    const size_t colon = text.rfind(':');
    std::string host = colon == std::string::npos ? text : text.substr(0, colon);
    if (host.empty() || host.find_first_of(" /\\?#@") != std::string::npos) return false;
    uint32_t port = kDefaultStatPort;
    if (colon != std::string::npos) {
        const std::string digits = text.substr(colon + 1);
        if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
            return false;
        port = static_cast<uint32_t>(std::atoi(digits.c_str()));
        if (port == 0 || port > 65535) return false;
    }
    out.host = host;
    out.port = static_cast<uint16_t>(port);
    return true;
}

ServiceEndpoint StatisticsServer() {
    ServiceEndpoint endpoint{kDefaultStatHost, kDefaultStatPort};
    if (const char* override = std::getenv("QUILLO_STAT_SERVER")) ParseHostPort(override, endpoint);
    return endpoint;
}

}  // namespace quillo
