#include "qor/reg/ini_file.h"
#include "qor/reg/error_codes.h"

#include "qor/error/error.h"
#include "qor/text/text.h"
#include "qor/error/win32_error.h"

#include <cwchar>
#include <vector>

namespace QorReg {

namespace {

const DWORD kFirstValueSize = 512;
const DWORD kFirstListSize = 2048;
// Sizes are doubled while below this; the last one tried is 262144.
const DWORD kSizeLimit = 0x80000;

std::wstring Quoted(const wchar_t* text) {
  return std::wstring(L"'") + text + L"'";
}

// Reads a double-NUL-terminated name list (section names when section is
// null, the section's keys otherwise). False when no size was big enough.
bool ReadNameList(const std::wstring& fileName, const wchar_t* section,
                  std::vector<std::wstring>& names) {
  for (DWORD size = kFirstListSize; size < kSizeLimit; size *= 2) {
    std::vector<wchar_t> buffer(size, L'\0');
    DWORD length =
        GetPrivateProfileStringW(section, nullptr, L"", buffer.data(), size, fileName.c_str());
    if (length < size - 2) {
      for (const wchar_t* p = buffer.data(); *p; p += std::wcslen(p) + 1) {
        names.emplace_back(p);
      }
      return true;
    }
  }
  return false;
}

bool FileExists(const std::wstring& fileName) {
  DWORD attributes = GetFileAttributesW(fileName.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace

IniFile::IniFile(NameRef fileName, bool allowMissing) : fileName_(fileName.c_str()) {
  LoadSections(allowMissing);
}

void IniFile::LoadSections(bool allowMissing) {
  if (!allowMissing && !FileExists(fileName_)) {
    QorError::RaiseError(kIniFileMissingError,
                         (L"Can't find the file " + Quoted(fileName_.c_str()) + L".").c_str());
  }
  sections_.clear();
  std::vector<std::wstring> names;
  if (!ReadNameList(fileName_, nullptr, names)) {
    QorError::RaiseError(kIniSectionListTooLongError,
                         (L"Can't read the sections from file " + Quoted(fileName_.c_str()) +
                          L" because the list is too long.")
                             .c_str());
  }
  sections_.insert(names.begin(), names.end());
}

bool IniFile::SectionExists(NameRef section) const {
  return sections_.count(section.c_str()) != 0;
}

bool IniFile::KeyHasValue(NameRef section, NameRef key) const {
  if (!SectionExists(section)) {
    return false;
  }
  std::vector<wchar_t> buffer(kFirstValueSize, L'\0');
  GetPrivateProfileStringW(section.c_str(), key.c_str(), L"", buffer.data(), kFirstValueSize,
                           fileName_.c_str());
  return buffer[0] != L'\0';
}

std::wstring IniFile::GetString(NameRef section, NameRef key) const {
  if (!SectionExists(section)) {
    QorError::RaiseError(kIniSectionMissingError,
                         (L"Can't find the section " + Quoted(section.c_str()) + L" in file " +
                          Quoted(fileName_.c_str()) + L".")
                             .c_str());
  }
  for (DWORD size = kFirstValueSize; size < kSizeLimit; size *= 2) {
    std::vector<wchar_t> buffer(size, L'\0');
    DWORD length = GetPrivateProfileStringW(section.c_str(), key.c_str(), L"", buffer.data(), size,
                                            fileName_.c_str());
    if (buffer[0] == L'\0') {
      // Absent or empty: a bigger buffer would read the same nothing.
      break;
    }
    if (length < size - 1) {
      return std::wstring(buffer.data(), length);
    }
  }
  QorError::RaiseError(kIniValueTooLongError,
                       (L"Can't read the key " + Quoted(key.c_str()) + L", section " +
                        Quoted(section.c_str()) + L" in file " + Quoted(fileName_.c_str()) +
                        L" because value is too long.")
                           .c_str());
}

int IniFile::GetInt(NameRef section, NameRef key) const {
  std::wstring text = GetString(section, key);
  return static_cast<int>(std::wcstol(text.c_str(), nullptr, 10));
}

void IniFile::GetKeys(NameRef section, std::vector<std::wstring>& keys) const {
  if (!SectionExists(section)) {
    QorError::RaiseError(kIniKeysSectionMissingError,
                         (L"Can't find the section " + Quoted(section.c_str()) + L" in file " +
                          Quoted(fileName_.c_str()) + L".")
                             .c_str());
  }
  std::vector<std::wstring> names;
  if (!ReadNameList(fileName_, section.c_str(), names)) {
    QorError::RaiseError(kIniKeyListTooLongError,
                         (L"Can't read the keys from section " + Quoted(section.c_str()) +
                          L" in file " + Quoted(fileName_.c_str()) +
                          L" because the list is too long.")
                             .c_str());
  }
  keys.insert(keys.end(), names.begin(), names.end());
}

void IniFile::SetString(NameRef section, NameRef key, NameRef value) {
  if (!WritePrivateProfileStringW(section.c_str(), key.c_str(), value.c_str(), fileName_.c_str())) {
    DWORD systemCode = GetLastError();
    QorWin32::RaiseWin32Error(kIniSetStringError,
                              (L"Can't save a string value in key " + Quoted(key.c_str()) +
                               L", section " + Quoted(section.c_str()) + L" in file " +
                               Quoted(fileName_.c_str()))
                                  .c_str(),
                              systemCode);
  }
  sections_.insert(section.c_str());
}

void IniFile::SetInt(NameRef section, NameRef key, int value) {
  std::wstring text;
  QorString::Format(text, L"%d", value);
  if (!WritePrivateProfileStringW(section.c_str(), key.c_str(), text.c_str(), fileName_.c_str())) {
    DWORD systemCode = GetLastError();
    QorWin32::RaiseWin32Error(kIniSetIntError,
                              (L"Can't save an int value in key " + Quoted(key.c_str()) +
                               L", section " + Quoted(section.c_str()) + L" in file " +
                               Quoted(fileName_.c_str()))
                                  .c_str(),
                              systemCode);
  }
  sections_.insert(section.c_str());
}

BOOL IniFile::DeleteKey(NameRef section, NameRef key) {
  BOOL result =
      WritePrivateProfileStringW(section.c_str(), key.c_str(), nullptr, fileName_.c_str());
  if (!result) {
    DWORD systemCode = GetLastError();
    QorWin32::RaiseWin32Error(kIniDeleteKeyError,
                              (L"Unable to delete the key " + Quoted(key.c_str()) + L", section " +
                               Quoted(section.c_str()) + L" in file " + Quoted(fileName_.c_str()))
                                  .c_str(),
                              systemCode);
  }
  return result;
}

void IniFile::DeleteSection(NameRef section) {
  if (!SectionExists(section)) {
    return;
  }
  if (!WritePrivateProfileStringW(section.c_str(), nullptr, nullptr, fileName_.c_str())) {
    DWORD systemCode = GetLastError();
    QorWin32::RaiseWin32Error(kIniDeleteSectionError,
                              (L"Unable to delete the section " + Quoted(section.c_str()) +
                               L" in file " + Quoted(fileName_.c_str()))
                                  .c_str(),
                              systemCode);
  }
  sections_.erase(section.c_str());
}

} // namespace QorReg
