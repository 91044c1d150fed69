// Helpers shared by the profile, browser, report and location modules.
#pragma once

#include "qor/error/error.h"

#include <exception>
#include <string>

namespace QorEnv {
namespace Detail {

// Runs fn; whatever escapes it becomes the cause of a new library error with
// the given code and message. Standard exceptions and anything unknown are
// first turned into library errors, so the chain always reads from the
// operation down to what failed.
template <class Fn> auto WithContext(int code, const wchar_t* message, Fn fn) -> decltype(fn()) {
  QorError::Exception* cause = nullptr;
  try {
    return fn();
  } catch (QorError::Exception* error) {
    cause = error;
  } catch (const std::exception& error) {
    try {
      QorError::RaiseStdError(code, error);
    } catch (QorError::Exception* translated) {
      cause = translated;
    }
  } catch (...) {
    try {
      QorError::RaiseUnknownError(code);
    } catch (QorError::Exception* unknown) {
      cause = unknown;
    }
  }
  QorError::RaiseError(code, message, cause);
}

// Lower case in the current (global) locale.
std::wstring ToLowerCurrentLocale(const std::wstring& text);

} // namespace Detail
} // namespace QorEnv
