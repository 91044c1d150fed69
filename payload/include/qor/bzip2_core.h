// bzip2 streams for the payload: sequential expansion and block-parallel
// compression into one standard stream.
#pragma once

#include "qor/payload_core.h"

#include <cstdint>
#include <memory>

namespace QorCompressLib {

enum : int {
  kParallelCompressError = 21028,
  kExpandStreamError = 21026,
};

// Expands one bzip2 stream; bytes after its end are not read or are ignored.
// Raises 21026 "Unable to find the end of compressed stream." for damaged or
// truncated data.
void ExpandBzip2(QorPayload::ByteSource& source, QorPayload::ByteSink& sink);

// Compresses exactly totalSize bytes, given through Write, into one bzip2
// stream (block size 900 kB, work factor 30) written to sink. The data is
// cut into blocks where libbz2 itself would cut them when given the whole
// data at once, each block is compressed on its own on one of threads
// threads, and the blocks are joined bit for bit in order: the result is the
// same for every thread count, and the same as libbz2's one-call result.
// Memory stays bounded (about 8 MB per thread plus 32 MB of data in flight).
class ParallelBzip2Compressor {
public:
  static constexpr unsigned kMaxThreads = 16;

  ParallelBzip2Compressor(QorPayload::ByteSink& sink, unsigned threads, std::uint64_t totalSize);
  ~ParallelBzip2Compressor();
  ParallelBzip2Compressor(const ParallelBzip2Compressor&) = delete;
  ParallelBzip2Compressor& operator=(const ParallelBzip2Compressor&) = delete;

  void Write(const char* data, std::size_t size);
  // Writes the rest and the stream's end; all of totalSize must have come.
  void Finish();

private:
  struct State;
  std::unique_ptr<State> state_;
};

} // namespace QorCompressLib
