#include "qor/system_library.h"

#include <string>

namespace QorWin32 {

HMODULE LoadSystemLibrary(const wchar_t* name) {
  wchar_t folder[MAX_PATH];
  UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    return nullptr;
  }
  std::wstring path(folder, length);
  if (path.back() != L'\\') {
    path += L'\\';
  }
  path += name;
  // A full path makes the loader take exactly this file; dependencies of the
  // library are resolved by the loader's own rules (the system folder first
  // for KnownDLLs).
  return LoadLibraryExW(path.c_str(), nullptr, 0);
}

FARPROC GetSystemProc(const wchar_t* library, const char* function) {
  HMODULE module = LoadSystemLibrary(library);
  return module ? GetProcAddress(module, function) : nullptr;
}

bool RestrictDllSearchPath() {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  using SetDefaultFn = BOOL(WINAPI*)(DWORD);
  auto setDefault = kernel ? reinterpret_cast<SetDefaultFn>(reinterpret_cast<void*>(
                                 GetProcAddress(kernel, "SetDefaultDllDirectories")))
                           : nullptr;
  constexpr DWORD kSearchSystem32 = 0x00000800; // LOAD_LIBRARY_SEARCH_SYSTEM32
  if (setDefault && setDefault(kSearchSystem32)) {
    return true;
  }
  using SetDllDirectoryFn = BOOL(WINAPI*)(LPCWSTR);
  auto setDllDirectory = kernel ? reinterpret_cast<SetDllDirectoryFn>(reinterpret_cast<void*>(
                                      GetProcAddress(kernel, "SetDllDirectoryW")))
                                : nullptr;
  if (setDllDirectory) {
    setDllDirectory(L"");
  }
  return false;
}

} // namespace QorWin32
