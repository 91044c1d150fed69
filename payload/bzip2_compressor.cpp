#include "qor/compressor.h"

#include "qor/error.h"

#include <bzlib.h>

#include <cstring>
#include <exception>
#include <memory>

namespace QorCompressLib {

namespace {

const wchar_t kWriteFailed[] = L"Unable to write to the output stream.";

// One bzip2 stream, ended with the function matching how it was started,
// on every way out of the call.
class Bzip2Stream {
public:
  explicit Bzip2Stream(bool compressing) : compressing_(compressing) {
    std::memset(&stream_, 0, sizeof(stream_));
  }
  ~Bzip2Stream() {
    if (compressing_) {
      BZ2_bzCompressEnd(&stream_);
    } else {
      BZ2_bzDecompressEnd(&stream_);
    }
  }
  Bzip2Stream(const Bzip2Stream&) = delete;
  Bzip2Stream& operator=(const Bzip2Stream&) = delete;
  bz_stream* get() { return &stream_; }

private:
  bool compressing_;
  bz_stream stream_;
};

class Progress {
public:
  Progress(CQorCompressor::ProgressCallback callback, void* context, std::uint32_t step)
      : callback_(callback), context_(context), step_(step) {
    if (callback_ && step_ == 0) {
      QorError::RaiseRangeError(kProgressStepError,
                                L"The progress step must be at least 1 when a callback is given.");
    }
  }
  void Report(const bz_stream& stream) {
    if (!callback_) {
      return;
    }
    const std::uint32_t processed = stream.total_in_lo32;
    const std::uint32_t quotient = processed / step_;
    if (quotient > lastQuotient_) {
      lastQuotient_ = quotient;
      callback_(processed, context_);
    }
  }

private:
  CQorCompressor::ProgressCallback callback_;
  void* context_;
  std::uint32_t step_;
  std::uint32_t lastQuotient_ = 0;
};

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

// Standard exceptions (an allocation failure, a stream set to throw) leave
// the codec as library errors, after the bzip2 stream and buffers are gone.
template <class Body> void TranslateStdErrors(int code, Body body) {
  try {
    body();
  } catch (const std::exception& error) {
    QorError::RaiseStdError(code, error);
  }
}

} // namespace

Bzip2Compressor::Bzip2Compressor(int blockSize, int workFactor, int bufferSize)
    : blockSize_(blockSize), workFactor_(workFactor),
      bufferSize_(bufferSize > 0 ? bufferSize : 8192) {}

std::wstring Bzip2Compressor::GetName() {
  return L"BZIP2 compressor/expander";
}

void Bzip2Compressor::Decompress(std::istream& input, std::ostream& output,
                                 ProgressCallback callback, void* context, std::uint32_t step) {
  Progress progress(callback, context, step);
  TranslateStdErrors(kStreamEndMissing, [&] {
    const int size = bufferSize_;
    std::unique_ptr<char[]> in(new char[size]);
    std::unique_ptr<char[]> out(new char[size]);
    Bzip2Stream holder(false);
    bz_stream& stream = *holder.get();
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
      progress.Report(stream);
      if (!WriteProduced(output, stream, out.get(), size)) {
        QorError::RaiseError(kDecompressWriteError, kWriteFailed);
      }
      // A damaged stream can make every further step fail without consuming
      // input (a block checksum mismatch does), which would never end.
      if (result < 0) {
        QorError::RaiseError(kStreamEndMissing, L"Unable to find the end of compressed stream.");
      }
    }
    while (!streamEnd) {
      stream.next_out = out.get();
      stream.avail_out = static_cast<unsigned int>(size);
      const int result = BZ2_bzDecompress(&stream);
      if (!WriteProduced(output, stream, out.get(), size)) {
        QorError::RaiseError(kDrainWriteError, kWriteFailed);
      }
      if (result == BZ_STREAM_END) {
        streamEnd = true;
      } else if (stream.avail_out == static_cast<unsigned int>(size) || result < 0) {
        QorError::RaiseError(kStreamEndMissing, L"Unable to find the end of compressed stream.");
      }
    }
  });
}

void Bzip2Compressor::Compress(std::istream& input, std::ostream& output, ProgressCallback callback,
                               void* context, std::uint32_t step) {
  Progress progress(callback, context, step);
  TranslateStdErrors(kCompressFinishError, [&] {
    const int size = bufferSize_;
    std::unique_ptr<char[]> in(new char[size]);
    std::unique_ptr<char[]> out(new char[size]);
    Bzip2Stream holder(true);
    bz_stream& stream = *holder.get();
    BZ2_bzCompressInit(&stream, blockSize_, 0, workFactor_);

    while (input.good()) {
      Refill(input, stream, in.get(), size);
      stream.next_out = out.get();
      stream.avail_out = static_cast<unsigned int>(size);
      const int result = BZ2_bzCompress(&stream, BZ_RUN);
      progress.Report(stream);
      if (!WriteProduced(output, stream, out.get(), size)) {
        QorError::RaiseError(kCompressWriteError, kWriteFailed);
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
        QorError::RaiseError(kCompressFinishError, kWriteFailed);
      }
      if (result == BZ_STREAM_END) {
        break;
      }
      // An error result never turns into the stream end: stop instead of
      // asking again forever.
      if (result < 0) {
        QorError::RaiseError(kCompressFinishError, kWriteFailed);
      }
    }
  });
}

} // namespace QorCompressLib
