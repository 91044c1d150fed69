// A new file in a folder that nobody can point elsewhere by a link.
#pragma once

#include "qor/handle/unique_handle.h"

#include <string>

namespace QorFs {

// Makes the file name (one component) in the existing folder and opens it
// for writing, shared for reading. Never through a link: the folder itself
// must not be a link (reparse point), and the file is made only where
// nothing at all has that name, a link included; it is never opened when
// something is there. Invalid, with the thread's last error set, otherwise
// (ERROR_FILE_EXISTS for a taken name, ERROR_CANT_ACCESS_FILE for a folder
// that is a link).
Qor::UniqueFile CreateNewFileInFolder(const std::wstring& folder, const std::wstring& name);

} // namespace QorFs
