#include "qor/text/path.h"

namespace QorString {

std::wstring WithTrailingBackslash(std::wstring path, EmptyPath empty, EndSeparators separators) {
  if (path.empty()) {
    if (empty == EmptyPath::GetsBackslash) {
      path += L'\\';
    }
    return path;
  }
  const wchar_t last = path.back();
  if (last == L'\\' || (last == L'/' && separators == EndSeparators::BackslashOrSlash)) {
    return path;
  }
  path += L'\\';
  return path;
}

std::wstring WithoutTrailingBackslash(std::wstring path) {
  if (!path.empty() && path.back() == L'\\') {
    path.pop_back();
  }
  return path;
}

std::wstring FolderPart(const std::wstring& path) {
  const std::size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

std::wstring JoinWithBackslash(const std::wstring& first, const std::wstring& second) {
  if (first.empty()) {
    return second;
  }
  std::wstring joined;
  joined.reserve(first.size() + 1 + second.size());
  joined += first;
  joined += L'\\';
  joined += second;
  return joined;
}

} // namespace QorString
