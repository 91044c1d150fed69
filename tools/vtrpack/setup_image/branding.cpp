// The launcher's own resources as the stamp knows them: what makes a base a
// launcher, and the title, icon and version information that a packager may
// replace, in the formats the system's loaders read (string table blocks,
// icon groups and their images, VS_VERSIONINFO).
#include "qor/setup_image/branding.h"

#include "branding_resources.h"
#include "pe_image.h"
#include "qor/setup_image/pe_headers.h"

#include <algorithm>
#include <set>

namespace QorPe {
namespace {

// The launcher's window class name (string 109); a base without it is not a launcher.
const char16_t kLauncherClassName[] = u"QORINC.QORWARDEN.SETUP.20";
// The version strings a packager may set, in the order they are written.
const char16_t* const kVersionKeys[] = {u"CompanyName",    u"FileDescription", u"FileVersion",
                                        u"LegalCopyright", u"ProductName",     u"ProductVersion"};

const std::uint32_t kTitleId = 103;
const std::uint32_t kClassId = 109;
const std::uint32_t kUnattendedId = 110; // in the block of the title and the class name
const std::uint32_t kPayloadId = 137;
const char16_t kPayloadType[] = u"ZUK";
const std::uint32_t kIconGroupId = 108;
const std::uint32_t kFirstBarBitmap = 129;
const std::uint32_t kLastBarBitmap = 134;
const std::uint32_t kVersionId = 1;
const std::size_t kVersionValueLimit = 1024;
const std::size_t kIconImageLimit = 64;
const std::uint32_t kIconSideLimit = 256;
// VS_VERSIONINFO's strings are UTF-16 (code page 1200).
const std::uint32_t kUnicodeCodePage = 1200;

// A block of the string table holds 16 strings, each its length in UTF-16
// units and then the units; block n holds strings 16 (n - 1) to 16 n - 1.
const std::uint32_t kBlockStrings = 16;
const std::size_t kStringBlockLimit = kBlockStrings * (2 + 2 * std::size_t{0xFFFF});

// Icon files and icon groups: a 6-byte header (0, type 1, count), then an
// entry per image, of 16 bytes in a file and 14 in a group.
const std::size_t kIconHeaderSize = 6;
const std::size_t kIconFileEntrySize = 16;
const std::size_t kIconGroupEntrySize = 14;
const unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
const std::uint32_t kBitmapHeaderSize = 40; // BITMAPINFOHEADER

std::string Utf8(const std::u16string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::uint32_t GetBig32(const unsigned char* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

ResourceLeaf BytesLeaf(Bytes bytes, std::uint32_t codePage) {
  ResourceLeaf leaf;
  leaf.source = ResourceLeaf::Source::Bytes;
  leaf.size = static_cast<std::uint32_t>(bytes.size());
  leaf.codePage = codePage;
  leaf.bytes = std::move(bytes);
  return leaf;
}

// The 16 strings of a block; false when a length runs past its end. A block
// that ends early holds empty strings from there on, as the loader reads it.
bool DecodeStringBlock(const Bytes& block, std::vector<std::u16string>& strings) {
  strings.assign(kBlockStrings, std::u16string());
  std::size_t at = 0;
  for (std::u16string& text : strings) {
    if (block.size() - at < 2) {
      break;
    }
    const std::size_t length = Get16(&block[at]);
    at += 2;
    if ((block.size() - at) / 2 < length) {
      return false;
    }
    for (std::size_t i = 0; i < length; ++i, at += 2) {
      text += static_cast<char16_t>(Get16(&block[at]));
    }
  }
  return true;
}

Bytes EncodeStringBlock(const std::vector<std::u16string>& strings) {
  Bytes block;
  auto put16 = [&](std::uint32_t value) {
    block.push_back(static_cast<unsigned char>(value));
    block.push_back(static_cast<unsigned char>(value >> 8));
  };
  for (const std::u16string& text : strings) {
    put16(static_cast<std::uint32_t>(text.size()));
    for (char16_t c : text) {
      put16(c);
    }
  }
  return block;
}

const LanguageMap* Find(const TypeMap& resources, std::uint32_t type, std::uint32_t name) {
  const auto t = resources.find(IdKey(type));
  if (t == resources.end()) {
    return nullptr;
  }
  const auto n = t->second.find(IdKey(name));
  return n == t->second.end() || n->second.empty() ? nullptr : &n->second;
}

// The block of the string table that holds string `id`.
std::uint32_t StringBlock(std::uint32_t id) {
  return id / kBlockStrings + 1;
}

std::vector<std::u16string> ReadStringBlock(StampInput& base, const ResourceLeaf& leaf) {
  ResourceLeaf bounded = leaf;
  bounded.size = static_cast<std::uint32_t>(std::min<std::size_t>(leaf.size, kStringBlockLimit));
  std::vector<std::u16string> strings;
  if (!DecodeStringBlock(ReadLeaf(base, bounded), strings)) {
    Fail(base.name() + " is damaged: a string of its string table runs past its end");
  }
  return strings;
}

// The launcher's language: that of the string table block with its class name.
ResourceKey LauncherLanguage(const TypeMap& resources) {
  const LanguageMap* block = Find(resources, kStringType, StringBlock(kClassId));
  return block ? block->begin()->first : ResourceKey();
}

// The images that an icon group lists, as far as its bytes go.
std::vector<std::uint32_t> GroupImages(const Bytes& group) {
  std::vector<std::uint32_t> ids;
  if (group.size() < kIconHeaderSize) {
    return ids;
  }
  const std::size_t count = Get16(&group[4]);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = kIconHeaderSize + kIconGroupEntrySize * i;
    if (group.size() < at + kIconGroupEntrySize) {
      break;
    }
    ids.push_back(Get16(&group[at + 12]));
  }
  return ids;
}

// The title and the unattended arguments share their block with the class
// name, which every launcher has.
void ReplaceString(StampInput& base, TypeMap& resources, std::uint32_t id,
                   const std::u16string& text) {
  LanguageMap& block = resources[IdKey(kStringType)][IdKey(StringBlock(id))];
  for (auto& language : block) {
    std::vector<std::u16string> strings = ReadStringBlock(base, language.second);
    strings[id % kBlockStrings] = text;
    language.second = BytesLeaf(EncodeStringBlock(strings), language.second.codePage);
  }
}

void ReplaceIcon(StampInput& base, TypeMap& resources, const std::vector<IconImage>& icon) {
  ResourceKey language = LauncherLanguage(resources);
  NameMap& groups = resources[IdKey(kIconGroupType)];
  NameMap& images = resources[IdKey(kIconType)];
  const auto old = groups.find(IdKey(kIconGroupId));
  if (old != groups.end()) {
    // Its images go with it, unless another group shows them too.
    std::set<std::uint32_t> others;
    for (const auto& group : groups) {
      for (const auto& each : group.second) {
        if (group.first.named || group.first.id != kIconGroupId) {
          for (std::uint32_t id : GroupImages(ReadLeaf(base, each.second))) {
            others.insert(id);
          }
        }
      }
    }
    for (const auto& each : old->second) {
      for (std::uint32_t id : GroupImages(ReadLeaf(base, each.second))) {
        if (!others.count(id)) {
          images.erase(IdKey(id));
        }
      }
    }
    if (!old->second.empty()) {
      language = old->second.begin()->first;
    }
    groups.erase(old);
  }
  Bytes group(kIconHeaderSize + kIconGroupEntrySize * icon.size());
  Put16(&group[2], 1);
  Put16(&group[4], static_cast<std::uint32_t>(icon.size()));
  std::uint32_t id = 1;
  unsigned char* entry = &group[kIconHeaderSize];
  for (const IconImage& image : icon) {
    while (images.count(IdKey(id))) {
      ++id;
    }
    if (id > 0xFFFF) {
      Fail(base.name() + " has no free number for another icon image");
    }
    images[IdKey(id)][language] = BytesLeaf(image.data, 0);
    entry[0] = image.width;
    entry[1] = image.height;
    entry[2] = image.colorCount;
    Put16(entry + 4, image.planes);
    Put16(entry + 6, image.bitCount);
    Put32(entry + 8, static_cast<std::uint32_t>(image.data.size()));
    Put16(entry + 12, id);
    entry += kIconGroupEntrySize;
  }
  groups[IdKey(kIconGroupId)][language] = BytesLeaf(std::move(group), 0);
}

// VS_VERSIONINFO and its blocks: each starts on a 4-byte boundary with its
// length, its value's length, its kind (1 for text) and its key, then its
// value and its children, each again 4-byte aligned.
class VersionBlocks {
public:
  std::size_t Begin(const std::u16string& key, std::size_t valueLength, bool text) {
    Align();
    const std::size_t start = bytes_.size();
    Put(0);
    Put(static_cast<std::uint32_t>(valueLength));
    Put(text ? 1 : 0);
    Text(key);
    Align();
    return start;
  }
  void Text(const std::u16string& text) {
    for (char16_t c : text) {
      Put(c);
    }
    Put(0);
  }
  void Put(std::uint32_t word) {
    bytes_.push_back(static_cast<unsigned char>(word));
    bytes_.push_back(static_cast<unsigned char>(word >> 8));
  }
  void Put32(std::uint32_t value) {
    Put(value & 0xFFFF);
    Put(value >> 16);
  }
  void End(std::size_t start) {
    Put16(&bytes_[start], static_cast<std::uint32_t>(bytes_.size() - start));
  }
  Bytes Take() { return std::move(bytes_); }

private:
  void Align() { bytes_.resize((bytes_.size() + 3) / 4 * 4); }
  Bytes bytes_;
};

// "1", "1.2", "1.2.3" or "1.2.3.4", each number at most 65535, as the fixed
// part's two 32-bit halves; false for any other text.
bool ParseVersion(const std::u16string& text, std::uint32_t& high, std::uint32_t& low) {
  std::uint32_t parts[4] = {};
  std::size_t count = 0, digits = 0;
  for (char16_t c : text) {
    if (c == u'.') {
      if (digits == 0 || ++count == 4) {
        return false;
      }
      digits = 0;
    } else if (c >= u'0' && c <= u'9' && digits < 5) {
      parts[count] = parts[count] * 10 + (c - u'0');
      ++digits;
    } else {
      return false;
    }
  }
  if (digits == 0 || std::any_of(parts, parts + 4, [](std::uint32_t p) { return p > 0xFFFF; })) {
    return false;
  }
  high = parts[0] << 16 | parts[1];
  low = parts[2] << 16 | parts[3];
  return true;
}

Bytes BuildVersionInfo(const std::vector<VersionString>& strings, std::uint32_t language) {
  std::uint32_t fixed[13] = {0xFEEF04BD, // the signature
                             0x00010000, // the structure's version
                             0,          0, 0, 0,
                             0x3F,       // the flags that are defined
                             0,          // none of them set
                             0x00040004, // Windows NT, 32-bit interface
                             1,          // an application
                             0,          0, 0};
  for (const VersionString& s : strings) {
    if (s.key == u"FileVersion") {
      ParseVersion(s.value, fixed[2], fixed[3]);
    } else if (s.key == u"ProductVersion") {
      ParseVersion(s.value, fixed[4], fixed[5]);
    }
  }
  VersionBlocks blocks;
  const std::size_t root = blocks.Begin(u"VS_VERSION_INFO", sizeof fixed, false);
  for (std::uint32_t value : fixed) {
    blocks.Put32(value);
  }
  const std::size_t stringInfo = blocks.Begin(u"StringFileInfo", 0, true);
  std::u16string table;
  const std::uint32_t translation = language << 16 | kUnicodeCodePage;
  for (int shift = 28; shift >= 0; shift -= 4) {
    table += u"0123456789abcdef"[translation >> shift & 15];
  }
  const std::size_t tableStart = blocks.Begin(table, 0, true);
  for (const VersionString& s : strings) {
    const std::size_t start = blocks.Begin(s.key, s.value.size() + 1, true);
    blocks.Text(s.value);
    blocks.End(start);
  }
  blocks.End(tableStart);
  blocks.End(stringInfo);
  const std::size_t varInfo = blocks.Begin(u"VarFileInfo", 0, true);
  const std::size_t var = blocks.Begin(u"Translation", 4, false);
  blocks.Put(language);
  blocks.Put(kUnicodeCodePage);
  blocks.End(var);
  blocks.End(varInfo);
  blocks.End(root);
  return blocks.Take();
}

void ReplaceVersion(TypeMap& resources, const std::vector<VersionString>& strings) {
  NameMap& versions = resources[IdKey(kVersionType)];
  ResourceKey language = LauncherLanguage(resources);
  if (!versions.empty() && !versions.begin()->second.empty()) {
    language = versions.begin()->second.begin()->first;
  }
  versions.clear();
  versions[IdKey(kVersionId)][language] =
      BytesLeaf(BuildVersionInfo(strings, language.named ? 0 : language.id), 0);
}

[[noreturn]] void BadIcon(const std::string& shown, const std::string& reason) {
  Fail(shown + " is not a usable icon: " + reason);
}

// Checks a bitmap image of an icon (a BITMAPINFOHEADER, a palette, the
// colours and the mask, bottom-up) and gives its size.
void CheckBitmap(const Bytes& data, const std::string& shown, const std::string& image,
                 std::uint32_t& width, std::uint32_t& height, std::uint32_t& bitCount) {
  if (data.size() < kBitmapHeaderSize || Get32(&data[0]) < kBitmapHeaderSize) {
    BadIcon(shown, image + " is neither a PNG image nor a bitmap");
  }
  const std::int32_t w = static_cast<std::int32_t>(Get32(&data[4]));
  const std::int32_t h = static_cast<std::int32_t>(Get32(&data[8]));
  bitCount = Get16(&data[14]);
  const std::uint32_t compression = Get32(&data[16]);
  const std::uint32_t used = Get32(&data[32]);
  const bool knownDepth = bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 16 ||
                          bitCount == 24 || bitCount == 32;
  // Beyond 8 bits a pixel holds its colour: a palette there is nothing the
  // loader reads, only bytes it would have to skip.
  if (Get16(&data[12]) != 1 || !knownDepth || compression != 0 ||
      (bitCount <= 8 && used > (1u << bitCount)) || (bitCount > 8 && used != 0)) {
    BadIcon(shown, image + " is a bitmap of a kind icons do not use");
  }
  // The height counts the colours and the mask.
  if (w < 1 || w > static_cast<std::int32_t>(kIconSideLimit) || h < 2 ||
      h > 2 * static_cast<std::int32_t>(kIconSideLimit) || h % 2 != 0) {
    BadIcon(shown, image + " is not 1 to 256 pixels wide and high");
  }
  width = static_cast<std::uint32_t>(w);
  height = static_cast<std::uint32_t>(h) / 2;
  const std::uint64_t palette = bitCount <= 8 ? 4 * std::uint64_t{used ? used : 1u << bitCount} : 0;
  const std::uint64_t colourRow = (std::uint64_t{width} * bitCount + 31) / 32 * 4;
  const std::uint64_t maskRow = (std::uint64_t{width} + 31) / 32 * 4;
  if (data.size() < Get32(&data[0]) + palette + height * (colourRow + maskRow)) {
    BadIcon(shown, image + " is cut short");
  }
}

void CheckPng(const Bytes& data, const std::string& shown, const std::string& image,
              std::uint32_t& width, std::uint32_t& height) {
  // The signature, then the header chunk: its length 13, "IHDR", the sides.
  const std::size_t headerEnd = sizeof kPngSignature + 8 + 13;
  if (data.size() < headerEnd || GetBig32(&data[8]) != 13 ||
      !std::equal(data.begin() + 12, data.begin() + 16, "IHDR")) {
    BadIcon(shown, image + " is a damaged PNG image");
  }
  width = GetBig32(&data[16]);
  height = GetBig32(&data[20]);
  if (width < 1 || width > kIconSideLimit || height < 1 || height > kIconSideLimit) {
    BadIcon(shown, image + " is not 1 to 256 pixels wide and high");
  }
}

} // namespace

void SetTitle(Branding& branding, const std::u16string& title) {
  if (title.empty()) {
    Fail("the title is empty");
  }
  if (title.size() > kTitleLimit) {
    Fail("the title is " + std::to_string(title.size()) +
         " characters long; the setup's window shows at most " + std::to_string(kTitleLimit));
  }
  if (title.find(u'\0') != std::u16string::npos) {
    Fail("the title holds a NUL character");
  }
  branding.title = title;
}

void SetUnattendedArguments(Branding& branding, const std::u16string& arguments) {
  if (arguments.empty()) {
    Fail("the unattended arguments are empty");
  }
  if (arguments.size() > kArgumentsLimit) {
    Fail("the unattended arguments are " + std::to_string(arguments.size()) +
         " characters long; at most " + std::to_string(kArgumentsLimit));
  }
  if (arguments.find(u'\0') != std::u16string::npos) {
    Fail("the unattended arguments hold a NUL character");
  }
  branding.unattendedArguments = arguments;
}

SetupContents ReadSetupContents(const unsigned char* data, std::size_t size,
                                const std::string& shown) {
  MemoryInput input(shown, data, size);
  SetupContents contents;
  BaseProgram program;
  try {
    program = ReadBase(input);
    CheckLauncher(input, program.resources);
  } catch (const StampError&) {
    return contents;
  }
  contents.launcher = true;
  ResourceKey type;
  type.named = true;
  type.name = kPayloadType;
  const auto types = program.resources.find(type);
  const LanguageMap* payload = nullptr;
  if (types != program.resources.end()) {
    const auto names = types->second.find(IdKey(kPayloadId));
    if (names != types->second.end() && !names->second.empty()) {
      payload = &names->second;
    }
  }
  if (!payload || payload->begin()->second.source != ResourceLeaf::Source::Base) {
    Fail(shown + " is a setup launcher without a payload");
  }
  contents.payloadOffset = payload->begin()->second.sourceOffset;
  contents.payloadSize = payload->begin()->second.size;
  if (const LanguageMap* block = Find(program.resources, kStringType, StringBlock(kUnattendedId))) {
    contents.unattendedArguments =
        ReadStringBlock(input, block->begin()->second)[kUnattendedId % kBlockStrings];
  }
  return contents;
}

std::vector<IconImage> ReadIconFile(const Bytes& file, const std::string& shown) {
  if (file.size() < kIconHeaderSize || Get16(&file[0]) != 0 ||
      (Get16(&file[2]) != 1 && Get16(&file[2]) != 2)) {
    BadIcon(shown, "it is not an icon file");
  }
  if (Get16(&file[2]) == 2) {
    BadIcon(shown, "it is a cursor, not an icon");
  }
  if (file.size() > kIconFileLimit) {
    BadIcon(shown, "it is larger than " + std::to_string(kIconFileLimit >> 20) + " MB");
  }
  const std::size_t count = Get16(&file[4]);
  if (count == 0) {
    BadIcon(shown, "it holds no images");
  }
  if (count > kIconImageLimit) {
    BadIcon(shown, "it holds more than " + std::to_string(kIconImageLimit) + " images");
  }
  if (file.size() < kIconHeaderSize + kIconFileEntrySize * count) {
    BadIcon(shown, "its list of images is cut short");
  }
  // Each image's bytes are its own, apart from the list and the others:
  // the images then take no more than the file does, however they are
  // listed.
  std::vector<std::pair<std::uint32_t, std::size_t>> spans; // (offset, image)
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned char* entry = &file[kIconHeaderSize + kIconFileEntrySize * i];
    const std::uint32_t size = Get32(entry + 8);
    const std::uint32_t offset = Get32(entry + 12);
    if (size == 0 || offset > file.size() || size > file.size() - offset) {
      BadIcon(shown, "image " + std::to_string(i + 1) + " lies outside the file");
    }
    if (offset < kIconHeaderSize + kIconFileEntrySize * count) {
      BadIcon(shown, "image " + std::to_string(i + 1) + " overlaps the list of images");
    }
    spans.emplace_back(offset, i);
  }
  std::sort(spans.begin(), spans.end());
  for (std::size_t k = 1; k < spans.size(); ++k) {
    const unsigned char* before = &file[kIconHeaderSize + kIconFileEntrySize * spans[k - 1].second];
    if (std::uint64_t{spans[k - 1].first} + Get32(before + 8) > spans[k].first) {
      const std::size_t a = std::min(spans[k - 1].second, spans[k].second) + 1;
      const std::size_t b = std::max(spans[k - 1].second, spans[k].second) + 1;
      BadIcon(shown, "image " + std::to_string(a) + " and image " + std::to_string(b) + " overlap");
    }
  }
  std::vector<IconImage> images;
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned char* entry = &file[kIconHeaderSize + kIconFileEntrySize * i];
    const std::string image = "image " + std::to_string(i + 1);
    const std::uint32_t size = Get32(entry + 8);
    const std::uint32_t offset = Get32(entry + 12);
    if (size == 0 || offset > file.size() || size > file.size() - offset) {
      BadIcon(shown, image + " lies outside the file");
    }
    IconImage icon;
    icon.width = entry[0];
    icon.height = entry[1];
    icon.colorCount = entry[2];
    icon.planes = static_cast<std::uint16_t>(Get16(entry + 4));
    icon.bitCount = static_cast<std::uint16_t>(Get16(entry + 6));
    icon.data.assign(file.begin() + offset, file.begin() + offset + size);
    std::uint32_t width = 0, height = 0, bitCount = 32;
    if (icon.data.size() >= sizeof kPngSignature &&
        std::equal(kPngSignature, kPngSignature + sizeof kPngSignature, icon.data.begin())) {
      CheckPng(icon.data, shown, image, width, height);
    } else {
      CheckBitmap(icon.data, shown, image, width, height, bitCount);
    }
    // The list's sizes are what the loader picks an image by (0 for 256).
    const std::uint32_t listedWidth = icon.width ? icon.width : 256;
    const std::uint32_t listedHeight = icon.height ? icon.height : 256;
    if (listedWidth != width || listedHeight != height) {
      BadIcon(shown, image + " is " + std::to_string(width) + "x" + std::to_string(height) +
                         " pixels, but the file lists it as " + std::to_string(listedWidth) + "x" +
                         std::to_string(listedHeight));
    }
    // Some tools leave these zero; the loader matches them against the display.
    if (icon.planes == 0) {
      icon.planes = 1;
    }
    if (icon.bitCount == 0) {
      icon.bitCount = static_cast<std::uint16_t>(bitCount);
    }
    images.push_back(std::move(icon));
  }
  return images;
}

void AddVersionString(Branding& branding, const std::u16string& keyValue) {
  const std::size_t equals = keyValue.find(u'=');
  if (equals == std::u16string::npos) {
    Fail("version information is KEY=VALUE, not \"" + Utf8(keyValue) + "\"");
  }
  const std::u16string key = keyValue.substr(0, equals);
  const std::u16string value = keyValue.substr(equals + 1);
  auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; };
  const char16_t* const* known =
      std::find_if(std::begin(kVersionKeys), std::end(kVersionKeys), [&](const char16_t* k) {
        const std::u16string name = k;
        return name.size() == key.size() &&
               std::equal(name.begin(), name.end(), key.begin(),
                          [&](char16_t a, char16_t b) { return lower(a) == lower(b); });
      });
  if (known == std::end(kVersionKeys)) {
    std::string keys;
    for (const char16_t* k : kVersionKeys) {
      keys += (keys.empty() ? "" : ", ") + Utf8(k);
    }
    Fail("unknown version key \"" + Utf8(key) + "\"; the keys are " + keys);
  }
  const std::string name = Utf8(*known);
  if (value.empty()) {
    Fail("the version string " + name + " is empty");
  }
  if (value.size() > kVersionValueLimit) {
    Fail("the version string " + name + " is " + std::to_string(value.size()) +
         " characters long; at most " + std::to_string(kVersionValueLimit));
  }
  if (value.find(u'\0') != std::u16string::npos) {
    Fail("the version string " + name + " holds a NUL character");
  }
  // In the order of kVersionKeys, so that the order of the options does not matter.
  auto rank = [](const std::u16string& k) {
    return std::find(std::begin(kVersionKeys), std::end(kVersionKeys), k) -
           std::begin(kVersionKeys);
  };
  std::vector<VersionString>& strings = branding.version;
  auto at = std::find_if(strings.begin(), strings.end(),
                         [&](const VersionString& s) { return rank(s.key) >= rank(*known); });
  if (at != strings.end() && at->key == *known) {
    Fail("the version string " + name + " is given twice");
  }
  strings.insert(at, VersionString{*known, value});
}

void CheckLauncher(StampInput& base, const TypeMap& resources) {
  const std::string lacks = base.name() + " is not a setup launcher: it lacks ";
  bool hasClass = false;
  if (const LanguageMap* block = Find(resources, kStringType, StringBlock(kClassId))) {
    for (const auto& language : *block) {
      hasClass = hasClass || ReadStringBlock(base, language.second)[kClassId % kBlockStrings] ==
                                 kLauncherClassName;
    }
  }
  if (!hasClass) {
    Fail(lacks + "the window class name " + Utf8(kLauncherClassName) + " (string " +
         std::to_string(kClassId) + ")");
  }
  for (std::uint32_t id = kFirstBarBitmap; id <= kLastBarBitmap; ++id) {
    if (!Find(resources, kBitmapType, id)) {
      Fail(lacks + "the progress bar's bitmaps (" + std::to_string(kFirstBarBitmap) + " to " +
           std::to_string(kLastBarBitmap) + ")");
    }
  }
}

void ApplyBranding(StampInput& base, TypeMap& resources, const Branding& branding) {
  if (!branding.title.empty()) {
    ReplaceString(base, resources, kTitleId, branding.title);
  }
  if (!branding.unattendedArguments.empty()) {
    ReplaceString(base, resources, kUnattendedId, branding.unattendedArguments);
  }
  if (!branding.icon.empty()) {
    ReplaceIcon(base, resources, branding.icon);
  }
  if (!branding.version.empty()) {
    ReplaceVersion(resources, branding.version);
  }
}

} // namespace QorPe
