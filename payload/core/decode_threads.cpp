#include "qor/payload_core/processors.h"

#include <algorithm>

namespace QorPackThreads {

unsigned DecodeThreads(unsigned requested) {
  return std::max(1u, std::min(requested, kMaxDecodeThreads));
}

unsigned DefaultDecodeThreads() {
  return DecodeThreads(CountProcessors());
}

} // namespace QorPackThreads
