#include "bzip2_decode.h"

#include "qor/payload_core/bzip2_core.h"

#include "bzip2_stream.h"

#include <bzlib.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <new>

namespace QorCompressLib {

namespace {

[[noreturn]] void RaiseStreamEndMissing() {
  QorPayload::RaiseError(kStreamEndMissing, kStreamEndMissingText);
}

// One libbz2 stream from start to end: refill(stream) makes more input
// available (none at the end of the input); the output after its first skip
// bytes goes to sink.
template <class Refill>
void Expand(Refill refill, std::uint64_t skip, QorPayload::ByteSink& sink,
            ProgressSteps* progress) {
  const std::size_t kPiece = 1 << 16;
  std::unique_ptr<char[]> out(new char[kPiece]);
  Bzip2Stream holder(Bzip2Stream::kDecompress);
  bz_stream& stream = holder.get();
  if (BZ2_bzDecompressInit(&stream, 0, 0) != BZ_OK) {
    throw std::bad_alloc();
  }
  bool inputEnded = false;
  for (;;) {
    if (stream.avail_in == 0 && !inputEnded) {
      refill(stream);
      inputEnded = stream.avail_in == 0;
    }
    stream.next_out = out.get();
    stream.avail_out = static_cast<unsigned int>(kPiece);
    const int result = BZ2_bzDecompress(&stream);
    const std::size_t produced = kPiece - stream.avail_out;
    const std::size_t dropped = static_cast<std::size_t>(std::min<std::uint64_t>(skip, produced));
    skip -= dropped;
    if (produced > dropped) {
      sink.Write(out.get() + dropped, produced - dropped);
    }
    if (progress) {
      progress->Report(static_cast<std::uint64_t>(stream.total_in_hi32) << 32 |
                       stream.total_in_lo32);
    }
    if (result == BZ_STREAM_END) {
      return;
    }
    // Damaged data, or data that ended before the stream did.
    if (result != BZ_OK || (inputEnded && stream.avail_in == 0 && produced == 0)) {
      RaiseStreamEndMissing();
    }
  }
}

} // namespace

void ExpandBzip2(QorPayload::ByteSource& source, QorPayload::ByteSink& sink) {
  const std::size_t kPiece = 1 << 16;
  std::unique_ptr<char[]> in(new char[kPiece]);
  Expand(
      [&](bz_stream& stream) {
        stream.next_in = in.get();
        stream.avail_in = static_cast<unsigned int>(source.Read(in.get(), kPiece));
      },
      0, sink, nullptr);
}

void ExpandBzip2Memory(const unsigned char* data, std::size_t size, std::uint64_t skip,
                       QorPayload::ByteSink& sink, ProgressSteps& progress) {
  std::size_t at = 0;
  Expand(
      [&](bz_stream& stream) {
        const std::size_t take = std::min<std::size_t>(size - at, UINT_MAX);
        stream.next_in = const_cast<char*>(reinterpret_cast<const char*>(data + at));
        stream.avail_in = static_cast<unsigned int>(take);
        at += take;
      },
      skip, sink, &progress);
}

} // namespace QorCompressLib
