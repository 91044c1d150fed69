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

} // namespace QorWin32
