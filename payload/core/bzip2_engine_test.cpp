// The core's bzip2 engine natively, built with the thread sanitizer and with
// the address and undefined-behaviour sanitizers (tools/host): the
// block-parallel decoder against the sequential one, damaged and crafted
// streams, threads and events the system will not give, the memory the
// decoder holds, failures that stop the threads, and the block-parallel
// encoder.
#include "qor/payload_core/bzip2_core.h"

#include "bzip2_format.h"
#include "bzip2_test_data.h"
#include "pack_threads.h"

#include <bzlib.h>
#include <dirent.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

// The sanitizers' allocator (both tests are built with one): every
// allocation of the process, libbz2's included, passes its hooks.
extern "C" {
int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*,
                                                                  std::size_t),
                                              void (*free_hook)(const volatile void*));
std::size_t __sanitizer_get_current_allocated_bytes();
}

namespace {

using QorCompressLib::kStreamEndMissing;
using namespace QorBzip2TestData;

// Bytes whose block byte map is written as the block marker (see the
// launcher's test of the same name).
std::string MarkerShapedBytes(std::size_t size) {
  static const unsigned char values[] = {0x21, 0x23, 0x24, 0x27, 0x2A, 0x2D, 0x2E, 0x31, 0x33,
                                         0x36, 0x37, 0x39, 0x3B, 0x3C, 0x3F, 0x70, 0x90, 0xF0};
  std::mt19937 random(77);
  std::string s;
  while (s.size() < size) {
    const char c = static_cast<char>(values[random() % sizeof(values)]);
    if (s.size() >= 3 && s[s.size() - 1] == c && s[s.size() - 2] == c && s[s.size() - 3] == c) {
      continue;
    }
    s.push_back(c);
  }
  return s;
}

struct Outcome {
  int code = 0; // 0: accepted
  std::string output;
};

template <class Body> Outcome RunCatching(Body body) {
  Outcome outcome;
  StringSink sink;
  try {
    body(sink);
  } catch (QorPayload::Error* error) {
    outcome.code = error->GetCode();
    delete error;
  }
  outcome.output = sink.bytes;
  return outcome;
}

Outcome Sequential(const std::string& stream) {
  return RunCatching([&](StringSink& sink) {
    StringSource source(stream);
    QorCompressLib::ExpandBzip2(source, sink);
  });
}

Outcome Parallel(const std::string& stream, unsigned threads) {
  return RunCatching([&](StringSink& sink) {
    QorCompressLib::ExpandBzip2Blocks(stream.data(), stream.size(), sink, nullptr, nullptr, 0,
                                      threads);
  });
}

void ExpectSameAsSequential(const std::string& stream, const std::string& label) {
  const Outcome expected = Sequential(stream);
  for (unsigned threads : {1u, 2u, 4u}) {
    const Outcome got = Parallel(stream, threads);
    EXPECT_EQ(expected.code, got.code) << label << ", " << threads << " threads";
    if (expected.code == 0 && got.code == 0) {
      EXPECT_TRUE(expected.output == got.output) << label << ", " << threads << " threads";
    }
  }
}

std::vector<QorBzip2Format::Marker> Markers(const std::string& stream) {
  std::vector<QorBzip2Format::Marker> markers;
  QorBzip2Format::FindMarkers(reinterpret_cast<const unsigned char*>(stream.data()), stream.size(),
                              0, UINT64_MAX, markers);
  return markers;
}

// The block of a stream made by Compress: from its marker to the stream's
// end marker (bit positions).
struct BlockSpan {
  std::uint64_t start = QorBzip2Format::kHeaderBits;
  std::uint64_t end = 0;
};

BlockSpan OnlyBlock(const std::string& stream) {
  BlockSpan span;
  for (const QorBzip2Format::Marker& marker : Markers(stream)) {
    if (marker.end) {
      span.end = marker.bit;
    }
  }
  EXPECT_NE(0u, span.end);
  return span;
}

const unsigned char* Bytes(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

// One stream of the blocks of one-block streams of the same level, in
// order, with the combined checksum they make.
std::string JoinBlocks(const std::vector<std::string>& streams) {
  std::vector<unsigned char> out;
  QorBzip2Format::BitWriter writer(out);
  writer.PutHeader(streams.front()[3] - '0');
  std::uint32_t combined = 0;
  for (const std::string& stream : streams) {
    const BlockSpan span = OnlyBlock(stream);
    writer.CopyBits(Bytes(stream), stream.size(), span.start, span.end - span.start);
    combined = QorBzip2Format::CombineCrc(
        combined,
        QorBzip2Format::ReadBits32(Bytes(stream), span.start + QorBzip2Format::kMarkerBits));
  }
  writer.PutEnd(combined);
  writer.Finish();
  return std::string(out.begin(), out.end());
}

// The one-block stream with `count` block marker patterns added to its
// block's data, which libbz2 reads past: selectors beyond those the block
// uses, each a run of ones and a zero (the pattern has no run of more than
// two ones, so a block of three tables or more takes it).
std::string WithFalseMarkers(const std::string& stream, unsigned count) {
  const unsigned char* bytes = Bytes(stream);
  const BlockSpan span = OnlyBlock(stream);
  // Marker, checksum, randomised bit, origin pointer, the map of used bytes.
  std::uint64_t at = span.start + 48 + 32 + 1 + 24;
  const std::uint64_t used = QorBzip2Format::ReadBits(bytes, at, 16);
  at += 16;
  for (unsigned i = 0; i < 16; ++i) {
    at += (used >> i & 1) ? 16 : 0;
  }
  const std::uint64_t tables = QorBzip2Format::ReadBits(bytes, at, 3);
  EXPECT_GE(tables, 3u);
  at += 3;
  const std::uint64_t countField = at;
  const std::uint64_t selectors = QorBzip2Format::ReadBits(bytes, at, 15);
  at += 15;
  const std::uint64_t firstSelector = at;
  for (std::uint64_t i = 0; i < selectors; ++i) {
    while (QorBzip2Format::ReadBits(bytes, at++, 1) == 1) {
    }
  }
  // Each pattern and a zero, which ends the selector it is in.
  unsigned added = 0;
  for (unsigned bit = 0; bit < 48; ++bit) {
    added += (QorBzip2Format::kBlockMarker >> bit & 1) ? 0 : 1;
  }
  added = (added + 1) * count;
  EXPECT_LE(selectors + added, 18002u);
  std::vector<unsigned char> out;
  QorBzip2Format::BitWriter writer(out);
  writer.PutHeader(stream[3] - '0');
  writer.CopyBits(bytes, stream.size(), span.start, countField - span.start);
  writer.Put(selectors + added, 15);
  writer.CopyBits(bytes, stream.size(), firstSelector, at - firstSelector);
  for (unsigned i = 0; i < count; ++i) {
    writer.Put(QorBzip2Format::kBlockMarker, 48);
    writer.Put(0, 1);
  }
  writer.CopyBits(bytes, stream.size(), at, span.end - at);
  writer.PutEnd(QorBzip2Format::ReadBits32(bytes, span.start + QorBzip2Format::kMarkerBits));
  writer.Finish();
  return std::string(out.begin(), out.end());
}

// Counts bytes and throws them away.
class CountingSink : public QorPayload::ByteSink {
public:
  void Write(const char*, std::size_t size) override { bytes += size; }
  std::uint64_t bytes = 0;
};

// The most memory the process held at once while body ran, beyond what it
// held before.
std::atomic<std::size_t> peakBytes{0};
void NoteAllocation(const volatile void*, std::size_t) {
  const std::size_t now = __sanitizer_get_current_allocated_bytes();
  std::size_t peak = peakBytes.load();
  while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) {
  }
}
void NoteRelease(const volatile void*) {}

template <class Body> std::size_t PeakBytesOf(Body body) {
  static const int installed =
      __sanitizer_install_malloc_and_free_hooks(&NoteAllocation, &NoteRelease);
  EXPECT_NE(0, installed);
  const std::size_t before = __sanitizer_get_current_allocated_bytes();
  peakBytes = before;
  body();
  return peakBytes - before;
}

// The threads of this process.
unsigned CountThreads() {
  unsigned count = 0;
  if (DIR* tasks = opendir("/proc/self/task")) {
    while (const dirent* entry = readdir(tasks)) {
      count += entry->d_name[0] != '.' ? 1 : 0;
    }
    closedir(tasks);
  }
  return count;
}

} // namespace

TEST(Bzip2Format, WritesAndReadsBitsAtEveryAlignment) {
  const std::string source = RandomBytes(64, 3);
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(source.data());
  for (unsigned lead = 0; lead < 8; ++lead) {
    for (unsigned from = 0; from < 16; ++from) {
      std::vector<unsigned char> out;
      QorBzip2Format::BitWriter writer(out);
      writer.Put(0x5A, lead);
      writer.CopyBits(bytes, source.size(), from, 300);
      writer.PutEnd(0xDEADBEEF);
      writer.Finish();
      ASSERT_EQ((lead + 300 + 80 + 7) / 8, out.size());
      for (unsigned bit = 0; bit < 300; bit += 25) {
        const unsigned count = std::min(25u, 300 - bit);
        EXPECT_EQ(QorBzip2Format::ReadBits(bytes, from + bit, count),
                  QorBzip2Format::ReadBits(out.data(), lead + bit, count))
            << lead << " " << from << " " << bit;
      }
      EXPECT_EQ(QorBzip2Format::kEndMarker, QorBzip2Format::ReadBits(out.data(), lead + 300, 48));
      EXPECT_EQ(0xDEADBEEFu, QorBzip2Format::ReadBits32(out.data(), lead + 348));
    }
  }
  EXPECT_EQ(0x80000001u ^ 7u, QorBzip2Format::CombineCrc(0xC0000000u, 7u));
  EXPECT_EQ(9, QorBzip2Format::ReadLevel(reinterpret_cast<const unsigned char*>("BZh9"), 4));
  EXPECT_EQ(0, QorBzip2Format::ReadLevel(reinterpret_cast<const unsigned char*>("BZh0"), 4));
}

TEST(Bzip2Decoders, GiveTheSameBytesForEveryKindOfStream) {
  const std::string markerShaped = MarkerShapedBytes(300000);
  const std::string markerStream = Compress(markerShaped, 1);
  // The case shows the fault only if the pattern is there beyond the
  // blocks' own markers.
  const std::size_t blocks = (markerShaped.size() + 99999) / 100000;
  ASSERT_GT(Markers(markerStream).size(), blocks + 1);
  struct Case {
    const char* name;
    std::string stream;
  } cases[] = {
      {"empty", Compress("", 9)},
      {"one block", Compress(TextLike(50000, 1), 9)},
      {"many blocks, level 1", Compress(TextLike(200000, 2) + RandomBytes(100000, 2), 1)},
      {"two blocks, level 9", Compress(RandomBytes(150000, 3) + TextLike(800000, 3), 9)},
      {"long runs (a block expands far beyond the kept output)",
       Compress(std::string(3000000, '\0') + "tail" + std::string(500000, 'z'), 9)},
      {"marker pattern inside blocks", markerStream},
      {"another stream after the end", Compress("first", 9) + Compress("second", 9)},
      {"other bytes after the end", Compress(TextLike(3000, 4), 9) + "trailing bytes"},
  };
  for (const Case& c : cases) {
    ExpectSameAsSequential(c.stream, c.name);
  }
  EXPECT_EQ(markerShaped, Parallel(markerStream, 3).output);
}

TEST(Bzip2Decoders, RefuseDamagedStreamsWithTheSameCode) {
  const std::string good = Compress(TextLike(200000, 6) + RandomBytes(60000, 6), 1);
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
  std::string badLevel = good;
  badLevel[3] = '0';
  struct Case {
    const char* name;
    std::string stream;
    bool refused;
  } cases[] = {
      {"damaged block checksum", flip(32 + 48 + 7), true},
      {"damaged checksum of a later block", flip(secondBlock + 48 + 20), true},
      {"damaged combined checksum", flip(endBit + 48 + 9), true},
      {"damaged end marker", flip(endBit + 3), true},
      {"damaged block marker", flip(secondBlock + 10), true},
      {"damaged block data", flip(secondBlock + 5000), true},
      {"damaged level", badLevel, true},
      {"not bzip2", std::string(400, 'Z'), true},
      {"nothing", std::string(), true},
      {"header only", good.substr(0, 4), true},
      {"truncated in the first block", good.substr(0, 5000), true},
      {"truncated at a block marker", good.substr(0, secondBlock / 8), true},
      {"truncated before the end marker", good.substr(0, endBit / 8), true},
      {"truncated in the combined checksum", good.substr(0, good.size() - 2), true},
      {"bytes after the end", good + RandomBytes(3000, 7), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.refused ? kStreamEndMissing : 0, Sequential(c.stream).code) << c.name;
    ExpectSameAsSequential(c.stream, c.name);
  }
}

TEST(Bzip2Decoders, ReportProgressOnTheCallingThread) {
  const std::string stream = Compress(TextLike(500000, 8), 1);
  struct Log {
    std::vector<std::uint32_t> values;
    std::thread::id thread = std::this_thread::get_id();
    bool otherThread = false;
    static int Record(std::uint32_t processed, void* context) {
      Log& log = *static_cast<Log*>(context);
      log.values.push_back(processed);
      log.otherThread |= std::this_thread::get_id() != log.thread;
      return 1;
    }
  } log;
  StringSink sink;
  const std::uint32_t step = static_cast<std::uint32_t>(stream.size() / 50);
  QorCompressLib::ExpandBzip2Blocks(stream.data(), stream.size(), sink, &Log::Record, &log, step,
                                    3);
  EXPECT_FALSE(log.otherThread);
  ASSERT_GE(log.values.size(), 5u);
  for (std::size_t i = 1; i < log.values.size(); ++i) {
    EXPECT_GT(log.values[i] / step, log.values[i - 1] / step);
  }
  EXPECT_EQ(stream.size() / step, log.values.back() / step);
}

TEST(Bzip2Decoders, AFailingSinkOrCallbackStopsEveryThread) {
  const std::string stream = Compress(TextLike(900000, 9), 1);
  struct Stop {};
  class FailingSink : public QorPayload::ByteSink {
  public:
    void Write(const char*, std::size_t) override {
      if (++writes == 3) {
        throw Stop();
      }
    }
    int writes = 0;
  };
  struct Stopper {
    int calls = 0;
    static int Call(std::uint32_t, void* context) {
      if (++static_cast<Stopper*>(context)->calls == 3) {
        QorPayload::RaiseError(4242, u"stopped");
      }
      return 1;
    }
  };
  const unsigned before = CountThreads();
  for (unsigned threads : {1u, 2u, 8u}) {
    FailingSink failing;
    EXPECT_THROW(QorCompressLib::ExpandBzip2Blocks(stream.data(), stream.size(), failing, nullptr,
                                                   nullptr, 0, threads),
                 Stop);
    EXPECT_EQ(3, failing.writes);
    EXPECT_EQ(before, CountThreads()) << threads << " threads";

    Stopper stopper;
    const Outcome stopped = RunCatching([&](StringSink& out) {
      QorCompressLib::ExpandBzip2Blocks(stream.data(), stream.size(), out, &Stopper::Call, &stopper,
                                        static_cast<std::uint32_t>(stream.size() / 100), threads);
    });
    EXPECT_EQ(4242, stopped.code);
    EXPECT_EQ(before, CountThreads()) << threads << " threads";
  }
}

TEST(Bzip2Encoder, MakesLibbz2sBytesOnEveryThreadCount) {
  // Two blocks: long runs take little room in a block.
  const std::string data = TextLike(900000, 10) + RandomBytes(200000, 10) +
                           std::string(500000, 'r') + TextLike(100000, 11);
  const std::string expected = Compress(data, 9);
  for (unsigned threads : {1u, 2u, 3u}) {
    StringSink sink;
    QorCompressLib::ParallelBzip2Compressor compressor(sink, threads, data.size());
    // Uneven pieces, so that blocks start inside a write.
    for (std::size_t at = 0; at < data.size();) {
      const std::size_t take = std::min<std::size_t>(123457, data.size() - at);
      compressor.Write(data.data() + at, take);
      at += take;
    }
    compressor.Finish();
    EXPECT_TRUE(expected == sink.bytes) << threads << " threads";
  }
  const Outcome sequential = Sequential(expected);
  EXPECT_EQ(0, sequential.code);
  EXPECT_TRUE(data == sequential.output);
  EXPECT_TRUE(data == Parallel(expected, 4).output);
}

TEST(Bzip2Encoder, RefusesDataOfAnotherLength) {
  for (std::size_t given : {99u, 101u}) {
    const Outcome outcome = RunCatching([&](StringSink& sink) {
      QorCompressLib::ParallelBzip2Compressor compressor(sink, 2, 100);
      const std::string data(given, 'x');
      compressor.Write(data.data(), data.size());
      compressor.Finish();
    });
    EXPECT_EQ(QorCompressLib::kParallelCompressError, outcome.code) << given;
  }
}

// A block is never looked for beyond the longest its level allows: a
// block marker followed by nothing that ends it costs no more memory than
// a real block, and is refused as the sequential decoder refuses it. On
// every thread count the decoder holds less than 64 MB beyond the data.
TEST(Bzip2Decoders, HoldBoundedMemoryForAnyInput) {
  std::string crafted = "BZh9";
  crafted += std::string("\x31\x41\x59\x26\x53\x59", 6) + "CRC!";
  crafted.append(100u << 20, '\0');
  const std::string valid = Compress(RandomBytes(2000000, 12) + TextLike(6000000, 12), 9);
  const std::size_t kBound = 64u << 20;
  for (unsigned threads : {1u, 2u, QorPackThreads::kMaxDecodeThreads}) {
    for (const std::string* stream : std::vector<const std::string*>{&crafted, &valid}) {
      int code = 0;
      CountingSink sink;
      const std::size_t peak = PeakBytesOf([&] {
        try {
          QorCompressLib::ExpandBzip2Blocks(stream->data(), stream->size(), sink, nullptr, nullptr,
                                            0, threads);
        } catch (QorPayload::Error* error) {
          code = error->GetCode();
          delete error;
        }
      });
      EXPECT_EQ(stream == &crafted ? kStreamEndMissing : 0, code) << threads << " threads";
      EXPECT_LT(peak, kBound) << (stream == &crafted ? "crafted, " : "valid, ") << threads
                              << " threads";
    }
  }
  EXPECT_EQ(kStreamEndMissing, Sequential(crafted).code);
}

// Without the events or threads the system cannot give, the calling thread
// decodes alone: the same bytes and the same refusals as the sequential
// decoder, whichever of them fails.
TEST(Bzip2Decoders, DecodeOnTheCallingThreadWithoutEventsOrThreads) {
  const std::string good = Compress(TextLike(300000, 13) + RandomBytes(50000, 13), 1);
  std::string damaged = good;
  damaged[damaged.size() / 2] = static_cast<char>(damaged[damaged.size() / 2] ^ 0x10);
  const struct {
    const char* name;
    std::string stream;
  } streams[] = {
      {"good", good},
      {"damaged", damaged},
      {"empty", Compress("", 9)},
      {"truncated", good.substr(0, good.size() - 3)},
  };
  // With 4 threads: the two events, then three threads.
  const struct {
    const char* what;
    unsigned first;
    unsigned count;
  } failures[] = {
      {"the first event", 0, 1}, {"the second event", 1, 1}, {"the first thread", 2, 1},
      {"the last thread", 4, 1}, {"everything", 0, 1000},
  };
  for (const auto& failure : failures) {
    for (const auto& stream : streams) {
      const Outcome expected = Sequential(stream.stream);
      QorPackThreads::SimulateCreationFailures(failure.first, failure.count);
      Outcome got;
      try {
        got = Parallel(stream.stream, 4);
      } catch (const std::bad_alloc&) {
        got.code = -1;
      }
      QorPackThreads::SimulateCreationFailures(0, 0);
      EXPECT_EQ(expected.code, got.code) << failure.what << ", " << stream.name;
      if (expected.code == 0) {
        EXPECT_TRUE(expected.output == got.output) << failure.what << ", " << stream.name;
      }
    }
  }
}

// A block whose data holds more marker patterns than are worth trying as
// its end: the rest of the stream is expanded sequentially, accepted and
// refused as libbz2 does, wherever the block stands.
TEST(Bzip2Decoders, AcceptBlocksFullOfMarkerPatterns) {
  const std::string a = TextLike(40000, 14);
  const std::string b = TextLike(20000, 15);
  const std::string c = RandomBytes(30000, 16);
  for (unsigned count : {20u, 40u, 300u}) {
    const std::string crafted = WithFalseMarkers(Compress(b, 1), count);
    ASSERT_GE(Markers(crafted).size(), count + 2);
    const std::string middle = JoinBlocks({Compress(a, 1), crafted, Compress(c, 1)});
    const std::string first = JoinBlocks({crafted, Compress(c, 1)});
    const Outcome sequential = Sequential(middle);
    ASSERT_EQ(0, sequential.code) << count;
    ASSERT_TRUE(a + b + c == sequential.output) << count;
    std::string damaged = middle;
    damaged[damaged.size() - 40] = static_cast<char>(damaged[damaged.size() - 40] ^ 0x04);
    const std::string label = std::to_string(count) + " patterns";
    ExpectSameAsSequential(crafted, label + ", alone");
    ExpectSameAsSequential(middle, label + ", in the middle");
    ExpectSameAsSequential(first, label + ", first");
    ExpectSameAsSequential(damaged, label + ", a later block damaged");
    ExpectSameAsSequential(middle.substr(0, middle.size() - 2000), label + ", truncated");
  }
}

// The last progress report is of the whole stream (not of bytes after it),
// on every path: threads or none, a block that the sequential decoder
// takes over, and the codec between standard streams, whose last bytes
// may be consumed while it drains libbz2's output.
TEST(Bzip2Decoders, ReportTheWholeStreamLast) {
  const std::string crafted = WithFalseMarkers(Compress(TextLike(20000, 17), 1), 40);
  const struct {
    const char* name;
    std::string stream;
  } streams[] = {
      {"many blocks", Compress(TextLike(500000, 17), 1)},
      {"marker patterns", JoinBlocks({Compress(TextLike(40000, 18), 1), crafted})},
      {"bytes after the end", Compress(TextLike(100000, 19), 9) + "trailing"},
      {"long runs", Compress(std::string(3000000, 'r'), 9)},
  };
  struct Log {
    std::vector<std::uint32_t> values;
    static int Record(std::uint32_t processed, void* context) {
      static_cast<Log*>(context)->values.push_back(processed);
      return 1;
    }
  };
  for (const auto& s : streams) {
    const std::vector<QorBzip2Format::Marker> markers = Markers(s.stream);
    ASSERT_TRUE(markers.back().end) << s.name;
    const std::uint32_t total = static_cast<std::uint32_t>((markers.back().bit + 48 + 32 + 7) / 8);
    for (std::uint32_t step : {1u, total / 7}) {
      auto expectTotalLast = [&](const Log& log, const std::string& path) {
        ASSERT_FALSE(log.values.empty()) << s.name << ", " << path;
        EXPECT_EQ(total / step, log.values.back() / step) << s.name << ", " << path;
        if (step == 1) {
          EXPECT_EQ(total, log.values.back()) << s.name << ", " << path;
        }
      };
      for (unsigned threads : {1u, 3u}) {
        for (bool withThreads : {true, false}) {
          Log log;
          CountingSink sink;
          QorPackThreads::SimulateCreationFailures(0, withThreads ? 0 : 1000);
          QorCompressLib::ExpandBzip2Blocks(s.stream.data(), s.stream.size(), sink, &Log::Record,
                                            &log, step, threads);
          QorPackThreads::SimulateCreationFailures(0, 0);
          expectTotalLast(log, std::to_string(threads) + " threads" +
                                   (withThreads ? "" : ", none started"));
        }
      }
      Log log;
      std::istringstream in(s.stream);
      std::ostringstream out;
      QorCompressLib::DecompressStream(in, out, &Log::Record, &log, step, 8192);
      expectTotalLast(log, "between standard streams");
    }
  }
}
