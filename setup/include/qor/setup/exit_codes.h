// The setup's exit codes. A run whose installer ran ends with the
// installer's own code; every other end has one of these, chosen so that a
// deployment tool's usual reading of the number holds.
#pragma once

#include <windows.h>

namespace QorSetup {

enum ExitCode : int {
  kExitSuccess = 0,                // /?, or /extract that wrote every file
  kExitBadCommandLine = 87,        // ERROR_INVALID_PARAMETER
  kExitFileExists = 80,            // /extract met a file of an entry's name
  kExitDiskFull = 112,             // ERROR_DISK_FULL: the files do not fit
  kExitUnsupportedWindows = 1150,  // ERROR_OLD_WIN_VERSION
  kExitStopped = 1602,             // ERROR_INSTALL_USEREXIT: closed before the installer started
  kExitSetupFailed = 1603,         // ERROR_INSTALL_FAILURE: any other failure of the setup itself
  kExitAlreadyRunning = 1618,      // ERROR_INSTALL_ALREADY_RUNNING
  kExitInstallerNotStarted = 1619, // ERROR_INSTALL_PACKAGE_OPEN_FAILED
  kExitDamagedPayload = 1620,      // ERROR_INSTALL_PACKAGE_INVALID
  kExitLogFailed = 1622,           // ERROR_INSTALL_LOG_FAILURE: /log FILE cannot be written
  kExitWorkingFolderFailed = 1632, // ERROR_INSTALL_TEMP_UNWRITABLE
};

// The exit code for a failure raised as the library error errorCode, with
// systemCode the system's error that caused it (0 when none).
int ExitCodeFor(int errorCode, DWORD systemCode);

} // namespace QorSetup

namespace QorError {
class Exception;
}

namespace QorSetup {
// The same for a caught error: its code and the first system error in its
// chain of causes.
int ExitCodeFor(QorError::Exception& error);
} // namespace QorSetup
