// The payload archive's layout: a header with a table of named entries,
// then the entries' bytes. All integers are unsigned 32-bit little-endian,
// names UTF-16LE with a terminating zero unit.
#pragma once

#include "qor/payload/payload_core.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace QorArchiveFormat {
// "QorZuravazevezu.Archive.ZUKA" and its terminating zero byte.
extern const char kMagic[29];
const std::size_t kMagicSize = 29;
// Magic, header size and entry count.
const std::size_t kFixedHeaderSize = 37;
// Sizes and offsets are 32-bit: no archive grows beyond this.
const std::uint64_t kMaxArchiveSize = 0xFFFFFFFFull;

enum ErrorCode : int {
  kCorruptedError = 21010,
  kExtractError = 21014,
  kTooLargeError = 21015,
  kReadFileError = 21016,
};

// True when name can be written below a target folder without leaving it:
// not empty, no drive, device or stream part, no leading separator, no empty,
// "." or ".." component, no reserved device name. Otherwise reason says why.
bool IsSafeEntryName(const std::u16string& name, std::u16string* reason = nullptr);

// True when two of names would land on one file in a Windows folder: equal
// apart from letter case or trailing dots and spaces, or one shaped like the
// short (8.3) alias the system may give the other ("VTRINS~1.EXE" beside
// "VTRInstaller.exe"). Otherwise reason names the pair.
bool FindNameClash(const std::vector<std::u16string>& names, std::u16string* reason = nullptr);

struct EntryRecord {
  std::u16string name; // up to the first zero unit
  std::uint32_t size;
  std::uint32_t offset;
};

// The header (magic, sizes, table) of an archive holding entries of these
// names and sizes, their data laid out in table order without gaps. Raises
// 21015 when the archive would pass the format's 4 GB limit.
std::string BuildHeader(const std::vector<std::u16string>& names,
                        const std::vector<std::uint64_t>& sizes);

// Reads the table from the first available bytes of an archive. Returns
// false when the table runs past them (more bytes are needed); raises 21010
// "Archive is corrupted." when the magic is wrong or, with a known archive
// length (available is then the whole archive), any part lies outside it.
// tableEnd (may be null) gets the offset just past the table once it is read.
bool ReadTable(const unsigned char* data, std::size_t available, bool whole,
               std::vector<EntryRecord>& entries, std::uint64_t* tableEnd = nullptr);

// Raises 21010 when an entry's data lies beyond archiveLength bytes.
void CheckEntryBounds(const std::vector<EntryRecord>& entries, std::uint64_t archiveLength);

} // namespace QorArchiveFormat
