// The process-wide description of the machine, as start-up found it: the
// record and its plain accessors. The os, reg and fs libraries read it;
// qor/env/env.h fills it.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <string>

namespace QorEnv {

// Ordered: callers compare these numerically (WinVista and above means Vista
// or anything released after it).
enum OsId {
  Unknown = 0,
  Win2000 = 1,
  WinXP = 2,
  WinXP64 = 3,
  WinServer2003 = 4,
  WinHomeServer = 5,
  WinServer2003R2 = 6,
  WinVista = 7,
  WinServer2008 = 8,
  Win7 = 9,
  WinServer2008R2 = 10,
  Newer = 11,
};

// Product-type codes.
enum ProductType {
  ProductNotApplicable = 0,
  ProductUnknown = 1,
  ProductWorkstation = 2,
  ProductServer = 3,
};

using SHGetKnownFolderPathFn = HRESULT(WINAPI*)(const GUID& folderId, DWORD flags, HANDLE token,
                                                PWSTR* path);

// True once Initialize has filled the record.
bool IsInitialised();

// Operating system.
int GetPlatformId();
int GetOsId();
int GetProductType();
bool Is64Bit();
const std::wstring& GetOsDisplayName();
DWORD GetServicePackMajor();
DWORD GetServicePackMinor();
DWORD GetBuildNumber();
const std::wstring& GetServicePackText();
// Null before Vista or when the shell lacks it.
SHGetKnownFolderPathFn GetShGetKnownFolderPath();
// Usable before Initialize: answers from its own version query then.
bool IsVistaOrLater();

// Folders.
const std::wstring& GetWindowsFolder();
const std::wstring& GetSystemFolder();
const std::wstring& GetProfilesRoot();
DWORD GetSystemVolumeSerial();

// Shell-library versions, packed as major * 65536 + minor; 0 when unknown.
DWORD GetComctl32Version();
DWORD GetShell32Version();
DWORD GetShlwapiVersion();
DWORD GetGdiplusVersion();

// Browser.
int GetIeMajor();
int GetIeMinor();
int GetIeBuild();
const std::wstring& GetIeVersionText();
const std::wstring& GetIeName();

// Terminal services, as Initialize found them.
bool IsSingleSessionTerminalServices();
DWORD GetSessionId();

} // namespace QorEnv
