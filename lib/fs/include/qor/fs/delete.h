// Deleting files and folders whatever their read-only mark says: the one
// policy for every caller of the library. Nothing here raises; a failure
// leaves the system's reason as the thread's last error.
#pragma once

#include <windows.h>

#include <string>

namespace QorFs {

// Deletes the file (or file link) at path. When that fails and the file is
// read-only, the mark is cleared and the deletion tried once more; the mark
// stays cleared if that fails too. False when the file stays: the last error
// is then the failed deletion's, or that of clearing the mark when the mark
// could not be cleared.
bool DeleteFileAlways(const std::wstring& path);

// The same for the empty folder (or folder link) at path.
bool RemoveFolderAlways(const std::wstring& path);

// The same through a handle of the object itself, for callers that check
// what they delete on the handle first. handle must be opened with DELETE,
// FILE_READ_ATTRIBUTES and FILE_WRITE_ATTRIBUTES access; info is what
// GetFileInformationByHandle reports for it. The read-only mark is cleared
// first, through the handle, except on a link and on a file with more than
// one name (the mark is shared with names elsewhere, which may be anybody's
// file). The object goes when its last handle closes.
bool DeleteOpenedAlways(HANDLE handle, const BY_HANDLE_FILE_INFORMATION& info);

} // namespace QorFs
