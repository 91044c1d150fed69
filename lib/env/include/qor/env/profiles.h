// Users, their profiles, special folders and registry data. Users are named
// by account name; security identifiers travel as their standard text
// ("S-1-5-21-...").
#pragma once

#include "qor/reg/reg_key.h"
#include "qor/handle/unique_handle.h"

#include <windows.h>

#include <string>
#include <vector>

namespace QorEnv {

// Special-folder identifiers: a shell folder is its CSIDL number plus 1;
// from 201 up they are the library's own.
enum SpecialFolderId : int {
  FolderPrograms = 3,
  FolderPersonal = 6,
  FolderStartup = 8,
  FolderRecent = 9,
  FolderStartMenu = 12,
  FolderDesktop = 17,
  FolderCommonStartMenu = 23,
  FolderCommonPrograms = 24,
  FolderCommonStartup = 25,
  FolderCommonDesktop = 26,
  FolderAppData = 27,
  FolderLocalAppData = 29,
  FolderInternetCache = 33,
  FolderCookies = 34,
  FolderHistory = 35,
  FolderCommonAppData = 36,
  FolderWindowsShell = 37,
  FolderProgramFilesShell = 39,
  FolderMyPictures = 40,
  FolderCommonDocuments = 47,
  FolderCommonPictures = 55,
  FolderBrowserCache = 201,
  FolderLocalLowAppData = 202,
  FolderProgramFiles = 203,
  FolderWindows = 204,
  FolderUserProfile = 205,
  FolderAllUsersProfile = 206,
  FolderLowBrowserCache = 207,
};

// Flags of GetSpecialFolder.
enum SpecialFolderFlag : int {
  // Redirect into the user's virtualisation store (Vista and later only).
  VirtualStore = 1,
  // Return an empty or unchecked path instead of throwing.
  NoThrow = 2,
  // The folder must exist as a directory.
  MustExist = 4,
  // With MustExist: let the shell create the folder when it looks it up.
  Create = 8,
};

// The account name of the current thread; empty when the system cannot say.
std::wstring GetCurrentUserName();

// The folder that holds the profiles, ending in a backslash. Throws
// QorWin32::Win32Error 503.
std::wstring GetProfilesFolder();

// The named user's profile folder, ending in a backslash; throws 501 with the
// failure as cause. Without a user: the all-users folder.
std::wstring GetUserProfileFolder(const std::wstring& user);
std::wstring GetUserProfileFolder();

// The user's SID text (an empty name stands for "default"). Throws 505, 506
// or 507 when neither the account lookup nor the profile list knows the user.
bool GetUserSid(const std::wstring& user, std::wstring& sidText);

// A SID from its text; null on malformed text (fewer than one or more than
// eight sub-authorities).
Qor::UniqueSid TextToSid(const std::wstring& text);

// The account name of a SID text; empty when unknown.
std::wstring GetAccountName(const std::wstring& sidText);

// Appends the account name of every profile in the machine's profile list.
void ListProfileUsers(std::vector<std::wstring>& list);

// A special folder of the named user, ending in a backslash (unless NoThrow
// returned early). Throws 502 or 551.
std::wstring GetSpecialFolder(int id, const std::wstring& user, int flags);

// "ProgramFilesDir" of the machine, else the shell's program files folder.
std::wstring GetProgramFilesFolder();

// The profile folder with the hive file: "ntuser.dat" when present, else
// "user.dat".
std::wstring GetUserHiveFile(const std::wstring& user);

// The user's registry data under HKEY_USERS. Reading falls back to
// HKEY_CURRENT_USER for the current user; otherwise throws 519. Writing
// throws 541.
void OpenUserRegistry(const std::wstring& user, QorReg::RegKey& key);
void OpenUserRegistryWritable(const std::wstring& user, QorReg::RegKey& key);

bool IsUserHiveLoaded(const std::wstring& user);

// Loads the user's hive file under HKEY_USERS, first unloading one that is
// loaded there. Needs the restore and backup privileges. Throws
// QorWin32::Win32Error 523 (no SID for the user) or 524 (the load failed), and
// 501 when the user has a SID but no profile folder.
void LoadUserHive(const std::wstring& user);

// Flushes the user's registry data and, when asked, unloads it. Throws
// QorWin32::Win32Error 525 to 528.
void SaveUserHive(const std::wstring& user, bool unload);

// The current user's SID text, computed once per process.
bool GetCurrentUserSid(std::wstring& sidText);

namespace Detail {
// Lower-cases the ASCII letters of both and compares.
bool EqualsIgnoringAsciiCase(const std::wstring& a, const std::wstring& b);
// Trailing spaces removed, one backslash appended when missing.
std::wstring AsFolder(std::wstring path);
// The profiles root from a profile folder as read; empty when the folder
// does not lie under the profiles parent ("\users\" or "\documents and
// settings\").
std::wstring ProfilesRootFromProfile(const std::wstring& profileFolder, bool vistaOrLater);
// The fallback root on the Windows folder's drive.
std::wstring DefaultProfilesRoot(const std::wstring& windowsFolder, bool vistaOrLater);
} // namespace Detail

} // namespace QorEnv
