// Our block decoder against libbz2, the reference: the same bytes for every
// stream libbz2 accepts and a refusal (21026) for every stream it refuses,
// through the sequential expansion and the block-parallel one at every
// thread count (walking each block two ways and one way). Valid streams,
// streams with bits flipped everywhere, truncated streams, and crafted
// blocks no encoder makes. Built natively with the sanitizers
// (tools/host).
#include "qor/payload_core/bzip2_core.h"

#include "bzip2_block_decoder.h"
#include "bzip2_format.h"
#include "bzip2_test_data.h"

#include <bzlib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

// libbz2's own tables, the reference for the crafted blocks.
extern "C" {
extern int BZ2_rNums[512];
extern unsigned int BZ2_crc32Table[256];
}

namespace {

using QorCompressLib::kStreamEndMissing;
using namespace QorBzip2TestData;

struct Outcome {
  bool accepted = false;
  int code = 0;
  std::string output;
};

// libbz2 over the whole stream at once.
Outcome Reference(const std::string& stream) {
  Outcome outcome;
  bz_stream z;
  std::memset(&z, 0, sizeof(z));
  EXPECT_EQ(BZ_OK, BZ2_bzDecompressInit(&z, 0, 0));
  z.next_in = const_cast<char*>(stream.data());
  z.avail_in = static_cast<unsigned int>(stream.size());
  std::vector<char> piece(1 << 16);
  for (;;) {
    z.next_out = piece.data();
    z.avail_out = static_cast<unsigned int>(piece.size());
    const int result = BZ2_bzDecompress(&z);
    const std::size_t produced = piece.size() - z.avail_out;
    outcome.output.append(piece.data(), produced);
    if (result == BZ_STREAM_END) {
      outcome.accepted = true;
      break;
    }
    if (result != BZ_OK || produced == 0) {
      break;
    }
  }
  BZ2_bzDecompressEnd(&z);
  return outcome;
}

// threads 0: the sequential expansion.
Outcome Ours(const std::string& stream, unsigned threads) {
  Outcome outcome;
  StringSink sink;
  try {
    if (threads == 0) {
      StringSource source(stream, 4093);
      QorCompressLib::ExpandBzip2(source, sink);
    } else {
      QorCompressLib::ExpandBzip2Blocks(stream.data(), stream.size(), sink, nullptr, nullptr, 0,
                                        threads);
    }
    outcome.accepted = true;
  } catch (QorPayload::Error* error) {
    outcome.code = error->GetCode();
    delete error;
  }
  outcome.output = sink.bytes;
  return outcome;
}

// Sequential, two-way threads, one-way threads (more than four).
const unsigned kThreadCounts[] = {0, 1, 2, 4, 8};

// Whether every way of ours agrees with libbz2; says where not.
::testing::AssertionResult SameAsReference(const std::string& stream,
                                           const unsigned* threads = kThreadCounts,
                                           std::size_t count = 5) {
  const Outcome expected = Reference(stream);
  for (std::size_t i = 0; i < count; ++i) {
    const Outcome got = Ours(stream, threads[i]);
    if (got.accepted != expected.accepted || (expected.accepted && got.output != expected.output) ||
        (!got.accepted && got.code != kStreamEndMissing)) {
      return ::testing::AssertionFailure()
             << threads[i] << " threads (0: sequential): libbz2 "
             << (expected.accepted ? "accepts" : "refuses") << ", ours "
             << (got.accepted ? "accepts" : "refuses") << " (code " << got.code << ")"
             << (expected.accepted && got.accepted ? ", other bytes" : "");
    }
  }
  return ::testing::AssertionSuccess();
}

std::string FlipBit(std::string stream, std::uint64_t bit) {
  stream[bit / 8] = static_cast<char>(stream[bit / 8] ^ (0x80 >> (bit % 8)));
  return stream;
}

// --- Blocks written by hand, as no encoder writes them. ---

std::uint32_t ReferenceCrc(const std::string& data) {
  std::uint32_t crc = 0xffffffffu;
  for (unsigned char c : data) {
    crc = (crc << 8) ^ BZ2_crc32Table[(crc >> 24) ^ c];
  }
  return ~crc;
}

// The block's bytes as its encoder saw them (before the transform) from
// the output, runs of four and more written as four and a count.
std::string RunLengths(const std::string& output) {
  std::string out;
  for (std::size_t i = 0; i < output.size();) {
    std::size_t run = 1;
    while (i + run < output.size() && output[i + run] == output[i] && run < 255 + 4) {
      ++run;
    }
    if (run >= 4) {
      out.append(4, output[i]);
      out.push_back(static_cast<char>(run - 4));
    } else {
      out.append(run, output[i]);
    }
    i += run;
  }
  return out;
}

// The transform by sorting all rotations: the last column and the row of
// the block itself.
void Transform(const std::string& block, std::string& last, std::uint32_t& origin) {
  const std::size_t n = block.size();
  std::vector<std::size_t> rows(n);
  for (std::size_t i = 0; i < n; ++i) {
    rows[i] = i;
  }
  std::sort(rows.begin(), rows.end(), [&](std::size_t a, std::size_t b) {
    for (std::size_t k = 0; k < n; ++k) {
      const unsigned char x = static_cast<unsigned char>(block[(a + k) % n]);
      const unsigned char y = static_cast<unsigned char>(block[(b + k) % n]);
      if (x != y) {
        return x < y;
      }
    }
    return false;
  });
  last.assign(n, '\0');
  for (std::size_t i = 0; i < n; ++i) {
    last[i] = block[(rows[i] + n - 1) % n];
    if (rows[i] == 0) {
      origin = static_cast<std::uint32_t>(i);
    }
  }
}

// The randomised blocks' mask: which positions have their lowest bit flipped.
std::string RandomMask(std::size_t size) {
  std::string mask(size, '\0');
  int toGo = 0;
  int at = 0;
  for (std::size_t i = 0; i < size; ++i) {
    if (toGo == 0) {
      toGo = BZ2_rNums[at];
      at = (at + 1) % 512;
    }
    --toGo;
    mask[i] = toGo == 1 ? 1 : 0;
  }
  return mask;
}

struct Crafted {
  std::string last; // the last column as stored
  std::uint32_t origin = 0;
  std::uint32_t crc = 0;
  bool randomised = false;
  int level = 1;
  unsigned groups = 2;
  // 0: as many as the symbols need.
  unsigned selectors = 0;
  // Symbols to write instead of those of last (EOB not added).
  std::vector<unsigned> symbols;
  bool useSymbols = false;
  // Code lengths to declare instead of the fixed ones (every table).
  std::vector<int> lengths;
  // Declares no byte in use.
  bool noBytes = false;
};

// One stream of one crafted block. The symbols are written at one fixed
// length, each its index, whatever lengths are declared.
std::string Write(const Crafted& c) {
  bool used[256] = {false};
  for (unsigned char byte : c.last) {
    used[byte] = true;
  }
  std::vector<unsigned char> seq;
  for (unsigned i = 0; i < 256; ++i) {
    if (used[i] && !c.noBytes) {
      seq.push_back(static_cast<unsigned char>(i));
    }
  }
  const unsigned alphabet = static_cast<unsigned>(seq.size()) + 2;
  std::vector<unsigned> symbols = c.symbols;
  if (!c.useSymbols) {
    std::vector<unsigned char> mtf = seq;
    unsigned run = 0;
    auto flush = [&] {
      if (run == 0) {
        return;
      }
      unsigned pending = run - 1;
      for (;;) {
        symbols.push_back(pending & 1);
        if (pending < 2) {
          break;
        }
        pending = (pending - 2) / 2;
      }
      run = 0;
    };
    for (unsigned char byte : c.last) {
      const std::size_t index =
          static_cast<std::size_t>(std::find(mtf.begin(), mtf.end(), byte) - mtf.begin());
      if (index == 0) {
        ++run;
        continue;
      }
      flush();
      mtf.erase(mtf.begin() + static_cast<std::ptrdiff_t>(index));
      mtf.insert(mtf.begin(), byte);
      symbols.push_back(static_cast<unsigned>(index) + 1);
    }
    flush();
    symbols.push_back(alphabet - 1);
  }
  unsigned width = 1;
  while ((1u << width) < alphabet) {
    ++width;
  }
  std::vector<unsigned char> out;
  QorBzip2Format::BitWriter writer(out);
  writer.PutHeader(c.level);
  writer.Put(QorBzip2Format::kBlockMarker, 48);
  writer.Put(c.crc, 32);
  writer.Put(c.randomised ? 1 : 0, 1);
  writer.Put(c.origin, 24);
  unsigned ranges = 0;
  for (unsigned i = 0; i < 16; ++i) {
    for (unsigned j = 0; j < 16; ++j) {
      ranges |= used[i * 16 + j] && !c.noBytes ? 0x8000u >> i : 0;
    }
  }
  writer.Put(ranges, 16);
  for (unsigned i = 0; i < 16; ++i) {
    if (ranges & (0x8000u >> i)) {
      unsigned map = 0;
      for (unsigned j = 0; j < 16; ++j) {
        map |= used[i * 16 + j] ? 0x8000u >> j : 0;
      }
      writer.Put(map, 16);
    }
  }
  writer.Put(c.groups, 3);
  const unsigned selectors =
      c.selectors ? c.selectors : static_cast<unsigned>((symbols.size() + 49) / 50);
  writer.Put(selectors, 15);
  for (unsigned i = 0; i < selectors; ++i) {
    writer.Put(0, 1); // the first table
  }
  for (unsigned t = 0; t < c.groups; ++t) {
    std::vector<int> lengths = c.lengths;
    lengths.resize(alphabet, c.lengths.empty() ? static_cast<int>(width) : lengths.back());
    int current = lengths[0];
    writer.Put(static_cast<unsigned>(current) & 31, 5);
    for (unsigned i = 0; i < alphabet; ++i) {
      for (; current < lengths[i]; ++current) {
        writer.Put(2, 2);
      }
      for (; current > lengths[i]; --current) {
        writer.Put(3, 2);
      }
      writer.Put(0, 1);
    }
  }
  for (unsigned symbol : symbols) {
    writer.Put(symbol, width);
  }
  writer.PutEnd(c.crc);
  writer.Finish();
  return std::string(out.begin(), out.end());
}

// The output of a block's bytes before the transform (a missing count
// counts as none).
std::string UndoRunLengths(const std::string& block) {
  std::string out;
  for (std::size_t i = 0; i < block.size();) {
    std::size_t run = 1;
    while (run < 4 && i + run < block.size() && block[i + run] == block[i]) {
      ++run;
    }
    out.append(run, block[i]);
    if (run == 4 && i + 4 < block.size()) {
      out.append(static_cast<unsigned char>(block[i + 4]), block[i]);
      ++i;
    }
    i += run;
  }
  return out;
}

// A valid crafted block of output.
Crafted BlockOf(const std::string& output) {
  Crafted c;
  Transform(RunLengths(output), c.last, c.origin);
  c.crc = ReferenceCrc(output);
  return c;
}

} // namespace

TEST(Bzip2BlockDecoder, GivesLibbz2sBytesForValidStreams) {
  std::string everyByte;
  for (int i = 0; i < 256 * 3; ++i) {
    everyByte.push_back(static_cast<char>(i * 7));
  }
  const struct {
    const char* name;
    std::string data;
    int level;
  } cases[] = {
      {"empty", "", 9},
      {"one byte", "x", 1},
      {"runs of 3 to 6", "aaabbbbccccceeeeee", 1},
      {"a run of 4 at the end", "xyzzzz", 1},
      {"runs of 255 and more", std::string(255 + 4, 'r') + std::string(1000, 'q') + "s", 1},
      {"long runs", std::string(1200000, '\0') + "tail" + std::string(300000, 'x'), 9},
      {"every byte", everyByte, 1},
      {"random, two blocks", RandomBytes(150000, 1), 1},
      {"text, many blocks", TextLike(350000, 2, true), 1},
      {"text and random, level 9", TextLike(800000, 3, true) + RandomBytes(200000, 3), 9},
  };
  for (const auto& c : cases) {
    const std::string stream = Compress(c.data, c.level);
    EXPECT_TRUE(SameAsReference(stream)) << c.name;
    EXPECT_TRUE(Ours(stream, 1).output == c.data) << c.name;
  }
}

// Every bit of the first block's header, maps, selectors and first table,
// every seventh of the rest of its tables, a sample of the data of both
// blocks, the end and the checksums: flipped one at a time.
TEST(Bzip2BlockDecoder, RefusesWhatLibbz2RefusesWithBitsFlipped) {
  const std::string stream = Compress(TextLike(60000, 4, true) + RandomBytes(60000, 4), 1);
  const std::uint64_t bits = stream.size() * 8;
  std::vector<std::uint64_t> flips;
  for (std::uint64_t bit = 32; bit < 1600; bit += bit < 400 ? 1 : 7) {
    flips.push_back(bit);
  }
  std::mt19937 random(5);
  for (int i = 0; i < 60; ++i) {
    flips.push_back(1600 + random() % (bits - 1600));
  }
  for (std::uint64_t bit = bits - 8 - 80; bit < bits; ++bit) {
    flips.push_back(bit); // the end marker, the stream's checksum, the padding
  }
  // Each flip sequentially and on one thread (two-way walks); every fourth
  // on six threads too (one-way walks).
  const unsigned threads[] = {0, 1, 6};
  for (std::size_t i = 0; i < flips.size(); ++i) {
    EXPECT_TRUE(SameAsReference(FlipBit(stream, flips[i]), threads, i % 4 ? 2 : 3))
        << "bit " << flips[i];
  }
}

TEST(Bzip2BlockDecoder, RefusesTruncatedStreams) {
  const std::string stream = Compress(TextLike(120000, 6, true), 1);
  const unsigned threads[] = {0, 1, 8};
  for (std::size_t size = 0; size < stream.size(); size += (size < 64 ? 1 : 997)) {
    EXPECT_TRUE(SameAsReference(stream.substr(0, size), threads, 3)) << size << " bytes";
  }
  for (std::size_t cut = 1; cut <= 12; ++cut) {
    EXPECT_TRUE(SameAsReference(stream.substr(0, stream.size() - cut), threads, 3)) << cut;
  }
}

TEST(Bzip2BlockDecoder, AgreesWithLibbz2OnCraftedBlocks) {
  const std::string text = "the quick brown fox jumps over the lazy dog, again and again. ";
  std::string longText;
  while (longText.size() < 1500) {
    longText += text;
  }
  std::vector<std::pair<std::string, Crafted>> cases;
  cases.emplace_back("valid", BlockOf(text));
  {
    // The encoder's bytes before the transform with the mask applied; the
    // output is the text itself.
    Crafted c;
    std::string block = RunLengths(longText);
    const std::string mask = RandomMask(block.size());
    std::string masked = block;
    // The mask applies to the transform's output in order, which is the
    // block itself.
    for (std::size_t i = 0; i < block.size(); ++i) {
      masked[i] = static_cast<char>(block[i] ^ mask[i]);
    }
    Transform(masked, c.last, c.origin);
    c.randomised = true;
    c.crc = ReferenceCrc(longText);
    cases.emplace_back("randomised", c);
  }
  {
    Crafted c = BlockOf(text);
    c.randomised = true;
    cases.emplace_back("randomised bit on a plain block", c);
  }
  {
    Crafted c = BlockOf(text);
    c.origin = static_cast<std::uint32_t>(c.last.size());
    cases.emplace_back("origin past the block", c);
    c.origin = 100000 + 11;
    cases.emplace_back("origin past the level", c);
  }
  {
    Crafted c = BlockOf(text);
    c.selectors = 18002 + 7;
    cases.emplace_back("more selectors than kept", c);
    c.selectors = 32767;
    cases.emplace_back("the most selectors", c);
  }
  {
    Crafted c = BlockOf(longText);
    c.selectors = 1;
    cases.emplace_back("too few selectors", c);
  }
  {
    Crafted c = BlockOf(text);
    c.groups = 1;
    cases.emplace_back("one table", c);
    c.groups = 7;
    cases.emplace_back("seven tables", c);
    c.groups = 6;
    cases.emplace_back("six tables", c);
  }
  {
    Crafted c = BlockOf(text);
    c.lengths = {21};
    cases.emplace_back("code length 21", c);
    c.lengths = {0};
    cases.emplace_back("code length 0", c);
    c.lengths = {1};
    cases.emplace_back("every code one bit long", c);
    c.lengths = {20};
    cases.emplace_back("every code 20 bits long", c);
    c.lengths = {3, 20, 7, 1, 12};
    cases.emplace_back("mixed lengths", c);
  }
  {
    Crafted c = BlockOf(text);
    c.noBytes = true;
    cases.emplace_back("no byte in use", c);
  }
  {
    Crafted c = BlockOf(text);
    c.useSymbols = true;
    unsigned alphabet = 2;
    {
      bool used[256] = {false};
      for (unsigned char b : c.last) {
        alphabet += used[b] ? 0 : 1;
        used[b] = true;
      }
    }
    c.symbols.push_back(alphabet - 1);
    cases.emplace_back("end of block at once", c);
    // RUNB 17 times: a run of 2^18 - 2 bytes, more than a level-1 block.
    c.symbols.assign(17, 1);
    c.symbols.push_back(alphabet - 1);
    c.selectors = 1;
    cases.emplace_back("a run past the block's end", c);
    c.symbols.assign(40, 1);
    c.symbols.push_back(alphabet - 1);
    cases.emplace_back("a run of too many digits", c);
    c.symbols.assign(15, 1); // 65534 bytes fit
    c.symbols.push_back(alphabet - 1);
    c.origin = 5;
    cases.emplace_back("one long run", c);
  }
  {
    // Positions that form more than one cycle: the output is the start's
    // cycle over and over, and libbz2 accepts it when the checksum says so.
    Crafted c;
    c.last = "aabbbc abcab c";
    c.origin = 0;
    std::vector<int> next;
    {
      std::vector<int> slot(256, 0);
      int sum = 0;
      for (int b = 0; b < 256; ++b) {
        const int n = static_cast<int>(std::count(c.last.begin(), c.last.end(), char(b)));
        slot[b] = sum;
        sum += n;
      }
      next.assign(c.last.size(), 0);
      std::vector<int> forward(c.last.size());
      for (std::size_t i = 0; i < c.last.size(); ++i) {
        forward[slot[static_cast<unsigned char>(c.last[i])]++] = static_cast<int>(i);
      }
      std::string before;
      int position = forward[c.origin];
      for (std::size_t i = 0; i < c.last.size(); ++i) {
        before.push_back(c.last[position]);
        position = forward[position];
      }
      c.crc = ReferenceCrc(UndoRunLengths(before));
      bool oneCycle = true;
      position = forward[c.origin];
      for (std::size_t i = 1; i < c.last.size(); ++i) {
        oneCycle = oneCycle && position != forward[c.origin];
        position = forward[position];
      }
      EXPECT_FALSE(oneCycle);
    }
    cases.emplace_back("cycles", c);
  }
  {
    // A run of four at the block's end with no count after it.
    Crafted c;
    Transform("abcdddd", c.last, c.origin);
    c.crc = ReferenceCrc("abcdddd");
    cases.emplace_back("a count missing", c);
  }
  const Outcome valid = Reference(Write(cases[0].second));
  ASSERT_TRUE(valid.accepted);
  EXPECT_EQ(text, valid.output);
  const Outcome randomised = Reference(Write(cases[1].second));
  ASSERT_TRUE(randomised.accepted);
  EXPECT_EQ(longText, randomised.output);
  int accepted = 0;
  for (const auto& c : cases) {
    const std::string stream = Write(c.second);
    EXPECT_TRUE(SameAsReference(stream)) << c.first;
    accepted += Reference(stream).accepted ? 1 : 0;
  }
  // Valid, randomised, more selectors (twice), six tables, one long run,
  // cycles.
  EXPECT_GE(accepted, 6);
}
