// Removal of chosen entries of a folder, through handles. Internal to lib/fs.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace QorFs {
namespace Detail {

// Shown each candidate opened as itself (with READ_CONTROL besides what its
// removal needs) and its information; true to remove it.
using FolderChoice = std::function<bool(HANDLE folder, const BY_HANDLE_FILE_INFORMATION& info,
                                        const std::wstring& name)>;

// Every entry directly in folder that its listing shows as a plain folder
// (no link, no file) named prefix and more is opened as itself through
// folder's handle and shown to choose; those chosen are removed whole,
// without following a link, through that same handle (what is in use
// stays). Returns how many went.
int RemoveChosenFolders(const std::wstring& folder, const std::wstring& prefix,
                        const FolderChoice& choose);

} // namespace Detail
} // namespace QorFs
