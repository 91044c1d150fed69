// The stamping of a payload into a copy of the launcher: reads the program's
// headers and resource tree, builds a new resource section that holds the old
// resources and the payload, and streams the result out piece by piece.
#include "pe_resources.h"

#include "pe_headers.h"

#include <algorithm>
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

// Headers larger than this are damage, not read into memory.
const std::uint32_t kHeadersLimit = 1u << 20;

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

  PeHeaders View() { return PeHeaders(headers.data() + peOffset); }
  DirectoryEntry Directory(std::uint32_t index) const {
    return index < directories.size() ? directories[index] : DirectoryEntry();
  }
};

bool PowerOfTwo(std::uint32_t value) {
  return value != 0 && (value & (value - 1)) == 0;
}

// Reads the PE headers as far as each check needs them, so that a damaged
// file is refused for its first fault.
Image ReadImage(InputFile& base) {
  const std::string name = Show(base.path());
  const std::string notAProgram = name + " is not a Windows program";
  if (base.size() < PeHeaders::kDosHeaderSize) {
    Fail(notAProgram + " (it is too short)");
  }
  Bytes dos = base.Read(0, PeHeaders::kDosHeaderSize);
  if (!PeHeaders::IsDosHeader(dos.data())) {
    Fail(notAProgram + " (it does not start with MZ)");
  }
  Image image;
  image.peOffset = PeHeaders::PeOffset(dos.data());
  if (image.peOffset > base.size() || base.size() - image.peOffset < PeHeaders::kFileHeadersSize) {
    Fail(notAProgram + " (its PE header is missing)");
  }
  Bytes pe = base.Read(image.peOffset, PeHeaders::kFileHeadersSize);
  if (!PeHeaders(pe.data()).HasSignature()) {
    Fail(notAProgram + " (its PE header is missing)");
  }
  const std::uint32_t sectionCount = PeHeaders(pe.data()).NumberOfSections().Get();
  const std::uint32_t optionalSize = PeHeaders(pe.data()).SizeOfOptionalHeader().Get();
  pe = base.Read(image.peOffset, PeHeaders::kFileHeadersSize +
                                     std::min(optionalSize, PeHeaders::kShortestOptionalHeader));
  if (optionalSize < PeHeaders::kShortestOptionalHeader) {
    Fail(notAProgram + " (its optional header is too short)");
  }
  if (!PeHeaders(pe.data()).IsKnownLayout()) {
    Fail(notAProgram + " (its optional header is of an unknown kind)");
  }
  const std::uint32_t directoriesOffset = PeHeaders(pe.data()).DirectoriesOffset();
  if (optionalSize < directoriesOffset) {
    Fail(notAProgram + " (its optional header is too short)");
  }
  pe = base.Read(image.peOffset, PeHeaders::kFileHeadersSize + directoriesOffset);
  PeHeaders view(pe.data());
  const std::uint32_t directoryCount =
      std::min(view.NumberOfRvaAndSizes().Get(), PeHeaders::kDirectoryLimit);
  if (optionalSize < directoriesOffset + DataDirectory::kSize * directoryCount) {
    Fail(notAProgram + " (its data directories do not fit its optional header)");
  }
  image.sectionAlignment = view.SectionAlignment().Get();
  image.fileAlignment = view.FileAlignment().Get();
  if (!PowerOfTwo(image.sectionAlignment) || !PowerOfTwo(image.fileAlignment) ||
      image.fileAlignment > image.sectionAlignment) {
    Fail(name + " is damaged: its section and file alignments are not valid");
  }
  const std::uint32_t headersSize = view.SizeOfHeaders().Get();
  image.sectionTableEnd = std::uint64_t{image.peOffset} + view.SectionTableOffset() +
                          SectionHeader::kSize * sectionCount;
  if (headersSize < image.sectionTableEnd || headersSize > kHeadersLimit) {
    Fail(name + " is damaged: its section table does not fit its headers");
  }
  image.headers = base.Read(0, headersSize);
  view = image.View();
  image.checksumOffset = image.peOffset + view.CheckSum().offset();
  for (std::uint32_t i = 0; i < directoryCount; ++i) {
    image.directories.push_back(
        {view.Directory(i).VirtualAddress().Get(), view.Directory(i).Size().Get()});
  }
  for (std::uint32_t i = 0; i < sectionCount; ++i) {
    const SectionHeader header = view.Section(i);
    const SectionSpan span{header.VirtualAddress().Get(), header.VirtualSize().Get(),
                           header.PointerToRawData().Get(), header.SizeOfRawData().Get()};
    if (span.rawSize > 0 && span.rawOffset < headersSize) {
      Fail(name + " is damaged: section " + std::to_string(i + 1) + " overlaps its headers");
    }
    if (span.rawSize > 0 &&
        (span.rawOffset > base.size() || span.rawSize > base.size() - span.rawOffset)) {
      Fail(name + " is damaged or cut short: section " + std::to_string(i + 1) +
           " runs past the end of the file");
    }
    image.sections.push_back(span);
  }
  return image;
}

// Where the bytes at a virtual address lie in the file, for `size` bytes.
std::uint64_t FileOffset(const Image& image, const fs::path& path, std::uint32_t rva,
                         std::uint32_t size) {
  for (const SectionSpan& s : image.sections) {
    if (rva >= s.virtualAddress && rva - s.virtualAddress < s.rawSize &&
        size <= s.rawSize - (rva - s.virtualAddress)) {
      return std::uint64_t{s.rawOffset} + (rva - s.virtualAddress);
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
    if (offset > kResourceOffset) {
      Damaged("points outside itself");
    }
    const std::uint32_t rva = root_ + offset;
    return base_.Read(FileOffset(image_, base_.path(), rva, size), size,
                      "its resource directory's entries");
  }

  std::uint32_t Subdirectory(std::uint32_t entry) const {
    if (!(entry & kResourceFlag)) {
      Damaged("has data where a subdirectory belongs");
    }
    return entry & kResourceOffset;
  }

  template <class Visit> void ReadDirectory(std::uint32_t offset, Visit visit) {
    Bytes header = ReadAt(offset, ResourceDirectory::kSize);
    const ResourceDirectory directory(header.data());
    const std::uint32_t count =
        directory.NumberOfNamedEntries().Get() + directory.NumberOfIdEntries().Get();
    entries_ += count;
    if (entries_ > kEntryLimit) {
      Damaged("has too many entries");
    }
    if (count == 0) {
      return;
    }
    Bytes table = ReadAt(offset + ResourceDirectory::kSize, ResourceEntry::kSize * count);
    for (std::uint32_t i = 0; i < count; ++i) {
      const ResourceEntry entry(&table[ResourceEntry::kSize * i]);
      const std::uint32_t nameField = entry.Name().Get();
      ResourceKey key;
      if (nameField & kResourceFlag) {
        key.named = true;
        const std::uint32_t at = nameField & kResourceOffset;
        const std::uint32_t length = Get16(ReadAt(at, kResourceNameLengthSize).data());
        Bytes units = ReadAt(at + kResourceNameLengthSize, 2 * length);
        for (std::uint32_t u = 0; u < length; ++u) {
          key.name += static_cast<char16_t>(Get16(&units[2 * u]));
        }
      } else {
        key.id = nameField & 0xFFFF;
      }
      visit(key, entry.OffsetToData().Get());
    }
  }

  ResourceLeaf ReadLeaf(std::uint32_t entry) {
    if (entry & kResourceFlag) {
      Damaged("has a subdirectory where data belongs");
    }
    Bytes bytes = ReadAt(entry, ResourceDataEntry::kSize);
    const ResourceDataEntry data(bytes.data());
    ResourceLeaf leaf;
    leaf.size = data.Size().Get();
    leaf.codePage = data.CodePage().Get();
    leaf.sourceOffset = FileOffset(image_, base_.path(), data.OffsetToData().Get(), leaf.size);
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
  auto directorySize = [](std::size_t entries) {
    return ResourceDirectory::kSize + std::uint64_t{ResourceEntry::kSize} * entries;
  };
  std::uint64_t offset = directorySize(types.size());
  std::uint64_t leaves = 0;
  for (const auto& type : types) {
    offset += directorySize(type.second.size());
  }
  for (const auto& type : types) {
    for (const auto& name : type.second) {
      offset += directorySize(name.second.size());
      leaves += name.second.size();
    }
  }
  const std::uint64_t dataEntries = offset;
  offset += ResourceDataEntry::kSize * leaves;
  const std::uint64_t names = offset;
  auto nameSize = [](const ResourceKey& key) {
    return key.named ? kResourceNameLengthSize + 2 * std::uint64_t{key.name.size()} : 0;
  };
  for (const auto& type : types) {
    offset += nameSize(type.first);
    for (const auto& name : type.second) {
      offset += nameSize(name.first);
      for (const auto& language : name.second) {
        offset += nameSize(language.first);
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
      Put16(out + at + kResourceNameLengthSize + 2 * i, key.name[i]);
    }
    nextName += nameSize(key);
    return kResourceFlag | static_cast<std::uint32_t>(at);
  };
  // Writes a directory's header and reserves its entries; returns the
  // offset of its first entry.
  auto directory = [&](const auto& children) {
    const ResourceDirectory header(out + nextDirectory);
    std::uint32_t named = 0;
    for (const auto& child : children) {
      named += child.first.named ? 1 : 0;
    }
    header.NumberOfNamedEntries().Set(named);
    header.NumberOfIdEntries().Set(static_cast<std::uint32_t>(children.size()) - named);
    const std::uint64_t first = nextDirectory + ResourceDirectory::kSize;
    nextDirectory += directorySize(children.size());
    return first;
  };
  auto addEntry = [&](std::uint64_t& entry, const ResourceKey& key, std::uint32_t target) {
    const ResourceEntry view(out + entry);
    view.Name().Set(nameField(key));
    view.OffsetToData().Set(target);
    entry += ResourceEntry::kSize;
  };
  std::vector<std::uint64_t> typeEntries, nameEntries;
  std::uint64_t entry = directory(types);
  for (const auto& type : types) {
    addEntry(entry, type.first, kResourceFlag | static_cast<std::uint32_t>(nextDirectory));
    typeEntries.push_back(directory(type.second));
  }
  std::size_t t = 0;
  for (const auto& type : types) {
    entry = typeEntries[t++];
    for (const auto& name : type.second) {
      addEntry(entry, name.first, kResourceFlag | static_cast<std::uint32_t>(nextDirectory));
      nameEntries.push_back(directory(name.second));
    }
  }
  std::size_t n = 0;
  for (const auto& type : types) {
    for (const auto& name : type.second) {
      entry = nameEntries[n++];
      for (const auto& language : name.second) {
        addEntry(entry, language.first, static_cast<std::uint32_t>(nextEntry));
        // The data's address is set once the section's place is known.
        section.entries.push_back(static_cast<std::size_t>(nextEntry));
        const ResourceDataEntry data(out + nextEntry);
        data.Size().Set(language.second.size);
        data.CodePage().Set(language.second.codePage);
        nextEntry += ResourceDataEntry::kSize;
      }
    }
  }
  return section;
}

// The section that holds the resource directory, when it holds nothing else
// (so that it can be rewritten); -1 otherwise.
int OwnResourceSection(const Image& image) {
  const std::uint32_t rva = image.Directory(kResourceDirectory).address;
  if (rva == 0) {
    return -1;
  }
  for (std::size_t i = 0; i < image.sections.size(); ++i) {
    const SectionSpan& s = image.sections[i];
    if (rva != s.virtualAddress) {
      continue;
    }
    const std::uint32_t extent = std::max(s.virtualSize, s.rawSize);
    for (std::uint32_t d = 0; d < image.directories.size(); ++d) {
      const std::uint32_t other = image.directories[d].address;
      if (d != kResourceDirectory && d != kCertificateDirectory && other >= s.virtualAddress &&
          other - s.virtualAddress < extent) {
        return -1;
      }
    }
    return static_cast<int>(i);
  }
  return -1;
}

void CheckPayloadSize(const InputFile& payload) {
  if (payload.size() == 0) {
    Fail(Show(payload.path()) + " is empty");
  }
  if (payload.size() >= kImageLimit) {
    Fail("the payload is too large: a setup program can be at most 2 GB");
  }
}

// The base program as the stamp reads it.
struct BaseProgram {
  Image image;
  TypeMap resources;
  std::uint64_t contentEnd = 0; // where its own bytes end: before any certificate table
  bool isSigned = false;
};

BaseProgram ReadBase(InputFile& base) {
  BaseProgram program;
  program.image = ReadImage(base);
  const Image& image = program.image;
  const std::string baseName = Show(base.path());
  if (image.directories.size() <= kResourceDirectory) {
    Fail(baseName + " has no room for resources in its data directories");
  }
  program.contentEnd = base.size();
  const DirectoryEntry certificate = image.Directory(kCertificateDirectory);
  if (certificate.address != 0 || certificate.size != 0) {
    if (certificate.address > base.size() || certificate.size > base.size() - certificate.address) {
      Fail(baseName + " is damaged or cut short: its certificate table runs past its end");
    }
    program.contentEnd = certificate.address;
    program.isSigned = true;
  }
  for (const SectionSpan& s : image.sections) {
    if (s.rawSize > 0 && std::uint64_t{s.rawOffset} + s.rawSize > program.contentEnd) {
      Fail(baseName + " is damaged: its certificate table overlaps its sections");
    }
  }
  const std::uint32_t rootRva = image.Directory(kResourceDirectory).address;
  if (rootRva != 0) {
    program.resources = ResourceTreeReader(base, image, rootRva).Read();
  }
  return program;
}

// One payload, whatever languages an earlier one had.
void PutPayload(TypeMap& resources, std::uint64_t payloadSize) {
  ResourceKey zuk;
  zuk.named = true;
  zuk.name = kPayloadType;
  ResourceKey id;
  id.id = kPayloadId;
  ResourceLeaf leaf;
  leaf.payload = true;
  leaf.size = static_cast<std::uint32_t>(payloadSize);
  LanguageMap& languages = resources[zuk][id];
  languages.clear();
  languages[ResourceKey()] = leaf;
}

// The new resource section and where it goes.
struct StampPlan {
  ResourceSection section;
  SectionPlacement place;
  int own = -1; // the base's resource section, rewritten or left behind; -1 for none
};

StampPlan PlanStamp(const BaseProgram& program, const std::string& baseName) {
  const Image& image = program.image;
  StampPlan plan;
  plan.section = LayOut(program.resources);
  plan.own = OwnResourceSection(image);
  plan.place = PlaceResourceSection(image.sections, plan.own, program.contentEnd, plan.section.size,
                                    image.sectionAlignment, image.fileAlignment);
  // The data entries hold addresses, known now.
  for (std::size_t i = 0; i < plan.section.data.size(); ++i) {
    ResourceDataEntry(&plan.section.tables[plan.section.entries[i]])
        .OffsetToData()
        .Set(plan.place.virtualAddress + static_cast<std::uint32_t>(plan.section.data[i].first));
  }
  if (plan.place.newSection) {
    // The new header goes right after the table, into bytes no section uses.
    const std::uint64_t start = image.sectionTableEnd;
    const std::uint64_t end = start + SectionHeader::kSize;
    std::uint64_t firstRaw = image.headers.size();
    for (const SectionSpan& s : image.sections) {
      if (s.rawSize > 0) {
        firstRaw = std::min<std::uint64_t>(firstRaw, s.rawOffset);
      }
    }
    const Bytes& headers = image.headers;
    const bool unused = std::all_of(
        headers.begin() +
            static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(start, headers.size())),
        headers.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(end, headers.size())),
        [](unsigned char c) { return c == 0; });
    if (image.sections.size() >= 95 || end > firstRaw || !unused) {
      Fail(baseName + " has no room in its headers for another section");
    }
  }
  return plan;
}

// The base's headers turned into the stamped program's: its resource section
// where the plan puts it, the image's size, the data directories, and no
// certificate table or checksum (the checksum is summed up as it is written).
void PatchHeaders(Image& image, const StampPlan& plan) {
  const PeHeaders view = image.View();
  const std::uint32_t count = static_cast<std::uint32_t>(image.sections.size());
  std::uint32_t index = count;
  std::uint32_t oldRawSize = 0;
  if (plan.place.newSection) {
    view.Section(index).SetName(".rsrc");
    if (plan.own >= 0) {
      // Its old place keeps its addresses (sections must follow each other
      // without gaps) under another name, so that tools looking for the
      // resources by section name find the new ones.
      view.Section(static_cast<std::uint32_t>(plan.own)).SetName(".oldrsrc");
    }
    view.Section(index).Characteristics().Set(SectionHeader::kInitializedData |
                                              SectionHeader::kMemoryRead);
    view.NumberOfSections().Set(count + 1);
  } else {
    index = static_cast<std::uint32_t>(plan.own);
    oldRawSize = image.sections[index].rawSize;
  }
  const SectionHeader section = view.Section(index);
  section.VirtualSize().Set(static_cast<std::uint32_t>(plan.section.size));
  section.VirtualAddress().Set(plan.place.virtualAddress);
  section.SizeOfRawData().Set(plan.place.rawSize);
  section.PointerToRawData().Set(plan.place.rawOffset);

  std::uint64_t imageEnd = 0;
  for (std::uint32_t i = 0; i < view.NumberOfSections().Get(); ++i) {
    const SectionHeader s = view.Section(i);
    const std::uint32_t virtualSize =
        s.VirtualSize().Get() ? s.VirtualSize().Get() : s.SizeOfRawData().Get();
    imageEnd = std::max(imageEnd, std::uint64_t{s.VirtualAddress().Get()} + virtualSize);
  }
  view.SizeOfImage().Set(static_cast<std::uint32_t>(AlignUp(imageEnd, image.sectionAlignment)));
  const std::uint32_t initialized = view.SizeOfInitializedData().Get();
  view.SizeOfInitializedData().Set(initialized - std::min(initialized, oldRawSize) +
                                   plan.place.rawSize);
  view.Directory(kResourceDirectory).VirtualAddress().Set(plan.place.virtualAddress);
  view.Directory(kResourceDirectory).Size().Set(static_cast<std::uint32_t>(plan.section.size));
  if (image.directories.size() > kCertificateDirectory) {
    view.Directory(kCertificateDirectory).VirtualAddress().Set(0);
    view.Directory(kCertificateDirectory).Size().Set(0);
  }
  view.CheckSum().Set(0);
}

// Writes the stamped program front to back: the patched headers, the base's
// sections, and the new resource section where the plan puts it (between
// the base's bytes or after them), then its checksum.
void WriteStamped(const fs::path& outputPath, InputFile& base, InputFile& payload,
                  const BaseProgram& program, const StampPlan& plan) {
  const Bytes& headers = program.image.headers;
  const SectionPlacement& place = plan.place;
  OutputFile out(outputPath);
  const std::uint64_t kept = std::min<std::uint64_t>(place.keptBaseBytes, program.contentEnd);
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
    out.Write(plan.section.tables.data(), plan.section.tables.size());
    for (const auto& piece : plan.section.data) {
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
  out.Finish(program.image.checksumOffset);
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
  CheckPayloadSize(payload);
  BaseProgram program = ReadBase(base);
  PutPayload(program.resources, payload.size());
  const StampPlan plan = PlanStamp(program, Show(basePath));
  PatchHeaders(program.image, plan);
  WriteStamped(outputPath, base, payload, program, plan);
  StampResult result;
  result.droppedSignature = program.isSigned;
  result.movedResources = plan.place.newSection;
  return result;
}

} // namespace QorPe
