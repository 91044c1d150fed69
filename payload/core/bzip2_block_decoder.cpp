#include "bzip2_block_decoder.h"

#include <cstring>
#include <new>

namespace QorCompressLib {

namespace {

// The bits looked up at once in a coding table; longer codes are read bit
// by bit, as libbz2 reads every code.
const unsigned kLookupBits = 11;
const unsigned kMaxCodeLength = 20;
const unsigned kMaxAlphabet = 258;
const unsigned kMaxGroups = 6;
const unsigned kGroupSize = 50;
// The selectors kept; a block may declare more, and those are read and
// ignored, as libbz2 does.
const unsigned kMaxSelectors = 18002;
// A run of more than this many repeats is damaged (a run length keeps
// within a block long before).
const std::uint32_t kMaxRunWeight = 2 * 1024 * 1024;

// The pseudo-random table of the old randomised blocks.
const std::uint16_t kRandomNumbers[512] = {
    619, 720, 127, 481, 931, 816, 813, 233, 566, 247, 985, 724, 205, 454, 863, 491, 741, 242, 949,
    214, 733, 859, 335, 708, 621, 574, 73,  654, 730, 472, 419, 436, 278, 496, 867, 210, 399, 680,
    480, 51,  878, 465, 811, 169, 869, 675, 611, 697, 867, 561, 862, 687, 507, 283, 482, 129, 807,
    591, 733, 623, 150, 238, 59,  379, 684, 877, 625, 169, 643, 105, 170, 607, 520, 932, 727, 476,
    693, 425, 174, 647, 73,  122, 335, 530, 442, 853, 695, 249, 445, 515, 909, 545, 703, 919, 874,
    474, 882, 500, 594, 612, 641, 801, 220, 162, 819, 984, 589, 513, 495, 799, 161, 604, 958, 533,
    221, 400, 386, 867, 600, 782, 382, 596, 414, 171, 516, 375, 682, 485, 911, 276, 98,  553, 163,
    354, 666, 933, 424, 341, 533, 870, 227, 730, 475, 186, 263, 647, 537, 686, 600, 224, 469, 68,
    770, 919, 190, 373, 294, 822, 808, 206, 184, 943, 795, 384, 383, 461, 404, 758, 839, 887, 715,
    67,  618, 276, 204, 918, 873, 777, 604, 560, 951, 160, 578, 722, 79,  804, 96,  409, 713, 940,
    652, 934, 970, 447, 318, 353, 859, 672, 112, 785, 645, 863, 803, 350, 139, 93,  354, 99,  820,
    908, 609, 772, 154, 274, 580, 184, 79,  626, 630, 742, 653, 282, 762, 623, 680, 81,  927, 626,
    789, 125, 411, 521, 938, 300, 821, 78,  343, 175, 128, 250, 170, 774, 972, 275, 999, 639, 495,
    78,  352, 126, 857, 956, 358, 619, 580, 124, 737, 594, 701, 612, 669, 112, 134, 694, 363, 992,
    809, 743, 168, 974, 944, 375, 748, 52,  600, 747, 642, 182, 862, 81,  344, 805, 988, 739, 511,
    655, 814, 334, 249, 515, 897, 955, 664, 981, 649, 113, 974, 459, 893, 228, 433, 837, 553, 268,
    926, 240, 102, 654, 459, 51,  686, 754, 806, 760, 493, 403, 415, 394, 687, 700, 946, 670, 656,
    610, 738, 392, 760, 799, 887, 653, 978, 321, 576, 617, 626, 502, 894, 679, 243, 440, 680, 879,
    194, 572, 640, 724, 926, 56,  204, 700, 707, 151, 457, 449, 797, 195, 791, 558, 945, 679, 297,
    59,  87,  824, 713, 663, 412, 693, 342, 606, 134, 108, 571, 364, 631, 212, 174, 643, 304, 329,
    343, 97,  430, 751, 497, 314, 983, 374, 822, 928, 140, 206, 73,  263, 980, 736, 876, 478, 430,
    305, 170, 514, 364, 692, 829, 82,  855, 953, 676, 246, 369, 970, 294, 750, 807, 827, 150, 790,
    288, 923, 804, 378, 215, 828, 592, 281, 565, 555, 710, 82,  896, 831, 547, 261, 524, 462, 293,
    465, 502, 56,  661, 821, 976, 991, 658, 869, 905, 758, 745, 193, 768, 550, 608, 933, 378, 286,
    215, 979, 792, 961, 61,  688, 793, 644, 986, 403, 106, 366, 905, 644, 372, 567, 466, 434, 645,
    210, 389, 550, 919, 135, 780, 773, 635, 389, 707, 100, 626, 958, 165, 504, 920, 176, 193, 713,
    857, 265, 203, 50,  668, 108, 645, 990, 626, 197, 510, 357, 358, 850, 858, 364, 936, 638,
};

struct CrcTables {
  std::uint32_t table[8][256];
  CrcTables() {
    for (std::uint32_t byte = 0; byte < 256; ++byte) {
      std::uint32_t crc = byte << 24;
      for (int bit = 0; bit < 8; ++bit) {
        crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04c11db7u : crc << 1;
      }
      table[0][byte] = crc;
    }
    for (int k = 1; k < 8; ++k) {
      for (std::uint32_t byte = 0; byte < 256; ++byte) {
        const std::uint32_t before = table[k - 1][byte];
        table[k][byte] = (before << 8) ^ table[0][before >> 24];
      }
    }
  }
};

const CrcTables& Crc() {
  static const CrcTables tables;
  return tables;
}

inline std::uint64_t LoadBigEndian64(const unsigned char* p) {
  std::uint64_t value;
  std::memcpy(&value, p, sizeof(value));
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  return __builtin_bswap64(value);
#elif defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  return value;
#else
  value = 0;
  for (int i = 0; i < 8; ++i) {
    value = value << 8 | p[i];
  }
  return value;
#endif
}

// One coding table: libbz2's limits, bases and symbol order, which define
// what any code lengths (valid or not) decode to, and a lookup table made
// from them: for each value of the next kLookupBits bits, the symbol << 5
// | its code length, or 0 where the bit-by-bit path decides.
struct CodingTable {
  std::int32_t limit[kMaxCodeLength + 2];
  std::int32_t base[kMaxCodeLength + 2];
  std::uint16_t perm[kMaxAlphabet];
  std::uint16_t lookup[1u << kLookupBits];
  unsigned minLength;

  void Make(const unsigned char* lengths, unsigned alphabet) {
    unsigned minLen = 32;
    unsigned maxLen = 0;
    for (unsigned i = 0; i < alphabet; ++i) {
      minLen = lengths[i] < minLen ? lengths[i] : minLen;
      maxLen = lengths[i] > maxLen ? lengths[i] : maxLen;
    }
    minLength = minLen;
    std::memset(perm, 0, sizeof(perm));
    unsigned pp = 0;
    for (unsigned len = minLen; len <= maxLen; ++len) {
      for (unsigned j = 0; j < alphabet; ++j) {
        if (lengths[j] == len) {
          perm[pp++] = static_cast<std::uint16_t>(j);
        }
      }
    }
    // The sizes as libbz2 has them: 23 places.
    std::int32_t counts[23] = {0};
    for (unsigned i = 0; i < alphabet; ++i) {
      counts[lengths[i] + 1]++;
    }
    for (unsigned i = 1; i < 23; ++i) {
      counts[i] += counts[i - 1];
    }
    for (unsigned i = 0; i < kMaxCodeLength + 2; ++i) {
      limit[i] = 0;
      base[i] = counts[i];
    }
    std::int32_t vec = 0;
    for (unsigned i = minLen; i <= maxLen; ++i) {
      vec += counts[i + 1] - counts[i];
      limit[i] = vec - 1;
      vec <<= 1;
    }
    for (unsigned i = minLen + 1; i <= maxLen; ++i) {
      base[i] = ((limit[i - 1] + 1) << 1) - counts[i];
    }
    for (std::uint32_t value = 0; value < (1u << kLookupBits); ++value) {
      std::uint16_t entry = 0;
      for (unsigned len = minLen; len <= kLookupBits; ++len) {
        const std::int32_t code = static_cast<std::int32_t>(value >> (kLookupBits - len));
        if (code <= limit[len]) {
          const std::int32_t index = code - base[len];
          if (index >= 0 && index < static_cast<std::int32_t>(kMaxAlphabet)) {
            entry = static_cast<std::uint16_t>(perm[index] << 5 | len);
          }
          break;
        }
      }
      lookup[value] = entry;
    }
  }
};

} // namespace

// What one block's symbols are read with, kept from block to block.
struct Bzip2BlockDecoder::Tables {
  unsigned char selectors[kMaxSelectors];
  CodingTable coding[kMaxGroups];
};

// The block's bits, most significant first, kept 64 at a time: the top
// count bits of buffer are the next ones. Bits at or past the end of the
// bytes given read as zero; Position() then tells how far reading went.
struct BitReader {
  const unsigned char* data;
  std::size_t end; // bytes that may be read
  std::size_t next;
  std::uint64_t buffer = 0;
  unsigned count = 0;

  BitReader(const unsigned char* bytes, std::size_t size, std::uint64_t bit, std::uint64_t limit)
      : data(bytes) {
    const std::uint64_t limitByte = (limit + 7) / 8;
    end = static_cast<std::size_t>(limitByte < size ? limitByte : size);
    next = static_cast<std::size_t>(bit / 8);
    Refill();
    Skip(static_cast<unsigned>(bit % 8));
  }

  // At least 56 bits in the buffer afterwards.
  void Refill() {
    if (next + 8 <= end) {
      // The bits below the count come from the bytes the next refill reads
      // again: OR-ing them twice changes nothing.
      buffer |= LoadBigEndian64(data + next) >> count;
      next += (63 - count) >> 3;
      count |= 56;
      return;
    }
    while (count <= 56) {
      const std::uint64_t byte = next < end ? data[next] : 0;
      buffer |= byte << (56 - count);
      ++next;
      count += 8;
    }
  }
  std::uint64_t Position() const { return static_cast<std::uint64_t>(next) * 8 - count; }
  // Up to 32 bits.
  std::uint32_t Get(unsigned bits) {
    if (count < bits) {
      Refill();
    }
    const std::uint32_t value = static_cast<std::uint32_t>(buffer >> (64 - bits));
    buffer <<= bits;
    count -= bits;
    return value;
  }
  void Skip(unsigned bits) {
    buffer <<= bits;
    count -= bits;
  }
};

Bzip2BlockDecoder::Bzip2BlockDecoder(bool twoWays) : tables_(new Tables), twoWays_(twoWays) {}
Bzip2BlockDecoder::~Bzip2BlockDecoder() = default;

void Bzip2BlockDecoder::Reserve(int level) {
  if (level <= capacityLevel_) {
    return;
  }
  const std::size_t size = static_cast<std::size_t>(level) * 100000;
  bytes_.reset();
  vector_.reset();
  backward_.reset();
  capacityLevel_ = 0;
  bytes_.reset(new unsigned char[size]);
  vector_.reset(new std::uint32_t[size]);
  if (twoWays_) {
    backward_.reset(new std::uint32_t[size]);
  }
  capacityLevel_ = level;
}

Bzip2BlockDecoder::Status Bzip2BlockDecoder::Read(const unsigned char* data, std::size_t size,
                                                  std::uint64_t bit, std::uint64_t limitBit,
                                                  int level) {
  Reserve(level);
  finished_ = false;
  bad_ = false;
  BitReader bits(data, size, bit, limitBit);
  const bool read = ReadSymbols(bits, level);
  endBit_ = bits.Position();
  // Whatever was decided after the given bits ran out was decided on zeros.
  if (endBit_ > limitBit) {
    return kShort;
  }
  if (!read) {
    return kBad;
  }
  Invert();
  return kRead;
}

bool Bzip2BlockDecoder::ReadSymbols(BitReader& bits, int level) {
  storedCrc_ = bits.Get(32);
  randomised_ = bits.Get(1) != 0;
  origin_ = bits.Get(24);
  const std::uint32_t maxLength = static_cast<std::uint32_t>(level) * 100000;
  if (origin_ > 10 + maxLength) {
    return false;
  }
  // The bytes in use, in order.
  unsigned char used[256];
  unsigned inUse = 0;
  const std::uint32_t ranges = bits.Get(16);
  for (unsigned i = 0; i < 16; ++i) {
    if (ranges & (0x8000u >> i)) {
      const std::uint32_t map = bits.Get(16);
      for (unsigned j = 0; j < 16; ++j) {
        if (map & (0x8000u >> j)) {
          used[inUse++] = static_cast<unsigned char>(i * 16 + j);
        }
      }
    }
  }
  if (inUse == 0) {
    return false;
  }
  const unsigned alphabet = inUse + 2;
  const unsigned groups = bits.Get(3);
  if (groups < 2 || groups > kMaxGroups) {
    return false;
  }
  unsigned selectorCount = bits.Get(15);
  if (selectorCount < 1) {
    return false;
  }
  unsigned char* const selectors = tables_->selectors;
  {
    unsigned char order[kMaxGroups];
    for (unsigned g = 0; g < groups; ++g) {
      order[g] = static_cast<unsigned char>(g);
    }
    for (unsigned i = 0; i < selectorCount; ++i) {
      unsigned j = 0;
      while (bits.Get(1)) {
        if (++j >= groups) {
          return false;
        }
      }
      if (i < kMaxSelectors) {
        const unsigned char chosen = order[j];
        for (; j > 0; --j) {
          order[j] = order[j - 1];
        }
        order[0] = chosen;
        selectors[i] = chosen;
      }
    }
    if (selectorCount > kMaxSelectors) {
      selectorCount = kMaxSelectors;
    }
  }
  CodingTable* const tables = tables_->coding;
  for (unsigned t = 0; t < groups; ++t) {
    unsigned char lengths[kMaxAlphabet];
    int current = static_cast<int>(bits.Get(5));
    for (unsigned i = 0; i < alphabet; ++i) {
      for (;;) {
        if (current < 1 || current > static_cast<int>(kMaxCodeLength)) {
          return false;
        }
        if (!bits.Get(1)) {
          break;
        }
        current += bits.Get(1) ? -1 : 1;
      }
      lengths[i] = static_cast<unsigned char>(current);
    }
    tables[t].Make(lengths, alphabet);
  }

  // The move-to-front list holds the bytes themselves.
  unsigned char mtf[256];
  for (unsigned i = 0; i < inUse; ++i) {
    mtf[i] = used[i];
  }
  std::memset(counts_, 0, sizeof(counts_));
  unsigned char* const out = bytes_.get();
  std::uint32_t length = 0;
  const unsigned endOfBlock = inUse + 1;
  std::uint32_t runWeight = 0; // 0: no run being read
  std::uint32_t run = 0;
  const CodingTable* table = nullptr;
  unsigned groupLeft = 0;
  unsigned group = 0;
  for (;;) {
    if (groupLeft == 0) {
      if (group >= selectorCount) {
        return false;
      }
      table = &tables[selectors[group++]];
      groupLeft = kGroupSize;
    }
    --groupLeft;
    if (bits.count < kMaxCodeLength) {
      bits.Refill();
    }
    unsigned symbol;
    const std::uint16_t entry = table->lookup[bits.buffer >> (64 - kLookupBits)];
    if (entry) {
      bits.Skip(entry & 31u);
      symbol = entry >> 5;
    } else {
      // Bit by bit, as libbz2 decodes: the first length whose limit the
      // code does not pass.
      unsigned len = table->minLength;
      std::int32_t code = static_cast<std::int32_t>(bits.buffer >> (64 - len));
      for (;;) {
        if (len > kMaxCodeLength) {
          return false;
        }
        if (code <= table->limit[len]) {
          break;
        }
        ++len;
        code = static_cast<std::int32_t>(bits.buffer >> (64 - len));
      }
      bits.Skip(len);
      const std::int32_t index = code - table->base[len];
      if (index < 0 || index >= static_cast<std::int32_t>(kMaxAlphabet)) {
        return false;
      }
      symbol = table->perm[index];
    }
    if (symbol <= 1) {
      // RUNA and RUNB: a run of the front byte, its length in bijective
      // base 2, lowest digit first.
      if (runWeight == 0) {
        runWeight = 1;
        run = 0;
      }
      if (runWeight >= kMaxRunWeight) {
        return false;
      }
      run += runWeight << symbol;
      runWeight <<= 1;
      continue;
    }
    if (runWeight) {
      runWeight = 0;
      if (run > maxLength - length) {
        return false;
      }
      const unsigned char front = mtf[0];
      std::memset(out + length, front, run);
      counts_[front] += run;
      length += run;
    }
    if (symbol == endOfBlock) {
      break;
    }
    if (length >= maxLength) {
      return false;
    }
    unsigned index = symbol - 1;
    const unsigned char byte = mtf[index];
    if (index < 16) {
      for (; index > 0; --index) {
        mtf[index] = mtf[index - 1];
      }
    } else {
      std::memmove(mtf + 1, mtf, index);
    }
    mtf[0] = byte;
    out[length++] = byte;
    counts_[byte]++;
  }
  if (origin_ >= length) {
    return false;
  }
  length_ = length;
  return true;
}

void Bzip2BlockDecoder::Invert() {
  // Each position's entry: the position that follows it in the output,
  // and that position's byte; the backward vector holds the position before
  // it and its byte.
  std::uint32_t next[256];
  std::uint32_t sum = 0;
  for (unsigned i = 0; i < 256; ++i) {
    next[i] = sum;
    sum += counts_[i];
  }
  unsigned char* const bytes = bytes_.get();
  std::uint32_t* const forward = vector_.get();
  std::uint32_t* const backward = backward_.get();
  const std::uint32_t length = length_;
  if (backward) {
    for (std::uint32_t i = 0; i < length; ++i) {
      const unsigned char byte = bytes[i];
      const std::uint32_t slot = next[byte]++;
      forward[slot] = i << 8 | byte;
      backward[i] = slot << 8 | byte;
    }
  } else {
    for (std::uint32_t i = 0; i < length; ++i) {
      const unsigned char byte = bytes[i];
      forward[next[byte]++] = i << 8 | byte;
    }
  }
  // The output before the run-length step, over the bytes no longer
  // needed. Each step waits for a load from anywhere in the vector: two
  // walks at once, the first half from the start and the second from the
  // end backwards, wait for two loads at a time.
  bool walked = false;
  if (backward) {
    const std::uint32_t half = length / 2;
    std::uint32_t ahead = origin_;
    std::uint32_t behind = origin_;
    std::uint32_t i = 0;
    for (; i < half; ++i) {
      const std::uint32_t front = forward[ahead];
      const std::uint32_t back = backward[behind];
      bytes[i] = static_cast<unsigned char>(front);
      bytes[length - 1 - i] = static_cast<unsigned char>(back);
      ahead = front >> 8;
      behind = back >> 8;
    }
    if (length - half > half) {
      const std::uint32_t back = backward[behind];
      bytes[half] = static_cast<unsigned char>(back);
      behind = back >> 8;
    }
    // The walks meet only when the positions form one cycle through the
    // whole block, as in every block an encoder made. Otherwise the output
    // is the start's cycle over and over, from the start on.
    walked = ahead == behind;
  }
  if (!walked) {
    std::uint32_t position = origin_;
    for (std::uint32_t i = 0; i < length; ++i) {
      const std::uint32_t entry = forward[position];
      bytes[i] = static_cast<unsigned char>(entry);
      position = entry >> 8;
    }
  }
  if (randomised_) {
    unsigned table = 0;
    std::uint32_t toGo = 0;
    for (std::uint32_t i = 0; i < length_; ++i) {
      if (toGo == 0) {
        toGo = kRandomNumbers[table];
        table = (table + 1) & 511;
      }
      --toGo;
      if (toGo == 1) {
        bytes[i] ^= 1;
      }
    }
  }
  at_ = 0;
  last_ = -1;
  same_ = 0;
  pending_ = 0;
  crc_ = 0xffffffffu;
}

std::size_t Bzip2BlockDecoder::Produce(unsigned char* out, std::size_t room) {
  if (finished_) {
    return 0;
  }
  unsigned char* o = out;
  unsigned char* const outEnd = out + room;
  const unsigned char* const bytes = bytes_.get();
  const std::uint32_t length = length_;
  std::uint32_t at = at_;
  int last = last_;
  unsigned same = same_;
  for (;;) {
    if (pending_) {
      const std::size_t left = static_cast<std::size_t>(outEnd - o);
      const std::size_t take = left < pending_ ? left : pending_;
      std::memset(o, pendingByte_, take);
      o += take;
      pending_ -= static_cast<unsigned>(take);
      if (pending_) {
        break;
      }
    }
    if (bad_ || o == outEnd || at == length) {
      break;
    }
    // Four equal bytes in a row are followed by a count of further ones.
    while (o < outEnd && at < length) {
      const unsigned char byte = bytes[at++];
      *o++ = byte;
      if (byte != last) {
        last = byte;
        same = 1;
      } else if (++same == 4) {
        if (at == length) {
          bad_ = true; // the count is missing
          break;
        }
        pending_ = bytes[at++];
        pendingByte_ = byte;
        last = -1;
        same = 0;
        break;
      }
    }
  }
  at_ = at;
  last_ = last;
  same_ = same;
  const std::size_t produced = static_cast<std::size_t>(o - out);
  crc_ = Bzip2Crc(crc_, out, produced);
  if (bad_) {
    finished_ = true;
    return 0;
  }
  if (produced == 0) {
    finished_ = true;
    if (~crc_ != storedCrc_) {
      bad_ = true;
    }
  }
  return produced;
}

std::uint32_t Bzip2Crc(std::uint32_t crc, const unsigned char* data, std::size_t size) {
  const CrcTables& crcTables = Crc();
  const std::uint32_t(*t)[256] = crcTables.table;
  while (size >= 8) {
    const std::uint32_t high = crc ^ (static_cast<std::uint32_t>(data[0]) << 24 |
                                      static_cast<std::uint32_t>(data[1]) << 16 |
                                      static_cast<std::uint32_t>(data[2]) << 8 | data[3]);
    crc = t[7][high >> 24] ^ t[6][(high >> 16) & 0xff] ^ t[5][(high >> 8) & 0xff] ^
          t[4][high & 0xff] ^ t[3][data[4]] ^ t[2][data[5]] ^ t[1][data[6]] ^ t[0][data[7]];
    data += 8;
    size -= 8;
  }
  while (size--) {
    crc = (crc << 8) ^ t[0][(crc >> 24) ^ *data++];
  }
  return crc;
}

} // namespace QorCompressLib
