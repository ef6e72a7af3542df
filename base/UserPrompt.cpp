#include "base/UserPrompt.h"

#include <atomic>

#include "base/RunLog.h"
#include "base/TextCodec.h"

namespace quillo {
namespace {

std::atomic<bool> g_unattended{false};
std::atomic<long> g_answered{0};

const char* ButtonName(int id) {
    switch (id) {
        case IDOK: return "OK";
        case IDCANCEL: return "Cancel";
        case IDYES: return "Yes";
        case IDNO: return "No";
        default: return "none";
    }
}

}  // namespace

void SetUnattended(bool unattended) { g_unattended = unattended; }
bool Unattended() { return g_unattended; }
long UnattendedAnswers() { return g_answered; }

int AskUser(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type, int unattendedAnswer) {
    if (g_unattended) {
        ++g_answered;
        LogLinef("message \"%s\": \"%s\"; unattended, answered %s", WideToUtf8(caption).c_str(),
                 WideToUtf8(text).c_str(), ButtonName(unattendedAnswer));
        return unattendedAnswer;
    }
    LogLinef("message \"%s\": \"%s\"", WideToUtf8(caption).c_str(), WideToUtf8(text).c_str());
    const int answer = MessageBoxW(owner, text.c_str(), caption.c_str(), type);
    LogLinef("answered %s", ButtonName(answer));
    return answer;
}

void TellUser(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type) {
    AskUser(owner, text, caption, type, IDOK);
}

}  // namespace quillo
