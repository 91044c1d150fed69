// The error wrapping shared by every registry operation.
#pragma once

#include "qor/error/error.h"

#include <exception>
#include <memory>
#include <string>

namespace QorReg {
namespace Detail {

// Makes the caught error the cause of a new RegError with the layer's text.
template <class Message>
[[noreturn]] void RaiseWrapped(int code, QorError::Exception* caught, Message& message) {
  std::unique_ptr<QorError::Exception> cause(caught);
  std::wstring text = message();
  std::unique_ptr<RegError> error(new RegError(code, nullptr, cause.get()));
  cause.release();
  error->GetStream() << text;
  throw error.release();
}

// Runs one operation and turns whatever escapes it into the operation's
// error: library errors become the cause of a RegError with code, standard
// exceptions are translated and anything else is reported as unknown, both
// with otherCode. The message is built only on failure.
template <class Message, class Body>
auto Guarded(int code, int otherCode, Message&& message, Body&& body) -> decltype(body()) {
  try {
    return body();
  } catch (QorError::Exception* error) {
    RaiseWrapped(code, error, message);
  } catch (const std::exception& error) {
    QorError::RaiseStdError(otherCode, error);
  } catch (...) {
    QorError::RaiseUnknownError(otherCode);
  }
}

} // namespace Detail
} // namespace QorReg
