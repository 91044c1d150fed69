#include "qor/archive.h"

#include "qor/error.h"
#include "qor/text.h"
#include "qor/win32_error.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <exception>
#include <fstream>
#include <limits>
#include <sstream>

namespace QorArchiveFormat {

namespace {
std::u16string ToUtf16(const std::wstring& text) {
  return std::u16string(text.begin(), text.end());
}
std::wstring ToWide(const std::u16string& text) {
  return std::wstring(text.begin(), text.end());
}
} // namespace

bool IsSafeEntryName(const std::wstring& name, std::wstring* reason) {
  std::u16string why;
  const bool safe = IsSafeEntryName(ToUtf16(name), &why);
  if (reason) {
    *reason = ToWide(why);
  }
  return safe;
}

bool FindNameClash(const std::vector<std::wstring>& names, std::wstring* reason) {
  std::vector<std::u16string> wide;
  wide.reserve(names.size());
  for (const std::wstring& name : names) {
    wide.push_back(ToUtf16(name));
  }
  std::u16string why;
  const bool clash = FindNameClash(wide, &why);
  if (reason) {
    *reason = ToWide(why);
  }
  return clash;
}

} // namespace QorArchiveFormat

using namespace QorArchiveFormat;

namespace {

[[noreturn]] void RaiseCorrupted() {
  QorWin32::RaiseLastWin32ErrorF(kCorruptedError, L"Archive is corrupted.");
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
  std::vector<EntryRecord> records;
  try {
    if (!archive) {
      RaiseCorrupted();
    }
    ReadTable(archive, length, true, records);
  } catch (QorPayload::Error* error) {
    delete error;
    RaiseCorrupted();
  }
  std::vector<std::unique_ptr<ArchiveEntry>> entries;
  entries.reserve(records.size());
  for (EntryRecord& record : records) {
    std::unique_ptr<ArchiveEntry> entry(
        new ArchiveEntry(std::wstring(record.name.begin(), record.name.end()), record.size));
    entry->AddChunk(
        std::unique_ptr<ArchiveChunk>(new ArchiveChunk(archive + record.offset, record.size)));
    entries.push_back(std::move(entry));
  }
  // Two entries that land on one file would let the later one replace the
  // earlier (the installer, say) after it was checked: refuse the archive
  // before anything is written.
  std::vector<std::wstring> names;
  names.reserve(entries.size());
  for (const auto& entry : entries) {
    names.push_back(entry->GetName());
  }
  std::wstring clash;
  if (FindNameClash(names, &clash)) {
    RaiseExtractError(clash);
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
  std::vector<std::u16string> names;
  std::vector<std::uint64_t> sizes;
  for (const Entry& entry : entries_) {
    names.emplace_back(entry.name.begin(), entry.name.end());
    sizes.push_back(entry.data.size());
  }
  return QorArchiveFormat::BuildHeader(names, sizes);
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
