// The progress window at the DPI of its screen: its size, font and bar
// follow the screen, from the 96-DPI design (qor/setup/layout.h).
#pragma once

#include <windows.h>

namespace QorSetup {

// WM_DPICHANGED, sent from Windows 8.1 on to windows of processes aware of
// each monitor's DPI; the headers name it only for newer systems.
constexpr UINT kDpiChangedMessage = 0x02E0;

// The DPI the window is shown at: the window's own where the system keeps
// one per window (Windows 10 1607 and later, looked up at run time), else
// the screen's logical pixels (the system DPI from Vista on, the display
// setting on 2000 and XP).
int WindowDpi(HWND window);

// Lays the new, still hidden window out for its DPI: its size, centred on
// the screen, and the shell's font.
void FitToDpi(HWND window);

// WM_DPICHANGED: the window takes the rectangle that the system suggests
// and its font and layout follow the new DPI. A note from another program
// may carry any address in lParam: one that cannot be read, or that holds
// no rectangle, keeps the window's centre and takes the layout's size.
void FollowDpiChange(HWND window, WPARAM wParam, LPARAM lParam);

} // namespace QorSetup
