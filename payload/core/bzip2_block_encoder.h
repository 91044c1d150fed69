// One bzip2 block of level 9, made by our own stages: the run-length coding
// of the input, the Burrows-Wheeler transform with a suffix sort
// (libdivsufsort), the move-to-front and zero-run coding, the Huffman
// tables with their selectors, and the bits. Every stage after the sort
// makes the choices libbz2 makes, and the rotation order of a block is
// unique unless the block repeats a shorter pattern, so the bytes are
// libbz2's own. Such repeating blocks, whose equal rotations libbz2 orders
// by its own sort, are left to libbz2 (Finish says so).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace QorCompressLib {

class Bzip2BlockEncoder {
public:
  enum Result {
    kEncoded,
    // The block repeats a shorter pattern: nothing was written.
    kRepeating,
    // The data does not fit one block: nothing was written.
    kTooLong,
  };

  Bzip2BlockEncoder();
  ~Bzip2BlockEncoder();
  Bzip2BlockEncoder(const Bzip2BlockEncoder&) = delete;
  Bzip2BlockEncoder& operator=(const Bzip2BlockEncoder&) = delete;

  // Starts a new block (the first call too); the working memory (about
  // 6.3 MB) is kept from block to block. Throws std::bad_alloc.
  void Reset();
  // Adds the next bytes of the block's data.
  void Add(const unsigned char* data, std::size_t size);
  // Appends the block, when it is not empty, as a stream of its own to out:
  // "BZh9", the block, the end marker and the block's CRC as the stream's,
  // padded to a byte; the same bytes as libbz2 at level 9 makes of the
  // data. Throws std::bad_alloc when memory runs out.
  Result Finish(std::string& out);

private:
  struct Work;
  std::unique_ptr<Work> work_;
};

// Where the lexicographically least rotation of data (size bytes, at least
// 1) starts, and whether that rotation is smaller than every other one
// (false when data is a shorter pattern repeated). twice holds data twice
// over (2 * size bytes).
struct LeastRotation {
  std::size_t start;
  bool unique;
};
LeastRotation FindLeastRotation(const unsigned char* twice, std::size_t size);

// Huffman code lengths (at most maxLength) for the frequencies of the
// alphabet's symbols (at most 258), built as libbz2 builds them: with its
// heap and its tie-breaks, halving the frequencies while a code is too long.
void MakeCodeLengths(unsigned char* length, const std::int32_t* frequency, int alphabet,
                     int maxLength);

} // namespace QorCompressLib
