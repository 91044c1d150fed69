// Users and their profiles: account names, SIDs, profile folders and the
// profiles root.
#include "qor/env/profiles.h"
#include "qor/env/error_codes.h"

#include "qor/env_record/state.h"
#include "qor/env/env.h"
#include "qor/error/error.h"
#include "qor/reg/reg_key.h"
#include "qor/os/security.h"
#include "qor/error/system_library.h"
#include "qor/text/text.h"
#include "qor/text/path.h"
#include "qor/error/win32_error.h"
#include "users_internal.h"

#include "qor/handle/critical_section.h"

#include <windows.h>

#include <cwchar>
#include <map>
#include <vector>

namespace QorEnv {

namespace {

const wchar_t kProfileListKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

// Profile-list entries with names this short are the well-known system
// accounts (S-1-5-18 and the like), which have no profile of a person.
const size_t kShortestUserSid = 20;

// Both maps are filled together the first time an account lookup fails and
// kept for the life of the process.
struct ProfileMaps {
  std::map<std::wstring, std::wstring> nameToSid; // lower-case name -> SID text
  std::map<std::wstring, std::wstring> sidToName;
};
ProfileMaps g_maps;

void AddProfileName(const std::wstring& sid, const std::wstring& name) {
  g_maps.sidToName.emplace(sid, name);
  g_maps.nameToSid.emplace(Detail::ToLowerCurrentLocale(name), sid);
}

void BuildProfileMaps() {
  if (!QorReg::RegKey::KeyExists(HKEY_LOCAL_MACHINE, kProfileListKey)) {
    QorError::RaiseError(kProfileListMissingError, L"ProfileList registry key not found.");
  }
  QorReg::RegKey list(HKEY_LOCAL_MACHINE, kProfileListKey);
  std::vector<std::wstring> sids;
  list.GetSubKeyNames(sids);
  for (const std::wstring& sid : sids) {
    if (sid.size() < kShortestUserSid) {
      continue;
    }
    std::wstring account = GetAccountName(sid);
    if (!account.empty()) {
      AddProfileName(sid, account);
    }
    QorReg::RegKey profile(list, sid);
    if (!profile.ValueExists(L"ProfileImagePath")) {
      continue;
    }
    std::wstring path = profile.GetString(L"ProfileImagePath");
    size_t slash = path.rfind(L'\\');
    if (slash == std::wstring::npos || slash + 1 == path.size()) {
      continue;
    }
    std::wstring folder = path.substr(slash + 1);
    size_t dot = folder.find(L'.');
    if (dot != std::wstring::npos && dot != 0) {
      folder.erase(dot);
    }
    AddProfileName(sid, folder);
  }
}

// The account lookup: "COMPUTER\user" when the computer name is known.
bool LookupAccountSidText(const std::wstring& user, std::wstring& sidText) {
  std::wstring account = user;
  wchar_t computer[1024];
  DWORD computerSize = 1023;
  if (GetComputerNameW(computer, &computerSize)) {
    account = std::wstring(computer) + L"\\" + user;
  }
  DWORD sidSize = 0;
  DWORD domainSize = 0;
  SID_NAME_USE use;
  LookupAccountNameW(nullptr, account.c_str(), nullptr, &sidSize, nullptr, &domainSize, &use);
  if (sidSize == 0) {
    return false;
  }
  std::vector<BYTE> sid(sidSize);
  std::vector<wchar_t> domain(domainSize + 1);
  if (!LookupAccountNameW(nullptr, account.c_str(), sid.data(), &sidSize, domain.data(),
                          &domainSize, &use)) {
    return false;
  }
  wchar_t text[1024];
  DWORD textSize = sizeof(text) - sizeof(wchar_t);
  if (!QorOs::SidToText(sid.data(), text, textSize)) {
    return false;
  }
  sidText = text;
  return true;
}

} // namespace

namespace Detail {

std::wstring ToLowerCurrentLocale(const std::wstring& text) {
  return QorString::ToLower(text);
}

bool EqualsIgnoringAsciiCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (size_t i = 0; i < a.size(); ++i) {
    wchar_t x = a[i];
    wchar_t y = b[i];
    if (x >= L'A' && x <= L'Z') {
      x = static_cast<wchar_t>(x - L'A' + L'a');
    }
    if (y >= L'A' && y <= L'Z') {
      y = static_cast<wchar_t>(y - L'A' + L'a');
    }
    if (x != y) {
      return false;
    }
  }
  return true;
}

std::wstring AsFolder(std::wstring path) {
  while (!path.empty() && path.back() == L' ') {
    path.pop_back();
  }
  return QorString::WithTrailingBackslash(path);
}

std::wstring ProfilesRootFromProfile(const std::wstring& profileFolder, bool vistaOrLater) {
  const std::wstring parent = vistaOrLater ? L"\\users\\" : L"\\documents and settings\\";
  size_t at = ToLowerCurrentLocale(profileFolder).find(parent);
  if (at == std::wstring::npos) {
    return std::wstring();
  }
  return profileFolder.substr(0, at + parent.size());
}

std::wstring DefaultProfilesRoot(const std::wstring& windowsFolder, bool vistaOrLater) {
  return windowsFolder.substr(0, 3) + (vistaOrLater ? L"Users\\" : L"Documents and settings\\");
}

} // namespace Detail

std::wstring GetCurrentUserName() {
  wchar_t name[512];
  DWORD size = 512;
  if (!GetUserNameW(name, &size)) {
    return std::wstring();
  }
  return name;
}

std::wstring GetProfilesFolder() {
  using GetProfilesDirectoryFn = BOOL(WINAPI*)(LPWSTR, LPDWORD);
  static const wchar_t kMessage[] = L"Unable to determine user profiles folder.";
  auto getProfilesDirectory =
      QorWin32::GetSystemFunction<GetProfilesDirectoryFn>(L"userenv.dll", "GetProfilesDirectoryW");
  if (!getProfilesDirectory) {
    QorWin32::RaiseWin32Error(kProfilesFolderError, kMessage, ERROR_PROC_NOT_FOUND);
  }
  wchar_t folder[1024];
  DWORD size = 1023;
  if (!getProfilesDirectory(folder, &size)) {
    QorWin32::RaiseLastWin32ErrorF(kProfilesFolderError, kMessage);
  }
  return Detail::AsFolder(folder);
}

std::wstring GetUserProfileFolder(const std::wstring& user) {
  return Detail::WithContext(
      kUserProfileFolderError, L"Unable to find user profile directory", [&] {
        std::wstring sid;
        GetUserSid(user, sid);
        QorReg::RegKey profile(HKEY_LOCAL_MACHINE, std::wstring(kProfileListKey) + L"\\" + sid);
        return Detail::AsFolder(profile.GetString(L"ProfileImagePath"));
      });
}

std::wstring GetUserProfileFolder() {
  return GetProfilesFolder() + (IsVistaOrLater() ? L"Public\\" : L"All Users\\");
}

bool GetUserSid(const std::wstring& user, std::wstring& sidText) {
  const std::wstring name = user.empty() ? std::wstring(L"default") : user;
  if (LookupAccountSidText(name, sidText)) {
    return true;
  }
  const std::wstring key = Detail::ToLowerCurrentLocale(name);
  auto found = g_maps.nameToSid.find(key);
  if (found == g_maps.nameToSid.end()) {
    if (!g_maps.nameToSid.empty()) {
      QorError::RaiseErrorF(kUserSidLookupError,
                            L"Unable to get SID for user %s. LookupAccountName() failed.",
                            name.c_str());
    }
    BuildProfileMaps();
    found = g_maps.nameToSid.find(key);
    if (found == g_maps.nameToSid.end()) {
      QorError::RaiseErrorF(kUserSidUnknownError,
                            L"Unable to get SID for user %s. LookupAccountName failed.",
                            name.c_str());
    }
  }
  sidText = found->second;
  return true;
}

Qor::UniqueSid TextToSid(const std::wstring& text) {
  std::vector<std::wstring> fields;
  size_t start = 0;
  for (;;) {
    size_t dash = text.find(L'-', start);
    fields.push_back(text.substr(start, dash - start));
    if (dash == std::wstring::npos) {
      break;
    }
    start = dash + 1;
  }
  // "S", the revision, the authority, then one to eight sub-authorities.
  if (fields.size() < 4 || fields.size() > 3 + 8) {
    return Qor::UniqueSid();
  }
  // Sub-authorities are unsigned 32-bit numbers; a signed conversion would
  // clip the large ones of real machine SIDs.
  DWORD values[8] = {};
  BYTE count = static_cast<BYTE>(fields.size() - 3);
  for (BYTE i = 0; i < count; ++i) {
    values[i] = static_cast<DWORD>(std::wcstoul(fields[3 + i].c_str(), nullptr, 10));
  }
  DWORD authorityValue = static_cast<DWORD>(std::wcstoul(fields[2].c_str(), nullptr, 10));
  SID_IDENTIFIER_AUTHORITY authority = {
      {0, 0, static_cast<BYTE>(authorityValue >> 24), static_cast<BYTE>(authorityValue >> 16),
       static_cast<BYTE>(authorityValue >> 8), static_cast<BYTE>(authorityValue)}};
  PSID sid = nullptr;
  if (!AllocateAndInitializeSid(&authority, count, values[0], values[1], values[2], values[3],
                                values[4], values[5], values[6], values[7], &sid)) {
    return Qor::UniqueSid();
  }
  return Qor::UniqueSid(sid);
}

std::wstring GetAccountName(const std::wstring& sidText) {
  Qor::UniqueSid sid = TextToSid(sidText);
  if (!sid) {
    return std::wstring();
  }
  DWORD nameSize = 0;
  DWORD domainSize = 0;
  SID_NAME_USE use;
  LookupAccountSidW(nullptr, sid.get(), nullptr, &nameSize, nullptr, &domainSize, &use);
  if (nameSize == 0) {
    return std::wstring();
  }
  std::vector<wchar_t> name(nameSize + 1);
  std::vector<wchar_t> domain(domainSize + 1);
  if (!LookupAccountSidW(nullptr, sid.get(), name.data(), &nameSize, domain.data(), &domainSize,
                         &use)) {
    return std::wstring();
  }
  return name.data();
}

void ListProfileUsers(std::vector<std::wstring>& list) {
  QorReg::RegKey profiles(HKEY_LOCAL_MACHINE, kProfileListKey);
  std::vector<std::wstring> sids;
  profiles.GetSubKeyNames(sids);
  for (const std::wstring& sid : sids) {
    if (sid.size() < kShortestUserSid) {
      continue;
    }
    std::wstring account = GetAccountName(sid);
    if (!account.empty()) {
      list.push_back(account);
    }
  }
}

std::wstring GetProgramFilesFolder() {
  QorReg::RegKey key(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion");
  if (key.ValueExists(L"ProgramFilesDir")) {
    return Detail::AsFolder(key.GetString(L"ProgramFilesDir"));
  }
  return GetSpecialFolder(FolderProgramFilesShell, std::wstring(), 0);
}

// Start-up step: the folder that holds every profile.
void ComputeProfilesRoot(bool skipProfileLookup) {
  const bool vista = IsVistaOrLater();
  std::wstring root;
  if (!skipProfileLookup) {
    std::wstring profile = GetSpecialFolder(FolderUserProfile, GetCurrentUserName(), NoThrow);
    if (!profile.empty()) {
      root = Detail::ProfilesRootFromProfile(profile, vista);
    }
  }
  if (root.empty()) {
    root = Detail::DefaultProfilesRoot(GetWindowsFolder(), vista);
  }
  Detail::UpdateRecord([&](Detail::EnvironmentRecord& record) { record.profilesRoot = root; });
}

bool GetCurrentUserSid(std::wstring& sidText) {
  // Kept once found; a lookup that fails is tried again on the next call.
  struct KnownSid {
    Qor::CriticalSection lock;
    std::wstring sid;
  };
  static KnownSid known;
  Qor::Locked locked(known.lock);
  if (!known.sid.empty()) {
    sidText = known.sid;
    return true;
  }
  wchar_t name[1024];
  DWORD size = 1023;
  if (!GetUserNameW(name, &size)) {
    return false;
  }
  std::wstring sid;
  if (!LookupAccountSidText(name, sid)) {
    try {
      GetUserSid(name, sid);
    } catch (QorError::Exception* error) {
      delete error;
      return false;
    }
  }
  known.sid = sid;
  sidText = sid;
  return true;
}

} // namespace QorEnv
