// Stream compressors: the abstract interface and its bzip2 implementation.
#pragma once

#include "qor/payload_core/bzip2_core.h"

#include <cstdint>
#include <istream>
#include <ostream>
#include <string>

class CQorCompressor {
public:
  // Called with the count of input bytes consumed so far; the result is ignored.
  typedef QorCompressLib::ProgressFunction ProgressCallback;

  virtual ~CQorCompressor() {}
  // callback may be null; with a callback, step must be at least 1 (the
  // callback is called once per new multiple of step bytes consumed).
  virtual void Compress(std::istream& input, std::ostream& output, ProgressCallback callback,
                        void* context, std::uint32_t step) = 0;
  virtual void Decompress(std::istream& input, std::ostream& output, ProgressCallback callback,
                          void* context, std::uint32_t step) = 0;
  virtual std::wstring GetName() = 0;
};

namespace QorCompressLib {

class Bzip2Compressor : public CQorCompressor {
public:
  // blockSize in units of 100 000 bytes (1 to 9); bufferSize is the size of
  // each of the two working buffers.
  Bzip2Compressor(int blockSize, int workFactor, int bufferSize);

  void Compress(std::istream& input, std::ostream& output, ProgressCallback callback, void* context,
                std::uint32_t step) override;
  void Decompress(std::istream& input, std::ostream& output, ProgressCallback callback,
                  void* context, std::uint32_t step) override;
  std::wstring GetName() override;

private:
  int blockSize_;
  int workFactor_;
  int bufferSize_;
};

} // namespace QorCompressLib
