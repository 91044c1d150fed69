#include "qor/setup/shell.h"

#include "qor/private_folder.h"
#include "qor/win32_error.h"

#include <cwchar>

namespace QorSetup {

const wchar_t kInstallerFileName[] = L"VTRInstaller.exe";

void StartInstaller(HWND window) {
  SetupShell& shell = Shell();
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  const std::wstring application = shell.targetFolder + kInstallerFileName;
  // Process creation may write into the command line.
  wchar_t commandLine[2048];
  std::wcscpy(commandLine, kInstallerFileName);
  PROCESS_INFORMATION created = {};
  if (!::CreateProcessW(application.c_str(), commandLine, nullptr, nullptr, FALSE,
                        NORMAL_PRIORITY_CLASS, nullptr, shell.targetFolder.c_str(), &startup,
                        &created)) {
    QorWin32::RaiseLastWin32ErrorF(21107, L"Unable to start installation program.");
  }
  shell.installer = created;
  ::ShowWindow(window, SW_HIDE);
  ::SetTimer(window, kPollTimerId, kPollPeriodMs, nullptr);
}

void CleanUp() {
  const SetupShell& shell = Shell();
  // Before the folder is made there is nothing of ours to delete.
  if (shell.targetFolder.empty() || !shell.targetIdentity.valid) {
    return;
  }
  // Plain files directly inside, then the folder; files in use, subfolders
  // and links stay, and so does the folder then. Nothing is reported.
  QorFs::CleanFreshFolder(shell.targetFolder, shell.targetIdentity);
}

} // namespace QorSetup
