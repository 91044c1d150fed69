// Writing and reading the archive's header and table.
#include "qor/payload_core/archive_core.h"

#include <algorithm>
#include <cstring>

namespace QorArchiveFormat {

const char kMagic[29] = "QorZuravazevezu.Archive.ZUKA";

namespace {

[[noreturn]] void RaiseCorrupted() {
  QorPayload::RaiseError(kCorruptedError, u"Archive is corrupted.");
}

std::uint32_t ReadU32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void PutU32(std::string& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  }
}

} // namespace

std::string BuildHeader(const std::vector<std::u16string>& names,
                        const std::vector<std::uint64_t>& sizes) {
  std::uint64_t headerSize = kFixedHeaderSize;
  std::uint64_t dataSize = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    headerSize += 4 + 2 * (static_cast<std::uint64_t>(names[i].size()) + 1) + 8;
    dataSize += sizes[i];
    if (headerSize + dataSize > kMaxArchiveSize) {
      QorPayload::RaiseError(kTooLargeError,
                             u"The archive would be larger than 4 GB, the format's limit.");
    }
  }
  std::string header(kMagic, kMagicSize);
  header.reserve(static_cast<std::size_t>(headerSize));
  PutU32(header, static_cast<std::uint32_t>(headerSize));
  PutU32(header, static_cast<std::uint32_t>(names.size()));
  std::uint64_t offset = headerSize;
  for (std::size_t i = 0; i < names.size(); ++i) {
    PutU32(header, static_cast<std::uint32_t>(names[i].size() + 1));
    for (char16_t c : names[i]) {
      header.push_back(static_cast<char>(c & 0xFF));
      header.push_back(static_cast<char>((c >> 8) & 0xFF));
    }
    header.append(2, '\0');
    PutU32(header, static_cast<std::uint32_t>(sizes[i]));
    PutU32(header, static_cast<std::uint32_t>(offset));
    offset += sizes[i];
  }
  return header;
}

bool ReadTable(const unsigned char* archive, std::size_t available, bool whole,
               std::vector<EntryRecord>& entries, std::uint64_t* tableEnd) {
  entries.clear();
  if (available < kFixedHeaderSize) {
    if (whole || (available >= kMagicSize && std::memcmp(archive, kMagic, kMagicSize) != 0)) {
      RaiseCorrupted();
    }
    return false;
  }
  if (!archive || std::memcmp(archive, kMagic, kMagicSize) != 0) {
    RaiseCorrupted();
  }
  // All positions are 64-bit so that no 32-bit field can wrap them.
  const std::uint64_t end = available;
  const std::uint32_t count = ReadU32(archive + 33);
  // Each record takes at least 12 bytes: refuse a count the buffer cannot
  // hold before reserving anything for it.
  if (whole && static_cast<std::uint64_t>(count) * 12 > end - kFixedHeaderSize) {
    RaiseCorrupted();
  }
  std::uint64_t p = kFixedHeaderSize;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (p + 4 > end) {
      if (whole) {
        RaiseCorrupted();
      }
      return false;
    }
    const std::uint64_t units = ReadU32(archive + p);
    p += 4;
    if (units * 2 + 8 > end - p) {
      if (whole) {
        RaiseCorrupted();
      }
      return false;
    }
    EntryRecord record;
    record.name.reserve(static_cast<std::size_t>(units));
    for (std::uint64_t u = 0; u < units; ++u) {
      const unsigned char* c = archive + p + 2 * u;
      const char16_t unit = static_cast<char16_t>(c[0] | (c[1] << 8));
      if (unit == 0) {
        break;
      }
      record.name.push_back(unit);
    }
    p += units * 2;
    record.size = ReadU32(archive + p);
    record.offset = ReadU32(archive + p + 4);
    p += 8;
    entries.push_back(std::move(record));
  }
  if (whole) {
    CheckEntryBounds(entries, end);
  }
  if (tableEnd) {
    *tableEnd = p;
  }
  return true;
}

void CheckEntryBounds(const std::vector<EntryRecord>& entries, std::uint64_t archiveLength) {
  for (const EntryRecord& entry : entries) {
    if (static_cast<std::uint64_t>(entry.offset) + entry.size > archiveLength) {
      RaiseCorrupted();
    }
  }
}

bool FindOverlap(const std::vector<EntryRecord>& entries, std::uint64_t tableEnd,
                 std::u16string* reason) {
  auto name = [&](std::size_t i) {
    return u"entry " + QorPayload::ToDecimal(i) + u" \"" + entries[i].name + u"\"";
  };
  std::vector<std::size_t> order;
  order.reserve(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].offset < tableEnd) {
      if (reason) {
        *reason = u"the data of " + name(i) + u" begins inside the archive's header";
      }
      return true;
    }
    if (entries[i].size > 0) {
      order.push_back(i);
    }
  }
  // In the order of their offsets, each entry's data must end before the
  // next one's begins.
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return entries[a].offset < entries[b].offset ||
           (entries[a].offset == entries[b].offset && a < b);
  });
  for (std::size_t k = 1; k < order.size(); ++k) {
    const EntryRecord& before = entries[order[k - 1]];
    if (static_cast<std::uint64_t>(before.offset) + before.size > entries[order[k]].offset) {
      if (reason) {
        *reason = u"the data of " + name(order[k - 1]) + u" and " + name(order[k]) + u" overlap";
      }
      return true;
    }
  }
  if (reason) {
    reason->clear();
  }
  return false;
}

} // namespace QorArchiveFormat
