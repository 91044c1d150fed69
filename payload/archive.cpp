#include "qor/archive.h"

#include "qor/error.h"
#include "qor/text.h"
#include "qor/win32_error.h"

#include <cstring>
#include <exception>
#include <fstream>
#include <limits>
#include <sstream>

namespace QorArchiveFormat {

const char kMagic[29] = "QorZuravazevezu.Archive.ZUKA";

namespace {

bool IsSeparator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

bool Refuse(std::wstring* reason, const wchar_t* text) {
  if (reason) {
    *reason = text;
  }
  return false;
}

// CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or without an extension: the
// system opens the device whatever folder is in front of the name.
bool IsDeviceName(const std::wstring& component) {
  std::wstring stem = component.substr(0, component.find(L'.'));
  while (!stem.empty() && stem.back() == L' ') {
    stem.pop_back();
  }
  for (wchar_t& c : stem) {
    if (c >= L'a' && c <= L'z') {
      c = static_cast<wchar_t>(c - L'a' + L'A');
    }
  }
  if (stem == L"CON" || stem == L"PRN" || stem == L"AUX" || stem == L"NUL") {
    return true;
  }
  return stem.size() == 4 && (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0) &&
         stem[3] >= L'1' && stem[3] <= L'9';
}

} // namespace

bool IsSafeEntryName(const std::wstring& name, std::wstring* reason) {
  if (name.empty()) {
    return Refuse(reason, L"the entry has no name");
  }
  if (name.find(L':') != std::wstring::npos) {
    return Refuse(reason, L"the entry name has a drive, device or stream part");
  }
  if (IsSeparator(name.front())) {
    return Refuse(reason, L"the entry name is an absolute path");
  }
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = start;
    while (end < name.size() && !IsSeparator(name[end])) {
      ++end;
    }
    const std::wstring component = name.substr(start, end - start);
    // Only dots and spaces: "", ".", ".." and what the system trims to them.
    if (component.find_first_not_of(L". ") == std::wstring::npos) {
      return Refuse(reason, L"the entry name has an empty, \".\" or \"..\" component");
    }
    if (IsDeviceName(component)) {
      return Refuse(reason, L"the entry name is a reserved device name");
    }
    start = end + 1;
  }
  return true;
}

} // namespace QorArchiveFormat

using namespace QorArchiveFormat;

namespace {

[[noreturn]] void RaiseCorrupted() {
  QorWin32::RaiseLastWin32ErrorF(kCorruptedError, L"Archive is corrupted.");
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

[[noreturn]] void RaiseExtractError(const std::wstring& details) {
  QorError::RaiseErrorF(kExtractError, L"Error while extracting file from archive. Details: %s",
                        details.c_str());
}

} // namespace

ArchiveReader::~ArchiveReader() {
  Clear();
}

void ArchiveReader::Clear() {
  // Borrowed bytes belong to the caller: forget them, never release them.
  if (borrowed_) {
    for (auto& entry : entries_) {
      for (auto& chunk : entry->GetChunks()) {
        chunk->Detach();
      }
    }
  }
  entries_.clear();
}

void ArchiveReader::LoadFromMemory(const void* data, std::size_t length) {
  Clear();
  borrowed_ = true;
  const unsigned char* archive = static_cast<const unsigned char*>(data);
  if (!archive || length < kFixedHeaderSize || std::memcmp(archive, kMagic, kMagicSize) != 0) {
    RaiseCorrupted();
  }
  // All positions are 64-bit so that no 32-bit field can wrap them.
  const std::uint64_t end = length;
  const std::uint32_t count = ReadU32(archive + 33);
  // Each record takes at least 12 bytes: refuse a count the buffer cannot
  // hold before reserving anything for it.
  if (static_cast<std::uint64_t>(count) * 12 > end - kFixedHeaderSize) {
    RaiseCorrupted();
  }
  std::vector<std::unique_ptr<ArchiveEntry>> entries;
  entries.reserve(count);
  std::uint64_t p = kFixedHeaderSize;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (p + 4 > end) {
      RaiseCorrupted();
    }
    const std::uint64_t units = ReadU32(archive + p);
    p += 4;
    if (units * 2 + 8 > end - p) {
      RaiseCorrupted();
    }
    std::wstring name;
    name.reserve(static_cast<std::size_t>(units));
    for (std::uint64_t u = 0; u < units; ++u) {
      const unsigned char* c = archive + p + 2 * u;
      const wchar_t unit = static_cast<wchar_t>(c[0] | (c[1] << 8));
      if (unit == 0) {
        break;
      }
      name.push_back(unit);
    }
    p += units * 2;
    const std::uint32_t size = ReadU32(archive + p);
    const std::uint32_t offset = ReadU32(archive + p + 4);
    p += 8;
    if (static_cast<std::uint64_t>(offset) + size > end) {
      RaiseCorrupted();
    }
    std::unique_ptr<ArchiveEntry> entry(new ArchiveEntry(std::move(name), size));
    entry->AddChunk(std::unique_ptr<ArchiveChunk>(new ArchiveChunk(archive + offset, size)));
    entries.push_back(std::move(entry));
  }
  entries_.swap(entries);
}

const ArchiveEntry& ArchiveReader::GetEntry(unsigned int index) const {
  if (index >= entries_.size()) {
    std::wstring text;
    QorString::Format(text, L"Error while extracting file from archive. Details: %s",
                      L"entry index out of range");
    QorError::RaiseIndexError(kExtractError, text.c_str());
  }
  return *entries_[index];
}

void ArchiveReader::Extract(unsigned int index, const std::wstring& folder) {
  const ArchiveEntry& entry = GetEntry(index);
  std::wstring reason;
  if (!IsSafeEntryName(entry.GetName(), &reason)) {
    RaiseExtractError(L"unsafe entry name \"" + entry.GetName() + L"\": " + reason);
  }
  const std::wstring path = folder + entry.GetName();
  std::ofstream out;
  std::wstring details;
  try {
    out.exceptions(std::ios_base::failbit | std::ios_base::badbit);
    out.open(path.c_str(), std::ios_base::out | std::ios_base::binary | std::ios_base::trunc);
    for (const auto& chunk : entry.GetChunks()) {
      if (chunk->GetSize() > 0) {
        out.write(reinterpret_cast<const char*>(chunk->GetData()), chunk->GetSize());
      }
    }
    // Flush here so that a failure to write the last bytes is reported;
    // only the closing itself goes unchecked.
    out.flush();
    return;
  } catch (const std::exception& error) {
    // This library's stream failure has neither the usual type nor the
    // usual text: describe it by the state that failed.
    const std::ios_base::iostate state = out.rdstate();
    if (state & std::ios_base::badbit) {
      details = L"ios_base::badbit set";
    } else if (state & std::ios_base::failbit) {
      details = L"ios_base::failbit set";
    } else {
      details = QorError::WidenWithCLocale(error.what());
    }
  }
  RaiseExtractError(details);
}

void ArchiveWriter::AddEntry(const std::wstring& name, std::string data) {
  const std::uint64_t record = 4 + 2 * (static_cast<std::uint64_t>(name.size()) + 1) + 8;
  const std::uint64_t limit = std::numeric_limits<std::uint32_t>::max();
  if (entries_.size() >= limit ||
      kFixedHeaderSize + tableSize_ + record + dataSize_ + data.size() > limit) {
    QorError::RaiseRangeError(kTooLargeError,
                              L"The archive would be larger than 4 GB, the format's limit.");
  }
  tableSize_ += record;
  dataSize_ += data.size();
  entries_.push_back({name, std::move(data)});
}

void ArchiveWriter::AddFile(const std::wstring& name, const std::wstring& path) {
  std::string data;
  try {
    std::ifstream in(path.c_str(), std::ios_base::in | std::ios_base::binary);
    if (in) {
      std::ostringstream content;
      content << in.rdbuf();
      if (in.bad()) {
        in.setstate(std::ios_base::failbit);
      } else {
        data = content.str();
      }
    }
    if (!in || in.bad()) {
      QorError::RaiseErrorF(kReadFileError, L"Unable to read the file %s", path.c_str());
    }
  } catch (const std::exception& error) {
    QorError::RaiseStdError(kReadFileError, error);
  }
  AddEntry(name, std::move(data));
}

std::uint32_t ArchiveWriter::GetHeaderSize() const {
  return static_cast<std::uint32_t>(kFixedHeaderSize + tableSize_);
}

std::uint64_t ArchiveWriter::GetArchiveSize() const {
  return kFixedHeaderSize + tableSize_ + dataSize_;
}

std::string ArchiveWriter::BuildHeader() const {
  std::string header(kMagic, kMagicSize);
  PutU32(header, GetHeaderSize());
  PutU32(header, static_cast<std::uint32_t>(entries_.size()));
  std::uint32_t offset = GetHeaderSize();
  for (const Entry& entry : entries_) {
    PutU32(header, static_cast<std::uint32_t>(entry.name.size() + 1));
    for (wchar_t c : entry.name) {
      header.push_back(static_cast<char>(c & 0xFF));
      header.push_back(static_cast<char>((c >> 8) & 0xFF));
    }
    header.append(2, '\0');
    PutU32(header, static_cast<std::uint32_t>(entry.data.size()));
    PutU32(header, offset);
    offset += static_cast<std::uint32_t>(entry.data.size());
  }
  return header;
}

std::string ArchiveWriter::ToString() const {
  std::ostringstream out;
  WriteTo(out);
  return out.str();
}

void ArchiveWriter::WriteTo(std::ostream& out) const {
  const std::string header = BuildHeader();
  out.write(header.data(), static_cast<std::streamsize>(header.size()));
  for (const Entry& entry : entries_) {
    out.write(entry.data.data(), static_cast<std::streamsize>(entry.data.size()));
  }
}
