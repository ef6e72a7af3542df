// Reports to the statistics server: one HTTP GET per report whose path and
// query carry the data. Synchronous, on the caller's thread, silent on every
// failure; a report that fails is lost.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "json/JValue.h"

namespace quillo {

// Operation codes of the event report.
constexpr int32_t kStatInstall = 1;
constexpr int32_t kStatRemove = 2;
constexpr int32_t kStatReinstall = 3;  // installation that first removed an earlier one

// Path and query of the event report. `errorCode` adds "&e=" and `driverResult`
// adds "&itunes=" only when non-zero.
std::wstring BuildEventPath(const std::wstring& machineId, int32_t operation, int32_t buildNumber, int32_t channel,
                            int32_t reportL, const std::wstring& digest, int32_t errorCode, int32_t driverResult);

// Path and query of the report that says whether the offered program started.
std::wstring BuildOfferLaunchPath(const std::wstring& machineId, int32_t buildNumber, int32_t channel,
                                  int32_t reportL, bool launched);

// Path and query of the uninstall feedback report; the Base64 text goes in as it is.
std::wstring BuildFeedbackPath(const std::wstring& machineId, const std::vector<int>& reasons,
                               const std::vector<std::wstring>& texts);

// Base64 of the compact JSON {"check":[...],"feedback":[...]} plus its line
// feed, each member only when its list is not empty; empty when both are.
std::string EncodeFeedback(const std::vector<int>& reasons, const std::vector<std::wstring>& texts);

// A reply body: 4-byte big-endian length N (1..64 MiB), then a zlib stream
// that inflates into at most N bytes. False (and `text` empty) otherwise.
bool DecodeStatReply(const std::string& body, std::string& text);

// Sends one GET to the statistics server. 0 when the request failed, 1 for an
// empty body, else whether the reply decoded and parsed into `reply`.
int SendStatRequest(const std::wstring& path, JValue& reply);

void SendEventReport(int32_t operation, int32_t buildNumber, int32_t channel, int32_t reportL,
                     const std::wstring& digest, int32_t errorCode, int32_t driverResult);
void SendOfferLaunchReport(int32_t buildNumber, int32_t channel, int32_t reportL, bool launched);
// Sends nothing when both lists are empty.
void SendFeedbackReport(const std::vector<int>& reasons, const std::vector<std::wstring>& texts);

}  // namespace quillo
