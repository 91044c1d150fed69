// The environment record and its plain accessors: no detection here, so
// that the libraries below start-up (os, reg, fs) can read it.
#include "qor/env_record/state.h"

#include "qor/handle/critical_section.h"

#include <atomic>
#include <memory>
#include <vector>

namespace QorEnv {

namespace Detail {

namespace {

std::atomic<const EnvironmentRecord*> g_current{nullptr};

// Every record published, kept to the end of the process: a reader may still
// hold a reference into an earlier one. Start-up publishes a few, so this
// stays small.
struct Published {
  Qor::CriticalSection lock;
  std::vector<std::unique_ptr<const EnvironmentRecord>> records;
};

Published& PublishedRecords() {
  static Published published;
  return published;
}

void PublishLocked(Published& published, const EnvironmentRecord& record) {
  published.records.push_back(std::make_unique<const EnvironmentRecord>(record));
  g_current.store(published.records.back().get(), std::memory_order_release);
}

} // namespace

const EnvironmentRecord& CurrentRecord() {
  static const EnvironmentRecord beforeStartUp;
  const EnvironmentRecord* current = g_current.load(std::memory_order_acquire);
  return current ? *current : beforeStartUp;
}

void PublishRecord(const EnvironmentRecord& record) {
  Published& published = PublishedRecords();
  Qor::Locked locked(published.lock);
  PublishLocked(published, record);
}

void UpdateRecord(const std::function<void(EnvironmentRecord&)>& change) {
  Published& published = PublishedRecords();
  Qor::Locked locked(published.lock);
  EnvironmentRecord next = CurrentRecord();
  change(next);
  PublishLocked(published, next);
}

bool QueryVersion(OSVERSIONINFOEXW& version) {
  ZeroMemory(&version, sizeof(version));
  version.dwOSVersionInfoSize = sizeof(version);
  return GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version)) != FALSE;
}

} // namespace Detail

namespace {
const Detail::EnvironmentRecord& Record() {
  return Detail::CurrentRecord();
}
} // namespace

bool IsInitialised() {
  return Record().initialised;
}
int GetPlatformId() {
  return Record().platformId;
}
int GetOsId() {
  return Record().osId;
}
int GetProductType() {
  return Record().productType;
}
bool Is64Bit() {
  return Record().is64Bit;
}
const std::wstring& GetOsDisplayName() {
  return Record().osDisplayName;
}
DWORD GetServicePackMajor() {
  return Record().servicePackMajor;
}
DWORD GetServicePackMinor() {
  return Record().servicePackMinor;
}
DWORD GetBuildNumber() {
  return Record().buildNumber;
}
const std::wstring& GetServicePackText() {
  return Record().servicePackText;
}
SHGetKnownFolderPathFn GetShGetKnownFolderPath() {
  return Record().shGetKnownFolderPath;
}
bool IsVistaOrLater() {
  if (Record().initialised) {
    return Record().isVistaOrLater;
  }
  // Before start-up: asked once (the compiler guards the static), then kept.
  static const bool early = [] {
    OSVERSIONINFOEXW version;
    return Detail::QueryVersion(version) && version.dwMajorVersion > 5;
  }();
  return early;
}
const std::wstring& GetWindowsFolder() {
  return Record().windowsFolder;
}
const std::wstring& GetSystemFolder() {
  return Record().systemFolder;
}
const std::wstring& GetProfilesRoot() {
  return Record().profilesRoot;
}
DWORD GetSystemVolumeSerial() {
  return Record().systemVolumeSerial;
}
DWORD GetComctl32Version() {
  return Record().comctl32Version;
}
DWORD GetShell32Version() {
  return Record().shell32Version;
}
DWORD GetShlwapiVersion() {
  return Record().shlwapiVersion;
}
DWORD GetGdiplusVersion() {
  return Record().gdiplusVersion;
}
int GetIeMajor() {
  return Record().ieMajor;
}
int GetIeMinor() {
  return Record().ieMinor;
}
int GetIeBuild() {
  return Record().ieBuild;
}
const std::wstring& GetIeVersionText() {
  return Record().ieVersionText;
}
const std::wstring& GetIeName() {
  return Record().ieName;
}
bool IsSingleSessionTerminalServices() {
  return Record().singleSessionTerminalServices;
}
DWORD GetSessionId() {
  return Record().sessionId;
}

} // namespace QorEnv
