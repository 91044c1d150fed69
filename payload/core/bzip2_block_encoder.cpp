// The stages of one level-9 bzip2 block. After the sort every stage repeats
// libbz2's arithmetic step for step (its initial split of the symbols into
// tables, four refinement passes, its Huffman lengths capped at 17 bits, its
// tie-breaks), so that the same block order gives the same bits.
#include "bzip2_block_encoder.h"

#include <divsufsort.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace QorCompressLib {

namespace {

// libbz2's block array at level 9; a block never holds more.
const std::size_t kBlockCapacity = 900000;
const int kGroups = 6;
const int kGroupSize = 50;
const int kIterations = 4;
const int kMaxAlphabet = 258;
const int kMaxSelectors = 2 + 900000 / kGroupSize;
const int kMaxCodeLength = 17;
const unsigned char kLesserCost = 0;
const unsigned char kGreaterCost = 15;
const std::uint16_t kRunA = 0;
const std::uint16_t kRunB = 1;

// The block's CRC: CRC-32 (polynomial 0x04C11DB7), most significant bit
// first, eight bytes a step with a table for each byte's distance from the
// step's end.
struct CrcTables {
  std::uint32_t table[8][256];
};

constexpr CrcTables MakeCrcTables() {
  CrcTables t{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t crc = i << 24;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    t.table[0][i] = crc;
  }
  for (int k = 1; k < 8; ++k) {
    for (int i = 0; i < 256; ++i) {
      const std::uint32_t previous = t.table[k - 1][i];
      t.table[k][i] = (previous << 8) ^ t.table[0][previous >> 24];
    }
  }
  return t;
}

constexpr CrcTables kCrc = MakeCrcTables();

std::uint32_t UpdateCrc(std::uint32_t crc, const unsigned char* data, std::size_t size) {
  const auto& t = kCrc.table;
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    const unsigned char* b = data + i;
    crc ^= static_cast<std::uint32_t>(b[0]) << 24 | static_cast<std::uint32_t>(b[1]) << 16 |
           static_cast<std::uint32_t>(b[2]) << 8 | b[3];
    crc = t[7][crc >> 24] ^ t[6][(crc >> 16) & 0xFF] ^ t[5][(crc >> 8) & 0xFF] ^ t[4][crc & 0xFF] ^
          t[3][b[4]] ^ t[2][b[5]] ^ t[1][b[6]] ^ t[0][b[7]];
  }
  for (; i < size; ++i) {
    crc = (crc << 8) ^ t[0][(crc >> 24) ^ data[i]];
  }
  return crc;
}

// Bits, most significant first, appended to a string four bytes at a time
// through a buffer of its own.
class Bits {
public:
  explicit Bits(std::string& out) : out_(out) {}
  ~Bits() { Flush(); }
  Bits(const Bits&) = delete;
  Bits& operator=(const Bits&) = delete;

  // count (at most 24) bits: fewer than 32 are held before, so they fit.
  void Put(std::uint32_t value, unsigned count) {
    held_ = (held_ << count) | value;
    used_ += count;
    if (used_ >= 32) {
      used_ -= 32;
      const std::uint32_t word = static_cast<std::uint32_t>(held_ >> used_);
      unsigned char* at = buffer_ + size_;
      at[0] = static_cast<unsigned char>(word >> 24);
      at[1] = static_cast<unsigned char>(word >> 16);
      at[2] = static_cast<unsigned char>(word >> 8);
      at[3] = static_cast<unsigned char>(word);
      size_ += 4;
      if (size_ == sizeof buffer_) {
        Flush();
      }
    }
  }
  void Put32(std::uint32_t value) {
    Put(value >> 16, 16);
    Put(value & 0xFFFF, 16);
  }
  void Put48(std::uint64_t value) {
    Put(static_cast<std::uint32_t>(value >> 24), 24);
    Put(static_cast<std::uint32_t>(value & 0xFFFFFF), 24);
  }
  // The last bits, padded with zero bits to a byte.
  void Finish() {
    while (used_ >= 8) {
      used_ -= 8;
      buffer_[size_++] = static_cast<unsigned char>(held_ >> used_);
    }
    if (used_ > 0) {
      buffer_[size_++] = static_cast<unsigned char>(held_ << (8 - used_));
      used_ = 0;
    }
    Flush();
  }

private:
  void Flush() {
    out_.append(reinterpret_cast<const char*>(buffer_), size_);
    size_ = 0;
  }

  std::string& out_;
  std::uint64_t held_ = 0;
  unsigned used_ = 0;
  std::size_t size_ = 0;
  unsigned char buffer_[4096];
};

} // namespace

// libbz2's BZ2_hbMakeCodeLengths step for step.
void MakeCodeLengths(unsigned char* length, const std::int32_t* frequency, int alphabet,
                     int maxLength) {
  std::int32_t heap[kMaxAlphabet + 2];
  std::int32_t weight[kMaxAlphabet * 2];
  std::int32_t parent[kMaxAlphabet * 2];
  for (int i = 0; i < alphabet; ++i) {
    weight[i + 1] = (frequency[i] == 0 ? 1 : frequency[i]) << 8;
  }
  for (;;) {
    int nodes = alphabet;
    int size = 0;
    heap[0] = 0;
    weight[0] = 0;
    parent[0] = -2;
    auto up = [&](int at) {
      const std::int32_t item = heap[at];
      while (weight[item] < weight[heap[at >> 1]]) {
        heap[at] = heap[at >> 1];
        at >>= 1;
      }
      heap[at] = item;
    };
    auto down = [&](int at) {
      const std::int32_t item = heap[at];
      for (;;) {
        int child = at << 1;
        if (child > size) {
          break;
        }
        if (child < size && weight[heap[child + 1]] < weight[heap[child]]) {
          ++child;
        }
        if (weight[item] < weight[heap[child]]) {
          break;
        }
        heap[at] = heap[child];
        at = child;
      }
      heap[at] = item;
    };
    for (int i = 1; i <= alphabet; ++i) {
      parent[i] = -1;
      heap[++size] = i;
      up(size);
    }
    while (size > 1) {
      const std::int32_t first = heap[1];
      heap[1] = heap[size--];
      down(1);
      const std::int32_t second = heap[1];
      heap[1] = heap[size--];
      down(1);
      ++nodes;
      parent[first] = parent[second] = nodes;
      const std::int32_t a = weight[first];
      const std::int32_t b = weight[second];
      weight[nodes] = static_cast<std::int32_t>((static_cast<std::uint32_t>(a) & 0xFFFFFF00u) +
                                                (static_cast<std::uint32_t>(b) & 0xFFFFFF00u) +
                                                (1 + std::max(a & 0xFF, b & 0xFF)));
      parent[nodes] = -1;
      heap[++size] = nodes;
      up(size);
    }
    bool tooLong = false;
    for (int i = 1; i <= alphabet; ++i) {
      int depth = 0;
      for (int k = i; parent[k] >= 0; k = parent[k]) {
        ++depth;
      }
      length[i - 1] = static_cast<unsigned char>(depth);
      tooLong = tooLong || depth > maxLength;
    }
    if (!tooLong) {
      return;
    }
    for (int i = 1; i <= alphabet; ++i) {
      weight[i] = (1 + (weight[i] >> 8) / 2) << 8;
    }
  }
}

LeastRotation FindLeastRotation(const unsigned char* twice, std::size_t size) {
  // Duval's factorisation of the data twice over: the last factor that
  // starts inside the first copy starts the least rotation, and its period
  // is the whole size unless the data repeats a shorter pattern. Each step
  // compares the byte at k with the byte at j: greater ends the factor,
  // smaller starts the period again (k back to i), equal moves k on. Both
  // long stretches are taken at once: bytes greater than the factor's
  // first (k at i), and equal stretches (compared eight bytes at a time).
  const std::size_t end = 2 * size;
  std::size_t i = 0;
  std::size_t start = 0;
  std::size_t period = size;
  while (i < size) {
    start = i;
    const unsigned char first = twice[i];
    std::size_t j = i + 1;
    std::size_t k = i;
    while (j < end) {
      if (k == i) {
        while (j < end && twice[j] > first) {
          ++j;
        }
        if (j == end || twice[j] < first) {
          break;
        }
        k = i + 1;
        ++j;
        continue;
      }
      while (j + 8 <= end) {
        std::uint64_t a;
        std::uint64_t b;
        std::memcpy(&a, twice + k, 8);
        std::memcpy(&b, twice + j, 8);
        if (a != b) {
          break;
        }
        k += 8;
        j += 8;
      }
      while (j < end && twice[k] == twice[j]) {
        ++k;
        ++j;
      }
      if (j == end || twice[k] > twice[j]) {
        break;
      }
      k = i;
      ++j;
    }
    period = j - k;
    while (i <= k) {
      i += period;
    }
  }
  return LeastRotation{start, period == size};
}

struct Bzip2BlockEncoder::Work {
  std::vector<unsigned char> block; // run-length coded, kBlockCapacity
  std::size_t used = 0;
  bool overflow = false;
  std::uint32_t crc = 0xFFFFFFFFu;
  int runByte = -1; // the open run's byte, or none
  unsigned runLength = 0;
  bool inUse[256];

  std::vector<saidx_t> order;        // suffix order, then the transform
  std::vector<std::uint16_t> values; // the move-to-front values

  int inUseCount = 0;
  int alphabet = 0;
  std::int32_t valueCount = 0;
  int groups = 0;
  int selectors = 0;
  std::int32_t frequency[kMaxAlphabet];
  unsigned char length[kGroups][kMaxAlphabet];
  std::int32_t code[kGroups][kMaxAlphabet];
  std::int32_t tableFrequency[kGroups][kMaxAlphabet];
  unsigned char selector[kMaxSelectors];
  unsigned char selectorMtf[kMaxSelectors];

  void FlushRun() {
    if (runByte < 0) {
      return;
    }
    const unsigned char byte = static_cast<unsigned char>(runByte);
    const std::size_t room = runLength < 4 ? runLength : 5;
    if (used + room > block.size()) {
      overflow = true;
      runByte = -1;
      return;
    }
    inUse[byte] = true;
    const unsigned copies = runLength < 4 ? runLength : 4;
    for (unsigned i = 0; i < copies; ++i) {
      block[used++] = byte;
    }
    if (runLength >= 4) {
      block[used++] = static_cast<unsigned char>(runLength - 4);
      inUse[runLength - 4] = true;
    }
    runByte = -1;
  }

  // The rotations of the block in order: from its least rotation, which
  // is smaller than its other rotations, they sort as its suffixes do.
  // Leaves the last byte of each rotation in order at the start of the
  // order's room and where the rotation of the data's first byte went;
  // false when the block repeats a shorter pattern.
  bool Sort(std::size_t& origin) {
    const std::size_t n = used;
    order.resize(n);
    saidx_t* sorted = order.data();
    unsigned char* bytes = block.data();
    // The block twice over, in the order's room (4 bytes for each byte).
    unsigned char* twice = reinterpret_cast<unsigned char*>(sorted);
    std::memcpy(twice, bytes, n);
    std::memcpy(twice + n, bytes, n);
    const LeastRotation least = FindLeastRotation(twice, n);
    if (!least.unique) {
      return false;
    }
    std::memcpy(bytes, twice + least.start, n);
    if (divsufsort(bytes, sorted, static_cast<saidx_t>(n)) != 0) {
      throw std::bad_alloc();
    }
    // The rotation that starts at the data's first byte, and the last byte
    // of each rotation in order, written over the order as it is read.
    const saidx_t first = static_cast<saidx_t>((n - least.start) % n);
    origin = 0;
    unsigned char* last = reinterpret_cast<unsigned char*>(sorted);
    for (std::size_t i = 0; i < n; ++i) {
      const saidx_t p = sorted[i];
      if (p == first) {
        origin = i;
      }
      last[i] = bytes[p == 0 ? n - 1 : p - 1];
    }
    return true;
  }

  // Move-to-front over the bytes in use, zero runs as RUNA/RUNB digits.
  void MoveToFront() {
    const std::size_t n = used;
    unsigned char toSymbol[256];
    inUseCount = 0;
    for (int i = 0; i < 256; ++i) {
      if (inUse[i]) {
        toSymbol[i] = static_cast<unsigned char>(inUseCount++);
      }
    }
    const int endOfBlock = inUseCount + 1;
    alphabet = inUseCount + 2;
    std::fill(frequency, frequency + kMaxAlphabet, 0);
    values.resize(n + 1);
    std::uint16_t* value = values.data();
    const unsigned char* last = reinterpret_cast<const unsigned char*>(order.data());
    std::size_t count = 0;
    {
      // (all 256 places set: the search may look past the symbols in use)
      unsigned char recent[256];
      for (int i = 0; i < 256; ++i) {
        recent[i] = static_cast<unsigned char>(i);
      }
      std::uint32_t zeros = 0;
      auto putZeros = [&] {
        --zeros;
        for (;;) {
          const std::uint16_t digit = (zeros & 1) ? kRunB : kRunA;
          value[count++] = digit;
          ++frequency[digit];
          if (zeros < 2) {
            break;
          }
          zeros = (zeros - 2) / 2;
        }
        zeros = 0;
      };
      for (std::size_t i = 0; i < n; ++i) {
        const unsigned char symbol = toSymbol[last[i]];
        if (recent[0] == symbol) {
          ++zeros;
          continue;
        }
        if (zeros > 0) {
          putZeros();
        }
        // The symbol's place in the list, found and moved to the front with
        // the library's block functions beyond the nearest places.
        std::size_t j;
        if (recent[1] == symbol) {
          j = 1;
          recent[1] = recent[0];
        } else if (recent[2] == symbol) {
          j = 2;
          recent[2] = recent[1];
          recent[1] = recent[0];
        } else {
          j = static_cast<const unsigned char*>(std::memchr(recent + 3, symbol, 253)) - recent;
          std::memmove(recent + 1, recent, j);
        }
        recent[0] = symbol;
        value[count++] = static_cast<std::uint16_t>(j + 1);
        ++frequency[j + 1];
      }
      if (zeros > 0) {
        putZeros();
      }
      value[count++] = static_cast<std::uint16_t>(endOfBlock);
      ++frequency[endOfBlock];
    }
    valueCount = static_cast<std::int32_t>(count);
  }

  // The coding tables: libbz2's initial split, then four passes that pick a
  // table for each group of 50 values and rebuild the tables from them.
  void ChooseTables() {
    const std::uint16_t* value = values.data();
    groups = valueCount < 200    ? 2
             : valueCount < 600  ? 3
             : valueCount < 1200 ? 4
             : valueCount < 2400 ? 5
                                 : 6;
    for (int t = 0; t < kGroups; ++t) {
      std::fill(length[t], length[t] + kMaxAlphabet, kGreaterCost);
    }
    {
      int part = groups;
      std::int32_t remaining = valueCount;
      int start = 0;
      while (part > 0) {
        const std::int32_t target = remaining / part;
        int end = start - 1;
        std::int32_t taken = 0;
        while (taken < target && end < alphabet - 1) {
          ++end;
          taken += frequency[end];
        }
        if (end > start && part != groups && part != 1 && (groups - part) % 2 == 1) {
          taken -= frequency[end];
          --end;
        }
        for (int v = 0; v < alphabet; ++v) {
          length[part - 1][v] = v >= start && v <= end ? kLesserCost : kGreaterCost;
        }
        --part;
        start = end + 1;
        remaining -= taken;
      }
    }

    for (int iteration = 0; iteration < kIterations; ++iteration) {
      for (int t = 0; t < groups; ++t) {
        std::fill(tableFrequency[t], tableFrequency[t] + alphabet, 0);
      }
      // The lengths of each value in all six tables at once, 10 bits a
      // table: the sum over a group (at most 50 lengths of at most 17)
      // fits.
      std::uint64_t packed[kMaxAlphabet];
      for (int v = 0; v < alphabet; ++v) {
        packed[v] = 0;
        for (int t = kGroups - 1; t >= 0; --t) {
          packed[v] = packed[v] << 10 | length[t][v];
        }
      }
      selectors = 0;
      for (std::int32_t start = 0; start < valueCount; start += kGroupSize) {
        const std::int32_t end = std::min(start + kGroupSize, valueCount);
        std::uint64_t sum = 0;
        for (std::int32_t i = start; i < end; ++i) {
          sum += packed[value[i]];
        }
        std::uint32_t cost[kGroups];
        for (int t = 0; t < kGroups; ++t) {
          cost[t] = static_cast<std::uint32_t>(sum >> (10 * t)) & 0x3FF;
        }
        int best = 0;
        for (int t = 1; t < groups; ++t) {
          if (cost[t] < cost[best]) {
            best = t;
          }
        }
        selector[selectors++] = static_cast<unsigned char>(best);
        std::int32_t* counts = tableFrequency[best];
        for (std::int32_t i = start; i < end; ++i) {
          ++counts[value[i]];
        }
      }
      for (int t = 0; t < groups; ++t) {
        MakeCodeLengths(length[t], tableFrequency[t], alphabet, kMaxCodeLength);
      }
    }

    {
      unsigned char position[kGroups];
      for (int i = 0; i < groups; ++i) {
        position[i] = static_cast<unsigned char>(i);
      }
      for (int i = 0; i < selectors; ++i) {
        const unsigned char wanted = selector[i];
        int j = 0;
        unsigned char moving = position[0];
        while (wanted != moving) {
          ++j;
          const unsigned char next = position[j];
          position[j] = moving;
          moving = next;
        }
        position[0] = moving;
        selectorMtf[i] = static_cast<unsigned char>(j);
      }
    }
    for (int t = 0; t < groups; ++t) {
      int minLength = 32;
      int maxLength = 0;
      for (int v = 0; v < alphabet; ++v) {
        maxLength = std::max<int>(maxLength, length[t][v]);
        minLength = std::min<int>(minLength, length[t][v]);
      }
      std::int32_t next = 0;
      for (int l = minLength; l <= maxLength; ++l) {
        for (int v = 0; v < alphabet; ++v) {
          if (length[t][v] == l) {
            code[t][v] = next++;
          }
        }
        next <<= 1;
      }
    }
  }

  // The bits: the stream's header, the block's header, the byte map, the
  // selectors, the tables' delta-coded lengths, the values, and the end.
  void Write(std::string& out, std::uint32_t blockCrc, std::size_t origin) {
    const std::uint16_t* value = values.data();
    out.reserve(out.size() + used + used / 8 + 1024);
    Bits bits(out);
    bits.Put(0x425A68, 24); // "BZh"
    bits.Put('9', 8);
    bits.Put48(0x314159265359ull);
    bits.Put32(blockCrc);
    bits.Put(0, 1); // not randomised
    bits.Put(static_cast<std::uint32_t>(origin), 24);
    bool rangeInUse[16];
    std::uint32_t ranges = 0;
    for (int i = 0; i < 16; ++i) {
      rangeInUse[i] = false;
      for (int j = 0; j < 16; ++j) {
        rangeInUse[i] = rangeInUse[i] || inUse[i * 16 + j];
      }
      ranges = ranges << 1 | (rangeInUse[i] ? 1 : 0);
    }
    bits.Put(ranges, 16);
    for (int i = 0; i < 16; ++i) {
      if (rangeInUse[i]) {
        std::uint32_t map = 0;
        for (int j = 0; j < 16; ++j) {
          map = map << 1 | (inUse[i * 16 + j] ? 1 : 0);
        }
        bits.Put(map, 16);
      }
    }
    bits.Put(static_cast<std::uint32_t>(groups), 3);
    bits.Put(static_cast<std::uint32_t>(selectors), 15);
    for (int i = 0; i < selectors; ++i) {
      // j ones and a zero (j is at most 5).
      const unsigned j = selectorMtf[i];
      bits.Put(((1u << j) - 1) << 1, j + 1);
    }
    for (int t = 0; t < groups; ++t) {
      int current = length[t][0];
      bits.Put(static_cast<std::uint32_t>(current), 5);
      for (int v = 0; v < alphabet; ++v) {
        while (current < length[t][v]) {
          bits.Put(2, 2);
          ++current;
        }
        while (current > length[t][v]) {
          bits.Put(3, 2);
          --current;
        }
        bits.Put(0, 1);
      }
    }
    int group = 0;
    for (std::int32_t start = 0; start < valueCount; start += kGroupSize, ++group) {
      const std::int32_t end = std::min(start + kGroupSize, valueCount);
      const unsigned char* lengths = length[selector[group]];
      const std::int32_t* codes = code[selector[group]];
      for (std::int32_t i = start; i < end; ++i) {
        bits.Put(static_cast<std::uint32_t>(codes[value[i]]), lengths[value[i]]);
      }
    }
    bits.Put48(0x177245385090ull);
    bits.Put32(blockCrc);
    bits.Finish();
  }
};

Bzip2BlockEncoder::Bzip2BlockEncoder() = default;

Bzip2BlockEncoder::~Bzip2BlockEncoder() = default;

void Bzip2BlockEncoder::Reset() {
  if (!work_) {
    work_.reset(new Work);
  }
  Work& w = *work_;
  w.used = 0;
  w.overflow = false;
  w.crc = 0xFFFFFFFFu;
  w.runByte = -1;
  w.runLength = 0;
  std::memset(w.inUse, 0, sizeof w.inUse);
}

void Bzip2BlockEncoder::Add(const unsigned char* data, std::size_t size) {
  Work& w = *work_;
  if (w.block.size() != kBlockCapacity) {
    w.block.resize(kBlockCapacity);
  }
  w.crc = UpdateCrc(w.crc, data, size);
  // Runs of up to 255 equal bytes, as libbz2 counts them; the run open at
  // the end stays open for the next bytes.
  unsigned char* block = w.block.data();
  bool* inUse = w.inUse;
  std::size_t used = w.used;
  int runByte = w.runByte;
  unsigned runLength = w.runLength;
  for (std::size_t i = 0; i < size; ++i) {
    const unsigned char byte = data[i];
    if (byte == runByte && runLength < 255) {
      ++runLength;
      continue;
    }
    if (runLength == 1 && used < kBlockCapacity) {
      // The common case: a single byte.
      block[used++] = static_cast<unsigned char>(runByte);
      inUse[runByte] = true;
    } else {
      w.used = used;
      w.runByte = runByte;
      w.runLength = runLength;
      w.FlushRun();
      used = w.used;
    }
    runByte = byte;
    runLength = 1;
  }
  w.used = used;
  w.runByte = runByte;
  w.runLength = runLength;
}

Bzip2BlockEncoder::Result Bzip2BlockEncoder::Finish(std::string& out) {
  Work& w = *work_;
  w.FlushRun();
  if (w.overflow) {
    return kTooLong;
  }
  const std::uint32_t blockCrc = ~w.crc;
  if (w.used == 0) {
    Bits bits(out);
    bits.Put(0x425A68, 24); // "BZh"
    bits.Put('9', 8);
    bits.Put48(0x177245385090ull);
    bits.Put32(0);
    bits.Finish();
    return kEncoded;
  }
  std::size_t origin;
  if (!w.Sort(origin)) {
    return kRepeating;
  }
  w.MoveToFront();
  w.ChooseTables();
  w.Write(out, blockCrc, origin);
  return kEncoded;
}

} // namespace QorCompressLib
