// Loads DLLs by bare name that were planted beside this program, with or
// without the start-up restriction of the DLL search path, and says what
// happened:
//   (no argument)     "veltrano_planted.dll" without any restriction
//   --restrict        the same after the restriction
//   --set-dll-dir     "uxtheme.dll" after SetDllDirectoryW("") alone, the
//                     older systems' only means (the planted copy wins)
//   --fallback        "uxtheme.dll" after the restriction as older systems
//                     get it, without SetDefaultDllDirectories
#include "qor/error/system_library.h"

#include <cstdio>
#include <cwchar>

namespace {

// The planted copies export PlantedMarker; the system's libraries do not.
int ReportWindowLibrary() {
  HMODULE module = LoadLibraryW(L"uxtheme.dll");
  if (!module) {
    std::puts("uxtheme not found");
    return 1;
  }
  std::puts(GetProcAddress(module, "PlantedMarker") ? "planted uxtheme loaded"
                                                    : "system uxtheme loaded");
  return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
  const wchar_t* mode = argc > 1 ? argv[1] : L"";
  if (std::wcscmp(mode, L"--set-dll-dir") == 0) {
    SetDllDirectoryW(L"");
    return ReportWindowLibrary();
  }
  if (std::wcscmp(mode, L"--fallback") == 0) {
    QorWin32::RestrictDllSearchPath(true);
    return ReportWindowLibrary();
  }
  if (std::wcscmp(mode, L"--restrict") == 0) {
    if (!QorWin32::RestrictDllSearchPath()) {
      std::puts("restriction not applied");
      return 1;
    }
  }
  std::puts(LoadLibraryW(L"veltrano_planted.dll") ? "planted dll loaded" : "planted dll not found");
  return 0;
}
