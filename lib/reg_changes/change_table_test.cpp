#include "qor/reg_changes/change_table.h"
#include "qor/reg/error_codes.h"

#include "qor/env/env.h"
#include "qor/error/error.h"
#include "qor/env/profiles.h"
#include "qor/reg/reg_key.h"

#include "qor/test/errors.h"

#include <gtest/gtest.h>

#include <shlwapi.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using QorReg::RegChange;
using QorReg::RegKey;
using QorReg::RegKeyRef;
using QorTest::Catch;
using QorTest::ErrorPtr;

const wchar_t kBase[] = L"Software\\VeltranoTests\\Changes";

std::wstring Sub(const wchar_t* name) {
  return std::wstring(kBase) + L"\\" + name;
}

// Rows name HKEY_CURRENT_USER and are resolved through the current user's
// SID under HKEY_USERS; the checks read back through HKEY_CURRENT_USER.
class ChangeTableTest : public ::testing::Test {
protected:
  void SetUp() override {
    user_.accountName = QorEnv::GetCurrentUserName();
    ASSERT_FALSE(user_.accountName.empty());
    base_.CreateEmpty(HKEY_CURRENT_USER, kBase, RegKey::AccessAll);
  }
  void TearDown() override {
    base_.Close();
    RegKey parent(HKEY_CURRENT_USER, L"Software\\VeltranoTests", RegKey::AccessAll);
    parent.DeleteSubKey(L"Changes", true);
  }
  RegKey Make(const wchar_t* name) {
    RegKey key;
    key.CreateChild(base_, name, RegKey::AccessAll);
    return key;
  }
  static RegKey Read(const wchar_t* name) { return RegKey(HKEY_CURRENT_USER, Sub(name)); }

  QorReg::UserRecord user_;
  RegKey base_;
};

TEST_F(ChangeTableTest, SetCreateAndEmptyValues) {
  for (const wchar_t* name : {L"Set", L"Create", L"Empty"}) {
    RegKey key = Make(name);
    key.SetString(L"A", L"old");
    key.SetString(L"B", L"keep");
  }
  const std::wstring set = Sub(L"Set"), create = Sub(L"Create"), empty = Sub(L"Empty");
  const wchar_t* names[] = {L"A", L"C", nullptr};
  const wchar_t* data[] = {L"new", L"c", nullptr};
  const RegChange rows[] = {
      {HKEY_CURRENT_USER, set.c_str(), names, data, QorReg::ChangeSetValues},
      {HKEY_CURRENT_USER, create.c_str(), names, data,
       QorReg::ChangeSetValues | QorReg::ChangeCreateValues},
      // The data array is not read for empty values.
      {HKEY_CURRENT_USER, empty.c_str(), names, nullptr,
       QorReg::ChangeSetValues | QorReg::ChangeEmptyValues | QorReg::ChangeCreateValues},
  };
  QorReg::ApplyRegistryChanges(rows, 3, user_);

  RegKey s = Read(L"Set");
  EXPECT_EQ(L"new", s.GetString(L"A"));
  EXPECT_FALSE(s.ValueExists(L"C")); // only existing values are overwritten
  EXPECT_EQ(L"keep", s.GetString(L"B"));
  RegKey c = Read(L"Create");
  EXPECT_EQ(L"new", c.GetString(L"A"));
  EXPECT_EQ(L"c", c.GetString(L"C"));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), c.GetValueType(L"C"));
  RegKey e = Read(L"Empty");
  EXPECT_EQ(L"", e.GetString(L"A"));
  EXPECT_TRUE(e.ValueExists(L"C"));
  EXPECT_EQ(L"", e.GetString(L"C"));
  EXPECT_EQ(L"keep", e.GetString(L"B"));
}

TEST_F(ChangeTableTest, DeletesValuesAndSubKeys) {
  for (const wchar_t* name : {L"Values", L"Both", L"AllSubs"}) {
    RegKey key = Make(name);
    key.SetString(L"", L"default");
    key.SetString(L"A", L"a");
    key.SetString(L"B", L"b");
    RegKey deep;
    deep.CreateChild(key, L"S1\\Deep", RegKey::AccessAll);
    RegKey s2;
    s2.CreateChild(key, L"S2", RegKey::AccessAll);
  }
  {
    RegKey allSubs = Read(L"AllSubs");
    RegKey(allSubs, L"S1", RegKey::AccessAll).DeleteSubKey(L"Deep", false);
  }
  const std::wstring values = Sub(L"Values"), both = Sub(L"Both"), allSubs = Sub(L"AllSubs");
  const wchar_t* valueNames[] = {L"A", L"Missing", nullptr};
  const wchar_t* subKeys[] = {L"S1", nullptr};
  const RegChange rows[] = {
      {HKEY_CURRENT_USER, values.c_str(), valueNames, nullptr, QorReg::ChangeDeleteValues},
      // Subkeys first, then every value, the default included.
      {HKEY_CURRENT_USER, both.c_str(), valueNames, subKeys,
       QorReg::ChangeDeleteSubKeys | QorReg::ChangeDeleteAllValues},
      {HKEY_CURRENT_USER, allSubs.c_str(), nullptr, nullptr, QorReg::ChangeDeleteAllSubKeys},
  };
  QorReg::ApplyRegistryChanges(rows, 3, user_);

  RegKey v = Read(L"Values");
  EXPECT_FALSE(v.ValueExists(L"A"));
  EXPECT_TRUE(v.ValueExists(L"B"));
  EXPECT_TRUE(v.ValueExists(L""));
  EXPECT_TRUE(v.SubKeyExists(L"S1\\Deep"));
  RegKey b = Read(L"Both");
  EXPECT_FALSE(b.HasValues());
  EXPECT_FALSE(b.ValueExists(L""));
  EXPECT_FALSE(b.SubKeyExists(L"S1"));
  EXPECT_TRUE(b.SubKeyExists(L"S2"));
  RegKey a = Read(L"AllSubs");
  EXPECT_FALSE(a.HasSubKeys());
  EXPECT_TRUE(a.ValueExists(L"A"));
}

TEST_F(ChangeTableTest, MissingKeyChangesNothing) {
  const std::wstring missing = Sub(L"Missing");
  const wchar_t* names[] = {L"A", nullptr};
  // Would be a mismatch if the row were applied: the missing key comes first.
  const RegChange row = {HKEY_CURRENT_USER, missing.c_str(), names, nullptr,
                         QorReg::ChangeSetValues | QorReg::ChangeCreateValues};
  EXPECT_EQ(nullptr, Catch([&] { QorReg::ApplyRegistryChanges(&row, 1, user_); }));
  EXPECT_FALSE(RegKey::KeyExists(HKEY_CURRENT_USER, missing));
}

TEST_F(ChangeTableTest, ArrayMismatchIsError134AndKeepsEarlierWrites) {
  Make(L"Short");
  const std::wstring shortKey = Sub(L"Short");
  const wchar_t* names[] = {L"A", L"B", nullptr};
  const wchar_t* data[] = {L"x", nullptr};
  const std::uint32_t flags = QorReg::ChangeSetValues | QorReg::ChangeCreateValues;
  const RegChange rows[] = {
      {HKEY_CURRENT_USER, shortKey.c_str(), names, data, flags},
      {HKEY_CURRENT_USER, shortKey.c_str(), names, nullptr, flags},
  };
  const std::wstring expected = L"Array size mismatch while processing key '" + shortKey + L"'\n";
  for (const RegChange& row : rows) {
    ErrorPtr error = Catch([&] { QorReg::ApplyRegistryChanges(&row, 1, user_); });
    ASSERT_NE(nullptr, error);
    EXPECT_NE(nullptr, dynamic_cast<QorReg::RegError*>(error.get()));
    EXPECT_EQ(QorReg::kChangeArraySizeMismatchError, error->GetCode());
    EXPECT_EQ(expected, error->GetMessageText());
    EXPECT_EQ(nullptr, error->GetCause());
  }
  EXPECT_EQ(L"x", Read(L"Short").GetString(L"A"));
  EXPECT_FALSE(Read(L"Short").ValueExists(L"B"));
}

TEST_F(ChangeTableTest, AnyKeyExists) {
  Make(L"Present");
  const std::wstring present = Sub(L"Present"), missing = Sub(L"Missing");
  const RegKeyRef none[] = {{HKEY_CURRENT_USER, missing.c_str()},
                            {HKEY_LOCAL_MACHINE, L"Software\\VeltranoTests\\NoSuchKey"}};
  const RegKeyRef later[] = {{HKEY_CURRENT_USER, missing.c_str()},
                             {HKEY_CURRENT_USER, present.c_str()}};
  EXPECT_FALSE(QorReg::AnyKeyExists(none, 2, user_));
  EXPECT_TRUE(QorReg::AnyKeyExists(later, 2, user_));
  EXPECT_FALSE(QorReg::AnyKeyExists(later, 0, user_));
}

TEST_F(ChangeTableTest, UnknownUserIsError157) {
  const QorReg::UserRecord nobody{L"VeltranoNoSuchUser42"};
  const RegKeyRef ref = {HKEY_CURRENT_USER, kBase};
  const RegChange row = {HKEY_CURRENT_USER, kBase, nullptr, nullptr, QorReg::ChangeDeleteAllValues};
  const std::wstring expected =
      L"Unable to find the user's security identifier: VeltranoNoSuchUser42\n";
  ErrorPtr errors[] = {Catch([&] { QorReg::AnyKeyExists(&ref, 1, nobody); }),
                       Catch([&] { QorReg::ApplyRegistryChanges(&row, 1, nobody); })};
  for (const ErrorPtr& error : errors) {
    ASSERT_NE(nullptr, error);
    EXPECT_EQ(QorReg::kChangeUserSidMissingError, error->GetCode());
    EXPECT_EQ(expected, error->GetMessageText());
  }
}

// A user in the machine's profile list whose registry data is not loaded:
// the SID is found, opening its data under HKEY_USERS is not.
const wchar_t kUnloadedUser[] = L"vtrunloadeduser";
const wchar_t kUnloadedUserSid[] = L"S-1-5-21-7770-8880-9990-4251";

std::wstring ProfileListEntry() {
  return std::wstring(L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\") +
         kUnloadedUserSid;
}

// Set up before any test can build the process's profile maps.
class UnloadedUserEnvironment : public testing::Environment {
public:
  void SetUp() override {
    RegKey entry;
    entry.Create(HKEY_LOCAL_MACHINE, ProfileListEntry(), RegKey::AccessAll);
    entry.SetString(L"ProfileImagePath", std::wstring(L"C:\\vtrnowhere\\") + kUnloadedUser);
  }
  void TearDown() override { SHDeleteKeyW(HKEY_LOCAL_MACHINE, ProfileListEntry().c_str()); }
};

testing::Environment* const g_environment =
    testing::AddGlobalTestEnvironment(new UnloadedUserEnvironment);

TEST_F(ChangeTableTest, UserWithoutLoadedDataIsError101) {
  const QorReg::UserRecord user{kUnloadedUser};
  std::wstring sid;
  ASSERT_TRUE(QorEnv::GetUserSid(user.accountName, sid));
  ASSERT_EQ(kUnloadedUserSid, sid);
  const RegKeyRef ref = {HKEY_CURRENT_USER, kBase};
  const RegChange row = {HKEY_CURRENT_USER, kBase, nullptr, nullptr, QorReg::ChangeDeleteAllValues};
  ErrorPtr errors[] = {Catch([&] { QorReg::AnyKeyExists(&ref, 1, user); }),
                       Catch([&] { QorReg::ApplyRegistryChanges(&row, 1, user); })};
  for (const ErrorPtr& error : errors) {
    ASSERT_NE(nullptr, error);
    EXPECT_EQ(QorReg::kOpenKeyError, error->GetCode());
    EXPECT_EQ(L"Unable to open registry key HKEY_USERS\\" + sid + L"\n", error->GetMessageText());
  }
}

TEST(ChangeTableAccess, LocalMachineRowsNeedAdministrator) {
  using QorReg::Detail::RowAccess;
  const struct {
    HKEY root;
    std::uint32_t flags;
    bool isAdmin;
    RowAccess expected;
  } cases[] = {
      {HKEY_LOCAL_MACHINE, QorReg::ChangeSetValues, true, RowAccess::Apply},
      {HKEY_LOCAL_MACHINE, QorReg::ChangeSkipWithoutRights, true, RowAccess::Apply},
      {HKEY_LOCAL_MACHINE, QorReg::ChangeSetValues, false, RowAccess::Refuse},
      {HKEY_LOCAL_MACHINE, QorReg::ChangeSkipWithoutRights | QorReg::ChangeDeleteValues, false,
       RowAccess::Skip},
      {HKEY_CURRENT_USER, QorReg::ChangeSetValues, false, RowAccess::Apply},
      {HKEY_USERS, 0, false, RowAccess::Apply},
      {HKEY_CLASSES_ROOT, QorReg::ChangeDeleteValues, false, RowAccess::Apply},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, QorReg::Detail::DecideRowAccess(c.root, c.flags, c.isAdmin))
        << "flags " << c.flags << " admin " << c.isAdmin;
  }
}

TEST(ChangeTableMachine, AdministratorChangesLocalMachineRow) {
  if (!QorEnv::IsUserAdmin()) {
    GTEST_SKIP() << "needs administrator rights";
  }
  const wchar_t* subKey = L"Software\\VeltranoTests\\ChangesMachine";
  {
    RegKey key;
    key.CreateEmpty(HKEY_LOCAL_MACHINE, subKey, RegKey::AccessAll);
    key.SetString(L"V", L"old");
  }
  const wchar_t* names[] = {L"V", nullptr};
  const wchar_t* data[] = {L"new", nullptr};
  const RegChange row = {HKEY_LOCAL_MACHINE, subKey, names, data,
                         QorReg::ChangeSetValues | QorReg::ChangeSkipWithoutRights};
  const QorReg::UserRecord user{QorEnv::GetCurrentUserName()};
  ErrorPtr error = Catch([&] { QorReg::ApplyRegistryChanges(&row, 1, user); });
  std::wstring value = RegKey(HKEY_LOCAL_MACHINE, subKey).GetString(L"V", L"");
  RegKey(HKEY_LOCAL_MACHINE, L"Software\\VeltranoTests", RegKey::AccessAll)
      .DeleteSubKey(L"ChangesMachine", true);
  EXPECT_EQ(nullptr, error);
  EXPECT_EQ(L"new", value);
}

} // namespace
