// The archive reader's errors, shared by the in-memory and streaming
// extractors so that both report a fault in the same words.
#pragma once

#include "qor/payload/archive.h"
#include "qor/error/error.h"
#include "qor/error/win32_error.h"

#include <string>

namespace QorPayload {

[[noreturn]] inline void RaiseCorrupted() {
  QorWin32::RaiseLastWin32ErrorF(QorArchiveFormat::kCorruptedError, L"Archive is corrupted.");
}

[[noreturn]] inline void RaiseExtractError(const std::wstring& details) {
  QorError::RaiseErrorF(QorArchiveFormat::kExtractError,
                        L"Error while extracting file from archive. Details: %s", details.c_str());
}

// Raises 21014 when name is not one the setup can write into its folder.
inline void CheckEntryName(const std::wstring& name) {
  std::wstring reason;
  if (!QorArchiveFormat::IsSafeEntryName(name, &reason)) {
    RaiseExtractError(L"unsafe entry name \"" + name + L"\": " + reason);
  }
}

} // namespace QorPayload
