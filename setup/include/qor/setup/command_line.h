// The setup's own command line: its switches, and the arguments it passes on
// to the installer as they were written.
#pragma once

#include <string>

namespace QorSetup {

// How much of itself a run shows.
enum class RunMode {
  Normal,  // the progress window and every box
  Passive, // the progress window, no box
  Quiet,   // nothing at all
};

struct CommandLine {
  RunMode mode = RunMode::Normal;
  bool help = false;               // /?: the switches are shown, nothing else happens
  std::wstring logFile;            // /log FILE, as written (empty: none asked for)
  std::wstring extractFolder;      // /extract FOLDER, as written (empty: install)
  std::wstring installerArguments; // the rest of the command line, verbatim
  std::wstring fault;              // why the command line is refused; empty when it is not
};

// Reads the whole command line of the process (GetCommandLineW: the
// program's own name first). Switches are case-insensitive and start with
// '/' or '-': /quiet (/q), /passive, /log FILE (/l), /extract FOLDER, /?
// (/help). The first argument that is none of them, or the one after "--",
// starts the installer's arguments, which are the rest of the text as it
// stands. Never throws for any text; a bad command line sets fault (and
// mode as far as the switches before the fault tell, Quiet when both
// /quiet and /passive are given).
CommandLine ParseCommandLine(const std::wstring& raw);

// The installer's command line: its bare file name, then, after one space,
// the packager's unattended arguments (in quiet and passive runs) and the
// caller's arguments.
std::wstring InstallerCommandLine(const wchar_t* installerName, RunMode mode,
                                  const std::wstring& unattendedArguments,
                                  const std::wstring& callerArguments);

// Whether the process's window station is one that a person can see: not
// so for a service, for SYSTEM in session 0, or for a task that runs
// whether a user is logged on or not.
enum class Desktop { Visible, Invisible, Unknown };
// From what the system says of the window station: whether it could say,
// and its flags (WSF_VISIBLE).
Desktop DesktopFromFlags(bool known, unsigned long flags);
// The process's own window station.
Desktop ReadDesktop();
// How much a run shows: what was asked, but nothing at all unless the
// desktop is known to be visible, so that no box waits for nobody.
RunMode EffectiveMode(RunMode asked, Desktop desktop);

// What the setup shows for /? and after a bad command line.
extern const wchar_t kUsageText[];

} // namespace QorSetup
