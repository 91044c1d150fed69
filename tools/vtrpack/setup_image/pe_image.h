// The editor's inside, shared by its reader, the branding and the stamp:
// the inputs it reads, and the base program's headers and resource tree as
// read from them.
#pragma once

#include "qor/setup_image/pe_layout.h"
#include "qor/setup_image/stamp_error.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace QorPe {

using Bytes = std::vector<unsigned char>;

// A file, or bytes in memory, read at given offsets; every read is checked
// against the size.
class StampInput {
public:
  StampInput(std::string name, std::uint64_t size) : name_(std::move(name)), size_(size) {}
  virtual ~StampInput() = default;
  StampInput(const StampInput&) = delete;
  StampInput& operator=(const StampInput&) = delete;
  const std::string& name() const { return name_; } // UTF-8, for messages
  std::uint64_t size() const { return size_; }
  void ReadInto(std::uint64_t offset, unsigned char* out, std::size_t count,
                const char* what = "its headers");
  Bytes Read(std::uint64_t offset, std::size_t count, const char* what = "its headers");

protected:
  void SetSize(std::uint64_t size) { size_ = size; }

private:
  virtual void ReadRaw(std::uint64_t offset, unsigned char* out, std::size_t count) = 0;

  std::string name_;
  std::uint64_t size_;
};

class MemoryInput : public StampInput {
public:
  MemoryInput(std::string name, const unsigned char* data, std::size_t size)
      : StampInput(std::move(name), size), data_(data) {}

private:
  void ReadRaw(std::uint64_t offset, unsigned char* out, std::size_t count) override;
  const unsigned char* data_;
};

// A resource type, name or language: a name (upper case by convention) or a number.
struct ResourceKey {
  bool named = false;
  std::u16string name;
  std::uint32_t id = 0;
};

inline ResourceKey IdKey(std::uint32_t id) {
  ResourceKey key;
  key.id = id;
  return key;
}

// Named entries come first, in the order of their UTF-16 units, then the
// numbered ones in ascending order: the loader searches them in that order.
inline bool operator<(const ResourceKey& a, const ResourceKey& b) {
  if (a.named != b.named) {
    return a.named;
  }
  return a.named ? a.name < b.name : a.id < b.id;
}

struct ResourceLeaf {
  enum class Source { Base, Payload, Bytes };
  Source source = Source::Base;
  std::uint64_t sourceOffset = 0; // in the base file
  std::uint32_t size = 0;
  std::uint32_t codePage = 0;
  Bytes bytes; // made by the stamp (Source::Bytes)
};

using LanguageMap = std::map<ResourceKey, ResourceLeaf>;
using NameMap = std::map<ResourceKey, LanguageMap>;
using TypeMap = std::map<ResourceKey, NameMap>;

struct DirectoryEntry {
  std::uint32_t address = 0;
  std::uint32_t size = 0;
};

// What the stamp needs from the base program's headers.
struct Image {
  Bytes headers; // the first SizeOfHeaders bytes
  std::uint32_t peOffset = 0;
  std::uint64_t checksumOffset = 0;
  std::uint64_t sectionTableEnd = 0; // where another section header would go
  std::uint32_t sectionAlignment = 0;
  std::uint32_t fileAlignment = 0;
  std::vector<DirectoryEntry> directories; // as many as it has, up to the loader's 16
  std::vector<SectionSpan> sections;       // in table order

  DirectoryEntry Directory(std::uint32_t index) const {
    return index < directories.size() ? directories[index] : DirectoryEntry();
  }
};

// The base program as the stamp reads it.
struct BaseProgram {
  Image image;
  TypeMap resources;
  std::uint64_t contentEnd = 0; // where its own bytes end: before any certificate table
  bool isSigned = false;
};

// Reads and checks the base's headers and resource tree, refusing damage
// and whatever would make the stamp cost without bound.
BaseProgram ReadBase(StampInput& base);

// The bytes of one of the base's resources.
Bytes ReadLeaf(StampInput& base, const ResourceLeaf& leaf);

} // namespace QorPe
