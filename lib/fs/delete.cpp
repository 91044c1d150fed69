#include "qor/fs/delete.h"

#include "native_file.h"

namespace QorFs {

namespace {

bool DeleteAlways(const std::wstring& path, BOOL(WINAPI* remove)(LPCWSTR)) {
  if (remove(path.c_str())) {
    return true;
  }
  const DWORD error = ::GetLastError();
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY)) {
    ::SetLastError(error);
    return false;
  }
  if (!::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
    return false;
  }
  return remove(path.c_str()) != FALSE;
}

} // namespace

bool DeleteFileAlways(const std::wstring& path) {
  return DeleteAlways(path, ::DeleteFileW);
}

bool RemoveFolderAlways(const std::wstring& path) {
  // A folder link goes as a link; what it leads to stays.
  return DeleteAlways(path, ::RemoveDirectoryW);
}

bool DeleteOpenedAlways(HANDLE handle, const BY_HANDLE_FILE_INFORMATION& info) {
  const DWORD attributes = info.dwFileAttributes;
  if ((attributes & FILE_ATTRIBUTE_READONLY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
      info.nNumberOfLinks <= 1 &&
      !Detail::SetAttributes(handle, attributes & ~FILE_ATTRIBUTE_READONLY)) {
    return false;
  }
  return Detail::DeleteOnClose(handle);
}

} // namespace QorFs
