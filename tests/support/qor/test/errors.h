// Catching the library's thrown errors in tests.
#pragma once

#include "qor/error/error.h"

#include <memory>

namespace QorTest {

using ErrorPtr = std::unique_ptr<QorError::Exception>;

// The library error that body throws, owned, or null when it throws none.
template <class F> ErrorPtr Catch(F&& body) {
  try {
    body();
  } catch (QorError::Exception* error) {
    return ErrorPtr(error);
  }
  return nullptr;
}

} // namespace QorTest
