// Codes of the errors the text functions raise. Values never change.
#pragma once

namespace QorString {

enum ErrorCode : int {
  kFormatTooLongError = 802,  // the formatted text would pass its size limit
  kFormatNoMemoryError = 803, // no memory for the formatted text
};

} // namespace QorString
