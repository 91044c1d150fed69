// Table tests of the pure pieces: browser versions and release names, SID
// text, the compatibility-mode check, report texts, path and filter rules.
#include "qor/env/browser.h"
#include "qor/env/env.h"
#include "qor/env/locations.h"
#include "qor/env/profiles.h"
#include "qor/os/security.h"
#include "qor/env/system_report.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct BrowserCase {
  const wchar_t* version;
  int major;
  int minor;
  int build;
  const wchar_t* name;
};

TEST(BrowserVersion, ParsesVersionAndNamesRelease) {
  const BrowserCase cases[] = {
      // Exact row; 5.00 from build 2919 on is 5.01.
      {L"5.00.2919.6307", 5, 1, 2919,
       L"Internet Explorer 5.01 (Also included with Office 2000 SR-1, but not installed by "
       L"default)"},
      // No exact row: the last row whose build and revision are both reached.
      // 6.0.2800.1106 is lower as a whole but its revision is above 100.
      {L"6.0.3000.100", 6, 0, 3000, L"Internet Explorer 6 (Windows XP)"},
      // Nothing reached: formatted from the numbers.
      {L"6.0.2000.0", 6, 0, 2000, L"Internet Explorer 6.0"},
      // Outside the 5 and 6 lines: no lookup.
      {L"8.0.6001.18702", 8, 0, 6001, L"Internet Explorer 8.0"},
      {L"5.50.4134.600", 5, 50, 4134, L"Internet Explorer 5.5"},
      // 5.00 pre-releases counted as 5.01.
      {L"5.00.2516.1900", 5, 1, 2516,
       L"Internet Explorer 5.01 (Windows 2000 Beta 3, build 5.00.2031)"},
      {L"5.00.2314.1003", 5, 0, 2314, L"Internet Explorer 5 (Office 2000)"},
      // A 5.01 build without its own row reaches no 5.0 row: the rows carry
      // minor 0, the detected minor is 1.
      {L"5.00.3500.0", 5, 1, 3500, L"Internet Explorer 5.01"},
      // A later 5.5 service build: the last 5.5 row it reaches.
      {L"5.50.4900.9999", 5, 50, 4900, L"Internet Explorer 5.5 Service Pack 2"},
      {L"6.0.2900.5600", 6, 0, 2900, L"Internet Explorer 6 (Windows XP SP3)"},
      // Missing parts count as 0; a fifth part is ignored.
      {L"7", 7, 0, 0, L"Internet Explorer 7.0"},
      {L"6.0.3790.0.55", 6, 0, 3790, L"Internet Explorer 6 for Windows Server 2003 (released)"},
      {L"", 0, 0, 0, L"Internet Explorer 0.0"},
  };
  for (const BrowserCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "version " << c.version);
    QorEnv::BrowserVersion v = QorEnv::ParseBrowserVersion(c.version);
    EXPECT_EQ(c.major, v.major);
    EXPECT_EQ(c.minor, v.minor);
    EXPECT_EQ(c.build, v.build);
    EXPECT_EQ(std::wstring(c.name), v.name);
  }
}

TEST(BrowserVersion, EveryReleaseRowIsFoundByItsOwnVersion) {
  struct Row {
    int numbers[4];
    int minor;
    const wchar_t* name;
  };
  const Row rows[] = {
      {{5, 0, 518, 10}, 0, L"Internet Explorer 5 Developer Preview (Beta 1)"},
      {{5, 0, 910, 1309}, 0, L"Internet Explorer 5 Beta (Beta 2)"},
      {{5, 0, 2014, 216}, 0, L"Internet Explorer 5"},
      {{5, 0, 2614, 3500}, 0, L"Internet Explorer 5 (Windows 98 Second Edition)"},
      {{5, 0, 2919, 800}, 1, L"Internet Explorer 5.01 (Windows 2000 RC1, build 5.00.2072)"},
      {{5, 0, 2919, 3800}, 1, L"Internet Explorer 5.01 (Windows 2000 RC2, build 5.00.2128)"},
      {{5, 0, 2920, 0}, 1, L"Internet Explorer 5.01 (Windows 2000, build 5.00.2195)"},
      {{5, 0, 3103, 1000}, 1, L"Internet Explorer 5.01 SP1 (Windows 2000)"},
      {{5, 0, 3105, 106}, 1, L"Internet Explorer 5.01 SP1 (Windows 95/98 and Windows NT 4.0)"},
      {{5, 0, 3314, 2101}, 1, L"Internet Explorer 5.01 SP2 (Windows 95/98 and Windows NT 4.0)"},
      {{5, 0, 3315, 1000}, 1, L"Internet Explorer 5.01 SP2 (Windows 2000)"},
      {{5, 50, 3825, 1300}, 50, L"Internet Explorer 5.5 Developer Preview (Beta)"},
      {{5, 50, 4030, 2400}, 50, L"Internet Explorer 5.5 & Internet Tools Beta"},
      {{5, 50, 4134, 100}, 50, L"Internet Explorer 5.5 (Windows Me)"},
      {{5, 50, 4308, 2900}, 50, L"Internet Explorer 5.5 Advanced Security Privacy Beta"},
      {{5, 50, 4522, 1800}, 50, L"Internet Explorer 5.5 Service Pack 1"},
      {{5, 50, 4807, 2300}, 50, L"Internet Explorer 5.5 Service Pack 2"},
      {{6, 0, 2462, 0}, 0, L"Internet Explorer 6 Public Preview (Beta)"},
      {{6, 0, 2479, 6}, 0, L"Internet Explorer 6 Public Preview (Beta) Refresh"},
      {{6, 0, 2600, 0}, 0, L"Internet Explorer 6 (Windows XP)"},
      {{6, 0, 2800, 1106}, 0, L"Internet Explorer 6 Service Pack 1 (Windows XP SP1)"},
      {{6, 0, 2900, 2180}, 0, L"Internet Explorer 6 (Windows XP SP2)"},
      {{6, 0, 3663, 0}, 0, L"Internet Explorer 6 for Microsoft Windows Server 2003 RC1"},
      {{6, 0, 3718, 0}, 0, L"Internet Explorer 6 for Windows Server 2003 RC2"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.numbers[0] << "." << row.numbers[1] << "."
                                    << row.numbers[2] << "." << row.numbers[3]);
    EXPECT_EQ(std::wstring(row.name),
              QorEnv::LookupBrowserReleaseName(row.numbers, row.numbers[0], row.minor));
  }
}

struct SidCase {
  const wchar_t* text;
  bool valid;
};

TEST(TextToSid, AcceptsOneToEightSubAuthorities) {
  const SidCase cases[] = {
      {L"S-1-5-18", true},
      {L"S-1-5-32-544", true},
      {L"S-1-5-21-3623811015-3361044348-30300820-1013", true},
      {L"S-1-5-1-2-3-4-5-6-7-8", true},
      {L"S-1-5-1-2-3-4-5-6-7-8-9", false}, // nine sub-authorities
      {L"S-1-5", false},                   // none
      {L"S-1", false},
      {L"", false},
  };
  for (const SidCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "SID " << c.text);
    Qor::UniqueSid sid = QorEnv::TextToSid(c.text);
    ASSERT_EQ(c.valid, sid.valid());
    if (!c.valid) {
      continue;
    }
    // The SID reads back as the same text, large sub-authorities included.
    wchar_t text[256];
    DWORD size = sizeof(text);
    ASSERT_TRUE(QorOs::SidToText(sid.get(), text, size));
    EXPECT_EQ(std::wstring(c.text), text);
  }
}

TEST(TextToSid, ReadsTheAuthorityIntoTheLowFourBytes) {
  Qor::UniqueSid sid = QorEnv::TextToSid(L"S-1-16909060-7");
  ASSERT_TRUE(sid.valid());
  const SID_IDENTIFIER_AUTHORITY* authority = GetSidIdentifierAuthority(sid.get());
  const BYTE expected[6] = {0, 0, 1, 2, 3, 4};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(expected[i], authority->Value[i]) << "byte " << i;
  }
}

int g_layerAsked = 0;
bool g_layerAnswer = false;
bool FakeLayerCheck() {
  ++g_layerAsked;
  return g_layerAnswer;
}

TEST(CompatibilityMode, JudgesEachOsBandByTheBrowser) {
  struct Case {
    int osId;
    int ieMajor;
    int ieBuild;
    bool layer;
    bool expected;
    bool asksLayer;
  };
  const Case cases[] = {
      // Windows 7 and later are never suspected.
      {QorEnv::Win7, 11, 9600, true, false, false},
      {QorEnv::WinServer2008R2, 8, 7600, true, false, false},
      {QorEnv::Newer, 9, 8112, true, false, false},
      // Unknown and 2000: any browser after 6.
      {QorEnv::Unknown, 7, 5000, false, true, false},
      {QorEnv::Win2000, 6, 2800, false, false, false},
      {QorEnv::Win2000, 8, 6001, false, true, false},
      // XP to Server 2003 R2.
      {QorEnv::WinXP, 8, 7600, false, true, false},
      {QorEnv::WinXP, 8, 6001, false, false, true},
      {QorEnv::WinXP, 8, 6001, true, true, true},
      {QorEnv::WinServer2003R2, 8, 6999, true, true, true},
      {QorEnv::WinXP64, 7, 6000, false, true, false},
      {QorEnv::WinServer2003, 7, 5730, true, false, false},
      {QorEnv::WinHomeServer, 9, 8112, true, false, false},
      {QorEnv::WinXP, 6, 2900, true, false, false},
      // Vista and Server 2008.
      {QorEnv::WinVista, 8, 7000, true, true, false},
      {QorEnv::WinServer2008, 8, 6001, true, false, false},
      {QorEnv::WinVista, 9, 8112, true, false, false},
      {QorEnv::WinVista, 7, 6000, true, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "osId " << c.osId << " IE " << c.ieMajor << " build "
                                    << c.ieBuild << " layer " << c.layer);
    g_layerAsked = 0;
    g_layerAnswer = c.layer;
    EXPECT_EQ(c.expected, QorEnv::Detail::CompatibilityModeSuspected(c.osId, c.ieMajor, c.ieBuild,
                                                                     &FakeLayerCheck));
    EXPECT_EQ(c.asksLayer ? 1 : 0, g_layerAsked);
  }
}

QorEnv::Detail::OsReportFacts SampleFacts() {
  QorEnv::Detail::OsReportFacts facts;
  facts.osId = QorEnv::WinXP;
  facts.productType = QorEnv::ProductWorkstation;
  facts.buildNumber = 2600;
  facts.servicePackText = L"Service Pack 3";
  facts.servicePackMajor = 3;
  facts.servicePackMinor = 0;
  facts.accountLevel = QorEnv::Detail::AccountAdministrator;
  facts.osDisplayName = L"Windows XP Professional Service Pack 3 (Build 2600)";
  return facts;
}

TEST(SystemReportText, OsSectionWithoutTerminalServices) {
  EXPECT_EQ(std::wstring(L"Operating System version information:\n\n"
                         L"OS Version:\tWindows XP \n"
                         L"OS NT Type:\tWorkstation \n"
                         L"Build number:\t2600\n"
                         L"Service pack string:\tService Pack 3\n"
                         L"Service pack major:\t3\n"
                         L"Service pack minor:\t0\n"
                         L"Current account level:Administrator\n"
                         L"Full OS string:\tWindows XP Professional Service Pack 3 (Build 2600)\n"),
            QorEnv::Detail::FormatOsReport(SampleFacts()));
}

TEST(SystemReportText, TerminalServicesLinesByOs) {
  struct Case {
    int osId;
    bool enabled;
    bool singleSession;
    const wchar_t* lines;
  };
  const Case cases[] = {
      {QorEnv::WinXP, false, true, L""},
      {QorEnv::WinXP, true, false, L"Terminal services are installed.\n"},
      {QorEnv::Win2000, true, false, L"Terminal services are installed.\n"},
      {QorEnv::Win2000, true, true,
       L"Single user terminal services available.\n\t(Remote Administration mode)\n"},
      {QorEnv::WinXP, true, true,
       L"Single user terminal services available.\n\t(Fast user switching)\n"},
      {QorEnv::Win7, true, true,
       L"Single user terminal services available.\n\t(Fast user switching)\n"},
      {QorEnv::Unknown, true, true, L"Single user terminal services available.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "osId " << c.osId << " enabled " << c.enabled << " single " << c.singleSession);
    QorEnv::Detail::OsReportFacts facts = SampleFacts();
    facts.osId = c.osId;
    facts.terminalServicesEnabled = c.enabled;
    facts.singleSessionTerminalServices = c.singleSession;
    std::wstring text = QorEnv::Detail::FormatOsReport(facts);
    const std::wstring before = L"Service pack minor:\t0\n";
    const std::wstring after = L"Current account level:";
    size_t from = text.find(before);
    size_t to = text.find(after);
    ASSERT_NE(std::wstring::npos, from);
    ASSERT_NE(std::wstring::npos, to);
    from += before.size();
    EXPECT_EQ(std::wstring(c.lines), text.substr(from, to - from));
  }
}

TEST(SystemReportText, WarningAccountLevelsAndTypes) {
  QorEnv::Detail::OsReportFacts facts = SampleFacts();
  facts.compatibilityModeSuspected = true;
  facts.accountLevel = QorEnv::Detail::AccountUser;
  facts.osId = QorEnv::WinServer2003;
  facts.productType = QorEnv::ProductServer;
  facts.servicePackText.clear();
  std::wstring text = QorEnv::Detail::FormatOsReport(facts);
  EXPECT_EQ(0u, text.find(L"WARNING: The program is running in compatibility mode!!!\n\n"
                          L"Operating System version information:\n\n"
                          L"OS Version:\tWindows Server 2003 \nOS NT Type:\tServer \n"));
  EXPECT_NE(std::wstring::npos, text.find(L"Service pack string:\t\n"));
  EXPECT_NE(std::wstring::npos, text.find(L"Current account level:User\n"));

  facts.accountLevel = QorEnv::Detail::AccountUnknown;
  facts.osId = QorEnv::Newer;
  facts.productType = QorEnv::ProductNotApplicable;
  text = QorEnv::Detail::FormatOsReport(facts);
  EXPECT_NE(std::wstring::npos, text.find(L"Current account level:Unknown\n"));
  EXPECT_NE(std::wstring::npos,
            text.find(L"OS Version:\tUnknown Windows OS \nOS NT Type:\tNot Applicable \n"));
}

TEST(SystemReportText, OtherSections) {
  EXPECT_EQ(std::wstring(L"Windows directory:\tC:\\windows\\\nSystem directory:\tC:\\windows\\"
                         L"system32\\\n"),
            QorEnv::Detail::FormatFoldersReport(L"C:\\windows\\", L"C:\\windows\\system32\\"));
  EXPECT_EQ(std::wstring(L"Comctl32.dll version:\t6.0\nShell32.dll version:\tlower than 4.71\n"
                         L"Shlwapi.dll version:\t6.10\nGdiplus.dll version:\tNot available\n"),
            QorEnv::Detail::FormatDllVersionsReport(0x60000, 0, 0x6000A, 0));
  EXPECT_EQ(std::wstring(L"Comctl32.dll version:\tlower than 4.71\nShell32.dll version:\t4.71\n"
                         L"Shlwapi.dll version:\tlower than 4.71\nGdiplus.dll version:\t1.1\n"),
            QorEnv::Detail::FormatDllVersionsReport(0, 0x40047, 0, 0x10001));
  EXPECT_EQ(std::wstring(L"Internet Explorer version information:\n\n"
                         L"IE Major Version:\t8 \nIE Minor Version:\t0 \n"
                         L"IE Full Build Number:\t8.0.6001.18702 \n"
                         L"Full IE string:\tInternet Explorer 8.0\n"),
            QorEnv::Detail::FormatBrowserReport(8, 0, L"8.0.6001.18702", L"Internet Explorer 8.0"));
}

TEST(ProfilesRoot, FromProfileFolderOrWindowsDrive) {
  using QorEnv::Detail::ProfilesRootFromProfile;
  EXPECT_EQ(L"C:\\Users\\", ProfilesRootFromProfile(L"C:\\Users\\ann\\", true));
  EXPECT_EQ(L"D:\\Users\\", ProfilesRootFromProfile(L"D:\\Users\\ann.DOMAIN\\", true));
  EXPECT_EQ(L"C:\\Documents and Settings\\",
            ProfilesRootFromProfile(L"C:\\Documents and Settings\\ann\\", false));
  // The parent of the other family does not count.
  EXPECT_EQ(L"", ProfilesRootFromProfile(L"C:\\Users\\ann\\", false));
  EXPECT_EQ(L"", ProfilesRootFromProfile(L"C:\\Profiles\\ann\\", true));

  using QorEnv::Detail::DefaultProfilesRoot;
  EXPECT_EQ(L"E:\\Users\\", DefaultProfilesRoot(L"E:\\WINDOWS\\", true));
  EXPECT_EQ(L"C:\\Documents and settings\\", DefaultProfilesRoot(L"C:\\WINNT\\", false));
}

TEST(PathRules, FoldersAndCaseFolding) {
  using QorEnv::Detail::AsFolder;
  EXPECT_EQ(L"C:\\a\\", AsFolder(L"C:\\a"));
  EXPECT_EQ(L"C:\\a\\", AsFolder(L"C:\\a\\  "));
  EXPECT_EQ(L"\\", AsFolder(L""));
  EXPECT_TRUE(QorEnv::Detail::EqualsIgnoringAsciiCase(L"Ann", L"aNN"));
  EXPECT_FALSE(QorEnv::Detail::EqualsIgnoringAsciiCase(L"Ann", L"Anne"));
}

TEST(PathRules, TemporaryFolderChecks) {
  using QorEnv::Detail::CheckTempFolder;
  const std::wstring windows = L"C:\\windows\\";
  const std::wstring current = L"C:\\work\\";
  EXPECT_EQ(L"C:\\users\\ann\\Temp\\", CheckTempFolder(L"C:\\users\\ann\\Temp", current, windows));
  EXPECT_EQ(L"C:\\tmp\\", CheckTempFolder(L"C:\\tmp\\", current, windows));
  // Neither "temp" nor "tmp".
  EXPECT_EQ(L"", CheckTempFolder(L"C:\\users\\ann\\scratch", current, windows));
  // The Windows folder and the current folder, in any case and form.
  EXPECT_EQ(L"", CheckTempFolder(L"C:\\WINDOWS", current, windows));
  EXPECT_EQ(L"", CheckTempFolder(L"C:\\windows\\temp", current, L"C:\\windows\\temp\\"));
  EXPECT_EQ(L"", CheckTempFolder(L"C:\\Work\\Temp\\", L"C:\\work\\temp", windows));
}

TEST(DriveFilter, SelectsByDriveType) {
  using QorEnv::Detail::DriveTypeAccepted;
  EXPECT_TRUE(DriveTypeAccepted(DRIVE_FIXED, QorEnv::DriveFixed));
  EXPECT_FALSE(DriveTypeAccepted(DRIVE_CDROM, QorEnv::DriveFixed));
  EXPECT_TRUE(DriveTypeAccepted(DRIVE_CDROM, QorEnv::DriveFixed | QorEnv::DriveOptical));
  EXPECT_FALSE(DriveTypeAccepted(DRIVE_FIXED, 0));
  for (unsigned int type = 0; type <= 6; ++type) {
    EXPECT_TRUE(DriveTypeAccepted(type, QorEnv::AllDrives)) << type;
    EXPECT_TRUE(DriveTypeAccepted(type, 0x7F)) << type;
  }
  // Types beyond the known ones only with "every drive".
  EXPECT_TRUE(DriveTypeAccepted(7, QorEnv::AllDrives));
  EXPECT_FALSE(DriveTypeAccepted(7, 0x7FFFFFFF));
}

} // namespace
