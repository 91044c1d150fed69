#include "qor/fs/leftovers.h"

#include "chosen_removal.h"

#include "qor/fs/private_folder.h"
#include "qor/handle/unique_handle.h"

#include <aclapi.h>

#include <exception>

namespace QorFs {

namespace {

// A day in FILETIME counts of 100 ns.
constexpr ULONGLONG kDay = 24ull * 60 * 60 * 10000000;

ULONGLONG Count(const FILETIME& time) {
  return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

bool IsSecretPart(const std::wstring& text) {
  if (text.size() != static_cast<std::size_t>(kSecretPartLength)) {
    return false;
  }
  for (wchar_t c : text) {
    const bool letterOrDigit =
        (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9');
    if (!letterOrDigit) {
      return false;
    }
  }
  return true;
}

// Whether the object behind handle (opened with READ_CONTROL) is owned by owner.
bool OwnedBy(HANDLE handle, PSID owner) {
  PSID found = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &found, nullptr, nullptr,
                      nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  Qor::UniqueLocal held(descriptor);
  return found && IsValidSid(found) && EqualSid(found, owner);
}

} // namespace

bool IsStaleLeftover(const LeftoverFacts& facts, const std::wstring& prefix, ULONGLONG now) {
  const bool named = facts.name.size() > prefix.size() &&
                     facts.name.compare(0, prefix.size(), prefix) == 0 &&
                     IsSecretPart(facts.name.substr(prefix.size()));
  const bool old = facts.created <= now && now - facts.created > kDay && facts.lastWritten <= now &&
                   now - facts.lastWritten > kDay;
  return named && ClassifyAttributes(facts.attributes) == PathKind::Folder &&
         facts.ownedAsExpected && old;
}

int RemoveStaleLeftovers(const std::wstring& folder, const std::wstring& prefix) {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                0, 0, 0, 0, &administrators)) {
    return 0;
  }
  Qor::UniqueSid held(administrators);
  return Detail::RemoveStaleLeftovers(folder, prefix, administrators);
}

namespace Detail {

int RemoveStaleLeftovers(const std::wstring& folder, const std::wstring& prefix, PSID owner) {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  try {
    return RemoveChosenFolders(
        folder, prefix,
        [&](HANDLE handle, const BY_HANDLE_FILE_INFORMATION& info, const std::wstring& name) {
          LeftoverFacts facts;
          facts.name = name;
          facts.attributes = info.dwFileAttributes;
          facts.created = Count(info.ftCreationTime);
          facts.lastWritten = Count(info.ftLastWriteTime);
          facts.ownedAsExpected = OwnedBy(handle, owner);
          return IsStaleLeftover(facts, prefix, Count(now));
        });
  } catch (const std::exception&) {
    return 0; // out of memory: the leftovers wait for another run
  }
}

} // namespace Detail

} // namespace QorFs
