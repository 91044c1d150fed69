// What the core's native bzip2 tests feed the engine and read back: data of
// a few kinds, libbz2's own compression of it, and a source and a sink over
// strings.
#pragma once

#include "qor/payload_core/payload_core.h"

#include <bzlib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>

namespace QorBzip2TestData {

inline std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) {
    c = static_cast<char>(random() & 0xFF);
  }
  return bytes;
}

// Compressible: words of a small alphabet; with runs, now and then a run of
// up to 300 equal bytes as well.
inline std::string TextLike(std::size_t size, unsigned seed, bool runs = false) {
  std::mt19937 random(seed);
  std::string text;
  text.reserve(size);
  while (text.size() < size) {
    const std::size_t word = 2 + random() % 8;
    for (std::size_t i = 0; i < word; ++i) {
      text.push_back(static_cast<char>('a' + random() % 12));
    }
    if (runs && random() % 50 == 0) {
      text.append(random() % 300, static_cast<char>(random()));
    }
    text.push_back(random() % 10 == 0 ? '\n' : ' ');
  }
  text.resize(size);
  return text;
}

// libbz2's own one-call result.
inline std::string Compress(const std::string& data, int level) {
  std::string out(data.size() + data.size() / 100 + 1024, '\0');
  unsigned int size = static_cast<unsigned int>(out.size());
  EXPECT_EQ(BZ_OK, BZ2_bzBuffToBuffCompress(&out[0], &size, const_cast<char*>(data.data()),
                                            static_cast<unsigned int>(data.size()), level, 0, 30));
  out.resize(size);
  return out;
}

class StringSink : public QorPayload::ByteSink {
public:
  void Write(const char* data, std::size_t size) override { bytes.append(data, size); }
  std::string bytes;
};

// Reads at most piece bytes a call, so that a test can make blocks cross
// the reads.
class StringSource : public QorPayload::ByteSource {
public:
  explicit StringSource(const std::string& bytes, std::size_t piece = SIZE_MAX)
      : bytes_(bytes), piece_(piece) {}
  std::size_t Read(char* buffer, std::size_t size) override {
    const std::size_t take = std::min<std::size_t>({size, bytes_.size() - at_, piece_});
    bytes_.copy(buffer, take, at_);
    at_ += take;
    return take;
  }

private:
  const std::string& bytes_;
  std::size_t piece_;
  std::size_t at_ = 0;
};

} // namespace QorBzip2TestData
