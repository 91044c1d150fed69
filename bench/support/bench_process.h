// Process helpers shared by the benchmarks.
#pragma once

#include "qor/error/system_library.h"
#include "qor/handle/unique_handle.h"

#include <windows.h>
#include <psapi.h>

#include <string>

namespace QorBench {

// The peak pagefile (private bytes) and working-set figures of a process.
// The function moved from psapi.dll into kernel32.dll in Windows 7, so both
// are tried; false when the system cannot say.
inline bool PeakMemory(HANDLE process, SIZE_T& pagefile, SIZE_T& workingSet) {
  using GetMemoryInfoFn = BOOL(WINAPI*)(HANDLE, PROCESS_MEMORY_COUNTERS*, DWORD);
  GetMemoryInfoFn get =
      QorWin32::GetSystemFunction<GetMemoryInfoFn>(L"kernel32.dll", "K32GetProcessMemoryInfo");
  if (!get) {
    get = QorWin32::GetSystemFunction<GetMemoryInfoFn>(L"psapi.dll", "GetProcessMemoryInfo");
  }
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  if (!get || !get(process, &counters, sizeof(counters))) {
    return false;
  }
  pagefile = counters.PeakPagefileUsage;
  workingSet = counters.PeakWorkingSetSize;
  return true;
}

// Runs the command line and waits for it; its standard output goes to
// output when one is given (an inheritable handle). The exit code, or 1
// when the program could not be started.
inline DWORD RunAndWait(std::wstring commandLine, HANDLE output = nullptr) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  if (output) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  }
  PROCESS_INFORMATION created = {};
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, output ? TRUE : FALSE, 0, nullptr,
                      nullptr, &startup, &created)) {
    return 1;
  }
  Qor::UniqueHandle process(created.hProcess);
  Qor::UniqueHandle thread(created.hThread);
  DWORD code = 1;
  WaitForSingleObject(process.get(), INFINITE);
  GetExitCodeProcess(process.get(), &code);
  return code;
}

} // namespace QorBench
