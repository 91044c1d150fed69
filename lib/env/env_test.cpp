#include "qor/env/env.h"
#include "qor/error/error.h"
#include "qor/env/locations.h"
#include "qor/os/security.h"
#include "qor/handle/unique_handle.h"

#include "qor/test/folders.h"
#include "qor/test/platform.h"
#include "qor/test/process.h"
#include "qor/test/registry.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

namespace {

// The diagnostic tool of this build (tools\vtrdiag beside lib\env).
std::wstring DiagnosticTool() {
  return QorEnv::GetModuleFolder() + L"..\\..\\tools\\vtrdiag\\vtrdiag.exe";
}

// "Label:   value" lines of the tool's report.
std::map<std::wstring, std::wstring> ParseFacts(const std::wstring& output) {
  std::map<std::wstring, std::wstring> facts;
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find(L'\n', start);
    if (end == std::wstring::npos) {
      end = output.size();
    }
    std::wstring line = output.substr(start, end - start);
    if (!line.empty() && line.back() == L'\r') {
      line.pop_back();
    }
    size_t colon = line.find(L':');
    if (colon != std::wstring::npos && colon + 1 < line.size() && line[colon + 1] == L' ') {
      size_t value = line.find_first_not_of(L' ', colon + 1);
      facts[line.substr(0, colon)] = value == std::wstring::npos ? L"" : line.substr(value);
    }
    start = end + 1;
  }
  return facts;
}

} // namespace

// Everything that needs the record filled lives in this one test, so the
// question asked before initialisation really comes first.
TEST(Initialize, FillsTheRecord) {
  ASSERT_FALSE(QorEnv::IsInitialised());
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  ASSERT_TRUE(GetVersionExW(&version));
  const bool earlyAnswer = QorEnv::IsVistaOrLater();
  EXPECT_EQ(version.dwMajorVersion >= 6, earlyAnswer);

  QorEnv::Initialize(true);
  EXPECT_TRUE(QorEnv::IsInitialised());
  EXPECT_EQ(earlyAnswer, QorEnv::IsVistaOrLater());
  EXPECT_EQ(2, QorEnv::GetPlatformId());
  EXPECT_EQ(version.dwBuildNumber & 0xFFFF, QorEnv::GetBuildNumber());
  EXPECT_EQ(std::wstring(version.szCSDVersion), QorEnv::GetServicePackText());
  EXPECT_NE(0, QorEnv::GetOsId());
  EXPECT_FALSE(QorEnv::GetOsDisplayName().empty());
  EXPECT_EQ(QorEnv::IsVistaOrLater(), QorEnv::GetShGetKnownFolderPath() != nullptr);

  wchar_t folder[MAX_PATH];
  UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  EXPECT_EQ(std::wstring(folder, length) + L"\\", QorEnv::GetSystemFolder());
  length = GetSystemWindowsDirectoryW(folder, MAX_PATH);
  EXPECT_EQ(std::wstring(folder, length) + L"\\", QorEnv::GetWindowsFolder());

  // The serial of the volume whose root is the system folder's first three
  // characters.
  std::wstring root = QorEnv::GetSystemFolder().substr(0, 3);
  EXPECT_EQ(L":\\", root.substr(1));
  DWORD serial = 0;
  ASSERT_TRUE(
      GetVolumeInformationW(root.c_str(), nullptr, 0, &serial, nullptr, nullptr, nullptr, 0));
  EXPECT_EQ(serial, QorEnv::GetSystemVolumeSerial());

  // Wine ships all four shell libraries; shell32 and shlwapi report 6.0 or later.
  EXPECT_GE(QorEnv::GetShell32Version(), 0x60000u);
  EXPECT_GE(QorEnv::GetShlwapiVersion(), 0x60000u);
  EXPECT_NE(0u, QorEnv::GetComctl32Version());
  EXPECT_NE(0u, QorEnv::GetGdiplusVersion());
  const DWORD shell32 = QorEnv::GetShell32Version();
  // A refresh publishes a new record and leaves the one in force untouched:
  // a reference taken before it, as another thread may hold, stays valid and
  // unchanged.
  const std::wstring& heldName = QorEnv::GetOsDisplayName();
  const std::wstring nameBefore = heldName;
  QorEnv::RefreshDllVersions();
  EXPECT_EQ(shell32, QorEnv::GetShell32Version());
  EXPECT_NE(&heldName, &QorEnv::GetOsDisplayName());
  EXPECT_EQ(nameBefore, heldName);
  EXPECT_EQ(nameBefore, QorEnv::GetOsDisplayName());

  if (!QorEnv::AreTerminalServicesEnabled()) {
    EXPECT_EQ(0u, QorEnv::GetSessionId());
    EXPECT_FALSE(QorEnv::IsSingleSessionTerminalServices());
  }
  EXPECT_EQ(QorOs::IsAdministrator(), QorEnv::IsUserAdmin());

  // The browser (11) and profiles-root (14) steps have run.
  EXPECT_FALSE(QorEnv::GetIeName().empty());
  EXPECT_FALSE(QorEnv::GetProfilesRoot().empty());
}

// Each Windows version Wine can report, seen through the diagnostic tool
// started under a name of its own.
TEST(Initialize, VersionMatrixUnderWine) {
  // The processor of the prefix decides a few facts: a 64-bit prefix adds
  // " x64" (at '|' in the names below) and tells XP x64 apart.
  const bool windows64 = QorTest::WindowsIs64Bit();
  enum Windows { kAnyWindows, kOnly32, kOnly64 };
  struct Case {
    const wchar_t* version;
    Windows windows;
    DWORD exitCode;
    const wchar_t* osId;
    const wchar_t* productType;
    const wchar_t* displayName; // null: checked by its start only
    const wchar_t* vistaOrLater;
  };
  const Case cases[] = {
      {L"win2k", kAnyWindows, 0, L"1 (Win2000)", L"2 (Workstation)",
       L"Windows 2000 Professional| Service Pack 4 (Build 2195)", L"no"},
      {L"winxp", kAnyWindows, 0, L"2 (WinXP)", L"2 (Workstation)",
       L"Windows XP Professional| Service Pack 3 (Build 2600)", L"no"},
      // Without an x64 processor, workstation 5.2 is left unclassified.
      {L"winxp64", kOnly32, 0, L"0 (Unknown)", L"2 (Workstation)",
       L"Unknown Windows OS Unknown Service Pack 2 (Build 3790)", L"no"},
      {L"winxp64", kOnly64, 0, L"3 (WinXP64)", L"2 (Workstation)",
       L"Windows XP Professional x64 Service Pack 2 (Build 3790)", L"no"},
      {L"win2003", kAnyWindows, 0, L"4 (WinServer2003)", L"3 (Server)",
       L"Windows Server 2003 Standard| Service Pack 2 (Build 3790)", L"no"},
      {L"vista", kAnyWindows, 0, L"7 (WinVista)", L"2 (Workstation)", nullptr, L"yes"},
      {L"win2008", kAnyWindows, 0, L"8 (WinServer2008)", L"3 (Server)", nullptr, L"yes"},
      // Wine 8 hands out the version records of these two the other way
      // round; either order is accepted, but they must differ (see below).
      {L"win7", kAnyWindows, 0, nullptr, nullptr, nullptr, L"yes"},
      {L"win2008r2", kAnyWindows, 0, nullptr, nullptr, nullptr, L"yes"},
      {L"win8", kAnyWindows, 0, L"11 (Newer)", L"2 (Workstation)",
       L"Unknown Windows OS Unknown|  (Build 9200)", L"yes"},
      {L"win10", kAnyWindows, 0, L"11 (Newer)", L"2 (Workstation)", nullptr, L"yes"},
      {L"nt40", kAnyWindows, 515, nullptr, nullptr, nullptr, nullptr},
      {L"win98", kAnyWindows, 515, nullptr, nullptr, nullptr, nullptr},
  };
  const auto onThisWindows = [&](const wchar_t* name) {
    std::wstring text = name;
    const std::size_t mark = text.find(L'|');
    if (mark != std::wstring::npos) {
      text.replace(mark, 1, QorTest::X64Suffix());
    }
    return text;
  };
  const struct {
    const wchar_t* version;
    const wchar_t* prefix;
  } namePrefixes[] = {
      {L"vista", L"Windows Vista "},
      {L"win2008", L"Windows Server 2008 "},
      {L"win10", L"Unknown Windows OS Unknown|  (Build "},
  };

  QorTest::ScratchFolder scratch;
  const std::wstring folder = scratch.path();
  const std::wstring tool = DiagnosticTool();
  ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(tool.c_str())) << "missing vtrdiag.exe";

  std::set<std::wstring> sevenFamily;
  for (const auto& c : cases) {
    if (c.windows == (windows64 ? kOnly32 : kOnly64)) {
      continue;
    }
    SCOPED_TRACE(testing::Message()
                 << "Wine version " << std::string(c.version, c.version + wcslen(c.version)));
    const std::wstring exeName = std::wstring(L"vtrdiag_") + c.version + L".exe";
    const std::wstring program = folder + exeName;
    ASSERT_TRUE(CopyFileW(tool.c_str(), program.c_str(), FALSE));
    QorTest::RunResult run;
    {
      QorTest::WineVersionOverride override(exeName, c.version);
      run = QorTest::RunCapturingOutput(QorTest::Quoted(program));
    }
    EXPECT_FALSE(
        QorTest::RegKeyPresent(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\" + exeName));
    const std::wstring output = QorTest::Widen(run.output);
    DeleteFileW(program.c_str());

    EXPECT_EQ(c.exitCode, run.exitCode);
    auto facts = ParseFacts(output);
    if (c.exitCode != 0) {
      EXPECT_NE(std::wstring::npos, output.find(L"[515] Unable to determine OS version."))
          << output;
      EXPECT_EQ(0u, facts.count(L"OS id"));
      continue;
    }
    const std::wstring& name = facts[L"Display name"];
    if (c.osId) {
      EXPECT_EQ(c.osId, facts[L"OS id"]);
      EXPECT_EQ(c.productType, facts[L"Product type"]);
    } else {
      // Windows 7 or Server 2008 R2, each with its own product type and name.
      const bool workstation = facts[L"OS id"] == L"9 (Win7)";
      EXPECT_EQ(workstation ? L"9 (Win7)" : L"10 (WinServer2008R2)", facts[L"OS id"]);
      EXPECT_EQ(workstation ? L"2 (Workstation)" : L"3 (Server)", facts[L"Product type"]);
      EXPECT_EQ(0u, name.find(workstation ? L"Windows 7 " : L"Windows Server 2008 R2 ")) << name;
      sevenFamily.insert(facts[L"OS id"]);
    }
    EXPECT_EQ(c.vistaOrLater, facts[L"Vista or later"]);
    EXPECT_EQ(windows64 ? L"yes" : L"no", facts[L"64-bit Windows"]);
    if (c.displayName) {
      EXPECT_EQ(onThisWindows(c.displayName), name);
    }
    for (const auto& p : namePrefixes) {
      if (wcscmp(p.version, c.version) == 0) {
        EXPECT_EQ(0u, name.find(onThisWindows(p.prefix))) << name;
      }
    }
    // The display name always ends with the reported build.
    EXPECT_NE(std::wstring::npos, name.find(L"(Build " + facts[L"Build"] + L")")) << name;
  }
  EXPECT_EQ(2u, sevenFamily.size()) << "win7 and win2008r2 must be told apart";
}
