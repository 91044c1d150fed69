// vtrdiag: runs the setup's environment detection and prints what it found,
// so that support staff see the machine as the setup sees it.
//
// Exit code 0, or the library error's code when the detection fails.
#include "qor/env/env.h"
#include "qor/error/error.h"
#include "qor/env/system_report.h"
#include "qor/text/text.h"

#include <windows.h>

#include <string>

namespace {

// Console: wide text as is. Redirected: UTF-8.
void Write(const std::wstring& text) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) {
    return;
  }
  DWORD written = 0;
  DWORD mode = 0;
  if (GetConsoleMode(out, &mode)) {
    WriteConsoleW(out, text.c_str(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr,
                                  0, nullptr, nullptr);
  if (bytes <= 0) {
    return;
  }
  std::string narrow(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &narrow[0], bytes,
                      nullptr, nullptr);
  WriteFile(out, narrow.data(), static_cast<DWORD>(narrow.size()), &written, nullptr);
}

void Line(const wchar_t* label, const std::wstring& value) {
  std::wstring line;
  QorString::Format(line, L"%-26s%s\n", label, value.c_str());
  Write(line);
}

std::wstring Number(unsigned long value) {
  std::wstring text;
  QorString::Format(text, L"%lu", value);
  return text;
}

std::wstring YesNo(bool value) {
  return value ? L"yes" : L"no";
}

std::wstring PackedVersion(DWORD version) {
  if (version == 0) {
    return L"not available";
  }
  std::wstring text;
  QorString::Format(text, L"%lu.%lu", static_cast<unsigned long>(HIWORD(version)),
                    static_cast<unsigned long>(LOWORD(version)));
  return text;
}

const wchar_t* OsIdName(int osId) {
  static const wchar_t* const names[] = {
      L"Unknown",       L"Win2000",       L"WinXP",           L"WinXP64",
      L"WinServer2003", L"WinHomeServer", L"WinServer2003R2", L"WinVista",
      L"WinServer2008", L"Win7",          L"WinServer2008R2", L"Newer",
  };
  return osId >= 0 && osId <= QorEnv::Newer ? names[osId] : L"?";
}

const wchar_t* ProductTypeName(int productType) {
  static const wchar_t* const names[] = {L"Not Applicable", L"Unknown", L"Workstation", L"Server"};
  return productType >= 0 && productType <= 3 ? names[productType] : L"?";
}

void PrintFacts() {
  std::wstring text;
  Write(L"Operating system\n");
  Line(L"Display name:", QorEnv::GetOsDisplayName());
  QorString::Format(text, L"%d (%s)", QorEnv::GetOsId(), OsIdName(QorEnv::GetOsId()));
  Line(L"OS id:", text);
  QorString::Format(text, L"%d (%s)", QorEnv::GetProductType(),
                    ProductTypeName(QorEnv::GetProductType()));
  Line(L"Product type:", text);
  Line(L"Platform id:", Number(static_cast<unsigned long>(QorEnv::GetPlatformId())));
  Line(L"Build:", Number(QorEnv::GetBuildNumber()));
  QorString::Format(text, L"%lu.%lu \"%s\"", QorEnv::GetServicePackMajor(),
                    QorEnv::GetServicePackMinor(), QorEnv::GetServicePackText().c_str());
  Line(L"Service pack:", text);
  Line(L"64-bit Windows:", YesNo(QorEnv::Is64Bit()));
  Line(L"Vista or later:", YesNo(QorEnv::IsVistaOrLater()));
  Line(L"Known-folder lookup:", QorEnv::GetShGetKnownFolderPath() ? L"present" : L"absent");

  Write(L"\nFolders\n");
  Line(L"Windows folder:", QorEnv::GetWindowsFolder());
  Line(L"System folder:", QorEnv::GetSystemFolder());
  QorString::Format(text, L"%04lX-%04lX",
                    static_cast<unsigned long>(HIWORD(QorEnv::GetSystemVolumeSerial())),
                    static_cast<unsigned long>(LOWORD(QorEnv::GetSystemVolumeSerial())));
  Line(L"System volume serial:", text);
  Line(L"Profiles root:", QorEnv::GetProfilesRoot());

  Write(L"\nLibrary versions\n");
  Line(L"comctl32.dll:", PackedVersion(QorEnv::GetComctl32Version()));
  Line(L"shell32.dll:", PackedVersion(QorEnv::GetShell32Version()));
  Line(L"shlwapi.dll:", PackedVersion(QorEnv::GetShlwapiVersion()));
  Line(L"gdiplus.dll:", PackedVersion(QorEnv::GetGdiplusVersion()));

  Write(L"\nBrowser\n");
  QorString::Format(text, L"%d.%d (build %d)", QorEnv::GetIeMajor(), QorEnv::GetIeMinor(),
                    QorEnv::GetIeBuild());
  Line(L"Version:", text);
  Line(L"Name:", QorEnv::GetIeName());

  Write(L"\nTerminal services and account\n");
  Line(L"Terminal services:", YesNo(QorEnv::AreTerminalServicesEnabled()));
  Line(L"Single-session kind:", YesNo(QorEnv::IsSingleSessionTerminalServices()));
  Line(L"Session id:", Number(QorEnv::GetSessionId()));
  Line(L"Administrator:", YesNo(QorEnv::IsUserAdmin()));
}

} // namespace

int main() {
  Write(L"Veltrano environment diagnostics\n\n");
  try {
    QorEnv::Initialize(false);
  } catch (QorError::Exception* error) {
    int code = error->GetCode();
    Write(L"Error: " + error->GetFullText(true));
    delete error;
    return code;
  }
  PrintFacts();
  std::wstring report;
  QorEnv::GetSystemReport(report);
  Write(L"\nSystem report\n\n" + report);
  return 0;
}
