/* A harmless DLL standing in for one planted beside a program. */
#include <windows.h>

__declspec(dllexport) int PlantedMarker(void) {
  return 1234;
}
