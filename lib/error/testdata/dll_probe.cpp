// Loads "veltrano_planted.dll" by bare name, with or without the start-up
// restriction of the DLL search path, and says what happened.
#include "qor/system_library.h"

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc > 1 && std::wcscmp(argv[1], L"--restrict") == 0) {
    if (!QorWin32::RestrictDllSearchPath()) {
      std::puts("restriction not applied");
      return 1;
    }
  }
  std::puts(LoadLibraryW(L"veltrano_planted.dll") ? "planted dll loaded" : "planted dll not found");
  return 0;
}
