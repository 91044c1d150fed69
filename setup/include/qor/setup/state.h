// The setup shell's process-wide state: the run's phase as the window thread
// sees it, what the window thread and the extraction worker share, the
// target folder and the installer.
#pragma once

#include "qor/setup/command_line.h"

#include "qor/fs/private_folder.h"
#include "qor/handle/unique_handle.h"
#include "qor/os/content_hash.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>

namespace QorSetup {

// How far the run has come, on the window thread.
enum class Phase {
  Starting,       // the window is up; WM_SETUP_START not yet handled
  Extracting,     // the target folder is being made, then the worker runs
  FailureBoxOpen, // the worker's failure text is on screen
  Failed,         // the failure box was closed: the completion note ends the run
  Installing,     // the completion was handled: the installer is started and polled
  Ending,         // the run ends without an installer: clean-up, then quit
};

// What the worker recorded about its run; Running until it has finished.
enum class WorkerOutcome {
  Running,
  Succeeded,
  Failed,  // with a failure note, or none when memory ran out
  Stopped, // the window was closed; no note
};

// What the window thread does with a completion note.
enum class Completion {
  Ignore,         // forged: the worker has not finished, or it was handled already
  HoldBack,       // the failure box comes first; the note is posted again after it
  StartInstaller, //
  CleanUpAndQuit, // after a failure that was shown, or a stop
  ReportAndQuit,  // failed without a note: the worker had no memory for its text
};

// The phase and every change of it. Any program of the user can post to
// our window: the notes move the phase only as the worker's own would.
class RunPhase {
public:
  Phase phase() const { return phase_; }
  // WM_SETUP_START: true once per run, whoever posts it again.
  bool Start();
  // The worker's failure note was accepted and its box is about to open.
  void FailureBoxOpened();
  // The box was closed; true when a completion note was held back meanwhile
  // and has to be posted again.
  bool FailureBoxClosed();
  // A completion note, with what the worker recorded and whether its failure
  // note is still on its way.
  Completion OnCompletion(WorkerOutcome outcome, bool failureNoteQueued);
  // The run ends after an error was shown.
  void End() { phase_ = Phase::Ending; }

private:
  Phase phase_ = Phase::Starting;
  // Not a phase: the failure box runs its own message loop, which hands us
  // the worker's completion note while the box is still up; it waits here.
  bool completionHeldBack_ = false;
};

// What the window thread and the extraction worker share; everything else
// belongs to the window thread.
struct WorkerLink {
  // Written by the progress callback, read when painting.
  std::atomic<double> progress{0.0};
  // Set by the window thread when it closes; the worker checks it between
  // files and every few megabytes.
  std::atomic<bool> stopRequested{false};
  // Set once, by the worker, as the last thing before its completion note.
  std::atomic<WorkerOutcome> outcome{WorkerOutcome::Running};
  // The failure text that the worker handed over with WM_SETUP_FAILED
  // (never null while it is on its way): only that address is shown and
  // freed.
  std::atomic<wchar_t*> pendingFailureText{nullptr};
  // The identity of the installer's file as the worker made it; written
  // before the outcome, read once the outcome is Succeeded.
  QorFs::FileIdentity installer;
  // The name it was made with (empty when the payload carries none).
  std::wstring installerName;
  // The digest of the installer's bytes as the worker wrote them; written
  // and read as the identity is.
  QorOs::ContentDigest installerDigest;
  // The worker thread, waited for on closing (window thread only).
  Qor::UniqueHandle thread;
  // The exit code of the worker's failure; written before its failure note.
  std::atomic<int> failureExitCode{0};
};

// The installer's process and first thread, once started.
struct InstallerProcess {
  Qor::UniqueHandle process;
  Qor::UniqueHandle thread;
};

// The points of the installer's start where a test may step in.
enum class StartStep {
  BeforeCreate, // every check has passed; the process is about to be made
  Created,      // the process exists, suspended, and nothing is checked yet
};

struct SetupShell {
  HINSTANCE instance = nullptr;
  wchar_t title[100] = {};
  wchar_t className[100] = {};
  HFONT font = nullptr; // made for dpi; replaced when the window's DPI changes
  int dpi = 96;         // the DPI that the window, its font and its bar are laid out for
  RunPhase run;
  WorkerLink worker;
  // The folder made for this run, held open until its clean-up so that no
  // other program can swap it; everything inside is reached through it.
  QorFs::PinnedFolder target;
  InstallerProcess installer;
  // The command line as read, and how much this run shows (quiet where
  // nobody can see the desktop, whatever was asked).
  CommandLine options;
  RunMode mode = RunMode::Normal;
  // The packager's arguments for quiet and passive runs (string 110).
  std::wstring unattendedArguments;
  // /extract: the folder the files go to (ending in a backslash); the
  // installer is not started and nothing is removed.
  std::wstring extractFolder;
  // How the run ends: set by the first failure or by the installer's end;
  // a run that ends with neither was stopped before the installer started.
  int exitCode = 0;
  bool exitCodeSet = false;
  void SetExitCode(int code) {
    if (!exitCodeSet) {
      exitCode = code;
      exitCodeSet = true;
    }
  }
  // Called at each step of the installer's start; for tests.
  std::function<void(StartStep)> startHook;
};

// The one shell of the process.
SetupShell& Shell();
// Replaces the shell with a fresh one, as at the program's start; for tests.
// No worker may be running.
void ResetShell();

} // namespace QorSetup
