// The optional log of a run ("/LOG=FILE"): one UTF-8 line per event, each
// with the time since the log was opened. Without an open log every call does
// nothing. Safe to call from any thread.
#pragma once

#include <string>

#include "base/FileSource.h"

namespace quillo {

// Opens (replacing) the log file; false when it cannot be created. A log that
// is already open is closed first.
bool OpenRunLog(const NativePath& path);
void CloseRunLog();
bool RunLogOpen();

// One line; the text is UTF-8 (narrow) or UTF-16 (wide). Line breaks inside
// the text are written as spaces so that one event stays one line.
void LogLine(const std::string& utf8);
void LogLine(const std::wstring& text);
void LogLinef(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace quillo
