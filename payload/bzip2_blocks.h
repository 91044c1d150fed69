// Bit-level pieces of the bzip2 stream format, for decoding its blocks
// independently: finding block and end markers at any bit position, copying
// one block into a stream of its own, and the stream's combined checksum.
// Pure code: no system calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace QorBzip2Blocks {

const std::uint64_t kBlockMarker = 0x314159265359ull;
const std::uint64_t kEndMarker = 0x177245385090ull;
const unsigned kMarkerBits = 48;
// "BZh" and the level digit.
const unsigned kHeaderBits = 32;

// The level digit ('1' to '9') of a stream that starts with "BZh" and a
// valid digit, or 0.
int ReadLevel(const unsigned char* data, std::size_t size);

// The 32 bits at bit position bit (most significant bit first); the caller
// makes sure they lie inside data.
std::uint32_t ReadBits32(const unsigned char* data, std::uint64_t bit);

struct Marker {
  std::uint64_t bit;
  bool end; // the end-of-stream marker, not a block marker
};

// Appends to found every marker that starts at a bit position in
// [fromBit, toBit) and lies wholly inside data, in position order.
void FindMarkers(const unsigned char* data, std::size_t size, std::uint64_t fromBit,
                 std::uint64_t toBit, std::vector<Marker>& found);

// Replaces out with a stream of its own holding the block in bits
// [startBit, endBit) of data (size bytes; bits past its end read as zero):
// "BZh" and level, the block bit for bit, the
// end marker and the block's checksum as the stream's.
void WrapBlock(const unsigned char* data, std::size_t size, std::uint64_t startBit,
               std::uint64_t endBit, int level, std::vector<unsigned char>& out);

// The stream checksum after one more block.
inline std::uint32_t CombineCrc(std::uint32_t combined, std::uint32_t blockCrc) {
  return ((combined << 1) | (combined >> 31)) ^ blockCrc;
}

} // namespace QorBzip2Blocks
