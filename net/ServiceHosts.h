// Where the program reports statistics and which web pages it opens. One place
// for the maker's hosts; tests point the statistics server at a loopback
// server with the environment variable QUILLO_STAT_SERVER ("host" or "host:port").
#pragma once

#include <cstdint>
#include <string>

namespace quillo {

constexpr const char* kDefaultStatHost = "stat.brightfen.com";
constexpr uint16_t kDefaultStatPort = 80;
constexpr const wchar_t* kWebSite = L"http://www.brightfen.com";

// Page paths on the maker's web site.
constexpr const wchar_t* kAgreementPage = L"/agreement_cn.html";
constexpr const wchar_t* kDownloadPage = L"/dl/quillo3";
constexpr const wchar_t* kUninstallFeedbackPage = L"/redirect/uninstfb.htm";

struct ServiceEndpoint {
    std::string host;
    uint16_t port;
};

// The statistics server, with the override applied when it is set and valid.
ServiceEndpoint StatisticsServer();

// Parses "host" or "host:port" (port 1-65535); false for anything else.
bool ParseHostPort(const std::string& text, ServiceEndpoint& out);

}  // namespace quillo
