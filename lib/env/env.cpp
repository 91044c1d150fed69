#include "qor/env_record/state.h"
#include "qor/env/error_codes.h"

#include "qor/env/env.h"
#include "qor/error/error.h"
#include "qor/env/os_classify.h"
#include "qor/os/os_utils.h"
#include "qor/os/security.h"
#include "qor/error/system_library.h"
#include "qor/error/win32_error.h"
#include "qor/text/path.h"

#include <cstdlib>
#include <ctime>

namespace QorEnv {

namespace {

using Detail::EnvironmentRecord;
using Detail::QueryVersion;

using GetNativeSystemInfoFn = void(WINAPI*)(SYSTEM_INFO*);
using GetProductInfoFn = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, DWORD*);
using VerSetConditionMaskFn = ULONGLONG(WINAPI*)(ULONGLONG, DWORD, BYTE);
using VerifyVersionInfoAFn = BOOL(WINAPI*)(OSVERSIONINFOEXA*, DWORD, DWORDLONG);
using ProcessIdToSessionIdFn = BOOL(WINAPI*)(DWORD, DWORD*);

constexpr int kProcessorArchitectureAmd64 = 9;
constexpr WORD kSuiteTerminal = 0x0010;
constexpr WORD kSuiteSingleUserTs = 0x0100;

// A function of a module the process has loaded already (kernel32, ntdll).
template <class Fn> Fn LoadedModuleFunction(const wchar_t* module, const char* name) {
  return QorWin32::GetFunction<Fn>(GetModuleHandleW(module), name);
}

void SeedRandom() {
  const unsigned seconds = static_cast<unsigned>(std::time(nullptr));
  const unsigned ticks = static_cast<unsigned>(GetTickCount());
  std::srand(seconds + ticks);
}

bool DetectNativeAmd64() {
  SYSTEM_INFO info;
  ZeroMemory(&info, sizeof(info));
  auto native = LoadedModuleFunction<GetNativeSystemInfoFn>(L"kernel32.dll", "GetNativeSystemInfo");
  if (native) {
    native(&info);
  } else {
    GetSystemInfo(&info);
  }
  return info.wProcessorArchitecture == kProcessorArchitectureAmd64;
}

// The shell's known-folder lookup. shell32 stays loaded for the life of the
// process, so the pointer stays valid.
SHGetKnownFolderPathFn FindKnownFolderLookup() {
  HMODULE shell = GetModuleHandleW(L"shell32.dll");
  if (!shell) {
    shell = QorWin32::LoadSystemLibrary(L"shell32.dll");
  }
  return QorWin32::GetFunction<SHGetKnownFolderPathFn>(shell, "SHGetKnownFolderPath");
}

std::wstring QueryFolder(UINT(WINAPI* query)(LPWSTR, UINT)) {
  wchar_t buffer[261] = {};
  UINT length = query(buffer, 261);
  if (length == 0 || length >= 261) {
    return QorString::WithTrailingBackslash(L"Unknown");
  }
  return QorString::WithTrailingBackslash(std::wstring(buffer, length));
}

UINT WINAPI SystemWindowsDirectory(LPWSTR buffer, UINT size) {
  return GetSystemWindowsDirectoryW(buffer, size);
}

UINT WINAPI SystemDirectory(LPWSTR buffer, UINT size) {
  return GetSystemDirectoryW(buffer, size);
}

void ReadFoldersAndVolume() {
  const std::wstring windows = QueryFolder(SystemWindowsDirectory);
  const std::wstring system = QueryFolder(SystemDirectory);
  const std::wstring root = system.substr(0, system.find(L'\\') + 1);
  DWORD serial = 0;
  const bool serialKnown =
      GetVolumeInformationW(root.c_str(), nullptr, 0, &serial, nullptr, nullptr, nullptr, 0) != 0;
  Detail::UpdateRecord([&](EnvironmentRecord& record) {
    record.windowsFolder = windows;
    record.systemFolder = system;
    if (serialKnown) {
      record.systemVolumeSerial = serial;
    }
  });
}

// Whether the system has the given terminal-services suite bits, tested with
// the given condition (VER_OR: any of them, VER_AND: all of them). False when
// the version functions are missing.
bool VerifySuite(WORD suiteMask, BYTE condition) {
  auto setMask = LoadedModuleFunction<VerSetConditionMaskFn>(L"ntdll.dll", "VerSetConditionMask");
  auto verify = LoadedModuleFunction<VerifyVersionInfoAFn>(L"KERNEL32.DLL", "VerifyVersionInfoA");
  if (!setMask || !verify) {
    return false;
  }
  OSVERSIONINFOEXA version;
  ZeroMemory(&version, sizeof(version));
  version.dwOSVersionInfoSize = sizeof(version);
  version.wSuiteMask = suiteMask;
  ULONGLONG conditions = setMask(0, VER_SUITENAME, condition);
  return verify(&version, VER_SUITENAME, conditions) != FALSE;
}

bool TestTerminalServices() {
  OSVERSIONINFOEXW version;
  if (QueryVersion(version) && version.dwPlatformId != VER_PLATFORM_WIN32_NT) {
    return false;
  }
  return VerifySuite(kSuiteTerminal | kSuiteSingleUserTs, VER_OR);
}

void ReadTerminalServices() {
  const bool enabled = TestTerminalServices();
  Detail::UpdateRecord([&](EnvironmentRecord& record) {
    record.terminalServicesEnabled = enabled;
    record.terminalServicesKnown = true;
  });
  if (!enabled) {
    return;
  }
  auto sessionOf =
      LoadedModuleFunction<ProcessIdToSessionIdFn>(L"kernel32.dll", "ProcessIdToSessionId");
  bool sessionKnown = false;
  DWORD session = 0;
  if (sessionOf) {
    if (!sessionOf(GetCurrentProcessId(), &session)) {
      QorWin32::RaiseWin32Error(kSessionIdError, L"Unable to get session ID", GetLastError());
    }
    sessionKnown = true;
  }
  const bool singleSession = VerifySuite(kSuiteSingleUserTs, VER_AND);
  Detail::UpdateRecord([&](EnvironmentRecord& record) {
    record.singleSessionTerminalServices = singleSession;
    if (sessionKnown) {
      record.sessionId = session;
    }
  });
}

} // namespace

void Initialize(bool skipProfileLookup) {
  // 1: random names elsewhere in the library rely on this seed.
  SeedRandom();

  // 2, 3: only NT-based systems from Windows 2000 on are supported.
  OSVERSIONINFOEXW version;
  if (!QueryVersion(version)) {
    QorError::RaiseError(kOsVersionQueryError, L"Unable to determine OS version.");
  }
  if (version.dwPlatformId != VER_PLATFORM_WIN32_NT || version.dwMajorVersion <= 4) {
    QorError::RaiseError(kOsVersionUnsupportedError, L"Unable to determine OS version.");
  }

  // 4: a record of its own, published once the system is known; the later
  // steps publish what they add.
  EnvironmentRecord record;
  record.platformId = VER_PLATFORM_WIN32_NT;
  record.productType = ProductUnknown;
  record.osId = Unknown;
  record.is64Bit = false;
  record.isVistaOrLater = version.dwMajorVersion >= 6;

  // 5: a 32-bit process on 64-bit Windows sees the native architecture only
  // through GetNativeSystemInfo.
  record.is64Bit = DetectNativeAmd64();

  // 6
  GetProductInfoFn getProductInfo = nullptr;
  if (version.dwMajorVersion >= 6) {
    getProductInfo = LoadedModuleFunction<GetProductInfoFn>(L"kernel32.dll", "GetProductInfo");
    record.shGetKnownFolderPath = FindKnownFolderLookup();
  }

  // 7
  record.servicePackMajor = version.wServicePackMajor;
  record.servicePackMinor = version.wServicePackMinor;

  // 8
  OsFacts facts;
  facts.majorVersion = version.dwMajorVersion;
  facts.minorVersion = version.dwMinorVersion;
  facts.productType = version.wProductType;
  facts.suiteMask = version.wSuiteMask;
  facts.is64Bit = record.is64Bit;
  facts.tabletPc = GetSystemMetrics(86) != 0;
  facts.mediaCenter = GetSystemMetrics(87) != 0;
  facts.starter = GetSystemMetrics(88) != 0;
  facts.serverR2 = GetSystemMetrics(89) != 0;
  if (getProductInfo && NeedsProductCode(facts)) {
    DWORD code = 0;
    if (getProductInfo(6, 1, 0, 0, &code)) {
      facts.hasProductCode = true;
      facts.productCode = code;
    }
  }
  const OsClassification classification = ClassifyOs(facts);
  record.productType = classification.productType;
  record.osId = classification.osId;

  // 9, 10
  record.buildNumber = version.dwBuildNumber & 0xFFFF;
  record.servicePackText = version.szCSDVersion;
  record.osDisplayName = ComposeOsDisplayName(record.osId, classification.edition, record.is64Bit,
                                              record.servicePackText, record.buildNumber);
  Detail::PublishRecord(record);

  // 11
  DetectBrowserVersion();

  // 12
  ReadFoldersAndVolume();
  RefreshDllVersions();

  // 13
  ReadTerminalServices();

  // 14
  ComputeProfilesRoot(skipProfileLookup);

  // 15
  Detail::UpdateRecord([](EnvironmentRecord& record) { record.initialised = true; });
}

void RefreshDllVersions() {
  const DWORD comctl32 = QorOs::GetDllVersion(L"comctl32.dll");
  const DWORD shell32 = QorOs::GetDllVersion(L"shell32.dll");
  const DWORD shlwapi = QorOs::GetDllVersion(L"shlwapi.dll");
  const DWORD gdiplus = QorOs::GetDllVersion(L"gdiplus.dll");
  Detail::UpdateRecord([&](EnvironmentRecord& record) {
    record.comctl32Version = comctl32;
    record.shell32Version = shell32;
    record.shlwapiVersion = shlwapi;
    record.gdiplusVersion = gdiplus;
  });
}

// Asked before start-up, the answer is found once (the compiler guards the
// static) and kept.
bool AreTerminalServicesEnabled() {
  const EnvironmentRecord& record = Detail::CurrentRecord();
  if (record.terminalServicesKnown) {
    return record.terminalServicesEnabled;
  }
  static const bool enabled = TestTerminalServices();
  return enabled;
}

bool IsUserAdmin() {
  static const bool admin = QorOs::IsAdministrator();
  return admin;
}

} // namespace QorEnv
