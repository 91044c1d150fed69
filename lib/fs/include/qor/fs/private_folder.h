// A working folder that only its creator controls: made new for this run,
// held open so that no other program can rename, move or delete it, and
// reached only through that handle from then on: every file inside is
// created, opened, listed and deleted relative to it, so re-pointing a
// folder above it (a junction, say) changes nothing of what is written or
// deleted. Whatever held its name before is moved aside and removed the same
// way, without following links.
#pragma once

#include "qor/fs/file_identity.h"
#include "qor/handle/unique_handle.h"

#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace QorFs {

enum class PathKind { Missing, Folder, Link, File };
// What a path's attributes say it is; a reparse point is a link whatever else it is.
PathKind ClassifyAttributes(DWORD attributes);

// Called with a folder's path after its entries have been listed and before
// any of them is opened; for tests.
using AfterListing = std::function<void(const std::wstring& folder)>;

// What a clean-up left behind.
struct CleanUpReport {
  std::vector<std::wstring> left;      // names still inside (files in use, subfolders, links)
  std::vector<std::wstring> scheduled; // of those, removed at the next restart
  bool folderRemoved = false;
  bool folderScheduled = false; // removed at the next restart, once empty
};

// A folder this process created and holds open without delete sharing from
// its creation until CleanUp: nobody else can rename, move or delete it.
class PinnedFolder {
public:
  PinnedFolder() = default;
  PinnedFolder(PinnedFolder&&) = default;
  PinnedFolder& operator=(PinnedFolder&&) = default;

  bool valid() const { return handle_.valid(); }
  // The path it was made at, ending in a backslash: for messages and for
  // starting a program there, never for reaching what is inside.
  const std::wstring& path() const { return path_; }
  const FileIdentity& identity() const { return identity_; }
  // Whether the folder holds an access list of its own that its volume
  // keeps: false on a volume that keeps none (FAT), where whoever may write
  // to the parent may write inside.
  bool HasOwnAccessList() const { return ownAccessList_; }

  // Makes the new file name (one component) inside, through the folder's
  // handle, and opens it for writing. Invalid, with the thread's last error
  // set, when the name is taken or is not a single name.
  Qor::UniqueFile CreateNewFile(const std::wstring& name) const;
  // Opens the plain file name inside, through the folder's handle, to start
  // it: reading and execution, shared for reading only, so that nobody can
  // change, rename or delete it while it is open. Invalid (last error set)
  // when it is missing or is not a plain file.
  Qor::UniqueFile OpenToRun(const std::wstring& name) const;

  // Whether path() still leads to this very folder (and not through a link).
  bool StillInPlace() const;
  // Whether path() still leads to this folder and path() + name to the file
  // behind file.
  bool PathLeadsTo(const std::wstring& name, HANDLE file) const;

  // Deletes the plain files directly inside, then the folder itself if it is
  // empty, all through handles, and lets go of it. Files in use or
  // read-only, subfolders and links stay, and with them the folder. Silent;
  // afterwards the object is empty.
  void CleanUp();
  // The same, but a file that another program holds (a sharing violation,
  // access denied) is tried again every 200 ms for up to retryMs; what is
  // still left is then, with scheduleAtRestart (it needs an administrator),
  // marked for removal at the next restart, files first, then the folder.
  // Reports what stays.
  CleanUpReport CleanUpRetrying(DWORD retryMs, bool scheduleAtRestart);

private:
  friend PinnedFolder MakeWorkingFolder(const std::wstring& folder,
                                        const AfterListing& afterListing);
  friend PinnedFolder MakeAdminOnlyFolder(const std::wstring& parent, const std::wstring& prefix);
  std::wstring path_;
  std::wstring name_;
  // The folder it was made in, as opened then: the folder is removed
  // through it, after its pin is let go.
  Qor::UniqueFile parent_;
  Qor::UniqueFile handle_;
  FileIdentity identity_;
  bool ownAccessList_ = false;
};

// Makes a new folder for this run at folder (ending in a backslash; its
// parent must exist), open to the user who makes it, SYSTEM and
// Administrators only (its own access list, nothing inherited from the
// parent; see HasOwnAccessList), pinned from the moment it exists. Whatever had that name (a
// folder, a file or a link) is first moved aside whole to a secret name in the same parent and
// removed there without following links. When the name stays taken (a leftover in use), a new
// folder with a secret name beside it is made instead. Raises QorWin32::Win32Error 422 "Unable to
// create directory %s", with the system's reason, only when no folder at all can be made, and 429
// when the user's access list cannot be built.
PinnedFolder MakeWorkingFolder(const std::wstring& folder,
                               const AfterListing& afterListing = nullptr);

// The letters and digits of the secret part of the folders made below.
constexpr int kSecretPartLength = 16;

// Makes a new folder named prefix + a secret part inside parent (an
// existing folder), owned by Administrators and open to Administrators and
// SYSTEM only, in the one step that creates it; pinned from then on. Never
// falls back to weaker protection: raises 426 (no secret name), 427 (no
// access list), 428 (a volume that keeps no access lists) or 422.
PinnedFolder MakeAdminOnlyFolder(const std::wstring& parent, const std::wstring& prefix);

// Removes path (a folder, a file or a link) and everything below it without
// ever following a link: each entry is opened as itself through the handle
// of its folder, checked against the folder's listing and deleted through
// its own handle; a link is removed as a link, a folder is entered through
// its handle, held open. What cannot be removed that way stays. True when
// nothing is left. The walk needs no more of the thread's stack for a deep
// tree than for a flat one; folders nested more than kMaxRemovalDepth levels
// below path are not entered: they stay, with the folders above them, and
// the thread's last error is then ERROR_FILENAME_EXCED_RANGE.
constexpr std::size_t kMaxRemovalDepth = 256;
bool RemoveTreeWithoutLinks(const std::wstring& path, const AfterListing& afterListing = nullptr);

// A security descriptor owned by Administrators that grants full access to
// Administrators and SYSTEM only, not inherited from the parent. Raises
// QorWin32::Win32Error 427 when it cannot be built.
class AdminOnlySecurity {
public:
  AdminOnlySecurity();
  AdminOnlySecurity(const AdminOnlySecurity&) = delete;
  AdminOnlySecurity& operator=(const AdminOnlySecurity&) = delete;
  PSECURITY_DESCRIPTOR Get() const { return descriptor_.get(); }

private:
  Qor::UniqueLocal descriptor_;
};

// A security descriptor that grants full access to the user of the calling
// thread's token (its own when it impersonates nobody), SYSTEM and
// Administrators only, not inherited from the parent, and inherited by
// everything created inside. Raises QorWin32::Win32Error 429 when it cannot
// be built.
class UserOnlySecurity {
public:
  UserOnlySecurity();
  UserOnlySecurity(const UserOnlySecurity&) = delete;
  UserOnlySecurity& operator=(const UserOnlySecurity&) = delete;
  PSECURITY_DESCRIPTOR Get() const { return descriptor_.get(); }

private:
  Qor::UniqueLocal descriptor_;
};

} // namespace QorFs
