#include "qor/setup/window.h"

#include "qor/setup/command_line.h"
#include "qor/setup/dpi.h"
#include "qor/setup/environment.h"
#include "qor/setup/exit_codes.h"
#include "qor/setup/launch.h"
#include "qor/setup/layout.h"
#include "qor/setup/messages.h"
#include "qor/setup/painting.h"
#include "qor/setup/run_log.h"
#include "qor/setup/state.h"
#include "qor/setup/worker.h"

#include "qor/env/env.h"
#include "qor/error/error.h"
#include "qor/error/system_library.h"
#include "qor/error/win32_error.h"
#include "qor/handle/unique_handle.h"

#include "resource.h"

#include <exception>
#include <memory>
#include <string>

namespace QorSetup {

const wchar_t kErrorCaption[] = L"Qor Veltrano Setup";

void ShowMessage(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
  LogLine(L"%s: %s", (type & MB_ICONERROR) ? L"Error" : L"Message", text);
  if (Shell().mode == RunMode::Normal) {
    ::MessageBoxW(owner, text, caption, type);
  }
}

void EndWithError(HWND window, const wchar_t* text, int exitCode) {
  Shell().run.End();
  Shell().SetExitCode(exitCode);
  ShowMessage(window, text, kErrorCaption, MB_OK | MB_ICONERROR);
  CleanUp();
  ::PostQuitMessage(0);
}

namespace {

// Runs a handler step whose errors the program reports and then ends on.
template <class F> void RunOrEnd(HWND window, F step) {
  try {
    step();
  } catch (...) {
    int exitCode = kExitSetupFailed;
    std::wstring text = DescribeCurrentException(&exitCode);
    EndWithError(window, text.c_str(), exitCode);
  }
}

void OnStart(HWND window) {
  if (Shell().run.Start()) {
    RunOrEnd(window, [&] { PrepareAndStartWorker(window); });
  }
}

void OnFailed(HWND window, LPARAM lParam) {
  SetupShell& shell = Shell();
  // Only the text the worker handed over is shown and freed; a note forged
  // by another program (any other address, null, or a second note) is
  // ignored.
  wchar_t* expected = reinterpret_cast<wchar_t*>(lParam);
  if (!expected || !shell.worker.pendingFailureText.compare_exchange_strong(expected, nullptr)) {
    return;
  }
  std::unique_ptr<wchar_t[]> text(expected);
  shell.run.FailureBoxOpened();
  shell.SetExitCode(shell.worker.failureExitCode.load());
  ShowMessage(window, text.get(), kErrorCaption, MB_OK | MB_ICONERROR);
  text.reset();
  if (shell.run.FailureBoxClosed()) {
    ::PostMessageW(window, WM_SETUP_EXTRACTED, 0, 0);
  }
}

void OnExtracted(HWND window) {
  SetupShell& shell = Shell();
  const WorkerOutcome outcome = shell.worker.outcome.load();
  const bool failureNoteQueued = shell.worker.pendingFailureText.load() != nullptr;
  switch (shell.run.OnCompletion(outcome, failureNoteQueued)) {
  case Completion::Ignore:
  case Completion::HoldBack:
    return;
  case Completion::ReportAndQuit:
    EndWithError(window, L"Unable to extract the files.", kExitSetupFailed);
    return;
  case Completion::CleanUpAndQuit:
    CleanUp();
    ::PostQuitMessage(0);
    return;
  case Completion::StartInstaller:
    if (!shell.extractFolder.empty()) {
      // /extract: the files stay where they are, and nothing is started.
      LogLine(L"The files are in %s", shell.extractFolder.c_str());
      shell.SetExitCode(kExitSuccess);
      ::PostQuitMessage(0);
      return;
    }
    RunOrEnd(window, [&] { StartInstaller(window); });
    return;
  }
}

// Closing the window (command 105 or WM_CLOSE) ends the message loop; what
// follows it stops the worker, or waits for the installer, and cleans up.
void OnClose(HWND window) {
  ::DestroyWindow(window);
}

void OnTimer(HWND window, WPARAM id) {
  if (id != kPollTimerId || !InstallerEnded()) {
    return;
  }
  ::KillTimer(window, kPollTimerId);
  CleanUp();
  ::PostQuitMessage(0);
}

void OnPaint(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = ::BeginPaint(window, &paint);
  if (dc) {
    PaintBackground(window, dc);
    PaintBar(window, dc);
  }
  ::EndPaint(window, &paint);
}

} // namespace

HFONT CreateTextFont(int dpi) {
  return ::CreateFontW(LayoutForDpi(dpi).fontHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                       ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       FF_SWISS, L"Verdana");
}

HWND CreateSetupWindow(HINSTANCE instance, int showCommand) {
  SetupShell& shell = Shell();
  shell.instance = instance;
  if (HWND other = ::FindWindowW(shell.className, nullptr)) {
    if (shell.mode != RunMode::Quiet) {
      ::SetForegroundWindow(other);
    }
    shell.SetExitCode(kExitAlreadyRunning);
    LogLine(L"Another setup of this product is running: this one ends");
    return nullptr;
  }
  const int x = (::GetSystemMetrics(SM_CXSCREEN) - kWindowWidth) / 2;
  const int y = (::GetSystemMetrics(SM_CYSCREEN) - kWindowHeight) / 2;
  HWND window =
      ::CreateWindowExW(WS_EX_TOOLWINDOW, shell.className, shell.title, WS_OVERLAPPED, x, y,
                        kWindowWidth, kWindowHeight, nullptr, nullptr, instance, nullptr);
  if (!window) {
    return nullptr;
  }
  // Made at the design's size; sized for the DPI of the screen it is on,
  // known once it exists, before it is shown (which also makes its font).
  FitToDpi(window);
  // A quiet run keeps its window hidden for good: it only carries the
  // run's messages (and tells a second copy that this one runs).
  if (shell.mode != RunMode::Quiet) {
    ::ShowWindow(window, showCommand);
    ::UpdateWindow(window);
  }
  ::PostMessageW(window, WM_SETUP_START, 0, 0);
  return window;
}

namespace {

// The log of this run: the file /log names, or in a quiet or passive run a
// new file in the user's temporary folder. False when /log cannot be
// written.
bool OpenRunLog() {
  const SetupShell& shell = Shell();
  if (!shell.options.logFile.empty()) {
    return Log().OpenFile(shell.options.logFile);
  }
  if (shell.mode != RunMode::Normal) {
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    if (length > 0 && length <= MAX_PATH) {
      Log().OpenDefault(std::wstring(temp, length));
    }
  }
  return true;
}

// The version Windows really is: GetVersionExW tells a program without a
// compatibility manifest (as this one) that Windows 8.1 and later are 8.0,
// and a log must name the system that ran it. ntdll's RtlGetVersion tells
// the truth; Windows 2000 lacks it.
OSVERSIONINFOEXW RealWindowsVersion() {
  OSVERSIONINFOEXW version = {};
  version.dwOSVersionInfoSize = sizeof version;
  typedef LONG(WINAPI * RtlGetVersionFn)(OSVERSIONINFOW*);
  const RtlGetVersionFn rtlGetVersion =
      QorWin32::GetSystemFunction<RtlGetVersionFn>(L"ntdll.dll", "RtlGetVersion");
  if (!rtlGetVersion || rtlGetVersion(reinterpret_cast<OSVERSIONINFOW*>(&version)) != 0) {
    ::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version));
  }
  return version;
}

void LogStart() {
  const SetupShell& shell = Shell();
  const OSVERSIONINFOEXW version = RealWindowsVersion();
  LogLine(L"Veltrano setup %s (%d-bit), Windows %lu.%lu.%lu %s", L"" VELTRANO_VERSION,
          static_cast<int>(sizeof(void*) * 8), version.dwMajorVersion, version.dwMinorVersion,
          version.dwBuildNumber, version.szCSDVersion);
  LogLine(L"Command line: %s", ::GetCommandLineW());
  LogLine(L"Mode: %s%s",
          shell.mode == RunMode::Quiet     ? L"quiet"
          : shell.mode == RunMode::Passive ? L"passive"
                                           : L"normal",
          shell.mode != shell.options.mode ? L" (the desktop cannot be seen)" : L"");
}

// Ends the run with code: logged, and the log closed.
int Finish(int code) {
  LogLine(L"Exit code: %d", code);
  Log().Close();
  return code;
}

// Waits for the installer while handling what comes to this thread's
// queue: an installer that sends to every window, or uses DDE, is answered
// and never waits for us.
void WaitForInstallerPumping() {
  SetupShell& shell = Shell();
  while (shell.installer.process) {
    HANDLE process = shell.installer.process.get();
    const DWORD woke = ::MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_ALLINPUT);
    if (woke != WAIT_OBJECT_0 + 1) {
      break; // ended, or the wait failed: it cannot be waited for any longer
    }
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message != WM_QUIT) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
      }
    }
  }
  WaitForInstaller();
}

} // namespace

int RunSetup(HINSTANCE instance, int showCommand) {
  SetupShell& shell = Shell();
  shell.options = ParseCommandLine(::GetCommandLineW());
  shell.mode = EffectiveMode(shell.options.mode, ReadDesktop());
  if (!OpenRunLog()) {
    const std::wstring text = L"Unable to write the log file " + shell.options.logFile + L": " +
                              QorWin32::DescribeLastError();
    ShowMessage(nullptr, text.c_str(), kErrorCaption, MB_OK | MB_ICONERROR);
    return kExitLogFailed;
  }
  LogStart();
  if (!shell.options.fault.empty()) {
    const std::wstring text =
        L"The command line is not valid: " + shell.options.fault + L"\n\n" + kUsageText;
    ShowMessage(nullptr, text.c_str(), kErrorCaption, MB_OK | MB_ICONERROR);
    return Finish(kExitBadCommandLine);
  }
  if (shell.options.help) {
    ShowMessage(nullptr, kUsageText, kErrorCaption, MB_OK | MB_ICONINFORMATION);
    return Finish(kExitSuccess);
  }
  try {
    InitializeEnvironment();
    LogLine(L"Elevated: %s", QorEnv::IsUserAdmin() ? L"yes" : L"no");
  } catch (...) {
    // No window yet: the box stands alone, and nothing was extracted.
    int exitCode = kExitSetupFailed;
    std::wstring text = DescribeCurrentException(&exitCode);
    ShowMessage(nullptr, text.c_str(), kErrorCaption, MB_OK | MB_ICONERROR);
    return Finish(exitCode);
  }

  ::LoadStringW(instance, IDS_SETUP_TITLE, shell.title, 100);
  ::LoadStringW(instance, IDS_SETUP_CLASS, shell.className, 100);
  const wchar_t* unattended = nullptr;
  const int unattendedLength =
      ::LoadStringW(instance, IDS_UNATTENDED_ARGUMENTS, reinterpret_cast<LPWSTR>(&unattended), 0);
  if (unattended && unattendedLength > 0) {
    shell.unattendedArguments.assign(unattended, static_cast<std::size_t>(unattendedLength));
  }

  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = SetupWndProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(IDI_SETUP));
  windowClass.hIconSm = ::LoadIconW(instance, MAKEINTRESOURCEW(IDI_SETUP));
  windowClass.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
  windowClass.lpszClassName = shell.className;
  ::RegisterClassExW(&windowClass);

  HWND window = CreateSetupWindow(instance, showCommand);
  if (!window) {
    shell.SetExitCode(kExitSetupFailed); // unless another copy runs
    return Finish(shell.exitCode);
  }
  MSG message;
  BOOL got;
  while ((got = ::GetMessageW(&message, nullptr, 0, 0)) != 0) {
    if (got == -1) {
      break;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  // Whatever ended the loop (the run's own end, a closed window, or a
  // WM_DESTROY or WM_QUIT from another program): the window goes first, so
  // nobody waits for it; no thread may outlive the state it uses; a running
  // installer keeps its files until it ends; then nothing extracted stays
  // behind.
  if (::IsWindow(window)) {
    ::DestroyWindow(window);
  }
  StopWorker();
  WaitForInstallerPumping();
  CleanUp();
  // Neither a failure nor the installer's end: stopped before it started.
  shell.SetExitCode(kExitStopped);
  return Finish(shell.exitCode);
}

} // namespace QorSetup

LRESULT CALLBACK SetupWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  using namespace QorSetup;
  // Nothing may leave the window procedure: an exception crossing the
  // system's dispatch code would end the process without any clean-up.
  try {
    switch (message) {
    case WM_PAINT:
      OnPaint(window);
      return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == kCloseCommandId) {
        OnClose(window);
        return 0;
      }
      break;
    case WM_CLOSE:
      OnClose(window);
      return 0;
    case WM_TIMER:
      OnTimer(window, wParam);
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    case WM_SETUP_START:
      OnStart(window);
      return 0;
    case WM_SETUP_EXTRACTED:
      OnExtracted(window);
      return 0;
    case WM_SETUP_PROGRESS: {
      Qor::WindowDc dc(window);
      if (dc.get()) {
        PaintBar(window, dc.get());
      }
      return 0;
    }
    case WM_SETUP_FAILED:
      OnFailed(window, lParam);
      return 0;
    case kDpiChangedMessage:
      FollowDpiChange(window, wParam, lParam);
      return 0;
    default:
      break;
    }
  } catch (QorError::Exception* e) {
    delete e;
    return 0;
  } catch (...) {
    return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}
