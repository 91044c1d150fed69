// Decodes a bzip2 stream block by block on several threads, handing the
// decoded bytes on in stream order on the calling thread.
#pragma once

#include "qor/payload/compressor.h"
#include "qor/payload_core/payload_core.h"

#include <cstddef>
#include <cstdint>

namespace QorCompressLib {

// Decodes the bzip2 stream in data[0, size) into sink, in stream order (the
// sink may raise: the decoding stops); bytes after the
// stream's end are ignored. threads is how many threads decode, the calling
// thread among them (1: no other thread). The callback, as for
// Bzip2Compressor::Decompress, gets the count of compressed bytes consumed on
// the calling thread. Accepts and refuses exactly what Decompress does, with
// its codes (21026 for a damaged or truncated stream, 21027 for a step of 0).
// Whatever ends the call, no thread outlives it.
void DecompressBlocks(const void* data, std::size_t size, QorPayload::ByteSink& sink,
                      CQorCompressor::ProgressCallback callback, void* context, std::uint32_t step,
                      unsigned threads);

} // namespace QorCompressLib
