#include "qor/setup/exit_codes.h"

#include "qor/setup/error_codes.h"

#include "qor/env/error_codes.h"
#include "qor/error/win32_error.h"
#include "qor/fs/error_codes.h"

namespace QorSetup {

namespace {

const int kArchiveCorruptedError = 21010;
const int kArchiveExtractError = 21014;
const int kDamagedStreamError = 21026; // the codec: damaged or cut short

bool IsDiskFull(DWORD systemCode) {
  return systemCode == ERROR_DISK_FULL || systemCode == ERROR_HANDLE_DISK_FULL;
}

} // namespace

int ExitCodeFor(int errorCode, DWORD systemCode) {
  if (IsDiskFull(systemCode)) {
    return kExitDiskFull;
  }
  switch (errorCode) {
  case kArchiveMissingError:
  case kArchiveSizeError:
  case kArchiveLoadError:
  case kArchiveLockError:
  case kArchiveCorruptedError:
  case kDamagedStreamError:
    return kExitDamagedPayload;
  case kArchiveExtractError:
    // With the system's reason: a file could not be made or written; without
    // one: the archive names an entry that no file can have.
    return systemCode ? kExitWorkingFolderFailed : kExitDamagedPayload;
  case kEntryFileExistsError:
    return kExitFileExists;
  case kNotEnoughSpaceError:
    return kExitDiskFull;
  case kLongPathError:
  case kTempFolderError:
  case kFolderChangedError:
  case kExtractFolderError:
  case QorFs::kCreateFolderError:
  case QorFs::kSecretNameError:
  case QorFs::kAdminOnlySecurityError:
  case QorFs::kNoAccessListsError:
    return kExitWorkingFolderFailed;
  case kStartInstallerError:
    return kExitInstallerNotStarted;
  case kStopRequestedError:
    return kExitStopped;
  case QorEnv::kOsVersionQueryError:
  case QorEnv::kOsVersionUnsupportedError:
    return kExitUnsupportedWindows;
  default:
    return kExitSetupFailed;
  }
}

int ExitCodeFor(QorError::Exception& error) {
  DWORD systemCode = 0;
  for (QorError::Exception* e = &error; e && !systemCode; e = e->GetCause()) {
    if (QorWin32::Win32Error* system = dynamic_cast<QorWin32::Win32Error*>(e)) {
      systemCode = system->GetSystemCode();
    }
  }
  return ExitCodeFor(error.GetCode(), systemCode);
}

} // namespace QorSetup
