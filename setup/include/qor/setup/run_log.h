// The run's log: one UTF-8 line per step, each with its local time. Written
// from both threads; a run without a log writes nothing.
#pragma once

#include "qor/handle/unique_handle.h"

#include <windows.h>

#include <string>

namespace QorSetup {

// The default log's name in the user's temporary folder: this prefix, the
// process id, and a number when that name is taken.
extern const wchar_t kDefaultLogPrefix[]; // "VeltranoSetup-"

class RunLog {
public:
  RunLog();
  ~RunLog();
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;

  // The log that /log names, made anew (replacing a file of that name).
  // False, with the thread's last error set, when it cannot be.
  bool OpenFile(const std::wstring& path);
  // A new file in folder (the user's temporary folder), never one that
  // exists and never through a link: VeltranoSetup-PID.log, or with -2,
  // -3, ... when that name is taken. False when none can be made.
  bool OpenDefault(const std::wstring& folder);
  bool IsOpen() const { return file_.valid(); }
  const std::wstring& path() const { return path_; }
  // Appends one line with the time; nothing without a file.
  void Write(const std::wstring& text);
  void Close();

private:
  CRITICAL_SECTION lock_;
  Qor::UniqueFile file_;
  std::wstring path_;
};

// The one log of the process.
RunLog& Log();
// printf-style into the log: LogLine(L"files: %u", count).
void LogLine(const wchar_t* format, ...);

// "2026-12-11 08:19:03.123 " for the local time given.
std::wstring LogTimeStamp(const SYSTEMTIME& time);
// UTF-8 of text (unpaired surrogates become U+FFFD).
std::string ToUtf8(const std::wstring& text);

} // namespace QorSetup
