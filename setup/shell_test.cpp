// The shell's pieces that run without the whole program: the long form of
// the temporary folder, the progress callback, the run's phases and the
// clean-up.
#include "qor/setup/launch.h"
#include "qor/setup/error_codes.h"
#include "qor/setup/messages.h"
#include "qor/setup/state.h"
#include "qor/setup/window.h"
#include "qor/setup/worker.h"

#include "qor/error/error.h"
#include "qor/fs/fs.h"
#include "qor/error/win32_error.h"

#include "qor/test/errors.h"
#include "qor/test/folders.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using QorSetup::Completion;
using QorSetup::Phase;
using QorSetup::WorkerOutcome;
using QorTest::Catch;
using QorTest::ScratchFolder;

void Touch(const std::wstring& path, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
  ASSERT_TRUE(QorTest::WriteFileBytes(path, "data", attributes)) << GetLastError();
}

// Every test starts with the shell as the program starts, and leaves
// nothing of its own in it.
class ShellTest : public ::testing::Test {
protected:
  void SetUp() override { QorSetup::ResetShell(); }
  void TearDown() override { QorSetup::ResetShell(); }
  QorSetup::SetupShell& shell() { return QorSetup::Shell(); }
};

// A message-only window of the given procedure, destroyed with its quit note.
class MessageWindow {
public:
  explicit MessageWindow(WNDPROC procedure = nullptr) {
    const wchar_t* className = L"STATIC";
    if (procedure) {
      WNDCLASSW windowClass = {};
      windowClass.lpfnWndProc = procedure;
      windowClass.hInstance = GetModuleHandleW(nullptr);
      windowClass.lpszClassName = L"VeltranoShellTest";
      RegisterClassW(&windowClass);
      className = windowClass.lpszClassName;
    }
    window_ = CreateWindowExW(0, className, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
  }
  ~MessageWindow() {
    if (window_) {
      DestroyWindow(window_);
    }
    MSG message;
    PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE); // posted by WM_DESTROY
  }
  HWND get() const { return window_; }
  // The private notes waiting for the window, in their order.
  std::vector<MSG> TakeNotes() {
    std::vector<MSG> notes;
    MSG message;
    while (PeekMessageW(&message, window_, WM_SETUP_START, WM_SETUP_FAILED, PM_REMOVE)) {
      notes.push_back(message);
    }
    return notes;
  }

private:
  HWND window_ = nullptr;
};

bool QuitPosted() {
  MSG message;
  return PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0;
}

} // namespace

TEST(SetupLongPath, ShortFormTemporaryFolderBecomesLong) {
  ScratchFolder scratch;
  const std::wstring longFolder = scratch.path() + L"Temporary Files Of Someone";
  ASSERT_TRUE(CreateDirectoryW(longFolder.c_str(), nullptr));
  wchar_t shortForm[MAX_PATH];
  ASSERT_GT(GetShortPathNameW((longFolder + L"\\").c_str(), shortForm, MAX_PATH), 0u);
  ASSERT_EQ(std::wstring::npos, std::wstring(shortForm).find(L"Temporary Files"));

  EXPECT_EQ(longFolder, ToLongPath(shortForm));
  EXPECT_EQ(L"C:", ToLongPath(L"C:\\"));
  EXPECT_EQ(L"", ToLongPath(L""));
}

TEST(SetupLongPath, MissingComponentRaises21105) {
  ScratchFolder scratch;
  auto e = Catch([&] { ToLongPath(scratch.path() + L"not here\\deeper\\"); });
  ASSERT_TRUE(e);
  EXPECT_EQ(QorSetup::kLongPathError, e->GetCode());
  auto* win32 = dynamic_cast<QorWin32::Win32Error*>(e.get());
  ASSERT_TRUE(win32);
  EXPECT_NE(0u, win32->GetSystemCode());
  EXPECT_NE(std::wstring::npos,
            e->GetMessageText().find(L"Unable to convert short path name to long"));
}

using SetupProgress = ShellTest;
using SetupCleanUp = ShellTest;
using SetupTargetFolder = ShellTest;
using SetupProtocol = ShellTest;
using SetupInstaller = ShellTest;
using SetupWorker = ShellTest;

TEST_F(SetupProgress, FractionIsClampedAndEveryCallPosts) {
  MessageWindow window;
  ASSERT_TRUE(window.get());
  struct Case {
    std::uint32_t processed, total;
    double expected;
  } cases[] = {
      {0, 1000, 0.0},
      {250, 1000, 0.25},
      {999, 1000, 0.999},
      {1000, 1000, 1.0},
      {1500, 1000, 1.0},               // more than the total: full
      {7, 0, 1.0},                     // no total: full, not infinity
      {0, 0, 1.0},                     // 0 / 0: full, not NaN
      {0xFFFFFFFFu, 0xFFFFFFFFu, 1.0}, // unsigned, not negative
      {0x80000000u, 0xFFFFFFFFu, 0x80000000u / 4294967295.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.processed << " of " << c.total);
    shell().worker.progress = -1;
    ProgressContext context = {c.total, window.get()};
    EXPECT_NE(0, ProgressCallback(c.processed, &context));
    double stored = shell().worker.progress;
    EXPECT_FALSE(std::isnan(stored));
    EXPECT_DOUBLE_EQ(c.expected, stored);
    MSG message;
    EXPECT_TRUE(
        PeekMessageW(&message, window.get(), WM_SETUP_PROGRESS, WM_SETUP_PROGRESS, PM_REMOVE));
    EXPECT_FALSE(
        PeekMessageW(&message, window.get(), WM_SETUP_PROGRESS, WM_SETUP_PROGRESS, PM_REMOVE));
  }
  HWND gone = window.get();
  DestroyWindow(gone);

  // A window that is gone: the fraction is still stored, the post fails.
  ProgressContext goneContext = {10, gone};
  EXPECT_EQ(0, ProgressCallback(5, &goneContext));
  EXPECT_DOUBLE_EQ(0.5, shell().worker.progress);
}

TEST_F(SetupCleanUp, DeletesTheFilesThenTheFolderAndNothingElse) {
  ScratchFolder scratch;
  struct Case {
    const char* name;
    bool subfolder, readOnly, createFolder;
    bool folderRemains;
  } cases[] = {
      {"plain files", false, false, true, false},
      {"a subfolder stays", true, false, true, true},
      {"a read-only file stays", false, true, true, true},
      {"no folder", false, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring target = scratch.path() + L"QorVTInst.tmp\\";
    QorTest::RemoveTree(target);
    if (c.createFolder) {
      QorSetup::MakeTargetFolder(target);
      Touch(target + L"VTRInstaller.exe");
      Touch(target + L"readme.txt");
      if (c.subfolder) {
        ASSERT_TRUE(CreateDirectoryW((target + L"sub").c_str(), nullptr));
        Touch(target + L"sub\\inner.txt");
      }
      if (c.readOnly) {
        Touch(target + L"locked.txt", FILE_ATTRIBUTE_READONLY);
      }
    }
    QorSetup::CleanUp();
    EXPECT_FALSE(QorFs::Exists(target + L"VTRInstaller.exe"));
    EXPECT_FALSE(QorFs::Exists(target + L"readme.txt"));
    EXPECT_EQ(c.folderRemains, QorFs::IsDirectory(target));
    EXPECT_EQ(c.subfolder, QorFs::Exists(target + L"sub\\inner.txt"));
    EXPECT_EQ(c.readOnly, QorFs::Exists(target + L"locked.txt"));
    EXPECT_TRUE(QorFs::IsDirectory(scratch.path()));
  }
}

TEST_F(SetupTargetFolder, MadeFreshAndCleanedOnlyWhileItIsTheSameFolder) {
  ScratchFolder scratch;
  const std::wstring target = scratch.path() + L"deeper\\QorVTInst.tmp\\";
  // Left there earlier, or planted: none of it may reach the installer.
  QorFs::CreateDirectories(target + L"sub\\");
  Touch(target + L"version.dll");
  Touch(target + L"VTRInstaller.exe", FILE_ATTRIBUTE_READONLY);
  Touch(target + L"sub\\inner.txt");

  QorSetup::MakeTargetFolder(target);
  EXPECT_EQ(target, shell().target.path());
  ASSERT_TRUE(shell().target.valid());
  EXPECT_TRUE(QorFs::IsDirectory(target));
  EXPECT_TRUE(QorTest::ListEntries(target).empty()) << "nothing may be there";

  // Held open until the clean-up: no other program can swap it for a folder
  // of its own, or delete it.
  Touch(target + L"extracted.txt");
  EXPECT_FALSE(MoveFileW(target.substr(0, target.size() - 1).c_str(),
                         (scratch.path() + L"deeper\\moved").c_str()));
  EXPECT_FALSE(RemoveDirectoryW(target.c_str()));
  EXPECT_TRUE(shell().target.StillInPlace());
  QorSetup::CleanUp();
  EXPECT_FALSE(QorFs::Exists(target));
  EXPECT_FALSE(shell().target.valid());

  // A missing parent (the temporary folder itself) is made too.
  QorSetup::MakeTargetFolder(scratch.path() + L"new temp\\QorVTInst.tmp\\");
  EXPECT_TRUE(QorFs::IsDirectory(scratch.path() + L"new temp\\QorVTInst.tmp"));
  QorSetup::CleanUp();
  EXPECT_FALSE(QorFs::Exists(scratch.path() + L"new temp\\QorVTInst.tmp"));
}

TEST_F(SetupProgress, AStopRequestEndsTheExpansionThroughTheCallback) {
  MessageWindow window;
  ASSERT_TRUE(window.get());
  ProgressContext context = {100, window.get()};
  shell().worker.stopRequested = true;
  QorTest::ErrorPtr error = Catch([&] { ProgressCallback(50, &context); });
  ASSERT_TRUE(error);
  EXPECT_EQ(QorSetup::kStopRequestedError, error->GetCode());
  EXPECT_TRUE(window.TakeNotes().empty());
}

// The run's phase as the notes move it, each case reached through the
// phase's own transitions.
TEST(SetupPhase, CompletionNoteByPhaseAndWorkerOutcome) {
  auto reach = [](Phase phase) {
    QorSetup::RunPhase run;
    if (phase == Phase::Starting) {
      return run;
    }
    EXPECT_TRUE(run.Start());
    switch (phase) {
    case Phase::FailureBoxOpen:
      run.FailureBoxOpened();
      break;
    case Phase::Failed:
      run.FailureBoxOpened();
      EXPECT_FALSE(run.FailureBoxClosed());
      break;
    case Phase::Installing:
      EXPECT_EQ(Completion::StartInstaller, run.OnCompletion(WorkerOutcome::Succeeded, false));
      break;
    case Phase::Ending:
      run.End();
      break;
    default:
      break;
    }
    EXPECT_EQ(phase, run.phase());
    return run;
  };
  struct Case {
    const char* name;
    Phase phase;
    WorkerOutcome outcome;
    bool failureNoteQueued;
    Completion expected;
    Phase after;
  } cases[] = {
      {"forged while the worker runs", Phase::Extracting, WorkerOutcome::Running, false,
       Completion::Ignore, Phase::Extracting},
      {"forged before the start", Phase::Starting, WorkerOutcome::Running, false,
       Completion::Ignore, Phase::Starting},
      {"files written", Phase::Extracting, WorkerOutcome::Succeeded, false,
       Completion::StartInstaller, Phase::Installing},
      {"stopped on closing", Phase::Extracting, WorkerOutcome::Stopped, false,
       Completion::CleanUpAndQuit, Phase::Ending},
      {"failure note still queued", Phase::Extracting, WorkerOutcome::Failed, true,
       Completion::HoldBack, Phase::Extracting},
      {"failed without a note", Phase::Extracting, WorkerOutcome::Failed, false,
       Completion::ReportAndQuit, Phase::Ending},
      {"failure box open", Phase::FailureBoxOpen, WorkerOutcome::Failed, false,
       Completion::HoldBack, Phase::FailureBoxOpen},
      {"failure shown", Phase::Failed, WorkerOutcome::Failed, false, Completion::CleanUpAndQuit,
       Phase::Ending},
      {"second note while installing", Phase::Installing, WorkerOutcome::Succeeded, false,
       Completion::Ignore, Phase::Installing},
      {"note after the end", Phase::Ending, WorkerOutcome::Failed, false, Completion::Ignore,
       Phase::Ending},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QorSetup::RunPhase run = reach(c.phase);
    EXPECT_EQ(c.expected, run.OnCompletion(c.outcome, c.failureNoteQueued));
    EXPECT_EQ(c.after, run.phase());
  }
}

TEST(SetupPhase, StartsOnceAndAHeldBackNoteComesBackOnceAfterTheBox) {
  QorSetup::RunPhase run;
  EXPECT_TRUE(run.Start());
  EXPECT_FALSE(run.Start()) << "a second start note is forged";
  run.FailureBoxOpened();
  EXPECT_EQ(Completion::HoldBack, run.OnCompletion(WorkerOutcome::Failed, false));
  EXPECT_EQ(Completion::HoldBack, run.OnCompletion(WorkerOutcome::Failed, false));
  EXPECT_TRUE(run.FailureBoxClosed());
  EXPECT_EQ(Phase::Failed, run.phase());
  EXPECT_EQ(Completion::CleanUpAndQuit, run.OnCompletion(WorkerOutcome::Failed, false));
  EXPECT_EQ(Completion::Ignore, run.OnCompletion(WorkerOutcome::Failed, false));
  EXPECT_FALSE(run.Start());
}

// A completion note forged while the worker's failure note is still queued
// must neither start the installer nor end the run before the box; forged
// failure notes are not the worker's.
TEST_F(SetupProtocol, CompletionWaitsForTheWorkersFailureNote) {
  MessageWindow window(SetupWndProc);
  ASSERT_TRUE(window.get());
  std::unique_ptr<wchar_t[]> text(new wchar_t[1]());
  shell().worker.pendingFailureText = text.get();
  shell().worker.outcome = WorkerOutcome::Failed;
  ASSERT_TRUE(shell().run.Start());
  SendMessageW(window.get(), WM_SETUP_EXTRACTED, 0, 0);
  EXPECT_EQ(Phase::Extracting, shell().run.phase());
  EXPECT_FALSE(shell().installer.process);
  EXPECT_FALSE(QuitPosted());
  // Null, or any other address than the worker's, is never its note.
  std::unique_ptr<wchar_t[]> other(new wchar_t[1]());
  for (LPARAM forged : {LPARAM(0), reinterpret_cast<LPARAM>(other.get())}) {
    SendMessageW(window.get(), WM_SETUP_FAILED, 0, forged);
    EXPECT_EQ(Phase::Extracting, shell().run.phase());
    EXPECT_EQ(text.get(), shell().worker.pendingFailureText.load());
  }
  EXPECT_FALSE(QuitPosted());
  EXPECT_TRUE(window.TakeNotes().empty());
}

// The timer's test: only a signalled process ends the wait, and then both
// of the installer's handles are closed.
TEST_F(SetupInstaller, EndsOnlyWhenTheProcessIsSignalled) {
  struct Case {
    const char* name;
    bool withProcess, signalled;
    bool ended;
  } cases[] = {
      {"nothing started", false, false, false},
      {"still running", true, false, false},
      {"ended", true, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QorSetup::ResetShell();
    // Events stand in for the process and its thread: waiting is the same.
    if (c.withProcess) {
      shell().installer.process.reset(CreateEventW(nullptr, TRUE, c.signalled, nullptr));
      shell().installer.thread.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
      ASSERT_TRUE(shell().installer.process && shell().installer.thread);
    }
    EXPECT_EQ(c.ended, QorSetup::InstallerEnded());
    EXPECT_EQ(c.withProcess && !c.ended, shell().installer.process.valid());
    EXPECT_EQ(c.withProcess && !c.ended, shell().installer.thread.valid());
  }
}

// The last check before the start: without the folder made (and held) for
// this run nothing starts, whatever lies in the current folder.
TEST_F(SetupInstaller, NothingStartsFromAFolderThatIsNotTheOneMade) {
  ScratchFolder scratch;
  ASSERT_TRUE(CopyFileW(L"C:\\windows\\system32\\cmd.exe",
                        (scratch.path() + L"VTRInstaller.exe").c_str(), FALSE));
  wchar_t previous[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(scratch.path().c_str()));
  QorTest::ErrorPtr error = Catch([] { QorSetup::StartInstaller(nullptr); });
  SetCurrentDirectoryW(previous);
  ASSERT_TRUE(error);
  EXPECT_EQ(QorSetup::kStartInstallerError, error->GetCode());
  EXPECT_FALSE(shell().installer.process);
  EXPECT_FALSE(shell().installer.thread);
}

TEST_F(SetupCleanUp, WithoutATargetFolderTheCurrentDirectoryIsLeftAlone) {
  ScratchFolder scratch;
  Touch(scratch.path() + L"precious.txt");
  wchar_t previous[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(scratch.path().c_str()));
  QorSetup::CleanUp();
  SetCurrentDirectoryW(previous);
  EXPECT_TRUE(QorFs::Exists(scratch.path() + L"precious.txt"));
}

TEST(SetupErrors, EveryKindOfExceptionBecomesReadableText) {
  struct Case {
    const char* name;
    void (*raise)();
    const wchar_t* expected; // part of the text
  } cases[] = {
      {"library error", [] { QorError::RaiseError(21014, L"Could not write a.txt"); },
       L"Could not write a.txt"},
      {"no memory", [] { throw std::bad_alloc(); }, L"Not enough memory to extract the files."},
      {"standard error", [] { throw std::runtime_error("disk on fire"); }, L"disk on fire"},
      {"anything else", [] { throw 42; }, L"Unknown error occured."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::wstring text;
    try {
      c.raise();
    } catch (...) {
      text = QorSetup::DescribeCurrentException();
    }
    EXPECT_NE(std::wstring::npos, text.find(c.expected)) << text.c_str();
  }
}

// This test program carries no payload: the worker reports that, once, and
// then its end, in that order; asked to stop, it ends without a note.
TEST_F(SetupWorker, FailureNoteThenCompletionNoteUnlessStopped) {
  for (bool stop : {false, true}) {
    SCOPED_TRACE(stop ? "stop requested" : "running on");
    QorSetup::ResetShell();
    MessageWindow window;
    ASSERT_TRUE(window.get());
    shell().instance = GetModuleHandleW(nullptr);
    shell().worker.stopRequested = stop;
    EXPECT_EQ(0u, ExtractionWorker(window.get()));
    std::vector<MSG> notes = window.TakeNotes();
    ASSERT_EQ(stop ? 1u : 2u, notes.size());
    EXPECT_EQ(WM_SETUP_EXTRACTED, notes.back().message);
    EXPECT_EQ(stop ? WorkerOutcome::Stopped : WorkerOutcome::Failed, shell().worker.outcome.load());
    if (!stop) {
      EXPECT_EQ(WM_SETUP_FAILED, notes[0].message);
      std::unique_ptr<wchar_t[]> text(reinterpret_cast<wchar_t*>(notes[0].lParam));
      ASSERT_TRUE(text);
      EXPECT_EQ(text.get(), shell().worker.pendingFailureText.load()) << "the note to trust";
      EXPECT_NE(std::wstring::npos, std::wstring(text.get()).find(L"Archive is missing."));
    } else {
      EXPECT_FALSE(shell().worker.pendingFailureText.load());
    }
  }
}

// Its window gone, the worker's failure note cannot be posted: the worker
// takes its text back itself (nobody else can free it) and ends as failed.
TEST_F(SetupWorker, AFailureNoteThatCannotBePostedIsTakenBack) {
  HWND gone = nullptr;
  {
    MessageWindow window;
    gone = window.get();
  }
  ASSERT_FALSE(IsWindow(gone));
  shell().instance = GetModuleHandleW(nullptr);
  EXPECT_EQ(0u, ExtractionWorker(gone));
  EXPECT_EQ(WorkerOutcome::Failed, shell().worker.outcome.load());
  EXPECT_FALSE(shell().worker.pendingFailureText.load());
}
