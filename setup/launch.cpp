#include "qor/setup/shell.h"

#include "qor/unique_handle.h"
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
  const std::wstring& folder = Shell().targetFolder;
  // Before the folder is known there is nothing of ours to delete; an empty
  // folder text would make the pattern "*" search the current directory.
  if (folder.empty() || folder.back() != L'\\') {
    return;
  }
  WIN32_FIND_DATAW found;
  Qor::UniqueFind search(::FindFirstFileW((folder + L"*").c_str(), &found));
  if (!search) {
    return;
  }
  do {
    if (std::wcscmp(found.cFileName, L".") == 0 || std::wcscmp(found.cFileName, L"..") == 0) {
      continue;
    }
    ::DeleteFileW((folder + found.cFileName).c_str());
  } while (::FindNextFileW(search.get(), &found));
  search.reset();
  ::RemoveDirectoryW(folder.c_str());
}

} // namespace QorSetup
