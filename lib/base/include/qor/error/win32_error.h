// Errors of failed operating-system calls, and thin wrappers that raise them.
#pragma once

#include "qor/error/error.h"

#include <windows.h>
#include <oleauto.h>

#include <string>

namespace QorWin32 {

class Win32Error : public QorError::RuntimeError {
public:
  Win32Error(int code, const wchar_t* message, DWORD systemCode);
  void WriteMessage(QorError::TextStream& out) override;
  DWORD GetSystemCode() const { return systemCode_; }

private:
  DWORD systemCode_;
};

// The system's text for a code, line breaks folded into spaces.
std::wstring DescribeSystemError(DWORD systemCode);
std::wstring DescribeLastError();

// systemCode 0 means: use the thread's last error.
[[noreturn]] void RaiseWin32Error(int code, const wchar_t* message, DWORD systemCode);
[[noreturn]] void RaiseLastWin32ErrorF(int code, const wchar_t* format, ...);
[[noreturn]] void RaiseWin32ErrorF(int code, const wchar_t* format, DWORD systemCode, ...);

DWORD CheckedWaitForSingleObject(HANDLE handle, DWORD milliseconds);
ULONGLONG CheckedSetFilePointer(HANDLE file, LONG distanceLow, PLONG distanceHigh, DWORD method);
DWORD CheckedExpandEnvironmentStrings(const wchar_t* source, wchar_t* destination, DWORD size);
DWORD CheckedGetFileVersionInfoSize(const wchar_t* fileName);
BOOL CheckedGetFileVersionInfo(const wchar_t* fileName, DWORD size, void* buffer);
HANDLE CheckedCreateEvent(SECURITY_ATTRIBUTES* security, BOOL manualReset, BOOL initialState,
                          const wchar_t* name, bool failIfExists);
HANDLE CheckedOpenEvent(DWORD access, BOOL inherit, const wchar_t* name);
HANDLE CheckedCreateFileMapping(HANDLE file, SECURITY_ATTRIBUTES* security, DWORD protection,
                                DWORD sizeLow, DWORD sizeHigh, const wchar_t* name,
                                bool failIfExists);
HANDLE CheckedOpenFileMapping(DWORD access, BOOL inherit, const wchar_t* name);
void* CheckedMapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetLow, DWORD offsetHigh,
                           SIZE_T bytes);
HANDLE CheckedCreateMutex(SECURITY_ATTRIBUTES* security, BOOL initialOwner, const wchar_t* name,
                          bool failIfExists);
HANDLE CheckedOpenMutex(DWORD access, BOOL inherit, const wchar_t* name);
BOOL CheckedOpenClipboard(HWND window);
BOOL CheckedEmptyClipboard();
BOOL CheckedReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead);
BOOL CheckedReleaseMutex(HANDLE mutex);
BOOL CheckedResetEvent(HANDLE event);
BOOL CheckedSetEvent(HANDLE event);
BSTR CheckedSysAllocString(const wchar_t* text);
BSTR CheckedSysAllocString(const char* text);

} // namespace QorWin32
