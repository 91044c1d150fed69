#include "qor/setup/window.h"

#include "qor/setup/dpi.h"
#include "qor/setup/environment.h"
#include "qor/setup/launch.h"
#include "qor/setup/layout.h"
#include "qor/setup/messages.h"
#include "qor/setup/painting.h"
#include "qor/setup/state.h"
#include "qor/setup/worker.h"

#include "qor/error/error.h"
#include "qor/handle/unique_handle.h"

#include "resource.h"

#include <exception>
#include <memory>
#include <string>

namespace QorSetup {

const wchar_t kErrorCaption[] = L"Qor Veltrano Setup";

void EndWithError(HWND window, const wchar_t* text) {
  Shell().run.End();
  ::MessageBoxW(window, text, kErrorCaption, MB_OK | MB_ICONERROR);
  CleanUp();
  ::PostQuitMessage(0);
}

namespace {

// Runs a handler step whose errors the program reports and then ends on.
template <class F> void RunOrEnd(HWND window, F step) {
  try {
    step();
  } catch (...) {
    std::wstring text = DescribeCurrentException();
    EndWithError(window, text.c_str());
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
  ::MessageBoxW(window, text.get(), kErrorCaption, MB_OK | MB_ICONERROR);
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
    EndWithError(window, L"Unable to extract the files.");
    return;
  case Completion::CleanUpAndQuit:
    CleanUp();
    ::PostQuitMessage(0);
    return;
  case Completion::StartInstaller:
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
    ::SetForegroundWindow(other);
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
  // known once it exists, before it is shown.
  FitToDpi(window);
  ::ShowWindow(window, showCommand);
  ::UpdateWindow(window);
  ::PostMessageW(window, WM_SETUP_START, 0, 0);
  return window;
}

int RunSetup(HINSTANCE instance, int showCommand) {
  try {
    InitializeEnvironment();
  } catch (...) {
    // No window yet: the box stands alone, and nothing was extracted.
    std::wstring text = DescribeCurrentException();
    ::MessageBoxW(nullptr, text.c_str(), kErrorCaption, MB_OK | MB_ICONERROR);
    return 0;
  }

  SetupShell& shell = Shell();
  ::LoadStringW(instance, IDS_SETUP_TITLE, shell.title, 100);
  ::LoadStringW(instance, IDS_SETUP_CLASS, shell.className, 100);

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

  if (!CreateSetupWindow(instance, showCommand)) {
    return 0;
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
  // WM_DESTROY or WM_QUIT from another program): no thread may outlive the
  // state it uses, a running installer keeps its files until it ends, and
  // then nothing extracted stays behind.
  StopWorker();
  WaitForInstaller();
  CleanUp();
  return 0;
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
