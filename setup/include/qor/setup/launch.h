// The installer's start from the target folder, and the clean-up after it.
#pragma once

#include "qor/setup/error_codes.h"

#include <windows.h>

namespace QorSetup {

extern const wchar_t kInstallerFileName[]; // "VTRInstaller.exe"

constexpr UINT_PTR kPollTimerId = 33605;
constexpr UINT kPollPeriodMs = 1000;
// How long the clean-up keeps trying a file that another program holds.
constexpr DWORD kCleanUpRetryMs = 5000;

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
// through the folder's handle, and lets go of it; a file held by another
// program is tried again for kCleanUpRetryMs. Shows nothing; what stays is
// named in the log. Then, in an elevated run, removes what earlier runs left
// (RemoveElevatedLeftovers).
void CleanUp();
// Removes the leftovers of earlier elevated runs from the system's
// temporary folder: QorVTInst- folders owned by Administrators and more
// than a day old (QorFs::RemoveStaleLeftovers). Does nothing in a run that
// is not elevated. Silent: nothing that fails here stops or changes the run.
void RemoveElevatedLeftovers();

} // namespace QorSetup
