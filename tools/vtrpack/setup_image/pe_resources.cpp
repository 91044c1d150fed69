// The stamping of a payload into a copy of the launcher: reads the program's
// headers and resource tree (pe_reader.cpp), builds a new resource section
// that holds the old resources, any branding and the payload, and streams
// the result out piece by piece.
#include "qor/setup_image/pe_resources.h"

#include "branding_resources.h"
#include "pe_image.h"
#include "qor/setup_image/pe_headers.h"

#include <algorithm>
#include <cerrno>
#include <fstream>

namespace fs = std::filesystem;

namespace QorPe {
namespace {

const std::uint32_t kPayloadId = 137;
const std::u16string kPayloadType = u"ZUK";
const std::size_t kCopyPiece = 1 << 20;
// The count of a directory's named entries, and that of its numbered ones,
// are 16-bit numbers.
const std::size_t kChildLimit = 0xFFFF;

std::string Show(const fs::path& path) {
  return path.u8string();
}

class FileInput : public StampInput {
public:
  explicit FileInput(const fs::path& path) : StampInput(Show(path), 0) {
    errno = 0;
    stream_.open(path, std::ios::binary);
    if (!stream_) {
      FailReading("cannot open ", name());
    }
    stream_.seekg(0, std::ios::end);
    const std::streamoff end = stream_.tellg();
    if (end < 0) {
      FailReading("cannot read ", name());
    }
    SetSize(static_cast<std::uint64_t>(end));
  }

private:
  void ReadRaw(std::uint64_t offset, unsigned char* out, std::size_t count) override {
    stream_.clear();
    errno = 0;
    stream_.seekg(static_cast<std::streamoff>(offset));
    stream_.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(count));
    if (!stream_) {
      FailReading("cannot read ", name());
    }
  }

  std::ifstream stream_;
};

// The output, written front to back while its checksum is summed up.
class OutputWriter {
public:
  OutputWriter(StampOutput& output, std::uint64_t total, const StampProgress& progress)
      : output_(output), total_(total), progress_(progress) {}
  std::uint64_t position() const { return position_; }
  void Write(const unsigned char* data, std::size_t size) {
    checksum_.Add(data, size);
    output_.Write(data, size);
    position_ += size;
    if (progress_) {
      progress_(position_, total_);
    }
  }
  void ZerosUpTo(std::uint64_t end) {
    static const unsigned char kZeros[4096] = {};
    while (position_ < end) {
      Write(kZeros, static_cast<std::size_t>(std::min<std::uint64_t>(end - position_, 4096)));
    }
  }
  void CopyFrom(StampInput& input, std::uint64_t offset, std::uint64_t count, const char* what) {
    Bytes piece(static_cast<std::size_t>(std::min<std::uint64_t>(count, kCopyPiece)));
    while (count > 0) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, piece.size()));
      input.ReadInto(offset, piece.data(), n, what);
      Write(piece.data(), n);
      offset += n;
      count -= n;
    }
  }
  // Puts the checksum into its field, which was written as zero.
  void Finish(std::uint64_t checksumOffset) {
    unsigned char field[4];
    Put32(field, checksum_.Finish());
    output_.WriteAt(checksumOffset, field, 4);
  }

private:
  StampOutput& output_;
  std::uint64_t total_;
  const StampProgress& progress_;
  std::uint64_t position_ = 0;
  PeChecksum checksum_;
};

// The new resource section: its tables, then every resource's data.
struct ResourceSection {
  Bytes tables;
  std::vector<std::pair<std::uint64_t, const ResourceLeaf*>> data; // offset in the section, source
  std::vector<std::size_t> entries; // where each data's entry lies in `tables`
  std::uint64_t size = 0;
};

// Each of the two counts of a directory's entries must fit its 16 bits.
template <class Children> void CheckChildCount(const Children& children, const std::string& base) {
  std::size_t named = 0;
  for (const auto& child : children) {
    named += child.first.named ? 1 : 0;
  }
  if (named > kChildLimit || children.size() - named > kChildLimit) {
    Fail(base + " has too many resources: more than " + std::to_string(kChildLimit) +
         " of one kind in one directory");
  }
}

ResourceSection LayOut(const TypeMap& types, const std::string& base) {
  // Offsets first: directories breadth first, the data entries, the names.
  auto directorySize = [](std::size_t entries) {
    return ResourceDirectory::kSize + std::uint64_t{ResourceEntry::kSize} * entries;
  };
  CheckChildCount(types, base);
  for (const auto& type : types) {
    CheckChildCount(type.second, base);
    for (const auto& name : type.second) {
      CheckChildCount(name.second, base);
    }
  }
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
        section.data.emplace_back(offset, &language.second);
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

void CheckPayloadSize(const StampInput& payload) {
  if (payload.size() == 0) {
    Fail(payload.name() + " is empty");
  }
  if (payload.size() >= kImageLimit) {
    Fail("the payload is too large: a setup program can be at most 2 GB");
  }
}

// One payload, whatever languages an earlier one had.
void PutPayload(TypeMap& resources, std::uint64_t payloadSize) {
  ResourceKey zuk;
  zuk.named = true;
  zuk.name = kPayloadType;
  ResourceKey id;
  id.id = kPayloadId;
  ResourceLeaf leaf;
  leaf.source = ResourceLeaf::Source::Payload;
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
  plan.section = LayOut(program.resources, baseName);
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
  const PeHeaders view(image.headers.data() + image.peOffset);
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
void WriteStamped(StampOutput& output, const StampProgress& progress, StampInput& base,
                  StampInput& payload, const BaseProgram& program, const StampPlan& plan) {
  const Bytes& headers = program.image.headers;
  const SectionPlacement& place = plan.place;
  OutputWriter out(output, place.outputSize, progress);
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
      const ResourceLeaf& leaf = *piece.second;
      switch (leaf.source) {
      case ResourceLeaf::Source::Payload:
        out.CopyFrom(payload, 0, leaf.size, "the payload");
        break;
      case ResourceLeaf::Source::Base:
        out.CopyFrom(base, leaf.sourceOffset, leaf.size, "its resources");
        break;
      case ResourceLeaf::Source::Bytes:
        out.Write(leaf.bytes.data(), leaf.bytes.size());
        break;
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
  if (out.position() != place.outputSize) {
    Fail("the stamped program came out " + std::to_string(out.position()) + " bytes long, not " +
         std::to_string(place.outputSize));
  }
  out.Finish(program.image.checksumOffset);
}

// StampPayload on any inputs.
StampResult Stamp(StampInput& base, StampInput& payload, const Branding& branding,
                  StampOutput& output, const StampProgress& progress) {
  CheckPayloadSize(payload);
  BaseProgram program = ReadBase(base);
  CheckLauncher(base, program.resources);
  ApplyBranding(base, program.resources, branding);
  PutPayload(program.resources, payload.size());
  const StampPlan plan = PlanStamp(program, base.name());
  PatchHeaders(program.image, plan);
  WriteStamped(output, progress, base, payload, program, plan);
  StampResult result;
  result.droppedSignature = program.isSigned;
  result.movedResources = plan.place.newSection;
  return result;
}

} // namespace

StampResult StampPayload(const fs::path& basePath, const fs::path& payloadPath,
                         const Branding& branding, StampOutput& output,
                         const StampProgress& progress) {
  FileInput base(basePath);
  FileInput payload(payloadPath);
  return Stamp(base, payload, branding, output, progress);
}

StampResult StampPayload(const std::string& baseName, const unsigned char* base,
                         std::size_t baseSize, const std::string& payloadName,
                         const unsigned char* payload, std::size_t payloadSize,
                         const Branding& branding, StampOutput& output,
                         const StampProgress& progress) {
  MemoryInput baseInput(baseName, base, baseSize);
  MemoryInput payloadInput(payloadName, payload, payloadSize);
  return Stamp(baseInput, payloadInput, branding, output, progress);
}

} // namespace QorPe
