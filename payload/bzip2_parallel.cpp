// The launcher's face of the core's block-parallel expansion: the library's
// errors, with the core's codes and texts.
#include "bzip2_parallel.h"

#include "progress_step.h"

#include "qor/error/error.h"
#include "qor/error/error_codes.h"

#include <memory>
#include <new>
#include <string>

namespace QorCompressLib {

namespace {

// Remembers whether a failure came from the caller's sink, which passes
// through as it is.
class WatchedSink : public QorPayload::ByteSink {
public:
  explicit WatchedSink(QorPayload::ByteSink& sink) : sink_(sink) {}
  void Write(const char* data, std::size_t size) override {
    try {
      sink_.Write(data, size);
    } catch (...) {
      failed_ = true;
      throw;
    }
  }
  bool failed() const { return failed_; }

private:
  QorPayload::ByteSink& sink_;
  bool failed_ = false;
};

} // namespace

void DecompressBlocks(const void* data, std::size_t size, QorPayload::ByteSink& sink,
                      CQorCompressor::ProgressCallback callback, void* context, std::uint32_t step,
                      unsigned threads) {
  CheckProgressStep(callback, step);
  WatchedSink watched(sink);
  try {
    ExpandBzip2Blocks(data, size, watched, callback, context, step, threads);
  } catch (QorPayload::Error* error) {
    std::unique_ptr<QorPayload::Error> owned(error);
    const std::wstring message(owned->GetMessage().begin(), owned->GetMessage().end());
    QorError::RaiseError(owned->GetCode(), message.c_str());
  } catch (const std::bad_alloc& error) {
    if (watched.failed()) {
      throw;
    }
    QorError::RaiseStdError(QorError::kStdBadAllocError, error);
  }
}

} // namespace QorCompressLib
