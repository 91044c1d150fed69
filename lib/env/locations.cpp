// Program locations, the user's temporary folder, drives and the mail store.
#include "qor/env/locations.h"
#include "qor/env/error_codes.h"

#include "qor/env/env.h"
#include "qor/error/error.h"
#include "qor/env/profiles.h"
#include "qor/reg/reg_key.h"
#include "qor/error/win32_error.h"
#include "qor/fs/fs.h"
#include "qor/text/path.h"
#include "users_internal.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace QorEnv {

namespace {

std::wstring ShellFolder(int csidl, int code, const wchar_t* message) {
  wchar_t path[MAX_PATH + 1] = {};
  if (!SHGetSpecialFolderPathW(nullptr, path, csidl, TRUE)) {
    QorError::RaiseError(code, message);
  }
  return Detail::AsFolder(path);
}

std::wstring ProcessTempFolder() {
  static const wchar_t kMessage[] = L"Unable to find Windows Temp folder";
  std::vector<wchar_t> buffer(256);
  DWORD length = GetTempPathW(256, buffer.data());
  if (length == 0) {
    QorWin32::RaiseLastWin32ErrorF(kTempFolderError, kMessage);
  }
  if (length > 256) {
    DWORD size = length;
    buffer.assign(size, L'\0');
    length = GetTempPathW(size, buffer.data());
    if (length == 0 || length >= size) {
      QorWin32::RaiseLastWin32ErrorF(kTempFolderError, kMessage);
    }
  }
  return std::wstring(buffer.data(), length);
}

} // namespace

namespace Detail {

bool DriveTypeAccepted(unsigned int driveType, int filter) {
  if (filter == AllDrives) {
    return true;
  }
  return driveType <= 6 && (static_cast<unsigned int>(filter) & (1u << driveType)) != 0;
}

std::wstring CheckTempFolder(const std::wstring& candidate, const std::wstring& currentFolder,
                             const std::wstring& windowsFolder) {
  // Compared as folders, so "C:\Windows" and "C:\Windows\" are the same.
  const std::wstring folder = AsFolder(candidate);
  const std::wstring lower = ToLowerCurrentLocale(folder);
  if (lower == ToLowerCurrentLocale(AsFolder(currentFolder)) ||
      lower == ToLowerCurrentLocale(AsFolder(windowsFolder))) {
    return std::wstring();
  }
  if (lower.find(L"temp") == std::wstring::npos && lower.find(L"tmp") == std::wstring::npos) {
    return std::wstring();
  }
  return folder;
}

} // namespace Detail

std::wstring GetCurrentFolder() {
  static const wchar_t kMessage[] = L"Unable to find current folder";
  DWORD need = GetCurrentDirectoryW(0, nullptr);
  if (need == 0) {
    QorWin32::RaiseLastWin32ErrorF(kCurrentFolderError, kMessage);
  }
  std::vector<wchar_t> buffer(need + 1);
  DWORD length = GetCurrentDirectoryW(need + 1, buffer.data());
  if (length == 0 || length > need) {
    QorWin32::RaiseLastWin32ErrorF(kCurrentFolderError, kMessage);
  }
  return Detail::AsFolder(std::wstring(buffer.data(), length));
}

std::wstring GetCommonProgramsFolder() {
  return ShellFolder(CSIDL_COMMON_PROGRAMS, kCommonProgramsFolderError,
                     L"Unable to find Start Menu Program group folder");
}

std::wstring GetProgramsFolder() {
  return ShellFolder(CSIDL_PROGRAMS, kProgramsFolderError,
                     L"Unable to find Start Menu Program group folder");
}

std::wstring GetCommonDesktopFolder() {
  return ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY, kCommonDesktopFolderError,
                     L"Unable to find Desktop folder");
}

std::wstring GetDesktopFolder() {
  return ShellFolder(CSIDL_DESKTOPDIRECTORY, kDesktopFolderError, L"Unable to find desktop folder");
}

std::wstring GetModuleFile() {
  // A path cut at the buffer's end would name another file, so the buffer
  // grows until the whole name fits.
  std::vector<wchar_t> buffer(260);
  for (;;) {
    DWORD size = static_cast<DWORD>(buffer.size());
    DWORD length = GetModuleFileNameW(nullptr, buffer.data(), size);
    if (length == 0) {
      QorWin32::RaiseLastWin32ErrorF(kModuleFileNameError,
                                     L"Unable to get the current module file name.");
    }
    if (length < size) {
      std::wstring path(buffer.data(), length);
      if (path.compare(0, 4, L"\\\\?\\") == 0) {
        path.erase(0, 4);
      }
      return path;
    }
    if (size >= 32768) {
      QorWin32::RaiseWin32Error(kModuleFileNameError,
                                L"Unable to get the current module file name.",
                                ERROR_INSUFFICIENT_BUFFER);
    }
    buffer.resize(size * 2);
  }
}

std::wstring GetModuleFolder() {
  return QorString::FolderPart(GetModuleFile());
}

std::wstring GetUserTempFolder(const std::wstring& user) {
  // The long form, through the file system's own path normalisation: a
  // temporary folder that does not exist raises its error (421).
  const std::wstring temp =
      QorString::WithTrailingBackslash(QorFs::ToLongPath(ProcessTempFolder()));
  std::wstring candidate;
  if (Detail::EqualsIgnoringAsciiCase(user, GetCurrentUserName())) {
    candidate = temp;
  } else {
    const std::wstring lowerTemp = Detail::ToLowerCurrentLocale(temp);
    const std::wstring lowerProfile =
        Detail::ToLowerCurrentLocale(GetUserProfileFolder(GetCurrentUserName()));
    if (lowerTemp.compare(0, lowerProfile.size(), lowerProfile) != 0) {
      return std::wstring();
    }
    candidate = GetUserProfileFolder(user) + lowerTemp.substr(lowerProfile.size());
  }
  return Detail::CheckTempFolder(candidate, GetCurrentFolder(), GetWindowsFolder());
}

void GetLogicalDrives(std::vector<std::wstring>& list, int filter) {
  wchar_t buffer[1024] = {};
  DWORD length = GetLogicalDriveStringsW(1023, buffer);
  if (length == 0) {
    QorWin32::RaiseLastWin32ErrorF(kLogicalDrivesError, L"Unable to find logical drives");
  }
  if (length > 1023) {
    return;
  }
  for (const wchar_t* root = buffer; *root; root += wcslen(root) + 1) {
    if (Detail::DriveTypeAccepted(GetDriveTypeW(root), filter)) {
      list.push_back(root);
    }
  }
}

std::wstring GetDefaultMailIdentity(const QorReg::RegKey& root) {
  QorReg::RegKey identities(root, L"Identities");
  return L"Identities\\" + identities.GetString(L"Default User ID");
}

void GetMailStore(const QorReg::RegKey& root, const std::wstring& identityKey, MailStore& record) {
  QorReg::RegKey identity(root, identityKey);
  record.userName = identity.GetString(L"Username");
  record.identityKey = identityKey;
  record.found = false;
  record.isNewerClient = false;

  static const wchar_t kWindowsMail[] = L"Software\\Microsoft\\Windows Mail";
  if (IsVistaOrLater() && root.SubKeyExists(kWindowsMail)) {
    QorReg::RegKey mail(root, kWindowsMail);
    record.clientBaseKey = kWindowsMail;
    record.storeRoot = mail.GetString(L"Store Root", std::wstring());
    record.found = true;
    record.isNewerClient = true;
    return;
  }

  static const wchar_t kOutlookExpress[] = L"Software\\Microsoft\\Outlook Express";
  if (!identity.SubKeyExists(kOutlookExpress)) {
    return;
  }
  QorReg::RegKey client(identity, kOutlookExpress);
  std::vector<std::wstring> versions;
  client.GetSubKeyNames(versions);
  const std::wstring* best = nullptr;
  int bestMajor = 0;
  for (const std::wstring& name : versions) {
    int major = _wtoi(name.c_str());
    if (major > bestMajor) {
      bestMajor = major;
      best = &name;
    }
  }
  if (!best) {
    return;
  }
  record.clientMajor = bestMajor;
  size_t dot = best->find(L'.');
  record.clientMinor = dot == std::wstring::npos ? 0 : _wtoi(best->c_str() + dot + 1);
  record.clientKey = std::wstring(kOutlookExpress) + L"\\" + *best;
  record.clientBaseKey = kOutlookExpress;
  QorReg::RegKey version(client, *best);
  record.storeRoot = version.GetString(L"Store Root", std::wstring());
  record.found = true;
}

} // namespace QorEnv
