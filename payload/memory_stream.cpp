#include "qor/payload/memory_stream.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace QorCompressLib {

MemoryOutputBuffer::MemoryOutputBuffer(std::size_t sizeHint) : memory_(sizeHint) {}

// There is no put area: every write goes straight into the block, which
// keeps the bytes in one place for data().
MemoryOutputBuffer::int_type MemoryOutputBuffer::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) {
    return traits_type::not_eof(c);
  }
  const char byte = traits_type::to_char_type(c);
  return memory_.Append(&byte, 1) ? c : traits_type::eof();
}

std::streamsize MemoryOutputBuffer::xsputn(const char* s, std::streamsize n) {
  if (n <= 0) {
    return 0;
  }
  return memory_.Append(s, static_cast<std::size_t>(n)) ? n : 0;
}

MemoryOutputStream::MemoryOutputStream(std::size_t sizeHint)
    : std::ostream(nullptr), buffer_(sizeHint) {
  rdbuf(&buffer_);
}

MemoryInputBuffer::MemoryInputBuffer(const void* data, std::size_t size) {
  char* begin = const_cast<char*>(static_cast<const char*>(data));
  setg(begin, begin, begin + size);
}

std::streamsize MemoryInputBuffer::xsgetn(char* s, std::streamsize n) {
  const std::streamsize available = egptr() - gptr();
  const std::streamsize count = std::min(n, available);
  if (count <= 0) {
    return 0;
  }
  std::memcpy(s, gptr(), static_cast<std::size_t>(count));
  std::size_t left = static_cast<std::size_t>(count);
  while (left > 0) {
    const int piece = static_cast<int>(std::min<std::size_t>(left, INT_MAX));
    gbump(piece);
    left -= static_cast<std::size_t>(piece);
  }
  return count;
}

MemoryInputBuffer::int_type MemoryInputBuffer::underflow() {
  return gptr() < egptr() ? traits_type::to_int_type(*gptr()) : traits_type::eof();
}

MemoryInputStream::MemoryInputStream(const void* data, std::size_t size)
    : std::istream(nullptr), buffer_(data, size) {
  rdbuf(&buffer_);
}

} // namespace QorCompressLib
