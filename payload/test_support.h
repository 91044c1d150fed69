// Helpers shared by the payload tests.
#pragma once

#include "qor/payload/archive.h"
#include "qor/payload/compressor.h"
#include "qor/payload/extract_stream.h"
#include "qor/error/error.h"
#include "qor/payload/memory_stream.h"
#include "qor/payload_core/payload_core.h"
#include "qor/test/errors.h"
#include "qor/test/folders.h"
#include "qor/test/text.h"

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

// One line of payload/testdata/entry_names.txt: a name and whether the
// setup can write it.
struct NameCase {
  std::wstring name;
  bool ok;
};

// The names table, its escapes (\xNN, \uNNNN, \UNNNNNNNN, \\) read.
inline std::vector<NameCase> EntryNameCases() {
  std::string bytes;
  EXPECT_TRUE(ReadFileBytes(QorTest::WindowsPath(VELTRANO_ENTRY_NAMES), bytes));
  std::vector<NameCase> cases;
  std::istringstream lines(bytes);
  std::string line;
  while (std::getline(lines, line)) {
    const std::size_t tab = line.find('\t');
    if (line.empty() || line[0] == '#' || tab == std::string::npos) {
      continue;
    }
    std::u16string text;
    QorPayload::FromUtf8(line.substr(tab + 1), text);
    std::wstring name;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] != u'\\' || i + 1 == text.size()) {
        name.push_back(static_cast<wchar_t>(text[i]));
        continue;
      }
      const char16_t kind = text[++i];
      const std::size_t digits = kind == u'x' ? 2 : kind == u'u' ? 4 : kind == u'U' ? 8 : 0;
      if (digits == 0) {
        name.push_back(static_cast<wchar_t>(kind)); // "\\"
        continue;
      }
      const std::string hex(text.begin() + i + 1, text.begin() + i + 1 + digits);
      const unsigned long value = std::stoul(hex, nullptr, 16);
      if (value >= 0x10000) {
        name.push_back(static_cast<wchar_t>(0xD800 + ((value - 0x10000) >> 10)));
        name.push_back(static_cast<wchar_t>(0xDC00 + ((value - 0x10000) & 0x3FF)));
      } else {
        name.push_back(static_cast<wchar_t>(value));
      }
      i += digits;
    }
    cases.push_back({name, line.compare(0, tab, "ok") == 0});
  }
  EXPECT_GT(cases.size(), 20u);
  return cases;
}

} // namespace PayloadTest
