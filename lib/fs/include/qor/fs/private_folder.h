// A working folder that only its creator controls: made new for this run,
// held open so that no other program can rename, move or delete it, and
// cleaned up only while it is still the very folder that was made. Whatever
// held its name before is moved aside and removed without following links.
#pragma once

#include "qor/error/unique_handle.h"

#include <windows.h>

#include <functional>
#include <string>

namespace QorFs {

// Identifies a folder object itself, not its path.
struct FolderIdentity {
  DWORD volumeSerial = 0;
  DWORD indexHigh = 0;
  DWORD indexLow = 0;
  bool valid = false;
  bool operator==(const FolderIdentity& other) const {
    return valid && other.valid && volumeSerial == other.volumeSerial &&
           indexHigh == other.indexHigh && indexLow == other.indexLow;
  }
};

enum class PathKind { Missing, Folder, Link, File };
// What a path's attributes say it is; a reparse point is a link whatever else it is.
PathKind ClassifyAttributes(DWORD attributes);

// Reads the identity of the folder at path without following a link. False
// when the path is missing, a link, or not a folder.
bool GetFolderIdentity(const std::wstring& folder, FolderIdentity& identity);

// A folder this process created and holds open without delete sharing from
// its creation until CleanUp: nobody else can rename, move or delete it.
class PinnedFolder {
public:
  PinnedFolder() = default;
  PinnedFolder(PinnedFolder&&) = default;
  PinnedFolder& operator=(PinnedFolder&&) = default;

  bool valid() const { return handle_.valid(); }
  const std::wstring& path() const { return path_; } // ends in a backslash
  const FolderIdentity& identity() const { return identity_; }

  // Whether path() still leads to this very folder (and not through a link).
  bool StillInPlace() const;
  // Deletes the plain files directly inside (only while the folder is still
  // in place), then the folder itself if it is empty, and lets go of it.
  // Silent; afterwards the object is empty.
  void CleanUp();

private:
  friend PinnedFolder MakeWorkingFolder(const std::wstring& folder, SECURITY_ATTRIBUTES* security);
  std::wstring path_;
  Qor::UniqueFile handle_;
  FolderIdentity identity_;
};

// Makes a new folder for this run at folder (ending in a backslash; its
// parent must exist), created with the given security (may be null) and
// pinned from the moment it exists. Whatever had that name (a folder, a file
// or a link) is first moved aside whole to a unique name in the same parent
// and removed with RemoveTreeWithoutLinks. When the name stays taken (a
// leftover in use), a new folder with a unique name in the same parent is
// made instead. Raises QorWin32::Win32Error 422 "Unable to create directory
// %s", with the system's reason, only when no folder at all can be made.
PinnedFolder MakeWorkingFolder(const std::wstring& folder, SECURITY_ATTRIBUTES* security);

// Called with a folder's path after its entries have been listed and before
// any of them is opened.
using AfterListing = std::function<void(const std::wstring& folder)>;

// Removes path (a folder, a file or a link) and everything below it without
// ever following a link: each entry is opened as itself, checked on that
// handle and deleted through it; a link is removed as a link, and a folder
// is entered only while it is held open and still the object at its path.
// What cannot be removed that way stays. True when nothing is left.
bool RemoveTreeWithoutLinks(const std::wstring& path, const AfterListing& afterListing = nullptr);

// Whether a clean-up may delete this entry of the folder: plain files only.
bool IsPlainFile(const WIN32_FIND_DATAW& entry);

// The file-system flags (FILE_PERSISTENT_ACLS and the like) of the volume
// that holds the existing path, read through a handle of it; 0 when unknown.
DWORD GetVolumeFlags(const std::wstring& path);

// The temporary folder a run may use: userTemp, except for an elevated run
// whose userTemp lies on a volume that keeps no access lists (FAT, exFAT;
// volumeFlags as GetVolumeInformationW reports them, 0 when unknown): then
// the system's own, windowsFolder + "\Temp\".
std::wstring ChooseTemporaryFolder(const std::wstring& userTemp, bool elevated, DWORD volumeFlags,
                                   const std::wstring& windowsFolder);

// A security descriptor owned by Administrators that grants full access to
// Administrators and SYSTEM only, not inherited from the parent. Owned; null
// when it cannot be built.
class AdminOnlySecurity {
public:
  AdminOnlySecurity();
  AdminOnlySecurity(const AdminOnlySecurity&) = delete;
  AdminOnlySecurity& operator=(const AdminOnlySecurity&) = delete;
  SECURITY_ATTRIBUTES* Get() { return descriptor_ ? &attributes_ : nullptr; }

private:
  Qor::UniqueLocal descriptor_;
  SECURITY_ATTRIBUTES attributes_ = {};
};

} // namespace QorFs
