#include "qor/memory_stream.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace QorCompressLib {

namespace {

const std::size_t kGranularity = 64 * 1024;
// Address space only: nothing is committed until bytes arrive.
const std::size_t kDefaultReservation = 256u * 1024 * 1024;
const std::size_t kMinCommitStep = 1024 * 1024;

std::size_t RoundUp(std::size_t value, std::size_t unit) {
  const std::size_t rest = value % unit;
  if (rest == 0) {
    return value;
  }
  return value > SIZE_MAX - (unit - rest) ? 0 : value + (unit - rest);
}

} // namespace

MemoryOutputBuffer::MemoryOutputBuffer(std::size_t sizeHint) : sizeHint_(sizeHint) {}

MemoryOutputBuffer::~MemoryOutputBuffer() {
  ReleaseAll();
}

void MemoryOutputBuffer::ReleaseAll() {
  for (const Region& region : regions_) {
    VirtualFree(region.base, 0, MEM_RELEASE);
  }
  regions_.clear();
  base_ = nullptr;
  reserved_ = 0;
  committed_ = 0;
  setp(nullptr, nullptr);
}

// Makes at least needed bytes of contiguous address space available.
bool MemoryOutputBuffer::Reserve(std::size_t needed) {
  if (needed <= reserved_) {
    return true;
  }
  if (base_) {
    // Try to extend the block in place first, doubling it, then by less down
    // to what is needed. Every try asks for less than the one before (half a
    // granule rounds back up to one granule, so stop at the minimum): the
    // tries end even when the address space is full.
    const std::size_t minimumExtra = RoundUp(needed - reserved_, kGranularity);
    std::size_t extra = RoundUp(std::max(needed - reserved_, reserved_), kGranularity);
    while (minimumExtra != 0 && extra >= minimumExtra) {
      void* p = VirtualAlloc(base_ + reserved_, extra, MEM_RESERVE, PAGE_READWRITE);
      if (p == base_ + reserved_) {
        regions_.push_back({base_ + reserved_, extra});
        reserved_ += extra;
        return true;
      }
      if (p) {
        VirtualFree(p, 0, MEM_RELEASE);
      }
      if (extra == minimumExtra) {
        break;
      }
      extra = std::max(minimumExtra, RoundUp(extra / 2, kGranularity));
    }
  }
  // A new block: the hint (or a generous default) at first, then double.
  const std::size_t first = sizeHint_ ? sizeHint_ : kDefaultReservation;
  std::size_t want =
      RoundUp(std::max({needed, reserved_ * 2, base_ ? std::size_t(0) : first}), kGranularity);
  const std::size_t minimum = RoundUp(needed, kGranularity);
  if (want == 0 || minimum == 0) {
    return false;
  }
  char* fresh = nullptr;
  for (;;) {
    fresh = static_cast<char*>(VirtualAlloc(nullptr, want, MEM_RESERVE, PAGE_READWRITE));
    if (fresh || want == minimum) {
      break;
    }
    want = std::max(minimum, RoundUp(want / 2, kGranularity));
  }
  if (!fresh) {
    return false;
  }
  const std::size_t used = size();
  if (base_) {
    // Move the content: commit only what it needs in the new block.
    const std::size_t move = RoundUp(std::max(used, std::size_t(1)), kGranularity);
    if (!VirtualAlloc(fresh, move, MEM_COMMIT, PAGE_READWRITE)) {
      VirtualFree(fresh, 0, MEM_RELEASE);
      return false;
    }
    std::memcpy(fresh, base_, used);
    for (const Region& region : regions_) {
      VirtualFree(region.base, 0, MEM_RELEASE);
    }
    regions_.clear();
    committed_ = move;
  }
  regions_.push_back({fresh, want});
  base_ = fresh;
  reserved_ = want;
  setp(base_, base_ + committed_);
  pbump(static_cast<int>(used));
  return true;
}

// Commits [committed_, end), region by region (a commit cannot span two
// reservations).
bool MemoryOutputBuffer::Commit(std::size_t end) {
  std::size_t regionStart = 0;
  for (const Region& region : regions_) {
    const std::size_t regionEnd = regionStart + region.size;
    const std::size_t from = std::max(committed_, regionStart);
    const std::size_t to = std::min(end, regionEnd);
    if (from < to) {
      if (!VirtualAlloc(base_ + from, to - from, MEM_COMMIT, PAGE_READWRITE)) {
        return false;
      }
      committed_ = to;
    }
    regionStart = regionEnd;
  }
  return committed_ >= end;
}

bool MemoryOutputBuffer::Grow(std::size_t needed) {
  if (needed <= committed_) {
    return true;
  }
  // Commit ahead by an eighth of the size so far: few system calls, little
  // memory committed but unused.
  std::size_t target = RoundUp(
      std::max(needed, committed_ + std::max(kMinCommitStep, committed_ / 8)), kGranularity);
  if (target == 0) {
    return false;
  }
  const std::size_t used = size();
  if (!Reserve(target)) {
    target = RoundUp(needed, kGranularity);
    if (target == 0 || !Reserve(target)) {
      return false;
    }
  }
  if (!Commit(std::min(target, reserved_))) {
    if (!Commit(RoundUp(needed, kGranularity))) {
      return false;
    }
  }
  setp(base_, base_ + committed_);
  pbump(static_cast<int>(used));
  return true;
}

MemoryOutputBuffer::int_type MemoryOutputBuffer::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) {
    return traits_type::not_eof(c);
  }
  if (size() == SIZE_MAX || !Grow(size() + 1)) {
    return traits_type::eof();
  }
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

std::streamsize MemoryOutputBuffer::xsputn(const char* s, std::streamsize n) {
  if (n <= 0) {
    return 0;
  }
  const std::size_t count = static_cast<std::size_t>(n);
  if (static_cast<std::size_t>(epptr() - pptr()) < count) {
    if (count > SIZE_MAX - size() || !Grow(size() + count)) {
      return 0;
    }
  }
  std::memcpy(pptr(), s, count);
  // pbump takes an int; a process of this size never writes more at once,
  // but stay correct if it does.
  std::size_t left = count;
  while (left > 0) {
    const int piece = static_cast<int>(std::min<std::size_t>(left, INT_MAX));
    pbump(piece);
    left -= static_cast<std::size_t>(piece);
  }
  return n;
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
