// The bzip2 stream format at the bit level, for both directions: "BZh" and
// the level digit, then blocks, each starting with the 48-bit block marker
// and its CRC at any bit position, then the 48-bit end marker and the
// combined CRC of all blocks, padded to a byte with zero bits. Blocks depend
// on nothing before them: the encoder joins blocks compressed on their own,
// the decoder finds them and decodes each as a stream of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace QorBzip2Format {

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
// The count (at most 57) bits at bit position bit, likewise.
std::uint64_t ReadBits(const unsigned char* data, std::uint64_t bit, unsigned count);

struct Marker {
  std::uint64_t bit;
  bool end; // the end-of-stream marker, not a block marker
};

// Appends to found every marker that starts at a bit position in
// [fromBit, toBit) and lies wholly inside data, in position order.
void FindMarkers(const unsigned char* data, std::size_t size, std::uint64_t fromBit,
                 std::uint64_t toBit, std::vector<Marker>& found);

// Appends bits, most significant first, to out; the last unfinished byte is
// held back until Finish.
class BitWriter {
public:
  explicit BitWriter(std::vector<unsigned char>& out) : out_(out) {}
  // Appends the count (at most 57) low bits of value, highest first.
  void Put(std::uint64_t value, unsigned count);
  // Copies count bits from bit position bit of data (size bytes; bits past
  // its end read as zero).
  void CopyBits(const unsigned char* data, std::size_t size, std::uint64_t bit,
                std::uint64_t count);
  // "BZh" and the level digit.
  void PutHeader(int level);
  // The end marker and the stream's CRC.
  void PutEnd(std::uint32_t combinedCrc);
  // Pads the last byte with zero bits and appends it.
  void Finish();

private:
  std::vector<unsigned char>& out_;
  unsigned char current_ = 0;
  unsigned used_ = 0;
};

// The most bits one block can take at a level when made the usual way:
// every symbol at the longest code length, plus its tables. (A block's
// tables can be made longer than any encoder makes them.)
inline std::uint64_t MaxBlockBits(int level) {
  return (static_cast<std::uint64_t>(level) * 100000 + 1000) * 20 + 400000;
}

// The stream checksum after one more block.
inline std::uint32_t CombineCrc(std::uint32_t combined, std::uint32_t blockCrc) {
  return ((combined << 1) | (combined >> 31)) ^ blockCrc;
}

} // namespace QorBzip2Format
