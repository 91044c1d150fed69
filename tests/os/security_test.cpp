#include "qor/os/security.h"

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>

namespace {

struct SidCase {
  BYTE authority[6];
  BYTE count;
  DWORD subs[3];
  const wchar_t* text;
};

std::wstring ToText(const SidCase& c) {
  SID_IDENTIFIER_AUTHORITY authority;
  memcpy(authority.Value, c.authority, 6);
  Qor::UniqueSid sid;
  EXPECT_TRUE(AllocateAndInitializeSid(&authority, c.count, c.subs[0], c.subs[1], c.subs[2], 0, 0,
                                       0, 0, 0, sid.put()));
  wchar_t text[200];
  DWORD size = sizeof(text);
  bool ok = QorOs::SidToText(sid.get(), text, size);
  return ok ? std::wstring(text) : L"<failed>";
}

} // namespace

TEST(SidToText, StandardForms) {
  const SidCase cases[] = {
      {{0, 0, 0, 0, 0, 5}, 1, {18}, L"S-1-5-18"},
      {{0, 0, 0, 0, 0, 5}, 2, {32, 544}, L"S-1-5-32-544"},
      {{0, 0, 0, 0, 0, 1}, 1, {0}, L"S-1-1-0"},
      {{0, 0, 0x12, 0x34, 0x56, 0x78}, 1, {4294967295u}, L"S-1-305419896-4294967295"},
      {{0x01, 0, 0, 0, 0, 0x0a}, 3, {1, 2, 3}, L"S-1-0x01000000000a-1-2-3"},
      {{0, 0xff, 0, 0, 0, 0}, 1, {7}, L"S-1-0x00ff00000000-7"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.text, ToText(c));
  }
}

TEST(SidToText, TooSmallBufferAndInvalidSid) {
  SID_IDENTIFIER_AUTHORITY nt = {SECURITY_NT_AUTHORITY};
  Qor::UniqueSid sid;
  ASSERT_TRUE(AllocateAndInitializeSid(&nt, 1, 18, 0, 0, 0, 0, 0, 0, 0, sid.put()));
  wchar_t text[5];
  DWORD size = 10;
  SetLastError(0);
  EXPECT_FALSE(QorOs::SidToText(sid.get(), text, size));
  EXPECT_EQ(80u, size);
  EXPECT_EQ(122u, GetLastError());

  BYTE garbage[16] = {9, 9, 9};
  size = 200;
  wchar_t big[100];
  EXPECT_FALSE(QorOs::SidToText(garbage, big, size));
}

TEST(Privileges, SetAndCheck) {
  // A privilege this token holds can be switched off and on again.
  bool held = true;
  ASSERT_TRUE(QorOs::SetPrivilege(SE_SHUTDOWN_NAME, false));
  ASSERT_TRUE(QorOs::HasPrivilege(SE_SHUTDOWN_NAME, held));
  EXPECT_FALSE(held);
  ASSERT_TRUE(QorOs::SetPrivilege(SE_SHUTDOWN_NAME, true));
  ASSERT_TRUE(QorOs::HasPrivilege(SE_SHUTDOWN_NAME, held));
  EXPECT_TRUE(held);
  EXPECT_FALSE(QorOs::SetPrivilege(L"SeNoSuchPrivilege", true));
  EXPECT_FALSE(QorOs::HasPrivilege(L"SeNoSuchPrivilege", held));
}

TEST(Administrator, MatchesTokenMembership) {
  // Wine runs programs as a member of Administrators.
  EXPECT_TRUE(QorOs::IsAdministrator());
}

TEST(EffectiveRights, RegistryKeyAccessList) {
  Qor::UniqueRegKey owned;
  ASSERT_EQ(ERROR_SUCCESS,
            RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\VeltranoTests\\Rights", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, owned.put(), nullptr));
  HKEY key = owned.get();
  wchar_t user[256];
  DWORD length = 256;
  ASSERT_TRUE(GetUserNameW(user, &length));
  EXPECT_TRUE(QorOs::HasEffectiveRights(key, user, 0));
  EXPECT_TRUE(QorOs::HasEffectiveRights(key, user, KEY_READ));
  EXPECT_FALSE(QorOs::HasEffectiveRights(nullptr, user, 0));

  // Everyone: setting values denied first, everything else allowed.
  Qor::UniqueLocal sd;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(D;;0x2;;;WD)(A;;KA;;;WD)",
                                                                   1, sd.put(), nullptr));
  BOOL present = FALSE, defaulted = FALSE;
  PACL acl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(sd.get(), &present, &acl, &defaulted));
  ASSERT_EQ(ERROR_SUCCESS, SetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr,
                                           nullptr, acl, nullptr));
  sd.reset();
  EXPECT_TRUE(QorOs::HasEffectiveRights(key, user, KEY_QUERY_VALUE));
  EXPECT_FALSE(QorOs::HasEffectiveRights(key, user, KEY_QUERY_VALUE | KEY_SET_VALUE));
  owned.reset();
  RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\VeltranoTests\\Rights");
  RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\VeltranoTests");
}
