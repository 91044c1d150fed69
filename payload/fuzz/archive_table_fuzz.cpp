// Fuzzes the archive table reader of the payload core and the checks that
// run on what it reads: the launcher and vtrpack give them any table a
// payload holds. Whatever the bytes, nothing is read outside them, no entry
// that is accepted lies outside them, a table read piece by piece is the
// table read whole, and the name checks hold up on any names.
#include "qor/payload_core/archive_core.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

using namespace QorArchiveFormat;

namespace {

void Require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

// Reads the table from exactly the first available bytes, in a buffer of
// their own, so that reading one byte further is caught.
bool Read(const std::uint8_t* data, std::size_t available, bool whole,
          std::vector<EntryRecord>& entries, std::uint64_t* tableEnd) {
  std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[available ? available : 1]);
  std::memcpy(copy.get(), data, available);
  try {
    return ReadTable(copy.get(), available, whole, entries, tableEnd);
  } catch (QorPayload::Error* error) {
    Require(error->GetCode() == kCorruptedError);
    delete error;
    return false;
  }
}

bool Same(const std::vector<EntryRecord>& a, const std::vector<EntryRecord>& b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].name != b[i].name || a[i].size != b[i].size || a[i].offset != b[i].offset) {
      return false;
    }
  }
  return true;
}

std::u16string Upper(std::u16string name) {
  for (char16_t& c : name) {
    if (c >= u'a' && c <= u'z') {
      c = static_cast<char16_t>(c - 32);
    }
  }
  return name;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<EntryRecord> entries;
  std::uint64_t tableEnd = 0;
  if (!Read(data, size, true, entries, &tableEnd)) {
    return 0;
  }
  Require(tableEnd <= size);
  for (const EntryRecord& entry : entries) {
    Require(static_cast<std::uint64_t>(entry.offset) + entry.size <= size);
  }
  // As the streaming readers see it: a prefix is either too short or gives
  // the same table.
  for (std::size_t prefix : {size / 3, size / 2, static_cast<std::size_t>(tableEnd)}) {
    std::vector<EntryRecord> partial;
    std::uint64_t partialEnd = 0;
    if (Read(data, prefix, false, partial, &partialEnd)) {
      Require(prefix >= tableEnd && partialEnd == tableEnd && Same(partial, entries));
    } else {
      Require(prefix < tableEnd);
    }
  }

  std::u16string reason;
  const bool overlap = FindOverlap(entries, tableEnd, &reason);
  Require(overlap != reason.empty());
  std::vector<std::u16string> names;
  for (const EntryRecord& entry : entries) {
    const bool safe = IsSafeEntryName(entry.name, &reason);
    Require(safe == reason.empty());
    names.push_back(entry.name);
  }
  // Whether names clash does not depend on their order, and a name again in
  // other letter case always clashes.
  const bool clash = FindNameClash(names, &reason);
  Require(clash != reason.empty());
  std::vector<std::u16string> reversed(names.rbegin(), names.rend());
  Require(FindNameClash(reversed) == clash);
  if (!names.empty()) {
    names.push_back(Upper(names[names.size() / 2]));
    Require(FindNameClash(names));
  }
  return 0;
}
