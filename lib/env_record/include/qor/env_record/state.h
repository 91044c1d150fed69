// The environment record itself, shared by the modules of this library that
// fill it during start-up. Everything else reads it through qor/env_record/record.h.
#pragma once

#include "qor/env_record/record.h"

#include <windows.h>

#include <functional>
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

// The record in force. A record, once published, never changes again and
// lives as long as the process, so readers on any thread may keep references
// into it; start-up and the later refreshes publish changed copies.
const EnvironmentRecord& CurrentRecord();

// Makes record the one in force.
void PublishRecord(const EnvironmentRecord& record);

// Publishes a copy of the record in force with change applied to it; one
// update at a time, so that none is lost. When change throws, nothing is
// published.
void UpdateRecord(const std::function<void(EnvironmentRecord&)>& change);

// GetVersionExW with the extended record.
bool QueryVersion(OSVERSIONINFOEXW& version);

} // namespace Detail
} // namespace QorEnv
