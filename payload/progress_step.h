// The library codecs' check of the progress step, shared by the sequential
// and the block-parallel decoder.
#pragma once

#include "qor/payload/compressor.h"
#include "qor/error/error.h"

#include <cstdint>
#include <string>

namespace QorCompressLib {

inline void CheckProgressStep(CQorCompressor::ProgressCallback callback, std::uint32_t step) {
  if (callback && step == 0) {
    const std::u16string text = kProgressStepText;
    QorError::RaiseRangeError(kProgressStepError, std::wstring(text.begin(), text.end()).c_str());
  }
}

} // namespace QorCompressLib
