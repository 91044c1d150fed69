// The version resource of an executable or library file.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

namespace QorFs {

class FileVersionInfo {
public:
  // Reads the resource. QorFs::FileError 401 (caused by the system error) when
  // the file has none or it cannot be read.
  explicit FileVersionInfo(const wchar_t* fileName);
  explicit FileVersionInfo(const std::wstring& fileName) : FileVersionInfo(fileName.c_str()) {}
  FileVersionInfo(const FileVersionInfo&) = delete;
  FileVersionInfo& operator=(const FileVersionInfo&) = delete;

  // Fields of the fixed part; QorFs::FileError 403 when it cannot be read.
  DWORD GetFileVersionMS() const;
  DWORD GetFileVersionLS() const;
  DWORD GetMajor() const;
  DWORD GetMinor() const;
  DWORD GetBuild() const;
  DWORD GetRevision() const;

  // Language and code page of the strings as eight hex digits ("040904b0"
  // when the file lists none).
  std::wstring GetLanguageText() const;

  enum StringIndex {
    Comments = 0,
    CompanyName,
    FileDescription,
    FileVersion,
    InternalName,
    LegalCopyright,
    LegalTrademarks,
    OriginalFilename,
    PrivateBuild,
    ProductName,
    ProductVersion,
    SpecialBuild,
  };
  // False (value unchanged) when the file has no such string or the index is
  // out of range.
  bool GetString(int index, std::wstring& value) const;

  const std::wstring& GetFileName() const { return fileName_; }

  // Whether the file has a version resource; never throws.
  static bool HasVersionInfo(const wchar_t* fileName);

private:
  const VS_FIXEDFILEINFO& Fixed() const;
  bool Query(const wchar_t* subBlock, void*& value, UINT& length) const;

  std::unique_ptr<BYTE[]> block_;
  std::wstring fileName_;
};

} // namespace QorFs
