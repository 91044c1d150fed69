// Folder probes and clean-ups over tables of locations, where a location is
// a special folder of a named user followed by a path, or a path alone.
#pragma once

#include "qor/reg_changes/change_table.h"
#include "qor/fs/fs_find.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace QorFs {

// folderId: a special-folder id, or a negative number for the path alone.
struct FolderProbe {
  int folderId;
  const wchar_t* path;
};

// folderId: a special-folder id, or 0 and below for the path alone.
// includes and excludes: null-terminated lists of expressions (or null).
struct CleanLocation {
  int folderId;
  const wchar_t* path;
  const wchar_t* const* includes;
  const wchar_t* const* excludes;
};

// True at the first row that names an existing folder. Special-folder errors
// pass through.
bool AnyFolderExists(const FolderProbe* rows, std::size_t count, const QorReg::UserRecord& user);

// Runs a finder with the given mode (FileFinder flags) over every row. Rows
// that resolve to an empty path are skipped.
void CleanLocations(const CleanLocation* table, std::size_t rows, const std::wstring& user,
                    std::uint32_t mode, bool caseSensitive, DeleteStats* stats);
// Deletes the matching entries.
void DeleteLocations(const CleanLocation* table, std::size_t rows, const std::wstring& user,
                     bool caseSensitive, DeleteStats* stats);
// Wipes and deletes the matching entries.
void WipeLocations(const CleanLocation* table, std::size_t rows, const std::wstring& user,
                   bool caseSensitive, DeleteStats* stats);

namespace Detail {
// The folder a location names, ending in a backslash; empty when it names
// nothing.
std::wstring LocationRoot(const std::wstring& specialFolder, const wchar_t* path);
} // namespace Detail

} // namespace QorFs
