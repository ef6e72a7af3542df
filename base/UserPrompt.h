// Every message box of the program goes through here. An unattended run
// (quiet) never shows one and never waits: each question takes the answer
// its caller names, the one that loses nothing and ends nothing, and every
// box, shown or not, goes to the run's log with the answer. Windows only.
#pragma once

#include <windows.h>

#include <string>

namespace quillo {

// Set once at start for a quiet run; read from any thread.
void SetUnattended(bool unattended);
bool Unattended();

// Shows the box (owner, text, caption, MessageBoxW type) and returns the
// button pressed; in an unattended run returns `unattendedAnswer` without
// showing anything.
int AskUser(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type, int unattendedAnswer);

// A box with only an OK button: the message of a failure.
void TellUser(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type = MB_OK);

// How many boxes an unattended run has answered by itself.
long UnattendedAnswers();

}  // namespace quillo
