// Codes of the errors the file-system functions raise. Values never change.
#pragma once

namespace QorFs {

enum ErrorCode : int {
  kLongPathError = 421,
  kCreateFolderError = 422,
  kCurrentFolderError = 423,
  kCurrentFolderLongError = 424, // the second, larger read of a long current folder
  kUniqueNameTooShortError = 425,
};

} // namespace QorFs
