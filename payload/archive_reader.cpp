// Parsing an archive in memory; writing its entries is in
// archive_extract.cpp, with the standard file streams.
#include "qor/payload/archive.h"

#include "archive_errors.h"

#include "qor/error/error.h"
#include "qor/text/text.h"

using namespace QorArchiveFormat;

using QorPayload::RaiseCorrupted;
using QorPayload::RaiseExtractError;

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
  // Every name is checked before anything is written: a name the system
  // cannot create, or two entries that land on one file (the later one
  // would replace the earlier, the installer say, after it was checked).
  std::vector<std::wstring> names;
  names.reserve(entries.size());
  for (const auto& entry : entries) {
    QorPayload::CheckEntryName(entry->GetName());
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
