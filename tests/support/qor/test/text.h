// Text conversions for tests and benchmarks (no test framework needed):
// UTF-8 and UTF-16, and the build's paths as Windows programs see them.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>

namespace QorTest {

inline std::wstring Widen(const std::string& utf8) {
  int count =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(count), L'\0');
  if (count > 0) {
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], count);
  }
  return wide;
}

inline std::string Narrow(const std::wstring& text) {
  int count = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                  0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(count), '\0');
  if (count > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &narrow[0], count,
                        nullptr, nullptr);
  }
  return narrow;
}

// The build's paths are Unix paths; Wine shows the root as drive Z:.
inline std::wstring WindowsPath(const char* unixPath) {
  std::wstring path = L"Z:" + Widen(unixPath);
  std::replace(path.begin(), path.end(), L'/', L'\\');
  return path;
}

} // namespace QorTest
