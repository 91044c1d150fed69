// The resource section's place and the checksum: arithmetic only, tested
// on its own.
#include "qor/setup_image/pe_layout.h"

#include "qor/setup_image/stamp_error.h"

#include <algorithm>

namespace QorPe {

void PeChecksum::Add(const unsigned char* data, std::size_t size) {
  std::size_t i = 0;
  if (pendingLow_ >= 0 && size > 0) {
    sum_ += static_cast<std::uint64_t>(pendingLow_) | std::uint64_t{data[0]} << 8;
    pendingLow_ = -1;
    i = 1;
  }
  for (; i + 1 < size; i += 2) {
    sum_ += std::uint64_t{data[i]} | std::uint64_t{data[i + 1]} << 8;
  }
  if (i < size) {
    pendingLow_ = data[i];
  }
  length_ += size;
}

std::uint32_t PeChecksum::Finish() const {
  std::uint64_t sum = sum_ + (pendingLow_ >= 0 ? static_cast<std::uint64_t>(pendingLow_) : 0);
  while (sum > 0xFFFF) {
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return static_cast<std::uint32_t>(sum + length_);
}

SectionPlacement PlaceResourceSection(const std::vector<SectionSpan>& sections, int resources,
                                      std::uint64_t contentEnd, std::uint64_t size,
                                      std::uint32_t sectionAlignment, std::uint32_t fileAlignment) {
  const std::uint64_t rawSize = AlignUp(size, fileAlignment);
  auto extent = [](const SectionSpan& s) {
    return std::uint64_t{s.virtualAddress} + std::max(s.virtualSize, s.rawSize);
  };
  std::size_t last = 0;
  for (std::size_t i = 1; i < sections.size(); ++i) {
    if (sections[i].virtualAddress > sections[last].virtualAddress) {
      last = i;
    }
  }
  auto checked = [&](SectionPlacement p) {
    if (AlignUp(std::uint64_t{p.virtualAddress} + size, sectionAlignment) > kImageLimit ||
        p.outputSize > 0xFFFFFFFFu) {
      Fail("the payload is too large: a setup program can be at most 2 GB");
    }
    return p;
  };
  if (resources >= 0 && static_cast<std::size_t>(resources) < sections.size()) {
    const SectionSpan& s = sections[resources];
    const bool endsTheFile = s.rawSize > 0 && std::uint64_t{s.rawOffset} + s.rawSize >= contentEnd;
    std::uint64_t room = kImageLimit - s.virtualAddress; // the last section may grow
    if (static_cast<std::size_t>(resources) != last) {
      room = 0;
      for (const SectionSpan& other : sections) {
        if (other.virtualAddress > s.virtualAddress) {
          const std::uint64_t gap = other.virtualAddress - s.virtualAddress;
          room = room == 0 ? gap : std::min(room, gap);
        }
      }
    }
    if (static_cast<std::size_t>(resources) == last && endsTheFile) {
      // Rewritten where it is, the file ending with it.
      return checked({false, s.virtualAddress, s.rawOffset, static_cast<std::uint32_t>(rawSize),
                      s.rawOffset, s.rawOffset + rawSize});
    }
    if (rawSize <= s.rawSize && AlignUp(size, sectionAlignment) <= room) {
      // Fits into its old bytes.
      return checked({false, s.virtualAddress, s.rawOffset, s.rawSize, contentEnd, contentEnd});
    }
    if (static_cast<std::size_t>(resources) == last) {
      // The last section grows: same header, its bytes at the end of the file.
      const std::uint64_t at = AlignUp(contentEnd, fileAlignment);
      return checked({false, s.virtualAddress, static_cast<std::uint32_t>(at),
                      static_cast<std::uint32_t>(rawSize), contentEnd, at + rawSize});
    }
  }
  // A new last section; the old one, if any, stays where it is unused.
  std::uint64_t end = 0;
  for (const SectionSpan& s : sections) {
    end = std::max(end, extent(s));
  }
  const std::uint64_t virtualAddress = AlignUp(end, sectionAlignment);
  const std::uint64_t at = AlignUp(contentEnd, fileAlignment);
  if (virtualAddress >= kImageLimit || at > 0xFFFFFFFFu) {
    Fail("the payload is too large: a setup program can be at most 2 GB");
  }
  return checked({true, static_cast<std::uint32_t>(virtualAddress), static_cast<std::uint32_t>(at),
                  static_cast<std::uint32_t>(rawSize), contentEnd, at + rawSize});
}

} // namespace QorPe
