// The block encoder against libbz2, natively under the sanitizers: the same
// bytes for every kind of block, the repeating blocks it leaves to libbz2,
// and its two building blocks against brute force and libbz2's own.
#include "bzip2_block_encoder.h"

#include "qor/payload_core/bzip2_core.h"

#include <bzlib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" void BZ2_hbMakeCodeLengths(unsigned char* len, std::int32_t* freq,
                                      std::int32_t alphaSize, std::int32_t maxLen);

namespace {

using QorCompressLib::Bzip2BlockEncoder;

std::string Libbz2(const std::string& data) {
  std::string out(data.size() + data.size() / 100 + 1024, '\0');
  unsigned int size = static_cast<unsigned int>(out.size());
  EXPECT_EQ(BZ_OK, BZ2_bzBuffToBuffCompress(&out[0], &size, const_cast<char*>(data.data()),
                                            static_cast<unsigned int>(data.size()), 9, 0, 30));
  out.resize(size);
  return out;
}

Bzip2BlockEncoder::Result Encode(Bzip2BlockEncoder& encoder, const std::string& data,
                                 std::string& out) {
  encoder.Reset();
  // In uneven pieces, so that runs cross them.
  for (std::size_t at = 0; at < data.size();) {
    const std::size_t take = std::min<std::size_t>(1 + at % 7919, data.size() - at);
    encoder.Add(reinterpret_cast<const unsigned char*>(data.data()) + at, take);
    at += take;
  }
  return encoder.Finish(out);
}

std::string Random(std::size_t size, unsigned seed, unsigned alphabet = 256) {
  std::mt19937 random(seed);
  std::string s(size, '\0');
  for (char& c : s) {
    c = static_cast<char>(random() % alphabet);
  }
  return s;
}

std::string Text(std::size_t size, unsigned seed) {
  static const char* const words[] = {"the ", "setup ", "extracts ",    "files ", "needed ",
                                      "for ", "an ",    "installation", ".\n",    "Veltrano ",
                                      "of ",  "Qor ",   "please ",      "wait ",  "while "};
  std::mt19937 random(seed);
  std::string s;
  while (s.size() < size) {
    s += words[random() % (sizeof words / sizeof *words)];
  }
  s.resize(size);
  return s;
}

// Runs of every length around the run coding's limits (4 and 255).
std::string Runs(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string s;
  while (s.size() < size) {
    const std::size_t length = random() % 3 == 0 ? random() % 600 : 1 + random() % 8;
    s.append(length, static_cast<char>(random() % 5));
  }
  s.resize(size);
  return s;
}

// Program-like bytes: a file of the system's, or made-up records of small
// numbers and zero padding.
std::string Binary(std::size_t size) {
  std::ifstream file("/bin/sh", std::ios::binary);
  std::string s((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::mt19937 random(5);
  while (s.size() < size) {
    const std::uint32_t value = random() % 70000;
    s.append(reinterpret_cast<const char*>(&value), sizeof value);
    s.append(random() % 13, '\0');
  }
  s.resize(size);
  return s;
}

std::string AllBytes() {
  std::string s;
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 256; ++i) {
      s.push_back(static_cast<char>(round == 1 ? 255 - i : i));
    }
  }
  return s;
}

struct Case {
  const char* name;
  std::string data;
};

// The largest data of one libbz2 block: its fill limit less the run that
// would open the next block.
const std::size_t kFullBlock = 899981;

TEST(Bzip2BlockEncoder, MakesLibbz2sBytesForEveryKindOfBlock) {
  const std::vector<Case> cases = {
      {"one byte", "x"},
      {"two bytes", "xy"},
      {"a run of four", "zzzz"},
      {"short text", "Please wait while the setup extracts the"},
      {"all byte values", AllBytes()},
      {"text", Text(300000, 1)},
      {"full block of text", Text(kFullBlock, 2)},
      {"random", Random(100000, 3)},
      {"full block of random bytes", Random(kFullBlock - 1000, 4)},
      {"two letters", Random(200000, 5, 2)},
      {"runs", Runs(kFullBlock / 3, 6)},
      {"binary", Binary(600000)},
      {"zeros", std::string(1000, '\0')},
      {"zeros and one other", std::string(70000, '\0') + "\x01" + std::string(5000, '\0')},
  };
  Bzip2BlockEncoder encoder;
  for (const Case& c : cases) {
    std::string out = "kept";
    ASSERT_EQ(Bzip2BlockEncoder::kEncoded, Encode(encoder, c.data, out)) << c.name;
    EXPECT_TRUE(out == "kept" + Libbz2(c.data)) << c.name;
  }
}

// Thousands of tiny blocks of few letters: every table count, small
// alphabets, and repeating blocks among them, which go to libbz2.
TEST(Bzip2BlockEncoder, MakesLibbz2sBytesForTinyBlocks) {
  Bzip2BlockEncoder encoder;
  std::mt19937 random(7);
  int repeating = 0;
  for (int i = 0; i < 600; ++i) {
    const std::size_t size = 1 + random() % (i < 400 ? 12 : 3000);
    const std::string data = Random(size, static_cast<unsigned>(i), 2 + random() % 3);
    std::string out;
    const Bzip2BlockEncoder::Result result = Encode(encoder, data, out);
    if (result == Bzip2BlockEncoder::kRepeating) {
      ++repeating;
      EXPECT_TRUE(out.empty());
      continue;
    }
    ASSERT_EQ(Bzip2BlockEncoder::kEncoded, result) << data;
    ASSERT_TRUE(out == Libbz2(data)) << data;
  }
  EXPECT_GT(repeating, 10);
}

TEST(Bzip2BlockEncoder, LeavesRepeatingBlocksAndOverlongDataToLibbz2) {
  const std::vector<Case> repeating = {
      {"two equal bytes", "aa"},
      {"a pattern twice", "abcabc"},
      {"a long pattern", Random(1000, 8) + Random(1000, 8)},
      // Runs of 255 code as the same five bytes again and again.
      {"zeros", std::string(255 * 3000, '\0')},
  };
  Bzip2BlockEncoder encoder;
  for (const Case& c : repeating) {
    std::string out;
    EXPECT_EQ(Bzip2BlockEncoder::kRepeating, Encode(encoder, c.data, out)) << c.name;
    EXPECT_TRUE(out.empty()) << c.name;
  }
  std::string out;
  EXPECT_EQ(Bzip2BlockEncoder::kTooLong, Encode(encoder, Random(kFullBlock + 30, 9), out));
  EXPECT_TRUE(out.empty());
  // The encoder works on after both.
  EXPECT_EQ(Bzip2BlockEncoder::kEncoded, Encode(encoder, "after", out));
  EXPECT_TRUE(out == Libbz2("after"));
}

// The block-parallel compressor with blocks of every kind, a repeating one
// among them: libbz2's stream on every thread count.
TEST(Bzip2BlockEncoder, KeepsTheParallelCompressorsStreamLibbz2s) {
  std::string pattern;
  for (int i = 0; i < 1000; ++i) {
    pattern += "ab";
  }
  Bzip2BlockEncoder encoder;
  std::string out;
  ASSERT_EQ(Bzip2BlockEncoder::kRepeating, Encode(encoder, pattern, out));
  const std::vector<Case> cases = {
      {"mixed", Text(1200000, 10) + std::string(255 * 4000, '\0') + Binary(700000) +
                    Random(300000, 11) + Runs(900000, 12)},
      // A full first block, whose last run ends where the second block,
      // the repeating pattern, starts.
      {"repeating last block", Text(kFullBlock - 1, 13) + "." + pattern},
  };
  for (const Case& c : cases) {
    const std::string expected = Libbz2(c.data);
    for (unsigned threads : {1u, 3u}) {
      std::string got;
      class Sink : public QorPayload::ByteSink {
      public:
        explicit Sink(std::string& to) : to_(to) {}
        void Write(const char* bytes, std::size_t size) override { to_.append(bytes, size); }

      private:
        std::string& to_;
      } sink(got);
      QorCompressLib::ParallelBzip2Compressor compressor(sink, threads, c.data.size());
      compressor.Write(c.data.data(), c.data.size());
      compressor.Finish();
      EXPECT_TRUE(expected == got) << c.name << ", " << threads << " threads";
    }
  }
}

TEST(Bzip2BlockEncoder, FindsTheLeastRotation) {
  // Words of up to 12 letters over {a, b} and some over {a, b, c}, and
  // longer ones, against all their rotations.
  std::mt19937 random(13);
  for (int i = 0; i < 20000; ++i) {
    const std::size_t size = i < 15000 ? 1 + i % 12 : 13 + i % 60;
    const std::string word = Random(size, static_cast<unsigned>(random()), i % 3 == 0 ? 3 : 2);
    std::vector<std::string> rotations;
    for (std::size_t r = 0; r < size; ++r) {
      rotations.push_back(word.substr(r) + word.substr(0, r));
    }
    const std::string least = *std::min_element(rotations.begin(), rotations.end());
    const bool unique = std::count(rotations.begin(), rotations.end(), least) == 1;
    const std::string twice = word + word;
    const QorCompressLib::LeastRotation got = QorCompressLib::FindLeastRotation(
        reinterpret_cast<const unsigned char*>(twice.data()), size);
    ASSERT_LT(got.start, size);
    EXPECT_EQ(least, rotations[got.start]) << word;
    EXPECT_EQ(unique, got.unique) << word;
  }
}

// Frequencies that make codes longer than 17 bits (Fibonacci numbers), flat
// ones and ones with many ties: libbz2's lengths.
TEST(Bzip2BlockEncoder, MakesLibbz2sCodeLengths) {
  std::vector<std::vector<std::int32_t>> tables;
  std::vector<std::int32_t> fibonacci = {1, 1};
  // (up to a block's count of values: 832040)
  while (fibonacci.size() < 30) {
    fibonacci.push_back(fibonacci[fibonacci.size() - 1] + fibonacci[fibonacci.size() - 2]);
  }
  tables.push_back(fibonacci);
  tables.push_back(std::vector<std::int32_t>(258, 7));
  tables.push_back(std::vector<std::int32_t>(3, 0));
  std::mt19937 random(14);
  for (int i = 0; i < 300; ++i) {
    std::vector<std::int32_t> frequency(3 + random() % 256);
    for (std::int32_t& f : frequency) {
      f = random() % 4 == 0 ? 0 : static_cast<std::int32_t>(random() % (1 + (random() % 100000)));
    }
    tables.push_back(frequency);
  }
  for (std::vector<std::int32_t>& frequency : tables) {
    const int alphabet = static_cast<int>(frequency.size());
    unsigned char expected[258];
    unsigned char got[258];
    BZ2_hbMakeCodeLengths(expected, frequency.data(), alphabet, 17);
    QorCompressLib::MakeCodeLengths(got, frequency.data(), alphabet, 17);
    EXPECT_TRUE(std::equal(expected, expected + alphabet, got)) << alphabet << " symbols";
    EXPECT_LE(*std::max_element(got, got + alphabet), 17);
  }
}

} // namespace
