// The block-parallel decoder against the sequential codec: the same bytes
// for every stream the codec accepts, the same error code for every other.
#include "core/bzip2_format.h"
#include "bzip2_parallel.h"

#include "test_support.h"
#include "qor/test/text.h"

#include "qor/payload/extract_stream.h"
#include "qor/payload_core/processors.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <sstream>

using PayloadTest::Catch;
using PayloadTest::Compress;
using PayloadTest::Random;
using PayloadTest::StringSink;
using PayloadTest::TextLike;

namespace {

struct Outcome {
  int code = 0; // 0: accepted
  std::string output;
};

Outcome Sequential(const std::string& stream) {
  Outcome outcome;
  std::ostringstream out;
  auto error = Catch([&] {
    QorCompressLib::Bzip2Compressor codec(9, 30, 8192);
    QorCompressLib::MemoryInputStream in(stream.data(), stream.size());
    codec.Decompress(in, out, nullptr, nullptr, 0);
  });
  outcome.code = error ? error->GetCode() : 0;
  outcome.output = out.str();
  return outcome;
}

Outcome Parallel(const std::string& stream, unsigned threads) {
  Outcome outcome;
  StringSink sink;
  auto error = Catch([&] {
    QorCompressLib::DecompressBlocks(stream.data(), stream.size(), sink, nullptr, nullptr, 0,
                                     threads);
  });
  outcome.code = error ? error->GetCode() : 0;
  outcome.output = sink.bytes;
  return outcome;
}

// Checks the parallel decoder against the codec with 1, 2 and 5 threads.
void ExpectSameAsSequential(const std::string& stream, const std::string& label) {
  const Outcome expected = Sequential(stream);
  for (unsigned threads : {1u, 2u, 5u}) {
    const Outcome got = Parallel(stream, threads);
    EXPECT_EQ(expected.code, got.code) << label << ", " << threads << " threads";
    if (expected.code == 0 && got.code == 0) {
      EXPECT_TRUE(expected.output == got.output)
          << label << ", " << threads << " threads: " << expected.output.size() << " bytes against "
          << got.output.size();
    }
  }
}

// Bytes whose block byte map is written as the block marker: the set of
// byte values used gives the map 0x3141 (ranges 2, 3, 7, 9 and 15), then
// 0x5926 and 0x5359 for ranges 2 and 3. No byte repeats four times, so the
// run-length step adds no other values.
std::string MarkerShapedBytes(std::size_t n) {
  static const unsigned char values[] = {0x21, 0x23, 0x24, 0x27, 0x2A, 0x2D, 0x2E, 0x31, 0x33,
                                         0x36, 0x37, 0x39, 0x3B, 0x3C, 0x3F, 0x70, 0x90, 0xF0};
  Random random(77);
  std::string s;
  while (s.size() < n) {
    const char c = static_cast<char>(values[random.Below(sizeof(values))]);
    if (s.size() >= 3 && s[s.size() - 1] == c && s[s.size() - 2] == c && s[s.size() - 3] == c) {
      continue;
    }
    s.push_back(c);
  }
  return s;
}

std::vector<QorBzip2Format::Marker> Markers(const std::string& stream) {
  std::vector<QorBzip2Format::Marker> markers;
  QorBzip2Format::FindMarkers(reinterpret_cast<const unsigned char*>(stream.data()), stream.size(),
                              0, UINT64_MAX, markers);
  return markers;
}

using QorTest::WindowsPath;

unsigned CountOwnThreads() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  unsigned count = 0;
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  if (Thread32First(snapshot, &entry)) {
    do {
      count += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
    } while (Thread32Next(snapshot, &entry));
  }
  CloseHandle(snapshot);
  return count;
}

} // namespace

TEST(Bzip2Blocks, FindsMarkersAtEveryBitPosition) {
  for (unsigned shift = 0; shift < 16; ++shift) {
    // The marker, then the end marker, both starting shift bits in.
    std::vector<unsigned char> bytes(20, 0);
    const std::uint64_t values[] = {QorBzip2Format::kBlockMarker, QorBzip2Format::kEndMarker};
    for (int m = 0; m < 2; ++m) {
      for (unsigned i = 0; i < 48; ++i) {
        const unsigned bit = shift + 56 * m + i;
        if ((values[m] >> (47 - i)) & 1) {
          bytes[bit / 8] = static_cast<unsigned char>(bytes[bit / 8] | (0x80 >> (bit % 8)));
        }
      }
    }
    std::vector<QorBzip2Format::Marker> found;
    QorBzip2Format::FindMarkers(bytes.data(), bytes.size(), 0, UINT64_MAX, found);
    ASSERT_EQ(2u, found.size()) << shift;
    EXPECT_EQ(shift, found[0].bit);
    EXPECT_FALSE(found[0].end);
    EXPECT_EQ(shift + 56, found[1].bit);
    EXPECT_TRUE(found[1].end);
    // A range that starts one bit late misses the first.
    found.clear();
    QorBzip2Format::FindMarkers(bytes.data(), bytes.size(), shift + 1, UINT64_MAX, found);
    EXPECT_EQ(1u, found.size()) << shift;
  }
}

TEST(Bzip2Parallel, GivesTheCodecsBytesForEveryKindOfStream) {
  Random random(5);
  const std::string markerShaped = MarkerShapedBytes(1500000);
  const std::string markerStream = Compress(markerShaped, 1);
  // The fixture shows the fault only if the pattern is there beyond the
  // blocks' own markers.
  const std::size_t blocks = (markerShaped.size() + 99999) / 100000;
  ASSERT_GT(Markers(markerStream).size(), blocks + 1);

  const std::string twoStreams = Compress("first", 9) + Compress("second", 9);
  struct Case {
    const char* name;
    std::string stream;
  } cases[] = {
      {"empty", Compress("", 9)},
      {"one block", Compress(TextLike(50000, 1), 9)},
      {"many blocks, level 1", Compress(TextLike(1200000, 2) + random.Bytes(300000), 1)},
      {"many blocks, level 9", Compress(random.Bytes(700000) + TextLike(2500000, 3), 9)},
      {"long runs (a block expands far beyond the kept output)",
       Compress(std::string(30000000, '\0') + "tail" + std::string(5000000, 'z'), 9)},
      {"marker pattern inside blocks", markerStream},
      {"another stream after the end", twoStreams},
      {"other bytes after the end", Compress(TextLike(3000, 4), 9) + "trailing bytes"},
  };
  for (const Case& c : cases) {
    ExpectSameAsSequential(c.stream, c.name);
  }
  EXPECT_EQ(markerShaped, Parallel(markerStream, 3).output);
}

TEST(Bzip2Parallel, GivesTheStandardToolsStreamsTheCodecsBytes) {
  const std::wstring folder = WindowsPath(VELTRANO_BZIP2_FIXTURES) + L"\\";
  int seen = 0;
  for (const wchar_t* name : {L"small.bz2", L"numbers-1.bz2", L"numbers-9.bz2", L"joined.bz2"}) {
    std::string stream;
    ASSERT_TRUE(PayloadTest::ReadFileBytes(folder + name, stream)) << "missing fixture";
    ++seen;
    const std::string label(name, name + std::wcslen(name));
    EXPECT_EQ(0, Sequential(stream).code) << label;
    ExpectSameAsSequential(stream, label);
  }
  EXPECT_EQ(4, seen);
}

TEST(Bzip2Parallel, RefusesWhatTheCodecRefusesWithItsCode) {
  Random random(11);
  const std::string good = Compress(TextLike(1500000, 6) + random.Bytes(400000), 9);
  const std::vector<QorBzip2Format::Marker> markers = Markers(good);
  ASSERT_GE(markers.size(), 4u);
  ASSERT_TRUE(markers.back().end);
  const std::uint64_t endBit = markers.back().bit;
  const std::uint64_t secondBlock = markers[1].bit;
  auto flip = [&](std::uint64_t bit) {
    std::string s = good;
    s[bit / 8] = static_cast<char>(s[bit / 8] ^ (0x80 >> (bit % 8)));
    return s;
  };
  struct Case {
    const char* name;
    std::string stream;
  } cases[] = {
      {"damaged block checksum", flip(32 + 48 + 7)},
      {"damaged checksum of a later block", flip(secondBlock + 48 + 20)},
      {"damaged combined checksum", flip(endBit + 48 + 9)},
      {"damaged end marker", flip(endBit + 3)},
      {"damaged block marker", flip(secondBlock + 10)},
      {"damaged block data", flip(secondBlock + 5000)},
      {"damaged level",
       [&] {
         std::string s = good;
         s[3] = '0';
         return s;
       }()},
      {"not bzip2", std::string(400, 'Z')},
      {"nothing", std::string()},
      {"header only", good.substr(0, 4)},
      {"truncated in the first block", good.substr(0, 5000)},
      {"truncated at a block marker", good.substr(0, static_cast<std::size_t>(secondBlock / 8))},
      {"truncated before the end marker", good.substr(0, static_cast<std::size_t>(endBit / 8))},
      {"truncated in the combined checksum", good.substr(0, good.size() - 2)},
      {"bytes after the end", good + random.Bytes(3000)},
  };
  for (const Case& c : cases) {
    ExpectSameAsSequential(c.stream, c.name);
  }
  for (const char* name : {"damaged block checksum", "damaged combined checksum",
                           "truncated in the combined checksum", "not bzip2"}) {
    for (const Case& c : cases) {
      if (std::string(c.name) == name) {
        EXPECT_EQ(QorCompressLib::kStreamEndMissing, Parallel(c.stream, 2).code) << name;
      }
    }
  }
}

TEST(Bzip2Parallel, ReportsConsumedBytesOnTheCallingThread) {
  const std::string stream = Compress(TextLike(4000000, 8), 1);
  struct Log {
    std::vector<std::uint32_t> values;
    DWORD thread;
    bool otherThread = false;
    static int Record(std::uint32_t processed, void* context) {
      Log& log = *static_cast<Log*>(context);
      log.values.push_back(processed);
      log.otherThread |= GetCurrentThreadId() != log.thread;
      return 1;
    }
  } log;
  log.thread = GetCurrentThreadId();
  StringSink sink;
  const std::uint32_t step = static_cast<std::uint32_t>(stream.size() / 100);
  QorCompressLib::DecompressBlocks(stream.data(), stream.size(), sink, &Log::Record, &log, step, 3);
  EXPECT_FALSE(log.otherThread);
  ASSERT_GE(log.values.size(), 30u);
  EXPECT_LE(log.values.size(), 101u);
  for (std::size_t i = 1; i < log.values.size(); ++i) {
    EXPECT_GT(log.values[i] / step, log.values[i - 1] / step);
  }
  // The last call comes in the last step (only a new step gets a call).
  EXPECT_EQ(stream.size() / step, log.values.back() / step);
  EXPECT_LE(log.values.back(), stream.size());

  auto error = Catch([&] {
    QorCompressLib::DecompressBlocks(stream.data(), stream.size(), sink, &Log::Record, &log, 0, 2);
  });
  ASSERT_TRUE(error);
  EXPECT_EQ(QorCompressLib::kProgressStepError, error->GetCode());
}

TEST(Bzip2Parallel, AnErrorFromTheCallbackOrSinkStopsEveryThread) {
  const std::string stream = Compress(TextLike(6000000, 9), 1);
  const unsigned before = CountOwnThreads();
  struct Stopper {
    int calls = 0;
    static int Stop(std::uint32_t, void* context) {
      if (++static_cast<Stopper*>(context)->calls == 3) {
        QorError::RaiseError(4242, L"stopped");
      }
      return 1;
    }
  };
  class FailingSink : public QorPayload::ByteSink {
  public:
    void Write(const char*, std::size_t) override {
      if (++writes == 4) {
        QorError::RaiseError(4343, L"sink failed");
      }
    }
    int writes = 0;
  };
  for (unsigned threads : {1u, 2u, 8u}) {
    Stopper stopper;
    StringSink sink;
    auto error = Catch([&] {
      QorCompressLib::DecompressBlocks(stream.data(), stream.size(), sink, &Stopper::Stop, &stopper,
                                       static_cast<std::uint32_t>(stream.size() / 100), threads);
    });
    ASSERT_TRUE(error);
    EXPECT_EQ(4242, error->GetCode());
    EXPECT_EQ(3, stopper.calls);
    EXPECT_EQ(before, CountOwnThreads()) << threads << " threads";

    FailingSink failing;
    error = Catch([&] {
      QorCompressLib::DecompressBlocks(stream.data(), stream.size(), failing, nullptr, nullptr, 0,
                                       threads);
    });
    ASSERT_TRUE(error);
    EXPECT_EQ(4343, error->GetCode());
    EXPECT_EQ(before, CountOwnThreads()) << threads << " threads";
  }
}

TEST(Bzip2Parallel, CountsProcessorsWithinLimits) {
  const unsigned count = QorPackThreads::DefaultDecodeThreads();
  EXPECT_GE(count, 1u);
  EXPECT_LE(count, 8u);
  // Whatever a caller asks for, 1 to 8 threads expand a stream.
  const struct {
    unsigned requested, used;
  } cases[] = {{0, 1}, {1, 1}, {5, 5}, {8, 8}, {9, 8}, {1000, 8}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.used, QorPackThreads::DecodeThreads(c.requested)) << c.requested << " asked for";
  }
}
