// Run-time lookup of functions in system libraries. Libraries are loaded
// from the system folder only, never from the program's folder or the
// current folder, so a planted DLL of the same name is never picked up.
#pragma once

#include <windows.h>

namespace QorWin32 {

// Loads the library from the system folder and returns a new reference to it
// (for the caller to release with FreeLibrary, or to keep), or null.
HMODULE LoadSystemLibrary(const wchar_t* name);

// The named function of a system library, or null when the library or the
// function is missing. The library stays loaded for the life of the process.
FARPROC GetSystemProc(const wchar_t* library, const char* function);

// The named function of a module, typed; null when the module is null or
// lacks the function. Every run-time lookup of the library goes through here.
template <class Fn> Fn GetFunction(HMODULE module, const char* function) {
  return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, function)))
                : nullptr;
}

template <class Fn> Fn GetSystemFunction(const wchar_t* library, const char* function) {
  return GetFunction<Fn>(LoadSystemLibrary(library), function);
}

// Takes the program's folder and the current folder out of the DLL search
// path for the rest of the process, so libraries loaded by bare name (by us
// or by system code on our behalf) come only from the system folder. Uses
// SetDefaultDllDirectories where the system has it. Elsewhere (or with
// forceFallback, for tests) SetDllDirectoryW("") removes the current folder,
// and the libraries that Windows loads by bare name for windows and message
// boxes are loaded from the system folder by full path at once, before the
// program's folder could supply them. Call it before the first window or
// box. Returns whether the stronger form was applied.
bool RestrictDllSearchPath(bool forceFallback = false);

} // namespace QorWin32
