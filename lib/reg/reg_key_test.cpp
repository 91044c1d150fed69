#include "qor/reg/reg_key.h"
#include "qor/reg/error_codes.h"

#include "qor/reg/reg_calls.h"
#include "qor/handle/unique_handle.h"
#include "qor/error/win32_error.h"

#include <shlwapi.h>

#include "qor/test/errors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <list>
#include <memory>
#include <string>

using QorReg::RegKey;

namespace {

using QorTest::Catch;
using QorTest::ErrorPtr;

std::wstring Widen(const char* text) {
  return std::wstring(text, text + strlen(text));
}

std::wstring Win32Line(int code, DWORD systemCode) {
  return L"[" + std::to_wstring(code) + L"] [Win32] [" + std::to_wstring(systemCode) + L"] " +
         QorWin32::DescribeSystemError(systemCode) + L"\n";
}

DWORD SystemCodeOf(QorError::Exception* error) {
  auto* win32 = dynamic_cast<QorWin32::Win32Error*>(error);
  return win32 ? win32->GetSystemCode() : 0xFFFFFFFF;
}

// Each test works below a key of its own, created fresh and removed after.
class RegKeyTest : public ::testing::Test {
protected:
  void SetUp() override {
    subKey_ = L"Software\\VeltranoTests\\" +
              Widen(::testing::UnitTest::GetInstance()->current_test_info()->name());
    path_ = L"HKEY_CURRENT_USER\\" + subKey_;
    SHDeleteKeyW(HKEY_CURRENT_USER, subKey_.c_str());
    key_.Create(HKEY_CURRENT_USER, subKey_, RegKey::AccessAll);
  }
  void TearDown() override {
    key_.Close();
    SHDeleteKeyW(HKEY_CURRENT_USER, subKey_.c_str());
    Qor::UniqueRegKey parent;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_ALL_ACCESS, parent.put()) ==
        ERROR_SUCCESS) {
      SHDeleteEmptyKeyW(parent.get(), L"VeltranoTests");
    }
  }
  void SetRaw(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key_.GetHandle(), name, 0, type,
                                            static_cast<const BYTE*>(data), size));
  }
  void SetRawText(const wchar_t* name, DWORD type, const std::wstring& text) {
    SetRaw(name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }

  std::wstring subKey_;
  std::wstring path_;
  RegKey key_;
};

} // namespace

TEST(RootKeyName, PredefinedRootsOnly) {
  // Handles as Windows defines its predefined keys: a 32-bit value, sign
  // extended to the width of a pointer.
  const auto key = [](DWORD value) {
    return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(value)));
  };
  struct Case {
    DWORD value;
    const wchar_t* name;
  };
  const Case cases[] = {
      {0x80000000, L"HKEY_CLASSES_ROOT"},
      {0x80000001, L"HKEY_CURRENT_USER"},
      {0x80000002, L"HKEY_LOCAL_MACHINE"},
      {0x80000003, L"HKEY_USERS"},
      {0x80000004, L"HKEY_PERFORMANCE_DATA"},
      {0x80000005, L"HKEY_CURRENT_CONFIG"},
      {0x80000006, L"HKEY_DYN_DATA"},
      {0x80000050, L"HKEY_PERFORMANCE_TEXT"},
      {0x80000060, L"HKEY_PERFORMANCE_NLSTEXT"},
      {0x80000007, L""},
      {0x80000051, L""},
      {0, L""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.name, QorReg::RootKeyName(key(c.value))) << c.value;
  }
  EXPECT_EQ(HKEY_LOCAL_MACHINE, key(0x80000002));
  // Not sign extended, the value names no root on 64-bit Windows; on 32-bit
  // it is the same handle.
  const HKEY unextended = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000002u));
  EXPECT_EQ(sizeof(HKEY) == 4 ? L"HKEY_LOCAL_MACHINE" : L"", QorReg::RootKeyName(unextended));
}

TEST_F(RegKeyTest, RootKeyNameOfOpenedKeyIsEmpty) {
  EXPECT_EQ(L"", QorReg::RootKeyName(key_.GetHandle()));
  RegKey root(HKEY_CURRENT_USER);
  EXPECT_EQ(L"HKEY_CURRENT_USER", root.GetPath());
  EXPECT_EQ(HKEY_CURRENT_USER, root.Release());
  EXPECT_EQ(L"", root.GetPath());
}

TEST_F(RegKeyTest, PathsOfNestedOpens) {
  key_.CreateChild(key_, L"X\\Y", RegKey::AccessAll);
  EXPECT_EQ(path_ + L"\\X\\Y", key_.GetPath());
  key_.Open(HKEY_CURRENT_USER, subKey_);

  RegKey x(HKEY_CURRENT_USER, subKey_ + L"\\X");
  EXPECT_EQ(path_ + L"\\X", x.GetPath());
  RegKey y(x, L"Y");
  EXPECT_EQ(path_ + L"\\X\\Y", y.GetPath());
  // A key can open a child of itself.
  x.OpenChild(x, L"Y", KEY_QUERY_VALUE);
  EXPECT_EQ(path_ + L"\\X\\Y", x.GetPath());

  // A failed open under an ordinary key names only the subkey, and leaves
  // the object empty.
  ErrorPtr error = Catch([&] { y.OpenChild(x, L"Missing"); });
  ASSERT_TRUE(error);
  EXPECT_EQ(L"[101] Unable to open registry key Missing\n\nCaused by: " +
                Win32Line(QorReg::kRegOpenKeyExError, ERROR_FILE_NOT_FOUND),
            error->GetFullText(true));
  EXPECT_FALSE(y.IsOpen());
  EXPECT_EQ(L"", y.GetPath());

  // Under a root the message has the whole path.
  error = Catch([&] { RegKey missing(HKEY_CURRENT_USER, subKey_ + L"\\Missing", KEY_WRITE); });
  ASSERT_TRUE(error);
  EXPECT_EQ(L"[151] Unable to open registry key " + path_ + L"\\Missing\n\nCaused by: " +
                Win32Line(QorReg::kRegOpenKeyExError, ERROR_FILE_NOT_FOUND),
            error->GetFullText(true));
}

TEST_F(RegKeyTest, CreateFailuresNameTheKey) {
  // A parent whose handle is not open.
  RegKey closed;
  struct Case {
    int code;
    std::function<void(RegKey&)> create;
  };
  const Case cases[] = {
      {QorReg::kCreateKeyError, [&](RegKey& k) { k.Create(closed.GetHandle(), L"New"); }},
      {QorReg::kCreateKeyWithAccessError,
       [&](RegKey& k) { k.Create(closed.GetHandle(), L"New", RegKey::AccessWrite); }},
      {QorReg::kCreateKeyWithAccessError,
       [&](RegKey& k) { k.CreateChild(closed, L"New", RegKey::AccessWrite); }},
      {QorReg::kCreateEmptyKeyError,
       [&](RegKey& k) { k.CreateEmptyChild(closed, L"New", RegKey::AccessAll); }},
  };
  for (const Case& c : cases) {
    RegKey created(HKEY_CURRENT_USER, subKey_);
    ErrorPtr error = Catch([&] { c.create(created); });
    ASSERT_TRUE(error) << c.code;
    EXPECT_EQ(L"[" + std::to_wstring(c.code) +
                  L"] Unable to create registry key New\n\nCaused by: " +
                  Win32Line(QorReg::kRegCreateKeyExError, ERROR_INVALID_HANDLE),
              error->GetFullText(true));
    EXPECT_FALSE(created.IsOpen());
  }
  // Under a root the message has the whole path. A volatile key can only
  // have volatile subkeys, and Create makes non-volatile ones.
  Qor::UniqueRegKey volatileKey;
  ASSERT_EQ(ERROR_SUCCESS,
            RegCreateKeyExW(key_.GetHandle(), L"Volatile", 0, nullptr, REG_OPTION_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, volatileKey.put(), nullptr));
  volatileKey.reset();
  ErrorPtr error = Catch([&] { RegKey().Create(HKEY_CURRENT_USER, subKey_ + L"\\Volatile\\C"); });
  ASSERT_TRUE(error);
  EXPECT_EQ(L"[102] Unable to create registry key " + path_ + L"\\Volatile\\C\n\nCaused by: " +
                Win32Line(QorReg::kRegCreateKeyExError, ERROR_CHILD_MUST_BE_VOLATILE),
            error->GetFullText(true));
}

TEST_F(RegKeyTest, MissingValueReadAsString) {
  ErrorPtr error = Catch([&] { key_.GetString(L"Missing"); });
  ASSERT_TRUE(error);
  EXPECT_TRUE(dynamic_cast<QorReg::RegError*>(error.get()));
  EXPECT_EQ(L"[112] Unable to get value Missing of the key " + path_ + L"\n\nCaused by: " +
                Win32Line(QorReg::kRegQueryValueExError, ERROR_FILE_NOT_FOUND),
            error->GetFullText(true));
  EXPECT_FALSE(QorWin32::DescribeSystemError(ERROR_FILE_NOT_FOUND).empty());
  EXPECT_EQ(L"fallback", key_.GetString(L"Missing", L"fallback"));
}

TEST_F(RegKeyTest, WrongTypesAreCauses) {
  DWORD number = 5;
  SetRaw(L"Number", REG_DWORD, &number, 4);
  SetRawText(L"Text", REG_SZ, L"x");
  BYTE bytes[2] = {1, 2};
  SetRaw(L"Bytes", REG_BINARY, bytes, 2);

  struct Case {
    const char* what;
    const wchar_t* name;
    int code;
    int causeCode;
    std::function<void()> read;
  };
  std::list<std::wstring> strings;
  BYTE buffer[16];
  DWORD size = sizeof(buffer);
  const Case cases[] = {
      {"string", L"Number", QorReg::kGetStringError, QorReg::kStringWrongTypeError,
       [&] { key_.GetString(L"Number"); }},
      {"string with default", L"Number", QorReg::kGetStringWithDefaultError,
       QorReg::kGetStringError, [&] { key_.GetString(L"Number", L"d"); }},
      {"bool", L"Text", QorReg::kGetBoolError, QorReg::kBoolWrongTypeError,
       [&] { key_.GetBool(L"Text"); }},
      {"bool with default", L"Text", QorReg::kGetBoolError, QorReg::kBoolWrongTypeError,
       [&] { key_.GetBool(L"Text", true); }},
      {"int", L"Text", QorReg::kGetIntError, QorReg::kIntWrongTypeError,
       [&] { key_.GetInt(L"Text"); }},
      {"uint", L"Bytes", QorReg::kGetUIntError, QorReg::kUIntWrongTypeError,
       [&] { key_.GetUInt(L"Bytes"); }},
      {"binary", L"Number", QorReg::kGetBinaryError, QorReg::kBinaryWrongTypeError,
       [&] { key_.GetBinary(L"Number", buffer, size); }},
      {"multi", L"Text", QorReg::kGetMultiStringError, QorReg::kMultiStringWrongTypeError,
       [&] { key_.GetMultiString(L"Text", strings); }},
  };
  for (const Case& c : cases) {
    ErrorPtr error = Catch(c.read);
    ASSERT_TRUE(error) << c.what;
    std::wstring words = L"Unable to get value " + std::wstring(c.name) + L" of the key " + path_;
    EXPECT_EQ(c.code, error->GetCode()) << c.what;
    EXPECT_EQ(words + L"\n", error->GetMessageText()) << c.what;
    ASSERT_TRUE(error->GetCause()) << c.what;
    EXPECT_EQ(c.causeCode, error->GetCause()->GetCode()) << c.what;
    EXPECT_TRUE(dynamic_cast<QorReg::RegError*>(error->GetCause())) << c.what;
  }
  ErrorPtr error = Catch([&] { key_.GetString(L"Number"); });
  ASSERT_TRUE(error);
  std::wstring words = L"Unable to get value Number of the key " + path_ + L"\n";
  EXPECT_EQ(L"[112] " + words + L"\nCaused by: [111] " + words, error->GetFullText(true));

  // Defaults of int and uint swallow errors of an existing value.
  EXPECT_EQ(7, key_.GetInt(L"Text", 7));
  EXPECT_EQ(9u, key_.GetUInt(L"Bytes", 9u));
  EXPECT_EQ(5, key_.GetInt(L"Number", 7));
  EXPECT_TRUE(key_.GetBool(L"Missing", true));
  EXPECT_EQ(-3, key_.GetInt(L"Missing", -3));
  EXPECT_EQ(std::list<std::wstring>(), strings);
}

TEST_F(RegKeyTest, RoundTrips) {
  key_.SetString(L"S", L"text with spaces");
  key_.SetString(std::wstring(L"Empty"), std::wstring());
  key_.SetBool(L"T", true);
  key_.SetBool(L"F", false);
  key_.SetInt(L"I", -5);
  key_.SetUInt(L"U", 0xFFFFFFFFu);
  const BYTE bytes[] = {0, 1, 2, 0xFF};
  key_.SetBinary(L"B", bytes, sizeof(bytes));
  key_.SetString(nullptr, L"default");

  EXPECT_EQ(L"text with spaces", key_.GetString(L"S"));
  EXPECT_EQ(L"", key_.GetString(L"Empty"));
  EXPECT_EQ(L"default", key_.GetString(L""));
  EXPECT_TRUE(key_.GetBool(L"T"));
  EXPECT_FALSE(key_.GetBool(L"F"));
  EXPECT_EQ(-5, key_.GetInt(L"I"));
  EXPECT_EQ(0xFFFFFFFFu, key_.GetUInt(L"I") | key_.GetUInt(L"U"));
  EXPECT_EQ(-1, key_.GetInt(L"U"));
  BYTE read[8] = {};
  DWORD size = sizeof(read);
  key_.GetBinary(L"B", read, size);
  EXPECT_EQ(4u, size);
  EXPECT_EQ(0, memcmp(bytes, read, 4));

  struct TypeCase {
    const wchar_t* name;
    DWORD type;
  };
  const TypeCase types[] = {{L"S", REG_SZ},     {L"T", REG_DWORD}, {L"U", REG_DWORD},
                            {L"B", REG_BINARY}, {L"", REG_SZ},     {L"Missing", 0}};
  for (const TypeCase& c : types) {
    EXPECT_EQ(c.type, key_.GetValueType(c.name)) << c.name;
    EXPECT_EQ(c.type != 0, key_.ValueExists(c.name)) << c.name;
  }
  // The stored text has its terminator: (length + 1) * 2 bytes.
  DWORD stored = 0;
  ASSERT_EQ(ERROR_SUCCESS,
            RegQueryValueExW(key_.GetHandle(), L"S", nullptr, nullptr, nullptr, &stored));
  EXPECT_EQ(34u, stored);
}

TEST_F(RegKeyTest, IfAbsentSettersKeepExistingData) {
  key_.SetString(L"S", L"old");
  EXPECT_TRUE(key_.SetStringIfAbsent(L"S", L"new"));
  EXPECT_EQ(L"old", key_.GetString(L"S"));
  EXPECT_FALSE(key_.SetStringIfAbsent(L"S2", L"new"));
  EXPECT_EQ(L"new", key_.GetString(L"S2"));

  EXPECT_TRUE(key_.SetIntIfAbsent(L"S", 3));
  EXPECT_EQ(REG_SZ, key_.GetValueType(L"S"));
  EXPECT_FALSE(key_.SetIntIfAbsent(L"I", 3));
  EXPECT_FALSE(key_.SetUIntIfAbsent(L"U", 4));
  EXPECT_FALSE(key_.SetBoolIfAbsent(L"B", true));
  EXPECT_TRUE(key_.SetBoolIfAbsent(L"B", false));
  const BYTE data[] = {9};
  EXPECT_FALSE(key_.SetBinaryIfAbsent(L"X", data, 1));
  EXPECT_TRUE(key_.SetBinaryIfAbsent(L"X", data, 0));
  EXPECT_EQ(3, key_.GetInt(L"I"));
  EXPECT_EQ(4u, key_.GetUInt(L"U"));
  EXPECT_TRUE(key_.GetBool(L"B"));
}

TEST_F(RegKeyTest, SettersReportTheKeyAndValue) {
  RegKey readOnly(HKEY_CURRENT_USER, subKey_);
  const BYTE data[] = {1};
  struct Case {
    int code;
    std::function<void()> write;
  };
  const Case cases[] = {
      {QorReg::kSetStringError, [&] { readOnly.SetString(L"V", L"x"); }},
      {QorReg::kSetBoolError, [&] { readOnly.SetBool(L"V", true); }},
      {QorReg::kSetIntError, [&] { readOnly.SetInt(L"V", 1); }},
      {QorReg::kSetUIntError, [&] { readOnly.SetUInt(L"V", 1); }},
      {QorReg::kSetBinaryError, [&] { readOnly.SetBinary(L"V", data, 1); }},
      {QorReg::kSetStringError, [&] { readOnly.SetStringIfAbsent(L"V", L"x"); }},
  };
  for (const Case& c : cases) {
    ErrorPtr error = Catch(c.write);
    if (!error) {
      GTEST_SKIP() << "Wine lets a key opened for reading set values";
    }
    EXPECT_EQ(c.code, error->GetCode());
    EXPECT_EQ(L"Unable to get value V of the key " + path_ + L"\n", error->GetMessageText());
    ASSERT_TRUE(error->GetCause());
    EXPECT_EQ(QorReg::kRegSetValueExError, error->GetCause()->GetCode());
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), SystemCodeOf(error->GetCause()));
  }
}

TEST_F(RegKeyTest, ExpandableStringsComeBackExpanded) {
  struct Case {
    std::size_t length; // of the variable's value
  };
  const Case cases[] = {{1}, {10}, {121}, {122}, {123}, {200}, {2000}};
  for (const Case& c : cases) {
    std::wstring value(c.length, L'v');
    value.back() = L'e';
    ASSERT_TRUE(SetEnvironmentVariableW(L"VELTRANO_TEST_VAR", value.c_str()));
    // "<%VAR%>" expands to length + 4 characters.
    SetRawText(L"Expand", REG_EXPAND_SZ, L"<<%VELTRANO_TEST_VAR%>>");
    EXPECT_EQ(L"<<" + value + L">>", key_.GetString(L"Expand")) << c.length;
  }
  SetEnvironmentVariableW(L"VELTRANO_TEST_VAR", nullptr);
  SetRawText(L"Expand", REG_EXPAND_SZ, L"%VELTRANO_TEST_VAR%");
  EXPECT_EQ(L"%VELTRANO_TEST_VAR%", key_.GetString(L"Expand"));
  // A plain string is not expanded.
  SetRawText(L"Plain", REG_SZ, L"%PATH%");
  EXPECT_EQ(L"%PATH%", key_.GetString(L"Plain"));
}

TEST_F(RegKeyTest, StringsWithoutTerminatorOrOddSize) {
  const wchar_t text[] = {L'a', L'b', L'c'};
  SetRaw(L"NoNul", REG_SZ, text, sizeof(text));
  EXPECT_EQ(L"abc", key_.GetString(L"NoNul"));
  SetRaw(L"Odd", REG_SZ, text, 5);
  EXPECT_EQ(L"ab", key_.GetString(L"Odd"));
  SetRaw(L"Nothing", REG_SZ, text, 0);
  EXPECT_EQ(L"", key_.GetString(L"Nothing"));
}

TEST_F(RegKeyTest, MultiStrings) {
  struct Case {
    std::wstring data; // as stored, NULs included
    std::list<std::wstring> expected;
  };
  const Case cases[] = {
      {std::wstring(L"one\0two\0three\0\0", 15), {L"one", L"two", L"three"}},
      {std::wstring(L"one\0\0after\0\0", 12), {L"one"}},
      {std::wstring(L"\0", 1), {}},
      {std::wstring(L"unterminated", 12), {L"unterminated"}},
  };
  for (const Case& c : cases) {
    SetRaw(L"Multi", REG_MULTI_SZ, c.data.data(),
           static_cast<DWORD>(c.data.size() * sizeof(wchar_t)));
    std::list<std::wstring> strings = {L"kept"};
    key_.GetMultiString(L"Multi", strings);
    std::list<std::wstring> expected = c.expected;
    expected.push_front(L"kept");
    EXPECT_EQ(expected, strings);
  }
}

TEST_F(RegKeyTest, BinaryIntoShortBuffer) {
  BYTE data[40];
  for (int i = 0; i < 40; ++i) {
    data[i] = static_cast<BYTE>(i);
  }
  key_.SetBinary(L"Blob", data, sizeof(data));
  BYTE buffer[16];
  DWORD size = sizeof(buffer);
  ErrorPtr error = Catch([&] { key_.GetBinary(L"Blob", buffer, size); });
  ASSERT_TRUE(error);
  EXPECT_EQ(L"[120] Unable to get value Blob of the key " + path_ + L"\n\nCaused by: " +
                Win32Line(QorReg::kRegQueryValueExError, ERROR_MORE_DATA),
            error->GetFullText(true));
  // The caller learns the size it needs.
  EXPECT_EQ(40u, size);
  BYTE big[64];
  key_.GetBinary(L"Blob", big, size);
  EXPECT_EQ(40u, size);
  EXPECT_EQ(0, memcmp(data, big, 40));
}

TEST_F(RegKeyTest, ValueNamesIncludeLongNamesButNotTheDefault) {
  std::vector<std::wstring> names = {L"kept"};
  key_.SetString(L"", L"default only");
  key_.GetValueNames(names);
  EXPECT_EQ(std::vector<std::wstring>{L"kept"}, names);

  const std::wstring longName = L"L" + std::wstring(199, L'n');
  key_.SetString(L"A", L"1");
  key_.SetString(longName, L"2");
  key_.SetString(std::wstring(127, L'x'), L"3");
  key_.SetString(std::wstring(128, L'y'), L"4");
  key_.SetString(L"Z", L"5");
  names.clear();
  key_.GetValueNames(names);
  std::sort(names.begin(), names.end());
  std::vector<std::wstring> expected = {L"A", longName, L"Z", std::wstring(127, L'x'),
                                        std::wstring(128, L'y')};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, names);
  EXPECT_EQ(L"2", key_.GetString(longName));
}

TEST_F(RegKeyTest, SubKeyNamesAndCounts) {
  EXPECT_TRUE(key_.IsEmpty());
  EXPECT_FALSE(key_.HasSubKeys());
  EXPECT_FALSE(key_.HasValues());
  RegKey child;
  child.CreateChild(key_, L"B", RegKey::AccessAll);
  child.CreateChild(key_, L"A", RegKey::AccessAll);
  child.CreateChild(key_, std::wstring(255, L'k'), RegKey::AccessAll);
  child.CreateChild(key_, L"A\\Deeper", RegKey::AccessAll);
  EXPECT_TRUE(key_.HasSubKeys());
  EXPECT_FALSE(key_.HasValues());
  EXPECT_FALSE(key_.IsEmpty());
  std::vector<std::wstring> names;
  key_.GetSubKeyNames(names);
  std::sort(names.begin(), names.end());
  EXPECT_EQ((std::vector<std::wstring>{L"A", L"B", std::wstring(255, L'k')}), names);
  EXPECT_TRUE(key_.SubKeyExists(L"A\\Deeper"));
  EXPECT_FALSE(key_.SubKeyExists(L"C"));
  EXPECT_TRUE(RegKey::KeyExists(HKEY_CURRENT_USER, subKey_ + L"\\A"));
  EXPECT_FALSE(RegKey::KeyExists(HKEY_CURRENT_USER, subKey_ + L"\\C"));
  key_.SetInt(L"v", 1);
  EXPECT_TRUE(key_.HasValues());

  // A closed key has no counts and no path; enumerating it fails.
  RegKey closed;
  EXPECT_TRUE(closed.IsEmpty());
  EXPECT_FALSE(closed.ValueExists(L"v"));
  ErrorPtr error = Catch([&] { closed.GetSubKeyNames(names); });
  ASSERT_TRUE(error);
  EXPECT_EQ(QorReg::kGetSubKeyNamesError, error->GetCode());
  EXPECT_EQ(L"Unable to enumerate subkeys of registry key \n", error->GetMessageText());
  ASSERT_TRUE(error->GetCause());
  EXPECT_EQ(QorReg::kRegEnumKeyExError, error->GetCause()->GetCode());
  // Value names: the failed listing asks for the longest name, which fails too.
  std::vector<std::wstring> values;
  error = Catch([&] { closed.GetValueNames(values); });
  ASSERT_TRUE(error);
  EXPECT_EQ(L"[103] Unable to enumerate registry key values of key \n\nCaused by: " +
                Win32Line(QorReg::kQueryInfoKeyError, ERROR_INVALID_HANDLE),
            error->GetFullText(true));
}

TEST_F(RegKeyTest, DeleteValues) {
  key_.SetString(L"", L"default");
  key_.SetString(L"One", L"1");
  key_.SetInt(L"Two", 2);
  EXPECT_EQ(2, key_.DeleteAllValues(true));
  EXPECT_TRUE(key_.ValueExists(L""));
  EXPECT_FALSE(key_.ValueExists(L"One"));

  key_.SetString(L"One", L"1");
  key_.SetInt(L"Two", 2);
  EXPECT_EQ(3, key_.DeleteAllValues(false));
  EXPECT_FALSE(key_.HasValues());
  EXPECT_EQ(0, key_.DeleteAllValues(false));

  key_.SetInt(L"Three", 3);
  EXPECT_TRUE(key_.DeleteValue(L"Three"));
  EXPECT_FALSE(key_.DeleteValue(L"Three"));
  EXPECT_FALSE(key_.DeleteDefaultValue());

  RegKey readOnly(HKEY_CURRENT_USER, subKey_);
  key_.SetInt(L"Four", 4);
  ErrorPtr error = Catch([&] { readOnly.DeleteValue(L"Four"); });
  if (!error) {
    GTEST_SKIP() << "Wine lets a key opened for reading delete values";
  }
  EXPECT_EQ(L"[104] Unable to delete the value Four of registry key " + path_ + L"\n\nCaused by: " +
                Win32Line(QorReg::kRegDeleteValueError, ERROR_ACCESS_DENIED),
            error->GetFullText(true));
}

TEST_F(RegKeyTest, DeleteSubKeys) {
  RegKey child;
  child.CreateChild(key_, L"Parent\\Child\\Grandchild", RegKey::AccessAll);
  child.SetInt(L"v", 1);
  child.CreateChild(key_, L"Leaf", RegKey::AccessAll);
  child.Close();

  ErrorPtr error = Catch([&] { key_.DeleteSubKey(L"Parent", false); });
  ASSERT_TRUE(error);
  EXPECT_EQ(QorReg::kDeleteSubKeyError, error->GetCode());
  EXPECT_EQ(L"Unable to delete key " + path_ + L"\\Parent\n", error->GetMessageText());
  ASSERT_TRUE(error->GetCause());
  EXPECT_EQ(QorReg::kRegDeleteKeyError, error->GetCause()->GetCode());
  EXPECT_NE(0u, SystemCodeOf(error->GetCause()));
  EXPECT_TRUE(key_.SubKeyExists(L"Parent\\Child\\Grandchild"));

  EXPECT_TRUE(key_.DeleteSubKey(L"Leaf", false));
  EXPECT_FALSE(key_.DeleteSubKey(L"Leaf", false));
  EXPECT_TRUE(key_.DeleteSubKey(L"Parent", true));
  EXPECT_FALSE(key_.SubKeyExists(L"Parent"));
  EXPECT_FALSE(key_.DeleteSubKey(L"Parent", true));

  child.CreateChild(key_, L"A\\Deep", RegKey::AccessAll);
  child.CreateChild(key_, L"B", RegKey::AccessAll);
  child.Close();
  EXPECT_EQ(2, key_.DeleteAllSubKeys(true));
  EXPECT_FALSE(key_.HasSubKeys());

  // A key without a path names the subkey alone.
  RegKey raw;
  raw.Attach(key_.GetHandle());
  EXPECT_EQ(L"", raw.GetPath());
  child.CreateChild(key_, L"P\\Q", RegKey::AccessAll);
  child.Close();
  error = Catch([&] { raw.DeleteSubKey(L"P", false); });
  raw.Release();
  ASSERT_TRUE(error);
  EXPECT_EQ(L"Unable to delete key P\n", error->GetMessageText());
}

TEST_F(RegKeyTest, DeleteSubKeyWithEmptyNameNeverDeletesTheKeyItself) {
  key_.SetInt(L"kept", 7);
  for (bool recursive : {false, true}) {
    ErrorPtr error = Catch([&] { key_.DeleteSubKey(L"", recursive); });
    ASSERT_TRUE(error);
    EXPECT_EQ(QorReg::kDeleteSubKeyError, error->GetCode());
    ASSERT_TRUE(error->GetCause());
    EXPECT_EQ(recursive ? QorReg::kSHDeleteKeyError : QorReg::kRegDeleteKeyError,
              error->GetCause()->GetCode());
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), SystemCodeOf(error->GetCause()));
    EXPECT_TRUE(key_.ValueExists(L"kept"));
  }
}

TEST_F(RegKeyTest, CreateEmpty) {
  RegKey target;
  target.CreateEmpty(HKEY_CURRENT_USER, subKey_ + L"\\Fresh", RegKey::AccessAll);
  EXPECT_EQ(path_ + L"\\Fresh", target.GetPath());
  EXPECT_TRUE(target.IsEmpty());

  target.SetString(L"", L"default");
  target.SetString(L"Named", L"x");
  RegKey child;
  child.CreateChild(target, L"Sub\\Deeper", RegKey::AccessAll);
  child.SetInt(L"v", 1);
  child.Close();
  target.Close();

  target.CreateEmpty(HKEY_CURRENT_USER, subKey_ + L"\\Fresh", RegKey::AccessAll);
  EXPECT_TRUE(target.IsEmpty());
  EXPECT_FALSE(target.ValueExists(L""));
  EXPECT_TRUE(key_.SubKeyExists(L"Fresh"));

  // Under an ordinary parent the path is the subkey alone.
  target.CreateEmptyChild(key_, L"Other", RegKey::AccessAll);
  EXPECT_EQ(L"Other", target.GetPath());
  EXPECT_TRUE(key_.SubKeyExists(L"Other"));

  // A failure names the key and leaves the object empty.
  RegKey readOnly(HKEY_CURRENT_USER, subKey_);
  ErrorPtr error =
      Catch([&] { target.CreateEmpty(readOnly.GetHandle(), L"Fresh", KEY_QUERY_VALUE); });
  ASSERT_TRUE(error);
  EXPECT_EQ(QorReg::kCreateEmptyKeyError, error->GetCode());
  EXPECT_EQ(L"Unable to create registry key Fresh\n", error->GetMessageText());
  EXPECT_FALSE(target.IsOpen());
}

TEST_F(RegKeyTest, HasAccess) {
  wchar_t user[256];
  DWORD size = 256;
  ASSERT_TRUE(GetUserNameW(user, &size));
  // No rights asked: every key grants that.
  EXPECT_TRUE(key_.HasAccess(user, 0));
  EXPECT_TRUE(key_.HasAccess(std::wstring(user), KEY_QUERY_VALUE));
  RegKey closed;
  EXPECT_FALSE(closed.HasAccess(user, 0));
}

TEST_F(RegKeyTest, FlushCloseReleaseAndDeleteIfEmpty) {
  key_.Flush();
  RegKey empty;
  ErrorPtr error = Catch([&] { empty.Flush(); });
  ASSERT_TRUE(error);
  EXPECT_EQ(L"[125] Unable to flush key \n\nCaused by: " +
                Win32Line(QorReg::kRegFlushKeyError, ERROR_INVALID_HANDLE),
            error->GetFullText(true));

  RegKey child;
  child.CreateChild(key_, L"Gone", RegKey::AccessAll);
  // A key with only a value, then with only a subkey, is kept.
  child.SetInt(L"v", 1);
  EXPECT_NE(static_cast<DWORD>(ERROR_SUCCESS), child.DeleteIfEmpty());
  EXPECT_EQ(1, child.GetInt(L"v"));
  child.DeleteAllValues(false);
  RegKey(key_, L"Gone").Close();
  RegKey grandchild;
  grandchild.CreateChild(child, L"Sub", RegKey::AccessAll);
  grandchild.Close();
  EXPECT_NE(static_cast<DWORD>(ERROR_SUCCESS), child.DeleteIfEmpty());
  EXPECT_TRUE(child.SubKeyExists(L"Sub"));
  child.DeleteAllSubKeys(false);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), child.DeleteIfEmpty());
  child.Close();
  EXPECT_FALSE(key_.SubKeyExists(L"Gone"));

  RegKey moved(std::move(key_));
  EXPECT_FALSE(key_.IsOpen());
  EXPECT_EQ(path_, moved.GetPath());
  HKEY handle = moved.Release();
  EXPECT_FALSE(moved.IsOpen());
  EXPECT_EQ(L"", moved.GetPath());
  key_.Attach(handle);
  EXPECT_EQ(L"", key_.GetPath());
  EXPECT_TRUE(key_.IsOpen());
}

TEST(RegCalls, StatusesThatAreResults) {
  const std::wstring subKey = L"Software\\VeltranoTests\\RegCalls";
  SHDeleteKeyW(HKEY_CURRENT_USER, subKey.c_str());
  DWORD disposition = 0;
  Qor::UniqueRegKey key = QorWin32::CheckedRegCreateKeyEx(HKEY_CURRENT_USER, subKey.c_str(), 0,
                                                          KEY_ALL_ACCESS, nullptr, &disposition);
  EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
  EXPECT_FALSE(QorWin32::CheckedRegDeleteValue(key.get(), L"none"));
  EXPECT_FALSE(QorWin32::CheckedRegDeleteKey(key.get(), L"none"));
  EXPECT_FALSE(QorWin32::CheckedSHDeleteKey(key.get(), L"none"));
  wchar_t name[256];
  DWORD length = 256;
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, QorWin32::CheckedRegEnumKeyEx(key.get(), 0, name, &length));
  key.reset();
  EXPECT_TRUE(QorWin32::CheckedSHDeleteKey(HKEY_CURRENT_USER, subKey.c_str()));
  SHDeleteEmptyKeyW(HKEY_CURRENT_USER, L"Software\\VeltranoTests");

  ErrorPtr error =
      Catch([&] { QorWin32::CheckedRegOpenKeyEx(HKEY_CURRENT_USER, subKey.c_str(), KEY_READ); });
  ASSERT_TRUE(error);
  EXPECT_EQ(Win32Line(QorReg::kRegOpenKeyExError, ERROR_FILE_NOT_FOUND), error->GetFullText(true));
}

TEST_F(RegKeyTest, ShellEmptyKeyDeletionLooksAtValues) {
  // DeleteIfEmpty checks for values itself; this records whether the shell
  // call would have kept such a key on its own.
  RegKey child;
  child.CreateChild(key_, L"WithValue", RegKey::AccessAll);
  child.SetInt(L"v", 1);
  child.Close();
  LONG status = static_cast<LONG>(SHDeleteEmptyKeyW(key_.GetHandle(), L"WithValue"));
  if (status == ERROR_SUCCESS) {
    GTEST_SKIP() << "Wine's SHDeleteEmptyKeyW deletes a key that still has values; Windows "
                    "keeps it";
  }
  EXPECT_TRUE(key_.SubKeyExists(L"WithValue"));
}
