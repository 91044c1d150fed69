#include "qor/payload/archive.h"

#include "qor/error/error.h"

#include <fstream>
#include <limits>
#include <sstream>

using namespace QorArchiveFormat;

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
  std::vector<std::u16string> names;
  std::vector<std::uint64_t> sizes;
  for (const Entry& entry : entries_) {
    names.emplace_back(entry.name.begin(), entry.name.end());
    sizes.push_back(entry.data.size());
  }
  return QorArchiveFormat::BuildHeader(names, sizes);
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
