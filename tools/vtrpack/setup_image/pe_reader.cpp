// Reads the base program of a stamp: its PE headers and its resource tree,
// checked as far as each step needs them, so that a damaged file is refused
// for its first fault and a hostile one cannot make the stamp cost without
// bound (in time, memory or output).
#include "pe_image.h"

#include "qor/setup_image/pe_headers.h"

#include <algorithm>
#include <cstring>

namespace QorPe {
namespace {

// Headers larger than this are damage, not read into memory.
const std::uint32_t kHeadersLimit = 1u << 20;
// The alignments a loader accepts. A larger file alignment only pads the
// output (a 1 KB base with one of 2 GB would make a 2 GB program).
const std::uint32_t kMinFileAlignment = 512;
const std::uint32_t kMaxAlignment = 64u << 10;
// Far more than any launcher has (it has about 30 entries and no names), and
// small enough that the tree costs a few megabytes at most. Names are
// counted by their length in all: entries may share bytes, so that a small
// file can hold thousands of long, distinct names.
const std::size_t kEntryLimit = 16384;
const std::size_t kNameUnitLimit = 65536;

bool PowerOfTwo(std::uint32_t value) {
  return value != 0 && (value & (value - 1)) == 0;
}

// Reads the PE headers as far as each check needs them.
Image ReadImage(StampInput& base) {
  const std::string& name = base.name();
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
  if (!PowerOfTwo(image.fileAlignment) || image.fileAlignment < kMinFileAlignment ||
      image.fileAlignment > kMaxAlignment) {
    Fail(name + " is damaged: its file alignment (" + std::to_string(image.fileAlignment) +
         " bytes) is not a power of two from 512 bytes to 64 KB");
  }
  if (!PowerOfTwo(image.sectionAlignment) || image.sectionAlignment < image.fileAlignment ||
      image.sectionAlignment > kMaxAlignment) {
    Fail(name + " is damaged: its section alignment (" + std::to_string(image.sectionAlignment) +
         " bytes) is not a power of two from its file alignment to 64 KB");
  }
  const std::uint32_t headersSize = view.SizeOfHeaders().Get();
  image.sectionTableEnd = std::uint64_t{image.peOffset} + view.SectionTableOffset() +
                          SectionHeader::kSize * sectionCount;
  if (headersSize < image.sectionTableEnd || headersSize > kHeadersLimit) {
    Fail(name + " is damaged: its section table does not fit its headers");
  }
  image.headers = base.Read(0, headersSize);
  view = PeHeaders(image.headers.data() + image.peOffset);
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
std::uint64_t FileOffset(const Image& image, const std::string& name, std::uint32_t rva,
                         std::uint32_t size) {
  for (const SectionSpan& s : image.sections) {
    if (rva >= s.virtualAddress && rva - s.virtualAddress < s.rawSize &&
        size <= s.rawSize - (rva - s.virtualAddress)) {
      return std::uint64_t{s.rawOffset} + (rva - s.virtualAddress);
    }
  }
  Fail(name + " is damaged: its resources point outside its sections");
}

class ResourceTreeReader {
public:
  ResourceTreeReader(StampInput& base, const Image& image, std::uint32_t rootRva)
      : base_(base), image_(image), root_(rootRva) {}

  TypeMap Read() {
    TypeMap types;
    ReadDirectory(0, [&](const ResourceKey& type, std::uint32_t typeEntry) {
      NameMap& names = types[type];
      ReadDirectory(Subdirectory(typeEntry), [&](const ResourceKey& name, std::uint32_t nameEntry) {
        LanguageMap& languages = names[name];
        ReadDirectory(Subdirectory(nameEntry),
                      [&](const ResourceKey& language, std::uint32_t leafEntry) {
                        languages[language] = ReadDataEntry(leafEntry);
                      });
      });
    });
    return types;
  }

private:
  [[noreturn]] void Damaged(const std::string& what) const {
    Fail(base_.name() + " is damaged: its resource directory " + what);
  }

  Bytes ReadAt(std::uint32_t offset, std::uint32_t size) {
    if (offset > kResourceOffset || std::uint64_t{root_} + offset > 0xFFFFFFFFu) {
      Damaged("points outside itself");
    }
    const std::uint32_t rva = root_ + offset;
    return base_.Read(FileOffset(image_, base_.name(), rva, size), size,
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
      Damaged("has more than " + std::to_string(kEntryLimit) + " entries");
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
        nameUnits_ += length;
        if (nameUnits_ > kNameUnitLimit) {
          Damaged("has names longer than " + std::to_string(kNameUnitLimit) + " characters in all");
        }
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

  ResourceLeaf ReadDataEntry(std::uint32_t entry) {
    if (entry & kResourceFlag) {
      Damaged("has a subdirectory where data belongs");
    }
    Bytes bytes = ReadAt(entry, ResourceDataEntry::kSize);
    const ResourceDataEntry data(bytes.data());
    ResourceLeaf leaf;
    leaf.size = data.Size().Get();
    leaf.codePage = data.CodePage().Get();
    leaf.sourceOffset = FileOffset(image_, base_.name(), data.OffsetToData().Get(), leaf.size);
    return leaf;
  }

  StampInput& base_;
  const Image& image_;
  std::uint32_t root_;
  std::size_t entries_ = 0;
  std::size_t nameUnits_ = 0;
};

} // namespace

void StampInput::ReadInto(std::uint64_t offset, unsigned char* out, std::size_t count,
                          const char* what) {
  if (offset > size_ || count > size_ - offset) {
    Fail(name_ + " is damaged or cut short: " + what + " run past its end");
  }
  ReadRaw(offset, out, count);
}

Bytes StampInput::Read(std::uint64_t offset, std::size_t count, const char* what) {
  Bytes bytes(count);
  ReadInto(offset, bytes.data(), count, what);
  return bytes;
}

void MemoryInput::ReadRaw(std::uint64_t offset, unsigned char* out, std::size_t count) {
  if (count > 0) {
    std::memcpy(out, data_ + offset, count);
  }
}

BaseProgram ReadBase(StampInput& base) {
  BaseProgram program;
  program.image = ReadImage(base);
  const Image& image = program.image;
  const std::string& baseName = base.name();
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
  // Resources that share their bytes would be copied once each.
  std::uint64_t data = 0;
  for (const auto& type : program.resources) {
    for (const auto& name : type.second) {
      for (const auto& language : name.second) {
        data += language.second.size;
      }
    }
  }
  if (data > base.size()) {
    Fail(baseName + " is damaged: its resources claim more bytes than the file holds");
  }
  return program;
}

Bytes ReadLeaf(StampInput& base, const ResourceLeaf& leaf) {
  if (leaf.source == ResourceLeaf::Source::Bytes) {
    return leaf.bytes;
  }
  return base.Read(leaf.sourceOffset, leaf.size, "its resources");
}

} // namespace QorPe
