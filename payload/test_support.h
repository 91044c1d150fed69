// Helpers shared by the payload tests.
#pragma once

#include "qor/payload/archive.h"
#include "qor/payload/compressor.h"
#include "qor/payload/extract_stream.h"
#include "qor/error/error.h"
#include "qor/payload/memory_stream.h"
#include "qor/payload/payload_core.h"
#include "qor/test/errors.h"
#include "qor/test/folders.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace PayloadTest {

using QorTest::Catch;

inline std::string Compress(const std::string& data, int level = 9) {
  QorCompressLib::Bzip2Compressor codec(level, 30, 8192);
  std::istringstream in(data);
  std::ostringstream out;
  codec.Compress(in, out, nullptr, nullptr, 0);
  return out.str();
}

inline std::string Decompress(const std::string& data) {
  QorCompressLib::Bzip2Compressor codec(9, 30, 8192);
  std::istringstream in(data);
  std::ostringstream out;
  codec.Decompress(in, out, nullptr, nullptr, 0);
  return out.str();
}

// Deterministic bytes (a small linear congruential generator).
class Random {
public:
  explicit Random(std::uint32_t seed) : state_(seed) {}
  std::uint32_t Next() {
    state_ = state_ * 1664525u + 1013904223u;
    return state_;
  }
  std::uint32_t Below(std::uint32_t n) { return n ? (Next() >> 8) % n : 0; }
  std::string Bytes(std::size_t n) {
    std::string s(n, '\0');
    for (char& c : s) {
      // The high bits: the low bits of this generator repeat quickly.
      c = static_cast<char>(Next() >> 24);
    }
    return s;
  }

private:
  std::uint32_t state_;
};

// Deterministic text that compresses as text does.
inline std::string TextLike(std::size_t n, std::uint32_t seed) {
  static const char* words[] = {"setup ", "payload ", "Veltrano ", "archive\r\n", "the ", "of "};
  Random random(seed);
  std::string s;
  while (s.size() < n) {
    s += words[random.Below(6)];
  }
  s.resize(n);
  return s;
}

// Keeps every byte written to it.
class StringSink : public QorPayload::ByteSink {
public:
  void Write(const char* data, std::size_t size) override { bytes.append(data, size); }
  std::string bytes;
};

// Files in and out, as every test here reads and writes them.
using QorTest::ReadFileBytes;
using QorTest::WriteFileBytes;

// The launcher's whole-archive path: expand the payload into memory, read
// the archive there and write every entry into target. The library error's
// error, or null.
inline std::unique_ptr<QorError::Exception> ExtractInMemoryError(const std::string& payload,
                                                                 const std::wstring& target) {
  QorCompressLib::MemoryOutputStream expanded;
  ArchiveReader reader;
  return Catch([&] {
    QorCompressLib::MemoryInputStream in(payload.data(), payload.size());
    QorCompressLib::Bzip2Compressor codec(9, 30, 8192);
    codec.Decompress(in, expanded, nullptr, nullptr, 1);
    reader.LoadFromMemory(expanded.data(), expanded.size());
    for (unsigned i = 0; i < reader.GetEntryCount(); ++i) {
      reader.Extract(i, target);
    }
  });
}

// The same, as the library error's code, or 0.
inline int ExtractInMemory(const std::string& payload, const std::wstring& target) {
  auto error = ExtractInMemoryError(payload, target);
  return error ? error->GetCode() : 0;
}

// The launcher's streaming path on the same payload, decoding on threads
// threads: the library error, or null.
inline std::unique_ptr<QorError::Exception>
ExtractStreaming(const std::string& payload, const std::wstring& target, unsigned threads) {
  return Catch([&] {
    QorPayload::ExtractStream(payload.data(), payload.size(), target, nullptr, nullptr, 0, threads);
  });
}

} // namespace PayloadTest
