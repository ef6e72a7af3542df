// Web pages the screens open in the browser, on the maker's site.
#pragma once

namespace quillo {

constexpr const wchar_t* kMakerSite = L"http://www.brightfen.com";
constexpr const wchar_t* kAgreementPage = L"http://www.brightfen.com/agreement_cn.html";
constexpr const wchar_t* kDownloadPage = L"http://www.brightfen.com/dl/quillo3";
constexpr const wchar_t* kUninstallFeedbackPage = L"http://www.brightfen.com/redirect/uninstfb.htm";

}  // namespace quillo
