#include "qor/fs/private_folder.h"
#include "qor/fs/error_codes.h"

#include "native_file.h"

#include "qor/fs/delete.h"
#include "qor/fs/folder_entries.h"
#include "qor/fs/fs.h"
#include "qor/error/win32_error.h"
#include "qor/text/path.h"

#include <sddl.h>

#include <vector>

namespace QorFs {

namespace {

using QorString::WithoutTrailingBackslash;

using Detail::DeleteOnClose;
using Detail::Failed;
using Detail::Native;
using Detail::NativeFileApi;

// Creates the folder at path and opens it in one step, so that no other
// object can take its place in between. Only what did not exist is created.
Qor::UniqueFile CreateOpenFolder(const std::wstring& path, SECURITY_ATTRIBUTES* security) {
  const NativeFileApi& api = Native();
  if (!api.complete) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return Qor::UniqueFile();
  }
  UNICODE_STRING name = {};
  if (!api.toNtPath(path.c_str(), &name, nullptr, nullptr)) {
    SetLastError(ERROR_INVALID_NAME);
    return Qor::UniqueFile();
  }
  OBJECT_ATTRIBUTES object;
  InitializeObjectAttributes(&object, &name, OBJ_CASE_INSENSITIVE, nullptr,
                             security ? security->lpSecurityDescriptor : nullptr);
  IO_STATUS_BLOCK status = {};
  HANDLE handle = nullptr;
  // Opened for listing (attribute access alone would not count against
  // sharing): read and write sharing let the files inside be written and
  // listed and the installer start there; without delete sharing nobody can
  // rename or delete it.
  const NTSTATUS result =
      api.createFile(&handle, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE, &object,
                     &status, nullptr, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     FILE_CREATE, FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  api.freeString(&name);
  if (Failed(result)) {
    return Qor::UniqueFile();
  }
  return Qor::UniqueFile(handle);
}

// Opens the object at path itself (a link is not followed) only to read its
// identity; shares everything, so it never gets in anyone's way.
Qor::UniqueFile OpenForIdentity(const std::wstring& path) {
  return Qor::UniqueFile(CreateFileW(
      path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// The identity of a folder from what GetFileInformationByHandle reported;
// invalid for anything that is not a real folder.
FolderIdentity IdentityFrom(const BY_HANDLE_FILE_INFORMATION& info) {
  FolderIdentity identity;
  if (ClassifyAttributes(info.dwFileAttributes) == PathKind::Folder) {
    identity.volumeSerial = info.dwVolumeSerialNumber;
    identity.indexHigh = info.nFileIndexHigh;
    identity.indexLow = info.nFileIndexLow;
    identity.valid = true;
  }
  return identity;
}

bool IdentityOf(HANDLE handle, FolderIdentity& identity) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) {
    return false;
  }
  const FolderIdentity found = IdentityFrom(info);
  if (found.valid) {
    identity = found;
  }
  return found.valid;
}

// Whether path, as a name, is a real folder and leads to the folder with the
// given identity. The name's own attributes are asked too: Wine opens the
// target of a host link even when asked for the link itself.
bool LeadsTo(const std::wstring& path, const FolderIdentity& expected) {
  FolderIdentity current;
  return ClassifyAttributes(GetFileAttributesW(path.c_str())) == PathKind::Folder &&
         GetFolderIdentity(path, current) && current == expected;
}

bool RemoveEntry(const std::wstring& path, const AfterListing& afterListing);

constexpr DWORD kOpenAsItself = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

// Opens the folder at path for listing, without delete sharing: while open,
// nobody can rename, move or delete it.
Qor::UniqueFile PinFolder(const std::wstring& path) {
  return Qor::UniqueFile(CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                     kOpenAsItself, nullptr));
}

// Opens path as itself for deletion; what it is, is then read on the handle.
Qor::UniqueFile OpenForDeletion(const std::wstring& path) {
  return Qor::UniqueFile(CreateFileW(
      path.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE,
      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, kOpenAsItself, nullptr));
}

bool Missing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool RemoveChildren(const std::wstring& folder, const AfterListing& afterListing) {
  std::vector<std::wstring> names;
  {
    FolderEntries entries(folder);
    if (!entries.opened()) {
      return false;
    }
    for (const FolderEntry& entry : entries) {
      names.push_back(entry.name());
    }
  }
  if (afterListing) {
    afterListing(folder);
  }
  bool removedAll = true;
  for (const std::wstring& name : names) {
    removedAll = RemoveEntry(folder + L"\\" + name, afterListing) && removedAll;
  }
  return removedAll;
}

bool RemoveEntry(const std::wstring& path, const AfterListing& afterListing) {
  FolderIdentity folder;
  if (ClassifyAttributes(GetFileAttributesW(path.c_str())) == PathKind::Folder) {
    // Entered only while pinned and still the object at its path; the name
    // is asked too, since Wine opens a host link's target even when asked
    // for the link itself.
    Qor::UniqueFile pin = PinFolder(path);
    if (!pin) {
      return Missing(GetLastError());
    }
    if (!IdentityOf(pin.get(), folder) || !LeadsTo(path, folder) ||
        !RemoveChildren(path, afterListing)) {
      return false;
    }
  }
  Qor::UniqueFile handle = OpenForDeletion(path);
  if (!handle) {
    return Missing(GetLastError());
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle.get(), &info)) {
    return false;
  }
  const PathKind kind = ClassifyAttributes(info.dwFileAttributes);
  // The handle and the name must agree on what this is, and a folder must
  // be the one just emptied; otherwise nothing is touched.
  if (kind != ClassifyAttributes(GetFileAttributesW(path.c_str()))) {
    return false;
  }
  if (kind == PathKind::Folder && !(IdentityFrom(info) == folder)) {
    return false;
  }
  // A read-only mark is cleared through the handle, unless other names share it.
  return DeleteOpenedAlways(handle.get(), info);
}

// Moves whatever is at path aside, whole, to a unique name in the same
// parent, and removes what it can of it there. False when it cannot be
// moved.
bool MoveAside(const std::wstring& path) {
  const std::wstring parent = QorString::FolderPart(path);
  const std::wstring aside = MakeUniqueName(parent, 8);
  // A rename moves a link itself, never what it leads to.
  if (!MoveFileExW(path.c_str(), aside.c_str(), 0)) {
    return false;
  }
  RemoveTreeWithoutLinks(aside);
  return true;
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
  Qor::UniqueFile handle = OpenForIdentity(WithoutTrailingBackslash(folder));
  return handle && IdentityOf(handle.get(), identity);
}

bool PinnedFolder::StillInPlace() const {
  return valid() && LeadsTo(WithoutTrailingBackslash(path_), identity_);
}

void PinnedFolder::CleanUp() {
  if (!valid()) {
    return;
  }
  if (StillInPlace()) {
    // Pinned, the path keeps naming this folder while the files go.
    for (const FolderEntry& entry : FolderEntries(path_)) {
      if (IsPlainFile(entry.data())) {
        DeleteFileW((path_ + entry.name()).c_str());
      }
    }
  }
  // The pin shares no deletion, so it goes first; the folder is then deleted
  // through a handle that is checked to be this very folder (and it goes
  // only when empty).
  handle_.reset();
  Qor::UniqueFile handle = OpenForDeletion(WithoutTrailingBackslash(path_));
  FolderIdentity current;
  if (handle && IdentityOf(handle.get(), current) && current == identity_ &&
      ClassifyAttributes(GetFileAttributesW(WithoutTrailingBackslash(path_).c_str())) ==
          PathKind::Folder) {
    DeleteOnClose(handle.get());
  }
  handle.reset();
  identity_ = FolderIdentity();
  path_.clear();
}

PinnedFolder MakeWorkingFolder(const std::wstring& folder, SECURITY_ATTRIBUTES* security) {
  const std::wstring path = WithoutTrailingBackslash(folder);
  const std::wstring parent = QorString::FolderPart(path);
  if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES ||
      GetLastError() == ERROR_ACCESS_DENIED || GetLastError() == ERROR_SHARING_VIOLATION) {
    MoveAside(path);
  }
  PinnedFolder pinned;
  std::wstring candidate = path;
  // The name as asked for, else (a leftover in use keeps it) a few unique
  // names beside it; a name taken in between is simply tried anew.
  for (int attempt = 0; attempt < 8; ++attempt) {
    pinned.handle_ = CreateOpenFolder(candidate, security);
    if (pinned.handle_) {
      if (!IdentityOf(pinned.handle_.get(), pinned.identity_)) {
        break;
      }
      pinned.path_ = candidate + L"\\";
      return pinned;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS &&
        error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) {
      break;
    }
    candidate = MakeUniqueName(parent, 8);
  }
  QorWin32::RaiseLastWin32ErrorF(kCreateFolderError, L"Unable to create directory %s",
                                 folder.c_str());
}

bool RemoveTreeWithoutLinks(const std::wstring& path, const AfterListing& afterListing) {
  return RemoveEntry(WithoutTrailingBackslash(path), afterListing);
}

DWORD GetVolumeFlags(const std::wstring& path) {
  const NativeFileApi& api = Native();
  Qor::UniqueFile handle = OpenForIdentity(WithoutTrailingBackslash(path));
  if (!api.queryVolume || !handle) {
    return 0;
  }
  // FILE_FS_ATTRIBUTE_INFORMATION: the flags come first, then the name's
  // limits and the file system's name, which may not fit and is not needed.
  ULONG information[64] = {};
  IO_STATUS_BLOCK status = {};
  constexpr ULONG kAttributeInformation = 5; // FileFsAttributeInformation
  const NTSTATUS result = api.queryVolume(handle.get(), &status, information, sizeof information,
                                          kAttributeInformation);
  constexpr NTSTATUS kBufferOverflow = static_cast<NTSTATUS>(0x80000005);
  return result >= 0 || result == kBufferOverflow ? information[0] : 0;
}

std::wstring ChooseTemporaryFolder(const std::wstring& userTemp, bool elevated, DWORD volumeFlags,
                                   const std::wstring& windowsFolder) {
  // Without access lists anyone can write into whatever the elevated run
  // makes there, its protected folder included.
  if (!elevated || (volumeFlags & FILE_PERSISTENT_ACLS)) {
    return userTemp;
  }
  return QorString::WithTrailingBackslash(windowsFolder) + L"Temp\\";
}

AdminOnlySecurity::AdminOnlySecurity() {
  // Owned by Administrators (not by whichever account created it), protected
  // (no inherited entries); full access for Administrators and SYSTEM,
  // inherited by everything created inside.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (ConvertStringSecurityDescriptorToSecurityDescriptorW(
          L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", SDDL_REVISION_1, &descriptor, nullptr)) {
    descriptor_.reset(descriptor);
    attributes_.nLength = sizeof(attributes_);
    attributes_.lpSecurityDescriptor = descriptor_.get();
    attributes_.bInheritHandle = FALSE;
  }
}

} // namespace QorFs
