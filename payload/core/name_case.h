// The case table of the entry-name rule: the full simple uppercase mapping
// of Unicode for UTF-16 code units, as Windows file systems compare names
// (NTFS keeps such a table for each volume; characters beyond the basic
// multilingual plane have no case there). Made at build time by
// make_name_case; internal to the payload core.
#pragma once

#include <cstddef>

namespace QorArchiveFormat {
namespace Detail {

struct CasePair {
  char16_t unit;  // a code unit with an upper case other than itself
  char16_t upper; // that upper case
};

// Sorted by unit.
extern const CasePair kUpperCasePairs[];
extern const std::size_t kUpperCasePairCount;

} // namespace Detail
} // namespace QorArchiveFormat
