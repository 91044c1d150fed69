// Entry of the setup program: everything else lives in qor_setup_shell.
#include "qor/setup/window.h"

#include "qor/error/system_library.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*commandLine*/,
                    int showCommand) {
  // A setup is often started from a downloads folder, where a planted DLL
  // must never be picked up in place of a system one.
  QorWin32::RestrictDllSearchPath();
  return QorSetup::RunSetup(instance, showCommand);
}
