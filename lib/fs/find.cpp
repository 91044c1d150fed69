#include "qor/fs/fs_find.h"

#include "qor/handle/critical_section.h"
#include "qor/fs/delete.h"
#include "qor/fs/folder_entries.h"
#include "qor/text/text.h"
#include "qor/text/path.h"

#include <boost/regex.hpp>

namespace QorFs {

namespace {

// Boost.Regex is built without its own locks (the win32 thread model has no
// std::mutex), yet it keeps process-wide state: the cache of character traits
// that every expression's construction goes through, and the matcher's cache
// of memory blocks. Filters of finders on different threads would race on
// them. Every use of Boost.Regex here (compiling, matching and destroying an
// expression) holds this one lock, so no two threads are ever inside
// Boost.Regex at once, whatever state it keeps; other threads only wait for
// the match in progress.
// Created on first use (the compiler guards that against a race), so that a
// filter made during another file's static initialisation finds it ready.
Qor::CriticalSection& TheRegexLock() {
  static Qor::CriticalSection lock;
  return lock;
}

class RegexGuard : Qor::Locked {
public:
  RegexGuard() : Qor::Locked(TheRegexLock()) {}
};

} // namespace

struct FileFilter::Expression {
  // Lets the compiled expression go under the lock; the member left behind
  // is empty and its own destruction touches nothing shared.
  ~Expression() {
    RegexGuard guard;
    boost::wregex().swap(regex);
  }
  boost::wregex regex;
};

FileFilter::FileFilter(std::uint32_t flags, const std::wstring& expression)
    : flags_(flags), expression_(new Expression) {
  boost::wregex::flag_type options = boost::wregex::perl;
  if (!(flags & CaseSensitive)) {
    options |= boost::wregex::icase;
  }
  RegexGuard guard;
  expression_->regex.assign(expression, options);
}

FileFilter::FileFilter(std::uint32_t flags, const std::set<std::wstring>& names) : flags_(flags) {
  for (const auto& name : names) {
    names_.insert(QorString::ToLower(name));
  }
}

FileFilter::~FileFilter() = default;

bool FileFilter::Matches(const std::wstring& relativePath, const WIN32_FIND_DATAW& entry) const {
  const std::wstring name = entry.cFileName;
  if (flags_ & MatchExpression) {
    const std::wstring tested = (flags_ & MatchRelativePath) ? relativePath + name : name;
    if (!expression_) {
      return false;
    }
    RegexGuard guard;
    if (!boost::regex_match(tested, expression_->regex)) {
      return false;
    }
  } else if (flags_ & MatchNameSet) {
    if (!names_.count(QorString::ToLower(name))) {
      return false;
    }
  }
  const bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return (flags_ & AcceptAll) == AcceptAll || ((flags_ & AcceptFolders) && isFolder) ||
         ((flags_ & AcceptFiles) && !isFolder);
}

EntryKind ClassifyEntry(const WIN32_FIND_DATAW& entry) {
  const bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const bool isLink = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (isFolder) {
    return isLink ? EntryKind::FolderLink : EntryKind::Folder;
  }
  return isLink ? EntryKind::FileLink : EntryKind::File;
}

bool IsProtectedUserFolder(const std::wstring& path) {
  const std::wstring lower = QorString::ToLower(path);
  return lower.find(L"my documents") != std::wstring::npos ||
         lower.find(L"my pictures") != std::wstring::npos ||
         lower.find(L"my music") != std::wstring::npos;
}

void FileFinder::ReportFailure(const std::wstring& path) const {
  if (callback) {
    callback(path.c_str(), userData);
  }
}

namespace {

bool AnyMatches(const std::vector<std::unique_ptr<FileFilter>>& filters,
                const std::wstring& relativePath, const WIN32_FIND_DATAW& entry) {
  for (const auto& filter : filters) {
    if (filter->Matches(relativePath, entry)) {
      return true;
    }
  }
  return false;
}

} // namespace

void FileFinder::Traverse(const std::wstring& relativePath) {
  const std::wstring folder = root + relativePath;
  const bool deleting = (flags & DeleteMode) != 0;
  if (deleting && IsProtectedUserFolder(folder)) {
    return;
  }
  std::vector<std::wstring> toVisit;
  std::vector<std::wstring> toRemove;
  {
    FolderEntries entries(folder);
    if (!entries.opened()) {
      return;
    }
    for (const FolderEntry& found : entries) {
      const WIN32_FIND_DATAW& entry = found.data();
      const std::wstring name = found.name();
      if (AnyMatches(excludes, relativePath, entry)) {
        continue;
      }
      const EntryKind kind = ClassifyEntry(entry);
      // A link is never entered: it may lead anywhere outside the tree.
      if ((flags & Recurse) && kind == EntryKind::Folder) {
        toVisit.push_back(name);
      }
      if (!includes.empty() && !AnyMatches(includes, relativePath, entry)) {
        continue;
      }
      const bool isFolder = kind == EntryKind::Folder || kind == EntryKind::FolderLink;
      if (deleting) {
        if ((flags & Recurse) && kind == EntryKind::Folder) {
          toRemove.push_back(name);
        } else if (!DeleteEntry(isFolder, *this, folder + name, entry)) {
          continue;
        }
      }
      if (flags & RecordResults) {
        results.push_back((flags & RelativeResults) ? relativePath + name : folder + name);
      }
      if (flags & CountEntries) {
        ++matchedCount;
        if (isFolder) {
          ++folderCount;
        }
        totalSize += found.size();
      }
    }
  }

  for (const auto& name : toVisit) {
    Traverse(relativePath + name + L"\\");
  }

  for (const auto& name : toRemove) {
    const std::wstring path = folder + name;
    const bool removed = RemoveFolderAlways(path);
    if (!removed) {
      ReportFailure(path);
    }
    if (!removed && (flags & CountEntries)) {
      --matchedCount;
      --folderCount;
    }
  }
}

bool DeleteEntry(bool isFolder, FileFinder& finder, const std::wstring& path,
                 const WIN32_FIND_DATAW& record) {
  const bool isLink = (record.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (!isFolder && !isLink && (finder.flags & FileFinder::WipeFiles)) {
    WipeFile(path, &record, true, WipeDefaultFlags, GetDefaultWipePattern());
    return true;
  }
  // Removing a junction or directory link removes the link only; deleting a
  // file link removes the link, never its target.
  if (isFolder ? RemoveFolderAlways(path) : DeleteFileAlways(path)) {
    return true;
  }
  finder.ReportFailure(path);
  return false;
}

namespace {

void ListEntries(const std::wstring& folder, std::uint32_t typeFlag,
                 std::vector<std::wstring>& names) {
  FileFinder finder;
  finder.root = QorString::WithTrailingBackslash(folder, QorString::EmptyPath::StaysEmpty);
  finder.includes.emplace_back(new FileFilter(FileFilter::MatchExpression | typeFlag, L".*"));
  finder.flags = FileFinder::RecordResults | FileFinder::RelativeResults;
  finder.Traverse(L"");
  names.insert(names.end(), finder.results.begin(), finder.results.end());
}

} // namespace

void ListSubfolders(const std::wstring& folder, std::vector<std::wstring>& names) {
  ListEntries(folder, FileFilter::AcceptFolders, names);
}

void ListFiles(const std::wstring& folder, std::vector<std::wstring>& names) {
  ListEntries(folder, FileFilter::AcceptFiles, names);
}

void DeleteTree(const std::wstring& folder, DeleteStats* stats, bool wipe, const wchar_t* pattern,
                bool recurse, FailureCallback callback, std::uint32_t userData) {
  FileFinder finder;
  finder.root = QorString::WithTrailingBackslash(folder, QorString::EmptyPath::StaysEmpty);
  finder.flags = FileFinder::DeleteMode;
  if (stats) {
    finder.flags |= FileFinder::CountEntries;
  }
  if (wipe) {
    finder.flags |= FileFinder::WipeFiles;
  }
  if (recurse) {
    finder.flags |= FileFinder::Recurse;
  }
  if (pattern) {
    finder.includes.emplace_back(
        new FileFilter(FileFilter::MatchExpression | FileFilter::AcceptAll, pattern));
  }
  finder.callback = callback;
  finder.userData = userData;
  finder.Traverse(L"");
  if (stats) {
    stats->entries += finder.matchedCount;
    stats->bytes += finder.totalSize;
  }
}

namespace {

std::wstring Prefixed(const wchar_t* prefix, const wchar_t* name) {
  return prefix ? std::wstring(prefix) + name : std::wstring(name);
}

} // namespace

void DeleteFiles(const wchar_t* const* names, std::size_t count, const wchar_t* prefix,
                 DeleteStats* stats) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::wstring path = Prefixed(prefix, names[i]);
    if (!stats) {
      DeleteFileW(path.c_str());
      continue;
    }
    WIN32_FIND_DATAW record;
    if (!LookUpEntry(path, record)) {
      continue; // already gone: done, but not counted
    }
    if (DeleteFileW(path.c_str())) {
      stats->entries += 1;
      stats->bytes += EntrySize(record);
    }
  }
}

void WipeFiles(const wchar_t* const* names, std::size_t count, const wchar_t* prefix,
               DeleteStats* stats, WipePattern* pattern) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::wstring path = Prefixed(prefix, names[i]);
    if (!stats) {
      WipeFile(path, nullptr, true, WipeDefaultFlags, pattern);
      continue;
    }
    WIN32_FIND_DATAW record;
    if (!LookUpEntry(path, record)) {
      continue;
    }
    if (WipeFile(path, &record, true, WipeDefaultFlags, pattern)) {
      stats->entries += 1;
      stats->bytes += EntrySize(record);
    }
  }
}

} // namespace QorFs
