// The installer's start from the target folder, and the clean-up after it.
#pragma once

#include "qor/setup/error_codes.h"

#include <windows.h>

namespace QorSetup {

extern const wchar_t kInstallerFileName[]; // "VTRInstaller.exe"

constexpr UINT_PTR kPollTimerId = 33605;
constexpr UINT kPollPeriodMs = 1000;

// Raises QorWin32::Win32Error kStartInstallerError when the installer cannot be started,
// and kFolderChangedError (starting nothing) when the target folder is no
// longer the one made for this run.
void StartInstaller(HWND window);
// True once the installer has ended; its handles are then closed.
bool InstallerEnded();
// Deletes the files directly in the target folder, then the folder, as long
// as it is still the folder made for this run, and lets go of it; silent.
void CleanUp();

} // namespace QorSetup
