#include "qor/reg/reg_key.h"
#include "qor/reg/error_codes.h"

#include "guarded.h"
#include "qor/reg/reg_calls.h"
#include "qor/os/security.h"
#include "qor/error/win32_error.h"
#include "qor/text/path.h"

#include <shlwapi.h>

#include <algorithm>
#include <cwchar>
#include <exception>
#include <memory>

namespace QorReg {

using Detail::Guarded;

namespace {

struct RootName {
  LONG value;
  const wchar_t* name;
};

const RootName kRootNames[] = {
    {static_cast<LONG>(0x80000000), L"HKEY_CLASSES_ROOT"},
    {static_cast<LONG>(0x80000001), L"HKEY_CURRENT_USER"},
    {static_cast<LONG>(0x80000002), L"HKEY_LOCAL_MACHINE"},
    {static_cast<LONG>(0x80000003), L"HKEY_USERS"},
    {static_cast<LONG>(0x80000004), L"HKEY_PERFORMANCE_DATA"},
    {static_cast<LONG>(0x80000005), L"HKEY_CURRENT_CONFIG"},
    {static_cast<LONG>(0x80000006), L"HKEY_DYN_DATA"},
    {static_cast<LONG>(0x80000050), L"HKEY_PERFORMANCE_TEXT"},
    {static_cast<LONG>(0x80000060), L"HKEY_PERFORMANCE_NLSTEXT"},
};

// The name an open or create reports: the root's name and the subkey path,
// or the subkey path alone under a key that is no predefined root.
std::wstring KeyNameFor(HKEY root, const wchar_t* subKey) {
  return QorString::JoinWithBackslash(RootKeyName(root), subKey);
}

std::wstring ChildPath(const std::wstring& parentPath, const wchar_t* subKey) {
  return QorString::JoinWithBackslash(parentPath, subKey);
}

std::wstring ValueMessage(const wchar_t* name, const std::wstring& path) {
  return std::wstring(L"Unable to get value ") + name + L" of the key " + path;
}

// A stored value of the wrong type; the getter's wrapping makes it the cause.
[[noreturn]] void RaiseWrongType(int code, const wchar_t* name, const std::wstring& path) {
  std::unique_ptr<RegError> error(new RegError(code, nullptr));
  error->GetStream() << ValueMessage(name, path);
  throw error.release();
}

bool QueryCounts(HKEY key, DWORD& subKeys, DWORD& values) {
  subKeys = 0;
  values = 0;
  LONG status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr,
                                 &values, nullptr, nullptr, nullptr, nullptr);
  if (status != ERROR_SUCCESS) {
    subKeys = 0;
    values = 0;
    return false;
  }
  return true;
}

std::wstring ExpandString(const wchar_t* text) {
  // Most expansions fit the small buffer; longer ones are expanded again
  // into a buffer of the reported size.
  const DWORD kSmall = 126;
  wchar_t small[kSmall];
  DWORD need = QorWin32::CheckedExpandEnvironmentStrings(text, small, kSmall);
  if (need <= kSmall) {
    return small;
  }
  std::vector<wchar_t> big(need + 2, L'\0');
  QorWin32::CheckedExpandEnvironmentStrings(text, big.data(), need);
  return big.data();
}

// Queries a variable-size value into a zeroed buffer that holds at least two
// NULs after the stored bytes.
std::vector<wchar_t> QueryText(HKEY key, const wchar_t* name, DWORD& type) {
  DWORD size = 0;
  QorWin32::CheckedRegQueryValueEx(key, name, &type, nullptr, &size);
  // Room for the stored bytes and two NULs, without overflowing on any
  // reported size.
  std::vector<wchar_t> buffer(static_cast<std::size_t>(size) / sizeof(wchar_t) + 3, L'\0');
  QorWin32::CheckedRegQueryValueEx(key, name, &type, buffer.data(), &size);
  std::size_t end = std::min<std::size_t>(size / sizeof(wchar_t), buffer.size() - 1);
  buffer[end] = L'\0';
  return buffer;
}

} // namespace

std::wstring RootKeyName(HKEY key) {
  for (const RootName& root : kRootNames) {
    if (key == reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(root.value))) {
      return root.name;
    }
  }
  return std::wstring();
}

// --- construction and opening ----------------------------------------------

RegKey::RegKey() = default;

RegKey::RegKey(HKEY root) {
  Attach(root);
}

RegKey::RegKey(HKEY root, NameRef subKey) {
  Open(root, subKey);
}

RegKey::RegKey(HKEY root, NameRef subKey, REGSAM access) {
  Open(root, subKey, access);
}

RegKey::RegKey(const RegKey& parent, NameRef subKey) {
  OpenChild(parent, subKey);
}

RegKey::RegKey(const RegKey& parent, NameRef subKey, REGSAM access) {
  OpenChild(parent, subKey, access);
}

RegKey::RegKey(RegKey&& other) noexcept = default;
RegKey& RegKey::operator=(RegKey&& other) noexcept = default;

void RegKey::Attach(HKEY root) {
  std::wstring path = RootKeyName(root);
  key_.reset(root);
  path_.swap(path);
}

void RegKey::OpenUnder(HKEY root, const wchar_t* subKey, REGSAM access, int code, int otherCode,
                       const std::wstring& messageName, const std::wstring& path) {
  Guarded(
      code, otherCode, [&] { return L"Unable to open registry key " + messageName; },
      [&] {
        // The new key is opened before the old one is closed, so that a key
        // can open a child of itself; a failure still leaves it empty.
        Qor::UniqueRegKey opened;
        try {
          opened = QorWin32::CheckedRegOpenKeyEx(root, subKey, access | AccessRead);
        } catch (...) {
          key_.reset();
          path_.clear();
          throw;
        }
        std::wstring newPath = path;
        key_ = std::move(opened);
        path_.swap(newPath);
      });
}

void RegKey::CreateUnder(HKEY root, const wchar_t* subKey, REGSAM access, bool empty, int code,
                         int otherCode, const std::wstring& messageName, const std::wstring& path) {
  Guarded(
      code, otherCode, [&] { return L"Unable to create registry key " + messageName; },
      [&] {
        RegKey created;
        try {
          DWORD disposition = 0;
          created.key_ = QorWin32::CheckedRegCreateKeyEx(
              root, subKey, REG_OPTION_NON_VOLATILE, access | AccessRead, nullptr, &disposition);
          created.path_ = path;
          if (empty && disposition == REG_OPENED_EXISTING_KEY) {
            created.DeleteAllSubKeys(true);
            created.DeleteAllValues(false);
          }
        } catch (...) {
          key_.reset();
          path_.clear();
          throw;
        }
        *this = std::move(created);
      });
}

void RegKey::Open(HKEY root, NameRef subKey) {
  std::wstring name = KeyNameFor(root, subKey.c_str());
  OpenUnder(root, subKey.c_str(), 0, kOpenKeyError, kOpenKeyError, name, name);
}

void RegKey::Open(HKEY root, NameRef subKey, REGSAM access) {
  std::wstring name = KeyNameFor(root, subKey.c_str());
  OpenUnder(root, subKey.c_str(), access, kOpenKeyWithAccessError, kOpenKeyWithAccessOtherError,
            name, name);
}

void RegKey::OpenChild(const RegKey& parent, NameRef subKey) {
  HKEY root = parent.key_.get();
  OpenUnder(root, subKey.c_str(), 0, kOpenKeyError, kOpenKeyError, KeyNameFor(root, subKey.c_str()),
            ChildPath(parent.GetPath(), subKey.c_str()));
}

void RegKey::OpenChild(const RegKey& parent, NameRef subKey, REGSAM access) {
  HKEY root = parent.key_.get();
  OpenUnder(root, subKey.c_str(), access, kOpenKeyWithAccessError, kOpenKeyWithAccessOtherError,
            KeyNameFor(root, subKey.c_str()), ChildPath(parent.GetPath(), subKey.c_str()));
}

void RegKey::Create(HKEY root, NameRef subKey) {
  std::wstring name = KeyNameFor(root, subKey.c_str());
  CreateUnder(root, subKey.c_str(), 0, false, kCreateKeyError, kCreateKeyOtherError, name, name);
}

void RegKey::Create(HKEY root, NameRef subKey, REGSAM access) {
  std::wstring name = KeyNameFor(root, subKey.c_str());
  CreateUnder(root, subKey.c_str(), access, false, kCreateKeyWithAccessError,
              kCreateKeyWithAccessOtherError, name, name);
}

void RegKey::CreateChild(const RegKey& parent, NameRef subKey, REGSAM access) {
  HKEY root = parent.key_.get();
  CreateUnder(root, subKey.c_str(), access, false, kCreateKeyWithAccessError,
              kCreateKeyWithAccessOtherError, KeyNameFor(root, subKey.c_str()),
              ChildPath(parent.GetPath(), subKey.c_str()));
}

void RegKey::CreateEmpty(HKEY root, NameRef subKey, REGSAM access) {
  std::wstring name = KeyNameFor(root, subKey.c_str());
  CreateUnder(root, subKey.c_str(), access, true, kCreateEmptyKeyError, kCreateEmptyKeyOtherError,
              name, name);
}

void RegKey::CreateEmptyChild(const RegKey& parent, NameRef subKey, REGSAM access) {
  HKEY root = parent.key_.get();
  std::wstring name = KeyNameFor(root, subKey.c_str());
  CreateUnder(root, subKey.c_str(), access, true, kCreateEmptyKeyError, kCreateEmptyKeyOtherError,
              name, name);
}

// --- queries -----------------------------------------------------------------

bool RegKey::KeyExists(HKEY root, NameRef subKey) {
  Qor::UniqueRegKey key;
  return RegOpenKeyExW(root, subKey.c_str(), 0, KEY_QUERY_VALUE, key.put()) == ERROR_SUCCESS;
}

bool RegKey::SubKeyExists(NameRef subKey) const {
  return KeyExists(key_.get(), subKey);
}

bool RegKey::ValueExists(NameRef name) const {
  return RegQueryValueExW(key_.get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) ==
         ERROR_SUCCESS;
}

DWORD RegKey::GetValueType(NameRef name) const {
  DWORD type = 0;
  if (RegQueryValueExW(key_.get(), name.c_str(), nullptr, &type, nullptr, nullptr) !=
      ERROR_SUCCESS) {
    return 0;
  }
  return type;
}

bool RegKey::HasSubKeys() const {
  DWORD subKeys, values;
  QueryCounts(key_.get(), subKeys, values);
  return subKeys != 0;
}

bool RegKey::HasValues() const {
  DWORD subKeys, values;
  QueryCounts(key_.get(), subKeys, values);
  return values != 0;
}

bool RegKey::IsEmpty() const {
  DWORD subKeys, values;
  QueryCounts(key_.get(), subKeys, values);
  return subKeys == 0 && values == 0;
}

bool RegKey::HasAccess(NameRef trustee, ACCESS_MASK mask) const {
  return Guarded(
      kHasAccessError, kHasAccessError,
      [&] { return L"Unable to determine access rights of the key " + GetPath(); },
      [&] { return QorOs::HasEffectiveRights(key_.get(), trustee.c_str(), mask); });
}

std::wstring RegKey::GetPath() const {
  return key_.valid() ? path_ : std::wstring();
}

HKEY RegKey::Release() {
  path_.clear();
  return key_.release();
}

void RegKey::Close() {
  Guarded(
      kCloseKeyError, kCloseKeyError, [&] { return L"Unable to close key " + GetPath(); },
      [&] {
        key_.reset();
        path_.clear();
      });
}

void RegKey::Flush() {
  Guarded(
      kFlushKeyError, kFlushKeyError, [&] { return L"Unable to flush key " + GetPath(); },
      [&] { QorWin32::CheckedRegFlushKey(key_.get()); });
}

// --- reading values ------------------------------------------------------------

std::wstring RegKey::GetString(NameRef name) const {
  return Guarded(
      kGetStringError, kGetStringError, [&] { return ValueMessage(name.c_str(), GetPath()); },
      [&] {
        DWORD type = 0;
        std::vector<wchar_t> text = QueryText(key_.get(), name.c_str(), type);
        if (type == REG_SZ) {
          return std::wstring(text.data());
        }
        if (type == REG_EXPAND_SZ) {
          return ExpandString(text.data());
        }
        RaiseWrongType(kStringWrongTypeError, name.c_str(), GetPath());
      });
}

std::wstring RegKey::GetString(NameRef name, const std::wstring& defaultValue) const {
  return Guarded(
      kGetStringWithDefaultError, kGetStringWithDefaultError,
      [&] { return ValueMessage(name.c_str(), GetPath()); },
      [&] {
        if (!ValueExists(name)) {
          return defaultValue;
        }
        return GetString(name);
      });
}

namespace {

DWORD ReadDword(HKEY key, const wchar_t* name, int wrongTypeCode, const std::wstring& path) {
  DWORD value = 0;
  DWORD type = 0;
  DWORD size = sizeof(value);
  QorWin32::CheckedRegQueryValueEx(key, name, &type, &value, &size);
  if (type != REG_DWORD) {
    RaiseWrongType(wrongTypeCode, name, path);
  }
  return value;
}

} // namespace

bool RegKey::GetBool(NameRef name) const {
  return Guarded(
      kGetBoolError, kGetBoolError, [&] { return ValueMessage(name.c_str(), GetPath()); },
      [&] { return ReadDword(key_.get(), name.c_str(), kBoolWrongTypeError, GetPath()) != 0; });
}

bool RegKey::GetBool(NameRef name, bool defaultValue) const {
  if (!ValueExists(name)) {
    return defaultValue;
  }
  return GetBool(name);
}

int RegKey::GetInt(NameRef name) const {
  return Guarded(
      kGetIntError, kGetIntError, [&] { return ValueMessage(name.c_str(), GetPath()); },
      [&] {
        return static_cast<int>(ReadDword(key_.get(), name.c_str(), kIntWrongTypeError, GetPath()));
      });
}

int RegKey::GetInt(NameRef name, int defaultValue) const {
  if (!ValueExists(name)) {
    return defaultValue;
  }
  try {
    return GetInt(name);
  } catch (QorError::Exception* error) {
    delete error;
    return defaultValue;
  }
}

unsigned int RegKey::GetUInt(NameRef name) const {
  return Guarded(
      kGetUIntError, kGetUIntError, [&] { return ValueMessage(name.c_str(), GetPath()); },
      [&] {
        return static_cast<unsigned int>(
            ReadDword(key_.get(), name.c_str(), kUIntWrongTypeError, GetPath()));
      });
}

unsigned int RegKey::GetUInt(NameRef name, unsigned int defaultValue) const {
  if (!ValueExists(name)) {
    return defaultValue;
  }
  try {
    return GetUInt(name);
  } catch (QorError::Exception* error) {
    delete error;
    return defaultValue;
  }
}

void RegKey::GetBinary(NameRef name, void* buffer, DWORD& size) const {
  Guarded(
      kGetBinaryError, kGetBinaryError, [&] { return ValueMessage(name.c_str(), GetPath()); },
      [&] {
        DWORD type = 0;
        QorWin32::CheckedRegQueryValueEx(key_.get(), name.c_str(), &type, buffer, &size);
        if (type != REG_BINARY) {
          RaiseWrongType(kBinaryWrongTypeError, name.c_str(), GetPath());
        }
      });
}

void RegKey::GetMultiString(NameRef name, std::list<std::wstring>& strings) const {
  Guarded(
      kGetMultiStringError, kGetMultiStringError,
      [&] { return ValueMessage(name.c_str(), GetPath()); },
      [&] {
        DWORD type = 0;
        std::vector<wchar_t> text = QueryText(key_.get(), name.c_str(), type);
        if (type != REG_MULTI_SZ) {
          RaiseWrongType(kMultiStringWrongTypeError, name.c_str(), GetPath());
        }
        std::list<std::wstring> found;
        const wchar_t* end = text.data() + text.size();
        for (const wchar_t* p = text.data(); p < end && *p; p += std::wcslen(p) + 1) {
          found.emplace_back(p);
        }
        strings.splice(strings.end(), found);
      });
}

// --- writing values ------------------------------------------------------------

void RegKey::SetString(NameRef name, NameRef text) {
  Guarded(
      kSetStringError, kSetStringError, [&] { return ValueMessage(name.c_str(), GetPath()); },
      [&] {
        DWORD size = static_cast<DWORD>((std::wcslen(text.c_str()) + 1) * sizeof(wchar_t));
        QorWin32::CheckedRegSetValueEx(key_.get(), name.c_str(), REG_SZ, text.c_str(), size);
      });
}

void RegKey::SetBool(NameRef name, bool value) {
  Guarded(
      kSetBoolError, kSetBoolError, [&] { return ValueMessage(name.c_str(), GetPath()); },
      [&] {
        DWORD data = value ? 1 : 0;
        QorWin32::CheckedRegSetValueEx(key_.get(), name.c_str(), REG_DWORD, &data, sizeof(data));
      });
}

void RegKey::SetInt(NameRef name, int value) {
  Guarded(
      kSetIntError, kSetIntError, [&] { return ValueMessage(name.c_str(), GetPath()); },
      [&] {
        DWORD data = static_cast<DWORD>(value);
        QorWin32::CheckedRegSetValueEx(key_.get(), name.c_str(), REG_DWORD, &data, sizeof(data));
      });
}

void RegKey::SetUInt(NameRef name, unsigned int value) {
  Guarded(
      kSetUIntError, kSetUIntError, [&] { return ValueMessage(name.c_str(), GetPath()); },
      [&] {
        DWORD data = value;
        QorWin32::CheckedRegSetValueEx(key_.get(), name.c_str(), REG_DWORD, &data, sizeof(data));
      });
}

void RegKey::SetBinary(NameRef name, const void* data, DWORD size) {
  Guarded(
      kSetBinaryError, kSetBinaryError, [&] { return ValueMessage(name.c_str(), GetPath()); },
      [&] { QorWin32::CheckedRegSetValueEx(key_.get(), name.c_str(), REG_BINARY, data, size); });
}

bool RegKey::SetStringIfAbsent(NameRef name, NameRef text) {
  if (ValueExists(name)) {
    return true;
  }
  SetString(name, text);
  return false;
}

bool RegKey::SetBoolIfAbsent(NameRef name, bool value) {
  if (ValueExists(name)) {
    return true;
  }
  SetBool(name, value);
  return false;
}

bool RegKey::SetIntIfAbsent(NameRef name, int value) {
  if (ValueExists(name)) {
    return true;
  }
  SetInt(name, value);
  return false;
}

bool RegKey::SetUIntIfAbsent(NameRef name, unsigned int value) {
  if (ValueExists(name)) {
    return true;
  }
  SetUInt(name, value);
  return false;
}

bool RegKey::SetBinaryIfAbsent(NameRef name, const void* data, DWORD size) {
  if (ValueExists(name)) {
    return true;
  }
  SetBinary(name, data, size);
  return false;
}

// --- enumerating and deleting ---------------------------------------------------

void RegKey::GetValueNames(std::vector<std::wstring>& names) const {
  Guarded(
      kGetValueNamesError, kGetValueNamesError,
      [&] { return L"Unable to enumerate registry key values of key " + GetPath(); },
      [&] {
        // 128 characters hold nearly every name; a longer one makes the
        // buffer grow once to the key's longest name.
        std::vector<wchar_t> buffer(128, L'\0');
        bool enlarged = false;
        std::vector<std::wstring> found;
        for (DWORD index = 0;;) {
          DWORD length = static_cast<DWORD>(buffer.size());
          DWORD type = 0;
          LONG status = RegEnumValueW(key_.get(), index, buffer.data(), &length, nullptr, &type,
                                      nullptr, nullptr);
          if (status == ERROR_NO_MORE_ITEMS) {
            break;
          }
          if (status == ERROR_SUCCESS) {
            if (length != 0) {
              found.emplace_back(buffer.data(), length);
            }
            ++index;
            continue;
          }
          if (enlarged) {
            QorWin32::RaiseWin32Error(kEnumValueError, nullptr, static_cast<DWORD>(status));
          }
          DWORD longest = 0;
          LONG infoStatus =
              RegQueryInfoKeyW(key_.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, &longest, nullptr, nullptr, nullptr);
          if (infoStatus != ERROR_SUCCESS) {
            QorWin32::RaiseWin32Error(kQueryInfoKeyError, nullptr, static_cast<DWORD>(infoStatus));
          }
          buffer.assign(std::max<std::size_t>(static_cast<std::size_t>(longest) + 1, 128), L'\0');
          enlarged = true;
        }
        names.insert(names.end(), found.begin(), found.end());
      });
}

void RegKey::GetSubKeyNames(std::vector<std::wstring>& names) const {
  Guarded(
      kGetSubKeyNamesError, kGetSubKeyNamesError,
      [&] { return L"Unable to enumerate subkeys of registry key " + GetPath(); },
      [&] {
        // A key name has at most 255 characters.
        wchar_t buffer[256];
        std::vector<std::wstring> found;
        for (DWORD index = 0;; ++index) {
          DWORD length = 256;
          LONG status = QorWin32::CheckedRegEnumKeyEx(key_.get(), index, buffer, &length);
          if (status == ERROR_NO_MORE_ITEMS) {
            break;
          }
          found.emplace_back(buffer, std::min<DWORD>(length, 255));
        }
        names.insert(names.end(), found.begin(), found.end());
      });
}

bool RegKey::DeleteValue(NameRef name) {
  return Guarded(
      kDeleteValueError, kDeleteValueError,
      [&] {
        return std::wstring(L"Unable to delete the value ") + name.c_str() + L" of registry key " +
               GetPath();
      },
      [&] { return QorWin32::CheckedRegDeleteValue(key_.get(), name.c_str()); });
}

bool RegKey::DeleteDefaultValue() {
  return DeleteValue(L"");
}

bool RegKey::DeleteSubKey(NameRef name, bool recursive) {
  return Guarded(
      kDeleteSubKeyError, kDeleteSubKeyError,
      [&] {
        std::wstring path = GetPath();
        return L"Unable to delete key " + (path.empty() ? path : path + L'\\') + name.c_str();
      },
      [&] {
        // An empty name would make the system delete this key itself.
        if (!*name.c_str()) {
          QorWin32::RaiseWin32Error(recursive ? kSHDeleteKeyError : kRegDeleteKeyError, nullptr,
                                    ERROR_INVALID_PARAMETER);
        }
        if (recursive) {
          return QorWin32::CheckedSHDeleteKey(key_.get(), name.c_str());
        }
        return QorWin32::CheckedRegDeleteKey(key_.get(), name.c_str());
      });
}

int RegKey::DeleteAllValues(bool keepDefault) {
  std::vector<std::wstring> names;
  GetValueNames(names);
  for (const std::wstring& name : names) {
    DeleteValue(name);
  }
  int count = static_cast<int>(names.size());
  if (!keepDefault && DeleteDefaultValue()) {
    ++count;
  }
  return count;
}

int RegKey::DeleteAllSubKeys(bool recursive) {
  std::vector<std::wstring> names;
  GetSubKeyNames(names);
  for (const std::wstring& name : names) {
    DeleteSubKey(name, recursive);
  }
  return static_cast<int>(names.size());
}

DWORD RegKey::DeleteIfEmpty() {
  // Some shell implementations only look for subkeys; a key that still holds
  // values must survive.
  DWORD subKeys, values;
  if (QueryCounts(key_.get(), subKeys, values) && values != 0) {
    return ERROR_KEY_HAS_CHILDREN;
  }
  return SHDeleteEmptyKeyW(key_.get(), L"");
}

} // namespace QorReg
