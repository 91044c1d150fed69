// The Windows that the tests run on, as the machine reports it.
#pragma once

#include <windows.h>

namespace QorTest {

// True on 64-bit Windows: Wine's 64-bit prefix, where every test of the
// 64-bit flavour runs, reports an AMD64 processor; its 32-bit prefix an x86.
inline bool WindowsIs64Bit() {
  SYSTEM_INFO info;
  GetNativeSystemInfo(&info);
  return info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
}

// What the library's display names of Windows carry after the edition word
// on 64-bit Windows.
inline const wchar_t* X64Suffix() {
  return WindowsIs64Bit() ? L" x64" : L"";
}

} // namespace QorTest
