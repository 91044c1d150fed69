// Thin wrappers over single registry calls. A failing call raises
// QorWin32::Win32Error with the wrapper's code (from QorReg::ErrorCode) and
// the status the call returned as the system code; the statuses that are
// not failures for the caller are turned into results.
#pragma once

#include "qor/handle/unique_handle.h"

#include <windows.h>

namespace QorWin32 {

// RegOpenKeyExW; raises kRegOpenKeyExError.
Qor::UniqueRegKey CheckedRegOpenKeyEx(HKEY root, const wchar_t* subKey, REGSAM access);

// RegCreateKeyExW with no class; raises kRegCreateKeyExError. disposition may be null.
Qor::UniqueRegKey CheckedRegCreateKeyEx(HKEY root, const wchar_t* subKey, DWORD options,
                                        REGSAM access, SECURITY_ATTRIBUTES* security,
                                        DWORD* disposition);

// RegDeleteValueW; false when there was no such value, raises kRegDeleteValueError otherwise.
bool CheckedRegDeleteValue(HKEY key, const wchar_t* name);

// RegSetValueExW; raises kRegSetValueExError.
void CheckedRegSetValueEx(HKEY key, const wchar_t* name, DWORD type, const void* data, DWORD size);

// RegQueryValueExW; raises kRegQueryValueExError (ERROR_MORE_DATA included; size then holds
// the stored size).
void CheckedRegQueryValueEx(HKEY key, const wchar_t* name, DWORD* type, void* data, DWORD* size);

// RegEnumKeyExW; returns ERROR_SUCCESS, ERROR_MORE_DATA or
// ERROR_NO_MORE_ITEMS, raises kRegEnumKeyExError for any other status.
LONG CheckedRegEnumKeyEx(HKEY key, DWORD index, wchar_t* name, DWORD* nameLength);

// RegDeleteKeyW (the subkey must have no subkeys); false when there was no
// such subkey, raises kRegDeleteKeyError otherwise.
bool CheckedRegDeleteKey(HKEY key, const wchar_t* subKey);

// RegFlushKey; raises kRegFlushKeyError.
void CheckedRegFlushKey(HKEY key);

// SHDeleteKeyW: the subkey and everything below it; false when there was no
// such subkey, raises kSHDeleteKeyError otherwise.
bool CheckedSHDeleteKey(HKEY key, const wchar_t* subKey);

} // namespace QorWin32
