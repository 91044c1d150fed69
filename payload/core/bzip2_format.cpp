#include "bzip2_format.h"

#include <cstring>

namespace QorBzip2Format {

namespace {

const std::uint64_t kMarkerMask = (1ull << kMarkerBits) - 1;

// Seven bytes from data[index] as one number, first byte highest; bytes past
// the end read as zero.
std::uint64_t Read56(const unsigned char* data, std::size_t size, std::size_t index) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < 7; ++i) {
    value = (value << 8) | (index + i < size ? data[index + i] : 0u);
  }
  return value;
}

// For each shift s (bit position inside a byte) the value the following byte
// must have when a marker starts at that shift: a cheap filter before the
// full comparison.
struct SecondByteFilter {
  unsigned char blocks[256];
  unsigned char ends[256];
  SecondByteFilter() {
    std::memset(blocks, 0, sizeof(blocks));
    std::memset(ends, 0, sizeof(ends));
    for (unsigned shift = 0; shift < 8; ++shift) {
      blocks[(kBlockMarker >> (32 + shift)) & 0xFF] |= static_cast<unsigned char>(1u << shift);
      ends[(kEndMarker >> (32 + shift)) & 0xFF] |= static_cast<unsigned char>(1u << shift);
    }
  }
};

const SecondByteFilter& Filter() {
  static const SecondByteFilter filter;
  return filter;
}

// Like ReadBits32, with the bits past the end of data read as zero.
std::uint32_t ReadPadded32(const unsigned char* data, std::size_t size, std::uint64_t bit) {
  const std::size_t index = static_cast<std::size_t>(bit / 8);
  if (index + 5 <= size) {
    return ReadBits32(data, bit);
  }
  const std::uint64_t window = Read56(data, size, index);
  return static_cast<std::uint32_t>(window >> (24 - bit % 8));
}

} // namespace

void BitWriter::Put(std::uint64_t value, unsigned count) {
  for (unsigned done = 0; done < count;) {
    const unsigned room = 8 - used_;
    const unsigned take = count - done < room ? count - done : room;
    const unsigned bits =
        static_cast<unsigned>((value >> (count - done - take)) & ((1u << take) - 1));
    current_ = static_cast<unsigned char>(current_ | (bits << (room - take)));
    used_ += take;
    done += take;
    if (used_ == 8) {
      out_.push_back(current_);
      current_ = 0;
      used_ = 0;
    }
  }
}

// Whole bytes go through at once once the writer is byte aligned.
void BitWriter::CopyBits(const unsigned char* data, std::size_t size, std::uint64_t bit,
                         std::uint64_t count) {
  if (used_ != 0 && count >= 8) {
    const unsigned take = 8 - used_;
    Put(ReadPadded32(data, size, bit) >> (32 - take), take);
    bit += take;
    count -= take;
  }
  if (used_ == 0) {
    // Each output byte from two source bytes; the last source byte read
    // lies inside the copied bits.
    const std::size_t bytes = static_cast<std::size_t>(count / 8);
    const unsigned shift = static_cast<unsigned>(bit % 8);
    const unsigned char* from = data + bit / 8;
    const std::size_t at = out_.size();
    out_.resize(at + bytes);
    unsigned char* to = out_.data() + at;
    if (shift == 0) {
      std::memcpy(to, from, bytes);
    } else {
      for (std::size_t i = 0; i < bytes; ++i) {
        to[i] = static_cast<unsigned char>((from[i] << shift) | (from[i + 1] >> (8 - shift)));
      }
    }
    bit += 8 * static_cast<std::uint64_t>(bytes);
    count -= 8 * static_cast<std::uint64_t>(bytes);
  }
  while (count > 0) {
    const unsigned take = count < 32 ? static_cast<unsigned>(count) : 32;
    Put(ReadPadded32(data, size, bit) >> (32 - take), take);
    bit += take;
    count -= take;
  }
}

void BitWriter::PutHeader(int level) {
  Put(('B' << 16) | ('Z' << 8) | 'h', 24);
  Put(static_cast<std::uint64_t>('0' + level), 8);
}

void BitWriter::PutEnd(std::uint32_t combinedCrc) {
  Put(kEndMarker, kMarkerBits);
  Put(combinedCrc, 32);
}

void BitWriter::Finish() {
  if (used_ != 0) {
    out_.push_back(current_);
    current_ = 0;
    used_ = 0;
  }
}

int ReadLevel(const unsigned char* data, std::size_t size) {
  if (size < 4 || data[0] != 'B' || data[1] != 'Z' || data[2] != 'h' || data[3] < '1' ||
      data[3] > '9') {
    return 0;
  }
  return data[3] - '0';
}

std::uint32_t ReadBits32(const unsigned char* data, std::uint64_t bit) {
  const std::size_t index = static_cast<std::size_t>(bit / 8);
  const unsigned shift = static_cast<unsigned>(bit % 8);
  std::uint64_t value = 0;
  // Five bytes cover 32 bits at any shift; the fifth is read only when the
  // bits reach into it.
  const std::size_t bytes = shift == 0 ? 4 : 5;
  for (std::size_t i = 0; i < bytes; ++i) {
    value = (value << 8) | data[index + i];
  }
  if (bytes == 4) {
    return static_cast<std::uint32_t>(value);
  }
  return static_cast<std::uint32_t>(value >> (8 - shift));
}

std::uint64_t ReadBits(const unsigned char* data, std::uint64_t bit, unsigned count) {
  std::uint64_t value = 0;
  for (unsigned i = 0; i < count; ++i) {
    const std::uint64_t at = bit + i;
    value = (value << 1) | ((data[at >> 3] >> (7 - (at & 7))) & 1);
  }
  return value;
}

void FindMarkers(const unsigned char* data, std::size_t size, std::uint64_t fromBit,
                 std::uint64_t toBit, std::vector<Marker>& found) {
  const std::uint64_t totalBits = static_cast<std::uint64_t>(size) * 8;
  if (totalBits < kMarkerBits) {
    return;
  }
  const std::uint64_t lastStart = totalBits - kMarkerBits;
  if (toBit > lastStart + 1) {
    toBit = lastStart + 1;
  }
  if (fromBit >= toBit) {
    return;
  }
  const SecondByteFilter& filter = Filter();
  const std::size_t firstByte = static_cast<std::size_t>(fromBit / 8);
  const std::size_t lastByte = static_cast<std::size_t>((toBit - 1) / 8);
  for (std::size_t index = firstByte; index <= lastByte; ++index) {
    // A marker starting in byte index covers the whole byte index + 1.
    const unsigned char second = index + 1 < size ? data[index + 1] : 0;
    const unsigned shifts = filter.blocks[second] | filter.ends[second];
    if (shifts == 0) {
      continue;
    }
    const std::uint64_t window = Read56(data, size, index);
    for (unsigned shift = 0; shift < 8; ++shift) {
      if (!(shifts & (1u << shift))) {
        continue;
      }
      const std::uint64_t bit = static_cast<std::uint64_t>(index) * 8 + shift;
      if (bit < fromBit || bit >= toBit) {
        continue;
      }
      const std::uint64_t value = (window >> (8 - shift)) & kMarkerMask;
      if (value == kBlockMarker || value == kEndMarker) {
        found.push_back({bit, value == kEndMarker});
      }
    }
  }
}

} // namespace QorBzip2Format
