/* A program that imports a function Windows 2000 lacks (it came with XP): the
   Windows 2000 import check must reject it. */
#include <windows.h>

int main(void) {
  SYSTEM_INFO info;
  GetNativeSystemInfo(&info);
  return (int)(info.dwNumberOfProcessors & 1);
}
