// The environment record itself, shared by the modules of this library that
// fill it during start-up. Everything else reads it through qor/env_record/record.h.
#pragma once

#include "qor/env_record/record.h"

#include <windows.h>

#include <string>

namespace QorEnv {
namespace Detail {

struct EnvironmentRecord {
  // Operating system.
  int platformId = 0;
  int productType = 0;
  int osId = Unknown;
  bool is64Bit = false;
  bool isVistaOrLater = false;
  DWORD servicePackMajor = 0;
  DWORD servicePackMinor = 0;
  DWORD buildNumber = 0;
  std::wstring servicePackText;
  std::wstring osDisplayName;
  SHGetKnownFolderPathFn shGetKnownFolderPath = nullptr;

  // Facts of the later start-up steps.
  bool initialised = false;
  std::wstring windowsFolder;
  std::wstring systemFolder;
  DWORD systemVolumeSerial = 0;
  std::wstring profilesRoot;
  int ieMajor = 0;
  int ieMinor = 0;
  int ieBuild = 0;
  std::wstring ieVersionText;
  std::wstring ieName;
  DWORD comctl32Version = 0;
  DWORD shell32Version = 0;
  DWORD shlwapiVersion = 0;
  DWORD gdiplusVersion = 0;
  bool terminalServicesEnabled = false;
  bool terminalServicesKnown = false;
  bool singleSessionTerminalServices = false;
  DWORD sessionId = 0;
};

// Written on the main thread during start-up, read-only afterwards.
extern EnvironmentRecord g_record;

// GetVersionExW with the extended record.
bool QueryVersion(OSVERSIONINFOEXW& version);

} // namespace Detail
} // namespace QorEnv
