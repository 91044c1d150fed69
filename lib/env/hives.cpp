// Users' registry data under HKEY_USERS: opening it, and loading, flushing
// and unloading the hive file of a user who is not logged on.
#include "qor/error/error.h"
#include "qor/env/error_codes.h"
#include "qor/env/profiles.h"
#include "qor/reg/reg_key.h"
#include "qor/handle/unique_handle.h"
#include "qor/error/win32_error.h"

#include <windows.h>

#include <string>

namespace QorEnv {

namespace {

bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The SID text, or false when the user cannot be resolved.
bool TryGetUserSid(const std::wstring& user, std::wstring& sid) {
  try {
    return GetUserSid(user, sid);
  } catch (QorError::Exception* error) {
    delete error;
    return false;
  }
}

} // namespace

std::wstring GetUserHiveFile(const std::wstring& user) {
  std::wstring folder = GetUserProfileFolder(user);
  if (FileExists(folder + L"ntuser.dat")) {
    return folder + L"ntuser.dat";
  }
  return folder + L"user.dat";
}

void OpenUserRegistry(const std::wstring& user, QorReg::RegKey& key) {
  try {
    std::wstring sid;
    GetUserSid(user, sid);
    key.Open(HKEY_USERS, sid);
  } catch (QorError::Exception* error) {
    // The logged-on user's data is always reachable as the current user's
    // root, even where HKEY_USERS does not show it under the SID.
    if (Detail::EqualsIgnoringAsciiCase(user, GetCurrentUserName())) {
      delete error;
      key.Attach(HKEY_CURRENT_USER);
      return;
    }
    QorError::RaiseError(kUserRegistryError, L"Unable to locate user settings in the registry.",
                         error);
  }
}

void OpenUserRegistryWritable(const std::wstring& user, QorReg::RegKey& key) {
  try {
    std::wstring sid;
    GetUserSid(user, sid);
    key.Open(HKEY_USERS, sid, 0x2001F);
  } catch (QorError::Exception* error) {
    QorError::RaiseError(kUserRegistryWritableError,
                         L"Unable to locate user settings in the registry.", error);
  }
}

bool IsUserHiveLoaded(const std::wstring& user) {
  std::wstring sid;
  return TryGetUserSid(user, sid) && QorReg::RegKey::KeyExists(HKEY_USERS, sid);
}

void LoadUserHive(const std::wstring& user) {
  static const wchar_t kMessage[] = L"Unable to load registry hive.";
  // The SID first: the hive file's folder is found through it, so a user
  // without one would otherwise always end in the profile folder's 501.
  std::wstring sid;
  if (!TryGetUserSid(user, sid)) {
    throw new QorWin32::Win32Error(kLoadHiveUserSidError, kMessage, 0);
  }
  const std::wstring hive = GetUserHiveFile(user);
  if (QorReg::RegKey::KeyExists(HKEY_USERS, sid)) {
    // Whatever is loaded under that name goes first; if it cannot be
    // unloaded, the load below reports the failure.
    try {
      QorReg::RegKey loaded(HKEY_USERS, sid);
      loaded.Flush();
      loaded.Close();
    } catch (QorError::Exception* error) {
      delete error;
    }
    RegUnLoadKeyW(HKEY_USERS, sid.c_str());
  }
  LONG result = RegLoadKeyW(HKEY_USERS, sid.c_str(), hive.c_str());
  if (result != ERROR_SUCCESS) {
    QorWin32::RaiseWin32Error(kLoadHiveError, kMessage, static_cast<DWORD>(result));
  }
}

void SaveUserHive(const std::wstring& user, bool unload) {
  std::wstring sid;
  bool resolved = false;
  try {
    GetUserHiveFile(user);
    resolved = GetUserSid(user, sid);
  } catch (QorError::Exception* error) {
    delete error;
  }
  if (!resolved) {
    throw new QorWin32::Win32Error(kSaveHiveUserSidError, L"Can't unload user registry data", 0);
  }
  {
    Qor::UniqueRegKey key;
    LONG result = RegOpenKeyExW(HKEY_USERS, sid.c_str(), 0, KEY_ALL_ACCESS, key.put());
    if (result != ERROR_SUCCESS) {
      QorWin32::RaiseWin32Error(kSaveHiveOpenError, L"Can't open user registry data",
                                static_cast<DWORD>(result));
    }
    result = RegFlushKey(key.get());
    if (result != ERROR_SUCCESS) {
      key.reset();
      QorWin32::RaiseWin32Error(kSaveHiveFlushError, L"Can't flush user registry data",
                                static_cast<DWORD>(result));
    }
  }
  if (unload) {
    LONG result = RegUnLoadKeyW(HKEY_USERS, sid.c_str());
    if (result != ERROR_SUCCESS) {
      QorWin32::RaiseWin32Error(kSaveHiveUnloadError, L"Can't unload user registry data",
                                static_cast<DWORD>(result));
    }
  }
}

} // namespace QorEnv
