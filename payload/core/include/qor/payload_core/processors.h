// How many processors this process may run on, and how many threads
// expand one bzip2 stream.
#pragma once

namespace QorPackThreads {

// At least 1.
unsigned CountProcessors();

// The most threads that expand one stream. Each holds about 5 MB (the
// block decoder's memory at level 9 and its buffers; 8.6 MB with up to four
// threads, whose decoders walk each block two ways) and each block waiting
// its turn up to 2 MB: eight keep an expansion within 64 MB beyond the
// compressed data.
constexpr unsigned kMaxDecodeThreads = 8;

// The expanding threads for a request of requested: 1 to kMaxDecodeThreads.
unsigned DecodeThreads(unsigned requested);

// One per processor this process may run on, at most kMaxDecodeThreads:
// the expanding threads when the caller names none.
unsigned DefaultDecodeThreads();

} // namespace QorPackThreads
