#include "qor/setup_image/stamp_error.h"

#include <cerrno>
#include <cstring>

namespace QorPe {

void Fail(const std::string& reason) {
  throw StampError(reason);
}

void FailReading(const char* what, const std::string& file) {
  const int error = errno;
  Fail(what + file + ": " +
       (error != 0 ? std::string(std::strerror(error)) : "it changed while it was read"));
}

} // namespace QorPe
