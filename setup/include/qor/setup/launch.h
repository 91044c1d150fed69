// The installer's start from the target folder, and the clean-up after it.
#pragma once

#include "qor/setup/error_codes.h"

#include <windows.h>

namespace QorSetup {

extern const wchar_t kInstallerFileName[]; // "VTRInstaller.exe"

constexpr UINT_PTR kPollTimerId = 33605;
constexpr UINT kPollPeriodMs = 1000;

// Starts the installer that the worker made, from the target folder.
// Raises QorWin32::Win32Error kStartInstallerError when it cannot be
// started, and kFolderChangedError (nothing of any program having run) when
// its file or the folder's path no longer lead to what was made for this
// run, its bytes are no longer those the worker wrote, or the process the
// system made runs another file (which is then ended).
void StartInstaller(HWND window);
// True once the installer has ended; its handles are then closed.
bool InstallerEnded();
// Waits until a running installer has ended and closes its handles.
void WaitForInstaller();
// Deletes the files directly in the target folder, then the folder, all
// through the folder's handle, and lets go of it; silent.
void CleanUp();

} // namespace QorSetup
