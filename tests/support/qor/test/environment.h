// Environment blocks for starting a setup program with a temporary folder of
// its own, for tests and benchmarks.
#pragma once

#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

namespace QorTest {

// This process's environment without TEMP, TMP and any VELTRANO_ variable,
// then TEMP and TMP set to temp and the given "NAME=value" entries; for
// CreateProcessW with CREATE_UNICODE_ENVIRONMENT.
inline std::vector<wchar_t> SetupEnvironment(const std::wstring& temp,
                                             const std::vector<std::wstring>& variables) {
  std::vector<wchar_t> block;
  wchar_t* inherited = GetEnvironmentStringsW();
  for (const wchar_t* p = inherited; *p; p += std::wcslen(p) + 1) {
    if (_wcsnicmp(p, L"TEMP=", 5) && _wcsnicmp(p, L"TMP=", 4) && _wcsnicmp(p, L"VELTRANO_", 9)) {
      block.insert(block.end(), p, p + std::wcslen(p) + 1);
    }
  }
  FreeEnvironmentStringsW(inherited);
  std::vector<std::wstring> own = {L"TEMP=" + temp, L"TMP=" + temp};
  own.insert(own.end(), variables.begin(), variables.end());
  for (const std::wstring& entry : own) {
    block.insert(block.end(), entry.begin(), entry.end());
    block.push_back(0);
  }
  block.push_back(0);
  return block;
}

} // namespace QorTest
