// The owner of one libbz2 stream: zeroed until its user starts it, ended
// with the function of its direction on every way out. Ending a stream that
// never started (or failed to) does nothing, so the user decides alone what
// a failed start means.
#pragma once

#include <bzlib.h>

#include <cstring>

namespace QorCompressLib {

class Bzip2Stream {
public:
  enum Direction { kCompress, kDecompress };

  explicit Bzip2Stream(Direction direction) : direction_(direction) {
    std::memset(&stream_, 0, sizeof(stream_));
  }
  ~Bzip2Stream() {
    if (direction_ == kCompress) {
      BZ2_bzCompressEnd(&stream_);
    } else {
      BZ2_bzDecompressEnd(&stream_);
    }
  }
  Bzip2Stream(const Bzip2Stream&) = delete;
  Bzip2Stream& operator=(const Bzip2Stream&) = delete;
  bz_stream& get() { return stream_; }

private:
  Direction direction_;
  bz_stream stream_;
};

} // namespace QorCompressLib
