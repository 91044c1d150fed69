// The full system report as the diagnostic tool prints it, with Wine made
// to report Windows XP and Windows 7 to copies of the tool. The parts that
// depend on the machine (folders, library versions, the browser, the
// account) are worked out here from the same sources.
#include "qor/env/env.h"
#include "qor/env/locations.h"
#include "qor/os/security.h"
#include "qor/handle/unique_handle.h"

#include "qor/test/platform.h"
#include "qor/test/process.h"
#include "qor/test/registry.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::wstring DiagnosticTool() {
  return QorEnv::GetModuleFolder() + L"..\\..\\tools\\vtrdiag\\vtrdiag.exe";
}

using QorTest::GetRegString;
using QorTest::Narrow;
using QorTest::SetRegString;

const wchar_t kBrowserKey[] = L"Software\\Microsoft\\Internet Explorer";

// A copy of the tool under its own name, to which Wine reports the given
// Windows version; removed with the object.
class DiagnosticCopy {
public:
  DiagnosticCopy(const std::wstring& name, const wchar_t* windowsVersion)
      : path_(QorEnv::GetModuleFolder() + name), version_(name, windowsVersion) {
    EXPECT_TRUE(CopyFileW(DiagnosticTool().c_str(), path_.c_str(), FALSE)) << GetLastError();
  }
  ~DiagnosticCopy() { DeleteFileW(path_.c_str()); }
  // The report part of the tool's output; the whole output in output.
  std::wstring Report(std::wstring* output = nullptr) {
    const QorTest::RunResult run = QorTest::RunCapturingOutput(QorTest::Quoted(path_));
    const std::wstring text = QorTest::Widen(run.output);
    EXPECT_EQ(0u, run.exitCode) << Narrow(text);
    if (output) {
      *output = text;
    }
    const std::wstring marker = L"\nSystem report\n\n";
    size_t at = text.find(marker);
    if (at == std::wstring::npos) {
      ADD_FAILURE() << "no report in: " << Narrow(text);
      return std::wstring();
    }
    return text.substr(at + marker.size());
  }

private:
  std::wstring path_;
  QorTest::WineVersionOverride version_;
};

// Replaces the browser's version for the life of the object.
class BrowserVersionOverride {
public:
  explicit BrowserVersionOverride(const wchar_t* version)
      : old_(GetRegString(HKEY_LOCAL_MACHINE, kBrowserKey, L"Version")) {
    SetRegString(HKEY_LOCAL_MACHINE, kBrowserKey, L"Version", version);
  }
  ~BrowserVersionOverride() { SetRegString(HKEY_LOCAL_MACHINE, kBrowserKey, L"Version", old_); }

private:
  std::wstring old_;
};

std::wstring Formatted(const wchar_t* format, ...) {
  wchar_t buffer[512];
  va_list args;
  va_start(args, format);
  _vsnwprintf(buffer, 511, format, args);
  va_end(args);
  buffer[511] = L'\0';
  return buffer;
}

std::wstring Version(DWORD packed, const wchar_t* whenZero) {
  return packed ? Formatted(L"%d.%d", HIWORD(packed), LOWORD(packed)) : std::wstring(whenZero);
}

std::wstring Folder(const wchar_t* path) {
  std::wstring folder = path;
  if (folder.empty() || folder.back() != L'\\') {
    folder += L'\\';
  }
  return folder;
}

// The sections that do not depend on the Windows version Wine reports.
std::wstring MachineSections() {
  wchar_t windows[MAX_PATH];
  wchar_t system[MAX_PATH];
  GetWindowsDirectoryW(windows, MAX_PATH);
  GetSystemDirectoryW(system, MAX_PATH);
  std::wstring text = L"Windows directory:\t" + Folder(windows) + L"\nSystem directory:\t" +
                      Folder(system) + L"\n\n";
  text += L"Comctl32.dll version:\t" + Version(QorEnv::GetComctl32Version(), L"lower than 4.71");
  text += L"\nShell32.dll version:\t" + Version(QorEnv::GetShell32Version(), L"lower than 4.71");
  text += L"\nShlwapi.dll version:\t" + Version(QorEnv::GetShlwapiVersion(), L"lower than 4.71");
  text += L"\nGdiplus.dll version:\t" + Version(QorEnv::GetGdiplusVersion(), L"Not available");
  text += L"\n\n";

  const std::wstring browser = GetRegString(HKEY_LOCAL_MACHINE, kBrowserKey, L"Version");
  int major = 0;
  int minor = 0;
  swscanf(browser.c_str(), L"%d.%d", &major, &minor);
  text += L"Internet Explorer version information:\n\n";
  text += Formatted(L"IE Major Version:\t%d \nIE Minor Version:\t%d \n", major, minor);
  text += L"IE Full Build Number:\t" + browser + L" \n";
  if (major == 5 || major == 6) {
    ADD_FAILURE() << "the expected name of a 5.x or 6.x browser is not worked out here";
  }
  text += Formatted(L"Full IE string:\tInternet Explorer %d.%d\n", major, minor);
  return text;
}

// The display names carry " x64" after the edition word on 64-bit Windows.
std::wstring X64() {
  return QorTest::X64Suffix();
}

std::wstring AccountLine() {
  return std::wstring(L"Current account level:") +
         (QorOs::IsAdministrator() ? L"Administrator\n" : L"User\n");
}

void ExpectSameLines(const std::wstring& expected, const std::wstring& actual) {
  std::vector<std::wstring> want;
  std::vector<std::wstring> got;
  for (auto* pair : {&want, &got}) {
    const std::wstring& text = pair == &want ? expected : actual;
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find(L'\n', start);
      if (end == std::wstring::npos) {
        end = text.size();
      }
      pair->push_back(text.substr(start, end - start));
      start = end + 1;
    }
  }
  for (size_t i = 0; i < want.size() || i < got.size(); ++i) {
    EXPECT_EQ(i < want.size() ? Narrow(want[i]) : "<none>",
              i < got.size() ? Narrow(got[i]) : "<none>")
        << "line " << i + 1;
  }
  EXPECT_EQ(expected, actual);
}

class SystemReport : public testing::Test {
protected:
  static void SetUpTestSuite() {
    if (!QorEnv::IsInitialised()) {
      QorEnv::Initialize(true);
    }
  }
};

TEST_F(SystemReport, WindowsXp) {
  DiagnosticCopy tool(L"vtrdiag-report-winxp.exe", L"winxp");
  ExpectSameLines(L"Operating System version information:\n\n"
                  L"OS Version:\tWindows XP \n"
                  L"OS NT Type:\tWorkstation \n"
                  L"Build number:\t2600\n"
                  L"Service pack string:\tService Pack 3\n"
                  L"Service pack major:\t3\n"
                  L"Service pack minor:\t0\n"
                  L"Single user terminal services available.\n"
                  L"\t(Fast user switching)\n" +
                      AccountLine() + L"Full OS string:\tWindows XP Professional" + X64() +
                      L" Service Pack 3 (Build 2600)\n\n" + MachineSections(),
                  tool.Report());
}

// Windows 2000 with any browser after 6 can only be a later system in
// disguise.
TEST_F(SystemReport, Windows2000WithALaterBrowser) {
  DiagnosticCopy tool(L"vtrdiag-report-win2k.exe", L"win2k");
  const std::wstring browser = GetRegString(HKEY_LOCAL_MACHINE, kBrowserKey, L"Version");
  ASSERT_GT(_wtoi(browser.c_str()), 6) << "this check needs Wine's later browser";
  ExpectSameLines(L"WARNING: The program is running in compatibility mode!!!\n\n"
                  L"Operating System version information:\n\n"
                  L"OS Version:\tWindows 2000 \n"
                  L"OS NT Type:\tWorkstation \n"
                  L"Build number:\t2195\n"
                  L"Service pack string:\tService Pack 4\n"
                  L"Service pack major:\t4\n"
                  L"Service pack minor:\t0\n" +
                      AccountLine() + L"Full OS string:\tWindows 2000 Professional" + X64() +
                      L" Service Pack 4 (Build 2195)\n\n" + MachineSections(),
                  tool.Report());
}

// Wine 8.0 gives the workstation facts of 6.1 to the "win2008r2" setting and
// the server facts to "win7", so the tool's own product-type line says which
// of the two systems each setting produced; both must be reported right.
TEST_F(SystemReport, Windows7AndServer2008R2) {
  const std::wstring workstation = L"Operating System version information:\n\n"
                                   L"OS Version:\tWindows 7 \n"
                                   L"OS NT Type:\tWorkstation \n"
                                   L"Build number:\t7601\n"
                                   L"Service pack string:\tService Pack 1\n"
                                   L"Service pack major:\t1\n"
                                   L"Service pack minor:\t0\n"
                                   L"Single user terminal services available.\n"
                                   L"\t(Fast user switching)\n" +
                                   AccountLine() + L"Full OS string:\tWindows 7 Ultimate" + X64() +
                                   L" Service Pack 1 (Build 7601)\n\n" + MachineSections();
  const std::wstring server = L"Operating System version information:\n\n"
                              L"OS Version:\tWindows Server 2008 R2 \n"
                              L"OS NT Type:\tServer \n"
                              L"Build number:\t7601\n"
                              L"Service pack string:\tService Pack 1\n"
                              L"Service pack major:\t1\n"
                              L"Service pack minor:\t0\n"
                              L"Single user terminal services available.\n"
                              L"\t(Fast user switching)\n" +
                              AccountLine() + L"Full OS string:\tWindows Server 2008 R2 Standard" +
                              X64() + L" Service Pack 1 (Build 7601)\n\n" + MachineSections();
  int workstations = 0;
  for (const wchar_t* setting : {L"win7", L"win2008r2"}) {
    SCOPED_TRACE(Narrow(setting));
    DiagnosticCopy tool(std::wstring(L"vtrdiag-report-") + setting + L".exe", setting);
    std::wstring output;
    const std::wstring report = tool.Report(&output);
    const bool isWorkstation =
        output.find(L"Product type:             2 (Workstation)") != std::wstring::npos;
    workstations += isWorkstation ? 1 : 0;
    ExpectSameLines(isWorkstation ? workstation : server, report);
  }
  EXPECT_EQ(1, workstations);
}

// Windows 7's browser seen by a program that Windows tells it runs on XP.
TEST_F(SystemReport, WarnsOfCompatibilityModeUnderXp) {
  BrowserVersionOverride browser(L"8.0.7600.16385");
  DiagnosticCopy tool(L"vtrdiag-report-compat.exe", L"winxp");
  const std::wstring report = tool.Report();
  EXPECT_EQ(0u, report.find(L"WARNING: The program is running in compatibility mode!!!\n\n"
                            L"Operating System version information:\n\nOS Version:\tWindows XP \n"))
      << Narrow(report);
  EXPECT_NE(std::wstring::npos,
            report.find(L"Internet Explorer version information:\n\nIE Major Version:\t8 \n"
                        L"IE Minor Version:\t0 \nIE Full Build Number:\t8.0.7600.16385 \n"
                        L"Full IE string:\tInternet Explorer 8.0\n"))
      << Narrow(report);
}

} // namespace
