// The environment record and its plain accessors: no detection here, so
// that the libraries below start-up (os, reg, fs) can read it.
#include "qor/env_record/state.h"

namespace QorEnv {

namespace Detail {

EnvironmentRecord g_record;

bool QueryVersion(OSVERSIONINFOEXW& version) {
  ZeroMemory(&version, sizeof(version));
  version.dwOSVersionInfoSize = sizeof(version);
  return GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version)) != FALSE;
}

} // namespace Detail

using Detail::g_record;

bool IsInitialised() {
  return g_record.initialised;
}
int GetPlatformId() {
  return g_record.platformId;
}
int GetOsId() {
  return g_record.osId;
}
int GetProductType() {
  return g_record.productType;
}
bool Is64Bit() {
  return g_record.is64Bit;
}
const std::wstring& GetOsDisplayName() {
  return g_record.osDisplayName;
}
DWORD GetServicePackMajor() {
  return g_record.servicePackMajor;
}
DWORD GetServicePackMinor() {
  return g_record.servicePackMinor;
}
DWORD GetBuildNumber() {
  return g_record.buildNumber;
}
const std::wstring& GetServicePackText() {
  return g_record.servicePackText;
}
SHGetKnownFolderPathFn GetShGetKnownFolderPath() {
  return g_record.shGetKnownFolderPath;
}
bool IsVistaOrLater() {
  if (g_record.initialised) {
    return g_record.isVistaOrLater;
  }
  // Before start-up: asked once (the compiler guards the static), then kept.
  static const bool early = [] {
    OSVERSIONINFOEXW version;
    return Detail::QueryVersion(version) && version.dwMajorVersion > 5;
  }();
  return early;
}
const std::wstring& GetWindowsFolder() {
  return g_record.windowsFolder;
}
const std::wstring& GetSystemFolder() {
  return g_record.systemFolder;
}
const std::wstring& GetProfilesRoot() {
  return g_record.profilesRoot;
}
DWORD GetSystemVolumeSerial() {
  return g_record.systemVolumeSerial;
}
DWORD GetComctl32Version() {
  return g_record.comctl32Version;
}
DWORD GetShell32Version() {
  return g_record.shell32Version;
}
DWORD GetShlwapiVersion() {
  return g_record.shlwapiVersion;
}
DWORD GetGdiplusVersion() {
  return g_record.gdiplusVersion;
}
int GetIeMajor() {
  return g_record.ieMajor;
}
int GetIeMinor() {
  return g_record.ieMinor;
}
int GetIeBuild() {
  return g_record.ieBuild;
}
const std::wstring& GetIeVersionText() {
  return g_record.ieVersionText;
}
const std::wstring& GetIeName() {
  return g_record.ieName;
}
bool IsSingleSessionTerminalServices() {
  return g_record.singleSessionTerminalServices;
}
DWORD GetSessionId() {
  return g_record.sessionId;
}

} // namespace QorEnv
