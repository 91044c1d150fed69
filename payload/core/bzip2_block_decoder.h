// Our own decoder of one bzip2 block, from the bits after its marker to its
// last byte of output: the Huffman codes are read through a lookup table of
// several bits at once (the few longer codes take the bit-by-bit path), the
// bit stream 64 bits at a time, the inverse transform follows vectors of
// 32-bit entries with each byte packed in (from both ends of the block at
// once when there is memory for it), and the final run-length step and
// the block checksum (eight bytes a step) run over whole pieces of output.
// It accepts exactly the blocks libbz2 accepts (randomised ones too) and
// gives the same bytes; what libbz2 refuses it refuses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace QorCompressLib {

class Bzip2BlockDecoder {
public:
  enum Status {
    kRead,  // the block's symbols are read: Produce gives its bytes
    kBad,   // damaged: libbz2 would refuse it
    kShort, // the block goes on past the bits it was given
  };

  // twoWays: the inverse transform walks from both ends at once, nearly
  // twice as fast, with 4 bytes more memory per byte of the block (3.6 MB
  // more at level 9).
  explicit Bzip2BlockDecoder(bool twoWays);
  ~Bzip2BlockDecoder();
  Bzip2BlockDecoder(const Bzip2BlockDecoder&) = delete;
  Bzip2BlockDecoder& operator=(const Bzip2BlockDecoder&) = delete;

  // Reads the block whose stored checksum starts at bit position bit of
  // data[0, size) (right after its marker), of a stream of the given level
  // ('1' to '9' as 1 to 9), using no bit at or after limitBit. The memory
  // for a block of the level stays from block to block. Throws
  // std::bad_alloc when it cannot be had.
  Status Read(const unsigned char* data, std::size_t size, std::uint64_t bit,
              std::uint64_t limitBit, int level);
  // After kRead: the bit position just after the block, and its stored
  // checksum.
  std::uint64_t EndBit() const { return endBit_; }
  std::uint32_t StoredCrc() const { return storedCrc_; }

  // After kRead: writes the block's next bytes (at most room, at least 1)
  // to out and returns their count; 0 once all are given. Good() then tells
  // whether the block was whole and its checksum matched; bytes given before
  // a false Good() are not to be trusted.
  std::size_t Produce(unsigned char* out, std::size_t room);
  bool Good() const { return finished_ && !bad_; }

private:
  struct Tables;

  void Reserve(int level);
  bool ReadSymbols(struct BitReader& bits, int level);
  void Invert();

  // One byte per position: the block's bytes after the move-to-front step,
  // then the inverse transform's output.
  std::unique_ptr<unsigned char[]> bytes_;
  // The inverse transform's vector: next position << 8 | byte.
  std::unique_ptr<std::uint32_t[]> vector_;
  // The inverse transform's vector backwards: previous position << 8 | its
  // byte (with twoWays only).
  std::unique_ptr<std::uint32_t[]> backward_;
  std::unique_ptr<Tables> tables_;
  bool twoWays_;
  int capacityLevel_ = 0;

  std::uint32_t counts_[256];
  std::uint32_t length_ = 0;
  std::uint32_t origin_ = 0;
  bool randomised_ = false;
  std::uint64_t endBit_ = 0;
  std::uint32_t storedCrc_ = 0;

  // The state of Produce.
  std::uint32_t at_ = 0;
  int last_ = -1;
  unsigned same_ = 0;
  unsigned pending_ = 0;
  unsigned char pendingByte_ = 0;
  std::uint32_t crc_ = 0;
  bool finished_ = false;
  bool bad_ = false;
};

// The checksum of bzip2 blocks (CRC-32, most significant bit first) over
// size more bytes, starting from crc (0xffffffff at a block's start; the
// block's checksum is the final value inverted).
std::uint32_t Bzip2Crc(std::uint32_t crc, const unsigned char* data, std::size_t size);

} // namespace QorCompressLib
