// How the setup image editor fails: one exception type with a one-line
// English reason, which the tools show as it stands.
#pragma once

#include <stdexcept>
#include <string>

namespace QorPe {

// Any failure of stamping, with a one-line English reason (UTF-8 paths).
class StampError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// For the editor's own files: throws StampError with reason.
[[noreturn]] void Fail(const std::string& reason);
// Fail with what, file, ": " and the C library's description of errno,
// which the caller cleared before the failed open, seek or read; a read that
// failed without an error met a file shorter than it was.
[[noreturn]] void FailReading(const char* what, const std::string& file);

} // namespace QorPe
