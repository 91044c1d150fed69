// Special folders of any local user: read from the user's "Shell Folders"
// registry values, from the machine-wide ones for the shared folders, and
// from the shell only for the user running the process.
#include "qor/env/env.h"
#include "qor/env/error_codes.h"
#include "qor/error/error.h"
#include "qor/env/profiles.h"
#include "qor/reg/reg_key.h"
#include "qor/handle/unique_handle.h"
#include "qor/text/path.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <string>

namespace QorEnv {

namespace {

const wchar_t kShellFoldersKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const wchar_t kCacheKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet "
                            L"Settings\\5.0\\Cache\\Extensible Cache\\UserData";
const wchar_t kLowCacheKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet "
                               L"Settings\\5.0\\LowCache\\Extensible Cache\\UserData";

// The "LocalLow" known folder.
const GUID kLocalLowAppDataId = {
    0xA520A1A4, 0x1780, 0x4FF6, {0xBD, 0x18, 0x16, 0x73, 0x43, 0xC5, 0xAF, 0x16}};

// Registry value names under "Shell Folders"; a leading "*" means the
// machine-wide key.
struct ShellFolderName {
  int id;
  const wchar_t* valueName;
};
const ShellFolderName kShellFolderNames[] = {
    {FolderPrograms, L"Programs"},
    {FolderPersonal, L"Personal"},
    {FolderStartup, L"Startup"},
    {FolderRecent, L"Recent"},
    {FolderStartMenu, L"Start Menu"},
    {FolderDesktop, L"Desktop"},
    {FolderCommonStartMenu, L"*Common Start Menu"},
    {FolderCommonPrograms, L"*Common Programs"},
    {FolderCommonStartup, L"*Common Startup"},
    {FolderCommonDesktop, L"*Common Desktop"},
    {FolderAppData, L"AppData"},
    {FolderLocalAppData, L"Local AppData"},
    {FolderInternetCache, L"Cache"},
    {FolderCookies, L"Cookies"},
    {FolderHistory, L"History"},
    {FolderCommonAppData, L"*Common AppData"},
    {FolderMyPictures, L"My Pictures"},
    {FolderCommonDocuments, L"*Common Documents"},
    {FolderCommonPictures, L"*CommonPictures"},
    {FolderLocalLowAppData, L"{A520A1A4-1780-4FF6-BD18-167343C5AF16}"},
};

const wchar_t* FindValueName(int id) {
  for (const ShellFolderName& entry : kShellFolderNames) {
    if (entry.id == id) {
      return entry.valueName;
    }
  }
  return nullptr;
}

std::wstring ReadCachePath(const std::wstring& user, const wchar_t* subKey) {
  std::wstring result;
  QorReg::RegKey userData;
  OpenUserRegistry(user, userData);
  if (userData.SubKeyExists(subKey)) {
    QorReg::RegKey cache(userData, subKey);
    result = cache.GetString(L"CachePath", std::wstring());
  }
  if (result.empty() && QorReg::RegKey::KeyExists(HKEY_LOCAL_MACHINE, subKey)) {
    QorReg::RegKey cache(HKEY_LOCAL_MACHINE, subKey);
    result = cache.GetString(L"CachePath", std::wstring());
  }
  return result;
}

std::wstring ReadShellFolderValue(const std::wstring& user, const wchar_t* valueName) {
  if (valueName[0] == L'*') {
    if (!QorReg::RegKey::KeyExists(HKEY_LOCAL_MACHINE, kShellFoldersKey)) {
      return std::wstring();
    }
    QorReg::RegKey machine(HKEY_LOCAL_MACHINE, kShellFoldersKey);
    return machine.GetString(valueName + 1, std::wstring());
  }
  QorReg::RegKey userData;
  OpenUserRegistry(user, userData);
  if (!userData.SubKeyExists(kShellFoldersKey)) {
    return std::wstring();
  }
  QorReg::RegKey folders(userData, kShellFoldersKey);
  return folders.GetString(valueName, std::wstring());
}

std::wstring AskShellForCsidl(int csidl, bool create) {
  wchar_t path[MAX_PATH + 1] = {};
  if (!SHGetSpecialFolderPathW(nullptr, path, csidl, create ? TRUE : FALSE)) {
    return std::wstring();
  }
  return path;
}

std::wstring AskShellForKnownFolder(const GUID& id, bool create) {
  SHGetKnownFolderPathFn getKnownFolderPath = GetShGetKnownFolderPath();
  if (!getKnownFolderPath) {
    return std::wstring();
  }
  // Freed whether or not the call succeeded, as the shell asks.
  Qor::UniqueCoTaskMem<wchar_t> path;
  HRESULT result = getKnownFolderPath(id, create ? 0x8000 : 0, nullptr, path.put());
  std::wstring folder;
  if (SUCCEEDED(result) && path) {
    folder = path.get();
  }
  return folder;
}

bool IsExistingDirectory(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

[[noreturn]] void RaiseNotFound(int code, int id, const std::wstring& user) {
  QorError::RaiseErrorF(code, L"Can't find a special windows path %d for user '%s'", id,
                        user.c_str());
}

} // namespace

std::wstring GetSpecialFolder(int id, const std::wstring& user, int flags) {
  const bool virtualStore = (flags & VirtualStore) != 0 && IsVistaOrLater() &&
                            id != FolderProgramFiles && id != FolderWindows;
  std::wstring result;
  const wchar_t* valueName = FindValueName(id);
  int csidl = -1;
  bool knownFolder = false;
  switch (id) {
  case FolderWindowsShell:
  case FolderWindows:
    result = GetWindowsFolder();
    break;
  case FolderProgramFilesShell:
  case FolderProgramFiles:
    if (GetShell32Version() < 0x50000) {
      QorReg::RegKey key(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion");
      result = key.GetString(L"ProgramFilesDir", std::wstring());
    } else {
      csidl = CSIDL_PROGRAM_FILES;
    }
    break;
  case FolderBrowserCache:
    result = ReadCachePath(user, kCacheKey);
    break;
  case FolderLowBrowserCache:
    result = ReadCachePath(user, kLowCacheKey);
    break;
  case FolderLocalLowAppData:
    // Shells before 6.0 have no such folder at all.
    if (GetShell32Version() < 0x60000) {
      return std::wstring();
    }
    knownFolder = true;
    break;
  case FolderUserProfile:
    return GetUserProfileFolder(user);
  case FolderAllUsersProfile:
    return GetUserProfileFolder();
  default:
    if (id < 200) {
      csidl = id - 1;
    }
    break;
  }

  if (result.empty() && valueName) {
    result = ReadShellFolderValue(user, valueName);
  }
  if (result.empty() && user == GetCurrentUserName()) {
    const bool create = (flags & MustExist) != 0 && (flags & Create) != 0;
    if (knownFolder) {
      result = AskShellForKnownFolder(kLocalLowAppDataId, create);
    } else if (csidl >= 0) {
      result = AskShellForCsidl(csidl, create);
    }
  }
  if (result.empty()) {
    if (flags & NoThrow) {
      return std::wstring();
    }
    RaiseNotFound(kSpecialFolderNotFoundError, id, user);
  }

  if (virtualStore) {
    std::wstring store = GetSpecialFolder(FolderLocalAppData, user, 0) + L"VirtualStore\\";
    result = QorString::WithoutTrailingBackslash(result);
    size_t slash = result.rfind(L'\\');
    if (slash != std::wstring::npos) {
      result.erase(0, slash + 1);
    }
    result = store + result;
  }

  if ((flags & MustExist) && !IsExistingDirectory(result)) {
    if (flags & NoThrow) {
      return result;
    }
    RaiseNotFound(kSpecialFolderMissingError, id, user);
  }
  return Detail::AsFolder(result);
}

} // namespace QorEnv
