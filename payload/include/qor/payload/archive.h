// The payload archive: a header with a table of named entries, then the
// entries' bytes. All integers are unsigned 32-bit little-endian.
#pragma once

#include "qor/payload_core/archive_core.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace QorArchiveFormat {
// The wide-string forms of the name checks in qor/payload_core/archive_core.h.
bool IsSafeEntryName(const std::wstring& name, std::wstring* reason = nullptr);
bool FindNameClash(const std::vector<std::wstring>& names, std::wstring* reason = nullptr);
bool NamesOneFile(const std::wstring& first, const std::wstring& second);
} // namespace QorArchiveFormat

class ArchiveChunk {
public:
  ArchiveChunk(const unsigned char* data, std::uint32_t size)
      : data_(data), size_(size), capacity_(size) {}
  const unsigned char* GetData() const { return data_; }
  std::uint32_t GetSize() const { return size_; }
  std::uint32_t GetCapacity() const { return capacity_; }
  // The bytes are the caller's (borrowed): forget them without releasing.
  void Detach() { data_ = nullptr; }

private:
  const unsigned char* data_;
  std::uint32_t size_;
  std::uint32_t capacity_;
};

class ArchiveEntry {
public:
  ArchiveEntry(std::wstring name, std::uint32_t size) : name_(std::move(name)), size_(size) {}
  const std::wstring& GetName() const { return name_; }
  std::uint32_t GetSize() const { return size_; }
  const std::vector<std::unique_ptr<ArchiveChunk>>& GetChunks() const { return chunks_; }
  void AddChunk(std::unique_ptr<ArchiveChunk> chunk) { chunks_.push_back(std::move(chunk)); }

private:
  std::wstring name_;
  std::uint32_t size_;
  std::vector<std::unique_ptr<ArchiveChunk>> chunks_;
};

class ArchiveReader {
public:
  ArchiveReader() = default;
  ~ArchiveReader();
  ArchiveReader(const ArchiveReader&) = delete;
  ArchiveReader& operator=(const ArchiveReader&) = delete;

  // Parses the archive in data[0, length) without copying its bytes: the
  // buffer must stay alive and unchanged while the reader exists. Raises
  // 21010 "Archive is corrupted." when the archive is not one or any part of
  // it lies outside the buffer, and 21014 when a name is not one the setup
  // can write (IsSafeEntryName) or two names land on one file; the reader is
  // then left empty.
  void LoadFromMemory(const void* data, std::size_t length);
  unsigned int GetEntryCount() const { return static_cast<unsigned int>(entries_.size()); }
  const ArchiveEntry& GetEntry(unsigned int index) const;
  bool IsBorrowed() const { return borrowed_; }

  // Writes entry index to folder + name (folder ends in a separator). Raises
  // 21014 when the index is out of range or the file cannot be created or
  // written.
  void Extract(unsigned int index, const std::wstring& folder);

private:
  void Clear();

  std::vector<std::unique_ptr<ArchiveEntry>> entries_;
  bool borrowed_ = false;
};

// Builds archives in the reader's format, entries in the order added.
class ArchiveWriter {
public:
  // Raises 21015 when the archive would exceed the format's 32-bit limits.
  void AddEntry(const std::wstring& name, std::string data);
  // Reads the file now. Raises 21016 when it cannot be read, 21015 as above.
  void AddFile(const std::wstring& name, const std::wstring& path);

  std::size_t GetEntryCount() const { return entries_.size(); }
  // Header size: where the first entry's data starts.
  std::uint32_t GetHeaderSize() const;
  std::uint64_t GetArchiveSize() const;

  void WriteTo(std::ostream& out) const;
  std::string ToString() const;

private:
  std::string BuildHeader() const;
  struct Entry {
    std::wstring name;
    std::string data;
  };
  std::vector<Entry> entries_;
  std::uint64_t tableSize_ = 0;
  std::uint64_t dataSize_ = 0;
};
