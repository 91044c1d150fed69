#include "qor/payload/archive.h"

namespace QorArchiveFormat {

namespace {
std::u16string ToUtf16(const std::wstring& text) {
  return std::u16string(text.begin(), text.end());
}
std::wstring ToWide(const std::u16string& text) {
  return std::wstring(text.begin(), text.end());
}
} // namespace

bool IsSafeEntryName(const std::wstring& name, std::wstring* reason) {
  std::u16string why;
  const bool safe = IsSafeEntryName(ToUtf16(name), &why);
  if (reason) {
    *reason = ToWide(why);
  }
  return safe;
}

bool FindNameClash(const std::vector<std::wstring>& names, std::wstring* reason) {
  std::vector<std::u16string> wide;
  wide.reserve(names.size());
  for (const std::wstring& name : names) {
    wide.push_back(ToUtf16(name));
  }
  std::u16string why;
  const bool clash = FindNameClash(wide, &why);
  if (reason) {
    *reason = ToWide(why);
  }
  return clash;
}

bool NamesOneFile(const std::wstring& first, const std::wstring& second) {
  return NamesOneFile(ToUtf16(first), ToUtf16(second));
}

} // namespace QorArchiveFormat
