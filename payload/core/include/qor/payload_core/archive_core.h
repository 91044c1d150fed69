// The payload archive's layout: a header with a table of named entries,
// then the entries' bytes. All integers are unsigned 32-bit little-endian,
// names UTF-16LE with a terminating zero unit.
#pragma once

#include "qor/payload_core/payload_core.h"

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

// True when Windows can create name as a plain file in a folder, under
// that very name, and it is no device: not empty, at most 255 UTF-16 units,
// no control character (U+0001 to U+001F), none of < > : " / \ | ? *, not
// made of dots and spaces, no trailing dot or space (the system would drop
// them), no reserved device name (CON, NUL, COM1, ...). The setup writes
// entries into one folder and creates none. Otherwise reason says why.
bool IsSafeEntryName(const std::u16string& name, std::u16string* reason = nullptr);

// True when first and second name one file in a Windows folder: equal
// apart from letter case (by Unicode's full simple uppercase mapping, as
// NTFS compares names) or trailing dots and spaces.
bool NamesOneFile(const std::u16string& first, const std::u16string& second);

// True when two of names (each passing IsSafeEntryName) would land on one
// file in a Windows folder: two that name one file (NamesOneFile), or one
// shaped like the short (8.3) alias the system may give the other
// ("VTRINS~1.EXE" beside "VTRInstaller.exe"). Otherwise reason
// names the earliest such pair. Takes n log n steps for n names.
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

// True when an entry's data begins before tableEnd (the end of the table,
// inside the header) or shares bytes with another entry's data; reason then
// names the entry. Archives the tools build never do this; the setup's
// reader locates entries by offset alone and does not mind.
bool FindOverlap(const std::vector<EntryRecord>& entries, std::uint64_t tableEnd,
                 std::u16string* reason = nullptr);

} // namespace QorArchiveFormat
