// Profiles, special folders, hives, browser settings and locations against
// Wine's real registry and profile. Two made-up users are set up for the
// whole program: one whose registry data lives under HKEY_USERS, and one
// with a profile folder for the hive tests.
#include "qor/env/browser.h"
#include "qor/env/error_codes.h"
#include "qor/reg/error_codes.h"
#include "qor/env/env.h"
#include "qor/error/error.h"
#include "qor/env/locations.h"
#include "qor/env/profiles.h"
#include "qor/reg/reg_key.h"
#include "qor/os/security.h"
#include "qor/env/system_report.h"
#include "qor/handle/unique_handle.h"
#include "qor/error/win32_error.h"
#include "qor/fs/error_codes.h"

#include "qor/test/errors.h"
#include "qor/test/folders.h"
#include "qor/test/registry.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <cwctype>
#include <memory>
#include <string>
#include <vector>

namespace {

const wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
const wchar_t kShellFolders[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// A user with registry data under HKEY_USERS but no account.
const wchar_t kShellUser[] = L"vtrshelluser";
const wchar_t kShellUserSid[] = L"S-1-5-21-7770-8880-9990-4241";
// A user with a profile folder whose hive the tests save, load and unload.
const wchar_t kHiveUser[] = L"vtrhiveuser";
const wchar_t kHiveUserSid[] = L"S-1-5-21-7770-8880-9990-4242";
// A user in the profile list whose folder holds no hive at all.
const wchar_t kEmptyUser[] = L"vtremptyuser";
const wchar_t kEmptyUserSid[] = L"S-1-5-21-7770-8880-9990-4243";

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) {
    c = static_cast<wchar_t>(std::towlower(c));
  }
  return text;
}

std::wstring Folder(std::wstring path) {
  if (path.empty() || path.back() != L'\\') {
    path += L'\\';
  }
  return path;
}

using QorTest::GetRegString;
using QorTest::RegKeyPresent;
using QorTest::SetRegString;

std::wstring WindowsFolder() {
  wchar_t buffer[MAX_PATH];
  GetWindowsDirectoryW(buffer, MAX_PATH);
  return Folder(buffer);
}

// The made-up users' profiles, in a scratch folder at the root of the system
// drive (outside the current user's profile) that lasts the whole program.
std::unique_ptr<QorTest::ScratchFolder> g_profiles;

std::wstring TestRoot() {
  return g_profiles ? g_profiles->path() : std::wstring();
}

// Runs fn and returns the code of the library error it throws (0 when none);
// the error's cause code goes to causeCode.
template <class Fn> int ErrorCode(Fn fn, int* causeCode = nullptr) {
  try {
    fn();
  } catch (QorError::Exception* error) {
    std::unique_ptr<QorError::Exception> owned(error);
    if (causeCode) {
      *causeCode = error->GetCause() ? error->GetCause()->GetCode() : 0;
    }
    return error->GetCode();
  }
  return 0;
}

// The made-up users exist for the whole program, before anything in it can
// build the profile maps.
class UsersEnvironment : public testing::Environment {
public:
  void SetUp() override {
    TearDown();
    g_profiles.reset(new QorTest::ScratchFolder(WindowsFolder().substr(0, 3)));
    struct Profile {
      const wchar_t* name;
      const wchar_t* sid;
    };
    for (const Profile& p : {Profile{kShellUser, kShellUserSid}, Profile{kHiveUser, kHiveUserSid},
                             Profile{kEmptyUser, kEmptyUserSid}}) {
      std::wstring folder = TestRoot() + p.name;
      CreateDirectoryW(folder.c_str(), nullptr);
      SetRegString(HKEY_LOCAL_MACHINE, std::wstring(kProfileList) + L"\\" + p.sid,
                   L"ProfileImagePath", folder);
    }
    const std::wstring data = kShellUserSid;
    SetRegString(HKEY_USERS, data + L"\\" + kShellFolders, L"AppData", L"C:\\vtrnowhere\\AppData");
    SetRegString(HKEY_USERS, data + L"\\" + kShellFolders, L"Local AppData",
                 L"C:\\vtrnowhere\\Local");
    SetRegString(HKEY_USERS, data + L"\\" + kShellFolders, L"Personal", L"%SystemRoot%",
                 REG_EXPAND_SZ);
    SetRegString(HKEY_USERS, data + L"\\" + kShellFolders, L"Desktop", WindowsFolder() + L"  ");
    const std::wstring main = data + L"\\Software\\Microsoft\\Internet Explorer\\Main";
    SetRegString(HKEY_USERS, main, L"Start Page", L"http://start.example/");
    SetRegString(HKEY_USERS, main, L"Search Page", L"http://search.example/");
    static const wchar_t secondary[] = L"http://two.example/\0http://three.example/\0";
    Qor::UniqueRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_USERS, main.c_str(), 0, KEY_ALL_ACCESS, key.put()));
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExW(key.get(), L"Secondary Start Pages", 0, REG_MULTI_SZ,
                             reinterpret_cast<const BYTE*>(secondary), sizeof(secondary)));
    SetRegString(
        HKEY_USERS,
        data + L"\\Software\\Microsoft\\Internet Explorer\\InternetRegistry\\REGISTRY\\USER\\" +
            kShellUserSid,
        L"Marker", L"virtual");

    QorEnv::Initialize(false);
  }

  void TearDown() override {
    for (const wchar_t* sid : {kShellUserSid, kHiveUserSid, kEmptyUserSid}) {
      SHDeleteKeyW(HKEY_LOCAL_MACHINE, (std::wstring(kProfileList) + L"\\" + sid).c_str());
    }
    RegUnLoadKeyW(HKEY_USERS, kHiveUserSid);
    SHDeleteKeyW(HKEY_USERS, kShellUserSid);
    g_profiles.reset();
  }
};

testing::Environment* const g_environment = testing::AddGlobalTestEnvironment(new UsersEnvironment);

// The current user's SID and profile folder as Wine's profile list has them.
struct CurrentProfile {
  std::wstring sid;
  std::wstring folder;
};

CurrentProfile FindCurrentProfile() {
  CurrentProfile found;
  wchar_t name[256];
  DWORD size = 256;
  GetUserNameW(name, &size);
  Qor::UniqueRegKey list;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProfileList, 0, KEY_READ, list.put()) != ERROR_SUCCESS) {
    return found;
  }
  wchar_t sid[256];
  for (DWORD i = 0;; ++i) {
    DWORD length = 256;
    if (RegEnumKeyExW(list.get(), i, sid, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    std::wstring path = GetRegString(list.get(), sid, L"ProfileImagePath");
    if (!path.empty() && Lower(path.substr(path.rfind(L'\\') + 1)) == Lower(name)) {
      found.sid = sid;
      found.folder = Folder(path);
    }
  }
  return found;
}

// The first miss builds the profile maps (507); later misses know them (505).
TEST(UserSid, UnknownUserBeforeAndAfterTheProfileMapsAreBuilt) {
  std::wstring sid;
  int first = ErrorCode([&] { QorEnv::GetUserSid(L"vtr-nobody", sid); });
  EXPECT_TRUE(first == 507 || first == 505) << first;
  EXPECT_EQ(QorEnv::kUserSidLookupError,
            ErrorCode([&] { QorEnv::GetUserSid(L"vtr-nobody", sid); }));
  try {
    QorEnv::GetUserSid(L"VTR-Nobody", sid);
    ADD_FAILURE() << "no error";
  } catch (QorError::Exception* error) {
    std::unique_ptr<QorError::Exception> owned(error);
    EXPECT_EQ(L"Unable to get SID for user VTR-Nobody. LookupAccountName() failed.\n",
              error->GetMessageText());
  }
  int cause = 0;
  EXPECT_EQ(QorEnv::kUserProfileFolderError,
            ErrorCode([] { QorEnv::GetUserProfileFolder(L"vtr-nobody"); }, &cause));
  EXPECT_EQ(QorEnv::kUserSidLookupError, cause);
}

TEST(UserSid, CurrentUserFromAccountAndProfileList) {
  const CurrentProfile profile = FindCurrentProfile();
  ASSERT_FALSE(profile.sid.empty()) << "Wine's profile list has no entry for this user";
  const std::wstring name = QorEnv::GetCurrentUserName();
  wchar_t expected[256];
  DWORD size = 256;
  ASSERT_TRUE(GetUserNameW(expected, &size));
  EXPECT_EQ(std::wstring(expected), name);

  std::wstring sid;
  ASSERT_TRUE(QorEnv::GetCurrentUserSid(sid));
  EXPECT_EQ(profile.sid, sid);
  std::wstring again;
  ASSERT_TRUE(QorEnv::GetUserSid(name, again));
  EXPECT_EQ(profile.sid, again);
  EXPECT_EQ(Lower(name), Lower(QorEnv::GetAccountName(sid)));
  EXPECT_EQ(L"", QorEnv::GetAccountName(kShellUserSid));
  EXPECT_EQ(L"", QorEnv::GetAccountName(L"not a sid"));
}

TEST(UserSid, ListsProfilesWithLongSidsAndAnAccount) {
  // Entries of 19 characters or fewer are taken for system accounts (Wine's
  // own user SID is that short); the same SID written with a leading zero is
  // long enough to be listed.
  const CurrentProfile profile = FindCurrentProfile();
  ASSERT_FALSE(profile.sid.empty());
  std::wstring padded = profile.sid;
  padded.insert(padded.find(L"-21-") + 4, L"0");
  ASSERT_GT(padded.size(), 19u);
  SetRegString(HKEY_LOCAL_MACHINE, std::wstring(kProfileList) + L"\\" + padded, L"ProfileImagePath",
               profile.folder);
  std::vector<std::wstring> users;
  QorEnv::ListProfileUsers(users);
  SHDeleteKeyW(HKEY_LOCAL_MACHINE, (std::wstring(kProfileList) + L"\\" + padded).c_str());
  const std::wstring name = Lower(QorEnv::GetCurrentUserName());
  const long expected = profile.sid.size() > 19 ? 2 : 1;
  EXPECT_EQ(expected, std::count_if(users.begin(), users.end(),
                                    [&](const std::wstring& u) { return Lower(u) == name; }));
  // Users without an account are not listed.
  EXPECT_EQ(users.end(), std::find(users.begin(), users.end(), kShellUser));
}

TEST(UserSid, UsersKnownOnlyByTheirProfileFolder) {
  std::wstring sid;
  ASSERT_TRUE(QorEnv::GetUserSid(kShellUser, sid));
  EXPECT_EQ(kShellUserSid, sid);
  ASSERT_TRUE(QorEnv::GetUserSid(L"VTRHiveUser", sid));
  EXPECT_EQ(kHiveUserSid, sid);
}

TEST(Profiles, FoldersOfUsersAndTheRoot) {
  const CurrentProfile profile = FindCurrentProfile();
  const std::wstring name = QorEnv::GetCurrentUserName();
  EXPECT_EQ(profile.folder, QorEnv::GetUserProfileFolder(name));
  EXPECT_EQ(TestRoot() + kShellUser + L"\\", QorEnv::GetUserProfileFolder(kShellUser));

  std::wstring profiles =
      Folder(GetRegString(HKEY_LOCAL_MACHINE, kProfileList, L"ProfilesDirectory"));
  wchar_t expanded[MAX_PATH];
  ExpandEnvironmentStringsW(profiles.c_str(), expanded, MAX_PATH);
  EXPECT_EQ(Lower(expanded), Lower(QorEnv::GetProfilesFolder()));
  EXPECT_EQ(QorEnv::GetProfilesFolder() + (QorEnv::IsVistaOrLater() ? L"Public\\" : L"All Users\\"),
            QorEnv::GetUserProfileFolder());

  // The root is the profile's parent folder when its name fits the system.
  const std::wstring parent =
      QorEnv::IsVistaOrLater() ? L"\\users\\" : L"\\documents and settings\\";
  size_t at = Lower(profile.folder).find(parent);
  const std::wstring root =
      at != std::wstring::npos
          ? profile.folder.substr(0, at + parent.size())
          : WindowsFolder().substr(0, 3) +
                (QorEnv::IsVistaOrLater() ? L"Users\\" : L"Documents and settings\\");
  EXPECT_EQ(root, QorEnv::GetProfilesRoot());

  EXPECT_EQ(Folder(GetRegString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                                L"ProgramFilesDir")),
            QorEnv::GetProgramFilesFolder());
}

std::wstring ShellPath(int csidl) {
  wchar_t path[MAX_PATH] = {};
  SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE);
  return Folder(path);
}

TEST(SpecialFolders, CurrentUser) {
  const std::wstring me = QorEnv::GetCurrentUserName();
  struct Case {
    int id;
    int csidl;
  };
  for (const Case& c : {Case{QorEnv::FolderAppData, CSIDL_APPDATA},
                        Case{QorEnv::FolderLocalAppData, CSIDL_LOCAL_APPDATA},
                        Case{QorEnv::FolderPersonal, CSIDL_PERSONAL},
                        Case{QorEnv::FolderCommonAppData, CSIDL_COMMON_APPDATA},
                        Case{QorEnv::FolderCommonDesktop, CSIDL_COMMON_DESKTOPDIRECTORY},
                        Case{QorEnv::FolderProgramFiles, CSIDL_PROGRAM_FILES},
                        Case{QorEnv::FolderProgramFilesShell, CSIDL_PROGRAM_FILES},
                        // No registry value: straight from the shell.
                        Case{CSIDL_FONTS + 1, CSIDL_FONTS}}) {
    SCOPED_TRACE(testing::Message() << "folder " << c.id);
    EXPECT_EQ(Lower(ShellPath(c.csidl)), Lower(QorEnv::GetSpecialFolder(c.id, me, 0)));
  }
  EXPECT_EQ(WindowsFolder(),
            QorEnv::GetSpecialFolder(QorEnv::FolderWindows, me, QorEnv::VirtualStore));
  EXPECT_EQ(WindowsFolder(), QorEnv::GetSpecialFolder(QorEnv::FolderWindowsShell, L"", 0));
  EXPECT_EQ(QorEnv::GetUserProfileFolder(me),
            QorEnv::GetSpecialFolder(QorEnv::FolderUserProfile, me, 0));
  EXPECT_EQ(QorEnv::GetUserProfileFolder(),
            QorEnv::GetSpecialFolder(QorEnv::FolderAllUsersProfile, me, 0));
  // An existing folder passes the existence test.
  EXPECT_EQ(Lower(ShellPath(CSIDL_APPDATA)),
            Lower(QorEnv::GetSpecialFolder(QorEnv::FolderAppData, me, QorEnv::MustExist)));
  // The known folder of low-integrity data, from the shell's 6.0 on.
  if (QorEnv::GetShell32Version() >= 0x60000 && QorEnv::GetShGetKnownFolderPath()) {
    const std::wstring low = Lower(QorEnv::GetSpecialFolder(QorEnv::FolderLocalLowAppData, me, 0));
    EXPECT_EQ(L"\\locallow\\", low.substr(low.size() - 10)) << std::string(low.begin(), low.end());
  }
  // An identifier the library does not know.
  EXPECT_EQ(QorEnv::kSpecialFolderNotFoundError,
            ErrorCode([&] { QorEnv::GetSpecialFolder(250, me, 0); }));
  EXPECT_EQ(L"", QorEnv::GetSpecialFolder(250, me, QorEnv::NoThrow));
}

TEST(SpecialFolders, AnotherUsersRegistryData) {
  const std::wstring user = kShellUser;
  EXPECT_EQ(L"C:\\vtrnowhere\\AppData\\", QorEnv::GetSpecialFolder(QorEnv::FolderAppData, user, 0));
  // Expandable values come back expanded; trailing spaces are trimmed.
  EXPECT_EQ(Lower(WindowsFolder()),
            Lower(QorEnv::GetSpecialFolder(QorEnv::FolderPersonal, user, 0)));
  EXPECT_EQ(WindowsFolder(), QorEnv::GetSpecialFolder(QorEnv::FolderDesktop, user, 0));
  // "*" names come from the machine-wide key whoever is named, even a user
  // whose registry data is not loaded.
  const std::wstring common = GetRegString(HKEY_LOCAL_MACHINE, kShellFolders, L"Common AppData");
  const std::wstring pictures = GetRegString(HKEY_LOCAL_MACHINE, kShellFolders, L"CommonPictures");
  ASSERT_FALSE(common.empty());
  ASSERT_FALSE(pictures.empty());
  EXPECT_EQ(Folder(common), QorEnv::GetSpecialFolder(QorEnv::FolderCommonAppData, user, 0));
  EXPECT_EQ(Folder(pictures),
            QorEnv::GetSpecialFolder(QorEnv::FolderCommonPictures, kEmptyUser, 0));
  // A value the user's data lacks: the shell is not asked for another user.
  try {
    QorEnv::GetSpecialFolder(QorEnv::FolderCookies, user, 0);
    ADD_FAILURE() << "no error";
  } catch (QorError::Exception* error) {
    std::unique_ptr<QorError::Exception> owned(error);
    EXPECT_EQ(QorEnv::kSpecialFolderNotFoundError, error->GetCode());
    EXPECT_EQ(L"Can't find a special windows path 34 for user 'vtrshelluser'\n",
              error->GetMessageText());
  }
  EXPECT_EQ(L"", QorEnv::GetSpecialFolder(QorEnv::FolderCookies, user, QorEnv::NoThrow));
  // A folder that does not exist.
  EXPECT_EQ(QorEnv::kSpecialFolderMissingError, ErrorCode([&] {
              QorEnv::GetSpecialFolder(QorEnv::FolderAppData, user, QorEnv::MustExist);
            }));
  EXPECT_EQ(
      L"C:\\vtrnowhere\\AppData",
      QorEnv::GetSpecialFolder(QorEnv::FolderAppData, user, QorEnv::MustExist | QorEnv::NoThrow));
  // The virtualisation store exists only from Vista on.
  EXPECT_EQ(QorEnv::IsVistaOrLater() ? L"C:\\vtrnowhere\\Local\\VirtualStore\\AppData\\"
                                     : L"C:\\vtrnowhere\\AppData\\",
            QorEnv::GetSpecialFolder(QorEnv::FolderAppData, user, QorEnv::VirtualStore));
  EXPECT_EQ(TestRoot() + kShellUser + L"\\",
            QorEnv::GetSpecialFolder(QorEnv::FolderUserProfile, user, 0));
  // The browser caches: the user's own value, else the machine's, else none.
  SetRegString(HKEY_USERS,
               std::wstring(kShellUserSid) +
                   L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet "
                   L"Settings\\5.0\\Cache\\Extensible Cache\\UserData",
               L"CachePath", L"C:\\vtrcache");
  EXPECT_EQ(L"C:\\vtrcache\\", QorEnv::GetSpecialFolder(QorEnv::FolderBrowserCache, user, 0));
  const std::wstring lowCache = GetRegString(
      HKEY_LOCAL_MACHINE,
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\5.0\\LowCache\\Extensible "
      L"Cache\\UserData",
      L"CachePath");
  EXPECT_EQ(lowCache.empty() ? std::wstring() : Folder(lowCache),
            QorEnv::GetSpecialFolder(QorEnv::FolderLowBrowserCache, user, QorEnv::NoThrow));
  // A user whose registry data is not loaded.
  EXPECT_EQ(QorEnv::kUserRegistryError, ErrorCode([] {
              QorEnv::GetSpecialFolder(QorEnv::FolderAppData, kEmptyUser, QorEnv::NoThrow);
            }));
}

TEST(UserRegistry, OpeningForReadingAndWriting) {
  QorReg::RegKey key;
  QorEnv::OpenUserRegistry(kShellUser, key);
  EXPECT_EQ(std::wstring(L"HKEY_USERS\\") + kShellUserSid, key.GetPath());
  EXPECT_TRUE(QorEnv::IsUserHiveLoaded(kShellUser));
  EXPECT_FALSE(QorEnv::IsUserHiveLoaded(kEmptyUser));
  EXPECT_FALSE(QorEnv::IsUserHiveLoaded(L"vtr-nobody"));

  QorReg::RegKey writable;
  QorEnv::OpenUserRegistryWritable(kShellUser, writable);
  writable.SetString(L"VtrProbe", L"1");
  EXPECT_TRUE(writable.DeleteValue(L"VtrProbe"));

  int cause = 0;
  EXPECT_EQ(QorEnv::kUserRegistryError,
            ErrorCode([&] { QorEnv::OpenUserRegistry(kEmptyUser, key); }, &cause));
  EXPECT_EQ(QorReg::kOpenKeyError, cause);
  EXPECT_EQ(QorEnv::kUserRegistryWritableError,
            ErrorCode([&] { QorEnv::OpenUserRegistryWritable(kEmptyUser, writable); }, &cause));
  EXPECT_EQ(QorReg::kOpenKeyWithAccessError, cause);
  EXPECT_EQ(QorEnv::kUserRegistryWritableError,
            ErrorCode([&] { QorEnv::OpenUserRegistryWritable(L"vtr-nobody", writable); }));
}

TEST(UserRegistry, HiveFileSaveLoadFlushAndUnload) {
  const std::wstring folder = TestRoot() + kHiveUser + L"\\";
  // No hive yet: the old name, although that file is missing as well.
  EXPECT_EQ(folder + L"user.dat", QorEnv::GetUserHiveFile(kHiveUser));

  ASSERT_TRUE(QorOs::SetPrivilege(SE_BACKUP_NAME, true));
  ASSERT_TRUE(QorOs::SetPrivilege(SE_RESTORE_NAME, true));
  const std::wstring source = L"Software\\VeltranoHiveSource";
  SetRegString(HKEY_CURRENT_USER, source, L"Color", L"blue");
  {
    Qor::UniqueRegKey key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_CURRENT_USER, source.c_str(), 0, KEY_ALL_ACCESS, key.put()));
    LONG saved = RegSaveKeyW(key.get(), (folder + L"ntuser.dat").c_str(), nullptr);
    SHDeleteKeyW(HKEY_CURRENT_USER, source.c_str());
    if (saved == ERROR_CALL_NOT_IMPLEMENTED) {
      GTEST_SKIP() << "Wine cannot save a key to a hive file (RegSaveKey)";
    }
    ASSERT_EQ(ERROR_SUCCESS, saved);
  }
  EXPECT_EQ(folder + L"ntuser.dat", QorEnv::GetUserHiveFile(kHiveUser));

  ASSERT_FALSE(QorEnv::IsUserHiveLoaded(kHiveUser));
  QorEnv::LoadUserHive(kHiveUser);
  ASSERT_TRUE(QorEnv::IsUserHiveLoaded(kHiveUser));
  EXPECT_EQ(L"blue", GetRegString(HKEY_USERS, kHiveUserSid, L"Color"));

  {
    QorReg::RegKey data;
    QorEnv::OpenUserRegistryWritable(kHiveUser, data);
    data.SetString(L"Color", L"green");
  }
  // Flushing leaves the hive loaded.
  QorEnv::SaveUserHive(kHiveUser, false);
  EXPECT_TRUE(QorEnv::IsUserHiveLoaded(kHiveUser));
  QorEnv::SaveUserHive(kHiveUser, true);
  EXPECT_FALSE(QorEnv::IsUserHiveLoaded(kHiveUser));
  EXPECT_FALSE(RegKeyPresent(HKEY_USERS, kHiveUserSid));

  // Loading again over a loaded hive replaces it.
  QorEnv::LoadUserHive(kHiveUser);
  QorEnv::LoadUserHive(kHiveUser);
  EXPECT_TRUE(QorEnv::IsUserHiveLoaded(kHiveUser));
  QorEnv::SaveUserHive(kHiveUser, true);
  EXPECT_FALSE(RegKeyPresent(HKEY_USERS, kHiveUserSid));

  // Nothing loaded to flush; nothing to load.
  EXPECT_EQ(QorEnv::kSaveHiveOpenError, ErrorCode([] { QorEnv::SaveUserHive(kHiveUser, true); }));
  EXPECT_EQ(QorEnv::kSaveHiveUserSidError,
            ErrorCode([] { QorEnv::SaveUserHive(L"vtr-nobody", false); }));
  try {
    QorEnv::LoadUserHive(kEmptyUser);
    ADD_FAILURE() << "no error";
  } catch (QorError::Exception* error) {
    std::unique_ptr<QorError::Exception> owned(error);
    EXPECT_EQ(QorEnv::kLoadHiveError, error->GetCode());
    auto* win32 = dynamic_cast<QorWin32::Win32Error*>(error);
    ASSERT_NE(nullptr, win32);
    EXPECT_NE(0u, win32->GetSystemCode());
  }
}

// Loading fails first on the SID (523, an operating-system error without a
// system code), then on the profile folder that holds the hive file (501).
TEST(UserRegistry, LoadingNeedsASidThenAProfileFolder) {
  {
    QorTest::ErrorPtr error = QorTest::Catch([] { QorEnv::LoadUserHive(L"vtr-nobody"); });
    ASSERT_TRUE(error) << "no error";
    EXPECT_EQ(QorEnv::kLoadHiveUserSidError, error->GetCode());
    EXPECT_NE(std::wstring::npos, error->GetMessageText().find(L"Unable to load registry hive."));
    auto* win32 = dynamic_cast<QorWin32::Win32Error*>(error.get());
    ASSERT_NE(nullptr, win32);
    EXPECT_EQ(0u, win32->GetSystemCode());
  }

  // The SID is known (the profile maps are built now), the folder is not.
  std::wstring sid;
  ASSERT_TRUE(QorEnv::GetUserSid(kEmptyUser, sid));
  const std::wstring entry = std::wstring(kProfileList) + L"\\" + kEmptyUserSid;
  const std::wstring folder = GetRegString(HKEY_LOCAL_MACHINE, entry, L"ProfileImagePath");
  ASSERT_FALSE(folder.empty());
  SHDeleteValueW(HKEY_LOCAL_MACHINE, entry.c_str(), L"ProfileImagePath");
  int cause = 0;
  const int code = ErrorCode([] { QorEnv::LoadUserHive(kEmptyUser); }, &cause);
  SetRegString(HKEY_LOCAL_MACHINE, entry, L"ProfileImagePath", folder);
  EXPECT_EQ(QorEnv::kUserProfileFolderError, code);
  EXPECT_EQ(QorReg::kGetStringError, cause);
}

// Runs after the test above, which leaves the hive file in place.
TEST(UserRegistry, ChangesReachTheHiveFile) {
  if (QorEnv::GetUserHiveFile(kHiveUser).find(L"ntuser.dat") == std::wstring::npos) {
    GTEST_SKIP() << "no hive file was saved";
  }
  ASSERT_TRUE(QorOs::SetPrivilege(SE_BACKUP_NAME, true));
  ASSERT_TRUE(QorOs::SetPrivilege(SE_RESTORE_NAME, true));
  QorEnv::LoadUserHive(kHiveUser);
  {
    QorReg::RegKey data;
    QorEnv::OpenUserRegistryWritable(kHiveUser, data);
    data.SetString(L"Shape", L"round");
  }
  QorEnv::SaveUserHive(kHiveUser, true);
  QorEnv::LoadUserHive(kHiveUser);
  const std::wstring shape = GetRegString(HKEY_USERS, kHiveUserSid, L"Shape");
  QorEnv::SaveUserHive(kHiveUser, true);
  if (shape.empty()) {
    GTEST_SKIP() << "Wine keeps changes to a loaded hive in memory only: RegFlushKey and "
                    "RegUnLoadKey do not write them back to the hive file";
  }
  EXPECT_EQ(L"round", shape);
}

TEST(Browser, VersionFromTheRegistry) {
  const std::wstring text =
      GetRegString(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Internet Explorer", L"Version");
  ASSERT_FALSE(text.empty());
  int numbers[4] = {};
  swscanf(text.c_str(), L"%d.%d.%d.%d", &numbers[0], &numbers[1], &numbers[2], &numbers[3]);
  EXPECT_EQ(text, QorEnv::GetIeVersionText());
  EXPECT_EQ(numbers[0], QorEnv::GetIeMajor());
  EXPECT_EQ(numbers[2], QorEnv::GetIeBuild());
  EXPECT_EQ(QorEnv::ParseBrowserVersion(text).name, QorEnv::GetIeName());
  EXPECT_FALSE(QorEnv::GetIeName().empty());
}

TEST(Browser, StartAndSearchPagesOfAUser) {
  EXPECT_EQ(L"http://start.example/|http://two.example/|http://three.example/",
            QorEnv::GetStartPages(kShellUser));
  EXPECT_EQ(L"http://search.example/", QorEnv::GetSearchPage(kShellUser));
  int cause = 0;
  EXPECT_EQ(QorEnv::kStartPagesError, ErrorCode([] { QorEnv::GetStartPages(kEmptyUser); }, &cause));
  EXPECT_EQ(QorEnv::kBrowserSettingsError, cause);
  EXPECT_EQ(QorEnv::kSearchPageError, ErrorCode([] { QorEnv::GetSearchPage(kEmptyUser); }, &cause));
  EXPECT_EQ(QorEnv::kBrowserSettingsError, cause);

  QorReg::RegKey key;
  QorEnv::OpenBrowserSettings(kShellUser, key, true);
  key.SetString(L"VtrProbe", L"1");
  EXPECT_TRUE(key.DeleteValue(L"VtrProbe"));
  EXPECT_EQ(QorEnv::kBrowserSettingsWritableError,
            ErrorCode([&] { QorEnv::OpenBrowserSettings(kEmptyUser, key, true); }));

  QorEnv::OpenVirtualizedUserSettings(kShellUser, key);
  EXPECT_EQ(L"virtual", key.GetString(L"Marker"));
  EXPECT_EQ(QorEnv::kVirtualizedSettingsError,
            ErrorCode([&] { QorEnv::OpenVirtualizedUserSettings(kEmptyUser, key); }));

  // The current user's own settings read without error (empty when unset).
  const std::wstring mine = GetRegString(
      HKEY_CURRENT_USER, L"Software\\Microsoft\\Internet Explorer\\Main", L"Start Page");
  if (RegKeyPresent(HKEY_CURRENT_USER, L"Software\\Microsoft\\Internet Explorer\\Main")) {
    EXPECT_EQ(mine, QorEnv::GetCurrentUserStartPages().substr(0, mine.size()));
  }
}

TEST(CompatibilityLayers, ReadRemoveAndThisProgram) {
  const std::wstring layers =
      L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers";
  const std::wstring path = L"C:\\VtrApps\\Some.exe";
  SetRegString(HKEY_CURRENT_USER, layers, path.c_str(), L"WINXPSP3");
  std::wstring found;
  QorEnv::GetCompatibilityLayers(HKEY_CURRENT_USER, L"c:\\vtrapps\\SOME.EXE", found);
  EXPECT_EQ(L"WINXPSP3", found);
  QorEnv::GetCompatibilityLayers(HKEY_CURRENT_USER, L"C:\\VtrApps\\Other.exe", found);
  EXPECT_EQ(L"", found);
  QorEnv::RemoveCompatibilityLayers(HKEY_CURRENT_USER, path);
  QorEnv::GetCompatibilityLayers(HKEY_CURRENT_USER, path, found);
  EXPECT_EQ(L"", found);

  EXPECT_FALSE(QorEnv::IsUnderCompatibilityLayer());
  const std::wstring self = QorEnv::GetModuleFile();
  SetRegString(HKEY_CURRENT_USER, layers, self.c_str(), L"WIN2000");
  EXPECT_TRUE(QorEnv::IsUnderCompatibilityLayer());
  QorEnv::RemoveCompatibilityLayers(HKEY_CURRENT_USER, self);
  EXPECT_FALSE(QorEnv::IsUnderCompatibilityLayer());
}

// Sets an environment variable for the life of the object.
class ScopedVariable {
public:
  ScopedVariable(const wchar_t* name, const std::wstring& value) : name_(name) {
    wchar_t old[1024];
    DWORD length = GetEnvironmentVariableW(name, old, 1024);
    had_ = length > 0 && length < 1024;
    if (had_) {
      old_ = old;
    }
    SetEnvironmentVariableW(name, value.c_str());
  }
  ~ScopedVariable() { SetEnvironmentVariableW(name_, had_ ? old_.c_str() : nullptr); }

private:
  const wchar_t* name_;
  bool had_ = false;
  std::wstring old_;
};

class ScopedCurrentFolder {
public:
  explicit ScopedCurrentFolder(const std::wstring& folder) {
    wchar_t old[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, old);
    old_ = old;
    SetCurrentDirectoryW(folder.c_str());
  }
  ~ScopedCurrentFolder() { SetCurrentDirectoryW(old_.c_str()); }

private:
  std::wstring old_;
};

TEST(Locations, CurrentModuleAndShellFolders) {
  {
    ScopedCurrentFolder current(WindowsFolder());
    EXPECT_EQ(Lower(WindowsFolder()), Lower(QorEnv::GetCurrentFolder()));
  }
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  EXPECT_EQ(std::wstring(self), QorEnv::GetModuleFile());
  const std::wstring folder = QorEnv::GetModuleFolder();
  EXPECT_EQ(std::wstring(self).substr(0, folder.size()), folder);
  EXPECT_EQ(L'\\', folder.back());
  EXPECT_EQ(std::wstring::npos, std::wstring(self).find(L'\\', folder.size()));

  for (const std::wstring& shell : {QorEnv::GetCommonProgramsFolder(), QorEnv::GetProgramsFolder(),
                                    QorEnv::GetCommonDesktopFolder(), QorEnv::GetDesktopFolder()}) {
    EXPECT_EQ(L'\\', shell.back()) << std::string(shell.begin(), shell.end());
    DWORD attributes = GetFileAttributesW(shell.c_str());
    EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));
  }
  EXPECT_EQ(Lower(ShellPath(CSIDL_DESKTOPDIRECTORY)), Lower(QorEnv::GetDesktopFolder()));
}

TEST(Locations, TemporaryFolderOfUsers) {
  const std::wstring me = QorEnv::GetCurrentUserName();
  const std::wstring profile = QorEnv::GetUserProfileFolder(me);
  // Inside the current user's profile, as temporary folders usually are.
  QorTest::ScratchFolder scratch(profile);
  const std::wstring inProfile = scratch.path().substr(profile.size()) + L"VtrTemp";
  const std::wstring temp = profile + inProfile;
  CreateDirectoryW(temp.c_str(), nullptr);
  {
    ScopedVariable tmp(L"TMP", temp);
    ScopedVariable tempVariable(L"TEMP", temp);
    EXPECT_EQ(Lower(temp + L"\\"), Lower(QorEnv::GetUserTempFolder(me)));
    EXPECT_EQ(Lower(temp + L"\\"), Lower(QorEnv::GetUserTempFolder(Lower(me))));
    // Another user: the same place inside that user's profile.
    EXPECT_EQ(TestRoot() + kShellUser + L"\\" + Lower(inProfile) + L"\\",
              QorEnv::GetUserTempFolder(kShellUser));
    // Never the current folder.
    ScopedCurrentFolder current(temp);
    EXPECT_EQ(L"", QorEnv::GetUserTempFolder(me));
  }
  {
    // Short names come back in their long form.
    wchar_t shortName[MAX_PATH] = {};
    ASSERT_NE(0u, GetShortPathNameW(temp.c_str(), shortName, MAX_PATH));
    ScopedVariable tmp(L"TMP", shortName);
    ScopedVariable tempVariable(L"TEMP", shortName);
    EXPECT_EQ(Lower(temp + L"\\"), Lower(QorEnv::GetUserTempFolder(me)));
  }
  {
    // A temporary folder that does not exist is an error, not a folder.
    ScopedVariable tmp(L"TMP", temp + L"\\missing");
    ScopedVariable tempVariable(L"TEMP", temp + L"\\missing");
    QorTest::ErrorPtr error = QorTest::Catch([&] { QorEnv::GetUserTempFolder(me); });
    ASSERT_TRUE(error);
    EXPECT_EQ(QorFs::kLongPathError, error->GetCode());
    EXPECT_NE(std::wstring::npos,
              error->GetFullText(true).find(L"Unable to convert short path name to long"));
  }
  {
    // The Windows folder is no temporary folder.
    ScopedVariable tmp(L"TMP", WindowsFolder());
    ScopedVariable tempVariable(L"TEMP", WindowsFolder());
    EXPECT_EQ(L"", QorEnv::GetUserTempFolder(me));
  }
  {
    // Outside the current user's profile nothing is known of other users.
    const std::wstring outside = TestRoot() + L"tmp";
    CreateDirectoryW(outside.c_str(), nullptr);
    ScopedVariable tmp(L"TMP", outside);
    ScopedVariable tempVariable(L"TEMP", outside);
    EXPECT_EQ(Lower(outside + L"\\"), Lower(QorEnv::GetUserTempFolder(me)));
    EXPECT_EQ(L"", QorEnv::GetUserTempFolder(kShellUser));
  }
}

TEST(Locations, LogicalDrivesByType) {
  wchar_t buffer[1024] = {};
  GetLogicalDriveStringsW(1023, buffer);
  std::vector<std::wstring> all;
  std::vector<std::wstring> fixed;
  for (const wchar_t* root = buffer; *root; root += wcslen(root) + 1) {
    all.push_back(root);
    if (GetDriveTypeW(root) == DRIVE_FIXED) {
      fixed.push_back(root);
    }
  }
  ASSERT_FALSE(fixed.empty());
  std::vector<std::wstring> list;
  QorEnv::GetLogicalDrives(list, QorEnv::AllDrives);
  EXPECT_EQ(all, list);
  list.clear();
  QorEnv::GetLogicalDrives(list, QorEnv::DriveFixed);
  EXPECT_EQ(fixed, list);
  EXPECT_NE(list.end(), std::find(list.begin(), list.end(), WindowsFolder().substr(0, 3)));
  // Appends to what the list holds.
  QorEnv::GetLogicalDrives(list, 0);
  EXPECT_EQ(fixed, list);
  QorEnv::GetLogicalDrives(list, QorEnv::DriveFixed);
  EXPECT_EQ(fixed.size() * 2, list.size());
}

TEST(Locations, MailStoreOfAnIdentity) {
  const std::wstring base = L"Software\\VeltranoMailTest";
  SHDeleteKeyW(HKEY_CURRENT_USER, base.c_str());
  const std::wstring id = L"{11111111-2222-3333-4444-555555555555}";
  const std::wstring identity = base + L"\\Identities\\" + id;
  SetRegString(HKEY_CURRENT_USER, base + L"\\Identities", L"Default User ID", id);
  SetRegString(HKEY_CURRENT_USER, identity, L"Username", L"Main Identity");
  const std::wstring express = identity + L"\\Software\\Microsoft\\Outlook Express";
  SetRegString(HKEY_CURRENT_USER, express + L"\\notanumber", L"Store Root", L"C:\\wrong");

  QorReg::RegKey root(HKEY_CURRENT_USER, base);
  const std::wstring key = QorEnv::GetDefaultMailIdentity(root);
  EXPECT_EQ(L"Identities\\" + id, key);

  // Only subkeys whose names are no numbers.
  QorEnv::MailStore store;
  QorEnv::GetMailStore(root, key, store);
  EXPECT_EQ(L"Main Identity", store.userName);
  EXPECT_EQ(key, store.identityKey);
  EXPECT_FALSE(store.found);

  SetRegString(HKEY_CURRENT_USER, express + L"\\4.1", L"Store Root", L"C:\\old");
  SetRegString(HKEY_CURRENT_USER, express + L"\\5.2", L"Store Root", L"C:\\mail");
  store = QorEnv::MailStore();
  QorEnv::GetMailStore(root, key, store);
  EXPECT_TRUE(store.found);
  EXPECT_FALSE(store.isNewerClient);
  EXPECT_EQ(5, store.clientMajor);
  EXPECT_EQ(2, store.clientMinor);
  EXPECT_EQ(L"Software\\Microsoft\\Outlook Express\\5.2", store.clientKey);
  EXPECT_EQ(L"Software\\Microsoft\\Outlook Express", store.clientBaseKey);
  EXPECT_EQ(L"C:\\mail", store.storeRoot);

  // The newer client, from Vista on, is found under the user's root.
  SetRegString(HKEY_CURRENT_USER, base + L"\\Software\\Microsoft\\Windows Mail", L"Store Root",
               L"C:\\newmail");
  store = QorEnv::MailStore();
  QorEnv::GetMailStore(root, key, store);
  EXPECT_TRUE(store.found);
  EXPECT_EQ(QorEnv::IsVistaOrLater(), store.isNewerClient);
  EXPECT_EQ(QorEnv::IsVistaOrLater() ? L"C:\\newmail" : L"C:\\mail", store.storeRoot);

  EXPECT_NE(0, ErrorCode([&] { QorEnv::GetMailStore(root, L"Identities\\{missing}", store); }));
  SHDeleteKeyW(HKEY_CURRENT_USER, base.c_str());
}

} // namespace
