// Folder probes and clean-ups over tables of locations.
#include "qor/fs_clean/clean_locations.h"

#include "qor/fs/fs.h"
#include "qor/env/profiles.h"
#include "qor/text/path.h"

#include <memory>
#include <string>

namespace QorFs {

namespace {

void AddFilters(std::vector<std::unique_ptr<FileFilter>>& filters, const wchar_t* const* list,
                std::uint32_t flags) {
  for (std::size_t i = 0; list && list[i]; ++i) {
    filters.push_back(std::make_unique<FileFilter>(flags, list[i]));
  }
}

} // namespace

namespace Detail {
std::wstring LocationRoot(const std::wstring& specialFolder, const wchar_t* path) {
  // An empty root would make the walk start in the working folder.
  return QorString::WithTrailingBackslash(specialFolder + (path ? path : L""),
                                          QorString::EmptyPath::StaysEmpty,
                                          QorString::EndSeparators::BackslashOrSlash);
}
} // namespace Detail

bool AnyFolderExists(const FolderProbe* rows, std::size_t count, const QorReg::UserRecord& user) {
  for (std::size_t i = 0; i < count; ++i) {
    std::wstring folder = rows[i].path ? rows[i].path : L"";
    if (rows[i].folderId >= 0) {
      folder = QorEnv::GetSpecialFolder(rows[i].folderId, user.accountName, 0) + folder;
    }
    if (!folder.empty() && IsDirectory(folder)) {
      return true;
    }
  }
  return false;
}

void CleanLocations(const CleanLocation* table, std::size_t rows, const std::wstring& user,
                    std::uint32_t mode, bool caseSensitive, DeleteStats* stats) {
  const std::uint32_t filterFlags = FileFilter::AcceptAll | FileFilter::MatchExpression |
                                    (caseSensitive ? std::uint32_t(FileFilter::CaseSensitive) : 0u);
  for (std::size_t i = 0; i < rows; ++i) {
    const CleanLocation& row = table[i];
    std::wstring special;
    if (row.folderId > 0) {
      special = QorEnv::GetSpecialFolder(row.folderId, user, QorEnv::VirtualStore);
    }
    FileFinder finder;
    finder.root = Detail::LocationRoot(special, row.path);
    if (finder.root.empty()) {
      continue;
    }
    AddFilters(finder.includes, row.includes, filterFlags);
    AddFilters(finder.excludes, row.excludes, filterFlags);
    finder.flags = mode | (stats ? std::uint32_t(FileFinder::CountEntries) : 0u);
    finder.Traverse(L"");
    if (stats) {
      stats->entries += finder.matchedCount;
      stats->bytes += finder.totalSize;
    }
  }
}

void DeleteLocations(const CleanLocation* table, std::size_t rows, const std::wstring& user,
                     bool caseSensitive, DeleteStats* stats) {
  CleanLocations(table, rows, user, 0x1, caseSensitive, stats);
}

void WipeLocations(const CleanLocation* table, std::size_t rows, const std::wstring& user,
                   bool caseSensitive, DeleteStats* stats) {
  CleanLocations(table, rows, user, 0x7, caseSensitive, stats);
}

} // namespace QorFs
