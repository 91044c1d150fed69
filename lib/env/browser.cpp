// The browser's version with its release name, and a user's browser settings.
#include "qor/env/browser.h"
#include "qor/env/error_codes.h"

#include "qor/env_record/state.h"
#include "qor/env/env.h"
#include "qor/error/error.h"
#include "qor/env/profiles.h"
#include "qor/reg/reg_key.h"
#include "qor/text/text.h"
#include "users_internal.h"

#include <windows.h>

#include <cstdlib>
#include <list>
#include <string>
#include <vector>

namespace QorEnv {

namespace {

struct ReleaseName {
  const wchar_t* version;
  const wchar_t* name;
};

// Releases of the 5.x and 6.x lines, oldest build first within each line,
// so the last row a version reaches is its closest known release.
const ReleaseName kReleaseNames[] = {
    {L"5.0.518.10", L"Internet Explorer 5 Developer Preview (Beta 1)"},
    {L"5.0.910.1309", L"Internet Explorer 5 Beta (Beta 2)"},
    {L"5.0.2014.216", L"Internet Explorer 5"},
    {L"5.0.2314.1003", L"Internet Explorer 5 (Office 2000)"},
    {L"5.0.2614.3500", L"Internet Explorer 5 (Windows 98 Second Edition)"},
    {L"5.0.2516.1900", L"Internet Explorer 5.01 (Windows 2000 Beta 3, build 5.00.2031)"},
    {L"5.0.2919.800", L"Internet Explorer 5.01 (Windows 2000 RC1, build 5.00.2072)"},
    {L"5.0.2919.3800", L"Internet Explorer 5.01 (Windows 2000 RC2, build 5.00.2128)"},
    {L"5.0.2919.6307", L"Internet Explorer 5.01 (Also included with Office 2000 SR-1, but not "
                       L"installed by default)"},
    {L"5.0.2920.0", L"Internet Explorer 5.01 (Windows 2000, build 5.00.2195)"},
    {L"5.0.3103.1000", L"Internet Explorer 5.01 SP1 (Windows 2000)"},
    {L"5.0.3105.106", L"Internet Explorer 5.01 SP1 (Windows 95/98 and Windows NT 4.0)"},
    {L"5.0.3314.2101", L"Internet Explorer 5.01 SP2 (Windows 95/98 and Windows NT 4.0)"},
    {L"5.0.3315.1000", L"Internet Explorer 5.01 SP2 (Windows 2000)"},
    {L"5.50.3825.1300", L"Internet Explorer 5.5 Developer Preview (Beta)"},
    {L"5.50.4030.2400", L"Internet Explorer 5.5 & Internet Tools Beta"},
    {L"5.50.4134.100", L"Internet Explorer 5.5 (Windows Me)"},
    {L"5.50.4134.600", L"Internet Explorer 5.5"},
    {L"5.50.4308.2900", L"Internet Explorer 5.5 Advanced Security Privacy Beta"},
    {L"5.50.4522.1800", L"Internet Explorer 5.5 Service Pack 1"},
    {L"5.50.4807.2300", L"Internet Explorer 5.5 Service Pack 2"},
    {L"6.0.2462.0", L"Internet Explorer 6 Public Preview (Beta)"},
    {L"6.0.2479.6", L"Internet Explorer 6 Public Preview (Beta) Refresh"},
    {L"6.0.2600.0", L"Internet Explorer 6 (Windows XP)"},
    {L"6.0.2800.1106", L"Internet Explorer 6 Service Pack 1 (Windows XP SP1)"},
    {L"6.0.2900.2180", L"Internet Explorer 6 (Windows XP SP2)"},
    {L"6.0.2900.5512", L"Internet Explorer 6 (Windows XP SP3)"},
    {L"6.0.3663.0", L"Internet Explorer 6 for Microsoft Windows Server 2003 RC1"},
    {L"6.0.3718.0", L"Internet Explorer 6 for Windows Server 2003 RC2"},
    {L"6.0.3790.0", L"Internet Explorer 6 for Windows Server 2003 (released)"},
};

const wchar_t kBrowserKey[] = L"Software\\Microsoft\\Internet Explorer";
const wchar_t kSettingsKey[] = L"Software\\Microsoft\\Internet Explorer\\Main";

// Up to four dotted numbers; missing ones are 0, extra ones ignored.
void SplitVersion(const std::wstring& text, int numbers[4]) {
  for (int i = 0; i < 4; ++i) {
    numbers[i] = 0;
  }
  size_t start = 0;
  for (int i = 0; i < 4 && start <= text.size(); ++i) {
    size_t dot = text.find(L'.', start);
    numbers[i] = _wtoi(text.substr(start, dot - start).c_str());
    if (dot == std::wstring::npos) {
      break;
    }
    start = dot + 1;
  }
}

} // namespace

std::wstring LookupBrowserReleaseName(const int numbers[4], int major, int minor) {
  std::wstring formatted;
  QorString::Format(formatted, L"%d.%d.%d.%d", numbers[0], numbers[1], numbers[2], numbers[3]);
  const wchar_t* candidate = nullptr;
  for (const ReleaseName& row : kReleaseNames) {
    if (formatted == row.version) {
      return row.name;
    }
    int rowNumbers[4];
    SplitVersion(row.version, rowNumbers);
    if (rowNumbers[0] == major && rowNumbers[1] == minor && numbers[2] >= rowNumbers[2] &&
        numbers[3] >= rowNumbers[3]) {
      candidate = row.name;
    }
  }
  if (candidate) {
    return candidate;
  }
  std::wstring name;
  QorString::Format(name, L"Internet Explorer %d.", major);
  if (minor == 1) {
    name += L"01";
  } else {
    std::wstring minorText;
    QorString::Format(minorText, L"%d", minor);
    name += minorText;
  }
  return name;
}

BrowserVersion ParseBrowserVersion(const std::wstring& versionText) {
  int numbers[4];
  SplitVersion(versionText, numbers);
  BrowserVersion version;
  switch (numbers[0]) {
  case 5:
    version.major = 5;
    if (numbers[1] == 0) {
      // 5.00 builds from 2919 on (and two pre-releases) are 5.01.
      version.minor = (numbers[2] >= 2919 || numbers[2] == 2516 || numbers[3] == 1900) ? 1 : 0;
    } else {
      version.minor = numbers[1];
    }
    version.name = LookupBrowserReleaseName(numbers, version.major, version.minor);
    break;
  case 6:
    version.major = 6;
    version.minor = numbers[1];
    version.name = LookupBrowserReleaseName(numbers, version.major, version.minor);
    break;
  default:
    version.major = numbers[0];
    version.minor = numbers[1];
    QorString::Format(version.name, L"Internet Explorer %d.%d", version.major, version.minor);
    break;
  }
  version.build = numbers[2];
  return version;
}

void DetectBrowserVersion() {
  if (!QorReg::RegKey::KeyExists(HKEY_LOCAL_MACHINE, kBrowserKey)) {
    return;
  }
  QorReg::RegKey key(HKEY_LOCAL_MACHINE, kBrowserKey);
  if (!key.ValueExists(L"Version")) {
    return;
  }
  const std::wstring text = key.GetString(L"Version");
  const BrowserVersion version = ParseBrowserVersion(text);
  Detail::UpdateRecord([&](Detail::EnvironmentRecord& record) {
    record.ieVersionText = text;
    record.ieMajor = version.major;
    record.ieMinor = version.minor;
    record.ieBuild = version.build;
    record.ieName = version.name;
  });
}

void OpenBrowserSettings(const std::wstring& user, QorReg::RegKey& key, bool writable) {
  Detail::WithContext(writable ? kBrowserSettingsWritableError : kBrowserSettingsError,
                      L"Unable to find IE settings.", [&] {
                        QorReg::RegKey userData;
                        OpenUserRegistry(user, userData);
                        if (writable) {
                          key.OpenChild(userData, kSettingsKey, 0x2001F);
                        } else {
                          key.OpenChild(userData, kSettingsKey);
                        }
                      });
}

void OpenVirtualizedUserSettings(const std::wstring& user, QorReg::RegKey& key) {
  QorReg::RegKey userData;
  Detail::WithContext(kVirtualizedSettingsError,
                      L"Unable to locate virtualized user settings in the registry.",
                      [&] { OpenUserRegistry(user, userData); });
  std::wstring sid;
  Detail::WithContext(kVirtualizedUserSidError, L"Unable to get user SID",
                      [&] { GetUserSid(user, sid); });
  Detail::WithContext(
      kVirtualizedSettingsError, L"Unable to locate virtualized user settings in the registry.",
      [&] {
        key.OpenChild(
            userData,
            L"Software\\Microsoft\\Internet Explorer\\InternetRegistry\\REGISTRY\\USER\\" + sid);
      });
}

std::wstring GetStartPages(const std::wstring& user) {
  return Detail::WithContext(kStartPagesError, L"Unable to read Start Page setting.", [&] {
    QorReg::RegKey settings;
    OpenBrowserSettings(user, settings, false);
    std::wstring pages = settings.GetString(L"Start Page", std::wstring());
    if (settings.ValueExists(L"Secondary Start Pages")) {
      std::list<std::wstring> secondary;
      settings.GetMultiString(L"Secondary Start Pages", secondary);
      for (const std::wstring& page : secondary) {
        pages += L"|" + page;
      }
    }
    return pages;
  });
}

std::wstring GetSearchPage(const std::wstring& user) {
  return Detail::WithContext(kSearchPageError, L"Unable to read Search Page setting.", [&] {
    QorReg::RegKey settings;
    OpenBrowserSettings(user, settings, false);
    return settings.GetString(L"Search Page", std::wstring());
  });
}

std::wstring GetCurrentUserStartPages() {
  return GetStartPages(GetCurrentUserName());
}

std::wstring GetCurrentUserSearchPage() {
  return GetSearchPage(GetCurrentUserName());
}

} // namespace QorEnv
