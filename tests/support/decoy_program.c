/* A program that another program of the user puts where it hopes the setup
   starts its installer: it only leaves a mark, the file named by
   VELTRANO_DECOY_MARKER, so that a test can tell that it ran. */
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR commandLine, int show) {
  wchar_t marker[MAX_PATH];
  DWORD length = GetEnvironmentVariableW(L"VELTRANO_DECOY_MARKER", marker, MAX_PATH);
  (void)instance;
  (void)previous;
  (void)commandLine;
  (void)show;
  if (length > 0 && length < MAX_PATH) {
    HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
    }
  }
  return 0;
}
