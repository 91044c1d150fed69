// The fields of a Windows program (PE) file by name, for the stamper and its
// tests: its headers, section table and resource tables. 32-bit programs
// (PE32) and 64-bit ones (PE32+) share all but the optional header, where
// PE32+ has 8-byte addresses, so that its count of data directories and the
// directories themselves lie 16 bytes further on. Views write into the bytes
// they look at; the caller holds the bytes of the fields it touches.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace QorPe {

// The file's numbers are little-endian, whatever the machine's order.
inline std::uint16_t Get16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline std::uint32_t Get32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline void Put16(unsigned char* p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
inline void Put32(unsigned char* p, std::uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}

// A 2- or 4-byte number at `offset` from the start of a view's bytes.
class Field {
public:
  Field(unsigned char* base, std::uint32_t offset, std::uint32_t width)
      : base_(base), offset_(offset), width_(width) {}
  std::uint32_t Get() const {
    return width_ == 2 ? Get16(base_ + offset_) : Get32(base_ + offset_);
  }
  void Set(std::uint32_t value) const {
    width_ == 2 ? Put16(base_ + offset_, value) : Put32(base_ + offset_, value);
  }
  std::uint32_t offset() const { return offset_; }

private:
  unsigned char* base_;
  std::uint32_t offset_;
  std::uint32_t width_;
};

// The indexes of the data directories the stamper changes.
const std::uint32_t kResourceDirectory = 2;
// Its address is a file offset: the certificate table is not loaded.
const std::uint32_t kCertificateDirectory = 4;

class DataDirectory {
public:
  static constexpr std::uint32_t kSize = 8;
  DataDirectory(unsigned char* base, std::uint32_t offset) : base_(base), offset_(offset) {}
  Field VirtualAddress() const { return {base_, offset_, 4}; }
  Field Size() const { return {base_, offset_ + 4, 4}; }

private:
  unsigned char* base_;
  std::uint32_t offset_;
};

class SectionHeader {
public:
  static constexpr std::uint32_t kSize = 40;
  static constexpr std::uint32_t kInitializedData = 0x00000040;
  static constexpr std::uint32_t kMemoryRead = 0x40000000;
  SectionHeader(unsigned char* base, std::uint32_t offset) : base_(base), offset_(offset) {}
  // Up to 8 bytes, padded with zeros; a name of 8 has no terminator.
  std::string Name() const {
    const std::string name(reinterpret_cast<const char*>(base_ + offset_), 8);
    return name.substr(0, name.find('\0'));
  }
  void SetName(const char* name) const {
    bool ended = false;
    for (std::uint32_t i = 0; i < 8; ++i) {
      ended = ended || name[i] == '\0';
      base_[offset_ + i] = ended ? 0 : static_cast<unsigned char>(name[i]);
    }
  }
  Field VirtualSize() const { return {base_, offset_ + 8, 4}; }
  Field VirtualAddress() const { return {base_, offset_ + 12, 4}; }
  Field SizeOfRawData() const { return {base_, offset_ + 16, 4}; }
  Field PointerToRawData() const { return {base_, offset_ + 20, 4}; }
  Field Characteristics() const { return {base_, offset_ + 36, 4}; }

private:
  unsigned char* base_;
  std::uint32_t offset_;
};

// The PE headers: the signature "PE\0\0", the file header, the optional
// header with its data directories, and the section table, viewed from the
// signature on. Offsets of fields are from the signature.
class PeHeaders {
public:
  static constexpr std::uint32_t kDosHeaderSize = 64;
  // The signature and the file header, which give the optional header's size.
  static constexpr std::uint32_t kFileHeadersSize = 24;
  static constexpr std::uint16_t kPe32 = 0x10b;
  static constexpr std::uint16_t kPe32Plus = 0x20b;
  // A 32-bit program's optional header without data directories: the
  // shortest there is, and it holds every field the layouts share.
  static constexpr std::uint32_t kShortestOptionalHeader = 96;
  // The loader knows no more.
  static constexpr std::uint32_t kDirectoryLimit = 16;

  // Whether the DOS header starts with "MZ", and where it says the PE
  // headers start (its e_lfanew).
  static bool IsDosHeader(const unsigned char* dos) { return dos[0] == 'M' && dos[1] == 'Z'; }
  static std::uint32_t PeOffset(const unsigned char* dos) { return Get32(dos + 60); }

  explicit PeHeaders(unsigned char* signature) : base_(signature) {}

  bool HasSignature() const {
    return base_[0] == 'P' && base_[1] == 'E' && base_[2] == 0 && base_[3] == 0;
  }
  Field NumberOfSections() const { return {base_, 6, 2}; }
  Field SizeOfOptionalHeader() const { return {base_, 20, 2}; }

  Field Magic() const { return Optional(0, 2); }
  bool IsPe32Plus() const { return Magic().Get() == kPe32Plus; }
  bool IsKnownLayout() const { return Magic().Get() == kPe32 || IsPe32Plus(); }
  Field SizeOfInitializedData() const { return Optional(8, 4); }
  Field SectionAlignment() const { return Optional(32, 4); }
  Field FileAlignment() const { return Optional(36, 4); }
  Field SizeOfImage() const { return Optional(56, 4); }
  Field SizeOfHeaders() const { return Optional(60, 4); }
  Field CheckSum() const { return Optional(64, 4); }
  // Where the data directories start in the optional header, which is as
  // long as the optional header must be to hold the count of them.
  std::uint32_t DirectoriesOffset() const { return IsPe32Plus() ? 112 : 96; }
  Field NumberOfRvaAndSizes() const { return Optional(DirectoriesOffset() - 4, 4); }
  DataDirectory Directory(std::uint32_t index) const {
    return {base_, kFileHeadersSize + DirectoriesOffset() + DataDirectory::kSize * index};
  }

  std::uint32_t SectionTableOffset() const {
    return kFileHeadersSize + SizeOfOptionalHeader().Get();
  }
  SectionHeader Section(std::uint32_t index) const {
    return {base_, SectionTableOffset() + SectionHeader::kSize * index};
  }

private:
  Field Optional(std::uint32_t offset, std::uint32_t width) const {
    return {base_, kFileHeadersSize + offset, width};
  }

  unsigned char* base_;
};

// In an entry, the flag that marks a name (rather than a number) or a
// subdirectory (rather than data); the rest is an offset from the start of
// the resource tables.
const std::uint32_t kResourceFlag = 0x80000000u;
const std::uint32_t kResourceOffset = 0x7FFFFFFFu;

// A resource directory's header; its entries follow it, the named ones first.
class ResourceDirectory {
public:
  static constexpr std::uint32_t kSize = 16;
  explicit ResourceDirectory(unsigned char* at) : at_(at) {}
  Field NumberOfNamedEntries() const { return {at_, 12, 2}; }
  Field NumberOfIdEntries() const { return {at_, 14, 2}; }

private:
  unsigned char* at_;
};

class ResourceEntry {
public:
  static constexpr std::uint32_t kSize = 8;
  explicit ResourceEntry(unsigned char* at) : at_(at) {}
  Field Name() const { return {at_, 0, 4}; }
  Field OffsetToData() const { return {at_, 4, 4}; }

private:
  unsigned char* at_;
};

class ResourceDataEntry {
public:
  static constexpr std::uint32_t kSize = 16;
  explicit ResourceDataEntry(unsigned char* at) : at_(at) {}
  Field OffsetToData() const { return {at_, 0, 4}; } // an address in the image
  Field Size() const { return {at_, 4, 4}; }
  Field CodePage() const { return {at_, 8, 4}; }

private:
  unsigned char* at_;
};

// A resource's name: its length in UTF-16 units, then the units.
const std::uint32_t kResourceNameLengthSize = 2;

// The numbered resource types the stamper knows.
const std::uint32_t kBitmapType = 2;
const std::uint32_t kIconType = 3;
const std::uint32_t kStringType = 6;
const std::uint32_t kIconGroupType = 14;
const std::uint32_t kVersionType = 16;

} // namespace QorPe
