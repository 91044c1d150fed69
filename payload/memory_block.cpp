#include "qor/payload/memory_block.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
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

MemoryBlock::MemoryBlock(std::size_t sizeHint) : sizeHint_(sizeHint) {}

MemoryBlock::~MemoryBlock() {
  ReleaseAll();
}

void MemoryBlock::ReleaseAll() {
  for (const Region& region : regions_) {
    VirtualFree(region.base, 0, MEM_RELEASE);
  }
  regions_.clear();
  base_ = nullptr;
  reserved_ = 0;
  committed_ = 0;
  size_ = 0;
}

// Makes at least needed bytes of contiguous address space available.
bool MemoryBlock::Reserve(std::size_t needed) {
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
  const std::size_t used = size_;
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
  return true;
}

// Commits [committed_, end), region by region (a commit cannot span two
// reservations).
bool MemoryBlock::Commit(std::size_t end) {
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

bool MemoryBlock::Grow(std::size_t needed) {
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
  return true;
}

bool MemoryBlock::Append(const void* bytes, std::size_t count) {
  if (count == 0) {
    return true;
  }
  if (count > SIZE_MAX - size_ || !Grow(size_ + count)) {
    return false;
  }
  std::memcpy(base_ + size_, bytes, count);
  size_ += count;
  return true;
}

} // namespace QorCompressLib
