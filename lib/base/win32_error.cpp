#include "qor/error/win32_error.h"
#include "qor/error/error_codes.h"

#include "qor/error/system_library.h"
#include "format_arguments.h"
#include "qor/handle/unique_handle.h"

#include <oleauto.h>

#include <cstdarg>

namespace QorWin32 {

Win32Error::Win32Error(int code, const wchar_t* message, DWORD systemCode)
    : RuntimeError(code, message), systemCode_(systemCode) {}

void Win32Error::WriteMessage(QorError::TextStream& out) {
  out << L"[Win32] [" << static_cast<long>(static_cast<LONG>(systemCode_)) << L"] ";
  WriteStoredLines(out);
}

std::wstring DescribeSystemError(DWORD systemCode) {
  Qor::UniqueLocal buffer;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      nullptr, systemCode, 0x400, reinterpret_cast<wchar_t*>(buffer.put()), 0, nullptr);
  std::wstring text;
  if (!buffer) {
    return text;
  }
  text.reserve(length);
  for (const wchar_t* p = static_cast<const wchar_t*>(buffer.get()); *p; ++p) {
    if (*p == L'\n') {
      text += L' ';
    } else if (*p != L'\r') {
      text += *p;
    }
  }
  return text;
}

std::wstring DescribeLastError() {
  return DescribeSystemError(GetLastError());
}

void RaiseWin32Error(int code, const wchar_t* message, DWORD systemCode) {
  if (systemCode == 0) {
    systemCode = GetLastError();
  }
  auto* error = new Win32Error(code, message, systemCode);
  try {
    error->GetStream() << DescribeSystemError(systemCode);
  } catch (...) {
    delete error;
    throw;
  }
  throw error;
}

namespace {

[[noreturn]] void RaiseWithText(int code, const std::wstring& text, DWORD systemCode) {
  std::wstring stored = text;
  if (!stored.empty()) {
    stored += L"\n\tError: ";
  }
  stored += DescribeSystemError(systemCode);
  auto* error = new Win32Error(code, nullptr, systemCode);
  try {
    error->GetStream() << stored;
  } catch (...) {
    delete error;
    throw;
  }
  throw error;
}

} // namespace

void RaiseLastWin32ErrorF(int code, const wchar_t* format, ...) {
  // The formatting must not disturb the error we are about to report.
  DWORD lastError = GetLastError();
  std::wstring text;
  if (format) {
    QOR_FORMAT_ARGUMENTS(text, format, format);
  }
  RaiseWithText(code, text, lastError);
}

void RaiseWin32ErrorF(int code, const wchar_t* format, DWORD systemCode, ...) {
  std::wstring text;
  if (format) {
    QOR_FORMAT_ARGUMENTS(text, format, systemCode);
  }
  RaiseWithText(code, text, systemCode);
}

DWORD CheckedWaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  DWORD result = WaitForSingleObject(handle, milliseconds);
  if (result == WAIT_FAILED) {
    RaiseWin32Error(QorError::kWaitForSingleObjectError, nullptr, 0);
  }
  return result;
}

ULONGLONG CheckedSetFilePointer(HANDLE file, LONG distanceLow, PLONG distanceHigh, DWORD method) {
  PLONG high = (distanceHigh && *distanceHigh != 0) ? distanceHigh : nullptr;
  DWORD low = SetFilePointer(file, distanceLow, high, method);
  if (low == INVALID_SET_FILE_POINTER) {
    DWORD error = GetLastError();
    if (error != NO_ERROR) {
      RaiseWin32Error(QorError::kSetFilePointerError, nullptr, error);
    }
  }
  ULONGLONG highPart = high ? static_cast<ULONGLONG>(static_cast<DWORD>(*high)) : 0;
  return (highPart << 32) + low;
}

DWORD CheckedExpandEnvironmentStrings(const wchar_t* source, wchar_t* destination, DWORD size) {
  DWORD result = ExpandEnvironmentStringsW(source, destination, size);
  if (result == 0) {
    RaiseWin32Error(QorError::kExpandEnvironmentStringsError, nullptr, 0);
  }
  return result;
}

DWORD CheckedGetFileVersionInfoSize(const wchar_t* fileName) {
  using SizeFn = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
  auto getSize = GetSystemFunction<SizeFn>(L"version.dll", "GetFileVersionInfoSizeW");
  DWORD unused = 0;
  DWORD result = getSize ? getSize(fileName, &unused) : 0;
  if (!getSize) {
    SetLastError(ERROR_PROC_NOT_FOUND);
  }
  if (result == 0) {
    RaiseWin32Error(QorError::kGetFileVersionInfoSizeError, nullptr, 0);
  }
  return result;
}

BOOL CheckedGetFileVersionInfo(const wchar_t* fileName, DWORD size, void* buffer) {
  using InfoFn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
  auto getInfo = GetSystemFunction<InfoFn>(L"version.dll", "GetFileVersionInfoW");
  BOOL result = getInfo ? getInfo(fileName, 0, size, buffer) : FALSE;
  if (!getInfo) {
    SetLastError(ERROR_PROC_NOT_FOUND);
  }
  if (!result) {
    RaiseWin32Error(QorError::kGetFileVersionInfoError, nullptr, 0);
  }
  return result;
}

namespace {

HANDLE CheckCreated(HANDLE handle, bool failIfExists, int code) {
  DWORD error = GetLastError();
  Qor::UniqueHandle created(handle);
  if (!created) {
    RaiseWin32Error(code, nullptr, error);
  }
  if (failIfExists && error == ERROR_ALREADY_EXISTS) {
    // Someone else's object: let go of it before the error is built.
    created.reset();
    RaiseWin32Error(code, nullptr, error);
  }
  return created.release();
}

HANDLE CheckOpened(HANDLE handle, int code) {
  if (!handle) {
    RaiseWin32Error(code, nullptr, 0);
  }
  return handle;
}

BOOL CheckResult(BOOL result, int code) {
  if (!result) {
    RaiseWin32Error(code, nullptr, 0);
  }
  return result;
}

} // namespace

HANDLE CheckedCreateEvent(SECURITY_ATTRIBUTES* security, BOOL manualReset, BOOL initialState,
                          const wchar_t* name, bool failIfExists) {
  return CheckCreated(CreateEventW(security, manualReset, initialState, name), failIfExists,
                      QorError::kCreateEventError);
}

HANDLE CheckedOpenEvent(DWORD access, BOOL inherit, const wchar_t* name) {
  return CheckOpened(OpenEventW(access, inherit, name), QorError::kOpenEventError);
}

HANDLE CheckedCreateFileMapping(HANDLE file, SECURITY_ATTRIBUTES* security, DWORD protection,
                                DWORD sizeLow, DWORD sizeHigh, const wchar_t* name,
                                bool failIfExists) {
  return CheckCreated(CreateFileMappingW(file, security, protection, sizeHigh, sizeLow, name),
                      failIfExists, QorError::kCreateFileMappingError);
}

HANDLE CheckedOpenFileMapping(DWORD access, BOOL inherit, const wchar_t* name) {
  return CheckOpened(OpenFileMappingW(access, inherit, name), QorError::kOpenFileMappingError);
}

void* CheckedMapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetLow, DWORD offsetHigh,
                           SIZE_T bytes) {
  void* view = MapViewOfFile(mapping, access, offsetHigh, offsetLow, bytes);
  if (!view) {
    RaiseWin32Error(QorError::kMapViewOfFileError, nullptr, 0);
  }
  return view;
}

HANDLE CheckedCreateMutex(SECURITY_ATTRIBUTES* security, BOOL initialOwner, const wchar_t* name,
                          bool failIfExists) {
  return CheckCreated(CreateMutexW(security, initialOwner, name), failIfExists,
                      QorError::kCreateMutexError);
}

HANDLE CheckedOpenMutex(DWORD access, BOOL inherit, const wchar_t* name) {
  return CheckOpened(OpenMutexW(access, inherit, name), QorError::kOpenMutexError);
}

BOOL CheckedOpenClipboard(HWND window) {
  return CheckResult(OpenClipboard(window), QorError::kOpenClipboardError);
}
BOOL CheckedEmptyClipboard() {
  return CheckResult(EmptyClipboard(), QorError::kEmptyClipboardError);
}

BOOL CheckedReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead) {
  return CheckResult(ReadFile(file, buffer, bytesToRead, bytesRead, nullptr),
                     QorError::kReadFileError);
}

BOOL CheckedReleaseMutex(HANDLE mutex) {
  return CheckResult(ReleaseMutex(mutex), QorError::kReleaseMutexError);
}
BOOL CheckedResetEvent(HANDLE event) {
  return CheckResult(ResetEvent(event), QorError::kResetEventError);
}
BOOL CheckedSetEvent(HANDLE event) {
  return CheckResult(SetEvent(event), QorError::kSetEventError);
}

BSTR CheckedSysAllocString(const wchar_t* text) {
  BSTR result = SysAllocString(text);
  if (!result) {
    QorError::RaiseMemoryError(QorError::kSysAllocStringError, L"SysAllocString() failed.");
  }
  return result;
}

BSTR CheckedSysAllocString(const char* text) {
  BSTR result = SysAllocString(QorError::WidenWithCLocale(text).c_str());
  if (!result) {
    QorError::RaiseMemoryError(QorError::kSysAllocStringNarrowError, L"SysAllocString() failed.");
  }
  return result;
}

} // namespace QorWin32
