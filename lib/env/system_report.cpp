// The support report of the machine, built from the environment record.
#include "qor/env/system_report.h"

#include "qor/env/env.h"
#include "qor/error/error.h"
#include "qor/env/locations.h"
#include "qor/reg/reg_key.h"
#include "qor/text/text.h"
#include "users_internal.h"

#include <windows.h>

#include <string>
#include <vector>

namespace QorEnv {

namespace {

const wchar_t kLayersKey[] =
    L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers";

const wchar_t* OsDisplayText(int osId) {
  static const wchar_t* const texts[] = {
      L"Unknown Windows OS",
      L"Windows 2000",
      L"Windows XP",
      L"Windows XP",
      L"Windows Server 2003",
      L"Windows Home Server",
      L"Windows Server 2003 R2",
      L"Windows Vista",
      L"Windows Server 2008",
      L"Windows 7",
      L"Windows Server 2008 R2",
      L"Unknown Windows OS",
  };
  return osId >= 0 && osId <= Newer ? texts[osId] : L"Unknown Windows OS";
}

const wchar_t* ProductTypeText(int productType) {
  static const wchar_t* const texts[] = {L"Not Applicable", L"Unknown", L"Workstation", L"Server"};
  return productType >= 0 && productType <= 3 ? texts[productType] : L"Unknown";
}

std::wstring PackedVersionText(DWORD version, const wchar_t* whenZero) {
  if (version == 0) {
    return whenZero;
  }
  return QorString::FormatText(L"%d.%d", static_cast<int>(HIWORD(version)),
                               static_cast<int>(LOWORD(version)));
}

int CurrentAccountLevel() {
  try {
    return IsUserAdmin() ? Detail::AccountAdministrator : Detail::AccountUser;
  } catch (QorError::Exception* error) {
    delete error;
    return Detail::AccountUnknown;
  }
}

} // namespace

namespace Detail {

std::wstring FormatOsReport(const OsReportFacts& facts) {
  std::wstring text;
  if (facts.compatibilityModeSuspected) {
    text += L"WARNING: The program is running in compatibility mode!!!\n\n";
  }
  text += L"Operating System version information:\n\n";
  text += QorString::FormatText(L"OS Version:\t%s \n", OsDisplayText(facts.osId));
  text += QorString::FormatText(L"OS NT Type:\t%s \n", ProductTypeText(facts.productType));
  text += QorString::FormatText(L"Build number:\t%d\nService pack string:\t%s\n",
                                static_cast<int>(facts.buildNumber), facts.servicePackText.c_str());
  text += QorString::FormatText(L"Service pack major:\t%d\nService pack minor:\t%d\n",
                                static_cast<int>(facts.servicePackMajor),
                                static_cast<int>(facts.servicePackMinor));
  if (facts.terminalServicesEnabled) {
    if (facts.singleSessionTerminalServices) {
      text += L"Single user terminal services available.\n";
      if (facts.osId == Win2000) {
        text += L"\t(Remote Administration mode)\n";
      } else if (facts.osId >= WinXP) {
        text += L"\t(Fast user switching)\n";
      }
    } else {
      text += L"Terminal services are installed.\n";
    }
  }
  text += L"Current account level:";
  switch (facts.accountLevel) {
  case AccountAdministrator:
    text += L"Administrator\n";
    break;
  case AccountUser:
    text += L"User\n";
    break;
  default:
    text += L"Unknown\n";
    break;
  }
  text += L"Full OS string:\t" + facts.osDisplayName + L"\n";
  return text;
}

std::wstring FormatFoldersReport(const std::wstring& windowsFolder,
                                 const std::wstring& systemFolder) {
  return L"Windows directory:\t" + windowsFolder + L"\nSystem directory:\t" + systemFolder + L"\n";
}

std::wstring FormatDllVersionsReport(DWORD comctl32, DWORD shell32, DWORD shlwapi, DWORD gdiplus) {
  return L"Comctl32.dll version:\t" + PackedVersionText(comctl32, L"lower than 4.71") +
         L"\nShell32.dll version:\t" + PackedVersionText(shell32, L"lower than 4.71") +
         L"\nShlwapi.dll version:\t" + PackedVersionText(shlwapi, L"lower than 4.71") +
         L"\nGdiplus.dll version:\t" + PackedVersionText(gdiplus, L"Not available") + L"\n";
}

std::wstring FormatBrowserReport(int ieMajor, int ieMinor, const std::wstring& ieVersionText,
                                 const std::wstring& ieName) {
  return L"Internet Explorer version information:\n\n" +
         QorString::FormatText(L"IE Major Version:\t%d \n", ieMajor) +
         QorString::FormatText(L"IE Minor Version:\t%d \n", ieMinor) +
         QorString::FormatText(L"IE Full Build Number:\t%s \n", ieVersionText.c_str()) +
         L"Full IE string:\t" + ieName + L"\n";
}

bool CompatibilityModeSuspected(int osId, int ieMajor, int ieBuild, bool (*underLayer)()) {
  if (osId >= Win7) {
    return false;
  }
  if (osId <= Win2000) {
    return ieMajor > 6;
  }
  if (osId <= WinServer2003R2) {
    if (ieMajor == 8) {
      return ieBuild >= 7000 || underLayer();
    }
    if (ieMajor == 7) {
      return ieBuild >= 6000;
    }
    return false;
  }
  // Vista and Server 2008.
  return ieMajor == 8 && ieBuild >= 7000;
}

} // namespace Detail

void GetOsReport(std::wstring& text) {
  Detail::OsReportFacts facts;
  facts.compatibilityModeSuspected = IsCompatibilityModeSuspected();
  facts.osId = GetOsId();
  facts.productType = GetProductType();
  facts.buildNumber = GetBuildNumber();
  facts.servicePackText = GetServicePackText();
  facts.servicePackMajor = GetServicePackMajor();
  facts.servicePackMinor = GetServicePackMinor();
  facts.terminalServicesEnabled = AreTerminalServicesEnabled();
  facts.singleSessionTerminalServices = IsSingleSessionTerminalServices();
  facts.accountLevel = CurrentAccountLevel();
  facts.osDisplayName = GetOsDisplayName();
  text += Detail::FormatOsReport(facts);
}

void GetFoldersReport(std::wstring& text) {
  text += Detail::FormatFoldersReport(GetWindowsFolder(), GetSystemFolder());
}

void GetDllVersionsReport(std::wstring& text) {
  text += Detail::FormatDllVersionsReport(GetComctl32Version(), GetShell32Version(),
                                          GetShlwapiVersion(), GetGdiplusVersion());
}

void GetBrowserReport(std::wstring& text) {
  text += Detail::FormatBrowserReport(GetIeMajor(), GetIeMinor(), GetIeVersionText(), GetIeName());
}

void GetSystemReport(std::wstring& text) {
  GetOsReport(text);
  text += L"\n";
  GetFoldersReport(text);
  text += L"\n";
  GetDllVersionsReport(text);
  text += L"\n";
  GetBrowserReport(text);
}

bool IsCompatibilityModeSuspected() {
  return Detail::CompatibilityModeSuspected(GetOsId(), GetIeMajor(), GetIeBuild(),
                                            &IsUnderCompatibilityLayer);
}

bool IsUnderCompatibilityLayer() {
  try {
    const std::wstring module = GetModuleFile();
    std::wstring layers;
    GetCompatibilityLayers(HKEY_CURRENT_USER, module, layers);
    if (layers.empty()) {
      GetCompatibilityLayers(HKEY_LOCAL_MACHINE, module, layers);
    }
    return !layers.empty();
  } catch (QorError::Exception* error) {
    delete error;
    return false;
  }
}

void GetCompatibilityLayers(HKEY root, const std::wstring& path, std::wstring& layers) {
  layers.clear();
  if (!QorReg::RegKey::KeyExists(root, kLayersKey)) {
    return;
  }
  QorReg::RegKey key(root, kLayersKey);
  std::vector<std::wstring> names;
  key.GetValueNames(names);
  const std::wstring wanted = Detail::ToLowerCurrentLocale(path);
  for (const std::wstring& name : names) {
    if (Detail::ToLowerCurrentLocale(name) == wanted) {
      layers = key.GetString(name);
      return;
    }
  }
}

void RemoveCompatibilityLayers(HKEY root, const std::wstring& path) {
  if (!QorReg::RegKey::KeyExists(root, kLayersKey)) {
    return;
  }
  QorReg::RegKey key(root, kLayersKey, QorReg::RegKey::AccessAll);
  key.DeleteValue(Detail::ToLowerCurrentLocale(path));
}

} // namespace QorEnv
