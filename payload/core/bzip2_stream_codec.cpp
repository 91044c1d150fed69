// The library's bzip2 codec between standard streams, with its progress
// contract and error codes (Bzip2Compressor is a thin layer over it).
#include "qor/payload_core/bzip2_core.h"

#include "bzip2_stream.h"
#include "progress_steps.h"

#include <bzlib.h>

#include <memory>

namespace QorCompressLib {

namespace {

void Refill(std::istream& input, bz_stream& stream, char* buffer, int size) {
  if (stream.avail_in != 0) {
    return;
  }
  input.read(buffer, size);
  stream.next_in = buffer;
  stream.avail_in = static_cast<unsigned int>(input.gcount());
}

// Writes what the last step produced; false when the output stream failed.
bool WriteProduced(std::ostream& output, const bz_stream& stream, const char* buffer, int size) {
  const unsigned int produced = static_cast<unsigned int>(size) - stream.avail_out;
  if (produced == 0) {
    return true;
  }
  output.write(buffer, produced);
  return output.good();
}

} // namespace

void DecompressStream(std::istream& input, std::ostream& output, ProgressFunction callback,
                      void* context, std::uint32_t step, int bufferSize) {
  ProgressSteps progress(callback, context, step);
  {
    const int size = bufferSize;
    std::unique_ptr<char[]> in(new char[size]);
    std::unique_ptr<char[]> out(new char[size]);
    Bzip2Stream holder(Bzip2Stream::kDecompress);
    bz_stream& stream = holder.get();
    BZ2_bzDecompressInit(&stream, 0, 0);

    bool streamEnd = false;
    while (!streamEnd && input.good()) {
      Refill(input, stream, in.get(), size);
      stream.next_out = out.get();
      stream.avail_out = static_cast<unsigned int>(size);
      const int result = BZ2_bzDecompress(&stream);
      if (result == BZ_STREAM_END) {
        streamEnd = true;
      }
      progress.Report(stream.total_in_lo32);
      if (!WriteProduced(output, stream, out.get(), size)) {
        QorPayload::RaiseError(kDecompressWriteError, kWriteFailedText);
      }
      // A damaged stream can make every further step fail without consuming
      // input (a block checksum mismatch does), which would never end.
      if (result < 0) {
        QorPayload::RaiseError(kStreamEndMissing, kStreamEndMissingText);
      }
    }
    while (!streamEnd) {
      stream.next_out = out.get();
      stream.avail_out = static_cast<unsigned int>(size);
      const int result = BZ2_bzDecompress(&stream);
      if (!WriteProduced(output, stream, out.get(), size)) {
        QorPayload::RaiseError(kDrainWriteError, kWriteFailedText);
      }
      if (result == BZ_STREAM_END) {
        streamEnd = true;
      } else if (stream.avail_out == static_cast<unsigned int>(size) || result < 0) {
        QorPayload::RaiseError(kStreamEndMissing, kStreamEndMissingText);
      }
    }
    // The last bytes may have been consumed while draining: the last report
    // is of the whole stream.
    progress.Report(stream.total_in_lo32);
  }
}

void CompressStream(std::istream& input, std::ostream& output, ProgressFunction callback,
                    void* context, std::uint32_t step, int blockSize, int workFactor,
                    int bufferSize) {
  ProgressSteps progress(callback, context, step);
  {
    const int size = bufferSize;
    std::unique_ptr<char[]> in(new char[size]);
    std::unique_ptr<char[]> out(new char[size]);
    Bzip2Stream holder(Bzip2Stream::kCompress);
    bz_stream& stream = holder.get();
    BZ2_bzCompressInit(&stream, blockSize, 0, workFactor);

    while (input.good()) {
      Refill(input, stream, in.get(), size);
      stream.next_out = out.get();
      stream.avail_out = static_cast<unsigned int>(size);
      const int result = BZ2_bzCompress(&stream, BZ_RUN);
      progress.Report(stream.total_in_lo32);
      if (!WriteProduced(output, stream, out.get(), size)) {
        QorPayload::RaiseError(kCompressWriteError, kWriteFailedText);
      }
      // Only a stream that failed to start (bad parameters, no memory) gets
      // here; the finishing phase reports it.
      if (result < 0) {
        break;
      }
    }
    for (;;) {
      stream.next_out = out.get();
      stream.avail_out = static_cast<unsigned int>(size);
      const int result = BZ2_bzCompress(&stream, BZ_FINISH);
      if (!WriteProduced(output, stream, out.get(), size)) {
        QorPayload::RaiseError(kCompressFinishError, kWriteFailedText);
      }
      if (result == BZ_STREAM_END) {
        break;
      }
      // An error result never turns into the stream end: stop instead of
      // asking again forever.
      if (result < 0) {
        QorPayload::RaiseError(kCompressFinishError, kWriteFailedText);
      }
    }
  }
}

} // namespace QorCompressLib
