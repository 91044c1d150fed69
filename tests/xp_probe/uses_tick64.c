/* A program that imports a function Windows XP lacks: the import check must
   reject it. */
#undef WINVER
#undef _WIN32_WINNT
#define WINVER 0x0600
#define _WIN32_WINNT 0x0600
#include <windows.h>

int main(void) {
  return (int)(GetTickCount64() & 1);
}
