// In-memory byte streams for expanding a payload without extra copies.
#pragma once

#include "qor/payload/memory_block.h"

#include <cstddef>
#include <istream>
#include <ostream>
#include <streambuf>

namespace QorCompressLib {

// A growable output buffer in one contiguous block of address space (see
// MemoryBlock). When memory runs out, writing fails (the stream's bad state)
// rather than throwing.
class MemoryOutputBuffer : public std::streambuf {
public:
  // sizeHint: expected final size, 0 when unknown.
  explicit MemoryOutputBuffer(std::size_t sizeHint = 0);
  MemoryOutputBuffer(const MemoryOutputBuffer&) = delete;
  MemoryOutputBuffer& operator=(const MemoryOutputBuffer&) = delete;

  // The bytes written so far; valid until the next write or destruction.
  const char* data() const { return memory_.data(); }
  std::size_t size() const { return memory_.size(); }
  // Bytes of memory committed for the buffer.
  std::size_t committed() const { return memory_.committed(); }

protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;

private:
  MemoryBlock memory_;
};

class MemoryOutputStream : public std::ostream {
public:
  explicit MemoryOutputStream(std::size_t sizeHint = 0);
  const char* data() const { return buffer_.data(); }
  std::size_t size() const { return buffer_.size(); }
  MemoryOutputBuffer& buffer() { return buffer_; }

private:
  MemoryOutputBuffer buffer_;
};

// Reads a caller's buffer in place (no copy); the buffer must outlive it.
class MemoryInputBuffer : public std::streambuf {
public:
  MemoryInputBuffer(const void* data, std::size_t size);

protected:
  std::streamsize xsgetn(char* s, std::streamsize n) override;
  int_type underflow() override;
};

class MemoryInputStream : public std::istream {
public:
  MemoryInputStream(const void* data, std::size_t size);

private:
  MemoryInputBuffer buffer_;
};

} // namespace QorCompressLib
