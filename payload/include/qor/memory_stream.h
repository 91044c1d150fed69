// In-memory byte streams for expanding a payload without extra copies.
#pragma once

#include <cstddef>
#include <istream>
#include <ostream>
#include <streambuf>
#include <vector>

namespace QorCompressLib {

// A growable output buffer in one contiguous block of address space. Space is
// reserved up front and committed as bytes arrive, so growing normally never
// copies what was written; only when the reservation cannot be extended in
// place is the content moved once to a larger block. When memory runs out,
// writing fails (the stream's bad state) rather than throwing.
class MemoryOutputBuffer : public std::streambuf {
public:
  // sizeHint: expected final size, 0 when unknown (a generous amount of
  // address space is reserved then; more is added as needed).
  explicit MemoryOutputBuffer(std::size_t sizeHint = 0);
  ~MemoryOutputBuffer() override;
  MemoryOutputBuffer(const MemoryOutputBuffer&) = delete;
  MemoryOutputBuffer& operator=(const MemoryOutputBuffer&) = delete;

  // The bytes written so far; valid until the next write or destruction.
  const char* data() const { return pbase(); }
  std::size_t size() const { return static_cast<std::size_t>(pptr() - pbase()); }
  // Bytes of memory committed for the buffer.
  std::size_t committed() const { return committed_; }

protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;

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
  std::size_t reserved_ = 0;
  std::size_t committed_ = 0;
  std::vector<Region> regions_;
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
