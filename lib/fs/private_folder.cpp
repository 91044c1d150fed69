#include "qor/private_folder.h"

#include "qor/fs_find.h"
#include "qor/unique_handle.h"
#include "qor/win32_error.h"

#include <sddl.h>

namespace QorFs {

namespace {

std::wstring WithoutTrailingSlash(const std::wstring& path) {
  if (!path.empty() && path.back() == L'\\') {
    return path.substr(0, path.size() - 1);
  }
  return path;
}

// Opens the object at path itself (a link is not followed), for reading its
// identity, and keeps others from renaming or deleting it while open.
Qor::UniqueFile OpenFolderObject(const std::wstring& path) {
  return Qor::UniqueFile(CreateFileW(
      path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

bool IdentityOf(HANDLE handle, FolderIdentity& identity) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info) ||
      ClassifyAttributes(info.dwFileAttributes) != PathKind::Folder) {
    return false;
  }
  identity.volumeSerial = info.dwVolumeSerialNumber;
  identity.indexHigh = info.nFileIndexHigh;
  identity.indexLow = info.nFileIndexLow;
  identity.valid = true;
  return true;
}

bool MakeWritable(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (!(attributes & FILE_ATTRIBUTE_READONLY) ||
          SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY));
}

bool RemovePath(const std::wstring& path, PathKind kind);

// Empties a real folder. Links inside are removed as links, never entered.
bool RemoveContents(const std::wstring& folder) {
  bool ok = true;
  WIN32_FIND_DATAW entry;
  Qor::UniqueFind search(FindFirstFileW((folder + L"\\*").c_str(), &entry));
  if (!search) {
    return GetLastError() == ERROR_FILE_NOT_FOUND;
  }
  do {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") {
      continue;
    }
    ok = RemovePath(folder + L"\\" + name, ClassifyAttributes(entry.dwFileAttributes)) && ok;
  } while (FindNextFileW(search.get(), &entry));
  return ok;
}

bool RemovePath(const std::wstring& path, PathKind kind) {
  switch (kind) {
  case PathKind::Missing:
    return true;
  case PathKind::Link: {
    // A directory link goes with RemoveDirectoryW, a file link with DeleteFileW;
    // both remove the link itself.
    MakeWritable(path);
    return RemoveDirectoryW(path.c_str()) || DeleteFileW(path.c_str());
  }
  case PathKind::File:
    return (DeleteFileW(path.c_str()) || (MakeWritable(path) && DeleteFileW(path.c_str())));
  case PathKind::Folder:
    return RemoveContents(path) && MakeWritable(path) && RemoveDirectoryW(path.c_str());
  }
  return false;
}

} // namespace

PathKind ClassifyAttributes(DWORD attributes) {
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return PathKind::Missing;
  }
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    return PathKind::Link;
  }
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Folder : PathKind::File;
}

bool IsPlainFile(const WIN32_FIND_DATAW& entry) {
  return ClassifyAttributes(entry.dwFileAttributes) == PathKind::File;
}

bool GetFolderIdentity(const std::wstring& folder, FolderIdentity& identity) {
  Qor::UniqueFile handle = OpenFolderObject(WithoutTrailingSlash(folder));
  return handle && IdentityOf(handle.get(), identity);
}

FolderIdentity CreateFreshFolder(const std::wstring& folder, SECURITY_ATTRIBUTES* security) {
  const std::wstring path = WithoutTrailingSlash(folder);
  const PathKind kind = ClassifyAttributes(GetFileAttributesW(path.c_str()));
  FolderIdentity identity;
  // Whatever is there goes, so nothing planted earlier survives; the folder
  // is then made anew, with our own access list.
  if (!RemovePath(path, kind) || !CreateDirectoryW(path.c_str(), security)) {
    QorWin32::RaiseLastWin32ErrorF(422, L"Unable to create directory %s", folder.c_str());
  }
  if (!GetFolderIdentity(path, identity)) {
    QorWin32::RaiseLastWin32ErrorF(422, L"Unable to create directory %s", folder.c_str());
  }
  return identity;
}

bool CleanFreshFolder(const std::wstring& folder, const FolderIdentity& expected) {
  const std::wstring path = WithoutTrailingSlash(folder);
  FolderIdentity current;
  {
    // Held open while deleting: the folder cannot be swapped for a link
    // (renamed away) underneath us.
    Qor::UniqueFile handle = OpenFolderObject(path);
    if (!handle || !IdentityOf(handle.get(), current) || !(current == expected)) {
      return false;
    }
    WIN32_FIND_DATAW entry;
    Qor::UniqueFind search(FindFirstFileW((path + L"\\*").c_str(), &entry));
    if (search) {
      do {
        if (IsPlainFile(entry)) {
          DeleteFileW((path + L"\\" + entry.cFileName).c_str());
        }
      } while (FindNextFileW(search.get(), &entry));
    }
  }
  RemoveDirectoryW(path.c_str());
  return true;
}

AdminOnlySecurity::AdminOnlySecurity() {
  // Protected (no inherited entries); full access for Administrators and
  // SYSTEM, inherited by everything created inside.
  if (ConvertStringSecurityDescriptorToSecurityDescriptorW(
          L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", SDDL_REVISION_1, &descriptor_, nullptr)) {
    attributes_.nLength = sizeof(attributes_);
    attributes_.lpSecurityDescriptor = descriptor_;
    attributes_.bInheritHandle = FALSE;
  } else {
    descriptor_ = nullptr;
  }
}

AdminOnlySecurity::~AdminOnlySecurity() {
  if (descriptor_) {
    LocalFree(descriptor_);
  }
}

} // namespace QorFs
