// The block-parallel compressor: one standard stream, the same bytes for
// every thread count and for every way the data is handed in, equal to what
// libbz2 makes of the whole data in one call, and accepted by the launcher's
// codec.
#include "qor/payload_core/bzip2_core.h"

#include "test_support.h"

#include <bzlib.h>
#include <gtest/gtest.h>

namespace {

using PayloadTest::StringSink;

std::string ParallelCompress(const std::string& data, unsigned threads, std::size_t piece) {
  StringSink sink;
  QorCompressLib::ParallelBzip2Compressor compressor(sink, threads, data.size());
  for (std::size_t at = 0; at < data.size(); at += piece) {
    compressor.Write(data.data() + at, std::min(piece, data.size() - at));
  }
  compressor.Finish();
  return sink.bytes;
}

std::string OneCall(const std::string& data) {
  std::string out(data.size() + data.size() / 100 + 700, '\0');
  unsigned int length = static_cast<unsigned int>(out.size());
  EXPECT_EQ(BZ_OK, BZ2_bzBuffToBuffCompress(&out[0], &length, const_cast<char*>(data.data()),
                                            static_cast<unsigned int>(data.size()), 9, 0, 30));
  out.resize(length);
  return out;
}

// Bytes without runs: each byte takes one place in a block.
std::string NoRuns(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) {
    s[i] = static_cast<char>(i % 251);
  }
  return s;
}

} // namespace

TEST(ParallelBzip2, SameAsOneCallForEveryThreadCountAndPieceSize) {
  // A block holds 899981 coded bytes; the run that opens past that starts
  // the next block, unless it is the last byte.
  const std::size_t limit = 899981;
  PayloadTest::Random random(5);
  struct Case {
    const char* what;
    std::string data;
  } cases[] = {
      {"empty", ""},
      {"one byte", "x"},
      {"short text", "hello, hello, hello"},
      {"full block", NoRuns(limit)},
      {"full block and a last byte", NoRuns(limit + 1)},
      {"full block and two bytes", NoRuns(limit + 2)},
      {"runs of four grow when coded",
       [] {
         std::string s;
         while (s.size() < 800000) {
           s += "aaaab";
         }
         return s;
       }()},
      {"runs longer than 255", std::string(300000, 'z') + NoRuns(700000) + std::string(5000, 'q')},
      {"random, several blocks", random.Bytes(2500000)},
  };
  for (const Case& c : cases) {
    const std::string expected = OneCall(c.data);
    for (unsigned threads : {1u, 2u, 3u}) {
      for (std::size_t piece : {std::size_t(1) << 20, std::size_t(777)}) {
        if (piece < 1000 && c.data.size() > 1000000) {
          continue;
        }
        EXPECT_EQ(expected, ParallelCompress(c.data, threads, piece))
            << c.what << ", threads " << threads << ", pieces of " << piece;
      }
    }
    EXPECT_EQ(c.data, PayloadTest::Decompress(expected)) << c.what;
  }
}

TEST(ParallelBzip2, MoreOrLessDataThanAnnouncedIsAnError) {
  StringSink sink;
  {
    QorCompressLib::ParallelBzip2Compressor compressor(sink, 2, 10);
    compressor.Write("12345", 5);
    try {
      compressor.Finish();
      ADD_FAILURE() << "short data accepted";
    } catch (QorPayload::Error* error) {
      EXPECT_EQ(QorCompressLib::kParallelCompressError, error->GetCode());
      delete error;
    }
  }
  QorCompressLib::ParallelBzip2Compressor compressor(sink, 2, 3);
  try {
    compressor.Write("12345", 5);
    ADD_FAILURE() << "long data accepted";
  } catch (QorPayload::Error* error) {
    EXPECT_EQ(QorCompressLib::kParallelCompressError, error->GetCode());
    delete error;
  }
}
