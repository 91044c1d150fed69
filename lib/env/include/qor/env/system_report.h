// A plain-text report of the machine for support: Windows version, account
// level, folders, shell-library and browser versions. Lines end in "\n",
// labels are separated from their values by a tab. Needs QorEnv::Initialize.
#pragma once

#include <windows.h>

#include <string>

namespace QorEnv {

// Each writes its text into text, which the caller passes empty.
void GetSystemReport(std::wstring& text);
void GetOsReport(std::wstring& text);
void GetFoldersReport(std::wstring& text);
void GetDllVersionsReport(std::wstring& text);
void GetBrowserReport(std::wstring& text);

// Whether Windows seems to report an older version than the one installed,
// judged by the browser that came with the real system.
bool IsCompatibilityModeSuspected();

// Whether the registry names a compatibility layer for this program's file.
bool IsUnderCompatibilityLayer();

// The compatibility-layer entry of a file under root (HKEY_CURRENT_USER or
// HKEY_LOCAL_MACHINE); empty when there is none.
void GetCompatibilityLayers(HKEY root, const std::wstring& path, std::wstring& layers);
void RemoveCompatibilityLayers(HKEY root, const std::wstring& path);

namespace Detail {

enum AccountLevel { AccountUnknown = -1, AccountUser = 0, AccountAdministrator = 1 };

// Everything the operating-system section prints.
struct OsReportFacts {
  bool compatibilityModeSuspected = false;
  int osId = 0;
  int productType = 0;
  DWORD buildNumber = 0;
  std::wstring servicePackText;
  DWORD servicePackMajor = 0;
  DWORD servicePackMinor = 0;
  bool terminalServicesEnabled = false;
  bool singleSessionTerminalServices = false;
  int accountLevel = AccountUnknown;
  std::wstring osDisplayName;
};

std::wstring FormatOsReport(const OsReportFacts& facts);
std::wstring FormatFoldersReport(const std::wstring& windowsFolder,
                                 const std::wstring& systemFolder);
std::wstring FormatDllVersionsReport(DWORD comctl32, DWORD shell32, DWORD shlwapi, DWORD gdiplus);
std::wstring FormatBrowserReport(int ieMajor, int ieMinor, const std::wstring& ieVersionText,
                                 const std::wstring& ieName);

// The plausibility check on plain numbers; underLayer is asked only where
// the numbers alone cannot decide.
bool CompatibilityModeSuspected(int osId, int ieMajor, int ieBuild, bool (*underLayer)());

} // namespace Detail

} // namespace QorEnv
