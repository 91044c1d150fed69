// The language-dependent strings of a version resource, apart from the
// fixed version numbers: the language text is formatted with Boost.Format,
// which brings the standard streams, and a program that reads only version
// numbers should not carry them.
#include "qor/os/file_version.h"

#include <boost/format.hpp>

namespace QorFs {

namespace {

const wchar_t* const kStringNames[] = {
    L"Comments",     L"CompanyName",    L"FileDescription", L"FileVersion",
    L"InternalName", L"LegalCopyright", L"LegalTrademarks", L"OriginalFilename",
    L"PrivateBuild", L"ProductName",    L"ProductVersion",  L"SpecialBuild",
};

} // namespace

std::wstring FileVersionInfo::GetLanguageText() const {
  void* value = nullptr;
  UINT length = 0;
  if (Query(L"\\VarFileInfo\\Translation", value, length) && length >= 2 * sizeof(WORD)) {
    const WORD* translation = static_cast<const WORD*>(value);
    return (boost::wformat(L"%04x%04x") % translation[0] % translation[1]).str();
  }
  return L"040904b0";
}

bool FileVersionInfo::GetString(int index, std::wstring& value) const {
  if (index < 0 || index >= static_cast<int>(sizeof(kStringNames) / sizeof(kStringNames[0]))) {
    return false;
  }
  std::wstring subBlock = L"\\StringFileInfo\\" + GetLanguageText() + L"\\" + kStringNames[index];
  void* text = nullptr;
  UINT length = 0;
  if (!Query(subBlock.c_str(), text, length)) {
    return false;
  }
  value = static_cast<const wchar_t*>(text);
  return true;
}

} // namespace QorFs
