// An empty library for the version tests.
#include <windows.h>

extern "C" __declspec(dllexport) int QorTestModuleMarker() {
  return 1;
}
