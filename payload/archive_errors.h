// The archive reader's errors, shared by the in-memory and streaming
// extractors so that both report a fault in the same words.
#pragma once

#include "qor/payload/archive.h"
#include "qor/error/error.h"
#include "qor/text/text.h"

#include <string>

namespace QorPayload {

// A fault of the archive's bytes: no system call failed, so no system error
// goes with it.
[[noreturn]] inline void RaiseCorrupted() {
  QorError::RaiseError(QorArchiveFormat::kCorruptedError, L"Archive is corrupted.");
}

inline std::wstring ExtractErrorText(const std::wstring& details) {
  return QorString::FormatText(L"Error while extracting file from archive. Details: %s",
                               details.c_str());
}

[[noreturn]] inline void RaiseExtractError(const std::wstring& details) {
  QorError::RaiseError(QorArchiveFormat::kExtractError, ExtractErrorText(details).c_str());
}

// Raises 21014 when name is not one the setup can write into its folder.
inline void CheckEntryName(const std::wstring& name) {
  std::wstring reason;
  if (!QorArchiveFormat::IsSafeEntryName(name, &reason)) {
    RaiseExtractError(L"unsafe entry name \"" + name + L"\": " + reason);
  }
}

} // namespace QorPayload
