// Entry of the setup program: everything else lives in qor_setup_shell.
#include "qor/setup/shell.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*commandLine*/,
                    int showCommand) {
  return QorSetup::RunSetup(instance, showCommand);
}
