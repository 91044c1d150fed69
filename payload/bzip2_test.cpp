#include "qor/payload/compressor.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <sstream>

using PayloadTest::Catch;
using QorCompressLib::Bzip2Compressor;

namespace {

// A stream buffer that takes the first `limit` bytes and refuses the rest.
class LimitedBuffer : public std::streambuf {
public:
  explicit LimitedBuffer(std::size_t limit) : limit_(limit) {}
  std::string data;

protected:
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    std::size_t take = std::min<std::size_t>(static_cast<std::size_t>(n), limit_ - data.size());
    data.append(s, take);
    return static_cast<std::streamsize>(take);
  }
  int_type overflow(int_type c) override {
    if (data.size() >= limit_) {
      return traits_type::eof();
    }
    data.push_back(traits_type::to_char_type(c));
    return c;
  }

private:
  std::size_t limit_;
};

struct ProgressLog {
  std::vector<std::uint32_t> values;
  static int Record(std::uint32_t processed, void* context) {
    static_cast<ProgressLog*>(context)->values.push_back(processed);
    return 1;
  }
};

} // namespace

TEST(Bzip2Codec, Name) {
  Bzip2Compressor codec(9, 30, 8192);
  CQorCompressor& any = codec;
  EXPECT_EQ(L"BZIP2 compressor/expander", any.GetName());
}

TEST(Bzip2Codec, RoundTrips) {
  PayloadTest::Random random(42);
  const std::string cases[] = {
      "",
      "x",
      std::string(8192, 'a'),
      random.Bytes(8191),
      random.Bytes(8193),
      PayloadTest::TextLike(200000, 7),
      random.Bytes(70000) + std::string(100000, '\0') + PayloadTest::TextLike(30000, 7),
  };
  for (const std::string& data : cases) {
    const std::string packed = PayloadTest::Compress(data);
    ASSERT_GE(packed.size(), 4u);
    EXPECT_EQ(0, packed.compare(0, 3, "BZh")) << data.size();
    EXPECT_EQ(data, PayloadTest::Decompress(packed)) << data.size();
  }
}

TEST(Bzip2Codec, SmallBuffersStillRoundTrip) {
  const std::string data = PayloadTest::TextLike(50000, 7);
  Bzip2Compressor codec(1, 0, 16);
  std::istringstream in(data);
  std::ostringstream packed;
  codec.Compress(in, packed, nullptr, nullptr, 0);
  std::istringstream in2(packed.str());
  std::ostringstream out;
  codec.Decompress(in2, out, nullptr, nullptr, 0);
  EXPECT_EQ(data, out.str());
}

TEST(Bzip2Codec, TrailingBytesAfterTheStreamAreIgnored) {
  const std::string data = PayloadTest::TextLike(30000, 7);
  const std::string packed = PayloadTest::Compress(data);
  for (const std::string& tail :
       {std::string("garbage"), PayloadTest::Compress("other"), std::string(20000, '\x55')}) {
    EXPECT_EQ(data, PayloadTest::Decompress(packed + tail));
  }
}

TEST(Bzip2Codec, DamagedInputEndsIn21026) {
  const std::string data = PayloadTest::TextLike(100000, 7);
  const std::string packed = PayloadTest::Compress(data);
  std::string flipped = packed;
  flipped[packed.size() / 2] ^= 0x10;
  const std::string cases[] = {
      "",                                  // empty input
      packed.substr(0, 3),                 // only the signature
      packed.substr(0, packed.size() / 2), // cut in the middle
      packed.substr(0, packed.size() - 1), // last byte missing
      flipped,                             // block checksum cannot match
      "not a bzip2 stream at all",
  };
  for (const std::string& input : cases) {
    auto error = Catch([&] { PayloadTest::Decompress(input); });
    ASSERT_TRUE(error) << input.size();
    EXPECT_EQ(QorCompressLib::kStreamEndMissing, error->GetCode());
    EXPECT_EQ(L"Unable to find the end of compressed stream.\n", error->GetMessageText());
    EXPECT_EQ(nullptr, error->GetCause());
  }
}

TEST(Bzip2Codec, RefusingOutputStreams) {
  Bzip2Compressor codec(9, 30, 8192);
  PayloadTest::Random random(3);
  const std::string big = random.Bytes(1200000); // more than one block
  const std::string packedZeros = PayloadTest::Compress(std::string(100000, '\0'));
  const std::string packedBig = PayloadTest::Compress(big);
  struct Case {
    bool compress;
    const std::string* input;
    std::size_t accept;
    int code;
  } cases[] = {
      {false, &packedBig, 0, QorCompressLib::kDecompressWriteError}, // main phase, first piece
      {false, &packedZeros, 8192,
       QorCompressLib::kDrainWriteError}, // input ended: the rest comes while draining
      {true, &big, 0,
       QorCompressLib::kCompressWriteError}, // the first block is written in the main phase
      {true, &packedZeros, 0,
       QorCompressLib::kCompressFinishError}, // a small input is written only when finishing
  };
  for (const Case& c : cases) {
    LimitedBuffer sink(c.accept);
    std::ostream out(&sink);
    std::istringstream in(*c.input);
    auto error = Catch([&] {
      if (c.compress) {
        codec.Compress(in, out, nullptr, nullptr, 0);
      } else {
        codec.Decompress(in, out, nullptr, nullptr, 0);
      }
    });
    ASSERT_TRUE(error) << c.code;
    EXPECT_EQ(c.code, error->GetCode());
    EXPECT_EQ(L"Unable to write to the output stream.\n", error->GetMessageText());
    EXPECT_EQ(c.accept, sink.data.size());
  }
}

TEST(Bzip2Codec, CompressingWithBadParametersEndsIn21013) {
  for (int blockSize : {0, 10, -1}) {
    Bzip2Compressor codec(blockSize, 30, 8192);
    std::istringstream in("some input");
    std::ostringstream out;
    auto error = Catch([&] { codec.Compress(in, out, nullptr, nullptr, 0); });
    ASSERT_TRUE(error) << blockSize;
    EXPECT_EQ(QorCompressLib::kCompressFinishError, error->GetCode());
  }
}

TEST(Bzip2Codec, StepZeroWithCallbackIsRefused) {
  Bzip2Compressor codec(9, 30, 8192);
  const std::string packed = PayloadTest::Compress("abc");
  ProgressLog log;
  for (bool compress : {false, true}) {
    std::istringstream in(compress ? std::string("abc") : packed);
    std::ostringstream out;
    auto error = Catch([&] {
      if (compress) {
        codec.Compress(in, out, &ProgressLog::Record, &log, 0);
      } else {
        codec.Decompress(in, out, &ProgressLog::Record, &log, 0);
      }
    });
    ASSERT_TRUE(error);
    EXPECT_EQ(QorCompressLib::kProgressStepError, error->GetCode());
    EXPECT_TRUE(out.str().empty());
  }
  EXPECT_TRUE(log.values.empty());
}

TEST(Bzip2Codec, ProgressFollowsTheQuotientRule) {
  PayloadTest::Random random(11);
  // Random bytes barely compress, so both directions have over 1 MB of input
  // and step = total / 100 exceeds the 8192-byte piece.
  const std::string raw = random.Bytes(1100000);
  const std::string packed = PayloadTest::Compress(raw);
  Bzip2Compressor codec(9, 30, 8192);
  for (bool compress : {false, true}) {
    const std::string& input = compress ? raw : packed;
    const std::uint32_t total = static_cast<std::uint32_t>(input.size());
    for (std::uint32_t step : {total / 100, 1u}) {
      ProgressLog log;
      std::istringstream in(input);
      std::ostringstream out;
      if (compress) {
        codec.Compress(in, out, &ProgressLog::Record, &log, step);
      } else {
        codec.Decompress(in, out, &ProgressLog::Record, &log, step);
        EXPECT_EQ(raw, out.str());
      }
      ASSERT_FALSE(log.values.empty());
      for (std::size_t i = 1; i < log.values.size(); ++i) {
        EXPECT_GT(log.values[i] / step, log.values[i - 1] / step);
      }
      EXPECT_LE(log.values.back(), total);
      if (step == 1) {
        // One call per step that consumed input: at least one per piece.
        EXPECT_GE(log.values.size(), total / 8192 - 1);
      } else {
        // Each piece is smaller than step, so every multiple is seen once,
        // except perhaps the last, reached only while draining.
        EXPECT_LE(log.values.size(), total / step);
        EXPECT_GE(log.values.size(), total / step - 1);
        for (std::size_t i = 0; i < log.values.size(); ++i) {
          EXPECT_EQ(i + 1, log.values[i] / step);
        }
      }
    }
  }
}
