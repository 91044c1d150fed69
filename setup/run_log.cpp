#include "qor/setup/run_log.h"

#include "qor/fs/new_file.h"
#include "qor/text/path.h"
#include "qor/text/text.h"

#include <cstdarg>

namespace QorSetup {

const wchar_t kDefaultLogPrefix[] = L"VeltranoSetup-";

namespace {

// Numbered names after the first; enough for any number of runs that one
// process id can have had.
constexpr int kDefaultLogNames = 100;

} // namespace

RunLog::RunLog() {
  ::InitializeCriticalSection(&lock_);
}

RunLog::~RunLog() {
  ::DeleteCriticalSection(&lock_);
}

bool RunLog::OpenFile(const std::wstring& path) {
  Qor::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    return false;
  }
  ::EnterCriticalSection(&lock_);
  file_ = std::move(file);
  path_ = path;
  ::LeaveCriticalSection(&lock_);
  return true;
}

bool RunLog::OpenDefault(const std::wstring& folder) {
  const std::wstring stem = kDefaultLogPrefix + std::to_wstring(::GetCurrentProcessId());
  for (int n = 1; n <= kDefaultLogNames; ++n) {
    const std::wstring name = stem + (n == 1 ? L"" : L"-" + std::to_wstring(n)) + L".log";
    Qor::UniqueFile file = QorFs::CreateNewFileInFolder(folder, name);
    if (file) {
      ::EnterCriticalSection(&lock_);
      file_ = std::move(file);
      path_ = QorString::WithTrailingBackslash(folder) + name;
      ::LeaveCriticalSection(&lock_);
      return true;
    }
    if (::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS) {
      return false; // not a taken name: no other name will do better
    }
  }
  return false;
}

void RunLog::Write(const std::wstring& text) {
  if (!file_) {
    return;
  }
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  // One line per step: the line breaks of an error's text (its causes)
  // become spaces.
  std::wstring line = LogTimeStamp(now);
  for (wchar_t c : text) {
    const bool breaks = c == L'\r' || c == L'\n' || c == L'\t';
    if (!breaks) {
      line += c;
    } else if (!line.empty() && line.back() != L' ') {
      line += L' ';
    }
  }
  while (!line.empty() && line.back() == L' ') {
    line.pop_back();
  }
  std::string bytes = ToUtf8(line + L"\r\n");
  ::EnterCriticalSection(&lock_);
  if (file_) {
    DWORD written = 0;
    ::WriteFile(file_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  }
  ::LeaveCriticalSection(&lock_);
}

void RunLog::Close() {
  ::EnterCriticalSection(&lock_);
  file_.reset();
  ::LeaveCriticalSection(&lock_);
}

RunLog& Log() {
  static RunLog log;
  return log;
}

void LogLine(const wchar_t* format, ...) {
  if (!Log().IsOpen()) {
    return;
  }
  std::wstring text;
  va_list args;
  va_start(args, format);
  try {
    QorString::FormatV(text, format, args);
  } catch (...) {
    text = format; // a line too long to format still says what it was about
  }
  va_end(args);
  Log().Write(text);
}

std::wstring LogTimeStamp(const SYSTEMTIME& time) {
  return QorString::FormatText(L"%04u-%02u-%02u %02u:%02u:%02u.%03u ", time.wYear, time.wMonth,
                               time.wDay, time.wHour, time.wMinute, time.wSecond,
                               time.wMilliseconds);
}

std::string ToUtf8(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned long c = static_cast<unsigned long>(text[i]) & 0xFFFF;
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<unsigned long>(text[++i]) - 0xDC00);
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

} // namespace QorSetup
