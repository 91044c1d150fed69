// A growable byte buffer in one contiguous block of address space, without
// the standard streams (the setup launcher keeps out of them for its size).
#pragma once

#include <cstddef>
#include <vector>

namespace QorCompressLib {

// Space is reserved up front and committed as bytes arrive, so growing
// normally never copies what was written; only when the reservation cannot
// be extended in place is the content moved once to a larger block. When
// memory runs out, Append fails rather than throwing.
class MemoryBlock {
public:
  // sizeHint: expected final size, 0 when unknown (a generous amount of
  // address space is reserved then; more is added as needed).
  explicit MemoryBlock(std::size_t sizeHint = 0);
  ~MemoryBlock();
  MemoryBlock(const MemoryBlock&) = delete;
  MemoryBlock& operator=(const MemoryBlock&) = delete;

  // Adds count bytes at the end. False, with the content unchanged, when
  // there is no memory for them.
  bool Append(const void* bytes, std::size_t count);

  // The bytes appended so far; valid until the next Append or destruction.
  const char* data() const { return base_; }
  std::size_t size() const { return size_; }
  // Bytes of memory committed for the block.
  std::size_t committed() const { return committed_; }

private:
  struct Region {
    char* base;
    std::size_t size;
  };
  bool Reserve(std::size_t needed);
  bool Commit(std::size_t end);
  bool Grow(std::size_t needed);
  void ReleaseAll();

  std::size_t sizeHint_;
  char* base_ = nullptr;
  std::size_t size_ = 0;
  std::size_t reserved_ = 0;
  std::size_t committed_ = 0;
  std::vector<Region> regions_;
};

} // namespace QorCompressLib
