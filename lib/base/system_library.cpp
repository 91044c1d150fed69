#include "qor/error/system_library.h"

#include "qor/text/path.h"

#include <string>

namespace QorWin32 {

HMODULE LoadSystemLibrary(const wchar_t* name) {
  wchar_t folder[MAX_PATH];
  UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    return nullptr;
  }
  std::wstring path = QorString::WithTrailingBackslash(std::wstring(folder, length)) + name;
  // A full path makes the loader take exactly this file; dependencies of the
  // library are resolved by the loader's own rules (the system folder first
  // for KnownDLLs).
  return LoadLibraryExW(path.c_str(), nullptr, 0);
}

namespace {

void PreloadWindowLibraries() {
  // Libraries that Windows loads by bare name once a window or a message box
  // appears (themes, the window manager, common controls, input methods and
  // text services, sounds) or when access lists are handled. Loaded now by
  // full path, a later load by bare name finds them already in the process
  // instead of searching the program's folder. Those a system lacks are
  // skipped.
  static const wchar_t* const kLibraries[] = {
      L"uxtheme.dll", L"dwmapi.dll",  L"comctl32.dll",  L"imm32.dll",   L"msctf.dll",
      L"winmm.dll",   L"ntmarta.dll", L"cryptbase.dll", L"sspicli.dll", L"version.dll",
  };
  for (const wchar_t* name : kLibraries) {
    LoadSystemLibrary(name); // kept for the life of the process
  }
}

} // namespace

FARPROC GetSystemProc(const wchar_t* library, const char* function) {
  return GetSystemFunction<FARPROC>(library, function);
}

bool RestrictDllSearchPath(bool forceFallback) {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  using SetDefaultFn = BOOL(WINAPI*)(DWORD);
  auto setDefault =
      forceFallback ? nullptr : GetFunction<SetDefaultFn>(kernel, "SetDefaultDllDirectories");
  constexpr DWORD kSearchSystem32 = 0x00000800; // LOAD_LIBRARY_SEARCH_SYSTEM32
  if (setDefault && setDefault(kSearchSystem32)) {
    return true;
  }
  using SetDllDirectoryFn = BOOL(WINAPI*)(LPCWSTR);
  auto setDllDirectory = GetFunction<SetDllDirectoryFn>(kernel, "SetDllDirectoryW");
  if (setDllDirectory) {
    setDllDirectory(L"");
  }
  // The program's own folder stays in the search order here.
  PreloadWindowLibraries();
  return false;
}

} // namespace QorWin32
