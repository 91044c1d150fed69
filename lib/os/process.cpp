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

// The system's own calls, for the process-wide loader.
HMODULE LoadFromSystemFolder(const wchar_t* name) {
  return QorWin32::LoadSystemLibrary(name);
}
FARPROC FindFunction(HMODULE module, const char* name) {
  return QorWin32::GetFunction<FARPROC>(module, name);
}
void ReleaseLibrary(HMODULE module) {
  FreeLibrary(module);
}

Detail::ProcessStatusLoader& StatusApi() {
  // The compiler guards the first call's initialisation.
  static Detail::ProcessStatusLoader loader({LoadFromSystemFolder, FindFunction, ReleaseLibrary});
  return loader;
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

namespace Detail {

bool ProcessStatusLoader::Load() {
  Qor::Locked lock(lock_);
  if (loaded()) {
    return true;
  }
  // Both are loaded; when either is missing, the one that loaded stays
  // loaded and the next call tries again.
  HMODULE psapi = calls_.load(L"PSAPI.DLL");
  HMODULE vdmdbg = calls_.load(L"VDMDBG.DLL");
  if (!psapi || !vdmdbg) {
    return false;
  }
  ProcessStatusFunctions found;
  found.enumProcesses = reinterpret_cast<EnumProcessesFn>(
      reinterpret_cast<void*>(calls_.find(psapi, "EnumProcesses")));
  found.enumProcessModules = reinterpret_cast<EnumProcessModulesFn>(
      reinterpret_cast<void*>(calls_.find(psapi, "EnumProcessModules")));
  found.getModuleFileNameEx = reinterpret_cast<GetModuleFileNameExWFn>(
      reinterpret_cast<void*>(calls_.find(psapi, "GetModuleFileNameExW")));
  found.vdmEnumTaskWowEx = reinterpret_cast<VdmEnumTaskWowExFn>(
      reinterpret_cast<void*>(calls_.find(vdmdbg, "VDMEnumTaskWOWEx")));
  if (!found.enumProcesses || !found.enumProcessModules || !found.getModuleFileNameEx ||
      !found.vdmEnumTaskWowEx) {
    calls_.release(psapi);
    calls_.release(vdmdbg);
    return false;
  }
  // Both libraries stay loaded for the life of the process. The flag is set
  // last: whoever sees it set sees all four functions.
  functions_ = found;
  loaded_.store(true, std::memory_order_release);
  return true;
}

} // namespace Detail

bool LoadProcessStatusApi() {
  return StatusApi().Load();
}

std::wstring GetProcessImagePath(DWORD processId) {
  // The flag is read without the lock; the loading is tried only while it
  // is clear.
  if (!StatusApi().loaded() && !LoadProcessStatusApi()) {
    return std::wstring();
  }
  const Detail::ProcessStatusFunctions& api = StatusApi().functions();
  wchar_t path[520] = {};
  Qor::UniqueHandle process(
      OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
  if (process) {
    HMODULE module = nullptr;
    DWORD needed = 0;
    if (api.enumProcessModules(process.get(), &module, sizeof(module), &needed)) {
      if (!api.getModuleFileNameEx(process.get(), module, path, 520)) {
        path[0] = L'\0';
      }
    }
  }
  return path;
}

} // namespace QorOs
