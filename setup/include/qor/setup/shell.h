// The setup shell: the progress window, its message protocol, the
// extraction worker, the installer launch and the clean-up.
#pragma once

#include "qor/private_folder.h"
#include "qor/unique_handle.h"

#include <windows.h>

#include <cstdint>
#include <string>

// Private messages between the window thread and the extraction worker.
constexpr UINT WM_SETUP_START = WM_USER + 54;     // posted by window creation
constexpr UINT WM_SETUP_EXTRACTED = WM_USER + 55; // worker, once, at its end
constexpr UINT WM_SETUP_PROGRESS = WM_USER + 56;  // progress callback
constexpr UINT WM_SETUP_FAILED = WM_USER + 57;    // lParam: new[]-allocated text, receiver frees

namespace QorSetup {

constexpr int kBarWidth = 275;
constexpr int kBarHeight = 20;
constexpr int kBarLeft = 10;
constexpr int kBarTop = 45;
constexpr int kWindowWidth = 300;
constexpr int kWindowHeight = 100;
constexpr UINT_PTR kPollTimerId = 33605;
constexpr UINT kPollPeriodMs = 1000;
constexpr WORD kCloseCommandId = 105;

extern const wchar_t kErrorCaption[];      // "Qor Veltrano Setup"
extern const wchar_t kInstallerFileName[]; // "VTRInstaller.exe"
extern const wchar_t kTargetFolderName[];  // "QorVTInst.tmp\"

// What the worker recorded about its run.
constexpr LONG kWorkerRunning = 0;
constexpr LONG kWorkerSucceeded = 1;
constexpr LONG kWorkerFailed = 2;  // with a failure note, or none when memory ran out
constexpr LONG kWorkerStopped = 3; // the window was closed; no note

// Setup-shell error codes beyond those of the worker and the installer start.
constexpr int kStopRequestedError = 21108; // extraction stopped: the window is closing
constexpr int kFolderChangedError = 21109; // the working folder is no longer the one made

// Process-wide shell state. Everything except progress belongs to the
// window thread; progress is written by the worker and read when painting.
struct SetupShell {
  HINSTANCE instance = nullptr;
  wchar_t title[100] = {};
  wchar_t className[100] = {};
  HFONT font = nullptr; // lives as long as the process
  volatile double progress = 0.0;
  bool failed = false;
  // The failure box runs its own message loop, which would hand us the
  // worker's completion note while the box is still up: it waits here.
  bool failureBoxOpen = false;
  bool extractedWhileBoxOpen = false;
  // Any program of the user can post to our window. The private notes are
  // trusted only as the worker's own: the failure text it handed over (its
  // address; never null), and the completion note only after the worker has
  // really finished, once, and then as its recorded outcome says.
  volatile LONG_PTR pendingFailureText = 0;
  volatile LONG workerOutcome = kWorkerRunning; // written before workerFinished
  volatile LONG workerFinished = 0;
  volatile LONG stopRequested = 0; // set by the window thread when closing
  Qor::UniqueHandle worker;        // the worker thread, waited for on closing
  bool extractedHandled = false;
  bool started = false;
  std::wstring targetFolder; // ends in a backslash once prepared
  // The folder made for this run, held open until its clean-up so that no
  // other program can swap it; the clean-up deletes only inside it.
  QorFs::PinnedFolder target;
  PROCESS_INFORMATION installer = {};
};

SetupShell& Shell();

// ---- entry and window (window.cpp) ----
// Everything wWinMain does; returns the exit code (0 on every path).
int RunSetup(HINSTANCE instance, int showCommand);
// Creates the progress window, or returns null when another copy runs (its
// window is brought to the front) or creation fails.
HWND CreateSetupWindow(HINSTANCE instance, int showCommand);
HFONT CreateTextFont();
// Shows text in the error box, removes what was extracted and ends the loop.
void EndWithError(HWND window, const wchar_t* text);

// ---- painting (painting.cpp) ----
// Gradient and the two lines of text over the rectangle.
void PaintBackground(HDC dc, const RECT& client, HFONT font);
// The bar for fraction (0..1) with its top left corner at (left, top);
// the pieces are the bitmap resources of module.
void PaintBar(HDC dc, HINSTANCE module, double fraction, HFONT font, int left, int top);
void PaintBackground(HWND window, HDC dc);
void PaintBar(HWND window, HDC dc);

// ---- extraction (worker.cpp) ----
// Makes the target folder and starts the worker; raises library errors.
void PrepareAndStartWorker(HWND window);
// Makes a new working folder at folder (ending in a backslash), with its
// parents, pins it and records it as the target folder. Whatever had that
// name before is moved aside first; when it cannot be, a uniquely named
// folder beside it is used. When running as an administrator only
// administrators and the system may write into it. Raises 422 when no
// folder can be made.
void MakeTargetFolder(const std::wstring& folder);
// The temporary folder the setup works in: the user's, or for an elevated
// run whose user folder lies on a volume without access lists, the system's.
std::wstring ChooseTemporaryFolder(const std::wstring& userTemp);
// Asks a running worker to stop and waits until it has ended.
void StopWorker();
// Raises kStopRequestedError once the window thread has asked the worker to stop.
void ThrowIfStopRequested();
// The text of whatever was caught, for the error box; never throws.
std::wstring DescribeCurrentException();

// ---- installer (launch.cpp) ----
// Raises QorWin32::Win32Error 21107 when the installer cannot be started,
// and kFolderChangedError (starting nothing) when the target folder is no
// longer the one made for this run.
void StartInstaller(HWND window);
// Deletes the files directly in the target folder, then the folder, as long
// as it is still the folder made for this run, and lets go of it; silent.
void CleanUp();

// The start-up environment initialisation; raises library errors.
void InitializeEnvironment();

} // namespace QorSetup

struct ProgressContext {
  std::uint32_t total; // compressed payload size in bytes
  HWND window;         // receives WM_SETUP_PROGRESS
};

// Stores processed / total (at most 1.0) as the progress fraction and posts
// WM_SETUP_PROGRESS; nonzero when the note was posted.
int ProgressCallback(std::uint32_t processed, void* context);

LRESULT CALLBACK SetupWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
DWORD WINAPI ExtractionWorker(LPVOID window);
// The long form of a path (no trailing backslash); raises
// QorWin32::Win32Error 21105.
std::wstring ToLongPath(const std::wstring& path);
