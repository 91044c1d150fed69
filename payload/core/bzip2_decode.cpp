#include "qor/payload_core/bzip2_core.h"

#include "bzip2_stream.h"

#include <bzlib.h>

#include <memory>
#include <new>

namespace QorCompressLib {

namespace {

[[noreturn]] void RaiseStreamEndMissing() {
  QorPayload::RaiseError(kStreamEndMissing, kStreamEndMissingText);
}

} // namespace

void ExpandBzip2(QorPayload::ByteSource& source, QorPayload::ByteSink& sink) {
  const std::size_t kPiece = 1 << 16;
  std::unique_ptr<char[]> in(new char[kPiece]);
  std::unique_ptr<char[]> out(new char[kPiece]);
  Bzip2Stream holder(Bzip2Stream::kDecompress);
  bz_stream& stream = holder.get();
  if (BZ2_bzDecompressInit(&stream, 0, 0) != BZ_OK) {
    throw std::bad_alloc();
  }
  bool inputEnded = false;
  for (;;) {
    if (stream.avail_in == 0 && !inputEnded) {
      const std::size_t got = source.Read(in.get(), kPiece);
      inputEnded = got == 0;
      stream.next_in = in.get();
      stream.avail_in = static_cast<unsigned int>(got);
    }
    stream.next_out = out.get();
    stream.avail_out = static_cast<unsigned int>(kPiece);
    const int result = BZ2_bzDecompress(&stream);
    const std::size_t produced = kPiece - stream.avail_out;
    if (produced) {
      sink.Write(out.get(), produced);
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

} // namespace QorCompressLib
