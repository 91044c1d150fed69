#include "qor/fs/new_file.h"

#include "native_file.h"

#include "qor/text/path.h"

#include <windows.h>

namespace QorFs {

Qor::UniqueFile CreateNewFileInFolder(const std::wstring& folder, const std::wstring& name) {
  // The folder as itself: a link there is refused, not followed.
  Qor::UniqueFile handle(
      CreateFileW(QorString::WithoutTrailingBackslash(folder).c_str(),
                  FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!handle) {
    return handle;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle.get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
      !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return Qor::UniqueFile();
  }
  // Wine opens the target of a host link even when asked for the link, so
  // the name's own attributes are asked first; the creation itself fails on
  // any object of that name.
  if (GetFileAttributesW((QorString::WithTrailingBackslash(folder) + name).c_str()) !=
      INVALID_FILE_ATTRIBUTES) {
    SetLastError(ERROR_FILE_EXISTS);
    return Qor::UniqueFile();
  }
  return Detail::OpenInside(handle.get(), name, FILE_GENERIC_WRITE, FILE_SHARE_READ, FILE_CREATE,
                            FILE_NON_DIRECTORY_FILE);
}

} // namespace QorFs
