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

const char kMagic[29] = "QorZuravazevezu.Archive.ZUKA";

namespace {

bool IsSeparator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

bool Refuse(std::wstring* reason, const wchar_t* text) {
  if (reason) {
    *reason = text;
  }
  return false;
}

// CON, PRN, AUX, NUL, COM1-9, LPT1-9 (and the superscript digits ¹ ² ³ that
// the system reads as 1 2 3), CONIN$ and CONOUT$, with or without an
// extension: the system opens the device whatever folder is in front.
bool IsDeviceName(const std::wstring& component) {
  std::wstring stem = component.substr(0, component.find(L'.'));
  while (!stem.empty() && stem.back() == L' ') {
    stem.pop_back();
  }
  for (wchar_t& c : stem) {
    if (c >= L'a' && c <= L'z') {
      c = static_cast<wchar_t>(c - L'a' + L'A');
    }
  }
  if (stem == L"CON" || stem == L"PRN" || stem == L"AUX" || stem == L"NUL" || stem == L"CONIN$" ||
      stem == L"CONOUT$") {
    return true;
  }
  const bool digit =
      stem.size() == 4 && ((stem[3] >= L'1' && stem[3] <= L'9') || stem[3] == L'\u00B9' ||
                           stem[3] == L'\u00B2' || stem[3] == L'\u00B3');
  return digit && (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0);
}

// Upper case as the file system compares names. Beyond ASCII this covers the
// Latin, Greek and Cyrillic letters and the full-width forms; a fold that
// misses a pair only lets a clash through to the writing step, where the
// later file overwrites the earlier, as before.
wchar_t FoldCase(wchar_t c) {
  const unsigned u = static_cast<unsigned>(c);
  if ((u >= 'a' && u <= 'z') || (u >= 0xE0 && u <= 0xFE && u != 0xF7) ||
      (u >= 0x3B1 && u <= 0x3CB && u != 0x3C2) || (u >= 0x430 && u <= 0x44F)) {
    return static_cast<wchar_t>(u - 0x20);
  }
  if (u >= 0xFF41 && u <= 0xFF5A) {
    return static_cast<wchar_t>(u - 0x20);
  }
  if (u >= 0x450 && u <= 0x45F) {
    return static_cast<wchar_t>(u - 0x50);
  }
  if (u == 0xFF) {
    return static_cast<wchar_t>(0x178);
  }
  if (u == 0x3C2) {
    return static_cast<wchar_t>(0x3A3);
  }
  // Latin Extended-A pairs: upper case even, lower case odd, in two runs.
  if (((u >= 0x100 && u <= 0x137) || (u >= 0x14A && u <= 0x177)) && (u & 1)) {
    return static_cast<wchar_t>(u - 1);
  }
  if (((u >= 0x139 && u <= 0x148) || (u >= 0x179 && u <= 0x17E)) && !(u & 1)) {
    return static_cast<wchar_t>(u - 1);
  }
  return c;
}

std::vector<std::wstring> SplitComponents(const std::wstring& name) {
  std::vector<std::wstring> parts(1);
  for (wchar_t c : name) {
    if (IsSeparator(c)) {
      parts.emplace_back();
    } else {
      parts.back().push_back(c);
    }
  }
  return parts;
}

// A component as the file system stores it: trailing dots and spaces go,
// letter case does not count.
std::wstring ComponentKey(std::wstring component) {
  while (!component.empty() && (component.back() == L'.' || component.back() == L' ')) {
    component.pop_back();
  }
  for (wchar_t& c : component) {
    c = FoldCase(c);
  }
  return component;
}

// The short alias's parts when key (already folded) has its shape: up to
// six characters, "~", digits, and an extension of at most three.
bool SplitShortAlias(const std::wstring& key, std::wstring& stem, std::wstring& extension) {
  const std::size_t dot = key.find(L'.');
  const std::wstring base = key.substr(0, dot);
  extension = dot == std::wstring::npos ? L"" : key.substr(dot + 1);
  const std::size_t tilde = base.find(L'~');
  if (base.size() > 8 || extension.size() > 3 || extension.find(L'.') != std::wstring::npos ||
      tilde == std::wstring::npos || tilde == 0 || tilde + 1 == base.size()) {
    return false;
  }
  for (std::size_t i = tilde + 1; i < base.size(); ++i) {
    if (base[i] < L'0' || base[i] > L'9') {
      return false;
    }
  }
  stem = base.substr(0, tilde);
  return true;
}

// Whether key (folded) is a valid short name as it stands.
bool FitsShortForm(const std::wstring& key) {
  const std::size_t dot = key.find(L'.');
  const std::size_t baseSize = dot == std::wstring::npos ? key.size() : dot;
  if (baseSize == 0 || baseSize > 8 ||
      (dot != std::wstring::npos &&
       (key.size() - dot - 1 > 3 || key.find(L'.', dot + 1) != std::wstring::npos))) {
    return false;
  }
  for (wchar_t c : key) {
    if (c > 0x7E || c <= L' ' || std::wcschr(L"+,;=[]", c)) {
      return false;
    }
  }
  return true;
}

// Whether the system could give longKey (folded) the alias stem~N.extension.
// The system keeps the first characters of the name (at least two, the rest
// may be a hash), drops spaces and inner dots, keeps three characters of the
// extension and writes "_" for what the short form cannot hold, so "_" in
// the alias matches any character.
bool CouldBeAliasOf(const std::wstring& stem, const std::wstring& extension,
                    const std::wstring& longKey) {
  if (FitsShortForm(longKey)) {
    return false; // such a name is its own short name: it gets no alias
  }
  std::wstring base = longKey;
  std::wstring longExtension;
  const std::size_t dot = longKey.rfind(L'.');
  if (dot != std::wstring::npos) {
    base = longKey.substr(0, dot);
    longExtension = longKey.substr(dot + 1);
  }
  std::wstring cleanBase;
  for (wchar_t c : base) {
    if (c != L' ' && c != L'.') {
      cleanBase.push_back(c);
    }
  }
  std::wstring cleanExtension;
  for (wchar_t c : longExtension) {
    if (c != L' ' && cleanExtension.size() < 3) {
      cleanExtension.push_back(c);
    }
  }
  auto same = [](wchar_t alias, wchar_t original) { return alias == L'_' || alias == original; };
  const std::size_t kept = std::min<std::size_t>(stem.size(), 2);
  if (cleanBase.size() < kept || extension.size() != cleanExtension.size()) {
    return false;
  }
  for (std::size_t i = 0; i < kept; ++i) {
    if (!same(stem[i], cleanBase[i])) {
      return false;
    }
  }
  for (std::size_t i = 0; i < extension.size(); ++i) {
    if (!same(extension[i], cleanExtension[i])) {
      return false;
    }
  }
  return true;
}

} // namespace

bool IsSafeEntryName(const std::wstring& name, std::wstring* reason) {
  if (name.empty()) {
    return Refuse(reason, L"the entry has no name");
  }
  if (name.find(L':') != std::wstring::npos) {
    return Refuse(reason, L"the entry name has a drive, device or stream part");
  }
  if (IsSeparator(name.front())) {
    return Refuse(reason, L"the entry name is an absolute path");
  }
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = start;
    while (end < name.size() && !IsSeparator(name[end])) {
      ++end;
    }
    const std::wstring component = name.substr(start, end - start);
    // Only dots and spaces: "", ".", ".." and what the system trims to them.
    if (component.find_first_not_of(L". ") == std::wstring::npos) {
      return Refuse(reason, L"the entry name has an empty, \".\" or \"..\" component");
    }
    if (IsDeviceName(component)) {
      return Refuse(reason, L"the entry name is a reserved device name");
    }
    start = end + 1;
  }
  return true;
}

bool FindNameClash(const std::vector<std::wstring>& names, std::wstring* reason) {
  struct Key {
    std::wstring folder; // the folder part, folded
    std::wstring leaf;   // the last component, folded
  };
  std::vector<Key> keys;
  keys.reserve(names.size());
  for (const std::wstring& name : names) {
    Key key;
    const std::vector<std::wstring> parts = SplitComponents(name);
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
      key.folder += ComponentKey(parts[i]) + L'\\';
    }
    key.leaf = ComponentKey(parts.back());
    keys.push_back(std::move(key));
  }
  auto clash = [&](std::size_t a, std::size_t b, const wchar_t* why) {
    if (reason) {
      *reason = L"the entries \"" + names[a] + L"\" and \"" + names[b] + L"\" " + why;
    }
    return true;
  };
  // Quadratic, but payloads hold tens to thousands of files, not millions.
  for (std::size_t a = 0; a < keys.size(); ++a) {
    std::wstring stem;
    std::wstring extension;
    const bool alias = SplitShortAlias(keys[a].leaf, stem, extension);
    for (std::size_t b = 0; b < keys.size(); ++b) {
      if (a == b || keys[a].folder != keys[b].folder) {
        continue;
      }
      if (b > a && keys[a].leaf == keys[b].leaf) {
        return clash(a, b, L"would be written to one file");
      }
      if (alias && keys[a].leaf != keys[b].leaf && CouldBeAliasOf(stem, extension, keys[b].leaf)) {
        return clash(a, b,
                     L"may name one file: the first is shaped like the short name of the second");
      }
    }
  }
  if (reason) {
    reason->clear();
  }
  return false;
}

} // namespace QorArchiveFormat

using namespace QorArchiveFormat;

namespace {

[[noreturn]] void RaiseCorrupted() {
  QorWin32::RaiseLastWin32ErrorF(kCorruptedError, L"Archive is corrupted.");
}

std::uint32_t ReadU32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void PutU32(std::string& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  }
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
  if (!archive || length < kFixedHeaderSize || std::memcmp(archive, kMagic, kMagicSize) != 0) {
    RaiseCorrupted();
  }
  // All positions are 64-bit so that no 32-bit field can wrap them.
  const std::uint64_t end = length;
  const std::uint32_t count = ReadU32(archive + 33);
  // Each record takes at least 12 bytes: refuse a count the buffer cannot
  // hold before reserving anything for it.
  if (static_cast<std::uint64_t>(count) * 12 > end - kFixedHeaderSize) {
    RaiseCorrupted();
  }
  std::vector<std::unique_ptr<ArchiveEntry>> entries;
  entries.reserve(count);
  std::uint64_t p = kFixedHeaderSize;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (p + 4 > end) {
      RaiseCorrupted();
    }
    const std::uint64_t units = ReadU32(archive + p);
    p += 4;
    if (units * 2 + 8 > end - p) {
      RaiseCorrupted();
    }
    std::wstring name;
    name.reserve(static_cast<std::size_t>(units));
    for (std::uint64_t u = 0; u < units; ++u) {
      const unsigned char* c = archive + p + 2 * u;
      const wchar_t unit = static_cast<wchar_t>(c[0] | (c[1] << 8));
      if (unit == 0) {
        break;
      }
      name.push_back(unit);
    }
    p += units * 2;
    const std::uint32_t size = ReadU32(archive + p);
    const std::uint32_t offset = ReadU32(archive + p + 4);
    p += 8;
    if (static_cast<std::uint64_t>(offset) + size > end) {
      RaiseCorrupted();
    }
    std::unique_ptr<ArchiveEntry> entry(new ArchiveEntry(std::move(name), size));
    entry->AddChunk(std::unique_ptr<ArchiveChunk>(new ArchiveChunk(archive + offset, size)));
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
  std::string header(kMagic, kMagicSize);
  PutU32(header, GetHeaderSize());
  PutU32(header, static_cast<std::uint32_t>(entries_.size()));
  std::uint32_t offset = GetHeaderSize();
  for (const Entry& entry : entries_) {
    PutU32(header, static_cast<std::uint32_t>(entry.name.size() + 1));
    for (wchar_t c : entry.name) {
      header.push_back(static_cast<char>(c & 0xFF));
      header.push_back(static_cast<char>((c >> 8) & 0xFF));
    }
    header.append(2, '\0');
    PutU32(header, static_cast<std::uint32_t>(entry.data.size()));
    PutU32(header, offset);
    offset += static_cast<std::uint32_t>(entry.data.size());
  }
  return header;
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
