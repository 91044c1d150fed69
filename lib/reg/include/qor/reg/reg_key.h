// Registry keys and values. A RegKey owns one open key handle together with
// the key's full path, which every error message names. Failing operations
// throw QorReg::RegError (by pointer) whose cause is the lower-level error.
#pragma once

#include "qor/error/error.h"
#include "qor/handle/unique_handle.h"

#include <windows.h>

#include <list>
#include <string>
#include <vector>

namespace QorReg {

// A name argument: a NUL-terminated wide text or a wide string object. A
// null text stands for the empty name (the unnamed default value).
class NameRef {
public:
  NameRef(const wchar_t* text) : text_(text ? text : L"") {}
  NameRef(const std::wstring& text) : text_(text.c_str()) {}
  const wchar_t* c_str() const { return text_; }

private:
  const wchar_t* text_;
};

// "HKEY_LOCAL_MACHINE" and the other predefined roots; empty for any other
// handle, including every opened key.
std::wstring RootKeyName(HKEY key);

class RegKey {
public:
  static const REGSAM AccessRead = 0x20019;  // KEY_READ
  static const REGSAM AccessWrite = 0x20006; // KEY_WRITE
  static const REGSAM AccessAll = 0xF003F;   // KEY_ALL_ACCESS

  RegKey();
  // Takes a predefined root handle.
  explicit RegKey(HKEY root);
  RegKey(HKEY root, NameRef subKey);
  RegKey(HKEY root, NameRef subKey, REGSAM access);
  RegKey(const RegKey& parent, NameRef subKey);
  RegKey(const RegKey& parent, NameRef subKey, REGSAM access);
  RegKey(RegKey&& other) noexcept;
  RegKey& operator=(RegKey&& other) noexcept;
  // A key is owned by exactly one object.
  RegKey& operator=(const RegKey&) = delete;
  ~RegKey() = default;

  // Opening and creating first give up the handle the object holds; a
  // failure leaves the object empty. Every access mask gets AccessRead added.
  void Attach(HKEY root);
  void Open(HKEY root, NameRef subKey);
  void Open(HKEY root, NameRef subKey, REGSAM access);
  void OpenChild(const RegKey& parent, NameRef subKey);
  void OpenChild(const RegKey& parent, NameRef subKey, REGSAM access);
  void Create(HKEY root, NameRef subKey);
  void Create(HKEY root, NameRef subKey, REGSAM access);
  void CreateChild(const RegKey& parent, NameRef subKey, REGSAM access);
  // Creates the key, or opens and empties it: all subkeys with everything
  // below them, then all values, the default value included.
  void CreateEmpty(HKEY root, NameRef subKey, REGSAM access);
  void CreateEmptyChild(const RegKey& parent, NameRef subKey, REGSAM access);

  // Whether the key can be opened for querying values.
  static bool KeyExists(HKEY root, NameRef subKey);
  bool SubKeyExists(NameRef subKey) const;
  bool ValueExists(NameRef name) const;
  // The stored type, or 0 when the value cannot be queried.
  DWORD GetValueType(NameRef name) const;
  bool HasSubKeys() const;
  bool HasValues() const;
  bool IsEmpty() const;
  // Whether the key's access list grants the named user every bit of mask.
  bool HasAccess(NameRef trustee, ACCESS_MASK mask) const;

  // The full path when open, otherwise empty.
  std::wstring GetPath() const;
  HKEY GetHandle() const { return key_.get(); }
  bool IsOpen() const { return key_.valid(); }
  // Hands the handle out without closing it; the object becomes empty.
  HKEY Release();
  void Close();
  void Flush();

  // REG_SZ, or REG_EXPAND_SZ expanded.
  std::wstring GetString(NameRef name) const;
  std::wstring GetString(NameRef name, const std::wstring& defaultValue) const;
  // REG_DWORD.
  bool GetBool(NameRef name) const;
  bool GetBool(NameRef name, bool defaultValue) const;
  int GetInt(NameRef name) const;
  // defaultValue also when reading an existing value fails.
  int GetInt(NameRef name, int defaultValue) const;
  unsigned int GetUInt(NameRef name) const;
  unsigned int GetUInt(NameRef name, unsigned int defaultValue) const;
  // REG_BINARY. size: the buffer size in bytes on entry, the stored size on
  // return (also when the buffer was too small and the read failed).
  void GetBinary(NameRef name, void* buffer, DWORD& size) const;
  // REG_MULTI_SZ; appends each string to strings.
  void GetMultiString(NameRef name, std::list<std::wstring>& strings) const;

  void SetString(NameRef name, NameRef text);
  void SetBool(NameRef name, bool value);
  void SetInt(NameRef name, int value);
  void SetUInt(NameRef name, unsigned int value);
  void SetBinary(NameRef name, const void* data, DWORD size);
  // Write only when the value is absent; true when it already existed.
  bool SetStringIfAbsent(NameRef name, NameRef text);
  bool SetBoolIfAbsent(NameRef name, bool value);
  bool SetIntIfAbsent(NameRef name, int value);
  bool SetUIntIfAbsent(NameRef name, unsigned int value);
  bool SetBinaryIfAbsent(NameRef name, const void* data, DWORD size);

  // Appends every value name but the unnamed default value.
  void GetValueNames(std::vector<std::wstring>& names) const;
  // Appends the name of every direct subkey.
  void GetSubKeyNames(std::vector<std::wstring>& names) const;
  // True when deleted, false when there was no such value or subkey.
  bool DeleteValue(NameRef name);
  bool DeleteDefaultValue();
  bool DeleteSubKey(NameRef name, bool recursive);
  // The number of listed names, plus 1 when the default value was deleted.
  int DeleteAllValues(bool keepDefault);
  // The number of listed subkeys.
  int DeleteAllSubKeys(bool recursive);
  // Deletes the key itself when it has neither subkeys nor values; returns
  // the shell's status.
  DWORD DeleteIfEmpty();

private:
  void OpenUnder(HKEY root, const wchar_t* subKey, REGSAM access, int code, int otherCode,
                 const std::wstring& messageName, const std::wstring& path);
  void CreateUnder(HKEY root, const wchar_t* subKey, REGSAM access, bool empty, int code,
                   int otherCode, const std::wstring& messageName, const std::wstring& path);

  std::wstring path_;
  Qor::UniqueRegKey key_;
};

} // namespace QorReg
