// A working folder that only its creator controls: made fresh and empty
// before use (whatever was planted there before), and cleaned up only while
// it is still the very folder that was made.
#pragma once

#include <windows.h>

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

// Makes folder (ending in a backslash; its parent must exist) a new, empty
// real folder created with the given security (may be null), and returns its
// identity. A link found there is removed, never followed; leftover contents
// are deleted, read-only ones included. Raises 422 "Unable to create directory
// %s" when that cannot be done.
FolderIdentity CreateFreshFolder(const std::wstring& folder, SECURITY_ATTRIBUTES* security);

// Deletes the plain files directly inside folder, then the folder itself if it
// is empty, but only while folder is still a real folder with the expected
// identity; links and subfolders are left alone. Returns false (deleting
// nothing) when the check fails.
bool CleanFreshFolder(const std::wstring& folder, const FolderIdentity& expected);

// Whether a clean-up may delete this entry of the folder: plain files only.
bool IsPlainFile(const WIN32_FIND_DATAW& entry);

// A security descriptor that grants full access to Administrators and SYSTEM
// only, not inherited from the parent. Owned; null when it cannot be built.
class AdminOnlySecurity {
public:
  AdminOnlySecurity();
  ~AdminOnlySecurity();
  AdminOnlySecurity(const AdminOnlySecurity&) = delete;
  AdminOnlySecurity& operator=(const AdminOnlySecurity&) = delete;
  SECURITY_ATTRIBUTES* Get() { return descriptor_ ? &attributes_ : nullptr; }

private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  SECURITY_ATTRIBUTES attributes_ = {};
};

} // namespace QorFs
