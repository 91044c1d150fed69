// bzip2 streams for the payload: the library codec between standard
// streams, and block-parallel compression and expansion.
#pragma once

#include "qor/payload_core/payload_core.h"

#include <cstddef>
#include <cstdint>
#include <istream>
#include <memory>
#include <ostream>

namespace QorCompressLib {

// Error codes raised by the codec.
enum ErrorCode : int {
  kCompressWriteError = 21003,
  kCompressFinishError = 21013,
  kDecompressWriteError = 21024,
  kDrainWriteError = 21025,
  kStreamEndMissing = 21026,
  kProgressStepError = 21027,
  kParallelCompressError = 21028,
};

// The codec's message texts.
inline constexpr char16_t kWriteFailedText[] = u"Unable to write to the output stream.";
inline constexpr char16_t kStreamEndMissingText[] = u"Unable to find the end of compressed stream.";
inline constexpr char16_t kProgressStepText[] =
    u"The progress step must be at least 1 when a callback is given.";

// Called with the count of input bytes consumed so far, once per new
// multiple of step (at least 1); the result is ignored. It may throw: the
// codec then ends its bzip2 stream and lets the error through.
typedef int (*ProgressFunction)(std::uint32_t processed, void* context);

// The library codec's two directions (Bzip2Compressor runs on these): bzip2
// between standard byte streams in pieces of bufferSize bytes. Failures of
// the output stream raise 21003/21013 (compressing) or 21024/21025
// (expanding); damaged or truncated data raises 21026.
void CompressStream(std::istream& input, std::ostream& output, ProgressFunction callback,
                    void* context, std::uint32_t step, int blockSize, int workFactor,
                    int bufferSize);
void DecompressStream(std::istream& input, std::ostream& output, ProgressFunction callback,
                      void* context, std::uint32_t step, int bufferSize);

// Expands one bzip2 stream; bytes after its end are not read or are ignored.
// Raises 21026 "Unable to find the end of compressed stream." for damaged or
// truncated data.
void ExpandBzip2(QorPayload::ByteSource& source, QorPayload::ByteSink& sink);

// The most threads ExpandBzip2Blocks uses. Each holds about 5 MB (the
// block decoder's memory at level 9 and its buffers; 8.6 MB with up to four
// threads, whose decoders walk each block two ways) and each block waiting
// its turn up to 2 MB: eight keep an expansion within 64 MB beyond the
// compressed data.
constexpr unsigned kMaxDecodeThreads = 8;

// Expands the bzip2 stream in data[0, size) into sink like ExpandBzip2,
// decoding its blocks on threads threads (the calling thread among them; 1:
// no other thread; at most kMaxDecodeThreads), and handing the bytes on in
// stream order on the calling thread. Bytes after the stream's end are
// ignored. callback (may be null; then step may be 0) gets the count of
// compressed bytes consumed, on the calling thread. Damaged or truncated
// data raises 21026; when memory runs out std::bad_alloc is thrown; what the
// sink or the callback throws passes through. Whatever ends the call, no
// thread outlives it.
void ExpandBzip2Blocks(const void* data, std::size_t size, QorPayload::ByteSink& sink,
                       ProgressFunction callback, void* context, std::uint32_t step,
                       unsigned threads);

// Compresses exactly totalSize bytes, given through Write, into one bzip2
// stream (block size 900 kB, work factor 30) written to sink. The data is
// cut into blocks where libbz2 itself would cut them when given the whole
// data at once, each block is compressed on its own on one of threads
// threads, and the blocks are joined bit for bit in order: the result is the
// same for every thread count, and the same as libbz2's one-call result.
// Memory stays bounded whatever the data's size: each thread keeps libbz2's
// 7.6 MB for all its blocks, and at most 24 MB of data and compressed
// blocks are in flight (one piece of long runs alone may reach 46 MB); in
// all about 10 MB per thread.
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
