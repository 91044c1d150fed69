// Codes of the errors the setup shell raises. Values never change: a code
// may reach a person in an error box's text.
#pragma once

namespace QorSetup {

enum ErrorCode : int {
  kWorkerStdExceptionError = 21100, // a standard exception on the worker
  kArchiveMissingError = 21101,
  kArchiveSizeError = 21102,
  kArchiveLoadError = 21103,
  kArchiveLockError = 21104,
  kLongPathError = 21105,
  kTempFolderError = 21106,
  kStartInstallerError = 21107,
  kStopRequestedError = 21108,   // extraction stopped: the window is closing
  kFolderChangedError = 21109,   // the working folder is no longer the one made
  kNotEnoughSpaceError = 21110,  // the files do not fit on the working folder's volume
  kEntryFileExistsError = 21111, // /extract: a file of an entry's name is there already
  kExtractFolderError = 21112,   // /extract: the folder cannot be made or opened
  kLogFileError = 21113,         // /log: the file cannot be made
};

} // namespace QorSetup
