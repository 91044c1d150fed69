// The codecs' progress rule: the callback hears of the bytes consumed once
// per new multiple of the step, never more often.
#pragma once

#include "qor/payload_core/bzip2_core.h"

#include <cstdint>

namespace QorCompressLib {

class ProgressSteps {
public:
  // step must not be 0 when a callback is given (the callers check it).
  ProgressSteps(ProgressFunction callback, void* context, std::uint32_t step)
      : callback_(callback), context_(context), step_(step) {}

  // The callback gets the low 32 bits of consumed, as its parameter holds.
  void Report(std::uint64_t consumed) {
    if (!callback_) {
      return;
    }
    const std::uint32_t processed = static_cast<std::uint32_t>(consumed);
    const std::uint32_t quotient = processed / step_;
    if (quotient > lastQuotient_) {
      lastQuotient_ = quotient;
      callback_(processed, context_);
    }
  }

private:
  ProgressFunction callback_;
  void* context_;
  std::uint32_t step_;
  std::uint32_t lastQuotient_ = 0;
};

} // namespace QorCompressLib
