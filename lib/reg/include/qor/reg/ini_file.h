// Classic settings files (sections of key=value lines) read and written
// through the system's profile functions. The section names are cached when
// the object is made and compared case-sensitively.
#pragma once

#include "qor/reg/reg_key.h"

#include <windows.h>

#include <set>
#include <string>
#include <vector>

namespace QorReg {

class IniFile {
public:
  // Fails with 133 when the file does not exist, unless allowMissing.
  explicit IniFile(NameRef fileName, bool allowMissing = false);

  // Re-reads the section names of the file.
  void LoadSections(bool allowMissing);
  bool SectionExists(NameRef section) const;
  // False also for a key whose value is empty.
  bool KeyHasValue(NameRef section, NameRef key) const;
  // Fails with 138 for a section not cached, 139 for an absent or empty key.
  std::wstring GetString(NameRef section, NameRef key) const;
  // The value's text read as a decimal number; text that does not start with
  // a number reads as 0.
  int GetInt(NameRef section, NameRef key) const;
  // Appends the section's key names in file order.
  void GetKeys(NameRef section, std::vector<std::wstring>& keys) const;
  void SetString(NameRef section, NameRef key, NameRef value);
  void SetInt(NameRef section, NameRef key, int value);
  // Returns the system's non-zero success result.
  BOOL DeleteKey(NameRef section, NameRef key);
  // Does nothing for a section that is not cached.
  void DeleteSection(NameRef section);

  const std::wstring& GetFileName() const { return fileName_; }
  const std::set<std::wstring>& GetSections() const { return sections_; }

private:
  std::wstring fileName_;
  std::set<std::wstring> sections_;
};

} // namespace QorReg
