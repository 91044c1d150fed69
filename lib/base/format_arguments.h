// Formats a function's variable arguments into a text, ending the argument
// list on every way out: the formatting may throw. A macro, since the list
// must be started and ended in the variadic function itself.
#pragma once

#include "qor/text/text.h"

#include <cstdarg>

#define QOR_FORMAT_ARGUMENTS(out, format, last)                                                    \
  do {                                                                                             \
    va_list qorArguments;                                                                          \
    va_start(qorArguments, last);                                                                  \
    try {                                                                                          \
      QorString::FormatV(out, format, qorArguments);                                               \
    } catch (...) {                                                                                \
      va_end(qorArguments);                                                                        \
      throw;                                                                                       \
    }                                                                                              \
    va_end(qorArguments);                                                                          \
  } while (false)
