#include "qor/os/security.h"

#include "qor/handle/unique_handle.h"

#include <aclapi.h>

#include <cwchar>
#include <string>
#include <vector>

namespace QorOs {

namespace {

bool LookupPrivilege(const wchar_t* name, LUID& luid) {
  return LookupPrivilegeValueW(nullptr, name, &luid) != FALSE;
}

// The SIDs a user is known by: the account itself, Everyone, and for the
// user running this process the groups of its token.
std::vector<std::vector<BYTE>> SidsOfUser(const wchar_t* name) {
  std::vector<std::vector<BYTE>> sids;
  DWORD sidSize = 0;
  DWORD domainSize = 0;
  SID_NAME_USE use;
  LookupAccountNameW(nullptr, name, nullptr, &sidSize, nullptr, &domainSize, &use);
  if (sidSize == 0) {
    return sids;
  }
  std::vector<BYTE> sid(sidSize);
  std::vector<wchar_t> domain(domainSize + 1);
  if (!LookupAccountNameW(nullptr, name, sid.data(), &sidSize, domain.data(), &domainSize, &use)) {
    return sids;
  }
  sids.push_back(sid);
  SID_IDENTIFIER_AUTHORITY world = {SECURITY_WORLD_SID_AUTHORITY};
  Qor::UniqueSid everyone;
  if (AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0,
                               everyone.put())) {
    auto* bytes = static_cast<BYTE*>(everyone.get());
    sids.emplace_back(bytes, bytes + GetLengthSid(everyone.get()));
  }
  Qor::UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) {
    return sids;
  }
  std::vector<BYTE> userInfo(256);
  DWORD length = 0;
  if (!GetTokenInformation(token.get(), TokenUser, userInfo.data(),
                           static_cast<DWORD>(userInfo.size()), &length) ||
      !EqualSid(reinterpret_cast<TOKEN_USER*>(userInfo.data())->User.Sid, sid.data())) {
    return sids;
  }
  GetTokenInformation(token.get(), TokenGroups, nullptr, 0, &length);
  std::vector<BYTE> groupInfo(length);
  if (length && GetTokenInformation(token.get(), TokenGroups, groupInfo.data(), length, &length)) {
    auto* groups = reinterpret_cast<TOKEN_GROUPS*>(groupInfo.data());
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
      auto* bytes = static_cast<BYTE*>(groups->Groups[i].Sid);
      sids.emplace_back(bytes, bytes + GetLengthSid(groups->Groups[i].Sid));
    }
  }
  return sids;
}

// Allowed rights minus denied rights of the ACEs that name the user.
bool EvaluateAclForName(PACL dacl, const wchar_t* name, ACCESS_MASK& rights) {
  auto sids = SidsOfUser(name);
  if (sids.empty()) {
    return false;
  }
  ACCESS_MASK allowed = 0;
  ACCESS_MASK denied = 0;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) {
      return false;
    }
    auto* header = static_cast<ACE_HEADER*>(ace);
    if (header->AceFlags & INHERIT_ONLY_ACE) {
      continue;
    }
    bool allow = header->AceType == ACCESS_ALLOWED_ACE_TYPE;
    if (!allow && header->AceType != ACCESS_DENIED_ACE_TYPE) {
      continue;
    }
    // Allowed and denied ACEs share this layout.
    auto* entry = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    PSID aceSid = &entry->SidStart;
    for (const auto& sid : sids) {
      if (EqualSid(aceSid, const_cast<BYTE*>(sid.data()))) {
        // The first ACE that decides a right wins, as in the system's check.
        if (allow) {
          allowed |= entry->Mask & ~denied;
        } else {
          denied |= entry->Mask & ~allowed;
        }
        break;
      }
    }
  }
  rights = allowed;
  return true;
}

} // namespace

bool IsAdministrator() {
  SID_IDENTIFIER_AUTHORITY ntAuthority = {SECURITY_NT_AUTHORITY};
  Qor::UniqueSid administrators;
  if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, administrators.put())) {
    return false;
  }
  BOOL member = FALSE;
  return CheckTokenMembership(nullptr, administrators.get(), &member) && member;
}

bool SetPrivilege(const wchar_t* name, bool enable) {
  Qor::UniqueHandle token;
  LUID luid;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put()) ||
      !LookupPrivilege(name, luid)) {
    return false;
  }
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Luid = luid;
  privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
  return AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr) != FALSE;
}

bool HasPrivilege(const wchar_t* name, bool& held) {
  Qor::UniqueHandle token;
  LUID luid;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()) ||
      !LookupPrivilege(name, luid)) {
    return false;
  }
  PRIVILEGE_SET set = {};
  set.PrivilegeCount = 1;
  set.Control = 0;
  set.Privilege[0].Luid = luid;
  set.Privilege[0].Attributes = 0;
  BOOL result = FALSE;
  if (!PrivilegeCheck(token.get(), &set, &result)) {
    return false;
  }
  held = result == 1;
  return true;
}

bool SidToText(PSID sid, wchar_t* text, DWORD& textSize) {
  if (!sid || !IsValidSid(sid)) {
    return false;
  }
  const DWORD subAuthorities = *GetSidSubAuthorityCount(sid);
  const DWORD needed = (subAuthorities * 12 + 28) * sizeof(wchar_t);
  if (textSize < needed) {
    textSize = needed;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  const std::size_t room = textSize / sizeof(wchar_t);
  const SID_IDENTIFIER_AUTHORITY* authority = GetSidIdentifierAuthority(sid);
  const BYTE* v = authority->Value;
  int length = _snwprintf(text, room, L"S-%lu-", 1ul);
  if (v[0] != 0 || v[1] != 0) {
    length += _snwprintf(text + length, room - length, L"0x%02hx%02hx%02hx%02hx%02hx%02hx",
                         static_cast<unsigned short>(v[0]), static_cast<unsigned short>(v[1]),
                         static_cast<unsigned short>(v[2]), static_cast<unsigned short>(v[3]),
                         static_cast<unsigned short>(v[4]), static_cast<unsigned short>(v[5]));
  } else {
    unsigned long value = (static_cast<unsigned long>(v[2]) << 24) |
                          (static_cast<unsigned long>(v[3]) << 16) |
                          (static_cast<unsigned long>(v[4]) << 8) | v[5];
    length += _snwprintf(text + length, room - length, L"%lu", value);
  }
  for (DWORD i = 0; i < subAuthorities; ++i) {
    length += _snwprintf(text + length, room - length, L"-%lu",
                         static_cast<unsigned long>(*GetSidSubAuthority(sid, i)));
  }
  return true;
}

bool HasEffectiveRights(HKEY key, const wchar_t* trusteeName, ACCESS_MASK mask) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD status = GetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                 &dacl, nullptr, &descriptor);
  Qor::UniqueLocal ownedDescriptor(descriptor);
  if (status != ERROR_SUCCESS || !dacl) {
    return false;
  }
  std::wstring name = trusteeName ? trusteeName : L"";
  TRUSTEE_W trustee = {};
  trustee.pMultipleTrustee = nullptr;
  trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
  trustee.TrusteeForm = TRUSTEE_IS_NAME;
  trustee.TrusteeType = TRUSTEE_IS_USER;
  trustee.ptstrName = &name[0];
  ACCESS_MASK rights = 0;
  DWORD result = GetEffectiveRightsFromAclW(dacl, &trustee, &rights);
  if (result == ERROR_CALL_NOT_IMPLEMENTED || result == ERROR_INVALID_FUNCTION) {
    // Some Windows-compatible systems (Wine) leave the query unimplemented.
    if (!EvaluateAclForName(dacl, name.c_str(), rights)) {
      return false;
    }
  } else if (result != ERROR_SUCCESS) {
    return false;
  }
  return (rights & mask) == mask;
}

} // namespace QorOs
