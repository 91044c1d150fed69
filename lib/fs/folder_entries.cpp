#include "qor/fs/folder_entries.h"

#include "qor/text/path.h"

namespace QorFs {

namespace {

bool IsDotOrDotDot(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

} // namespace

FolderEntries::FolderEntries(const std::wstring& folder) {
  const std::wstring pattern =
      QorString::WithTrailingBackslash(folder, QorString::EmptyPath::StaysEmpty,
                                       QorString::EndSeparators::BackslashOrSlash) +
      L'*';
  search_.reset(::FindFirstFileW(pattern.c_str(), &current_.data_));
  if (!search_) {
    error_ = ::GetLastError();
    return;
  }
  opened_ = true;
  if (IsDotOrDotDot(current_.data_.cFileName)) {
    Advance();
  }
}

void FolderEntries::Advance() {
  do {
    if (!search_) {
      return;
    }
    if (!::FindNextFileW(search_.get(), &current_.data_)) {
      error_ = ::GetLastError();
      search_.reset(); // keeps the last error
      return;
    }
  } while (IsDotOrDotDot(current_.data_.cFileName));
}

bool LookUpEntry(const std::wstring& path, WIN32_FIND_DATAW& data) {
  Qor::UniqueFind search(::FindFirstFileW(path.c_str(), &data));
  return search.valid();
}

} // namespace QorFs
