#include "qor/fs/private_folder.h"
#include "qor/fs/error_codes.h"

#include "chosen_removal.h"
#include "identity_choice.h"
#include "native_file.h"

#include "qor/fs/delete.h"
#include "qor/fs/fs.h"
#include "qor/error/win32_error.h"
#include "qor/text/path.h"

#include <sddl.h>

#include <vector>

namespace QorFs {

namespace {

using QorString::WithoutTrailingBackslash;

using Detail::DeleteOnClose;
using Detail::ListedEntry;
using Detail::ListInside;
using Detail::OpenInside;

constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Whoever holds an object opened so can change it, but nobody else can
// rename or delete it meanwhile.
constexpr ULONG kShareNoDelete = FILE_SHARE_READ | FILE_SHARE_WRITE;
// What the pin holds: listing counts against sharing (attribute access
// alone would not), read and write sharing let the files inside be written
// and listed and the installer start there; without delete sharing nobody
// can rename or delete the folder.
constexpr ACCESS_MASK kPinAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES;
constexpr ACCESS_MASK kDeleteAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
constexpr int kSecretLength = kSecretPartLength;
constexpr int kAttempts = 8;

bool ReadInformation(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info) {
  return GetFileInformationByHandle(handle, &info) != FALSE;
}

bool Missing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool Taken(DWORD error) {
  return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
}

// Opens the existing folder at path (following links: it is the caller's
// choice of place) for relative opens and listing; shares everything.
Qor::UniqueFile OpenFolderAt(const std::wstring& path) {
  Qor::UniqueFile folder(CreateFileW(WithoutTrailingBackslash(path).c_str(),
                                     FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!folder && GetLastError() == ERROR_FILE_NOT_FOUND) {
    SetLastError(ERROR_PATH_NOT_FOUND); // the folder, not a file in it
  }
  return folder;
}

// Opens the entry that folder's listing reported, as itself, and checks
// that the handle is that entry: the same kind (Wine opens the target of a
// host link, which the listing shows as a link) and, where the system lists
// indexes, the same object. access is added to what deletion needs.
Qor::UniqueFile OpenListed(HANDLE folder, const ListedEntry& entry, ACCESS_MASK access,
                           BY_HANDLE_FILE_INFORMATION& info) {
  const PathKind kind = ClassifyAttributes(entry.attributes);
  const ULONG options = kind == PathKind::Folder ? FILE_DIRECTORY_FILE
                        : kind == PathKind::File ? FILE_NON_DIRECTORY_FILE
                                                 : 0;
  if (kind == PathKind::Folder) {
    access |= FILE_LIST_DIRECTORY;
  }
  Qor::UniqueFile handle =
      OpenInside(folder, entry.name, kDeleteAccess | access, kShareNoDelete, FILE_OPEN, options);
  if (!handle || !ReadInformation(handle.get(), info)) {
    return Qor::UniqueFile();
  }
  if (ClassifyAttributes(info.dwFileAttributes) != kind ||
      (entry.id != 0 && Detail::FileIndex(info) != entry.id)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return Qor::UniqueFile();
  }
  return handle;
}

// A folder being emptied: its handle, held until the folder itself is
// deleted, what its listing showed and how far the walk has come.
struct FolderInRemoval {
  Qor::UniqueFile owned; // empty for the first folder, whose handle the caller holds
  HANDLE handle = nullptr;
  BY_HANDLE_FILE_INFORMATION info = {};
  std::wstring path;
  std::vector<ListedEntry> entries;
  std::size_t next = 0;
  bool removedAll = true;
};

// Lists the folder and tells afterListing; false when it cannot be listed.
bool ListForRemoval(FolderInRemoval& folder, const AfterListing& afterListing) {
  if (!ListInside(folder.handle, folder.entries)) {
    return false;
  }
  if (afterListing) {
    afterListing(folder.path);
  }
  return true;
}

// Removes what handle holds (opened by OpenListed): a folder's contents
// first, through its handle, then the object itself. The walk keeps its own
// stack, so no tree is too deep for the thread's; folders more than
// kMaxRemovalDepth levels below are not entered (they stay, and with them
// the folders above them), and the last error then says so.
bool RemoveOpened(HANDLE handle, const BY_HANDLE_FILE_INFORMATION& info, const std::wstring& path,
                  const AfterListing& afterListing) {
  // A read-only mark is cleared through the handle, unless other names share it.
  if (ClassifyAttributes(info.dwFileAttributes) != PathKind::Folder) {
    return DeleteOpenedAlways(handle, info);
  }
  std::vector<FolderInRemoval> open(1);
  open.back().handle = handle;
  open.back().info = info;
  open.back().path = path;
  if (!ListForRemoval(open.back(), afterListing)) {
    return false;
  }
  bool tooDeep = false;
  bool removed = false;
  while (!open.empty()) {
    FolderInRemoval& folder = open.back();
    if (folder.next < folder.entries.size()) {
      const ListedEntry& entry = folder.entries[folder.next++];
      BY_HANDLE_FILE_INFORMATION entryInfo;
      Qor::UniqueFile entryHandle = OpenListed(folder.handle, entry, 0, entryInfo);
      if (!entryHandle) {
        folder.removedAll = Missing(GetLastError()) && folder.removedAll;
      } else if (ClassifyAttributes(entryInfo.dwFileAttributes) != PathKind::Folder) {
        folder.removedAll = DeleteOpenedAlways(entryHandle.get(), entryInfo) && folder.removedAll;
      } else if (open.size() > kMaxRemovalDepth) {
        tooDeep = true;
        folder.removedAll = false;
      } else {
        FolderInRemoval inner;
        inner.handle = entryHandle.get();
        inner.owned = std::move(entryHandle);
        inner.info = entryInfo;
        inner.path = folder.path + L"\\" + entry.name;
        if (ListForRemoval(inner, afterListing)) {
          open.push_back(std::move(inner)); // folder is not used after this
        } else {
          folder.removedAll = false;
        }
      }
      continue;
    }
    // Emptied as far as it goes: the folder itself, once its handle closes.
    removed = folder.removedAll && DeleteOpenedAlways(folder.handle, folder.info);
    open.pop_back();
    if (!open.empty()) {
      open.back().removedAll = removed && open.back().removedAll;
    }
  }
  if (tooDeep) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
  }
  return removed;
}

bool RemoveListed(HANDLE folder, const ListedEntry& entry, const std::wstring& path,
                  const AfterListing& afterListing) {
  BY_HANDLE_FILE_INFORMATION info;
  Qor::UniqueFile handle = OpenListed(folder, entry, 0, info);
  if (!handle) {
    return Missing(GetLastError());
  }
  return RemoveOpened(handle.get(), info, path, afterListing);
}

// The entry called name in the folder behind folder, as a listing of that
// name alone reports it (the first listing of that handle); false when
// there is none.
bool FindEntry(HANDLE folder, const std::wstring& name, ListedEntry& found) {
  std::vector<ListedEntry> entries;
  if (!ListInside(folder, entries, name) || entries.empty()) {
    return false;
  }
  found = entries.front();
  return true;
}

// Moves whatever is called name in the folder behind parent aside, whole,
// to a secret name there, and removes what it can of it. False when it
// cannot be moved. parent is listed here, once; parentPath is for messages.
bool MoveAside(HANDLE parent, const std::wstring& parentPath, const std::wstring& name,
               const AfterListing& afterListing) {
  ListedEntry entry;
  if (!FindEntry(parent, name, entry)) {
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info;
  Qor::UniqueFile handle = OpenListed(parent, entry, 0, info);
  if (!handle) {
    return false;
  }
  // A rename moves a link itself, never what it leads to.
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    const std::wstring aside = name + L"-" + MakeSecretName(kSecretLength);
    if (Detail::RenameInside(handle.get(), parent, aside)) {
      RemoveOpened(handle.get(), info, QorString::WithTrailingBackslash(parentPath) + aside,
                   afterListing);
      return true;
    }
    if (!Taken(GetLastError())) {
      return false;
    }
  }
  return false;
}

// Makes the folder name inside the folder behind parent and pins it, in one
// step, so that no other object can take its place in between.
bool CreatePinned(HANDLE parent, const std::wstring& name, PSECURITY_DESCRIPTOR security,
                  Qor::UniqueFile& pin, FileIdentity& identity) {
  pin = OpenInside(parent, name, kPinAccess, kShareNoDelete, FILE_CREATE, FILE_DIRECTORY_FILE,
                   security);
  if (!pin) {
    return false;
  }
  identity = IdentityOf(pin.get());
  if (!identity.valid) {
    // Not one we can ever check again: it goes at once.
    pin.reset();
    return false;
  }
  return true;
}

// Reads whether path, opened by its name, is the object with the identity
// expected; the name's own attributes are asked too, since Wine opens the
// target of a host link even when asked for the link itself.
bool PathIs(const std::wstring& path, PathKind kind, const FileIdentity& expected) {
  if (ClassifyAttributes(GetFileAttributesW(path.c_str())) != kind) {
    return false;
  }
  Qor::UniqueFile handle(
      CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  return handle && IdentityOf(handle.get()) == expected;
}

// Whether the volume that holds the object behind handle keeps access lists.
bool KeepsAccessLists(HANDLE handle) {
  return (Detail::VolumeFlags(handle) & FILE_PERSISTENT_ACLS) != 0;
}

// The SID of the calling thread's user (the process's, when the thread
// impersonates nobody) in its text form; empty when it cannot be read.
std::wstring TokenUserText() {
  Qor::UniqueHandle token;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.put()) &&
      !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) {
    return std::wstring();
  }
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  if (size == 0) {
    return std::wstring();
  }
  std::vector<ULONGLONG> buffer(size / sizeof(ULONGLONG) + 1);
  if (!GetTokenInformation(token.get(), TokenUser, buffer.data(),
                           static_cast<DWORD>(buffer.size() * sizeof(ULONGLONG)), &size)) {
    return std::wstring();
  }
  Qor::UniqueLocal text;
  if (!ConvertSidToStringSidW(reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid,
                              reinterpret_cast<wchar_t**>(text.put()))) {
    return std::wstring();
  }
  return static_cast<const wchar_t*>(text.get());
}

[[noreturn]] void RaiseCreateFailed(const std::wstring& folder) {
  QorWin32::RaiseLastWin32ErrorF(kCreateFolderError, L"Unable to create directory %s",
                                 folder.c_str());
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

Qor::UniqueFile PinnedFolder::CreateNewFile(const std::wstring& name) const {
  if (!valid()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return Qor::UniqueFile();
  }
  // New, never an existing file or link of that name; no one else writes
  // to it while it is open.
  return OpenInside(handle_.get(), name, FILE_GENERIC_WRITE, FILE_SHARE_READ, FILE_CREATE,
                    FILE_NON_DIRECTORY_FILE);
}

Qor::UniqueFile PinnedFolder::OpenToRun(const std::wstring& name) const {
  if (!valid()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return Qor::UniqueFile();
  }
  Qor::UniqueFile file =
      OpenInside(handle_.get(), name, FILE_READ_DATA | FILE_EXECUTE | FILE_READ_ATTRIBUTES,
                 FILE_SHARE_READ, FILE_OPEN, FILE_NON_DIRECTORY_FILE);
  BY_HANDLE_FILE_INFORMATION info;
  if (file && (!ReadInformation(file.get(), info) ||
               ClassifyAttributes(info.dwFileAttributes) != PathKind::File)) {
    file.reset();
    SetLastError(ERROR_ACCESS_DENIED);
  }
  return file;
}

bool PinnedFolder::StillInPlace() const {
  return valid() && PathIs(WithoutTrailingBackslash(path_), PathKind::Folder, identity_);
}

bool PinnedFolder::PathLeadsTo(const std::wstring& name, HANDLE file) const {
  return StillInPlace() && PathIs(path_ + name, PathKind::File, IdentityOf(file));
}

void PinnedFolder::CleanUp() {
  CleanUpRetrying(0, false);
}

namespace {

// A scanner or an indexer that holds a file for a moment.
bool HeldForAMoment(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
         error == ERROR_LOCK_VIOLATION;
}

constexpr DWORD kRetryStepMs = 200;

} // namespace

CleanUpReport PinnedFolder::CleanUpRetrying(DWORD retryMs, bool scheduleAtRestart) {
  CleanUpReport report;
  if (!valid()) {
    return report;
  }
  const DWORD start = GetTickCount();
  for (;;) {
    bool held = false;
    report.left.clear();
    std::vector<ListedEntry> entries;
    if (ListInside(handle_.get(), entries)) {
      for (const ListedEntry& entry : entries) {
        BY_HANDLE_FILE_INFORMATION info;
        if (ClassifyAttributes(entry.attributes) != PathKind::File) {
          report.left.push_back(entry.name);
          continue;
        }
        // Read-only files stay, as a deletion by name would leave them.
        Qor::UniqueFile file = OpenListed(handle_.get(), entry, 0, info);
        if (!file) {
          held = held || HeldForAMoment(GetLastError());
          report.left.push_back(entry.name);
        } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ||
                   !DeleteOnClose(file.get())) {
          report.left.push_back(entry.name);
        }
      }
    }
    if (!held || GetTickCount() - start >= retryMs) {
      break;
    }
    Sleep(kRetryStepMs);
  }
  // The pin shares no deletion, so it goes first; the folder is then
  // deleted through the folder it was made in, once the name there is
  // checked to lead to this very folder (it goes only when empty).
  handle_.reset();
  Qor::UniqueFile folder =
      OpenInside(parent_.get(), name_, kDeleteAccess, kShareAll, FILE_OPEN, FILE_DIRECTORY_FILE);
  report.folderRemoved =
      folder && IdentityOf(folder.get()) == identity_ && DeleteOnClose(folder.get());
  folder.reset();
  if (!report.folderRemoved && scheduleAtRestart) {
    // What is left goes at the next restart: the files, then the folder.
    for (const std::wstring& name : report.left) {
      if (MoveFileExW((path_ + name).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        report.scheduled.push_back(name);
      }
    }
    report.folderScheduled = MoveFileExW(WithoutTrailingBackslash(path_).c_str(), nullptr,
                                         MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
  }
  parent_.reset();
  identity_ = FileIdentity();
  path_.clear();
  name_.clear();
  return report;
}

PinnedFolder MakeWorkingFolder(const std::wstring& folder, const AfterListing& afterListing) {
  const std::wstring path = WithoutTrailingBackslash(folder);
  const std::wstring parentPath = QorString::FolderPart(path);
  const std::wstring name = FileNamePart(path);
  PinnedFolder pinned;
  pinned.parent_ = OpenFolderAt(parentPath);
  if (!pinned.parent_) {
    RaiseCreateFailed(folder);
  }
  HANDLE parent = pinned.parent_.get();
  // Not what the parent would pass on: a temporary folder may be one that
  // other accounts can write to (an old C:\TEMP, a shared or redirected one).
  UserOnlySecurity security;
  std::wstring candidate = name;
  DWORD error = ERROR_SUCCESS;
  if (!CreatePinned(parent, candidate, security.Get(), pinned.handle_, pinned.identity_)) {
    error = GetLastError();
    if (Taken(error) && MoveAside(parent, parentPath, name, afterListing) &&
        !CreatePinned(parent, candidate, security.Get(), pinned.handle_, pinned.identity_)) {
      error = GetLastError();
    }
  }
  // A leftover in use keeps the name: a secret name beside it, taken by
  // nobody before us.
  for (int attempt = 0; !pinned.handle_ && attempt < kAttempts; ++attempt) {
    if (!Taken(error) && error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) {
      break;
    }
    candidate = name + L"-" + MakeSecretName(kSecretLength);
    if (!CreatePinned(parent, candidate, security.Get(), pinned.handle_, pinned.identity_)) {
      error = GetLastError();
    }
  }
  if (!pinned.handle_) {
    SetLastError(error);
    RaiseCreateFailed(folder);
  }
  pinned.name_ = candidate;
  pinned.path_ = QorString::WithTrailingBackslash(parentPath) + candidate + L"\\";
  // A volume without access lists (FAT) drops the folder's: nothing to
  // protect it with there. The caller may tell so.
  pinned.ownAccessList_ = KeepsAccessLists(pinned.handle_.get());
  return pinned;
}

PinnedFolder MakeAdminOnlyFolder(const std::wstring& parent, const std::wstring& prefix) {
  AdminOnlySecurity security;
  PinnedFolder pinned;
  pinned.parent_ = OpenFolderAt(parent);
  if (!pinned.parent_) {
    RaiseCreateFailed(parent);
  }
  std::wstring name;
  for (int attempt = 0; !pinned.handle_ && attempt < kAttempts; ++attempt) {
    name = prefix + MakeSecretName(kSecretLength);
    if (!CreatePinned(pinned.parent_.get(), name, security.Get(), pinned.handle_,
                      pinned.identity_) &&
        !Taken(GetLastError())) {
      break;
    }
  }
  const std::wstring path = QorString::WithTrailingBackslash(parent) + name + L"\\";
  if (!pinned.handle_) {
    RaiseCreateFailed(path);
  }
  pinned.name_ = name;
  pinned.path_ = path;
  pinned.ownAccessList_ = true; // checked below
  // Where access lists are not kept, anyone could write into it.
  if (!KeepsAccessLists(pinned.handle_.get())) {
    pinned.CleanUp();
    QorWin32::RaiseWin32ErrorF(kNoAccessListsError,
                               L"The folder %s is on a volume that keeps no access lists.",
                               ERROR_NOT_SUPPORTED, parent.c_str());
  }
  return pinned;
}

bool RemoveTreeWithoutLinks(const std::wstring& path, const AfterListing& afterListing) {
  const std::wstring target = WithoutTrailingBackslash(path);
  Qor::UniqueFile parent = OpenFolderAt(QorString::FolderPart(target));
  if (!parent) {
    return Missing(GetLastError());
  }
  std::vector<ListedEntry> entries;
  if (!ListInside(parent.get(), entries, FileNamePart(target))) {
    return false;
  }
  return entries.empty() || RemoveListed(parent.get(), entries.front(), target, afterListing);
}

namespace Detail {

int RemoveChosenFolders(const std::wstring& folder, const std::wstring& prefix,
                        const FolderChoice& choose) {
  Qor::UniqueFile parent = OpenFolderAt(folder);
  std::vector<ListedEntry> entries;
  if (!parent || !ListInside(parent.get(), entries)) {
    return 0;
  }
  int removed = 0;
  for (const ListedEntry& entry : entries) {
    if (entry.name.compare(0, prefix.size(), prefix) != 0 ||
        ClassifyAttributes(entry.attributes) != PathKind::Folder) {
      continue;
    }
    BY_HANDLE_FILE_INFORMATION info;
    Qor::UniqueFile handle = OpenListed(parent.get(), entry, READ_CONTROL, info);
    if (handle && choose(handle.get(), info, entry.name) &&
        RemoveOpened(handle.get(), info, QorString::WithTrailingBackslash(folder) + entry.name,
                     nullptr)) {
      ++removed;
    }
  }
  return removed;
}

} // namespace Detail

AdminOnlySecurity::AdminOnlySecurity() {
  // Owned by Administrators (not by whichever account created it), protected
  // (no inherited entries); full access for Administrators and SYSTEM,
  // inherited by everything created inside.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", SDDL_REVISION_1, &descriptor, nullptr)) {
    QorWin32::RaiseLastWin32ErrorF(kAdminOnlySecurityError,
                                   L"Unable to make an access list for administrators only.");
  }
  descriptor_.reset(descriptor);
}

UserOnlySecurity::UserOnlySecurity() {
  // Protected (no inherited entries); full access for the user, SYSTEM and
  // Administrators, inherited by everything created inside. The owner is
  // the user's default, as for any folder the user makes.
  const std::wstring user = TokenUserText();
  const std::wstring sddl = L"D:P(A;OICI;FA;;;" + user + L")(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (user.empty() || !ConvertStringSecurityDescriptorToSecurityDescriptorW(
                          sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
    QorWin32::RaiseLastWin32ErrorF(kUserOnlySecurityError,
                                   L"Unable to make an access list for this user only.");
  }
  descriptor_.reset(descriptor);
}

} // namespace QorFs
