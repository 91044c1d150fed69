#include "qor/os/process.h"
#include "qor/os/error_codes.h"

#include "qor/error/system_library.h"
#include "qor/text/text.h"
#include "qor/handle/unique_handle.h"
#include "qor/error/win32_error.h"

#include <tlhelp32.h>

#include <algorithm>
#include <climits>

namespace QorOs {

namespace {

using EnumProcessesFn = BOOL(WINAPI*)(DWORD*, DWORD, DWORD*);
using EnumProcessModulesFn = BOOL(WINAPI*)(HANDLE, HMODULE*, DWORD, DWORD*);
using GetModuleFileNameExWFn = DWORD(WINAPI*)(HANDLE, HMODULE, LPWSTR, DWORD);
using VdmEnumTaskWowExFn = INT(WINAPI*)(DWORD, void*, LPARAM);

// The process-status functions, loaded on first use and kept for the life of
// the process (the library references are never released).
struct ProcessStatusApi {
  EnumProcessesFn enumProcesses = nullptr;
  EnumProcessModulesFn enumProcessModules = nullptr;
  GetModuleFileNameExWFn getModuleFileNameEx = nullptr;
  VdmEnumTaskWowExFn vdmEnumTaskWowEx = nullptr;
  bool loaded = false;
};

ProcessStatusApi LoadStatusApi() {
  ProcessStatusApi api;
  Qor::UniqueModule psapi(QorWin32::LoadSystemLibrary(L"PSAPI.DLL"));
  Qor::UniqueModule vdmdbg(QorWin32::LoadSystemLibrary(L"VDMDBG.DLL"));
  if (!psapi || !vdmdbg) {
    return api;
  }
  api.enumProcesses = QorWin32::GetFunction<EnumProcessesFn>(psapi.get(), "EnumProcesses");
  api.enumProcessModules =
      QorWin32::GetFunction<EnumProcessModulesFn>(psapi.get(), "EnumProcessModules");
  api.getModuleFileNameEx =
      QorWin32::GetFunction<GetModuleFileNameExWFn>(psapi.get(), "GetModuleFileNameExW");
  api.vdmEnumTaskWowEx =
      QorWin32::GetFunction<VdmEnumTaskWowExFn>(vdmdbg.get(), "VDMEnumTaskWOWEx");
  api.loaded = api.enumProcesses && api.enumProcessModules && api.getModuleFileNameEx &&
               api.vdmEnumTaskWowEx;
  if (api.loaded) {
    psapi.release();
    vdmdbg.release();
  }
  return api;
}

// Thread-safe: the compiler guards the first call's initialisation.
const ProcessStatusApi& StatusApi() {
  static const ProcessStatusApi api = LoadStatusApi();
  return api;
}

// WaitForMultipleObjects takes at most this many handles at once.
constexpr size_t kWaitBatch = MAXIMUM_WAIT_OBJECTS;

} // namespace

bool WaitOrTerminateProcess(DWORD processId, DWORD timeoutMs, bool terminate) {
  Qor::UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
  if (!process) {
    return true;
  }
  DWORD result = WaitForSingleObject(process.get(), timeoutMs);
  if (result == WAIT_OBJECT_0) {
    return true;
  }
  if (result != WAIT_TIMEOUT) {
    DWORD error = GetLastError();
    process.reset();
    QorWin32::RaiseWin32Error(kWaitForProcessError, L"Unable to terminate a process.", error);
  }
  process.reset();
  if (!terminate) {
    return false;
  }
  Qor::UniqueHandle victim(OpenProcess(PROCESS_TERMINATE, FALSE, processId));
  if (!victim) {
    QorWin32::RaiseWin32Error(kOpenProcessToEndError, L"Unable to terminate a process.",
                              GetLastError());
  }
  if (!TerminateProcess(victim.get(), 0)) {
    DWORD error = GetLastError();
    victim.reset();
    QorWin32::RaiseWin32Error(kTerminateProcessError, L"Unable to terminate a process.", error);
  }
  return false;
}

bool EnumerateProcesses(ProcessCallback callback, void* userData) {
  Qor::UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) {
    return false;
  }
  PROCESSENTRY32W entry;
  ZeroMemory(&entry, sizeof(entry));
  entry.dwSize = sizeof(entry);
  BOOL more = Process32FirstW(snapshot.get(), &entry);
  for (int count = 0; more && count < INT_MAX; ++count) {
    if (!callback(entry.th32ProcessID, entry.szExeFile, userData)) {
      break;
    }
    ZeroMemory(&entry, sizeof(entry));
    entry.dwSize = sizeof(entry);
    more = Process32NextW(snapshot.get(), &entry);
  }
  return true;
}

std::wstring LowerProcessName(const wchar_t* name) {
  return QorString::ToLower(std::wstring(name ? name : L""));
}

bool ProcessNameFilter::Callback(DWORD, const wchar_t* programFileName, void* self) {
  auto* filter = static_cast<ProcessNameFilter*>(self);
  if (LowerProcessName(programFileName).find(filter->name) != std::wstring::npos) {
    filter->found = true;
    return false;
  }
  return true;
}

ProcessNamesFilter::ProcessNamesFilter(const wchar_t* const* lowerNames, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    names.emplace_back(lowerNames[i]);
  }
}

bool ProcessNamesFilter::Callback(DWORD, const wchar_t* programFileName, void* self) {
  auto* filter = static_cast<ProcessNamesFilter*>(self);
  std::wstring lower = LowerProcessName(programFileName);
  for (const auto& name : filter->names) {
    if (lower.find(name) != std::wstring::npos) {
      filter->found = true;
      filter->matchedName = lower;
      return false;
    }
  }
  return true;
}

bool ProcessCollector::Callback(DWORD processId, const wchar_t* programFileName, void* self) {
  auto* collector = static_cast<ProcessCollector*>(self);
  std::wstring lower = LowerProcessName(programFileName);
  if (lower.find(collector->name) != std::wstring::npos) {
    collector->processes.emplace(lower, processId);
    return !collector->firstOnly;
  }
  return true;
}

bool ProcessCollector::WaitAll(DWORD timeoutMs) const {
  if (processes.empty()) {
    return true;
  }
  std::vector<Qor::UniqueHandle> handles;
  for (const auto& entry : processes) {
    Qor::UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, entry.second));
    if (process) {
      handles.push_back(std::move(process));
    }
  }
  // More handles than one wait takes are waited for in batches, each within
  // what is left of the time.
  const DWORD start = GetTickCount();
  for (size_t first = 0; first < handles.size(); first += kWaitBatch) {
    const size_t count = std::min(kWaitBatch, handles.size() - first);
    HANDLE batch[kWaitBatch];
    for (size_t i = 0; i < count; ++i) {
      batch[i] = handles[first + i].get();
    }
    DWORD left = timeoutMs;
    if (timeoutMs != INFINITE) {
      const DWORD spent = GetTickCount() - start;
      left = spent >= timeoutMs ? 0 : timeoutMs - spent;
    }
    DWORD result = WaitForMultipleObjects(static_cast<DWORD>(count), batch, TRUE, left);
    if (result >= WAIT_OBJECT_0 + count) {
      return false;
    }
  }
  return true;
}

bool ProcessCollector::TerminateAll() const {
  bool allEnded = true;
  for (const auto& entry : processes) {
    if (!WaitOrTerminateProcess(entry.second, 0, true) &&
        !WaitOrTerminateProcess(entry.second, 3000, true)) {
      allEnded = false;
    }
  }
  return allEnded;
}

bool IsProcessRunning(const wchar_t* name) {
  ProcessNameFilter filter(LowerProcessName(name));
  if (!EnumerateProcesses(ProcessNameFilter::Callback, &filter)) {
    return false;
  }
  return filter.found;
}

bool LoadProcessStatusApi() {
  return StatusApi().loaded;
}

std::wstring GetProcessImagePath(DWORD processId) {
  if (!LoadProcessStatusApi()) {
    return std::wstring();
  }
  wchar_t path[520] = {};
  Qor::UniqueHandle process(
      OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
  if (process) {
    HMODULE module = nullptr;
    DWORD needed = 0;
    if (StatusApi().enumProcessModules(process.get(), &module, sizeof(module), &needed)) {
      if (!StatusApi().getModuleFileNameEx(process.get(), module, path, 520)) {
        path[0] = L'\0';
      }
    }
  }
  return path;
}

} // namespace QorOs
