// Where things go in a Windows program (PE) file, as pure arithmetic on its
// numbers: the place of the rebuilt resource section and the optional
// header's checksum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace QorPe {

// A 32-bit process cannot map a larger image.
const std::uint64_t kImageLimit = 0x80000000u;

inline std::uint64_t AlignUp(std::uint64_t value, std::uint32_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

// Where the rebuilt resource section goes; pure layout, exposed for tests.
struct SectionSpan {
  std::uint32_t virtualAddress;
  std::uint32_t virtualSize;
  std::uint32_t rawOffset;
  std::uint32_t rawSize;
};

struct SectionPlacement {
  bool newSection;              // append a section header rather than reuse one
  std::uint32_t virtualAddress; // of the section
  std::uint32_t rawOffset;      // where its bytes go in the output file
  std::uint32_t rawSize;        // SizeOfRawData
  std::uint64_t keptBaseBytes;  // bytes of the base file copied before it
  std::uint64_t outputSize;     // bytes of the output file
};

// `sections` in table order; `resources` indexes the section that holds only
// the resources (or -1 when there is none to reuse); `contentEnd` is where the
// base file's bytes end (before any certificate table); `size` is the new
// resource section's size in bytes.
SectionPlacement PlaceResourceSection(const std::vector<SectionSpan>& sections, int resources,
                                      std::uint64_t contentEnd, std::uint64_t size,
                                      std::uint32_t sectionAlignment, std::uint32_t fileAlignment);

// The checksum of the optional header, over the file in any number of pieces
// (the checksum field itself must read as zero).
class PeChecksum {
public:
  void Add(const unsigned char* data, std::size_t size);
  std::uint32_t Finish() const;

private:
  std::uint64_t sum_ = 0;
  std::uint64_t length_ = 0;
  int pendingLow_ = -1; // a word's first byte, when a piece ended in the middle
};

} // namespace QorPe
