// The setup shell: the progress window, its message protocol, the
// extraction worker, the installer launch and the clean-up.
#pragma once

#include "qor/private_folder.h"

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
  // address, or kNoFailureText when it had no memory for one), and the
  // completion note only after the worker has really finished, once.
  volatile LONG_PTR pendingFailureText = 0;
  volatile LONG workerFinished = 0;
  bool extractedHandled = false;
  bool started = false;
  std::wstring targetFolder; // ends in a backslash once prepared
  // The folder object made for this run: the clean-up deletes only inside
  // that very folder, never through a link put in its place.
  QorFs::FolderIdentity targetIdentity;
  PROCESS_INFORMATION installer = {};
};

SetupShell& Shell();

// Stands for "a failure note without text" in pendingFailureText.
constexpr LONG_PTR kNoFailureText = 1;

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
// Makes folder (ending in a backslash) anew and empty, with its parents,
// and records it as the target folder. Whatever was there before (planted
// files, a link) is removed first; when running as an administrator only
// administrators and the system may write into it. Raises 422.
void MakeTargetFolder(const std::wstring& folder);
// The text of whatever was caught, for the error box; never throws.
std::wstring DescribeCurrentException();

// ---- installer (launch.cpp) ----
// Raises QorWin32::Win32Error 21107 when the installer cannot be started.
void StartInstaller(HWND window);
// Deletes the files directly in the target folder, then the folder, as long
// as it is still the folder made for this run; silent.
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
