// Raw registry helpers for tests, independent of the code under test.
#pragma once

#include "qor/handle/unique_handle.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace QorTest {

inline void SetRegString(HKEY root, const std::wstring& key, const wchar_t* name,
                         const std::wstring& value, DWORD type = REG_SZ) {
  Qor::UniqueRegKey handle;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                           nullptr, handle.put(), nullptr))
      << "creating " << std::string(key.begin(), key.end());
  ASSERT_EQ(ERROR_SUCCESS,
            RegSetValueExW(handle.get(), name, 0, type,
                           reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))));
}

// The value's text, or empty when the key or value is missing.
inline std::wstring GetRegString(HKEY root, const std::wstring& key, const wchar_t* name) {
  wchar_t buffer[1024] = {};
  DWORD size = sizeof(buffer) - sizeof(wchar_t);
  Qor::UniqueRegKey handle;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, handle.put()) != ERROR_SUCCESS ||
      RegQueryValueExW(handle.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer),
                       &size) != ERROR_SUCCESS) {
    return std::wstring();
  }
  return buffer;
}

inline bool RegKeyPresent(HKEY root, const std::wstring& key) {
  Qor::UniqueRegKey handle;
  return RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, handle.put()) == ERROR_SUCCESS;
}

} // namespace QorTest
