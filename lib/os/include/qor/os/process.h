// Waiting for, ending, listing and finding processes.
#pragma once

#include "qor/handle/critical_section.h"

#include <windows.h>

#include <atomic>
#include <map>
#include <string>
#include <vector>

namespace QorOs {

// True when the process ended within the time, or cannot be opened for
// waiting; false when it still ran at the end of the wait (and, with
// terminate, was then ended). Win32Error 516, 517, 518 when ending or waiting
// fails.
bool WaitOrTerminateProcess(DWORD processId, DWORD timeoutMs, bool terminate);

// Called for each process with its id and program file name; returns whether
// to go on.
using ProcessCallback = bool (*)(DWORD processId, const wchar_t* programFileName, void* userData);

// Runs callback over the system's process snapshot; false only when no
// snapshot could be taken.
bool EnumerateProcesses(ProcessCallback callback, void* userData);

// Lower-cases A-Z directly and other characters through the global locale.
std::wstring LowerProcessName(const wchar_t* name);

// Filters for EnumerateProcesses, passed as its user data with the filter's
// own Callback. Searched names must be lower case; a process matches when its
// lower-cased program file name contains the name.
struct ProcessNameFilter {
  explicit ProcessNameFilter(std::wstring lowerName) : name(std::move(lowerName)) {}
  static bool Callback(DWORD processId, const wchar_t* programFileName, void* self);

  bool found = false;
  std::wstring name;
};

struct ProcessNamesFilter {
  ProcessNamesFilter() = default;
  ProcessNamesFilter(const wchar_t* const* lowerNames, size_t count);
  static bool Callback(DWORD processId, const wchar_t* programFileName, void* self);

  std::vector<std::wstring> names;
  bool found = false;
  std::wstring matchedName;
};

struct ProcessCollector {
  explicit ProcessCollector(std::wstring lowerName, bool firstOnly = false)
      : name(std::move(lowerName)), firstOnly(firstOnly) {}
  static bool Callback(DWORD processId, const wchar_t* programFileName, void* self);

  // True when every collected process has ended within the time (or none
  // could be opened).
  bool WaitAll(DWORD timeoutMs) const;
  // Ends every collected process still running; true when all ended.
  bool TerminateAll() const;

  std::wstring name;
  std::multimap<std::wstring, DWORD> processes;
  bool firstOnly;
};

// Whether a process whose program file name contains name (any case) runs.
bool IsProcessRunning(const wchar_t* name);

// Loads PSAPI.DLL and VDMDBG.DLL from the system folder and the
// process-status functions from them; once that has worked they stay loaded
// for the life of the process. Until then every call tries again.
bool LoadProcessStatusApi();

// The full path of the process's main module, or empty.
std::wstring GetProcessImagePath(DWORD processId);

namespace Detail {

using EnumProcessesFn = BOOL(WINAPI*)(DWORD*, DWORD, DWORD*);
using EnumProcessModulesFn = BOOL(WINAPI*)(HANDLE, HMODULE*, DWORD, DWORD*);
using GetModuleFileNameExWFn = DWORD(WINAPI*)(HANDLE, HMODULE, LPWSTR, DWORD);
using VdmEnumTaskWowExFn = INT(WINAPI*)(DWORD, void*, LPARAM);

struct ProcessStatusFunctions {
  EnumProcessesFn enumProcesses = nullptr;
  EnumProcessModulesFn enumProcessModules = nullptr;
  GetModuleFileNameExWFn getModuleFileNameEx = nullptr;
  VdmEnumTaskWowExFn vdmEnumTaskWowEx = nullptr;
};

// How libraries are loaded, searched and released: the system's calls for
// LoadProcessStatusApi, stand-ins in tests (no test system lacks either
// library).
struct LibraryCalls {
  HMODULE (*load)(const wchar_t* name);
  FARPROC (*find)(HMODULE module, const char* function);
  void (*release)(HMODULE module);
};

// LoadProcessStatusApi's loading over the calls given. Load is serialised;
// it loads both libraries, and a library that loaded stays loaded when the
// other did not. When a function is missing both are released. Nothing is
// remembered of a failure; once all four functions are found they stay,
// and loaded() (readable without the lock) is true from then on.
class ProcessStatusLoader {
public:
  explicit ProcessStatusLoader(const LibraryCalls& calls) : calls_(calls) {}
  ProcessStatusLoader(const ProcessStatusLoader&) = delete;
  ProcessStatusLoader& operator=(const ProcessStatusLoader&) = delete;

  bool Load();
  bool loaded() const { return loaded_.load(std::memory_order_acquire); }
  // Valid once loaded() is true.
  const ProcessStatusFunctions& functions() const { return functions_; }

private:
  LibraryCalls calls_;
  Qor::CriticalSection lock_;
  ProcessStatusFunctions functions_;
  std::atomic<bool> loaded_{false};
};

} // namespace Detail

} // namespace QorOs
