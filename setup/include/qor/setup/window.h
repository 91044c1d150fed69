// The setup's entry and its progress window, which drives the run through
// the private messages.
#pragma once

#include <windows.h>

namespace QorSetup {

// The window's outer size at 96 DPI; the layout scales it.
constexpr int kWindowWidth = 300;
constexpr int kWindowHeight = 100;
constexpr WORD kCloseCommandId = 105;

extern const wchar_t kErrorCaption[]; // "Qor Veltrano Setup"

// Everything wWinMain does; returns the exit code (see exit_codes.h).
int RunSetup(HINSTANCE instance, int showCommand);
// Creates the progress window, or returns null when another copy runs (its
// window is brought to the front) or creation fails.
HWND CreateSetupWindow(HINSTANCE instance, int showCommand);
// The text font for a screen of dpi.
HFONT CreateTextFont(int dpi = 96);
// A message box, in a run that shows boxes; always a line of the log.
void ShowMessage(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);
// Shows text in the error box, removes what was extracted and ends the loop
// with exitCode (unless the run's code is set already).
void EndWithError(HWND window, const wchar_t* text, int exitCode);

} // namespace QorSetup

LRESULT CALLBACK SetupWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
