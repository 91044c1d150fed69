// The entries of one folder, for a range-for:
//
//   QorFs::FolderEntries entries(folder);
//   if (!entries.opened()) { ... entries.error() tells why ... }
//   for (const QorFs::FolderEntry& entry : entries) { ... }
//
// "." and ".." are never listed. The search handle is owned: it closes at the
// end of the listing, or with the object when the loop is left early.
#pragma once

#include "qor/handle/unique_handle.h"

#include <windows.h>

#include <cstdint>
#include <string>

namespace QorFs {

// An entry's size as a directory search reports it.
inline std::uint64_t EntrySize(const WIN32_FIND_DATAW& data) {
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

class FolderEntry {
public:
  const wchar_t* name() const { return data_.cFileName; }
  DWORD attributes() const { return data_.dwFileAttributes; }
  // Also true for a link to a folder (a reparse point with the folder attribute).
  bool IsFolder() const { return (data_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
  std::uint64_t size() const { return EntrySize(data_); }
  // Everything the search reported, for callers that need the times or the
  // short name, or hand the record on.
  const WIN32_FIND_DATAW& data() const { return data_; }

private:
  friend class FolderEntries;
  WIN32_FIND_DATAW data_ = {};
};

class FolderEntries {
public:
  // Lists folder. A separator at its end is optional ('/' counts as one); an
  // empty text lists the current folder.
  explicit FolderEntries(const std::wstring& folder);
  FolderEntries(const FolderEntries&) = delete;
  FolderEntries& operator=(const FolderEntries&) = delete;

  // False when the folder could not be listed at all: missing, not a folder,
  // no access. An empty folder is opened and lists nothing.
  bool opened() const { return opened_; }
  // The system's error that ended the listing: the reason it could not be
  // opened, ERROR_NO_MORE_FILES after the last entry, or what made a later
  // step fail. ERROR_SUCCESS while entries remain.
  DWORD error() const { return error_; }

  // A single pass: every iterator walks the same listing.
  class Iterator {
  public:
    const FolderEntry& operator*() const { return owner_->current_; }
    const FolderEntry* operator->() const { return &owner_->current_; }
    Iterator& operator++() {
      owner_->Advance();
      return *this;
    }
    bool operator==(const Iterator& other) const { return AtEnd() == other.AtEnd(); }
    bool operator!=(const Iterator& other) const { return !(*this == other); }

  private:
    friend class FolderEntries;
    explicit Iterator(FolderEntries* owner) : owner_(owner) {}
    bool AtEnd() const { return !owner_ || !owner_->search_; }
    FolderEntries* owner_;
  };

  Iterator begin() { return Iterator(this); }
  Iterator end() { return Iterator(nullptr); }

private:
  // Moves to the next entry that is not "." or ".."; closes the search after
  // the last one.
  void Advance();

  Qor::UniqueFind search_;
  FolderEntry current_;
  bool opened_ = false;
  DWORD error_ = ERROR_SUCCESS;
};

// The directory entry of exactly path (a file or folder name, no wildcards),
// as a listing of its folder reports it. False when nothing of that name can
// be found; the thread's last error then tells why.
bool LookUpEntry(const std::wstring& path, WIN32_FIND_DATAW& data);

} // namespace QorFs
