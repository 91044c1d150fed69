#include "qor/setup/launch.h"
#include "qor/setup/error_codes.h"

#include "qor/setup/state.h"

#include "qor/error/error.h"
#include "qor/fs/private_folder.h"
#include "qor/error/win32_error.h"

#include <cwchar>

namespace QorSetup {

const wchar_t kInstallerFileName[] = L"VTRInstaller.exe";

void StartInstaller(HWND window) {
  SetupShell& shell = Shell();
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  const std::wstring application = shell.target.path() + kInstallerFileName;
  // Process creation may write into the command line.
  wchar_t commandLine[2048];
  std::wcscpy(commandLine, kInstallerFileName);
  // Checked last, right before the start: the folder is held open against
  // renaming, and this makes sure the path still leads to it.
  if (!shell.target.StillInPlace()) {
    QorError::RaiseError(kFolderChangedError,
                         L"The folder with the setup files was changed by another program. "
                         L"The setup did not start the installation.");
  }
  PROCESS_INFORMATION created = {};
  if (!::CreateProcessW(application.c_str(), commandLine, nullptr, nullptr, FALSE,
                        NORMAL_PRIORITY_CLASS, nullptr, shell.target.path().c_str(), &startup,
                        &created)) {
    QorWin32::RaiseLastWin32ErrorF(kStartInstallerError, L"Unable to start installation program.");
  }
  shell.installer.process.reset(created.hProcess);
  shell.installer.thread.reset(created.hThread);
  ::ShowWindow(window, SW_HIDE);
  ::SetTimer(window, kPollTimerId, kPollPeriodMs, nullptr);
}

bool InstallerEnded() {
  InstallerProcess& installer = Shell().installer;
  // A wait that fails counts as not ended: the timer keeps polling.
  if (!installer.process || ::WaitForSingleObject(installer.process.get(), 0) != WAIT_OBJECT_0) {
    return false;
  }
  installer.process.reset();
  installer.thread.reset();
  return true;
}

void CleanUp() {
  // Plain files directly inside, then the folder; files in use, subfolders
  // and links stay, and so does the folder then. Before the folder is made
  // there is nothing of ours to delete. Nothing is reported.
  Shell().target.CleanUp();
}

} // namespace QorSetup
