// The command line, the installer's command line, the desktop rule and the
// exit codes: pure functions, each a table of cases.
#include "qor/setup/command_line.h"
#include "qor/setup/error_codes.h"
#include "qor/setup/exit_codes.h"

#include "qor/env/error_codes.h"
#include "qor/fs/error_codes.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace {

using QorSetup::CommandLine;
using QorSetup::Desktop;
using QorSetup::RunMode;

std::string Narrow(const std::wstring& text) {
  return std::string(text.begin(), text.end());
}

TEST(SetupCommandLine, SwitchesValuesAndTheInstallersArguments) {
  struct Case {
    const wchar_t* raw;
    RunMode mode;
    bool help;
    const wchar_t* log;
    const wchar_t* extract;
    const wchar_t* installer;
  } cases[] = {
      {L"VeltranoSetup.exe", RunMode::Normal, false, L"", L"", L""},
      {L"\"C:\\Program Files\\Setup.exe\"", RunMode::Normal, false, L"", L"", L""},
      {L"\"C:\\a b\\Setup.exe\" /quiet", RunMode::Quiet, false, L"", L"", L""},
      {L"Setup.exe   /Q  ", RunMode::Quiet, false, L"", L"", L""},
      {L"Setup.exe -QUIET", RunMode::Quiet, false, L"", L"", L""},
      {L"Setup.exe /passive", RunMode::Passive, false, L"", L"", L""},
      {L"Setup.exe /?", RunMode::Normal, true, L"", L"", L""},
      {L"Setup.exe -Help", RunMode::Normal, true, L"", L"", L""},
      {L"Setup.exe /log C:\\a.log", RunMode::Normal, false, L"C:\\a.log", L"", L""},
      {L"Setup.exe /L \"C:\\My Logs\\a.log\" /q", RunMode::Quiet, false, L"C:\\My Logs\\a.log", L"",
       L""},
      {L"Setup.exe /extract \"D:\\out dir\"", RunMode::Normal, false, L"", L"D:\\out dir", L""},
      // The first argument that is no switch of ours starts the installer's,
      // which go on as they were written, quotes and all.
      {L"Setup.exe /quiet /S /D=\"C:\\Program Files\\X\"", RunMode::Quiet, false, L"", L"",
       L"/S /D=\"C:\\Program Files\\X\""},
      {L"Setup.exe INSTALLDIR=\"a  b\" /quiet", RunMode::Normal, false, L"", L"",
       L"INSTALLDIR=\"a  b\" /quiet"},
      {L"Setup.exe /passive -- /quiet \"x y\"", RunMode::Passive, false, L"", L"",
       L"/quiet \"x y\""},
      {L"Setup.exe --", RunMode::Normal, false, L"", L"", L""},
      {L"Setup.exe --quiet", RunMode::Normal, false, L"", L"", L"--quiet"},
      {L"Setup.exe /log a.log -- --", RunMode::Normal, false, L"a.log", L"", L"--"},
      {L"Setup.exe /l \"a \\\"b\\\".log\"", RunMode::Normal, false, L"a \"b\".log", L"", L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.raw));
    const CommandLine line = QorSetup::ParseCommandLine(c.raw);
    EXPECT_EQ(L"", line.fault);
    EXPECT_EQ(c.mode, line.mode);
    EXPECT_EQ(c.help, line.help);
    EXPECT_EQ(c.log, line.logFile);
    EXPECT_EQ(c.extract, line.extractFolder);
    EXPECT_EQ(c.installer, line.installerArguments);
  }
}

TEST(SetupCommandLine, BadCommandLinesAreRefusedWithTheirFault) {
  // The mode is what the switches before the fault asked for: a quiet run
  // shows no box even for its bad command line.
  struct Case {
    const wchar_t* raw;
    const wchar_t* fault;
    RunMode mode;
  } cases[] = {
      {L"Setup.exe /log", L"/log needs a file name.", RunMode::Normal},
      {L"Setup.exe /quiet /l   ", L"/l needs a file name.", RunMode::Quiet},
      {L"Setup.exe /passive /extract", L"/extract needs a folder.", RunMode::Passive},
      {L"Setup.exe /log \"\"", L"/log needs a file name, not \"\".", RunMode::Normal},
      {L"Setup.exe /log /quiet", L"/log needs a file name, not \"/quiet\".", RunMode::Normal},
      {L"Setup.exe /quiet /passive", L"/quiet and /passive cannot be given together.",
       RunMode::Quiet},
      {L"Setup.exe /passive /q /S", L"/quiet and /passive cannot be given together.",
       RunMode::Quiet},
      {L"Setup.exe /q /log a /? /log b", L"/log is given twice.", RunMode::Quiet},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.raw));
    const CommandLine line = QorSetup::ParseCommandLine(c.raw);
    EXPECT_EQ(c.fault, line.fault);
    EXPECT_EQ(c.mode, line.mode);
    EXPECT_FALSE(line.help);
    EXPECT_EQ(L"", line.installerArguments);
  }
}

TEST(SetupCommandLine, TheInstallersCommandLine) {
  struct Case {
    RunMode mode;
    const wchar_t* unattended;
    const wchar_t* caller;
    const wchar_t* expected;
  } cases[] = {
      {RunMode::Normal, L"", L"", L"VTRInstaller.exe"},
      {RunMode::Normal, L"/S /norestart", L"", L"VTRInstaller.exe"},
      {RunMode::Quiet, L"/S /norestart", L"", L"VTRInstaller.exe /S /norestart"},
      {RunMode::Passive, L"/S", L"DIR=\"a b\"", L"VTRInstaller.exe /S DIR=\"a b\""},
      {RunMode::Normal, L"/S", L"DIR=\"a b\"", L"VTRInstaller.exe DIR=\"a b\""},
      {RunMode::Quiet, L"", L"\"x\"", L"VTRInstaller.exe \"x\""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected,
              QorSetup::InstallerCommandLine(L"VTRInstaller.exe", c.mode, c.unattended, c.caller));
  }
}

// Wine always runs programs on a visible window station: the rule itself.
TEST(SetupDesktop, QuietUnlessTheDesktopIsKnownToBeVisible) {
  EXPECT_EQ(Desktop::Visible, QorSetup::DesktopFromFlags(true, WSF_VISIBLE));
  EXPECT_EQ(Desktop::Invisible, QorSetup::DesktopFromFlags(true, 0));
  EXPECT_EQ(Desktop::Unknown, QorSetup::DesktopFromFlags(false, WSF_VISIBLE));
  struct Case {
    RunMode asked;
    Desktop desktop;
    RunMode mode;
  } cases[] = {
      {RunMode::Normal, Desktop::Visible, RunMode::Normal},
      {RunMode::Passive, Desktop::Visible, RunMode::Passive},
      {RunMode::Quiet, Desktop::Visible, RunMode::Quiet},
      {RunMode::Normal, Desktop::Invisible, RunMode::Quiet},
      {RunMode::Passive, Desktop::Invisible, RunMode::Quiet},
      {RunMode::Normal, Desktop::Unknown, RunMode::Quiet},
      {RunMode::Passive, Desktop::Unknown, RunMode::Quiet},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.mode, QorSetup::EffectiveMode(c.asked, c.desktop));
  }
  EXPECT_EQ(Desktop::Visible, QorSetup::ReadDesktop()) << "Wine's desktop is visible";
}

TEST(SetupExitCodes, EachFailureClassHasItsCode) {
  struct Case {
    int error;
    DWORD system;
    int exitCode;
  } cases[] = {
      {21101, 0, 1620},                   // payload resource missing
      {21010, 0, 1620},                   // not an archive
      {21026, 0, 1620},                   // damaged bzip2 stream
      {21014, 0, 1620},                   // an entry name no file can have
      {21014, ERROR_ACCESS_DENIED, 1632}, // a file that cannot be made
      {21014, ERROR_DISK_FULL, 112},
      {21014, ERROR_HANDLE_DISK_FULL, 112},
      {QorSetup::kNotEnoughSpaceError, 0, 112},
      {QorFs::kCreateFolderError, ERROR_ACCESS_DENIED, 1632},
      {QorFs::kNoAccessListsError, 0, 1632},
      {QorSetup::kTempFolderError, 0, 1632},
      {QorSetup::kFolderChangedError, 0, 1632},
      {QorSetup::kStartInstallerError, ERROR_FILE_NOT_FOUND, 1619},
      {QorSetup::kStopRequestedError, 0, 1602},
      {QorSetup::kEntryFileExistsError, ERROR_FILE_EXISTS, 80},
      {QorEnv::kOsVersionUnsupportedError, 0, 1150},
      {21100, 0, 1603}, // a standard exception on the worker
      {802, 0, 1603},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    const int code = QorSetup::ExitCodeFor(c.error, c.system);
    EXPECT_EQ(c.exitCode, code);
    EXPECT_NE(0, code);
    EXPECT_NE(3010, code);
    EXPECT_NE(1641, code);
  }
}

} // namespace
