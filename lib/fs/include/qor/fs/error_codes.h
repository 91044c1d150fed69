// Codes of the errors the file-system functions raise. Values never change.
#pragma once

namespace QorFs {

enum ErrorCode : int {
  kLongPathError = 421,
  kCreateFolderError = 422,
  kCurrentFolderError = 423,
  kCurrentFolderLongError = 424, // the second, larger read of a long current folder
  kUniqueNameTooShortError = 425,
  kSecretNameError = 426,        // the system's cryptographic generator is missing or failed
  kAdminOnlySecurityError = 427, // the administrators-only access list cannot be built
  kNoAccessListsError = 428, // a folder that must be protected is on a volume without access lists
  kUserOnlySecurityError = 429, // the access list for the user alone cannot be built
};

} // namespace QorFs
