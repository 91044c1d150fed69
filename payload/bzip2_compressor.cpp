#include "qor/payload/compressor.h"

#include "progress_step.h"

#include "qor/error/error.h"

#include <exception>
#include <memory>

namespace QorCompressLib {

namespace {

// The core's failures become the library's errors with the same code and
// text; standard exceptions (an allocation failure, a stream set to throw)
// are translated. Errors a progress callback throws pass through.
template <class Body> void RaiseLibraryErrors(int code, Body body) {
  try {
    body();
  } catch (QorPayload::Error* error) {
    std::unique_ptr<QorPayload::Error> owned(error);
    const std::wstring message(owned->GetMessage().begin(), owned->GetMessage().end());
    QorError::RaiseError(owned->GetCode(), message.c_str());
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
  CheckProgressStep(callback, step);
  RaiseLibraryErrors(kStreamEndMissing, [&] {
    DecompressStream(input, output, callback, context, step, bufferSize_);
  });
}

void Bzip2Compressor::Compress(std::istream& input, std::ostream& output, ProgressCallback callback,
                               void* context, std::uint32_t step) {
  CheckProgressStep(callback, step);
  RaiseLibraryErrors(kCompressFinishError, [&] {
    CompressStream(input, output, callback, context, step, blockSize_, workFactor_, bufferSize_);
  });
}

} // namespace QorCompressLib
