#include "qor/setup/launch.h"
#include "qor/setup/error_codes.h"

#include "qor/setup/command_line.h"
#include "qor/setup/run_log.h"
#include "qor/setup/state.h"

#include "installer_check.h"

#include "qor/env/env.h"
#include "qor/error/error.h"
#include "qor/fs/private_folder.h"
#include "qor/error/win32_error.h"

#include <algorithm>
#include <vector>

namespace QorSetup {

const wchar_t kInstallerFileName[] = L"VTRInstaller.exe";

namespace {

// Records how the installer ended, once it has.
void NoteInstallerEnd(HANDLE process) {
  DWORD code = 0;
  if (::GetExitCodeProcess(process, &code)) {
    Shell().SetExitCode(static_cast<int>(code));
    LogLine(L"The installer ended with exit code %d", static_cast<int>(code));
  }
}

[[noreturn]] void RaiseFolderChanged() {
  QorError::RaiseError(kFolderChangedError,
                       L"The folder with the setup files was changed by another program. "
                       L"The setup did not start the installation.");
}

} // namespace

void StartInstaller(HWND window) {
  SetupShell& shell = Shell();
  // Started under the name it was made with, whatever its letter case.
  const std::wstring name =
      shell.worker.installerName.empty() ? kInstallerFileName : shell.worker.installerName;
  // The file the worker made, reached through the folder's handle and held
  // so that nobody can change, rename or delete it until it has started.
  Qor::UniqueFile installer = shell.target.OpenToRun(name);
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
  if (!shell.target.PathLeadsTo(name, installer.get())) {
    RaiseFolderChanged();
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  const std::wstring application = shell.target.path() + name;
  // Process creation may write into the command line.
  const std::wstring text = InstallerCommandLine(
      name.c_str(), shell.mode, shell.unattendedArguments, shell.options.installerArguments);
  std::vector<wchar_t> commandLine(text.begin(), text.end());
  commandLine.push_back(L'\0');
  LogLine(L"Starting the installer: %s", text.c_str());
  PROCESS_INFORMATION created = {};
  if (shell.startHook) {
    shell.startHook(StartStep::BeforeCreate);
  }
  if (!::CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
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
  if (!shell.target.PathLeadsTo(name, installer.get())) {
    // Ended, and waited for: the clean-up that follows finds its file free.
    ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), INFINITE);
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
  NoteInstallerEnd(installer.process.get());
  installer.process.reset();
  installer.thread.reset();
  return true;
}

void WaitForInstaller() {
  InstallerProcess& installer = Shell().installer;
  if (installer.process &&
      ::WaitForSingleObject(installer.process.get(), INFINITE) == WAIT_OBJECT_0) {
    NoteInstallerEnd(installer.process.get());
  }
  installer.process.reset();
  installer.thread.reset();
}

namespace {

// Plain files directly inside, then the folder; subfolders and links stay,
// and so does the folder then. A file that a virus scanner holds for a
// moment is tried again for a few seconds; what still cannot go is, in an
// elevated run, removed at the next restart. Only the log hears of it.
void CleanUpTarget(QorFs::PinnedFolder& target) {
  const std::wstring path = target.path();
  const QorFs::CleanUpReport report =
      target.CleanUpRetrying(kCleanUpRetryMs, QorEnv::IsUserAdmin());
  if (report.folderRemoved) {
    LogLine(L"Clean-up: removed %s", path.c_str());
    return;
  }
  for (const std::wstring& name : report.left) {
    const bool scheduled =
        std::find(report.scheduled.begin(), report.scheduled.end(), name) != report.scheduled.end();
    LogLine(scheduled ? L"Clean-up: %s%s is in use; it is removed at the next restart"
                      : L"Clean-up: %s%s could not be removed",
            path.c_str(), name.c_str());
  }
  LogLine(report.folderScheduled ? L"Clean-up: %s is removed at the next restart"
                                 : L"Clean-up: %s stays",
          path.c_str());
}

} // namespace

void CleanUp() {
  // Before the folder is made there is nothing of ours to delete.
  QorFs::PinnedFolder& target = Shell().target;
  if (target.valid()) {
    CleanUpTarget(target);
  }
  RemoveElevatedLeftovers();
}

} // namespace QorSetup
