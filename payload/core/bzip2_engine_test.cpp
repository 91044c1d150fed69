// The core's bzip2 engine natively, built with the thread sanitizer and with
// the address and undefined-behaviour sanitizers (tools/host): the
// block-parallel decoder against the sequential one, damaged streams,
// failures that stop the threads, and the block-parallel encoder.
#include "qor/payload_core/bzip2_core.h"

#include "bzip2_format.h"

#include <bzlib.h>
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using QorCompressLib::kStreamEndMissing;

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) {
    c = static_cast<char>(random() & 0xFF);
  }
  return bytes;
}

// Compressible: words of a small alphabet.
std::string TextLike(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string text;
  text.reserve(size);
  while (text.size() < size) {
    const std::size_t word = 2 + random() % 8;
    for (std::size_t i = 0; i < word; ++i) {
      text.push_back(static_cast<char>('a' + random() % 12));
    }
    text.push_back(random() % 10 == 0 ? '\n' : ' ');
  }
  text.resize(size);
  return text;
}

// libbz2's own one-call result.
std::string Compress(const std::string& data, int level) {
  std::string out(data.size() + data.size() / 100 + 1024, '\0');
  unsigned int size = static_cast<unsigned int>(out.size());
  EXPECT_EQ(BZ_OK, BZ2_bzBuffToBuffCompress(&out[0], &size, const_cast<char*>(data.data()),
                                            static_cast<unsigned int>(data.size()), level, 0, 30));
  out.resize(size);
  return out;
}

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

class StringSink : public QorPayload::ByteSink {
public:
  void Write(const char* data, std::size_t size) override { bytes.append(data, size); }
  std::string bytes;
};

class StringSource : public QorPayload::ByteSource {
public:
  explicit StringSource(const std::string& bytes) : bytes_(bytes) {}
  std::size_t Read(char* buffer, std::size_t size) override {
    const std::size_t take = std::min(size, bytes_.size() - at_);
    bytes_.copy(buffer, take, at_);
    at_ += take;
    return take;
  }

private:
  const std::string& bytes_;
  std::size_t at_ = 0;
};

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
