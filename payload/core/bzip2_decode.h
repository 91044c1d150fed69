// The sequential expansion as the block-parallel decoder falls back on it.
#pragma once

#include "progress_steps.h"

#include "qor/payload_core/payload_core.h"

#include <cstddef>
#include <cstdint>

namespace QorCompressLib {

// Expands the bzip2 stream in data[0, size) on the calling thread, accepting
// and refusing what ExpandBzip2 does, and gives sink its output after the
// first skip bytes (given before by other means). progress hears of the
// compressed bytes consumed, last of the stream's whole length.
void ExpandBzip2Memory(const unsigned char* data, std::size_t size, std::uint64_t skip,
                       QorPayload::ByteSink& sink, ProgressSteps& progress);

} // namespace QorCompressLib
