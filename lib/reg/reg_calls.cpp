#include "qor/reg/reg_calls.h"
#include "qor/reg/error_codes.h"

#include "qor/error/win32_error.h"

#include <shlwapi.h>

namespace QorWin32 {

namespace {

void CheckStatus(int code, LONG status) {
  if (status != ERROR_SUCCESS) {
    RaiseWin32Error(code, nullptr, static_cast<DWORD>(status));
  }
}

} // namespace

Qor::UniqueRegKey CheckedRegOpenKeyEx(HKEY root, const wchar_t* subKey, REGSAM access) {
  Qor::UniqueRegKey key;
  CheckStatus(QorReg::kRegOpenKeyExError, RegOpenKeyExW(root, subKey, 0, access, key.put()));
  return key;
}

Qor::UniqueRegKey CheckedRegCreateKeyEx(HKEY root, const wchar_t* subKey, DWORD options,
                                        REGSAM access, SECURITY_ATTRIBUTES* security,
                                        DWORD* disposition) {
  Qor::UniqueRegKey key;
  CheckStatus(
      QorReg::kRegCreateKeyExError,
      RegCreateKeyExW(root, subKey, 0, nullptr, options, access, security, key.put(), disposition));
  return key;
}

bool CheckedRegDeleteValue(HKEY key, const wchar_t* name) {
  LONG status = RegDeleteValueW(key, name);
  if (status == ERROR_FILE_NOT_FOUND) {
    return false;
  }
  CheckStatus(QorReg::kRegDeleteValueError, status);
  return true;
}

void CheckedRegSetValueEx(HKEY key, const wchar_t* name, DWORD type, const void* data, DWORD size) {
  CheckStatus(QorReg::kRegSetValueExError,
              RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size));
}

void CheckedRegQueryValueEx(HKEY key, const wchar_t* name, DWORD* type, void* data, DWORD* size) {
  CheckStatus(QorReg::kRegQueryValueExError,
              RegQueryValueExW(key, name, nullptr, type, static_cast<BYTE*>(data), size));
}

LONG CheckedRegEnumKeyEx(HKEY key, DWORD index, wchar_t* name, DWORD* nameLength) {
  LONG status = RegEnumKeyExW(key, index, name, nameLength, nullptr, nullptr, nullptr, nullptr);
  if (status != ERROR_MORE_DATA && status != ERROR_NO_MORE_ITEMS) {
    CheckStatus(QorReg::kRegEnumKeyExError, status);
  }
  return status;
}

bool CheckedRegDeleteKey(HKEY key, const wchar_t* subKey) {
  LONG status = RegDeleteKeyW(key, subKey);
  if (status == ERROR_FILE_NOT_FOUND) {
    return false;
  }
  CheckStatus(QorReg::kRegDeleteKeyError, status);
  return true;
}

void CheckedRegFlushKey(HKEY key) {
  CheckStatus(QorReg::kRegFlushKeyError, RegFlushKey(key));
}

bool CheckedSHDeleteKey(HKEY key, const wchar_t* subKey) {
  LONG status = static_cast<LONG>(SHDeleteKeyW(key, subKey));
  if (status == ERROR_FILE_NOT_FOUND) {
    return false;
  }
  CheckStatus(QorReg::kSHDeleteKeyError, status);
  return true;
}

} // namespace QorWin32
