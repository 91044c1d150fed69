// The shell's pieces that run without the whole program: the long form of
// the temporary folder, the progress callback and the clean-up.
#include "qor/setup/shell.h"

#include "qor/error.h"
#include "qor/fs.h"
#include "qor/win32_error.h"

#include "qor/test_errors.h"
#include "qor/test_folders.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using QorTest::Catch;

void Touch(const std::wstring& path, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
  HANDLE h =
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h) << GetLastError();
  DWORD written;
  WriteFile(h, "data", 4, &written, nullptr);
  CloseHandle(h);
}

std::wstring TempFolder() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  return QorFs::ToLongPath(temp) + L"\\";
}

// A private folder (ending in a backslash) removed with everything in it.
class ScratchFolder {
public:
  explicit ScratchFolder(const std::wstring& name)
      : path_(TempFolder() + name + std::to_wstring(GetCurrentProcessId()) + L"\\") {
    Remove(path_);
    CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~ScratchFolder() { Remove(path_); }
  const std::wstring& path() const { return path_; }

  static void Remove(const std::wstring& folder) { QorTest::RemoveTree(folder); }

private:
  std::wstring path_;
};

} // namespace

TEST(SetupLongPath, ShortFormTemporaryFolderBecomesLong) {
  ScratchFolder scratch(L"setup_long_");
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
  ScratchFolder scratch(L"setup_long_missing_");
  auto e = Catch([&] { ToLongPath(scratch.path() + L"not here\\deeper\\"); });
  ASSERT_TRUE(e);
  EXPECT_EQ(21105, e->GetCode());
  auto* win32 = dynamic_cast<QorWin32::Win32Error*>(e.get());
  ASSERT_TRUE(win32);
  EXPECT_NE(0u, win32->GetSystemCode());
  EXPECT_NE(std::wstring::npos,
            e->GetMessageText().find(L"Unable to convert short path name to long"));
}

TEST(SetupProgress, FractionIsClampedAndEveryCallPosts) {
  HWND window =
      CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_TRUE(window);
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
    QorSetup::Shell().progress = -1;
    ProgressContext context = {c.total, window};
    EXPECT_NE(0, ProgressCallback(c.processed, &context));
    double stored = QorSetup::Shell().progress;
    EXPECT_FALSE(std::isnan(stored));
    EXPECT_DOUBLE_EQ(c.expected, stored);
    MSG message;
    EXPECT_TRUE(PeekMessageW(&message, window, WM_SETUP_PROGRESS, WM_SETUP_PROGRESS, PM_REMOVE));
    EXPECT_FALSE(PeekMessageW(&message, window, WM_SETUP_PROGRESS, WM_SETUP_PROGRESS, PM_REMOVE));
  }
  DestroyWindow(window);

  // A window that is gone: the fraction is still stored, the post fails.
  ProgressContext gone = {10, window};
  EXPECT_EQ(0, ProgressCallback(5, &gone));
  EXPECT_DOUBLE_EQ(0.5, QorSetup::Shell().progress);
}

TEST(SetupCleanUp, DeletesTheFilesThenTheFolderAndNothingElse) {
  ScratchFolder scratch(L"setup_cleanup_");
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
    ScratchFolder::Remove(target);
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
  QorSetup::Shell().targetFolder.clear();
  QorSetup::Shell().target = QorFs::PinnedFolder();
}

TEST(SetupTargetFolder, MadeFreshAndCleanedOnlyWhileItIsTheSameFolder) {
  ScratchFolder scratch(L"setup_target_");
  const std::wstring target = scratch.path() + L"deeper\\QorVTInst.tmp\\";
  // Left there earlier, or planted: none of it may reach the installer.
  QorFs::CreateDirectories(target + L"sub\\");
  Touch(target + L"version.dll");
  Touch(target + L"VTRInstaller.exe", FILE_ATTRIBUTE_READONLY);
  Touch(target + L"sub\\inner.txt");

  QorSetup::MakeTargetFolder(target);
  EXPECT_EQ(target, QorSetup::Shell().targetFolder);
  ASSERT_TRUE(QorSetup::Shell().target.valid());
  EXPECT_TRUE(QorFs::IsDirectory(target));
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((target + L"*").c_str(), &found);
  ASSERT_NE(INVALID_HANDLE_VALUE, search);
  int entries = 0;
  do {
    ++entries;
  } while (FindNextFileW(search, &found));
  FindClose(search);
  EXPECT_EQ(2, entries) << "only . and .. may be there";

  // Held open until the clean-up: no other program can swap it for a folder
  // of its own, or delete it.
  Touch(target + L"extracted.txt");
  EXPECT_FALSE(MoveFileW(target.substr(0, target.size() - 1).c_str(),
                         (scratch.path() + L"deeper\\moved").c_str()));
  EXPECT_FALSE(RemoveDirectoryW(target.c_str()));
  EXPECT_TRUE(QorSetup::Shell().target.StillInPlace());
  QorSetup::CleanUp();
  EXPECT_FALSE(QorFs::Exists(target));
  EXPECT_FALSE(QorSetup::Shell().target.valid());

  // A missing parent (the temporary folder itself) is made too.
  QorSetup::MakeTargetFolder(scratch.path() + L"new temp\\QorVTInst.tmp\\");
  EXPECT_TRUE(QorFs::IsDirectory(scratch.path() + L"new temp\\QorVTInst.tmp"));
  QorSetup::CleanUp();
  EXPECT_FALSE(QorFs::Exists(scratch.path() + L"new temp\\QorVTInst.tmp"));
  QorSetup::Shell().targetFolder.clear();
  QorSetup::Shell().target = QorFs::PinnedFolder();
}

TEST(SetupProgress, AStopRequestEndsTheExpansionThroughTheCallback) {
  HWND window =
      CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_TRUE(window);
  ProgressContext context = {100, window};
  QorSetup::Shell().stopRequested = 1;
  QorTest::ErrorPtr error = Catch([&] { ProgressCallback(50, &context); });
  QorSetup::Shell().stopRequested = 0;
  ASSERT_TRUE(error);
  EXPECT_EQ(QorSetup::kStopRequestedError, error->GetCode());
  MSG message;
  EXPECT_FALSE(PeekMessageW(&message, window, WM_SETUP_PROGRESS, WM_SETUP_PROGRESS, PM_REMOVE));
  DestroyWindow(window);
}

// A completion note forged while the worker's failure note is still queued
// must neither start the installer nor end the run before the box.
TEST(SetupProtocol, CompletionWaitsForTheWorkersFailureNote) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = SetupWndProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"VeltranoProtocolTest";
  RegisterClassW(&windowClass);
  HWND window = CreateWindowExW(0, L"VeltranoProtocolTest", L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                nullptr, windowClass.hInstance, nullptr);
  ASSERT_TRUE(window);
  QorSetup::SetupShell& shell = QorSetup::Shell();
  std::unique_ptr<wchar_t[]> text(new wchar_t[1]());
  shell.pendingFailureText = reinterpret_cast<LONG_PTR>(text.get());
  shell.workerOutcome = QorSetup::kWorkerFailed;
  shell.workerFinished = 1;
  SendMessageW(window, WM_SETUP_EXTRACTED, 0, 0);
  EXPECT_FALSE(shell.extractedHandled);
  EXPECT_TRUE(shell.extractedWhileBoxOpen);
  EXPECT_FALSE(shell.installer.hProcess);
  // A failure note without text is never the worker's.
  SendMessageW(window, WM_SETUP_FAILED, 0, 0);
  EXPECT_FALSE(shell.failed);
  MSG message;
  EXPECT_FALSE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  shell.pendingFailureText = 0;
  shell.workerOutcome = QorSetup::kWorkerRunning;
  shell.workerFinished = 0;
  shell.extractedWhileBoxOpen = false;
  DestroyWindow(window);
  PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE); // posted by WM_DESTROY
}

// The last check before the start: a target folder that is not the one made
// (and held) for this run starts nothing, whatever lies in it.
TEST(SetupInstaller, NothingStartsFromAFolderThatIsNotTheOneMade) {
  ScratchFolder scratch(L"setup_not_ours_");
  ASSERT_TRUE(CopyFileW(L"C:\\windows\\system32\\cmd.exe",
                        (scratch.path() + L"VTRInstaller.exe").c_str(), FALSE));
  QorSetup::Shell().target = QorFs::PinnedFolder();
  QorSetup::Shell().targetFolder = scratch.path();
  QorTest::ErrorPtr error = Catch([] { QorSetup::StartInstaller(nullptr); });
  ASSERT_TRUE(error);
  EXPECT_EQ(QorSetup::kFolderChangedError, error->GetCode());
  EXPECT_FALSE(QorSetup::Shell().installer.hProcess);
  QorSetup::Shell().targetFolder.clear();
}

TEST(SetupCleanUp, WithoutATargetFolderTheCurrentDirectoryIsLeftAlone) {
  ScratchFolder scratch(L"setup_cleanup_cwd_");
  Touch(scratch.path() + L"precious.txt");
  wchar_t previous[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(scratch.path().c_str()));
  QorSetup::Shell().targetFolder.clear();
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
// then its end, in that order.
TEST(SetupWorker, FailureNoteThenCompletionNote) {
  HWND window =
      CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_TRUE(window);
  QorSetup::Shell().instance = GetModuleHandleW(nullptr);
  EXPECT_EQ(0u, ExtractionWorker(window));
  std::vector<MSG> notes;
  MSG message;
  while (PeekMessageW(&message, window, WM_SETUP_START, WM_SETUP_FAILED, PM_REMOVE)) {
    notes.push_back(message);
  }
  ASSERT_EQ(2u, notes.size());
  EXPECT_EQ(WM_SETUP_FAILED, notes[0].message);
  std::unique_ptr<wchar_t[]> text(reinterpret_cast<wchar_t*>(notes[0].lParam));
  ASSERT_TRUE(text);
  EXPECT_NE(std::wstring::npos, std::wstring(text.get()).find(L"Archive is missing."));
  EXPECT_EQ(WM_SETUP_EXTRACTED, notes[1].message);
  DestroyWindow(window);
}
