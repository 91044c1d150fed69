// The private messages between the window thread and the extraction worker.
#pragma once

#include <windows.h>

constexpr UINT WM_SETUP_START = WM_USER + 54;     // posted by window creation
constexpr UINT WM_SETUP_EXTRACTED = WM_USER + 55; // worker, once, at its end
constexpr UINT WM_SETUP_PROGRESS = WM_USER + 56;  // progress callback
constexpr UINT WM_SETUP_FAILED = WM_USER + 57;    // lParam: new[]-allocated text, receiver frees
