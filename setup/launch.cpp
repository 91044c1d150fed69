#include "qor/setup/launch.h"
#include "qor/setup/error_codes.h"

#include "qor/setup/state.h"

#include "installer_check.h"

#include "qor/error/error.h"
#include "qor/fs/private_folder.h"
#include "qor/error/win32_error.h"

#include <cwchar>

namespace QorSetup {

const wchar_t kInstallerFileName[] = L"VTRInstaller.exe";

namespace {

[[noreturn]] void RaiseFolderChanged() {
  QorError::RaiseError(kFolderChangedError,
                       L"The folder with the setup files was changed by another program. "
                       L"The setup did not start the installation.");
}

} // namespace

void StartInstaller(HWND window) {
  SetupShell& shell = Shell();
  // The file the worker made, reached through the folder's handle and held
  // so that nobody can change, rename or delete it until it has started.
  Qor::UniqueFile installer = shell.target.OpenToRun(kInstallerFileName);
  if (!installer) {
    QorWin32::RaiseLastWin32ErrorF(kStartInstallerError, L"Unable to start installation program.");
  }
  if (QorFs::IdentityOf(installer.get()) != shell.worker.installer) {
    RaiseFolderChanged();
  }
  CheckInstallerBytes(installer.get());
  // A process can only be started by a path: the path must lead to the
  // folder held and to the file held, right before the start and again once
  // the system has read it. The installer is created suspended, so nothing
  // of a program found elsewhere ever runs.
  if (!shell.target.PathLeadsTo(kInstallerFileName, installer.get())) {
    RaiseFolderChanged();
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  const std::wstring application = shell.target.path() + kInstallerFileName;
  // Process creation may write into the command line.
  wchar_t commandLine[2048];
  std::wcscpy(commandLine, kInstallerFileName);
  PROCESS_INFORMATION created = {};
  if (shell.startHook) {
    shell.startHook(StartStep::BeforeCreate);
  }
  if (!::CreateProcessW(application.c_str(), commandLine, nullptr, nullptr, FALSE,
                        NORMAL_PRIORITY_CLASS | CREATE_SUSPENDED, nullptr,
                        shell.target.path().c_str(), &startup, &created)) {
    QorWin32::RaiseLastWin32ErrorF(kStartInstallerError, L"Unable to start installation program.");
  }
  Qor::UniqueHandle process(created.hProcess);
  Qor::UniqueHandle thread(created.hThread);
  if (shell.startHook) {
    shell.startHook(StartStep::Created);
  }
  CheckStartedImage(process.get(), installer.get());
  if (!shell.target.PathLeadsTo(kInstallerFileName, installer.get())) {
    ::TerminateProcess(process.get(), 1);
    RaiseFolderChanged();
  }
  ::ResumeThread(thread.get());
  shell.installer.process = std::move(process);
  shell.installer.thread = std::move(thread);
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

void WaitForInstaller() {
  InstallerProcess& installer = Shell().installer;
  if (installer.process) {
    ::WaitForSingleObject(installer.process.get(), INFINITE);
  }
  installer.process.reset();
  installer.thread.reset();
}

void CleanUp() {
  // Plain files directly inside, then the folder; files in use, subfolders
  // and links stay, and so does the folder then. Before the folder is made
  // there is nothing of ours to delete. Nothing is reported.
  Shell().target.CleanUp();
}

} // namespace QorSetup
