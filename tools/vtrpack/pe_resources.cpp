// The stamping of a payload into a copy of the launcher: reads the program's
// headers and resource tree, builds a new resource section that holds the old
// resources and the payload, and streams the result out piece by piece.
#include "pe_resources.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace QorPe {
namespace {

using Bytes = std::vector<unsigned char>;

const std::uint32_t kPayloadId = 137;
const std::u16string kPayloadType = u"ZUK";
const std::size_t kCopyPiece = 1 << 20;
// A 32-bit process cannot map a larger image.
const std::uint64_t kImageLimit = 0x80000000u;
// More entries than any real program has: a directory that refers to itself
// over and over is damaged, not big.
const std::size_t kEntryLimit = 100000;

const std::uint32_t kResourceDirectory = 2;
const std::uint32_t kCertificateDirectory = 4;
const std::uint32_t kSectionHeaderSize = 40;
const std::uint32_t kInitializedData = 0x00000040;
const std::uint32_t kMemoryRead = 0x40000000;

std::uint16_t Get16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint32_t Get32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
void Put16(unsigned char* p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
void Put32(unsigned char* p, std::uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}

std::uint64_t AlignUp(std::uint64_t value, std::uint32_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

std::string Show(const fs::path& path) {
  return path.u8string();
}

[[noreturn]] void Fail(const std::string& reason) {
  throw StampError(reason);
}

// A file read at given offsets; every read is checked against its size.
class InputFile {
public:
  InputFile(const fs::path& path) : path_(path), stream_(path, std::ios::binary) {
    if (!stream_) {
      Fail("cannot open " + Show(path));
    }
    stream_.seekg(0, std::ios::end);
    const std::streamoff end = stream_.tellg();
    if (end < 0) {
      Fail("cannot read " + Show(path));
    }
    size_ = static_cast<std::uint64_t>(end);
  }
  std::uint64_t size() const { return size_; }
  const fs::path& path() const { return path_; }

  void ReadInto(std::uint64_t offset, unsigned char* out, std::size_t count,
                const char* what = "its headers") {
    if (offset > size_ || count > size_ - offset) {
      Fail(Show(path_) + " is damaged or cut short: " + what + " run past its end");
    }
    stream_.clear();
    stream_.seekg(static_cast<std::streamoff>(offset));
    stream_.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(count));
    if (!stream_) {
      Fail("cannot read " + Show(path_));
    }
  }
  Bytes Read(std::uint64_t offset, std::size_t count, const char* what = "its headers") {
    Bytes bytes(count);
    ReadInto(offset, bytes.data(), count, what);
    return bytes;
  }

private:
  fs::path path_;
  std::ifstream stream_;
  std::uint64_t size_ = 0;
};

// The output, written front to back while its checksum is summed up.
class OutputFile {
public:
  OutputFile(const fs::path& path)
      : path_(path), stream_(path, std::ios::binary | std::ios::trunc) {
    if (!stream_) {
      Fail("cannot create " + Show(path));
    }
  }
  std::uint64_t position() const { return position_; }
  void Write(const unsigned char* data, std::size_t size) {
    checksum_.Add(data, size);
    stream_.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!stream_) {
      Fail("cannot write " + Show(path_));
    }
    position_ += size;
  }
  void ZerosUpTo(std::uint64_t end) {
    static const unsigned char kZeros[4096] = {};
    while (position_ < end) {
      Write(kZeros, static_cast<std::size_t>(std::min<std::uint64_t>(end - position_, 4096)));
    }
  }
  void CopyFrom(InputFile& input, std::uint64_t offset, std::uint64_t count, const char* what) {
    Bytes piece(static_cast<std::size_t>(std::min<std::uint64_t>(count, kCopyPiece)));
    while (count > 0) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, piece.size()));
      input.ReadInto(offset, piece.data(), n, what);
      Write(piece.data(), n);
      offset += n;
      count -= n;
    }
  }
  // Puts the checksum into its field (which was written as zero) and closes.
  void Finish(std::uint64_t checksumOffset) {
    unsigned char field[4];
    Put32(field, checksum_.Finish());
    stream_.seekp(static_cast<std::streamoff>(checksumOffset));
    stream_.write(reinterpret_cast<const char*>(field), 4);
    stream_.close();
    if (!stream_) {
      Fail("cannot write " + Show(path_));
    }
  }

private:
  fs::path path_;
  std::ofstream stream_;
  std::uint64_t position_ = 0;
  PeChecksum checksum_;
};

// A resource type, name or language: a name (upper case by convention) or a number.
struct ResourceKey {
  bool named = false;
  std::u16string name;
  std::uint32_t id = 0;
};

// Named entries come first, in the order of their UTF-16 units, then the
// numbered ones in ascending order: the loader searches them in that order.
bool operator<(const ResourceKey& a, const ResourceKey& b) {
  if (a.named != b.named) {
    return a.named;
  }
  return a.named ? a.name < b.name : a.id < b.id;
}

struct ResourceLeaf {
  bool payload = false;
  std::uint64_t sourceOffset = 0; // in the base file
  std::uint32_t size = 0;
  std::uint32_t codePage = 0;
};

using LanguageMap = std::map<ResourceKey, ResourceLeaf>;
using NameMap = std::map<ResourceKey, LanguageMap>;
using TypeMap = std::map<ResourceKey, NameMap>;

struct Section {
  std::uint32_t headerOffset;
  SectionSpan span;
};

// What the stamp needs from the base program's headers.
struct Image {
  Bytes headers; // the first SizeOfHeaders bytes
  std::uint32_t coffOffset = 0;
  std::uint32_t optionalOffset = 0;
  std::uint32_t directoriesOffset = 0;
  std::uint32_t directoryCount = 0;
  std::uint32_t sectionTableOffset = 0;
  std::uint32_t sectionAlignment = 0;
  std::uint32_t fileAlignment = 0;
  std::vector<Section> sections;

  std::uint32_t Directory(std::uint32_t index, std::uint32_t field) const {
    return index < directoryCount ? Get32(&headers[directoriesOffset + 8 * index + 4 * field]) : 0;
  }
  std::uint32_t checksumOffset() const { return optionalOffset + 64; }
};

bool PowerOfTwo(std::uint32_t value) {
  return value != 0 && (value & (value - 1)) == 0;
}

Image ReadImage(InputFile& base) {
  const std::string name = Show(base.path());
  const std::string notAProgram = name + " is not a Windows program";
  if (base.size() < 64) {
    Fail(notAProgram + " (it is too short)");
  }
  Bytes dos = base.Read(0, 64);
  if (dos[0] != 'M' || dos[1] != 'Z') {
    Fail(notAProgram + " (it does not start with MZ)");
  }
  Image image;
  const std::uint32_t peOffset = Get32(&dos[60]);
  if (peOffset > base.size() || base.size() - peOffset < 24) {
    Fail(notAProgram + " (its PE header is missing)");
  }
  Bytes signature = base.Read(peOffset, 24);
  if (std::memcmp(signature.data(), "PE\0\0", 4) != 0) {
    Fail(notAProgram + " (its PE header is missing)");
  }
  image.coffOffset = peOffset + 4;
  image.optionalOffset = image.coffOffset + 20;
  const std::uint32_t sectionCount = Get16(&signature[4 + 2]);
  const std::uint32_t optionalSize = Get16(&signature[4 + 16]);
  image.sectionTableOffset = image.optionalOffset + optionalSize;
  Bytes optional = base.Read(image.optionalOffset, std::min<std::uint32_t>(optionalSize, 96));
  if (optional.size() < 96) {
    Fail(notAProgram + " (its optional header is too short)");
  }
  const std::uint16_t magic = Get16(&optional[0]);
  std::uint32_t countOffset = 0;
  if (magic == 0x10b) {
    countOffset = 92; // 32-bit program
  } else if (magic == 0x20b) {
    countOffset = 108; // 64-bit program
  } else {
    Fail(notAProgram + " (its optional header is of an unknown kind)");
  }
  if (optionalSize < countOffset + 4) {
    Fail(notAProgram + " (its optional header is too short)");
  }
  Bytes count = base.Read(image.optionalOffset + countOffset, 4);
  image.directoryCount = std::min<std::uint32_t>(Get32(count.data()), 16);
  image.directoriesOffset = image.optionalOffset + countOffset + 4;
  if (optionalSize < countOffset + 4 + 8 * image.directoryCount) {
    Fail(notAProgram + " (its data directories do not fit its optional header)");
  }
  image.sectionAlignment = Get32(&optional[32]);
  image.fileAlignment = Get32(&optional[36]);
  if (!PowerOfTwo(image.sectionAlignment) || !PowerOfTwo(image.fileAlignment) ||
      image.fileAlignment > image.sectionAlignment) {
    Fail(name + " is damaged: its section and file alignments are not valid");
  }
  const std::uint32_t headersSize = Get32(&optional[60]);
  const std::uint64_t tableEnd =
      std::uint64_t{image.sectionTableOffset} + kSectionHeaderSize * sectionCount;
  if (headersSize < tableEnd || headersSize > (1u << 20)) {
    Fail(name + " is damaged: its section table does not fit its headers");
  }
  image.headers = base.Read(0, headersSize);
  for (std::uint32_t i = 0; i < sectionCount; ++i) {
    const std::uint32_t at = image.sectionTableOffset + kSectionHeaderSize * i;
    const unsigned char* h = &image.headers[at];
    Section section{at, {Get32(h + 12), Get32(h + 8), Get32(h + 20), Get32(h + 16)}};
    if (section.span.rawSize > 0 && section.span.rawOffset < headersSize) {
      Fail(name + " is damaged: section " + std::to_string(i + 1) + " overlaps its headers");
    }
    if (section.span.rawSize > 0 && (section.span.rawOffset > base.size() ||
                                     section.span.rawSize > base.size() - section.span.rawOffset)) {
      Fail(name + " is damaged or cut short: section " + std::to_string(i + 1) +
           " runs past the end of the file");
    }
    image.sections.push_back(section);
  }
  return image;
}

// Where the bytes at a virtual address lie in the file, for `size` bytes.
std::uint64_t FileOffset(const Image& image, const fs::path& path, std::uint32_t rva,
                         std::uint32_t size) {
  for (const Section& s : image.sections) {
    if (rva >= s.span.virtualAddress && rva - s.span.virtualAddress < s.span.rawSize &&
        size <= s.span.rawSize - (rva - s.span.virtualAddress)) {
      return std::uint64_t{s.span.rawOffset} + (rva - s.span.virtualAddress);
    }
  }
  Fail(Show(path) + " is damaged: its resources point outside its sections");
}

class ResourceTreeReader {
public:
  ResourceTreeReader(InputFile& base, const Image& image, std::uint32_t rootRva)
      : base_(base), image_(image), root_(rootRva) {}

  TypeMap Read() {
    TypeMap types;
    ReadDirectory(0, [&](const ResourceKey& type, std::uint32_t typeEntry) {
      NameMap& names = types[type];
      ReadDirectory(Subdirectory(typeEntry), [&](const ResourceKey& name, std::uint32_t nameEntry) {
        LanguageMap& languages = names[name];
        ReadDirectory(Subdirectory(nameEntry),
                      [&](const ResourceKey& language, std::uint32_t leafEntry) {
                        languages[language] = ReadLeaf(leafEntry);
                      });
      });
    });
    return types;
  }

private:
  [[noreturn]] void Damaged(const std::string& what) const {
    Fail(Show(base_.path()) + " is damaged: its resource directory " + what);
  }

  Bytes ReadAt(std::uint32_t offset, std::uint32_t size) {
    if (offset > 0x7FFFFFFFu) {
      Damaged("points outside itself");
    }
    const std::uint32_t rva = root_ + offset;
    return base_.Read(FileOffset(image_, base_.path(), rva, size), size,
                      "its resource directory's entries");
  }

  std::uint32_t Subdirectory(std::uint32_t entry) const {
    if (!(entry & 0x80000000u)) {
      Damaged("has data where a subdirectory belongs");
    }
    return entry & 0x7FFFFFFFu;
  }

  template <class Visit> void ReadDirectory(std::uint32_t offset, Visit visit) {
    Bytes header = ReadAt(offset, 16);
    const std::uint32_t count = std::uint32_t{Get16(&header[12])} + Get16(&header[14]);
    entries_ += count;
    if (entries_ > kEntryLimit) {
      Damaged("has too many entries");
    }
    if (count == 0) {
      return;
    }
    Bytes table = ReadAt(offset + 16, 8 * count);
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint32_t nameField = Get32(&table[8 * i]);
      ResourceKey key;
      if (nameField & 0x80000000u) {
        key.named = true;
        const std::uint32_t at = nameField & 0x7FFFFFFFu;
        const std::uint32_t length = Get16(ReadAt(at, 2).data());
        Bytes units = ReadAt(at + 2, 2 * length);
        for (std::uint32_t u = 0; u < length; ++u) {
          key.name += static_cast<char16_t>(Get16(&units[2 * u]));
        }
      } else {
        key.id = nameField & 0xFFFF;
      }
      visit(key, Get32(&table[8 * i + 4]));
    }
  }

  ResourceLeaf ReadLeaf(std::uint32_t entry) {
    if (entry & 0x80000000u) {
      Damaged("has a subdirectory where data belongs");
    }
    Bytes data = ReadAt(entry, 16);
    ResourceLeaf leaf;
    leaf.size = Get32(&data[4]);
    leaf.codePage = Get32(&data[8]);
    leaf.sourceOffset = FileOffset(image_, base_.path(), Get32(&data[0]), leaf.size);
    return leaf;
  }

  InputFile& base_;
  const Image& image_;
  std::uint32_t root_;
  std::size_t entries_ = 0;
};

// The new resource section: its tables, then every resource's data.
struct ResourceSection {
  Bytes tables;
  std::vector<std::pair<std::uint64_t, ResourceLeaf>> data; // offset in the section, source
  std::vector<std::size_t> entries; // where each data's entry lies in `tables`
  std::uint64_t size = 0;
};

ResourceSection LayOut(const TypeMap& types) {
  // Offsets first: directories breadth first, the data entries, the names.
  std::uint64_t offset = 16 + 8 * types.size();
  std::uint64_t leaves = 0;
  for (const auto& type : types) {
    offset += 16 + 8 * type.second.size();
  }
  for (const auto& type : types) {
    for (const auto& name : type.second) {
      offset += 16 + 8 * name.second.size();
      leaves += name.second.size();
    }
  }
  const std::uint64_t dataEntries = offset;
  offset += 16 * leaves;
  const std::uint64_t names = offset;
  auto addName = [&](const ResourceKey& key) {
    if (key.named) {
      offset += 2 + 2 * key.name.size();
    }
  };
  for (const auto& type : types) {
    addName(type.first);
    for (const auto& name : type.second) {
      addName(name.first);
      for (const auto& language : name.second) {
        addName(language.first);
      }
    }
  }
  ResourceSection section;
  section.tables.resize(static_cast<std::size_t>(AlignUp(offset, 8)));
  offset = section.tables.size();
  for (const auto& type : types) {
    for (const auto& name : type.second) {
      for (const auto& language : name.second) {
        section.data.emplace_back(offset, language.second);
        offset = AlignUp(offset + language.second.size, 8);
      }
    }
  }
  section.size = offset;

  // Then the bytes. Time stamps and versions stay zero: the same input gives
  // the same output.
  unsigned char* out = section.tables.data();
  std::uint64_t nextDirectory = 0, nextEntry = dataEntries, nextName = names;
  auto nameField = [&](const ResourceKey& key) -> std::uint32_t {
    if (!key.named) {
      return key.id;
    }
    const std::uint64_t at = nextName;
    Put16(out + at, static_cast<std::uint32_t>(key.name.size()));
    for (std::size_t i = 0; i < key.name.size(); ++i) {
      Put16(out + at + 2 + 2 * i, key.name[i]);
    }
    nextName += 2 + 2 * key.name.size();
    return 0x80000000u | static_cast<std::uint32_t>(at);
  };
  // Writes a directory's header and reserves its entries; returns the
  // offset of its first entry.
  auto directory = [&](const auto& children) {
    const std::uint64_t at = nextDirectory;
    std::uint32_t named = 0;
    for (const auto& child : children) {
      named += child.first.named ? 1 : 0;
    }
    Put16(out + at + 12, named);
    Put16(out + at + 14, static_cast<std::uint32_t>(children.size()) - named);
    nextDirectory += 16 + 8 * children.size();
    return at + 16;
  };
  std::vector<std::uint64_t> typeEntries, nameEntries;
  std::uint64_t entry = directory(types);
  for (const auto& type : types) {
    Put32(out + entry, nameField(type.first));
    Put32(out + entry + 4, 0x80000000u | static_cast<std::uint32_t>(nextDirectory));
    typeEntries.push_back(directory(type.second));
    entry += 8;
  }
  std::size_t t = 0;
  for (const auto& type : types) {
    entry = typeEntries[t++];
    for (const auto& name : type.second) {
      Put32(out + entry, nameField(name.first));
      Put32(out + entry + 4, 0x80000000u | static_cast<std::uint32_t>(nextDirectory));
      nameEntries.push_back(directory(name.second));
      entry += 8;
    }
  }
  std::size_t n = 0;
  for (const auto& type : types) {
    for (const auto& name : type.second) {
      entry = nameEntries[n++];
      for (const auto& language : name.second) {
        Put32(out + entry, nameField(language.first));
        Put32(out + entry + 4, static_cast<std::uint32_t>(nextEntry));
        // The data's address is set once the section's place is known.
        section.entries.push_back(static_cast<std::size_t>(nextEntry));
        Put32(out + nextEntry + 4, language.second.size);
        Put32(out + nextEntry + 8, language.second.codePage);
        nextEntry += 16;
        entry += 8;
      }
    }
  }
  return section;
}

// The section that holds the resource directory, when it holds nothing else
// (so that it can be rewritten); -1 otherwise.
int OwnResourceSection(const Image& image) {
  const std::uint32_t rva = image.Directory(kResourceDirectory, 0);
  if (rva == 0) {
    return -1;
  }
  for (std::size_t i = 0; i < image.sections.size(); ++i) {
    const SectionSpan& s = image.sections[i].span;
    if (rva != s.virtualAddress) {
      continue;
    }
    const std::uint32_t extent = std::max(s.virtualSize, s.rawSize);
    for (std::uint32_t d = 0; d < image.directoryCount; ++d) {
      const std::uint32_t other = image.Directory(d, 0);
      if (d != kResourceDirectory && d != kCertificateDirectory && other >= s.virtualAddress &&
          other - s.virtualAddress < extent) {
        return -1;
      }
    }
    return static_cast<int>(i);
  }
  return -1;
}

} // namespace

void PeChecksum::Add(const unsigned char* data, std::size_t size) {
  std::size_t i = 0;
  if (pendingLow_ >= 0 && size > 0) {
    sum_ += static_cast<std::uint64_t>(pendingLow_) | std::uint64_t{data[0]} << 8;
    pendingLow_ = -1;
    i = 1;
  }
  for (; i + 1 < size; i += 2) {
    sum_ += std::uint64_t{data[i]} | std::uint64_t{data[i + 1]} << 8;
  }
  if (i < size) {
    pendingLow_ = data[i];
  }
  length_ += size;
}

std::uint32_t PeChecksum::Finish() const {
  std::uint64_t sum = sum_ + (pendingLow_ >= 0 ? static_cast<std::uint64_t>(pendingLow_) : 0);
  while (sum > 0xFFFF) {
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return static_cast<std::uint32_t>(sum + length_);
}

SectionPlacement PlaceResourceSection(const std::vector<SectionSpan>& sections, int resources,
                                      std::uint64_t contentEnd, std::uint64_t size,
                                      std::uint32_t sectionAlignment, std::uint32_t fileAlignment) {
  const std::uint64_t rawSize = AlignUp(size, fileAlignment);
  auto extent = [](const SectionSpan& s) {
    return std::uint64_t{s.virtualAddress} + std::max(s.virtualSize, s.rawSize);
  };
  std::size_t last = 0;
  for (std::size_t i = 1; i < sections.size(); ++i) {
    if (sections[i].virtualAddress > sections[last].virtualAddress) {
      last = i;
    }
  }
  auto checked = [&](SectionPlacement p) {
    if (AlignUp(std::uint64_t{p.virtualAddress} + size, sectionAlignment) > kImageLimit ||
        p.outputSize > 0xFFFFFFFFu) {
      Fail("the payload is too large: a setup program can be at most 2 GB");
    }
    return p;
  };
  if (resources >= 0 && static_cast<std::size_t>(resources) < sections.size()) {
    const SectionSpan& s = sections[resources];
    const bool endsTheFile = s.rawSize > 0 && std::uint64_t{s.rawOffset} + s.rawSize >= contentEnd;
    std::uint64_t room = kImageLimit - s.virtualAddress; // the last section may grow
    if (static_cast<std::size_t>(resources) != last) {
      room = 0;
      for (const SectionSpan& other : sections) {
        if (other.virtualAddress > s.virtualAddress) {
          const std::uint64_t gap = other.virtualAddress - s.virtualAddress;
          room = room == 0 ? gap : std::min(room, gap);
        }
      }
    }
    if (static_cast<std::size_t>(resources) == last && endsTheFile) {
      // Rewritten where it is, the file ending with it.
      return checked({false, s.virtualAddress, s.rawOffset, static_cast<std::uint32_t>(rawSize),
                      s.rawOffset, s.rawOffset + rawSize});
    }
    if (rawSize <= s.rawSize && AlignUp(size, sectionAlignment) <= room) {
      // Fits into its old bytes.
      return checked({false, s.virtualAddress, s.rawOffset, s.rawSize, contentEnd, contentEnd});
    }
    if (static_cast<std::size_t>(resources) == last) {
      // The last section grows: same header, its bytes at the end of the file.
      const std::uint64_t at = AlignUp(contentEnd, fileAlignment);
      return checked({false, s.virtualAddress, static_cast<std::uint32_t>(at),
                      static_cast<std::uint32_t>(rawSize), contentEnd, at + rawSize});
    }
  }
  // A new last section; the old one, if any, stays where it is unused.
  std::uint64_t end = 0;
  for (const SectionSpan& s : sections) {
    end = std::max(end, extent(s));
  }
  const std::uint64_t virtualAddress = AlignUp(end, sectionAlignment);
  const std::uint64_t at = AlignUp(contentEnd, fileAlignment);
  if (virtualAddress >= kImageLimit || at > 0xFFFFFFFFu) {
    Fail("the payload is too large: a setup program can be at most 2 GB");
  }
  return checked({true, static_cast<std::uint32_t>(virtualAddress), static_cast<std::uint32_t>(at),
                  static_cast<std::uint32_t>(rawSize), contentEnd, at + rawSize});
}

StampResult StampPayload(const fs::path& basePath, const fs::path& payloadPath,
                         const fs::path& outputPath) {
  InputFile base(basePath);
  InputFile payload(payloadPath);
  if (payload.size() == 0) {
    Fail(Show(payloadPath) + " is empty");
  }
  if (payload.size() >= kImageLimit) {
    Fail("the payload is too large: a setup program can be at most 2 GB");
  }
  Image image = ReadImage(base);
  const std::string baseName = Show(basePath);
  if (image.directoryCount <= kResourceDirectory) {
    Fail(baseName + " has no room for resources in its data directories");
  }

  StampResult result;
  std::uint64_t contentEnd = base.size();
  const std::uint32_t certificateOffset = image.Directory(kCertificateDirectory, 0);
  const std::uint32_t certificateSize = image.Directory(kCertificateDirectory, 1);
  if (certificateOffset != 0 || certificateSize != 0) {
    if (certificateOffset > base.size() || certificateSize > base.size() - certificateOffset) {
      Fail(baseName + " is damaged or cut short: its certificate table runs past its end");
    }
    contentEnd = certificateOffset;
    result.droppedSignature = true;
  }
  for (const Section& s : image.sections) {
    if (s.span.rawSize > 0 && std::uint64_t{s.span.rawOffset} + s.span.rawSize > contentEnd) {
      Fail(baseName + " is damaged: its certificate table overlaps its sections");
    }
  }

  TypeMap types;
  const std::uint32_t rootRva = image.Directory(kResourceDirectory, 0);
  if (rootRva != 0) {
    types = ResourceTreeReader(base, image, rootRva).Read();
  }
  ResourceKey zuk;
  zuk.named = true;
  zuk.name = kPayloadType;
  ResourceKey id;
  id.id = kPayloadId;
  ResourceLeaf leaf;
  leaf.payload = true;
  leaf.size = static_cast<std::uint32_t>(payload.size());
  LanguageMap& languages = types[zuk][id];
  languages.clear(); // one payload, whatever languages the old one had
  languages[ResourceKey()] = leaf;

  ResourceSection section = LayOut(types);
  std::vector<SectionSpan> spans;
  for (const Section& s : image.sections) {
    spans.push_back(s.span);
  }
  const int own = OwnResourceSection(image);
  const SectionPlacement place = PlaceResourceSection(spans, own, contentEnd, section.size,
                                                      image.sectionAlignment, image.fileAlignment);
  result.movedResources = place.newSection;

  // The data entries hold addresses, known now.
  for (std::size_t i = 0; i < section.data.size(); ++i) {
    Put32(&section.tables[section.entries[i]],
          place.virtualAddress + static_cast<std::uint32_t>(section.data[i].first));
  }

  // The new headers.
  Bytes& headers = image.headers;
  std::uint32_t sectionHeader = 0;
  std::uint32_t oldRawSize = 0;
  if (place.newSection) {
    sectionHeader = image.sectionTableOffset +
                    kSectionHeaderSize * static_cast<std::uint32_t>(image.sections.size());
    std::uint64_t firstRaw = headers.size();
    for (const Section& s : image.sections) {
      if (s.span.rawSize > 0) {
        firstRaw = std::min<std::uint64_t>(firstRaw, s.span.rawOffset);
      }
    }
    const bool unused = std::all_of(
        headers.begin() + std::min<std::size_t>(sectionHeader, headers.size()),
        headers.begin() + std::min<std::size_t>(sectionHeader + kSectionHeaderSize, headers.size()),
        [](unsigned char c) { return c == 0; });
    if (image.sections.size() >= 95 || sectionHeader + kSectionHeaderSize > firstRaw || !unused) {
      Fail(baseName + " has no room in its headers for another section");
    }
    unsigned char* h = &headers[sectionHeader];
    std::memcpy(h, ".rsrc\0\0\0", 8);
    if (own >= 0) {
      // Its old place keeps its addresses (sections must follow each other
      // without gaps) under another name, so that tools looking for the
      // resources by section name find the new ones.
      std::memcpy(&headers[image.sections[static_cast<std::size_t>(own)].headerOffset], ".oldrsrc",
                  8);
    }
    Put32(h + 36, kInitializedData | kMemoryRead);
    Put16(&headers[image.coffOffset + 2], static_cast<std::uint32_t>(image.sections.size() + 1));
  } else {
    const Section& s = image.sections[static_cast<std::size_t>(own)];
    sectionHeader = s.headerOffset;
    oldRawSize = s.span.rawSize;
  }
  unsigned char* h = &headers[sectionHeader];
  Put32(h + 8, static_cast<std::uint32_t>(section.size));
  Put32(h + 12, place.virtualAddress);
  Put32(h + 16, place.rawSize);
  Put32(h + 20, place.rawOffset);

  std::uint64_t imageEnd = 0;
  for (std::uint32_t i = 0; i < Get16(&headers[image.coffOffset + 2]); ++i) {
    const unsigned char* s = &headers[image.sectionTableOffset + kSectionHeaderSize * i];
    const std::uint32_t virtualSize = Get32(s + 8) ? Get32(s + 8) : Get32(s + 16);
    imageEnd = std::max(imageEnd, std::uint64_t{Get32(s + 12)} + virtualSize);
  }
  const std::uint32_t opt = image.optionalOffset;
  Put32(&headers[opt + 56], static_cast<std::uint32_t>(AlignUp(imageEnd, image.sectionAlignment)));
  const std::uint32_t initialized = Get32(&headers[opt + 8]);
  Put32(&headers[opt + 8], initialized - std::min(initialized, oldRawSize) + place.rawSize);
  Put32(&headers[image.directoriesOffset + 8 * kResourceDirectory], place.virtualAddress);
  Put32(&headers[image.directoriesOffset + 8 * kResourceDirectory + 4],
        static_cast<std::uint32_t>(section.size));
  if (image.directoryCount > kCertificateDirectory) {
    Put32(&headers[image.directoriesOffset + 8 * kCertificateDirectory], 0);
    Put32(&headers[image.directoriesOffset + 8 * kCertificateDirectory + 4], 0);
  }
  Put32(&headers[image.checksumOffset()], 0);

  // Out, front to back.
  {
    OutputFile out(outputPath);
    const std::uint64_t kept = std::min<std::uint64_t>(place.keptBaseBytes, contentEnd);
    const bool inside = place.rawOffset < kept;
    const std::uint64_t headerBytes = std::min<std::uint64_t>(headers.size(), kept);
    out.Write(headers.data(), static_cast<std::size_t>(headerBytes));
    auto copyBase = [&](std::uint64_t end) {
      if (end > out.position()) {
        out.CopyFrom(base, out.position(), end - out.position(), "its sections");
      }
    };
    auto writeSection = [&]() {
      const std::uint64_t start = out.position();
      out.Write(section.tables.data(), section.tables.size());
      for (const auto& piece : section.data) {
        out.ZerosUpTo(start + piece.first);
        if (piece.second.payload) {
          out.CopyFrom(payload, 0, piece.second.size, "the payload");
        } else {
          out.CopyFrom(base, piece.second.sourceOffset, piece.second.size, "its resources");
        }
      }
      out.ZerosUpTo(start + place.rawSize);
    };
    if (inside) {
      copyBase(place.rawOffset);
      writeSection();
      out.CopyFrom(base, out.position(), kept - out.position(), "its sections");
    } else {
      copyBase(kept);
      out.ZerosUpTo(place.rawOffset);
      writeSection();
    }
    out.Finish(image.checksumOffset());
  }
  return result;
}

} // namespace QorPe
