// The library codecs' check of the progress step, shared by the sequential
// and the block-parallel decoder.
#pragma once

#include "qor/payload/compressor.h"
#include "qor/error/error.h"

#include <cstdint>

namespace QorCompressLib {

inline void CheckProgressStep(CQorCompressor::ProgressCallback callback, std::uint32_t step) {
  if (callback && step == 0) {
    QorError::RaiseRangeError(kProgressStepError,
                              L"The progress step must be at least 1 when a callback is given.");
  }
}

} // namespace QorCompressLib
