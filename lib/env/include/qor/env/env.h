// Start-up: Initialize fills the environment record (qor/env_record/record.h) once
// at program start, and the detectors that answer on first use.
#pragma once

#include "qor/env_record/record.h"

#include <windows.h>

namespace QorEnv {

// Fills the record. Throws QorError::Exception 514 when the version cannot be
// read and 515 on a system that is not NT-based or older than Windows 2000;
// QorWin32::Win32Error 357 when the terminal-services session cannot be read.
// skipProfileLookup is handed to the profiles-root step.
void Initialize(bool skipProfileLookup);

// Refreshes the shell-library versions of the record.
void RefreshDllVersions();

// Detected on first use, then kept in the record.
bool AreTerminalServicesEnabled();
bool IsUserAdmin();

// The later start-up steps that other modules of this library provide.
void DetectBrowserVersion();
void ComputeProfilesRoot(bool skipProfileLookup);

} // namespace QorEnv
