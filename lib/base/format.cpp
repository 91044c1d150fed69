#include "qor/text/text.h"
#include "qor/text/error_codes.h"
#include "format_arguments.h"

#include "qor/error/error.h"

#include <cstdio>
#include <cwchar>
#include <memory>
#include <new>

namespace QorString {

namespace {

constexpr std::size_t kStackChars = 256;
constexpr std::size_t kMaxChars = 16777216; // 2^24

// The C runtime's own wide formatter: "%s" takes a wide string.
int FormatInto(wchar_t* buffer, std::size_t size, const wchar_t* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int result = _vsnwprintf(buffer, size - 1, format, copy);
  va_end(copy);
  buffer[size - 1] = L'\0';
  return result;
}

} // namespace

void FormatV(std::wstring& out, const wchar_t* format, va_list args) {
  wchar_t stackBuffer[kStackChars];
  int length = FormatInto(stackBuffer, kStackChars, format, args);
  if (length >= 0) {
    out.assign(stackBuffer, static_cast<std::size_t>(length));
    return;
  }
  std::unique_ptr<wchar_t[]> heapBuffer;
  std::size_t size = kStackChars;
  while (length < 0) {
    size *= 2;
    if (size > kMaxChars) {
      QorError::RaiseError(kFormatTooLongError, L"QorString::Format() failed (too long string)");
    }
    heapBuffer.reset();
    heapBuffer.reset(new (std::nothrow) wchar_t[size]);
    if (!heapBuffer) {
      QorError::RaiseErrorF(kFormatNoMemoryError,
                            L"QorString::Format() failed (low memory, can not allocate %d chars)",
                            static_cast<int>(size));
    }
    length = FormatInto(heapBuffer.get(), size, format, args);
  }
  out.assign(heapBuffer.get(), static_cast<std::size_t>(length));
}

void Format(std::wstring& out, const wchar_t* format, ...) {
  QOR_FORMAT_ARGUMENTS(out, format, format);
}

std::wstring FormatText(const wchar_t* format, ...) {
  std::wstring text;
  QOR_FORMAT_ARGUMENTS(text, format, format);
  return text;
}

std::wstring FormatByteSize(std::int64_t value) {
  if (value < 1024) {
    return FormatText(L"%d bytes", static_cast<int>(value));
  }
  if (value < 1048576) {
    return FormatText(L"%.2f KB", static_cast<double>(value) * (1.0 / 1024));
  }
  if (value < 1073741824) {
    return FormatText(L"%.2f MB", static_cast<double>(value) * (1.0 / 1048576));
  }
  return FormatText(L"%.2f GB", static_cast<double>(value) * (1.0 / 1073741824));
}

std::wstring FormatCount(std::int64_t value) {
  if (value < 1000000) {
    return FormatText(L"%d", static_cast<int>(value));
  }
  if (value < 1000000000) {
    return FormatText(L"%.1f mln", static_cast<double>(value) / 1000000.0);
  }
  return FormatText(L"%.1f bln", static_cast<double>(value) / 1000000000.0);
}

int FormatToBuffer(char* buffer, std::size_t size, const char* format, va_list args) {
  if (size == 0) {
    return -1;
  }
  va_list copy;
  va_copy(copy, args);
  int result = _vsnprintf(buffer, size - 1, format, copy);
  va_end(copy);
  buffer[size - 1] = '\0';
  return result;
}

int FormatToBuffer(wchar_t* buffer, std::size_t size, const wchar_t* format, va_list args) {
  if (size == 0) {
    return -1;
  }
  return FormatInto(buffer, size, format, args);
}

} // namespace QorString
