// Codes of the errors the environment functions raise. Values never change.
#pragma once

namespace QorEnv {

enum ErrorCode : int {
  kSessionIdError = 357,
  kUserProfileFolderError = 501,
  kSpecialFolderNotFoundError = 502,
  kProfilesFolderError = 503,
  kUserSidLookupError = 505, // the account lookup failed, the profile list was read
  kProfileListMissingError = 506,
  kUserSidUnknownError = 507, // neither the account lookup nor the profile list knows the user
  kBrowserSettingsWritableError = 511,
  kStartPagesError = 512,
  kSearchPageError = 513,
  kOsVersionQueryError = 514,
  kOsVersionUnsupportedError = 515,
  kUserRegistryError = 519,
  kCurrentFolderError = 521,
  kTempFolderError = 522,
  kLogicalDrivesError = 523,
  kLoadHiveUserSidError = 523, // the same code, raised by the hive loading
  kLoadHiveError = 524,
  kSaveHiveUserSidError = 525,
  kSaveHiveOpenError = 526,
  kSaveHiveFlushError = 527,
  kSaveHiveUnloadError = 528,
  kCommonProgramsFolderError = 529,
  kProgramsFolderError = 531,
  kCommonDesktopFolderError = 532,
  kDesktopFolderError = 533,
  kModuleFileNameError = 534,
  kBrowserSettingsError = 540,
  kUserRegistryWritableError = 541,
  kVirtualizedUserSidError = 544,
  kVirtualizedSettingsError = 545,
  kSpecialFolderMissingError = 551, // found, but the folder does not exist
};

} // namespace QorEnv
