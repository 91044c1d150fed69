// Finding, deleting and wiping files: one traversal engine with include and
// exclude filters, and small operations built on it. Deletion never raises;
// failures go to an optional callback and show in the counts.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace QorFs {

using FailureCallback = void (*)(const wchar_t* path, std::uint32_t userData);

class FileFilter {
public:
  enum : std::uint32_t {
    MatchExpression = 0x1,
    CaseSensitive = 0x2,
    MatchRelativePath = 0x4,
    MatchNameSet = 0x8,
    AcceptFolders = 0x10,
    AcceptFiles = 0x20,
    AcceptAll = 0xFFF0,
  };

  // A filter on a regular expression (whole-text match).
  FileFilter(std::uint32_t flags, const std::wstring& expression);
  // A filter on a set of names (compared lower-cased).
  FileFilter(std::uint32_t flags, const std::set<std::wstring>& names);
  ~FileFilter();
  FileFilter(const FileFilter&) = delete;
  FileFilter& operator=(const FileFilter&) = delete;

  bool Matches(const std::wstring& relativePath, const WIN32_FIND_DATAW& entry) const;

private:
  struct Expression;
  std::uint32_t flags_;
  std::unique_ptr<Expression> expression_;
  std::set<std::wstring> names_;
};

// How overwriting fills a file. Write puts count bytes of the pass's pattern
// at the file's current position.
class WipePattern {
public:
  virtual ~WipePattern() = default;
  virtual int GetPassCount() = 0;
  virtual bool Write(HANDLE file, DWORD count, int pass) = 0;
};

// One pass of zeros, then one of random bytes.
class ZeroThenRandomPattern : public WipePattern {
public:
  int GetPassCount() override { return 2; }
  bool Write(HANDLE file, DWORD count, int pass) override;
};

WipePattern* SetDefaultWipePattern(WipePattern* pattern);
WipePattern* GetDefaultWipePattern();

class FileFinder {
public:
  enum : std::uint32_t {
    DeleteMode = 0x1,
    WipeFiles = 0x2,
    RecordResults = 0x10000,
    CountEntries = 0x20000,
    Recurse = 0x80000,
    RelativeResults = 0x200000,
  };

  std::wstring root; // ends in a backslash
  std::vector<std::unique_ptr<FileFilter>> includes;
  std::vector<std::unique_ptr<FileFilter>> excludes;
  std::vector<std::wstring> results;
  std::uint32_t flags = 0;
  std::uint64_t matchedCount = 0;
  std::uint64_t folderCount = 0;
  std::uint64_t totalSize = 0;
  FailureCallback callback = nullptr;
  std::uint32_t userData = 0;

  // Walks root + relativePath (empty or ending in a backslash).
  void Traverse(const std::wstring& relativePath);
  void ReportFailure(const std::wstring& path) const;
};

// What the traversal does with one directory entry. A reparse point (junction,
// symbolic link, mount point) is never entered: it is handled as a link.
enum class EntryKind { File, Folder, FolderLink, FileLink };
EntryKind ClassifyEntry(const WIN32_FIND_DATAW& entry);

struct DeleteStats {
  std::uint64_t entries = 0;
  std::uint64_t reserved = 0;
  std::uint64_t bytes = 0;
};

enum : std::uint32_t {
  WipeOverwrite = 0x1,
  WipeRename = 0x10000,
  WipeZeroTimes = 0x20000,
  WipeSkipLastByte = 0x40000,
  WipeDefaultFlags = 0x30001,
};

bool WipeFile(const std::wstring& path, const WIN32_FIND_DATAW* record, bool deleteAfterwards,
              std::uint32_t wipeFlags, WipePattern* pattern);
bool DeleteEntry(bool isFolder, FileFinder& finder, const std::wstring& path,
                 const WIN32_FIND_DATAW& record);
bool IsProtectedUserFolder(const std::wstring& path);

void ListSubfolders(const std::wstring& folder, std::vector<std::wstring>& names);
void ListFiles(const std::wstring& folder, std::vector<std::wstring>& names);
void DeleteTree(const std::wstring& folder, DeleteStats* stats, bool wipe, const wchar_t* pattern,
                bool recurse, FailureCallback callback = nullptr, std::uint32_t userData = 0);
void DeleteFiles(const wchar_t* const* names, std::size_t count, const wchar_t* prefix,
                 DeleteStats* stats);
void WipeFiles(const wchar_t* const* names, std::size_t count, const wchar_t* prefix,
               DeleteStats* stats, WipePattern* pattern);

} // namespace QorFs
